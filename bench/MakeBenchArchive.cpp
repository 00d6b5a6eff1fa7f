// Writes the extraction benchmark's archive: 256 entries, every other one
// compressible text (deflated) and the rest incompressible data (deflated
// too, as common tools do), sized so the archive is about <MiB> large.
//   make_bench_archive <archive> <MiB>
#include "support/ZipWriter.h"

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <archive> <MiB>\n", argv[0]);
    return 2;
  }
  const uint64_t target = std::strtoull(argv[2], nullptr, 10) << 20;
  constexpr int kEntries = 256;
  // Text deflates to about a quarter here, so a noise entry and a text entry
  // of the same size add about 1.25 times that size to the archive.
  const auto each = static_cast<size_t>(target / (kEntries / 2) * 4 / 5);
  std::mt19937_64 random(20240611);
  const char* const words[] = {"stair", "landing",  "rail",   "step",    "riser",   "tread",
                               "newel", "baluster", "spiral", "modular", "catalog", "package"};
  qv::test::ZipWriter zip;
  for (int i = 0; i < kEntries; ++i) {
    std::string data;
    data.reserve(each + 16);
    if (i % 2 == 0) {
      while (data.size() < each) {
        const uint64_t r = random();
        data += words[r % 12];
        data += (r >> 8) % 9 == 0 ? '\n' : ' ';
        data += std::to_string((r >> 16) % 1000);
        data += ' ';
      }
      data.resize(each);
      zip.Add("text/readme-" + std::to_string(i) + ".txt", std::move(data));
    } else {
      data.resize(each);
      for (size_t k = 0; k + 8 <= each; k += 8) {
        const uint64_t r = random();
        for (int b = 0; b < 8; ++b)
          data[k + static_cast<size_t>(b)] = static_cast<char>(r >> (8 * b));
      }
      zip.Add("data/stairs-" + std::to_string(i) + ".package", std::move(data));
    }
  }
  zip.Save(argv[1]);
  return 0;
}
