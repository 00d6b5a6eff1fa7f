// The library's only contact with the operating system: reading the archive
// and writing below the extraction folder. One implementation per system
// (FileIO_posix.cpp, FileIO_win32.cpp), chosen by CMake.
//
// Writing works relative to open folders so that no path component is ever
// resolved twice: a folder is opened once, refusing symbolic links, and every
// file is created inside it under a temporary name and renamed into place.
#ifndef UNZIP32_FILEIO_H
#define UNZIP32_FILEIO_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace unzip32::fileio {

// Every failing call fills one of these with a text for the user.
struct Failure {
  std::string text;
};

// Read-only random access to the archive.
class ArchiveFile {
 public:
  ArchiveFile() = default;
  ~ArchiveFile();
  ArchiveFile(const ArchiveFile&) = delete;
  ArchiveFile& operator=(const ArchiveFile&) = delete;

  bool Open(const std::string& path, Failure& failure);
  uint64_t Size() const { return size_; }
  // Reads exactly `length` bytes at `offset`; false at the end of the file or
  // on a read error.
  bool ReadAt(uint64_t offset, void* buffer, size_t length, Failure& failure) const;

 private:
  intptr_t handle_ = -1;
  uint64_t size_ = 0;
};

// An open folder. Move-only.
class Folder {
 public:
  Folder() = default;
  ~Folder();
  Folder(Folder&& other) noexcept;
  Folder& operator=(Folder&& other) noexcept;
  Folder(const Folder&) = delete;
  Folder& operator=(const Folder&) = delete;

  bool IsOpen() const { return handle_ != -1; }
  // The folder's path as the user would write it, for messages.
  const std::string& Path() const { return path_; }

 private:
  friend struct FolderAccess;
  intptr_t handle_ = -1;
  std::string path_;
};

// The calls the shared part (FileIO.cpp) needs from each system's file.
// Closes a handle of this system's kind (a descriptor, a HANDLE); -1 is no
// handle and is left alone.
void CloseHandleOf(intptr_t handle);
// Reads at most `length` bytes at `offset` of the archive open as `handle`:
// how many it read, 0 at the end of the file, -1 on an error (which
// `failure` then tells).
int64_t ReadSome(intptr_t handle, uint64_t offset, char* buffer, size_t length, Failure& failure);
// This process's id, which keeps its temporary names apart from another's.
uint64_t ProcessId();
// Creates the new file `name` in `folder` for writing into `handle`, never
// opening what is already there (a link included).
enum class NewFile { kCreated, kNameTaken, kFailed };
NewFile CreateNewFile(const Folder& folder, const std::string& name, intptr_t& handle,
                      Failure& failure);
// Removes the temporary file `name` in `folder`, whatever its attributes;
// a failure is ignored (nothing is left to report it to).
void RemoveTemporary(const Folder& folder, const std::string& name);

// The systems' files reach a folder's handle through this.
struct FolderAccess {
  static intptr_t Handle(const Folder& folder) { return folder.handle_; }
  static void Set(Folder& folder, intptr_t handle, std::string path) {
    CloseHandleOf(folder.handle_);
    folder.handle_ = handle;
    folder.path_ = std::move(path);
  }
};

// Opens the extraction folder, creating it and its missing parents. The path
// is the caller's, so links in it are followed.
bool OpenRootFolder(const std::string& path, Folder& folder, Failure& failure);

// Opens the folder `name` (one component) inside `parent`, creating it when
// `create` is true and it is missing. An existing symbolic link or a file of
// that name is refused.
bool OpenSubfolder(const Folder& parent, const std::string& name, bool create, Folder& folder,
                   Failure& failure);

enum class NodeKind { Missing, File, Folder, Link, Other };

struct NodeInfo {
  NodeKind kind = NodeKind::Missing;
  int64_t modified = 0;  // seconds since 1970 (UTC)
};

// What `name` inside `folder` is, without following a link.
NodeInfo Inspect(const Folder& folder, const std::string& name);

// A file being written under a temporary name. Move-only; a file that is
// neither committed nor discarded is removed by the destructor.
class OutputFile {
 public:
  OutputFile() = default;
  ~OutputFile();
  OutputFile(OutputFile&& other) noexcept;
  OutputFile& operator=(OutputFile&& other) noexcept;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Creates a new, empty temporary file in `folder`; never opens an existing
  // one. `folder` must outlive this object.
  bool Create(const Folder& folder, Failure& failure);
  bool Write(const void* data, size_t length, Failure& failure);
  // Sets the modification time (seconds since 1970, UTC) and, when
  // `permissions` is not negative, the permission bits (0777 at most).
  bool Finish(int64_t modified, int permissions, Failure& failure);
  // Renames the temporary file to `name`, replacing an existing file of that
  // name in one step.
  bool Commit(const std::string& name, Failure& failure);
  // Removes the temporary file.
  void Discard();

 private:
  intptr_t handle_ = -1;
  const Folder* folder_ = nullptr;
  std::string tempName_;
};

// Converts an MS-DOS date and time (local time of the machine that wrote the
// archive, taken as local time here) to seconds since 1970, UTC.
int64_t DosTimeToUnix(uint16_t dosDate, uint16_t dosTime);

}  // namespace unzip32::fileio

#endif  // UNZIP32_FILEIO_H
