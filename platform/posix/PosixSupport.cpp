#include "platform/posix/PosixSupport.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <memory>

#include "common/Error.h"

namespace qv::platform::posix {

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool IsFile(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

std::optional<std::string> ReadSmallFile(const std::string& path, size_t largest) {
  if (!IsFile(path)) return std::nullopt;
  const UniqueStream file(std::fopen(path.c_str(), "rb"));
  if (!file.Valid()) return std::nullopt;
  std::string content;
  char chunk[8192];
  size_t got = 0;
  while ((got = std::fread(chunk, 1, sizeof chunk, file.Get())) > 0) {
    if (content.size() + got > largest) return std::nullopt;
    content.append(chunk, got);
  }
  return content;
}

std::string TrimTrailingSeparators(std::string path, std::string_view separators) {
  while (path.size() > 1 && separators.find(path.back()) != std::string_view::npos) {
    path.pop_back();
  }
  return path;
}

std::vector<std::string> SplitPath(std::string_view path, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(separator, start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.emplace_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::string ParentOf(const std::string& native) {
  const std::string trimmed = TrimTrailingSeparators(native);
  const size_t slash = trimmed.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return trimmed.substr(0, slash);
}

std::string RealPathOr(const std::string& path) {
  struct Free {
    void operator()(char* text) const noexcept { std::free(text); }
  };
  const std::unique_ptr<char, Free> resolved(::realpath(path.c_str(), nullptr));
  return resolved ? std::string(resolved.get()) : path;
}

int32_t NumberForErrno(int code, PathKind kind, const std::string& native) {
  switch (code) {
    case ENOENT:
    case ENOTDIR:
      if (kind == PathKind::kFile && code == ENOENT && IsFolder(ParentOf(native))) {
        return err::kFileNotFound;
      }
      return err::kPathNotFound;
    case EACCES:
    case EPERM:
      return err::kPermissionDenied;
    // A read-only medium or mount: no one's rights would let the write
    // through, so it must not read as "permission denied".
    case EROFS:
      return err::kPathFileAccess;
    case EEXIST:
      return err::kFileExists;
    case ENOSPC:
    case EDQUOT:
      return err::kDiskFull;
    case EIO:
      return err::kDeviceIo;
    default:
      return err::kPathFileAccess;
  }
}

}  // namespace qv::platform::posix
