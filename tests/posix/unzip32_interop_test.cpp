// Archives written by independent tools: the library must read what the rest
// of the world writes, not only what our own writer produces. Every writer
// this machine can have packs the same files: bsdtar, 7z, Python's zipfile,
// Java's jar and ZipOutputStream, and the zip writers of the web ecosystem
// from the npm registry (tests/posix/interop/, installed into build/npm by
// scripts/install-deps.sh). Every entry's bytes are compared with the
// source. The tools run through the POSIX shell, so the test is a POSIX one,
// as are the Unix permission bits the library restores.
#include "support/TempDir.h"
#include "support/Unzip32Run.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <sstream>
#include <string>

namespace qv::test {
namespace {

using namespace std::string_literals;

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string Source() {
  const char* dir = std::getenv("QV_SOURCE_DIR");
  return dir != nullptr ? dir : ".";
}

struct Writer {
  std::string name;  // as tests/posix/interop/write.sh knows it
  std::string password = "";
  // The files of src/ refused as unsupported: "", "readme.txt", "all", or
  // "encrypted" (bsdtar leaves empty files unencrypted).
  std::string refused = "";
  bool clash = false;  // a file below a file, refused (8) when folders are kept
};

std::vector<Writer> Writers() {
  std::vector<Writer> writers = {{"BsdtarTraditionalEncryption", "Stair7Pass"},
                                 {"BsdtarAesIsUnsupported", "Stair7Pass", "encrypted"},
                                 {"SevenZipTraditionalEncryption", "Stair7Pass"},
                                 {"SevenZipAesIsUnsupported", "Stair7Pass", "all"},
                                 {"JszipFileBelowAFile", "", "", true}};
  // One variant per reader path: deflate levels of one writer all end in
  // the same inflate call.
  std::istringstream plain(
      "BsdtarDeflated BsdtarStored BsdtarZip64 BsdtarExperimentalExtraFields "
      "BsdtarZip64BehindAStub "
      "SevenZipStored SevenZipDeflateLevel5 SevenZipBehindAStub PythonDeflated PythonForcedZip64 "
      "PythonDataDescriptors JavaJarTool JavaZipOutputStream Jszip JszipStreamFiles Yazl Fflate "
      "FflateStreaming AdmZip Archiver SevenZipPpmdIsUnsupported SevenZipDeflate64IsUnsupported "
      "PythonBzip2IsUnsupported PythonLzmaIsUnsupported");
  for (std::string name; plain >> name;) {
    writers.push_back({name, "", name.ends_with("IsUnsupported") ? "readme.txt" : ""});
  }
  return writers;
}

class Unzip32Interop : public ::testing::TestWithParam<Writer> {};

TEST_P(Unzip32Interop, EveryEntryOfAnotherWriter) {
  const Writer& w = GetParam();
  TempDir dir;
  std::string noise(70000, '\0');
  std::mt19937 random(42);
  for (char& c : noise) c = static_cast<char>(random());
  dir.Write("src/readme.txt", Text(60000));
  dir.Write("src/data/stairs.package", noise);
  dir.Write("src/empty.txt", "");
  dir.Write("src/sub/deeper/note with space.txt", "note\n");
  // A missing writer fails the case: scripts/install-deps.sh installs them all.
  const std::string command = "cd " + Quote(dir.Path()) + " && " +
                              Quote(Source() + "/tests/posix/interop/write.sh") + " " + w.name +
                              " " + Quote(Source() + "/build/npm");
  ASSERT_EQ(std::system(command.c_str()), 0) << command << ": run scripts/install-deps.sh";
  for (int honor : {1, 0}) {
    SCOPED_TRACE(honor ? "honoring folders" : "flat");
    const std::string out = dir.Join(honor ? "out" : "flat");
    Tree_t expected;
    for (auto [path, content] : Tree(dir.Join("src"), true)) {
      if (w.refused == "all" || w.refused == path || (w.refused == "encrypted" && !content.empty()))
        continue;
      expected[honor ? path : path.substr(path.rfind('/') + 1)] = content;
    }
    if (w.clash && !honor) expected["below.txt"] = "below";
    UnzipRun run(dir.Join("a.zip"), out);
    run.options.HonorDirectories = honor;
    Recorded() = {};
    Recorded().passwords = {w.password, w.password, w.password};
    const int32_t code = !w.refused.empty() ? UNZIP32_ERR_UNSUPPORTED
                         : w.clash && honor ? UNZIP32_ERR_WRITE
                                            : UNZIP32_OK;
    EXPECT_EQ(run(), code) << Recorded().printed;
    EXPECT_EQ(Tree(out, true), expected);
    size_t asked = 0;
    for (size_t at = 0; (at = Recorded().log.find("P:", at)) != std::string::npos; ++at) ++asked;
    EXPECT_EQ(asked, w.password.empty() || !w.refused.empty() ? 0u : 1u) << "asked for once";
  }
}

INSTANTIATE_TEST_SUITE_P(Tools, Unzip32Interop, ::testing::ValuesIn(Writers()),
                         [](const auto& param) { return param.param.name; });

// Stored Unix permission bits come back with Privilege 1 or 2, never the
// set-user-id, set-group-id and sticky bits (Windows files carry no bits).
TEST(Unzip32Permissions, StoredBitsWithoutSetIdBits) {
  struct Mode {
    const char* name;
    uint32_t stored, restored;  // st_mode (of a Unix entry but dos.bin); 0: as without Privilege
  };
  const Mode modes[] = {{"plain.bin", 0100640, 0640},
                        {"setuid.bin", 0104755, 0755},
                        {"sticky.bin", 0101777, 0777},
                        {"typeless.bin", 0444, 0444},
                        {"link.bin", 0120444, 0},
                        {"zero.bin", 0, 0},
                        {"dos.bin", 0, 0}};
  ZipWriter zip;
  for (const Mode& m : modes) {
    ZipEntry& e = zip.Add(m.name, "x");
    if (m.name != "dos.bin"s) e.unixMode = m.stored;
  }
  namespace fs = std::filesystem;
  for (int privilege : {0, 1, 2}) {
    SCOPED_TRACE(privilege);
    TempDir dir;
    zip.Save(dir.Join("a.zip"));
    UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
    run.options.Privilege = privilege;
    EXPECT_EQ(run(), UNZIP32_OK) << Recorded().printed;
    const fs::perms plain = fs::status(dir.Join("out/dos.bin")).permissions();
    for (const Mode& m : modes) {
      EXPECT_EQ(fs::status(dir.Join("out/") + m.name).permissions(),
                privilege == 0 || m.restored == 0 ? plain : static_cast<fs::perms>(m.restored))
          << m.name;
    }
  }
}

// An entry that fails leaves no descriptor open, and a folder that takes no
// file (not even from root) fails the entry with the folder named.
TEST(Unzip32Permissions, FailuresCloseAndNameTheFolder) {
  TempDir dir;
  ZipWriter zip;
  zip.Add("bad.txt", Text(3000)).crc = 1;
  zip.Save(dir.Join("a.zip"));
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
