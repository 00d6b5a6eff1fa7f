// The registry lookup through the Win32 layer's calls, against a key the
// test writes itself below HKEY_CURRENT_USER (writable without administrator
// rights) and removes afterwards: what the real calls give for each kind of
// value, and where the 255-byte buffer ends.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "common/modPaths.h"
#include "platform/Registry.h"

namespace {

TEST(Win32RegistryTest, LookupGivesEachKindOfValueAsText) {
  const std::string path = "Software\\QuorvaneTest\\" + std::to_string(::GetCurrentProcessId());
  HKEY key = nullptr;
  ASSERT_EQ(::RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
            ERROR_SUCCESS);
  const DWORD seven = 7;
  const struct {
    const char* value;
    DWORD type;
    std::string data;
    std::string expected;
  } rows[] = {
      {"Install Dir", REG_SZ, "C:\\Games\\The Sims 2\\", "C:\\Games\\The Sims 2\\"},
      {"Expandable, not expanded", REG_EXPAND_SZ, "%SystemRoot%\\x", "%SystemRoot%\\x"},
      {"254 characters fit the 255-byte buffer", REG_SZ, std::string(254, 'a'),
       std::string(254, 'a')},
      {"255 characters do not", REG_SZ, std::string(255, 'b'), ""},
      {"DWORD", REG_DWORD, std::string(reinterpret_cast<const char*>(&seven), 4), "007"},
  };
  for (const auto& row : rows) {
    const std::string data = row.type == REG_DWORD ? row.data : row.data + '\0';
    ::RegSetValueExA(key, row.value, 0, row.type, reinterpret_cast<const BYTE*>(data.data()),
                     static_cast<DWORD>(data.size()));
    EXPECT_EQ(qv::GetRegistryString(qv::platform::kHkeyCurrentUser, path, row.value), row.expected)
        << row.value;
  }
  EXPECT_EQ(qv::GetRegistryString(qv::platform::kHkeyCurrentUser, path, "Missing"), "");
  EXPECT_EQ(qv::GetRegistryString(qv::platform::kHkeyCurrentUser, path + "\\Missing", "x"), "");
  ::RegCloseKey(key);
  ::RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
}

}  // namespace
