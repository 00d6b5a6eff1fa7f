// The registry, in the shape of the Windows calls. On POSIX the machine and
// user hives are the Wine prefix's system.reg and user.reg, read as a 32-bit
// program sees them (and, for a key that only 64-bit programs see, that key).
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "platform/Pimpl.h"

namespace qv::platform {

inline constexpr uint32_t kHkeyCurrentUser = 0x80000001u;
inline constexpr uint32_t kHkeyLocalMachine = 0x80000002u;
inline constexpr uint32_t kKeyRead = 0x20019u;

inline constexpr uint32_t kRegNone = 0;
inline constexpr uint32_t kRegSz = 1;
inline constexpr uint32_t kRegExpandSz = 2;
inline constexpr uint32_t kRegBinary = 3;
inline constexpr uint32_t kRegDword = 4;
inline constexpr uint32_t kRegMultiSz = 7;

inline constexpr int32_t kErrorSuccess = 0;
inline constexpr int32_t kErrorFileNotFound = 2;
inline constexpr int32_t kErrorMoreData = 234;
inline constexpr int32_t kErrorNoMoreItems = 259;

// An open key; closed by RegCloseKey or when destroyed.
class RegistryKey {
 public:
  bool IsOpen() const noexcept;

  struct Impl;
  Impl* impl() const noexcept { return impl_.get(); }
  friend void Destroy(Impl* impl) noexcept;
  void Reset(ImplPtr<Impl> impl) noexcept { impl_ = std::move(impl); }

 private:
  ImplPtr<Impl> impl_;
};

// Opens `subKey` below the root; kErrorSuccess or a Windows error code.
int32_t RegOpenKeyExA(uint32_t root, const std::string& subKey, uint32_t options, uint32_t access,
                      RegistryKey& result);

// Reads a value. On entry *byteCount is the size of `data`; on return the
// size of the value's data. kErrorMoreData when it does not fit (nothing is
// copied then), kErrorFileNotFound when the value does not exist. String
// values count their terminating NUL, as Windows stores them.
int32_t RegQueryValueExA(const RegistryKey& key, const std::string& valueName, uint32_t* type,
                         uint8_t* data, uint32_t* byteCount);

// The name of the sub-key number `index` (from 0) of an open key, in the
// ANSI code page: kErrorSuccess, or kErrorNoMoreItems past the last one.
int32_t RegEnumKeyExA(const RegistryKey& key, uint32_t index, std::string& name);

// A string value (REG_SZ or REG_EXPAND_SZ) as UTF-16, without its
// terminating NUL: the ANSI call turns characters that the ANSI code page
// lacks into '?'. kErrorSuccess; kErrorFileNotFound when the value is
// missing or holds no string.
int32_t RegQueryStringW(const RegistryKey& key, const std::string& valueName, std::u16string& text);

void RegCloseKey(RegistryKey& key);

// Where the registry calls look, in words for a message that says what was
// not found: "this computer's registry", or under Wine the prefix whose
// registry it is, with a hint when that prefix holds a game that has not yet
// written its keys (it writes them when it first starts).
std::string RegistryWhereabouts();

}  // namespace qv::platform
