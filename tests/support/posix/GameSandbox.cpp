#include "support/posix/GameSandbox.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace qv::test {

namespace fs = std::filesystem;

namespace {

void WriteFile(const fs::path& path, const std::string& content) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

}  // namespace

GameSandbox::GameSandbox(std::string root, const Options& options) : root_(std::move(root)) {
  const std::string prefix = root_ + "/prefix";
  fs::create_directories(prefix + "/dosdevices");
  std::error_code ec;
  fs::remove(prefix + "/dosdevices/c:", ec);
  fs::create_directory_symlink("../drive_c", prefix + "/dosdevices/c:");
  fs::create_directories(TempFolder());
  fs::create_directories(root_ + "/home");
  fs::create_directories(DownloadsFolder());
  fs::create_directories(fs::path(CatalogPath()).parent_path());
  WriteFile(prefix + "/system.reg",
            "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
            "[Software\\\\EA GAMES\\\\The Sims 2] 1700000000\n#time=1d9a0b0c0d0e0f0\n"
            "\"Install Dir\"=\"C:\\\\Program Files\\\\EA GAMES\\\\The Sims 2\\\\\"\n"
            "\"Language\"=dword:00000409\n\n");
  WriteFile(prefix + "/user.reg",
            "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
            "#arch=win32\n\n"
            "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] "
            "1700000000\n\"Personal\"=\"C:\\\\users\\\\player\\\\Documents\"\n\n");
  if (options.createCatalog) WriteFile(CatalogPath(), options.catalog);
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
      {"WINEPREFIX", root_ + "/prefix"},
      {"HOME", root_ + "/home"},
      {"TMPDIR", TempFolder() + "/"},
      {"XDG_CONFIG_HOME", root_ + "/home/.config"},
      {"DISPLAY", ""},
      {"WAYLAND_DISPLAY", ""},
  };
  for (const auto& [name, value] : extra) changes[name] = value;
  return EnvironmentWith(changes);
}

}  // namespace qv::test
