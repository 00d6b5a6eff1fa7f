// A seam for tests: makes chosen file-system operations fail on chosen paths.
//
// The tests run as root, and root ignores permission bits, so a file "that
// cannot be deleted" cannot be made with chmod. Instead a test arms a fault
// here and the platform layer raises the given error, exactly where the real
// system call would have failed, before touching the file system. Nothing in
// the installer arms a fault; with none armed the check costs one atomic load.
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
};

// From now on, the next `times` calls of `operation` on a path that ends with
// `pathSuffix` (whole components; "\" or "/" separators; "*" and "?" allowed;
// compared with the native path, case-sensitively; a leading "/" makes it
// the whole path) fail with error `errorNumber`. `times` -1
// means every call until cleared.
void FailNext(Operation operation, const std::string& pathSuffix, int32_t errorNumber,
              int times = 1);
void ClearAll();

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

}  // namespace qv::platform::fault
