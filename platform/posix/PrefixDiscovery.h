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
// keeps it. The prefix is the first kind's whose system.reg holds the game's
// "Install Dir" (in either view); among several of that kind, the one whose
// system.reg changed last. None: nothing is found.
//
// All of it reads files that other programs wrote: every file read is
// capped, every folder listing bounded, and a malformed file only counts as
// holding nothing.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace qv::platform::posix {

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

struct DiscoveredPrefix {
  PrefixKind kind;
  std::string folder;
  std::string installDir;  // the game's "Install Dir", as the hive holds it
};

std::optional<DiscoveredPrefix> DiscoverGamePrefix(const DiscoveryHome& where);

}  // namespace qv::platform::posix
