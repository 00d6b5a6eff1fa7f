#include "common/modPaths.h"

#include <exception>

#include "common/Error.h"
#include "platform/Registry.h"
#include "platform/Shell.h"

namespace qv {

namespace {

constexpr uint32_t kPathBufferSize = 512;
constexpr uint32_t kDataBufferSize = 255;

// Closes the key however the lookup ends, an error included.
class KeyCloser {
 public:
  explicit KeyCloser(platform::RegistryKey& key) : key_(key) {}
  ~KeyCloser() { platform::RegCloseKey(key_); }
  KeyCloser(const KeyCloser&) = delete;
  KeyCloser& operator=(const KeyCloser&) = delete;

 private:
  platform::RegistryKey& key_;
};

// Decimal, at least three digits.
std::string FormatThreeDigits(uint32_t number) {
  std::string digits = std::to_string(number);
  if (digits.size() < 3) digits.insert(0, 3 - digits.size(), '0');
  return digits;
}

}  // namespace

std::string GetSpecialFolder(int32_t lFolderId) {
  try {
    platform::ItemIdList list;
    if (platform::SHGetSpecialFolderLocation(nullptr, lFolderId, list) != platform::kSOk) {
      return {};
    }
    // The shell's own success flag is not trusted: a buffer that still holds
    // no NUL was left untouched and means no answer.
    std::string buffer(kPathBufferSize, ' ');
    platform::SHGetPathFromIDListA(list, buffer.data(), kPathBufferSize);
    const size_t end = buffer.find('\0');
    if (end == std::string::npos) return {};
    buffer.resize(end);
    return buffer;
  } catch (const std::exception&) {
    return {};
  }
}

std::string GetRegistryString(uint32_t lRootKey, const std::string& sKeyPath,
                              const std::string& sValueName) {
  platform::RegistryKey key;
  if (platform::RegOpenKeyExA(lRootKey, sKeyPath, 0, platform::kKeyRead, key) !=
      platform::kErrorSuccess) {
    return {};
  }
  const KeyCloser closer(key);

  uint32_t byteCount = kDataBufferSize;
  uint32_t type = platform::kRegNone;
  std::string buffer(kDataBufferSize, ' ');
  if (platform::RegQueryValueExA(key, sValueName, &type, reinterpret_cast<uint8_t*>(buffer.data()),
                                 &byteCount) != platform::kErrorSuccess) {
    return {};
  }
  if (byteCount == 0) {
    throw Error(err::kInvalidCall, "Invalid procedure call or argument",
                "modPaths::GetRegistryString");
  }
  if (type == platform::kRegDword) {
    // Only the bytes the value has count: a short number must not pick up
    // the spaces the buffer was filled with.
    uint32_t number = 0;
    for (uint32_t i = 0; i < 4 && i < byteCount; ++i) {
      number |= static_cast<uint32_t>(static_cast<unsigned char>(buffer[i])) << (8 * i);
    }
    // The whole number, not cut to byte count - 1 characters: cutting would
    // turn 1234 into "123", a plainly wrong answer.
    return FormatThreeDigits(number);
  }
  const uint32_t length = byteCount - 1 < kDataBufferSize ? byteCount - 1 : kDataBufferSize;
  buffer.resize(length);
  return buffer;
}

}  // namespace qv
