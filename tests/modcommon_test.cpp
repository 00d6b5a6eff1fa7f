// The deleting helpers and the existence test on a real folder tree, with a
// scripted dialog front end and injected faults for the failure paths (the
// tests run as root, where permission bits stop nothing).
#include "common/modCommon.h"

#include <gtest/gtest.h>

#include <ostream>

#include "common/Error.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"

using namespace qv;
using platform::fault::Operation;

// What a deletion gave: its result and the status it left.
struct Status {
  bool result = false;
  int32_t number = 0;
  std::string description{};
  bool operator==(const Status&) const = default;
  friend std::ostream& operator<<(std::ostream& out, const Status& s) {
    return out << std::boolalpha << s.result << ", number " << s.number << ", " << s.description;
  }
};

class ModCommon : public ::testing::Test {
 protected:
  // A Windows-style path below the temporary folder.
  std::string W(const std::string& relative) const { return dir_.Path() + "\\" + relative; }
  // Deletes a folder or a file, from a stale status.
  static Status Delete(bool folder, const std::string& path, bool confirm = false) {
    Status status{.number = 12345, .description = "left over"};
    status.result = folder ? DeleteFolder(path, confirm, status.number, status.description)
                           : DeleteFile(path, confirm, status.number, status.description);
    return status;
  }

  test::TempDir dir_;
  test::ScopedDialogs dialogs_;
  platform::fault::ScopedFaults faults_;
};

const Status kDone = {.result = true};

TEST_F(ModCommon, EveryCallReportsByTheStatusConvention) {
  dir_.Write("a.txt", "a");
  dir_.Write("b.txt", "b");
  EXPECT_EQ(Delete(true, "  ", true),
            (Status{.number = -1, .description = "No directory specified to delete"}));
  // Nothing there is nothing to do and nothing to ask.
  EXPECT_EQ(Delete(false, W("nodir\\nothere.txt"), true), kDone);
  EXPECT_FALSE(FileExists("  ") || FileExists(W("*.package")) || FileExists(dir_.Path()));
  // A pattern matches for the existence test, but one call deletes one file:
  // a failure with a number of its own.
  EXPECT_TRUE(FileExists(W("*.txt")));
  const Status pattern = Delete(false, W("*.txt"));
  EXPECT_TRUE(!pattern.result && pattern.number > 0) << pattern;
  EXPECT_TRUE(dir_.Exists("a.txt") && dir_.Exists("b.txt"));
  EXPECT_TRUE(dialogs_->Boxes().empty());
}

// A step that fails stops the deletion with the failure's own number (its
// message's where it has none); nothing is armed afterwards, and the same
// call deletes the read-only tree.
TEST_F(ModCommon, AFailedStepStopsTheDeletionWithItsNumber) {
  dir_.Write("tree/sub/f.txt", "x");
  platform::SetAttributes(dir_.Join("tree/sub/f.txt"), platform::kAttrReadOnly);
  // The number a failing listing gives, and the one the deletion reports.
  struct Row {
    std::string name{};
    int32_t injected = 0, reported = 0;
  };
  const Row rows[] = {
      {.name = "ListingRefused", .injected = err::kPermissionDenied, .reported = 70},
      {.name = "ListingFailedWithoutANumber", .injected = 0, .reported = err::kPathFileAccess},
  };
  for (const Row& row : rows) {
    platform::fault::FailNext(Operation::kList, "tree/sub", row.injected);
    const Status status = Delete(true, W("tree"));
    EXPECT_TRUE(!status.result && status.number == row.reported) << row.name << ": " << status;
    EXPECT_TRUE(dir_.Exists("tree/sub/f.txt")) << row.name;
  }
  EXPECT_EQ(Delete(true, W("tree")), kDone);
  EXPECT_FALSE(dir_.Exists("tree"));
}

// A link in the tree goes as a link: what it points at stays, whatever the
// deletion answers (Wine's file system refuses to remove a link to a folder).
TEST_F(ModCommon, LinksInTheTreeAreNeverFollowed) {
  dir_.Write("outside/keep.txt", "keep");
  dir_.Write("tree/sub/file.txt", "x");
  dir_.Link(dir_.Join("outside"), "tree/sub/to-folder");
  const Status status = Delete(true, W("tree"));
  EXPECT_TRUE(test::UnderWine() ? !status.result : status == kDone) << status;
  EXPECT_EQ(dir_.Read("outside/keep.txt"), "keep");
}
