// The Wine prefix as the installer reads it, over fixture prefixes and homes:
// registry values from the hives, the documents folder, and the prefix found
// without WINEPREFIX in every launcher's layout. The real home and prefix are
// never looked at.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>

#include "common/Error.h"
#include "common/modPaths.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "platform/posix/PrefixDiscovery.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

namespace qv::platform {
namespace {

namespace fs = std::filesystem;
using posix::PrefixKind;

const std::string kSims = "SOFTWARE\\EA GAMES\\The Sims 2";
const std::string kSection = "[Software\\\\EA GAMES\\\\The Sims 2] 1700000000\n";
const std::string kShellFolders =
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] 1\n";

// A hive as Wine writes it.
std::string Hive(const std::string& body, const std::string& arch = "win32") {
  return "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=" + arch + "\n\n" +
         body;
}
// A machine hive of a prefix with the game; none for an empty `installDir`.
std::string Game(const std::string& installDir = "C:\\\\Sims2\\\\",
                 const std::string& arch = "win32", const std::string& section = kSection) {
  return Hive("[Software\\\\Classes\\\\.txt] 1\n@=\"txtfile\"\n\n" +
                  (installDir.empty() ? "" : section + "\"Install Dir\"=\"" + installDir + "\"\n"),
              arch);
}

class WinePrefixTest : public ::testing::Test {
 protected:
  // What the installer's lookup gives.
  static std::string Lookup(const std::string& name, const std::string& key = kSims,
                            uint32_t root = kHkeyLocalMachine) {
    return GetRegistryString(root, key, name);
  }

  test::TempDir dir_;
  test::ScopedEnv env_{{{"WINEPREFIX", dir_.Join("prefix")},
                        {"HOME", dir_.Join("home")},
                        {"USER", "tester"},
                        {"XDG_CONFIG_HOME", std::nullopt},
                        {"XDG_DATA_HOME", std::nullopt}}};
};

TEST_F(WinePrefixTest, ReadsEveryKindOfValueAsTheLookupGivesIt) {
  const std::string install = "C:\\Program Files\\EA GAMES\\The Sims 2\\";
  const struct {
    std::string line;  // in the game's key of a 32-bit machine hive
    std::string name;
    std::string expected;
    std::string key = kSims;
  } rows[] = {
      {R"("Install Dir"="C:\\Program Files\\EA GAMES\\The Sims 2\\")", "install DIR", install},
      {"", "Install Dir", install, "software\\\\ea games\\THE SIMS 2\\"},
      {"", "Install Dir", "sub", kSims + "\\Sub"},
      {"", "Install Dir", "", "SOFTWARE\\EA GAMES\\The Sims"},  // a prefix of the key's name
      {"", "Name", "odd key", "Software\\Caf\xe9\\Key]"},
      {R"("Seven"=dword:00000007)", "Seven", "007"},
      {R"("Expand"=str(2):"%ProgramFiles%\\EA")", "Expand", "%ProgramFiles%\\EA"},
      {R"("MultiHex"=hex(7):41,00,00,00,00,00)", "MultiHex", std::string("A\0", 2)},
      {R"("Escapes"="q\"t\tx\x00e9\x20ac\x4e00\\\n\0012\7\a\b\e\f\r\v\[")", "Escapes",
       "q\"t\tx\xe9\x80?\\\n\x01"
       "2\x07\a\b\x1b\f\r\v["},
      // The shortest lead byte; a lone continuation byte is a byte of its own.
      {"\"Utf8\"=\"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80 \xc2\xa9 x\xa9 \xc3\"", "Utf8",
       "caf\xe9 \x80 ? \xa9 x\xa9 \xc3"},
      {"\"Binary\"=hex:41,42,9,\\\n  44,45", "Binary", "AB\tD"},  // less its last byte
      {R"("HexString"=hex(2):25,00,41,00,e9,00,00,00)", "HexString", "%A\xe9"},
      {R"(@="the default")", "", "the default"},
      {R"("NoBytes"=hex:)", "Missing", ""},  // its own lookup raises error 5, below
      {R"("Unclosed="x)", "Unclosed", ""},
      {R"("BadHex"=hex:4g,1)", "BadHex", ""},
      {R"("BadDword"=dword:123456789)", "BadDword", ""},
      {"#time=1d9b3c1a2b3c4d5", "#time", ""},
  };
  std::string hive = kSection;
  for (const auto& row : rows) hive += row.line + "\n";
  dir_.Write(
      "prefix/system.reg",
      Hive(hive + "\n[Software\\\\EA GAMES\\\\The Sims 2\\\\Sub] 1\n\"Install Dir\"=\"sub\"\n" +
           "\n[Software\\\\Caf\\x00e9\\\\Key\\]] 1\n\"Name\"=\"odd key\"\n"));
  for (const auto& row : rows) EXPECT_EQ(Lookup(row.name, row.key), row.expected) << row.line;
  EXPECT_EQ(test::Raised([] { Lookup("NoBytes"); }).Number(), err::kInvalidCall);
}

// A 32-bit program in a 64-bit prefix reads Software\X from
// Software\Wow6432Node\X, and the key of 64-bit programs when that has none.
TEST_F(WinePrefixTest, SixtyFourBitPrefixGivesTheThirtyTwoBitViewFirst) {
  dir_.Write("prefix/user.reg", Hive("[Software\\\\Game] 1\n\"Name\"=\"user values\"\n", "win64"));
  const std::string wow = "[Software\\\\Wow6432Node\\\\";
  const std::string sims = "EA GAMES\\\\The Sims 2] 1\n";
  const struct {
    std::string hive;
    std::string key;
    std::string expected;
  } rows[] = {
      {Game("64", "win64") + Game("32", "win64", wow + sims), kSims, "32"},
      {Game("64 only", "win64"), kSims, "64 only"},
      {Game("32 only", "win32", wow + sims), kSims, ""},  // no views in a 32-bit prefix
      {Game("no", "win64", wow + "Wow6432Node\\\\X] 1\n") + Game("asked", "win64", wow + "X] 1\n"),
       "Software\\Wow6432Node\\X", "asked"},
      {Game("no", "win64", wow + "Classes\\\\X] 1\n") +
           Game("own", "win64", "[Software\\\\Classes\\\\X] 1\n"),
       "Software\\Classes\\X", "own"},
  };
  for (const auto& row : rows) {
    dir_.Write("prefix/system.reg", row.hive);  // each lookup reads the hive anew
    EXPECT_EQ(Lookup("Install Dir", row.key), row.expected) << row.hive;
  }
  EXPECT_EQ(Lookup("Name", "Software\\Game", kHkeyCurrentUser), "user values");
}

TEST_F(WinePrefixTest, PlatformCallsReportSizesAndMissingKeys) {
  RegistryKey key;
  EXPECT_EQ(RegOpenKeyExA(kHkeyLocalMachine, kSims, 0, kKeyRead, key), 2);  // no hive
  EXPECT_FALSE(key.IsOpen());
  dir_.Write("prefix/system.reg",
             Hive(kSection + "\"Long\"=\"" + std::string(255, 'b') + "\"\n\"Seven\"=dword:7\n" +
                  // The longest line that is read, and one longer.
                  "\"L\"=\"" + std::string((1 << 20) - 6, 'l') + "\"\n\"M\"=\"" +
                  std::string((1 << 20) - 5, 'm') + "\"\n"));
  EXPECT_EQ(RegOpenKeyExA(0x80000000u, "Software", 0, kKeyRead, key), 2);
  // A key whose only content is sub-keys has no section of its own.
  ASSERT_EQ(RegOpenKeyExA(kHkeyLocalMachine, "Software\\EA Games", 0, kKeyRead, key), 0);
  uint32_t type = 0, size = 255;
  EXPECT_EQ(RegQueryValueExA(key, "Seven", &type, nullptr, &size), 2);
  ASSERT_EQ(RegOpenKeyExA(kHkeyLocalMachine, kSims, 0, kKeyRead, key), 0);
  std::string buffer(255, ' ');
  auto* data = reinterpret_cast<uint8_t*>(buffer.data());
  EXPECT_EQ(RegQueryValueExA(key, "Long", &type, data, &size), 234);  // more data
  EXPECT_EQ(size, 256u);
  EXPECT_EQ(buffer, std::string(255, ' '));  // nothing copied
  EXPECT_EQ(RegQueryValueExA(key, "Seven", &type, data, nullptr), 87);
  EXPECT_EQ(RegQueryValueExA(key, "L", &type, nullptr, &size), 0);
  EXPECT_EQ(size, (1u << 20) - 5);  // the line less its 6 other bytes, and a NUL
  EXPECT_EQ(RegQueryValueExA(key, "M", &type, nullptr, &size), 2);
  size = 4;  // exactly enough
  EXPECT_EQ(RegQueryValueExA(key, "Seven", &type, data, &size), 0);
  EXPECT_EQ(type, kRegDword);
  EXPECT_EQ(buffer.substr(0, size + 1), std::string("\x07\0\0\0 ", 5));
  RegCloseKey(key);
  EXPECT_EQ(RegQueryValueExA(key, "Seven", nullptr, nullptr, &size), 6);
}

// The prefix's "Personal" shell folder first, then the prefix's own user
// folder, then the desktop's documents folder.
TEST_F(WinePrefixTest, DocumentsFolder) {
  dir_.Write("prefix/user.reg",
             Hive(kShellFolders + "\"Personal\"=\"C:\\\\users\\\\tester\\\\My Documents\\\\\"\n"));
  EXPECT_EQ(GetSpecialFolder(5), "C:\\users\\tester\\My Documents");
  EXPECT_EQ(GetSpecialFolder(0x1a), "");
  dir_.Write("prefix/user.reg",
             Hive(kShellFolders + "\"Personal\"=\"C:\\\\" + std::string(600, 'd') + "\"\n"));
  EXPECT_EQ(GetSpecialFolder(5), "");  // does not fit the buffer
  dir_.Write("prefix/user.reg", Hive(kShellFolders + "\"Personal\"=\"D\"\n"));
  EXPECT_EQ(GetSpecialFolder(5), "D");  // one character is a value too
  dir_.Write("prefix/user.reg",
             Hive(kShellFolders + "\"Personal\"=\"\"\n\"Desktop\"=\"C:\\\\x\"\n"));
  dir_.MakeFolder("prefix/drive_c/users/tester/Documents");
  EXPECT_EQ(GetSpecialFolder(5), dir_.Join("prefix/drive_c/users/tester/Documents"));
  fs::remove_all(dir_.Join("prefix"));
  const std::string home = dir_.Join("home");
  const struct {
    const char* config;  // the configuration folder below the home
    std::string file;    // its user-dirs.dirs; "": as before
    std::string expected;
  } rows[] = {
      {".config", "", home + "/Documents"},  // no file
      {".config", "#\nXDG_DESKTOP_DIR=\"$HOME/D\"\n  XDG_DOCUMENTS_DIR=\"$HOME/My \\\"D\\\"/\"",
       home + "/My \"D\""},
      {".config", "XDG_DOCUMENTS_DIR=\"/srv/documents/\"\n", "/srv/documents"},
      {".config", "XDG_DOCUMENTS_DIR=\"Documents2\"\n", home + "/Documents"},  // relative
      {"cfg", "XDG_DOCUMENTS_DIR=\"$HOME/Papiers\"\n", home + "/Papiers"},
  };
  for (const auto& row : rows) {
    if (!row.file.empty())
      dir_.Write(std::string("home/") + row.config + "/user-dirs.dirs", row.file);
    if (*row.config == 'c') setenv("XDG_CONFIG_HOME", (home + "/cfg").c_str(), 1);
    EXPECT_EQ(GetSpecialFolder(5), row.expected) << row.file;
  }
}

struct File {
  std::string path;     // below the home; "{home}" in the content is its path
  std::string content;  // "->target": a symbolic link instead; "|": a named pipe
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
    } else if (content.rfind("->", 0) == 0) {
      fs::create_directories(content.substr(2));
      home.Link(content.substr(2), file.path);
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
  const std::string steam = ".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/";
  const std::string heroic = "heroic/GamesConfig/";
  const struct {
    const char* kind;  // "": no prefix of its own
    std::string path;
    std::string content = {};  // "": the hive of a prefix with the game
  } rows[] = {
      {"Wine", ".wine/system.reg"},
      {"", "xdg data/lutris/games/s.yml", "game:\n  exe: a\n  prefix: '{home}/L S/pfx-root'\n"},
      {"Lutris", "L S/pfx-root/system.reg"},
      {"Bottles", "xdg data/bottles/bottles/Sims/system.reg"},
      // Steam's own folder reached through ~/.steam/steam as well: once.
      {"", ".steam/steam", "->{home}/xdg data/Steam"},
      {"Steam (Proton)", ".steam/steam/steamapps/compatdata/228980/pfx/system.reg"},
      {"", ".steam/steam/steamapps/libraryfolders.vdf",
       "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"{home}/xdg data/Steam\"\n\t}\n"
       "\t\"1\"\n\t{\n\t\t// was \"path\"\n\t\tpath\t\t\"{home}/SSD\"\n\t}\n}\n"},
      {"Steam (Proton)", "SSD/steamapps/compatdata/2000000001/pfx/system.reg"},
      {"Steam (Proton)", steam + "compatdata/7/pfx/system.reg"},
      {"", steam + "libraryfolders.vdf",  // the old layout
       "\"LibraryFolders\"\n{\n\t\"TimeNextStatsReport\"\t\"1\"\n\t\"1\"\t\"{home}/mnt\"\n}\n"},
      {"Steam (Proton)", "mnt/steamapps/compatdata/5/pfx/system.reg"},
      {"", "snap/steam/common/.local/share/Steam/steamapps/libraryfolders.vdf",
       "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"{home}/cut"},  // cut short
      {"", "cut/steamapps/compatdata/9/pfx/system.reg"},
      {"Heroic", "Games/Heroic/Prefixes/default/The Sims 2/system.reg"},
      {"", "xdg config/" + heroic + "Sims2.json",
       "{\n  \"Sims2\": {\n    \"winePrefix\" : \"{home}\\/Heroic\\tG\\/Sims2\",\n    \"wine\": "
       "{}\n  "
       "}\n}"},
      {"Heroic", "Heroic\tG/Sims2/pfx/system.reg"},
      {"", ".var/app/com.heroicgameslauncher.hgl/config/" + heroic + "x.json",
       "{\"x\":{\"winePrefix\":\"~/hgl\\u002fx\"}}"},
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
  const posix::DiscoveryHome where{home.Path(), home.Join("xdg data"), home.Join("xdg config")};
  for (const auto& candidate : posix::ListPrefixCandidates(where))
    listed.push_back(PrefixKindName(candidate.kind) + (" " + candidate.folder));
  EXPECT_EQ(listed, expected);
}

// The first kind's prefix that holds the game ("Install Dir" a string, in
// either view); among several of that kind, the one whose hive changed last.
// Whatever else lies in the home only counts as holding nothing.
TEST(PrefixDiscoveryTest, ChoosesThePrefixThatHoldsTheGame) {
  const std::string wow = "[Software\\\\Wow6432Node\\\\EA GAMES\\\\The Sims 2] 1\n";
  const struct {
    std::vector<File> files;
    std::string found;  // below the home; "": nothing
  } rows[] = {
      {{{".wine/system.reg", Game(), 3600}, {".local/share/bottles/bottles/N/system.reg", Game()}},
       ".wine"},
      {{{"Games/a/system.reg", Game(), 600},
        {"Games/b/system.reg", Game("C:\\\\", "win64"), 60},
        {"Games/c/system.reg", Game(), 6000}},
       "Games/b"},
      {{{"Games/x64/system.reg", Game("C:\\\\", "win64", wow)}}, "Games/x64"},
      {{{".wine/system.reg", Game("")}, {"Games/notes.txt", "x"}}, ""},
      {{{".wine/system.reg", std::string(3 << 20, '[')},
        {".config/lutris/games/bad.yml", std::string("\0\xff prefix:\n  prefix: \"\n", 22)},
        {".config/lutris/games/huge.yml", "prefix: {home}/huge\n" + std::string(1 << 20, '#')},
        {"huge/system.reg", Game()},
        {"Games/empty/system.reg", Game("")},
        {"Games/x64/system.reg", Game("", "win64")},
        {"Games/dword/system.reg", Hive(kSection + "\"Install Dir\"=dword:1\n")},
        {"Games/folder-as-hive/system.reg/x", "not a file"},
        {"Games/binary/system.reg", std::string("\x00\x01[\\\\\x80]\n\"Install Dir\"=\"x", 25)},
        {".local/share/Steam/steamapps/libraryfolders.vdf", std::string(200, '{') + "\"path"},
        {".steam/steam/steamapps/libraryfolders.vdf", "|"},
        {".var/app/com.valvesoftware.Steam/data/Steam/steamapps/libraryfolders.vdf",
         "}}}} \"path\" \"relative/lib\""},
        {"Games/too-large/system.reg", Game(), 0, (uintmax_t{32} << 20) + 1},
        {".config/heroic/GamesConfig/bad.json", "{\"winePrefix\": \"\\u12"},
        {".config/PortProton.conf", "|"},
        {"PortProton/data/prefixes/OK/system.reg", Game()}},
       "PortProton/data/prefixes/OK"},
  };
  for (const auto& row : rows) {
    test::TempDir home;
    Lay(home, row.files);
    const auto found =
        posix::DiscoverGamePrefix({home.Path(), home.Join(".local/share"), home.Join(".config")});
    EXPECT_EQ(found ? found->folder : "", row.found.empty() ? "" : home.Join(row.found));
  }
}

// Every folder listing is bounded: of 4100 prefixes in one folder, the first
// 4094 entries read count (4096 with "." and "..").
TEST(PrefixDiscoveryTest, ListingsAreBounded) {
  test::TempDir home;
  home.MakeFolder("Games");
  for (int i = 0; i < 4100; ++i) {
    const std::string folder = home.Join("Games/" + std::to_string(i));
    ASSERT_EQ(
        ::mkdir(folder.c_str(), 0700) | ::close(::creat((folder + "/system.reg").c_str(), 0600)),
        0);
  }
  EXPECT_EQ(posix::ListPrefixCandidates({home.Path(), home.Join("d"), home.Join("c")}).size(),
            4094u);
}

// Without WINEPREFIX the lookups answer from the discovered prefix, and
// from ~/.wine when no prefix holds the game.
TEST_F(WinePrefixTest, LookupsAnswerFromTheDiscoveredPrefix) {
  dir_.Write("data/bottles/bottles/Sims/system.reg", Game());
  dir_.Write("data/bottles/bottles/Sims/user.reg",
             Hive(kShellFolders + "\"Personal\"=\"C:\\\\users\\\\me\\\\Documents\"\n"));
  unsetenv("WINEPREFIX");
  setenv("XDG_DATA_HOME", dir_.Join("data").c_str(), 1);
  EXPECT_EQ(Lookup("Install Dir"), "C:\\Sims2\\");
  EXPECT_EQ(GetSpecialFolder(5), "C:\\users\\me\\Documents");
  dir_.Write("home/.wine/user.reg", Hive(kShellFolders + "\"Personal\"=\"C:\\\\wine\"\n"));
  unsetenv("XDG_DATA_HOME");
  EXPECT_EQ(Lookup("Install Dir"), "");
  EXPECT_EQ(GetSpecialFolder(5), "C:\\wine");
  // The default data folder, in another home.
  dir_.Write("other/.local/share/bottles/bottles/S/system.reg", Game());
  setenv("HOME", dir_.Join("other").c_str(), 1);
  EXPECT_EQ(Lookup("Install Dir"), "C:\\Sims2\\");
}

}  // namespace
}  // namespace qv::platform
