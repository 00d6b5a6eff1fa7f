// Shared by the POSIX implementation files and the Wine prefix reading
// (wine/): owned descriptors, streams and folder listings, small files,
// paths, and the mapping of errno values onto the installer's error
// numbers. The environment is platform::GetEnvironment (Process.h).
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/UniqueHandle.h"

namespace qv::platform::posix {

// A file descriptor: open() gives -1 on failure.
struct FdTraits {
  using Handle = int;
  static Handle Empty() noexcept { return -1; }
  static void Close(Handle fd) noexcept { ::close(fd); }
};
using UniqueFd = Unique<FdTraits>;

// A stdio stream.
struct StreamTraits {
  using Handle = std::FILE*;
  static Handle Empty() noexcept { return nullptr; }
  static void Close(Handle stream) noexcept { std::fclose(stream); }
};
using UniqueStream = Unique<StreamTraits>;

// A folder listing, ended with closedir.
struct FolderListingTraits {
  using Handle = DIR*;
  static Handle Empty() noexcept { return nullptr; }
  static void Close(Handle listing) noexcept { ::closedir(listing); }
};
using UniqueFolderListing = Unique<FolderListingTraits>;

// Whether `path` is a folder, or a regular file (symbolic links followed).
bool IsFolder(const std::string& path);
bool IsFile(const std::string& path);

// The content of a small file; nothing when it is missing, unreadable, no
// regular file (a named pipe would block) or larger than `largest` bytes:
// other programs' files are read whatever they hold.
std::optional<std::string> ReadSmallFile(const std::string& path, size_t largest);

// `path` without the separators it ends with (any of `separators`); a path
// of separators alone keeps its first one, the root.
std::string TrimTrailingSeparators(std::string path, std::string_view separators = "/");

// The components of `path` between `separator`s; empty ones (a doubled or
// trailing separator) are dropped, as they name the same entry.
std::vector<std::string> SplitPath(std::string_view path, char separator);

// The folder that holds `native`: "." for a bare name, "/" for an entry of
// the root.
std::string ParentOf(const std::string& native);

// `path` with every symbolic link resolved, or as it is when that fails (a
// missing entry, a loop).
std::string RealPathOr(const std::string& path);

// What a failed call was asked to work on.
enum class PathKind { kFile, kFolder };

// The installer's error number for the errno value of a failed call on
// `native`. A missing file is "file not found" only when its folder is
// there; otherwise, and for a path through a file, the path itself is wrong
// ("path not found"), as Windows tells the two apart.
int32_t NumberForErrno(int code, PathKind kind, const std::string& native);

}  // namespace qv::platform::posix
