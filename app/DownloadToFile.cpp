#include "app/DownloadToFile.h"

#include "platform/Download.h"

namespace qv {

bool DownloadFile(const std::string& sURL, const std::string& sLocalFile) {
  // Any non-zero status is a failure, a positive one as well.
  return platform::URLDownloadToFileA(nullptr, sURL, sLocalFile, platform::kBindGetNewestVersion,
                                      nullptr) == 0;
}

}  // namespace qv
