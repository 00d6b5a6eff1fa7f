// Reading the structure of a zip archive: the end records, the central
// directory one entry at a time, and the local header of an entry. Every
// value read from the file is checked against the file's size before it is
// used; nothing is allocated from a declared size.
#ifndef UNZIP32_ZIPDIRECTORY_H
#define UNZIP32_ZIPDIRECTORY_H

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "FileIO.h"

namespace unzip32 {

// A failure with its result code (one of UNZIP32_ERR_*) and a text that
// names what was needed and what was found.
struct Problem {
  int32_t code = 0;
  std::string text;
};

// Fills `problem` and returns false, for `return Fail(...)` in parsers.
inline bool Fail(Problem& problem, int32_t code, std::string text) {
  problem.code = code;
  problem.text = std::move(text);
  return false;
}

struct ArchiveInfo {
  uint64_t entryCount = 0;
  uint64_t directoryOffset = 0;
  uint64_t directorySize = 0;
  std::string comment;
};

struct CentralEntry {
  uint64_t index = 0;
  uint16_t madeBy = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint16_t dosTime = 0;
  uint16_t dosDate = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t size = 0;
  uint64_t localOffset = 0;
  uint16_t internalAttributes = 0;
  uint32_t externalAttributes = 0;
  std::string name;

  bool Encrypted() const { return (flags & 0x0001) != 0; }
  bool HasDataDescriptor() const { return (flags & 0x0008) != 0; }
};

// Reads an archive through a fixed window, so reading a large central
// directory costs no more memory than reading a small one.
class ZipReader {
 public:
  explicit ZipReader(const fileio::ArchiveFile& file);

  // Finds the end of central directory record (and its ZIP64 form) and
  // checks the directory's place and entry count against the file size.
  bool ReadEnd(ArchiveInfo& info, Problem& problem);

  // Reads the central header at `offset` (which it advances) as entry
  // `index`. The whole record must lie inside the directory.
  bool ReadCentral(const ArchiveInfo& info, uint64_t index, uint64_t& offset, CentralEntry& entry,
                   Problem& problem);

  // Checks the local header of `entry` against it and gives the offset of the
  // entry's data, which with the compressed size must end before the
  // central directory.
  bool ReadLocal(const ArchiveInfo& info, const CentralEntry& entry, uint64_t& dataOffset,
                 Problem& problem);

  const fileio::ArchiveFile& File() const { return file_; }

 private:
  // The `length` bytes at `offset`, or an empty span with `problem` set.
  std::span<const uint8_t> Read(uint64_t offset, size_t length, Problem& problem);

  const fileio::ArchiveFile& file_;
  std::vector<uint8_t> window_;
  uint64_t windowOffset_ = 0;
  size_t windowLength_ = 0;
};

}  // namespace unzip32

#endif  // UNZIP32_ZIPDIRECTORY_H
