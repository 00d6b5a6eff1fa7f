// The zip library's internals, compiled into this program from their sources
// (the shared library hides them): the entry-name check, the byte cursor, the
// wildcard matcher, the line-end conversion and the end-record search.
// The system's file calls (unzip32/src/FileIO_<system>.cpp) are compiled
// beside this file by the build.
#include "unzip32/src/ByteCursor.h"
#include "unzip32/src/EntryData.cpp"
#include "unzip32/src/EntryName.cpp"
#include "unzip32/src/FileIO.h"
#include "unzip32/src/Wildcard.cpp"
#include "unzip32/src/ZipDirectory.cpp"

#include "support/TempDir.h"
#include "support/ZipWriter.h"
#include "unzip32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qv::test {
namespace {

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

std::string Repeat(const std::string& piece, int times) {
  std::string s;
  while (times-- > 0) s += piece;
  return s;
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
      {"ManyLineEnds", {std::string(9000, '\n')}, Repeat("\r\n", 9000)},
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
  auto endRecord = [](uint16_t entries, uint32_t size, uint32_t offset,
                      const std::string& comment) {
    return "PK\x05\x06"s + std::string(4, '\0') + Le16(entries) + Le16(entries) + Le32(size) +
           Le32(offset) + Le16(static_cast<uint16_t>(comment.size())) + comment;
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

}  // namespace
}  // namespace qv::test
