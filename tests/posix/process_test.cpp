// The process and the loading of shared libraries on POSIX.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

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
  struct Case {
    const char* name;
    std::vector<std::string> argv;
    std::string expected;
  };
  const Case cases[] = {
      {"program only", {"installer"}, ""},
      {"one address", {"installer", "pavix://host/a b.zip"}, "pavix://host/a b.zip"},
      {"several", {"installer", "\"pavix://x\"", "y"}, "\"pavix://x\" y"},
      {"empty arguments keep their places", {"installer", "", "b", ""}, " b "},
  };
  for (const Case& c : cases) {
    std::vector<char*> argv;
    std::vector<std::string> copies = c.argv;
    for (std::string& s : copies) argv.push_back(s.data());
    argv.push_back(nullptr);
    InitProcess(static_cast<int>(copies.size()), argv.data());
    EXPECT_EQ(CommandLineArguments(), c.expected) << c.name;
  }
  InitProcess(0, nullptr);
  EXPECT_EQ(CommandLineArguments(), "");
}

TEST(Process, ExecutableFolderAndEnvironment) {
  const fs::path self = fs::read_symlink("/proc/self/exe");
  EXPECT_EQ(ExecutableFolder(), self.parent_path().string());
  setenv("QV_PROCESS_TEST", "value with spaces", 1);
  EXPECT_EQ(GetEnvironment("QV_PROCESS_TEST"), "value with spaces");
  unsetenv("QV_PROCESS_TEST");
  EXPECT_EQ(GetEnvironment("QV_PROCESS_TEST"), "");
}

TEST(ProcessDeathTest, ExitProcessEndsAtOnceWithTheStatusAfterFlushingStdio) {
  test::TempDir dir;
  const std::string out = dir.Join("out.txt");
  EXPECT_EXIT(
      {
        std::FILE* f = std::freopen(out.c_str(), "w", stdout);
        if (f == nullptr) ::_exit(99);
        std::fputs("buffered", stdout);
        ExitProcess(3);
      },
      ::testing::ExitedWithCode(3), "");
  EXPECT_EQ(dir.Read("out.txt"), "buffered");
}

TEST(DynamicLibrary, LoadsTheCopyBesideTheProgramAndFindsItsEntryPoints) {
  // The build puts libunzip32.so beside the test programs.
  DynamicLibrary library = DynamicLibrary::Load("unzip32");
  const std::string path = ExecutableFolder() + "/libunzip32.so";
  EXPECT_EQ(library.Path(), path);
  EXPECT_NE(library.Symbol("Wiz_SingleEntryUnzip"), nullptr);
  const Error missing = Raised([&] { library.Symbol("NoSuchEntry"); });
  EXPECT_EQ(missing.Number(), err::kDllEntryPoint);
  EXPECT_EQ(missing.Description(), "Can't find DLL entry point NoSuchEntry in " + path);
  DynamicLibrary moved = std::move(library);
  EXPECT_NE(moved.Symbol("UzpVersion2"), nullptr);
}

TEST(DynamicLibrary, AMissingLibraryRaisesError48AndTheCurrentFolderIsNotSearched) {
  test::TempDir dir;
  // A library of that name in the current folder must not be picked up.
  fs::copy_file(ExecutableFolder() + "/libunzip32.so", dir.Join("libqvnotinstalled.so"));
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
