// The zip library's internals, compiled into this program from their sources
// (the shared library hides them): the entry-name check, the byte cursor, the
// wildcard matcher, the line-end conversion and the end-record search; and
// the options through the C entry point where the public tests leave gaps.
// The system's file calls (unzip32/src/FileIO_<system>.cpp) are compiled
// beside this file by the build.
#include "unzip32/src/ByteCursor.h"
#include "unzip32/src/EntryData.cpp"
#include "unzip32/src/EntryName.cpp"
#include "unzip32/src/FileIO.h"
#include "unzip32/src/Wildcard.cpp"
#include "unzip32/src/ZipDirectory.cpp"

#include "support/TempDir.h"
#include "support/Unzip32Run.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace qv::test {
namespace {

using Tree_t = std::map<std::string, std::string>;
using namespace std::string_literals;

std::string Describe(const unzip32::CleanName& clean) {
  switch (clean.kind) {
    case unzip32::NameKind::File:
      return "file " + clean.path;
    case unzip32::NameKind::Directory:
      return "folder " + clean.path;
    case unzip32::NameKind::Skipped:
      return "skipped";
    case unzip32::NameKind::Refused:
      return "refused";
  }
  return "?";
}

TEST(Unzip32Internal, EntryNames) {
  struct Case {
    const char* label;
    std::string name;
    std::string honored;  // with folders
    std::string flat;     // last component only
  };
  const Case cases[] = {
      {"Plain", "a.txt", "file a.txt", "file a.txt"},
      {"Nested", "a/b/c.txt", "file a/b/c.txt", "file c.txt"},
      {"BackslashSeparates", "a\\b\\c.txt", "file a/b/c.txt", "file c.txt"},
      {"FolderEntry", "a/b/", "folder a/b", "skipped"},
      {"BackslashFolderEntry", "a\\", "folder a", "skipped"},
      {"DotComponentsDropped", "./a/./b.txt", "file a/b.txt", "file b.txt"},
      {"DoubleSlashDropped", "a//b.txt", "file a/b.txt", "file b.txt"},
      {"DotSlashAlone", "./", "skipped", "skipped"},
      {"Empty", "", "refused", "refused"},
      {"DotDot", "..", "refused", "refused"},
      {"DotDotLeading", "../x", "refused", "file x"},
      {"DotDotInside", "a/../x", "refused", "file x"},
      {"DotDotLast", "a/..", "refused", "refused"},
      {"DotLast", "a/.", "file a", "refused"},
      {"AbsoluteSlash", "/etc/passwd", "refused", "file passwd"},
      {"AbsoluteBackslash", "\\x", "refused", "file x"},
      {"Unc", "\\\\server\\share\\x", "refused", "file x"},
      {"DriveRelative", "C:x", "refused", "refused"},
      {"DriveAbsolute", "C:\\x", "refused", "file x"},
      {"Stream", "a.txt:secret", "refused", "refused"},
      {"Nul", "a\0b"s, "refused", "refused"},
      {"ControlInFolder", "d\x01/x", "refused", "refused"},
      {"Delete", "a\x7f", "refused", "refused"},
      {"TrailingDot", "a.", "refused", "refused"},
      {"TrailingSpace", "a /x", "refused", "file x"},
      {"DotsAndSpaces", ".. /x", "refused", "file x"},
      {"ThreeDots", "...", "refused", "refused"},
      {"LeadingDotIsFine", ".hidden", "file .hidden", "file .hidden"},
      {"DeviceName", "nul", "refused", "refused"},
      {"DeviceWithExtension", "Com1.txt", "refused", "refused"},
      {"DeviceInFolder", "aux/x", "refused", "file x"},
      {"NotADevice", "console.txt", "file console.txt", "file console.txt"},
      {"ComZeroIsFine", "com0", "file com0", "file com0"},
      {"Wildcard", "a*.txt", "refused", "refused"},
      {"Pipe", "a|b", "refused", "refused"},
      {"HighBytesKept", "caf\xe9.txt", "file caf\xe9.txt", "file caf\xe9.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(Describe(unzip32::CleanEntryName(c.name, true)), c.honored);
    EXPECT_EQ(Describe(unzip32::CleanEntryName(c.name, false)), c.flat);
  }
  EXPECT_FALSE(unzip32::CleanEntryName("../x", true).reason.empty()) << "a refusal says why";
}

TEST(Unzip32Internal, CursorStaysInBoundsAndFailsForGood) {
  const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07};
  unzip32::ByteCursor cursor(bytes);
  EXPECT_EQ(cursor.U16(), 0x0201);
  EXPECT_EQ(cursor.U32(), 0x06050403u);
  EXPECT_TRUE(cursor.ok());
  EXPECT_EQ(cursor.remaining(), 1u);
  EXPECT_EQ(cursor.U16(), 0) << "a read past the end yields zero";
  EXPECT_FALSE(cursor.ok());
  EXPECT_EQ(cursor.U8(), 0) << "and the cursor stays failed";
  EXPECT_EQ(cursor.remaining(), 0u);

  unzip32::ByteCursor huge(bytes);
  huge.Skip(3);
  EXPECT_FALSE(huge.Has(SIZE_MAX)) << "a length that would wrap around";
  EXPECT_TRUE(huge.Bytes(SIZE_MAX - 1).empty());
  EXPECT_FALSE(huge.ok());
}

TEST(Unzip32Internal, Wildcards) {
  struct Case {
    std::string pattern;
    std::string text;
    bool caseSensitive;
    bool matches;
  };
  const Case cases[] = {
      {"*.txt", "readme.txt", true, true},
      {"*.txt", "dir/readme.txt", true, true},
      {"*.txt", "readme.TXT", true, false},
      {"*.txt", "readme.TXT", false, true},
      {"?.txt", "a.txt", true, true},
      {"?.txt", "ab.txt", true, false},
      {"a*b*c", "aXXbYYc", true, true},
      {"a*b*c", "aXXbYY", true, false},
      {"*", "", true, true},
      {"", "", true, true},
      {"", "a", true, false},
      {"a**", "a", true, true},
      {"*a*a*a*a*b", std::string(200, 'a'), true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern + " ~ " + c.text);
    EXPECT_EQ(unzip32::WildcardMatch(c.pattern, c.text, c.caseSensitive), c.matches);
  }
}

class StringSink final : public unzip32::Sink {
 public:
  bool Put(const uint8_t* data, size_t length, std::string&) override {
    text.append(reinterpret_cast<const char*>(data), length);
    return true;
  }
  std::string text;
};

TEST(Unzip32Internal, LineEndsBecomeCrLfAcrossPieces) {
  struct Case {
    const char* label;
    std::vector<std::string> pieces;
    std::string expected;
  };
  const Case cases[] = {
      {"LoneLf", {"a\nb\n"}, "a\r\nb\r\n"},
      {"CrLfKept", {"a\r\nb"}, "a\r\nb"},
      {"LoneCr", {"a\rb"}, "a\r\nb"},
      {"CrLfSplitBetweenPieces", {"a\r", "\nb"}, "a\r\nb"},
      {"CrCrLf", {"\r\r\n"}, "\r\n\r\n"},
      {"LongLine", {std::string(20000, 'x') + "\n"}, std::string(20000, 'x') + "\r\n"},
      {"ManyLineEnds",
       {std::string(9000, '\n')},
       [] {
         std::string s;
         for (int i = 0; i < 9000; ++i) s += "\r\n";
         return s;
       }()},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    StringSink out;
    unzip32::CrLfSink converter(out);
    std::string error;
    for (const std::string& piece : c.pieces) {
      ASSERT_TRUE(
          converter.Put(reinterpret_cast<const uint8_t*>(piece.data()), piece.size(), error));
    }
    EXPECT_EQ(out.text, c.expected);
  }
}

// The end-record search on hand-made tails.
TEST(Unzip32Internal, EndRecordChecks) {
  auto endRecord = [](uint16_t entries, uint32_t size, uint32_t offset, std::string comment) {
    std::string r = "PK\x05\x06"s + std::string(4, '\0');
    auto put16 = [&r](uint16_t v) {
      r += static_cast<char>(v & 0xff);
      r += static_cast<char>(v >> 8);
    };
    auto put32 = [&](uint32_t v) {
      put16(static_cast<uint16_t>(v & 0xffff));
      put16(static_cast<uint16_t>(v >> 16));
    };
    put16(entries);
    put16(entries);
    put32(size);
    put32(offset);
    put16(static_cast<uint16_t>(comment.size()));
    return r + comment;
  };
  struct Case {
    const char* label;
    std::string bytes;
    bool ok;
    uint64_t entries;
  };
  const std::string fakeInComment = endRecord(0, 0, 0, "");
  const Case cases[] = {
      {"EmptyArchive", endRecord(0, 0, 0, ""), true, 0},
      {"CommentHoldingAnotherEndRecord", endRecord(0, 0, 0, "x" + fakeInComment), true, 0},
      {"EntryCountBeyondTheDirectory", std::string(46, 'c') + endRecord(2, 46, 0, ""), false, 0},
      {"DirectoryBeyondTheFile", endRecord(1, 46, 0x7fffffff, ""), false, 0},
      {"DirectorySizeWraps", endRecord(1, 0xffffffff, 10, ""), false, 0},
      {"CommentLongerThanTheFile", endRecord(0, 0, 0, "abc").substr(0, 23), false, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    TempDir dir;
    dir.Write("a.zip", c.bytes);
    unzip32::fileio::ArchiveFile file;
    unzip32::fileio::Failure failure;
    ASSERT_TRUE(file.Open(dir.Join("a.zip"), failure)) << failure.text;
    unzip32::ZipReader reader(file);
    unzip32::ArchiveInfo info;
    unzip32::Problem problem;
    EXPECT_EQ(reader.ReadEnd(info, problem), c.ok) << problem.text;
    if (c.ok) {
      EXPECT_EQ(info.entryCount, c.entries);
    } else {
      EXPECT_EQ(problem.code, UNZIP32_ERR_FORMAT) << problem.text;
    }
  }
}

// --- Options through the C entry point ----------------------------------

struct Extracted {
  TempDir dir;
  std::string zip = dir.Join("a.zip");
  std::string out = dir.Join("out");
};

TEST(Unzip32Internal, NamesAndContentOptions) {
  Extracted x;
  ZipWriter zip;
  zip.Add("my file.txt", "one\ntwo\n").internalAttributes = 1;
  zip.Add("bin ary.dat", "one\ntwo\n");
  zip.Save(x.zip);
  UnzipRun run(x.zip, x.out);
  run.options.SpaceToUnderScore = 1;
  run.options.ConvertCRtoCRLF = 1;
  EXPECT_EQ(run(), UNZIP32_OK) << Recorder().printed;
  EXPECT_EQ(Tree(x.out),
            (Tree_t{{"my_file.txt", "one\r\ntwo\r\n"}, {"bin_ary.dat", "one\ntwo\n"}}));
}

TEST(Unzip32Internal, ReplaceRules) {
  struct Case {
    const char* label;
    int32_t overwrite, prompt, newer, onlyNewer;
    int entryYear;                // the existing file is from 2020
    std::deque<int32_t> answers;  // replace callback answers
    int32_t code;
    std::string existing, fresh;  // expected content of both files
    size_t questions;
  };
  const Case cases[] = {
      {"OverwriteSilently", 1, 0, 0, 0, 2021, {}, UNZIP32_OK, "new", "new", 0},
      {"SkipExisting", 0, 0, 0, 0, 2021, {}, UNZIP32_OK, "old", "new", 0},
      {"AskYes", 0, 1, 0, 0, 2021, {UNZIP32_REPLACE_YES}, UNZIP32_OK, "new", "new", 1},
      {"AskNo", 0, 1, 0, 0, 2021, {UNZIP32_REPLACE_NO}, UNZIP32_OK, "old", "new", 1},
      {"AskCancel",
       0,
       1,
       0,
       0,
       2021,
       {UNZIP32_REPLACE_CANCEL},
       UNZIP32_ERR_CANCELLED,
       "old",
       "",
       1},
      {"NewerReplacesOlder", 0, 0, 1, 0, 2021, {}, UNZIP32_OK, "new", "new", 0},
      {"NewerKeepsNewer", 1, 0, 1, 0, 2019, {}, UNZIP32_OK, "old", "new", 0},
      {"OnlyNewerCreatesNothing", 1, 0, 0, 1, 2021, {}, UNZIP32_OK, "new", "", 0},
      {"OnlyNewerKeepsNewer", 1, 0, 0, 1, 2019, {}, UNZIP32_OK, "old", "", 0},
      {"NewerStillAsks", 0, 1, 1, 0, 2021, {UNZIP32_REPLACE_NO}, UNZIP32_OK, "old", "new", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    Extracted x;
    ZipWriter zip;
    zip.Add("existing.txt", "new").time.year = c.entryYear;
    zip.Add("fresh.txt", "new").time.year = c.entryYear;
    zip.Save(x.zip);
    x.dir.Write("out/existing.txt", "old");
    const std::chrono::sys_seconds year2020{std::chrono::seconds{
        unzip32::fileio::DosTimeToUnix((2020 - 1980) << 9 | 6 << 5 | 15, 12 << 11)}};
    std::filesystem::last_write_time(x.out + "/existing.txt",
                                     std::chrono::file_clock::from_sys(year2020));
    UnzipRun run(x.zip, x.out);
    run.options.OverWriteFiles = c.overwrite;
    run.options.PromptOverwrite = c.prompt;
    run.options.ExtractNewer = c.newer;
    run.options.ExtractOnlyNewer = c.onlyNewer;
    Recorder().Reset();
    Recorder().replaceAnswers = c.answers;
    EXPECT_EQ(run.Again(), c.code) << Recorder().printed;
    Tree_t tree = Tree(x.out);
    EXPECT_EQ(tree["existing.txt"], c.existing);
    EXPECT_EQ(tree["fresh.txt"], c.fresh);
    EXPECT_EQ(Recorder().replaceNames.size(), c.questions);
    if (c.code == UNZIP32_OK && c.existing == "new") {
      struct stat info {};
      ASSERT_EQ(::stat((x.out + "/existing.txt").c_str(), &info), 0);
      EXPECT_EQ(info.st_mtime, unzip32::fileio::DosTimeToUnix(
                                   static_cast<uint16_t>((c.entryYear - 1980) << 9 | 6 << 5 | 15),
                                   12 << 11 | 30 << 5 | 5))
          << "the file carries the entry's time";
    }
  }
}

TEST(Unzip32Internal, ModesThatWriteNoFiles) {
  Extracted x;
  ZipWriter zip;
  zip.comment = "hello comment";
  zip.Add("a.txt", "alpha alpha alpha alpha alpha alpha");
  zip.Add("b.bin", "beta", kStored).password = "pw";
  zip.Save(x.zip);
  {
    UnzipRun run(x.zip, x.out);
    run.options.ExtractList = 1;
    EXPECT_EQ(run(), UNZIP32_OK);
    ASSERT_EQ(Recorder().listed.size(), 2u);
    const ListedEntry& a = Recorder().listed[0];
    EXPECT_EQ(a.name, "a.txt");
    EXPECT_EQ(a.size, 35u);
    EXPECT_GT(a.ratio, 0);
    EXPECT_EQ(a.method, "Deflated");
    EXPECT_EQ(std::make_tuple(a.year, a.month, a.day, a.hour, a.minute),
              std::make_tuple(2021, 6, 15, 12, 30));
    EXPECT_EQ(a.crc, Crc32("alpha alpha alpha alpha alpha alpha"));
    const ListedEntry& b = Recorder().listed[1];
    EXPECT_EQ(std::make_tuple(b.index, b.method, b.encrypted, b.compressedSize),
              std::make_tuple(1, std::string("Stored"), 1, 16u));
    EXPECT_TRUE(Recorder().passwordRequests.empty()) << "listing needs no password";
  }
  {
    UnzipRun run(x.zip, x.out);
    run.options.WriteToStdOut = 1;
    run.options.DisplayComment = 1;
    run.options.MessageLevel = 0;
    Recorder().Reset();
    Recorder().passwords = {"wrong", "pw"};
    EXPECT_EQ(run.Again(), UNZIP32_OK);
    EXPECT_EQ(Recorder().printed,
              "hello comment\nalpha alpha alpha alpha alpha alpha"
              "beta");
    EXPECT_EQ(Recorder().passwordRequests.size(), 2u);
  }
  {
    UnzipRun run(x.zip, x.out);
    run.options.TestZip = 1;
    run.include = {"*.BIN"};
    run.options.CaseSensitive = 0;
    EXPECT_EQ(run(), UNZIP32_ERR_PASSWORD) << "no password: the entry is skipped";
    EXPECT_EQ(Recorder().serviced.size(), 1u);
  }
  EXPECT_TRUE(Tree(x.out).empty());
}

TEST(Unzip32Internal, NameListsSelect) {
  Extracted x;
  ZipWriter zip;
  zip.Add("a.txt", "a");
  zip.Add("b.package", "b");
  zip.Add("sub/c.txt", "c");
  zip.Save(x.zip);
  UnzipRun run(x.zip, x.out);
  run.include = {"*.txt"};
  run.exclude = {"sub/*"};
  EXPECT_EQ(run(), UNZIP32_OK) << Recorder().printed;
  EXPECT_EQ(Tree(x.out), (Tree_t{{"a.txt", "a"}}));
  run.include = {"*.none"};
  run.exclude = {};
  EXPECT_EQ(run(), UNZIP32_ERR_NO_MATCH);
}

TEST(Unzip32Internal, WrongPasswordsAreAskedThreeTimesAtMost) {
  Extracted x;
  ZipWriter zip;
  zip.Add("s.txt", "secret text").password = "right";
  zip.Add("t.txt", "more text").password = "right";
  zip.Save(x.zip);
  UnzipRun run(x.zip, x.out);
  Recorder().Reset();
  Recorder().passwords = {"w1", "w2", "w3", "right", "right"};
  EXPECT_EQ(run.Again(), UNZIP32_ERR_PASSWORD);
  // Some wrong password may pass the one-byte check; then the CRC catches it.
  EXPECT_EQ(Tree(x.out).count("s.txt"), 0u);
  EXPECT_EQ(Tree(x.out)["t.txt"], "more text") << Recorder().printed;
}

}  // namespace
}  // namespace qv::test
