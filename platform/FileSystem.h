// Files and folders. Every path is in Windows form ("C:\a\b", "\" separators)
// or, on POSIX, a native path; the POSIX layer maps Windows paths onto the
// Wine prefix at the moment it touches them (see wine/PathMap.h).
// Failures raise qv::Error with a stable number (53, 70, 75, 76...).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Pimpl.h"

namespace qv::platform {

// Windows file attribute bits. 0 is a normal file.
inline constexpr uint32_t kAttrNormal = 0;
inline constexpr uint32_t kAttrReadOnly = 1;
inline constexpr uint32_t kAttrHidden = 2;
inline constexpr uint32_t kAttrSystem = 4;
inline constexpr uint32_t kAttrVolume = 8;
inline constexpr uint32_t kAttrDirectory = 16;
inline constexpr uint32_t kAttrArchive = 32;
// A symbolic link or junction: the entry itself, not what it points at.
inline constexpr uint32_t kAttrReparsePoint = 1024;

// The user's temporary folder, as GetTempPathA gives it: the path is copied
// into `buffer` (NUL-terminated) when `bufferLength` is large enough and its
// length (without the NUL) is returned; when it is too small, the length
// needed including the NUL is returned and the buffer is not written; 0 on
// failure. The path ends with a separator. The folder belongs to the user
// alone, as it does on Windows: others cannot plant or swap files in it.
uint32_t GetTempPathA(uint32_t bufferLength, char* buffer);

// The process-wide folder listing. ListFirst starts a listing and abandons
// any listing in progress, whoever started it; ListNext continues it. Both
// give a bare name, or the empty text when nothing (more) matches.
//  - a path ending in "\" lists the entries of that folder ("." and ".."
//    included when the mask has the directory bit);
//  - a path whose last component has "*" or "?" lists the matching entries;
//  - a path naming one entry lists that entry alone.
// Normal, read-only and archive entries are always listed; hidden, system and
// directory entries only when their bit is in `mask`. A folder that does not
// exist gives the empty text at once.
std::string ListFirst(const std::string& path, uint32_t mask);
std::string ListNext();

uint32_t GetAttributes(const std::string& path);
void SetAttributes(const std::string& path, uint32_t attributes);
void RemoveFile(const std::string& path);    // a file, or a symbolic link as such
void RemoveFolder(const std::string& path);  // an empty folder
// Makes a folder; one that exists already is no error. Its parent must exist.
void CreateFolder(const std::string& path);
// The path of the folder `name` (UTF-16, as the registry gives names) below
// the folder `parent`, in the ANSI code page that every other call takes:
// `parent`, "\\" and the name when the code page holds all of the name.
// When it does not, the folder is made if missing and its short name stands
// in for the name (Windows), or the name goes as UTF-8, the host's own
// encoding of file names (POSIX).
std::string FolderPathBelow(const std::string& parent, std::u16string_view name);
// Copies one file, replacing an existing target. The target is at every
// moment the old file whole, absent, or the new one whole: the copy is
// written beside it under a temporary name and then takes its place.
void CopyFileReplacing(const std::string& source, const std::string& target);

struct FolderEntry {
  std::string name;
  uint32_t attributes = 0;
};
// The entries of one folder ("." and ".." left out), in no particular order.
// A folder that does not exist raises error 76.
std::vector<FolderEntry> ReadFolder(const std::string& folder);

// A file opened for sequential reading or writing; closed when destroyed.
class File {
 public:
  static File OpenRead(const std::string& path);
  // Creates or truncates.
  static File CreateWrite(const std::string& path);
  // Creates a new file with a fresh name in `folder`, open for writing; its
  // path is stored in `path`. For writing a replacement beside its target.
  static File CreateTemporaryIn(const std::string& folder, std::string& path);

  // Reads up to `size` bytes; 0 at the end of the file.
  size_t Read(void* data, size_t size);
  void Write(const void* data, size_t size);
  // Pushes written data down to the disk.
  void Flush();
  void Close();

  struct Impl;
  friend void Destroy(Impl* impl) noexcept;

 private:
  explicit File(ImplPtr<Impl> impl) : impl_(std::move(impl)) {}
  ImplPtr<Impl> impl_;
};

// Whether `name` is a name that CreateTemporaryIn of this system gives. Such
// a file outlives a process that was killed while writing it; nothing else
// of the installer's is named that way.
bool IsTemporaryName(const std::string& name);

// Removes the temporary file at `path` unless a process is still writing it
// (POSIX: a writer holds a lock on its temporary until it has taken its
// target's place; Windows: a file being written cannot be deleted). False
// when it stays. Raises when it cannot be looked at.
bool RemoveAbandonedTemporary(const std::string& path);

// Puts `replacement` in the place of `target` in one step: at every moment
// `target` is either the old file whole or the new one whole.
void ReplaceFileAtomically(const std::string& replacement, const std::string& target);

}  // namespace qv::platform
