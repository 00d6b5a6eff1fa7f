// The process and the loading of shared libraries on POSIX.
#include <gtest/gtest.h>

#include <cstdio>

#include "common/Error.h"
#include "platform/DynamicLibrary.h"
#include "platform/Process.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

namespace qv::platform {
namespace {

using test::Raised;

TEST(Process, EmptyArgumentsKeepTheirPlacesInTheCommandLine) {
  std::string args[] = {"installer", "", "b", ""};
  char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(), nullptr};
  InitProcess(4, argv);
  EXPECT_EQ(CommandLineArguments(), " b ");
}

// The installer ends through ExitProcess: what a pipe still buffers of its
// boxes must reach the reader.
TEST(ProcessDeathTest, ExitProcessEndsAtOnceAfterFlushingStdio) {
  test::TempDir dir;
  EXPECT_EXIT(
      {
        if (std::freopen(dir.Join("out.txt").c_str(), "w", stdout) == nullptr) std::abort();
        std::fputs("buffered", stdout);
        ExitProcess(3);
      },
      ::testing::ExitedWithCode(3), "");
  EXPECT_EQ(dir.Read("out.txt"), "buffered");
}

// The copy beside the program (the build puts libunzip32.so beside the test
// programs), else the system's; never one named by a path.
TEST(DynamicLibrary, LoadsTheCopyBesideTheProgramOrTheSystemsOnly) {
  DynamicLibrary library = DynamicLibrary::Load("unzip32");
  EXPECT_EQ(library.Path(), ExecutableFolder() + "/libunzip32.so");
  DynamicLibrary moved = std::move(library);
  EXPECT_NE(moved.Symbol("UzpVersion2"), nullptr);
  EXPECT_EQ(Raised([&] { library.Symbol("UzpVersion2"); }).Number(), err::kDllEntryPoint);
  const DynamicLibrary system = DynamicLibrary::Load("z");  // zlib's, from the loader's path
  EXPECT_EQ(system.Path().rfind('/', 0), 0u) << system.Path();
  EXPECT_EQ(Raised([] { DynamicLibrary::Load("../evil"); }).Number(), err::kDllLoad);
}

}  // namespace
}  // namespace qv::platform
