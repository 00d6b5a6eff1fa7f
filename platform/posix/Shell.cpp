// The shell's special folders on POSIX. The documents folder is the one the
// game running under Wine uses, so that content lands where the game looks:
//  1. the "Personal" shell folder that Wine recorded in the prefix's user.reg
//     (Windows form, e.g. "C:\users\me\Documents");
//  2. else the prefix's own drive_c/users/<user>/Documents, when it exists;
//  3. else the desktop's documents folder (XDG user dirs), else ~/Documents.

#include "platform/Shell.h"

#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/Process.h"
#include "platform/Registry.h"
#include "platform/posix/PosixSupport.h"
#include "platform/wine/WinePrefix.h"

namespace qv::platform {

struct ItemIdList::Impl {
  std::string path;
};

void Destroy(ItemIdList::Impl* impl) noexcept {
  delete impl;
}

namespace {

// A user-dirs.dirs holds a dozen short lines.
constexpr size_t kLargestUserDirsFile = size_t{1} << 20;

std::string StripTrailingSeparators(std::string path) {
  path = posix::TrimTrailingSeparators(std::move(path), "/\\");
  // "C:\" keeps its backslash: without it the path means the current folder
  // of drive C.
  if (path.size() == 2 && path[1] == ':') path += '\\';
  return path;
}

std::optional<std::string> FromWineShellFolders() {
  RegistryKey key;
  if (RegOpenKeyExA(kHkeyCurrentUser,
                    "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders", 0,
                    kKeyRead, key) != kErrorSuccess) {
    return std::nullopt;
  }
  uint32_t type = 0;
  uint32_t size = 0;
  if (RegQueryValueExA(key, "Personal", &type, nullptr, &size) != kErrorSuccess ||
      (type != kRegSz && type != kRegExpandSz) || size < 2) {
    return std::nullopt;
  }
  std::string data(size, '\0');
  if (RegQueryValueExA(key, "Personal", &type, reinterpret_cast<uint8_t*>(data.data()), &size) !=
      kErrorSuccess) {
    return std::nullopt;
  }
  data.resize(std::strlen(data.c_str()));
  if (data.empty()) return std::nullopt;
  return StripTrailingSeparators(data);
}

std::optional<std::string> FromPrefixUsers() {
  const std::string user = wine::UserName();
  if (user.empty()) return std::nullopt;
  const std::string folder = wine::WinePrefixFolder() + "/drive_c/users/" + user + "/Documents";
  if (!posix::IsFolder(folder)) return std::nullopt;
  return folder;
}

// The folder that one line of a user-dirs.dirs file names as
// XDG_DOCUMENTS_DIR: a shell-quoted "$HOME/..." or absolute path. Anything
// else is ignored, as xdg-user-dirs itself does.
std::optional<std::string> DocumentsDirIn(std::string_view line, const std::string& home) {
  size_t pos = line.find_first_not_of(" \t");
  const std::string_view key = "XDG_DOCUMENTS_DIR=\"";
  if (pos == std::string_view::npos || line.substr(pos, key.size()) != key) return std::nullopt;
  std::string value;
  for (pos += key.size(); pos < line.size() && line[pos] != '"'; ++pos) {
    if (line[pos] == '\\' && pos + 1 < line.size()) ++pos;
    value += line[pos];
  }
  if (pos >= line.size()) return std::nullopt;  // not closed
  if (value.compare(0, 6, "$HOME/") == 0 || value == "$HOME") {
    if (home.empty()) return std::nullopt;
    return StripTrailingSeparators(home + value.substr(5));
  }
  if (!value.empty() && value[0] == '/') return StripTrailingSeparators(value);
  return std::nullopt;
}

// The documents folder of a user-dirs.dirs file; its last line that names
// one counts.
std::optional<std::string> FromUserDirsFile(const std::string& file, const std::string& home) {
  const std::optional<std::string> content = posix::ReadSmallFile(file, kLargestUserDirsFile);
  if (!content) return std::nullopt;
  std::optional<std::string> result;
  const std::string_view text(*content);
  for (size_t start = 0; start <= text.size();) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    if (auto folder = DocumentsDirIn(text.substr(start, end - start), home)) result = folder;
    start = end + 1;
  }
  return result;
}

std::optional<std::string> FromXdg() {
  const std::string home = wine::HomeFolder();
  std::string config = GetEnvironment("XDG_CONFIG_HOME");
  if (config.empty() || config[0] != '/') {
    if (home.empty()) return std::nullopt;
    config = home + "/.config";
  }
  if (auto folder = FromUserDirsFile(config + "/user-dirs.dirs", home)) return folder;
  if (home.empty()) return std::nullopt;
  return StripTrailingSeparators(home + "/Documents");
}

std::optional<std::string> DocumentsFolder() {
  if (auto folder = FromWineShellFolders()) return folder;
  if (auto folder = FromPrefixUsers()) return folder;
  return FromXdg();
}

}  // namespace

int32_t SHGetSpecialFolderLocation(void* /*owner*/, int32_t folder, ItemIdList& result) {
  result.Reset(nullptr);
  if (folder != kCsidlPersonal) return kEFail;
  std::optional<std::string> path = DocumentsFolder();
  if (!path) return kEFail;
  auto impl = MakeImpl<ItemIdList::Impl>();
  impl->path = std::move(*path);
  result.Reset(std::move(impl));
  return kSOk;
}

bool SHGetPathFromIDListA(const ItemIdList& list, char* buffer, uint32_t bufferSize) {
  if (list.impl() == nullptr || buffer == nullptr) return false;
  const std::string& path = list.impl()->path;
  if (path.size() >= bufferSize) return false;
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  return true;
}

}  // namespace qv::platform
