// Prefix discovery over a crowded home: what a browser-started installer
// pays before its first lookup.
//
// The home holds a few hundred candidate folders of every kind, none of them
// with the game but the last one looked at (a PortProton prefix), so every
// hive is read: 120 folders of ~/Games, 60 bottles, 120 Proton prefixes in
// two Steam libraries, 40 Heroic prefixes, with 16 KiB hives; and beside
// them malformed files: hives of 4 MiB without a line end, of binary noise,
// a hive that is a folder, broken game files, a libraryfolders.vdf of
// nested braces. BM_DiscoverCrowdedHome times one discovery there;
// BM_DiscoverWithLargeHives adds 20 Proton prefixes with hives of 2 MiB, the
// size a prefix with a game installed reaches.

#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>

#include "platform/wine/PrefixDiscovery.h"

namespace {

namespace fs = std::filesystem;
using qv::platform::wine::DiscoveryHome;

void Write(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

// A hive of about `bytes` bytes of ordinary keys; the game's key at the end
// when `installDir` is given.
std::string Hive(size_t bytes, const std::string& installDir = "") {
  std::string hive =
      "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win64\n\n";
  for (int i = 0; hive.size() < bytes; ++i) {
    hive += "[Software\\\\Classes\\\\CLSID\\\\{" + std::to_string(100000 + i) +
            "-0000-0000-C000-000000000046}\\\\InprocServer32] 1700000000\n#time=1d9b3c1a2b3c4d5\n"
            "@=\"C:\\\\windows\\\\system32\\\\ole32.dll\"\n\"ThreadingModel\"=\"Both\"\n\n";
  }
  if (!installDir.empty()) {
    hive += "[Software\\\\Wow6432Node\\\\EA GAMES\\\\The Sims 2] 1700000000\n\"Install Dir\"=\"" +
            installDir + "\"\n";
  }
  return hive;
}

class CrowdedHome {
 public:
  CrowdedHome() {
    std::string pattern = (fs::temp_directory_path() / "qv-discovery-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::cerr << "cannot make a temporary folder\n";
      std::exit(1);
    }
    home_ = pattern;
    const std::string small = Hive(16 << 10);
    for (int i = 0; i < 120; ++i)
      Write(home_ / ("Games/game-" + std::to_string(i)) / "system.reg", small);
    for (int i = 0; i < 60; ++i) {
      Write(home_ / (".local/share/bottles/bottles/b" + std::to_string(i)) / "system.reg", small);
    }
    Write(home_ / ".local/share/Steam/steamapps/libraryfolders.vdf",
          "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" +
              (home_ / "SteamLibrary").string() + "\"\n\t}\n}\n");
    for (int i = 0; i < 120; ++i) {
      const fs::path library = i % 2 ? home_ / ".local/share/Steam" : home_ / "SteamLibrary";
      Write(library / "steamapps/compatdata" / std::to_string(1000 + i) / "pfx/system.reg", small);
    }
    for (int i = 0; i < 40; ++i) {
      Write(home_ / ("Games/Heroic/Prefixes/default/h" + std::to_string(i)) / "system.reg", small);
    }
    // The malformed ones.
    std::mt19937 random(7);
    std::string noise(1 << 20, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    for (int i = 0; i < 5; ++i) {
      Write(home_ / ("Games/no-line-end-" + std::to_string(i)) / "system.reg",
            std::string(4 << 20, '['));
      Write(home_ / ("Games/noise-" + std::to_string(i)) / "system.reg", noise);
      fs::create_directories(home_ / ("Games/folder-" + std::to_string(i)) / "system.reg");
      Write(home_ / (".config/lutris/games/bad-" + std::to_string(i) + ".yml"),
            noise.substr(0, 4096));
      Write(home_ / (".config/heroic/GamesConfig/bad-" + std::to_string(i) + ".json"),
            "{\"winePrefix\": \"" + std::string(100000, '\\'));
    }
    Write(home_ / ".steam/steam/steamapps/libraryfolders.vdf", std::string(1 << 20, '{'));
    // The game, in the last kind looked at.
    Write(home_ / "PortProton/data/prefixes/DEFAULT/system.reg", Hive(16 << 10, "C:\\\\Sims2\\\\"));
  }
  ~CrowdedHome() {
    std::error_code ec;
    fs::remove_all(home_, ec);
  }
  CrowdedHome(const CrowdedHome&) = delete;
  CrowdedHome& operator=(const CrowdedHome&) = delete;

  void AddLargeHives() {
    const std::string large = Hive(2 << 20);
    for (int i = 0; i < 20; ++i) {
      Write(home_ / ".local/share/Steam/steamapps/compatdata" / std::to_string(5000 + i) /
                "pfx/system.reg",
            large);
    }
  }

  DiscoveryHome Where() const {
    return {home_.string(), (home_ / ".local/share").string(), (home_ / ".config").string()};
  }

 private:
  fs::path home_;
};

void Discover(benchmark::State& state, const CrowdedHome& home) {
  const DiscoveryHome where = home.Where();
  const size_t candidates = qv::platform::wine::ListPrefixCandidates(where).size();
  for (auto _ : state) {
    auto found = qv::platform::wine::DiscoverGamePrefix(where);
    if (!found) state.SkipWithError("the game was not found");
    benchmark::DoNotOptimize(found);
  }
  state.counters["candidates"] = static_cast<double>(candidates);
}

void BM_DiscoverCrowdedHome(benchmark::State& state) {
  static CrowdedHome home;
  Discover(state, home);
}
BENCHMARK(BM_DiscoverCrowdedHome)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_DiscoverWithLargeHives(benchmark::State& state) {
  static CrowdedHome home;
  static bool added = false;
  if (!added) {
    home.AddLargeHives();
    added = true;
  }
  Discover(state, home);
}
BENCHMARK(BM_DiscoverWithLargeHives)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
