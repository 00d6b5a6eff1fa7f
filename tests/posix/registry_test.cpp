// The Wine prefix as the installer reads it, over fixture prefixes and homes:
// registry values from the hives, the documents folder, and the prefix found
// without WINEPREFIX in every launcher's layout. The real home and prefix are
// never looked at.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <filesystem>

#include "common/modPaths.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "platform/wine/PrefixDiscovery.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

namespace qv::platform {
namespace {

namespace fs = std::filesystem;

const std::string kSims = "SOFTWARE\\EA GAMES\\The Sims 2";
const std::string kShellFolders =
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] 1\n";

// A hive as Wine writes it.
std::string Hive(const std::string& body, const std::string& arch = "win32") {
  return "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=" + arch + "\n\n" +
         body;
}
// A machine hive of a prefix with the game.
std::string Game(const std::string& installDir = "C:\\\\Sims2\\\\",
                 const std::string& arch = "win32") {
  const std::string game =
      "[Software\\\\EA GAMES\\\\The Sims 2] 1\n\"Install Dir\"=\"" + installDir;
  return Hive("[Software\\\\Classes\\\\.txt] 1\n@=\"txtfile\"\n\n" + game + "\"\n", arch);
}

class WinePrefixTest : public ::testing::Test {
 protected:
  // What the installer's lookup gives.
  static std::string Lookup(const std::string& name, const std::string& key = kSims) {
    return GetRegistryString(kHkeyLocalMachine, key, name);
  }

  test::TempDir dir_;
  test::ScopedEnv env_{{{"WINEPREFIX", dir_.Join("prefix")},
                        {"HOME", dir_.Join("home")},
                        {"USER", "tester"},
                        {"XDG_CONFIG_HOME", std::nullopt},
                        {"XDG_DATA_HOME", std::nullopt}}};
};

// A 32-bit program in a 64-bit prefix reads Software\X from
// Software\Wow6432Node\X first, where every row's value is.
TEST_F(WinePrefixTest, ReadsEveryKindOfValueAsTheLookupGivesIt) {
  const std::string install = "C:\\Program Files\\EA GAMES\\The Sims 2\\";
  const std::string longest((size_t{1} << 20) - 6,
                            'l');  // with its 6 other bytes, the longest line
  const struct {
    std::string line;  // in the game's key
    std::string name;
    std::string expected;
    std::string key = kSims;
  } rows[] = {
      {R"("Install Dir"="C:\\Program Files\\EA GAMES\\The Sims 2\\")", "install DIR", install},
      {"", "Install Dir", install, "software\\\\ea games\\THE SIMS 2\\"},
      {R"("Seven"=dword:00000007)", "Seven", "007"},
      {R"("Expand"=str(2):"%ProgramFiles%\\EA")", "Expand", "%ProgramFiles%\\EA"},
      {"\"Binary\"=hex:41,42,9,\\\n  44,45", "Binary", "AB\tD"},  // less its last byte
      {R"("Escapes"="q\"t\tx\x00e9\x20ac\x4e00\\\n\0012\7\a\b\e\f\r\v\[")", "Escapes",
       "q\"t\tx\xe9\x80?\\\n\x01"
       "2\x07\a\b\x1b\f\r\v["},
      // The shortest lead byte; a lone continuation byte is a byte of its own.
      {"\"Utf8\"=\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa9 x\xa9 \xc3\"", "Utf8",
       "caf\xe9 \x80 ? \xa9 x\xa9 \xc3"},
      {"\"L\"=\"" + longest + "\"", "L", ""},  // too long for the lookup's buffer
      {"\"M\"=\"" + longest + "m\"", "M", ""},
  };
  std::string hive = "[Software\\\\Wow6432Node\\\\EA GAMES\\\\The Sims 2] 1\n";
  for (const auto& row : rows) hive += row.line + "\n";
  dir_.Write("prefix/system.reg", Game("64", "win64") + hive);
  for (const auto& row : rows) EXPECT_EQ(Lookup(row.name, row.key), row.expected) << row.name;
  RegistryKey key;
  ASSERT_EQ(RegOpenKeyExA(kHkeyLocalMachine, kSims, 0, kKeyRead, key), 0);
  uint32_t type = 0, size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "L", &type, nullptr, &size), 0);
  EXPECT_EQ(size, longest.size() + 1);
  EXPECT_EQ(RegQueryValueExA(key, "M", &type, nullptr, &size), 2);  // a longer line is not read
}

// The names of a key's sub-keys, joined by "|"; "(no key)" when it does not
// open.
std::string SubKeys(uint32_t root, const std::string& path) {
  RegistryKey key;
  if (RegOpenKeyExA(root, path, 0, kKeyRead, key) != kErrorSuccess) return "(no key)";
  std::string names, name;
  uint32_t index = 0;
  for (int32_t status; (status = RegEnumKeyExA(key, index, name)) != kErrorNoMoreItems; ++index) {
    if (status != kErrorSuccess) return "(status " + std::to_string(status) + ")";
    names += (index ? "|" : "") + name;
  }
  if (!name.empty()) return "(a name past the last: " + name + ")";
  return names;
}

const std::string kLegacy = "Software\\Electronic Arts\\The Sims 2 Ultimate Collection 25";

// A key exists when a section lies below it, and lists each direct sub-key
// once, in the ANSI code page, ordered without regard to case; a 32-bit
// program sees the machine hive's Wow6432Node, the other view only for a
// key that is nowhere else.
TEST_F(WinePrefixTest, SubKeysAreListedAsWineWritesThem) {
  const std::string legacyUser = R"([Software\\Electronic Arts\\The Sims 2 Ultimate Collection 25] 1
"DisplayName"="Die Sims 2 Verm\x00e4chtnis"
[Software\\Electronic Arts\\The Sims 2 Ultimate Collection 25\\Sims2EP9.exe] 1
"path"="Z:\\games\\TS2\\EP9"
[Software\\Electronic Arts\\The Sims 2 Ultimate Collection 25\\sims2.exe\\Deeper] 1
[Software\\Electronic Arts\\The Sims 2 Ultimate Collection 25\\Sims2EP1.exe] 1
"path"="Z:\\games\\TS2\\EP1"
[Software\\Electronic Arts\\The Sims 2 Ultimate Collection 25\\SIMS2EP1.EXE\\x] 1
[Software\\Electronic Arts\\The Sims 2 Ultimate Collection 25\\The Sims\x2122 2] 1
[Software\\Electronic Arts\\The Sims 2 Ultimate Collection 250] 1
[Software\\Electronic Arts\\The Sims 2 Ultimate Collection 25x\\Not Below] 1
)";
  const std::string machine64 = R"([Software\\EA GAMES\\The Sims 2\\Only64] 1
[Software\\Maxis\\The Sims 2 Legacy\\Only64] 1
[Software\\Wow6432Node\\EA GAMES\\The Sims 2\\Only32] 1
"Install Dir"="C:\\Sims2\\"
[Software\\Wow6432Node\\EA GAMES\\The Sims 2\\Only32\\Deeper] 1
[Software\\Wow6432Node\\Other] 1
)";
  const struct {
    const char* name;
    std::string userHive = {};
    std::string machineHive = {};
    uint32_t root;
    std::string key;
    std::string expected;
  } rows[] = {
      {.name = "pack programs of the Legacy key, in either case once",
       .userHive = Hive(legacyUser),
       .root = kHkeyCurrentUser,
       .key = kLegacy,
       .expected = "sims2.exe|Sims2EP1.exe|Sims2EP9.exe|The Sims\x99 2"},
      {.name = "a key with only sub-keys",
       .userHive = Hive(legacyUser),
       .root = kHkeyCurrentUser,
       .key = "software\\electronic arts",
       .expected = "The Sims 2 Ultimate Collection 25|The Sims 2 Ultimate Collection 250|"
                   "The Sims 2 Ultimate Collection 25x"},
      {.name = "a missing key",
       .userHive = Hive(legacyUser),
       .root = kHkeyCurrentUser,
       .key = kLegacy + "\\Sims2EP2.exe",
       .expected = "(no key)"},
      {.name = "the 32-bit view of a 64-bit prefix",
       .machineHive = Hive(machine64, "win64"),
       .root = kHkeyLocalMachine,
       .key = kSims,
       .expected = "Only32"},
      {.name = "the other view, for a key only there",
       .machineHive = Hive(machine64, "win64"),
       .root = kHkeyLocalMachine,
       .key = "SOFTWARE\\Maxis\\The Sims 2 Legacy",
       .expected = "Only64"},
  };
  for (const auto& row : rows) {
    dir_.Write("prefix/user.reg", row.userHive);
    dir_.Write("prefix/system.reg", row.machineHive);
    EXPECT_EQ(SubKeys(row.root, row.key), row.expected) << row.name;
  }
  RegistryKey closed;
  std::string name = "x";
  EXPECT_EQ(RegEnumKeyExA(closed, 0, name), 6) << "a key that is not open";
  EXPECT_EQ(name, "");
}

// String values as the wide call gives them, from Wine's escapes and from
// raw UTF-8, beside what the ANSI call makes of the same value.
TEST_F(WinePrefixTest, StringsComeAsUtf16) {
  const struct {
    const char* name;
    std::string line;  // the value "V" in the game's key
    int32_t status = kErrorSuccess;
    std::u16string wide = {};
    std::string ansi = {};
  } rows[] = {
      {.name = "the trademark sign as Wine writes it",
       .line = R"("V"="The Sims\x2122 2 Ultimate Collection")",
       .wide = u"The Sims\u2122 2 Ultimate Collection",
       .ansi = "The Sims\x99 2 Ultimate Collection"},
      {.name = "beyond the ANSI code page",
       .line = R"("V"="\x4e00\x4e8c \xd83d\xde00")",
       .wide = u"\u4e00\u4e8c \U0001F600",
       .ansi = "?? ?"},
      {.name = "a string Wine wrote as hex, up to its NUL",
       .line = "\"V\"=hex(1):22,21,41,00,00,00,42,00,\\\n  00,00",
       .wide = u"\u2122A",
       .ansi = std::string("\231A\0B", 4)},  // the ANSI call gives all its bytes
      {.name = "a number is no string",
       .line = R"("V"=dword:00000007)",
       .status = kErrorFileNotFound,
       .ansi = "007"},
      {.name = "a missing value", .line = R"("W"="w")", .status = kErrorFileNotFound},
  };
  for (const auto& row : rows) {
    dir_.Write("prefix/system.reg",
               Hive("[Software\\\\EA GAMES\\\\The Sims 2] 1\n" + row.line + "\n"));
    RegistryKey key;
    ASSERT_EQ(RegOpenKeyExA(kHkeyLocalMachine, kSims, 0, kKeyRead, key), kErrorSuccess) << row.name;
    std::u16string wide = u"left over";
    EXPECT_EQ(RegQueryStringW(key, "v", wide), row.status) << row.name;
    EXPECT_EQ(wide, row.wide) << row.name;
    EXPECT_EQ(Lookup("V"), row.ansi) << row.name;
  }
}

// The documents folder: the prefix's "Personal" shell folder without the
// separators it ends with (a drive's root keeps its own), else the prefix's
// folder of the user, else what the desktop's user-dirs.dirs names (a quoted
// "$HOME/..." or absolute path; the last line that names one counts), else
// ~/Documents.
TEST_F(WinePrefixTest, DocumentsFolderComesFromThePrefixThenTheDesktop) {
  const struct {
    const char* name;
    std::string personal = {};  // the shell folder in user.reg, as Wine escapes it; "": none
    bool userFolder = false;    // the prefix holds drive_c/users/tester/Documents
    std::string userDirs = {};  // ~/.config/user-dirs.dirs; "": none, "|": a named pipe
    std::string expected;       // "{home}" and "{prefix}" stand for those folders
  } rows[] = {
      {.name = "the shell folder",
       .personal = R"(C:\\users\\me\\Documents\\/)",
       .userFolder = true,
       .userDirs = "XDG_DOCUMENTS_DIR=\"/srv\"\n",
       .expected = "C:\\users\\me\\Documents"},
      {.name = "a drive's root as the shell folder", .personal = R"(D:\\\\)", .expected = "D:\\"},
      {.name = "the prefix's folder of the user",
       .userFolder = true,
       .userDirs = "XDG_DOCUMENTS_DIR=\"/srv\"\n",
       .expected = "{prefix}/drive_c/users/tester/Documents"},
      {.name = "the desktop's, below the home",
       .userDirs = "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                   "  XDG_DOCUMENTS_DIR=\"$HOME/My Documents//\"\n",
       .expected = "{home}/My Documents"},
      {.name = "an absolute one with escapes, on a last line without its end",
       .userDirs = "XDG_DOCUMENTS_DIR=\"$HOME/first\"\nXDG_DOCUMENTS_DIR=\"/srv/the \\\"docs\\\"\"",
       .expected = "/srv/the \"docs\""},
      {.name = "the home itself", .userDirs = "XDG_DOCUMENTS_DIR=\"$HOME\"", .expected = "{home}"},
      {.name = "a line that names none keeps the one before",
       .userDirs = "XDG_DOCUMENTS_DIR=\"/srv/a\"\nXDG_DOCUMENTS_DIR=\"docs\"\n"
                   "XDG_DOCUMENTS_DIR=$HOME/b\nXDG_DOCUMENTS_DIR=\"/srv/open\n",
       .expected = "/srv/a"},
      {.name = "a named pipe is not read", .userDirs = "|", .expected = "{home}/Documents"},
  };
  for (const auto& row : rows) {
    const test::TempDir dir;
    const test::ScopedEnv env({{"WINEPREFIX", dir.Join("prefix")}, {"HOME", dir.Join("home")}});
    if (!row.personal.empty()) {
      dir.Write("prefix/user.reg", Hive(kShellFolders + "\"Personal\"=\"" + row.personal + "\"\n"));
    }
    if (row.userFolder) dir.MakeFolder("prefix/drive_c/users/tester/Documents");
    if (row.userDirs == "|") {
      dir.MakeFolder("home/.config");
      ASSERT_EQ(::mkfifo(dir.Join("home/.config/user-dirs.dirs").c_str(), 0600), 0);
    } else if (!row.userDirs.empty()) {
      dir.Write("home/.config/user-dirs.dirs", row.userDirs);
    }
    std::string expected = row.expected;
    for (const auto& [name, folder] : {std::pair{"{home}", "home"}, {"{prefix}", "prefix"}}) {
      if (expected.starts_with(name)) expected.replace(0, std::strlen(name), dir.Join(folder));
    }
    EXPECT_EQ(GetSpecialFolder(5), expected) << row.name;
  }
}

// The hives of the Legacy Collection's prefix, as the game and Steam leave
// them once it has started (Proton prefixes are 64-bit).
const std::string kLegacyUserHive =
    Hive(R"([Software\\Electronic Arts\\The Sims 2 Ultimate Collection 25] 1
"DisplayName"="The Sims 2 Legacy"
[Software\\Electronic Arts\\The Sims 2 Ultimate Collection 25\\Sims2EP9.exe] 1
"path"="Z:\\games\\SteamLibrary\\steamapps\\common\\The Sims 2 Legacy\\EP9"
)");
// A fresh prefix of Proton's holds keys, none of them the game's.
const std::string kFreshMachineHive =
    Hive("[Software\\\\Wow6432Node\\\\Valve\\\\Steam] 1\n", "win64");

// Where the lookups looked, for the message that says the game was not
// found: the prefix, and for Steam's prefix of the Legacy Collection that
// holds none of the game's keys yet, how to make the game write them.
const std::string kStartOnce =
    " (Steam's prefix for The Sims 2 Legacy Collection: the game records where it is installed "
    "only when it first starts, so start the game once from Steam, then try again)";

struct File {
  std::string path;     // below the home; "{home}" in the content is its path
  std::string content;  // "|": a named pipe instead
  int ageSeconds = 0;   // how long ago it changed
  uintmax_t size = 0;   // more: padded with zeros (sparse) to that size
};

void Lay(const test::TempDir& home, const std::vector<File>& files) {
  for (const File& file : files) {
    std::string content = file.content;
    for (size_t at; (at = content.find("{home}")) != std::string::npos;)
      content.replace(at, 6, home.Path());
    const fs::path path = home.Join(file.path);
    if (content == "|") {
      fs::create_directories(path.parent_path());
      ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    } else {
      home.Write(file.path, content);
      if (file.size > 0) fs::resize_file(path, file.size);
      fs::last_write_time(
          path, fs::file_time_type::clock::now() - std::chrono::seconds(file.ageSeconds + 10));
    }
  }
}

// Every launcher's layout in one home, the files of each prefix in the order
// the candidates come: `kind` names the prefix that a system.reg makes.
TEST(PrefixDiscoveryTest, ListsEveryLaunchersPrefixesInOrder) {
  const struct {
    const char* kind;  // "": no prefix of its own
    std::string path;
    std::string content = {};  // "": the hive of a prefix with the game
  } rows[] = {
      {"Wine", ".wine/system.reg"},
      {"", "xdg data/lutris/games/s.yml", "game:\n  exe: a\n  prefix: '{home}/L S/pfx-root'\n"},
      {"Lutris", "L S/pfx-root/system.reg"},
      {"Bottles", "xdg data/bottles/bottles/Sims/system.reg"},
      {"Steam (Proton)", ".steam/steam/steamapps/compatdata/228980/pfx/system.reg"},
      {"", ".steam/steam/steamapps/libraryfolders.vdf",
       "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"{home}/xdg data/Steam\"\n\t}\n"
       "\t\"1\"\n\t{\n\t\t// was \"path\"\n\t\tpath\t\t\"{home}/SSD\"\n\t}\n}\n"},
      {"Steam (Proton)", "SSD/steamapps/compatdata/2000000001/pfx/system.reg"},
      {"", "snap/steam/common/.local/share/Steam/steamapps/libraryfolders.vdf",
       "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"{home}/cut"},  // cut short
      {"", "cut/steamapps/compatdata/9/pfx/system.reg"},
      {"", ".var/app/com.heroicgameslauncher.hgl/config/heroic/GamesConfig/x.json",
       "{\"x\":{\"winePrefix\":\"~/hg\\u006C\\u002fx\"}}"},
      {"Heroic", "hgl/x/system.reg"},
      {"", "xdg config/PortProton.conf", "{home}/apps/PP/\n"},
      {"PortProton", "apps/PP/data/prefixes/SIMS/system.reg"},
  };
  test::TempDir home;
  std::vector<std::string> expected, listed;
  for (const auto& row : rows) {
    Lay(home, {{row.path, row.content.empty() ? Game() : row.content}});
    const std::string folder = fs::path(home.Join(row.path)).parent_path();
    if (*row.kind) expected.push_back(row.kind + (" " + folder));
  }
  const wine::DiscoveryHome where{home.Path(), home.Join("xdg data"), home.Join("xdg config")};
  for (const auto& candidate : wine::ListPrefixCandidates(where))
    listed.push_back(PrefixKindName(candidate.kind) + (" " + candidate.folder));
  EXPECT_EQ(listed, expected);
}

// The first kind's prefix that holds the game ("Install Dir" a string, in
// either view); among several of that kind, the one whose hive changed last.
// Whatever else lies in the home only counts as holding nothing.
TEST(PrefixDiscoveryTest, ChoosesThePrefixThatHoldsTheGame) {
  test::TempDir home;
  Lay(home,
      {{".wine/system.reg", std::string(3 << 20, '[')},
       {".config/lutris/games/bad.yml", std::string("\0\xff prefix:\n  prefix: \"\n", 22)},
       {"Games/a/system.reg", Game(), 600},
       {"Games/b/system.reg", Game("C:\\\\", "win64"), 60},
       {"Games/c/system.reg", Game(), 6000},
       {"Games/binary/system.reg", std::string("\x00\x01[\\\\\x80]\n\"Install Dir\"=\"x", 25)},
       {".steam/steam/steamapps/libraryfolders.vdf", "|"},
       {"Games/too-large/system.reg", Game(), 0, (uintmax_t{32} << 20) + 1},
       {".config/heroic/GamesConfig/bad.json", "{\"winePrefix\": \"\\u12"},
       {".config/PortProton.conf", "|"},
       {"PortProton/data/prefixes/OK/system.reg", Game()}});
  const auto openFiles = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
  const auto before = openFiles();
  const auto found =
      wine::DiscoverGamePrefix({home.Path(), home.Join(".local/share"), home.Join(".config")});
  ASSERT_TRUE(found);
  EXPECT_EQ(found->folder, home.Join("Games/b"));
  EXPECT_EQ(openFiles(), before) << "every file and folder read is closed again";
}

// Every edition in the layouts its launchers leave. A prefix with any of
// the game's keys comes first by the order of kinds and then by the hives
// changed last; Steam's prefix of the Legacy Collection without keys comes
// after all of them, and what the lookups then say where they looked tells
// the player to start the game once.
TEST(PrefixDiscoveryTest, FindsEveryEdition) {
  const std::string packWithoutPath =
      Hive(R"([Software\\Electronic Arts\\The Sims 2 Ultimate Collection 25] 1
"DisplayName"="The Sims 2 Legacy"
[Software\\Electronic Arts\\The Sims 2 Ultimate Collection 25\\Sims2EP9.exe] 1
"Path"=dword:00000001
)");
  const std::string twoLibraries =
      "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"{home}/.local/share/Steam\"\n\t}\n"
      "\t\"1\"\n\t{\n\t\t\"path\"\t\t\"{home}/SSD\"\n\t}\n}\n";
  const std::string legacy = "SSD/steamapps/compatdata/3314070/pfx";
  const std::string legacyPath = "Z:\\games\\SteamLibrary\\steamapps\\common\\The Sims 2 Legacy";
  const struct {
    const char* name;
    std::vector<File> files;
    std::string folder;  // below the home; "": none found
    wine::GameKey key = wine::GameKey::kNone;
    std::string installDir = {};
  } rows[] = {
      {.name = "the Legacy Collection's own key in user.reg",
       .files = {{".wine/system.reg", kFreshMachineHive},
                 {".local/share/bottles/bottles/TS2/system.reg", kFreshMachineHive},
                 {".local/share/bottles/bottles/TS2/user.reg", kLegacyUserHive}},
       .folder = ".local/share/bottles/bottles/TS2",
       .key = wine::GameKey::kLegacyUser,
       .installDir = legacyPath + "\\EP9"},
      {.name = "the EA app's Maxis key",
       .files = {{"Games/ea-app/system.reg",
                  Hive(R"([Software\\Wow6432Node\\Maxis\\The Sims 2 Legacy] 1
"Install Dir"="C:\\Program Files\\EA Games\\The Sims 2 Legacy"
)",
                       "win64")}},
       .folder = "Games/ea-app",
       .key = wine::GameKey::kLegacyMaxis,
       .installDir = "C:\\Program Files\\EA Games\\The Sims 2 Legacy"},
      {.name = "Steam's key, in the second library",
       .files =
           {{".local/share/Steam/steamapps/libraryfolders.vdf", twoLibraries},
            {".local/share/Steam/steamapps/compatdata/228980/pfx/system.reg", kFreshMachineHive},
            {legacy + "/system.reg",
             Hive(
                 R"([Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 3314070] 1
"InstallLocation"="Z:\\games\\SteamLibrary\\steamapps\\common\\The Sims 2 Legacy"
)",
                 "win64")}},
       .folder = legacy,
       .key = wine::GameKey::kLegacySteam,
       .installDir = legacyPath},
      {.name = "the disc key before the Legacy Collection's in one prefix",
       .files = {{"Games/both/system.reg", Game()}, {"Games/both/user.reg", kLegacyUserHive}},
       .folder = "Games/both",
       .key = wine::GameKey::kEaGames,
       .installDir = "C:\\Sims2\\"},
      {.name = "of one kind, the prefix whose user.reg changed last",
       .files = {{"Games/old/system.reg", kFreshMachineHive, 60},
                 {"Games/old/user.reg", kLegacyUserHive, 60},
                 {"Games/new/system.reg", kFreshMachineHive, 600},
                 {"Games/new/user.reg", kLegacyUserHive, 6}},
       .folder = "Games/new",
       .key = wine::GameKey::kLegacyUser,
       .installDir = legacyPath + "\\EP9"},
      {.name = "a Legacy key whose packs have no path holds nothing, and Steam's prefix without "
               "keys comes after every prefix with keys, of any kind",
       .files = {{"Games/half/system.reg", kFreshMachineHive},
                 {"Games/half/user.reg", packWithoutPath},
                 {".local/share/Steam/steamapps/libraryfolders.vdf", twoLibraries},
                 {legacy + "/system.reg", kFreshMachineHive},
                 {"PortProton/data/prefixes/TS2/system.reg", Game()}},
       .folder = "PortProton/data/prefixes/TS2",
       .key = wine::GameKey::kEaGames,
       .installDir = "C:\\Sims2\\"},
      {.name = "no keys yet, and no other prefix with the game",
       .files = {{".wine/system.reg", kFreshMachineHive},
                 {".local/share/Steam/steamapps/libraryfolders.vdf", twoLibraries},
                 {".local/share/Steam/steamapps/compatdata/228980/pfx/system.reg",
                  kFreshMachineHive},
                 {legacy + "/system.reg", kFreshMachineHive}},
       .folder = legacy},
      {.name = "installed in the second library, never started",
       .files = {{".wine/system.reg", kFreshMachineHive},
                 {".local/share/Steam/steamapps/libraryfolders.vdf", twoLibraries},
                 {"SSD/steamapps/appmanifest_3314070.acf", "\"AppState\"\n{\n}\n"}},
       .folder = legacy},
      {.name = "no game at all",
       .files = {{".wine/system.reg", kFreshMachineHive},
                 {".local/share/Steam/steamapps/libraryfolders.vdf", twoLibraries},
                 {".local/share/Steam/steamapps/compatdata/228980/pfx/system.reg",
                  kFreshMachineHive}},
       .folder = ""},
  };
  for (const auto& row : rows) {
    test::TempDir home;
    Lay(home, row.files);
    const wine::DiscoveryHome where{home.Path(), home.Join(".local/share"), home.Join(".config")};
    const auto found = wine::DiscoverGamePrefix(where);
    EXPECT_EQ(found ? found->folder : "", row.folder.empty() ? "" : home.Join(row.folder))
        << row.name;
    if (!found) continue;
    EXPECT_EQ(static_cast<int>(found->key), static_cast<int>(row.key)) << row.name;
    EXPECT_EQ(found->installDir, row.installDir) << row.name;
    // What the lookups, started without WINEPREFIX, say where they looked.
    const test::ScopedEnv env({{"WINEPREFIX", std::nullopt},
                               {"HOME", home.Path()},
                               {"XDG_CONFIG_HOME", std::nullopt},
                               {"XDG_DATA_HOME", std::nullopt}});
    EXPECT_EQ(RegistryWhereabouts(), "the registry of the Wine prefix " + home.Join(row.folder) +
                                         (row.key == wine::GameKey::kNone ? kStartOnce : ""))
        << row.name;
  }
}

// Without WINEPREFIX the lookups answer from the discovered prefix, and
// from ~/.wine when no prefix holds the game. The documents folder is the
// prefix's "Personal" shell folder, else the prefix's own user folder, else
// the one in the home.
TEST_F(WinePrefixTest, LookupsAnswerFromTheDiscoveredPrefix) {
  dir_.Write("data/bottles/bottles/Sims/system.reg", Game());
  // One character is a value too.
  dir_.Write("data/bottles/bottles/Sims/user.reg", Hive(kShellFolders + "\"Personal\"=\"D\"\n"));
  unsetenv("WINEPREFIX");
  setenv("XDG_DATA_HOME", dir_.Join("data").c_str(), 1);
  EXPECT_EQ(Lookup("Install Dir"), "C:\\Sims2\\");
  EXPECT_EQ(GetSpecialFolder(5), "D");
  dir_.Write("home/.wine/user.reg", Hive(kShellFolders + "\"Personal\"=\"\"\n"));
  dir_.MakeFolder("home/.wine/drive_c/users/tester/Documents");
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(Lookup("Install Dir"), "");
  EXPECT_EQ(GetSpecialFolder(5), dir_.Join("home/.wine/drive_c/users/tester/Documents"));
  // The default data folder, in another home.
  dir_.Write("other/.local/share/bottles/bottles/S/system.reg", Game());
  setenv("HOME", dir_.Join("other").c_str(), 1);
  EXPECT_EQ(Lookup("Install Dir"), "C:\\Sims2\\");
  EXPECT_EQ(GetSpecialFolder(5), dir_.Join("other/Documents"));
}

}  // namespace
}  // namespace qv::platform
