// The catalog script merge, Form1::InstallFile, with the drawn ids it takes.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "app/Form1.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

using namespace qv;
using Lines = std::vector<std::string>;
using Names = std::set<std::string>;

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
  // The script after merging `readme`, with the draws given as the ids they
  // become, each of which must be used.
  std::string Merged(const std::string& readme, const std::vector<int>& draws = {}) {
    draws_ = draws;
    used_ = 0;
    dir_.Write("readme.txt", readme);
    form_.InstallFile(dir_.Join("readme.txt"));
    EXPECT_EQ(used_, draws_.size());
    return dir_.Exists(kScript) ? dir_.Read(kScript) : "(none)";
  }
  Names Beside() {
    Names names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Join(kScripts)))
      names.insert(entry.path().filename().string());
    return names;
  }

  test::TempDir dir_;
  test::GameRegistry registry_{dir_.Join("prefix"), dir_.Path() + "/game/"};
  Form1 form_;
  std::vector<int> draws_;
  std::size_t used_ = 0;
};

// One read-me merged into the worked example's catalog (the first row with
// a temporary that a killed merge left beside the script): the lines
// appended, and the draws that it takes (as the ids they give).
TEST_F(Merge, ReadmeLinesAreTakenOverByTheirKind) {
  using Draws = std::vector<int>;
  std::string leftover;
  platform::File::CreateTemporaryIn(dir_.Join(kScripts), leftover).Close();
  // clang-format off
  const std::tuple<std::string, Lines, Draws> rows[] = {
      {"#\r\n# A\r\nmodularStairs 3\r\ncatalogTextIndex 2\r\nobjectID 40\r\n# B\r\nnotes",
       {"", "", "# A", "modularStairs 512", "catalogTextIndex 2", "objectID 40", "", "# B"},
       {3, 512}},  // taken: drawn till free
      {"  modularStairs 3  \r\nobjectID 5 ", {"modularStairs 6", "objectID 5"}, {6}},
      // Written as "modularStairs " it would read back as the bare keyword.
      {"modularStairsX", {"modularStairs 250"}, {250}},
      {"ModularStairs 5\r\nobjectid 6\r\nCatalogTextIndex 1\r\ncatalogTextIndex 2",
       {"catalogTextIndex 2"}, {}},
      {"modularStairs 3\r\nmodularStairs 44", {"modularStairs 44", "modularStairs 45"},
       {44, 3, 44, 45}},
      {"# a\rmodularStairs 30\nobjectID 2\r\n\r", {"", "# a", "modularStairs 30", "objectID 2"},
       {}}};
  // clang-format on
  for (const auto& [readme, appended, draws] : rows) {
    Lines expected = kCatalog;
    expected.insert(expected.end(), appended.begin(), appended.end());
    dir_.Write(kScript, CrLf(kCatalog));
    form_.Text1.Text = "0";
    EXPECT_EQ(Merged(readme, draws), CrLf(expected)) << readme;
    EXPECT_EQ(form_.Text1.Text, "1");
    EXPECT_EQ(Beside(), kScriptAndLock);
  }
  EXPECT_EQ(form_.List2.ListCount() == 1 ? form_.List2.List(0) : "?", "3");
}

// Steps of the rewrite failing: the old script stays whole and the temporary
// file goes away, and the read-me still counts. Below, the errors raised.
TEST_F(Merge, AFailedRewriteLeavesTheOldScriptWhole) {
  using platform::fault::Operation;
  const std::pair<Operation, const char*> faults[] = {
      {Operation::kCreateWrite, "Catalog/Scripts"},
      {Operation::kReplace, "Scripts/modularstairs.txt"}};
  for (const auto& [operation, path] : faults) {
    platform::fault::ScopedFaults scoped;
    platform::fault::FailNext(operation, path, err::kDiskFull, -1);
    form_.Text1.Text = "0";
    EXPECT_EQ(Merged("# a\r\nmodularStairs 9"), CrLf(kCatalog)) << path;
    EXPECT_EQ(Beside(), kScriptAndLock);
    EXPECT_EQ(form_.Text1.Text, "1");
  }
  // What a write to a really full disk raises (the host's, where there is one).
  if (!test::UnderWine()) {
    EXPECT_EQ(test::Raised([] { platform::File::CreateWrite("/dev/full").Write("x", 1); }).Number(),
              err::kDiskFull);
  }
  // What the merge's reads raise for a file that is not there: 53, file not found.
  EXPECT_EQ(test::Raised([&] { platform::File::OpenRead(dir_.Join("none")); }).Number(), 53);
}

// A source stuck on one taken id: the merge finds the free ids by itself,
// and when none is left it ends without touching the script.
TEST_F(Merge, AStuckSourceStillFindsTheLastFreeIds) {
  // None free: the merge gives up at once, without a draw.
  std::string all;
  for (int id = 0; id < 1000; ++id) all += "modularStairs " + std::to_string(id) + "\r\n";
  dir_.Write(kScript, all);
  EXPECT_EQ(Merged("modularStairs 5"), all);
  form_.Rnd = [] { return 0.0f; };  // always id 0
  dir_.Write(kScript, "modularStairs 0\r\nmodularStairs 1\r\n");
  EXPECT_EQ(Merged("modularStairs 0"),
            CrLf({"modularStairs 0", "modularStairs 1", "modularStairs 2"}));
  // The last free id, 500, goes to the first line; the second finds none.
  const std::string allBut500 = all.replace(all.find("modularStairs 500"), 19, "");
  dir_.Write(kScript, allBut500);
  EXPECT_EQ(Merged("modularStairs 1\r\nmodularStairs 2"), allBut500);
  EXPECT_EQ(form_.List1.List(form_.List1.ListCount() - 1), "modularStairs 500");
}
