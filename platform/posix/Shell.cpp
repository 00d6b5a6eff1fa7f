// The shell's special folders on POSIX. The documents folder is the one the
// game running under Wine uses, so that content lands where the game looks:
//  1. the "Personal" shell folder that Wine recorded in the prefix's user.reg
//     (Windows form, e.g. "C:\users\me\Documents");
//  2. else the prefix's own drive_c/users/<user>/Documents, when it exists;
//  3. else the desktop's documents folder (XDG user dirs), else ~/Documents.

#include "platform/Shell.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>

#include "platform/Registry.h"
#include "platform/wine/WinePrefix.h"

namespace qv::platform {

struct ItemIdList::Impl {
  std::string path;
};

ItemIdList::ItemIdList() = default;
ItemIdList::ItemIdList(ItemIdList&&) noexcept = default;
ItemIdList& ItemIdList::operator=(ItemIdList&&) noexcept = default;
ItemIdList::~ItemIdList() = default;

void ItemIdList::Reset(std::unique_ptr<Impl> impl) noexcept {
  impl_ = std::move(impl);
}

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

bool IsFolder(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string StripTrailingSeparators(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
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
  if (!IsFolder(folder)) return std::nullopt;
  return folder;
}

// The value of XDG_DOCUMENTS_DIR in a user-dirs.dirs file: a shell-quoted
// "$HOME/..." or absolute path. Anything else is ignored, as xdg-user-dirs
// itself does.
std::optional<std::string> FromUserDirsFile(const std::string& file, const std::string& home) {
  std::FILE* stream = std::fopen(file.c_str(), "rb");
  if (!stream) return std::nullopt;
  std::optional<std::string> result;
  std::string line;
  int c = 0;
  bool done = false;
  while (!done) {
    c = std::fgetc(stream);
    if (c != EOF && c != '\n') {
      line += static_cast<char>(c);
      continue;
    }
    done = c == EOF;
    size_t pos = line.find_first_not_of(" \t");
    const std::string_view key = "XDG_DOCUMENTS_DIR=\"";
    if (pos != std::string::npos && line.compare(pos, key.size(), key) == 0) {
      pos += key.size();
      std::string value;
      bool closed = false;
      for (; pos < line.size(); ++pos) {
        if (line[pos] == '"') {
          closed = true;
          break;
        }
        if (line[pos] == '\\' && pos + 1 < line.size()) ++pos;
        value += line[pos];
      }
      if (closed) {
        if (value.compare(0, 6, "$HOME/") == 0 || value == "$HOME") {
          if (!home.empty()) result = StripTrailingSeparators(home + value.substr(5));
        } else if (!value.empty() && value[0] == '/') {
          result = StripTrailingSeparators(value);
        }
      }
    }
    line.clear();
  }
  std::fclose(stream);
  return result;
}

std::optional<std::string> FromXdg() {
  const std::string home = wine::HomeFolder();
  std::string config = Env("XDG_CONFIG_HOME");
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
  auto impl = std::make_unique<ItemIdList::Impl>();
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
