// Finding the Wine prefix that holds the game when WINEPREFIX is not set, as
// when a browser starts the installer for a link. Players keep the game in
// whatever prefix their launcher made, so every launcher's own layout is
// looked at, in this order:
//  1. ~/.wine;
//  2. Lutris: the "prefix:" of each game file in $XDG_CONFIG_HOME/lutris/games
//     and $XDG_DATA_HOME/lutris/games, and every folder of ~/Games;
//  3. Bottles: every bottle, native and Flatpak;
//  4. Steam: steamapps/compatdata/*/pfx in every library that
//     steamapps/libraryfolders.vdf lists, for the native, the Flatpak and the
//     Snap Steam;
//  5. Heroic: every prefix below ~/Games/Heroic/Prefixes, and the
//     "winePrefix" of each game configuration (native and Flatpak);
//  6. PortProton: data/prefixes/* of its folder.
// A folder counts when it holds system.reg, or pfx/system.reg as Proton
// keeps it. The prefix is the first kind's whose hives hold one of the
// game's keys (see FindGameKeys); among several of that kind, the one whose
// hives changed last. Steam's prefix of the Legacy Collection
// (compatdata/3314070/pfx) is the game's even before the game has written
// its keys there, which it does when it first starts; such a prefix comes
// after every prefix with keys, and so does the prefix that Steam will make
// for a Legacy Collection installed in a library but never started. None:
// nothing is found.
//
// All of it reads files that other programs wrote: every file read is
// capped, every folder listing bounded, and a malformed file only counts as
// holding nothing.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qv::platform::wine {

// The folders that discovery starts from; no trailing slashes.
struct DiscoveryHome {
  std::string home;
  std::string dataHome;    // $XDG_DATA_HOME, else ~/.local/share
  std::string configHome;  // $XDG_CONFIG_HOME, else ~/.config

  static DiscoveryHome FromEnvironment();
};

enum class PrefixKind { kWine, kLutris, kBottles, kSteam, kHeroic, kPortProton };

// "Wine", "Lutris", "Bottles", "Steam (Proton)", "Heroic", "PortProton".
const char* PrefixKindName(PrefixKind kind);

struct PrefixCandidate {
  PrefixKind kind;
  std::string folder;  // holds system.reg
};

// Every prefix folder of the home, in the order above, each folder once.
std::vector<PrefixCandidate> ListPrefixCandidates(const DiscoveryHome& where);

// The game's registry keys, in the order in which the game is looked up.
enum class GameKey {
  kNone,  // none of them (yet)
  // HKLM "SOFTWARE\EA GAMES\The Sims 2", "Install Dir": the disc edition
  // and the Ultimate Collection.
  kEaGames,
  // The Legacy Collection: HKCU "Software\Electronic Arts\The Sims 2
  // Ultimate Collection 25" with a pack program's sub-key that holds a
  // "path"; else HKLM "SOFTWARE\Maxis\The Sims 2 Legacy", "Install Dir";
  // else HKLM "SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\Steam
  // App 3314070", "InstallLocation".
  kLegacyUser,
  kLegacyMaxis,
  kLegacySteam,
};

struct GameKeys {
  GameKey key = GameKey::kNone;
  // The folder that the key names, as the hive holds it (a Windows path,
  // in the ANSI code page): the "Install Dir" or "InstallLocation", or the
  // first pack's "path" (in the order of the sub-keys).
  std::string folder;
};

// The first of the game's keys that the prefix's system.reg and user.reg
// hold; string values only, not empty, in either view. Hives beyond the
// size a prefix's hive reaches count as holding nothing.
GameKeys FindGameKeys(const std::string& prefix);

// Whether `prefix` is the folder that Steam keeps the Legacy Collection's
// prefix in: .../steamapps/compatdata/3314070/pfx.
bool IsLegacySteamPrefix(const std::string& prefix);

struct DiscoveredPrefix {
  PrefixKind kind;
  std::string folder;
  std::string installDir = {};  // the folder the key names (GameKeys::folder)
  // kNone: Steam's prefix of the Legacy Collection, which the game has not
  // written its keys into yet (the folder need not exist then).
  GameKey key = GameKey::kNone;
};

std::optional<DiscoveredPrefix> DiscoverGamePrefix(const DiscoveryHome& where);

}  // namespace qv::platform::wine
