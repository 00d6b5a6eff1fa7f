// Windows file access for the library, through the ANSI calls.
//
// Every folder below the extraction folder is opened and held open while it
// is used, without FILE_SHARE_DELETE: nobody can rename it, delete it or
// swap it for a junction while files are written into it, so the path built
// from its components keeps naming the folder that was checked. A component
// that is a reparse point (a junction or a symbolic link) is refused, never
// followed.
#include <windows.h>

#include <string>

#include "FileIO.h"

namespace unzip32::fileio {

namespace {

HANDLE H(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// CreateFileA gives INVALID_HANDLE_VALUE, which is -1 as an integer: the
// same "no handle" value the classes use.
intptr_t I(HANDLE handle) {
  return reinterpret_cast<intptr_t>(handle);
}

std::string SystemText(DWORD code) {
  char* text = nullptr;
  const DWORD length = ::FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string message = length > 0 && text != nullptr ? std::string(text, length) : std::string();
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == '\r' || message.back() == '\n' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "error " + std::to_string(code) : message;
}

void Fail(Failure& failure, const std::string& what, DWORD code) {
  failure.text = what + ": " + SystemText(code);
}

std::string Join(const std::string& folder, const std::string& name) {
  if (folder.empty() || folder.back() == '\\' || folder.back() == '/') return folder + name;
  return folder + "\\" + name;
}

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// Opens a folder itself (not a junction's target) and keeps it from being
// renamed or removed while the handle is open.
HANDLE OpenFolderHandle(const std::string& path) {
  return ::CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                       FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// 100-nanosecond intervals between 1601-01-01 and 1970-01-01.
constexpr int64_t kEpochDifference = 116444736000000000LL;

int64_t FileTimeToUnix(const FILETIME& time) {
  const int64_t ticks =
      static_cast<int64_t>((static_cast<uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime);
  return (ticks - kEpochDifference) / 10000000LL;
}

FILETIME UnixToFileTime(int64_t seconds) {
  const uint64_t ticks = static_cast<uint64_t>(seconds * 10000000LL + kEpochDifference);
  FILETIME time{};
  time.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
  time.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
  return time;
}

}  // namespace

bool ArchiveFile::Open(const std::string& path, Failure& failure) {
  HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    Fail(failure, "cannot open " + path, ::GetLastError());
    return false;
  }
  LARGE_INTEGER size{};
  // A device ("CON", a pipe) is no archive, even when it opens.
  if (::GetFileType(file) != FILE_TYPE_DISK || !::GetFileSizeEx(file, &size) || size.QuadPart < 0) {
    ::CloseHandle(file);
    failure.text = "not a regular file: " + path;
    return false;
  }
  handle_ = I(file);
  size_ = static_cast<uint64_t>(size.QuadPart);
  return true;
}

int64_t ReadSome(intptr_t handle, uint64_t offset, char* buffer, size_t length, Failure& failure) {
  // The offset travels in the OVERLAPPED record; on a handle opened for
  // synchronous access the read still completes before ReadFile returns.
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  const DWORD want = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
  DWORD got = 0;
  if (!::ReadFile(H(handle), buffer, want, &got, &at)) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_HANDLE_EOF) return 0;
    Fail(failure, "cannot read the archive", code);
    return -1;
  }
  return got;
}

void CloseHandleOf(intptr_t handle) {
  if (handle != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle));
}

bool OpenRootFolder(const std::string& path, Folder& folder, Failure& failure) {
  if (path.empty()) {
    failure.text = "no extraction folder";
    return false;
  }
  // Create missing parents first. Prefixes that cannot be created (the drive
  // "C:", a share "\\server\share") are skipped: only the folder itself has
  // to open in the end.
  DWORD lastError = ERROR_SUCCESS;
  for (size_t i = 1; i < path.size(); ++i) {
    if (!IsSeparator(path[i]) || IsSeparator(path[i - 1])) continue;
    const std::string prefix = path.substr(0, i);
    if (prefix.size() == 2 && prefix[1] == ':') continue;
    if (!::CreateDirectoryA(prefix.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
      lastError = ::GetLastError();
    }
  }
  if (!::CreateDirectoryA(path.c_str(), nullptr)) {
    const DWORD code = ::GetLastError();
    if (code != ERROR_ALREADY_EXISTS) lastError = code;
  }
  // The caller's own path may run through links; only what is created
  // below it is held to the stricter rule.
  HANDLE handle = ::CreateFileA(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    const DWORD code = ::GetLastError();
    Fail(failure, "cannot create folder " + path, lastError != ERROR_SUCCESS ? lastError : code);
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    ::CloseHandle(handle);
    failure.text = "not a folder: " + path;
    return false;
  }
  FolderAccess::Set(folder, I(handle), path);
  return true;
}

bool OpenSubfolder(const Folder& parent, const std::string& name, bool create, Folder& folder,
                   Failure& failure) {
  const std::string path = Join(parent.Path(), name);
  if (create && !::CreateDirectoryA(path.c_str(), nullptr) &&
      ::GetLastError() != ERROR_ALREADY_EXISTS) {
    Fail(failure, "cannot create folder " + path, ::GetLastError());
    return false;
  }
  HANDLE handle = OpenFolderHandle(path);
  if (handle == INVALID_HANDLE_VALUE) {
    Fail(failure, "cannot open folder " + path, ::GetLastError());
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) {
    const DWORD code = ::GetLastError();
    ::CloseHandle(handle);
    Fail(failure, "cannot open folder " + path, code);
    return false;
  }
  // Under Wine the handle is the link's target whatever the flags say, and
  // only the name shows the link. Asked once the handle is held, the name
  // cannot be swapped between the two answers.
  const DWORD named = ::GetFileAttributesA(path.c_str());
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
      (named != INVALID_FILE_ATTRIBUTES && (named & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
    ::CloseHandle(handle);
    failure.text = "refusing to follow the link " + path;
    return false;
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    ::CloseHandle(handle);
    failure.text = "cannot open folder " + path + ": a file of that name exists";
    return false;
  }
  FolderAccess::Set(folder, I(handle), path);
  return true;
}

NodeInfo Inspect(const Folder& folder, const std::string& name) {
  NodeInfo result;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExA(Join(folder.Path(), name).c_str(), GetFileExInfoStandard, &data)) {
    return result;
  }
  if ((data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    result.kind = NodeKind::Link;
  } else if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    result.kind = NodeKind::Folder;
  } else if ((data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) {
    result.kind = NodeKind::Other;
  } else {
    result.kind = NodeKind::File;
  }
  result.modified = FileTimeToUnix(data.ftLastWriteTime);
  return result;
}

uint64_t ProcessId() {
  return ::GetCurrentProcessId();
}

NewFile CreateNewFile(const Folder& folder, const std::string& name, intptr_t& handle,
                      Failure& failure) {
  // CREATE_NEW never opens what is already there, a link included.
  HANDLE file = ::CreateFileA(Join(folder.Path(), name).c_str(), GENERIC_WRITE, 0, nullptr,
                              CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) {
    handle = I(file);
    return NewFile::kCreated;
  }
  const DWORD code = ::GetLastError();
  if (code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS) return NewFile::kNameTaken;
  Fail(failure, "cannot create a file in " + folder.Path(), code);
  return NewFile::kFailed;
}

bool OutputFile::Write(const void* data, size_t length, Failure& failure) {
  const auto* in = static_cast<const char*>(data);
  while (length > 0) {
    const DWORD chunk = length > 0x40000000u ? 0x40000000u : static_cast<DWORD>(length);
    DWORD put = 0;
    if (!::WriteFile(H(handle_), in, chunk, &put, nullptr) || put == 0) {
      Fail(failure, "cannot write in " + folder_->Path(), ::GetLastError());
      return false;
    }
    in += put;
    length -= put;
  }
  return true;
}

bool OutputFile::Finish(int64_t modified, int permissions, Failure& failure) {
  const FILETIME time = UnixToFileTime(modified);
  if (!::SetFileTime(H(handle_), nullptr, nullptr, &time)) {
    Fail(failure, "cannot set the time in " + folder_->Path(), ::GetLastError());
    return false;
  }
  HANDLE file = H(handle_);
  handle_ = -1;
  if (!::CloseHandle(file)) {
    Fail(failure, "cannot write in " + folder_->Path(), ::GetLastError());
    return false;
  }
  // Windows has one permission bit: read-only, for a file nobody may write.
  if (permissions >= 0 && (permissions & 0222) == 0 &&
      !::SetFileAttributesA(Join(folder_->Path(), tempName_).c_str(), FILE_ATTRIBUTE_READONLY)) {
    Fail(failure, "cannot set permissions in " + folder_->Path(), ::GetLastError());
    return false;
  }
  return true;
}

bool OutputFile::Commit(const std::string& name, Failure& failure) {
  const std::string target = Join(folder_->Path(), name);
  if (!::MoveFileExA(Join(folder_->Path(), tempName_).c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING)) {
    Fail(failure, "cannot write " + target, ::GetLastError());
    return false;
  }
  tempName_.clear();
  return true;
}

void RemoveTemporary(const Folder& folder, const std::string& name) {
  const std::string path = Join(folder.Path(), name);
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  ::DeleteFileA(path.c_str());
}

int64_t DosTimeToUnix(uint16_t dosDate, uint16_t dosTime) {
  FILETIME local{};
  // DosDateTimeToFileTime rejects a zero month or day; such stamps (written
  // by careless tools) are read as the first.
  uint16_t date = dosDate;
  if (((date >> 5) & 0x0f) == 0) date = static_cast<uint16_t>(date | (1u << 5));
  if ((date & 0x1f) == 0) date = static_cast<uint16_t>(date | 1u);
  if (!::DosDateTimeToFileTime(date, dosTime, &local)) return 0;
  // The stamp is local time; the conversion uses the rule in force on that
  // date, summer time included.
  SYSTEMTIME localParts{};
  SYSTEMTIME utcParts{};
  FILETIME utc{};
  if (!::FileTimeToSystemTime(&local, &localParts) ||
      !::TzSpecificLocalTimeToSystemTime(nullptr, &localParts, &utcParts) ||
      !::SystemTimeToFileTime(&utcParts, &utc)) {
    return 0;
  }
  return FileTimeToUnix(utc);
}

}  // namespace unzip32::fileio
