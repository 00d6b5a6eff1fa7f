// The registry over fixture Wine prefixes, through the lookup the installer
// uses and through the platform calls themselves.
#include <gtest/gtest.h>

#include <string>

#include "common/Error.h"
#include "common/modPaths.h"
#include "platform/Registry.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

namespace {

using qv::platform::kHkeyCurrentUser;
using qv::platform::kHkeyLocalMachine;

const std::string kSims = "SOFTWARE\\EA GAMES\\The Sims 2";

// Points WINEPREFIX (and HOME, so nothing can fall back to the real one) at
// a temporary folder for one test.
class RegistryTest : public ::testing::Test {
 protected:
  void WriteSystem(const std::string& body) {
    dir_.Write("prefix/system.reg",
               "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n" + body);
  }
  void WriteUser(const std::string& body) {
    dir_.Write("prefix/user.reg",
               "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21\n\n" + body);
  }
  std::string Lookup(const std::string& value, const std::string& key = kSims) {
    return qv::GetRegistryString(kHkeyLocalMachine, key, value);
  }

  qv::test::TempDir dir_;
  qv::test::ScopedEnv env_{{{"WINEPREFIX", dir_.Join("prefix")}, {"HOME", dir_.Join("home")}}};
};

std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}

// A 32-bit prefix with one value of each kind the file can hold.
const std::string kWin32Hive =
    "#arch=win32\n\n"
    "[Software\\\\EA GAMES\\\\The Sims 2] 1700000000\n"
    "#time=1d9b3c1a2b3c4d5\n"
    "\"Install Dir\"=\"C:\\\\Program Files\\\\EA GAMES\\\\The Sims 2\\\\\"\n"
    "\"Seven\"=dword:00000007\n"
    "\"Zero\"=dword:00000000\n"
    "\"Big\"=dword:000004d2\n"
    "\"Max\"=dword:ffffffff\n"
    "\"Empty\"=\"\"\n"
    "\"Expand\"=str(2):\"%ProgramFiles%\\\\EA\"\n"
    "\"Multi\"=str(7):\"one\\0two\\0\"\n"
    "\"Escapes\"=\"q\\\"t\\tx\\x00e9\\x20ac\\x4e00\\\\\\n\\001z\"\n"
    "\"Utf8\"=\"caf\xc3\xa9\"\n"
    "\"Binary\"=hex:41,42,43,\\\n  44,45\n"
    "\"NoBytes\"=hex:\n"
    "\"HexString\"=hex(2):25,00,41,00,e9,00,00,00\n"
    "\"Short\"=hex(4):07\n"
    "@=\"the default\"\n"
    "\"Long254\"=" +
    Quoted(std::string(254, 'a')) +
    "\n"
    "\"Long255\"=" +
    Quoted(std::string(255, 'b')) +
    "\n"
    "\n"
    "[Software\\\\EA GAMES\\\\The Sims 2\\\\Sub] 1700000000\n"
    "\"Install Dir\"=\"from the sub-key\"\n"
    "\n"
    "[Software\\\\Caf\\x00e9\\\\Key\\]] 1700000000\n"
    "\"Name\"=\"odd key\"\n";

TEST_F(RegistryTest, ReadsEveryKindOfValueAsTheLookupGivesIt) {
  WriteSystem(kWin32Hive);
  struct Row {
    const char* name;
    std::string key;
    std::string value;
    std::string expected;
  };
  const Row rows[] = {
      {"install folder keeps its trailing backslash", kSims, "Install Dir",
       "C:\\Program Files\\EA GAMES\\The Sims 2\\"},
      {"value name in other case", kSims, "install DIR",
       "C:\\Program Files\\EA GAMES\\The Sims 2\\"},
      {"key name in other case", "software\\ea games\\THE SIMS 2", "Install Dir",
       "C:\\Program Files\\EA GAMES\\The Sims 2\\"},
      {"doubled and trailing backslashes", "SOFTWARE\\\\EA GAMES\\The Sims 2\\", "Install Dir",
       "C:\\Program Files\\EA GAMES\\The Sims 2\\"},
      {"dword 7", kSims, "Seven", "007"},
      {"dword 0", kSims, "Zero", "000"},
      {"dword of four digits is not cut", kSims, "Big", "1234"},
      {"largest dword", kSims, "Max", "4294967295"},
      {"short dword uses only its own byte", kSims, "Short", "007"},
      {"empty string", kSims, "Empty", ""},
      {"expandable string stays unexpanded", kSims, "Expand", "%ProgramFiles%\\EA"},
      {"multi-string up to its last NUL", kSims, "Multi", std::string("one\0two\0", 8)},
      {"escapes decoded", kSims, "Escapes", "q\"t\tx\xe9\x80?\\\n\x01z"},
      {"UTF-8 in a hand-edited file", kSims, "Utf8", "caf\xe9"},
      {"binary continued on a second line, less its last byte", kSims, "Binary", "ABCD"},
      {"string type written as UTF-16 hex", kSims, "HexString", "%A\xe9"},
      {"default value by empty name", kSims, "", "the default"},
      {"254 characters fit", kSims, "Long254", std::string(254, 'a')},
      {"255 characters do not", kSims, "Long255", ""},
      {"missing value", kSims, "Nothing", ""},
      {"value of the sub-key only there", kSims + "\\Sub", "Install Dir", "from the sub-key"},
      {"missing key", "SOFTWARE\\EA GAMES\\The Sims 3", "Install Dir", ""},
      {"key with escaped characters", "Software\\Caf\xe9\\Key]", "Name", "odd key"},
      {"a prefix of a key name is not the key", "SOFTWARE\\EA GAMES\\The Sims", "Install Dir", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(Lookup(row.value, row.key), row.expected);
  }
}

TEST_F(RegistryTest, ValueOfNoBytesRaisesInvalidCall) {
  WriteSystem(kWin32Hive);
  EXPECT_EQ(qv::test::Raised([&] { Lookup("NoBytes"); }).Number(), qv::err::kInvalidCall);
}

TEST_F(RegistryTest, SixtyFourBitPrefixGivesTheThirtyTwoBitViewFirstAndThirtyTwoBitOneItself) {
  WriteSystem(
      "#arch=win64\n\n"
      "[Software\\\\EA GAMES\\\\The Sims 2] 1700000000\n"
      "\"Install Dir\"=\"64-bit view\\\\\"\n\n"
      "[Software\\\\Wow6432Node\\\\EA GAMES\\\\The Sims 2] 1700000000\n"
      "\"Install Dir\"=\"32-bit view\\\\\"\n\n"
      "[Software\\\\Wow6432Node\\\\Only64] 1700000000\n"
      "\"Name\"=\"already redirected\"\n");
  WriteUser("#arch=win64\n\n[Software\\\\Game] 1700000000\n\"Name\"=\"user values are shared\"\n");
  EXPECT_EQ(Lookup("Install Dir"), "32-bit view\\");
  EXPECT_EQ(qv::GetRegistryString(kHkeyLocalMachine, "Software\\Wow6432Node\\Only64", "Name"),
            "already redirected");
  EXPECT_EQ(qv::GetRegistryString(kHkeyCurrentUser, "Software\\Game", "Name"),
            "user values are shared");
  // A key that only 64-bit programs see (Wine's regedit in a 64-bit prefix
  // writes there) is read when the 32-bit view has none.
  WriteSystem(
      "#arch=win64\n\n"
      "[Software\\\\EA GAMES\\\\The Sims 2] 1700000000\n"
      "\"Install Dir\"=\"64-bit view only\\\\\"\n");
  EXPECT_EQ(Lookup("Install Dir"), "64-bit view only\\");
  // A 32-bit prefix is read as it is; each lookup reads the hive anew.
  WriteSystem(
      "#arch=win32\n\n"
      "[Software\\\\Wow6432Node\\\\EA GAMES\\\\The Sims 2] 1700000000\n"
      "\"Install Dir\"=\"not for a 32-bit prefix\"\n");
  EXPECT_EQ(Lookup("Install Dir"), "");
}

TEST_F(RegistryTest, MissingPrefixOrHiveGivesFileNotFound) {
  qv::platform::RegistryKey key;
  EXPECT_EQ(qv::platform::RegOpenKeyExA(kHkeyLocalMachine, kSims, 0, qv::platform::kKeyRead, key),
            qv::platform::kErrorFileNotFound);
  EXPECT_FALSE(key.IsOpen());
  WriteUser("[Software\\\\Game] 1700000000\n\"Name\"=\"x\"\n");
  EXPECT_EQ(Lookup("Install Dir"), "");
  EXPECT_EQ(qv::GetRegistryString(0x80000000u, "Software\\Game", "Name"), "");
}

TEST_F(RegistryTest, KeyHoldingOnlySubKeysOpens) {
  // Wine writes no section for a key whose only content is sub-keys.
  WriteSystem(kWin32Hive);
  qv::platform::RegistryKey key;
  ASSERT_EQ(qv::platform::RegOpenKeyExA(kHkeyLocalMachine, "Software\\EA Games", 0,
                                        qv::platform::kKeyRead, key),
            qv::platform::kErrorSuccess);
  uint32_t size = 0;
  EXPECT_EQ(qv::platform::RegQueryValueExA(key, "Install Dir", nullptr, nullptr, &size),
            qv::platform::kErrorFileNotFound);
}

TEST_F(RegistryTest, QueryReportsSizesAndCopiesNothingWhenTooSmall) {
  WriteSystem(kWin32Hive);
  namespace reg = qv::platform;
  reg::RegistryKey key;
  ASSERT_EQ(reg::RegOpenKeyExA(kHkeyLocalMachine, kSims, 0, reg::kKeyRead, key),
            reg::kErrorSuccess);
  const struct {
    const char* value;
    bool withBuffer;
    int32_t result;
    uint32_t type;
    uint32_t size;
    std::string buffer;  // its first `size` bytes afterwards
  } rows[] = {
      {"Long255", true, reg::kErrorMoreData, reg::kRegSz, 256, std::string(255, ' ')},
      {"Long254", true, reg::kErrorSuccess, reg::kRegSz, 255, std::string(254, 'a') + '\0'},
      {"Seven", true, reg::kErrorSuccess, reg::kRegDword, 4, std::string("\x07\0\0\0", 4)},
      {"Expand", false, reg::kErrorSuccess, reg::kRegExpandSz, 18, ""},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.value);
    std::string buffer(255, ' ');
    uint32_t type = 0;
    uint32_t size = row.withBuffer ? 255 : 0;
    EXPECT_EQ(reg::RegQueryValueExA(
                  key, row.value, &type,
                  row.withBuffer ? reinterpret_cast<uint8_t*>(buffer.data()) : nullptr, &size),
              row.result);
    if (row.result == reg::kErrorSuccess) {
      EXPECT_EQ(type, row.type);
    }
    EXPECT_EQ(size, row.size);
    EXPECT_EQ(buffer.substr(0, row.buffer.size()), row.buffer);
  }
  reg::RegCloseKey(key);
  EXPECT_FALSE(key.IsOpen());
  uint32_t size = 0;
  EXPECT_NE(reg::RegQueryValueExA(key, "Seven", nullptr, nullptr, &size), reg::kErrorSuccess);
}

TEST_F(RegistryTest, MalformedLinesAreSkipped) {
  WriteSystem(
      "[Software\\\\EA GAMES\\\\The Sims 2] 1\n"
      "\"Unclosed=\"x\n"
      "\"BadHex\"=hex:4g,1\n"
      "\"BadDword\"=dword:123456789\n"
      "\"Unknown\"=weird:1\n"
      "garbage line\n"
      "\"Install Dir\"=\"kept\"\n");
  EXPECT_EQ(Lookup("Install Dir"), "kept");
  EXPECT_EQ(Lookup("BadHex"), "");
  EXPECT_EQ(Lookup("BadDword"), "");
  EXPECT_EQ(Lookup("Unknown"), "");
}

}  // namespace
