// The process on Windows: its own command line, folder and environment.
#include "platform/Process.h"

#include <cstdio>
#include <vector>

#include "platform/FaultInjection.h"
#include "platform/win32/Win32Support.h"

namespace qv::platform {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
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
  std::vector<char> buffer(MAX_PATH);
  for (;;) {
    const DWORD size = static_cast<DWORD>(buffer.size());
    const DWORD length = ::GetModuleFileNameA(nullptr, buffer.data(), size);
    if (length == 0) return {};
    // A path that fills the buffer has been cut: try again with more room.
    if (length < size) {
      std::string path(buffer.data(), length);
      const size_t separator = path.find_last_of("\\/");
      return separator == std::string::npos ? std::string() : path.substr(0, separator);
    }
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
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

}  // namespace qv::platform
