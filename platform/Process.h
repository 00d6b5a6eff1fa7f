// The process: its command line, its own folder, its environment and its end.
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

}  // namespace qv::platform
