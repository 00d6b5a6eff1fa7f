// The Wine prefix as the installer reads it, over fixture prefixes and homes:
// registry values from the hives, the documents folder, and the prefix found
// without WINEPREFIX in every launcher's layout. The real home and prefix are
// never looked at.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "common/modPaths.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "platform/posix/PrefixDiscovery.h"
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
  const auto found =
      posix::DiscoverGamePrefix({home.Path(), home.Join(".local/share"), home.Join(".config")});
  ASSERT_TRUE(found);
  EXPECT_EQ(found->folder, home.Join("Games/b"));
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
