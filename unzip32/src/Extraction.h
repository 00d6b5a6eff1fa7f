// One run of Wiz_SingleEntryUnzip: checks the archive's structure as a whole,
// then handles the selected entries one by one.
#ifndef UNZIP32_EXTRACTION_H
#define UNZIP32_EXTRACTION_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "EntryData.h"
#include "EntryName.h"
#include "FileIO.h"
#include "ZipDirectory.h"
#include "unzip32.h"

namespace unzip32 {

class Extraction {
 public:
  Extraction(int32_t includeCount, const UnzipNameList* include, int32_t excludeCount,
             const UnzipNameList* exclude, const UnzipOptions& options,
             const UnzipUserFunctions& callbacks);

  int32_t Run();

 private:
  struct Range {
    uint64_t start;  // the local header
    uint64_t end;    // the end of the data and its descriptor
    uint64_t index;
  };
  enum class Decision { Write, Skip, Cancel };

  // Messages. Problems are printed from MessageLevel 1, progress from 2,
  // detail from 2 with Verbose.
  void Print(std::string_view text);
  void Report(const Problem& problem);
  void Progress(const std::string& text);
  void Detail(const std::string& text);
  void Record(int32_t code);

  bool CheckStructure(ZipReader& reader, const ArchiveInfo& info);
  bool Selected(const std::string& name) const;
  // False when the whole run must stop.
  bool HandleEntry(const CentralEntry& entry, const EntryPlace& place);
  void ListEntry(const CentralEntry& entry);
  bool Decode(const CentralEntry& entry, const EntryPlace& place, Sink& sink);
  // OK, or the code that ends the entry (UNZIP32_ERR_PASSWORD when skipped).
  int32_t ObtainPassword(const CentralEntry& entry, const EntryPlace& place);
  bool ExtractToFile(const CentralEntry& entry, const EntryPlace& place);
  // Opens (creating them) the folders of `path` below the extraction folder
  // and gives the folder that holds its last component `leaf`: `owned`, or
  // the extraction folder itself. Null after a reported failure.
  const fileio::Folder* OpenParentFolder(const std::string& path, fileio::Folder& owned,
                                         std::string& leaf);
  // Writes the entry, cleaned to `clean`, as `leaf` in `folder`: into a
  // temporary file first, renamed into place when whole.
  void WriteFile(const CentralEntry& entry, const EntryPlace& place, const CleanName& clean,
                 const fileio::Folder& folder, const std::string& leaf);
  Decision DecideReplace(const CentralEntry& entry, const fileio::NodeInfo& existing,
                         const std::string& fullPath);

  const int32_t includeCount_;
  const UnzipNameList* include_;
  const int32_t excludeCount_;
  const UnzipNameList* exclude_;
  const UnzipOptions& options_;
  const UnzipUserFunctions& callbacks_;

  fileio::ArchiveFile archive_;
  fileio::Folder root_;
  // Where each entry's data lie, by index: found while checking the
  // structure, used while extracting. Grows only with entries actually read.
  std::vector<EntryPlace> places_;
  // Output paths this run has claimed, letter case folded: a later entry that
  // maps onto one of them is refused (duplicate names).
  std::unordered_set<std::string> claimed_;
  std::optional<std::string> password_;
  int32_t result_ = UNZIP32_OK;
  uint64_t selectedCount_ = 0;
};

}  // namespace unzip32

#endif  // UNZIP32_EXTRACTION_H
