// The working lists of the form: the two string lists and the folder listing
// by pattern, on a real folder.
#include "app/WorkingLists.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/Error.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"

namespace qv {
namespace {

template <typename Action>
int32_t RaisedNumber(Action action) {
  try {
    action();
  } catch (const Error& e) {
    return e.Number();
  }
  ADD_FAILURE() << "no error raised";
  return 0;
}

std::vector<std::string> Names(const FileListBox& box) {
  std::vector<std::string> names;
  for (int32_t i = 0; i < box.ListCount(); ++i) names.push_back(box.List(i));
  return names;
}

TEST(StringList, KeepsTheOrderOfAdditionEmptyEntriesIncluded) {
  StringList list;
  list.AddItem("b");
  list.AddItem("");
  list.AddItem("a");
  ASSERT_EQ(list.ListCount(), 3);
  EXPECT_EQ(list.List(0), "b");
  EXPECT_EQ(list.List(1), "");
  EXPECT_EQ(list.List(2), "a");
  list.Clear();
  EXPECT_EQ(list.ListCount(), 0);
  list.Clear();  // clearing an empty list is fine
  EXPECT_EQ(list.ListCount(), 0);
}

TEST(StringList, IndexOutsideTheListRaisesSubscriptOutOfRange) {
  StringList list;
  EXPECT_EQ(RaisedNumber([&] { list.List(0); }), err::kSubscriptOutOfRange);
  list.AddItem("x");
  for (int32_t index : {-1, 1, 32767, -32768}) {
    EXPECT_EQ(RaisedNumber([&] { list.List(index); }), err::kSubscriptOutOfRange) << index;
  }
}

TEST(StringList, GrowsBeyondTheOldLimitOf32767Entries) {
  // A catalog script longer than 32,767 lines must still merge whole.
  StringList list;
  constexpr int32_t kCount = 40000;
  for (int32_t i = 0; i < kCount; ++i) list.AddItem(std::to_string(i));
  ASSERT_EQ(list.ListCount(), kCount);
  EXPECT_EQ(list.List(32766), "32766");
  EXPECT_EQ(list.List(32767), "32767");
  EXPECT_EQ(list.List(kCount - 1), std::to_string(kCount - 1));
  EXPECT_EQ(RaisedNumber([&] { list.List(kCount); }), err::kSubscriptOutOfRange);
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

TEST_F(FileListBoxTest, IsASnapshotUntilPathOrPatternIsSetAgain) {
  FileListBox box;
  box.SetPattern("*.txt");
  box.SetPath(dir_.Join("files"));
  EXPECT_EQ(box.Path(), dir_.Join("files"));
  dir_.Write("files/new.txt", "n");
  EXPECT_EQ(box.ListCount(), 2);
  box.SetPattern("*.txt");
  EXPECT_EQ(Names(box), (std::vector<std::string>{"A.TXT", "b.txt", "new.txt"}));
  EXPECT_EQ(RaisedNumber([&] { box.List(3); }), err::kSubscriptOutOfRange);
  EXPECT_EQ(RaisedNumber([&] { box.List(-1); }), err::kSubscriptOutOfRange);
}

TEST_F(FileListBoxTest, AMissingFolderRaisesAndKeepsTheOldSettings) {
  FileListBox box;
  box.SetPattern("*.txt");
  box.SetPath(dir_.Join("files"));
  EXPECT_EQ(RaisedNumber([&] { box.SetPath(dir_.Join("nothere")); }), err::kPathNotFound);
  EXPECT_EQ(box.Path(), dir_.Join("files"));
  EXPECT_EQ(box.ListCount(), 2);
}

TEST_F(FileListBoxTest, WindowsSpellingOfTheFolderIsFound) {
  FileListBox box;
  box.SetPattern("*.package");
  box.SetPath(dir_.Path() + "\\FILES");
  EXPECT_EQ(Names(box), std::vector<std::string>{"c.package"});
}

}  // namespace
}  // namespace qv
