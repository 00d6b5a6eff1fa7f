// Locks on Windows. The run's lock is a named mutex: the system hands an
// abandoned one to the next waiter when its owner dies, and it leaves no
// file behind. The file lock is LockFileEx on the byte of the lock file that
// the POSIX program locks too; under Wine it is a POSIX record lock on that
// byte, which the POSIX program's lock conflicts with.
#include "platform/Lock.h"

#include <utility>

#include "common/Error.h"
#include "platform/win32/Win32Support.h"

namespace qv::platform {

namespace {

using win32::FileHandle;
using win32::RaiseWin32;

// Below 2^31, the same byte that the POSIX program locks.
constexpr DWORD kLockedByte = 0x7FFFFFFE;

struct MutexTraits {
  using Handle = HANDLE;
  static Handle Empty() noexcept { return nullptr; }
  static void Close(Handle handle) noexcept {
    ::ReleaseMutex(handle);
    ::CloseHandle(handle);
  }
};
using OwnedMutex = win32::Unique<MutexTraits>;

}  // namespace

struct ExclusiveLock::Impl {
  OwnedMutex mutex;
  FileHandle file;  // released when closed
};

void Destroy(ExclusiveLock::Impl* impl) noexcept {
  delete impl;
}

ExclusiveLock ExclusiveLock::TakeRunLock(const std::string& tempFolder) {
  if (tempFolder.empty() || tempFolder.find('\0') != std::string::npos) {
    throw Error(err::kPathNotFound, "Path not found: no temporary folder for the run's lock");
  }
  // Local\ is the logon session's namespace; the temporary folder in the
  // name keeps another user started in the same session apart. A kernel
  // object's name cannot hold "\".
  std::string name = "Local\\QuorvaneInstallRun:" + tempFolder;
  for (size_t i = sizeof "Local\\" - 1; i < name.size(); ++i) {
    if (name[i] == '\\') name[i] = '/';
  }
  if (name.size() >= MAX_PATH) name.resize(MAX_PATH - 1);
  auto impl = MakeImpl<Impl>();
  HANDLE mutex = ::CreateMutexA(nullptr, FALSE, name.c_str());
  if (mutex == nullptr) RaiseWin32(::GetLastError(), "create the run's lock for", tempFolder);
  // WAIT_ABANDONED: the last owner died holding it; it is ours now.
  const DWORD waited = ::WaitForSingleObject(mutex, INFINITE);
  if (waited != WAIT_OBJECT_0 && waited != WAIT_ABANDONED) {
    const DWORD code = ::GetLastError();
    ::CloseHandle(mutex);
    RaiseWin32(code, "wait for the run's lock for", tempFolder);
  }
  impl->mutex.Reset(mutex);
  return ExclusiveLock(std::move(impl));
}

ExclusiveLock ExclusiveLock::TakeFileLock(const std::string& path) {
  constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  const std::string lockPath = path + ".lock";
  auto impl = MakeImpl<Impl>();
  // Open for writing where the file allows it: Wine locks a handle open for
  // reading only with a shared POSIX lock, which another Wine server
  // (another user's) would not see as a conflict.
  impl->file.Reset(::CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE, kShareAll, nullptr,
                                 OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!impl->file.Valid() && ::GetLastError() == ERROR_ACCESS_DENIED) {
    impl->file.Reset(::CreateFileA(lockPath.c_str(), GENERIC_READ, kShareAll, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    // Not there, and this user may not make it (a script below Program
    // Files, where an administrator's copy of the run makes it): the refusal
    // is what to tell, so that the run asks for the rights.
    if (!impl->file.Valid() && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
      RaiseWin32(ERROR_ACCESS_DENIED, "open for locking", lockPath);
    }
  }
  if (!impl->file.Valid()) RaiseWin32(::GetLastError(), "open for locking", lockPath);
  for (;;) {
    OVERLAPPED at{};
    at.Offset = kLockedByte;
    if (::LockFileEx(impl->file.Get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) break;
    const DWORD code = ::GetLastError();
    // Wine may answer a wait on a byte that a POSIX process holds with a
    // conflict instead of waiting: ask again a little later.
    if (code != ERROR_LOCK_VIOLATION && code != ERROR_IO_PENDING)
      RaiseWin32(code, "lock", lockPath);
    ::Sleep(20);
  }
  return ExclusiveLock(std::move(impl));
}

}  // namespace qv::platform
