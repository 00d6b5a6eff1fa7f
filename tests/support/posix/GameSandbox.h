// A sandbox that looks to the installer like a machine with the game under
// Wine: a Wine prefix whose registry points "Install Dir" at a game folder on
// drive C: and names a documents folder, a catalog script, the per-user
// Downloads folder, a temporary folder and a home folder of its own. Nothing
// outside `root` is touched.
#pragma once

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
  GameSandbox(std::string root, const Options& options);

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
  std::vector<std::string> InstalledPackages() const;

  // The environment for the installer: this sandbox's prefix, home and
  // temporary folder, no display (so no graphical dialogs).
  Environment InstallerEnvironment(const Environment& extra = {}) const;

 private:
  std::string root_;
};

}  // namespace qv::test
