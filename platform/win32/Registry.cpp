// The registry through the ANSI calls, each key in an owned handle.
#include "platform/Registry.h"

#include <algorithm>
#include <cstddef>
#include <vector>

#include "platform/win32/Win32Support.h"

namespace qv::platform {

struct RegistryKey::Impl {
  HKEY key = nullptr;
};

void Destroy(RegistryKey::Impl* impl) noexcept {
  if (impl->key != nullptr) ::RegCloseKey(impl->key);
  delete impl;
}

bool RegistryKey::IsOpen() const noexcept {
  return impl_ && impl_->key != nullptr;
}

namespace {

// The predefined roots are 32-bit values sign-extended into a handle
// (HKEY_LOCAL_MACHINE is (HKEY)(LONG)0x80000002), also in a 64-bit build.
HKEY RootHandle(uint32_t root) {
  return reinterpret_cast<HKEY>(static_cast<intptr_t>(static_cast<int32_t>(root)));
}

}  // namespace

int32_t RegOpenKeyExA(uint32_t root, const std::string& subKey, uint32_t options, uint32_t access,
                      RegistryKey& result) {
  result.Reset(nullptr);
  HKEY key = nullptr;
  const LONG status =
      ::RegOpenKeyExA(RootHandle(root), subKey.c_str(), options, static_cast<REGSAM>(access), &key);
  if (status != ERROR_SUCCESS) return static_cast<int32_t>(status);
  auto impl = MakeImpl<RegistryKey::Impl>();
  impl->key = key;
  result.Reset(std::move(impl));
  return kErrorSuccess;
}

int32_t RegQueryValueExA(const RegistryKey& key, const std::string& valueName, uint32_t* type,
                         uint8_t* data, uint32_t* byteCount) {
  if (!key.IsOpen()) return ERROR_INVALID_HANDLE;
  const DWORD room = byteCount != nullptr ? *byteCount : 0;
  // Windows leaves the caller's buffer undefined when the value does not
  // fit; read into a private buffer so that `data` is only written whole.
  std::vector<BYTE> buffer(room > 0 ? room : 1);
  DWORD valueType = REG_NONE;
  DWORD size = room;
  const LONG status = ::RegQueryValueExA(key.impl()->key, valueName.c_str(), nullptr, &valueType,
                                         data != nullptr ? buffer.data() : nullptr, &size);
  if (type != nullptr) *type = valueType;
  if (byteCount != nullptr) *byteCount = size;
  if (status == ERROR_SUCCESS && data != nullptr && size <= room) {
    std::copy(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(size), data);
  }
  return static_cast<int32_t>(status);
}

int32_t RegEnumKeyExA(const RegistryKey& key, uint32_t index, std::string& name) {
  name.clear();
  if (!key.IsOpen()) return ERROR_INVALID_HANDLE;
  // Key names are at most 255 characters.
  char buffer[256] = {};
  DWORD length = sizeof buffer;
  const LONG status =
      ::RegEnumKeyExA(key.impl()->key, index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
  if (status == ERROR_SUCCESS) name.assign(buffer, length);
  return static_cast<int32_t>(status);
}

int32_t RegQueryStringW(const RegistryKey& key, const std::string& valueName,
                        std::u16string& text) {
  text.clear();
  if (!key.IsOpen()) return ERROR_INVALID_HANDLE;
  const int nameLength = ::MultiByteToWideChar(CP_ACP, 0, valueName.c_str(), -1, nullptr, 0);
  std::wstring wideName(static_cast<size_t>(nameLength > 0 ? nameLength : 1), L'\0');
  ::MultiByteToWideChar(CP_ACP, 0, valueName.c_str(), -1, wideName.data(), nameLength);
  DWORD type = REG_NONE;
  DWORD size = 0;
  LONG status =
      ::RegQueryValueExW(key.impl()->key, wideName.c_str(), nullptr, &type, nullptr, &size);
  if (status != ERROR_SUCCESS) return static_cast<int32_t>(status);
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_FILE_NOT_FOUND;
  std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
  status = ::RegQueryValueExW(key.impl()->key, wideName.c_str(), nullptr, &type,
                              reinterpret_cast<BYTE*>(data.data()), &size);
  if (status != ERROR_SUCCESS) return static_cast<int32_t>(status);
  // The stored string need not end with its NUL; it ends at the first one.
  size_t length = 0;
  while (length < size / sizeof(wchar_t) && data[length] != L'\0') ++length;
  text.assign(reinterpret_cast<const char16_t*>(data.data()), length);
  return kErrorSuccess;
}

std::string RegistryWhereabouts() {
  return "this computer's registry";
}

void RegCloseKey(RegistryKey& key) {
  key.Reset(nullptr);
}

}  // namespace qv::platform
