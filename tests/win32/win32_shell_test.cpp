// The documents folder as the shell reports it, through the lookup the
// installer uses.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/modPaths.h"
#include "platform/Shell.h"

namespace {

TEST(Win32ShellTest, DocumentsFolderIsAnExistingFolderWithoutTrailingSeparator) {
  const std::string documents = qv::GetSpecialFolder(qv::platform::kCsidlPersonal);
  ASSERT_FALSE(documents.empty());
  EXPECT_NE(documents.back(), '\\');
  EXPECT_NE(documents.back(), ' ');
  EXPECT_EQ(documents.find('\0'), std::string::npos);
  const DWORD attributes = ::GetFileAttributesA(documents.c_str());
  ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES) << documents;
  EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u) << documents;
}

TEST(Win32ShellTest, FolderIdTheShellRejectsGivesEmptyText) {
  EXPECT_EQ(qv::GetSpecialFolder(0x7FFF), "");
  EXPECT_EQ(qv::GetSpecialFolder(-1), "");
}

TEST(Win32ShellTest, ItemIdListGivesThePathAndIsReleased) {
  qv::platform::ItemIdList list;
  ASSERT_EQ(qv::platform::SHGetSpecialFolderLocation(nullptr, qv::platform::kCsidlPersonal, list),
            qv::platform::kSOk);
  char buffer[512];
  ASSERT_TRUE(qv::platform::SHGetPathFromIDListA(list, buffer, sizeof buffer));
  EXPECT_EQ(std::string(buffer), qv::GetSpecialFolder(qv::platform::kCsidlPersonal));
  // A buffer too small for the path is left alone.
  char tiny[4] = {'z', 'z', 'z', 'z'};
  EXPECT_FALSE(qv::platform::SHGetPathFromIDListA(list, tiny, sizeof tiny));
  EXPECT_EQ(tiny[0], 'z');
  qv::platform::ItemIdList moved = std::move(list);
  EXPECT_EQ(list.impl(), nullptr);
  EXPECT_NE(moved.impl(), nullptr);
}

}  // namespace
