// Reading one key out of a Wine registry hive (a prefix's system.reg or
// user.reg), a text file that Wine writes:
//   WINE REGISTRY Version 2
//   #arch=win64
//   [Software\\EA GAMES\\The Sims 2] 1700000000
//   #time=1d9...
//   @="default"
//   "Install Dir"="C:\\Program Files\\EA GAMES\\The Sims 2\\"
//   "Count"=dword:0000000a
//   "Blob"=hex:01,02,\ (a trailing backslash continues the list)
//     03
// Names and strings are UTF-16 in Wine and escaped C-style in the file
// (Wine writes every character above 127 as \xNNNN, "\x2122" for the
// trademark sign); names and values come back here as the ANSI (code page
// 1252) calls would give them, strings also as the wide calls would.
//
// The hive is read in one pass, kept only as far as the key asked for, and
// whatever the bytes are: a malformed line is skipped, an over-long one is
// dropped, and nothing is ever sized from what the file declares.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace qv::platform::wine {

struct HiveValue {
  uint32_t type = 0;  // REG_SZ, REG_DWORD...
  std::string data;   // the bytes as RegQueryValueExA hands them out
  // A string type's characters as the wide call hands them out, up to and
  // without the NUL that ends them; empty for every other type.
  std::u16string text;
};

// The values of one key, by lower-case name; "" is the default value.
using HiveValues = std::map<std::string, HiveValue>;

struct HiveKey {
  bool found = false;  // the key exists (Wine writes no section for a key
                       // that holds only sub-keys; one below it counts)
  HiveValues values;
  // The names of its direct sub-keys, in the ANSI code page: each once
  // (case ignored, the first spelling kept), ordered without regard to case
  // as Wine keeps them. A name longer than a key name can be (255
  // characters) is no key's and left out.
  std::vector<std::string> subKeys;
};

// What one pass over a hive found for a key, in both views of the machine
// hive: a 32-bit program on 64-bit Windows reads HKLM\Software\X from
// HKLM\Software\Wow6432Node\X.
struct HiveLookup {
  bool readable = false;  // the file could be opened
  bool win64 = false;     // "#arch=win64": a 64-bit prefix
  // The key as a 32-bit program sees it: below Wow6432Node in a 64-bit
  // prefix's machine hive, else the key as asked.
  HiveKey thirtyTwoBit;
  // The key as asked, in a 64-bit prefix's machine hive only (the view of
  // 64-bit programs, such as Wine's own regedit there).
  HiveKey sixtyFourBit;
};

// `keyPath` below the hive's root ("Software\EA GAMES\The Sims 2": single
// backslashes, case ignored). `machineHive` selects the redirection of the
// machine hive; the user hive has none.
HiveLookup ReadHiveFile(const std::string& file, const std::string& keyPath, bool machineHive);
HiveLookup ReadHiveText(std::string_view text, const std::string& keyPath, bool machineHive);

// Several keys in one pass: one lookup per path, in their order.
std::vector<HiveLookup> ReadHiveFileKeys(const std::string& file,
                                         const std::vector<std::string>& keyPaths,
                                         bool machineHive);
std::vector<HiveLookup> ReadHiveTextKeys(std::string_view text,
                                         const std::vector<std::string>& keyPaths,
                                         bool machineHive);

}  // namespace qv::platform::wine
