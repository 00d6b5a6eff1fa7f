// The registry calls over a Wine prefix: HKEY_LOCAL_MACHINE is the prefix's
// system.reg and HKEY_CURRENT_USER its user.reg. Opening a key streams through
// the hive once and keeps only that key's values and the names of its
// sub-keys, so a large hive never sits in memory and later changes by Wine
// are seen at the next open.

#include "platform/Registry.h"

#include <cstring>
#include <utility>
#include <vector>

#include "common/Text.h"
#include "platform/wine/PrefixDiscovery.h"
#include "platform/wine/WineHive.h"
#include "platform/wine/WinePrefix.h"

namespace qv::platform {

namespace {

constexpr int32_t kErrorInvalidHandle = 6;
constexpr int32_t kErrorInvalidParameter = 87;

}  // namespace

struct RegistryKey::Impl {
  wine::HiveValues values;
  std::vector<std::string> subKeys;
};

void Destroy(RegistryKey::Impl* impl) noexcept {
  delete impl;
}

bool RegistryKey::IsOpen() const noexcept {
  return impl_ != nullptr;
}

int32_t RegOpenKeyExA(uint32_t root, const std::string& subKey, uint32_t /*options*/,
                      uint32_t /*access*/, RegistryKey& result) {
  result.Reset(nullptr);
  const char* hive = nullptr;
  if (root == kHkeyLocalMachine) {
    hive = "/system.reg";
  } else if (root == kHkeyCurrentUser) {
    hive = "/user.reg";
  } else {
    return kErrorFileNotFound;
  }
  wine::HiveLookup lookup =
      wine::ReadHiveFile(wine::WinePrefixFolder() + hive, subKey, root == kHkeyLocalMachine);
  // The 32-bit view first, as Windows gives it to this program. A key that
  // exists only in a 64-bit prefix's other view is taken too: Wine's own
  // regedit there is a 64-bit program, and keys that players or launcher
  // scripts add by hand land in its view.
  wine::HiveKey* key = lookup.thirtyTwoBit.found   ? &lookup.thirtyTwoBit
                       : lookup.sixtyFourBit.found ? &lookup.sixtyFourBit
                                                   : nullptr;
  if (key == nullptr) return kErrorFileNotFound;
  auto impl = MakeImpl<RegistryKey::Impl>();
  impl->values = std::move(key->values);
  impl->subKeys = std::move(key->subKeys);
  result.Reset(std::move(impl));
  return kErrorSuccess;
}

int32_t RegQueryValueExA(const RegistryKey& key, const std::string& valueName, uint32_t* type,
                         uint8_t* data, uint32_t* byteCount) {
  if (!key.IsOpen()) return kErrorInvalidHandle;
  if (data != nullptr && byteCount == nullptr) return kErrorInvalidParameter;
  const auto& values = key.impl()->values;
  const auto it = values.find(text::ToLowerAscii(valueName));
  if (it == values.end()) return kErrorFileNotFound;
  const wine::HiveValue& value = it->second;
  const auto size = static_cast<uint32_t>(value.data.size());
  if (type) *type = value.type;
  if (data != nullptr) {
    if (*byteCount < size) {
      *byteCount = size;
      return kErrorMoreData;
    }
    // Raw value bytes; a string value carries its own NUL.
    std::memcpy(data, value.data.data(), size);  // NOLINT(bugprone-not-null-terminated-result)
  }
  if (byteCount) *byteCount = size;
  return kErrorSuccess;
}

int32_t RegEnumKeyExA(const RegistryKey& key, uint32_t index, std::string& name) {
  name.clear();
  if (!key.IsOpen()) return kErrorInvalidHandle;
  const std::vector<std::string>& subKeys = key.impl()->subKeys;
  if (index >= subKeys.size()) return kErrorNoMoreItems;
  name = subKeys[index];
  return kErrorSuccess;
}

int32_t RegQueryStringW(const RegistryKey& key, const std::string& valueName,
                        std::u16string& text) {
  text.clear();
  if (!key.IsOpen()) return kErrorInvalidHandle;
  const auto& values = key.impl()->values;
  const auto it = values.find(text::ToLowerAscii(valueName));
  if (it == values.end()) return kErrorFileNotFound;
  const wine::HiveValue& value = it->second;
  if (value.type != kRegSz && value.type != kRegExpandSz) return kErrorFileNotFound;
  text = value.text;
  return kErrorSuccess;
}

std::string RegistryWhereabouts() {
  const std::string prefix = wine::WinePrefixFolder();
  std::string words = "the registry of the Wine prefix " + prefix;
  // Steam makes the Legacy Collection's prefix, but the game itself records
  // where it is installed, at its first start: until then its prefix holds
  // none of the keys, and looking elsewhere would only find a wrong game.
  if (wine::IsLegacySteamPrefix(prefix) && wine::FindGameKeys(prefix).key == wine::GameKey::kNone) {
    words +=
        " (Steam's prefix for The Sims 2 Legacy Collection: the game records where it is "
        "installed only when it first starts, so start the game once from Steam, then try again)";
  }
  return words;
}

void RegCloseKey(RegistryKey& key) {
  key.Reset(nullptr);
}

}  // namespace qv::platform
