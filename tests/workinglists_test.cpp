// The working lists of the form: the string list and the folder listing by
// pattern, on a real folder.
#include "app/WorkingLists.h"

#include <gtest/gtest.h>

#include "platform/FileSystem.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

using namespace qv;
using test::Raised;

TEST(StringList, KeepsTheOrderOfAdditionAndRaisesError9OutsideIt) {
  StringList list;
  // More than the 32,767 entries of old: a catalog script of any length
  // merges whole.
  for (int32_t i = 0; i < 40000; ++i) list.AddItem(i == 1 ? "" : std::to_string(i));
  EXPECT_EQ(std::string(list.List(0)) + "|" + std::string(list.List(1)) + "|" +
                std::string(list.List(39999)),
            "0||39999");
  for (int32_t index : {-1, 40000}) EXPECT_EQ(Raised([&] { list.List(index); }).Number(), 9);
  list.Clear();
  EXPECT_EQ(Raised([&] { list.List(0); }).Number(), 9);
}

// The matching files without hidden ones and folders, by name without regard
// to case, as a snapshot until path or pattern is set again; a missing folder
// raises error 76 and keeps the old settings.
TEST(FileListBox, ListsTheMatchingFilesOfTheFolderWhenSet) {
  test::TempDir dir;
  for (const char* file : {"files/b.txt", "files/A.TXT", "files/c.package", "files/.hidden.txt"})
    dir.Write(file, "x");
  dir.MakeFolder("files/folder.txt");
  // Hidden by name on POSIX; the attribute makes it hidden elsewhere.
  platform::SetAttributes(dir.Join("files/.hidden.txt"), platform::kAttrHidden);
  FileListBox box;
  box.SetPattern("*.zip");
  box.SetPath(dir.Path() + "\\FILES");
  auto names = [&box] {
    std::string listed = box.Pattern() + ":";
    for (int32_t i = 0; i < box.ListCount(); ++i) listed += " " + box.List(i);
    return listed;
  };
  for (const char* listed : {"*.zip:", "*.TXT: A.TXT b.txt", "?.txt: A.TXT b.txt",
                             "*.package: c.package", "*: A.TXT b.txt c.package"}) {
    box.SetPattern(std::string(listed).substr(0, std::string(listed).find(':')));
    EXPECT_EQ(names(), listed);
  }
  dir.Write("files/new.txt", "n");
  EXPECT_EQ(Raised([&] { box.SetPath(dir.Join("nothere")); }).Number(), 76);
  EXPECT_EQ(names(), "*: A.TXT b.txt c.package");
  box.SetPattern("*.txt");
  EXPECT_EQ(names(), "*.txt: A.TXT b.txt new.txt");
  for (int32_t index : {-1, 3}) EXPECT_EQ(Raised([&] { box.List(index); }).Number(), 9);
}
