// The zip library through its C entry point. Every row's call goes through
// StackCheck, so a library built with another calling convention than its
// callers fails here, not in the field (the records' offsets are checked by
// the header itself as it is compiled for 32-bit). Then rows of extractions:
// valid archives of every layout, the quirks of real writers, hostile
// archives named after their defect, the entry-name rules, the options and
// the callbacks, each callback slot reached by the rows that answer through
// it. Each row states the result, all that the extraction folder holds
// afterwards and every question asked; nothing may change outside that
// folder, and every file written carries its entry's time.
#include "support/TempDir.h"
#include "support/Unzip32Run.h"
#include "support/ZipWriter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <sstream>

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Z = ZipWriter&;
using E = ZipEntry&;
using Build = std::function<void(Z)>;

constexpr int32_t kOk = UNZIP32_OK, kFormat = UNZIP32_ERR_FORMAT, kCrc = UNZIP32_ERR_CRC,
                  kPassword = UNZIP32_ERR_PASSWORD, kUnsafe = UNZIP32_ERR_UNSAFE_NAME,
                  kWrite = UNZIP32_ERR_WRITE;
constexpr int32_t kRefused = 100 + kFormat;  // the whole archive: FORMAT, nothing written
const std::optional<Tree_t> kAll;            // every entry as it went in
const Tree_t kNothing, kGood = {{"good.txt", "good"}};

// What a caller may read of the version record.
TEST(Unzip32Abi, VersionRecord) {
  UnzipVersionInfo info{};
  info.StructLength = 64;
  ASSERT_EQ(UzpVersion2(&info), UNZIP32_OK);
  // Library 1.0.0, zip format 4.5 (ZIP64), a reserved zero, interface 1.0.0.
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(info.Version), 16),
            "\1\0\0\0\4\5\0\0\0\0\0\0\1\0\0\0"s);
}
const TempDir* current = nullptr;  // the folder of the row being checked
const TempDir& Dir() {
  return *current;
}
std::vector<std::string> links;  // that the row made in out/ beforehand
void LinkBefore(const std::string& target, const std::string& path) {
  Dir().Link(Dir().Join(target), "out/" + path);
  links.push_back(path);
}

// "path path ...", each holding "x" ("/" at the end: a folder).
Tree_t Files(const std::string& list) {
  Tree_t tree;
  std::istringstream words(list);
  for (std::string name; words >> name;) {
    tree[name.ends_with('/') ? name.substr(0, name.size() - 1) : name] =
        name.ends_with('/') ? "<folder>" : "x";
  }
  return tree;
}

template <typename... Texts>
Tree_t T(const Texts&... texts) {  // path, content, path, content...
  const std::string items[] = {std::string(texts)..., ""};
  Tree_t tree;
  for (size_t i = 0; i + 1 < sizeof...(texts); i += 2) tree[items[i]] = items[i + 1];
  return tree;
}

fs::file_time_type LocalTime(const ZipTime& t) {
  std::tm parts{};
  parts.tm_year = t.year - 1900, parts.tm_mon = t.month - 1, parts.tm_mday = t.day;
  parts.tm_hour = t.hour, parts.tm_min = t.minute, parts.tm_sec = t.second, parts.tm_isdst = -1;
  return fs::file_time_type::clock::from_sys(
      std::chrono::system_clock::from_time_t(std::mktime(&parts)));
}

// "Option=value ..." (the record's fields by name), "include=" and "exclude="
// patterns, "reply=" answers of the replace callback, "passwords=" those of
// the password callback (pw,pw,pw unless given), "cancel=" the service call
// that stops, "callbacks=0" no callbacks.
void SetOptions(UnzipRun& run, Calls& calls, const std::string& text) {
  static const std::string kFields =
      " ExtractOnlyNewer SpaceToUnderScore PromptOverwrite MessageLevel WriteToStdOut TestZip "
      "ExtractList ExtractNewer DisplayComment HonorDirectories OverWriteFiles ConvertCRtoCRLF "
      "Verbose CaseSensitive ";
  calls.passwords = {"pw", "pw", "pw"};
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    const std::string key = word.substr(0, word.find('=')), value = word.substr(key.size() + 1);
    if (const size_t at = kFields.find(" " + key + " "); at != std::string::npos) {
      const auto field =
          std::count(kFields.begin(), kFields.begin() + static_cast<std::ptrdiff_t>(at), ' ');
      const int32_t number = std::stoi(value);  // the fields are 32-bit, 4 bytes apart
      std::memcpy(reinterpret_cast<char*>(&run.options) + 4 * field, &number, 4);
    }
    if (key == "include") run.include.push_back(value);
    if (key == "exclude") run.exclude.push_back(value);
    if (key == "reply") calls.replies.push_back(std::stoi(value));
    if (key == "cancel") calls.cancelAt = std::stoi(value);
    if (key == "callbacks") run.callbacks = false;
    std::istringstream list(key == "passwords" ? value : "");
    if (key == "passwords") calls.passwords.clear();
    for (std::string one; std::getline(list, one, ',');) calls.passwords.push_back(one);
  }
}

// One row: the archive `build` makes (and what out/ holds beforehand, in
// Dir()) extracted with `options` gives `code` and leaves `out` in out/ (the
// files and the empty folders), by default every entry but, when the row
// fails, the first. `calls`: the replace, password and list-entry calls as
// Calls::log has them; `says`: texts printed, "|" between ("-": nothing).
void Check(const std::string& name, int32_t code, const Build& build,
           const std::optional<Tree_t>& out = kAll, const std::string& options = "",
           const std::string& calls = "", const std::string& says = "") {
  SCOPED_TRACE(name);
  TempDir dir;
  current = &dir;
  links.clear();
  dir.MakeFolder("out");
  dir.Write("outside.txt", "precious");
  ZipWriter zip;
  build(zip);
  UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
  Calls& recorded = Recorded() = {};
  recorded.root = dir.Path();
  SetOptions(run, recorded, options);
  const auto outside = [&dir] {
    Tree_t all = Tree(dir.Path());
    std::erase_if(all, [](const auto& e) { return e.first.starts_with("out/"); });
    return all;
  };
  dir.Write("a.zip", zip.Build());
  const Tree_t before = outside();
  EXPECT_EQ(run(), code % 100) << recorded.printed;
  EXPECT_EQ(outside(), before) << "written outside out/";
  Tree_t got = Tree(dir.Join("out"));
  EXPECT_EQ(run.check.imbalance, 0) << "Wiz_SingleEntryUnzip has the wrong calling convention";
  // A link the row made stays its own (on Windows it shows as a folder).
  for (const std::string& link : links) {
    const fs::path path = dir.Join("out/" + link);
    if (!fs::is_symlink(path) && !fs::is_directory(path)) continue;
    std::erase_if(got, [&](const auto& e) { return (e.first + "/").starts_with(link + "/"); });
  }
  EXPECT_EQ(recorded.log, calls);
  Tree_t expected;
  for (const ZipEntry& e : zip.Entries()) {
    const bool folder = e.name.ends_with('/');
    expected[folder ? e.name.substr(0, e.name.size() - 1) : e.name] = folder ? "<folder>" : e.data;
  }
  if (code != kOk && !zip.Entries().empty()) expected.erase(zip.Entries()[0].name);
  if (out || code == kRefused) expected = out.value_or(kNothing);
  for (const auto& [path, content] : Tree_t(expected)) {  // with the folders on the way
    for (size_t at = path.find('/'); at != std::string::npos; at = path.find('/', at + 1)) {
      expected[path.substr(0, at)] = "<folder>";
    }
  }
  EXPECT_EQ(got, expected);
  std::istringstream texts(says);
  for (std::string text; std::getline(texts, text, '|');) {
    const bool found = recorded.printed.find(text) != std::string::npos;
    EXPECT_TRUE(text == "-" ? recorded.printed.empty() : found) << text;
  }
  if (code != kOk && run.options.MessageLevel > 0 && run.callbacks) {
    EXPECT_NE(recorded.printed, "") << "every failure is reported";
  }
  for (const ZipEntry& e : zip.Entries()) {
    if (!got.contains(e.name) || got.at(e.name) != e.data) continue;
    using std::chrono::floor, std::chrono::seconds;
    EXPECT_EQ(floor<seconds>(fs::last_write_time(dir.Join("out/" + e.name))),
              floor<seconds>(LocalTime(e.time)))
        << e.name << " does not carry its entry's time";
  }
}

// An entry f.txt of `data`, changed by `edit`, then good.txt.
Build One(const std::string& data, std::function<void(E)> edit = {}, uint16_t method = kDeflated) {
  return [=](Z z) {
    ZipEntry& e = z.Add("f.txt", data, method);
    if (edit) edit(e);
    z.Add("good.txt", "good");
  };
}
// The archive of `build`, built once (for its offsets), then changed by `edit`.
Build With(Build build, std::function<void(Z)> edit) {
  return [=](Z z) {
    build(z);
    z.Build();
    edit(z);
  };
}
// One("x"), then the archive changed by `edit`.
Build OneAnd(std::function<void(Z)> edit) {
  return With(One("x"), edit);
}
// `bytes` written over the archive of `build` at the offset `where` gives.
using Where = std::function<uint64_t(const ZipWriter&, const std::string& bytes)>;
Build Patch(Build build, Where where, std::string bytes) {
  return With(build, [=](Z z) {
    z.patch = [&z, where, bytes](std::string& b) {
      b.replace(static_cast<size_t>(where(z, b)), bytes.size(), bytes);
    };
  });
}
Where Local(uint64_t field) {  // in the first local header
  return [=](const ZipWriter& z, auto&) { return z.LocalOffsets()[0] + field; };
}
Where Central(uint64_t field) {  // in the first central header
  return [=](const ZipWriter& z, auto&) { return z.DirectoryOffset() + field; };
}
Where End(uint64_t field) {  // in the end record (no comment)
  return [=](const ZipWriter&, const std::string& b) { return b.size() - 22 + field; };
}
// The archive of `build` behind a stub, which its offsets leave out.
Build Behind(Build build) {
  return With(build, [=](Z z) {
    z.prefix = "MZ" + std::string(500, '\x90');
    z.offsetsLeaveOutPrefix = true;
  });
}
// A stored Unix link entry `name` to `target` (its data), then `then`.
Build Link(const std::string& name, const std::string& target, const std::string& then) {
  return [=](Z z) {
    z.Add(name, target, kStored).unixMode = 0120777;
    z.Add(then, "attacker");
  };
}
Build Two(const std::string& first, const std::string& second) {
  return [=](Z z) {
    z.Add(first, "first");
    z.Add(second, "second");
  };
}
// existing.txt, in out/ beforehand as "old" of 2020-06-15 12:00, and fresh.txt,
// both "new" in the archive from `time`.
Build Existing(ZipTime time) {
  return [=](Z z) {
    z.Add("existing.txt", "new").time = time;
    z.Add("fresh.txt", "new").time = time;
    Dir().Write("out/existing.txt", "old");
    fs::last_write_time(Dir().Join("out/existing.txt"), LocalTime({2020, 6, 15, 12, 0, 0}));
  };
}
// Every kind of entry the library reads.
void Every(Z z) {
  z.comment = "archive comment with PK\x05\x06 inside";
  z.Add("stored.txt", "alpha\n", kStored).comment = "entry comment";
  z.Add("deflated.txt", Text(5000));
  z.Add("empty-stored", "", kStored);
  z.Add("empty-deflated", "");
  z.Add("top/", "", kStored);
  z.Add("top/inner/", "", kStored).unixMode = 0040755;
  z.Add("top/inner/c.package", Text(3000));
  z.Add("x/y/implied.txt", "zed");
  z.Add("lonely/", "", kStored);
  z.Add("dd.txt", Text(9000)).dataDescriptor = true;
  z.Add("dd.bin", Text(700), kStored).dataDescriptor = true;
  ZipEntry* e = &z.Add("unsigned-dd.txt", Text(700));
  e->dataDescriptor = true, e->descriptorSignature = false;
  z.Add("z64.txt", Text(4000)).zip64 = true;
  e = &z.Add("z64-dd.bin", Text(999), kStored);
  e->zip64 = e->dataDescriptor = true;
  z.Add("e1.txt", Text(3000)).password = "pw";
  z.Add("e2.bin", Text(100), kStored).password = "pw";
  e = &z.Add("e3.txt", "descriptor");
  e->password = "pw", e->dataDescriptor = true;
  // Bytes after the end of the deflate stream within the compressed size are
  // ignored: the entry is delivered when its size and CRC match.
  z.Add("trailing.txt", Text(4000)).rawPayload = Deflate(Text(4000)) + "trailing bytes";
}

TEST(Unzip32Extract, Archives) {
  Check("EveryKindOfEntry", kOk, Every, kAll, "MessageLevel=2", "P:e1.txt", "creating: lonely/");
  // Quirks of real writers, read as other readers read them.
  Check("StubThatTheOffsetsLeaveOut", kOk, Behind(Every), kAll, "", "P:e1.txt");
  Check("BytesAfterTheEndRecord", kOk, OneAnd([](Z z) { z.patch = [](auto& b) { b += "junk"; }; }));
  Check("DescriptorFlagInTheLocalHeaderOnly", kOk,
        Patch(One(Text(3000), [](E e) { e.dataDescriptor = true; }), Central(8), Le(0, 2)));
  // A size that no deflate stream of this length can reach: a zip bomb's.
  Check("DeclaredSizeBeyondTheDeflateCeiling", kFormat,
        One("x", [](E e) { e.size = 1032 * e.rawPayload.emplace(Deflate(Text(100))).size() + 1; }),
        kAll, "", "", "beyond");
  // One entry fails, the others are extracted; the first failure's code.
  Check("BadCrcOverAnOlderFile", kCrc,
        With(One("new", [](E e) { e.crc = 1; }), [](Z) { Dir().Write("out/f.txt", "old"); }),
        T("f.txt", "old", "good.txt", "good"));
  Check(
      "DataThatLie", kCrc,
      [](Z z) {
        z.Add("larger", Text(3000)).size = 3001;
        ZipEntry& stored = z.Add("stored", Text(3000), kStored);
        stored.size = stored.compressedSize = 100;
        z.Add("cut", Text(3000)).compressedSize = 20;
        z.Add("garbage", "x").rawPayload = "\xff\xff no deflate";
        z.Add("past", Text(300)).rawPayload = Deflate(Text(300) + "more");
        z.Add("good.txt", "good");
      },
      kGood);
  // "wrong52" passes the check byte of f.txt (Text(5000) encrypted with
  // "right" behind our writer's fixed head), as about one in 256 wrong
  // passwords does: only the data can tell. Another head fails the row.
  Check("WrongPasswordPassingTheCheckByte", kCrc,
        One(Text(5000), [](E e) { e.password = "right"; }), kAll, "passwords=wrong52", "P:f.txt",
        "wrong password?");
  Check("FolderThenFileOfTheSameName", kWrite, Two("a/b/c", "a/b"), T("a/b/c", "first"));
  // Each refused with 6 on its own; the data are never looked at.
  Check(
      "UnsupportedMethods", UNZIP32_ERR_UNSUPPORTED,
      [](Z z) {
        for (int method : {9, 12, 14, 93, 95, 98, 6, 1, 3}) {
          z.Add("m" + std::to_string(method), "data", static_cast<uint16_t>(method));
        }
        ZipEntry& aes = z.Add("aes", Text(500), 99);
        aes.addFlags = 1;
        aes.extra = Le(0x9901, 2) + Le(7, 2) + Le(2, 2) + "AE\x03" + Le(kDeflated, 2);
        z.Add("good.txt", "good");
      },
      kGood, "", "", "Deflate64|BZip2|LZMA|Zstandard|XZ|PPMd|Imploded|Shrunk|method 3|AES");
  // Central and local headers that disagree.
  // Name, flags (encrypted), crc, compressed size, size.
  for (const auto& [at, bytes] :
       {std::pair{30u, "g"s}, {6, Le(1, 2)}, {14, Le(7, 4)}, {18, Le(7, 4)}, {22, Le(7, 4)}}) {
    Check("LocalHeaderDiffersAt" + std::to_string(at), kRefused, Patch(One("x"), Local(at), bytes));
  }
  // Entries whose data overlap (zip bombs), or lie beyond their place.
  Check("TwoCentralEntriesShareOneLocalRecord", kRefused,
        With(Two("f.txt", "f.txt"),
             [](Z z) { z.Entry(1) = z.Entry(0), z.Entry(1).centralOffset = 0; }),
        kAll, "", "", "overlap");
  Check("CompressedSizeBeyondTheFile", kRefused,
        One("x", [](E e) { e.compressedSize = 1u << 30; }));
  // Behind a stub that the offsets leave out, the shift must not let
  // entries point past their archive.
  Check("ShiftedZip64OffsetWrapsAround", kRefused,
        Behind(One("x", [](E e) { e.centralOffset = ~0ull - 100; })));
  // As if the archive's first bytes were cut off: a negative shift.
  Check("DirectoryBehindItsPlace", kRefused, OneAnd([](Z z) {
          z.patch = [&z](auto& b) { b.replace(b.size() - 6, 4, Le(z.DirectoryOffset() + 40, 4)); };
        }));
  // End records and extra fields that cannot fit.
  Check("EndRecordAlone", kRefused, Patch([](Z) {}, End(8), Le(1, 2) + Le(1, 2) + Le(46, 4)));
  Check("DirectorySizeBeyondTheFile", kRefused, Patch(One("x"), End(12), Le(0x7FFFFFFFu, 4)));
  Check("Zip64ExtraFieldTooShortForItsOffset", kRefused,
        Patch(One("x", [](E e) { e.zip64 = true; }), Central(53), Le(16, 2)));
  Check("ExtraRecordOverrunsItsField", kRefused,
        One("x", [](E e) { e.extra = Le(0x5455, 2) + Le(200, 2); }));
  Check("ArchiveOnSeveralDisks", UNZIP32_ERR_UNSUPPORTED, Patch(One("x"), End(4), Le(1, 2)),
        kNothing);
  // Link entries are written as files holding the link text; a link already
  // in out/ is replaced or refused, never written through.
  Check("LinkUpwardsThenAFileThroughIt", kWrite, Link("ln", "..", "ln/x.txt"), T("ln", ".."));
  Check("LinkToAFileOutsideThenTheFile", kUnsafe, Link("ln", "../outside.txt", "ln"),
        T("ln", "../outside.txt"));
  Check("ExistingLinkToAFileIsReplaced", kOk,
        OneAnd([](Z) { LinkBefore("outside.txt", "f.txt"); }));
  Check("ExistingLinkToAFolderIsNotFollowed", kWrite, With(Two("link/x.txt", "b"), [](Z) {
          Dir().MakeFolder("target");
          LinkBefore("target", "link");
        }));
  // The first entry that maps onto a file claims it.
  Check("NamesDifferingInCase", kUnsafe, Two("Dir/a.TXT", "dir/a.txt"), T("Dir/a.TXT", "first"));
}

// Names, then good.txt, extracted with folders kept and flat: each gives the
// code and the files of `list` (a "/" at the end: a folder).
void Names(const std::string& label, const std::vector<std::string>& names, int32_t code,
           const std::string& honored, int32_t flatCode, const std::string& flat) {
  const Build build = [=](Z z) {
    for (const std::string& name : names) z.Add(name, "x");
    z.Add("good.txt", "x");
  };
  Check(label, code, build, Files(honored + " good.txt"));
  Check(label + "Flat", flatCode, build, Files(flat + " good.txt"), "HonorDirectories=0");
}

TEST(Unzip32Extract, EntryNames) {
  Names("Kept",
        {"a/b/c.txt", "a\\b\\c2.txt", "a\\d/", "./a/.//b.txt", "./", ".hidden", "console.txt",
         "com0"},
        kOk, "a/b/c.txt a/b/c2.txt a/d/ a/b.txt .hidden console.txt com0", kOk,
        "c.txt c2.txt b.txt .hidden console.txt com0");
  Names("Refused",
        {"", "..", "C:x", "a.txt:secret", "safe.txt\0../../x"s, "d\x1b[2J/x", "a\x7f", "a.", "nul",
         "Com1.txt", "lpt9", "a*.txt", "a|b"},
        kUnsafe, "", kUnsafe, "");
  // Only their folders are refused.
  Names("FlatOnly",
        {"../x1", "a\\..\\../x2", "/x3", "\\\\server\\share\\x4", "C:\\x5", "a /x6", ".. /x7",
         "aux/x8", "a/com1\\x9", "../"},
        kUnsafe, "", kOk, "x1 x2 x3 x4 x5 x6 x7 x8 x9");
  Names("DotLast", {"a/."}, kOk, "a", kUnsafe, "");
  // macOS's AppleDouble files, wherever their folder is; a file of that name stays.
  Names("MacMetadataFolders",
        {"__MACOSX/", "__MACOSX/._good.txt", "__MACOSX/stairs/._oak.package",
         "stairs\\__MACOSX\\._oak.package", "a/__MACOSX/", "__MACOSX/a:b", "stairs/oak.package",
         "b/__MACOSX"},
        kOk, "stairs/oak.package b/__MACOSX", kOk, "oak.package __MACOSX");
}

TEST(Unzip32Extract, Options) {
  const Build texts = [](Z z) {
    z.Add("my file.txt", "a\nb\n").internalAttributes = 1;
    z.Add("sub dir/a b.txt", "c\r\nd\re").internalAttributes = 1;
    z.Add("bin ary.bin", "x\ny\0z\n"s);
  };
  const Build pw = [](Z z) {
    z.Add("one.txt", Text(3000)).password = "pw";
    z.Add("two.txt", "two", kStored).password = "pw";
  };
  const Build names = [](Z z) {
    for (const char* name : {"a.txt", "B.TXT", "c.package", "dir/d.txt", "dir/e.package"}) {
      z.Add(name, "x");
    }
  };
  const std::string ask = "OverWriteFiles=0 PromptOverwrite=1", asked = "R:out/existing.txt";
  const Tree_t kept = T("existing.txt", "old"), old = T("existing.txt", "old", "fresh.txt", "new");
  const std::string p1 = "P:one.txt", p2 = " P:two.txt", p111 = p1 + " " + p1 + " " + p1;
  // Files already there: replaced, kept or asked about.
  Check("Overwrite", kOk, Existing({}), kAll, "PromptOverwrite=1");
  Check("KeepExisting", kOk, Existing({}), old, "OverWriteFiles=0 MessageLevel=2", "",
        "skipping: existing.txt");
  Check("AskYes", kOk, Existing({}), kAll, ask + " reply=102", asked);
  Check("AskCancel", UNZIP32_ERR_CANCELLED, Existing({}), kept, ask + " reply=104", asked);
  Check("AskWithoutACallback", kOk, Existing({}), old, ask + " callbacks=0");
  Check("NewerReplacesOlder", kOk, Existing({}), kAll, "OverWriteFiles=0 ExtractNewer=1");
  Check("NewerKeepsNewer", kOk, Existing({2019}), old, "ExtractNewer=1");
  Check("OnlyNewerCreatesNothing", kOk, Existing({}), T("existing.txt", "new"),
        "ExtractOnlyNewer=1");
  // Names and contents.
  Check(
      "SpaceToUnderScoreAndConvertCRtoCRLF", kOk, texts,
      T("my_file.txt", "a\r\nb\r\n", "sub_dir/a_b.txt", "c\r\nd\r\ne", "bin_ary.bin", "x\ny\0z\n"s),
      "SpaceToUnderScore=1 ConvertCRtoCRLF=1");
  // Name lists.
  Check("IncludeWithCase", kOk, names, Files("a.txt dir/d.txt"), "include=*.txt CaseSensitive=1");
  Check("IncludeThenExclude", kOk, names, Files("dir/d.txt"), "include=dir/* exclude=*.package");
  Check("StarBacktracks", kOk, Two("axb.txt", "xaab.txt"), T("xaab.txt", "second"),
        "include=*ab.txt");
  Check("NothingIncluded", UNZIP32_ERR_NO_MATCH, names, kNothing, "include=*.exe");
  // Passwords: asked for the first entry that needs one, kept, asked
  // again when wrong, at most three times per entry.
  Check("WrongTwiceThenRight", kOk, pw, kAll, "passwords=a,b,pw", p111, "incorrect password");
  Check("WrongThreeTimesThenRightForTheNext", kPassword, pw, T("two.txt", "two"),
        "passwords=a,b,c,pw", p111 + p2);
  Check("NoPasswordCallback", kPassword, pw, kNothing, "callbacks=0");
  // Modes that write no file.
  Check("TestZip", kOk, Every, kNothing, "TestZip=1 MessageLevel=2", "P:e1.txt",
        "testing: deflated.txt   OK|testing: e2.bin   OK");
  Check(
      "WriteToStdOut", kOk,
      [](Z z) {
        z.comment = Text(33000);
        z.Add("a.txt", Text(40000));
        z.Add("c.bin", "beta", kStored).password = "pw";
      },
      kNothing, "WriteToStdOut=1 DisplayComment=1 MessageLevel=0 passwords=wrong,pw",
      "P:c.bin P:c.bin", Text(33000) + "\n" + Text(40000) + "beta");
  Check(
      "ExtractList", kOk,
      [](Z z) {
        ZipEntry& e = z.Add("dir/deflated.txt", Text(10000));
        e.rawPayload = std::string(2500, 'x'), e.crc = 0x12345678,
        e.time = {2021, 12, 31, 23, 59, 58};
        z.Add("huge.bin", "y", kStored).size = 5ull << 30;
      },
      kNothing, "ExtractList=1",
      "L:dir/deflated.txt:10000:2500:750:2021-12-31:2359:0:Deflated:12345678:0 "
      "L:huge.bin:4294967295:1:1000:2021-06-15:1230:1:Stored:fbdb2615:0");
  // Messages.
  Check("SilentOnFailure", kCrc, One("x", [](E e) { e.crc = 3; }), kAll, "MessageLevel=0", "", "-");
  Check("Verbose", kOk, Every, kAll, "MessageLevel=2 Verbose=1", "P:e1.txt",
        "18 entries, central directory of |e2.bin: 100 bytes, 112 compressed, method 0, encrypted");
  Check("DisplayComment", kOk, OneAnd([](Z z) { z.comment = "Made by the stair team"; }), kAll,
        "DisplayComment=1", "", "Made by the stair team");
  Check("ServiceCancels", UNZIP32_ERR_CANCELLED, Two("a.txt", "b.txt"), T("a.txt", "first"),
        "cancel=1", "", "cancelled");
}

// Calls that are refused before any archive is read, and extraction folders
// of every spelling, created with their parents.
TEST(Unzip32Extract, CallsAndFolders) {
  TempDir dir;
  ZipWriter zip;
  zip.Add("d/f.txt", "f");
  zip.Save(dir.Join("a.zip"));
  dir.Write("file", "");
  const std::string archive = dir.Join("a.zip");
  EXPECT_EQ(Wiz_SingleEntryUnzip(0, nullptr, 0, nullptr, nullptr, nullptr), UNZIP32_ERR_PARAMETER);
  EXPECT_EQ(UnzipRun("", dir.Join("out"))(), UNZIP32_ERR_PARAMETER);
  EXPECT_EQ(UnzipRun(archive, "")(), UNZIP32_ERR_PARAMETER);
  EXPECT_EQ(UnzipRun(dir.Join("missing.zip"), dir.Join("out"))(), UNZIP32_ERR_OPEN);
  EXPECT_EQ(UnzipRun(archive, dir.Join("file/x"))(), UNZIP32_ERR_WRITE);
  EXPECT_EQ(Tree(dir.Path()), T("a.zip", zip.Build(), "file", ""));
  for (const char* folder : {"out", "out/", "new/deeper", "new/deeper", "x\\y"}) {
    EXPECT_EQ(UnzipRun(archive, dir.Join(folder))(), UNZIP32_OK) << folder;
    EXPECT_EQ(Tree(dir.Join(folder), true), T("d/f.txt", "f")) << folder;
  }
  fs::create_directory(dir.Join("plain"));  // the permissions any new folder gets
  for (const char* folder : {"new", "new/deeper", "new/deeper/d"}) {
    EXPECT_EQ(fs::status(dir.Join(folder)).permissions(),
              fs::status(dir.Join("plain")).permissions())
        << folder;
  }
}

}  // namespace
}  // namespace qv::test
