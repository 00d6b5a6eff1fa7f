// Archives written by independent tools (bsdtar, 7z, Python's zipfile): the
// library must read what the rest of the world writes, not only what our
// own writer produces. A case is skipped only when its tool is missing. The
// tools run through the POSIX shell, so the test is a POSIX one.
#include "support/Unzip32Run.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
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

const char* const kPython = R"PY(
import io, sys, zipfile
kind, archive, root = sys.argv[1], sys.argv[2], sys.argv[3]
names = ["readme.txt", "data/stairs.package", "empty.txt", "sub/deeper/note with space.txt"]

class Stream(io.RawIOBase):
    # Not seekable, so zipfile has to write data descriptors.
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)

method = zipfile.ZIP_STORED if kind == "stored" else zipfile.ZIP_DEFLATED
with open(archive, "wb") as f:
    target = Stream(f) if kind == "stream" else f
    with zipfile.ZipFile(target, "w", method) as z:
        z.comment = b"written by zipfile"
        for n in names:
            data = open(root + "/" + n, "rb").read()
            if kind == "zip64":
                with z.open(zipfile.ZipInfo(n, (2020, 1, 2, 3, 4, 6)), "w", force_zip64=True) as e:
                    e.write(data)
            else:
                z.write(root + "/" + n, n)
)PY";

struct InteropCase {
  const char* name;
  const char* tool;
  std::string command;  // run in the temporary folder; writes a.zip from src/
  std::string password;
  int32_t code;
};
void PrintTo(const InteropCase& c, std::ostream* os) {
  *os << c.name;
}

std::vector<InteropCase> Cases() {
  const std::string list = "readme.txt data sub empty.txt";
  const std::string python = "python3 -c " + Quote(kPython) + " ";
  return {
      {"BsdtarDeflated", "bsdtar", "bsdtar --format zip -cf a.zip -C src " + list, "", UNZIP32_OK},
      {"BsdtarStored", "bsdtar",
       "bsdtar --format zip --options zip:compression=store -cf a.zip -C src " + list, "",
       UNZIP32_OK},
      {"SevenZipDeflated", "7z", "cd src && 7z a -tzip ../a.zip " + list + " >/dev/null", "",
       UNZIP32_OK},
      {"SevenZipStored", "7z", "cd src && 7z a -tzip -mx=0 ../a.zip " + list + " >/dev/null", "",
       UNZIP32_OK},
      {"SevenZipTraditionalEncryption", "7z",
       "cd src && 7z a -tzip -pStair7Pass -mem=ZipCrypto ../a.zip " + list + " >/dev/null",
       "Stair7Pass", UNZIP32_OK},
      {"SevenZipAesIsUnsupported", "7z",
       "cd src && 7z a -tzip -pStair7Pass -mem=AES256 ../a.zip " + list + " >/dev/null",
       "Stair7Pass", UNZIP32_ERR_UNSUPPORTED},
      {"PythonDeflated", "python3", python + "deflated a.zip src", "", UNZIP32_OK},
      {"PythonStored", "python3", python + "stored a.zip src", "", UNZIP32_OK},
      {"PythonForcedZip64", "python3", python + "zip64 a.zip src", "", UNZIP32_OK},
      {"PythonDataDescriptors", "python3", python + "stream a.zip src", "", UNZIP32_OK},
  };
}

class Unzip32Interop : public ::testing::TestWithParam<InteropCase> {};

TEST_P(Unzip32Interop, ArchiveOfAnotherTool) {
  const InteropCase& c = GetParam();
  if (!HaveTool(c.tool)) GTEST_SKIP() << c.tool << " is not installed";
  TempDir dir;
  WriteSources(dir);
  const std::string command = "cd " + Quote(dir.Path()) + " && " + c.command;
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
  for (int honor : {1, 0}) {
    SCOPED_TRACE(honor ? "honoring folders" : "flat");
    const std::string out = dir.Join(honor ? "out" : "flat");
    UnzipRun run(dir.Join("a.zip"), out);
    run.options.HonorDirectories = honor;
    Recorder().Reset();
    for (int i = 0; i < 3; ++i) Recorder().passwords.push_back(c.password);
    EXPECT_EQ(run.Again(), c.code) << Recorder().printed;
    if (c.code != UNZIP32_OK) {
      EXPECT_TRUE(Files(out).empty());
      continue;
    }
    Tree_t expected;
    for (const auto& [path, content] : Files(dir.Join("src"))) {
      expected[honor ? path : path.substr(path.rfind('/') + 1)] = content;
    }
    EXPECT_EQ(Files(out), expected);
    if (!c.password.empty()) {
      EXPECT_EQ(Recorder().passwordRequests.size(), 1u) << "the password is kept";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Tools, Unzip32Interop, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<InteropCase>& param) {
                           return std::string(param.param.name);
                         });

// The other direction: what our writer produces, an independent reader
// accepts, so the library's tests do not rest on a writer only it agrees with.
TEST(Unzip32InteropWriter, PythonReadsTheTestWriter) {
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
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
