// The deleting helpers and the existence test on a real folder tree, with a
// scripted dialog front end and injected faults for the failure paths (the
// tests run as root, where permission bits stop nothing).
#include "common/modCommon.h"

#include <gtest/gtest.h>

#include <tuple>

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
  // What a call gave and left behind, "result number description", from a
  // stale status.
  template <typename Call>
  static std::string Status(Call call) {
    int32_t number = 12345;
    std::string description = "left over";
    const bool result = call(number, description);
    return std::to_string(result) + " " + std::to_string(number) + " " + description;
  }
  static std::string Folder(const std::string& path, bool confirm = false) {
    return Status([&](int32_t& n, std::string& d) { return DeleteFolder(path, confirm, n, d); });
  }
  static std::string File(const std::string& path, bool confirm = false) {
    return Status([&](int32_t& n, std::string& d) { return DeleteFile(path, confirm, n, d); });
  }

  test::TempDir dir_;
  test::ScopedDialogs dialogs_;
  platform::fault::ScopedFaults faults_;
};

TEST_F(ModCommon, EveryCallReportsByTheStatusConvention) {
  dir_.Write("a.txt", "a");
  dir_.Write("b.txt", "b");
  const std::pair<std::string, const char*> rows[] = {
      {Folder("  ", true), "0 -1 No directory specified to delete"},
      {File("", true), "0 -1 No file specified to delete"},
      {Status([](int32_t& n, std::string& d) { return DeleteSubFolder(" ", n, d); }),
       "0 -1 No directory specified to delete"},
      // Nothing there is nothing to do and nothing to ask.
      {File(W("nodir\\nothere.txt"), true), "1 0 "},
      // A file given as a folder lists as nothing; a tab is no space.
      {Folder(W("a.txt")), "1 0 "},
      {File("\t" + W("a.txt")), "1 0 "}};
  for (const auto& [status, expected] : rows) EXPECT_EQ(status, expected);
  EXPECT_FALSE(FileExists("  "));
  // A pattern matches for the existence test, but one call deletes one file:
  // a failure with a number of its own.
  const std::string pattern = File(W("*.txt"));
  EXPECT_TRUE(pattern.starts_with("0 ") && std::stoi(pattern.substr(2)) > 0) << pattern;
  EXPECT_TRUE(dir_.Exists("a.txt") && dir_.Exists("b.txt"));
  EXPECT_TRUE(dialogs_->Boxes().empty());
}

// The question shows the trimmed path (a folder's with its separator); No
// deletes nothing and is no failure, Yes deletes.
TEST_F(ModCommon, ConfirmationShowsTheTrimmedPath) {
  const std::string folder = W("tree") +
                             "\\\r\rAre you sure you want to remove this folder and all of "
                             "it's contents?";
  const std::string file = W("f.txt") + "\r\rAre you sure you want to delete this file?";
  // A folder or a file, the path given, the answer, the box shown.
  const std::tuple<bool, std::string, int32_t, std::string> rows[] = {
      {true, "  " + W("tree") + "  ", platform::kIdNo, folder + "  Confirm Folder Delete"},
      {true, W("tree") + "\\", platform::kIdYes, folder + "  Confirm Folder Delete"},
      {false, " " + W("f.txt") + "   ", platform::kIdYes, file + "  Confirm File Delete"}};
  for (const auto& [isFolder, given, answer, shown] : rows) {
    dir_.Write("tree/a.txt", "a");
    dir_.Write("f.txt", "f");
    dialogs_->Answer(answer);
    EXPECT_EQ(isFolder ? Folder(given, true) : File(given, true), "1 0 ");
    const test::Box& box = dialogs_->Boxes().back();
    EXPECT_EQ(box.text + box.caption + std::to_string(box.flags), shown + "52");
    EXPECT_EQ(dir_.Exists("tree") && dir_.Exists("f.txt"), answer == platform::kIdNo);
  }
  EXPECT_EQ(dialogs_->Boxes().size() * 10 + dialogs_->UnansweredCount(), 30u);
}

// Read-only and hidden entries at any depth, an empty folder, a deep and a
// wide one (each sub-folder restarts its parent's listing) all go.
TEST_F(ModCommon, EveryKindOfTreeGoesCompletely) {
  for (const char* file : {"h/ro.txt", "h/.hidden", "h/.hd/deeper/ro2.txt", "h/.hd/.h2", "ro.txt"})
    dir_.Write(file, "x");
  for (const char* entry : {"h/ro.txt", "h/.hd/deeper/ro2.txt", "h/.hd/deeper", "h", "ro.txt"})
    platform::SetAttributes(dir_.Join(entry), platform::kAttrReadOnly);
  dir_.MakeFolder("empty");
  // Short names: the deepest path stays within what Windows' ANSI calls take.
  std::string deep = "deep";
  for (int level = 0; level < 25; ++level) dir_.Write((deep += "/d") + "/f", "x");
  for (int i = 0; i < 150; ++i) dir_.Write("wide/sub" + std::to_string(i) + "/f", "x");
  for (const char* folder : {"h", "empty", "deep\\", "WIDE"}) EXPECT_EQ(Folder(W(folder)), "1 0 ");
  EXPECT_EQ(File(W("ro.txt")), "1 0 ");
  for (const char* gone : {"h", "empty", "deep", "wide", "ro.txt"}) EXPECT_FALSE(dir_.Exists(gone));
}

// Stopping the deletion at each step in turn shows the order: whatever came
// before the failing step is gone, it and everything after it stay. In
// listing order the top level is a-f1, b-f2, c-S, d-f3.
TEST_F(ModCommon, EntriesGoInListingOrderSubFoldersAtOnce) {
  // The entry whose step fails, the step, entries gone, entries kept.
  using Entries = std::vector<const char*>;
  const std::tuple<const char*, Operation, Entries, Entries> rows[] = {
      {"tree/b-f2", Operation::kRemoveFile, {"tree/a-f1"}, {"tree/b-f2", "tree/c-S/g"}},
      {"tree/c-S/g", Operation::kRemoveFile, {"tree/b-f2"}, {"tree/c-S/g", "tree/d-f3"}},
      {"tree/c-S", Operation::kRemoveFolder, {"tree/c-S/g"}, {"tree/c-S", "tree/d-f3"}},
      {"tree/d-f3", Operation::kRemoveFile, {"tree/c-S"}, {"tree/d-f3"}},
      {"tree", Operation::kRemoveFolder, {"tree/d-f3"}, {"tree"}},
      // Every step is guarded; a failure deep down reaches the caller.
      {"tree", Operation::kList, {}, {"tree/a-f1"}},
      {"tree/b-f2", Operation::kGetAttributes, {"tree/a-f1"}, {"tree/b-f2"}},
      {"tree/a-f1", Operation::kSetAttributes, {}, {"tree/a-f1"}}};
  for (const auto& [failing, operation, gone, kept] : rows) {
    for (const char* file : {"tree/a-f1", "tree/b-f2", "tree/c-S/g", "tree/c-S/h/x", "tree/d-f3"})
      dir_.Write(file, "x");
    platform::fault::FailNext(operation, failing, err::kPermissionDenied);
    const std::string status = Folder(W("tree"));
    EXPECT_TRUE(status.starts_with("0 70 ") && status.size() > 5) << failing << ": " << status;
    for (const char* entry : gone) EXPECT_FALSE(dir_.Exists(entry)) << failing << entry;
    for (const char* entry : kept) EXPECT_TRUE(dir_.Exists(entry)) << failing << entry;
    // Nothing armed any more: the same call finishes.
    EXPECT_EQ(Folder(W("tree")), "1 0 ");
  }
  // A failure's own number, where it is not one that means success or the
  // helpers' own message.
  dir_.Write("f.txt", "f");
  for (const auto& [number, status] : {std::pair(err::kDeviceIo, "0 57 "), {0, "0 75 "}}) {
    platform::fault::FailNext(Operation::kList, "f.txt", number);
    EXPECT_EQ(File(W("f.txt")).substr(0, 5), status);
  }
  EXPECT_TRUE(dir_.Exists("f.txt"));
}

// A link in the tree goes as a link; a folder that is a link is never
// emptied through; nothing outside the tree changes. Wine shows a Windows
// program the links of its host only in part: a link to a folder as a
// reparse point, which no call can remove (the deletion fails instead, with
// the link in place); a link to a file as the file itself, and a dangling
// link not at all. Those two are no links to a Windows program there.
TEST_F(ModCommon, LinksAreRemovedAsLinksAndNeverFollowed) {
  enum UnderWine { kSame, kFails, kNoLink };
  // The link made in the tree (or as the folder itself), its target, the
  // folder deleted, each below a folder of the row's own.
  const std::tuple<const char*, const char*, const char*, UnderWine> rows[] = {
      {"1/tree/to-file", "1/outside-file.txt", "1\\tree", kNoLink},
      {"2/tree/sub/to-folder", "2/outside", "2\\tree", kFails},
      {"3/link", "3/outside", "3\\link\\", kSame}};
  for (const auto& [link, target, folder, wine] : rows) {
    if (test::UnderWine() && wine == kNoLink) continue;
    SCOPED_TRACE(link);
    const std::string row(link, 2);
    dir_.Write(row + "outside/keep.txt", "keep");
    dir_.Write(row + "outside-file.txt", "keep");
    platform::SetAttributes(dir_.Join(row + "outside-file.txt"), platform::kAttrReadOnly);
    dir_.Write(row + "tree/sub/file.txt", "x");
    dir_.Link(dir_.Join(target), link);
    const std::string status = Folder(W(folder));
    if (test::UnderWine() && wine == kFails) {
      EXPECT_TRUE(status.starts_with("0 ") && !status.starts_with("0 0 ")) << status;
    } else {
      EXPECT_EQ(status, "1 0 ");
      // A folder that is a link is left as it is.
      EXPECT_EQ(dir_.Exists(row + "tree"), wine == kSame);
    }
    EXPECT_EQ(dir_.Read(row + "outside/keep.txt") + dir_.Read(row + "outside-file.txt"),
              "keepkeep");
    EXPECT_EQ(
        platform::GetAttributes(dir_.Join(row + "outside-file.txt")) & platform::kAttrReadOnly,
        platform::kAttrReadOnly);
  }
}

TEST_F(ModCommon, FileExistsSeesFilesOnly) {
  for (const char* file : {"box/.hidden", "box/ro.txt", "box/Readme.TXT"}) dir_.Write(file, "x");
  platform::SetAttributes(dir_.Join("box/ro.txt"), platform::kAttrReadOnly);
  dir_.MakeFolder("box/sub");
  dir_.MakeFolder("empty/sub");
  // clang-format off
  const std::pair<std::string, bool> rows[] = {
      {W("box\\sub"), false}, {W("box\\.hidden"), true}, {W("box\\ro.txt"), true},
      {" " + W("box\\readme.txt") + " ", true}, {W("box\\*.package"), false}, {W("box\\"), true},
      {W("empty\\"), false}};
  // clang-format on
  for (const auto& [path, exists] : rows) EXPECT_EQ(FileExists(path), exists) << path;
}
