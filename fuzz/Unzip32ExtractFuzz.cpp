// Fuzz target: the zip library reads an arbitrary archive and extracts it,
// once keeping folders and once flat, with every message. Besides the
// sanitizers' findings, an entry written outside the extraction folder aborts
// the run.
#include "unzip32.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

namespace fs = std::filesystem;

extern "C" int32_t UNZIP32_CALL Print(const char*, int32_t) {
  return 0;
}
extern "C" int32_t UNZIP32_CALL Password(char* buffer, int32_t, const char*, const char*) {
  std::snprintf(buffer, 3, "pw");
  return 0;
}

// The archive and the extraction folders, removed at exit.
struct Scratch {
  const fs::path path = fs::temp_directory_path() / ("qvfuzz-" + std::to_string(getpid()));
  Scratch() { fs::create_directories(path); }
  ~Scratch() { fs::remove_all(path); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Scratch scratch;
  const std::string archive = (scratch.path / "a.zip").string();
  std::ofstream(archive, std::ios::binary)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  const UnzipUserFunctions functions{Print, nullptr, nullptr, Password, nullptr, nullptr, {}};
  const UnzipNameList none{};
  for (int honor : {1, 0}) {
    const std::string folder = (scratch.path / (honor ? "out" : "flat")).string();
    UnzipOptions options{};
    options.MessageLevel = 2;
    options.Verbose = options.DisplayComment = options.OverWriteFiles = 1;
    options.HonorDirectories = honor;
    options.ZipFileName = archive.c_str();
    options.ExtractDir = folder.c_str();
    Wiz_SingleEntryUnzip(0, &none, 0, &none, &options, &functions);
  }
  for (const fs::directory_entry& entry : fs::directory_iterator(scratch.path)) {
    const std::string name = entry.path().filename().string();
    if (name != "a.zip" && name != "out" && name != "flat") {
      std::fprintf(stderr, "written outside the extraction folder: %s\n", name.c_str());
      std::abort();
    }
  }
  fs::remove_all(scratch.path / "out");
  fs::remove_all(scratch.path / "flat");
  return 0;
}
