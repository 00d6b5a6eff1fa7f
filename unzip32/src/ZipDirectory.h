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
  uint64_t directoryOffset = 0;  // where the directory really is
  uint64_t directorySize = 0;
  // Bytes in front of the archive that its offsets do not count (a stub put
  // before a finished archive): added to every offset the headers give.
  uint64_t shift = 0;
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
};

// What the data descriptor after an entry's data says, compared with the
// central header.
enum class DescriptorState {
  None,        // the local header announces none
  Agrees,      // CRC and sizes as in the central header
  CrcDiffers,  // sizes agree, the CRC does not
  Missing      // no descriptor with the central header's sizes follows the data
};

// Where an entry's data lie, found from its local header.
struct EntryPlace {
  uint64_t dataOffset = 0;
  uint64_t end = 0;  // after the data and the data descriptor
  // Flag bit 3 in either header: the writer did not know the CRC when it
  // wrote the local header, so an encryption header's check byte may be the
  // DOS time's high byte instead of the CRC's.
  bool descriptorFlag = false;
  DescriptorState descriptor = DescriptorState::None;
  uint32_t descriptorCrc = 0;
};

struct EndRecord;
struct LocalHeader;

// Reads an archive through a fixed window, so reading a large central
// directory costs no more memory than reading a small one.
class ZipReader {
 public:
  explicit ZipReader(const fileio::ArchiveFile& file);

  // Finds the end of central directory record (and its ZIP64 form),
  // checks the directory's place and entry count against the file size, and
  // finds the shift of an archive whose offsets leave out bytes in front of
  // it.
  bool ReadEnd(ArchiveInfo& info, Problem& problem);

  // Reads the central header at `offset` (which it advances) as entry
  // `index`. The whole record must lie inside the directory. The entry's
  // local header offset includes the archive's shift.
  bool ReadCentral(const ArchiveInfo& info, uint64_t index, uint64_t& offset, CentralEntry& entry,
                   Problem& problem);

  // Checks the local header of `entry` against it and finds the entry's
  // data and data descriptor, which must end before the central directory.
  bool ReadLocal(const ArchiveInfo& info, const CentralEntry& entry, EntryPlace& place,
                 Problem& problem);

  const fileio::ArchiveFile& File() const { return file_; }

 private:
  // The `length` bytes at `offset`, or an empty span with `problem` set.
  std::span<const uint8_t> Read(uint64_t offset, size_t length, Problem& problem);
  // Whether the four bytes at `offset` are `signature`.
  bool SignatureAt(uint64_t offset, uint32_t signature);
  // Steps of ReadEnd: the ZIP64 end record, found through its locator, and
  // the shift of an archive behind a stub.
  bool ReadZip64End(EndRecord& end, Problem& problem);
  uint64_t FindShift(const EndRecord& end);
  // A step of ReadLocal: the local header with its name and extra field.
  bool ReadLocalHeader(const ArchiveInfo& info, const CentralEntry& entry, const std::string& label,
                       LocalHeader& local, Problem& problem);
  // Reads the data descriptor at `offset`, before `limit`, into `place`.
  void ReadDescriptor(const CentralEntry& entry, uint64_t offset, uint64_t limit,
                      EntryPlace& place);

  const fileio::ArchiveFile& file_;
  std::vector<uint8_t> window_;
  uint64_t windowOffset_ = 0;
  size_t windowLength_ = 0;
};

}  // namespace unzip32

#endif  // UNZIP32_ZIPDIRECTORY_H
