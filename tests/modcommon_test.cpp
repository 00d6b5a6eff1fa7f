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
const char kFolderQuestion[] =
    "Are you sure you want to remove this folder and all of it's contents?";
const char kFileQuestion[] = "Are you sure you want to delete this file?";

class ModCommonTest : public ::testing::Test {
 protected:
  // Windows-style path below the temporary folder.
  std::string W(const std::string& relative) const { return dir_.Path() + "\\" + relative; }

  void MakeReadOnly(const std::string& relative) {
    platform::SetAttributes(dir_.Join(relative), platform::kAttrReadOnly);
  }

  // A small tree; in listing order the top level is a-f1, b-f2, c-S, d-f3.
  void MakeOrderTree() {
    dir_.Write("tree/a-f1", "1");
    dir_.Write("tree/b-f2", "2");
    dir_.Write("tree/c-S/g", "g");
    dir_.Write("tree/d-f3", "3");
  }

  test::TempDir dir_;
  test::ScopedDialogs dialogs_;
  platform::fault::ScopedFaults faults_;
  int32_t lErrNum_ = 12345;
  std::string sErrDesc_ = "left over";
};

TEST_F(ModCommonTest, EmptyPathsAreRejectedWithTheHelpersOwnMessages) {
  for (const char* path : {"", " ", "     "}) {
    EXPECT_FALSE(DeleteFolder(path, true, lErrNum_, sErrDesc_)) << '"' << path << '"';
    EXPECT_EQ(lErrNum_, -1);
    EXPECT_EQ(sErrDesc_, "No directory specified to delete");
    EXPECT_FALSE(DeleteFile(path, true, lErrNum_, sErrDesc_));
    EXPECT_EQ(lErrNum_, -1);
    EXPECT_EQ(sErrDesc_, "No file specified to delete");
    EXPECT_FALSE(FileExists(path));
  }
  EXPECT_FALSE(DeleteSubFolder("  ", lErrNum_, sErrDesc_));
  EXPECT_EQ(lErrNum_, -1);
  EXPECT_TRUE(dialogs_->Boxes().empty());
}

TEST_F(ModCommonTest, MissingPathsAreNoFailureAndAskNothing) {
  EXPECT_TRUE(DeleteFolder(W("nothere"), true, lErrNum_, sErrDesc_));
  EXPECT_EQ(lErrNum_, 0);
  EXPECT_EQ(sErrDesc_, "");
  lErrNum_ = 7;
  sErrDesc_ = "x";
  EXPECT_TRUE(DeleteFile(W("nothere.txt"), true, lErrNum_, sErrDesc_));
  EXPECT_EQ(lErrNum_, 0);
  EXPECT_EQ(sErrDesc_, "");
  EXPECT_TRUE(DeleteFile(W("nodir\\nothere.txt"), true, lErrNum_, sErrDesc_));
  EXPECT_TRUE(dialogs_->Boxes().empty());
}

TEST_F(ModCommonTest, FolderConfirmationShowsTheTrimmedPathWithItsSeparator) {
  dir_.Write("tree/a.txt", "a");
  for (const std::string& given : {"  " + W("tree") + "  ", W("tree") + "\\"}) {
    const std::string caller = given;
    dialogs_->Answer(platform::kIdNo);
    EXPECT_TRUE(DeleteFolder(caller, true, lErrNum_, sErrDesc_));
    EXPECT_EQ(lErrNum_, 0);
    EXPECT_EQ(sErrDesc_, "");
    EXPECT_EQ(caller, given);
    ASSERT_FALSE(dialogs_->Boxes().empty());
    const test::Box& box = dialogs_->Boxes().back();
    EXPECT_EQ(box.text, W("tree") + "\\" + "\r\r" + kFolderQuestion);
    EXPECT_EQ(box.flags, kConfirmFlags);
    EXPECT_EQ(box.caption, "  Confirm Folder Delete");
    EXPECT_EQ(dir_.Read("tree/a.txt"), "a");  // No deletes nothing
  }
  dialogs_->Answer(platform::kIdYes);
  EXPECT_TRUE(DeleteFolder(W("tree"), true, lErrNum_, sErrDesc_));
  EXPECT_FALSE(dir_.Exists("tree"));
  EXPECT_EQ(dialogs_->Boxes().size(), 3u);
  EXPECT_EQ(dialogs_->UnansweredCount(), 0u);
}

TEST_F(ModCommonTest, FileConfirmationShowsTheTrimmedPath) {
  dir_.Write("f.txt", "f");
  const std::string given = " " + W("f.txt") + "   ";
  dialogs_->Answer(platform::kIdNo);
  EXPECT_TRUE(DeleteFile(given, true, lErrNum_, sErrDesc_));
  EXPECT_EQ(lErrNum_, 0);
  ASSERT_EQ(dialogs_->Boxes().size(), 1u);
  EXPECT_EQ(dialogs_->Boxes()[0].text, W("f.txt") + "\r\r" + kFileQuestion);
  EXPECT_EQ(dialogs_->Boxes()[0].flags, kConfirmFlags);
  EXPECT_EQ(dialogs_->Boxes()[0].caption, "  Confirm File Delete");
  EXPECT_TRUE(dir_.Exists("f.txt"));
  dialogs_->Answer(platform::kIdYes);
  EXPECT_TRUE(DeleteFile(given, true, lErrNum_, sErrDesc_));
  EXPECT_FALSE(dir_.Exists("f.txt"));
}

TEST_F(ModCommonTest, WithoutConfirmationNoBoxIsEverShown) {
  MakeOrderTree();
  dir_.Write("single.txt", "s");
  EXPECT_TRUE(DeleteFolder(W("tree"), false, lErrNum_, sErrDesc_));
  EXPECT_TRUE(DeleteFile(W("single.txt"), false, lErrNum_, sErrDesc_));
  EXPECT_FALSE(dir_.Exists("tree"));
  EXPECT_FALSE(dir_.Exists("single.txt"));
  EXPECT_TRUE(dialogs_->Boxes().empty());
}

TEST_F(ModCommonTest, ReadOnlyAndHiddenEntriesAtAnyDepthAreDeleted) {
  dir_.Write("tree/ro.txt", "r");
  dir_.Write("tree/.hidden", "h");
  dir_.Write("tree/.hiddendir/deeper/ro2.txt", "r");
  dir_.Write("tree/.hiddendir/.h2", "h");
  MakeReadOnly("tree/ro.txt");
  MakeReadOnly("tree/.hiddendir/deeper/ro2.txt");
  MakeReadOnly("tree/.hiddendir/deeper");
  MakeReadOnly("tree");
  EXPECT_TRUE(DeleteFolder(W("tree"), false, lErrNum_, sErrDesc_)) << sErrDesc_;
  EXPECT_EQ(lErrNum_, 0);
  EXPECT_FALSE(dir_.Exists("tree"));

  dir_.Write("ro-file.txt", "r");
  MakeReadOnly("ro-file.txt");
  EXPECT_TRUE(DeleteFile(W("ro-file.txt"), false, lErrNum_, sErrDesc_));
  EXPECT_FALSE(dir_.Exists("ro-file.txt"));
}

TEST_F(ModCommonTest, EmptyAndDeepFoldersGoCompletelyWithOrWithoutSeparator) {
  dir_.MakeFolder("empty");
  EXPECT_TRUE(DeleteFolder(W("empty"), false, lErrNum_, sErrDesc_));
  EXPECT_FALSE(dir_.Exists("empty"));

  // Short names: the deepest path stays within the 260 characters that
  // Windows' ANSI calls accept.
  std::string deep = "deep";
  for (int level = 0; level < 25; ++level) {
    deep += "/d" + std::to_string(level);
    dir_.Write(deep + "/file.txt", "x");
    dir_.MakeFolder(deep + "/empty");
  }
  EXPECT_TRUE(DeleteFolder(W("deep\\"), false, lErrNum_, sErrDesc_)) << sErrDesc_;
  EXPECT_FALSE(dir_.Exists("deep"));

  // Many sub-folders: each one restarts the listing of its parent.
  for (int i = 0; i < 150; ++i) dir_.Write("wide/sub" + std::to_string(i) + "/f", "x");
  EXPECT_TRUE(DeleteFolder(W("WIDE"), false, lErrNum_, sErrDesc_)) << sErrDesc_;
  EXPECT_FALSE(dir_.Exists("wide"));
}

// Stopping the deletion at each step in turn shows the order: whatever came
// before the failing step is gone, it and everything after it stay.
TEST_F(ModCommonTest, EntriesAreDeletedInListingOrderSubFoldersAtOnce) {
  struct Step {
    const char* failingEntry;
    Operation operation;
    std::vector<const char*> gone;
    std::vector<const char*> kept;
  };
  const Step steps[] = {
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
  for (const Step& step : steps) {
    MakeOrderTree();
    platform::fault::FailNext(step.operation, step.failingEntry, err::kPermissionDenied);
    EXPECT_FALSE(DeleteFolder(W("tree"), false, lErrNum_, sErrDesc_)) << step.failingEntry;
    EXPECT_EQ(lErrNum_, err::kPermissionDenied) << step.failingEntry;
    for (const char* entry : step.gone) EXPECT_FALSE(dir_.Exists(entry)) << step.failingEntry;
    for (const char* entry : step.kept) EXPECT_TRUE(dir_.Exists(entry)) << step.failingEntry;
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
  EXPECT_EQ(lErrNum_, 0);
  EXPECT_EQ(sErrDesc_, "");
  EXPECT_FALSE(dir_.Exists("tree"));
}

TEST_F(ModCommonTest, EveryStepIsGuarded) {
  struct Case {
    const char* name;
    Operation operation;
    const char* suffix;
    int32_t number;
  };
  const Case cases[] = {
      {"listing the folder", Operation::kList, "tree", err::kDeviceIo},
      {"reading attributes", Operation::kGetAttributes, "tree/b-f2", err::kPathFileAccess},
      {"clearing attributes", Operation::kSetAttributes, "tree/a-f1", err::kPermissionDenied},
      {"clearing the folder's attributes", Operation::kSetAttributes, "tree",
       err::kPermissionDenied},
  };
  for (const Case& c : cases) {
    MakeOrderTree();
    platform::fault::FailNext(c.operation, c.suffix, c.number);
    EXPECT_FALSE(DeleteFolder(W("tree"), false, lErrNum_, sErrDesc_)) << c.name;
    EXPECT_EQ(lErrNum_, c.number) << c.name;
    EXPECT_FALSE(sErrDesc_.empty()) << c.name;
    EXPECT_TRUE(dir_.Exists("tree")) << c.name;
    platform::fault::ClearAll();
    fs::remove_all(dir_.Join("tree"));
  }
  dir_.Write("f.txt", "f");
  platform::fault::FailNext(Operation::kList, "f.txt", err::kDeviceIo);
  EXPECT_FALSE(DeleteFile(W("f.txt"), false, lErrNum_, sErrDesc_));
  EXPECT_EQ(lErrNum_, err::kDeviceIo);
  EXPECT_TRUE(dir_.Exists("f.txt"));
}

TEST_F(ModCommonTest, LinksInTheTreeAreRemovedAsLinks) {
  dir_.Write("outside/keep.txt", "keep");
  dir_.Write("outside-file.txt", "keep");
  platform::SetAttributes(dir_.Join("outside-file.txt"), platform::kAttrReadOnly);
  dir_.MakeFolder("tree/sub");
  try {
    fs::create_directory_symlink(dir_.Join("outside"), dir_.Join("tree/sub/to-folder"));
    fs::create_symlink(dir_.Join("outside-file.txt"), dir_.Join("tree/to-file"));
    fs::create_symlink(dir_.Join("nowhere"), dir_.Join("tree/dangling"));
  } catch (const fs::filesystem_error& e) {
    GTEST_SKIP() << "symbolic links not available: " << e.what();
  }
  EXPECT_TRUE(DeleteFolder(W("tree"), false, lErrNum_, sErrDesc_)) << sErrDesc_;
  EXPECT_FALSE(dir_.Exists("tree"));
  EXPECT_EQ(dir_.Read("outside/keep.txt"), "keep");
  EXPECT_EQ(platform::GetAttributes(dir_.Join("outside-file.txt")) & platform::kAttrReadOnly,
            platform::kAttrReadOnly);
}

TEST_F(ModCommonTest, AFolderThatIsALinkIsNeverEmptiedThrough) {
  dir_.Write("outside/keep.txt", "keep");
  try {
    fs::create_directory_symlink(dir_.Join("outside"), dir_.Join("link"));
  } catch (const fs::filesystem_error& e) {
    GTEST_SKIP() << "symbolic links not available: " << e.what();
  }
  for (const std::string& path : {W("link"), W("link\\")}) {
    EXPECT_TRUE(DeleteFolder(path, false, lErrNum_, sErrDesc_)) << sErrDesc_;
    EXPECT_EQ(lErrNum_, 0);
    EXPECT_EQ(dir_.Read("outside/keep.txt"), "keep");
  }
}

TEST_F(ModCommonTest, FileExistsSeesFilesOnly) {
  dir_.Write("box/.hidden", "h");
  dir_.Write("box/ro.txt", "r");
  MakeReadOnly("box/ro.txt");
  dir_.Write("box/Readme.TXT", "t");
  dir_.MakeFolder("box/sub");
  dir_.MakeFolder("empty/sub");
  struct Case {
    std::string path;
    bool exists;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) EXPECT_EQ(FileExists(c.path), c.exists) << c.path;
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
