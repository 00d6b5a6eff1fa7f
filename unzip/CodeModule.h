// The driver of the unzip32 library and the callbacks it calls back.
//
// VBUnzip is the only routine that calls the library. It loads the library at
// its first call and keeps it for the life of the process. The run state below
// exists once per process: every run resets it, the callbacks fill it while
// the library works, and CGUnzipFiles::GetLastMessage reads it afterwards.
#pragma once

#include <cstdint>
#include <string>

#include "unzip32.h"

namespace qv {

struct CodeModuleRunState {
  std::string sLastMessage;        // all text printed in the latest run
  std::string sMessageLog;         // the same text, as it is being collected
  int16_t iPasswordCancelled = 0;  // 1 once the user gave no password in this run
};

// Read access to the run state, for the options object and the tests.
const CodeModuleRunState& RunState() noexcept;

// The arguments of one extraction, filled by name. The paths are handed to
// the library as they are and must outlive the call; null stands for a path
// that was never set. Each option is the 16-bit value the library gets:
// flags 1 or 0 as the options object stores them, integers already narrowed.
// No field has a default, so a caller that fills the record by name and
// leaves one out is stopped by the missing-initializer warning.
struct VBUnzipArguments {
  const char* sZipFileName;
  const char* sExtractDir;
  int16_t iExtractNewer;
  int16_t iSpaceToUnderScore;
  int16_t iPromptOverwrite;
  int16_t iMessageLevel;
  int16_t iWriteToStdOut;
  int16_t iTestZip;
  int16_t iExtractList;
  int16_t iExtractOnlyNewer;
  int16_t iDisplayComment;
  int16_t iHonorDirectories;
  int16_t iOverWriteFiles;
  int16_t iConvertCRtoCRLF;
  int16_t iVerbose;
  int16_t iCaseSensitive;
  int16_t iPrivilege;
};

// Runs one extraction and returns the library's result code unchanged (0 is
// success). Each option reaches the library's field of the same name,
// widened with its sign into 32 bits, so -1 arrives with all bits set. A
// missing library or entry point, or any other failure before the library
// returns, is raised as qv::Error with the source "CodeModule::VBUnzip"; a
// failed extraction is only a non-zero result.
int32_t VBUnzip(const VBUnzipArguments& arguments);

// Tests load a stand-in library under another base name ("unzip32" is the
// real one). Releases the library loaded so far; the next run loads the
// named one.
void SetUnzipLibraryNameForTesting(const std::string& baseName);

// The callbacks registered in UnzipUserFunctions. The library calls them with
// its own calling convention, so they have C linkage and the exact signatures
// of the typedefs in unzip32.h. None of them lets an exception reach the
// library: a step that fails is skipped.
extern "C" {

// Appends the printed text (at most indexes 0..32800, up to the first NUL) to
// the message log; a text that begins with LF counts as CR LF alone. Returns 0.
int32_t UNZIP32_CALL UnzipPrint(const char* text, int32_t length) noexcept;

// Asks whether `name` (at most indexes 0..255) may be overwritten. Returns
// 100 for No, 104 for Cancel and 102 otherwise, also when no box can be shown.
int32_t UNZIP32_CALL UnzipReplace(const char* name) noexcept;

// Asks the user for the archive's password, once per run at most after an
// empty answer. Writes at most indexes 0..256 and never past `size`; an
// answer that does not fit together with its NUL is cut. Returns 0 when a
// password is in the buffer, 1 otherwise.
int32_t UNZIP32_CALL UnzipPassword(char* buffer, int32_t size, const char* prompt,
                                   const char* name) noexcept;

// Nothing reads a listing, so an entry is accepted and dropped.
void UNZIP32_CALL UnzipListEntry(uint32_t size, uint32_t compressedSize, int32_t ratio,
                                 int32_t month, int32_t day, int32_t year, int32_t hour,
                                 int32_t minute, int32_t index, const char* name,
                                 const char* method, uint32_t crc, int32_t encrypted) noexcept;

// Never asks the library to stop. Returns 0.
int32_t UNZIP32_CALL UnzipService(const char* text, int32_t number) noexcept;

}  // extern "C"

}  // namespace qv
