// The fifteen options, the name lists and the callbacks of the zip library,
// seen from the caller's side of the C interface.
#include "support/TempDir.h"
#include "support/Unzip32Run.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using Tree_t = std::map<std::string, std::string>;

std::string Text(size_t bytes) {
  std::string s;
  while (s.size() < bytes) s += "Pack my box with five dozen liquor jugs.\n";
  s.resize(bytes);
  return s;
}

// Files only (folders left out), for tests about which entries came out.
Tree_t Files(const std::string& root) {
  Tree_t files;
  for (const auto& [path, content] : Tree(root)) {
    if (content != "<folder>") files[path] = content;
  }
  return files;
}

// A temporary folder with one archive and an empty extraction folder.
struct Fixture {
  TempDir dir;
  UnzipRun run;
  explicit Fixture(const ZipWriter& zip) : run(dir.Join("a.zip"), dir.Join("out")) {
    zip.Save(dir.Join("a.zip"));
    dir.MakeFolder("out");
  }
  Tree_t Out() const { return Files(dir.Join("out")); }
};

TEST(Unzip32Options, ExistingFiles) {
  struct Case {
    const char* name;
    int overwrite;
    int prompt;
    std::vector<int32_t> answers;
    int32_t code;
    Tree_t out;
    size_t questions;
  };
  const Case cases[] = {
      {"OverwriteSilently", 1, 1, {}, UNZIP32_OK, {{"f.txt", "new"}, {"g.txt", "g"}}, 0},
      {"SkipWithoutAsking", 0, 0, {}, UNZIP32_OK, {{"f.txt", "old"}, {"g.txt", "g"}}, 0},
      {"AskAndReplace",
       0,
       1,
       {UNZIP32_REPLACE_YES},
       UNZIP32_OK,
       {{"f.txt", "new"}, {"g.txt", "g"}},
       1},
      {"AskAndSkip", 0, 1, {UNZIP32_REPLACE_NO}, UNZIP32_OK, {{"f.txt", "old"}, {"g.txt", "g"}}, 1},
      {"AskAndCancel",
       0,
       1,
       {UNZIP32_REPLACE_CANCEL},
       UNZIP32_ERR_CANCELLED,
       {{"f.txt", "old"}},
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZipWriter zip;
    zip.Add("f.txt", "new");
    zip.Add("g.txt", "g");
    Fixture f(zip);
    f.dir.Write("out/f.txt", "old");
    f.run.options.OverWriteFiles = c.overwrite;
    f.run.options.PromptOverwrite = c.prompt;
    Recorder().Reset();
    Recorder().replaceAnswers.assign(c.answers.begin(), c.answers.end());
    EXPECT_EQ(f.run.Again(), c.code) << Recorder().printed;
    EXPECT_EQ(f.Out(), c.out);
    ASSERT_EQ(Recorder().replaceNames.size(), c.questions);
    if (c.questions > 0) {
      EXPECT_NE(Recorder().replaceNames[0].find("f.txt"), std::string::npos)
          << Recorder().replaceNames[0];
    }
  }
}

TEST(Unzip32Options, NewerAndOnlyNewer) {
  struct Case {
    const char* name;
    int newer;
    int onlyNewer;
    Tree_t out;
  };
  // The archive's entries date from 2021; the existing files are 20 years
  // older or 10 years younger.
  const Case cases[] = {
      {"Neither",
       0,
       0,
       {{"older.txt", "archive"}, {"younger.txt", "archive"}, {"fresh.txt", "archive"}}},
      {"ExtractNewer",
       1,
       0,
       {{"older.txt", "archive"}, {"younger.txt", "existing"}, {"fresh.txt", "archive"}}},
      {"ExtractOnlyNewer", 0, 1, {{"older.txt", "archive"}, {"younger.txt", "existing"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZipWriter zip;
    for (const char* name : {"older.txt", "younger.txt", "fresh.txt"}) zip.Add(name, "archive");
    Fixture f(zip);
    f.dir.Write("out/older.txt", "existing");
    f.dir.Write("out/younger.txt", "existing");
    const auto now = fs::file_time_type::clock::now();
    fs::last_write_time(f.dir.Join("out/older.txt"), now - std::chrono::hours(24 * 365 * 20));
    fs::last_write_time(f.dir.Join("out/younger.txt"), now + std::chrono::hours(24 * 365 * 10));
    f.run.options.ExtractNewer = c.newer;
    f.run.options.ExtractOnlyNewer = c.onlyNewer;
    EXPECT_EQ(f.run(), UNZIP32_OK) << Recorder().printed;
    EXPECT_EQ(f.Out(), c.out);
  }
}

TEST(Unzip32Options, SpaceToUnderScore) {
  for (int on : {1, 0}) {
    SCOPED_TRACE(on);
    ZipWriter zip;
    zip.Add("my file.txt", "1");
    zip.Add("sub dir/a b.txt", "2");
    Fixture f(zip);
    f.run.options.SpaceToUnderScore = on;
    EXPECT_EQ(f.run(), UNZIP32_OK) << Recorder().printed;
    const Tree_t expected = on ? Tree_t{{"my_file.txt", "1"}, {"sub_dir/a_b.txt", "2"}}
                               : Tree_t{{"my file.txt", "1"}, {"sub dir/a b.txt", "2"}};
    EXPECT_EQ(f.Out(), expected);
  }
}

TEST(Unzip32Options, ConvertCRtoCRLF) {
  for (int on : {1, 0}) {
    SCOPED_TRACE(on);
    ZipWriter zip;
    zip.Add("unix.txt", "a\nb\n").internalAttributes = 1;
    zip.Add("dos.txt", "c\r\nd\r\n").internalAttributes = 1;
    zip.Add("long.txt", Text(100000)).internalAttributes = 1;
    zip.Add("binary.bin", std::string("x\ny\0z\n", 6));
    Fixture f(zip);
    f.run.options.ConvertCRtoCRLF = on;
    EXPECT_EQ(f.run(), UNZIP32_OK) << Recorder().printed;
    std::string longCrLf;
    for (char ch : Text(100000)) longCrLf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
    const Tree_t converted = {{"unix.txt", "a\r\nb\r\n"},
                              {"dos.txt", "c\r\nd\r\n"},
                              {"long.txt", longCrLf},
                              {"binary.bin", std::string("x\ny\0z\n", 6)}};
    const Tree_t unchanged = {{"unix.txt", "a\nb\n"},
                              {"dos.txt", "c\r\nd\r\n"},
                              {"long.txt", Text(100000)},
                              {"binary.bin", std::string("x\ny\0z\n", 6)}};
    EXPECT_EQ(f.Out(), on ? converted : unchanged);
  }
}

TEST(Unzip32Options, TestZipWritesNothing) {
  struct Case {
    const char* name;
    bool badCrc;
    int32_t code;
  };
  const Case cases[] = {{"Sound", false, UNZIP32_OK}, {"BadCrc", true, UNZIP32_ERR_CRC}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZipWriter zip;
    zip.Add("a.txt", Text(4000));
    zip.Add("d/b.txt", "b");
    if (c.badCrc) zip.Entry(1).crc = 5;
    zip.Add("enc.txt", "hidden").password = "pw";
    Fixture f(zip);
    f.run.options.TestZip = 1;
    Recorder().Reset();
    Recorder().passwords = {"pw"};
    EXPECT_EQ(f.run.Again(), c.code) << Recorder().printed;
    EXPECT_TRUE(Tree(f.dir.Join("out")).empty());
  }
}

TEST(Unzip32Options, WriteToStdOutSendsContentsThroughPrint) {
  ZipWriter zip;
  zip.Add("a.txt", "alpha content\n");
  zip.Add("b.txt", Text(20000));
  Fixture f(zip);
  f.run.options.WriteToStdOut = 1;
  EXPECT_EQ(f.run(), UNZIP32_OK) << Recorder().printed;
  EXPECT_NE(Recorder().printed.find("alpha content\n"), std::string::npos);
  EXPECT_NE(Recorder().printed.find(Text(20000)), std::string::npos);
  EXPECT_TRUE(Tree(f.dir.Join("out")).empty());
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
    std::vector<std::string> mentioned;  // empty: nothing printed at all
  };
  const Case cases[] = {
      {"SilentOnSuccess", &good, 0, {}},
      {"SilentOnFailure", &bad, 0, {}},
      {"ProblemsOnlyOnSuccess", &good, 1, {}},
      {"ProblemsOnlyOnFailure", &bad, 1, {"broken-entry.txt"}},
      {"EveryEntry", &good, 2, {"first-entry.txt", "second-entry.txt"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f(*c.zip);
    f.run.options.MessageLevel = c.level;
    f.run();
    if (c.mentioned.empty()) {
      EXPECT_EQ(Recorder().printCalls, 0) << Recorder().printed;
    }
    for (const std::string& name : c.mentioned) {
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
    std::vector<std::string> include;
    std::vector<std::string> exclude;
    int caseSensitive;
    int32_t code;
    std::vector<std::string> out;
  };
  const Case cases[] = {
      {"NoLists",
       {},
       {},
       0,
       UNZIP32_OK,
       {"a.txt", "B.TXT", "c.package", "dir/d.txt", "dir/e.package"}},
      {"IncludeIgnoringCase", {"*.txt"}, {}, 0, UNZIP32_OK, {"a.txt", "B.TXT", "dir/d.txt"}},
      {"IncludeWithCase", {"*.txt"}, {}, 1, UNZIP32_OK, {"a.txt", "dir/d.txt"}},
      {"ExcludeIgnoringCase",
       {},
       {"b.txt"},
       0,
       UNZIP32_OK,
       {"a.txt", "c.package", "dir/d.txt", "dir/e.package"}},
      {"ExcludeWithCase",
       {},
       {"b.txt"},
       1,
       UNZIP32_OK,
       {"a.txt", "B.TXT", "c.package", "dir/d.txt", "dir/e.package"}},
      {"IncludeThenExclude", {"dir/*"}, {"*.package"}, 1, UNZIP32_OK, {"dir/d.txt"}},
      {"QuestionMark", {"?.txt"}, {}, 0, UNZIP32_OK, {"a.txt", "B.TXT"}},
      {"SeveralPatterns",
       {"a.txt", "*.package"},
       {},
       1,
       UNZIP32_OK,
       {"a.txt", "c.package", "dir/e.package"}},
      {"NothingIncluded", {"*.exe"}, {}, 0, UNZIP32_ERR_NO_MATCH, {}},
      {"EverythingExcluded", {}, {"*"}, 0, UNZIP32_ERR_NO_MATCH, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZipWriter zip;
    for (const char* name : {"a.txt", "B.TXT", "c.package", "dir/d.txt", "dir/e.package"}) {
      zip.Add(name, name);
    }
    Fixture f(zip);
    f.run.include = c.include;
    f.run.exclude = c.exclude;
    f.run.options.CaseSensitive = c.caseSensitive;
    EXPECT_EQ(f.run(), c.code) << Recorder().printed;
    Tree_t expected;
    for (const std::string& name : c.out) expected[name] = name;
    EXPECT_EQ(f.Out(), expected);
  }
}

TEST(Unzip32Options, Passwords) {
  struct Case {
    const char* name;
    std::vector<std::string> passwords;  // callback answers; past the end it answers 1 (skip)
    bool callback;
    int32_t code;
    Tree_t out;
    size_t requests;
  };
  const Tree_t both = {{"one.txt", Text(3000)}, {"two.txt", "two"}};
  const Case cases[] = {
      {"RightFirstTimeAndKept", {"pw"}, true, UNZIP32_OK, both, 1},
      {"WrongThenRight", {"nope", "pw"}, true, UNZIP32_OK, both, 2},
      {"WrongTwiceThenRight", {"a", "b", "pw"}, true, UNZIP32_OK, both, 3},
      {"WrongThreeTimesPerEntry",
       {"a", "b", "c", "d", "e", "f", "pw"},
       true,
       UNZIP32_ERR_PASSWORD,
       {},
       6},
      {"WrongThreeTimesThenRightForTheSecond",
       {"a", "b", "c", "pw"},
       true,
       UNZIP32_ERR_PASSWORD,
       {{"two.txt", "two"}},
       4},
      {"SkipAnswer", {}, true, UNZIP32_ERR_PASSWORD, {}, 2},
      {"NoPasswordCallback", {}, false, UNZIP32_ERR_PASSWORD, {}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ZipWriter zip;
    zip.Add("one.txt", Text(3000)).password = "pw";
    zip.Add("two.txt", "two", kStored).password = "pw";
    Fixture f(zip);
    Recorder().Reset();
    Recorder().passwords.assign(c.passwords.begin(), c.passwords.end());
    f.run.callbacks = c.callback;
    EXPECT_EQ(f.run.Again(), c.code) << Recorder().printed;
    EXPECT_EQ(f.Out(), c.out);
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
  ZipEntry& s = zip.Add("stored.txt", "hello", kStored);
  s.time = {2019, 3, 4, 5, 6, 8};
  ZipEntry& d = zip.Add("dir/deflated.txt", Text(10000));
  d.time = {2021, 12, 31, 23, 59, 58};
  zip.AddFolder("dir").time = {1999, 1, 2, 3, 4, 6};
  zip.Add("secret.bin", "abc", kStored).password = "pw";
  zip.Add("empty", "");
  const std::string deflated = Deflate(Text(10000));
  Fixture f(zip);
  f.run.options.ExtractList = 1;
  EXPECT_EQ(f.run(), UNZIP32_OK) << Recorder().printed;
  EXPECT_TRUE(Tree(f.dir.Join("out")).empty());
  EXPECT_TRUE(Recorder().passwordRequests.empty()) << "listing needs no password";
  const std::vector<ListedEntry>& l = Recorder().listed;
  ASSERT_EQ(l.size(), 5u);
  struct Expected {
    const char* name;
    uint32_t size;
    uint32_t compressed;
    int month, day, year, hour, minute;
    const char* method;
    uint32_t crc;
    int encrypted;
  };
  const Expected expected[] = {
      {"stored.txt", 5, 5, 3, 4, 2019, 5, 6, "Stored", Crc32("hello"), 0},
      {"dir/deflated.txt", 10000, static_cast<uint32_t>(deflated.size()), 12, 31, 2021, 23, 59,
       "Deflated", Crc32(Text(10000)), 0},
      {"dir/", 0, 0, 1, 2, 1999, 3, 4, "Stored", 0, 0},
      {"secret.bin", 3, 15, 6, 15, 2021, 12, 30, "Stored", Crc32("abc"), 1},
      {"empty", 0, 2, 6, 15, 2021, 12, 30, "Deflated", 0, 0},
  };
  for (int32_t i = 0; i < 5; ++i) {
    const Expected& e = expected[i];
    SCOPED_TRACE(e.name);
    EXPECT_EQ(l[static_cast<size_t>(i)].index, i);
    EXPECT_EQ(l[static_cast<size_t>(i)].name, e.name);
    EXPECT_EQ(l[static_cast<size_t>(i)].size, e.size);
    EXPECT_EQ(l[static_cast<size_t>(i)].compressedSize, e.compressed);
    EXPECT_EQ(l[static_cast<size_t>(i)].month, e.month);
    EXPECT_EQ(l[static_cast<size_t>(i)].day, e.day);
    EXPECT_EQ(l[static_cast<size_t>(i)].year, e.year);
    EXPECT_EQ(l[static_cast<size_t>(i)].hour, e.hour);
    EXPECT_EQ(l[static_cast<size_t>(i)].minute, e.minute);
    EXPECT_EQ(l[static_cast<size_t>(i)].method, e.method);
    EXPECT_EQ(l[static_cast<size_t>(i)].crc, e.crc);
    EXPECT_EQ(l[static_cast<size_t>(i)].encrypted, e.encrypted);
  }
  // Ratio in tenths of a percent: the share of the size that compression saved.
  const int32_t deflatedRatio =
      static_cast<int32_t>(1000 - (uint64_t{deflated.size()} * 1000 + 5000) / 10000);
  EXPECT_NEAR(l[1].ratio, deflatedRatio, 1);
  EXPECT_EQ(l[0].ratio, 0);
  EXPECT_EQ(l[4].ratio, 0) << "empty entries";
}

TEST(Unzip32Options, ServiceCallbackNamesEachEntryAndCanCancel) {
  ZipWriter zip;
  zip.Add("a.txt", Text(1234));
  zip.Add("b.txt", "bb");
  zip.Add("c.txt", "ccc");
  {
    Fixture f(zip);
    EXPECT_EQ(f.run(), UNZIP32_OK) << Recorder().printed;
    const auto& s = Recorder().serviced;
    ASSERT_EQ(s.size(), 3u);
    EXPECT_NE(s[0].first.find("a.txt"), std::string::npos) << s[0].first;
    EXPECT_EQ(s[0].second, 1234);
    EXPECT_NE(s[2].first.find("c.txt"), std::string::npos) << s[2].first;
    EXPECT_EQ(s[2].second, 3);
  }
  {
    Fixture f(zip);
    Recorder().Reset();
    Recorder().cancelServiceAt = 1;
    EXPECT_EQ(f.run.Again(), UNZIP32_ERR_CANCELLED) << Recorder().printed;
    EXPECT_EQ(f.Out(), (Tree_t{{"a.txt", Text(1234)}}));
    EXPECT_EQ(Recorder().serviced.size(), 2u);
  }
}

}  // namespace
}  // namespace qv::test
