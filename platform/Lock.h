// Locks that exclude other processes. The system lets go of a lock when its
// holder ends in any way (a crash and a kill included), so a lock is never
// decided by a file's mere existence or by a process id that may be stale.
#pragma once

#include <string>
#include <utility>

#include "platform/Pimpl.h"

namespace qv::platform {

class ExclusiveLock {
 public:
  // The install run's lock: one run at a time for the user whose temporary
  // folder `tempFolder` is. Waits while another run holds it. Raises when
  // the lock cannot be had at all (the folder is not usable).
  static ExclusiveLock TakeRunLock(const std::string& tempFolder);

  // The lock for a read-modify-write of the file `path`: excludes every
  // other process that takes it for the same file, whoever runs it, and the
  // Windows program under Wine and the POSIX one alike (both lock the same
  // byte, and Wine maps its file locks onto POSIX record locks). It is held
  // on the file `path` followed by ".lock", beside it, made when missing
  // and left there: `path` itself cannot carry it, because a file that any
  // process holds open cannot be replaced by a rename on Windows, and a
  // lock file removed while another process waits on it would let two in.
  // Waits while another process holds it. Raises when the lock file cannot
  // be opened or made.
  static ExclusiveLock TakeFileLock(const std::string& path);

  // The lock is released when its holder is destroyed.
  struct Impl;
  friend void Destroy(Impl* impl) noexcept;

 private:
  explicit ExclusiveLock(ImplPtr<Impl> impl) : impl_(std::move(impl)) {}
  ImplPtr<Impl> impl_;
};

}  // namespace qv::platform
