#include "support/ZipWriter.h"

#include <zlib.h>

#include <stdexcept>

namespace qv::test {
namespace {

constexpr uint32_t kMax32 = 0xFFFFFFFFu;

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

std::string ZipWriter::Build() const {
  std::string out = offsetsLeaveOutPrefix ? "" : prefix, directory;
  localOffsets_.clear();
  for (const ZipEntry& e : entries_) {
    const uint64_t local = localOffsets_.emplace_back(out.size());
    const auto time =
        static_cast<uint16_t>(e.time.hour << 11 | e.time.minute << 5 | e.time.second / 2);
    const auto date =
        static_cast<uint16_t>((e.time.year - 1980) << 9 | e.time.month << 5 | e.time.day);
    const uint32_t crc = e.crc.value_or(Crc32(e.data));
    const uint64_t size = e.size.value_or(e.data.size());
    std::string payload = e.rawPayload            ? *e.rawPayload
                          : e.method == kDeflated ? Deflate(e.data)
                                                  : e.data;
    const auto flags = static_cast<uint16_t>(e.addFlags | (e.dataDescriptor ? 8 : 0) |
                                             (e.password.empty() ? 0 : 1));
    if (!e.password.empty()) {
      // Eleven bytes of no meaning, then the check byte: the CRC's high byte,
      // or the time's when the CRC only follows the data.
      const uint32_t check = e.dataDescriptor ? uint32_t{time} >> 8 : Crc32(e.data) >> 24;
      payload = ZipCrypt(e.password, "random head" + Le(check, 1) + payload);
    }
    const uint64_t packed = e.compressedSize.value_or(payload.size());
    const bool zip64 = e.zip64 || size >= kMax32 || packed >= kMax32;
    const bool later = e.dataDescriptor;  // sizes and CRC in the descriptor only
    // The fields both headers share, from the version needed to the extra
    // length; `blank`: the sizes and CRC left to the descriptor.
    const auto fields = [&](bool wide, bool blank, const std::string& extra) {
      const auto small = [&](uint64_t v) { return Le(blank ? 0 : wide ? kMax32 : v, 4); };
      return Le(wide ? 45u : 20u, 2) + Le(flags, 2) + Le(e.method, 2) + Le(time, 2) + Le(date, 2) +
             Le(blank ? 0 : crc, 4) + small(packed) + small(size) + Le(e.name.size(), 2) +
             Le(extra.size(), 2);
    };
    std::string extra =
        (zip64 ? Le(1, 2) + Le(16, 2) + Le(later ? 0 : size, 8) + Le(later ? 0 : packed, 8) : "") +
        e.extra;
    out += Le(0x04034b50, 4) + fields(zip64, later, extra) + e.name + extra + payload;
    if (later) {
      out += (e.descriptorSignature ? Le(0x08074b50, 4) : "") + Le(crc, 4) +
             Le(packed, zip64 ? 8 : 4) + Le(size, zip64 ? 8 : 4);
    }
    const uint64_t offset = e.centralOffset.value_or(local);
    const bool wide = zip64 || offset >= kMax32;
    extra =
        (wide ? Le(1, 2) + Le(24, 2) + Le(size, 8) + Le(packed, 8) + Le(offset, 8) : "") + e.extra;
    const bool unix = e.unixMode.has_value();
    const uint32_t external =
        (unix ? *e.unixMode << 16 : 0u) | (e.name.ends_with('/') ? 0x10u : 0u);
    directory += Le(0x02014b50, 4) + Le((unix ? 3u << 8 : 0u) | (wide ? 45u : 20u), 2) +
                 fields(wide, false, extra) + Le(e.comment.size(), 2) + Le(0, 2) +
                 Le(e.internalAttributes, 2) + Le(external, 4) + Le(wide ? kMax32 : offset, 4) +
                 e.name + extra + e.comment;
  }
  directoryOffset_ = out.size();
  out += directory;
  const uint64_t count = entries_.size();
  if (zip64End) {  // the record, then the locator that points at it
    out += Le(0x06064b50, 4) + Le(44, 8) + Le(45, 2) + Le(45, 2) + Le(0, 8) + Le(count, 8) +
           Le(count, 8) + Le(directory.size(), 8) + Le(directoryOffset_, 8) + Le(0x07064b50, 4) +
           Le(0, 4) + Le(out.size(), 8) + Le(1, 4);
  }
  out += Le(0x06054b50, 4) + Le(0, 4) + Le(zip64End ? 0xFFFF : count, 2) +
         Le(zip64End ? 0xFFFF : count, 2) + Le(zip64End ? kMax32 : directory.size(), 4) +
         Le(zip64End ? kMax32 : directoryOffset_, 4) + Le(comment.size(), 2) + comment;
  if (patch) patch(out);
  return offsetsLeaveOutPrefix ? prefix + out : out;
}

}  // namespace qv::test
