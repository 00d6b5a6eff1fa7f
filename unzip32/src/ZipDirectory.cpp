#include "ZipDirectory.h"

#include <algorithm>
#include <string_view>

#include "ByteCursor.h"
#include "unzip32.h"

namespace unzip32 {

// What the end records say (the ZIP64 one's values, when there is one, in
// place of the end record's), before it is checked against the file. Filled
// whole where a record is read, so only what a record may leave out has a
// default.
struct EndRecord {
  uint64_t offset;  // of the end record
  uint32_t disk;
  uint32_t directoryDisk;
  uint64_t entriesHere;
  uint64_t entryCount;
  uint64_t directorySize;
  uint64_t directoryOffset;
  uint64_t directoryLimit;  // the directory ends before this: the first end record
  bool zip64 = false;
  uint64_t zip64Shift = 0;  // how far the ZIP64 end record is behind its stated place
};

// What a local header says. The name and the extra field lie in the
// reader's window: valid until its next read.
struct LocalHeader {
  uint16_t flags;
  uint16_t method;
  uint32_t crc;
  uint64_t compressedSize;
  uint64_t size;
  std::string_view name;
  std::span<const uint8_t> extra;
  uint64_t dataOffset;  // where the entry's data begin
};

namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kEndSize = 22;
constexpr size_t kZip64EndSize = 56;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kCentralSize = 46;
constexpr size_t kLocalSize = 30;
constexpr size_t kMaxComment = 0xffff;
constexpr size_t kWindow = 64 * 1024;
constexpr uint32_t kSentinel32 = 0xffffffff;
constexpr uint16_t kZip64ExtraId = 0x0001;

constexpr uint32_t kDescriptorSignature = 0x08074b50;
constexpr uint16_t kFlagDescriptor = 0x0008;

// Flag bits that change how the data must be read: encryption, strong
// encryption, encrypted directory. The central and the local header must
// agree on them. The other bits may differ, and real writers let them:
// - bit 3 (sizes and CRC in a data descriptor) in one header only: a
//   streaming writer's local header has it; when the writer later learns the
//   sizes (a seekable output) it may leave it out of the central header, or
//   fill the local header in afterwards and set it in the central one only.
//   What the local header says decides whether a descriptor follows the data.
// - bits 1-2 (the deflate level used), informative only: writers that set
//   them from the level may do so in one header.
// - bit 11 (names in UTF-8): writers that decide it per header.
// All three were seen in archives of other zip projects' test suites.
constexpr uint16_t kSignificantFlags = 0x0001 | 0x0040 | 0x2000;

std::string EntryLabel(const CentralEntry& entry) {
  return "entry " + std::to_string(entry.index) + " (" + entry.name + ")";
}

// Replaces the 32-bit sizes and offset that hold the ZIP64 sentinel by the
// 64-bit values of the ZIP64 extra field, which holds exactly the values
// whose 32-bit field is the sentinel, in this order.
bool ApplyZip64Extra(std::span<const uint8_t> extra, bool wantSize, bool wantCompressed,
                     bool wantOffset, uint64_t& size, uint64_t& compressed, uint64_t& offset,
                     std::string& error) {
  ByteCursor cursor(extra);
  while (cursor.remaining() >= 4) {
    uint16_t id = cursor.U16();
    uint16_t length = cursor.U16();
    if (!cursor.Has(length)) {
      error = "extra field " + std::to_string(id) + " needs " + std::to_string(length) +
              " bytes, " + std::to_string(cursor.remaining()) + " left";
      return false;
    }
    ByteCursor field(cursor.Bytes(length));
    if (id != kZip64ExtraId) continue;
    if (wantSize) size = field.U64();
    if (wantCompressed) compressed = field.U64();
    if (wantOffset) offset = field.U64();
    if (!field.ok()) {
      error = "ZIP64 extra field of " + std::to_string(length) + " bytes is too short";
      return false;
    }
    return true;
  }
  if (wantSize || wantCompressed || wantOffset) {
    error = "ZIP64 extra field missing";
    return false;
  }
  return true;
}

// Where the end record starts in `tail`, the last bytes of the file; SIZE_MAX
// when there is none. Searched backwards. A comment may itself hold the
// signature, so a record whose comment ends exactly at the end of the file
// wins; one followed by a few stray bytes is taken only when there is no
// exact one.
size_t FindEndRecord(std::span<const uint8_t> tail) {
  size_t found = SIZE_MAX;
  for (size_t pos = tail.size() - kEndSize + 1; pos-- > 0;) {
    ByteCursor cursor(tail.subspan(pos));
    if (cursor.U32() != kEndSignature) continue;
    cursor.Skip(16);
    const uint16_t commentLength = cursor.U16();
    if (pos + kEndSize + commentLength == tail.size()) return pos;
    if (pos + kEndSize + commentLength < tail.size() && found == SIZE_MAX) found = pos;
  }
  return found;
}

// The end record at `offset`, whose bytes (and its comment's) begin `bytes`.
EndRecord ReadEndRecord(std::span<const uint8_t> bytes, uint64_t offset, std::string& comment) {
  ByteCursor cursor(bytes);
  cursor.Skip(4);
  // Read in the order of the fields: a braced list is evaluated in order.
  const EndRecord end = {.offset = offset,
                         .disk = cursor.U16(),
                         .directoryDisk = cursor.U16(),
                         .entriesHere = cursor.U16(),
                         .entryCount = cursor.U16(),
                         .directorySize = cursor.U32(),
                         .directoryOffset = cursor.U32(),
                         .directoryLimit = offset};
  const uint16_t commentLength = cursor.U16();
  comment = std::string(cursor.Text(commentLength));
  return end;
}

// What the end records say, held against the file: one part, a directory
// that fits before them, and no more entries than fit in the directory.
bool CheckEnd(const EndRecord& end, Problem& problem) {
  if (end.disk != 0 || end.directoryDisk != 0 || end.entriesHere != end.entryCount) {
    return Fail(problem, UNZIP32_ERR_UNSUPPORTED, "archives split over several parts");
  }
  if (end.directoryOffset > end.directoryLimit ||
      end.directorySize > end.directoryLimit - end.directoryOffset) {
    return Fail(problem, UNZIP32_ERR_FORMAT,
                "central directory of " + std::to_string(end.directorySize) + " bytes at offset " +
                    std::to_string(end.directoryOffset) + " does not fit before offset " +
                    std::to_string(end.directoryLimit));
  }
  if (end.entryCount > end.directorySize / kCentralSize) {
    return Fail(problem, UNZIP32_ERR_FORMAT,
                std::to_string(end.entryCount) + " entries cannot fit in a central directory of " +
                    std::to_string(end.directorySize) + " bytes");
  }
  return true;
}

// Whether the local header describes the entry as its central header does.
bool MatchesCentral(const LocalHeader& local, const CentralEntry& entry, const std::string& label,
                    Problem& problem) {
  if (local.name != entry.name) {
    return Fail(problem, UNZIP32_ERR_FORMAT, label + ": name differs from the central directory");
  }
  if (local.method != entry.method) {
    return Fail(problem, UNZIP32_ERR_FORMAT,
                label + ": method " + std::to_string(local.method) + ", central directory says " +
                    std::to_string(entry.method));
  }
  if ((local.flags & kSignificantFlags) != (entry.flags & kSignificantFlags)) {
    return Fail(problem, UNZIP32_ERR_FORMAT,
                label + ": encryption flags differ from the central directory");
  }
  // A local header with bit 3 defers CRC and sizes to the descriptor, which
  // is held to the central header instead (writers put zeros, or only some
  // of the values, in the local header then).
  if ((local.flags & kFlagDescriptor) != 0) return true;
  uint64_t size = local.size;
  uint64_t compressedSize = local.compressedSize;
  uint64_t unused = 0;
  std::string error;
  if (!ApplyZip64Extra(local.extra, size == kSentinel32, compressedSize == kSentinel32, false, size,
                       compressedSize, unused, error)) {
    return Fail(problem, UNZIP32_ERR_FORMAT, label + ": " + error);
  }
  if (local.crc != entry.crc || size != entry.size || compressedSize != entry.compressedSize) {
    return Fail(problem, UNZIP32_ERR_FORMAT,
                label + ": CRC or sizes differ from the central directory");
  }
  return true;
}

}  // namespace

ZipReader::ZipReader(const fileio::ArchiveFile& file) : file_(file) {}

std::span<const uint8_t> ZipReader::Read(uint64_t offset, size_t length, Problem& problem) {
  const uint64_t fileSize = file_.Size();
  if (offset > fileSize || length > fileSize - offset) {
    Fail(problem, UNZIP32_ERR_FORMAT,
         "need " + std::to_string(length) + " bytes at offset " + std::to_string(offset) +
             ", the archive has " + std::to_string(fileSize));
    return {};
  }
  if (offset >= windowOffset_ && offset - windowOffset_ <= windowLength_ &&
      length <= windowLength_ - (offset - windowOffset_)) {
    return {window_.data() + (offset - windowOffset_), length};
  }
  size_t want = std::max(length, kWindow);
  want = static_cast<size_t>(std::min<uint64_t>(want, fileSize - offset));
  if (window_.size() < want) window_.resize(want);
  fileio::Failure failure;
  windowLength_ = 0;
  if (!file_.ReadAt(offset, window_.data(), want, failure)) {
    Fail(problem, UNZIP32_ERR_OPEN, failure.text);
    return {};
  }
  windowOffset_ = offset;
  windowLength_ = want;
  return {window_.data(), length};
}

// Reading the end of an archive, in steps: find the end record, read it,
// read the ZIP64 records that replace its values, check what they say
// against the file, and find the shift of an archive behind a stub.
bool ZipReader::ReadEnd(ArchiveInfo& info, Problem& problem) {
  const uint64_t fileSize = file_.Size();
  if (fileSize < kEndSize) {
    return Fail(problem, UNZIP32_ERR_FORMAT,
                "not a zip archive: " + std::to_string(fileSize) + " bytes, less than the " +
                    std::to_string(kEndSize) + " of an end record");
  }
  // The record ends the file, but a comment of up to 64 KiB may follow it.
  const size_t tailLength =
      static_cast<size_t>(std::min<uint64_t>(fileSize, kEndSize + kMaxComment));
  const uint64_t tailOffset = fileSize - tailLength;
  auto tail = Read(tailOffset, tailLength, problem);
  if (tail.empty()) return false;
  const size_t found = FindEndRecord(tail);
  if (found == SIZE_MAX) {
    return Fail(problem, UNZIP32_ERR_FORMAT,
                "not a zip archive: no end of central directory record");
  }
  EndRecord end = ReadEndRecord(tail.subspan(found), tailOffset + found, info.comment);
  if (!ReadZip64End(end, problem) || !CheckEnd(end, problem)) return false;
  const uint64_t shift = FindShift(end);
  if (end.zip64 && end.zip64Shift != shift) {
    return Fail(problem, UNZIP32_ERR_FORMAT,
                "the ZIP64 end record is " + std::to_string(end.zip64Shift) +
                    " bytes behind its place, the central directory " + std::to_string(shift));
  }
  info.entryCount = end.entryCount;
  info.directoryOffset = end.directoryOffset + shift;
  info.directorySize = end.directorySize;
  info.shift = shift;
  return true;
}

// A ZIP64 locator right before the end record points at the ZIP64 end
// record, whose 64-bit values replace the end record's.
bool ZipReader::ReadZip64End(EndRecord& end, Problem& problem) {
  if (end.offset < kZip64LocatorSize) return true;
  const uint64_t locatorOffset = end.offset - kZip64LocatorSize;
  Problem ignored;
  auto locatorBytes = Read(locatorOffset, kZip64LocatorSize, ignored);
  ByteCursor locator(locatorBytes);
  if (locatorBytes.empty() || locator.U32() != kZip64LocatorSignature) return true;
  const uint32_t recordDisk = locator.U32();
  uint64_t recordOffset = locator.U64();
  const uint32_t diskCount = locator.U32();
  if (recordDisk != 0 || diskCount > 1) {
    return Fail(problem, UNZIP32_ERR_UNSUPPORTED, "archives split over several parts");
  }
  if (recordOffset > locatorOffset || locatorOffset - recordOffset < kZip64EndSize) {
    return Fail(problem, UNZIP32_ERR_FORMAT,
                "ZIP64 end record at " + std::to_string(recordOffset) +
                    " does not fit before the locator at " + std::to_string(locatorOffset));
  }
  // Behind a stub, the locator's offset may leave out the stub too (see
  // FindShift); the record then sits right before the locator.
  const uint64_t besideLocator = locatorOffset - kZip64EndSize;
  if (!SignatureAt(recordOffset, kZip64EndSignature) &&
      SignatureAt(besideLocator, kZip64EndSignature)) {
    end.zip64Shift = besideLocator - recordOffset;
    recordOffset = besideLocator;
  }
  auto recordBytes = Read(recordOffset, kZip64EndSize, problem);
  if (recordBytes.empty()) return false;
  ByteCursor record(recordBytes);
  if (record.U32() != kZip64EndSignature) {
    return Fail(problem, UNZIP32_ERR_FORMAT,
                "no ZIP64 end record at " + std::to_string(recordOffset));
  }
  record.Skip(8 + 2 + 2);  // record size, versions
  end = {.offset = end.offset,
         .disk = record.U32(),
         .directoryDisk = record.U32(),
         .entriesHere = record.U64(),
         .entryCount = record.U64(),
         .directorySize = record.U64(),
         .directoryOffset = record.U64(),
         .directoryLimit = recordOffset,
         .zip64 = true,
         .zip64Shift = end.zip64Shift};
  return true;
}

// An archive put behind a stub by concatenation (self-extractors and
// installers made with "copy /b stub.exe+archive.zip" or "cat") keeps the
// offsets it had alone: they leave out the stub. The directory then ends
// before the end record by the stub's length, and is found that far behind
// the place the end record gives. Taken only when no directory is at the
// given place, so no archive that reads without a shift reads differently
// with one. The shift is never negative: offsets that point past the
// directory's real place were refused by CheckEnd.
uint64_t ZipReader::FindShift(const EndRecord& end) {
  const uint64_t gap = end.directoryLimit - end.directoryOffset - end.directorySize;
  if (gap > 0 && end.entryCount > 0 && !SignatureAt(end.directoryOffset, kCentralSignature) &&
      SignatureAt(end.directoryOffset + gap, kCentralSignature)) {
    return gap;
  }
  return 0;
}

bool ZipReader::ReadCentral(const ArchiveInfo& info, uint64_t index, uint64_t& offset,
                            CentralEntry& entry, Problem& problem) {
  const uint64_t directoryEnd = info.directoryOffset + info.directorySize;
  const std::string label = "central header of entry " + std::to_string(index);
  if (offset > directoryEnd || directoryEnd - offset < kCentralSize) {
    return Fail(problem, UNZIP32_ERR_FORMAT,
                label + ": need " + std::to_string(kCentralSize) + " bytes, the directory has " +
                    std::to_string(offset > directoryEnd ? 0 : directoryEnd - offset));
  }
  auto fixed = Read(offset, kCentralSize, problem);
  if (fixed.empty()) return false;
  ByteCursor cursor(fixed);
  if (cursor.U32() != kCentralSignature) {
    return Fail(problem, UNZIP32_ERR_FORMAT, label + ": bad signature");
  }
  entry = CentralEntry{};
  entry.index = index;
  entry.madeBy = cursor.U16();
  cursor.Skip(2);  // version needed
  entry.flags = cursor.U16();
  entry.method = cursor.U16();
  entry.dosTime = cursor.U16();
  entry.dosDate = cursor.U16();
  entry.crc = cursor.U32();
  entry.compressedSize = cursor.U32();
  entry.size = cursor.U32();
  uint16_t nameLength = cursor.U16();
  uint16_t extraLength = cursor.U16();
  uint16_t commentLength = cursor.U16();
  cursor.Skip(2);  // first disk: checked for the whole archive
  entry.internalAttributes = cursor.U16();
  entry.externalAttributes = cursor.U32();
  entry.localOffset = cursor.U32();

  const size_t variable = size_t{nameLength} + extraLength + commentLength;
  if (directoryEnd - offset - kCentralSize < variable) {
    return Fail(problem, UNZIP32_ERR_FORMAT,
                label + ": need " + std::to_string(variable) +
                    " bytes of name, extra field and comment, the directory has " +
                    std::to_string(directoryEnd - offset - kCentralSize));
  }
  auto rest = Read(offset + kCentralSize, variable, problem);
  if (rest.size() != variable) return false;
  ByteCursor tail(rest);
  entry.name = std::string(tail.Text(nameLength));
  auto extra = tail.Bytes(extraLength);
  std::string error;
  if (!ApplyZip64Extra(extra, entry.size == kSentinel32, entry.compressedSize == kSentinel32,
                       entry.localOffset == kSentinel32, entry.size, entry.compressedSize,
                       entry.localOffset, error)) {
    return Fail(problem, UNZIP32_ERR_FORMAT, label + ": " + error);
  }
  // Written so that a huge offset cannot wrap around when shifted.
  if (entry.localOffset > info.directoryOffset - info.shift) {
    return Fail(problem, UNZIP32_ERR_FORMAT,
                label + ": local header offset " + std::to_string(entry.localOffset) +
                    (info.shift > 0 ? " (plus " + std::to_string(info.shift) + ")" : "") +
                    " is beyond the central directory at " + std::to_string(info.directoryOffset));
  }
  entry.localOffset += info.shift;
  offset += kCentralSize + variable;
  return true;
}

bool ZipReader::SignatureAt(uint64_t offset, uint32_t signature) {
  Problem ignored;
  auto bytes = Read(offset, 4, ignored);
  return !bytes.empty() && ByteCursor(bytes).U32() == signature;
}

// Reading an entry's local header, in steps: read it, hold it to the
// central header, and find where the data and the data descriptor end.
bool ZipReader::ReadLocal(const ArchiveInfo& info, const CentralEntry& entry, EntryPlace& place,
                          Problem& problem) {
  const std::string label = "local header of " + EntryLabel(entry);
  LocalHeader local{};
  if (!ReadLocalHeader(info, entry, label, local, problem) ||
      !MatchesCentral(local, entry, label, problem)) {
    return false;
  }
  place = EntryPlace{};
  place.dataOffset = local.dataOffset;
  if (entry.compressedSize > info.directoryOffset - place.dataOffset) {
    return Fail(problem, UNZIP32_ERR_FORMAT,
                EntryLabel(entry) + ": " + std::to_string(entry.compressedSize) +
                    " bytes of data at offset " + std::to_string(place.dataOffset) +
                    " run into the central directory at " + std::to_string(info.directoryOffset));
  }
  place.end = place.dataOffset + entry.compressedSize;
  const bool deferred = (local.flags & kFlagDescriptor) != 0;
  place.descriptorFlag = deferred || (entry.flags & kFlagDescriptor) != 0;
  if (deferred) ReadDescriptor(entry, place.end, info.directoryOffset, place);
  return true;
}

// The local header of `entry`, which must lie, with its name and extra
// field, before the central directory.
bool ZipReader::ReadLocalHeader(const ArchiveInfo& info, const CentralEntry& entry,
                                const std::string& label, LocalHeader& local, Problem& problem) {
  if (entry.localOffset > info.directoryOffset ||
      info.directoryOffset - entry.localOffset < kLocalSize) {
    return Fail(problem, UNZIP32_ERR_FORMAT,
                label + ": offset " + std::to_string(entry.localOffset) +
                    " leaves no room before the central directory at " +
                    std::to_string(info.directoryOffset));
  }
  auto fixed = Read(entry.localOffset, kLocalSize, problem);
  if (fixed.empty()) return false;
  ByteCursor cursor(fixed);
  if (cursor.U32() != kLocalSignature) {
    return Fail(problem, UNZIP32_ERR_FORMAT, label + ": bad signature");
  }
  cursor.Skip(2);  // version needed
  const uint16_t flags = cursor.U16();
  const uint16_t method = cursor.U16();
  cursor.Skip(4);  // time and date: the central header's are used
  const uint32_t crc = cursor.U32();
  const uint64_t compressedSize = cursor.U32();
  const uint64_t size = cursor.U32();
  const uint16_t nameLength = cursor.U16();
  const uint16_t extraLength = cursor.U16();

  const uint64_t headerEnd = entry.localOffset + kLocalSize;
  const size_t variable = size_t{nameLength} + extraLength;
  if (info.directoryOffset - headerEnd < variable) {
    return Fail(problem, UNZIP32_ERR_FORMAT,
                label + ": name and extra field of " + std::to_string(variable) +
                    " bytes run into the central directory");
  }
  auto rest = Read(headerEnd, variable, problem);
  if (rest.size() != variable) return false;
  ByteCursor tail(rest);
  local = {.flags = flags,
           .method = method,
           .crc = crc,
           .compressedSize = compressedSize,
           .size = size,
           .name = tail.Text(nameLength),
           .extra = tail.Bytes(extraLength),
           .dataOffset = headerEnd + variable};
  return true;
}

void ZipReader::ReadDescriptor(const CentralEntry& entry, uint64_t offset, uint64_t limit,
                               EntryPlace& place) {
  // A descriptor is CRC, compressed size and size, with or without a
  // signature in front, with 4-byte sizes or (ZIP64) 8-byte ones, and the
  // headers do not say which: writers choose 8-byte sizes with a ZIP64
  // extra field in the local header (bsdtar, Python's zipfile) or without
  // one (Java, for entries of 4 GiB and more). So every form is tried
  // against the central header's values, the shortest first: where two
  // forms fit, the shorter claims no byte that could begin the next header.
  struct Form {
    size_t length;
    bool signature;
    bool wide;
  };
  static constexpr Form kForms[] = {
      {12, false, false}, {16, true, false}, {20, false, true}, {24, true, true}};
  Problem ignored;
  auto bytes = Read(offset, static_cast<size_t>(std::min<uint64_t>(24, limit - offset)), ignored);
  place.descriptor = DescriptorState::Missing;
  for (const Form& form : kForms) {
    if (form.length > bytes.size()) continue;
    ByteCursor cursor(bytes);
    if (form.signature && cursor.U32() != kDescriptorSignature) continue;
    const uint32_t crc = cursor.U32();
    const uint64_t compressedSize = form.wide ? cursor.U64() : cursor.U32();
    const uint64_t size = form.wide ? cursor.U64() : cursor.U32();
    if (compressedSize != entry.compressedSize || size != entry.size) continue;
    if (crc == entry.crc || place.descriptor == DescriptorState::Missing) {
      place.descriptor = crc == entry.crc ? DescriptorState::Agrees : DescriptorState::CrcDiffers;
      place.descriptorCrc = crc;
      place.end = offset + form.length;
    }
    if (crc == entry.crc) return;
  }
}

}  // namespace unzip32
