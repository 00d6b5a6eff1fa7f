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

using Tree_t = std::map<std::string, std::string>;
using namespace std::string_literals;

std::string Text(size_t bytes) {
  std::string s;
  while (s.size() < bytes) s += "lorem ipsum dolor sit amet, consectetur adipiscing elit\n";
  s.resize(bytes);
  return s;
}

// `root` is the test's temporary folder; the extraction folder is root/out,
// so an absolute name can aim at a place the test can watch.
using Build = std::function<void(ZipWriter&, const std::string& root)>;

struct HostileCase {
  const char* name;
  Build build;
  std::set<int32_t> codes;  // acceptable results
  Tree_t allowed;           // files that may appear in out/ (with exactly this content)
  bool nameDefect = false;  // only a folder-honoring extraction must refuse it
};

std::vector<HostileCase> Cases() {
  const std::set<int32_t> kFormat = {UNZIP32_ERR_FORMAT};
  const std::set<int32_t> kFormatOrCrc = {UNZIP32_ERR_FORMAT, UNZIP32_ERR_CRC};
  const std::set<int32_t> kUnsafe = {UNZIP32_ERR_UNSAFE_NAME};
  const std::set<int32_t> kUnsupported = {UNZIP32_ERR_UNSUPPORTED};
  const Tree_t good = {{"good.txt", "good"}};
  auto named = [](std::string name) {
    return [name](ZipWriter& z, const std::string&) {
      z.Add(name, "payload");
      z.Add("good.txt", "good");
    };
  };
  std::vector<HostileCase> cases = {
      // Traversal and absolute names.
      {"DotDotPrefix", named("../escaped.txt"), kUnsafe, good, true},
      {"DotDotInTheMiddle", named("a/../../escaped.txt"), kUnsafe, good, true},
      {"DotDotWithBackslashes", named("..\\escaped.txt"), kUnsafe, good, true},
      {"DotDotMixedSeparators", named("a\\..\\../escaped.txt"), kUnsafe, good, true},
      {"DotDotFolderEntry", named("../"), kUnsafe, good, true},
      {"DotDotAlone", named(".."), kUnsafe, good, true},
      {"DotDotDeep", named("a/b/c/../../../../escaped.txt"), kUnsafe, good, true},
      {"AbsoluteSlash",
       [](ZipWriter& z, const std::string& root) {
         z.Add(root + "/escaped.txt", "payload");
         z.Add("good.txt", "good");
       },
       kUnsafe, good, true},
      {"AbsoluteBackslash", named("\\escaped.txt"), kUnsafe, good, true},
      {"DriveRelative", named("C:escaped.txt"), kUnsafe, good, true},
      {"DriveAbsolute", named("C:\\escaped.txt"), kUnsafe, good, true},
      {"DriveAbsoluteSlash", named("c:/escaped.txt"), kUnsafe, good, true},
      {"UncPath", named("\\\\server\\share\\escaped.txt"), kUnsafe, good, true},
      {"NulInName", named("safe.txt\0../../escaped.txt"s), kUnsafe, good, true},
      {"ControlCharacterInName", named("bad\x01name.txt"), kUnsafe, good, true},
      {"NewlineInName", named("bad\nname.txt"), kUnsafe, good, true},
      {"EscapeInFolderName", named("dir\x1b[2J/x.txt"), kUnsafe, good, true},
      // Lying sizes and checksums.
      {"BadCrc",
       [](ZipWriter& z, const std::string&) { z.Add("f.txt", Text(3000)).crc = 0xDEADBEEF; },
       {UNZIP32_ERR_CRC},
       {}},
      {"BadCrcStored",
       [](ZipWriter& z, const std::string&) { z.Add("f.bin", "abcdef", kStored).crc = 1; },
       {UNZIP32_ERR_CRC},
       {}},
      {"BadCrcInDataDescriptorOnly",
       [](ZipWriter& z, const std::string&) {
         ZipEntry& e = z.Add("f.txt", Text(3000));
         e.dataDescriptor = true;
         e.crc = 0xDEADBEEF;
       },
       {UNZIP32_ERR_CRC},
       {}},
      {"SizeLiesLarger",
       [](ZipWriter& z, const std::string&) { z.Add("f.txt", Text(3000)).size = 3001; },
       kFormatOrCrc,
       {}},
      {"SizeLiesSmaller",
       [](ZipWriter& z, const std::string&) { z.Add("f.txt", Text(3000)).size = 2999; },
       kFormatOrCrc,
       {}},
      {"StoredSizeLiesSmaller",
       [](ZipWriter& z, const std::string&) {
         ZipEntry& e = z.Add("f.bin", Text(3000), kStored);
         e.size = 100;
         e.compressedSize = 100;
       },
       kFormatOrCrc,
       {}},
      {"StoredSizesDisagree",
       [](ZipWriter& z, const std::string&) { z.Add("f.bin", Text(300), kStored).size = 299; },
       kFormatOrCrc,
       {}},
      {"CompressedSizeCutsTheStream",
       [](ZipWriter& z, const std::string&) {
         ZipEntry& e = z.Add("f.txt", Text(30000));
         e.compressedSize = 20;
       },
       kFormatOrCrc,
       {}},
      {"CompressedSizeBeyondTheFile",
       [](ZipWriter& z, const std::string&) {
         z.Add("f.txt", Text(300)).compressedSize = 1u << 30;
       },
       kFormatOrCrc,
       {}},
      {"Zip64SizeDiffersInTheHighBits",
       [](ZipWriter& z, const std::string&) {
         ZipEntry& e = z.Add("f.txt", Text(3000));
         e.zip64 = true;
         e.size = 3000 + (uint64_t{1} << 32);
       },
       kFormatOrCrc,
       {}},
      {"Zip64CompressedSizeHuge",
       [](ZipWriter& z, const std::string&) {
         ZipEntry& e = z.Add("f.txt", Text(3000));
         e.zip64 = true;
         e.compressedSize = uint64_t{1} << 62;
       },
       kFormatOrCrc,
       {}},
      {"DeflateRatioBeyondDeflate",
       [](ZipWriter& z, const std::string&) {
         z.Add("f.txt", std::string(2000, 'a')).size = uint64_t{2000} * 4096;
       },
       kFormatOrCrc,
       {}},
      {"GarbageDeflateStream",
       [](ZipWriter& z, const std::string&) {
         z.Add("f.txt", Text(300)).rawPayload = "\xff\xff\xff\xff garbage that is no deflate";
       },
       kFormatOrCrc,
       {}},
      {"DeflateStreamEndsEarly",
       [](ZipWriter& z, const std::string&) {
         z.Add("f.txt", Text(300)).rawPayload = Deflate(Text(200));
       },
       kFormatOrCrc,
       {}},
      {"DeflateStreamGoesOnPastTheSize",
       [](ZipWriter& z, const std::string&) {
         ZipEntry& e = z.Add("f.txt", Text(300));
         e.rawPayload = Deflate(Text(300) + "more");
       },
       kFormatOrCrc,
       {}},
      // Central and local headers that disagree.
      {"LocalNameDiffers",
       [](ZipWriter& z, const std::string&) { z.Add("f.txt", "x").local.name = "g.txt"; },
       kFormat,
       {}},
      {"LocalNameIsATraversal",
       [](ZipWriter& z, const std::string&) { z.Add("f.txt", "x").local.name = "../f.txt"; },
       {UNZIP32_ERR_FORMAT, UNZIP32_ERR_UNSAFE_NAME},
       {}},
      {"LocalMethodDiffers",
       [](ZipWriter& z, const std::string&) {
         z.Add("f.txt", Text(500), kStored).local.method = kDeflated;
       },
       kFormat,
       {}},
      {"LocalSizeDiffers",
       [](ZipWriter& z, const std::string&) { z.Add("f.txt", Text(500)).local.size = 499; },
       kFormat,
       {}},
      {"LocalCompressedSizeDiffers",
       [](ZipWriter& z, const std::string&) {
         z.Add("f.txt", Text(500)).local.compressedSize = 1000;
       },
       kFormat,
       {}},
      {"LocalCrcDiffers",
       [](ZipWriter& z, const std::string&) { z.Add("f.txt", Text(500)).local.crc = 7; },
       kFormatOrCrc,
       {}},
      {"LocalFlagsSayEncrypted",
       [](ZipWriter& z, const std::string&) { z.Add("f.txt", Text(500)).local.flags = 1; },
       {UNZIP32_ERR_FORMAT, UNZIP32_ERR_PASSWORD, UNZIP32_ERR_UNSUPPORTED},
       {}},
      // Entries whose data overlap (zip bombs).
      {"TwoCentralEntriesShareOneLocalRecord",
       [](ZipWriter& z, const std::string&) {
         z.Add("f.txt", Text(5000));
         z.Add("f.txt", Text(5000)).sameDataAs = 0;
       },
       {UNZIP32_ERR_FORMAT, UNZIP32_ERR_UNSAFE_NAME},
       {{"f.txt", Text(5000)}}},
      {"ManyCentralEntriesShareOneLocalRecord",
       [](ZipWriter& z, const std::string&) {
         z.Add("bomb.bin", std::string(1 << 20, '\0'));
         for (int i = 0; i < 2000; ++i) z.Add("bomb.bin", "").sameDataAs = 0;
       },
       {UNZIP32_ERR_FORMAT, UNZIP32_ERR_UNSAFE_NAME},
       {{"bomb.bin", std::string(1 << 20, '\0')}}},
      {"EntryInsideAnotherEntry",
       [](ZipWriter& z, const std::string&) {
         z.Add("outer.bin", "").containsNext = true;
         z.Add("inner.txt", Text(4000));
       },
       kFormat,
       {{"outer.bin", "<any>"}}},
      {"NestedOverlapChain",
       [](ZipWriter& z, const std::string&) {
         for (int i = 0; i < 20; ++i) z.Add("n" + std::to_string(i), "").containsNext = true;
         z.Add("core.txt", Text(100000));
       },
       kFormat,
       {{"n0", "<any>"}}},
      {"LocalOffsetPointsAtTheCentralDirectory",
       [](ZipWriter& z, const std::string&) {
         z.Add("f.txt", "x");
         z.Build();
         z.Entry(0).centralOffset = z.DirectoryOffset();
       },
       kFormat,
       {}},
      {"LocalOffsetBeyondTheFile",
       [](ZipWriter& z, const std::string&) { z.Add("f.txt", "x").centralOffset = 0x7FFFFFF0u; },
       kFormat,
       {}},
      {"Zip64LocalOffsetHuge",
       [](ZipWriter& z, const std::string&) {
         ZipEntry& e = z.Add("f.txt", "x");
         e.zip64 = true;
         e.centralOffset = uint64_t{1} << 62;
       },
       kFormat,
       {}},
      // End records that cannot fit the file.
      {"EntryCountBeyondTheFile",
       [](ZipWriter& z, const std::string&) {
         z.Add("f.txt", "x");
         z.endEntryCount = 0xFFFE;
       },
       kFormat,
       {}},
      {"Zip64EntryCountHuge",
       [](ZipWriter& z, const std::string&) {
         z.Add("f.txt", "x");
         z.zip64End = true;
         z.endEntryCount = uint64_t{1} << 60;
       },
       kFormat,
       {}},
      {"DirectoryOffsetBeyondTheFile",
       [](ZipWriter& z, const std::string&) {
         z.Add("f.txt", "x");
         z.endDirectoryOffset = 0xFFFFFF00u;
       },
       kFormat,
       {}},
      {"Zip64DirectoryOffsetHuge",
       [](ZipWriter& z, const std::string&) {
         z.Add("f.txt", "x");
         z.zip64End = true;
         z.endDirectoryOffset = uint64_t{1} << 63;
       },
       kFormat,
       {}},
      {"DirectorySizeBeyondTheFile",
       [](ZipWriter& z, const std::string&) {
         z.Add("f.txt", "x");
         z.endDirectorySize = 0x7FFFFFFFu;
       },
       kFormat,
       {}},
      {"Zip64DirectorySizeHuge",
       [](ZipWriter& z, const std::string&) {
         z.Add("f.txt", "x");
         z.zip64End = true;
         z.endDirectorySize = ~uint64_t{0};
       },
       kFormat,
       {}},
      {"DirectoryTooSmallForItsEntries",
       [](ZipWriter& z, const std::string&) {
         z.Add("f.txt", "x");
         z.Add("g.txt", "y");
         z.endDirectorySize = 46;
       },
       kFormat,
       {}},
      // Extra fields.
      {"Zip64ExtraFieldTooShort",
       [](ZipWriter& z, const std::string&) {
         ZipEntry& e = z.Add("f.txt", Text(100));
         e.zip64 = true;
         e.centralZip64 = Le64(100);
       },
       kFormat,
       {}},
      {"Zip64ExtraFieldMissing",
       [](ZipWriter& z, const std::string&) {
         ZipEntry& e = z.Add("f.txt", Text(100));
         e.zip64 = true;
         e.centralZip64 = "";
       },
       kFormat,
       {}},
      {"ExtraRecordOverrunsItsField",
       [](ZipWriter& z, const std::string&) {
         // A record that claims 200 bytes where the field holds 4.
         z.Add("f.txt", "x").centralExtra = Le16(0x5455) + Le16(200) + "abcd";
       },
       kFormat,
       {}},
      {"Zip64RecordOverrunsItsField",
       [](ZipWriter& z, const std::string&) {
         z.Add("f.txt", "x").centralExtra = Le16(0x0001) + Le16(24) + Le64(1);
       },
       kFormat,
       {}},
      // Methods and encryption the library does not support.
      {"AesMethod99",
       [](ZipWriter& z, const std::string&) {
         ZipEntry& e = z.Add("f.txt", std::string(40, 'q'), kAes);
         e.addFlags = 1;
         e.centralExtra = AesExtraField();
         e.localExtra = AesExtraField();
       },
       kUnsupported,
       {}},
      {"UnknownMethodLzma",
       [](ZipWriter& z, const std::string&) { z.Add("f.txt", "not lzma", 14); },
       kUnsupported,
       {}},
      {"UnknownMethodBzip2",
       [](ZipWriter& z, const std::string&) { z.Add("f.txt", "not bzip2", 12); },
       kUnsupported,
       {}},
      {"StrongEncryptionFlag",
       [](ZipWriter& z, const std::string&) { z.Add("f.txt", "x", kStored).addFlags = 1 | 64; },
       {UNZIP32_ERR_UNSUPPORTED, UNZIP32_ERR_PASSWORD},
       {}},
  };
  return cases;
}

// Whether every file in out/ is allowed there with that content.
void ExpectOnlyAllowed(const Tree_t& out, const Tree_t& allowed) {
  for (const auto& [path, content] : out) {
    if (content == "<folder>") continue;
    const auto it = allowed.find(path);
    if (it == allowed.end()) {
      ADD_FAILURE() << "unexpected " << path << " (" << content.size() << " bytes)";
    } else if (it->second != "<any>") {
      EXPECT_EQ(content, it->second) << path;
    }
  }
}

TEST(Unzip32Hostile, EveryDefectIsRefusedAndContained) {
  for (const HostileCase& c : Cases()) {
    for (int honor : {1, 0}) {
      SCOPED_TRACE(std::string(c.name) + (honor ? " honoring folders" : " flat"));
      TempDir dir;
      dir.MakeFolder("out");
      ZipWriter zip;
      c.build(zip, dir.Path());
      zip.Save(dir.Join("a.zip"));
      UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
      run.options.HonorDirectories = honor;
      Recorder().Reset();
      Recorder().passwords = {"pw"};
      const int32_t rc = run.Again();
      if (honor || !c.nameDefect) {
        EXPECT_TRUE(c.codes.count(rc)) << "result " << rc << "\n" << Recorder().printed;
        EXPECT_FALSE(Recorder().printed.empty()) << "the failure is reported";
      }
      // Nothing beside out/ and the archive; within out/ only allowed files.
      Tree_t outside = Tree(dir.Path());
      Tree_t inside = Tree(dir.Join("out"));
      for (auto it = outside.begin(); it != outside.end();) {
        it = it->first.rfind("out/", 0) == 0 ? outside.erase(it) : std::next(it);
      }
      EXPECT_EQ(outside.size(), 2u) << "written outside the extraction folder";
      EXPECT_TRUE(outside.count("a.zip") && outside.count("out"));
      if (honor || !c.nameDefect) {
        ExpectOnlyAllowed(inside, c.allowed);
      } else {
        // Flat extraction keeps only the last name component; whatever it
        // wrote stays inside and is not a link.
        for (const auto& [path, content] : inside) EXPECT_NE(content, "<link>") << path;
      }
    }
  }
}

TEST(Unzip32Hostile, ExistingSymlinkToAFileIsNotFollowed) {
  TempDir dir;
  dir.Write("outside.txt", "precious");
  dir.MakeFolder("out");
  // Windows lets only privileged users make links (Wine none at all).
  try {
    std::filesystem::create_symlink(dir.Join("outside.txt"), dir.Join("out/link.txt"));
  } catch (const std::filesystem::filesystem_error& e) {
    GTEST_SKIP() << "symbolic links not available: " << e.what();
  }
  ZipWriter zip;
  zip.Add("link.txt", "attacker");
  zip.Save(dir.Join("a.zip"));
  for (int honor : {1, 0}) {
    UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
    run.options.HonorDirectories = honor;
    const int32_t rc = run();
    EXPECT_EQ(dir.Read("outside.txt"), "precious");
    const Tree_t out = Tree(dir.Join("out"));
    // Either the link was replaced by the entry, or the entry was refused.
    ASSERT_TRUE(out.count("link.txt")) << "result " << rc << ": " << Recorder().printed;
    if (out.at("link.txt") != "<link>") {
      EXPECT_EQ(out.at("link.txt"), "attacker");
    } else {
      EXPECT_NE(rc, UNZIP32_OK);
    }
  }
}

TEST(Unzip32Hostile, ExistingSymlinkToAFolderIsNotFollowed) {
  TempDir dir;
  dir.MakeFolder("elsewhere");
  dir.MakeFolder("out");
  // Windows lets only privileged users make links (Wine none at all).
  try {
    std::filesystem::create_directory_symlink(dir.Join("elsewhere"), dir.Join("out/sub"));
  } catch (const std::filesystem::filesystem_error& e) {
    GTEST_SKIP() << "symbolic links not available: " << e.what();
  }
  ZipWriter zip;
  zip.Add("sub/x.txt", "attacker");
  zip.Save(dir.Join("a.zip"));
  UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
  const int32_t rc = run();
  EXPECT_TRUE(Tree(dir.Join("elsewhere")).empty()) << "written through a symbolic link";
  if (Tree(dir.Join("out")).count("sub/x.txt") == 0) {
    EXPECT_NE(rc, UNZIP32_OK) << "neither extracted nor refused";
  }
}

TEST(Unzip32Hostile, SymlinkEntriesAreNotCreatedAsLinks) {
  struct Case {
    const char* name;
    std::function<void(ZipWriter&, const std::string&)> build;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    for (int honor : {1, 0}) {
      SCOPED_TRACE(std::string(c.name) + (honor ? " honoring folders" : " flat"));
      TempDir dir;
      dir.Write("outside.txt", "precious");
      dir.MakeFolder("out");
      ZipWriter zip;
      c.build(zip, dir.Path());
      zip.Save(dir.Join("a.zip"));
      UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
      run.options.HonorDirectories = honor;
      run();
      EXPECT_EQ(dir.Read("outside.txt"), "precious");
      EXPECT_FALSE(dir.Exists("escaped.txt"));
      for (const auto& [path, content] : Tree(dir.Join("out"))) {
        EXPECT_NE(content, "<link>") << path;
      }
    }
  }
}

TEST(Unzip32Hostile, DuplicateNamesNeverSilentlyOverwriteThisRunsFile) {
  struct Case {
    const char* name;
    const char* first;
    const char* second;
  };
  const Case cases[] = {
      {"SameName", "same.txt", "same.txt"},
      {"DifferOnlyInCase", "Readme.TXT", "readme.txt"},
      {"SameNameInFolders", "d/same.txt", "d/same.txt"},
      {"FolderDiffersInCase", "Dir/a.txt", "dir/a.txt"},
      {"BackslashSpelling", "d/x.txt", "d\\x.txt"},
  };
  for (const Case& c : cases) {
    for (int honor : {1, 0}) {
      SCOPED_TRACE(std::string(c.name) + (honor ? " honoring folders" : " flat"));
      TempDir dir;
      dir.MakeFolder("out");
      ZipWriter zip;
      zip.Add(c.first, "first");
      zip.Add(c.second, "second");
      zip.Save(dir.Join("a.zip"));
      UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
      run.options.HonorDirectories = honor;
      run.options.OverWriteFiles = 1;
      const int32_t rc = run();
      int files = 0;
      for (const auto& [path, content] : Tree(dir.Join("out"))) {
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
  const std::string bytes = zip.Build();
  const size_t headerAt = 30 + std::string("secret.txt").size();
  const std::string encryptedHeader = bytes.substr(headerAt, 12);
  const auto check = static_cast<char>(Crc32(plain) >> 24);
  std::vector<std::string> lucky;
  for (int i = 0; lucky.size() < 3 && i < 100000; ++i) {
    const std::string candidate = "wrong" + std::to_string(i);
    ZipCrypto crypto(candidate);
    if (crypto.Decrypt(encryptedHeader)[11] == check) lucky.push_back(candidate);
  }
  ASSERT_EQ(lucky.size(), 3u);
  for (const std::string& password : lucky) {
    SCOPED_TRACE(password);
    TempDir dir;
    dir.Write("a.zip", bytes);
    dir.MakeFolder("out");
    UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
    Recorder().Reset();
    Recorder().passwords = {password, password, password};
    const int32_t rc = run.Again();
    EXPECT_TRUE(rc == UNZIP32_ERR_CRC || rc == UNZIP32_ERR_PASSWORD || rc == UNZIP32_ERR_FORMAT)
        << rc;
    EXPECT_TRUE(Tree(dir.Join("out")).empty());
  }
}

}  // namespace
}  // namespace qv::test
