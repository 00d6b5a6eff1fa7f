// A bounds-checked little-endian reader over a byte span. Every read past the
// end fails, makes ok() false for good and yields zeros, so a parser can read
// a whole record and test ok() once.
#ifndef UNZIP32_BYTECURSOR_H
#define UNZIP32_BYTECURSOR_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace unzip32 {

class ByteCursor {
 public:
  explicit ByteCursor(std::span<const uint8_t> bytes) : bytes_(bytes) {}

  bool ok() const { return ok_; }
  size_t offset() const { return offset_; }
  size_t size() const { return bytes_.size(); }
  size_t remaining() const { return ok_ ? bytes_.size() - offset_ : 0; }

  // True when `length` more bytes are there. Written so that a huge length
  // cannot wrap around: offset_ never exceeds the size.
  bool Has(size_t length) const { return ok_ && length <= bytes_.size() - offset_; }

  uint8_t U8() { return static_cast<uint8_t>(Take(1)); }
  uint16_t U16() { return static_cast<uint16_t>(Take(2)); }
  uint32_t U32() { return static_cast<uint32_t>(Take(4)); }
  uint64_t U64() { return Take(8); }

  // The next `length` bytes; an empty span (and ok() false) when they are not there.
  std::span<const uint8_t> Bytes(size_t length) {
    if (!Has(length)) {
      ok_ = false;
      return {};
    }
    auto result = bytes_.subspan(offset_, length);
    offset_ += length;
    return result;
  }

  std::string_view Text(size_t length) {
    auto bytes = Bytes(length);
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
  }

  void Skip(size_t length) { (void)Bytes(length); }

 private:
  uint64_t Take(size_t length) {
    if (!Has(length)) {
      ok_ = false;
      return 0;
    }
    uint64_t value = 0;
    for (size_t i = 0; i < length; ++i) {
      value |= static_cast<uint64_t>(bytes_[offset_ + i]) << (8 * i);
    }
    offset_ += length;
    return value;
  }

  std::span<const uint8_t> bytes_;
  size_t offset_ = 0;
  bool ok_ = true;
};

}  // namespace unzip32

#endif  // UNZIP32_BYTECURSOR_H
