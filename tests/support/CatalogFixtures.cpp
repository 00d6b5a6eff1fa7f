#include "support/CatalogFixtures.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#include <filesystem>
#include <fstream>
#endif

namespace qv::test {

#ifdef _WIN32

constexpr const char* kGameKey = "SOFTWARE\\EA GAMES\\The Sims 2";

// The tests run under Wine in a prefix of their own: nothing to put back.
GameRegistry::GameRegistry(const std::string&, const std::optional<std::string>& installDir) {
  if (!installDir) return;
  EXPECT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kGameKey, "Install Dir", REG_SZ,
                            installDir->c_str(), static_cast<DWORD>(installDir->size() + 1)),
            ERROR_SUCCESS);
}

GameRegistry::~GameRegistry() {
  RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kGameKey, "Install Dir");
}

#else

namespace {

void SetOrRemove(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
}

std::optional<std::string> Variable(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  return value ? std::optional<std::string>(value) : std::nullopt;
}

}  // namespace

GameRegistry::GameRegistry(const std::string& prefixFolder,
                           const std::optional<std::string>& installDir)
    : previous_(Variable("WINEPREFIX")) {
  std::filesystem::create_directories(prefixFolder);
  std::ofstream reg(prefixFolder + "/system.reg", std::ios::binary);
  reg << "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
         "[Software\\\\EA GAMES\\\\The Sims 2] 1700000000\n#time=1da0000000000000\n";
  // A temporary folder's path: nothing in it to escape for a .reg file.
  if (installDir) reg << "\"Install Dir\"=\"" << *installDir << "\"\n";
  reg << "\"Language\"=dword:00000409\n\n";
  reg.close();
  EXPECT_TRUE(reg) << "could not write the fixture registry in " << prefixFolder;
  setenv("WINEPREFIX", prefixFolder.c_str(), 1);
}

GameRegistry::~GameRegistry() {
  SetOrRemove("WINEPREFIX", previous_);
}

ScopedEnv::ScopedEnv(const Changes& changes) {
  for (const auto& [name, value] : changes) {
    previous_.emplace_back(name, Variable(name));
    SetOrRemove(name, value);
  }
}

ScopedEnv::~ScopedEnv() {
  for (auto it = previous_.rbegin(); it != previous_.rend(); ++it)
    SetOrRemove(it->first, it->second);
}

#endif

}  // namespace qv::test
