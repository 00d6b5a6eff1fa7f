// The process on Windows: its own command line, folder and environment, and
// a copy of itself started with an administrator's rights.
#include "platform/Process.h"

#include <objbase.h>
#include <shellapi.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "common/Error.h"
#include "platform/FaultInjection.h"
#include "platform/win32/Win32Support.h"

namespace qv::platform {

namespace {

using win32::SystemMessage;

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

// A process handle (null when there is none).
struct ProcessHandleTraits {
  using Handle = HANDLE;
  static Handle Empty() noexcept { return nullptr; }
  static void Close(Handle handle) noexcept { ::CloseHandle(handle); }
};
using ProcessHandle = win32::Unique<ProcessHandleTraits>;

// The full path of the running program; empty when the system gives none.
std::string ExecutablePath() {
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), size);
    if (length == 0) return {};
    // A path that fills the buffer has been cut: try again with more room.
    if (length < size) return std::string(buffer.data(), length);
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

ElevatedRun Failed(std::string failure) {
  return {ElevatedRun::Outcome::kFailed, -1, std::move(failure)};
}

}  // namespace

void InitProcess(int, char**) {
  // Windows keeps the command line as one text; GetCommandLineA gives it
  // exactly as the caller wrote it, quotes included.
  fault::ArmFromEnvironment();
}

std::string CommandLineArguments() {
  const char* line = ::GetCommandLineA();
  if (line == nullptr) return {};
  // The program's name comes first: in double quotes up to the closing
  // quote (it may hold blanks), otherwise up to the first blank. The blanks
  // that separate it from the arguments are not part of them.
  const char* p = line;
  if (*p == '"') {
    ++p;
    while (*p != '\0' && *p != '"') ++p;
    if (*p == '"') ++p;
  } else {
    while (*p != '\0' && !IsBlank(*p)) ++p;
  }
  while (IsBlank(*p)) ++p;
  return p;
}

void ExitProcess(int status) {
  // No destructor runs, as with the system call itself; stdio buffers are
  // written out first so that nothing already printed is lost.
  std::fflush(nullptr);
  ::ExitProcess(static_cast<UINT>(status));
}

std::string ExecutableFolder() {
  const std::string path = ExecutablePath();
  const size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

std::string GetEnvironment(const std::string& name) {
  std::vector<char> buffer(256);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = ::GetEnvironmentVariableA(name.c_str(), buffer.data(), size);
    if (length == 0) return {};  // not set, or set to the empty text
    if (length < size) return std::string(buffer.data(), length);
    buffer.resize(length + 1);  // too small: `length` is the room needed
  }
}

void UnsetEnvironment(const std::string& name) {
  // The process's own block, which CreateProcess and ShellExecuteEx hand on.
  ::SetEnvironmentVariableA(name.c_str(), nullptr);
}

bool CanElevate() {
  // Also where the process has all rights already (UAC switched off, or
  // started as administrator): there the copy starts without a prompt, meets
  // the same refusal, and says so; nothing is lost but a moment.
  return true;
}

ElevatedRun RunElevated(const std::string& arguments) {
  const std::string program = ExecutablePath();
  if (program.empty()) return Failed(SystemMessage(::GetLastError()));
  if (const auto number = fault::Take(fault::Operation::kElevate, program)) {
    if (*number == err::kPermissionDenied) return {ElevatedRun::Outcome::kDeclined, -1, {}};
    return Failed("injected fault " + std::to_string(*number));
  }
  // The shell may hand a verb to extensions that it reaches through COM.
  const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  SHELLEXECUTEINFOA run{};
  run.cbSize = sizeof run;
  // NOCLOSEPROCESS: a handle to wait on and to read the status from;
  // NOASYNC: the call has ended its work when it returns, as this thread
  // pumps no messages; FLAG_NO_UI: a failure comes back here, to be told in
  // the run's own words, instead of in a box of the shell's. The consent
  // prompt is not an error box and still appears.
  run.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;
  // "runas" asks for the administrator's token even though the program's
  // manifest asks for none (asInvoker).
  run.lpVerb = "runas";
  run.lpFile = program.c_str();
  run.lpParameters = arguments.c_str();
  run.nShow = SW_SHOWNORMAL;
  const BOOL started = ::ShellExecuteExA(&run);
  const DWORD code = started ? ERROR_SUCCESS : ::GetLastError();
  if (SUCCEEDED(com)) ::CoUninitialize();
  ProcessHandle process(started ? run.hProcess : nullptr);
  if (!started) {
    if (code == ERROR_CANCELLED) return {ElevatedRun::Outcome::kDeclined, -1, {}};
    return Failed(SystemMessage(code));
  }
  if (!process.Valid()) return Failed("the system gave no handle of the program it started");
  DWORD status = 0;
  if (::WaitForSingleObject(process.Get(), INFINITE) != WAIT_OBJECT_0 ||
      !::GetExitCodeProcess(process.Get(), &status)) {
    return Failed("it could not be waited for: " + SystemMessage(::GetLastError()));
  }
  return {ElevatedRun::Outcome::kEnded, static_cast<int>(status), {}};
}

}  // namespace qv::platform
