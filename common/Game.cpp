#include "common/Game.h"

#include <cstdint>
#include <exception>

#include "common/modPaths.h"
#include "platform/CodePage.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "platform/Shell.h"

namespace qv {

namespace {

using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;

constexpr char kGameKey[] = "SOFTWARE\\EA GAMES\\The Sims 2";
constexpr char kLegacyUserKey[] = "Software\\Electronic Arts\\The Sims 2 Ultimate Collection 25";
constexpr char kLegacyMaxisKey[] = "SOFTWARE\\Maxis\\The Sims 2 Legacy";
constexpr char kLegacySteamKey[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Steam App 3314070";
constexpr char kScriptBelowGame[] = "TSData\\Res\\Catalog\\Scripts\\modularstairs.txt";

constexpr char16_t kDiscDisplayName[] = u"The Sims 2";
constexpr char16_t kLegacyDisplayName[] = u"The Sims 2 Legacy";

bool IsSeparator(char c) {
  return c == '\\' || c == '/';
}

// `folder` with exactly one backslash at its end; the empty text stays empty.
std::string WithOneSeparator(std::string folder) {
  while (!folder.empty() && IsSeparator(folder.back())) folder.pop_back();
  return folder.empty() ? folder : folder + "\\";
}

// The folder that holds `path`, without a separator at its end.
std::string ParentOf(std::string path) {
  while (!path.empty() && IsSeparator(path.back())) path.pop_back();
  const size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

// A string value as UTF-16; empty when the key or value is missing.
std::u16string ReadWide(uint32_t root, const std::string& keyPath, const std::string& valueName) {
  platform::RegistryKey key;
  std::u16string text;
  if (platform::RegOpenKeyExA(root, keyPath, 0, platform::kKeyRead, key) ==
      platform::kErrorSuccess) {
    platform::RegQueryStringW(key, valueName, text);
  }
  return text;
}

// A value as the ANSI lookup reads it; a value that cannot be read at all
// (one of zero bytes) is no answer either.
std::string ReadAnsi(uint32_t root, const std::string& keyPath, const std::string& valueName) {
  try {
    return GetRegistryString(root, keyPath, valueName);
  } catch (const std::exception&) {
    return {};
  }
}

std::optional<GameInstall> FindDiscOrUltimateCollection() {
  const std::string installDir = ReadAnsi(kHkeyLocalMachine, kGameKey, "Install Dir");
  if (installDir.empty()) return std::nullopt;
  std::u16string displayName = ReadWide(kHkeyLocalMachine, kGameKey, "DisplayName");
  if (displayName.empty()) displayName = kDiscDisplayName;
  const bool ultimate = displayName.find(u"Ultimate Collection") != std::u16string::npos;
  return GameInstall{ultimate ? "The Sims 2 Ultimate Collection" : "The Sims 2",
                     WithOneSeparator(installDir), displayName};
}

// The game's root from the first pack sub-key whose "path" names a folder
// below it.
std::string LegacyRootFromPacks() {
  platform::RegistryKey key;
  if (platform::RegOpenKeyExA(kHkeyCurrentUser, kLegacyUserKey, 0, platform::kKeyRead, key) !=
      platform::kErrorSuccess) {
    return {};
  }
  std::string name;
  for (uint32_t index = 0; platform::RegEnumKeyExA(key, index, name) == platform::kErrorSuccess;
       ++index) {
    const std::string root =
        ParentOf(ReadAnsi(kHkeyCurrentUser, std::string(kLegacyUserKey) + "\\" + name, "path"));
    if (!root.empty()) return root;
  }
  return {};
}

std::optional<GameInstall> FindLegacyCollection() {
  std::string root = LegacyRootFromPacks();
  if (root.empty()) root = ReadAnsi(kHkeyLocalMachine, kLegacyMaxisKey, "Install Dir");
  if (root.empty()) root = ReadAnsi(kHkeyLocalMachine, kLegacySteamKey, "InstallLocation");
  root = WithOneSeparator(root);
  if (root.empty()) return std::nullopt;
  std::u16string displayName = ReadWide(kHkeyCurrentUser, kLegacyUserKey, "DisplayName");
  if (displayName.empty()) displayName = kLegacyDisplayName;
  return GameInstall{"The Sims 2 Legacy Collection", root + "Base\\", displayName};
}

}  // namespace

std::optional<GameInstall> FindGame() {
  if (auto game = FindDiscOrUltimateCollection()) return game;
  return FindLegacyCollection();
}

std::string CatalogScriptPath(const GameInstall& game) {
  return game.gameFolder + kScriptBelowGame;
}

std::string DownloadsFolder(const GameInstall& game) {
  const std::string documents = GetSpecialFolder(platform::kCsidlPersonal);
  if (documents.empty()) return {};
  try {
    return platform::FolderPathBelow(documents + "\\EA Games", game.displayName) + "\\Downloads\\";
  } catch (const std::exception&) {
    return {};  // a name that no path can carry: the copy says so when it gets there
  }
}

std::string MakeDownloadsFolder(const GameInstall& game) {
  const std::string documents = GetSpecialFolder(platform::kCsidlPersonal);
  if (documents.empty()) return {};
  const std::string eaGames = documents + "\\EA Games";
  platform::CreateFolder(eaGames);
  const std::string userFolder = platform::FolderPathBelow(eaGames, game.displayName);
  platform::CreateFolder(userFolder);
  platform::CreateFolder(userFolder + "\\Downloads");
  return userFolder + "\\Downloads\\";
}

std::string WhereTheGameWasLookedFor() {
  return std::string("The installer looked in ") + platform::RegistryWhereabouts() +
         " for the disc edition and the Ultimate Collection (HKEY_LOCAL_MACHINE\\" + kGameKey +
         ") and for the Legacy Collection (HKEY_CURRENT_USER\\" + kLegacyUserKey +
         ", HKEY_LOCAL_MACHINE\\" + kLegacyMaxisKey + " and Steam's entry of app 3314070).";
}

}  // namespace qv
