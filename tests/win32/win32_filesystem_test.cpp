// The Win32 file system layer on real Windows attributes: hidden, system and
// read-only files, the attribute masks of the listing, the error numbers, and
// what Wine does where Windows refuses. (The rest of the layer is met by the
// end-to-end test's runs.)
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// windows.h renames DeleteFile; the installer's helper of that name is meant.
#undef DeleteFile

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/Error.h"
#include "common/modCommon.h"
#include "platform/FileSystem.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

namespace {

namespace fs = qv::platform;
using Names = std::set<std::string>;
using qv::test::Raised;

class Win32FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"plain.txt", "hidden.txt", "system.txt", "readonly.txt", "sub\\a.txt"})
      dir_.Write(name, name);
    ::SetFileAttributesA(Path("hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
    ::SetFileAttributesA(Path("system.txt").c_str(), FILE_ATTRIBUTE_SYSTEM);
    ::SetFileAttributesA(Path("readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  }
  // A read-only file would keep the temporary folder from being removed.
  void TearDown() override {
    ::SetFileAttributesA(Path("readonly.txt").c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  std::string Path(const std::string& name) const { return dir_.Path() + "\\" + name; }
  static Names List(const std::string& path, uint32_t mask) {
    Names names;
    for (std::string name = fs::ListFirst(path, mask); !name.empty(); name = fs::ListNext())
      names.insert(name);
    return names;
  }

  qv::test::TempDir dir_;
};

TEST_F(Win32FileSystemTest, ListingFiltersByAttributeMask) {
  const Names files = {"plain.txt", "hidden.txt", "system.txt", "readonly.txt"};
  Names everything = files;
  everything.insert({".", "..", "sub"});
  const struct {
    const char* name;
    std::string path;
    uint32_t mask;
    Names expected;
  } rows[] = {
      {"mask 55: everything, dots and folders included", Path(""), 55, everything},
      {"mask 39: files of every kind, no folders", Path(""), 39, files},
      {"mask 0: only normal, read-only and archive files",
       Path(""),
       0,
       {"plain.txt", "readonly.txt"}},
      {"pattern", Path("*.txt"), 39, files},
      {"one named hidden file", Path("hidden.txt"), 39, {"hidden.txt"}},
      {"one named hidden file, mask without hidden", Path("hidden.txt"), 0, {}},
      {"a folder named without separator is not a file", Path("sub"), 39, {}},
      {"a missing folder lists nothing", Path("missing\\"), 55, {}},
      {"a file used as a folder lists nothing", Path("plain.txt\\"), 55, {}},
      {"a name no file can have lists nothing", "\t" + Path("plain.txt"), 39, {}},
  };
  for (const auto& row : rows) EXPECT_EQ(List(row.path, row.mask), row.expected) << row.name;
}

TEST_F(Win32FileSystemTest, FailuresCarryTheInstallersErrorNumbers) {
  const std::pair<qv::Error, int32_t> rows[] = {
      {Raised([&] { fs::GetAttributes(Path("missing.txt")); }), qv::err::kFileNotFound},
      {Raised([&] { fs::GetAttributes(Path("missing\\x.txt")); }), qv::err::kPathNotFound},
      {Raised([&] { fs::RemoveFile(Path("readonly.txt")); }), qv::err::kPermissionDenied},
      {Raised([&] { fs::RemoveFolder(Path("sub")); }), qv::err::kPathFileAccess},
      {Raised([&] { fs::File::OpenRead(Path("missing.txt")); }), qv::err::kFileNotFound},
      {Raised([&] { fs::ReadFolder(Path("missing")); }), qv::err::kPathNotFound},
  };
  for (const auto& [error, number] : rows) {
    EXPECT_EQ(error.Number(), number) << error.Description();
    EXPECT_NE(error.Description().find(dir_.Path()), std::string::npos) << error.Description();
  }
}

TEST_F(Win32FileSystemTest, InstallerHelpersSeeAndDeleteHiddenSystemAndReadOnlyFiles) {
  for (const char* name : {"hidden.txt", "system.txt", "readonly.txt", "*.txt"})
    EXPECT_TRUE(qv::FileExists(Path(name))) << name;
  EXPECT_FALSE(qv::FileExists(Path("sub")));
  int32_t number = 0;
  std::string description;
  EXPECT_TRUE(qv::DeleteFile(Path("readonly.txt"), false, number, description)) << description;
  EXPECT_TRUE(qv::DeleteFolder(dir_.Path(), false, number, description)) << description;
  EXPECT_EQ(::GetFileAttributesA(dir_.Path().c_str()), INVALID_FILE_ATTRIBUTES);
  ::CreateDirectoryA(dir_.Path().c_str(), nullptr);  // for the fixture's own clean-up
}

// A caller that stops reading a listing part way (the deleting helpers do on
// a failure) must not keep the folder busy: Windows refuses to remove a
// folder while a search in it is open.
TEST_F(Win32FileSystemTest, AListingLeftPartWayKeepsNoFolderBusy) {
  dir_.Write("sub\\b.txt", "b");
  ASSERT_FALSE(fs::ListFirst(Path("sub\\"), 39).empty());
  fs::RemoveFile(Path("sub\\a.txt"));
  fs::RemoveFile(Path("sub\\b.txt"));
  EXPECT_TRUE(::RemoveDirectoryA(Path("sub").c_str())) << "error " << ::GetLastError();
}

// Windows refuses to replace a read-only file; Wine replaces it. Either way
// the target is one of the two files whole.
TEST_F(Win32FileSystemTest, ReplacementOfAReadOnlyTargetIsAllOrNothing) {
  dir_.Write("new.txt", "new");
  try {
    fs::ReplaceFileAtomically(Path("new.txt"), Path("readonly.txt"));
    EXPECT_EQ(dir_.Read("readonly.txt"), "new");
    EXPECT_FALSE(dir_.Exists("new.txt"));
  } catch (const qv::Error& error) {
    EXPECT_EQ(error.Number(), qv::err::kPermissionDenied) << error.Description();
    EXPECT_EQ(dir_.Read("readonly.txt"), "readonly.txt");
  }
}

}  // namespace
