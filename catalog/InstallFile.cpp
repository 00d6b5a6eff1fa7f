// The catalog script merge: Form1::InstallFile and its id test UsedYet.
//
// A merge reads the catalog script twice (once for the ids in use, once to
// copy it), then takes over the recognised lines of one read-me file, and
// rewrites the script when it took over anything. It never reports failure:
// any failure ends the merge and the install run goes on with its next file.

#include <bitset>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_set>
#include <utility>

#include "app/Form1.h"
#include "catalog/DrawnIds.h"
#include "catalog/LineReader.h"
#include "common/Error.h"
#include "common/Leftovers.h"
#include "common/Text.h"
#include "common/modPaths.h"
#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/Lock.h"
#include "platform/Registry.h"

namespace qv {

namespace {

constexpr const char* kSource = "Form1::InstallFile";
constexpr const char* kGameKey = "SOFTWARE\\EA GAMES\\The Sims 2";
constexpr const char* kInstallDirValue = "Install Dir";
constexpr const char* kScriptBelowGame = "TSData\\Res\\Catalog\\Scripts\\modularstairs.txt";

constexpr std::string_view kComment = "#";
constexpr std::string_view kObjectId = "objectID";
constexpr std::string_view kModularStairs = "modularStairs";
constexpr std::string_view kCatalogTextIndex = "catalogTextIndex";

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

// Calls `onItem` for each item of the file at `path`, in order. An item is a
// whole line without its line end and without leading and trailing spaces;
// it is only valid during the call, so a pass copies what it keeps and a
// script's 30,000 lines cost no allocation where nothing is kept. Pending
// window messages are processed after every item read.
template <typename OnItem>
void ForEachItem(const std::string& path, OnItem&& onItem) {
  platform::File file = platform::File::OpenRead(path);
  catalog::LineReader reader(file);
  std::string line;
  while (reader.Next(line)) {
    const std::string_view item = Trimmed(line);
    platform::DoEvents();
    onItem(item);
  }
  file.Close();
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
    throw Error(err::kPathFileAccess, "the catalog script is read-only", kSource);
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

// The ids this merge must not write: the script's own (List2, tested with
// UsedYet) and the ones it has written itself so far. Also knows which of the
// 1000 drawable ids are gone, so it can tell when no draw can succeed.
class IdLedger {
 public:
  explicit IdLedger(Form1& form) : form_(form) {}

  void NoteScriptId(std::string_view id) { NoteDrawable(id); }

  bool Taken(const std::string& id) { return form_.UsedYet(id) || written_.contains(id); }

  void NoteWritten(const std::string& id) {
    written_.insert(id);
    NoteDrawable(id);
  }

  // A drawn id that is neither in the script nor written by this merge.
  std::string DrawFreeId() {
    std::string candidate;
    for (int draws = 0; draws < kMaxDraws; ++draws) {
      if (drawableTaken_.all()) {
        throw Error(err::kInvalidCall, "every object id from 0 to 999 is in use", kSource);
      }
      const float r = form_.Rnd ? form_.Rnd() : catalog::ClockSeededDraw();
      candidate = catalog::IdFromDraw(r);
      if (!Taken(candidate)) return candidate;
    }
    // The source keeps giving taken ids: go on from the last one in order.
    const int start = catalog::DrawableIdNumber(candidate);
    for (int step = 1; step <= catalog::kDrawableIdCount; ++step) {
      const int number = (start + step) % catalog::kDrawableIdCount;
      if (drawableTaken_.test(static_cast<size_t>(number))) continue;
      candidate = std::to_string(number);
      if (!Taken(candidate)) return candidate;
    }
    throw Error(err::kInvalidCall, "every object id from 0 to 999 is in use", kSource);
  }

 private:
  void NoteDrawable(std::string_view id) {
    const int number = catalog::DrawableIdNumber(id);
    if (number >= 0) drawableTaken_.set(static_cast<size_t>(number));
  }

  Form1& form_;
  std::unordered_set<std::string> written_;
  std::bitset<catalog::kDrawableIdCount> drawableTaken_;
};

}  // namespace

void Form1::InstallFile(const std::string& FileToInstall) {
  bool bChanged = false;
  List1.Clear();
  List2.Clear();
  usedIdIndex_.clear();
  usedIdIndexCount_ = 0;

  try {
    const std::string sCatalogPath =
        GetRegistryString(platform::kHkeyLocalMachine, kGameKey, kInstallDirValue) +
        kScriptBelowGame;
    // From the first read to the rewrite, no other merge of this script may
    // run, in this process or any other: each would rewrite the script from
    // what it read, and the later one would drop the other's lines and could
    // hand out the same ids. A script that is not there fails here, as its
    // first read would, before the lock's file is made beside it.
    platform::GetAttributes(sCatalogPath);
    const platform::ExclusiveLock lock = platform::ExclusiveLock::TakeFileLock(sCatalogPath);
    // A merge killed while writing left its replacement beside the script.
    RemoveLeftoverTemporaries(FolderOf(sCatalogPath) + Separator(sCatalogPath));
    IdLedger ids(*this);

    // Id pass: the ids the script uses.
    ForEachItem(sCatalogPath, [&](std::string_view item) {
      if (BeginsWith(item, kModularStairs)) {
        std::string id = StairId(item);
        ids.NoteScriptId(id);
        List2.AddItem(id);
      }
    });

    // Copy pass: the script's items, unchanged and in order.
    ForEachItem(sCatalogPath, [&](std::string_view item) { List1.AddItem(item); });

    // Read-me pass. sLastKey starts as if an object line came last, so the
    // first comment line of a read-me is set off by an empty line.
    std::string_view sLastKey = kObjectId;
    ForEachItem(FileToInstall, [&](std::string_view item) {
      if (BeginsWith(item, kComment) || BeginsWith(item, kObjectId)) {
        if (item == kComment) item = {};
        if (BeginsWith(item, kObjectId)) {
          sLastKey = kObjectId;
        } else {
          if (sLastKey == kObjectId) {
            List1.AddItem({});
            bChanged = true;
          }
          sLastKey = kComment;
        }
        List1.AddItem(item);
        bChanged = true;
      } else if (BeginsWith(item, kModularStairs)) {
        sLastKey = kModularStairs;
        std::string candidate = StairId(item);
        // An empty id would be written as the keyword and a space, which
        // reads back as the keyword alone and would fail every later merge;
        // such a line gets a drawn id like a taken one.
        if (candidate.empty() || ids.Taken(candidate)) candidate = ids.DrawFreeId();
        ids.NoteWritten(candidate);
        List1.AddItem(std::string(kModularStairs) + " " + candidate);
        bChanged = true;
      } else if (BeginsWith(item, kCatalogTextIndex)) {
        List1.AddItem(item);
        bChanged = true;
      }
    });

    if (bChanged) ReplaceScript(sCatalogPath, List1);
  } catch (const std::exception&) {
    // Absorbed: the merge ends quietly and the run goes on with its next
    // read-me file. Every file it opened has been closed on the way out.
  }

  if (bChanged) RaiseCounter(Text1);
}

bool Form1::UsedYet(const std::string& Value) {
  // List2 is only ever appended to or cleared: index what was appended since
  // the last call, and start over when the list got shorter.
  const int32_t count = List2.ListCount();
  if (count < usedIdIndexCount_) {
    usedIdIndex_.clear();
    usedIdIndexCount_ = 0;
  }
  for (; usedIdIndexCount_ < count; ++usedIdIndexCount_) {
    usedIdIndex_.emplace(List2.List(usedIdIndexCount_));
  }
  return usedIdIndex_.contains(Value);
}

}  // namespace qv
