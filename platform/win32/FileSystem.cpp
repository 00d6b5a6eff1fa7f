// The file system on Windows, through the ANSI calls. Paths are handed to
// the system as they come; the system resolves them.
#include "platform/FileSystem.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <utility>

#include "common/Error.h"
#include "platform/Listing.h"
#include "platform/win32/Win32Support.h"

namespace qv::platform {

namespace {

using fault::Operation;
using win32::CheckFault;
using win32::FileHandle;
using win32::FindHandle;
using win32::RaiseWin32;

// Only these bits mean something to the installer; Windows adds others
// (FILE_ATTRIBUTE_NORMAL 128, not-content-indexed...) that would make an
// ordinary file look unusual. The reparse-point bit stays: it is what tells
// a junction or a link from the folder or file it points at.
constexpr DWORD kKnownAttributes = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrVolume |
                                   kAttrDirectory | kAttrArchive | kAttrReparsePoint;

bool EndsWithSeparator(const std::string& path) {
  return !path.empty() && (path.back() == '\\' || path.back() == '/');
}

// FindFirstFileA answers "nothing there" in several ways, depending on
// whether the folder, the name or only the match is missing. A name that no
// entry can have (a file used as a folder, "a.txt\*", or characters that
// names cannot hold) names nothing either.
bool MeansNothingThere(DWORD code) {
  return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ||
         code == ERROR_NO_MORE_FILES || code == ERROR_INVALID_DRIVE || code == ERROR_DIRECTORY ||
         code == ERROR_INVALID_NAME || code == ERROR_BAD_PATHNAME;
}

}  // namespace

uint32_t GetTempPathA(uint32_t bufferLength, char* buffer) {
  return ::GetTempPathA(bufferLength, buffer);
}

std::string ListFirst(const std::string& path, uint32_t mask) {
  listing::Abandon();
  if (path.empty()) return {};
  const std::string searchPath = EndsWithSeparator(path) ? path + "*" : path;
  CheckFault(Operation::kList, "list", path);

  WIN32_FIND_DATAA data{};
  FindHandle search(::FindFirstFileA(searchPath.c_str(), &data));
  if (!search.Valid()) {
    const DWORD code = ::GetLastError();
    if (MeansNothingThere(code)) return {};
    RaiseWin32(code, "list", searchPath);
  }
  // The search is read to its end and closed at once: an open search
  // handle keeps its folder from being removed (by the next step of the
  // installer or by anyone else) for as long as the caller does not read to
  // the end, which a caller that stops at the first failure never does.
  std::vector<std::string> names;
  do {
    if (listing::Shows(data.dwFileAttributes, mask)) names.emplace_back(data.cFileName);
  } while (::FindNextFileA(search.Get(), &data));
  const DWORD code = ::GetLastError();
  if (code != ERROR_NO_MORE_FILES) RaiseWin32(code, "list", searchPath);
  return listing::Start(std::move(names));
}

uint32_t GetAttributes(const std::string& path) {
  CheckFault(Operation::kGetAttributes, "read the attributes of", path);
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    RaiseWin32(::GetLastError(), "read the attributes of", path);
  }
  return attributes & kKnownAttributes;
}

void SetAttributes(const std::string& path, uint32_t attributes) {
  CheckFault(Operation::kSetAttributes, "set the attributes of", path);
  // A link's bits are not the installer's to change, and under Wine the
  // call changes the link's target, which may lie anywhere: leave links
  // alone.
  const DWORD current = ::GetFileAttributesA(path.c_str());
  if (current != INVALID_FILE_ATTRIBUTES && (current & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return;
  // FILE_ATTRIBUTE_NORMAL is how the call spells "no bit set".
  const DWORD value = attributes == kAttrNormal ? FILE_ATTRIBUTE_NORMAL : attributes;
  if (!::SetFileAttributesA(path.c_str(), value)) {
    RaiseWin32(::GetLastError(), "set the attributes of", path);
  }
}

void RemoveFile(const std::string& path) {
  CheckFault(Operation::kRemoveFile, "delete", path);
  if (!::DeleteFileA(path.c_str())) RaiseWin32(::GetLastError(), "delete", path);
}

void RemoveFolder(const std::string& path) {
  CheckFault(Operation::kRemoveFolder, "remove folder", path);
  if (!::RemoveDirectoryA(path.c_str())) RaiseWin32(::GetLastError(), "remove folder", path);
}

void CreateFolder(const std::string& path) {
  CheckFault(Operation::kCreateFolder, "create folder", path);
  if (::CreateDirectoryA(path.c_str(), nullptr)) return;
  const DWORD code = ::GetLastError();
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  if (code == ERROR_ALREADY_EXISTS && attributes != INVALID_FILE_ATTRIBUTES &&
      (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return;
  }
  RaiseWin32(code, "create folder", path);
}

std::string FolderPathBelow(const std::string& parent, std::u16string_view name) {
  const auto* wideName = reinterpret_cast<const wchar_t*>(name.data());
  const int length = static_cast<int>(name.size());
  BOOL lossy = FALSE;
  const int size = ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wideName, length, nullptr, 0,
                                         nullptr, &lossy);
  std::string ansi(static_cast<size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) {
    ::WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wideName, length, ansi.data(), size,
                          nullptr, &lossy);
  }
  if (!lossy) return parent + "\\" + ansi;
  // The ANSI calls cannot name this folder ("The Sims(TM) 2 Ultimate
  // Collection" on a system whose code page has no trademark sign). Its
  // short name can: it is made of ASCII alone. A folder has a short name
  // only once it exists, so it is made here.
  const int parentLength = ::MultiByteToWideChar(CP_ACP, 0, parent.c_str(), -1, nullptr, 0);
  std::wstring wide(static_cast<size_t>(parentLength > 0 ? parentLength : 1), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, parent.c_str(), -1, wide.data(), parentLength);
  wide.resize(std::wcslen(wide.c_str()));
  wide += L'\\';
  wide.append(wideName, name.size());
  if (!::CreateDirectoryW(wide.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    RaiseWin32(::GetLastError(), "create folder", parent + "\\" + ansi);
  }
  std::wstring shortPath(MAX_PATH, L'\0');
  const DWORD shortLength =
      ::GetShortPathNameW(wide.c_str(), shortPath.data(), static_cast<DWORD>(shortPath.size()));
  shortPath.resize(shortLength < shortPath.size() ? shortLength : 0);
  const size_t separator = shortPath.find_last_of(L'\\');
  const std::wstring shortName =
      separator == std::wstring::npos ? std::wstring() : shortPath.substr(separator + 1);
  // Volumes without short names give the long name back, which still does
  // not convert: then no ANSI path names the folder.
  const bool ascii = !shortName.empty() && std::all_of(shortName.begin(), shortName.end(),
                                                       [](wchar_t c) { return c < 0x80; });
  if (!ascii) {
    throw Error(err::kBadFileName,
                "cannot name the folder '" + parent + "\\" + ansi +
                    "': its name has characters that this system's code page lacks, and the "
                    "volume gives it no short name");
  }
  return parent + "\\" + std::string(shortName.begin(), shortName.end());
}

void CopyFileReplacing(const std::string& source, const std::string& target) {
  CheckFault(Operation::kCopy, "copy to", target);
  // CopyFileA writes into the target as it goes, so a copy cut short (a
  // full disk, the process killed) would leave a truncated package. The
  // copy goes to a fresh name beside the target instead and is renamed
  // over it once whole; a replaced read-only target still refuses, as
  // CopyFileA's own overwrite does.
  const size_t separator = target.find_last_of("\\/");
  const std::string folder = separator == std::string::npos ? "." : target.substr(0, separator);
  std::string temporary;
  File::CreateTemporaryIn(folder, temporary).Close();
  if (!::CopyFileA(source.c_str(), temporary.c_str(), FALSE)) {
    const DWORD code = ::GetLastError();
    ::DeleteFileA(temporary.c_str());
    // Name the side that failed: a missing source is the usual mistake.
    if (::GetFileAttributesA(source.c_str()) == INVALID_FILE_ATTRIBUTES) {
      RaiseWin32(code, "copy", source);
    }
    RaiseWin32(code, "copy to", target);
  }
  if (!::MoveFileExA(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING)) {
    const DWORD code = ::GetLastError();
    // The copy keeps the source's read-only bit, which would refuse the delete.
    ::SetFileAttributesA(temporary.c_str(), FILE_ATTRIBUTE_NORMAL);
    ::DeleteFileA(temporary.c_str());
    RaiseWin32(code, "copy to", target);
  }
}

std::vector<FolderEntry> ReadFolder(const std::string& folder) {
  CheckFault(Operation::kList, "list folder", folder);
  const std::string searchPath = EndsWithSeparator(folder) ? folder + "*" : folder + "\\*";
  WIN32_FIND_DATAA data{};
  FindHandle search(::FindFirstFileA(searchPath.c_str(), &data));
  std::vector<FolderEntry> entries;
  if (!search.Valid()) {
    const DWORD code = ::GetLastError();
    // An existing empty drive root has no entries at all, not even "." and "..".
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_NO_MORE_FILES) {
      const DWORD attributes = ::GetFileAttributesA(folder.c_str());
      if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        return entries;
      }
    }
    RaiseWin32(MeansNothingThere(code) ? static_cast<DWORD>(ERROR_PATH_NOT_FOUND) : code,
               "list folder", folder);
  }
  do {
    const std::string name = data.cFileName;
    if (name != "." && name != "..") {
      entries.push_back(FolderEntry{name, data.dwFileAttributes & kKnownAttributes});
    }
  } while (::FindNextFileA(search.Get(), &data));
  const DWORD code = ::GetLastError();
  if (code != ERROR_NO_MORE_FILES) RaiseWin32(code, "list folder", folder);
  return entries;
}

// ---------------------------------------------------------------------------
// File

struct File::Impl {
  FileHandle handle;
  std::string path;
};

void Destroy(File::Impl* impl) noexcept {
  delete impl;
}

namespace {

using FilePtr = ImplPtr<File::Impl>;

File::Impl& Opened(const FilePtr& impl) {
  if (!impl || !impl->handle.Valid()) {
    throw Error(err::kBadFileName, "Bad file name or number: the file is not open");
  }
  return *impl;
}

FilePtr Open(const std::string& path, DWORD access, DWORD share, DWORD disposition,
             const char* action) {
  auto impl = MakeImpl<File::Impl>();
  impl->path = path;
  impl->handle.Reset(::CreateFileA(path.c_str(), access, share, nullptr, disposition,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!impl->handle.Valid()) {
    const DWORD code = ::GetLastError();
    // Opening a folder as a file fails with "access denied"; say what it is.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      throw Error(err::kPathFileAccess,
                  err::FileErrorText(err::kPathFileAccess, action, path, "it is a folder"));
    }
    RaiseWin32(code, action, path);
  }
  return impl;
}

// Distinct names for the temporary files of one process.
std::atomic<unsigned> temporaryCounter{0};

}  // namespace

File File::OpenRead(const std::string& path) {
  CheckFault(Operation::kOpenRead, "open", path);
  return File(Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, "open"));
}

File File::CreateWrite(const std::string& path) {
  CheckFault(Operation::kCreateWrite, "create", path);
  return File(Open(path, GENERIC_WRITE, FILE_SHARE_READ, CREATE_ALWAYS, "create"));
}

File File::CreateTemporaryIn(const std::string& folder, std::string& path) {
  CheckFault(Operation::kCreateWrite, "create a file in", folder);
  const std::string prefix = EndsWithSeparator(folder) ? folder : folder + "\\";
  // CREATE_NEW never opens a file that is already there, so a name taken
  // by another process (or a leftover of a crash) only costs a retry. The
  // file is not made hidden: the attribute would travel with it onto the
  // target when it replaces one.
  for (int attempt = 0;; ++attempt) {
    const unsigned serial = temporaryCounter.fetch_add(1);
    char name[64];
    std::snprintf(name, sizeof name, ".qv-%08lx-%04x.tmp",
                  static_cast<unsigned long>(::GetCurrentProcessId()), serial & 0xFFFFu);
    const std::string candidate = prefix + name;
    auto impl = MakeImpl<Impl>();
    impl->path = candidate;
    impl->handle.Reset(::CreateFileA(candidate.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                     CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (impl->handle.Valid()) {
      path = candidate;
      return File(std::move(impl));
    }
    const DWORD code = ::GetLastError();
    if ((code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS) || attempt >= 1000) {
      RaiseWin32(code, "create a file in", folder);
    }
  }
}

size_t File::Read(void* data, size_t size) {
  Impl& impl = Opened(impl_);
  DWORD got = 0;
  const DWORD want = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
  if (!::ReadFile(impl.handle.Get(), data, want, &got, nullptr)) {
    RaiseWin32(::GetLastError(), "read", impl.path);
  }
  return got;
}

void File::Write(const void* data, size_t size) {
  Impl& impl = Opened(impl_);
  CheckFault(Operation::kWrite, "write", impl.path);
  const char* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const DWORD chunk = size > 0x40000000u ? 0x40000000u : static_cast<DWORD>(size);
    DWORD put = 0;
    if (!::WriteFile(impl.handle.Get(), bytes, chunk, &put, nullptr)) {
      RaiseWin32(::GetLastError(), "write", impl.path);
    }
    if (put == 0) RaiseWin32(ERROR_WRITE_FAULT, "write", impl.path);
    bytes += put;
    size -= put;
  }
}

void File::Flush() {
  Impl& impl = Opened(impl_);
  if (!::FlushFileBuffers(impl.handle.Get())) RaiseWin32(::GetLastError(), "write", impl.path);
}

void File::Close() {
  if (!impl_ || !impl_->handle.Valid()) return;
  const HANDLE handle = impl_->handle.Release();
  if (!::CloseHandle(handle)) RaiseWin32(::GetLastError(), "write", impl_->path);
}

bool IsTemporaryName(const std::string& name) {
  // ".qv-PPPPPPPP-SSSS.tmp": the process id and a serial, in hexadecimal,
  // as CreateTemporaryIn writes them.
  constexpr size_t kLength = sizeof ".qv-00000000-0000.tmp" - 1;
  if (name.size() != kLength || name.compare(0, 4, ".qv-") != 0 || name[12] != '-' ||
      name.compare(kLength - 4, 4, ".tmp") != 0) {
    return false;
  }
  for (size_t i = 4; i < kLength - 4; ++i) {
    if (i == 12) continue;
    const char c = name[i];
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

bool RemoveAbandonedTemporary(const std::string& path) {
  CheckFault(Operation::kRemoveFile, "delete", path);
  if (::DeleteFileA(path.c_str())) return true;
  const DWORD code = ::GetLastError();
  // Open in a writer that shares no deletion: still being written.
  if (code == ERROR_SHARING_VIOLATION || code == ERROR_FILE_NOT_FOUND) return false;
  RaiseWin32(code, "delete", path);
}

void ReplaceFileAtomically(const std::string& replacement, const std::string& target) {
  CheckFault(Operation::kReplace, "replace", target);
  // One rename on the same volume: the target is the old file or the new
  // one, never a mix; WRITE_THROUGH returns only once the rename is on disk.
  if (!::MoveFileExA(replacement.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    RaiseWin32(::GetLastError(), "replace", target);
  }
}

}  // namespace qv::platform
