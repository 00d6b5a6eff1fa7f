// The check every entry name passes before anything is written for it. The
// archive comes from the internet, so a name is hostile until proven
// otherwise; the rule is the same on every platform, and it includes what
// Windows would silently reinterpret (drive letters, "\\server" paths,
// trailing dots and spaces, device names, alternate data streams).
#ifndef UNZIP32_ENTRYNAME_H
#define UNZIP32_ENTRYNAME_H

#include <string>
#include <string_view>

namespace unzip32 {

enum class NameKind {
  File,       // write a file at `path`
  Directory,  // create the folder `path`
  Skipped,    // nothing to do (a folder entry with honorDirectories false, "./", or an
              // entry below a "__MACOSX" folder)
  Refused     // unsafe or unusable; `reason` says why
};

struct CleanName {
  NameKind kind = NameKind::Refused;
  // Relative to the extraction folder: components separated by '/', none of
  // them empty, "." or "..", no leading or trailing separator.
  std::string path;
  std::string reason;
};

// Cleans one entry name as stored in the archive. Both '/' and '\' separate
// components; a trailing separator marks a folder entry.
//
// Either way, an entry with a folder "__MACOSX" anywhere in its name (the
// folder entry itself included; the name compared exactly) is skipped: the
// AppleDouble files of macOS, no files of the archive's author.
//
// honorDirectories true keeps the folders of the name. Refused: an empty name;
// NUL or other control characters; absolute names ("/x", "\x", "\\server\x");
// any ':' (drive letters such as "C:x", and Windows stream names); any ".."
// component; components made only of dots and spaces or ending in a dot or a
// space; the characters < > " | ? *; Windows device names (CON, PRN, AUX, NUL,
// COM1-9, LPT1-9, with or without an extension, in any letter case). Empty and
// "." components in the middle are dropped.
//
// honorDirectories false keeps only the last component, which must pass the
// same component rules (so "", "." and ".." are refused); the control
// character check covers the whole name. Folder entries are skipped.
CleanName CleanEntryName(std::string_view name, bool honorDirectories);

}  // namespace unzip32

#endif  // UNZIP32_ENTRYNAME_H
