// The tests' own zip writer: builds archives in memory, valid ones and
// deliberately broken ones, so every extraction test states exactly which
// bytes it feeds the library. Nothing here is shared with the library itself:
// a fault in its reader must not be hidden by the same fault in the writer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qv::test {

// Compression method numbers as they appear in the headers.
inline constexpr uint16_t kStored = 0;
inline constexpr uint16_t kDeflated = 8;
inline constexpr uint16_t kAes = 99;

// Unix st_mode type bits, so the tests need no system header.
inline constexpr uint32_t kModeFile = 0100000;
inline constexpr uint32_t kModeFolder = 0040000;
inline constexpr uint32_t kModeSymlink = 0120000;

// Local time as a DOS date and time stores it (two-second resolution).
struct ZipTime {
  int year = 2021;
  int month = 6;
  int day = 15;
  int hour = 12;
  int minute = 30;
  int second = 10;
};

// Values that replace what the writer would put in one header. Unset members
// keep the computed value.
struct ZipHeaderOverride {
  std::optional<std::string> name;
  std::optional<uint16_t> flags;
  std::optional<uint16_t> method;
  std::optional<uint32_t> crc;
  std::optional<uint64_t> size;
  std::optional<uint64_t> compressedSize;
};

struct ZipEntry {
  std::string name;  // raw bytes: may hold "\", "..", NUL or control characters
  std::string data;  // uncompressed content
  // 0 stored, 8 deflated; any other number writes `data` unchanged under that
  // method number (unknown methods, AES).
  uint16_t method = kDeflated;
  ZipTime time;
  std::optional<uint32_t> unixMode;  // st_mode with type bits; marks the entry as made on Unix
  uint16_t internalAttributes = 0;   // bit 0: text
  std::string comment;
  std::string password;             // non-empty: traditional PKWARE encryption
  bool dataDescriptor = false;      // sizes and CRC after the data (flag bit 3)
  bool descriptorSignature = true;  // false: the descriptor has no signature
  bool zip64 = false;               // ZIP64 extra fields even when the sizes fit in 32 bits

  // Deliberate defects. `crc`, `size` and `compressedSize` lie in every
  // header (local, central and data descriptor); `local` changes the local
  // header only, so it disagrees with the central one (a descriptor follows
  // the data when the local header's flags have bit 3); `descriptor` changes
  // the data descriptor only.
  std::optional<uint32_t> crc;
  std::optional<uint64_t> size;
  std::optional<uint64_t> compressedSize;
  // Bytes written as the entry's data in place of the compressed `data`
  // (the CRC and size still describe `data`).
  std::optional<std::string> rawPayload;
  uint16_t addFlags = 0;  // ORed into the flags of both headers
  ZipHeaderOverride local;
  ZipHeaderOverride descriptor;
  std::string centralExtra;  // raw bytes appended to the central extra field
  // Replaces the payload of the central ZIP64 extra field (written when the
  // entry is ZIP64), e.g. to cut it short.
  std::optional<std::string> centralZip64;
  std::string localExtra;  // raw bytes appended to the local extra field
  // The central entry points at the local header of an earlier entry and no
  // local record of its own is written (two entries, one set of bytes); its
  // method, flags, CRC and sizes are those of that entry.
  std::optional<size_t> sameDataAs;
  // The entry is stored and its data is the complete local record of the next
  // entry, whose central offset then points inside this entry's data.
  bool containsNext = false;
  // Absolute local header offset written in the central entry.
  std::optional<uint64_t> centralOffset;
};

// Traditional PKWARE encryption (the three-key stream cipher).
class ZipCrypto {
 public:
  explicit ZipCrypto(const std::string& password);
  std::string Encrypt(const std::string& plain);
  std::string Decrypt(const std::string& cipher);

 private:
  uint8_t StreamByte() const;
  void Update(uint8_t plain);
  uint32_t keys_[3];
};

class ZipWriter {
 public:
  ZipWriter();

  ZipEntry& Add(std::string name, std::string data, uint16_t method = kDeflated);
  // A folder entry; a "/" is appended when the name does not end in one.
  ZipEntry& AddFolder(std::string name);
  // A Unix symbolic link entry whose data is the link target.
  ZipEntry& AddSymlink(std::string name, std::string target);
  ZipEntry& Entry(size_t index) { return entries_.at(index); }
  size_t Count() const { return entries_.size(); }

  // The 11 random bytes of each encryption header come from here; the default
  // is a fixed sequence so archives are the same on every run.
  void SetHeaderSource(std::function<uint8_t()> source) { headerSource_ = std::move(source); }

  std::string comment;
  std::string prefix;  // bytes before the first local header (a self-extractor stub)
  // The offsets leave out `prefix`, as when a stub is put in front of a
  // finished archive; LocalOffsets() and DirectoryOffset() then leave it out
  // too.
  bool offsetsLeaveOutPrefix = false;
  bool zip64End = false;  // write the ZIP64 end record and locator
  // Deliberate defects of the end records.
  std::optional<uint64_t> endEntryCount;
  std::optional<uint64_t> endDirectoryOffset;
  std::optional<uint64_t> endDirectorySize;
  std::optional<uint16_t> endCommentLength;

  std::string Build() const;
  // Build() written to `path`; throws when the file cannot be written.
  void Save(const std::string& path) const;

  // Byte offsets of the last Build(): each entry's local header and the
  // central directory, for tests that patch or cut archives.
  const std::vector<uint64_t>& LocalOffsets() const { return localOffsets_; }
  uint64_t DirectoryOffset() const { return directoryOffset_; }
  uint64_t EndOffset() const { return endOffset_; }

 private:
  std::vector<ZipEntry> entries_;
  std::function<uint8_t()> headerSource_;
  mutable std::vector<uint64_t> localOffsets_;
  mutable uint64_t directoryOffset_ = 0;
  mutable uint64_t endOffset_ = 0;
};

// Raw deflate (no zlib header), as zip stores it.
std::string Deflate(const std::string& data, int level = 6);
// `zeros` zero bytes deflated as densely as deflate allows: one block with a
// one-bit code for a 258-byte match and a one-bit distance code, so every two
// bits give 258 bytes (about 1032:1).
std::string DeflateZerosAtTheCeiling(uint64_t zeros);
// The CRC-32 of `zeros` zero bytes, without making them.
uint32_t Crc32OfZeros(uint64_t zeros);
uint32_t Crc32(const std::string& data);
// The extra field an AES-encrypted entry carries (vendor "AE", strength 256).
std::string AesExtraField(uint16_t actualMethod = kDeflated);
// One extra field record: id, length, payload.
std::string ExtraField(uint16_t id, const std::string& payload);
std::string Le16(uint16_t value);
std::string Le32(uint32_t value);
std::string Le64(uint64_t value);

}  // namespace qv::test
