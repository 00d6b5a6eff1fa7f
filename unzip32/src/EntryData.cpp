#include "EntryData.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "TraditionalCrypto.h"
#include "unzip32.h"

namespace unzip32 {
namespace {

constexpr size_t kChunk = 256 * 1024;

// The read and inflate buffers, allocated once per thread and kept: an
// archive of many small entries would otherwise allocate and free them for
// every entry. Their size is fixed, so memory does not grow with the archive.
std::vector<uint8_t>& ScratchBuffer(int which) {
  thread_local std::vector<uint8_t> buffers[2] = {std::vector<uint8_t>(kChunk),
                                                  std::vector<uint8_t>(kChunk)};
  return buffers[which];
}
constexpr uint16_t kMethodAes = 99;

std::string Hex(uint32_t value) {
  char text[11];
  std::snprintf(text, sizeof text, "%08x", value);
  return text;
}

std::string MethodName(uint16_t method) {
  switch (method) {
    case 1:
      return "Shrunk";
    case 6:
      return "Imploded";
    case 9:
      return "Deflate64";
    case 12:
      return "BZip2";
    case 14:
      return "LZMA";
    case 93:
      return "Zstandard";
    case 95:
      return "XZ";
    case 98:
      return "PPMd";
    case kMethodAes:
      return "AES encryption";
    default:
      return "method " + std::to_string(method);
  }
}

// The reading side: the entry's compressed bytes in order, decrypted when a
// cipher is given.
class DataReader {
 public:
  DataReader(const fileio::ArchiveFile& file, uint64_t offset, uint64_t length,
             TraditionalCipher* cipher)
      : file_(file), offset_(offset), remaining_(length), cipher_(cipher) {}

  uint64_t Remaining() const { return remaining_; }

  // Fills `buffer` with up to `capacity` bytes; the count read, or 0 with
  // `problem` set at a read error. Only call while Remaining() > 0.
  size_t Next(uint8_t* buffer, size_t capacity, Problem& problem) {
    size_t length = static_cast<size_t>(std::min<uint64_t>(capacity, remaining_));
    fileio::Failure failure;
    if (!file_.ReadAt(offset_, buffer, length, failure)) {
      Fail(problem, UNZIP32_ERR_FORMAT, failure.text);
      return 0;
    }
    if (cipher_ != nullptr) cipher_->Decrypt(buffer, length);
    offset_ += length;
    remaining_ -= length;
    return length;
  }

 private:
  const fileio::ArchiveFile& file_;
  uint64_t offset_;
  uint64_t remaining_;
  TraditionalCipher* cipher_;  // null for an entry that is not encrypted
};

struct InflateStream {
  z_stream stream{};
  bool ready = false;
  ~InflateStream() {
    if (ready) inflateEnd(&stream);
  }
};

// Counts and checks what goes out, then passes it on.
class Output {
 public:
  Output(const CentralEntry& entry, Sink& sink) : entry_(entry), sink_(sink) {}

  bool Put(const uint8_t* data, size_t length, Problem& problem) {
    if (length > entry_.size - produced_) {
      return Fail(
          problem, UNZIP32_ERR_CRC,
          entry_.name + ": more data than the declared " + std::to_string(entry_.size) + " bytes");
    }
    produced_ += length;
    crc_ = crc32_z(crc_, data, length);
    std::string error;
    if (!sink_.Put(data, length, error)) return Fail(problem, UNZIP32_ERR_WRITE, error);
    return true;
  }

  bool Check(Problem& problem) const {
    if (produced_ != entry_.size) {
      return Fail(problem, UNZIP32_ERR_CRC,
                  entry_.name + ": " + std::to_string(produced_) + " bytes, the archive declares " +
                      std::to_string(entry_.size));
    }
    if (crc_ != entry_.crc) {
      return Fail(problem, UNZIP32_ERR_CRC, entry_.name + ": CRC error");
    }
    return true;
  }

  // Room for the next piece: one byte beyond the declared size, so that a
  // stream that goes on is noticed without being written.
  size_t Room(size_t capacity) const {
    return static_cast<size_t>(std::min<uint64_t>(capacity, entry_.size - produced_ + 1));
  }

 private:
  const CentralEntry& entry_;
  Sink& sink_;
  uint64_t produced_ = 0;
  uLong crc_ = crc32_z(0, nullptr, 0);
};

// Whether the entry can be decoded at all; else `problem` says why.
bool Decodable(const CentralEntry& entry, const EntryPlace& place, Problem& problem) {
  if (auto reason = UnsupportedReason(entry); !reason.empty()) {
    return Fail(problem, UNZIP32_ERR_UNSUPPORTED, entry.name + ": " + reason);
  }
  if (auto reason = ImpossibleSizeReason(entry); !reason.empty()) {
    return Fail(problem, UNZIP32_ERR_FORMAT, entry.name + ": " + reason);
  }
  // The descriptor is what a reader that goes through the local headers
  // alone checks the data against: when it disagrees with the central
  // header, one of the two does not describe the data, and the entry fails
  // before anything of it is written.
  if (auto reason = DescriptorReason(entry, place); !reason.empty()) {
    return Fail(problem, UNZIP32_ERR_CRC, entry.name + ": " + reason);
  }
  return true;
}

// A stored entry's data, as they are.
bool Copy(DataReader& reader, Output& output, Problem& problem) {
  std::vector<uint8_t>& input = ScratchBuffer(0);
  while (reader.Remaining() > 0) {
    size_t got = reader.Next(input.data(), input.size(), problem);
    if (got == 0) return false;
    if (!output.Put(input.data(), got, problem)) return false;
  }
  return true;
}

// A deflated entry's data, inflated up to the end of the deflate stream.
bool Inflate(DataReader& reader, Output& output, const std::string& name, Problem& problem) {
  std::vector<uint8_t>& input = ScratchBuffer(0);
  std::vector<uint8_t>& out = ScratchBuffer(1);
  InflateStream inflater;
  if (inflateInit2(&inflater.stream, -MAX_WBITS) != Z_OK) {
    return Fail(problem, UNZIP32_ERR_MEMORY, name + ": cannot start inflating");
  }
  inflater.ready = true;
  z_stream& stream = inflater.stream;
  for (;;) {
    if (stream.avail_in == 0 && reader.Remaining() > 0) {
      size_t got = reader.Next(input.data(), input.size(), problem);
      if (got == 0) return false;
      stream.next_in = input.data();
      stream.avail_in = static_cast<uInt>(got);
    }
    const size_t room = output.Room(out.size());
    stream.next_out = out.data();
    stream.avail_out = static_cast<uInt>(room);
    int status = inflate(&stream, Z_NO_FLUSH);
    const size_t produced = room - stream.avail_out;
    if (produced > 0 && !output.Put(out.data(), produced, problem)) return false;
    // The stream's end is the data's end. Bytes after it within the
    // compressed size are not read: the entry is delivered when its size and
    // CRC match, as Python's zipfile and Java deliver it and 7-Zip does with a
    // warning (bsdtar refuses it). None of the writers of the
    // interoperability test leaves such bytes; damaged and hand-made
    // archives have them.
    if (status == Z_STREAM_END) return true;
    if (status == Z_BUF_ERROR && stream.avail_in == 0 && reader.Remaining() == 0) {
      return Fail(problem, UNZIP32_ERR_CRC, name + ": compressed data ends early");
    }
    if (status != Z_OK && status != Z_BUF_ERROR) {
      const char* detail = stream.msg != nullptr ? stream.msg : "bad compressed data";
      return Fail(problem, status == Z_MEM_ERROR ? UNZIP32_ERR_MEMORY : UNZIP32_ERR_CRC,
                  name + ": " + detail);
    }
    if (status == Z_OK && produced == 0 && stream.avail_in == 0 && reader.Remaining() == 0) {
      return Fail(problem, UNZIP32_ERR_CRC, name + ": compressed data ends early");
    }
  }
}

}  // namespace

bool CrLfSink::Put(const uint8_t* data, size_t length, std::string& error) {
  size_t used = 0;
  for (size_t i = 0; i < length; ++i) {
    if (used + 2 > sizeof buffer_) {
      if (!next_.Put(buffer_, used, error)) return false;
      used = 0;
    }
    uint8_t c = data[i];
    if (c == '\n' && afterCr_) {
      afterCr_ = false;  // the LF of a CR LF was written with the CR
      continue;
    }
    afterCr_ = c == '\r';
    if (c == '\r' || c == '\n') {
      buffer_[used++] = '\r';
      buffer_[used++] = '\n';
    } else {
      buffer_[used++] = c;
    }
  }
  return used == 0 || next_.Put(buffer_, used, error);
}

std::string UnsupportedReason(const CentralEntry& entry) {
  if ((entry.flags & 0x0040) != 0 || (entry.flags & 0x2000) != 0) {
    return "strong encryption is not supported";
  }
  if (entry.method != kMethodStored && entry.method != kMethodDeflated) {
    return MethodName(entry.method) + " is not supported";
  }
  return {};
}

std::string ImpossibleSizeReason(const CentralEntry& entry) {
  uint64_t compressed = entry.compressedSize;
  if (entry.Encrypted()) {
    if (compressed < TraditionalCipher::kHeaderSize) {
      return "encrypted entry of " + std::to_string(compressed) +
             " bytes is shorter than its 12-byte header";
    }
    compressed -= TraditionalCipher::kHeaderSize;
  }
  if (entry.method == kMethodStored && compressed != entry.size) {
    return "stored entry declares " + std::to_string(entry.size) + " bytes but holds " +
           std::to_string(compressed);
  }
  // entry.size > kMaxDeflateRatio * compressed, written so it cannot overflow.
  if (entry.method == kMethodDeflated &&
      (entry.size / kMaxDeflateRatio > compressed ||
       (entry.size / kMaxDeflateRatio == compressed && entry.size % kMaxDeflateRatio != 0))) {
    return "declared size " + std::to_string(entry.size) + " is beyond what " +
           std::to_string(compressed) + " bytes of deflate data can hold";
  }
  return {};
}

std::string DescriptorReason(const CentralEntry& entry, const EntryPlace& place) {
  switch (place.descriptor) {
    case DescriptorState::None:
    case DescriptorState::Agrees:
      return {};
    case DescriptorState::CrcDiffers:
      return "the data descriptor's CRC " + Hex(place.descriptorCrc) +
             " differs from the central directory's " + Hex(entry.crc);
    case DescriptorState::Missing:
      return "no data descriptor with the sizes of the central directory (" +
             std::to_string(entry.compressedSize) + " compressed, " + std::to_string(entry.size) +
             ") follows the data";
  }
  return {};
}

bool PasswordPassesCheck(const fileio::ArchiveFile& file, const CentralEntry& entry,
                         const EntryPlace& place, std::string_view password, bool& passes,
                         Problem& problem) {
  uint8_t header[TraditionalCipher::kHeaderSize];
  fileio::Failure failure;
  if (!file.ReadAt(place.dataOffset, header, sizeof header, failure)) {
    return Fail(problem, UNZIP32_ERR_FORMAT, entry.name + ": " + failure.text);
  }
  TraditionalCipher cipher(password);
  cipher.Decrypt(header, sizeof header);
  const uint8_t check = header[sizeof header - 1];
  passes = check == static_cast<uint8_t>(entry.crc >> 24);
  // With a data descriptor the writer may not know the CRC yet when it writes
  // the header; such writers use the high byte of the DOS time instead.
  if (place.descriptorFlag && check == static_cast<uint8_t>(entry.dosTime >> 8)) {
    passes = true;
  }
  return true;
}

// Decoding in steps: refuse what cannot be decoded, start decrypting, copy
// or inflate, and check what came out.
bool DecodeEntry(const fileio::ArchiveFile& file, const CentralEntry& entry,
                 const EntryPlace& place, const std::optional<std::string>& password, Sink& sink,
                 Problem& problem) {
  if (!Decodable(entry, place, problem)) return false;
  std::optional<TraditionalCipher> cipher;
  if (entry.Encrypted()) {
    if (!password) return Fail(problem, UNZIP32_ERR_PASSWORD, entry.name + ": no password");
    cipher.emplace(*password);
  }
  DataReader reader(file, place.dataOffset, entry.compressedSize, cipher ? &*cipher : nullptr);
  // The encryption header in front of the data only moves the keys on.
  uint8_t header[TraditionalCipher::kHeaderSize];
  if (cipher && reader.Next(header, sizeof header, problem) != sizeof header) return false;
  Output output(entry, sink);
  const bool decoded = entry.method == kMethodStored ? Copy(reader, output, problem)
                                                     : Inflate(reader, output, entry.name, problem);
  return decoded && output.Check(problem);
}

}  // namespace unzip32
