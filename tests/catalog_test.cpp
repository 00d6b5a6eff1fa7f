// The catalog script merge, Form1::InstallFile, with the drawn ids it takes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <ostream>
#include <set>

#include "app/Form1.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

using namespace qv;
using Lines = std::vector<std::string>;
using Names = std::set<std::string>;
using Outcome = MergeResult::Outcome;

namespace qv {
void PrintTo(Outcome outcome, std::ostream* out) {
  *out << (outcome == Outcome::kMerged              ? "merged"
           : outcome == Outcome::kNothingToTakeOver ? "nothing to take over"
                                                    : "failed");
}
}  // namespace qv

// The catalog script of a game in a fresh folder, found through the
// registry. The worked example's catalog uses one stair id, "3".
const std::string kScripts = "game/TSData/Res/Catalog/Scripts/";
const std::string kScript = kScripts + "modularstairs.txt";
const Lines kCatalog = {"# Stairs", "modularStairs 3", "objectID 17"};
// What a merge leaves beside the script: its lock file, no temporary.
const Names kScriptAndLock = {"modularstairs.txt", "modularstairs.txt.lock"};

std::string CrLf(const Lines& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

// Stair lines of every drawable id but `free` (-1: none), then `more`.
Lines DrawableIdsTaken(int free = -1, const Lines& more = {}) {
  Lines lines;
  for (int id = 0; id < 1000; ++id) {
    if (id != free) lines.push_back("modularStairs " + std::to_string(id));
  }
  lines.insert(lines.end(), more.begin(), more.end());
  return lines;
}

// `text` as a Windows editor saves it as "Unicode": UTF-16 with its mark.
std::string Utf16(std::u16string_view text, bool bigEndian) {
  std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
  for (const char16_t unit : text) {
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    bytes += bigEndian ? std::string{high, low} : std::string{low, high};
  }
  return bytes;
}

class Merge : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write(kScript, CrLf(kCatalog));
    form_.Text1.Text = "0";  // as the run sets it
    form_.Rnd = [this] {
      EXPECT_LT(used_, draws_.size()) << "more draws than scripted";
      // A quarter below the id: the draw must be rounded, not cut, to give it.
      return used_ < draws_.size() ? (static_cast<float>(draws_[used_++]) - 0.25f) / 999.0f : 0.0f;
    };
  }
  // The script after merging `readme` (the result in result_), with the
  // draws given as the ids they become, each of which must be used.
  std::string Merged(const std::string& readme, const std::vector<int>& draws = {}) {
    draws_ = draws;
    used_ = 0;
    dir_.Write("readme.txt", readme);
    result_ = form_.InstallFile(dir_.Join("readme.txt"));
    EXPECT_EQ(used_, draws_.size()) << "draws left unused";
    return dir_.Exists(kScript) ? dir_.Read(kScript) : "(none)";
  }
  Names Beside() {
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Join(kScripts)))
      names.insert(entry.path().filename().string());
    return names;
  }

  test::TempDir dir_;
  const std::string installDir_ = dir_.Path() + "/game/";
  test::GameRegistry registry_{dir_.Join("prefix"), installDir_};
  Form1 form_;
  MergeResult result_;
  std::vector<int> draws_;
  std::size_t used_ = 0;
};

// One read-me merged into a catalog script (the first row with a temporary
// that a killed merge left beside the script): the lines appended, and the
// draws that it takes (as the ids they give).
TEST_F(Merge, ReadmeLinesAreTakenOverByTheirKind) {
  struct Row {
    const char* name;
    std::string readme;
    Lines appended;  // after the script's own lines; none: nothing to take over
    std::vector<int> draws = {};
    Lines script = kCatalog;
  };
  std::string leftover;
  platform::File::CreateTemporaryIn(dir_.Join(kScripts), leftover).Close();
  // clang-format off
  const Row rows[] = {
      {.name = "WorkedExample",
       .readme = "#\r\n# A\r\nmodularStairs 3\r\ncatalogTextIndex 2\r\nobjectID 40\r\n# B\r\nnotes",
       .appended = {"", "", "# A", "modularStairs 512", "catalogTextIndex 2", "objectID 40", "",
                    "# B"},
       .draws = {3, 512}},  // taken: drawn till free
      {.name = "Indented", .readme = "  modularStairs 3  \r\nobjectID 5 ",
       .appended = {"modularStairs 6", "objectID 5"}, .draws = {6}},
      // Written as "modularStairs " it would read back as the bare keyword.
      {.name = "KeywordAlone", .readme = "modularStairsX", .appended = {"modularStairs 250"},
       .draws = {250}},
      {.name = "OtherLetterCase",
       .readme = "ModularStairs 5\r\nobjectid 6\r\nCatalogTextIndex 1\r\ncatalogTextIndex 2",
       .appended = {"catalogTextIndex 2"}},
      {.name = "IdWrittenByThisMerge", .readme = "modularStairs 3\r\nmodularStairs 44",
       .appended = {"modularStairs 44", "modularStairs 45"}, .draws = {44, 3, 44, 45}},
      {.name = "EveryLineEnd", .readme = "# a\rmodularStairs 30\nobjectID 2\r\n\r",
       .appended = {"", "# a", "modularStairs 30", "objectID 2"}},
      {.name = "NothingToTakeOver", .readme = "notes\r\n\r\nModularStairs 5\r\n", .appended = {}},
      {.name = "ObjectIdAlone", .readme = "objectID 7", .appended = {"objectID 7"}},
      {.name = "Utf16BigEndian",
       .readme = Utf16(u"#Escalier \u00E9\nmodularStairs 4000\nobjectID step 0x1\n", true),
       .appended = {"", "#Escalier \xE9", "modularStairs 4000", "objectID step 0x1"}},
      {.name = "Utf8WithoutMarkPassesThrough", .readme = "# Caf\xC3\xA9",
       .appended = {"", "# Caf\xC3\xA9"}},
      {.name = "TextResourceKeepsTheLastKey",
       .readme = "objectID 1\r\ncatalogTextResource X 1\r\n# B\r\ncatalogTextResourceY",
       .appended = {"objectID 1", "catalogTextResource X 1", "", "# B", "catalogTextResourceY"}},
      // The mark stays, and the line's id "12" is taken.
      {.name = "ScriptWithUtf8Mark", .readme = "modularStairs 12", .appended = {"modularStairs 40"},
       .draws = {40}, .script = {"\xEF\xBB\xBFmodularStairs 12", "objectID 1"}},
      // "01001" is another text than "1001".
      {.name = "AboveTheDrawableIdsByText", .readme = "modularStairs 5\r\nmodularStairs 7",
       .appended = {"modularStairs 1001", "modularStairs 1002"},
       .script = DrawableIdsTaken(-1, {"modularStairs 1000", "modularStairs 01001"})},
      {.name = "LastDrawableIdThenAbove", .readme = "modularStairs 1\r\nmodularStairs 2",
       .appended = {"modularStairs 500", "modularStairs 1000"}, .draws = {500},
       .script = DrawableIdsTaken(500)},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    dir_.Write(kScript, CrLf(row.script));
    form_.Text1.Text = "0";
    const std::string after = Merged(row.readme, row.draws), own = CrLf(row.script);
    EXPECT_TRUE(after.starts_with(own)) << "the script's own lines changed";
    EXPECT_EQ(after.substr(std::min(own.size(), after.size())), CrLf(row.appended))
        << "the lines appended";
    EXPECT_EQ(result_.outcome,
              row.appended.empty() ? Outcome::kNothingToTakeOver : Outcome::kMerged);
    EXPECT_FALSE(result_.error.has_value()) << result_.error->Description();
    EXPECT_EQ(form_.Text1.Text, row.appended.empty() ? "0" : "1");
    EXPECT_EQ(Beside(), kScriptAndLock);
    // List2: the script's ids alone.
    EXPECT_EQ(form_.List2.ListCount(), std::ranges::count_if(row.script, [](const auto& line) {
                return line.find("modularStairs") != std::string::npos;
              }));
  }
}

// Merges that cannot complete: the result says so and why (its number tells
// the kind), the script stays as it was and nothing is left beside it. The
// read-me still counts when its lines had been taken over. A failure before
// the read-me was read is none when the read-me has nothing to take over.
TEST_F(Merge, AMergeThatCannotCompleteTellsWhy) {
  using platform::fault::FailNext;
  using platform::fault::Operation;
  struct Row {
    const char* name;
    std::function<void()> arrange;
    int32_t error;  // 0: no failure, nothing to take over
    const char* counter = "0";
    std::string readme = "# a\r\nmodularStairs 9";
  };
  // The next `operation` on a path that `where` matches fails with `number`.
  const auto fail = [](Operation operation, const char* where, int32_t number) {
    return [=] { FailNext(operation, where, number, -1); };
  };
  const char* const own = "Scripts/modularstairs.txt";
  const std::string script = dir_.Join(kScript);
  const auto noScript = [&] {
    std::filesystem::remove(script);
    std::filesystem::remove(script + ".lock");
  };
  // clang-format off
  const Row rows[] = {
      {.name = "NoRightsToReplace", .arrange = fail(Operation::kReplace, own, err::kPermissionDenied),
       .error = err::kPermissionDenied, .counter = "1"},
      {.name = "DiskFullForTheReplacement",
       .arrange = fail(Operation::kCreateWrite, "Catalog/Scripts", err::kDiskFull),
       .error = err::kDiskFull, .counter = "1"},
      {.name = "DiskFullWhileWriting",
       .arrange = fail(Operation::kWrite, "Catalog/Scripts/*", err::kDiskFull),
       .error = err::kDiskFull, .counter = "1"},
      {.name = "ScriptUnreadable", .arrange = fail(Operation::kOpenRead, own, err::kPermissionDenied),
       .error = err::kPermissionDenied},
      {.name = "ScriptUnreadableNothingToTakeOver",
       .arrange = fail(Operation::kOpenRead, own, err::kPermissionDenied), .error = 0,
       .readme = "\xEF\xBB\xBFnotes only"},
      {.name = "ReadmeUnreadable",
       .arrange = fail(Operation::kOpenRead, "readme.txt", err::kPermissionDenied),
       .error = err::kPermissionDenied},
      {.name = "NoScript", .arrange = noScript, .error = err::kFileNotFound},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    platform::fault::ScopedFaults faults;
    dir_.Write(kScript, CrLf(kCatalog));
    row.arrange();
    const bool there = dir_.Exists(kScript);
    form_.Text1.Text = "0";
    EXPECT_EQ(Merged(row.readme), there ? CrLf(kCatalog) : "(none)");
    EXPECT_EQ(result_.outcome, row.error != 0 ? Outcome::kFailed : Outcome::kNothingToTakeOver);
    EXPECT_EQ(result_.error ? result_.error->Number() : 0, row.error)
        << (result_.error ? result_.error->Description() : "no error");
    EXPECT_EQ(result_.catalogScript,
              dir_.Path() + "/game\\TSData\\Res\\Catalog\\Scripts\\modularstairs.txt");
    EXPECT_EQ(Beside(), there ? kScriptAndLock : Names{});
    EXPECT_EQ(form_.Text1.Text, row.counter);
  }
  // What a write to a really full disk raises (the host's, where there is one).
  if (!test::UnderWine()) {
    EXPECT_EQ(test::Raised([] { platform::File::CreateWrite("/dev/full").Write("x", 1); }).Number(),
              err::kDiskFull);
  }
}

// A source stuck on one taken id: the merge finds the free ids by itself.
TEST_F(Merge, AStuckSourceStillFindsTheFreeIds) {
  form_.Rnd = [] { return 0.0f; };  // always id 0
  dir_.Write(kScript, "modularStairs 0\r\nmodularStairs 1\r\n");
  EXPECT_EQ(Merged("modularStairs 0"),
            CrLf({"modularStairs 0", "modularStairs 1", "modularStairs 2"}));
}
