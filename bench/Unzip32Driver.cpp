// Extracts one archive with the zip library, as the installer calls it, and
// reports the process's peak resident memory:
//   unzip32_bench_extract <archive> <folder>
#include "unzip32.h"

#include <sys/resource.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <archive> <folder>\n", argv[0]);
    return 2;
  }
  UnzipOptions options{};
  options.MessageLevel = 1;
  options.HonorDirectories = 1;
  options.OverWriteFiles = 1;
  options.ZipFileName = argv[1];
  options.ExtractDir = argv[2];
  UnzipUserFunctions functions{};
  UnzipNameList none{};
  const int32_t rc = Wiz_SingleEntryUnzip(0, &none, 0, &none, &options, &functions);
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  std::fprintf(stderr, "peak_rss_kib %ld\n", usage.ru_maxrss);
  if (rc != 0) std::fprintf(stderr, "extraction failed: %d\n", rc);
  return rc == 0 ? 0 : 1;
}
