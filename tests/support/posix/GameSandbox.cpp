#include "support/posix/GameSandbox.h"

#include <algorithm>
#include <filesystem>
#include <fstream>

namespace qv::test {

namespace fs = std::filesystem;

GameSandbox::GameSandbox(std::string root, const Options& options) : root_(std::move(root)) {
  const std::string prefix = root_ + "/prefix/";
  for (const std::string& folder :
       {prefix + "dosdevices", TempFolder(), root_ + "/home", DownloadsFolder(),
        GameFolder() + "/TSData/Res/Catalog/Scripts"})
    fs::create_directories(folder);
  std::error_code ec;
  fs::create_directory_symlink("../drive_c", prefix + "dosdevices/c:", ec);  // there already: ec
  std::ofstream(prefix + "system.reg")
      << "WINE REGISTRY Version 2\n\n[Software\\\\EA GAMES\\\\The Sims 2] 1700000000\n"
         "\"Install Dir\"=\"C:\\\\Games\\\\The Sims 2\\\\\"\n";
  std::ofstream(prefix + "user.reg")
      << "WINE REGISTRY Version 2\n\n[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\"
         "Explorer\\\\Shell Folders] "
         "1700000000\n\"Personal\"=\"C:\\\\users\\\\player\\\\Documents\"\n";
  if (options.createCatalog) std::ofstream(CatalogPath(), std::ios::binary) << options.catalog;
}

std::vector<std::string> GameSandbox::InstalledPackages() const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(DownloadsFolder(), ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

Environment GameSandbox::InstallerEnvironment(const Environment& extra) const {
  Environment changes = {
      {"WINEPREFIX", root_ + "/prefix"}, {"HOME", root_ + "/home"},
      {"TMPDIR", TempFolder() + "/"},    {"DISPLAY", ""},
      {"WAYLAND_DISPLAY", ""},           {"XDG_CONFIG_HOME", root_ + "/home/.config"}};
  for (const auto& [name, value] : extra) changes[name] = value;
  return EnvironmentWith(changes);
}

}  // namespace qv::test
