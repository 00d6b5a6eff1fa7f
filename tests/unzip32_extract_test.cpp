// Extraction of valid archives through the library's C entry point: every
// layout the writer can produce must come out byte for byte.
#include "support/Unzip32Run.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>

namespace qv::test {
namespace {

std::string Noise(size_t bytes, uint32_t seed) {
  std::mt19937 random(seed);
  std::string s(bytes, '\0');
  for (char& c : s) c = static_cast<char>(random() & 0xFF);
  return s;
}

// What a flat extraction (HonorDirectories 0) of `honored` gives: the files
// under their last name component, no folders.
Tree_t Flat(const Tree_t& honored) {
  Tree_t flat;
  for (const auto& [path, content] : honored) {
    if (content != "<folder>") flat[path.substr(path.rfind('/') + 1)] = content;
  }
  return flat;
}

TEST(Unzip32Extract, RoundTrip) {
  struct Case {
    const char* name;
    std::function<void(ZipWriter&)> build;
    Tree_t honored;  // expected with HonorDirectories 1
  };
  const std::string big = Text(300000) + Noise(200000, 7);
  const Case cases[] = {
      {"StoredAndDeflated",
       [](ZipWriter& z) {
         z.Add("a.txt", "alpha\n", kStored);
         z.Add("b.txt", Text(5000), kDeflated);
       },
       {{"a.txt", "alpha\n"}, {"b.txt", Text(5000)}}},
      {"EmptyEntries",
       [](ZipWriter& z) {
         z.Add("empty-stored", "", kStored);
         z.Add("empty-deflated", "", kDeflated);
       },
       {{"empty-stored", ""}, {"empty-deflated", ""}}},
      {"NestedFoldersWithFolderEntries",
       [](ZipWriter& z) {
         z.AddFolder("top");
         z.AddFolder("top/inner");
         z.Add("top/inner/c.package", Noise(3000, 1));
         z.Add("top/d.txt", "delta");
         z.AddFolder("lonely");
       },
       {{"top", "<folder>"},
        {"top/inner", "<folder>"},
        {"top/inner/c.package", Noise(3000, 1)},
        {"top/d.txt", "delta"},
        {"lonely", "<folder>"}}},
      {"FoldersOnlyImpliedByFileNames",
       [](ZipWriter& z) { z.Add("x/y/z.txt", "zed"); },
       {{"x", "<folder>"}, {"x/y", "<folder>"}, {"x/y/z.txt", "zed"}}},
      {"DataDescriptors",
       [](ZipWriter& z) {
         z.Add("dd-deflated.txt", Text(9000)).dataDescriptor = true;
         z.Add("dd-stored.bin", Noise(700, 2), kStored).dataDescriptor = true;
         z.Add("plain.txt", "after");
       },
       {{"dd-deflated.txt", Text(9000)}, {"dd-stored.bin", Noise(700, 2)}, {"plain.txt", "after"}}},
      {"ForcedZip64ExtraFields",
       [](ZipWriter& z) {
         z.Add("z64.txt", Text(4000)).zip64 = true;
         ZipEntry& e = z.Add("z64-dd.bin", Noise(999, 3), kStored);
         e.zip64 = e.dataDescriptor = true;
       },
       {{"z64.txt", Text(4000)}, {"z64-dd.bin", Noise(999, 3)}}},
      {"Zip64EndRecord",
       [](ZipWriter& z) {
         z.zip64End = true;
         z.Add("one.txt", "1");
         z.Add("two.txt", "22").zip64 = true;
       },
       {{"one.txt", "1"}, {"two.txt", "22"}}},
      {"ArchiveAndEntryComments",
       [](ZipWriter& z) {
         z.comment = "archive comment with PK\x05\x06 inside";
         z.Add("c.txt", "see").comment = "entry comment";
       },
       {{"c.txt", "see"}}},
      {"SelfExtractorStubBeforeTheArchive",
       [](ZipWriter& z) {
         z.prefix = "MZ" + std::string(1000, '\x90');
         z.Add("s.txt", "stub");
       },
       {{"s.txt", "stub"}}},
      // Quirks of real writers, read as other readers read them.
      {"StubBeforeAnArchiveWhoseOffsetsLeaveItOut",
       [](ZipWriter& z) {
         z.prefix = "MZ" + std::string(3000, '\x90');
         z.offsetsLeaveOutPrefix = true;
         z.Add("s.txt", Text(2000));
         z.Add("d/t.bin", Noise(300, 5), kStored).dataDescriptor = true;
       },
       {{"s.txt", Text(2000)}, {"d", "<folder>"}, {"d/t.bin", Noise(300, 5)}}},
      {"StubBeforeAZip64ArchiveWhoseOffsetsLeaveItOut",
       [](ZipWriter& z) {
         z.prefix = std::string(77, 's');
         z.offsetsLeaveOutPrefix = true;
         z.zip64End = true;
         z.Add("z.txt", "sixty-four").zip64 = true;
       },
       {{"z.txt", "sixty-four"}}},
      // The stub holds an archive of its own; the entries are those of the
      // directory that ends at the end record.
      {"StubHoldingADecoyBeforeOffsetsThatLeaveItOut",
       [](ZipWriter& z) {
         ZipWriter decoy;
         decoy.Add("decoy.txt", "decoy");
         z.prefix = decoy.Build();
         z.offsetsLeaveOutPrefix = true;
         z.Add("real.txt", "real");
       },
       {{"real.txt", "real"}}},
      {"DescriptorFlagInTheLocalHeaderOnly",
       [](ZipWriter& z) {
         z.Add("l.txt", Text(3000)).local.flags = 8;
         z.Add("l.bin", Noise(200, 6), kStored).local.flags = 8;
       },
       {{"l.txt", Text(3000)}, {"l.bin", Noise(200, 6)}}},
      {"DescriptorFlagInTheCentralHeaderOnly",
       [](ZipWriter& z) {
         ZipEntry& e = z.Add("c.txt", Text(3000));
         e.dataDescriptor = true;
         e.local.flags = 0;
       },
       {{"c.txt", Text(3000)}}},
      {"DescriptorsWithoutSignature",
       [](ZipWriter& z) {
         for (const char* name : {"n1.txt", "n2.txt"}) {
           ZipEntry& e = z.Add(name, Text(700));
           e.dataDescriptor = true;
           e.descriptorSignature = false;
         }
         ZipEntry& e = z.Add("n3.txt", "64");
         e.dataDescriptor = e.zip64 = true;
         e.descriptorSignature = false;
       },
       {{"n1.txt", Text(700)}, {"n2.txt", Text(700)}, {"n3.txt", "64"}}},
      {"DeflateLevelAndUtf8FlagsInOneHeaderOnly",
       [](ZipWriter& z) {
         z.Add("level.txt", Text(900)).local.flags = 2 | 4;
         z.Add("utf8.txt", "utf-8").addFlags = 0x0800;
         z.Entry(1).local.flags = 0;
       },
       {{"level.txt", Text(900)}, {"utf8.txt", "utf-8"}}},
      // Bytes after the end of the deflate stream within the compressed size
      // are ignored: the entry is delivered when its size and CRC match.
      {"TrailingBytesAfterTheDeflateStream",
       [](ZipWriter& z) {
         z.Add("t.txt", Text(4000)).rawPayload = Deflate(Text(4000)) + "trailing bytes";
         ZipEntry& e = z.Add("td.txt", Text(100));
         e.rawPayload = Deflate(Text(100)) + std::string(30, '\0');
         e.dataDescriptor = true;
       },
       {{"t.txt", Text(4000)}, {"td.txt", Text(100)}}},
      {"ZerosAtTheDeflateCeiling",
       [](ZipWriter& z) {
         const uint64_t zeros = 4u << 20;
         ZipEntry& e = z.Add("zeros.bin", "");
         e.rawPayload = DeflateZerosAtTheCeiling(zeros);
         e.size = zeros;
         e.crc = Crc32OfZeros(zeros);
       },
       {{"zeros.bin", std::string(4u << 20, '\0')}}},
      {"LargeMixedEntry", [big](ZipWriter& z) { z.Add("big.bin", big); }, {{"big.bin", big}}},
      {"UnixModesAndDosEntriesTogether",
       [](ZipWriter& z) {
         z.Add("u.txt", "unix").unixMode = kModeFile | 0644;
         z.Add("d.txt", "dos");
       },
       {{"u.txt", "unix"}, {"d.txt", "dos"}}},
      {"EncryptedEntriesOneAfterAnother",
       [](ZipWriter& z) {
         z.Add("e1.txt", Text(3000)).password = "secret";
         z.Add("e2.bin", Noise(100, 4), kStored).password = "secret";
         ZipEntry& e = z.Add("e3.txt", "descriptor");
         e.password = "secret";
         e.dataDescriptor = true;
       },
       {{"e1.txt", Text(3000)}, {"e2.bin", Noise(100, 4)}, {"e3.txt", "descriptor"}}},
  };
  for (const Case& c : cases) {
    for (int honor : {1, 0}) {
      SCOPED_TRACE(std::string(c.name) + (honor ? " honoring folders" : " flat"));
      Scratch x;
      ZipWriter zip;
      c.build(zip);
      zip.Save(x.zip);
      UnzipRun run = x.Run();
      run.options.HonorDirectories = honor;
      Recorder().Reset();
      Recorder().passwords = {"secret"};
      EXPECT_EQ(run.Again(), UNZIP32_OK) << Recorder().printed;
      EXPECT_EQ(Tree(x.out), honor ? c.honored : Flat(c.honored));
    }
  }
}

// The same archive extracted a second time over the first, and into
// extraction folders spelled or missing in several ways.
TEST(Unzip32Extract, ExtractionFolders) {
  for (const char* folder : {"out", "out/", "new/deeper", "again"}) {
    SCOPED_TRACE(folder);
    Scratch x;
    ZipWriter zip;
    zip.Add("d/f.txt", Text(100));
    zip.Save(x.zip);
    UnzipRun run(x.zip, x.dir.Path() + "/" + folder);
    ASSERT_EQ(run(), UNZIP32_OK) << Recorder().printed;
    if (std::string(folder) == "again") {
      ASSERT_EQ(run(), UNZIP32_OK) << Recorder().printed;
    }
    EXPECT_EQ(Tree(x.dir.Join(folder)), (Tree_t{{"d", "<folder>"}, {"d/f.txt", Text(100)}}));
  }
}

TEST(Unzip32Extract, ArchiveProblemsGiveTheirCodes) {
  struct Case {
    const char* name;
    const char* bytes;    // null: no archive; "<folder>": a folder in its place
    size_t from, length;  // the part of a valid archive when `bytes` is empty
    int32_t code;
  };
  ZipWriter valid;
  valid.Add("v.txt", "v");
  const std::string good = valid.Build();
  const Case cases[] = {
      {"MissingArchive", nullptr, 0, 0, UNZIP32_ERR_OPEN},
      {"ArchivePathIsAFolder", "<folder>", 0, 0, UNZIP32_ERR_OPEN},
      {"EmptyFile", "", 0, 0, UNZIP32_ERR_FORMAT},
      {"PlainText", "this is not an archive at all, just some text\n", 0, 0, UNZIP32_ERR_FORMAT},
      {"OnlyALocalHeader", "", 0, 40, UNZIP32_ERR_FORMAT},
      {"EndRecordAlone", "", good.size() - 22, 22, UNZIP32_ERR_FORMAT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Scratch x;
    if (c.bytes != nullptr && std::string(c.bytes) == "<folder>") {
      x.dir.MakeFolder("a.zip");
    } else if (c.bytes != nullptr) {
      x.dir.Write("a.zip", *c.bytes ? c.bytes : good.substr(c.from, c.length));
    }
    UnzipRun run = x.Run();
    EXPECT_EQ(run(), c.code) << Recorder().printed;
    EXPECT_TRUE(Tree(x.out).empty());
    EXPECT_FALSE(Recorder().printed.empty()) << "a failure is reported through the print callback";
  }
}

// An entry that fails its CRC check leaves no file, not even over an older
// one of the same name, and the run goes on with the next entry; also
// without any callback to report through.
TEST(Unzip32Extract, BadCrcLeavesNoFileAndGoesOn) {
  struct Case {
    const char* name;
    bool existing;  // out/bad.txt holds "previous content" beforehand
    bool callbacks;
  };
  for (const Case& c : {Case{"Fresh", false, true}, Case{"OverAnOlderFile", true, true},
                        Case{"WithoutCallbacks", false, false}}) {
    SCOPED_TRACE(c.name);
    Scratch x;
    ZipWriter zip;
    zip.Add("bad.txt", Text(50000)).crc = Crc32(Text(50000)) ^ 1;
    zip.Add("good.txt", "fine");
    zip.Save(x.zip);
    if (c.existing) x.dir.Write("out/bad.txt", "previous content");
    UnzipRun run = x.Run();
    run.callbacks = c.callbacks;
    run.options.MessageLevel = 2;
    EXPECT_EQ(run(), UNZIP32_ERR_CRC);
    Tree_t expected = {{"good.txt", "fine"}};
    if (c.existing) expected["bad.txt"] = "previous content";
    EXPECT_EQ(Tree(x.out), expected);
    if (c.callbacks) {
      EXPECT_NE(Recorder().printed.find("bad.txt"), std::string::npos);
    }
  }
}

// Entries that fail on their own: the entry is skipped, nothing is written
// for it, the others are extracted and the first failure's code returned.
TEST(Unzip32Extract, OneEntryFailsTheOthersAreExtracted) {
  struct Case {
    const char* name;
    std::function<void(ZipWriter&)> build;
    int32_t code;    // with HonorDirectories 1 (flat extraction has no folders to clash)
    Tree_t honored;  // files only
  };
  const auto good = [](ZipWriter& z) { z.Add("good.txt", "good"); };
  const Case cases[] = {
      // jszip writes the folder entry "a/b/" for "a/b/c" even when "a/b" is
      // one of its files.
      {"FileThenFolderOfTheSameName",
       [&](ZipWriter& z) {
         z.Add("a/b", "file", kStored);
         z.AddFolder("a/b");
         z.Add("a/b/c", "below", kStored);
         good(z);
       },
       UNZIP32_ERR_WRITE,
       {{"a/b", "file"}, {"good.txt", "good"}}},
      {"FolderThenFileOfTheSameName",
       [&](ZipWriter& z) {
         z.Add("a/b/c", "below");
         z.Add("a/b", "file");
         good(z);
       },
       UNZIP32_ERR_WRITE,
       {{"a/b/c", "below"}, {"good.txt", "good"}}},
      {"DescriptorCrcDisagreesWithTheData",
       [&](ZipWriter& z) {
         ZipEntry& e = z.Add("bad.txt", Text(3000));
         e.dataDescriptor = true;
         e.descriptor.crc = Crc32(Text(3000)) ^ 0x100;
         good(z);
       },
       UNZIP32_ERR_CRC,
       {{"good.txt", "good"}}},
      {"DescriptorSizeDisagreesWithTheCentralHeader",
       [&](ZipWriter& z) {
         ZipEntry& e = z.Add("bad.txt", Text(3000), kStored);
         e.dataDescriptor = true;
         e.descriptor.size = 2999;
         good(z);
       },
       UNZIP32_ERR_CRC,
       {{"good.txt", "good"}}},
      {"LocalHeaderAnnouncesADescriptorThatIsNotThere",
       [&](ZipWriter& z) {
         ZipEntry& e = z.Add("bad.txt", Text(3000));
         e.dataDescriptor = true;
         e.local.flags = 8;
         e.descriptor.compressedSize = 1;
         e.descriptor.size = 1;
         good(z);
       },
       UNZIP32_ERR_CRC,
       {{"good.txt", "good"}}},
      // Each refused with 6 on its own; the data are never looked at.
      {"UnsupportedMethods",
       [&](ZipWriter& z) {
         const std::pair<const char*, uint16_t> methods[] = {
             {"deflate64", 9}, {"bzip2", 12}, {"lzma", 14},   {"zstd", 93},
             {"xz", 95},       {"ppmd", 98},  {"imploded", 6}};
         for (const auto& [name, method] : methods) z.Add(name, Text(500), method);
         ZipEntry& aes = z.Add("aes", Text(500), kAes);
         aes.addFlags = 1;
         aes.centralExtra = aes.localExtra = AesExtraField();
         good(z);
       },
       UNZIP32_ERR_UNSUPPORTED,
       {{"good.txt", "good"}}},
  };
  for (const Case& c : cases) {
    for (int honor : {1, 0}) {
      SCOPED_TRACE(std::string(c.name) + (honor ? " honoring folders" : " flat"));
      Scratch x;
      ZipWriter zip;
      c.build(zip);
      zip.Save(x.zip);
      UnzipRun run = x.Run();
      run.options.HonorDirectories = honor;
      const int32_t rc = run();
      const bool clash = c.code == UNZIP32_ERR_WRITE;
      EXPECT_EQ(rc, honor || !clash ? c.code : UNZIP32_OK) << Recorder().printed;
      if (honor) {
        EXPECT_EQ(Files(x.out), c.honored);
      }
      EXPECT_EQ(Files(x.out).count("good.txt"), 1u);
    }
  }
}

// 4 GiB - 1 zero bytes deflated as densely as deflate allows: within the
// ratio bound, and (the size being the ZIP64 sentinel) read from the ZIP64
// extra field. Only tested, so nothing of that size is written.
TEST(Unzip32Extract, LargestEntryAtTheDeflateCeilingIsNotRefused) {
  const uint64_t zeros = 0xFFFFFFFFu;
  Scratch x;
  ZipWriter zip;
  ZipEntry& e = zip.Add("zeros.bin", "");
  e.rawPayload = DeflateZerosAtTheCeiling(zeros);
  e.size = zeros;
  e.crc = Crc32OfZeros(zeros);
  zip.Save(x.zip);
  EXPECT_LT(static_cast<double>(zeros) / static_cast<double>(e.rawPayload->size()), 1032.0);
  EXPECT_GT(static_cast<double>(zeros) / static_cast<double>(e.rawPayload->size()), 1031.9);
  UnzipRun run = x.Run();
  run.options.TestZip = 1;
  EXPECT_EQ(run(), UNZIP32_OK) << Recorder().printed;
  // One byte more than the ceiling allows is refused before any inflating.
  e.size = uint64_t{1032} * e.rawPayload->size() + 1;
  zip.Save(x.zip);
  EXPECT_EQ(run(), UNZIP32_ERR_FORMAT) << Recorder().printed;
  EXPECT_NE(Recorder().printed.find("beyond"), std::string::npos) << Recorder().printed;
}

TEST(Unzip32Extract, BadParameters) {
  Scratch x;
  ZipWriter zip;
  zip.Add("f.txt", "f");
  zip.Save(x.zip);
  UnzipOptions options{};
  options.ExtractDir = x.out.c_str();
  UnzipUserFunctions functions{};
  UnzipNameList list{};
  auto call = [&](int32_t count, UnzipOptions* o, UnzipUserFunctions* f) {
    return Wiz_SingleEntryUnzip(count, &list, 0, &list, o, f);
  };
  EXPECT_EQ(call(0, nullptr, &functions), UNZIP32_ERR_PARAMETER);
  EXPECT_EQ(call(0, &options, &functions), UNZIP32_ERR_PARAMETER) << "no archive path";
  options.ZipFileName = x.zip.c_str();
  options.ExtractDir = "";
  EXPECT_EQ(call(0, &options, &functions), UNZIP32_ERR_PARAMETER) << "empty folder";
  options.ExtractDir = x.out.c_str();
  EXPECT_EQ(call(-1, &options, &functions), UNZIP32_ERR_PARAMETER);
  EXPECT_EQ(call(101, &options, &functions), UNZIP32_ERR_PARAMETER);
  EXPECT_EQ(call(0, &options, nullptr), UNZIP32_ERR_PARAMETER);
  EXPECT_TRUE(Tree(x.out).empty());
  // The installer's own call: count 0 and lists of null names, no callbacks.
  EXPECT_EQ(call(0, &options, &functions), UNZIP32_OK);
  EXPECT_EQ(Tree(x.out), (Tree_t{{"f.txt", "f"}}));
}

TEST(Unzip32Extract, VersionInfo) {
  UnzipVersionInfo info{};
  info.StructLength = 64;
  EXPECT_EQ(UzpVersion2(&info), 0);
  EXPECT_EQ(info.StructLength, 64);
  EXPECT_EQ(info.Flags & 2, 2) << "zlib inflate is in use";
  EXPECT_EQ(strnlen(info.Date, sizeof info.Date), 10u);
  EXPECT_EQ(std::string(info.ZlibVersion, strnlen(info.ZlibVersion, sizeof info.ZlibVersion)),
            std::string(zlibVersion()).substr(0, sizeof info.ZlibVersion - 1));
  EXPECT_EQ(info.ZipVersion[0] * 10 + info.ZipVersion[1], 45) << "ZIP64 is read";
  EXPECT_EQ(info.Reserved, 0);
  EXPECT_LT(strnlen(info.BetaLevel, sizeof info.BetaLevel), sizeof info.BetaLevel);
  UnzipVersionInfo small{};
  small.StructLength = 63;
  EXPECT_EQ(UzpVersion2(&small), UNZIP32_ERR_PARAMETER);
  EXPECT_EQ(UzpVersion2(nullptr), UNZIP32_ERR_PARAMETER);
}

}  // namespace
}  // namespace qv::test
