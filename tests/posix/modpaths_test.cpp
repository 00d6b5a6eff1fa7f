// The documents folder as the installer asks for it, over fixture prefixes
// and fixture home folders.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "common/modPaths.h"
#include "platform/Shell.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"

namespace {

const std::string kShellFolders =
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] 1\n";

class SpecialFolderTest : public ::testing::Test {
 protected:
  qv::test::TempDir dir_;
  qv::test::ScopedEnv env_{{{"WINEPREFIX", dir_.Join("prefix")},
                            {"HOME", dir_.Join("home")},
                            {"USER", "tester"},
                            {"XDG_CONFIG_HOME", std::nullopt}}};
};

// The prefix's "Personal" value comes first, then the prefix's own user
// folder.
TEST_F(SpecialFolderTest, WinePrefixFoldersComeFirst) {
  dir_.MakeFolder("prefix/drive_c/users/tester/Documents");
  dir_.Write("prefix/user.reg", "WINE REGISTRY Version 2\n#arch=win64\n\n" + kShellFolders +
                                    "\"Personal\"=\"C:\\\\users\\\\tester\\\\My Documents\\\\\"\n");
  EXPECT_EQ(qv::GetSpecialFolder(5), "C:\\users\\tester\\My Documents");
  dir_.Write("prefix/user.reg", "WINE REGISTRY Version 2\n\n" + kShellFolders +
                                    "\"Desktop\"=\"C:\\\\users\\\\tester\\\\Desktop\"\n"
                                    "\"Personal\"=\"\"\n");
  EXPECT_EQ(qv::GetSpecialFolder(5), dir_.Join("prefix/drive_c/users/tester/Documents"));
  for (int32_t id : {0, 0x1a, 0x26, -1}) EXPECT_EQ(qv::GetSpecialFolder(id), "") << id;
}

TEST_F(SpecialFolderTest, DesktopDocumentsFolderWithoutAPrefix) {
  struct Row {
    const char* name;
    const char* configFolder;  // nullptr: XDG_CONFIG_HOME unset
    std::string file;          // "" : no user-dirs.dirs
    std::string expected;      // below the home folder unless absolute
  };
  const Row rows[] = {
      {"home-relative entry", nullptr, "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n", "/Dokumente"},
      {"entry among others with a trailing slash", nullptr,
       "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
       "  XDG_DOCUMENTS_DIR=\"$HOME/My \\\"Docs\\\"/\"\nXDG_MUSIC_DIR=\"$HOME/Music\"",
       "/My \"Docs\""},
      {"absolute entry", nullptr, "XDG_DOCUMENTS_DIR=\"/srv/documents/\"\n", "/srv/documents"},
      {"configuration folder from XDG_CONFIG_HOME", "cfg", "XDG_DOCUMENTS_DIR=\"$HOME/Papiers\"\n",
       "/Papiers"},
      {"relative entry ignored", nullptr, "XDG_DOCUMENTS_DIR=\"Documents2\"\n", "/Documents"},
      {"no file", nullptr, "", "/Documents"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    qv::test::TempDir home;
    setenv("HOME", home.Path().c_str(), 1);
    std::string config = home.Join(".config");
    if (row.configFolder) {
      config = home.Join(row.configFolder);
      setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    } else {
      unsetenv("XDG_CONFIG_HOME");
    }
    if (!row.file.empty()) {
      home.Write((row.configFolder ? std::string(row.configFolder) : ".config") + "/user-dirs.dirs",
                 row.file);
    }
    const std::string expected =
        row.expected.rfind("/srv", 0) == 0 ? row.expected : home.Path() + row.expected;
    EXPECT_EQ(qv::GetSpecialFolder(5), expected);
  }
}

TEST_F(SpecialFolderTest, PathThatDoesNotFitTheBufferIsNotWritten) {
  const std::string longName(600, 'd');
  dir_.Write("prefix/user.reg", "WINE REGISTRY Version 2\n\n" + kShellFolders +
                                    "\"Personal\"=\"C:\\\\" + longName + "\"\n");
  qv::platform::ItemIdList list;
  ASSERT_EQ(qv::platform::SHGetSpecialFolderLocation(nullptr, 5, list), qv::platform::kSOk);
  std::string buffer(512, ' ');
  EXPECT_FALSE(qv::platform::SHGetPathFromIDListA(list, buffer.data(), 512));
  EXPECT_EQ(buffer, std::string(512, ' '));
  // The lookup finds no NUL in the untouched buffer and answers nothing.
  EXPECT_EQ(qv::GetSpecialFolder(5), "");
}

}  // namespace
