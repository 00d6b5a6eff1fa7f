// The POSIX file-system layer on a real file system, in a fresh temporary
// folder per test, and Windows paths mapped onto a fixture Wine prefix there.
#include "platform/FileSystem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <set>

#include "common/Error.h"
#include "platform/FaultInjection.h"
#include "platform/Lock.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

namespace qv::platform {
namespace {

namespace fs = std::filesystem;
using test::Raised;

class FileSystemTest : public ::testing::Test {
 protected:
  // A folder with one entry of every kind the masks and attributes tell
  // apart, and a Wine prefix whose drive C is the folder itself.
  void SetUp() override {
    for (const char* name : {"b.txt", "A.TXT", "c.package", "noext", "ro.txt", ".hidden.txt"})
      dir_.Write(std::string("box/") + name, name);
    fs::permissions(dir_.Join("box/ro.txt"), fs::perms::owner_write, fs::perm_options::remove);
    dir_.MakeFolder("box/Sub");
    dir_.MakeFolder("box/.hiddendir");
    dir_.Link(dir_.Join("box/Sub"), "box/link");
    dir_.Link(dir_.Join("box"), "prefix/dosdevices/d:");
    openFiles_ = OpenFiles();
  }
  // Every call closes what it opened, failures included.
  void TearDown() override { EXPECT_EQ(OpenFiles(), openFiles_); }
  static long OpenFiles() { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); }
  // What ListFirst and ListNext give, space-separated.
  static std::string List(const std::string& path, uint32_t mask) {
    std::string names = ListFirst(path, mask);
    for (std::string name = ListNext(); !name.empty(); name = ListNext()) names += " " + name;
    return names;
  }

  test::TempDir dir_;
  const std::string box_ = fs::canonical(dir_.Path()).string() + "/box";
  test::ScopedEnv prefix_{"WINEPREFIX", dir_.Join("prefix")};
  fault::ScopedFaults faults_;
  long openFiles_ = 0;
};

TEST_F(FileSystemTest, ListingsPickEntriesByMaskAndPattern) {
  const struct {
    std::string path;  // "D:" is the box
    uint32_t mask;
    std::string expected;
  } rows[] = {
      {"D:\\..\\box\\", 55,
       ". .. .hidden.txt .hiddendir A.TXT b.txt c.package link noext ro.txt Sub"},
      {"D:\\..\\box\\", 39, ".hidden.txt A.TXT b.txt c.package link noext ro.txt"},
      {"D:\\", 16, "A.TXT b.txt c.package link noext ro.txt Sub"},  // a drive root has no dots
      {"D:\\*.*", 0, "A.TXT b.txt c.package link noext ro.txt"},    // also the names without a dot
      {"D:\\?.txt", 0, "A.TXT b.txt"},
      {"D:\\sub", 16, "Sub"},
      {"D:\\missing.txt", 55, ""},
      {"D:\\b.txt\\", 55, ""},  // a file is no folder
      {"D:\\no\\*", 55, ""},    // nor a missing one
      {"D:Sub\\", 16, ". .."},  // a folder of the drive, no root
  };
  for (const auto& row : rows) EXPECT_EQ(List(row.path, row.mask), row.expected) << row.path;
  dir_.Write("box/NOEXT.old", "");  // a name that begins another comes before it, in any case
  EXPECT_EQ(List("D:\\no*", 0), "noext NOEXT.old");
  dir_.Link("loop", "box/loop");  // a path that cannot be looked at
  EXPECT_EQ(Raised([] { ListFirst("D:\\loop\\x", 0); }).Number(), err::kPathFileAccess);
  // One listing position for the whole process: a new listing abandons the last.
  EXPECT_EQ(ListFirst("D:\\*.txt", 0), "A.TXT");
  EXPECT_EQ(ListFirst("D:\\*.package", 0), "c.package");
  EXPECT_EQ(ListNext(), "");
}

TEST_F(FileSystemTest, AttributesFollowTypeModeAndName) {
  std::set<std::string> entries;
  for (const FolderEntry& e : ReadFolder("D:\\")) {
    entries.insert(e.name + ":" + std::to_string(e.attributes));
    EXPECT_EQ(GetAttributes("d:\\" + e.name), e.attributes) << e.name;
  }
  EXPECT_EQ(entries, (std::set<std::string>{".hidden.txt:34", ".hiddendir:18", "A.TXT:32",
                                            "b.txt:32", "c.package:32", "link:1024", "noext:32",
                                            "ro.txt:33", "Sub:16"}));
  // Only the owner's write bit can be set.
  SetAttributes("D:\\b.txt", kAttrReadOnly);
  EXPECT_EQ(GetAttributes("D:\\b.txt"), kAttrArchive | kAttrReadOnly);
  SetAttributes("D:\\ro.txt", kAttrNormal);
  EXPECT_EQ(GetAttributes("D:\\ro.txt"), kAttrArchive);
}

TEST_F(FileSystemTest, FailuresCarryTheNumberAndThePath) {
  const struct {
    Error error;
    int32_t expected;
  } rows[] = {
      {Raised([] { RemoveFile("D:\\nope.txt"); }), err::kFileNotFound},
      {Raised([] { RemoveFile("D:\\no\\nope.txt"); }), err::kPathNotFound},
      {Raised([] { RemoveFile("D:\\Sub"); }), err::kPathFileAccess},
      {Raised([] { ReadFolder("D:\\nothere"); }), err::kPathNotFound},
      {Raised([] { GetAttributes("D:\\missing.txt"); }), err::kFileNotFound},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.error.Number(), row.expected) << row.error.Description();
    EXPECT_NE(row.error.Description().find(box_), std::string::npos);
  }
  // A lock's file is told apart the same way: here its folder is missing.
  const Error lock = Raised([] { ExclusiveLock::TakeFileLock("D:\\no\\script.txt"); });
  EXPECT_EQ(lock.Number(), err::kPathNotFound) << lock.Description();
  RemoveFile("d:\\LINK");  // the link itself, through the case mapping
  RemoveFolder("D:\\sub\\");
  EXPECT_EQ(List("D:\\", 16), "A.TXT b.txt c.package noext ro.txt");
}

// The installer's paths are ANSI text in code page 1252, as Wine gives the
// game its folders' names; Wine names them on the host in UTF-8. Every call
// that takes a path meets the same folder. (Narrow literals here are UTF-8.)
// The end-to-end table's editions meet the plain names and make the missing
// folders; here the names in another case and those that are UTF-8 already.
TEST_F(FileSystemTest, AnsiNamesMeetTheFoldersThatWineMade) {
  const std::string trademark = "The Sims\u2122 2 Ultimate Collection/Downloads";
  dir_.MakeFolder("box/EA Games/" + trademark);
  dir_.MakeFolder("box/EA Games/Die Sims 2 Verm\u00e4chtnis/Downloads");
  const struct {
    const char* name;
    std::string folder;  // as the installer builds it, below D:\EA Games
    std::string onDisk;  // below the box's EA Games
  } rows[] = {
      {.name = "a name that is UTF-8 already",
       .folder = "The Sims\u2122 2 Ultimate Collection\\Downloads",
       .onDisk = trademark},
      {.name = "an umlaut, in another case",
       .folder = "DIE SIMS 2 VERM\344CHTNIS\\downloads",
       .onDisk = "Die Sims 2 Verm\u00e4chtnis/Downloads"},
  };
  for (const auto& row : rows) {
    const std::string folder = "D:\\EA Games\\" + row.folder, onDisk = "box/EA Games/" + row.onDisk;
    CreateFolder(folder);
    EXPECT_EQ(GetAttributes(folder), kAttrDirectory) << row.name;
    CopyFileReplacing("D:\\b.txt", folder + "\\stairs.package");
    EXPECT_EQ(dir_.Read(onDisk + "/stairs.package"), "b.txt") << row.name;
    EXPECT_EQ(List(folder + "\\*.package", 0), "stairs.package") << row.name;
    EXPECT_EQ(ReadFolder(folder + "\\").size(), 1u) << row.name;
    File::OpenRead(folder + "\\stairs.package");
    RemoveFile(folder + "\\stairs.package");
    EXPECT_FALSE(dir_.Exists(onDisk + "/stairs.package")) << row.name;
  }
  // A native path is the host's own: its bytes are left alone.
  dir_.Write("box/caf\351.txt", "latin");
  EXPECT_EQ(GetAttributes(box_ + "/caf\351.txt"), kAttrArchive);
  EXPECT_EQ(Raised([this] { GetAttributes(box_ + "/caf\u00e9.txt"); }).Number(),
            err::kFileNotFound);
}

// A copy puts the new file whole in place, or leaves the old one and no
// temporary file; it keeps the mode of its source. A replacement is whole.
TEST_F(FileSystemTest, FilesAreReplacedWholeOrNotAtAll) {
  dir_.Write("box/out.bin", "old");
  const struct {
    fault::Operation operation;
    std::string suffix;
    int32_t number;
  } faults[] = {
      {fault::Operation::kWrite, "box/.qv-*.tmp", err::kDiskFull},
      {fault::Operation::kReplace, "box/out.bin", err::kPermissionDenied},
  };
  for (const auto& f : faults) {
    fault::FailNext(f.operation, f.suffix, f.number);
    EXPECT_EQ(Raised([] { CopyFileReplacing("D:\\ro.txt", "D:\\out.bin"); }).Number(), f.number);
    EXPECT_EQ(dir_.Read("box/out.bin"), "old") << f.suffix;
    EXPECT_EQ(ReadFolder("D:\\").size(), 10u) << f.suffix;
  }
  CopyFileReplacing("D:\\ro.txt", "D:\\OUT.bin");
  ReplaceFileAtomically("D:\\out.bin", "D:\\b.txt");
  EXPECT_EQ(dir_.Read("box/b.txt"), "ro.txt");
  EXPECT_EQ(GetAttributes("D:\\b.txt"), kAttrArchive | kAttrReadOnly);
}

}  // namespace
}  // namespace qv::platform
