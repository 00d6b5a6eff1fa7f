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
  // reads true only when it holds 1.
  bool ExtractNewer() const noexcept;
  void SetExtractNewer(bool bExtractNewer) noexcept;
  bool SpaceToUnderScore() const noexcept;
  void SetSpaceToUnderScore(bool bConvert) noexcept;
  bool PromptOverwrite() const noexcept;
  void SetPromptOverwrite(bool bPrompt) noexcept;
  // Integer options are stored unchanged; Unzip checks that they fit the
  // library's 16-bit arguments.
  int32_t MessageLevel() const noexcept;
  void SetMessageLevel(int32_t iLevel) noexcept;
  bool WriteToStdOut() const noexcept;
  void SetWriteToStdOut(bool bWrite) noexcept;
  bool TestZip() const noexcept;
  void SetTestZip(bool bTest) noexcept;
  int32_t ExtractList() const noexcept;
  void SetExtractList(int32_t zExType) noexcept;
  bool ExtractOnlyNewer() const noexcept;
  void SetExtractOnlyNewer(bool bOnlyNewer) noexcept;
  bool DisplayComment() const noexcept;
  void SetDisplayComment(bool bDisplay) noexcept;
  bool HonorDirectories() const noexcept;
  void SetHonorDirectories(bool bHonor) noexcept;
  bool OverWriteFiles() const noexcept;
  void SetOverWriteFiles(bool bOverWrite) noexcept;
  bool ConvertCRtoCRLF() const noexcept;
  void SetConvertCRtoCRLF(bool bConvert) noexcept;
  bool Verbose() const noexcept;
  void SetVerbose(bool bVerbose) noexcept;
  bool CaseSensitive() const noexcept;
  void SetCaseSensitive(bool bCaseSensitive) noexcept;
  int32_t Privilege() const noexcept;
  void SetPrivilege(int32_t zPriv) noexcept;
  // A path that was never set reads empty and reaches the library as a null
  // text; one set to the empty text reaches it as an empty text.
  std::string ZipFileName() const;
  void SetZipFileName(const std::string& sZipFileName);
  std::string ExtractDir() const;
  void SetExtractDir(const std::string& sExtractDir);

  // Extracts the archive and returns the library's result code (0 is
  // success). A non-empty argument replaces the stored path first and stays
  // stored. An integer option outside -32768..32767 raises error 6 before the
  // library is called; every error carries the source "CGUnZipFiles::Unzip".
  int32_t Unzip(const std::string& sZipFileName, const std::string& sExtractDir);

  // Everything the library printed during the latest extraction of any
  // object in this process; empty before the first one.
  std::string GetLastMessage() const;

 private:
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
