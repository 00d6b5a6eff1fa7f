// The traditional PKWARE stream cipher: three 32-bit keys updated by every
// plain byte. Weak, but it is what password-protected archives commonly use.
#ifndef UNZIP32_TRADITIONALCRYPTO_H
#define UNZIP32_TRADITIONALCRYPTO_H

#include <cstddef>
#include <cstdint>
#include <string_view>

#include <zlib.h>

namespace unzip32 {

class TraditionalCipher {
 public:
  static constexpr size_t kHeaderSize = 12;

  explicit TraditionalCipher(std::string_view password) {
    for (char c : password) Update(static_cast<uint8_t>(c));
  }

  void Decrypt(uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
      uint32_t temp = (keys_[2] & 0xffff) | 2;
      auto plain = static_cast<uint8_t>(data[i] ^ static_cast<uint8_t>((temp * (temp ^ 1)) >> 8));
      Update(plain);
      data[i] = plain;
    }
  }

 private:
  static uint32_t Crc32Byte(uint32_t crc, uint8_t byte) {
    // zlib's table-driven CRC of one byte, without the pre- and
    // post-conditioning that crc32() applies.
    static const z_crc_t* table = get_crc_table();
    return table[(crc ^ byte) & 0xff] ^ (crc >> 8);
  }

  void Update(uint8_t byte) {
    keys_[0] = Crc32Byte(keys_[0], byte);
    keys_[1] = (keys_[1] + (keys_[0] & 0xff)) * 134775813u + 1;
    keys_[2] = Crc32Byte(keys_[2], static_cast<uint8_t>(keys_[1] >> 24));
  }

  uint32_t keys_[3] = {305419896u, 591751049u, 878082192u};
};

}  // namespace unzip32

#endif  // UNZIP32_TRADITIONALCRYPTO_H
