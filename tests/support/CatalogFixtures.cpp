#include "support/CatalogFixtures.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#endif

namespace qv::test {

#ifdef _WIN32

// The tests run under Wine in a prefix of their own, so the machine's key
// may be set; the old value comes back afterwards.
namespace {
constexpr const char* kGameKey = "SOFTWARE\\EA GAMES\\The Sims 2";
constexpr const char* kValue = "Install Dir";
}  // namespace

GameRegistry::GameRegistry(const std::string&, const std::optional<std::string>& installDir) {
  HKEY key = nullptr;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kGameKey, 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr,
                      &key, nullptr) != ERROR_SUCCESS) {
    ADD_FAILURE() << "cannot open the game's registry key";
    return;
  }
  char old[1024];
  DWORD size = sizeof(old);
  DWORD type = 0;
  if (RegQueryValueExA(key, kValue, nullptr, &type, reinterpret_cast<BYTE*>(old), &size) ==
          ERROR_SUCCESS &&
      type == REG_SZ && size > 0) {
    previous_ = std::string(old, size - 1);
  }
  if (installDir) {
    RegSetValueExA(key, kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(installDir->c_str()),
                   static_cast<DWORD>(installDir->size() + 1));
  } else {
    RegDeleteValueA(key, kValue);
  }
  RegCloseKey(key);
}

GameRegistry::~GameRegistry() {
  HKEY key = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kGameKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
  if (previous_) {
    RegSetValueExA(key, kValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(previous_->c_str()),
                   static_cast<DWORD>(previous_->size() + 1));
  } else {
    RegDeleteValueA(key, kValue);
  }
  RegCloseKey(key);
}

bool FileSizeLimit::Supported() {
  return false;
}
FileSizeLimit::FileSizeLimit(uint64_t) {}
FileSizeLimit::~FileSizeLimit() = default;

#else

namespace {

// Quotes a text for a .reg file: backslashes and double quotes escaped.
std::string RegQuoted(const std::string& text) {
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '\\' || c == '"') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

}  // namespace

GameRegistry::GameRegistry(const std::string& prefixFolder,
                           const std::optional<std::string>& installDir) {
  std::filesystem::create_directories(prefixFolder);
  std::ofstream reg(prefixFolder + "/system.reg", std::ios::binary);
  reg << "WINE REGISTRY Version 2\n"
      << ";; All keys relative to \\\\Machine\n\n"
      << "#arch=win32\n\n"
      << "[Software\\\\EA GAMES\\\\The Sims 2] 1700000000\n"
      << "#time=1da0000000000000\n";
  if (installDir) reg << "\"Install Dir\"=" << RegQuoted(*installDir) << "\n";
  reg << "\"Language\"=dword:00000409\n\n";
  reg.close();
  EXPECT_TRUE(reg) << "could not write the fixture registry in " << prefixFolder;

  if (const char* previous = std::getenv("WINEPREFIX")) previous_ = previous;
  setenv("WINEPREFIX", prefixFolder.c_str(), 1);
}

GameRegistry::~GameRegistry() {
  if (previous_) {
    setenv("WINEPREFIX", previous_->c_str(), 1);
  } else {
    unsetenv("WINEPREFIX");
  }
}

bool FileSizeLimit::Supported() {
  return true;
}

namespace {
void SetOrRemove(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
}
}  // namespace

ScopedEnv::ScopedEnv(const Changes& changes) {
  for (const auto& [name, value] : changes) {
    const char* old = std::getenv(name.c_str());
    previous_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    SetOrRemove(name, value);
  }
}

ScopedEnv::~ScopedEnv() {
  for (auto it = previous_.rbegin(); it != previous_.rend(); ++it)
    SetOrRemove(it->first, it->second);
}

FileSizeLimit::FileSizeLimit(uint64_t maxBytes) {
  // Past the limit the kernel sends SIGXFSZ, which would end the process;
  // ignored, the write fails with EFBIG instead.
  previousHandler_ = signal(SIGXFSZ, SIG_IGN);
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  previousSoft_ = limit.rlim_cur;
  limit.rlim_cur = static_cast<rlim_t>(maxBytes);
  EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0) << "could not limit the file size";
}

FileSizeLimit::~FileSizeLimit() {
  rlimit limit{};
  getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = static_cast<rlim_t>(previousSoft_);
  setrlimit(RLIMIT_FSIZE, &limit);
  signal(SIGXFSZ, previousHandler_);
}

#endif

}  // namespace qv::test
