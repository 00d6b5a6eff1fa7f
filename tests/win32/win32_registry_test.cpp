// The registry calls of the Win32 layer and the lookup built on them, against
// keys the test writes itself below HKEY_CURRENT_USER (writable without
// administrator rights) and removes afterwards.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "common/Error.h"
#include "common/modPaths.h"
#include "platform/Registry.h"

namespace {

using qv::platform::kHkeyCurrentUser;

class Win32RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    keyPath_ = "Software\\QuorvaneTest\\" +
               std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
               std::to_string(::GetCurrentProcessId());
    ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, keyPath_.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                nullptr, &key_, nullptr),
              ERROR_SUCCESS);
  }
  void TearDown() override {
    ::RegCloseKey(key_);
    ::RegDeleteKeyA(HKEY_CURRENT_USER, keyPath_.c_str());
  }
  void SetString(const char* name, const std::string& text, DWORD type = REG_SZ) {
    ASSERT_EQ(::RegSetValueExA(key_, name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>(text.size() + 1)),
              ERROR_SUCCESS);
  }
  void SetDword(const char* name, DWORD value) {
    ASSERT_EQ(::RegSetValueExA(key_, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                               sizeof value),
              ERROR_SUCCESS);
  }
  std::string Lookup(const std::string& value) {
    return qv::GetRegistryString(kHkeyCurrentUser, keyPath_, value);
  }

  std::string keyPath_;
  HKEY key_ = nullptr;
};

TEST_F(Win32RegistryTest, LookupGivesEachKindOfValueAsText) {
  SetString("Install Dir", "C:\\Program Files\\EA GAMES\\The Sims 2\\");
  SetString("Expandable", "%SystemRoot%\\x", REG_EXPAND_SZ);
  SetString("Empty", "");
  SetString("Chars254", std::string(254, 'a'));
  SetString("Chars255", std::string(255, 'b'));
  SetDword("Seven", 7);
  SetDword("Zero", 0);
  struct Row {
    const char* name;
    const char* value;
    std::string expected;
  } rows[] = {
      {"string with trailing backslash", "Install Dir",
       "C:\\Program Files\\EA GAMES\\The Sims 2\\"},
      {"expandable string, not expanded", "Expandable", "%SystemRoot%\\x"},
      {"empty string", "Empty", ""},
      {"254 characters fit the 255-byte buffer", "Chars254", std::string(254, 'a')},
      {"255 characters do not", "Chars255", ""},
      {"DWORD 7", "Seven", "007"},
      {"DWORD 0", "Zero", "000"},
      {"missing value", "No Such Value", ""},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(Lookup(row.value), row.expected) << row.name;
  }
}

TEST_F(Win32RegistryTest, MissingKeyGivesEmptyText) {
  EXPECT_EQ(qv::GetRegistryString(kHkeyCurrentUser, keyPath_ + "\\Missing", "Install Dir"), "");
  EXPECT_EQ(qv::GetRegistryString(kHkeyCurrentUser, "Software\\QuorvaneNoSuchKey", "x"), "");
}

TEST_F(Win32RegistryTest, QueryReportsTypeSizeAndShortBuffer) {
  SetString("Name", "abc");
  qv::platform::RegistryKey key;
  ASSERT_EQ(qv::platform::RegOpenKeyExA(kHkeyCurrentUser, keyPath_, 0, qv::platform::kKeyRead, key),
            qv::platform::kErrorSuccess);
  ASSERT_TRUE(key.IsOpen());

  uint8_t data[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
  uint32_t type = 0;
  uint32_t size = sizeof data;
  ASSERT_EQ(qv::platform::RegQueryValueExA(key, "Name", &type, data, &size), 0);
  EXPECT_EQ(type, qv::platform::kRegSz);
  EXPECT_EQ(size, 4u);  // the terminating NUL counts
  EXPECT_EQ(std::memcmp(data, "abc", 4), 0);

  // Too small: ERROR_MORE_DATA, the size needed, and the buffer untouched.
  uint8_t small[2] = {'y', 'y'};
  size = sizeof small;
  EXPECT_EQ(qv::platform::RegQueryValueExA(key, "Name", &type, small, &size),
            qv::platform::kErrorMoreData);
  EXPECT_EQ(size, 4u);
  EXPECT_EQ(small[0], 'y');
  EXPECT_EQ(small[1], 'y');

  size = sizeof data;
  EXPECT_EQ(qv::platform::RegQueryValueExA(key, "Missing", &type, data, &size),
            qv::platform::kErrorFileNotFound);

  qv::platform::RegCloseKey(key);
  EXPECT_FALSE(key.IsOpen());
}

TEST_F(Win32RegistryTest, OpeningAMissingKeyLeavesNoHandle) {
  qv::platform::RegistryKey key;
  EXPECT_EQ(qv::platform::RegOpenKeyExA(kHkeyCurrentUser, keyPath_ + "\\Missing", 0,
                                        qv::platform::kKeyRead, key),
            qv::platform::kErrorFileNotFound);
  EXPECT_FALSE(key.IsOpen());
}

}  // namespace
