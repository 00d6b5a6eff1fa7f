// A sandbox that looks to the installer like a machine with the game under
// Wine: a Wine prefix whose registry points "Install Dir" at a game folder on
// drive C: and names a documents folder, a catalog script, the per-user
// Downloads folder, a temporary folder and a home folder of its own. Nothing
// outside `root` is touched.
#pragma once

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "support/posix/Subprocess.h"

namespace qv::test {

class GameSandbox {
 public:
  struct Options {
    bool createCatalog = true;
    std::string catalog =
        "# Modular stairs\r\nmodularStairs 1\r\nobjectID 100\r\n";  // as it stands
  };

  explicit GameSandbox(std::string root) : GameSandbox(std::move(root), Options()) {}
  GameSandbox(std::string root, const Options& options) : root_(std::move(root)) {
    const std::string prefix = root_ + "/prefix/";
    for (const std::string& folder :
         {prefix + "dosdevices", TempFolder(), root_ + "/home", DownloadsFolder(),
          GameFolder() + "/TSData/Res/Catalog/Scripts"})
      std::filesystem::create_directories(folder);
    std::error_code ec;  // the link may be there already
    std::filesystem::create_directory_symlink("../drive_c", prefix + "dosdevices/c:", ec);
    std::ofstream(prefix + "system.reg")
        << "WINE REGISTRY Version 2\n\n[Software\\\\EA GAMES\\\\The Sims 2] 1700000000\n"
           "\"Install Dir\"=\"C:\\\\Games\\\\The Sims 2\\\\\"\n";
    std::ofstream(prefix + "user.reg")
        << "WINE REGISTRY Version 2\n\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\"
           "Explorer\\\\Shell Folders] "
           "1700000000\n\"Personal\"=\"C:\\\\users\\\\player\\\\Documents\"\n";
    if (options.createCatalog) std::ofstream(CatalogPath(), std::ios::binary) << options.catalog;
  }

  // Native paths, without a trailing slash.
  std::string GameFolder() const { return root_ + "/prefix/drive_c/Games/The Sims 2"; }
  std::string CatalogPath() const {
    return GameFolder() + "/TSData/Res/Catalog/Scripts/modularstairs.txt";
  }
  std::string DownloadsFolder() const {
    return root_ + "/prefix/drive_c/users/player/Documents/EA Games/The Sims 2/Downloads";
  }
  std::string TempFolder() const { return root_ + "/tmp"; }
  // The names of the files in the Downloads folder, sorted.
  std::vector<std::string> InstalledPackages() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(DownloadsFolder(), ec))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }

  // The environment for the installer: this sandbox's prefix, home and
  // temporary folder, no display (so no graphical dialogs).
  Environment InstallerEnvironment(const Environment& extra = {}) const {
    Environment changes = {
        {"WINEPREFIX", root_ + "/prefix"}, {"HOME", root_ + "/home"},
        {"TMPDIR", TempFolder() + "/"},    {"DISPLAY", ""},
        {"WAYLAND_DISPLAY", ""},           {"XDG_CONFIG_HOME", root_ + "/home/.config"}};
    for (const auto& [name, value] : extra) changes[name] = value;
    return EnvironmentWith(changes);
  }

 private:
  std::string root_;
};

}  // namespace qv::test
