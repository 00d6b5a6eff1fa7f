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

namespace {

constexpr const char* kGameKey = "SOFTWARE\\EA GAMES\\The Sims 2";
constexpr const char* kValue = "Install Dir";

std::optional<std::string> Value() {
  char value[1024];
  DWORD size = sizeof value;
  const LSTATUS status =
      RegGetValueA(HKEY_LOCAL_MACHINE, kGameKey, kValue, RRF_RT_REG_SZ, nullptr, value, &size);
  return status == ERROR_SUCCESS ? std::optional<std::string>(value) : std::nullopt;
}

void SetValue(const std::optional<std::string>& value) {
  if (!value) {
    RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kGameKey, kValue);  // may be absent already
    return;
  }
  EXPECT_EQ(RegSetKeyValueA(HKEY_LOCAL_MACHINE, kGameKey, kValue, REG_SZ, value->c_str(),
                            static_cast<DWORD>(value->size() + 1)),
            ERROR_SUCCESS);
}

}  // namespace

// The tests run under Wine in a prefix of their own, so the machine's key
// may be set; the old value comes back afterwards.
GameRegistry::GameRegistry(const std::string&, const std::optional<std::string>& installDir)
    : previous_(Value()) {
  SetValue(installDir);
}

GameRegistry::~GameRegistry() {
  SetValue(previous_);
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
