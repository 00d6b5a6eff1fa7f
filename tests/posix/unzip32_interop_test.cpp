// Archives written by independent tools: the library must read what the rest
// of the world writes, not only what our own writer produces. Every writer
// this machine can have packs the same files: bsdtar, 7z, Python's zipfile,
// Java's jar and ZipOutputStream, and the zip writers of the web ecosystem
// from the npm registry (tests/posix/interop/, installed into build/npm by
// scripts/install-deps.sh). Every entry's bytes are compared with the
// source. The tools run through the POSIX shell, so the test is a POSIX one.
#include "support/Unzip32Run.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <set>
#include <string>

namespace qv::test {
namespace {

bool HaveTool(const std::string& tool) {
  return std::system(("command -v " + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string SourceDir() {
  const char* dir = std::getenv("QV_SOURCE_DIR");
  return dir != nullptr ? dir : ".";
}

// The content every tool packs: text, incompressible data, an empty file and
// nested folders.
void WriteSources(const TempDir& dir) {
  std::string text;
  for (int i = 0; i < 2000; ++i) text += "Stair " + std::to_string(i) + " goes up.\n";
  std::mt19937 random(42);
  std::string noise(70000, '\0');
  for (char& c : noise) c = static_cast<char>(random() & 0xFF);
  dir.Write("src/readme.txt", text);
  dir.Write("src/data/stairs.package", noise);
  dir.Write("src/empty.txt", "");
  dir.Write("src/sub/deeper/note with space.txt", "note\n");
}

struct InteropCase {
  std::string name;
  const char* tool;     // the program the case runs
  std::string command;  // run in the temporary folder; writes a.zip from src/
  std::string password = "";
  // The entries of src/ that are refused, and the code they are refused with.
  std::set<std::string> refused = {};
  int32_t code = UNZIP32_OK;
  // Entries the writer adds beyond src/, and those of them refused only when
  // folders are kept (a file where a folder is).
  Tree_t extra = {};
  std::set<std::string> refusedWithFolders = {};
};
void PrintTo(const InteropCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<InteropCase> Cases() {
  const std::string interop = Quote(SourceDir() + "/tests/posix/interop");
  const std::string all = "readme.txt data sub empty.txt";
  const std::string bsdtar = "bsdtar --format zip -cf a.zip -C src ";
  const std::string sevenZip = "cd src && 7z a -tzip ../a.zip ";
  const std::string quiet = " >/dev/null";
  // Everything but readme.txt deflated, then readme.txt added with `method`.
  const auto sevenZipMixed = [&](const std::string& method) {
    return sevenZip + "data sub empty.txt" + quiet + " && 7z a -tzip -mm=" + method +
           " ../a.zip readme.txt" + quiet;
  };
  const std::string python = "python3 " + interop + "/write_python.py ";
  const std::string node =
      "node " + interop + "/write_node.js " + Quote(SourceDir() + "/build/npm") + " ";
  // A stub put in front of a finished archive b.zip, its offsets unchanged.
  const std::string behindAStub = " && { printf 'MZ stub of a self-extractor'; cat b.zip; } >a.zip";
  const std::set<std::string> files = {"readme.txt", "data/stairs.package", "empty.txt",
                                       "sub/deeper/note with space.txt"};
  // bsdtar leaves empty files unencrypted.
  const std::set<std::string> encrypted = {"readme.txt", "data/stairs.package",
                                           "sub/deeper/note with space.txt"};
  const int32_t kUnsupported = UNZIP32_ERR_UNSUPPORTED;
  std::vector<InteropCase> cases = {
      {"BsdtarDeflated", "bsdtar", bsdtar + all},
      {"BsdtarStored", "bsdtar",
       "bsdtar --format zip --options zip:compression=store -cf a.zip "
       "-C src " +
           all},
      {"BsdtarDeflateLevel1", "bsdtar",
       "bsdtar --format zip --options zip:compression-level=1 -cf a.zip -C src " + all},
      {"BsdtarDeflateLevel9", "bsdtar",
       "bsdtar --format zip --options zip:compression-level=9 -cf a.zip -C src " + all},
      {"BsdtarZip64", "bsdtar", "bsdtar --format zip --options zip:zip64 -cf a.zip -C src " + all},
      {"BsdtarExperimentalExtraFields", "bsdtar",
       "bsdtar --format zip --options zip:experimental -cf a.zip -C src " + all},
      {"BsdtarTraditionalEncryption", "bsdtar",
       "bsdtar --format zip --options zip:encryption=zipcrypt --passphrase Stair7Pass -cf a.zip "
       "-C src " +
           all,
       "Stair7Pass"},
      {"BsdtarAesIsUnsupported", "bsdtar",
       "bsdtar --format zip --options zip:encryption=aes256 --passphrase Stair7Pass -cf a.zip "
       "-C src " +
           all,
       "Stair7Pass", encrypted, kUnsupported},
      {"BsdtarZip64BehindAStub", "bsdtar",
       "bsdtar --format zip --options zip:zip64 -cf b.zip -C src " + all + behindAStub},
      {"SevenZipStored", "7z", sevenZip + "-mx=0 " + all + quiet},
      {"SevenZipTraditionalEncryption", "7z",
       sevenZip + "-pStair7Pass -mem=ZipCrypto " + all + quiet, "Stair7Pass"},
      {"SevenZipAesIsUnsupported", "7z", sevenZip + "-pStair7Pass -mem=AES256 " + all + quiet,
       "Stair7Pass", files, kUnsupported},
      {"SevenZipBzip2IsUnsupported",
       "7z",
       sevenZipMixed("BZip2"),
       "",
       {"readme.txt"},
       kUnsupported},
      {"SevenZipLzmaIsUnsupported", "7z", sevenZipMixed("LZMA"), "", {"readme.txt"}, kUnsupported},
      {"SevenZipPpmdIsUnsupported", "7z", sevenZipMixed("PPMd"), "", {"readme.txt"}, kUnsupported},
      {"SevenZipDeflate64IsUnsupported",
       "7z",
       sevenZipMixed("Deflate64"),
       "",
       {"readme.txt"},
       kUnsupported},
      {"SevenZipBehindAStub", "7z",
       "cd src && 7z a -tzip ../b.zip " + all + quiet + " && cd .." + behindAStub},
      {"PythonDeflated", "python3", python + "deflated src a.zip"},
      {"PythonStored", "python3", python + "stored src a.zip"},
      {"PythonForcedZip64", "python3", python + "zip64 src a.zip"},
      {"PythonDataDescriptors", "python3", python + "stream src a.zip"},
      {"PythonBzip2IsUnsupported",
       "python3",
       python + "bzip2 src a.zip",
       "",
       {"readme.txt"},
       kUnsupported},
      {"PythonLzmaIsUnsupported",
       "python3",
       python + "lzma src a.zip",
       "",
       {"readme.txt"},
       kUnsupported},
      {"JavaJarTool", "jar", "jar --create --no-manifest --file a.zip -C src ."},
      {"JavaZipOutputStream", "java", "java " + interop + "/WriteZip.java src a.zip"},
      {"Jszip", "node", node + "jszip src a.zip"},
      {"JszipStreamFiles", "node", node + "jszip-stream src a.zip"},
      {"JszipFileBelowAFile",
       "node",
       node + "jszip-clash src a.zip",
       "",
       {},
       UNZIP32_ERR_WRITE,
       {{"sub/deeper/note with space.txt/below.txt", "below"}},
       {"sub/deeper/note with space.txt/below.txt"}},
      {"Yazl", "node", node + "yazl src a.zip"},
      {"Fflate", "node", node + "fflate src a.zip"},
      {"FflateStreaming", "node", node + "fflate-stream src a.zip"},
      {"AdmZip", "node", node + "adm-zip src a.zip"},
      {"Archiver", "node", node + "archiver src a.zip"},
  };
  for (int level : {1, 3, 5, 7, 9}) {
    cases.push_back({"SevenZipDeflateLevel" + std::to_string(level), "7z",
                     sevenZip + "-mm=Deflate -mx=" + std::to_string(level) + " " + all + quiet});
  }
  return cases;
}

class Unzip32Interop : public ::testing::TestWithParam<InteropCase> {};

// A missing writer fails the case: scripts/install-deps.sh installs them all.
TEST_P(Unzip32Interop, EveryEntryOfAnotherWriter) {
  const InteropCase& c = GetParam();
  ASSERT_TRUE(HaveTool(c.tool)) << c.tool << " is not installed: run scripts/install-deps.sh";
  if (std::string(c.tool) == "node") {
    ASSERT_TRUE(std::filesystem::exists(SourceDir() + "/build/npm/node_modules"))
        << "the npm zip writers are not installed: run scripts/install-deps.sh";
  }
  TempDir dir;
  WriteSources(dir);
  const std::string command = "cd " + Quote(dir.Path()) + " && " + c.command;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  Tree_t written = Files(dir.Join("src"));
  written.insert(c.extra.begin(), c.extra.end());
  for (int honor : {1, 0}) {
    SCOPED_TRACE(honor ? "honoring folders" : "flat");
    const std::string out = dir.Join(honor ? "out" : "flat");
    UnzipRun run(dir.Join("a.zip"), out);
    run.options.HonorDirectories = honor;
    Recorder().Reset();
    for (int i = 0; i < 3; ++i) Recorder().passwords.push_back(c.password);
    Tree_t expected;
    for (const auto& [path, content] : written) {
      if (c.refused.count(path) || (honor && c.refusedWithFolders.count(path))) continue;
      expected[honor ? path : path.substr(path.rfind('/') + 1)] = content;
    }
    const bool anyRefused = !c.refused.empty() || (honor && !c.refusedWithFolders.empty());
    EXPECT_EQ(run.Again(), anyRefused ? c.code : UNZIP32_OK) << Recorder().printed;
    const Tree_t got = Files(out);
    EXPECT_EQ(got, expected);
    size_t delivered = 0;
    for (const auto& [path, content] : expected)
      delivered += got.count(path) && got.at(path) == content;
    std::printf("%s, %s: %zu of %zu entries delivered\n", c.name.c_str(),
                honor ? "folders kept" : "flat", delivered, written.size());
    if (!c.password.empty() && c.refused.empty()) {
      EXPECT_EQ(Recorder().passwordRequests.size(), 1u) << "the password is kept";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Tools, Unzip32Interop, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<InteropCase>& param) {
                           return param.param.name;
                         });

// The other direction: what our writer produces, an independent reader
// accepts, so the library's tests do not rest on a writer only it agrees with.
TEST(Unzip32InteropWriter, PythonReadsTheTestWriter) {
  ASSERT_TRUE(HaveTool("python3")) << "python3 is not installed: run scripts/install-deps.sh";
  TempDir dir;
  ZipWriter zip;
  zip.comment = "ours";
  zip.Add("a.txt", "alpha", kStored);
  zip.Add("d/b.txt", std::string(5000, 'b'));
  zip.Add("dd.txt", "descriptor").dataDescriptor = true;
  ZipEntry& z64 = zip.Add("z64.txt", "sixty-four");
  z64.zip64 = true;
  z64.dataDescriptor = true;
  zip.Add("enc.txt", "encrypted").password = "pw";
  zip.AddFolder("folder");
  zip.zip64End = true;
  zip.Save(dir.Join("a.zip"));
  const std::string script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1]); z.setpassword(b'pw')\n"
      "assert z.testzip() is None\n"
      "assert z.comment == b'ours'\n"
      "got = {i.filename: z.read(i) for i in z.infolist()}\n"
      "assert got == {'a.txt': b'alpha', 'd/b.txt': b'b' * 5000, 'dd.txt': b'descriptor',\n"
      "  'z64.txt': b'sixty-four', 'enc.txt': b'encrypted', 'folder/': b''}, got\n";
  const std::string command = "python3 -c " + Quote(script) + " " + Quote(dir.Join("a.zip"));
  EXPECT_EQ(std::system(command.c_str()), 0);
}

}  // namespace
}  // namespace qv::test
