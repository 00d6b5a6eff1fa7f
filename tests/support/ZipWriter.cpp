#include "support/ZipWriter.h"

#include <zlib.h>

#include <algorithm>
#include <fstream>
#include <stdexcept>

namespace qv::test {

namespace {

constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr uint32_t kCentralSignature = 0x02014b50;
constexpr uint32_t kDescriptorSignature = 0x08074b50;
constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint16_t kFlagEncrypted = 1;
constexpr uint16_t kFlagDescriptor = 8;
constexpr uint32_t kMax32 = 0xFFFFFFFFu;

uint32_t CrcTableEntry(uint32_t index) {
  uint32_t c = index;
  for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
  return c;
}

uint32_t CrcByte(uint32_t crc, uint8_t byte) {
  static const auto table = [] {
    std::vector<uint32_t> t(256);
    for (uint32_t i = 0; i < 256; ++i) t[i] = CrcTableEntry(i);
    return t;
  }();
  return table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

uint16_t DosTime(const ZipTime& t) {
  return static_cast<uint16_t>((t.hour << 11) | (t.minute << 5) | (t.second / 2));
}

uint16_t DosDate(const ZipTime& t) {
  return static_cast<uint16_t>(((t.year - 1980) << 9) | (t.month << 5) | t.day);
}

uint32_t Low32(uint64_t value) {
  return static_cast<uint32_t>(value);
}

// Everything about one entry that does not depend on where it lands.
struct Prepared {
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc = 0;
  uint64_t size = 0;
  uint64_t compressedSize = 0;
  bool zip64 = false;
  std::string header;  // local header with name and extra field
  std::string payload;
  std::string descriptor;
  std::string Record() const { return header + payload + descriptor; }
};

}  // namespace

std::string Le16(uint16_t value) {
  return {static_cast<char>(value & 0xFF), static_cast<char>(value >> 8)};
}

std::string Le32(uint32_t value) {
  return Le16(static_cast<uint16_t>(value & 0xFFFF)) + Le16(static_cast<uint16_t>(value >> 16));
}

std::string Le64(uint64_t value) {
  return Le32(Low32(value)) + Le32(static_cast<uint32_t>(value >> 32));
}

std::string ExtraField(uint16_t id, const std::string& payload) {
  return Le16(id) + Le16(static_cast<uint16_t>(payload.size())) + payload;
}

std::string AesExtraField(uint16_t actualMethod) {
  // Version 2, vendor "AE", strength 3 (256 bits), then the real method.
  return ExtraField(0x9901, Le16(2) + "AE" + std::string(1, '\x03') + Le16(actualMethod));
}

uint32_t Crc32(const std::string& data) {
  uint32_t crc = 0xFFFFFFFFu;
  for (char c : data) crc = CrcByte(crc, static_cast<uint8_t>(c));
  return crc ^ 0xFFFFFFFFu;
}

std::string Deflate(const std::string& data, int level) {
  z_stream stream{};
  if (deflateInit2(&stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
    throw std::runtime_error("deflateInit2 failed");
  }
  std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 16, '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  stream.avail_in = static_cast<uInt>(data.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&stream, Z_FINISH);
  const auto produced = static_cast<size_t>(stream.total_out);
  deflateEnd(&stream);
  if (rc != Z_STREAM_END) throw std::runtime_error("deflate did not finish");
  out.resize(produced);
  return out;
}

namespace {

// Deflate's bits, least significant first; Huffman codes go in from their
// first bit.
class BitWriter {
 public:
  void Bits(uint32_t value, int count) {
    for (int i = 0; i < count; ++i) Bit((value >> i) & 1);
  }
  void Code(uint32_t code, int length) {
    for (int i = length; i-- > 0;) Bit((code >> i) & 1);
  }
  void ZeroBits(uint64_t count) {
    while (count > 0 && used_ != 0) {
      Bit(0);
      --count;
    }
    out_.append(static_cast<size_t>(count / 8), '\0');
    Bits(0, static_cast<int>(count % 8));
  }
  std::string Finish() {
    if (used_ != 0) out_ += static_cast<char>(current_);
    used_ = 0;
    return out_;
  }

 private:
  void Bit(uint32_t bit) {
    current_ = static_cast<uint8_t>(current_ | (bit << used_));
    if (++used_ == 8) {
      out_ += static_cast<char>(current_);
      current_ = 0;
      used_ = 0;
    }
  }
  std::string out_;
  uint8_t current_ = 0;
  int used_ = 0;
};

}  // namespace

std::string DeflateZerosAtTheCeiling(uint64_t zeros) {
  // Literal/length code: 285 (a 258-byte match) "0", the literal 0 "10",
  // end of block "11". Distance code: 0 (distance 1) "0". Their lengths are
  // sent with the code-length code 18 (a run of 11-138 zeros) "0", 1 "10",
  // 2 "11".
  BitWriter w;
  w.Bits(1, 1);   // last block
  w.Bits(2, 2);   // dynamic Huffman codes
  w.Bits(29, 5);  // 286 literal/length codes
  w.Bits(0, 5);   // 1 distance code
  w.Bits(14, 4);  // 18 code-length code lengths, in their fixed order:
  // 16 17 18 0 8 7 9 6 10 5 11 4 12 3 13 2 14 1
  for (const char length : std::string("001000000000000202")) w.Bits(uint32_t(length - '0'), 3);
  const auto zeroRun = [&](uint32_t run) {
    w.Code(0, 1);
    w.Bits(run - 11, 7);
  };
  w.Code(3, 2);  // literal 0: length 2
  zeroRun(138);  // literals 1-138
  zeroRun(117);  // literals 139-255
  w.Code(3, 2);  // end of block: length 2
  zeroRun(28);   // lengths 257-284
  w.Code(2, 2);  // 285: length 1
  w.Code(2, 2);  // distance 0: length 1
  if (zeros > 0) {
    w.Code(2, 2);  // the first zero, a literal
    const uint64_t matches = (zeros - 1) / 258;
    w.ZeroBits(matches * 2);
    for (uint64_t rest = (zeros - 1) % 258; rest > 0; --rest) w.Code(2, 2);
  }
  w.Code(3, 2);  // end of block
  return w.Finish();
}

uint32_t Crc32OfZeros(uint64_t zeros) {
  const std::string block(1 << 20, '\0');
  const uLong blockCrc =
      crc32(0, reinterpret_cast<const Bytef*>(block.data()), static_cast<uInt>(block.size()));
  uLong crc = crc32(0, nullptr, 0);
  for (uint64_t left = zeros; left > 0;) {
    const uint64_t piece = std::min<uint64_t>(left, block.size());
    crc = piece == block.size()
              ? crc32_combine(crc, blockCrc, static_cast<z_off_t>(piece))
              : crc32(crc, reinterpret_cast<const Bytef*>(block.data()), static_cast<uInt>(piece));
    left -= piece;
  }
  return static_cast<uint32_t>(crc);
}

ZipCrypto::ZipCrypto(const std::string& password) : keys_{0x12345678u, 0x23456789u, 0x34567890u} {
  for (char c : password) Update(static_cast<uint8_t>(c));
}

uint8_t ZipCrypto::StreamByte() const {
  const uint32_t temp = (keys_[2] | 2u) & 0xFFFFu;
  return static_cast<uint8_t>((temp * (temp ^ 1u)) >> 8);
}

void ZipCrypto::Update(uint8_t plain) {
  keys_[0] = CrcByte(keys_[0], plain);
  keys_[1] = (keys_[1] + (keys_[0] & 0xFFu)) * 134775813u + 1u;
  keys_[2] = CrcByte(keys_[2], static_cast<uint8_t>(keys_[1] >> 24));
}

std::string ZipCrypto::Encrypt(const std::string& plain) {
  std::string out(plain.size(), '\0');
  for (size_t i = 0; i < plain.size(); ++i) {
    const auto p = static_cast<uint8_t>(plain[i]);
    out[i] = static_cast<char>(p ^ StreamByte());
    Update(p);
  }
  return out;
}

std::string ZipCrypto::Decrypt(const std::string& cipher) {
  std::string out(cipher.size(), '\0');
  for (size_t i = 0; i < cipher.size(); ++i) {
    const auto p = static_cast<uint8_t>(static_cast<uint8_t>(cipher[i]) ^ StreamByte());
    out[i] = static_cast<char>(p);
    Update(p);
  }
  return out;
}

ZipWriter::ZipWriter() {
  headerSource_ = [state = uint32_t{0x2545F491u}]() mutable {
    state = state * 1664525u + 1013904223u;
    return static_cast<uint8_t>(state >> 24);
  };
}

ZipEntry& ZipWriter::Add(std::string name, std::string data, uint16_t method) {
  ZipEntry entry;
  entry.name = std::move(name);
  entry.data = std::move(data);
  entry.method = method;
  entries_.push_back(std::move(entry));
  return entries_.back();
}

ZipEntry& ZipWriter::AddFolder(std::string name) {
  if (name.empty() || (name.back() != '/' && name.back() != '\\')) name += '/';
  ZipEntry& entry = Add(std::move(name), "", kStored);
  entry.unixMode = kModeFolder | 0755;
  return entry;
}

ZipEntry& ZipWriter::AddSymlink(std::string name, std::string target) {
  ZipEntry& entry = Add(std::move(name), std::move(target), kStored);
  entry.unixMode = kModeSymlink | 0777;
  return entry;
}

std::string ZipWriter::Build() const {
  const size_t count = entries_.size();
  std::vector<Prepared> prepared(count);
  // From the last entry back, so an entry that holds the next one's record
  // finds it ready.
  for (size_t n = count; n-- > 0;) {
    const ZipEntry& e = entries_[n];
    Prepared& p = prepared[n];
    if (e.sameDataAs) continue;
    std::string data = e.data;
    p.method = e.method;
    if (e.containsNext) {
      if (n + 1 >= count) throw std::logic_error("containsNext on the last entry");
      data = prepared[n + 1].Record();
      p.method = kStored;
    }
    p.crc = Crc32(data);
    p.size = data.size();
    std::string stored = e.rawPayload            ? *e.rawPayload
                         : p.method == kDeflated ? Deflate(data)
                                                 : data;
    p.flags = e.addFlags;
    if (e.dataDescriptor) p.flags |= kFlagDescriptor;
    if (!e.password.empty()) {
      p.flags |= kFlagEncrypted;
      std::string header(12, '\0');
      for (size_t i = 0; i < 11; ++i) header[i] = static_cast<char>(headerSource_());
      // The check byte: the CRC's high byte, or the time's high byte when the
      // CRC is only known after the data (descriptor).
      header[11] = e.dataDescriptor ? static_cast<char>(DosTime(e.time) >> 8)
                                    : static_cast<char>(p.crc >> 24);
      ZipCrypto crypto(e.password);
      stored = crypto.Encrypt(header + stored);
    }
    p.compressedSize = stored.size();
    p.payload = std::move(stored);
    if (e.crc) p.crc = *e.crc;
    if (e.size) p.size = *e.size;
    if (e.compressedSize) p.compressedSize = *e.compressedSize;
    p.zip64 = e.zip64 || p.size >= kMax32 || p.compressedSize >= kMax32;

    const ZipHeaderOverride& o = e.local;
    const std::string name = o.name.value_or(e.name);
    const uint16_t flags = o.flags.value_or(p.flags);
    const uint32_t crc = o.crc.value_or(p.crc);
    const uint64_t size = o.size.value_or(p.size);
    const uint64_t compressedSize = o.compressedSize.value_or(p.compressedSize);
    const bool later = (flags & kFlagDescriptor) != 0;  // a descriptor follows the data
    std::string extra;
    if (p.zip64) extra += ExtraField(1, Le64(later ? 0 : size) + Le64(later ? 0 : compressedSize));
    extra += e.localExtra;
    std::string& h = p.header;
    h += Le32(kLocalSignature);
    h += Le16(p.zip64 ? 45 : 20);
    h += Le16(flags);
    h += Le16(o.method.value_or(p.method));
    h += Le16(DosTime(e.time));
    h += Le16(DosDate(e.time));
    h += Le32(later ? 0 : crc);
    h += Le32(later ? 0 : (p.zip64 ? kMax32 : Low32(compressedSize)));
    h += Le32(later ? 0 : (p.zip64 ? kMax32 : Low32(size)));
    h += Le16(static_cast<uint16_t>(name.size()));
    h += Le16(static_cast<uint16_t>(extra.size()));
    h += name;
    h += extra;
    if (later) {
      const ZipHeaderOverride& d = e.descriptor;
      const uint64_t dSize = d.size.value_or(p.size);
      const uint64_t dCompressed = d.compressedSize.value_or(p.compressedSize);
      p.descriptor = e.descriptorSignature ? Le32(kDescriptorSignature) : "";
      p.descriptor += Le32(d.crc.value_or(p.crc));
      p.descriptor +=
          p.zip64 ? Le64(dCompressed) + Le64(dSize) : Le32(Low32(dCompressed)) + Le32(Low32(dSize));
    }
  }

  for (size_t n = 0; n < count; ++n) {
    const auto& shared = entries_[n].sameDataAs;
    if (!shared) continue;
    if (*shared >= n) throw std::logic_error("sameDataAs must name an earlier entry");
    prepared[n] = prepared[*shared];
  }

  std::string out = offsetsLeaveOutPrefix ? "" : prefix;
  localOffsets_.assign(count, 0);
  for (size_t n = 0; n < count;) {
    const ZipEntry& e = entries_[n];
    if (e.sameDataAs) {
      localOffsets_[n] = localOffsets_[*e.sameDataAs];
      ++n;
      continue;
    }
    localOffsets_[n] = out.size();
    out += prepared[n].Record();
    size_t last = n;
    while (entries_[last].containsNext) {
      localOffsets_[last + 1] = localOffsets_[last] + prepared[last].header.size();
      ++last;
    }
    n = last + 1;
  }

  directoryOffset_ = out.size();
  for (size_t n = 0; n < count; ++n) {
    const ZipEntry& e = entries_[n];
    const Prepared& p = prepared[n];
    const uint64_t offset = e.centralOffset.value_or(localOffsets_[n]);
    const bool zip64 = p.zip64 || offset >= kMax32;
    std::string extra;
    if (zip64) {
      extra += ExtraField(
          1, e.centralZip64.value_or(Le64(p.size) + Le64(p.compressedSize) + Le64(offset)));
    }
    extra += e.centralExtra;
    const bool unix = e.unixMode.has_value();
    uint32_t external = unix ? *e.unixMode << 16 : 0;
    if (!e.name.empty() && e.name.back() == '/') external |= 0x10;  // DOS folder bit
    std::string& c = out;
    c += Le32(kCentralSignature);
    c += Le16(static_cast<uint16_t>((unix ? 3 << 8 : 0) | (zip64 ? 45 : 20)));
    c += Le16(zip64 ? 45 : 20);
    c += Le16(p.flags);
    c += Le16(p.method);
    c += Le16(DosTime(e.time));
    c += Le16(DosDate(e.time));
    c += Le32(p.crc);
    c += Le32(zip64 ? kMax32 : Low32(p.compressedSize));
    c += Le32(zip64 ? kMax32 : Low32(p.size));
    c += Le16(static_cast<uint16_t>(e.name.size()));
    c += Le16(static_cast<uint16_t>(extra.size()));
    c += Le16(static_cast<uint16_t>(e.comment.size()));
    c += Le16(0);  // disk
    c += Le16(e.internalAttributes);
    c += Le32(external);
    c += Le32(zip64 ? kMax32 : Low32(offset));
    c += e.name;
    c += extra;
    c += e.comment;
  }
  const uint64_t directorySize = out.size() - directoryOffset_;
  const uint64_t entryCount = endEntryCount.value_or(count);
  const uint64_t cdOffset = endDirectoryOffset.value_or(directoryOffset_);
  const uint64_t cdSize = endDirectorySize.value_or(directorySize);
  if (zip64End) {
    const uint64_t recordOffset = out.size();
    out += Le32(kZip64EndSignature);
    out += Le64(44);
    out += Le16(45);
    out += Le16(45);
    out += Le32(0);
    out += Le32(0);
    out += Le64(entryCount);
    out += Le64(entryCount);
    out += Le64(cdSize);
    out += Le64(cdOffset);
    out += Le32(kZip64LocatorSignature);
    out += Le32(0);
    out += Le64(recordOffset);
    out += Le32(1);
  }
  endOffset_ = out.size();
  out += Le32(kEndSignature);
  out += Le16(0);
  out += Le16(0);
  const auto count16 = static_cast<uint16_t>(zip64End ? 0xFFFF : entryCount & 0xFFFF);
  out += Le16(count16);
  out += Le16(count16);
  out += Le32(zip64End ? kMax32 : Low32(cdSize));
  out += Le32(zip64End ? kMax32 : Low32(cdOffset));
  out += Le16(endCommentLength.value_or(static_cast<uint16_t>(comment.size())));
  out += comment;
  return offsetsLeaveOutPrefix ? prefix + out : out;
}

void ZipWriter::Save(const std::string& path) const {
  const std::string bytes = Build();
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  file.close();
  if (!file) throw std::runtime_error("cannot write " + path);
}

}  // namespace qv::test
