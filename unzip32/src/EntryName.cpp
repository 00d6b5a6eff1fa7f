#include "EntryName.h"

#include <array>

#include "AsciiCase.h"

namespace unzip32 {
namespace {

bool IsSeparator(char c) {
  return c == '/' || c == '\\';
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  }
  return true;
}

// Windows opens a device instead of a file for these base names, whatever the
// extension ("nul.txt" is the null device).
bool IsDeviceName(std::string_view component) {
  std::string_view base = component.substr(0, component.find('.'));
  static constexpr std::array<std::string_view, 4> kPlain = {"CON", "PRN", "AUX", "NUL"};
  for (auto name : kPlain) {
    if (EqualsNoCase(base, name)) return true;
  }
  if (base.size() == 4 &&
      (EqualsNoCase(base.substr(0, 3), "COM") || EqualsNoCase(base.substr(0, 3), "LPT"))) {
    return base[3] >= '1' && base[3] <= '9';
  }
  return false;
}

// Empty when the component may be written, else the reason it may not.
std::string_view CheckComponent(std::string_view component) {
  if (component.empty()) return "empty name";
  if (component == "..") return "\"..\" component";
  if (component == ".") return "\".\" as a name";
  bool onlyDotsAndSpaces = true;
  for (char c : component) {
    if (c != '.' && c != ' ') onlyDotsAndSpaces = false;
    switch (c) {
      case ':':
        return "drive letter or stream name";
      case '<':
      case '>':
      case '"':
      case '|':
      case '?':
      case '*':
        return "character not allowed in file names";
      default:
        break;
    }
  }
  // Windows strips trailing dots and spaces, so ".. " would become "..".
  if (onlyDotsAndSpaces) return "name made of dots and spaces";
  if (component.back() == '.' || component.back() == ' ') return "name ends in a dot or a space";
  if (IsDeviceName(component)) return "device name";
  return {};
}

// macOS's Archive Utility stores each file's resource fork and extended
// attributes as an AppleDouble file "._<name>" below a folder "__MACOSX" at
// the top of the archive. They are no files of the archive's author: where
// dot-files show (Windows), "._oak.package" beside "oak.package" would be
// taken for a second package. Any folder of that name counts, at any depth,
// so that an archive repacked into a subfolder loses them too.
bool BelowMacMetadataFolder(std::string_view name) {
  constexpr std::string_view kFolder = "__MACOSX";
  size_t start = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    if (!IsSeparator(name[i])) continue;
    if (name.substr(start, i - start) == kFolder) return true;
    start = i + 1;
  }
  return false;
}

CleanName Refuse(std::string_view reason) {
  CleanName result;
  result.kind = NameKind::Refused;
  result.reason = reason;
  return result;
}

}  // namespace

CleanName CleanEntryName(std::string_view name, bool honorDirectories) {
  if (name.empty()) return Refuse("empty name");
  // Nothing is written for these, so no name rule needs to hold for them.
  if (BelowMacMetadataFolder(name)) {
    CleanName skipped;
    skipped.kind = NameKind::Skipped;
    return skipped;
  }
  for (char c : name) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7f) return Refuse("control character in name");
  }
  const bool isDirectory = IsSeparator(name.back());

  if (!honorDirectories) {
    if (isDirectory) {
      CleanName skipped;
      skipped.kind = NameKind::Skipped;
      return skipped;
    }
    size_t start = 0;
    for (size_t i = 0; i < name.size(); ++i) {
      if (IsSeparator(name[i])) start = i + 1;
    }
    std::string_view last = name.substr(start);
    if (auto reason = CheckComponent(last); !reason.empty()) return Refuse(reason);
    CleanName result;
    result.kind = NameKind::File;
    result.path = last;
    return result;
  }

  if (IsSeparator(name.front())) return Refuse("absolute name");
  std::string path;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = start;
    while (end < name.size() && !IsSeparator(name[end])) ++end;
    std::string_view component = name.substr(start, end - start);
    start = end + 1;
    if (component.empty() || component == ".") continue;
    if (auto reason = CheckComponent(component); !reason.empty()) return Refuse(reason);
    if (!path.empty()) path += '/';
    path += component;
  }
  CleanName result;
  if (path.empty()) {
    if (!isDirectory) return Refuse("empty name");
    result.kind = NameKind::Skipped;
    return result;
  }
  result.kind = isDirectory ? NameKind::Directory : NameKind::File;
  result.path = std::move(path);
  return result;
}

}  // namespace unzip32
