// What only the Windows layer itself shows (the end-to-end test's runs meet
// the rest of it): the file system on real Windows attributes (hidden,
// system and read-only files, the attribute masks of the listing) and its
// error numbers, and where a library may come from.
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
#include "platform/DynamicLibrary.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

namespace {

namespace fs = qv::platform;
using Names = std::set<std::string>;
using qv::test::Raised;

// Hidden, system and read-only files as the listing's attribute masks, the
// error numbers and the installer's helpers meet them.
TEST(Win32FileSystemTest, AttributesMasksAndErrorNumbers) {
  qv::test::TempDir dir;
  const auto path = [&](const std::string& name) { return dir.Path() + "\\" + name; };
  for (const char* name : {"plain.txt", "hidden.txt", "system.txt", "readonly.txt", "sub\\a.txt"})
    dir.Write(name, name);
  ::SetFileAttributesA(path("hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN);
  ::SetFileAttributesA(path("system.txt").c_str(), FILE_ATTRIBUTE_SYSTEM);
  ::SetFileAttributesA(path("readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
  const Names files = {"plain.txt", "hidden.txt", "system.txt", "readonly.txt"};
  Names everything = files;
  everything.insert({".", "..", "sub"});
  const struct {
    std::string path;
    uint32_t mask;
    Names expected;
  } listings[] = {
      {path(""), 55, everything},  // dots and folders included
      {path(""), 39, files},       // files of every kind, no folders
      {path(""), 0, {"plain.txt", "readonly.txt"}},
      {path("hidden.txt"), 39, {"hidden.txt"}},
      {path("sub"), 39, {}},          // a folder named without separator is not a file
      {path("plain.txt\\"), 55, {}},  // a file used as a folder
  };
  for (const auto& row : listings) {
    Names names;
    for (std::string name = fs::ListFirst(row.path, row.mask); !name.empty(); name = fs::ListNext())
      names.insert(name);
    EXPECT_EQ(names, row.expected) << row.path << ", mask " << row.mask;
  }
  // Another program holding a file open, sharing it with no one.
  const HANDLE held = ::CreateFileA(path("held.txt").c_str(), GENERIC_READ | GENERIC_WRITE, 0,
                                    nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  const std::pair<qv::Error, int32_t> failures[] = {
      {Raised([&] { fs::GetAttributes(path("missing.txt")); }), qv::err::kFileNotFound},
      {Raised([&] { fs::GetAttributes(path("missing\\x.txt")); }), qv::err::kPathNotFound},
      {Raised([&] { fs::RemoveFile(path("readonly.txt")); }), qv::err::kPermissionDenied},
      {Raised([&] { fs::RemoveFolder(path("sub")); }), qv::err::kPathFileAccess},
      {Raised([&] { fs::ReadFolder(path("missing")); }), qv::err::kPathNotFound},
      {Raised([&] { fs::File::OpenRead(path("held.txt")); }), qv::err::kFileInUse},
  };
  ::CloseHandle(held);
  for (const auto& [error, number] : failures) {
    EXPECT_EQ(error.Number(), number) << error.Description();
    EXPECT_NE(error.Description().find(dir.Path()), std::string::npos) << error.Description();
  }
  for (const char* name : {"hidden.txt", "system.txt", "readonly.txt", "*.txt"})
    EXPECT_TRUE(qv::FileExists(path(name))) << name;
  EXPECT_FALSE(qv::FileExists(path("sub")));
  int32_t number = 0;
  std::string description;
  EXPECT_TRUE(qv::DeleteFile(path("readonly.txt"), false, number, description)) << description;
  EXPECT_TRUE(qv::DeleteFolder(dir.Path(), false, number, description)) << description;
  EXPECT_EQ(::GetFileAttributesA(dir.Path().c_str()), INVALID_FILE_ATTRIBUTES);
  ::CreateDirectoryA(dir.Path().c_str(), nullptr);  // for the temporary folder's own clean-up
}

// A working library planted in the current folder, under a name that exists
// nowhere else, must not be picked up.
TEST(Win32DynamicLibraryTest, OnlyTheProgramsFolderIsSearched) {
  qv::test::TempDir dir;
  ASSERT_TRUE(::CopyFileA((fs::ExecutableFolder() + "\\unzip32fake_noversion.dll").c_str(),
                          dir.Join("quorvane_planted.dll").c_str(), FALSE));
  char previous[MAX_PATH + 1] = {};
  ::GetCurrentDirectoryA(MAX_PATH, previous);
  ASSERT_TRUE(::SetCurrentDirectoryA(dir.Path().c_str()));
  const qv::Error error = Raised([] { fs::DynamicLibrary::Load("quorvane_planted"); });
  ::SetCurrentDirectoryA(previous);
  EXPECT_EQ(error.Number(), qv::err::kDllLoad) << error.Description();
}

}  // namespace
