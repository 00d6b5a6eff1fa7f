#include "platform/wine/PathMap.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string_view>
#include <vector>

#include "common/Text.h"
#include "platform/posix/PosixSupport.h"
#include "platform/wine/CodePage.h"
#include "platform/wine/WinePrefix.h"

namespace qv::platform::wine {

namespace {

bool EntryExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

bool IsDriveLetter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

std::string CurrentFolder() {
  std::vector<char> buffer(PATH_MAX);
  for (;;) {
    if (::getcwd(buffer.data(), buffer.size()) != nullptr) return std::string(buffer.data());
    if (errno != ERANGE || buffer.size() > (1u << 20)) return "/";
    buffer.resize(buffer.size() * 2);
  }
}

// The folder a drive letter stands for. Wine keeps one symbolic link per
// drive in dosdevices; resolving it here gives paths that name the real
// folders, so "C:\" itself lists as a folder and not as a link, and
// messages show where a file really is.
std::string DriveFolder(char letter) {
  std::string link = WinePrefixFolder() + "/dosdevices/";
  link += text::ToLowerAscii(letter);
  link += ':';
  return posix::RealPathOr(link);  // a missing drive: fails where it is used
}

// An entry of `folder` whose name equals `name` but for case, or nothing.
std::optional<std::string> FindIgnoringCase(const std::string& folder, const std::string& name) {
  const posix::UniqueFolderListing dir(::opendir(folder.empty() ? "/" : folder.c_str()));
  if (!dir.Valid()) return std::nullopt;
  std::optional<std::string> best;
  while (const dirent* entry = ::readdir(dir.Get())) {
    std::string_view candidate(entry->d_name);
    if (!text::EqualsIgnoreCase(candidate, name)) continue;
    // Several spellings can live side by side on a case-sensitive file
    // system; take the smallest so every run picks the same one.
    if (!best || candidate < *best) best = std::string(candidate);
  }
  return best;
}

}  // namespace

std::string ToNativePath(const std::string& path) {
  if (path.empty()) return {};
  std::string slashed = path;
  for (char& c : slashed) {
    if (c == '\\') c = '/';
  }
  const bool trailingSeparator = slashed.back() == '/';

  // The part already known to be native and existing, and the rest to map.
  std::string base;
  std::string_view rest(slashed);
  const bool windowsForm = slashed.size() >= 2 && slashed[1] == ':' && IsDriveLetter(slashed[0]);
  if (windowsForm) {
    base = DriveFolder(slashed[0]);
    rest.remove_prefix(2);
  } else if (slashed.front() == '/') {
    base = "";  // the root: components are appended as "/name"
  } else {
    base = CurrentFolder();
  }
  base = posix::TrimTrailingSeparators(std::move(base));
  if (base == "/") base.clear();

  // Fast path: when the whole path exists as written there is nothing to
  // look up, which is by far the common case.
  std::string result = base;
  std::vector<std::string> components = posix::SplitPath(rest, '/');
  if (windowsForm) {
    // The game's ANSI text is code page 1252, as Wine gives it to Windows
    // programs, while Wine names the files on the host in UTF-8: the
    // trademark sign of a folder the game made is byte 0x99 to the game and
    // E2 84 A2 here. A component that is UTF-8 already (a name that a
    // listing gave, or one made from UTF-16) is taken as it is.
    for (std::string& component : components) {
      if (!IsUtf8(component)) component = AnsiToUtf8(component);
    }
  }
  for (const std::string& component : components) result += "/" + component;
  if (result.empty()) result = "/";
  if (!EntryExists(result)) {
    result = base;
    bool lookingUp = true;
    for (const std::string& component : components) {
      std::string next = result;
      next += '/';
      next += component;
      if (lookingUp && component != "." && component != ".." && !EntryExists(next)) {
        if (auto other = FindIgnoringCase(result, component)) {
          next = result + "/" + *other;
        } else {
          // Nothing below a missing entry can exist; keep the spelling of
          // the rest so new files and folders get the names asked for.
          lookingUp = false;
        }
      }
      result = std::move(next);
    }
    if (result.empty()) result = "/";
  }
  if (trailingSeparator && result.back() != '/') result += '/';
  return result;
}

}  // namespace qv::platform::wine
