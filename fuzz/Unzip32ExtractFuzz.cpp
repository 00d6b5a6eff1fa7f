// Fuzz target: the zip library reads an arbitrary archive and extracts it,
// once keeping folders and once flat. Besides the sanitizers' findings, an
// entry written outside the extraction folder aborts the run.
#include "unzip32.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

namespace {

namespace fs = std::filesystem;

extern "C" int32_t UNZIP32_CALL Print(const char*, int32_t) {
  return 0;
}
extern "C" int32_t UNZIP32_CALL Replace(const char*) {
  return UNZIP32_REPLACE_YES;
}
extern "C" int32_t UNZIP32_CALL Password(char* buffer, int32_t size, const char*, const char*) {
  if (size < 3) return 1;
  buffer[0] = 'p';
  buffer[1] = 'w';
  buffer[2] = '\0';
  return 0;
}
extern "C" void UNZIP32_CALL ListEntry(uint32_t, uint32_t, int32_t, int32_t, int32_t, int32_t,
                                       int32_t, int32_t, int32_t, const char*, const char*,
                                       uint32_t, int32_t) {}
extern "C" int32_t UNZIP32_CALL Service(const char*, int32_t) {
  return 0;
}

// One scratch folder per process, removed at exit: the archive and the
// extraction folders live inside it.
struct ScratchFolder {
  fs::path path;
  ScratchFolder() {
    std::string pattern = (fs::temp_directory_path() / "qvfuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    path = pattern;
  }
  ~ScratchFolder() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

const fs::path& Scratch() {
  static const ScratchFolder folder;
  return folder.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path root = Scratch();
  const fs::path archive = root / "a.zip";
  {
    std::ofstream out(archive, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  UnzipUserFunctions functions{};
  functions.Print = Print;
  functions.Replace = Replace;
  functions.Password = Password;
  functions.ListEntry = ListEntry;
  functions.Service = Service;
  UnzipNameList none{};
  const std::string archivePath = archive.string();
  for (int honor : {1, 0}) {
    const fs::path folder = root / (honor ? "out" : "flat");
    const std::string folderPath = folder.string();
    UnzipOptions options{};
    options.MessageLevel = 2;
    options.Verbose = 1;
    options.DisplayComment = 1;
    options.HonorDirectories = honor;
    options.OverWriteFiles = 1;
    options.ZipFileName = archivePath.c_str();
    options.ExtractDir = folderPath.c_str();
    Wiz_SingleEntryUnzip(0, &none, 0, &none, &options, &functions);
  }
  // Anything beside the archive and the two extraction folders escaped.
  std::error_code ec;
  for (const fs::directory_entry& entry : fs::directory_iterator(root, ec)) {
    const std::string name = entry.path().filename().string();
    if (name != "a.zip" && name != "out" && name != "flat") {
      std::fprintf(stderr, "written outside the extraction folder: %s\n", name.c_str());
      std::abort();
    }
  }
  fs::remove_all(root / "out", ec);
  fs::remove_all(root / "flat", ec);
  return 0;
}
