#include "platform/Process.h"

#include <limits.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/FaultInjection.h"

namespace qv::platform {

namespace {

std::vector<std::string>& Arguments() {
  static std::vector<std::string> arguments;
  return arguments;
}

}  // namespace

void InitProcess(int argc, char** argv) {
  auto& arguments = Arguments();
  arguments.clear();
  for (int i = 1; i < argc && argv != nullptr; ++i) {
    if (argv[i] != nullptr) arguments.emplace_back(argv[i]);
  }
  fault::ArmFromEnvironment();
}

std::string CommandLineArguments() {
  const auto& arguments = Arguments();
  std::string line;
  for (size_t i = 0; i < arguments.size(); ++i) {
    if (i > 0) line += ' ';
    line += arguments[i];
  }
  return line;
}

void ExitProcess(int status) {
  // The process ends here without running destructors or atexit handlers,
  // as the Windows call does; only what stdio still buffers is written out.
  std::fflush(nullptr);
  ::_exit(status);
}

std::string ExecutableFolder() {
  std::vector<char> buffer(PATH_MAX + 1);
  for (;;) {
    const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return {};
    if (static_cast<size_t>(length) < buffer.size()) {
      std::string path(buffer.data(), static_cast<size_t>(length));
      const size_t slash = path.rfind('/');
      if (slash == std::string::npos) return {};
      return slash == 0 ? std::string("/") : path.substr(0, slash);
    }
    buffer.resize(buffer.size() * 2);  // truncated: try again with more room
  }
}

std::string GetEnvironment(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value != nullptr ? std::string(value) : std::string();
}

void UnsetEnvironment(const std::string& name) {
  ::unsetenv(name.c_str());
}

bool CanElevate() {
  // A desktop program here has no prompt that would lend it an
  // administrator's rights for one step (sudo needs a terminal, pkexec a
  // policy of its own); a file the user may not change is reported as such.
  return false;
}

ElevatedRun RunElevated(const std::string&) {
  return {ElevatedRun::Outcome::kFailed, -1,
          "this system cannot start a program with an administrator's rights"};
}

}  // namespace qv::platform
