// The catalog script merge.
//
// A merge reads the catalog script twice (once for the ids in use, once to
// copy it), then takes over the recognised lines of one read-me file, and
// rewrites the script when it took over anything. It shows no message: it
// tells its caller what came of it, and a failure ends the merge with the
// script as it was.

#include "catalog/ScriptMerge.h"

#include <bitset>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "catalog/DrawnIds.h"
#include "catalog/LineReader.h"
#include "common/Error.h"
#include "common/Game.h"
#include "common/Leftovers.h"
#include "common/Text.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/Lock.h"

namespace qv::catalog {

namespace {

// Errors of the merge name the form's method that the run calls it through.
constexpr const char* kSource = "Form1::InstallFile";
constexpr const char* kScriptBelowGame = "TSData\\Res\\Catalog\\Scripts\\modularstairs.txt";

constexpr std::string_view kComment = "#";
constexpr std::string_view kObjectId = "objectID";
constexpr std::string_view kModularStairs = "modularStairs";
constexpr std::string_view kCatalogTextIndex = "catalogTextIndex";
constexpr std::string_view kCatalogTextResource = "catalogTextResource";
// What a Windows editor puts before the first line of a script it saves as
// UTF-8.
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

// After this many draws that all hit taken ids, the next free id is taken in
// order instead. With a sound source and at least one id free, the chance of
// getting here is below e^-50; it is there so that a source that keeps
// repeating itself cannot hold the merge for ever.
constexpr int kMaxDraws = 100'000;

// Blocks of this size go to the disk at a time while the script is written.
constexpr size_t kWriteBlock = 64 * 1024;

// Keyword tests compare the leading characters exactly and case-sensitively;
// an item shorter than the keyword never matches.
bool BeginsWith(std::string_view item, std::string_view keyword) {
  return item.substr(0, keyword.size()) == keyword;
}

// What the read-me pass does with an item.
enum class ReadmeLine {
  kCommentOrObject,  // "#..." or "objectID...": taken over, maybe set off by an empty line
  kStair,            // "modularStairs...": taken over with an id not in use
  kAsItIs,           // "catalogTextIndex..." or "catalogTextResource...": taken over unchanged
  kDropped,          // anything else, empty items included
};

ReadmeLine KindOf(std::string_view item) {
  if (BeginsWith(item, kComment) || BeginsWith(item, kObjectId)) {
    return ReadmeLine::kCommentOrObject;
  }
  if (BeginsWith(item, kModularStairs)) return ReadmeLine::kStair;
  // The text resource line names the stairs and their price in the catalog.
  if (BeginsWith(item, kCatalogTextIndex) || BeginsWith(item, kCatalogTextResource)) {
    return ReadmeLine::kAsItIs;
  }
  return ReadmeLine::kDropped;
}

// The id of a stair line: everything after the keyword and one separator
// character. The keyword alone has the empty id: once trailing spaces are
// dropped, "modularStairs " reads back as the keyword alone, and such a line
// must not make every later merge of the script fail.
std::string StairId(std::string_view item) {
  if (item.size() <= kModularStairs.size()) return {};
  return std::string(item.substr(kModularStairs.size() + 1));
}

// Leading and trailing spaces (only spaces) dropped.
std::string_view Trimmed(std::string_view line) {
  const size_t first = line.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return line.substr(first, line.find_last_not_of(' ') - first + 1);
}

// Calls `onItem` for each item of the file at `path`, in order, until it
// returns false. An item is a whole line without its line end and without
// leading and trailing spaces; it is only valid during the call, so a pass
// copies what it keeps and a script's 30,000 lines cost no allocation where
// nothing is kept. Pending window messages are processed after every item
// read.
template <typename OnItem>
void ForEachItem(const std::string& path, Marks marks, OnItem&& onItem) {
  platform::File file = platform::File::OpenRead(path);
  LineReader reader(file, marks);
  std::string line;
  while (reader.Next(line)) {
    const std::string_view item = Trimmed(line);
    platform::DoEvents();
    if (!onItem(item)) break;
  }
  file.Close();
}

// Whether the read-me holds a line that the merge takes over, for a merge
// that failed before its read-me pass; reads up to the first such line. A
// read-me that cannot be read counts as holding one: nothing shows that the
// merge had nothing to do.
bool HasLinesToTakeOver(const std::string& readme) noexcept {
  bool found = false;
  try {
    ForEachItem(readme, Marks::kDecoded, [&](std::string_view item) {
      found = KindOf(item) != ReadmeLine::kDropped;
      return !found;
    });
  } catch (...) {
    return true;
  }
  return found;
}

// The folder part of `path`, without its last separator.
std::string FolderOf(const std::string& path) {
  const size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? std::string(".") : path.substr(0, separator);
}

// The separator that ends the folder part of `path` ("\\" when it has none).
char Separator(const std::string& path) {
  const size_t separator = path.find_last_of("\\/");
  return separator == std::string::npos ? '\\' : path[separator];
}

// Replaces the script with `lines`, each ended with CR LF, so that at every
// moment the script is either the old one whole or the new one whole: the
// new text goes to a temporary file beside it, is pushed to the disk and then
// takes the script's place in one step. On failure the temporary file is
// removed and the failure passed on.
void ReplaceScript(const std::string& scriptPath, const StringList& lines) {
  // Opening a read-only file for writing fails; a rename would not notice,
  // so ask first: a protected script stays as it is.
  if ((platform::GetAttributes(scriptPath) & platform::kAttrReadOnly) != 0) {
    throw Error(err::kPathFileAccess,
                std::string(err::Title(err::kPathFileAccess)) + ": the catalog script '" +
                    scriptPath + "' is read-only",
                kSource);
  }
  std::string temporaryPath;
  platform::File out = platform::File::CreateTemporaryIn(FolderOf(scriptPath), temporaryPath);
  try {
    std::string block;
    block.reserve(kWriteBlock + 256);
    const int32_t count = lines.ListCount();
    for (int32_t i = 0; i < count; ++i) {
      block += lines.List(i);
      block += "\r\n";
      if (block.size() >= kWriteBlock) {
        out.Write(block.data(), block.size());
        block.clear();
      }
    }
    out.Write(block.data(), block.size());
    out.Flush();
    out.Close();
    platform::ReplaceFileAtomically(temporaryPath, scriptPath);
  } catch (...) {
    { platform::File closing = std::move(out); }  // closed here, so it can be removed
    try {
      platform::RemoveFile(temporaryPath);
    } catch (...) {  // nothing more to do: the failure that got us here is the one to report
    }
    throw;
  }
}

// Adds one to a counter held as decimal text, dropping any fraction first
// (towards minus infinity). A text that is no number counts as 0; a value too
// large to count on stays as it is.
void RaiseCounter(TextBox& counter) {
  const std::string number = text::TrimSpaces(counter.Text);
  double value = 0;
  const char* first = number.data();
  const char* last = first + number.size();
  if (first != last && *first == '+') ++first;
  const auto [end, error] = std::from_chars(first, last, value);
  if (error != std::errc() || end != last || !std::isfinite(value)) value = 0;
  value = std::floor(value) + 1;
  if (std::fabs(value) >= 9.0e15) return;
  counter.Text = std::to_string(static_cast<int64_t>(value));
}

// The ids this merge must not write: the script's own (the used ids, tested
// through their index) and the ones it has written itself so far. Also
// knows which of the 1000 drawable ids are gone, so it can tell when no draw
// can succeed; then the ids go on above them.
class IdLedger {
 public:
  explicit IdLedger(const MergeLists& lists) : lists_(lists) {}

  void NoteScriptId(std::string_view id) { NoteDrawable(id); }

  bool Taken(const std::string& id) {
    return lists_.usedIdIndex.Contains(lists_.usedIds, id) || written_.contains(id);
  }

  void NoteWritten(const std::string& id) {
    written_.insert(id);
    NoteDrawable(id);
  }

  // A drawn id that is neither in the script nor written by this merge, or
  // when all of "0" to "999" are, the first whole number above them that is
  // free.
  std::string DrawFreeId() {
    std::string candidate;
    for (int draws = 0; draws < kMaxDraws; ++draws) {
      if (drawableTaken_.all()) return NextIdAboveDrawable();
      const float r = lists_.draw ? lists_.draw() : ClockSeededDraw();
      candidate = IdFromDraw(r);
      if (!Taken(candidate)) return candidate;
    }
    // The source keeps giving taken ids: go on from the last one in order.
    const int start = DrawableIdNumber(candidate);
    for (int step = 1; step <= kDrawableIdCount; ++step) {
      const int number = (start + step) % kDrawableIdCount;
      if (drawableTaken_.test(static_cast<size_t>(number))) continue;
      candidate = std::to_string(number);
      if (!Taken(candidate)) return candidate;
    }
    return NextIdAboveDrawable();
  }

 private:
  // Ids are texts: "1000" is taken only when that very text is. Ids are
  // only ever added during a merge, so the search never needs to go back.
  std::string NextIdAboveDrawable() {
    while (Taken(std::to_string(nextAbove_))) ++nextAbove_;
    return std::to_string(nextAbove_);
  }

  void NoteDrawable(std::string_view id) {
    const int number = DrawableIdNumber(id);
    if (number >= 0) drawableTaken_.set(static_cast<size_t>(number));
  }

  const MergeLists& lists_;
  std::unordered_set<std::string> written_;
  std::bitset<kDrawableIdCount> drawableTaken_;
  int64_t nextAbove_ = kDrawableIdCount;
};

// Id pass: the ids the script uses. A mark that an editor put before the
// first line stays in the copy, but the line's id is read behind it.
void ReadScriptIds(const std::string& script, StringList& usedIds, IdLedger& ids) {
  bool firstItem = true;
  ForEachItem(script, Marks::kKept, [&](std::string_view item) {
    if (firstItem && item.starts_with(kUtf8Mark)) item = Trimmed(item.substr(kUtf8Mark.size()));
    firstItem = false;
    if (BeginsWith(item, kModularStairs)) {
      std::string id = StairId(item);
      ids.NoteScriptId(id);
      usedIds.AddItem(id);
    }
    return true;
  });
}

// Copy pass: the script's items, unchanged and in order.
void CopyScript(const std::string& script, StringList& lines) {
  ForEachItem(script, Marks::kKept, [&](std::string_view item) {
    lines.AddItem(item);
    return true;
  });
}

// Read-me pass: the recognised lines appended to `lines`, `bChanged` set as
// soon as one is (a failure half way must still know). sLastKey starts as
// if an object line came last, so the first comment line of a read-me is
// set off by an empty line.
void TakeOverReadme(const std::string& readme, StringList& lines, IdLedger& ids, bool& bChanged) {
  std::string_view sLastKey = kObjectId;
  ForEachItem(readme, Marks::kDecoded, [&](std::string_view item) {
    switch (KindOf(item)) {
      case ReadmeLine::kCommentOrObject:
        if (item == kComment) item = {};
        if (BeginsWith(item, kObjectId)) {
          sLastKey = kObjectId;
        } else {
          if (sLastKey == kObjectId) {
            lines.AddItem({});
            bChanged = true;
          }
          sLastKey = kComment;
        }
        lines.AddItem(item);
        bChanged = true;
        break;
      case ReadmeLine::kStair: {
        sLastKey = kModularStairs;
        std::string candidate = StairId(item);
        // An empty id would be written as the keyword and a space, which
        // reads back as the keyword alone and would fail every later merge;
        // such a line gets a drawn id like a taken one.
        if (candidate.empty() || ids.Taken(candidate)) candidate = ids.DrawFreeId();
        ids.NoteWritten(candidate);
        lines.AddItem(std::string(kModularStairs) + " " + candidate);
        bChanged = true;
        break;
      }
      case ReadmeLine::kAsItIs:
        lines.AddItem(item);
        bChanged = true;
        break;
      case ReadmeLine::kDropped:
        break;
    }
    return true;
  });
}

}  // namespace

bool UsedIdIndex::Contains(const StringList& ids, const std::string& id) {
  const int32_t count = ids.ListCount();
  if (count < indexed_) Clear();
  for (; indexed_ < count; ++indexed_) index_.emplace(ids.List(indexed_));
  return index_.contains(id);
}

void UsedIdIndex::Clear() noexcept {
  index_.clear();
  indexed_ = 0;
}

MergeResult MergeReadMe(const std::string& readMe, const MergeLists& lists) {
  MergeResult result;
  bool bChanged = false;
  bool readmeReached = false;
  lists.lines.Clear();
  lists.usedIds.Clear();
  lists.usedIdIndex.Clear();

  try {
    // The edition found as the run found it; with none the path is
    // relative and fails at its first read, as a missing script does.
    const std::optional<GameInstall> game = FindGame();
    const std::string sCatalogPath = game ? CatalogScriptPath(*game) : kScriptBelowGame;
    result.catalogScript = sCatalogPath;
    // From the first read to the rewrite, no other merge of this script may
    // run, in this process or any other: each would rewrite the script from
    // what it read, and the later one would drop the other's lines and could
    // hand out the same ids. A script that is not there fails here, as its
    // first read would, before the lock's file is made beside it.
    platform::GetAttributes(sCatalogPath);
    const platform::ExclusiveLock lock = platform::ExclusiveLock::TakeFileLock(sCatalogPath);
    // A merge killed while writing left its replacement beside the script.
    RemoveLeftoverTemporaries(FolderOf(sCatalogPath) + Separator(sCatalogPath));
    IdLedger ids(lists);

    ReadScriptIds(sCatalogPath, lists.usedIds, ids);
    CopyScript(sCatalogPath, lists.lines);
    readmeReached = true;
    TakeOverReadme(readMe, lists.lines, ids, bChanged);

    if (bChanged) ReplaceScript(sCatalogPath, lists.lines);
    result.outcome =
        bChanged ? MergeResult::Outcome::kMerged : MergeResult::Outcome::kNothingToTakeOver;
  } catch (...) {
    // The merge ends here; every file it opened has been closed on the way
    // out and the script is as it was. It failed only if the read-me had
    // something to take over: when the failure came before the read-me was
    // read, a look at the read-me tells. A read-me that could not be read
    // through is a failure, whatever it held.
    Error error = CaughtError(kSource);
    if (bChanged || readmeReached || HasLinesToTakeOver(readMe)) {
      result.outcome = MergeResult::Outcome::kFailed;
      result.error = std::move(error);
    }
  }

  if (bChanged) RaiseCounter(lists.mergedCount);
  return result;
}

}  // namespace qv::catalog
