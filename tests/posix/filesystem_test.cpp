// The POSIX file-system layer on a real file system, in a fresh temporary
// folder per test.
#include "platform/FileSystem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "common/Error.h"
#include "platform/FaultInjection.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

namespace qv::platform {
namespace {

namespace fs = std::filesystem;
using test::Raised;

std::vector<std::string> ListAll(const std::string& path, uint32_t mask) {
  std::vector<std::string> names;
  for (std::string name = ListFirst(path, mask); !name.empty(); name = ListNext()) {
    names.push_back(name);
  }
  return names;
}

void MakeReadOnly(const std::string& path) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

// A folder with one entry of every kind the masks tell apart.
class ListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.Write("box/b.txt", "b");
    dir_.Write("box/A.TXT", "a");
    dir_.Write("box/c.package", "c");
    dir_.Write("box/noext", "n");
    dir_.Write("box/ro.txt", "r");
    MakeReadOnly(dir_.Join("box/ro.txt"));
    dir_.Write("box/.hidden.txt", "h");
    dir_.MakeFolder("box/Sub");
    dir_.MakeFolder("box/.hiddendir");
    box_ = dir_.Join("box") + "\\";
  }

  test::TempDir dir_;
  std::string box_;
};

TEST_F(ListingTest, MasksAndPatternsPickTheEntries) {
  const std::vector<std::string> plainFiles = {"A.TXT", "b.txt", "c.package", "noext", "ro.txt"};
  const struct {
    const char* name;
    std::string pattern;  // after the folder
    uint32_t mask;
    std::vector<std::string> expected;
  } cases[] = {
      {"55: every entry with . and ..",
       "",
       55,
       {".", "..", ".hidden.txt", ".hiddendir", "A.TXT", "b.txt", "c.package", "noext", "ro.txt",
        "Sub"}},
      {"39: files of every kind, no folders",
       "",
       39,
       {".hidden.txt", "A.TXT", "b.txt", "c.package", "noext", "ro.txt"}},
      {"0: plain, read-only and archive files only", "", 0, plainFiles},
      {"16: folders but not hidden ones",
       "",
       16,
       {".", "..", "A.TXT", "b.txt", "c.package", "noext", "ro.txt", "Sub"}},
      {"pattern in other case", "*.TXT", 0, {"A.TXT", "b.txt", "ro.txt"}},
      {"one character", "?.txt", 0, {"A.TXT", "b.txt"}},
      {"*.* also matches names without a dot", "*.*", 0, plainFiles},
      {"no match", "*.zip", 0, {}},
      {"a named entry with its spelling on disk", "a.txt", 39, {"A.TXT"}},
      {"a hidden file without the hidden bit", ".hidden.txt", 0, {}},
      {"a hidden file with it", ".hidden.txt", 2, {".hidden.txt"}},
      {"a folder without the folder bit", "Sub", 39, {}},
      {"a folder with it", "sub", 16, {"Sub"}},
      {"a missing name", "missing.txt", 55, {}},
  };
  for (const auto& c : cases) EXPECT_EQ(ListAll(box_ + c.pattern, c.mask), c.expected) << c.name;
}

TEST_F(ListingTest, MissingFoldersGiveNothingAtOnce) {
  EXPECT_EQ(ListFirst(dir_.Join("nothere") + "\\", 55), "");
  EXPECT_EQ(ListFirst(dir_.Join("nothere\\deeper\\*.txt"), 55), "");
  EXPECT_EQ(ListFirst(box_ + "b.txt\\", 55), "");  // a file is no folder
  EXPECT_EQ(ListFirst("", 55), "");
  EXPECT_EQ(ListNext(), "");
}

TEST_F(ListingTest, OneListingPositionForTheWholeProcess) {
  EXPECT_EQ(ListFirst(box_ + "*.txt", 0), "A.TXT");
  EXPECT_EQ(ListNext(), "b.txt");
  // A second listing abandons the first, whoever started it.
  EXPECT_EQ(ListFirst(box_ + "*.package", 0), "c.package");
  EXPECT_EQ(ListNext(), "");
  EXPECT_EQ(ListNext(), "");
}

TEST_F(ListingTest, ReadFolderLeavesOutTheDotsAndFailsOnMissingFolders) {
  std::set<std::string> names;
  for (const FolderEntry& e : ReadFolder(box_))
    names.insert(e.name + ":" + std::to_string(e.attributes));
  EXPECT_EQ(names, (std::set<std::string>{".hidden.txt:34", ".hiddendir:18", "A.TXT:32", "b.txt:32",
                                          "c.package:32", "noext:32", "ro.txt:33", "Sub:16"}));
  EXPECT_EQ(Raised([&] { ReadFolder(dir_.Join("nothere")); }).Number(), err::kPathNotFound);
}

class FileSystemTest : public ::testing::Test {
 protected:
  test::TempDir dir_;
  fault::ScopedFaults faults_;
};

TEST_F(FileSystemTest, TempPathHasWindowsLengthRules) {
  char buffer[64];
  std::memset(buffer, 'x', sizeof buffer);
  test::ScopedEnv env("TMPDIR", "/var/scratch");
  // Too small, even by the NUL alone: the size needed, buffer untouched.
  EXPECT_EQ(GetTempPathA(13, buffer), 14u);
  EXPECT_EQ(buffer[0], 'x');
  EXPECT_EQ(GetTempPathA(0, nullptr), 14u);
  EXPECT_EQ(GetTempPathA(14, buffer), 13u);
  EXPECT_STREQ(buffer, "/var/scratch/");
  setenv("TMPDIR", "/already/", 1);
  EXPECT_EQ(GetTempPathA(sizeof buffer, buffer), 9u);
  EXPECT_STREQ(buffer, "/already/");
}

TEST_F(FileSystemTest, TempPathWithoutTmpdirIsTheUsersOwn) {
  test::ScopedEnv env("TMPDIR", std::nullopt);
  const std::string expected = "/tmp/quorvane-" + std::to_string(::geteuid()) + "/";
  char buffer[64];
  ASSERT_EQ(GetTempPathA(sizeof buffer, buffer), expected.size());
  EXPECT_EQ(std::string(buffer), expected);
  struct stat st {};
  ASSERT_EQ(::lstat(expected.c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  // A folder that others can write is no private folder: no answer.
  ASSERT_EQ(::chmod(expected.c_str(), 0777), 0);
  EXPECT_EQ(GetTempPathA(sizeof buffer, buffer), 0u);
  ASSERT_EQ(::chmod(expected.c_str(), 0700), 0);
  EXPECT_EQ(GetTempPathA(sizeof buffer, buffer), expected.size());
}

TEST_F(FileSystemTest, AttributesFollowTypeModeAndName) {
  dir_.Write("plain.txt", "x");
  dir_.Write("ro.txt", "x");
  MakeReadOnly(dir_.Join("ro.txt"));
  dir_.Write(".dot", "x");
  dir_.MakeFolder("Folder");
  dir_.MakeFolder(".dotdir");
  fs::create_directory_symlink(dir_.Join("Folder"), dir_.Join("linkdir"));
  struct Case {
    const char* name;
    uint32_t expected;
  };
  const Case cases[] = {
      {"plain.txt", kAttrArchive},          {"ro.txt", kAttrArchive | kAttrReadOnly},
      {".dot", kAttrArchive | kAttrHidden}, {"Folder", kAttrDirectory},
      {"Folder\\", kAttrDirectory},         {".dotdir", kAttrDirectory | kAttrHidden},
      {"linkdir", kAttrReparsePoint},  // a link is an entry, not the folder it points at
      {"PLAIN.TXT", kAttrArchive},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(GetAttributes(dir_.Join("") + "\\" + c.name), c.expected) << c.name;
  }
  EXPECT_EQ(Raised([&] { GetAttributes(dir_.Join("missing.txt")); }).Number(), err::kFileNotFound);
  EXPECT_EQ(Raised([&] { GetAttributes(dir_.Join("nodir/missing.txt")); }).Number(),
            err::kPathNotFound);
}

TEST_F(FileSystemTest, SetAttributesTogglesOwnerWriteAndLeavesLinkTargetsAlone) {
  dir_.Write("f.txt", "x");
  SetAttributes(dir_.Join("f.txt"), kAttrReadOnly);
  EXPECT_EQ(GetAttributes(dir_.Join("f.txt")), kAttrArchive | kAttrReadOnly);
  SetAttributes(dir_.Join("f.txt"), kAttrNormal);
  EXPECT_EQ(GetAttributes(dir_.Join("f.txt")), kAttrArchive);

  dir_.Write("target.txt", "x");
  MakeReadOnly(dir_.Join("target.txt"));
  fs::create_symlink(dir_.Join("target.txt"), dir_.Join("link"));
  SetAttributes(dir_.Join("link"), kAttrNormal);
  EXPECT_EQ(GetAttributes(dir_.Join("target.txt")), kAttrArchive | kAttrReadOnly);
  EXPECT_EQ(Raised([&] { SetAttributes(dir_.Join("gone"), 0); }).Number(), err::kFileNotFound);
}

TEST_F(FileSystemTest, RemoveFailuresCarryNumberAndPath) {
  dir_.Write("full/a.txt", "x");
  struct Case {
    const char* name;
    Error error;
    int32_t expected;
  };
  const Case cases[] = {
      {"missing file", Raised([&] { RemoveFile(dir_.Join("nope.txt")); }), err::kFileNotFound},
      {"missing folder of file", Raised([&] { RemoveFile(dir_.Join("no/nope.txt")); }),
       err::kPathNotFound},
      {"folder as file", Raised([&] { RemoveFile(dir_.Join("full")); }), err::kPathFileAccess},
      {"folder not empty", Raised([&] { RemoveFolder(dir_.Join("full")); }), err::kPathFileAccess},
      {"missing folder", Raised([&] { RemoveFolder(dir_.Join("nodir")); }), err::kPathNotFound},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.error.Number(), c.expected) << c.name << ": " << c.error.Description();
    EXPECT_NE(c.error.Description().find(dir_.Path()), std::string::npos) << c.name;
  }
  RemoveFile(dir_.Join("full\\A.TXT"));  // through the case mapping
  RemoveFolder(dir_.Join("FULL\\"));
  EXPECT_FALSE(dir_.Exists("full"));
}

// A copy replaces the target whole; a failed one leaves the old target and
// no temporary file.
TEST_F(FileSystemTest, CopyReplacesTheTargetWholeOrNotAtAll) {
  std::string big(700 * 1024 + 13, '\0');
  for (size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>((i * 7919) % 251);
  dir_.Write("src.bin", big);
  dir_.Write("dst/out.bin", "old content");
  const std::string dst = dir_.Join("dst");
  const struct {
    const char* name;
    fault::Operation operation;
    const char* suffix;
    int32_t number;
  } cases[] = {
      {"disk full while writing", fault::Operation::kWrite, "dst/.qv-*.tmp", err::kDiskFull},
      {"rename refused", fault::Operation::kReplace, "dst/out.bin", err::kPermissionDenied},
      {"no temporary file", fault::Operation::kCreateWrite, "dst", err::kDiskFull},
  };
  for (const auto& c : cases) {
    fault::FailNext(c.operation, c.suffix, c.number);
    EXPECT_EQ(Raised([&] { CopyFileReplacing(dir_.Join("src.bin"), dst + "\\out.bin"); }).Number(),
              c.number)
        << c.name;
    EXPECT_EQ(dir_.Read("dst/out.bin"), "old content") << c.name;
    EXPECT_EQ(ReadFolder(dst).size(), 1u) << c.name;
  }
  EXPECT_EQ(Raised([&] { CopyFileReplacing(dir_.Join("nosuch.bin"), dst + "/out.bin"); }).Number(),
            err::kFileNotFound);
  EXPECT_EQ(dir_.Read("dst/out.bin"), "old content");
  CopyFileReplacing(dir_.Join("src.bin"), dst + "\\out.bin");
  EXPECT_EQ(dir_.Read("dst/out.bin"), big);
  CopyFileReplacing(dir_.Join("src.bin"), dst + "\\new.bin");
  EXPECT_EQ(dir_.Read("dst/new.bin"), big);
  EXPECT_EQ(ReadFolder(dst).size(), 2u);  // no temporary left
}

TEST_F(FileSystemTest, FilesWriteReadAndReplace) {
  {
    File out = File::CreateWrite(dir_.Join("a.txt"));
    out.Write("hello\r\n", 7);
    out.Flush();
    out.Close();
    out.Close();  // a second close does nothing
    EXPECT_EQ(Raised([&] { out.Write("x", 1); }).Number(), err::kBadFileName);
  }
  EXPECT_EQ(dir_.Read("a.txt"), "hello\r\n");
  {
    File in = File::OpenRead(dir_.Join("A.txt"));
    char buffer[16];
    EXPECT_EQ(in.Read(buffer, sizeof buffer), 7u);
    EXPECT_EQ(in.Read(buffer, sizeof buffer), 0u);
    File moved = std::move(in);
    EXPECT_EQ(Raised([&] { in.Read(buffer, 1); }).Number(), err::kBadFileName);
  }
  File::CreateWrite(dir_.Join("a.txt")).Close();
  EXPECT_EQ(dir_.Read("a.txt"), "");  // truncated

  std::string temporary;
  {
    File out = File::CreateTemporaryIn(dir_.Path(), temporary);
    out.Write("new", 3);
    out.Close();
  }
  EXPECT_EQ(fs::path(temporary).parent_path(), fs::path(dir_.Path()));
  EXPECT_EQ(GetAttributes(temporary) & kAttrHidden, kAttrHidden);  // kept out of listings
  ReplaceFileAtomically(temporary, dir_.Join("a.txt"));
  EXPECT_EQ(dir_.Read("a.txt"), "new");
  EXPECT_FALSE(fs::exists(temporary));

  EXPECT_EQ(Raised([&] { File::OpenRead(dir_.Join("missing.txt")); }).Number(), err::kFileNotFound);
  EXPECT_EQ(Raised([&] { File::OpenRead(dir_.Path()); }).Number(), err::kPathFileAccess);
  EXPECT_EQ(Raised([&] { File::CreateWrite(dir_.Join("no/such/dir/x.txt")); }).Number(),
            err::kPathNotFound);
}

TEST_F(FileSystemTest, FaultsHitWholeComponentsAndCountDown) {
  dir_.Write("ab.txt", "x");
  dir_.Write("c.txt", "x");
  fault::FailNext(fault::Operation::kRemoveFile, "/c.txt", err::kPermissionDenied);
  RemoveFile(dir_.Join("c.txt"));  // a leading "/" asks for the whole path
  fault::ClearAll();
  dir_.Write("b.txt", "x");
  fault::FailNext(fault::Operation::kRemoveFile, "b.txt", err::kPermissionDenied, 2);
  RemoveFile(dir_.Join("ab.txt"));  // "b.txt" is not a component of it
  const Error first = Raised([&] { RemoveFile(dir_.Join("b.txt")); });
  EXPECT_EQ(first.Number(), err::kPermissionDenied);
  EXPECT_NE(first.Description().find("b.txt"), std::string::npos);
  EXPECT_EQ(Raised([&] { RemoveFile(dir_.Join("b.txt")); }).Number(), err::kPermissionDenied);
  RemoveFile(dir_.Join("b.txt"));  // the third call goes through
  EXPECT_FALSE(dir_.Exists("b.txt"));
}

}  // namespace
}  // namespace qv::platform
