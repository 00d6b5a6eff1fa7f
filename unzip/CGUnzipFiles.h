// The options object of one zip extraction: the fifteen options of the
// unzip32 library, the archive and the folder to extract into.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace qv {

class CGUnzipFiles {
 public:
  CGUnzipFiles() = default;

  // Flags are kept as the 1 or 0 the library expects, never as -1; a flag
  // reads true only when it holds 1. Integer options are stored unchanged;
  // Unzip checks that they fit the library's 16-bit arguments.
  bool ExtractNewer() const noexcept { return IsSet(extractNewer_); }
  void SetExtractNewer(bool bExtractNewer) noexcept { extractNewer_ = Flag(bExtractNewer); }
  bool SpaceToUnderScore() const noexcept { return IsSet(spaceToUnderScore_); }
  void SetSpaceToUnderScore(bool bConvert) noexcept { spaceToUnderScore_ = Flag(bConvert); }
  bool PromptOverwrite() const noexcept { return IsSet(promptOverwrite_); }
  void SetPromptOverwrite(bool bPrompt) noexcept { promptOverwrite_ = Flag(bPrompt); }
  int32_t MessageLevel() const noexcept { return messageLevel_; }
  void SetMessageLevel(int32_t iLevel) noexcept { messageLevel_ = iLevel; }
  bool WriteToStdOut() const noexcept { return IsSet(writeToStdOut_); }
  void SetWriteToStdOut(bool bWrite) noexcept { writeToStdOut_ = Flag(bWrite); }
  bool TestZip() const noexcept { return IsSet(testZip_); }
  void SetTestZip(bool bTest) noexcept { testZip_ = Flag(bTest); }
  int32_t ExtractList() const noexcept { return extractList_; }
  void SetExtractList(int32_t zExType) noexcept { extractList_ = zExType; }
  bool ExtractOnlyNewer() const noexcept { return IsSet(extractOnlyNewer_); }
  void SetExtractOnlyNewer(bool bOnlyNewer) noexcept { extractOnlyNewer_ = Flag(bOnlyNewer); }
  bool DisplayComment() const noexcept { return IsSet(displayComment_); }
  void SetDisplayComment(bool bDisplay) noexcept { displayComment_ = Flag(bDisplay); }
  bool HonorDirectories() const noexcept { return IsSet(honorDirectories_); }
  void SetHonorDirectories(bool bHonor) noexcept { honorDirectories_ = Flag(bHonor); }
  bool OverWriteFiles() const noexcept { return IsSet(overWriteFiles_); }
  void SetOverWriteFiles(bool bOverWrite) noexcept { overWriteFiles_ = Flag(bOverWrite); }
  bool ConvertCRtoCRLF() const noexcept { return IsSet(convertCRtoCRLF_); }
  void SetConvertCRtoCRLF(bool bConvert) noexcept { convertCRtoCRLF_ = Flag(bConvert); }
  bool Verbose() const noexcept { return IsSet(verbose_); }
  void SetVerbose(bool bVerbose) noexcept { verbose_ = Flag(bVerbose); }
  bool CaseSensitive() const noexcept { return IsSet(caseSensitive_); }
  void SetCaseSensitive(bool bCaseSensitive) noexcept { caseSensitive_ = Flag(bCaseSensitive); }
  int32_t Privilege() const noexcept { return privilege_; }
  void SetPrivilege(int32_t zPriv) noexcept { privilege_ = zPriv; }
  // A path that was never set reads empty and reaches the library as a null
  // text; one set to the empty text reaches it as an empty text.
  std::string ZipFileName() const { return zipFileName_.value_or(std::string()); }
  void SetZipFileName(const std::string& sZipFileName) { zipFileName_ = sZipFileName; }
  std::string ExtractDir() const { return extractDir_.value_or(std::string()); }
  void SetExtractDir(const std::string& sExtractDir) { extractDir_ = sExtractDir; }

  // Extracts the archive and returns the library's result code (0 is
  // success). A non-empty argument replaces the stored path first and stays
  // stored. An integer option outside -32768..32767 raises error 6 before the
  // library is called; every error carries the source "CGUnZipFiles::Unzip".
  int32_t Unzip(const std::string& sZipFileName, const std::string& sExtractDir);

  // Everything the library printed during the latest extraction of any
  // object in this process; empty before the first one.
  std::string GetLastMessage() const;

 private:
  static constexpr int16_t Flag(bool value) noexcept { return value ? 1 : 0; }
  static constexpr bool IsSet(int16_t flag) noexcept { return flag == 1; }

  int16_t extractNewer_ = 0;
  int16_t spaceToUnderScore_ = 0;
  int16_t promptOverwrite_ = 0;
  int32_t messageLevel_ = 2;
  int16_t writeToStdOut_ = 0;
  int16_t testZip_ = 0;
  int32_t extractList_ = 0;
  int16_t extractOnlyNewer_ = 0;
  int16_t displayComment_ = 0;
  int16_t honorDirectories_ = 1;
  int16_t overWriteFiles_ = 1;
  int16_t convertCRtoCRLF_ = 0;
  int16_t verbose_ = 0;
  int16_t caseSensitive_ = 1;
  int32_t privilege_ = 0;
  std::optional<std::string> zipFileName_;
  std::optional<std::string> extractDir_;
};

}  // namespace qv
