// The working lists of the form: the two string lists and the folder listing
// by pattern, on a real folder.
#include "app/WorkingLists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Error.h"
#include "platform/FileSystem.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

namespace qv {
namespace {
using test::Raised;

std::vector<std::string> Names(const FileListBox& box) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < box.ListCount(); ++i) names.push_back(box.List(i));
  return names;
}

TEST(StringList, KeepsTheOrderOfAdditionEmptyEntriesIncluded) {
  StringList list;
  EXPECT_EQ(Raised([&] { list.List(0); }).Number(), err::kSubscriptOutOfRange);
  for (const char* entry : {"b", "", "a"}) list.AddItem(entry);
  ASSERT_EQ(list.ListCount(), 3);
  EXPECT_EQ(
      std::string(list.List(0)) + "|" + std::string(list.List(1)) + "|" + std::string(list.List(2)),
      "b||a");
  for (int32_t index : {-1, 3, 32767, -32768}) {
    EXPECT_EQ(Raised([&] { list.List(index); }).Number(), err::kSubscriptOutOfRange) << index;
  }
  list.Clear();
  EXPECT_EQ(list.ListCount(), 0);
  list.Clear();  // clearing an empty list is fine
  EXPECT_EQ(list.ListCount(), 0);
  // A catalog script longer than the old limit of 32,767 lines must still
  // merge whole.
  for (int32_t i = 0; i < 40000; ++i) list.AddItem(std::to_string(i));
  ASSERT_EQ(list.ListCount(), 40000);
  for (int32_t index : {32766, 32767, 39999}) EXPECT_EQ(list.List(index), std::to_string(index));
  EXPECT_EQ(Raised([&] { list.List(40000); }).Number(), err::kSubscriptOutOfRange);
}

class FileListBoxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("files/A.TXT", "a");
    dir_.Write("files/b.txt", "b");
    dir_.Write("files/c.package", "c");
    dir_.MakeFolder("files/folder.txt");  // a folder that matches is still left out
    // Hidden by name on POSIX; the attribute makes it hidden elsewhere.
    dir_.Write("files/.hidden.txt", "h");
    platform::SetAttributes(dir_.Join("files/.hidden.txt"), platform::kAttrHidden);
  }

  test::TempDir dir_;
};

TEST_F(FileListBoxTest, PatternPicksTheFilesWithoutRegardToCase) {
  FileListBox box;
  box.SetPath(dir_.Join("files"));
  struct Case {
    const char* pattern;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"*.txt", {"A.TXT", "b.txt"}},          {"*.TXT", {"A.TXT", "b.txt"}},
      {"*.package", {"c.package"}},           {"?.txt", {"A.TXT", "b.txt"}},
      {"*", {"A.TXT", "b.txt", "c.package"}}, {"*.zip", {}},
  };
  for (const Case& c : cases) {
    box.SetPattern(c.pattern);
    EXPECT_EQ(box.Pattern(), c.pattern);
    EXPECT_EQ(Names(box), c.expected) << c.pattern;
  }
  // Changing the pattern changes nothing in the folder.
  EXPECT_EQ(platform::ReadFolder(dir_.Join("files")).size(), 5u);
}

// A snapshot until path or pattern is set again; a missing folder raises and
// keeps the old settings; the folder may be spelled the Windows way.
TEST_F(FileListBoxTest, ListsASnapshotOfTheFolder) {
  FileListBox box;
  box.SetPattern("*.txt");
  box.SetPath(dir_.Path() + "\\FILES");
  const std::string files = box.Path();
  dir_.Write("files/new.txt", "n");
  EXPECT_EQ(box.ListCount(), 2);
  EXPECT_EQ(Raised([&] { box.SetPath(dir_.Join("nothere")); }).Number(), err::kPathNotFound);
  EXPECT_EQ(box.Path(), files);
  EXPECT_EQ(box.ListCount(), 2);
  box.SetPattern("*.txt");
  EXPECT_EQ(Names(box), (std::vector<std::string>{"A.TXT", "b.txt", "new.txt"}));
  EXPECT_EQ(Raised([&] { box.List(3); }).Number(), err::kSubscriptOutOfRange);
  EXPECT_EQ(Raised([&] { box.List(-1); }).Number(), err::kSubscriptOutOfRange);
}

}  // namespace
}  // namespace qv
