// Extraction of valid archives through the library's C entry point: every
// layout the writer can produce must come out byte for byte.
#include "support/TempDir.h"
#include "support/Unzip32Run.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <zlib.h>

#include <cstring>
#include <functional>
#include <map>
#include <random>
#include <string>

namespace qv::test {
namespace {

using Tree_t = std::map<std::string, std::string>;

std::string Text(size_t bytes) {
  std::string s;
  while (s.size() < bytes) s += "The quick brown fox jumps over the lazy dog. 0123456789\n";
  s.resize(bytes);
  return s;
}

std::string Noise(size_t bytes, uint32_t seed) {
  std::mt19937 random(seed);
  std::string s(bytes, '\0');
  for (char& c : s) c = static_cast<char>(random() & 0xFF);
  return s;
}

struct RoundTripCase {
  const char* name;
  std::function<void(ZipWriter&)> build;
  Tree_t honored;  // expected with HonorDirectories 1
  Tree_t flat;     // expected with HonorDirectories 0
};

std::vector<RoundTripCase> RoundTripCases() {
  const std::string big = Text(300000) + Noise(200000, 7);
  return {
      {"StoredAndDeflated",
       [](ZipWriter& z) {
         z.Add("a.txt", "alpha\n", kStored);
         z.Add("b.txt", Text(5000), kDeflated);
       },
       {{"a.txt", "alpha\n"}, {"b.txt", Text(5000)}},
       {{"a.txt", "alpha\n"}, {"b.txt", Text(5000)}}},
      {"EmptyEntries",
       [](ZipWriter& z) {
         z.Add("empty-stored", "", kStored);
         z.Add("empty-deflated", "", kDeflated);
       },
       {{"empty-stored", ""}, {"empty-deflated", ""}},
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
        {"lonely", "<folder>"}},
       {{"c.package", Noise(3000, 1)}, {"d.txt", "delta"}}},
      {"FoldersOnlyImpliedByFileNames",
       [](ZipWriter& z) { z.Add("x/y/z.txt", "zed"); },
       {{"x", "<folder>"}, {"x/y", "<folder>"}, {"x/y/z.txt", "zed"}},
       {{"z.txt", "zed"}}},
      {"DataDescriptors",
       [](ZipWriter& z) {
         z.Add("dd-deflated.txt", Text(9000)).dataDescriptor = true;
         z.Add("dd-stored.bin", Noise(700, 2), kStored).dataDescriptor = true;
         z.Add("plain.txt", "after");
       },
       {{"dd-deflated.txt", Text(9000)}, {"dd-stored.bin", Noise(700, 2)}, {"plain.txt", "after"}},
       {{"dd-deflated.txt", Text(9000)}, {"dd-stored.bin", Noise(700, 2)}, {"plain.txt", "after"}}},
      {"ForcedZip64ExtraFields",
       [](ZipWriter& z) {
         z.Add("z64.txt", Text(4000)).zip64 = true;
         ZipEntry& e = z.Add("z64-dd.bin", Noise(999, 3), kStored);
         e.zip64 = true;
         e.dataDescriptor = true;
       },
       {{"z64.txt", Text(4000)}, {"z64-dd.bin", Noise(999, 3)}},
       {{"z64.txt", Text(4000)}, {"z64-dd.bin", Noise(999, 3)}}},
      {"Zip64EndRecord",
       [](ZipWriter& z) {
         z.zip64End = true;
         z.Add("one.txt", "1");
         z.Add("two.txt", "22").zip64 = true;
       },
       {{"one.txt", "1"}, {"two.txt", "22"}},
       {{"one.txt", "1"}, {"two.txt", "22"}}},
      {"ArchiveAndEntryComments",
       [](ZipWriter& z) {
         z.comment = "archive comment with PK\x05\x06 inside";
         z.Add("c.txt", "see").comment = "entry comment";
       },
       {{"c.txt", "see"}},
       {{"c.txt", "see"}}},
      {"SelfExtractorStubBeforeTheArchive",
       [](ZipWriter& z) {
         z.prefix = "MZ" + std::string(1000, '\x90');
         z.Add("s.txt", "stub");
       },
       {{"s.txt", "stub"}},
       {{"s.txt", "stub"}}},
      {"LargeMixedEntry",
       [big](ZipWriter& z) { z.Add("big.bin", big); },
       {{"big.bin", big}},
       {{"big.bin", big}}},
      {"UnixModesAndDosEntriesTogether",
       [](ZipWriter& z) {
         z.Add("u.txt", "unix").unixMode = kModeFile | 0644;
         z.Add("d.txt", "dos");
       },
       {{"u.txt", "unix"}, {"d.txt", "dos"}},
       {{"u.txt", "unix"}, {"d.txt", "dos"}}},
      {"EncryptedEntriesOneAfterAnother",
       [](ZipWriter& z) {
         z.Add("e1.txt", Text(3000)).password = "secret";
         z.Add("e2.bin", Noise(100, 4), kStored).password = "secret";
         ZipEntry& e = z.Add("e3.txt", "descriptor");
         e.password = "secret";
         e.dataDescriptor = true;
       },
       {{"e1.txt", Text(3000)}, {"e2.bin", Noise(100, 4)}, {"e3.txt", "descriptor"}},
       {{"e1.txt", Text(3000)}, {"e2.bin", Noise(100, 4)}, {"e3.txt", "descriptor"}}},
  };
}

TEST(Unzip32Extract, RoundTrip) {
  for (const RoundTripCase& c : RoundTripCases()) {
    for (int honor : {1, 0}) {
      SCOPED_TRACE(std::string(c.name) + (honor ? " honoring folders" : " flat"));
      TempDir dir;
      ZipWriter zip;
      c.build(zip);
      zip.Save(dir.Join("a.zip"));
      UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
      dir.MakeFolder("out");
      run.options.HonorDirectories = honor;
      Recorder().Reset();
      Recorder().passwords = {"secret"};
      EXPECT_EQ(run.Again(), UNZIP32_OK) << Recorder().printed;
      EXPECT_EQ(Tree(dir.Join("out")), honor ? c.honored : c.flat);
    }
  }
}

TEST(Unzip32Extract, CreatesAMissingExtractionFolder) {
  TempDir dir;
  ZipWriter zip;
  zip.Add("f.txt", "f");
  zip.Save(dir.Join("a.zip"));
  UnzipRun run(dir.Join("a.zip"), dir.Join("new/deeper"));
  EXPECT_EQ(run(), UNZIP32_OK) << Recorder().printed;
  EXPECT_EQ(Tree(dir.Join("new/deeper")), (Tree_t{{"f.txt", "f"}}));
}

TEST(Unzip32Extract, ExtractionFolderWithTrailingSeparator) {
  TempDir dir;
  ZipWriter zip;
  zip.Add("f.txt", "f");
  zip.Save(dir.Join("a.zip"));
  dir.MakeFolder("out");
  UnzipRun run(dir.Join("a.zip"), dir.Join("out") + "/");
  EXPECT_EQ(run(), UNZIP32_OK) << Recorder().printed;
  EXPECT_EQ(Tree(dir.Join("out")), (Tree_t{{"f.txt", "f"}}));
}

TEST(Unzip32Extract, ArchiveProblemsGiveTheirCodes) {
  struct Case {
    const char* name;
    std::string bytes;  // empty name: no file at all
    bool exists;
    int32_t code;
  };
  ZipWriter valid;
  valid.Add("v.txt", "v");
  const std::string good = valid.Build();
  const Case cases[] = {
      {"MissingArchive", "", false, UNZIP32_ERR_OPEN},
      {"EmptyFile", "", true, UNZIP32_ERR_FORMAT},
      {"PlainText", "this is not an archive at all, just some text\n", true, UNZIP32_ERR_FORMAT},
      {"OnlyALocalHeader", good.substr(0, 40), true, UNZIP32_ERR_FORMAT},
      {"EndRecordAlone", good.substr(good.size() - 22), true, UNZIP32_ERR_FORMAT},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    if (c.exists) dir.Write("a.zip", c.bytes);
    dir.MakeFolder("out");
    UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
    EXPECT_EQ(run(), c.code) << Recorder().printed;
    EXPECT_TRUE(Tree(dir.Join("out")).empty());
    EXPECT_FALSE(Recorder().printed.empty()) << "a failure is reported through the print callback";
  }
}

TEST(Unzip32Extract, ArchivePathIsAFolder) {
  TempDir dir;
  dir.MakeFolder("a.zip");
  dir.MakeFolder("out");
  UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
  EXPECT_EQ(run(), UNZIP32_ERR_OPEN);
}

TEST(Unzip32Extract, BadParameters) {
  TempDir dir;
  ZipWriter zip;
  zip.Add("f.txt", "f");
  zip.Save(dir.Join("a.zip"));
  UnzipOptions options{};
  options.ZipFileName = nullptr;
  const std::string out = dir.Join("out");
  options.ExtractDir = out.c_str();
  UnzipUserFunctions functions{};
  UnzipNameList list{};
  EXPECT_EQ(Wiz_SingleEntryUnzip(0, &list, 0, &list, nullptr, &functions), UNZIP32_ERR_PARAMETER);
  EXPECT_EQ(Wiz_SingleEntryUnzip(0, &list, 0, &list, &options, &functions), UNZIP32_ERR_PARAMETER);
  const std::string zipPath = dir.Join("a.zip");
  options.ZipFileName = zipPath.c_str();
  options.ExtractDir = "";
  EXPECT_EQ(Wiz_SingleEntryUnzip(0, &list, 0, &list, &options, &functions), UNZIP32_ERR_PARAMETER);
  options.ExtractDir = out.c_str();
  EXPECT_EQ(Wiz_SingleEntryUnzip(-1, &list, 0, &list, &options, &functions), UNZIP32_ERR_PARAMETER);
  EXPECT_EQ(Wiz_SingleEntryUnzip(101, &list, 0, &list, &options, &functions),
            UNZIP32_ERR_PARAMETER);
  EXPECT_EQ(Wiz_SingleEntryUnzip(0, &list, 0, &list, &options, nullptr), UNZIP32_ERR_PARAMETER);
  EXPECT_TRUE(Tree(out).empty());
  // The installer's own call: count 0 and lists of null names, no callbacks.
  EXPECT_EQ(Wiz_SingleEntryUnzip(0, &list, 0, &list, &options, &functions), UNZIP32_OK);
  EXPECT_EQ(Tree(out), (Tree_t{{"f.txt", "f"}}));
}

TEST(Unzip32Extract, VersionInfo) {
  UnzipVersionInfo info{};
  info.StructLength = 64;
  EXPECT_EQ(UzpVersion2(&info), 0);
  EXPECT_EQ(info.StructLength, 64);
  EXPECT_EQ(info.Flags & 2, 2) << "zlib inflate is in use";
  const std::string date(info.Date, strnlen(info.Date, sizeof info.Date));
  EXPECT_EQ(date.size(), 10u) << date;
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

TEST(Unzip32Extract, BadCrcLeavesNoFileAndGoesOnWithTheNextEntry) {
  TempDir dir;
  ZipWriter zip;
  zip.Add("bad.txt", Text(2000)).crc = Crc32(Text(2000)) ^ 1;
  zip.Add("good.txt", "fine");
  zip.Save(dir.Join("a.zip"));
  dir.MakeFolder("out");
  UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
  EXPECT_EQ(run(), UNZIP32_ERR_CRC);
  EXPECT_EQ(Tree(dir.Join("out")), (Tree_t{{"good.txt", "fine"}}));
  EXPECT_NE(Recorder().printed.find("bad.txt"), std::string::npos) << Recorder().printed;
}

TEST(Unzip32Extract, FailedEntryKeepsThePreviousFileIntact) {
  TempDir dir;
  ZipWriter zip;
  zip.Add("keep.txt", Text(50000)).crc = 0x12345678;
  zip.Save(dir.Join("a.zip"));
  dir.Write("out/keep.txt", "previous content");
  UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
  EXPECT_EQ(run(), UNZIP32_ERR_CRC);
  EXPECT_EQ(Tree(dir.Join("out")), (Tree_t{{"keep.txt", "previous content"}}));
}

TEST(Unzip32Extract, CallbacksAreOptional) {
  TempDir dir;
  ZipWriter zip;
  zip.Add("f.txt", "f");
  zip.Add("bad.txt", "x").crc = 1;
  zip.Save(dir.Join("a.zip"));
  UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
  run.callbacks = false;
  run.options.MessageLevel = 2;
  EXPECT_EQ(run(), UNZIP32_ERR_CRC);
  EXPECT_EQ(Tree(dir.Join("out")), (Tree_t{{"f.txt", "f"}}));
}

TEST(Unzip32Extract, SameArchiveTwiceGivesTheSameFiles) {
  TempDir dir;
  ZipWriter zip;
  zip.Add("d/f.txt", Text(100));
  zip.Save(dir.Join("a.zip"));
  UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
  ASSERT_EQ(run(), UNZIP32_OK) << Recorder().printed;
  ASSERT_EQ(run(), UNZIP32_OK) << Recorder().printed;
  EXPECT_EQ(Tree(dir.Join("out")), (Tree_t{{"d", "<folder>"}, {"d/f.txt", Text(100)}}));
}

}  // namespace
}  // namespace qv::test
