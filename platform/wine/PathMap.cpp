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

// The native folder that a path (with "/" separators) starts from, without
// a trailing slash: the drive's folder for "X:...", "" (the root, to which
// components are appended as "/name") for an absolute path, else the
// current folder.
std::string StartFolder(const std::string& slashed, bool windowsForm) {
  std::string base;
  if (windowsForm) {
    base = DriveFolder(slashed[0]);
  } else if (slashed.front() != '/') {
    base = CurrentFolder();
  }
  base = posix::TrimTrailingSeparators(std::move(base));
  if (base == "/") base.clear();
  return base;
}

// The components of the part after the start folder, as the host names them.
std::vector<std::string> HostComponents(std::string_view rest, bool windowsForm) {
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
  return components;
}

// `base` followed by the components as written.
std::string Joined(const std::string& base, const std::vector<std::string>& components) {
  std::string result = base;
  for (const std::string& component : components) result += "/" + component;
  return result.empty() ? "/" : result;
}

// `base` followed by the components, each in the case of an existing entry
// where one exists in another case only.
std::string JoinedInExistingCase(const std::string& base,
                                 const std::vector<std::string>& components) {
  std::string result = base;
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
  return result.empty() ? "/" : result;
}

}  // namespace

std::string ToNativePath(const std::string& path) {
  if (path.empty()) return {};
  std::string slashed = path;
  for (char& c : slashed) {
    if (c == '\\') c = '/';
  }
  const bool windowsForm = slashed.size() >= 2 && slashed[1] == ':' && IsDriveLetter(slashed[0]);
  const std::string base = StartFolder(slashed, windowsForm);
  const std::vector<std::string> components =
      HostComponents(std::string_view(slashed).substr(windowsForm ? 2 : 0), windowsForm);
  // Fast path: when the whole path exists as written there is nothing to
  // look up, which is by far the common case.
  std::string result = Joined(base, components);
  if (!EntryExists(result)) result = JoinedInExistingCase(base, components);
  if (slashed.back() == '/' && result.back() != '/') result += '/';
  return result;
}

}  // namespace qv::platform::wine
