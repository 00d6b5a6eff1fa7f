// The file system on POSIX. Every path the core hands in may be in Windows
// form; it is mapped with ToNativePath at the moment it is used. Windows
// attribute bits are derived from the POSIX file type and mode:
//  - directory (16): the entry is a folder (never a link to one: entries are
//    looked at with lstat, so a link is an entry of its own and is never
//    followed into);
//  - read-only (1): the owner has no write permission;
//  - hidden (2): the name begins with "." (Wine's convention);
//  - system (4): never;
//  - archive (32): every regular file.
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "common/Error.h"
#include "common/Text.h"
#include "platform/CodePage.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"
#include "platform/Listing.h"
#include "platform/Process.h"
#include "platform/posix/PosixSupport.h"
#include "platform/wine/CodePage.h"
#include "platform/wine/PathMap.h"

namespace qv::platform {

namespace {

using fault::Operation;
using posix::PathKind;
using posix::UniqueFd;

std::string BaseNameOf(const std::string& native) {
  const std::string trimmed = posix::TrimTrailingSeparators(native);
  const size_t slash = trimmed.rfind('/');
  return slash == std::string::npos ? trimmed : trimmed.substr(slash + 1);
}

[[noreturn]] void Raise(int32_t number, const std::string& action, const std::string& path,
                        const std::string& native, const std::string& reason) {
  throw Error(number, err::FileErrorText(number, action, path, reason, native));
}

[[noreturn]] void RaiseErrno(int code, PathKind kind, const std::string& action,
                             const std::string& path, const std::string& native) {
  Raise(posix::NumberForErrno(code, kind, native), action, path, native, std::strerror(code));
}

void CheckFault(Operation operation, const std::string& action, const std::string& path,
                const std::string& native) {
  if (auto number = fault::Take(operation, native)) {
    Raise(*number, action, path, native, "injected fault");
  }
}

uint32_t AttributesOf(const struct stat& st, const std::string& name) {
  uint32_t attributes = kAttrNormal;
  if (S_ISDIR(st.st_mode)) attributes |= kAttrDirectory;
  if (S_ISREG(st.st_mode)) attributes |= kAttrArchive;
  if (S_ISLNK(st.st_mode)) attributes |= kAttrReparsePoint;
  // A link has no permissions of its own (they are always rwx), so it is
  // never read-only; the same goes for the special entries.
  if (!S_ISLNK(st.st_mode) && (st.st_mode & S_IWUSR) == 0) attributes |= kAttrReadOnly;
  if (!name.empty() && name.front() == '.' && name != "." && name != "..") {
    attributes |= kAttrHidden;
  }
  return attributes;
}

// Reads the entries of a folder, "." and ".." included, with their
// attributes. Returns false when the folder does not exist (or is not a
// folder); raises on other failures.
bool ReadEntries(const std::string& path, const std::string& native,
                 std::vector<FolderEntry>& entries) {
  CheckFault(Operation::kList, "list folder", path, native);
  const posix::UniqueFolderListing dir(::opendir(native.c_str()));
  if (!dir.Valid()) {
    const int code = errno;
    if (code == ENOENT || code == ENOTDIR) return false;
    RaiseErrno(code, PathKind::kFolder, "list folder", path, native);
  }
  const int fd = ::dirfd(dir.Get());
  errno = 0;
  while (const dirent* entry = ::readdir(dir.Get())) {
    const std::string name(entry->d_name);
    struct stat st {};
    // An entry removed between readdir and fstatat is simply gone.
    if (::fstatat(fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
      entries.push_back(FolderEntry{name, AttributesOf(st, name)});
    }
    errno = 0;
  }
  if (errno != 0) RaiseErrno(errno, PathKind::kFolder, "list folder", path, native);
  return true;
}

bool IsDriveRoot(const std::string& path) {
  if (path.size() < 2 || path[1] != ':') return false;
  return path.find_first_not_of("\\/", 2) == std::string::npos;
}

// Whether `native` still names the file that `fd` is open on.
bool StillNamed(int fd, const std::string& native) {
  struct stat held {};
  struct stat named {};
  return ::fstat(fd, &held) == 0 && ::lstat(native.c_str(), &named) == 0 &&
         held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

}  // namespace

// The descriptor behind a File. CopyFileReplacing works on it directly.

struct File::Impl {
  UniqueFd fd;
  std::string path;    // as the caller gave it, for messages
  std::string native;  // as opened
};

void Destroy(File::Impl* impl) noexcept {
  delete impl;
}

namespace {

using FilePtr = ImplPtr<File::Impl>;

FilePtr OpenReadImpl(const std::string& path) {
  auto impl = MakeImpl<File::Impl>();
  impl->path = path;
  impl->native = wine::ToNativePath(path);
  CheckFault(Operation::kOpenRead, "open", path, impl->native);
  impl->fd.Reset(::open(impl->native.c_str(), O_RDONLY | O_CLOEXEC));
  if (!impl->fd.Valid()) RaiseErrno(errno, PathKind::kFile, "open", path, impl->native);
  struct stat st {};
  if (::fstat(impl->fd.Get(), &st) == 0 && S_ISDIR(st.st_mode)) {
    // Windows refuses to open a folder as a file; say so at once rather
    // than at the first read.
    Raise(err::kPathFileAccess, "open", path, impl->native, "it is a folder");
  }
  return impl;
}

FilePtr CreateTemporaryImpl(const std::string& nativeFolder, const std::string& forMessages) {
  const std::string folder = posix::TrimTrailingSeparators(nativeFolder);
  CheckFault(Operation::kCreateWrite, "create a file in", forMessages, folder);
  // A leading dot keeps the half-written file out of every listing that
  // leaves hidden files out.
  std::string name;
  auto impl = MakeImpl<File::Impl>();
  for (;;) {
    name = folder + "/.qv-XXXXXX.tmp";
    impl->fd.Reset(::mkostemps(name.data(), 4, O_CLOEXEC));
    if (!impl->fd.Valid()) {
      RaiseErrno(errno, PathKind::kFolder, "create a file in", forMessages, folder);
    }
    // Locked for as long as it is written: a later run removes a temporary
    // only when it can lock it, so what it removes is one whose writer has
    // died. One taken for a leftover in the moment before this lock (locked
    // by the remover, or no longer at its name) is left to it, and a fresh
    // one made. A file system without locks gets its temporaries unlocked.
    if (::flock(impl->fd.Get(), LOCK_EX | LOCK_NB) == 0) {
      if (StillNamed(impl->fd.Get(), name)) break;
    } else if (errno != EWOULDBLOCK && errno != EINTR) {
      break;
    }
    impl->fd.Reset();
  }
  // mkstemp makes the file 0600; give it the mode an ordinary new file gets.
  const mode_t mask = ::umask(0);
  ::umask(mask);
  ::fchmod(impl->fd.Get(), 0666 & ~mask);
  impl->path = name;
  impl->native = name;
  return impl;
}

File::Impl& Opened(const FilePtr& impl) {
  if (!impl || !impl->fd.Valid()) {
    throw Error(err::kBadFileName, "Bad file name or number: the file is not open");
  }
  return *impl;
}

size_t ReadSome(File::Impl& impl, void* data, size_t size) {
  for (;;) {
    const ssize_t got = ::read(impl.fd.Get(), data, size);
    if (got >= 0) return static_cast<size_t>(got);
    if (errno != EINTR) RaiseErrno(errno, PathKind::kFile, "read", impl.path, impl.native);
  }
}

void WriteAll(File::Impl& impl, const void* data, size_t size) {
  CheckFault(Operation::kWrite, "write", impl.path, impl.native);
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = ::write(impl.fd.Get(), bytes, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      RaiseErrno(errno, PathKind::kFile, "write", impl.path, impl.native);
    }
    bytes += put;
    size -= static_cast<size_t>(put);
  }
}

void Sync(File::Impl& impl) {
  // EINVAL/EROFS: a file system that cannot sync (a pipe, a read-only mount)
  // has nothing to push down.
  if (::fsync(impl.fd.Get()) != 0 && errno != EINVAL && errno != EROFS) {
    RaiseErrno(errno, PathKind::kFile, "write", impl.path, impl.native);
  }
}

void CloseImpl(File::Impl& impl) {
  if (!impl.fd.Valid()) return;
  const int fd = impl.fd.Release();
  // Some file systems report a failed write only here; the descriptor is
  // gone either way (also on EINTR), so it is not retried.
  if (::close(fd) != 0 && errno != EINTR) {
    RaiseErrno(errno, PathKind::kFile, "write", impl.path, impl.native);
  }
}

enum class Durability { kOnDisk, kVisible };

void ReplaceNative(const std::string& nativeReplacement, const std::string& nativeTarget,
                   const std::string& forMessages, Durability durability = Durability::kOnDisk) {
  CheckFault(Operation::kReplace, "replace", forMessages, nativeTarget);
  if (::rename(nativeReplacement.c_str(), nativeTarget.c_str()) != 0) {
    RaiseErrno(errno, PathKind::kFile, "replace", forMessages, nativeTarget);
  }
  if (durability == Durability::kVisible) return;
  // The rename is only durable once the folder that holds it is on disk.
  const UniqueFd folder(
      ::open(posix::ParentOf(nativeTarget).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!folder.Valid()) return;
  if (::fsync(folder.Get()) != 0 && errno != EINVAL && errno != EROFS) {
    RaiseErrno(errno, PathKind::kFolder, "replace", forMessages, nativeTarget);
  }
}

}  // namespace

namespace {

// Without $TMPDIR the shared /tmp would let another local user plant or swap
// the archive and the extracted files between download and copy. Windows
// gives each user a temporary folder of their own; so does this: a folder in
// /tmp that only this user owns and can write, refused when anything else
// sits in its place.
std::string PrivateTempFolder() {
  std::string folder = "/tmp/quorvane-" + std::to_string(::geteuid());
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
      (st.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return {};
  }
  return folder;
}

}  // namespace

uint32_t GetTempPathA(uint32_t bufferLength, char* buffer) {
  std::string path = GetEnvironment("TMPDIR");
  if (path.empty()) path = PrivateTempFolder();
  if (path.empty()) return 0;
  if (path.back() != '/') path += '/';
  const size_t length = path.size();
  if (length + 1 > bufferLength || buffer == nullptr) {
    return static_cast<uint32_t>(length + 1);  // the room needed, NUL included
  }
  std::memcpy(buffer, path.c_str(), length + 1);
  return static_cast<uint32_t>(length);
}

std::string ListFirst(const std::string& path, uint32_t mask) {
  listing::Abandon();
  if (path.empty()) return {};

  const size_t split = path.find_last_of("\\/");
  const std::string folder = split == std::string::npos ? std::string() : path.substr(0, split + 1);
  std::string pattern = split == std::string::npos ? path : path.substr(split + 1);

  std::vector<std::string> names;
  if (!pattern.empty() && !text::HasWildcard(pattern)) {
    // One named entry, listed alone when it passes the mask.
    const std::string native = wine::ToNativePath(path);
    CheckFault(Operation::kList, "list", path, native);
    struct stat st {};
    if (::lstat(native.c_str(), &st) != 0) {
      const int code = errno;
      if (code == ENOENT || code == ENOTDIR) return {};
      RaiseErrno(code, PathKind::kFile, "list", path, native);
    }
    const std::string name = BaseNameOf(native);
    if (listing::Shows(AttributesOf(st, name), mask)) names.push_back(name);
  } else {
    // "*.*" matches every name on Windows, those without a dot too.
    if (pattern.empty() || pattern == "*.*") pattern = "*";
    const std::string native = wine::ToNativePath(folder.empty() ? std::string(".") : folder);
    std::vector<FolderEntry> entries;
    if (!ReadEntries(folder, native, entries)) return {};
    const bool root = IsDriveRoot(folder) || native == "/";
    for (const FolderEntry& entry : entries) {
      const bool dots = entry.name == "." || entry.name == "..";
      if (dots && root) continue;  // a drive root has no "." and ".."
      if (!listing::Shows(entry.attributes, mask)) continue;
      if (!text::WildcardMatch(pattern, entry.name, /*ignoreCase=*/true)) continue;
      names.push_back(entry.name);
    }
    // A fixed order makes every run the same: "." and ".." first, as NTFS
    // gives them, then the names without regard to case.
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      const int rankA = a == "." ? 0 : a == ".." ? 1 : 2;
      const int rankB = b == "." ? 0 : b == ".." ? 1 : 2;
      if (rankA != rankB) return rankA < rankB;
      return text::LessIgnoreCase(a, b);
    });
  }
  return listing::Start(std::move(names));
}

uint32_t GetAttributes(const std::string& path) {
  const std::string native = wine::ToNativePath(path);
  CheckFault(Operation::kGetAttributes, "read the attributes of", path, native);
  struct stat st {};
  if (::lstat(native.c_str(), &st) != 0) {
    RaiseErrno(errno, PathKind::kFile, "read the attributes of", path, native);
  }
  return AttributesOf(st, BaseNameOf(native));
}

void SetAttributes(const std::string& path, uint32_t attributes) {
  const std::string native = wine::ToNativePath(path);
  const char* action = "set the attributes of";
  CheckFault(Operation::kSetAttributes, action, path, native);
  struct stat st {};
  if (::lstat(native.c_str(), &st) != 0) RaiseErrno(errno, PathKind::kFile, action, path, native);
  // A link has no mode of its own, and chmod would change its target, which
  // may lie anywhere: leave links alone.
  if (S_ISLNK(st.st_mode)) return;
  // Only the read-only bit has a POSIX meaning that can be set; hidden
  // would need a rename, and the others follow from the file type.
  mode_t mode = st.st_mode & 07777;
  if ((attributes & kAttrReadOnly) != 0) {
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  } else {
    mode |= S_IWUSR;
  }
  if (mode == (st.st_mode & 07777)) return;
  if (::chmod(native.c_str(), mode) != 0) RaiseErrno(errno, PathKind::kFile, action, path, native);
}

void RemoveFile(const std::string& path) {
  const std::string native = wine::ToNativePath(path);
  CheckFault(Operation::kRemoveFile, "delete", path, native);
  // unlink removes a symbolic link itself, even one that points at a folder.
  if (::unlink(native.c_str()) != 0) RaiseErrno(errno, PathKind::kFile, "delete", path, native);
}

void RemoveFolder(const std::string& path) {
  const std::string native = wine::ToNativePath(path);
  CheckFault(Operation::kRemoveFolder, "remove folder", path, native);
  if (::rmdir(native.c_str()) != 0) {
    RaiseErrno(errno, PathKind::kFolder, "remove folder", path, native);
  }
}

void CreateFolder(const std::string& path) {
  const std::string native = wine::ToNativePath(path);
  CheckFault(Operation::kCreateFolder, "create folder", path, native);
  if (::mkdir(native.c_str(), 0777) != 0) {
    const int code = errno;
    if (code == EEXIST && posix::IsFolder(native)) return;
    RaiseErrno(code, PathKind::kFolder, "create folder", path, native);
  }
}

std::string FolderPathBelow(const std::string& parent, std::u16string_view name) {
  // A name the code page cannot hold goes as UTF-8, which is how Wine names
  // the folder on the host; the path mapping keeps a UTF-8 component as it is.
  return parent + "\\" + (wine::AnsiHolds(name) ? WideToAnsi(name) : wine::Utf16ToUtf8(name));
}

void CopyFileReplacing(const std::string& source, const std::string& target) {
  const std::string nativeTarget = wine::ToNativePath(target);
  CheckFault(Operation::kCopy, "copy to", target, nativeTarget);
  FilePtr in = OpenReadImpl(source);
  // Written beside the target under a temporary name and renamed over it at
  // the end, so a failed copy (disk full, a read error) never leaves a
  // truncated target behind: the old file stays whole until the rename.
  FilePtr out = CreateTemporaryImpl(posix::ParentOf(nativeTarget), target);
  const std::string temporary = out->native;
  try {
    // The kernel copies without a round trip through user space where it
    // can; other file systems get the plain loop.
    CheckFault(Operation::kWrite, "write", out->path, out->native);
    bool copied = false;
    for (;;) {
      const ssize_t moved =
          ::copy_file_range(in->fd.Get(), nullptr, out->fd.Get(), nullptr, 1 << 30, 0);
      if (moved > 0) {
        copied = true;
        continue;
      }
      if (moved == 0) break;
      if (errno == EINTR) continue;
      if (copied || (errno != EXDEV && errno != ENOSYS && errno != EINVAL && errno != EOPNOTSUPP)) {
        RaiseErrno(errno, PathKind::kFile, "copy to", target, nativeTarget);
      }
      std::vector<char> chunk(256 * 1024);
      for (;;) {
        const size_t got = ReadSome(*in, chunk.data(), chunk.size());
        if (got == 0) break;
        WriteAll(*out, chunk.data(), got);
      }
      break;
    }
    // Keep the permission bits of the source, as a copy on Windows keeps
    // the read-only attribute.
    struct stat st {};
    if (::fstat(in->fd.Get(), &st) == 0) ::fchmod(out->fd.Get(), st.st_mode & 0777);
    // A copy is whole or absent, like a copy on Windows; it is not pushed to
    // the disk one by one, which would cost a disk flush per package. It is
    // renamed while still open, and so still locked: no other run's clean-up
    // can take it for a leftover in between.
    ReplaceNative(temporary, nativeTarget, target, Durability::kVisible);
    CloseImpl(*out);
  } catch (...) {
    out.reset();
    ::unlink(temporary.c_str());
    throw;
  }
}

std::vector<FolderEntry> ReadFolder(const std::string& folder) {
  const std::string native = wine::ToNativePath(folder);
  std::vector<FolderEntry> entries;
  if (!ReadEntries(folder, native, entries)) {
    Raise(err::kPathNotFound, "list folder", folder, native, "no such folder");
  }
  std::erase_if(entries, [](const FolderEntry& e) { return e.name == "." || e.name == ".."; });
  return entries;
}

// ---------------------------------------------------------------------------
// File

File File::OpenRead(const std::string& path) {
  return File(OpenReadImpl(path));
}

File File::CreateWrite(const std::string& path) {
  auto impl = MakeImpl<Impl>();
  impl->path = path;
  impl->native = wine::ToNativePath(path);
  CheckFault(Operation::kCreateWrite, "create", path, impl->native);
  impl->fd.Reset(::open(impl->native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666));
  if (!impl->fd.Valid()) RaiseErrno(errno, PathKind::kFile, "create", path, impl->native);
  return File(std::move(impl));
}

File File::CreateTemporaryIn(const std::string& folder, std::string& path) {
  FilePtr impl = CreateTemporaryImpl(wine::ToNativePath(folder), folder);
  path = impl->native;
  return File(std::move(impl));
}

size_t File::Read(void* data, size_t size) {
  return ReadSome(Opened(impl_), data, size);
}

void File::Write(const void* data, size_t size) {
  WriteAll(Opened(impl_), data, size);
}

void File::Flush() {
  Sync(Opened(impl_));
}

void File::Close() {
  if (impl_) CloseImpl(*impl_);
}

bool IsTemporaryName(const std::string& name) {
  // ".qv-XXXXXX.tmp", the X being what mkostemps puts there.
  constexpr std::string_view kHead = ".qv-";
  constexpr std::string_view kTail = ".tmp";
  constexpr size_t kRandom = 6;
  if (name.size() != kHead.size() + kRandom + kTail.size()) return false;
  if (!name.starts_with(kHead) || !name.ends_with(kTail)) return false;
  return std::all_of(name.begin() + kHead.size(), name.end() - kTail.size(), [](char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  });
}

bool RemoveAbandonedTemporary(const std::string& path) {
  const std::string native = wine::ToNativePath(path);
  CheckFault(Operation::kRemoveFile, "delete", path, native);
  const UniqueFd fd(::open(native.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd.Valid()) {
    if (errno == ENOENT) return false;
    RaiseErrno(errno, PathKind::kFile, "delete", path, native);
  }
  // Held by its writer: still being written.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return false;
  if (!StillNamed(fd.Get(), native)) return false;
  if (::unlink(native.c_str()) != 0) RaiseErrno(errno, PathKind::kFile, "delete", path, native);
  return true;
}

void ReplaceFileAtomically(const std::string& replacement, const std::string& target) {
  ReplaceNative(wine::ToNativePath(replacement), wine::ToNativePath(target), target);
}

}  // namespace qv::platform
