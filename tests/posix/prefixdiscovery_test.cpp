// Finding the game's Wine prefix without WINEPREFIX, over fixture homes laid
// out as each launcher lays out its own, and through the two lookups.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/modPaths.h"
#include "platform/Registry.h"
#include "platform/posix/PrefixDiscovery.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

namespace {

namespace fs = std::filesystem;
using qv::platform::posix::DiscoveryHome;
using qv::platform::posix::PrefixKind;
using qv::platform::posix::PrefixKindName;

// A machine hive; `installDir` empty: without the game.
std::string Hive(const std::string& installDir, const std::string& arch = "win32",
                 const std::string& key = "Software\\\\EA GAMES\\\\The Sims 2") {
  std::string hive =
      "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=" + arch +
      "\n\n[Software\\\\Classes\\\\.txt] 1700000000\n@=\"txtfile\"\n\n";
  if (!installDir.empty()) {
    hive += "[" + key + "] 1700000000\n\"Install Dir\"=\"" + installDir + "\"\n";
  }
  return hive;
}
const std::string kGame = Hive("C:\\\\Games\\\\Sims2\\\\");

struct File {
  std::string path;     // below the home; "{home}" in the content is its path
  std::string content;  // "->target": a symbolic link instead; "|": a named pipe
  int ageSeconds = 0;   // how long ago it changed
  uintmax_t size = 0;   // more: padded with zeros (sparse) to that size
};

struct Row {
  const char* name;
  std::vector<File> files;
  std::optional<PrefixKind> kind;  // none: nothing found
  std::string folder;              // below the home
};

const std::string kSteamVdf =
    "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"{home}/.local/share/Steam\"\n"
    "\t\t\"apps\"\n\t\t{\n\t\t\t\"228980\"\t\t\"1\"\n\t\t}\n\t}\n"
    "\t\"1\"\n\t{\n\t\t\"path\"\t\t\"{home}/SSD Library\"\n\t}\n}\n";

const Row kRows[] = {
    {"~/.wine", {{".wine/system.reg", kGame}}, PrefixKind::kWine, ".wine"},
    {"Lutris game file with a home-relative prefix",
     {{".config/lutris/games/the-sims-2-1700.yml",
       "game:\n  exe: drive_c/Sims2.exe\n  prefix: ~/lutris/sims2\nsystem: {}\n"},
      {"lutris/sims2/system.reg", kGame}},
     PrefixKind::kLutris,
     "lutris/sims2"},
    {"Lutris game file in the data home, quoted prefix",
     {{".local/share/lutris/games/sims.yml", "game:\n  prefix: '{home}/L S/pfx-root'\n"},
      {"L S/pfx-root/system.reg", kGame}},
     PrefixKind::kLutris,
     "L S/pfx-root"},
    {"folder of ~/Games",
     {{"Games/the-sims-2/system.reg", kGame}},
     PrefixKind::kLutris,
     "Games/the-sims-2"},
    {"Bottles bottle",
     {{".local/share/bottles/bottles/Sims/system.reg", kGame}},
     PrefixKind::kBottles,
     ".local/share/bottles/bottles/Sims"},
    {"Bottles Flatpak bottle",
     {{".var/app/com.usebottles.bottles/data/bottles/bottles/Games/system.reg", kGame}},
     PrefixKind::kBottles,
     ".var/app/com.usebottles.bottles/data/bottles/bottles/Games"},
    {"Steam's own library",
     {{".local/share/Steam/steamapps/compatdata/228980/pfx/system.reg", kGame}},
     PrefixKind::kSteam,
     ".local/share/Steam/steamapps/compatdata/228980/pfx"},
    {"second Steam library of libraryfolders.vdf, Steam reached through ~/.steam/steam",
     {{".local/share/Steam/steamapps/libraryfolders.vdf", kSteamVdf},
      {".steam/steam", "->{home}/.local/share/Steam"},
      {".local/share/Steam/steamapps/compatdata/228980/pfx/system.reg", Hive("")},
      {"SSD Library/steamapps/compatdata/2000000001/pfx/system.reg", kGame}},
     PrefixKind::kSteam,
     "SSD Library/steamapps/compatdata/2000000001/pfx"},
    {"old libraryfolders.vdf layout",
     {{".steam/steam/steamapps/libraryfolders.vdf",
       "\"LibraryFolders\"\n{\n\t\"TimeNextStatsReport\"\t\t\"1700000000\"\n"
       "\t\"1\"\t\t\"{home}/mnt/games\"\n}\n"},
      {"mnt/games/steamapps/compatdata/5/pfx/system.reg", kGame}},
     PrefixKind::kSteam,
     "mnt/games/steamapps/compatdata/5/pfx"},
    {"Flatpak Steam",
     {{".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/compatdata/7/pfx/system.reg",
       kGame}},
     PrefixKind::kSteam,
     ".var/app/com.valvesoftware.Steam/.local/share/Steam/steamapps/compatdata/7/pfx"},
    {"Snap Steam",
     {{"snap/steam/common/.local/share/Steam/steamapps/compatdata/8/pfx/system.reg", kGame}},
     PrefixKind::kSteam,
     "snap/steam/common/.local/share/Steam/steamapps/compatdata/8/pfx"},
    {"Heroic wine prefix",
     {{"Games/Heroic/Prefixes/default/The Sims 2/system.reg", kGame}},
     PrefixKind::kHeroic,
     "Games/Heroic/Prefixes/default/The Sims 2"},
    {"Heroic game configuration naming a Proton prefix",
     {{".config/heroic/GamesConfig/Sims2.json",
       "{\n  \"Sims2\": {\n    \"autoInstallDxvk\": true,\n"
       "    \"winePrefix\" : \"{home}\\/Heroic Games\\/Sims2\",\n    \"wineVersion\": {}\n  "
       "}\n}\n"},
      {"Heroic Games/Sims2/pfx/system.reg", kGame}},
     PrefixKind::kHeroic,
     "Heroic Games/Sims2/pfx"},
    {"Flatpak Heroic game configuration",
     {{".var/app/com.heroicgameslauncher.hgl/config/heroic/GamesConfig/x.json",
       "{\"x\":{\"winePrefix\":\"~/hgl/x\"}}"},
      {"hgl/x/system.reg", kGame}},
     PrefixKind::kHeroic,
     "hgl/x"},
    {"PortProton in its own folder",
     {{"PortProton/data/prefixes/DEFAULT/system.reg", kGame}},
     PrefixKind::kPortProton,
     "PortProton/data/prefixes/DEFAULT"},
    {"PortProton folder named in PortProton.conf",
     {{".config/PortProton.conf", "{home}/apps/PP/\n"},
      {"apps/PP/data/prefixes/SIMS/system.reg", kGame}},
     PrefixKind::kPortProton,
     "apps/PP/data/prefixes/SIMS"},
    {"64-bit prefix, game in the 32-bit view",
     {{"Games/x64/system.reg",
       Hive("C:\\\\Sims\\\\", "win64", "Software\\\\Wow6432Node\\\\EA GAMES\\\\The Sims 2")}},
     PrefixKind::kLutris,
     "Games/x64"},
    {"64-bit prefix, game in the 64-bit view only",
     {{"Games/x64/system.reg", Hive("C:\\\\Sims\\\\", "win64")}},
     PrefixKind::kLutris,
     "Games/x64"},
    {"an earlier kind wins over a later, newer prefix",
     {{".wine/system.reg", kGame, 3600}, {".local/share/bottles/bottles/New/system.reg", kGame}},
     PrefixKind::kWine,
     ".wine"},
    {"several of one kind: the last changed",
     {{"Games/a/system.reg", kGame, 600},
      {"Games/b/system.reg", kGame, 60},
      {"Games/c/system.reg", kGame, 6000}},
     PrefixKind::kLutris,
     "Games/b"},
    {"prefixes without the game are passed over",
     {{".wine/system.reg", Hive("")},
      {"Games/empty/system.reg", Hive("")},
      {"Games/x64/system.reg", Hive("", "win64")},
      {"PortProton/data/prefixes/DEFAULT/system.reg", kGame}},
     PrefixKind::kPortProton,
     "PortProton/data/prefixes/DEFAULT"},
    {"malformed files of every kind, then the game",
     {{".wine/system.reg", std::string(3 << 20, '[')},
      {".config/lutris/games/bad.yml", std::string("\0\xff prefix:\n  prefix: \"\n", 22)},
      {".config/lutris/games/huge.yml", std::string(2 << 20, 'y')},
      {"Games/folder-as-hive/system.reg/x", "not a file"},
      {"Games/binary/system.reg", std::string("\x00\x01[\\\\\x80]\n\"Install Dir\"=\"x", 25)},
      {".local/share/Steam/steamapps/libraryfolders.vdf", std::string(200, '{') + "\"path"},
      {".steam/steam/steamapps/libraryfolders.vdf", "|"},
      {".var/app/com.valvesoftware.Steam/data/Steam/steamapps/libraryfolders.vdf",
       "}}}} \"path\" \"relative/lib\""},
      {"Games/too-large/system.reg", kGame, 0, uintmax_t{40} << 20},
      {".config/heroic/GamesConfig/bad.json", "{\"winePrefix\": \"\\u12"},
      {".config/PortProton.conf", "|"},
      {"PortProton/data/prefixes/OK/system.reg", kGame}},
     PrefixKind::kPortProton,
     "PortProton/data/prefixes/OK"},
    {"none anywhere", {{".wine/system.reg", Hive("")}, {"Games/notes.txt", "x"}}, std::nullopt, ""},
    {"empty home", {}, std::nullopt, ""},
};

std::string WithHome(std::string text, const std::string& home) {
  for (size_t at = text.find("{home}"); at != std::string::npos; at = text.find("{home}", at)) {
    text.replace(at, 6, home);
  }
  return text;
}

void Lay(const qv::test::TempDir& dir, const std::vector<File>& files) {
  for (const File& file : files) {
    const std::string content = WithHome(file.content, dir.Path());
    const fs::path path = dir.Join(file.path);
    if (content.rfind("->", 0) == 0 || content == "|") {
      fs::create_directories(path.parent_path());
      if (content == "|") {
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
      } else {
        fs::create_directory_symlink(content.substr(2), path);
      }
      continue;
    }
    dir.Write(file.path, content);
    if (file.size > 0) fs::resize_file(path, file.size);
    fs::last_write_time(
        path, fs::file_time_type::clock::now() - std::chrono::seconds(file.ageSeconds + 10));
  }
}

TEST(PrefixDiscoveryTest, FindsTheGameInEveryLaunchersLayout) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.name);
    qv::test::TempDir dir;
    Lay(dir, row.files);
    const DiscoveryHome where{dir.Path(), dir.Path() + "/.local/share", dir.Path() + "/.config"};
    const auto found = qv::platform::posix::DiscoverGamePrefix(where);
    ASSERT_EQ(found.has_value(), row.kind.has_value()) << (found ? found->folder : "nothing");
    if (!found) continue;
    EXPECT_STREQ(PrefixKindName(found->kind), PrefixKindName(*row.kind));
    EXPECT_EQ(found->folder, dir.Join(row.folder));
    EXPECT_FALSE(found->installDir.empty());
  }
}

TEST(PrefixDiscoveryTest, XdgFoldersAreTheLaunchersFolders) {
  qv::test::TempDir dir;
  Lay(dir, {{"xdg data/bottles/bottles/Sims/system.reg", kGame},
            {"xdg config/lutris/games/s.yml", "game:\n  prefix: {home}/lutris-pfx\n"},
            {"lutris-pfx/system.reg", Hive("")},
            {".local/share/bottles/bottles/Ignored/system.reg", kGame}});
  const DiscoveryHome where{dir.Path(), dir.Join("xdg data"), dir.Join("xdg config")};
  const auto candidates = qv::platform::posix::ListPrefixCandidates(where);
  ASSERT_EQ(candidates.size(), 2u);
  EXPECT_EQ(candidates[0].folder, dir.Join("lutris-pfx"));
  EXPECT_EQ(candidates[1].folder, dir.Join("xdg data/bottles/bottles/Sims"));
  const auto found = qv::platform::posix::DiscoverGamePrefix(where);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->installDir, "C:\\Games\\Sims2\\");
}

// Without WINEPREFIX the lookups answer from the discovered prefix.
TEST(PrefixDiscoveryTest, LookupsAnswerFromTheDiscoveredPrefix) {
  qv::test::TempDir dir;
  const std::string bottle = ".var/app/com.usebottles.bottles/data/bottles/bottles/Sims";
  Lay(dir, {{bottle + "/system.reg", kGame},
            {bottle + "/user.reg",
             "WINE REGISTRY Version 2\n\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\"
             "Explorer\\\\Shell Folders] 1\n\"Personal\"=\"C:\\\\users\\\\me\\\\Documents\"\n"}});
  qv::test::ScopedEnv env{{{"WINEPREFIX", std::nullopt},
                           {"HOME", dir.Path()},
                           {"XDG_DATA_HOME", std::nullopt},
                           {"XDG_CONFIG_HOME", std::nullopt}}};
  EXPECT_EQ(qv::GetRegistryString(qv::platform::kHkeyLocalMachine, "SOFTWARE\\EA GAMES\\The Sims 2",
                                  "Install Dir"),
            "C:\\Games\\Sims2\\");
  EXPECT_EQ(qv::GetSpecialFolder(5), "C:\\users\\me\\Documents");
  // No prefix holds the game: ~/.wine, as without discovery.
  fs::remove(dir.Join(bottle + "/system.reg"));
  qv::test::TempDir other;
  qv::test::ScopedEnv home{{{"HOME", other.Path()}}};
  EXPECT_EQ(qv::GetRegistryString(qv::platform::kHkeyLocalMachine, "SOFTWARE\\EA GAMES\\The Sims 2",
                                  "Install Dir"),
            "");
}

}  // namespace
