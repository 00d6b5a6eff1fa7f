// The tests' own zip writer: builds archives in memory, valid ones and
// deliberately broken ones, so every extraction test states exactly which
// bytes it feeds the library. Nothing here is shared with the library itself:
// a fault in its reader must not be hidden by the same fault in the writer.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qv::test {

// Compression method numbers as they appear in the headers.
inline constexpr uint16_t kStored = 0, kDeflated = 8;

// Local time as a DOS date and time stores it (two-second resolution).
struct ZipTime {
  int year = 2021, month = 6, day = 15, hour = 12, minute = 30, second = 10;
};

// Every member has an initializer, so that tests may name only the members
// they set in designated initializers.
struct ZipEntry {
  std::string name{};           // raw bytes: may hold "\", "..", NUL or control characters
  std::string data{};           // uncompressed content
  uint16_t method = kDeflated;  // 0 stored, 8 deflated; any other: `data` as it is
  ZipTime time{};
  std::optional<uint32_t> unixMode{};  // st_mode with type bits: made on Unix
  uint16_t internalAttributes = 0;     // bit 0: text
  std::string comment{}, password{};   // a password: traditional PKWARE encryption
  bool dataDescriptor = false;         // sizes and CRC after the data (flag bit 3)
  bool descriptorSignature = true;
  bool zip64 = false;  // ZIP64 extra fields even when the sizes fit in 32 bits
  // Deliberate defects: values that lie in every header, the bytes stored in
  // place of the packed data, the local header offset the central one gives.
  std::optional<uint32_t> crc{};
  std::optional<uint64_t> size{}, compressedSize{}, centralOffset{};
  std::optional<std::string> rawPayload{};
  uint16_t addFlags = 0;  // ORed into the flags
  std::string extra{};    // appended to the extra fields
};

class ZipWriter {
 public:
  ZipEntry& Add(std::string name, std::string data, uint16_t method = kDeflated);
  ZipEntry& Add(ZipEntry entry) { return entries_.emplace_back(std::move(entry)); }
  ZipEntry& Entry(size_t index) { return entries_.at(index); }
  const std::vector<ZipEntry>& Entries() const { return entries_; }

  std::string comment;
  std::string prefix;                  // bytes before the archive (a self-extractor stub)
  bool offsetsLeaveOutPrefix = false;  // as when the stub is put before a finished archive
  bool zip64End = false;  // the ZIP64 end record and locator, the end record's values all sentinels
  std::function<void(std::string&)> patch;  // changes the bytes built (but the prefix)

  std::string Build() const;
  // Offsets of the last Build(), leaving out a prefix the offsets leave out.
  const std::vector<uint64_t>& LocalOffsets() const { return localOffsets_; }
  uint64_t DirectoryOffset() const { return directoryOffset_; }

 private:
  std::vector<ZipEntry> entries_;
  mutable std::vector<uint64_t> localOffsets_;
  mutable uint64_t directoryOffset_ = 0;
};

std::string Deflate(const std::string& data);  // raw deflate, as zip stores it
std::string Le(uint64_t value, int bytes);     // little-endian

}  // namespace qv::test
