#include "support/CatalogFixtures.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace qv::test {

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

}  // namespace qv::test
