// Hostile archives, each named after its defect. The archive comes from the
// internet: whatever it holds, the library must report a failure, write
// nothing outside the extraction folder and leave no half-written file.
#include "support/TempDir.h"
#include "support/Unzip32Run.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace qv::test {
namespace {

using namespace std::string_literals;

// `root` is the test's temporary folder; the extraction folder is root/out,
// so an absolute name can aim at a place the test can watch.
using Build = std::function<void(ZipWriter&, const std::string& root)>;
using Codes = std::set<int32_t>;

struct HostileCase {
  const char* name;
  Codes codes;  // acceptable results
  Build build;
  Tree_t allowed = {};      // files that may appear in out/ (with exactly this content)
  bool nameDefect = false;  // only a folder-honoring extraction must refuse it
};

using Edit = std::function<void(ZipEntry&)>;

// One entry f.txt holding `data` packed with `method`, then changed by `edit`.
Build OneOf(uint16_t method, const std::string& data, Edit edit) {
  return [=](ZipWriter& z, const std::string&) { edit(z.Add("f.txt", data, method)); };
}
Build One(const std::string& data, Edit edit) {
  return OneOf(kDeflated, data, std::move(edit));
}

// An entry f.txt holding "x", then the archive changed by `edit`.
Build Archive(std::function<void(ZipWriter&)> edit) {
  return [=](ZipWriter& z, const std::string&) {
    z.Add("f.txt", "x");
    edit(z);
  };
}

// The archive `build` makes, behind a stub that its offsets leave out.
Build Behind(std::function<void(ZipWriter&)> build) {
  return [=](ZipWriter& z, const std::string&) {
    z.prefix = "MZ" + std::string(500, '\x90');
    z.offsetsLeaveOutPrefix = true;
    build(z);
  };
}

// An entry under the hostile `name`, then a harmless one.
Build Named(const std::string& name) {
  return [=](ZipWriter& z, const std::string& root) {
    z.Add(name == "<root>" ? root + "/escaped.txt" : name, "payload");
    z.Add("good.txt", "good");
  };
}

std::vector<HostileCase> Cases() {
  const Codes kFmt = {UNZIP32_ERR_FORMAT};
  const Codes kFmtCrc = {UNZIP32_ERR_FORMAT, UNZIP32_ERR_CRC};
  const Codes kCrc = {UNZIP32_ERR_CRC};
  const Codes kUnsafe = {UNZIP32_ERR_UNSAFE_NAME};
  const Codes kFmtUnsafe = {UNZIP32_ERR_FORMAT, UNZIP32_ERR_UNSAFE_NAME};
  const Codes kUnsupported = {UNZIP32_ERR_UNSUPPORTED};
  const Tree_t good = {{"good.txt", "good"}};
  return {
      // Traversal and absolute names.
      {"DotDotPrefix", kUnsafe, Named("../escaped.txt"), good, true},
      {"DotDotInTheMiddle", kUnsafe, Named("a/../../escaped.txt"), good, true},
      {"DotDotWithBackslashes", kUnsafe, Named("..\\escaped.txt"), good, true},
      {"DotDotMixedSeparators", kUnsafe, Named("a\\..\\../escaped.txt"), good, true},
      {"DotDotFolderEntry", kUnsafe, Named("../"), good, true},
      {"DotDotAlone", kUnsafe, Named(".."), good, true},
      {"DotDotDeep", kUnsafe, Named("a/b/c/../../../../escaped.txt"), good, true},
      {"AbsoluteSlash", kUnsafe, Named("<root>"), good, true},
      {"AbsoluteBackslash", kUnsafe, Named("\\escaped.txt"), good, true},
      {"DriveRelative", kUnsafe, Named("C:escaped.txt"), good, true},
      {"DriveAbsolute", kUnsafe, Named("C:\\escaped.txt"), good, true},
      {"DriveAbsoluteSlash", kUnsafe, Named("c:/escaped.txt"), good, true},
      {"UncPath", kUnsafe, Named("\\\\server\\share\\escaped.txt"), good, true},
      {"NulInName", kUnsafe, Named("safe.txt\0../../escaped.txt"s), good, true},
      {"ControlCharacterInName", kUnsafe, Named("bad\x01name.txt"), good, true},
      {"NewlineInName", kUnsafe, Named("bad\nname.txt"), good, true},
      {"EscapeInFolderName", kUnsafe, Named("dir\x1b[2J/x.txt"), good, true},
      // Lying sizes and checksums.
      {"BadCrc", kCrc, One(Text(3000), [](auto& e) { e.crc = 0xDEADBEEF; })},
      {"BadCrcStored", kCrc, OneOf(kStored, "abcdef", [](auto& e) { e.crc = 1; })},
      {"BadCrcInDataDescriptorOnly", kCrc,
       One(Text(3000),
           [](auto& e) {
             e.dataDescriptor = true;
             e.crc = 0xDEADBEEF;
           })},
      {"SizeLiesLarger", kFmtCrc, One(Text(3000), [](auto& e) { e.size = 3001; })},
      {"SizeLiesSmaller", kFmtCrc, One(Text(3000), [](auto& e) { e.size = 2999; })},
      {"StoredSizeLiesSmaller", kFmtCrc,
       OneOf(kStored, Text(3000), [](auto& e) { e.size = e.compressedSize = 100; })},
      {"StoredSizesDisagree", kFmtCrc, OneOf(kStored, Text(300), [](auto& e) { e.size = 299; })},
      {"CompressedSizeCutsTheStream", kFmtCrc,
       One(Text(30000), [](auto& e) { e.compressedSize = 20; })},
      {"CompressedSizeBeyondTheFile", kFmtCrc,
       One(Text(300), [](auto& e) { e.compressedSize = 1u << 30; })},
      {"Zip64SizeDiffersInTheHighBits", kFmtCrc,
       One(Text(3000),
           [](auto& e) {
             e.zip64 = true;
             e.size = 3000 + (uint64_t{1} << 32);
           })},
      {"Zip64CompressedSizeHuge", kFmtCrc,
       One(Text(3000),
           [](auto& e) {
             e.zip64 = true;
             e.compressedSize = uint64_t{1} << 62;
           })},
      {"DeflateRatioBeyondDeflate", kFmtCrc,
       One(std::string(2000, 'a'), [](auto& e) { e.size = uint64_t{2000} * 4096; })},
      {"GarbageDeflateStream", kFmtCrc,
       One(Text(300),
           [](auto& e) { e.rawPayload = "\xff\xff\xff\xff garbage that is no deflate"; })},
      {"DeflateStreamEndsEarly", kFmtCrc,
       One(Text(300), [](auto& e) { e.rawPayload = Deflate(Text(200)); })},
      {"DeflateStreamGoesOnPastTheSize", kFmtCrc,
       One(Text(300), [](auto& e) { e.rawPayload = Deflate(Text(300) + "more"); })},
      // Central and local headers that disagree.
      {"LocalNameDiffers", kFmt, One("x", [](auto& e) { e.local.name = "g.txt"; })},
      {"LocalNameIsATraversal", kFmtUnsafe, One("x", [](auto& e) { e.local.name = "../f.txt"; })},
      {"LocalMethodDiffers", kFmt,
       OneOf(kStored, Text(500), [](auto& e) { e.local.method = kDeflated; })},
      {"LocalSizeDiffers", kFmt, One(Text(500), [](auto& e) { e.local.size = 499; })},
      {"LocalCompressedSizeDiffers", kFmt,
       One(Text(500), [](auto& e) { e.local.compressedSize = 1000; })},
      {"LocalCrcDiffers", kFmtCrc, One(Text(500), [](auto& e) { e.local.crc = 7; })},
      {"LocalFlagsSayEncrypted",
       {UNZIP32_ERR_FORMAT, UNZIP32_ERR_PASSWORD, UNZIP32_ERR_UNSUPPORTED},
       One(Text(500), [](auto& e) { e.local.flags = 1; })},
      // Entries whose data overlap (zip bombs).
      {"TwoCentralEntriesShareOneLocalRecord",
       kFmtUnsafe,
       [](ZipWriter& z, const std::string&) {
         z.Add("f.txt", Text(5000));
         z.Add("f.txt", Text(5000)).sameDataAs = 0;
       },
       {{"f.txt", Text(5000)}}},
      {"ManyCentralEntriesShareOneLocalRecord",
       kFmtUnsafe,
       [](ZipWriter& z, const std::string&) {
         z.Add("bomb.bin", std::string(1 << 20, '\0'));
         for (int i = 0; i < 2000; ++i) z.Add("bomb.bin", "").sameDataAs = 0;
       },
       {{"bomb.bin", std::string(1 << 20, '\0')}}},
      {"EntryInsideAnotherEntry",
       kFmt,
       [](ZipWriter& z, const std::string&) {
         z.Add("outer.bin", "").containsNext = true;
         z.Add("inner.txt", Text(4000));
       },
       {{"outer.bin", "<any>"}}},
      {"NestedOverlapChain",
       kFmt,
       [](ZipWriter& z, const std::string&) {
         for (int i = 0; i < 20; ++i) z.Add("n" + std::to_string(i), "").containsNext = true;
         z.Add("core.txt", Text(100000));
       },
       {{"n0", "<any>"}}},
      {"LocalOffsetPointsAtTheCentralDirectory", kFmt, Archive([](ZipWriter& z) {
         z.Build();
         z.Entry(0).centralOffset = z.DirectoryOffset();
       })},
      {"LocalOffsetBeyondTheFile", kFmt, One("x", [](auto& e) { e.centralOffset = 0x7FFFFFF0u; })},
      {"Zip64LocalOffsetHuge", kFmt,
       One("x",
           [](auto& e) {
             e.zip64 = true;
             e.centralOffset = uint64_t{1} << 62;
           })},
      // A stub in front of an archive whose offsets leave it out: the shift
      // must not let entries overlap, point past their archive or before it.
      {"ShiftedEntryInsideAnotherEntry", kFmt, Behind([](ZipWriter& z) {
         z.Add("outer.bin", "").containsNext = true;
         z.Add("inner.txt", Text(4000));
       })},
      {"ShiftedOffsetPointsAtTheCentralDirectory", kFmt, Behind([](ZipWriter& z) {
         z.Add("f.txt", "x");
         z.Build();
         z.Entry(0).centralOffset = z.DirectoryOffset();
       })},
      {"ShiftedZip64OffsetWrapsAround", kFmt, Behind([](ZipWriter& z) {
         ZipEntry& e = z.Add("f.txt", "x");
         e.zip64 = true;
         e.centralOffset = ~uint64_t{0} - 100;
       })},
      {"OneOffsetShiftedTheOtherNot", kFmt, Behind([](ZipWriter& z) {
         z.Add("f.txt", Text(300));
         z.Add("g.txt", Text(300));
         z.Build();
         z.Entry(1).centralOffset = z.LocalOffsets()[1] + z.prefix.size();
       })},
      {"Zip64RecordAndDirectoryShiftedDifferently", kFmt, Behind([](ZipWriter& z) {
         z.zip64End = true;
         z.Add("f.txt", "x");
         z.Build();
         z.endDirectoryOffset = z.DirectoryOffset() - 5;
       })},
      // As if the archive's first bytes were cut off: the shift would be
      // negative, the offsets reaching before the file's start.
      {"DirectoryBehindThePlaceItIsSaidToBe", kFmt, Archive([](ZipWriter& z) {
         z.Build();
         z.endDirectoryOffset = z.DirectoryOffset() + 40;
       })},
      // End records that cannot fit the file.
      {"EntryCountBeyondTheFile", kFmt, Archive([](ZipWriter& z) { z.endEntryCount = 0xFFFE; })},
      {"Zip64EntryCountHuge", kFmt, Archive([](ZipWriter& z) {
         z.zip64End = true;
         z.endEntryCount = uint64_t{1} << 60;
       })},
      {"DirectoryOffsetBeyondTheFile", kFmt,
       Archive([](ZipWriter& z) { z.endDirectoryOffset = 0xFFFFFF00u; })},
      {"Zip64DirectoryOffsetHuge", kFmt, Archive([](ZipWriter& z) {
         z.zip64End = true;
         z.endDirectoryOffset = uint64_t{1} << 63;
       })},
      {"DirectorySizeBeyondTheFile", kFmt,
       Archive([](ZipWriter& z) { z.endDirectorySize = 0x7FFFFFFFu; })},
      {"Zip64DirectorySizeHuge", kFmt, Archive([](ZipWriter& z) {
         z.zip64End = true;
         z.endDirectorySize = ~uint64_t{0};
       })},
      {"DirectoryTooSmallForItsEntries", kFmt, Archive([](ZipWriter& z) {
         z.Add("g.txt", "y");
         z.endDirectorySize = 46;
       })},
      // Extra fields.
      {"Zip64ExtraFieldTooShort", kFmt,
       One(Text(100),
           [](auto& e) {
             e.zip64 = true;
             e.centralZip64 = Le64(100);
           })},
      {"Zip64ExtraFieldMissing", kFmt,
       One(Text(100),
           [](auto& e) {
             e.zip64 = true;
             e.centralZip64 = "";
           })},
      // A record that claims 200 bytes where the field holds 4.
      {"ExtraRecordOverrunsItsField", kFmt,
       One("x", [](auto& e) { e.centralExtra = Le16(0x5455) + Le16(200) + "abcd"; })},
      {"Zip64RecordOverrunsItsField", kFmt,
       One("x", [](auto& e) { e.centralExtra = Le16(0x0001) + Le16(24) + Le64(1); })},
      // Methods and encryption the library does not support.
      {"AesMethod99", kUnsupported,
       OneOf(kAes, std::string(40, 'q'),
             [](auto& e) {
               e.addFlags = 1;
               e.centralExtra = e.localExtra = AesExtraField();
             })},
      {"UnknownMethodLzma", kUnsupported, OneOf(14, "not lzma", [](auto&) {})},
      {"UnknownMethodBzip2", kUnsupported, OneOf(12, "not bzip2", [](auto&) {})},
      {"StrongEncryptionFlag",
       {UNZIP32_ERR_UNSUPPORTED, UNZIP32_ERR_PASSWORD},
       OneOf(kStored, "x", [](auto& e) { e.addFlags = 1 | 64; })},
  };
}

// Builds the archive in a fresh folder with a file outside.txt beside out/,
// extracts it with or without folders and checks that nothing outside out/
// changed. Returns the result; `inside` gets what out/ holds.
int32_t ExtractContained(const Build& build, int honor, Tree_t& inside) {
  TempDir dir;
  dir.Write("outside.txt", "precious");
  dir.MakeFolder("out");
  ZipWriter zip;
  build(zip, dir.Path());
  zip.Save(dir.Join("a.zip"));
  UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
  run.options.HonorDirectories = honor;
  Recorder().Reset();
  Recorder().passwords = {"pw"};
  const int32_t rc = run.Again();
  Tree_t outside = Tree(dir.Path());
  for (auto it = outside.begin(); it != outside.end();) {
    it = it->first.rfind("out/", 0) == 0 ? outside.erase(it) : std::next(it);
  }
  EXPECT_EQ(outside.erase("a.zip"), 1u);
  EXPECT_EQ(outside, (Tree_t{{"out", "<folder>"}, {"outside.txt", "precious"}}))
      << "written outside the extraction folder";
  inside = Tree(dir.Join("out"));
  for (const auto& [path, content] : inside) EXPECT_NE(content, "<link>") << path;
  return rc;
}

TEST(Unzip32Hostile, EveryDefectIsRefusedAndContained) {
  for (const HostileCase& c : Cases()) {
    for (int honor : {1, 0}) {
      SCOPED_TRACE(std::string(c.name) + (honor ? " honoring folders" : " flat"));
      Tree_t inside;
      const int32_t rc = ExtractContained(c.build, honor, inside);
      // Flat extraction keeps only the last name component of a bad name:
      // it need not refuse it, only keep it inside.
      if (!honor && c.nameDefect) continue;
      EXPECT_TRUE(c.codes.count(rc)) << "result " << rc << "\n" << Recorder().printed;
      EXPECT_FALSE(Recorder().printed.empty()) << "the failure is reported";
      for (const auto& [path, content] : inside) {
        if (content == "<folder>") continue;
        const auto it = c.allowed.find(path);
        if (it == c.allowed.end()) {
          ADD_FAILURE() << "unexpected " << path << " (" << content.size() << " bytes)";
        } else if (it->second != "<any>") {
          EXPECT_EQ(content, it->second) << path;
        }
      }
    }
  }
}

TEST(Unzip32Hostile, SymlinkEntriesAreNotCreatedAsLinks) {
  const std::pair<const char*, Build> cases[] = {
      {"LinkToAbsoluteFolderThenFileThroughIt",
       [](ZipWriter& z, const std::string& root) {
         z.AddSymlink("ln", root);
         z.Add("ln/escaped.txt", "attacker");
       }},
      {"LinkUpwardsThenFileThroughIt",
       [](ZipWriter& z, const std::string&) {
         z.AddSymlink("ln", "..");
         z.Add("ln/escaped.txt", "attacker");
       }},
      {"LinkToAFileOutsideThenOverwrite",
       [](ZipWriter& z, const std::string&) {
         z.AddSymlink("ln.txt", "../outside.txt");
         z.Add("ln.txt", "attacker");
       }},
      {"LinkInASubfolder",
       [](ZipWriter& z, const std::string&) {
         z.AddSymlink("d/ln", "../../");
         z.Add("d/ln/escaped.txt", "attacker");
       }},
  };
  for (const auto& [name, build] : cases) {
    for (int honor : {1, 0}) {
      SCOPED_TRACE(std::string(name) + (honor ? " honoring folders" : " flat"));
      Tree_t inside;
      ExtractContained(build, honor, inside);
    }
  }
}

// A link already in the extraction folder, made by someone else: the entry
// of the same name replaces the link or is refused, never written through it.
TEST(Unzip32Hostile, ExistingSymlinksAreNotFollowed) {
  struct Case {
    const char* name;
    bool folder;
    const char* entry;
  };
  for (const Case& c : {Case{"ToAFile", false, "link"}, Case{"ToAFolder", true, "link/x.txt"}}) {
    for (int honor : {1, 0}) {
      SCOPED_TRACE(std::string(c.name) + (honor ? " honoring folders" : " flat"));
      TempDir dir;
      dir.Write("target/x.txt", "precious");
      dir.Write("target.txt", "precious");
      dir.MakeFolder("out");
      const std::string target = dir.Join(c.folder ? "target" : "target.txt");
      dir.Link(target, "out/link");
      ZipWriter zip;
      zip.Add(c.entry, "attacker");
      zip.Save(dir.Join("a.zip"));
      UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
      run.options.HonorDirectories = honor;
      const int32_t rc = run();
      EXPECT_EQ(dir.Read("target.txt"), "precious");
      EXPECT_EQ(Tree(dir.Join("target")), (Tree_t{{"x.txt", "precious"}}));
      const Tree_t out = Tree(dir.Join("out"));
      const std::string entry = c.entry;
      const std::string written = honor ? entry : entry.substr(entry.rfind('/') + 1);
      EXPECT_TRUE(c.folder || out.count("link")) << "the user's link went away";
      if (!c.folder || honor) {
        const bool extracted = out.count(written) && out.at(written) == "attacker";
        EXPECT_TRUE(extracted || rc != UNZIP32_OK) << "neither extracted nor refused: " << rc;
      }
    }
  }
}

TEST(Unzip32Hostile, DuplicateNamesNeverSilentlyOverwriteThisRunsFile) {
  const std::pair<const char*, const char*> cases[] = {
      {"same.txt", "same.txt"},   {"Readme.TXT", "readme.txt"}, {"d/same.txt", "d/same.txt"},
      {"Dir/a.txt", "dir/a.txt"}, {"d/x.txt", "d\\x.txt"},
  };
  for (const auto& [first, second] : cases) {
    for (int honor : {1, 0}) {
      SCOPED_TRACE(std::string(first) + " then " + second +
                   (honor ? " honoring folders" : " flat"));
      Tree_t inside;
      const int32_t rc = ExtractContained(
          [&](ZipWriter& z, const std::string&) {
            z.Add(first, "first");
            z.Add(second, "second");
          },
          honor, inside);
      int files = 0;
      for (const auto& [path, content] : inside) {
        if (content == "<folder>") continue;
        ++files;
        EXPECT_EQ(content, "first") << path << ": the second entry replaced the first";
      }
      EXPECT_LE(files, 1) << "one name on a case-insensitive system, one file on every system";
      EXPECT_FALSE(Recorder().printed.empty()) << "the clash is reported (result " << rc << ")";
    }
  }
}

TEST(Unzip32Hostile, WrongPasswordThatPassesTheCheckByteInstallsNothing) {
  // About one wrong password in 256 decrypts the header's check byte
  // correctly; the entry must then fail on its data, not be written.
  const std::string plain = Text(5000);
  ZipWriter zip;
  zip.Add("secret.txt", plain).password = "right";
  const std::string encryptedHeader = zip.Build().substr(30 + std::string("secret.txt").size(), 12);
  const auto check = static_cast<char>(Crc32(plain) >> 24);
  std::vector<std::string> lucky;
  for (int i = 0; lucky.size() < 3 && i < 100000; ++i) {
    const std::string candidate = "wrong" + std::to_string(i);
    if (ZipCrypto(candidate).Decrypt(encryptedHeader)[11] == check) lucky.push_back(candidate);
  }
  ASSERT_EQ(lucky.size(), 3u);
  for (const std::string& password : lucky) {
    SCOPED_TRACE(password);
    Scratch x;
    zip.Save(x.zip);
    UnzipRun run = x.Run();
    Recorder().Reset();
    Recorder().passwords = {password, password, password};
    const int32_t rc = run.Again();
    EXPECT_TRUE(Codes({UNZIP32_ERR_CRC, UNZIP32_ERR_PASSWORD, UNZIP32_ERR_FORMAT}).count(rc)) << rc;
    EXPECT_TRUE(Tree(x.out).empty());
  }
}

}  // namespace
}  // namespace qv::test
