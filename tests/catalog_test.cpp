// The catalog script merge: Form1::InstallFile and UsedYet, with the line
// reader and the drawn ids beneath them.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/Form1.h"
#include "catalog/DrawnIds.h"
#include "catalog/LineReader.h"
#include "common/Error.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

namespace qv {
namespace {

using ::testing::ElementsAre;

constexpr const char* kScript = "game/TSData/Res/Catalog/Scripts/modularstairs.txt";
constexpr const char* kScriptFolder = "game/TSData/Res/Catalog/Scripts";
// The catalog of the worked example: one stair id in use, "3".
constexpr const char* kStairsCatalog = "# Stairs\r\nmodularStairs 3\r\nobjectID 17\r\n";

// A draw that IdFromDraw turns into `id` (0 to 998).
float Draw(int id) {
  return static_cast<float>(id) / 999.0f;
}

std::string CrLfLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\r\n";
  return text;
}

std::vector<std::string> ListOf(const StringList& list) {
  std::vector<std::string> entries;
  for (int32_t i = 0; i < list.ListCount(); ++i) entries.emplace_back(list.List(i));
  return entries;
}

std::vector<std::string> FolderNames(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

auto Named = [](const auto& row) { return std::string(row.param.name); };

// A game installed in a fresh folder, found through the registry, with a
// form whose counter the run has set to "0".
class CatalogMerge : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_.emplace(dir_.Join("prefix"), dir_.Path() + "/game/");
    form_.Text1.Text = "0";
  }
  void TearDown() override { registry_.reset(); }

  void WriteScript(const std::string& content) { dir_.Write(kScript, content); }
  std::string Script() { return dir_.Read(kScript); }

  // Merges a read-me with the given content; gives its path.
  std::string Merge(const std::string& readme, const std::string& name = "readme.txt") {
    const std::string relative = "extracted/" + name;
    dir_.Write(relative, readme);
    const std::string path = dir_.Join(relative);
    form_.InstallFile(path);
    return path;
  }

  // Draws come from `draws` in order; running out fails the test.
  void ScriptDraws(std::vector<float> draws) {
    draws_ = std::move(draws);
    next_ = 0;
    form_.Rnd = [this] {
      if (next_ >= draws_.size()) {
        ADD_FAILURE() << "more draws than scripted";
        return 0.0f;
      }
      return draws_[next_++];
    };
  }
  size_t DrawsUsed() const { return next_; }

  test::TempDir dir_;
  std::optional<test::GameRegistry> registry_;
  Form1 form_;
  std::vector<float> draws_;
  size_t next_ = 0;
};

TEST_F(CatalogMerge, WorkedExample) {
  WriteScript(kStairsCatalog);
  // The read-me's stair id 3 is taken: the first draw hits 3 again, the
  // second gives 512.
  ScriptDraws({Draw(3), Draw(512)});
  Merge(
      "#\r\n"
      "# Stair set A\r\n"
      "modularStairs 3\r\n"
      "catalogTextIndex 2\r\n"
      "objectID 40\r\n"
      "# Stair set B\r\n"
      "modularStairs 7\r\n"
      "author notes\r\n");

  const std::string expected =
      "# Stairs\r\nmodularStairs 3\r\nobjectID 17\r\n\r\n\r\n"
      "# Stair set A\r\nmodularStairs 512\r\ncatalogTextIndex 2\r\nobjectID 40\r\n\r\n"
      "# Stair set B\r\nmodularStairs 7\r\n";
  EXPECT_EQ(Script(), expected);
  EXPECT_EQ(CrLfLines(ListOf(form_.List1)), expected);
  EXPECT_THAT(ListOf(form_.List2), ElementsAre("3"));
  EXPECT_EQ(form_.Text1.Text, "1");
  EXPECT_EQ(DrawsUsed(), 2u);
  EXPECT_THAT(FolderNames(dir_.Join(kScriptFolder)),
              ElementsAre("modularstairs.txt", "modularstairs.txt.lock"));
}

// One read-me merged into the worked example's catalog: what it appends.
struct ReadmeCase {
  const char* name;
  std::string readme;
  std::vector<std::string> appended;
  std::vector<float> draws = {};
};

class ReadmeLines : public CatalogMerge, public ::testing::WithParamInterface<ReadmeCase> {};

TEST_P(ReadmeLines, AppendsTheTakenOverLines) {
  const ReadmeCase& c = GetParam();
  WriteScript(kStairsCatalog);
  ScriptDraws(c.draws);
  Merge(c.readme);

  std::vector<std::string> expected = {"# Stairs", "modularStairs 3", "objectID 17"};
  expected.insert(expected.end(), c.appended.begin(), c.appended.end());
  EXPECT_EQ(Script(), CrLfLines(expected));
  EXPECT_EQ(form_.Text1.Text, "1");
  EXPECT_EQ(DrawsUsed(), c.draws.size());
}

const ReadmeCase kReadmeCases[] = {
    {"FreeIdIsKept", "modularStairs 12\r\n", {"modularStairs 12"}},
    {"TakenIdIsDrawnAgainUntilFree",
     "modularStairs 3\r\n",
     {"modularStairs 44"},
     {Draw(3), Draw(3), Draw(44)}},
    {"FourteenthCharacterBecomesASpace", "modularStairsX9\r\n", {"modularStairs 9"}},
    {"IdIsComparedAsText", "modularStairs 03\r\n", {"modularStairs 03"}},
    {"IndentedStairLineCounts", "    modularStairs 21\r\n", {"modularStairs 21"}},
    {"TrailingSpacesAreDropped",
     "modularStairs 3   \r\nobjectID 5  \r\n",
     {"modularStairs 600", "objectID 5"},
     {Draw(600)}},
    // Written as "modularStairs " it would read back as the bare keyword.
    {"EmptyIdIsReplaced", "modularStairsX\r\n", {"modularStairs 250"}, {Draw(250)}},
    {"HashAloneFirstGivesTwoEmptyLines", "#\r\n", {"", ""}},
    {"CommentAfterStairLineHasNoSeparator",
     "modularStairs 8\r\n# after\r\n",
     {"modularStairs 8", "# after"}},
    {"CommentAfterCommentHasNoSeparator", "# a\r\n# b\r\n", {"", "# a", "# b"}},
    {"CommentAfterObjectLineIsSetOff", "objectID 1\r\n# a\r\n", {"objectID 1", "", "# a"}},
    {"TextIndexAndIgnoredLinesDoNotCount",
     "# a\r\ncatalogTextIndex 1\r\nsome notes\r\n\r\n# b\r\n",
     {"", "# a", "catalogTextIndex 1", "# b"}},
    {"ObjectLineIsCopiedUnchanged", "objectID 17\r\n", {"objectID 17"}},
    {"OtherLetterCaseIsDropped",
     "ModularStairs 5\r\nobjectid 6\r\nCatalogTextIndex 1\r\ncatalogTextIndex 2\r\n",
     {"catalogTextIndex 2"}},
    {"CommasAndQuotesKeepTheLineWhole",
     "# \"Stair, deluxe\", 2 \"x\"\r\nobjectID 1,2\r\n",
     {"", "# \"Stair, deluxe\", 2 \"x\"", "objectID 1,2"}},
    {"SameIdTwiceInOneReadme",
     "modularStairs 12\r\nmodularStairs 12\r\n",
     {"modularStairs 12", "modularStairs 77"},
     {Draw(77)}},
    {"DrawnIdIsNotWrittenAgain",
     "modularStairs 3\r\nmodularStairs 44\r\n",
     {"modularStairs 44", "modularStairs 45"},
     {Draw(44), Draw(3), Draw(44), Draw(45)}},
    {"LoneCrAndLfLineEnds",
     "# a\rmodularStairs 30\nobjectID 2\r\n\r",
     {"", "# a", "modularStairs 30", "objectID 2"}}};
INSTANTIATE_TEST_SUITE_P(Catalog, ReadmeLines, ::testing::ValuesIn(kReadmeCases), Named);

TEST_F(CatalogMerge, CatalogLinesAreCopiedAsItemsAndEndWithCrLf) {
  WriteScript(
      "  # Stairs  \r\n"
      "\r\n"
      "ModularStairs 5\n"
      "modularStairs 6\r"
      "a, \"quoted\", b\r\n"
      "objectID 17");
  // 5 was only on a line of the wrong letter case, so it is free; 6 is not.
  ScriptDraws({Draw(6), Draw(60)});
  Merge("modularStairs 5\r\nmodularStairs 6\r\n");
  EXPECT_EQ(Script(),
            CrLfLines({"# Stairs", "", "ModularStairs 5", "modularStairs 6", "a, \"quoted\", b",
                       "objectID 17", "modularStairs 5", "modularStairs 60"}));
  EXPECT_THAT(ListOf(form_.List2), ElementsAre("6"));
}

TEST_F(CatalogMerge, TwoReadmesInOneRunSeeEachOthersIds) {
  WriteScript(kStairsCatalog);
  ScriptDraws({Draw(10), Draw(20)});
  Merge("modularStairs 10\r\n", "a.txt");
  Merge("modularStairs 10\r\n", "b.txt");
  EXPECT_EQ(Script(),
            std::string(kStairsCatalog) + CrLfLines({"modularStairs 10", "modularStairs 20"}));
  EXPECT_THAT(ListOf(form_.List2), ElementsAre("3", "10"));
  EXPECT_EQ(form_.Text1.Text, "2");
}

TEST_F(CatalogMerge, CounterDropsTheFractionBeforeAddingOne) {
  WriteScript(kStairsCatalog);
  ScriptDraws({});
  const std::map<std::string, std::string> cases = {
      {"0", "1"}, {"41.7", "42"}, {"-2.5", "-2"}, {"not a number", "1"}};
  for (const auto& [before, after] : cases) {
    form_.Text1.Text = before;
    Merge("objectID 1\r\n");
    EXPECT_EQ(form_.Text1.Text, after) << "from " << before;
  }
}

TEST_F(CatalogMerge, LongCatalogMergesWhole) {
  // Beyond what 16-bit list indices could hold; the one taken id sits at the
  // very end of the script.
  std::vector<std::string> lines;
  for (int i = 0; i < 40'000; ++i) lines.push_back("catalogTextIndex " + std::to_string(i));
  lines.back() = "modularStairs last";
  WriteScript(CrLfLines(lines));
  ScriptDraws({Draw(1)});
  Merge("modularStairs last\r\n");
  lines.push_back("modularStairs 1");
  EXPECT_EQ(Script(), CrLfLines(lines));
  EXPECT_EQ(form_.List1.ListCount(), 40'001);
}

// A stair line that is the keyword alone has no id. It does not stop the
// merge: in the script it marks the empty id as used (the line is copied as
// it is), and in a read-me it gets a drawn id, as an empty id does.
TEST_F(CatalogMerge, BareKeywordIsAStairLineWithoutAnId) {
  const std::string catalog = "modularStairs 1\r\nmodularStairs\r\n";
  WriteScript(catalog);
  ScriptDraws({Draw(77)});
  Merge("# a\r\nmodularStairs 5\r\n  modularStairs  \r\n");
  EXPECT_EQ(Script(), catalog + CrLfLines({"", "# a", "modularStairs 5", "modularStairs 77"}));
  EXPECT_EQ(form_.Text1.Text, "1");
  EXPECT_TRUE(form_.UsedYet(""));
}

// Merges that must leave the catalog script byte for byte as it was (or
// absent) and no temporary file behind.
TEST_F(CatalogMerge, MergesThatLeaveTheScriptAsItWas) {
  // No line end after the last line: a rewrite would add one.
  const std::string unended = "# Stairs\r\n  modularStairs 3\r\n\r\nobjectID 17";
  const struct {
    const char* name;
    std::optional<std::string> catalog;  // nullopt: no script
    std::optional<std::string> readme;   // nullopt: no read-me file
    bool noRegistryValue = false;
    bool readOnly = false;
    const char* counter = "0";  // a failed write still counts the read-me
  } rows[] = {
      {"NoRecognisedLine", unended, "\r\nauthor notes\r\n   \r\nModularStairs 4\r\n"},
      {"NoScript", std::nullopt, "# a\r\n"},
      {"NoReadme", kStairsCatalog, std::nullopt},
      {"NoRegistryValue", kStairsCatalog, "# a\r\n", true},
      {"ReadOnlyScript", kStairsCatalog, "# a\r\n", false, true, "1"},
  };
  ScriptDraws({});
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    test::TempDir dir;
    test::GameRegistry registry(dir.Join("prefix"), row.noRegistryValue
                                                        ? std::nullopt
                                                        : std::optional(dir.Path() + "/game/"));
    const std::string script = dir.Join(kScript);
    if (row.catalog) dir.Write(kScript, *row.catalog);
    if (row.readOnly) platform::SetAttributes(script, platform::kAttrReadOnly);
    if (row.readme) dir.Write("readme.txt", *row.readme);
    form_.InstallFile(dir.Join("readme.txt"));
    EXPECT_EQ(form_.Text1.Text, row.counter);
    form_.Text1.Text = "0";
    if (!row.catalog) {
      EXPECT_FALSE(dir.Exists(kScript));
      EXPECT_FALSE(dir.Exists(std::string(kScript) + ".lock"));
      continue;
    }
    platform::SetAttributes(script, platform::kAttrNormal);
    EXPECT_EQ(dir.Read(kScript), *row.catalog);
    // No temporary; the lock's file where the merge got as far as the lock.
    std::vector<std::string> expected = {"modularstairs.txt", "modularstairs.txt.lock"};
    if (row.noRegistryValue) expected.pop_back();
    EXPECT_EQ(FolderNames(dir.Join(kScriptFolder)), expected);
  }
}

// Each step of the rewrite failing in turn, and the disk filling up: the old
// script stays whole and the temporary file goes away.
struct WriteFaultCase {
  const char* name;
  std::optional<platform::fault::Operation> operation;  // nullopt: a full disk
  const char* path;
};

class WriteFault : public CatalogMerge, public ::testing::WithParamInterface<WriteFaultCase> {};

TEST_P(WriteFault, LeavesTheOldScriptWhole) {
  const WriteFaultCase& c = GetParam();
  std::vector<std::string> lines;
  for (int i = 0; i < 2000; ++i) lines.push_back("catalogTextIndex " + std::to_string(i));
  const std::string catalog = CrLfLines(lines);
  WriteScript(catalog);
  ScriptDraws({});
  platform::fault::ScopedFaults faults;
  if (c.operation) platform::fault::FailNext(*c.operation, c.path, err::kDiskFull, -1);
  {
    // The new script is larger than the old one, and than this limit.
    std::optional<test::FileSizeLimit> limit;
    if (!c.operation) limit.emplace(catalog.size() / 2);
    Merge("# a\r\nmodularStairs 9\r\n");
  }
  EXPECT_EQ(Script(), catalog);
  // No temporary beside it; the merge's lock file stays.
  EXPECT_THAT(FolderNames(dir_.Join(kScriptFolder)),
              ElementsAre("modularstairs.txt", "modularstairs.txt.lock"));
  // The read-me pass had taken lines over, so the counter still moves.
  EXPECT_EQ(form_.Text1.Text, "1");
}

// A real full disk where the system can cap a process's file size (POSIX);
// Windows has no such cap, and there the failing write stands for it.
std::vector<WriteFaultCase> WriteFaultCases() {
  std::vector<WriteFaultCase> cases = {
      {"CreatingTheTemporaryFile", platform::fault::Operation::kCreateWrite, "Catalog/Scripts"},
      {"WritingTheTemporaryFile", platform::fault::Operation::kWrite, "Scripts/*.tmp"},
      {"ReplacingTheScript", platform::fault::Operation::kReplace, "Scripts/modularstairs.txt"}};
  if (test::FileSizeLimit::Supported()) cases.push_back({"DiskFull", std::nullopt, ""});
  return cases;
}

INSTANTIATE_TEST_SUITE_P(Catalog, WriteFault, ::testing::ValuesIn(WriteFaultCases()), Named);

// The script's ids as lines, "0" to "999" except `free`.
std::string CatalogUsingAllIdsBut(const std::vector<int>& free) {
  std::string text = "# all stairs\r\n";
  for (int id = 0; id < 1000; ++id) {
    if (std::find(free.begin(), free.end(), id) == free.end()) {
      text += "modularStairs " + std::to_string(id) + "\r\n";
    }
  }
  return text;
}

// The draws a source gives are counted; a constant source keeps hitting the
// same taken id, so the merge must find a free one by itself or give up.
TEST_F(CatalogMerge, ExhaustedIdsEndTheMergeWithoutTouchingTheScript) {
  const struct {
    const char* name;
    std::string catalog;
    std::string readme;
    const char* counter;
    const char* last;  // what List1 ends with, if checked
  } rows[] = {
      {"NoFreeId", CatalogUsingAllIdsBut({}), "modularStairs 5\r\n", "0", nullptr},
      // The first stair line takes the last free id, the second finds none.
      {"LastFreeIdThenNone",
       CatalogUsingAllIdsBut({500}),
       "modularStairs 1\r\nmodularStairs 2\r\n",
       "1",
       {"modularStairs 500"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    WriteScript(row.catalog);
    form_.Text1.Text = "0";
    int calls = 0;
    form_.Rnd = [&calls] { return ++calls, Draw(7); };
    Merge(row.readme);
    EXPECT_EQ(Script(), row.catalog);
    EXPECT_EQ(form_.Text1.Text, row.counter);
    if (!row.last) {
      EXPECT_LT(calls, 1000) << "no free id: the merge gives up early";
    }
    EXPECT_THAT(FolderNames(dir_.Join(kScriptFolder)),
                ElementsAre("modularstairs.txt", "modularstairs.txt.lock"));
    if (row.last) {
      EXPECT_EQ(ListOf(form_.List1).back(), row.last);
    }
  }

  // Not exhausted: a source stuck on a taken id still ends with a free one.
  WriteScript("modularStairs 0\r\nmodularStairs 1\r\n");
  int calls = 0;
  form_.Rnd = [&calls] { return ++calls, 0.0f; };
  Merge("modularStairs 0\r\n");
  EXPECT_EQ(Script(), CrLfLines({"modularStairs 0", "modularStairs 1", "modularStairs 2"}));
  EXPECT_GT(calls, 1);
}

TEST_F(CatalogMerge, ClockSeededSourceFindsTheLastFreeIds) {
  // No scripted source: the real generator has to hit the three free ids.
  WriteScript(CatalogUsingAllIdsBut({0, 417, 999}));
  Merge("modularStairs 5\r\nmodularStairs 6\r\nmodularStairs 7\r\n");
  const std::vector<std::string> written = ListOf(form_.List1);
  EXPECT_THAT(
      std::vector<std::string>(written.end() - 3, written.end()),
      ::testing::UnorderedElementsAre("modularStairs 0", "modularStairs 417", "modularStairs 999"));
  EXPECT_EQ(form_.Text1.Text, "1");
}

TEST(UsedYet, AnswersForTheCurrentEntriesOfList2) {
  Form1 form;
  EXPECT_FALSE(form.UsedYet(""));
  for (const char* id : {"3", "", "3"}) form.List2.AddItem(id);
  EXPECT_TRUE(form.UsedYet("3"));
  EXPECT_TRUE(form.UsedYet(""));
  for (const char* other : {"03", "3 ", " 3", "4", "a"}) EXPECT_FALSE(form.UsedYet(other)) << other;
  form.List2.AddItem("Stair");  // appended after the first question
  EXPECT_TRUE(form.UsedYet("Stair"));
  EXPECT_FALSE(form.UsedYet("stair"));
  form.List2.Clear();
  EXPECT_FALSE(form.UsedYet("3"));
  form.List2.AddItem("9");
  EXPECT_TRUE(form.UsedYet("9"));
}

TEST(DrawnIds, IdFromDrawScalesAndRoundsTiesToEven) {
  struct Row {
    const char* name;
    float r;
    const char* id;
  };
  const Row rows[] = {
      {"zero", 0.0f, "0"},
      {"half", 0.5f, "500"},  // 499.5 -> 500
      {"largestBelowOne", std::nextafter(1.0f, 0.0f), "999"},
      {"tieHalfToZero", 0x1.06680ap-11f, "0"},    // r * 999 is exactly 0.5
      {"tieOneAndAHalf", 0x1.899c1p-10f, "2"},    // 1.5
      {"tieTwoAndAHalf", 0x1.48020cp-9f, "2"},    // 2.5
      {"tieThreeAndAHalf", 0x1.cb3612p-9f, "4"},  // 3.5
      {"tie997AndAHalf", 0x1.ff3b32p-1f, "998"},
      {"tie998AndAHalf", 0x1.ffbe66p-1f, "998"},
      {"justAboveATie", std::nextafter(0x1.899c1p-10f, 1.0f), "2"},
      {"justBelowATie", std::nextafter(0x1.48020cp-9f, 0.0f), "2"},
  };
  for (const Row& row : rows) EXPECT_EQ(catalog::IdFromDraw(row.r), row.id) << row.name;
  for (float bad : {1.0f, -0.25f, std::numeric_limits<float>::quiet_NaN()}) {
    EXPECT_THROW(catalog::IdFromDraw(bad), Error) << bad;
  }
}

TEST(DrawnIds, DrawableIdNumberKnowsOnlyTheTextsADrawWrites) {
  const std::map<std::string, int> rows = {{"0", 0},    {"7", 7},   {"999", 999}, {"1000", -1},
                                           {"007", -1}, {"+7", -1}, {" 7", -1},   {"", -1},
                                           {"-1", -1},  {"7a", -1}};
  for (const auto& [text, number] : rows)
    EXPECT_EQ(catalog::DrawableIdNumber(text), number) << text;
}

TEST(DrawnIds, DrawsAreUniformNeverRepeatWithinATickAndFollowTheTick) {
  catalog::ClockSeededRandom random([] { return uint64_t{42}; });
  constexpr int kDraws = 200'000;
  std::vector<int> deciles(10);
  float previous = -1.0f;
  int repeats = 0;
  for (int i = 0; i < kDraws; ++i) {
    const float r = random.Next();
    ASSERT_GE(r, 0.0f);
    ASSERT_LT(r, 1.0f);
    if (r == previous) ++repeats;
    previous = r;
    ++deciles[static_cast<size_t>(r * 10.0f)];
  }
  EXPECT_EQ(repeats, 0);
  for (int count : deciles) {
    EXPECT_NEAR(count, kDraws / 10, kDraws / 100) << "decile counts are far from uniform";
  }
  // The clock's tick is the seed: another tick, other draws.
  catalog::ClockSeededRandom first([] { return uint64_t{1000}; });
  catalog::ClockSeededRandom second([] { return uint64_t{1001}; });
  int equal = 0;
  for (int i = 0; i < 100; ++i) equal += first.Next() == second.Next() ? 1 : 0;
  EXPECT_LT(equal, 3);
}

// Lines read from a file, with blocks small enough that line ends fall
// across block boundaries.
TEST(LineReader, SplitsAtCrLfLfAndLoneCr) {
  struct Row {
    const char* name;
    std::string content;
    std::vector<std::string> lines;
  };
  const std::vector<Row> rows = {
      {"empty", "", {}},
      {"noLineEnd", "a", {"a"}},
      {"crLfAtEnd", "a\r\n", {"a"}},
      {"onlyCrLf", "\r\n", {""}},
      {"lfThenCr", "\n\r", {"", ""}},
      {"emptyLinesKept", "a\n\nb", {"a", "", "b"}},
      {"loneCr", "a\r\rb\r", {"a", "", "b"}},
      {"mixed", "a\r\nb\nc\rd", {"a", "b", "c", "d"}},
      {"emptyLineAtEnd", "a\r\nb\r\n\r\n", {"a", "b", ""}},
      {"commasAndQuotesStay", "x, \"y, z\"\r\n\"q\"", {"x, \"y, z\"", "\"q\""}},
      {"spacesStay", "  a  \r\n", {"  a  "}},
      {"nulByte", std::string("a\0b\n", 4), {std::string("a\0b", 3)}},
  };
  test::TempDir dir;
  for (const Row& row : rows) {
    dir.Write("lines.txt", row.content);
    for (size_t blockSize : {size_t{1}, size_t{2}, size_t{3}, size_t{65536}}) {
      platform::File file = platform::File::OpenRead(dir.Join("lines.txt"));
      catalog::LineReader reader(file, blockSize);
      std::vector<std::string> lines;
      std::string line;
      while (reader.Next(line)) lines.push_back(line);
      EXPECT_EQ(lines, row.lines) << row.name << ", blocks of " << blockSize;
    }
  }
}

}  // namespace
}  // namespace qv
