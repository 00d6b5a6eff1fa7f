// The deleting helpers and the existence test on a real folder tree, with a
// scripted dialog front end and injected faults for the failure paths (the
// tests run as root, where permission bits stop nothing).
#include "common/modCommon.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/Error.h"
#include "platform/Dialogs.h"
#include "platform/FaultInjection.h"
#include "platform/FileSystem.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"

namespace qv {
namespace {

namespace fs = std::filesystem;
using platform::fault::Operation;

constexpr int32_t kConfirmFlags = 52;

class ModCommonTest : public ::testing::Test {
 protected:
  // Windows-style path below the temporary folder.
  std::string W(const std::string& relative) const { return dir_.Path() + "\\" + relative; }

  void MakeReadOnly(const std::string& relative) {
    platform::SetAttributes(dir_.Join(relative), platform::kAttrReadOnly);
  }

  // A small tree; in listing order the top level is a-f1, b-f2, c-S, d-f3.
  void MakeOrderTree() {
    for (const char* file : {"tree/a-f1", "tree/b-f2", "tree/c-S/g", "tree/d-f3"}) {
      dir_.Write(file, "x");
    }
  }

  // The status a call left behind.
  void ExpectStatus(int32_t number, const std::string& description = "") {
    EXPECT_EQ(lErrNum_, number);
    EXPECT_EQ(sErrDesc_, description);
  }

  test::TempDir dir_;
  test::ScopedDialogs dialogs_;
  platform::fault::ScopedFaults faults_;
  int32_t lErrNum_ = 12345;
  std::string sErrDesc_ = "left over";
};

TEST_F(ModCommonTest, EmptyPathsAreRejectedWithTheHelpersOwnMessages) {
  for (const char* path : {"", " ", "     "}) {
    SCOPED_TRACE('"' + std::string(path) + '"');
    EXPECT_FALSE(DeleteFolder(path, true, lErrNum_, sErrDesc_));
    ExpectStatus(-1, "No directory specified to delete");
    EXPECT_FALSE(DeleteFile(path, true, lErrNum_, sErrDesc_));
    ExpectStatus(-1, "No file specified to delete");
    EXPECT_FALSE(FileExists(path));
  }
  EXPECT_FALSE(DeleteSubFolder("  ", lErrNum_, sErrDesc_));
  EXPECT_EQ(lErrNum_, -1);
  EXPECT_TRUE(dialogs_->Boxes().empty());
}

TEST_F(ModCommonTest, MissingPathsAreNoFailureAndAskNothing) {
  EXPECT_TRUE(DeleteFolder(W("nothere"), true, lErrNum_, sErrDesc_));
  ExpectStatus(0);
  for (const char* file : {"nothere.txt", "nodir\\nothere.txt"}) {
    lErrNum_ = 7;
    sErrDesc_ = "x";
    EXPECT_TRUE(DeleteFile(W(file), true, lErrNum_, sErrDesc_));
    ExpectStatus(0);
  }
  EXPECT_TRUE(dialogs_->Boxes().empty());
}

// The question shows the trimmed path (a folder's with its separator); No
// deletes nothing and is no failure, Yes deletes; the caller's text stays.
TEST_F(ModCommonTest, ConfirmationShowsTheTrimmedPath) {
  dir_.Write("tree/a.txt", "a");
  dir_.Write("f.txt", "f");
  const std::string folderText =
      W("tree") + "\\\r\r" +
      "Are you sure you want to remove this folder and all of it's contents?";
  const std::string fileText = W("f.txt") + "\r\rAre you sure you want to delete this file?";
  const struct {
    std::string given;
    int32_t answer;
    bool folder = true;
  } rows[] = {
      {"  " + W("tree") + "  ", platform::kIdNo},
      {W("tree") + "\\", platform::kIdNo},
      {W("tree"), platform::kIdYes},
      {" " + W("f.txt") + "   ", platform::kIdNo, false},
      {" " + W("f.txt") + "   ", platform::kIdYes, false},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.given);
    const std::string caller = row.given;
    dialogs_->Answer(row.answer);
    EXPECT_TRUE(row.folder ? DeleteFolder(caller, true, lErrNum_, sErrDesc_)
                           : DeleteFile(caller, true, lErrNum_, sErrDesc_));
    ExpectStatus(0);
    EXPECT_EQ(caller, row.given);
    ASSERT_FALSE(dialogs_->Boxes().empty());
    const test::Box& box = dialogs_->Boxes().back();
    EXPECT_EQ(box.text, row.folder ? folderText : fileText);
    EXPECT_EQ(box.flags, kConfirmFlags);
    EXPECT_EQ(box.caption, row.folder ? "  Confirm Folder Delete" : "  Confirm File Delete");
    EXPECT_EQ(dir_.Exists(row.folder ? "tree/a.txt" : "f.txt"), row.answer == platform::kIdNo);
  }
  EXPECT_EQ(dialogs_->Boxes().size(), 5u);
  EXPECT_EQ(dialogs_->UnansweredCount(), 0u);
}

// Read-only and hidden entries at any depth, an empty folder, a deep one and
// a wide one (each sub-folder restarts its parent's listing) all go
// completely; without confirmation no box is ever shown.
TEST_F(ModCommonTest, EveryKindOfTreeGoesCompletelyWithoutABox) {
  dir_.Write("hidden/ro.txt", "r");
  dir_.Write("hidden/.hidden", "h");
  dir_.Write("hidden/.hiddendir/deeper/ro2.txt", "r");
  dir_.Write("hidden/.hiddendir/.h2", "h");
  for (const char* entry : {"hidden/ro.txt", "hidden/.hiddendir/deeper/ro2.txt",
                            "hidden/.hiddendir/deeper", "hidden"}) {
    MakeReadOnly(entry);
  }
  dir_.MakeFolder("empty");
  // Short names: the deepest path stays within the 260 characters that
  // Windows' ANSI calls accept.
  std::string deep = "deep";
  for (int level = 0; level < 25; ++level) {
    deep += "/d" + std::to_string(level);
    dir_.Write(deep + "/file.txt", "x");
    dir_.MakeFolder(deep + "/empty");
  }
  for (int i = 0; i < 150; ++i) dir_.Write("wide/sub" + std::to_string(i) + "/f", "x");
  for (const char* folder : {"hidden", "empty", "deep\\", "WIDE"}) {
    EXPECT_TRUE(DeleteFolder(W(folder), false, lErrNum_, sErrDesc_)) << folder << sErrDesc_;
    ExpectStatus(0);
  }
  dir_.Write("ro-file.txt", "r");
  MakeReadOnly("ro-file.txt");
  EXPECT_TRUE(DeleteFile(W("ro-file.txt"), false, lErrNum_, sErrDesc_));
  for (const char* gone : {"hidden", "empty", "deep", "wide", "ro-file.txt"}) {
    EXPECT_FALSE(dir_.Exists(gone)) << gone;
  }
  EXPECT_TRUE(dialogs_->Boxes().empty());
}

// Stopping the deletion at each step in turn shows the order: whatever came
// before the failing step is gone, it and everything after it stay.
TEST_F(ModCommonTest, EntriesAreDeletedInListingOrderSubFoldersAtOnce) {
  const struct {
    const char* failingEntry;
    Operation operation;
    std::vector<const char*> gone;
    std::vector<const char*> kept;
  } steps[] = {
      {"tree/a-f1",
       Operation::kRemoveFile,
       {},
       {"tree/a-f1", "tree/b-f2", "tree/c-S/g", "tree/d-f3"}},
      {"tree/b-f2",
       Operation::kRemoveFile,
       {"tree/a-f1"},
       {"tree/b-f2", "tree/c-S/g", "tree/d-f3"}},
      {"tree/c-S/g",
       Operation::kRemoveFile,
       {"tree/a-f1", "tree/b-f2"},
       {"tree/c-S/g", "tree/d-f3"}},
      {"tree/c-S",
       Operation::kRemoveFolder,
       {"tree/b-f2", "tree/c-S/g"},
       {"tree/c-S", "tree/d-f3"}},
      {"tree/d-f3", Operation::kRemoveFile, {"tree/c-S"}, {"tree/d-f3"}},
      {"tree", Operation::kRemoveFolder, {"tree/d-f3"}, {"tree"}},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.failingEntry);
    MakeOrderTree();
    platform::fault::FailNext(step.operation, step.failingEntry, err::kPermissionDenied);
    EXPECT_FALSE(DeleteFolder(W("tree"), false, lErrNum_, sErrDesc_));
    EXPECT_EQ(lErrNum_, err::kPermissionDenied);
    for (const char* entry : step.gone) EXPECT_FALSE(dir_.Exists(entry)) << entry;
    for (const char* entry : step.kept) EXPECT_TRUE(dir_.Exists(entry)) << entry;
    platform::fault::ClearAll();
    fs::remove_all(dir_.Join("tree"));
  }
}

TEST_F(ModCommonTest, AFailureDeepInTheTreeReachesTheCallerAndTheNextCallIsClean) {
  MakeOrderTree();
  dir_.Write("tree/c-S/h-inner/x", "x");
  platform::fault::FailNext(Operation::kRemoveFile, "c-S/h-inner/x", err::kPermissionDenied);
  EXPECT_FALSE(DeleteFolder(W("tree"), false, lErrNum_, sErrDesc_));
  EXPECT_EQ(lErrNum_, err::kPermissionDenied);
  EXPECT_NE(sErrDesc_.find("h-inner"), std::string::npos) << sErrDesc_;
  EXPECT_FALSE(dir_.Exists("tree/a-f1"));
  EXPECT_FALSE(dir_.Exists("tree/c-S/g"));
  EXPECT_TRUE(dir_.Exists("tree/c-S/h-inner/x"));
  EXPECT_TRUE(dir_.Exists("tree/d-f3"));
  // Nothing armed any more: the same call finishes and reports success.
  EXPECT_TRUE(DeleteFolder(W("tree"), false, lErrNum_, sErrDesc_));
  ExpectStatus(0);
  EXPECT_FALSE(dir_.Exists("tree"));
}

TEST_F(ModCommonTest, EveryStepIsGuarded) {
  dir_.Write("f.txt", "f");
  const struct {
    const char* name;
    Operation operation;
    const char* suffix;
    int32_t number;
    bool file = false;
  } cases[] = {
      {"listing the folder", Operation::kList, "tree", err::kDeviceIo},
      {"reading attributes", Operation::kGetAttributes, "tree/b-f2", err::kPathFileAccess},
      {"clearing attributes", Operation::kSetAttributes, "tree/a-f1", err::kPermissionDenied},
      {"clearing the folder's", Operation::kSetAttributes, "tree", err::kPermissionDenied},
      {"listing the file", Operation::kList, "f.txt", err::kDeviceIo, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MakeOrderTree();
    platform::fault::FailNext(c.operation, c.suffix, c.number);
    EXPECT_FALSE(c.file ? DeleteFile(W("f.txt"), false, lErrNum_, sErrDesc_)
                        : DeleteFolder(W("tree"), false, lErrNum_, sErrDesc_));
    EXPECT_EQ(lErrNum_, c.number);
    EXPECT_FALSE(sErrDesc_.empty());
    EXPECT_TRUE(dir_.Exists(c.file ? "f.txt" : "tree"));
    platform::fault::ClearAll();
    fs::remove_all(dir_.Join("tree"));
  }
}

// A link in the tree goes as a link; a folder that is a link is never
// emptied through; nothing outside the tree changes. Wine shows a Windows
// program the links of its host only in part: a link to a folder as a
// reparse point, which no call can remove (the deletion fails instead, with
// the link in place); a link to a file as the file itself, and a dangling
// link not at all. Those two are no links to a Windows program there.
TEST_F(ModCommonTest, LinksAreRemovedAsLinksAndNeverFollowed) {
  enum class UnderWine { kSame, kFails, kNoLink };
  const struct {
    const char* name;
    const char* link;    // made in the tree (or as the folder itself)
    const char* target;  // below the test's folder
    const char* folder;  // what is deleted
    UnderWine wine;
  } cases[] = {
      {"link to a file", "tree/to-file", "outside-file.txt", "tree", UnderWine::kNoLink},
      {"link to a folder", "tree/sub/to-folder", "outside", "tree", UnderWine::kFails},
      {"dangling link", "tree/dangling", "nowhere", "tree", UnderWine::kNoLink},
      {"the folder is a link", "link", "outside", "link", UnderWine::kSame},
      {"the folder is a link, with its separator", "link", "outside", "link\\", UnderWine::kSame},
  };
  for (const auto& c : cases) {
    if (test::UnderWine() && c.wine == UnderWine::kNoLink) continue;
    SCOPED_TRACE(c.name);
    dir_.Write("outside/keep.txt", "keep");
    dir_.Write("outside-file.txt", "keep");
    MakeReadOnly("outside-file.txt");
    dir_.Write("tree/sub/file.txt", "x");
    dir_.Link(dir_.Join(c.target), c.link);
    const bool removed = DeleteFolder(W(c.folder), false, lErrNum_, sErrDesc_);
    if (test::UnderWine() && c.wine == UnderWine::kFails) {
      EXPECT_FALSE(removed);
      EXPECT_NE(lErrNum_, 0);
    } else {
      EXPECT_TRUE(removed) << sErrDesc_;
      ExpectStatus(0);
      // A folder that is a link is left as it is.
      EXPECT_TRUE(std::string(c.folder) != "tree" || !dir_.Exists("tree"));
    }
    EXPECT_EQ(dir_.Read("outside/keep.txt"), "keep");
    EXPECT_EQ(dir_.Read("outside-file.txt"), "keep");
    EXPECT_EQ(platform::GetAttributes(dir_.Join("outside-file.txt")) & platform::kAttrReadOnly,
              platform::kAttrReadOnly);
    platform::SetAttributes(dir_.Join("outside-file.txt"), platform::kAttrNormal);
    std::error_code ec;
    for (const char* made : {"tree", "link", "outside", "outside-file.txt"}) {
      fs::remove_all(dir_.Join(made), ec);
    }
  }
}

TEST_F(ModCommonTest, FileExistsSeesFilesOnly) {
  dir_.Write("box/.hidden", "h");
  dir_.Write("box/ro.txt", "r");
  MakeReadOnly("box/ro.txt");
  dir_.Write("box/Readme.TXT", "t");
  dir_.MakeFolder("box/sub");
  dir_.MakeFolder("empty/sub");
  const struct {
    std::string path;
    bool exists;
  } cases[] = {
      {W("box\\sub"), false},
      {W("box"), false},
      {W("box\\.hidden"), true},
      {W("box\\ro.txt"), true},
      {"  " + W("box\\readme.txt") + " ", true},
      {W("box\\*.txt"), true},
      {W("box\\*.package"), false},
      {W("box\\"), true},
      {W("empty\\"), false},
      {W("missing\\"), false},
      {W("missing.txt"), false},
  };
  for (const auto& c : cases) EXPECT_EQ(FileExists(c.path), c.exists) << c.path;
}

TEST_F(ModCommonTest, OddArgumentsDeleteNothingAndAreReportedHonestly) {
  dir_.Write("a.txt", "a");
  dir_.Write("b.txt", "b");
  // A file given as a folder: it lists as nothing, so nothing is deleted.
  EXPECT_TRUE(DeleteFolder(W("a.txt"), false, lErrNum_, sErrDesc_));
  EXPECT_TRUE(dir_.Exists("a.txt"));
  // A pattern matches for the existence test, but one call deletes one file.
  EXPECT_FALSE(DeleteFile(W("*.txt"), false, lErrNum_, sErrDesc_));
  EXPECT_NE(lErrNum_, 0);
  EXPECT_NE(lErrNum_, -1);
  EXPECT_FALSE(sErrDesc_.empty());
  EXPECT_TRUE(dir_.Exists("a.txt"));
  EXPECT_TRUE(dir_.Exists("b.txt"));
  // Tabs are no spaces: they stay part of the name.
  EXPECT_TRUE(DeleteFile("\t" + W("a.txt"), false, lErrNum_, sErrDesc_));
  EXPECT_TRUE(dir_.Exists("a.txt"));
}

}  // namespace
}  // namespace qv
