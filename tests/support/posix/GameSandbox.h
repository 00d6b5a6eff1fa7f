// A sandbox that looks to the installer like a machine with the game under
// Wine: a Wine prefix whose registry points "Install Dir" at a game folder on
// drive C: and names a documents folder, a catalog script, the per-user
// Downloads folder, a temporary folder and a home folder of its own. Nothing
// outside `root` is touched.
#pragma once

#include <string>
#include <vector>

#include "support/posix/Subprocess.h"

namespace qv::test {

class GameSandbox {
 public:
  struct Options {
    bool createDownloadsFolder = true;
    bool createCatalog = true;
    bool registerInstallDir = true;
    // Catalog script content, written as it stands.
    std::string catalog = "# Modular stairs\r\nmodularStairs 1\r\nobjectID 100\r\n";
  };

  explicit GameSandbox(std::string root) : GameSandbox(std::move(root), Options()) {}
  GameSandbox(std::string root, const Options& options);

  // Native paths, without a trailing slash.
  const std::string& Root() const { return root_; }
  std::string Prefix() const { return root_ + "/prefix"; }
  std::string GameFolder() const;
  std::string CatalogPath() const;
  std::string DownloadsFolder() const;
  std::string TempFolder() const { return root_ + "/tmp"; }
  std::string Home() const { return root_ + "/home"; }

  // What the registry says, in Windows form.
  static constexpr const char* kInstallDirValue = "C:\\Program Files\\EA GAMES\\The Sims 2\\";
  static constexpr const char* kDocumentsValue = "C:\\users\\player\\Documents";

  std::string ReadCatalog() const;
  void WriteCatalog(const std::string& content) const;
  // The names of the files in the Downloads folder, sorted.
  std::vector<std::string> InstalledPackages() const;
  // The names left in the temporary folder, sorted.
  std::vector<std::string> TempEntries() const;

  // The environment for the installer: this sandbox's prefix, home and
  // temporary folder, no display (so no graphical dialogs).
  Environment InstallerEnvironment(const Environment& extra = {}) const;

 private:
  std::string root_;
};

}  // namespace qv::test
