// Archives written by independent tools: the library must read what the rest
// of the world writes, not only what our own writer produces. Writers of
// every kind this machine can have pack the same files: bsdtar, 7z, Python's
// zipfile, Java's jar and ZipOutputStream, and zip writers of the web
// ecosystem from the npm registry (tests/posix/interop/, installed into
// build/npm by scripts/install-deps.sh). Every entry's bytes are compared
// with the source. The tools run through the POSIX shell, so the test is a
// POSIX one, as are the Unix permission bits the library restores.
#include "support/TempDir.h"
#include "support/Unzip32Run.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <random>
#include <string>

namespace qv::test {
namespace {

std::string Source() {
  const char* dir = std::getenv("QV_SOURCE_DIR");
  return dir != nullptr ? dir : ".";
}

// As tests/posix/interop/write.sh names them. Every variant reads its own
// way: stored, zip64, descriptors, a stub, encryption, a method we refuse.
class Unzip32Interop : public ::testing::TestWithParam<std::string> {};

TEST_P(Unzip32Interop, EveryEntryOfAnotherWriter) {
  const std::string& name = GetParam();
  const std::string password = name.ends_with("Encryption") ? "Stair7Pass" : "";
  const bool unsupported = name.ends_with("IsUnsupported");  // readme.txt is refused
  TempDir dir;
  std::string noise(70000, '\0');
  std::mt19937 random(42);
  for (char& c : noise) c = static_cast<char>(random());
  dir.Write("src/readme.txt", Text(60000));
  dir.Write("src/data/stairs.package", noise);
  dir.Write("src/empty.txt", "");
  dir.Write("src/sub/deeper/note with space.txt", "note\n");
  // A missing writer fails the case: scripts/install-deps.sh installs them all.
  const std::string command = "cd '" + dir.Path() + "' && '" + Source() +
                              "/tests/posix/interop/write.sh' " + name + " '" + Source() +
                              "/build/npm'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command << ": run scripts/install-deps.sh";
  for (int honor : {1, 0}) {
    SCOPED_TRACE(honor ? "honoring folders" : "flat");
    const std::string out = dir.Join(honor ? "out" : "flat");
    Tree_t expected;
    for (auto [path, content] : Tree(dir.Join("src"), true)) {
      if (!unsupported || path != "readme.txt")
        expected[honor ? path : path.substr(path.rfind('/') + 1)] = content;
    }
    UnzipRun run(dir.Join("a.zip"), out);
    run.options.HonorDirectories = honor;
    Recorded() = {};
    Recorded().passwords = {password, password, password};
    EXPECT_EQ(run(), unsupported ? UNZIP32_ERR_UNSUPPORTED : UNZIP32_OK) << Recorded().printed;
    EXPECT_EQ(Tree(out, true), expected);
    EXPECT_EQ(Recorded().log.rfind("P:"), password.empty() ? std::string::npos : 0) << "once";
  }
}

INSTANTIATE_TEST_SUITE_P(Tools, Unzip32Interop,
                         ::testing::Values("BsdtarDeflated", "BsdtarZip64",
                                           "BsdtarTraditionalEncryption", "SevenZipStored",
                                           "SevenZipBehindAStub", "SevenZipTraditionalEncryption",
                                           "SevenZipPpmdIsUnsupported", "PythonForcedZip64",
                                           "PythonDataDescriptors", "PythonBzip2IsUnsupported",
                                           "JavaJarTool", "JavaZipOutputStream", "Jszip", "Yazl",
                                           "Fflate", "FflateStreaming", "AdmZip", "Archiver"),
                         [](const auto& param) { return param.param; });

// Stored Unix permission bits come back with Privilege 1 or 2, never the
// set-user-id, set-group-id and sticky bits (Windows files carry no bits).
TEST(Unzip32Permissions, StoredBitsWithoutSetIdBits) {
  // The st_mode stored (none: made on Windows), the bits restored (0: as without Privilege).
  struct Mode {
    const char* name;
    std::optional<uint32_t> stored{};
    int restored = 0;
  };
  // clang-format off
  const Mode modes[] = {
      {.name = "plain.bin", .stored = 0100640, .restored = 0640}, {.name = "zero.bin", .stored = 0},
      {.name = "setuid.bin", .stored = 0104755, .restored = 0755}, {.name = "dos.bin"},
      {.name = "sticky.bin", .stored = 0101777, .restored = 0777},
      {.name = "link.bin", .stored = 0120444}};
  // clang-format on
  ZipWriter zip;
  for (const Mode& mode : modes) zip.Add(mode.name, "x").unixMode = mode.stored;
  namespace fs = std::filesystem;
  for (int privilege : {0, 2}) {
    TempDir dir;
    dir.Write("a.zip", zip.Build());
    UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
    run.options.Privilege = privilege;
    EXPECT_EQ(run(), UNZIP32_OK) << Recorded().printed;
    const fs::perms plain = fs::status(dir.Join("out/dos.bin")).permissions();
    for (const Mode& mode : modes) {
      EXPECT_EQ(
          fs::status(dir.Join("out/") + mode.name).permissions(),
          privilege == 0 || mode.restored == 0 ? plain : static_cast<fs::perms>(mode.restored))
          << mode.name << " with Privilege " << privilege;
    }
  }
}

// An entry that fails leaves no descriptor open, and a folder that takes no
// file (not even from root) fails the entry with the folder named.
TEST(Unzip32Permissions, FailuresCloseAndNameTheFolder) {
  TempDir dir;
  ZipWriter zip;
  zip.Add("bad.txt", Text(3000)).crc = 1;
  dir.Write("a.zip", zip.Build());
  namespace fs = std::filesystem;
  const auto open = [] { return std::distance(fs::directory_iterator("/proc/self/fd"), {}); };
  const auto before = open();
  UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
  EXPECT_EQ(run(), UNZIP32_ERR_CRC);
  EXPECT_EQ(open(), before) << "a descriptor left open";
  run.dir = "/proc";
  Recorded() = {};
  EXPECT_EQ(run(), UNZIP32_ERR_WRITE);
  EXPECT_NE(Recorded().printed.find("cannot create a file in /proc"), std::string::npos)
      << Recorded().printed;
}

}  // namespace
}  // namespace qv::test
