// The deleting helpers and the existence test on a real folder tree, with a
// scripted dialog front end and injected faults for the failure paths (the
// tests run as root, where permission bits stop nothing).
#include "common/modCommon.h"

#include <gtest/gtest.h>

#include "common/Error.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"

using namespace qv;
using platform::fault::Operation;

class ModCommon : public ::testing::Test {
 protected:
  // A Windows-style path below the temporary folder.
  std::string W(const std::string& relative) const { return dir_.Path() + "\\" + relative; }
  // What a deletion gave and left behind, "result number description", from
  // a stale status.
  static std::string Status(bool folder, const std::string& path, bool confirm = false) {
    int32_t n = 12345;
    std::string d = "left over";
    const bool result =
        folder ? DeleteFolder(path, confirm, n, d) : DeleteFile(path, confirm, n, d);
    return std::to_string(result) + " " + std::to_string(n) + " " + d;
  }
  static std::string Folder(const std::string& path) { return Status(true, path); }

  test::TempDir dir_;
  test::ScopedDialogs dialogs_;
  platform::fault::ScopedFaults faults_;
};

TEST_F(ModCommon, EveryCallReportsByTheStatusConvention) {
  dir_.Write("a.txt", "a");
  dir_.Write("b.txt", "b");
  EXPECT_EQ(Status(true, "  ", true), "0 -1 No directory specified to delete");
  // Nothing there is nothing to do and nothing to ask.
  EXPECT_EQ(Status(false, W("nodir\\nothere.txt"), true), "1 0 ");
  EXPECT_FALSE(FileExists("  ") || FileExists(W("*.package")) || FileExists(dir_.Path()));
  // A pattern matches for the existence test, but one call deletes one file:
  // a failure with a number of its own.
  EXPECT_TRUE(FileExists(W("*.txt")));
  const std::string pattern = Status(false, W("*.txt"));
  EXPECT_TRUE(pattern.starts_with("0 ") && std::stoi(pattern.substr(2)) > 0) << pattern;
  EXPECT_TRUE(dir_.Exists("a.txt") && dir_.Exists("b.txt"));
  EXPECT_TRUE(dialogs_->Boxes().empty());
}

// A step that fails stops the deletion with the failure's own number (its
// message's where it has none); nothing is armed afterwards, and the same
// call deletes the read-only tree.
TEST_F(ModCommon, AFailedStepStopsTheDeletionWithItsNumber) {
  dir_.Write("tree/sub/f.txt", "x");
  platform::SetAttributes(dir_.Join("tree/sub/f.txt"), platform::kAttrReadOnly);
  const std::pair<int32_t, const char*> rows[] = {{err::kPermissionDenied, "0 70 "}, {0, "0 75 "}};
  for (const auto& [number, status] : rows) {
    platform::fault::FailNext(Operation::kList, "tree/sub", number);
    EXPECT_EQ(Folder(W("tree")).substr(0, 5), status);
    EXPECT_TRUE(dir_.Exists("tree/sub/f.txt"));
  }
  EXPECT_EQ(Folder(W("tree")), "1 0 ");
  EXPECT_FALSE(dir_.Exists("tree"));
}

// A link in the tree goes as a link: what it points at stays, whatever the
// deletion answers (Wine's file system refuses to remove a link to a folder).
TEST_F(ModCommon, LinksInTheTreeAreNeverFollowed) {
  dir_.Write("outside/keep.txt", "keep");
  dir_.Write("tree/sub/file.txt", "x");
  dir_.Link(dir_.Join("outside"), "tree/sub/to-folder");
  const std::string status = Folder(W("tree"));
  EXPECT_TRUE(test::UnderWine() ? status.starts_with("0 ") : status == "1 0 ") << status;
  EXPECT_EQ(dir_.Read("outside/keep.txt"), "keep");
}
