// A seam for tests: makes chosen operating-system calls fail on chosen paths.
//
// The tests run as root, and root ignores permission bits, so a file "that
// cannot be deleted" cannot be made with chmod. Instead a test arms a fault
// here and the platform layer raises the given error, exactly where the real
// system call would have failed, before touching the file system.
//
// Only the test build of the layer (qv_platform_faults, QV_FAULT_INJECTION)
// has the seam; in the build that players run every check below is an empty
// inline function, so nothing of it is left in their program.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qv::platform::fault {

enum class Operation {
  kList,           // ListFirst, ReadFolder
  kGetAttributes,  // GetAttributes
  kSetAttributes,  // SetAttributes
  kRemoveFile,     // RemoveFile
  kRemoveFolder,   // RemoveFolder
  kCopy,           // CopyFileReplacing (matched on the target)
  kOpenRead,       // File::OpenRead
  kCreateWrite,    // File::CreateWrite, File::CreateTemporaryIn (on the folder)
  kWrite,          // File::Write
  kReplace,        // ReplaceFileAtomically (matched on the target)
  kCreateFolder,   // CreateFolder
  kElevate,        // RunElevated (matched on the program): 70 is a declined
                   // prompt, any other number a start that failed
};

#if QV_FAULT_INJECTION

// From now on, the next `times` calls of `operation` on a path that ends with
// `pathSuffix` (whole components; "\" or "/" separators; "*" and "?" allowed;
// compared with the native path, case-sensitively; a leading "/" makes it
// the whole path) fail with error `errorNumber`. `times` -1
// means every call until cleared.
void FailNext(Operation operation, const std::string& pathSuffix, int32_t errorNumber,
              int times = 1);
void ClearAll();

// The name of the environment variable through which a test arms faults in
// a program that it starts: entries separated by ";", each an operation's
// name (as in kOperationNames), an error number and a path suffix, separated
// by blanks, for example "replace 70 modularstairs.txt;elevate 70 *". Each
// fails every call until the program ends.
inline constexpr char kEnvironmentVariable[] = "QV_TEST_FAULTS";
inline constexpr const char* kOperationNames[] = {
    "list",      "get-attributes", "set-attributes", "remove-file", "remove-folder", "copy",
    "open-read", "create-write",   "write",          "replace",     "create-folder", "elevate"};

// Arms what kEnvironmentVariable names and removes the variable from the
// process, so that the faults are this process's own: the programs it
// starts (a copy of itself with more rights) do not inherit them.
void ArmFromEnvironment();

// For the platform layer: the error number to fail with, when a fault is
// armed for this call (and counts it down).
std::optional<int32_t> Take(Operation operation, const std::string& nativePath);

// Clears every fault when it goes out of scope, so a failing test does not
// leave one armed for the next.
class ScopedFaults {
 public:
  ScopedFaults() = default;
  ~ScopedFaults() { ClearAll(); }
  ScopedFaults(const ScopedFaults&) = delete;
  ScopedFaults& operator=(const ScopedFaults&) = delete;
};

#else

inline void ArmFromEnvironment() {}
inline std::optional<int32_t> Take(Operation, const std::string&) {
  return std::nullopt;
}

#endif

}  // namespace qv::platform::fault
