#include "support/ZipWriter.h"

#include <zlib.h>

#include <fstream>
#include <stdexcept>

namespace qv::test {
namespace {

constexpr uint32_t kMax32 = 0xFFFFFFFFu;

// Everything about one entry that does not depend on where it lands.
struct Prepared {
  uint16_t flags = 0, method = 0, time = 0, date = 0;
  uint32_t crc = 0;
  uint64_t size = 0, compressedSize = 0;
  bool zip64 = false;
  std::string header, payload, descriptor;  // the local record
  std::string Record() const { return header + payload + descriptor; }
};

uint32_t Crc32(const std::string& data) {
  return static_cast<uint32_t>(
      crc32_z(0, reinterpret_cast<const Bytef*>(data.data()), data.size()));
}

// Traditional PKWARE encryption.
std::string ZipCrypt(const std::string& password, const std::string& bytes) {
  const z_crc_t* table = get_crc_table();
  uint32_t keys[3] = {0x12345678u, 0x23456789u, 0x34567890u};
  const auto crc = [&](uint32_t c, uint32_t byte) { return table[(c ^ byte) & 0xFF] ^ (c >> 8); };
  const auto update = [&](uint8_t plain) {
    keys[0] = crc(keys[0], plain);
    keys[1] = (keys[1] + (keys[0] & 0xFFu)) * 134775813u + 1u;
    keys[2] = crc(keys[2], keys[1] >> 24);
  };
  for (char c : password) update(static_cast<uint8_t>(c));
  std::string out = bytes;
  for (char& c : out) {
    const uint32_t temp = (keys[2] | 2u) & 0xFFFFu;
    const auto in = static_cast<uint8_t>(c);
    c = static_cast<char>(in ^ static_cast<uint8_t>((temp * (temp ^ 1u)) >> 8));
    update(in);
  }
  return out;
}

}  // namespace

std::string Le(uint64_t value, int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += static_cast<char>(value >> (8 * i));
  return out;
}

std::string Deflate(const std::string& data) {
  uLongf length = compressBound(static_cast<uLong>(data.size()));
  std::string out(length, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &length,
                reinterpret_cast<const Bytef*>(data.data()), static_cast<uLong>(data.size()),
                6) != Z_OK) {
    throw std::runtime_error("deflate failed");
  }
  return out.substr(2, length - 6);  // the zlib stream without its header and checksum
}

ZipEntry& ZipWriter::Add(std::string name, std::string data, uint16_t method) {
  ZipEntry& entry = entries_.emplace_back();
  entry.name = std::move(name);
  entry.data = std::move(data);
  entry.method = method;
  return entry;
}

ZipEntry& ZipWriter::AddFolder(const std::string& name) {
  ZipEntry& entry = Add(name + "/", "", kStored);
  entry.unixMode = 0040755;
  return entry;
}

std::string ZipWriter::Build() const {
  std::vector<Prepared> prepared(entries_.size());
  for (size_t n = 0; n < entries_.size(); ++n) {
    const ZipEntry& e = entries_[n];
    Prepared& p = prepared[n];
    const std::string& data = e.data;
    p.method = e.method;
    p.time = static_cast<uint16_t>(e.time.hour << 11 | e.time.minute << 5 | e.time.second / 2);
    p.date = static_cast<uint16_t>((e.time.year - 1980) << 9 | e.time.month << 5 | e.time.day);
    p.crc = e.crc.value_or(Crc32(data));
    p.size = e.size.value_or(data.size());
    p.payload = e.rawPayload ? *e.rawPayload : p.method == kDeflated ? Deflate(data) : data;
    p.flags = static_cast<uint16_t>(e.addFlags | (e.dataDescriptor ? 8 : 0) |
                                    (e.password.empty() ? 0 : 1));
    if (!e.password.empty()) {
      // Eleven bytes of no meaning, then the check byte: the CRC's high byte,
      // or the time's when the CRC only follows the data.
      const uint32_t check = e.dataDescriptor ? uint32_t{p.time} >> 8 : Crc32(data) >> 24;
      p.payload = ZipCrypt(e.password, "random head" + Le(check, 1) + p.payload);
    }
    p.compressedSize = e.compressedSize.value_or(p.payload.size());
    p.zip64 = e.zip64 || p.size >= kMax32 || p.compressedSize >= kMax32;
    const bool later = e.dataDescriptor;  // sizes and CRC in the descriptor only
    const uint64_t size = later ? 0 : p.size, compressedSize = later ? 0 : p.compressedSize;
    const std::string extra =
        (p.zip64 ? Le(1, 2) + Le(16, 2) + Le(size, 8) + Le(compressedSize, 8) : "") + e.extra;
    p.header = Le(0x04034b50, 4) + Le(p.zip64 ? 45u : 20u, 2) + Le(p.flags, 2) + Le(p.method, 2) +
               Le(p.time, 2) + Le(p.date, 2) + Le(later ? 0 : p.crc, 4) +
               Le(p.zip64 && !later ? kMax32 : compressedSize, 4) +
               Le(p.zip64 && !later ? kMax32 : size, 4) + Le(e.name.size(), 2) +
               Le(extra.size(), 2) + e.name + extra;
    if (later) {
      p.descriptor = (e.descriptorSignature ? Le(0x08074b50, 4) : "") + Le(p.crc, 4) +
                     Le(p.compressedSize, p.zip64 ? 8 : 4) + Le(p.size, p.zip64 ? 8 : 4);
    }
  }
  std::string out = offsetsLeaveOutPrefix ? "" : prefix;
  localOffsets_.assign(entries_.size(), 0);
  for (size_t n = 0; n < entries_.size(); ++n) {
    localOffsets_[n] = out.size();
    out += prepared[n].Record();
  }
  directoryOffset_ = out.size();
  for (size_t n = 0; n < entries_.size(); ++n) {
    const ZipEntry& e = entries_[n];
    const Prepared& p = prepared[n];
    const uint64_t offset = e.centralOffset.value_or(localOffsets_[n]);
    const bool zip64 = p.zip64 || offset >= kMax32;
    const std::string field = Le(p.size, 8) + Le(p.compressedSize, 8) + Le(offset, 8);
    const std::string extra = (zip64 ? Le(1, 2) + Le(field.size(), 2) + field : "") + e.extra;
    const bool unix = e.unixMode.has_value();
    const uint32_t external =
        (unix ? *e.unixMode << 16 : 0u) | (e.name.ends_with('/') ? 0x10u : 0u);
    out += Le(0x02014b50, 4) + Le((unix ? 3u << 8 : 0u) | (zip64 ? 45u : 20u), 2) +
           Le(zip64 ? 45u : 20u, 2) + Le(p.flags, 2) + Le(p.method, 2) + Le(p.time, 2) +
           Le(p.date, 2) + Le(p.crc, 4) + Le(zip64 ? kMax32 : p.compressedSize, 4) +
           Le(zip64 ? kMax32 : p.size, 4) + Le(e.name.size(), 2) + Le(extra.size(), 2) +
           Le(e.comment.size(), 2) + Le(0, 2) + Le(e.internalAttributes, 2) + Le(external, 4) +
           Le(zip64 ? kMax32 : offset, 4) + e.name + extra + e.comment;
  }
  const uint64_t count = endEntryCount.value_or(entries_.size());
  const uint64_t size = endDirectorySize.value_or(out.size() - directoryOffset_);
  const uint64_t offset = endDirectoryOffset.value_or(directoryOffset_);
  out += Le(0x06054b50, 4) + Le(0, 4) + Le(count, 2) + Le(count, 2) + Le(size, 4) + Le(offset, 4) +
         Le(comment.size(), 2) + comment;
  if (patch) patch(out);
  return offsetsLeaveOutPrefix ? prefix + out : out;
}

void ZipWriter::Save(const std::string& path) const {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << Build();
  file.close();
  if (!file) throw std::runtime_error("cannot write " + path);
}

}  // namespace qv::test
