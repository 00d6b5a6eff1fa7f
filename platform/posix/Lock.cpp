// Locks on POSIX. Each lock is held twice on one open file description:
//  - flock(LOCK_EX) excludes the other POSIX processes (it works on a file
//    opened for reading only, so a user who may not write into a lock file
//    that another user made still takes it);
//  - an open-file-description record lock (F_OFD_SETLKW) on one byte
//    conflicts with the lock that the Windows program takes under Wine:
//    Wine turns LockFileEx into a POSIX record lock on the same byte.
//    Record locks owned by the process (F_SETLKW) would not do: closing any
//    other descriptor of the file would drop them.
// Both go with the description, so they end when the holder closes it or
// dies. A lock is taken on the file a path names at the moment of opening;
// when the path names another file once the lock is held (the holder of the
// run's lock removes its file as it lets go), it is let go and taken again.
#include "platform/Lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "common/Error.h"
#include "platform/posix/PosixSupport.h"
#include "platform/wine/PathMap.h"

namespace qv::platform {

namespace {

// The byte both systems lock: below 2^31, so that a 32-bit Windows program
// names it in the low half of the offset alone, and beyond any content a
// lock file could be given (Windows locks are mandatory).
constexpr off_t kLockedByte = 0x7FFFFFFE;

constexpr const char kRunLockName[] = ".quorvane-run.lock";

[[noreturn]] void Raise(int code, const std::string& action, const std::string& path,
                        const std::string& native) {
  const int32_t number = posix::NumberForErrno(code, posix::PathKind::kFile, native);
  throw Error(number, err::FileErrorText(number, action, path, std::strerror(code)));
}

bool SameFile(int fd, const std::string& native) {
  struct stat held {};
  struct stat named {};
  if (::fstat(fd, &held) != 0 || ::stat(native.c_str(), &named) != 0) return false;
  return held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Waits for both locks on `fd`; 0 or the errno value of the failure.
int LockBoth(int fd, bool writable) {
  while (::flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) return errno;
  }
  struct flock record {};
  // A descriptor open for reading only can carry only a shared record lock;
  // it still keeps out a Windows program that writes the file (whose lock
  // is exclusive), and flock already keeps out every POSIX process.
  record.l_type = writable ? F_WRLCK : F_RDLCK;
  record.l_whence = SEEK_SET;
  record.l_start = kLockedByte;
  record.l_len = 1;
  while (::fcntl(fd, F_OFD_SETLKW, &record) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

}  // namespace

struct ExclusiveLock::Impl {
  posix::UniqueFd fd;
  std::string native;
  // The run's lock file goes when the run ends. It is removed while still
  // locked (the descriptor closes with the state, after the removal), so a
  // waiter that then gets the lock sees that its file is no longer the one
  // at the path and starts over on a fresh one.
  bool removeOnRelease = false;
};

void Destroy(ExclusiveLock::Impl* impl) noexcept {
  if (impl->fd.Valid() && impl->removeOnRelease) ::unlink(impl->native.c_str());
  delete impl;
}

namespace {

// `shared`: a lock file that other users take too, so they must be able to
// open it (it is made readable and writable for all); otherwise one of the
// user's own, removed when released.
ImplPtr<ExclusiveLock::Impl> Take(const std::string& path, const std::string& native, bool shared) {
  for (;;) {
    auto impl = MakeImpl<ExclusiveLock::Impl>();
    impl->native = native;
    impl->removeOnRelease = !shared;
    const int flags = O_CLOEXEC | O_NOCTTY;
    bool writable = true;
    impl->fd.Reset(::open(native.c_str(), O_RDWR | O_CREAT | flags, shared ? 0666 : 0600));
    if (!impl->fd.Valid() && (errno == EACCES || errno == EPERM || errno == EROFS) && shared) {
      // Made by another user who gave us no write permission.
      const int refused = errno;
      writable = false;
      impl->fd.Reset(::open(native.c_str(), O_RDONLY | flags));
      // Not there, and we may not make it: the refusal is what to tell.
      if (!impl->fd.Valid() && errno == ENOENT) Raise(refused, "open for locking", path, native);
    }
    if (!impl->fd.Valid()) Raise(errno, "open for locking", path, native);
    // The umask may have taken the others' write bit; give it back where
    // the file is ours (where it is not, its owner did the same).
    if (shared && writable) ::fchmod(impl->fd.Get(), 0666);
    struct stat st {};
    if (::fstat(impl->fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
      Raise(EISDIR, "lock", path, native);
    }
    if (const int code = LockBoth(impl->fd.Get(), writable); code != 0) {
      Raise(code, "lock", path, native);
    }
    if (SameFile(impl->fd.Get(), native)) return impl;
    // Replaced or removed while we waited: not the file to hold. The next
    // turn opens what the path names now.
    impl->removeOnRelease = false;
  }
}

}  // namespace

ExclusiveLock ExclusiveLock::TakeRunLock(const std::string& tempFolder) {
  if (tempFolder.empty() || tempFolder.find('\0') != std::string::npos) {
    throw Error(err::kPathNotFound, "Path not found: no temporary folder for the run's lock");
  }
  std::string native = wine::ToNativePath(tempFolder);
  if (native.back() != '/') native += '/';
  native += kRunLockName;
  return ExclusiveLock(Take(native, native, /*shared=*/false));
}

ExclusiveLock ExclusiveLock::TakeFileLock(const std::string& path) {
  return ExclusiveLock(Take(path + ".lock", wine::ToNativePath(path + ".lock"), /*shared=*/true));
}

}  // namespace qv::platform
