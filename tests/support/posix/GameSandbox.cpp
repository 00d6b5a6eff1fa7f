#include "support/posix/GameSandbox.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
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

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  std::ostringstream content;
  content << in.rdbuf();
  return content.str();
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

constexpr const char kGameBelowDriveC[] = "Program Files/EA GAMES/The Sims 2";
constexpr const char kDocumentsBelowDriveC[] = "users/player/Documents";

}  // namespace

GameSandbox::GameSandbox(std::string root, const Options& options) : root_(std::move(root)) {
  fs::create_directories(Prefix() + "/drive_c");
  fs::create_directories(Prefix() + "/dosdevices");
  std::error_code ec;
  fs::remove(Prefix() + "/dosdevices/c:", ec);
  fs::create_directory_symlink("../drive_c", Prefix() + "/dosdevices/c:");
  fs::create_directories(TempFolder());
  fs::create_directories(Home());

  std::string machine =
      "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n";
  if (options.registerInstallDir) {
    machine +=
        "[Software\\\\EA GAMES\\\\The Sims 2] 1700000000\n"
        "#time=1d9a0b0c0d0e0f0\n"
        "\"Install Dir\"=\"C:\\\\Program Files\\\\EA GAMES\\\\The Sims 2\\\\\"\n"
        "\"Language\"=dword:00000409\n\n";
  }
  WriteFile(Prefix() + "/system.reg", machine);
  WriteFile(Prefix() + "/user.reg",
            "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
            "#arch=win32\n\n"
            "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] "
            "1700000000\n"
            "\"Personal\"=\"C:\\\\users\\\\player\\\\Documents\"\n\n");

  fs::create_directories(GameFolder() + "/TSData/Res/Catalog/Scripts");
  fs::create_directories(Prefix() + "/drive_c/" + kDocumentsBelowDriveC);
  if (options.createCatalog) WriteCatalog(options.catalog);
  if (options.createDownloadsFolder) fs::create_directories(DownloadsFolder());
}

std::string GameSandbox::GameFolder() const {
  return Prefix() + "/drive_c/" + kGameBelowDriveC;
}

std::string GameSandbox::CatalogPath() const {
  return GameFolder() + "/TSData/Res/Catalog/Scripts/modularstairs.txt";
}

std::string GameSandbox::DownloadsFolder() const {
  return Prefix() + "/drive_c/" + kDocumentsBelowDriveC + "/EA Games/The Sims 2/Downloads";
}

std::string GameSandbox::ReadCatalog() const {
  return ReadFile(CatalogPath());
}

void GameSandbox::WriteCatalog(const std::string& content) const {
  WriteFile(CatalogPath(), content);
}

std::vector<std::string> GameSandbox::InstalledPackages() const {
  return Names(DownloadsFolder());
}

std::vector<std::string> GameSandbox::TempEntries() const {
  return Names(TempFolder());
}

Environment GameSandbox::InstallerEnvironment(const Environment& extra) const {
  Environment changes = {
      {"WINEPREFIX", Prefix()},
      {"HOME", Home()},
      {"TMPDIR", TempFolder() + "/"},
      {"XDG_CONFIG_HOME", Home() + "/.config"},
      {"DISPLAY", ""},
      {"WAYLAND_DISPLAY", ""},
  };
  for (const auto& [name, value] : extra) changes[name] = value;
  return EnvironmentWith(changes);
}

}  // namespace qv::test
