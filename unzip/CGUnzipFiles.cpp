#include "unzip/CGUnzipFiles.h"

#include <exception>
#include <limits>
#include <new>

#include "common/Error.h"
#include "unzip/CodeModule.h"

namespace qv {

namespace {

constexpr const char kSource[] = "CGUnZipFiles::Unzip";

constexpr int16_t StoreFlag(bool value) noexcept {
  return value ? 1 : 0;
}
constexpr bool ReadFlag(int16_t stored) noexcept {
  return stored == 1;
}

// The library takes 16-bit options; a value that does not fit is an
// overflow, raised before anything reaches the library.
int16_t Narrow(int32_t value) {
  if (value < std::numeric_limits<int16_t>::min() || value > std::numeric_limits<int16_t>::max()) {
    throw Error(err::kOverflow, "Overflow", kSource);
  }
  return static_cast<int16_t>(value);
}

}  // namespace

bool CGUnzipFiles::ExtractNewer() const noexcept {
  return ReadFlag(extractNewer_);
}
void CGUnzipFiles::SetExtractNewer(bool bExtractNewer) noexcept {
  extractNewer_ = StoreFlag(bExtractNewer);
}
bool CGUnzipFiles::SpaceToUnderScore() const noexcept {
  return ReadFlag(spaceToUnderScore_);
}
void CGUnzipFiles::SetSpaceToUnderScore(bool bConvert) noexcept {
  spaceToUnderScore_ = StoreFlag(bConvert);
}
bool CGUnzipFiles::PromptOverwrite() const noexcept {
  return ReadFlag(promptOverwrite_);
}
void CGUnzipFiles::SetPromptOverwrite(bool bPrompt) noexcept {
  promptOverwrite_ = StoreFlag(bPrompt);
}
int32_t CGUnzipFiles::MessageLevel() const noexcept {
  return messageLevel_;
}
void CGUnzipFiles::SetMessageLevel(int32_t iLevel) noexcept {
  messageLevel_ = iLevel;
}
bool CGUnzipFiles::WriteToStdOut() const noexcept {
  return ReadFlag(writeToStdOut_);
}
void CGUnzipFiles::SetWriteToStdOut(bool bWrite) noexcept {
  writeToStdOut_ = StoreFlag(bWrite);
}
bool CGUnzipFiles::TestZip() const noexcept {
  return ReadFlag(testZip_);
}
void CGUnzipFiles::SetTestZip(bool bTest) noexcept {
  testZip_ = StoreFlag(bTest);
}
int32_t CGUnzipFiles::ExtractList() const noexcept {
  return extractList_;
}
void CGUnzipFiles::SetExtractList(int32_t zExType) noexcept {
  extractList_ = zExType;
}
bool CGUnzipFiles::ExtractOnlyNewer() const noexcept {
  return ReadFlag(extractOnlyNewer_);
}
void CGUnzipFiles::SetExtractOnlyNewer(bool bOnlyNewer) noexcept {
  extractOnlyNewer_ = StoreFlag(bOnlyNewer);
}
bool CGUnzipFiles::DisplayComment() const noexcept {
  return ReadFlag(displayComment_);
}
void CGUnzipFiles::SetDisplayComment(bool bDisplay) noexcept {
  displayComment_ = StoreFlag(bDisplay);
}
bool CGUnzipFiles::HonorDirectories() const noexcept {
  return ReadFlag(honorDirectories_);
}
void CGUnzipFiles::SetHonorDirectories(bool bHonor) noexcept {
  honorDirectories_ = StoreFlag(bHonor);
}
bool CGUnzipFiles::OverWriteFiles() const noexcept {
  return ReadFlag(overWriteFiles_);
}
void CGUnzipFiles::SetOverWriteFiles(bool bOverWrite) noexcept {
  overWriteFiles_ = StoreFlag(bOverWrite);
}
bool CGUnzipFiles::ConvertCRtoCRLF() const noexcept {
  return ReadFlag(convertCRtoCRLF_);
}
void CGUnzipFiles::SetConvertCRtoCRLF(bool bConvert) noexcept {
  convertCRtoCRLF_ = StoreFlag(bConvert);
}
bool CGUnzipFiles::Verbose() const noexcept {
  return ReadFlag(verbose_);
}
void CGUnzipFiles::SetVerbose(bool bVerbose) noexcept {
  verbose_ = StoreFlag(bVerbose);
}
bool CGUnzipFiles::CaseSensitive() const noexcept {
  return ReadFlag(caseSensitive_);
}
void CGUnzipFiles::SetCaseSensitive(bool bCaseSensitive) noexcept {
  caseSensitive_ = StoreFlag(bCaseSensitive);
}
int32_t CGUnzipFiles::Privilege() const noexcept {
  return privilege_;
}
void CGUnzipFiles::SetPrivilege(int32_t zPriv) noexcept {
  privilege_ = zPriv;
}
std::string CGUnzipFiles::ZipFileName() const {
  return zipFileName_.value_or(std::string());
}
void CGUnzipFiles::SetZipFileName(const std::string& sZipFileName) {
  zipFileName_ = sZipFileName;
}
std::string CGUnzipFiles::ExtractDir() const {
  return extractDir_.value_or(std::string());
}
void CGUnzipFiles::SetExtractDir(const std::string& sExtractDir) {
  extractDir_ = sExtractDir;
}

int32_t CGUnzipFiles::Unzip(const std::string& sZipFileName, const std::string& sExtractDir) {
  try {
    if (!sZipFileName.empty()) zipFileName_ = sZipFileName;
    if (!sExtractDir.empty()) extractDir_ = sExtractDir;

    // Narrowed in this order, so the first option that does not fit is the
    // one that fails.
    const int16_t privilege = Narrow(privilege_);
    const int16_t extractList = Narrow(extractList_);
    const int16_t messageLevel = Narrow(messageLevel_);

    return VBUnzip(zipFileName_, extractDir_, extractNewer_, spaceToUnderScore_, promptOverwrite_,
                   messageLevel, writeToStdOut_, testZip_, extractList, extractOnlyNewer_,
                   displayComment_, honorDirectories_, overWriteFiles_, convertCRtoCRLF_, verbose_,
                   caseSensitive_, privilege);
  } catch (const Error& error) {
    throw error.WithSource(kSource);
  } catch (const std::bad_alloc&) {
    throw Error(err::kOutOfMemory, "Out of memory", kSource);
  } catch (const std::exception& error) {
    throw Error(err::kInvalidCall, error.what(), kSource);
  }
}

std::string CGUnzipFiles::GetLastMessage() const {
  return RunState().sLastMessage;
}

}  // namespace qv
