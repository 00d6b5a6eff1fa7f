// POSIX file access for the library. Every path below the extraction folder
// is resolved one component at a time with openat() and O_NOFOLLOW, so a
// symbolic link planted in the folder (by an earlier archive, or by anyone
// else) is never followed.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "FileIO.h"

namespace unzip32::fileio {

namespace {

int Fd(intptr_t handle) {
  return static_cast<int>(handle);
}

void Fail(Failure& failure, const std::string& what, int error) {
  failure.text = what + ": " + std::strerror(error);
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

}  // namespace

bool ArchiveFile::Open(const std::string& path, Failure& failure) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    Fail(failure, "cannot open " + path, errno);
    return false;
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    int error = errno != 0 ? errno : EINVAL;
    ::close(fd);
    Fail(failure, "not a regular file: " + path, S_ISDIR(info.st_mode) ? EISDIR : error);
    return false;
  }
  handle_ = fd;
  size_ = static_cast<uint64_t>(info.st_size);
  return true;
}

int64_t ReadSome(intptr_t handle, uint64_t offset, char* buffer, size_t length, Failure& failure) {
  if (offset > static_cast<uint64_t>(INT64_MAX)) {
    failure.text = "read beyond the end of the archive";
    return -1;
  }
  for (;;) {
    const ssize_t got = ::pread(Fd(handle), buffer, length, static_cast<off_t>(offset));
    if (got >= 0) return got;
    if (errno != EINTR) {
      Fail(failure, "cannot read the archive", errno);
      return -1;
    }
  }
}

void CloseHandleOf(intptr_t handle) {
  if (handle != -1) ::close(static_cast<int>(handle));
}

bool OpenRootFolder(const std::string& path, Folder& folder, Failure& failure) {
  // Create missing parents first: "a/b/c" makes "a", "a/b", then "a/b/c".
  for (size_t slash = path.find('/', 1); slash != std::string::npos;
       slash = path.find('/', slash + 1)) {
    std::string prefix = path.substr(0, slash);
    if (::mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
      Fail(failure, "cannot create folder " + prefix, errno);
      return false;
    }
  }
  if (::mkdir(path.c_str(), 0777) != 0 && errno != EEXIST) {
    Fail(failure, "cannot create folder " + path, errno);
    return false;
  }
  int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) {
    Fail(failure, "cannot open folder " + path, errno);
    return false;
  }
  FolderAccess::Set(folder, fd, path);
  return true;
}

bool OpenSubfolder(const Folder& parent, const std::string& name, bool create, Folder& folder,
                   Failure& failure) {
  const int parentFd = Fd(FolderAccess::Handle(parent));
  const std::string path = Join(parent.Path(), name);
  if (create && ::mkdirat(parentFd, name.c_str(), 0777) != 0 && errno != EEXIST) {
    Fail(failure, "cannot create folder " + path, errno);
    return false;
  }
  int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) {
    int error = errno;
    // O_NOFOLLOW reports a link as ELOOP (or ENOTDIR with O_DIRECTORY on
    // some systems): say plainly what was refused.
    struct stat info {};
    if (::fstatat(parentFd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        S_ISLNK(info.st_mode)) {
      failure.text = "refusing to follow the symbolic link " + path;
    } else {
      Fail(failure, "cannot open folder " + path, error);
    }
    return false;
  }
  FolderAccess::Set(folder, fd, path);
  return true;
}

NodeInfo Inspect(const Folder& folder, const std::string& name) {
  NodeInfo result;
  struct stat info {};
  if (::fstatat(Fd(FolderAccess::Handle(folder)), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0) {
    return result;
  }
  if (S_ISREG(info.st_mode)) {
    result.kind = NodeKind::File;
  } else if (S_ISDIR(info.st_mode)) {
    result.kind = NodeKind::Folder;
  } else if (S_ISLNK(info.st_mode)) {
    result.kind = NodeKind::Link;
  } else {
    result.kind = NodeKind::Other;
  }
  result.modified = static_cast<int64_t>(info.st_mtime);
  return result;
}

uint64_t ProcessId() {
  return static_cast<uint64_t>(::getpid());
}

NewFile CreateNewFile(const Folder& folder, const std::string& name, intptr_t& handle,
                      Failure& failure) {
  const int fd = ::openat(Fd(FolderAccess::Handle(folder)), name.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd >= 0) {
    handle = fd;
    return NewFile::kCreated;
  }
  if (errno == EEXIST) return NewFile::kNameTaken;
  Fail(failure, "cannot create a file in " + folder.Path(), errno);
  return NewFile::kFailed;
}

bool OutputFile::Write(const void* data, size_t length, Failure& failure) {
  const auto* in = static_cast<const char*>(data);
  while (length > 0) {
    ssize_t put = ::write(Fd(handle_), in, length);
    if (put < 0) {
      if (errno == EINTR) continue;
      Fail(failure, "cannot write in " + folder_->Path(), errno);
      return false;
    }
    in += put;
    length -= static_cast<size_t>(put);
  }
  return true;
}

bool OutputFile::Finish(int64_t modified, int permissions, Failure& failure) {
  if (permissions >= 0 && ::fchmod(Fd(handle_), static_cast<mode_t>(permissions) & 0777) != 0) {
    Fail(failure, "cannot set permissions in " + folder_->Path(), errno);
    return false;
  }
  struct timespec times[2] = {};
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(modified);
  if (::futimens(Fd(handle_), times) != 0) {
    Fail(failure, "cannot set the time in " + folder_->Path(), errno);
    return false;
  }
  int fd = Fd(handle_);
  handle_ = -1;
  if (::close(fd) != 0) {
    Fail(failure, "cannot write in " + folder_->Path(), errno);
    return false;
  }
  return true;
}

bool OutputFile::Commit(const std::string& name, Failure& failure) {
  const int folderFd = Fd(FolderAccess::Handle(*folder_));
  if (::renameat(folderFd, tempName_.c_str(), folderFd, name.c_str()) != 0) {
    Fail(failure, "cannot write " + Join(folder_->Path(), name), errno);
    return false;
  }
  tempName_.clear();
  return true;
}

void RemoveTemporary(const Folder& folder, const std::string& name) {
  ::unlinkat(Fd(FolderAccess::Handle(folder)), name.c_str(), 0);
}

int64_t DosTimeToUnix(uint16_t dosDate, uint16_t dosTime) {
  struct tm parts {};
  parts.tm_year = ((dosDate >> 9) & 0x7f) + 80;
  parts.tm_mon = ((dosDate >> 5) & 0x0f) - 1;
  parts.tm_mday = dosDate & 0x1f;
  parts.tm_hour = (dosTime >> 11) & 0x1f;
  parts.tm_min = (dosTime >> 5) & 0x3f;
  parts.tm_sec = (dosTime & 0x1f) * 2;
  parts.tm_isdst = -1;
  if (parts.tm_mon < 0) parts.tm_mon = 0;
  if (parts.tm_mday == 0) parts.tm_mday = 1;
  time_t result = ::mktime(&parts);
  return result == static_cast<time_t>(-1) ? 0 : static_cast<int64_t>(result);
}

}  // namespace unzip32::fileio
