// The limit for the extraction benchmark: inflate every entry of an archive
// in memory with zlib alone, with the CRC-32 a real extraction computes, and
// nothing written. Reads the central directory of the benchmark's own
// archives (no ZIP64, no encryption) and trusts it.
//   zlib_bench_inflate <archive>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

namespace {

uint32_t Le(std::string_view s, size_t at, int bytes) {
  uint32_t value = 0;
  for (int i = bytes - 1; i >= 0; --i) {
    value = value << 8 | static_cast<uint8_t>(s[at + static_cast<size_t>(i)]);
  }
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <archive>\n", argv[0]);
    return 2;
  }
  // Mapped, not read into a buffer: copying 64 MiB into freshly allocated
  // memory would cost more than the inflating this program stands for.
  const int fd = ::open(argv[1], O_RDONLY);
  struct stat info {};
  if (fd < 0 || ::fstat(fd, &info) != 0) return 1;
  const size_t size = static_cast<size_t>(info.st_size);
  void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (mapped == MAP_FAILED) return 1;
  const std::string_view zip(static_cast<const char*>(mapped), size);
  const size_t end = zip.rfind(std::string_view("PK\x05\x06", 4));
  if (end == std::string_view::npos) return 1;
  const uint32_t count = Le(zip, end + 10, 2);
  size_t at = Le(zip, end + 16, 4);
  std::vector<unsigned char> out(256 * 1024);
  uint64_t total = 0;
  for (uint32_t n = 0; n < count; ++n) {
    const uint32_t method = Le(zip, at + 10, 2);
    const uint32_t crc = Le(zip, at + 16, 4);
    const uint32_t compressed = Le(zip, at + 20, 4);
    const size_t nameLength = Le(zip, at + 28, 2);
    const size_t local = Le(zip, at + 42, 4);
    at += 46 + nameLength + Le(zip, at + 30, 2) + Le(zip, at + 32, 2);
    const size_t data = local + 30 + Le(zip, local + 26, 2) + Le(zip, local + 28, 2);
    const auto* source = reinterpret_cast<const unsigned char*>(zip.data() + data);
    uLong check = crc32(0, nullptr, 0);
    if (method == 0) {
      check = crc32(check, source, compressed);
      total += compressed;
    } else {
      z_stream stream{};
      inflateInit2(&stream, -15);
      stream.next_in = const_cast<unsigned char*>(source);
      stream.avail_in = compressed;
      int rc = Z_OK;
      while (rc == Z_OK) {
        stream.next_out = out.data();
        stream.avail_out = static_cast<uInt>(out.size());
        rc = inflate(&stream, Z_NO_FLUSH);
        const size_t produced = out.size() - stream.avail_out;
        check = crc32(check, out.data(), static_cast<uInt>(produced));
        total += produced;
      }
      inflateEnd(&stream);
      if (rc != Z_STREAM_END) return 1;
    }
    if (check != crc) {
      std::fprintf(stderr, "CRC mismatch in entry %u\n", n);
      return 1;
    }
  }
  std::fprintf(stderr, "inflated %llu bytes\n", static_cast<unsigned long long>(total));
  return 0;
}
