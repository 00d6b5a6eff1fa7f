#include "app/DownloadToFile.h"

#include <cstdint>

#include "platform/Download.h"

namespace qv {

namespace {

// BINDF_GETNEWESTVERSION: fetch the resource anew rather than from a cache.
constexpr uint32_t kBindGetNewestVersion = 0x10;

}  // namespace

bool DownloadFile(const std::string& sURL, const std::string& sLocalFile) {
  // Any non-zero status is a failure, a positive one as well.
  return platform::URLDownloadToFileA(nullptr, sURL, sLocalFile, kBindGetNewestVersion, nullptr) ==
         0;
}

}  // namespace qv
