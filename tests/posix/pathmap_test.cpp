// Windows paths mapped onto a fixture Wine prefix in a temporary folder; the
// real home folder and prefix are never looked at.
#include "platform/posix/PathMap.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

namespace qv::platform::posix {
namespace {

namespace fs = std::filesystem;

class PathMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_.MakeFolder("prefix/dosdevices");
    dir_.MakeFolder("prefix/drive_c/Program Files/Game/TSData");
    dir_.Write("prefix/drive_c/Program Files/Game/TSData/Catalog.txt", "x");
    dir_.MakeFolder("elsewhere/D-root");
    // Wine writes the drive links relative to dosdevices.
    fs::create_directory_symlink("../drive_c", dir_.Join("prefix/dosdevices/c:"));
    fs::create_directory_symlink(dir_.Join("elsewhere/D-root"), dir_.Join("prefix/dosdevices/d:"));
    driveC_ = fs::canonical(dir_.Join("prefix/drive_c")).string();
    driveD_ = fs::canonical(dir_.Join("elsewhere/D-root")).string();
  }

  test::TempDir dir_;
  test::ScopedEnv prefix_{"WINEPREFIX", dir_.Join("prefix")};
  std::string driveC_;
  std::string driveD_;
};

TEST_F(PathMapTest, WindowsPathsMapOntoTheDrives) {
  struct Case {
    const char* name;
    std::string input;
    std::string expected;
  };
  const std::string game = driveC_ + "/Program Files/Game";
  const Case cases[] = {
      {"exact case", "C:\\Program Files\\Game\\TSData\\Catalog.txt", game + "/TSData/Catalog.txt"},
      {"other case resolved to the entry on disk", "c:\\PROGRAM FILES\\game\\tsdata\\catalog.TXT",
       game + "/TSData/Catalog.txt"},
      {"missing file keeps its spelling", "C:\\program files\\Game\\New File.TXT",
       game + "/New File.TXT"},
      {"missing folder keeps the spelling below it", "C:\\Program Files\\NewDir\\Sub\\a.txt",
       driveC_ + "/Program Files/NewDir/Sub/a.txt"},
      {"doubled separators collapse", "C:\\\\Program Files\\\\Game\\", game + "/"},
      {"trailing separator kept", "C:\\program files\\game\\", game + "/"},
      {"drive root", "C:\\", driveC_ + "/"},
      {"bare drive", "C:", driveC_},
      {"drive-relative form", "C:Program Files", driveC_ + "/Program Files"},
      {"absolute link target", "D:\\x.txt", driveD_ + "/x.txt"},
      {"forward slashes too", "C:/Program Files/Game", game},
      {"posix path passes through", dir_.Join("elsewhere/D-root"), dir_.Join("elsewhere/D-root")},
      {"posix path resolved by case", dir_.Join("ELSEWHERE/d-ROOT/"),
       dir_.Join("elsewhere/D-root/")},
      {"missing drive stays under dosdevices", "Q:\\a\\b.txt",
       dir_.Join("prefix/dosdevices/q:") + "/a/b.txt"},
      {"empty", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ToNativePath(c.input), c.expected) << c.name << ": " << c.input;
  }
}

TEST_F(PathMapTest, ExactCaseWinsAndOtherwiseTheSmallestSpelling) {
  dir_.Write("case/README.txt", "1");
  dir_.Write("case/readme.txt", "2");
  dir_.Write("case/ReadMe.txt", "3");
  EXPECT_EQ(ToNativePath(dir_.Join("case/readme.txt")), dir_.Join("case/readme.txt"));
  EXPECT_EQ(ToNativePath(dir_.Join("case/ReadMe.txt")), dir_.Join("case/ReadMe.txt"));
  // "README.txt" sorts first in byte order; every run picks it.
  EXPECT_EQ(ToNativePath(dir_.Join("case/READme.TXT")), dir_.Join("case/README.txt"));
  // A dangling link's own name is what a caller deletes; it must not be
  // mapped to some other spelling because its target is missing.
  fs::create_symlink(dir_.Join("nowhere"), dir_.Join("case/Dangling"));
  EXPECT_EQ(ToNativePath(dir_.Join("case/dangling")), dir_.Join("case/Dangling"));
}

TEST_F(PathMapTest, RelativePathsAreTakenAgainstTheCurrentFolder) {
  dir_.Write("work/Sub/File.txt", "x");
  const std::string old = fs::current_path().string();
  ASSERT_EQ(chdir(dir_.Join("work").c_str()), 0);
  const std::string here = fs::current_path().string();
  const std::string mapped = ToNativePath("sub\\file.txt");
  const std::string missing = ToNativePath("new.txt");
  ASSERT_EQ(chdir(old.c_str()), 0);
  EXPECT_EQ(mapped, here + "/Sub/File.txt");
  EXPECT_EQ(missing, here + "/new.txt");
}

}  // namespace
}  // namespace qv::platform::posix
