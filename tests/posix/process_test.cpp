// The process and the loading of shared libraries on POSIX.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "common/Error.h"
#include "platform/DynamicLibrary.h"
#include "platform/Process.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

namespace qv::platform {
namespace {

namespace fs = std::filesystem;
using test::Raised;

TEST(Process, CommandLineArgumentsAreJoinedBySingleSpaces) {
  const struct {
    std::vector<std::string> argv;
    std::string expected;
  } rows[] = {
      {{"installer"}, ""},
      {{"installer", "pavix://host/a b.zip"}, "pavix://host/a b.zip"},
      {{"installer", "\"pavix://x\"", "y"}, "\"pavix://x\" y"},
      {{"installer", "", "b", ""}, " b "},  // empty arguments keep their places
  };
  for (auto row : rows) {
    std::vector<char*> argv;
    for (std::string& s : row.argv) argv.push_back(s.data());
    argv.push_back(nullptr);
    InitProcess(static_cast<int>(row.argv.size()), argv.data());
    EXPECT_EQ(CommandLineArguments(), row.expected);
  }
  InitProcess(0, nullptr);
  EXPECT_EQ(CommandLineArguments(), "");
  EXPECT_EQ(ExecutableFolder(), fs::read_symlink("/proc/self/exe").parent_path().string());
  test::ScopedEnv env("QV_PROCESS_TEST", "value with spaces");
  EXPECT_EQ(GetEnvironment("QV_PROCESS_TEST"), "value with spaces");
  EXPECT_EQ(GetEnvironment("QV_PROCESS_TEST_UNSET"), "");
}

TEST(ProcessDeathTest, ExitProcessEndsAtOnceWithTheStatusAfterFlushingStdio) {
  test::TempDir dir;
  EXPECT_EXIT(
      {
        if (std::freopen(dir.Join("out.txt").c_str(), "w", stdout) == nullptr) ::_exit(99);
        std::fputs("buffered", stdout);
        ExitProcess(3);
      },
      ::testing::ExitedWithCode(3), "");
  EXPECT_EQ(dir.Read("out.txt"), "buffered");
}

// The copy beside the program (the build puts libunzip32.so beside the test
// programs); a library of that name in the current folder is never taken.
TEST(DynamicLibrary, LoadsTheCopyBesideTheProgramOnly) {
  DynamicLibrary library = DynamicLibrary::Load("unzip32");
  const std::string path = ExecutableFolder() + "/libunzip32.so";
  EXPECT_EQ(library.Path(), path);
  EXPECT_NE(library.Symbol("Wiz_SingleEntryUnzip"), nullptr);
  const Error missing = Raised([&] { library.Symbol("NoSuchEntry"); });
  EXPECT_EQ(missing.Number(), err::kDllEntryPoint);
  EXPECT_EQ(missing.Description(), "Can't find DLL entry point NoSuchEntry in " + path);
  DynamicLibrary moved = std::move(library);
  EXPECT_NE(moved.Symbol("UzpVersion2"), nullptr);
  EXPECT_EQ(Raised([&] { library.Symbol("UzpVersion2"); }).Number(), err::kDllEntryPoint);

  test::TempDir dir;
  fs::copy_file(path, dir.Join("libqvnotinstalled.so"));
  const fs::path old = fs::current_path();
  ASSERT_EQ(chdir(dir.Path().c_str()), 0);
  const Error notInstalled = Raised([] { DynamicLibrary::Load("qvnotinstalled"); });
  ASSERT_EQ(chdir(old.c_str()), 0);
  EXPECT_EQ(notInstalled.Number(), err::kDllLoad);
  EXPECT_NE(notInstalled.Description().find("libqvnotinstalled.so"), std::string::npos);
  EXPECT_EQ(Raised([] { DynamicLibrary::Load("../evil"); }).Number(), err::kDllLoad);
}

}  // namespace
}  // namespace qv::platform
