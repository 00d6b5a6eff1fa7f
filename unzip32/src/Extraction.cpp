#include "Extraction.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "AsciiCase.h"
#include "EntryName.h"
#include "Wildcard.h"

namespace unzip32 {
namespace {

constexpr int32_t kMaxListNames = 100;
constexpr size_t kPrintChunk = 32768;
constexpr size_t kPasswordBuffer = 256;
constexpr int kPasswordAttempts = 3;
constexpr uint8_t kHostUnix = 3;
constexpr uint32_t kUnixTypeMask = 0170000;
constexpr uint32_t kUnixRegularFile = 0100000;

class NullSink final : public Sink {
 public:
  bool Put(const uint8_t*, size_t, std::string&) override { return true; }
};

class PrintSink final : public Sink {
 public:
  explicit PrintSink(UnzipPrintCallback print) : print_(print) {}
  bool Put(const uint8_t* data, size_t length, std::string&) override {
    while (length > 0 && print_ != nullptr) {
      size_t piece = std::min(length, kPrintChunk);
      print_(reinterpret_cast<const char*>(data), static_cast<int32_t>(piece));
      data += piece;
      length -= piece;
    }
    return true;
  }

 private:
  UnzipPrintCallback print_;
};

class FileSink final : public Sink {
 public:
  explicit FileSink(fileio::OutputFile& file) : file_(file) {}
  bool Put(const uint8_t* data, size_t length, std::string& error) override {
    fileio::Failure failure;
    if (file_.Write(data, length, failure)) return true;
    error = failure.text;
    return false;
  }

 private:
  fileio::OutputFile& file_;
};

bool On(int32_t option) {
  return option != 0;
}

std::string JoinPath(const std::string& folder, const std::string& relative) {
  if (folder.empty() || folder.back() == '/' || folder.back() == '\\') return folder + relative;
  return folder + "/" + relative;
}

bool IsText(const CentralEntry& entry) {
  return (entry.internalAttributes & 1) != 0;
}

// Unix permission bits of a regular file made on Unix, without set-user-id,
// set-group-id and sticky; -1 when the entry carries none.
int StoredPermissions(const CentralEntry& entry) {
  if ((entry.madeBy >> 8) != kHostUnix) return -1;
  uint32_t mode = entry.externalAttributes >> 16;
  if (mode == 0) return -1;
  if ((mode & kUnixTypeMask) != 0 && (mode & kUnixTypeMask) != kUnixRegularFile) return -1;
  return static_cast<int>(mode & 0777);
}

}  // namespace

Extraction::Extraction(int32_t includeCount, const UnzipNameList* include, int32_t excludeCount,
                       const UnzipNameList* exclude, const UnzipOptions& options,
                       const UnzipUserFunctions& callbacks)
    : includeCount_(includeCount),
      include_(include),
      excludeCount_(excludeCount),
      exclude_(exclude),
      options_(options),
      callbacks_(callbacks) {}

void Extraction::Print(std::string_view text) {
  if (callbacks_.Print == nullptr || text.empty()) return;
  // The print callback may stop at a NUL or after 32800 bytes: hand over
  // pieces it reads whole.
  while (!text.empty()) {
    std::string_view piece = text.substr(0, kPrintChunk);
    std::string copy(piece);
    callbacks_.Print(copy.c_str(), static_cast<int32_t>(copy.size()));
    text.remove_prefix(piece.size());
  }
}

void Extraction::Report(const Problem& problem) {
  Record(problem.code);
  if (options_.MessageLevel >= 1) Print(problem.text + "\n");
}

void Extraction::Progress(const std::string& text) {
  if (options_.MessageLevel >= 2) Print(text + "\n");
}

void Extraction::Detail(const std::string& text) {
  if (options_.MessageLevel >= 2 && On(options_.Verbose)) Print(text + "\n");
}

void Extraction::Record(int32_t code) {
  if (result_ == UNZIP32_OK) result_ = code;
}

int32_t Extraction::Run() {
  if (includeCount_ < 0 || includeCount_ > kMaxListNames || excludeCount_ < 0 ||
      excludeCount_ > kMaxListNames || (includeCount_ > 0 && include_ == nullptr) ||
      (excludeCount_ > 0 && exclude_ == nullptr) || options_.ZipFileName == nullptr ||
      options_.ZipFileName[0] == '\0') {
    Report({UNZIP32_ERR_PARAMETER, "missing archive name or bad name lists"});
    return result_;
  }
  const bool writesFiles =
      !On(options_.ExtractList) && !On(options_.TestZip) && !On(options_.WriteToStdOut);
  if (writesFiles && (options_.ExtractDir == nullptr || options_.ExtractDir[0] == '\0')) {
    Report({UNZIP32_ERR_PARAMETER, "missing extraction folder"});
    return result_;
  }

  fileio::Failure failure;
  if (!archive_.Open(options_.ZipFileName, failure)) {
    Report({UNZIP32_ERR_OPEN, failure.text});
    return result_;
  }
  ZipReader reader(archive_);
  ArchiveInfo info;
  Problem problem;
  if (!reader.ReadEnd(info, problem)) {
    Report({problem.code, std::string(options_.ZipFileName) + ": " + problem.text});
    return result_;
  }
  if (!CheckStructure(reader, info)) return result_;

  Progress(std::string("Archive:  ") + options_.ZipFileName);
  Detail(std::to_string(info.entryCount) + " entries, central directory of " +
         std::to_string(info.directorySize) + " bytes at offset " +
         std::to_string(info.directoryOffset));
  if (On(options_.DisplayComment) && !info.comment.empty()) Print(info.comment + "\n");

  if (writesFiles && !fileio::OpenRootFolder(options_.ExtractDir, root_, failure)) {
    Report({UNZIP32_ERR_WRITE, failure.text});
    return result_;
  }

  uint64_t offset = info.directoryOffset;
  for (uint64_t index = 0; index < info.entryCount; ++index) {
    CentralEntry entry;
    if (!reader.ReadCentral(info, index, offset, entry, problem)) {
      Report(problem);
      return result_;
    }
    if (!Selected(entry.name)) continue;
    ++selectedCount_;
    if (!HandleEntry(entry, places_[static_cast<size_t>(index)])) {
      break;
    }
  }
  if (selectedCount_ == 0 && (includeCount_ > 0 || excludeCount_ > 0) && result_ == UNZIP32_OK) {
    Report({UNZIP32_ERR_NO_MATCH, "no entry matches the name lists"});
  }
  return result_;
}

// Reads every central and local header before anything is written: a
// damaged or hostile archive is refused as a whole. The data of the entries
// must not overlap each other or the central directory; overlapping entries
// let a small archive expand into huge output (an overlap zip bomb).
bool Extraction::CheckStructure(ZipReader& reader, const ArchiveInfo& info) {
  // No reserve() from the declared entry count: the vectors grow with the
  // entries that are really there.
  std::vector<Range> ranges;
  places_.clear();
  uint64_t offset = info.directoryOffset;
  Problem problem;
  for (uint64_t index = 0; index < info.entryCount; ++index) {
    CentralEntry entry;
    EntryPlace place;
    if (!reader.ReadCentral(info, index, offset, entry, problem) ||
        !reader.ReadLocal(info, entry, place, problem)) {
      Report(problem);
      return false;
    }
    ranges.push_back({entry.localOffset, place.end, index});
    places_.push_back(place);
  }
  std::vector<Range>& sorted = ranges;
  std::sort(sorted.begin(), sorted.end(),
            [](const Range& a, const Range& b) { return a.start < b.start; });
  for (size_t i = 1; i < sorted.size(); ++i) {
    if (sorted[i].start < sorted[i - 1].end) {
      Report({UNZIP32_ERR_FORMAT, "entries " + std::to_string(sorted[i - 1].index) + " and " +
                                      std::to_string(sorted[i].index) +
                                      " overlap: archive refused"});
      return false;
    }
  }
  return true;
}

bool Extraction::Selected(const std::string& name) const {
  const bool caseSensitive = On(options_.CaseSensitive);
  auto matchesAny = [&](int32_t count, const UnzipNameList* list) {
    for (int32_t i = 0; i < count; ++i) {
      const char* pattern = list->Names[i];
      if (pattern != nullptr && pattern[0] != '\0' && WildcardMatch(pattern, name, caseSensitive)) {
        return true;
      }
    }
    return false;
  };
  bool hasInclude = false;
  for (int32_t i = 0; i < includeCount_; ++i) {
    if (include_->Names[i] != nullptr && include_->Names[i][0] != '\0') hasInclude = true;
  }
  if (hasInclude && !matchesAny(includeCount_, include_)) return false;
  return !matchesAny(excludeCount_, exclude_);
}

void Extraction::ListEntry(const CentralEntry& entry) {
  if (callbacks_.ListEntry == nullptr) return;
  auto clamp32 = [](uint64_t value) {
    return value > 0xffffffffu ? 0xffffffffu : static_cast<uint32_t>(value);
  };
  int32_t ratio = 0;
  if (entry.size > 0 && entry.compressedSize < entry.size) {
    double saved =
        static_cast<double>(entry.size - entry.compressedSize) / static_cast<double>(entry.size);
    ratio = static_cast<int32_t>(std::lround(saved * 1000.0));
  }
  const int32_t month = (entry.dosDate >> 5) & 0x0f;
  const int32_t day = entry.dosDate & 0x1f;
  const int32_t year = 1980 + (entry.dosDate >> 9);
  const int32_t hour = entry.dosTime >> 11;
  const int32_t minute = (entry.dosTime >> 5) & 0x3f;
  std::string method = entry.method == kMethodStored     ? "Stored"
                       : entry.method == kMethodDeflated ? "Deflated"
                                                         : "Method " + std::to_string(entry.method);
  callbacks_.ListEntry(clamp32(entry.size), clamp32(entry.compressedSize), ratio, month, day, year,
                       hour, minute, static_cast<int32_t>(clamp32(entry.index)), entry.name.c_str(),
                       method.c_str(), entry.crc, entry.Encrypted() ? 1 : 0);
}

bool Extraction::HandleEntry(const CentralEntry& entry, const EntryPlace& place) {
  if (On(options_.ExtractList)) {
    ListEntry(entry);
    return true;
  }
  if (callbacks_.Service != nullptr &&
      callbacks_.Service(entry.name.c_str(), static_cast<int32_t>(entry.size & 0xffffffffu)) != 0) {
    Report({UNZIP32_ERR_CANCELLED, "cancelled"});
    return false;
  }
  Detail(entry.name + ": " + std::to_string(entry.size) + " bytes, " +
         std::to_string(entry.compressedSize) + " compressed, method " +
         std::to_string(entry.method) + (entry.Encrypted() ? ", encrypted" : ""));
  if (auto reason = UnsupportedReason(entry); !reason.empty()) {
    Report({UNZIP32_ERR_UNSUPPORTED, entry.name + ": " + reason + ", skipped"});
    return true;
  }
  if (On(options_.TestZip)) {
    NullSink sink;
    if (Decode(entry, place, sink)) Progress("    testing: " + entry.name + "   OK");
    return true;
  }
  if (On(options_.WriteToStdOut)) {
    PrintSink sink(callbacks_.Print);
    Decode(entry, place, sink);
    return true;
  }
  return ExtractToFile(entry, place);
}

bool Extraction::Decode(const CentralEntry& entry, const EntryPlace& place, Sink& sink) {
  if (entry.Encrypted()) {
    int32_t code = ObtainPassword(entry, place);
    if (code != UNZIP32_OK) {
      Record(code);
      return false;
    }
  }
  Problem problem;
  bool ok;
  if (On(options_.ConvertCRtoCRLF) && IsText(entry)) {
    CrLfSink converter(sink);
    ok = DecodeEntry(archive_, entry, place, password_, converter, problem);
  } else {
    ok = DecodeEntry(archive_, entry, place, password_, sink, problem);
  }
  if (!ok) {
    if (entry.Encrypted() && problem.code == UNZIP32_ERR_CRC) {
      problem.text += " (wrong password?)";
    }
    Report(problem);
  }
  return ok;
}

int32_t Extraction::ObtainPassword(const CentralEntry& entry, const EntryPlace& place) {
  Problem problem;
  int asked = 0;
  for (;;) {
    if (password_) {
      bool passes = false;
      if (!PasswordPassesCheck(archive_, entry, place, *password_, passes, problem)) {
        Report(problem);
        return problem.code;
      }
      if (passes) return UNZIP32_OK;
      // Asked again below; the result only fails when no answer passes.
      if (asked > 0 && options_.MessageLevel >= 1) Print(entry.name + ": incorrect password\n");
    }
    if (asked == kPasswordAttempts) {
      Report({UNZIP32_ERR_PASSWORD, entry.name + ": skipped after " +
                                        std::to_string(kPasswordAttempts) + " wrong passwords"});
      return UNZIP32_ERR_PASSWORD;
    }
    if (callbacks_.Password == nullptr) {
      Report({UNZIP32_ERR_PASSWORD, entry.name + ": needs a password"});
      return UNZIP32_ERR_PASSWORD;
    }
    // Two spare bytes beyond the size handed over: a callback that writes its
    // terminating NUL one past the size still stays inside the buffer.
    char buffer[kPasswordBuffer + 2] = {};
    std::string prompt = "Enter password for " + entry.name;
    ++asked;
    int32_t answer = callbacks_.Password(buffer, static_cast<int32_t>(kPasswordBuffer),
                                         prompt.c_str(), entry.name.c_str());
    if (answer != 0) {
      Report({UNZIP32_ERR_PASSWORD, entry.name + ": skipped, no password given"});
      return UNZIP32_ERR_PASSWORD;
    }
    password_ = std::string(buffer, strnlen(buffer, kPasswordBuffer));
  }
}

const fileio::Folder* Extraction::OpenParentFolder(const std::string& path, fileio::Folder& owned,
                                                   std::string& leaf) {
  fileio::Failure failure;
  const fileio::Folder* current = &root_;
  size_t start = 0;
  for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', start)) {
    fileio::Folder next;
    if (!fileio::OpenSubfolder(*current, path.substr(start, slash - start), true, next, failure)) {
      Report({UNZIP32_ERR_WRITE, failure.text});
      return nullptr;
    }
    owned = std::move(next);
    current = &owned;
    start = slash + 1;
  }
  leaf = path.substr(start);
  return current;
}

Extraction::Decision Extraction::DecideReplace(const CentralEntry& entry,
                                               const fileio::NodeInfo& existing,
                                               const std::string& fullPath) {
  const bool newerOnly = On(options_.ExtractOnlyNewer) || On(options_.ExtractNewer);
  if (existing.kind == fileio::NodeKind::Missing) {
    return On(options_.ExtractOnlyNewer) ? Decision::Skip : Decision::Write;
  }
  auto ask = [&] {
    if (callbacks_.Replace == nullptr) return Decision::Skip;
    switch (callbacks_.Replace(fullPath.c_str())) {
      case UNZIP32_REPLACE_YES:
        return Decision::Write;
      case UNZIP32_REPLACE_CANCEL:
        return Decision::Cancel;
      default:
        return Decision::Skip;
    }
  };
  if (newerOnly) {
    // DOS times have a resolution of two seconds: compare the file's time
    // rounded down the same way.
    int64_t entryTime = fileio::DosTimeToUnix(entry.dosDate, entry.dosTime);
    if (entryTime <= (existing.modified & ~int64_t{1})) return Decision::Skip;
    if (On(options_.PromptOverwrite) && !On(options_.OverWriteFiles)) return ask();
    return Decision::Write;
  }
  if (On(options_.OverWriteFiles)) return Decision::Write;
  if (On(options_.PromptOverwrite)) return ask();
  return Decision::Skip;
}

bool Extraction::ExtractToFile(const CentralEntry& entry, const EntryPlace& place) {
  std::string name = entry.name;
  if (On(options_.SpaceToUnderScore)) std::replace(name.begin(), name.end(), ' ', '_');
  CleanName clean = CleanEntryName(name, On(options_.HonorDirectories));
  if (clean.kind == NameKind::Refused) {
    Report({UNZIP32_ERR_UNSAFE_NAME, entry.name + ": unsafe name (" + clean.reason + "), skipped"});
    return true;
  }
  if (clean.kind == NameKind::Skipped) return true;

  // A file and a folder of the same name: jszip, given the files "a/b" and
  // "a/b/c", writes "a/b", the folder entry "a/b/" and "a/b/c". Opening the
  // folder or creating the file then fails for that entry alone (WRITE);
  // the others go on.
  fileio::Folder owned;
  std::string leaf;
  if (clean.kind == NameKind::Directory) {
    if (OpenParentFolder(clean.path + "/", owned, leaf) == nullptr) return true;
    Progress("   creating: " + clean.path + "/");
    return true;
  }

  std::string key = FoldCase(clean.path);
  if (!claimed_.insert(key).second) {
    Report({UNZIP32_ERR_UNSAFE_NAME,
            entry.name + ": another entry of this archive already went to " + clean.path +
                " (names differ only in letter case or folder), skipped"});
    return true;
  }
  const fileio::Folder* parent = OpenParentFolder(clean.path, owned, leaf);
  if (parent == nullptr) return true;
  const fileio::Folder& folder = *parent;
  const std::string fullPath = JoinPath(options_.ExtractDir, clean.path);

  fileio::NodeInfo existing = fileio::Inspect(folder, leaf);
  // An existing symbolic link counts as an existing file: when it is
  // replaced, the rename replaces the link itself and never writes through
  // it.
  if (existing.kind == fileio::NodeKind::Folder || existing.kind == fileio::NodeKind::Other) {
    Report({UNZIP32_ERR_WRITE, fullPath + ": exists and is not a file"});
    return true;
  }
  switch (DecideReplace(entry, existing, fullPath)) {
    case Decision::Skip:
      Progress("   skipping: " + clean.path);
      return true;
    case Decision::Cancel:
      Report({UNZIP32_ERR_CANCELLED, "cancelled at " + fullPath});
      return false;
    case Decision::Write:
      break;
  }
  WriteFile(entry, place, clean, folder, leaf);
  return true;
}

void Extraction::WriteFile(const CentralEntry& entry, const EntryPlace& place,
                           const CleanName& clean, const fileio::Folder& folder,
                           const std::string& leaf) {
  fileio::Failure failure;
  fileio::OutputFile file;
  if (!file.Create(folder, failure)) {
    Report({UNZIP32_ERR_WRITE, failure.text});
    return;
  }
  FileSink sink(file);
  if (!Decode(entry, place, sink)) return;  // the temporary file goes with `file`
  const int permissions = On(options_.Privilege) ? StoredPermissions(entry) : -1;
  if (!file.Finish(fileio::DosTimeToUnix(entry.dosDate, entry.dosTime), permissions, failure) ||
      !file.Commit(leaf, failure)) {
    Report({UNZIP32_ERR_WRITE, failure.text});
    return;
  }
  Progress((entry.method == kMethodStored ? " extracting: " : "  inflating: ") + clean.path);
}

}  // namespace unzip32
