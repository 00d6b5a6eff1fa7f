// The fifteen options, the name lists and the callbacks of the zip library,
// seen from the caller's side of the C interface.
#include "support/Unzip32Run.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <iterator>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace qv::test {
namespace {

namespace fs = std::filesystem;

// A temporary folder holding `zip` and an empty extraction folder.
struct Fixture : Scratch {
  UnzipRun run = Run();
  explicit Fixture(const ZipWriter& archive) { archive.Save(zip); }
  Tree_t Out() const { return Files(out); }
};

std::vector<std::string> Words(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// A local time as the file system stores it (entries carry local times).
fs::file_time_type LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm parts{};
  parts.tm_year = year - 1900;
  parts.tm_mon = month - 1;
  parts.tm_mday = day;
  parts.tm_hour = hour;
  parts.tm_min = minute;
  parts.tm_sec = second;
  parts.tm_isdst = -1;
  return std::chrono::file_clock::from_sys(
      std::chrono::system_clock::from_time_t(std::mktime(&parts)));
}

TEST(Unzip32Options, ExistingFiles) {
  struct Case {
    const char* name;
    int32_t overwrite, prompt, newer, onlyNewer;
    int entryYear;  // the existing file is from 2020
    std::vector<int32_t> answers;
    int32_t code;
    std::string existing, fresh;  // content of both files afterwards
    size_t questions;
  };
  const Case cases[] = {
      {"OverwriteSilently", 1, 0, 0, 0, 2021, {}, UNZIP32_OK, "new", "new", 0},
      {"OverwriteEvenWithPrompt", 1, 1, 0, 0, 2021, {}, UNZIP32_OK, "new", "new", 0},
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
    SCOPED_TRACE(c.name);
    ZipWriter zip;
    zip.Add("existing.txt", "new").time.year = c.entryYear;
    zip.Add("fresh.txt", "new").time.year = c.entryYear;
    Fixture f(zip);
    f.dir.Write("out/existing.txt", "old");
    fs::last_write_time(f.out + "/existing.txt", LocalTime(2020, 6, 15, 12, 0, 0));
    f.run.options.OverWriteFiles = c.overwrite;
    f.run.options.PromptOverwrite = c.prompt;
    f.run.options.ExtractNewer = c.newer;
    f.run.options.ExtractOnlyNewer = c.onlyNewer;
    Recorder().Reset();
    Recorder().replaceAnswers.assign(c.answers.begin(), c.answers.end());
    EXPECT_EQ(f.run.Again(), c.code) << Recorder().printed;
    Tree_t out = f.Out();
    EXPECT_EQ(out["existing.txt"], c.existing);
    EXPECT_EQ(out["fresh.txt"], c.fresh);
    ASSERT_EQ(Recorder().replaceNames.size(), c.questions);
    for (const std::string& name : Recorder().replaceNames) {
      EXPECT_NE(name.find("existing.txt"), std::string::npos) << name;
    }
    if (c.existing == "new") {
      using std::chrono::floor, std::chrono::seconds;
      EXPECT_EQ(floor<seconds>(fs::last_write_time(f.out + "/existing.txt")),
                floor<seconds>(LocalTime(c.entryYear, 6, 15, 12, 30, 10)))
          << "the file carries the entry's time";
    }
  }
}

TEST(Unzip32Options, SpaceToUnderScoreAndConvertCRtoCRLF) {
  struct Entry {
    const char* name;
    const char* spaceless;
    std::string content, converted;
    bool text;
  };
  std::string longCrLf;
  for (char ch : Text(100000)) longCrLf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
  const std::string binary("x\ny\0z\n", 6);
  const Entry entries[] = {
      {"my file.txt", "my_file.txt", "a\nb\n", "a\r\nb\r\n", true},
      {"sub dir/a b.txt", "sub_dir/a_b.txt", "c\r\nd\r\n", "c\r\nd\r\n", true},
      {"long.txt", "long.txt", Text(100000), longCrLf, true},
      {"bin ary.bin", "bin_ary.bin", binary, binary, false},
  };
  ZipWriter zip;
  for (const Entry& e : entries) zip.Add(e.name, e.content).internalAttributes = e.text ? 1 : 0;
  for (int space : {0, 1}) {
    for (int crlf : {0, 1}) {
      SCOPED_TRACE("SpaceToUnderScore " + std::to_string(space) + " ConvertCRtoCRLF " +
                   std::to_string(crlf));
      Fixture f(zip);
      f.run.options.SpaceToUnderScore = space;
      f.run.options.ConvertCRtoCRLF = crlf;
      EXPECT_EQ(f.run(), UNZIP32_OK) << Recorder().printed;
      Tree_t expected;
      for (const Entry& e : entries)
        expected[space ? e.spaceless : e.name] = crlf ? e.converted : e.content;
      EXPECT_EQ(f.Out(), expected);
    }
  }
}

TEST(Unzip32Options, TestZipWritesNothing) {
  struct Case {
    const char* name;
    bool badCrc;
    std::vector<std::string> include;
    std::deque<std::string> passwords;
    int32_t code;
    size_t serviced;
  };
  const Case cases[] = {
      {"Sound", false, {}, {"pw"}, UNZIP32_OK, 3},
      {"BadCrc", true, {}, {"pw"}, UNZIP32_ERR_CRC, 3},
      {"NameListIgnoringCaseWithoutPassword", false, {"*.TXT"}, {}, UNZIP32_ERR_PASSWORD, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZipWriter zip;
    zip.Add("a.bin", Text(4000));
    zip.Add("d/b.bin", "b");
    if (c.badCrc) zip.Entry(1).crc = 5;
    zip.Add("enc.txt", "hidden").password = "pw";
    Fixture f(zip);
    f.run.options.TestZip = 1;
    f.run.options.CaseSensitive = 0;
    f.run.include = c.include;
    Recorder().Reset();
    Recorder().passwords = c.passwords;
    EXPECT_EQ(f.run.Again(), c.code) << Recorder().printed;
    EXPECT_EQ(Recorder().serviced.size(), c.serviced);
    EXPECT_TRUE(Tree(f.out).empty());
  }
}

TEST(Unzip32Options, WriteToStdOutSendsCommentAndContentsThroughPrint) {
  ZipWriter zip;
  zip.comment = "hello comment";
  zip.Add("a.txt", "alpha content\n");
  zip.Add("b.txt", Text(20000));
  zip.Add("c.bin", "beta", kStored).password = "pw";
  Fixture f(zip);
  f.run.options.WriteToStdOut = 1;
  f.run.options.DisplayComment = 1;
  f.run.options.MessageLevel = 0;
  Recorder().Reset();
  Recorder().passwords = {"wrong", "pw"};
  EXPECT_EQ(f.run.Again(), UNZIP32_OK) << Recorder().printed;
  EXPECT_EQ(Recorder().printed, "hello comment\nalpha content\n" + Text(20000) + "beta");
  EXPECT_EQ(Recorder().passwordRequests.size(), 2u);
  EXPECT_TRUE(Tree(f.out).empty());
}

TEST(Unzip32Options, MessageLevelAndVerbose) {
  ZipWriter good;
  good.Add("first-entry.txt", "1");
  good.Add("second-entry.txt", "2");
  ZipWriter bad;
  bad.Add("broken-entry.txt", "1").crc = 3;
  struct Case {
    const char* name;
    const ZipWriter* zip;
    int level;
    std::string mentioned;  // empty: nothing printed at all
  };
  const Case cases[] = {
      {"SilentOnSuccess", &good, 0, ""},
      {"SilentOnFailure", &bad, 0, ""},
      {"ProblemsOnlyOnSuccess", &good, 1, ""},
      {"ProblemsOnlyOnFailure", &bad, 1, "broken-entry.txt"},
      {"EveryEntry", &good, 2, "first-entry.txt second-entry.txt"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f(*c.zip);
    f.run.options.MessageLevel = c.level;
    f.run();
    EXPECT_EQ(Recorder().printCalls == 0, c.mentioned.empty()) << Recorder().printed;
    for (const std::string& name : Words(c.mentioned)) {
      EXPECT_NE(Recorder().printed.find(name), std::string::npos) << Recorder().printed;
    }
  }
  // Verbose adds detail to the per-entry lines.
  Fixture f(good);
  f.run.options.MessageLevel = 2;
  f.run();
  const std::string plain = Recorder().printed;
  f.run.options.Verbose = 1;
  f.run();
  EXPECT_GT(Recorder().printed.size(), plain.size()) << plain << "\n---\n" << Recorder().printed;
}

TEST(Unzip32Options, DisplayComment) {
  ZipWriter zip;
  zip.comment = "Made by the modular stair team";
  zip.Add("a.txt", "a");
  for (int on : {1, 0}) {
    SCOPED_TRACE(on);
    Fixture f(zip);
    f.run.options.DisplayComment = on;
    f.run.options.MessageLevel = on ? 1 : 2;
    EXPECT_EQ(f.run(), UNZIP32_OK);
    EXPECT_EQ(Recorder().printed.find(zip.comment) != std::string::npos, on == 1)
        << Recorder().printed;
  }
}

TEST(Unzip32Options, NameLists) {
  struct Case {
    const char* name;
    std::vector<std::string> include, exclude;
    int caseSensitive;
    int32_t code;
    std::string out;  // the files extracted, by name
  };
  const std::string all = "a.txt B.TXT c.package dir/d.txt dir/e.package";
  const Case cases[] = {
      {"NoLists", {}, {}, 0, UNZIP32_OK, all},
      {"IncludeIgnoringCase", {"*.txt"}, {}, 0, UNZIP32_OK, "a.txt B.TXT dir/d.txt"},
      {"IncludeWithCase", {"*.txt"}, {}, 1, UNZIP32_OK, "a.txt dir/d.txt"},
      {"ExcludeIgnoringCase",
       {},
       {"b.txt"},
       0,
       UNZIP32_OK,
       "a.txt c.package dir/d.txt dir/e.package"},
      {"ExcludeWithCase", {}, {"b.txt"}, 1, UNZIP32_OK, all},
      {"IncludeThenExclude", {"dir/*"}, {"*.package"}, 1, UNZIP32_OK, "dir/d.txt"},
      {"QuestionMark", {"?.txt"}, {}, 0, UNZIP32_OK, "a.txt B.TXT"},
      {"SeveralPatterns",
       {"a.txt", "*.package"},
       {},
       1,
       UNZIP32_OK,
       "a.txt c.package dir/e.package"},
      {"NothingIncluded", {"*.exe"}, {}, 0, UNZIP32_ERR_NO_MATCH, ""},
      {"EverythingExcluded", {}, {"*"}, 0, UNZIP32_ERR_NO_MATCH, ""},
  };
  ZipWriter zip;
  for (const std::string& name : Words(all)) zip.Add(name, name);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f(zip);
    f.run.include = c.include;
    f.run.exclude = c.exclude;
    f.run.options.CaseSensitive = c.caseSensitive;
    EXPECT_EQ(f.run(), c.code) << Recorder().printed;
    Tree_t expected;
    for (const std::string& name : Words(c.out)) expected[name] = name;
    EXPECT_EQ(f.Out(), expected);
  }
}

TEST(Unzip32Options, Passwords) {
  struct Case {
    const char* name;
    std::deque<std::string> passwords;  // callback answers; past the end it answers 1 (skip)
    bool callback;
    int32_t code;
    std::string out;  // the files extracted, by name
    size_t requests;
  };
  const Case cases[] = {
      {"RightFirstTimeAndKept", {"pw"}, true, UNZIP32_OK, "one.txt two.txt", 1},
      {"WrongThenRight", {"nope", "pw"}, true, UNZIP32_OK, "one.txt two.txt", 2},
      {"WrongTwiceThenRight", {"a", "b", "pw"}, true, UNZIP32_OK, "one.txt two.txt", 3},
      {"WrongThreeTimesPerEntry",
       {"a", "b", "c", "d", "e", "f", "pw"},
       true,
       UNZIP32_ERR_PASSWORD,
       "",
       6},
      {"WrongThreeTimesThenRightForTheSecond",
       {"a", "b", "c", "pw"},
       true,
       UNZIP32_ERR_PASSWORD,
       "two.txt",
       4},
      {"SkipAnswer", {}, true, UNZIP32_ERR_PASSWORD, "", 2},
      {"NoPasswordCallback", {}, false, UNZIP32_ERR_PASSWORD, "", 0},
  };
  const Tree_t content = {{"one.txt", Text(3000)}, {"two.txt", "two"}};
  ZipWriter zip;
  zip.Add("one.txt", Text(3000)).password = "pw";
  zip.Add("two.txt", "two", kStored).password = "pw";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f(zip);
    Recorder().Reset();
    Recorder().passwords = c.passwords;
    f.run.callbacks = c.callback;
    EXPECT_EQ(f.run.Again(), c.code) << Recorder().printed;
    Tree_t expected;
    for (const std::string& name : Words(c.out)) expected[name] = content.at(name);
    EXPECT_EQ(f.Out(), expected);
    ASSERT_EQ(Recorder().passwordRequests.size(), c.requests);
    if (c.requests > 0) {
      const PasswordRequest& first = Recorder().passwordRequests[0];
      EXPECT_NE(first.name.find("one.txt"), std::string::npos) << first.name;
      EXPECT_GE(first.size, 64) << "room for a real password";
    }
  }
}

TEST(Unzip32Options, DifferentPasswordsPerEntry) {
  ZipWriter zip;
  zip.Add("one.txt", "1").password = "first";
  zip.Add("plain.txt", "p");
  zip.Add("two.txt", "2").password = "second";
  Fixture f(zip);
  Recorder().Reset();
  Recorder().passwords = {"first", "second"};
  EXPECT_EQ(f.run.Again(), UNZIP32_OK) << Recorder().printed;
  EXPECT_EQ(f.Out(), (Tree_t{{"one.txt", "1"}, {"plain.txt", "p"}, {"two.txt", "2"}}));
  ASSERT_EQ(Recorder().passwordRequests.size(), 2u);
  EXPECT_NE(Recorder().passwordRequests[1].name.find("two.txt"), std::string::npos);
}

TEST(Unzip32Options, ExtractListReportsEveryEntry) {
  ZipWriter zip;
  zip.Add("stored.txt", "hello", kStored).time = {2019, 3, 4, 5, 6, 8};
  zip.Add("dir/deflated.txt", Text(10000)).time = {2021, 12, 31, 23, 59, 58};
  zip.AddFolder("dir").time = {1999, 1, 2, 3, 4, 6};
  zip.Add("secret.bin", "abc", kStored).password = "pw";
  zip.Add("empty", "");
  const auto deflated = static_cast<uint32_t>(Deflate(Text(10000)).size());
  Fixture f(zip);
  f.run.options.ExtractList = 1;
  EXPECT_EQ(f.run(), UNZIP32_OK) << Recorder().printed;
  EXPECT_TRUE(Tree(f.out).empty());
  EXPECT_TRUE(Recorder().passwordRequests.empty()) << "listing needs no password";
  // Ratio in tenths of a percent: the share of the size that compression saved.
  const auto ratio = static_cast<int32_t>(1000 - (uint64_t{deflated} * 1000 + 5000) / 10000);
  const ListedEntry expected[] = {
      {5, 5, 0, 3, 4, 2019, 5, 6, 0, "stored.txt", "Stored", Crc32("hello"), 0},
      {10000, deflated, ratio, 12, 31, 2021, 23, 59, 1, "dir/deflated.txt", "Deflated",
       Crc32(Text(10000)), 0},
      {0, 0, 0, 1, 2, 1999, 3, 4, 2, "dir/", "Stored", 0, 0},
      {3, 15, 0, 6, 15, 2021, 12, 30, 3, "secret.bin", "Stored", Crc32("abc"), 1},
      {0, 2, 0, 6, 15, 2021, 12, 30, 4, "empty", "Deflated", 0, 0},
  };
  auto fields = [](const ListedEntry& e) {
    return std::tie(e.size, e.compressedSize, e.month, e.day, e.year, e.hour, e.minute, e.index,
                    e.name, e.method, e.crc, e.encrypted);
  };
  ASSERT_EQ(Recorder().listed.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(expected[i].name);
    EXPECT_EQ(fields(Recorder().listed[i]), fields(expected[i]));
    EXPECT_NEAR(Recorder().listed[i].ratio, expected[i].ratio, 1);
  }
}

TEST(Unzip32Options, ServiceCallbackNamesEachEntryAndCanCancel) {
  ZipWriter zip;
  zip.Add("a.txt", Text(1234));
  zip.Add("b.txt", "bb");
  zip.Add("c.txt", "ccc");
  Fixture f(zip);
  EXPECT_EQ(f.run(), UNZIP32_OK) << Recorder().printed;
  const auto& s = Recorder().serviced;
  ASSERT_EQ(s.size(), 3u);
  EXPECT_NE(s[0].first.find("a.txt"), std::string::npos) << s[0].first;
  EXPECT_EQ(s[0].second, 1234);
  EXPECT_NE(s[2].first.find("c.txt"), std::string::npos) << s[2].first;
  EXPECT_EQ(s[2].second, 3);

  Fixture g(zip);
  Recorder().Reset();
  Recorder().cancelServiceAt = 1;
  EXPECT_EQ(g.run.Again(), UNZIP32_ERR_CANCELLED) << Recorder().printed;
  EXPECT_EQ(g.Out(), (Tree_t{{"a.txt", Text(1234)}}));
  EXPECT_EQ(Recorder().serviced.size(), 2u);
}

}  // namespace
}  // namespace qv::test
