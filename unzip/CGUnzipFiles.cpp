#include "unzip/CGUnzipFiles.h"

#include <exception>
#include <limits>
#include <new>

#include "common/Error.h"
#include "unzip/CodeModule.h"

namespace qv {

namespace {

constexpr const char kSource[] = "CGUnZipFiles::Unzip";

// The library takes 16-bit options; a value that does not fit is an
// overflow, raised before anything reaches the library.
int16_t Narrow(int32_t value) {
  if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max()) {
    throw Error(err::kOverflow, "Overflow", kSource);
  }
  return static_cast<int16_t>(value);
}

// A path that was never set reaches the library as a null text.
const char* PathText(const std::optional<std::string>& path) {
  return path ? path->c_str() : nullptr;
}

}  // namespace

int32_t CGUnzipFiles::Unzip(const std::string& sZipFileName, const std::string& sExtractDir) {
  try {
    if (!sZipFileName.empty()) zipFileName_ = sZipFileName;
    if (!sExtractDir.empty()) extractDir_ = sExtractDir;

    // Narrowed in this order, so the first option that does not fit is the
    // one that fails.
    const int16_t privilege = Narrow(privilege_);
    const int16_t extractList = Narrow(extractList_);
    const int16_t messageLevel = Narrow(messageLevel_);

    return VBUnzip({.sZipFileName = PathText(zipFileName_),
                    .sExtractDir = PathText(extractDir_),
                    .iExtractNewer = extractNewer_,
                    .iSpaceToUnderScore = spaceToUnderScore_,
                    .iPromptOverwrite = promptOverwrite_,
                    .iMessageLevel = messageLevel,
                    .iWriteToStdOut = writeToStdOut_,
                    .iTestZip = testZip_,
                    .iExtractList = extractList,
                    .iExtractOnlyNewer = extractOnlyNewer_,
                    .iDisplayComment = displayComment_,
                    .iHonorDirectories = honorDirectories_,
                    .iOverWriteFiles = overWriteFiles_,
                    .iConvertCRtoCRLF = convertCRtoCRLF_,
                    .iVerbose = verbose_,
                    .iCaseSensitive = caseSensitive_,
                    .iPrivilege = privilege});
  } catch (...) {
    throw CaughtError(kSource);
  }
}

std::string CGUnzipFiles::GetLastMessage() const {
  return RunState().sLastMessage;
}

}  // namespace qv
