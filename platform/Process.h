// The process: its command line, its own folder, its environment, its end,
// and a copy of itself started with an administrator's rights.
#pragma once

#include <string>

namespace qv::platform {

// Hands the arguments of main() to the layer. Windows reads its own command
// line and ignores them; POSIX keeps them for CommandLineArguments().
void InitProcess(int argc, char** argv);

// The argument text of the command line: everything after the program's own
// name. On POSIX the arguments joined by single spaces.
std::string CommandLineArguments();

// Ends the process at once with the given status; no destructor runs.
[[noreturn]] void ExitProcess(int status);

// The folder of the running executable, without a trailing separator.
std::string ExecutableFolder();

// An environment variable, or the empty text when it is not set.
std::string GetEnvironment(const std::string& name);

// Removes an environment variable from this process and from what the
// programs it starts inherit.
void UnsetEnvironment(const std::string& name);

// Whether this system can start a program with an administrator's rights
// when the user agrees (Windows: the consent prompt of "Run as
// administrator"). POSIX has no such thing for a desktop program.
bool CanElevate();

// What came of starting this program again with an administrator's rights.
struct ElevatedRun {
  enum class Outcome {
    kEnded,     // it ran and ended; exitStatus is its status
    kDeclined,  // the user declined the prompt: nothing was started
    kFailed,    // the system could not start it (or wait for it); failure says why
  };
  Outcome outcome = Outcome::kFailed;
  int exitStatus = -1;
  std::string failure;
};

// Starts this very program again with an administrator's rights and
// `arguments` as its argument text, and waits until it has ended. Windows
// asks the user first; the copy gets no window of this process and shares
// nothing with it but what the arguments name.
ElevatedRun RunElevated(const std::string& arguments);

}  // namespace qv::platform
