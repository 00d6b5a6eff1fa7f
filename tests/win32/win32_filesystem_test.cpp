// The Win32 file system layer on real Windows attributes: hidden, system and
// read-only files, the attribute masks of the listing, the error numbers, and
// the crash-safe replacement.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// windows.h renames DeleteFile; the installer's helper of that name is used.
#undef DeleteFile

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "common/Error.h"
#include "common/modCommon.h"
#include "platform/FileSystem.h"
#include "support/TempDir.h"

namespace {

namespace fs = qv::platform;

class Win32FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = dir_.Path() + "\\";
    dir_.Write("plain.txt", "plain");
    dir_.Write("hidden.txt", "hidden");
    dir_.Write("system.txt", "system");
    dir_.Write("readonly.txt", "readonly");
    dir_.Write("sub\\inner.txt", "inner");
    SetAttr("hidden.txt", FILE_ATTRIBUTE_HIDDEN);
    SetAttr("system.txt", FILE_ATTRIBUTE_SYSTEM);
    SetAttr("readonly.txt", FILE_ATTRIBUTE_READONLY);
  }
  void TearDown() override {
    // Read-only files would keep the temporary folder from being removed.
    for (const char* name : {"hidden.txt", "system.txt", "readonly.txt", "copy.txt"}) {
      ::SetFileAttributesA((folder_ + name).c_str(), FILE_ATTRIBUTE_NORMAL);
    }
  }
  void SetAttr(const std::string& name, DWORD attributes) {
    ASSERT_TRUE(::SetFileAttributesA((folder_ + name).c_str(), attributes)) << name;
  }
  std::set<std::string> List(const std::string& path, uint32_t mask) {
    std::set<std::string> names;
    for (std::string name = fs::ListFirst(path, mask); !name.empty(); name = fs::ListNext()) {
      names.insert(name);
    }
    return names;
  }

  qv::test::TempDir dir_;
  std::string folder_;
};

TEST_F(Win32FileSystemTest, ListingFiltersByAttributeMask) {
  using Names = std::set<std::string>;
  struct Row {
    const char* name;
    std::string path;
    uint32_t mask;
    Names expected;
  } rows[] = {
      {"mask 55: everything, dots and folders included", folder_, 55,
       Names{".", "..", "plain.txt", "hidden.txt", "system.txt", "readonly.txt", "sub"}},
      {"mask 39: files of every kind, no folders", folder_, 39,
       Names{"plain.txt", "hidden.txt", "system.txt", "readonly.txt"}},
      {"mask 0: only normal, read-only and archive files", folder_, 0,
       Names{"plain.txt", "readonly.txt"}},
      {"pattern", folder_ + "*.txt", 39,
       Names{"plain.txt", "hidden.txt", "system.txt", "readonly.txt"}},
      {"one named hidden file", folder_ + "hidden.txt", 39, Names{"hidden.txt"}},
      {"one named hidden file, mask without hidden", folder_ + "hidden.txt", 0, Names{}},
      {"a folder named without separator is not a file", dir_.Path() + "\\sub", 39, Names{}},
      {"a missing folder lists nothing", folder_ + "missing\\", 55, Names{}},
      {"a missing file lists nothing", folder_ + "missing.txt", 39, Names{}},
      {"a file used as a folder lists nothing", folder_ + "plain.txt\\", 55, Names{}},
      {"a name no file can have lists nothing", "\t" + folder_ + "plain.txt", 39, Names{}},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(List(row.path, row.mask), row.expected) << row.name;
  }
}

TEST_F(Win32FileSystemTest, StartingAListingAbandonsTheOneInProgress) {
  const std::string first = fs::ListFirst(folder_, 55);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(fs::ListFirst(folder_ + "sub\\", 39), "inner.txt");
  EXPECT_EQ(fs::ListNext(), "");
  EXPECT_EQ(fs::ListNext(), "");
}

// A caller that stops reading a listing part way (the deleting helpers do on
// a failure) must not keep the folder busy: Windows refuses to remove a
// folder while a search in it is open.
TEST_F(Win32FileSystemTest, AListingLeftPartWayKeepsNoFolderBusy) {
  dir_.Write("busy\\a.txt", "a");
  dir_.Write("busy\\b.txt", "b");
  const std::string busy = folder_ + "busy";
  ASSERT_FALSE(fs::ListFirst(busy + "\\", 39).empty());
  fs::RemoveFile(busy + "\\a.txt");
  fs::RemoveFile(busy + "\\b.txt");
  EXPECT_TRUE(::RemoveDirectoryA(busy.c_str())) << "error " << ::GetLastError();
  EXPECT_FALSE(dir_.Exists("busy"));
}

TEST_F(Win32FileSystemTest, AttributesReadSetAndCleared) {
  EXPECT_EQ(fs::GetAttributes(folder_ + "hidden.txt") & fs::kAttrHidden, fs::kAttrHidden);
  EXPECT_EQ(fs::GetAttributes(folder_ + "system.txt") & fs::kAttrSystem, fs::kAttrSystem);
  EXPECT_EQ(fs::GetAttributes(folder_ + "readonly.txt") & fs::kAttrReadOnly, fs::kAttrReadOnly);
  EXPECT_EQ(fs::GetAttributes(folder_ + "sub") & fs::kAttrDirectory, fs::kAttrDirectory);
  // Only the six classic bits come back (no FILE_ATTRIBUTE_NORMAL, 128).
  EXPECT_EQ(fs::GetAttributes(folder_ + "plain.txt") & ~0x3Fu, 0u);

  fs::SetAttributes(folder_ + "readonly.txt", fs::kAttrNormal);
  EXPECT_EQ(fs::GetAttributes(folder_ + "readonly.txt") & fs::kAttrReadOnly, 0u);
}

TEST_F(Win32FileSystemTest, FailuresCarryTheInstallersErrorNumbers) {
  struct Row {
    const char* name;
    void (*call)(const std::string&);
    std::string path;
    int32_t number;
  } rows[] = {
      {"attributes of a missing file", [](const std::string& p) { fs::GetAttributes(p); },
       folder_ + "missing.txt", qv::err::kFileNotFound},
      {"attributes below a missing folder", [](const std::string& p) { fs::GetAttributes(p); },
       folder_ + "missing\\x.txt", qv::err::kPathNotFound},
      {"deleting a read-only file", [](const std::string& p) { fs::RemoveFile(p); },
       folder_ + "readonly.txt", qv::err::kPermissionDenied},
      {"removing a folder that is not empty", [](const std::string& p) { fs::RemoveFolder(p); },
       folder_ + "sub", qv::err::kPathFileAccess},
      {"opening a missing file", [](const std::string& p) { fs::File::OpenRead(p); },
       folder_ + "missing.txt", qv::err::kFileNotFound},
      {"reading a missing folder", [](const std::string& p) { fs::ReadFolder(p); },
       folder_ + "missing", qv::err::kPathNotFound},
  };
  for (const Row& row : rows) {
    try {
      row.call(row.path);
      ADD_FAILURE() << row.name << ": no error";
    } catch (const qv::Error& error) {
      EXPECT_EQ(error.Number(), row.number) << row.name << ": " << error.Description();
      EXPECT_NE(error.Description().find(row.path), std::string::npos) << row.name;
    }
  }
}

TEST_F(Win32FileSystemTest, InstallerHelpersSeeHiddenSystemAndReadOnlyFiles) {
  for (const char* name : {"plain.txt", "hidden.txt", "system.txt", "readonly.txt"}) {
    EXPECT_TRUE(qv::FileExists(folder_ + name)) << name;
  }
  EXPECT_FALSE(qv::FileExists(folder_ + "sub"));
  EXPECT_TRUE(qv::FileExists(folder_ + "*.txt"));

  int32_t number = 0;
  std::string description;
  EXPECT_TRUE(qv::DeleteFile(folder_ + "readonly.txt", false, number, description)) << description;
  EXPECT_FALSE(dir_.Exists("readonly.txt"));
  EXPECT_TRUE(qv::DeleteFolder(dir_.Path(), false, number, description)) << description;
  EXPECT_EQ(::GetFileAttributesA(dir_.Path().c_str()), INVALID_FILE_ATTRIBUTES);
  ::CreateDirectoryA(dir_.Path().c_str(), nullptr);  // for the fixture's own clean-up
}

TEST_F(Win32FileSystemTest, ReadFolderLeavesOutTheDots) {
  std::vector<std::string> names;
  for (const fs::FolderEntry& entry : fs::ReadFolder(dir_.Path())) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"hidden.txt", "plain.txt", "readonly.txt", "sub",
                                             "system.txt"}));
}

TEST_F(Win32FileSystemTest, CopyReplacesAnExistingTarget) {
  dir_.Write("copy.txt", "old content that is longer");
  fs::CopyFileReplacing(folder_ + "plain.txt", folder_ + "copy.txt");
  EXPECT_EQ(dir_.Read("copy.txt"), "plain");
}

TEST_F(Win32FileSystemTest, WrittenFileReplacesTargetInOneStep) {
  dir_.Write("script.txt", "old");
  std::string temporary;
  fs::File out = fs::File::CreateTemporaryIn(dir_.Path(), temporary);
  EXPECT_EQ(temporary.rfind(folder_, 0), 0u) << temporary;
  out.Write("new\r\n", 5);
  out.Flush();
  out.Close();
  // Until the replacement the target is the old file whole.
  EXPECT_EQ(dir_.Read("script.txt"), "old");
  fs::ReplaceFileAtomically(temporary, folder_ + "script.txt");
  EXPECT_EQ(dir_.Read("script.txt"), "new\r\n");
  EXPECT_EQ(::GetFileAttributesA(temporary.c_str()), INVALID_FILE_ATTRIBUTES);

  // A second temporary file never reuses the name of one that exists.
  std::string first;
  std::string second;
  fs::File a = fs::File::CreateTemporaryIn(dir_.Path(), first);
  fs::File b = fs::File::CreateTemporaryIn(dir_.Path(), second);
  EXPECT_NE(first, second);
  a.Close();
  b.Close();
  ::DeleteFileA(first.c_str());
  ::DeleteFileA(second.c_str());
}

TEST_F(Win32FileSystemTest, ReplacementOfAReadOnlyTargetIsAllOrNothing) {
  // Windows refuses to replace a read-only file; Wine replaces it. Either
  // way the target is one of the two files whole, never a mix or nothing.
  dir_.Write("new.txt", "new");
  try {
    fs::ReplaceFileAtomically(folder_ + "new.txt", folder_ + "readonly.txt");
    EXPECT_EQ(dir_.Read("readonly.txt"), "new");
    EXPECT_FALSE(dir_.Exists("new.txt"));
  } catch (const qv::Error& error) {
    EXPECT_EQ(error.Number(), qv::err::kPermissionDenied) << error.Description();
    EXPECT_EQ(dir_.Read("readonly.txt"), "readonly");
    EXPECT_EQ(dir_.Read("new.txt"), "new");
  }
}

TEST_F(Win32FileSystemTest, ReadGivesTheFileThenZero) {
  fs::File in = fs::File::OpenRead(folder_ + "plain.txt");
  char buffer[16] = {};
  EXPECT_EQ(in.Read(buffer, sizeof buffer), 5u);
  EXPECT_EQ(std::string(buffer, 5), "plain");
  EXPECT_EQ(in.Read(buffer, sizeof buffer), 0u);
}

TEST(Win32TempPathTest, EndsWithSeparatorAndReportsTheRoomNeeded) {
  char buffer[255] = {};
  const uint32_t length = fs::GetTempPathA(sizeof buffer, buffer);
  ASSERT_GT(length, 0u);
  ASSERT_LT(length, sizeof buffer);
  EXPECT_EQ(buffer[length - 1], '\\');
  char tiny[2] = {'q', 'q'};
  EXPECT_EQ(fs::GetTempPathA(sizeof tiny, tiny), length + 1);
}

}  // namespace
