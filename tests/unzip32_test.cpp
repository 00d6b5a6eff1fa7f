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

#include <array>
#include <chrono>
#include <ctime>
#include <filesystem>

namespace qv::test {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using Build = std::function<void(ZipWriter&)>;

constexpr int32_t kOk = UNZIP32_OK, kFormat = UNZIP32_ERR_FORMAT, kCrc = UNZIP32_ERR_CRC,
                  kUnsupported = UNZIP32_ERR_UNSUPPORTED, kUnsafe = UNZIP32_ERR_UNSAFE_NAME,
                  kWrite = UNZIP32_ERR_WRITE, kCancelled = UNZIP32_ERR_CANCELLED,
                  kPassword = UNZIP32_ERR_PASSWORD;
const Tree_t kNothing, kGood = {{"good.txt", "good"}};

// What a caller may read of the version record.
TEST(Unzip32Abi, VersionRecord) {
  UnzipVersionInfo info{};
  info.StructLength = 64;
  ASSERT_EQ(UzpVersion2(&info), UNZIP32_OK);
  EXPECT_EQ(std::to_array(info.Version), (std::array<uint8_t, 4>{1, 0, 0, 0})) << "library";
  EXPECT_EQ(std::to_array(info.ZipVersion), (std::array<uint8_t, 4>{4, 5, 0, 0})) << "ZIP64";
  EXPECT_EQ(info.Reserved, 0);
  EXPECT_EQ(std::to_array(info.ApiVersion), (std::array<uint8_t, 4>{1, 0, 0, 0})) << "interface";
}

// One extraction: the archive, what out/ holds beforehand, the options and
// the callbacks' answers; then what the extraction must come to.
struct Row {
  std::string name{};
  Build archive{};
  Tree_t before{};  // files in out/ (path, content), each dated 2020-06-15 12:00
  Tree_t links{};   // links in out/ (path, target in the row's folder)
  // The record's options, as the installer sets them where a row says nothing.
  int32_t ExtractOnlyNewer = 0, SpaceToUnderScore = 0, PromptOverwrite = 0, MessageLevel = 1,
          WriteToStdOut = 0, TestZip = 0, ExtractList = 0, ExtractNewer = 0, DisplayComment = 0,
          HonorDirectories = 1, OverWriteFiles = 1, ConvertCRtoCRLF = 0, Verbose = 0,
          CaseSensitive = 0;
  std::vector<std::string> include{}, exclude{};           // the name lists
  std::deque<int32_t> replies{};                           // of the replace callback
  std::deque<std::string> passwords = {"pw", "pw", "pw"};  // of the password callback
  int cancelAt = -1;      // the service call that asks to stop, from 0
  bool callbacks = true;  // false: every callback slot null
  int32_t result = kOk;
  // All that out/ holds afterwards, with the folders on the way; unset:
  // every entry as it went in, without the first when the row fails.
  std::optional<Tree_t> out{};
  std::string asked{};              // the replace, password and list-entry calls, as Calls::log
  std::vector<std::string> says{};  // texts printed, each somewhere
  bool silent = false;              // nothing printed at all
};

// The library's record of the row's options.
UnzipOptions Record(const Row& row) {
  // clang-format off
  return {.ExtractOnlyNewer = row.ExtractOnlyNewer, .SpaceToUnderScore = row.SpaceToUnderScore,
          .PromptOverwrite = row.PromptOverwrite, .MessageLevel = row.MessageLevel,
          .WriteToStdOut = row.WriteToStdOut, .TestZip = row.TestZip,
          .ExtractList = row.ExtractList, .ExtractNewer = row.ExtractNewer,
          .DisplayComment = row.DisplayComment,
          .HonorDirectories = row.HonorDirectories, .OverWriteFiles = row.OverWriteFiles,
          .ConvertCRtoCRLF = row.ConvertCRtoCRLF, .Verbose = row.Verbose,
          .CaseSensitive = row.CaseSensitive, .Privilege = 0, .ZipFileName = {}, .ExtractDir = {}};
  // clang-format on
}

fs::file_time_type LocalTime(const ZipTime& t) {
  std::tm parts{};
  parts.tm_year = t.year - 1900, parts.tm_mon = t.month - 1, parts.tm_mday = t.day;
  parts.tm_hour = t.hour, parts.tm_min = t.minute, parts.tm_sec = t.second, parts.tm_isdst = -1;
  return fs::file_time_type::clock::from_sys(
      std::chrono::system_clock::from_time_t(std::mktime(&parts)));
}

// What out/ must hold after `row`, with the folders on the way.
Tree_t Expected(const Row& row, const ZipWriter& zip) {
  Tree_t expected = row.out.value_or(Tree_t());
  if (!row.out) {
    for (const ZipEntry& e : zip.Entries()) {
      const bool folder = e.name.ends_with('/');
      expected[folder ? e.name.substr(0, e.name.size() - 1) : e.name] =
          folder ? "<folder>" : e.data;
    }
    if (row.result != kOk && !zip.Entries().empty()) expected.erase(zip.Entries()[0].name);
  }
  for (const auto& [path, content] : Tree_t(expected)) {
    for (size_t at = path.find('/'); at != std::string::npos; at = path.find('/', at + 1)) {
      expected[path.substr(0, at)] = "<folder>";
    }
  }
  return expected;
}

// Runs a row in a fresh folder that holds out/, the archive a.zip, and
// outside.txt and outside/ for links to point at.
void Check(const Row& row) {
  SCOPED_TRACE(row.name);
  TempDir dir;
  dir.MakeFolder("out");
  dir.MakeFolder("outside");
  dir.Write("outside.txt", "precious");
  for (const auto& [path, content] : row.before) {
    dir.Write("out/" + path, content);
    fs::last_write_time(dir.Join("out/" + path), LocalTime({2020, 6, 15, 12, 0, 0}));
  }
  for (const auto& [path, target] : row.links) dir.Link(dir.Join(target), "out/" + path);
  ZipWriter zip;
  row.archive(zip);
  dir.Write("a.zip", zip.Build());
  UnzipRun run(dir.Join("a.zip"), dir.Join("out"));
  run.options = Record(row);
  run.include = row.include, run.exclude = row.exclude, run.callbacks = row.callbacks;
  Calls& recorded = Recorded() = {};
  recorded.root = dir.Path(), recorded.replies = row.replies, recorded.cancelAt = row.cancelAt;
  recorded.passwords = row.passwords;
  const auto outside = [&dir] {
    Tree_t all = Tree(dir.Path());
    std::erase_if(all, [](const auto& e) { return e.first.starts_with("out/"); });
    return all;
  };
  const Tree_t before = outside();
  EXPECT_EQ(run(), row.result) << "the result; the library printed:\n" << recorded.printed;
  EXPECT_EQ(outside(), before) << "written outside out/";
  EXPECT_EQ(run.check.imbalance, 0) << "Wiz_SingleEntryUnzip has the wrong calling convention";
  EXPECT_EQ(recorded.log, row.asked) << "the questions asked";
  Tree_t got = Tree(dir.Join("out"));
  // A link the row made stays its own (on Windows it shows as a folder).
  for (const auto& [link, target] : row.links) {
    const fs::path path = dir.Join("out/" + link);
    if (!fs::is_symlink(path) && !fs::is_directory(path)) continue;
    std::erase_if(got, [&](const auto& e) { return (e.first + "/").starts_with(link + "/"); });
  }
  EXPECT_EQ(got, Expected(row, zip)) << "what out/ holds";
  for (const std::string& text : row.says) {
    EXPECT_NE(recorded.printed.find(text), std::string::npos) << "nothing printed says " << text;
  }
  EXPECT_TRUE(!row.silent || recorded.printed.empty()) << "printed " << recorded.printed;
  if (row.result != kOk && row.MessageLevel > 0 && row.callbacks) {
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

Build Entries(const std::vector<ZipEntry>& entries) {
  return [=](ZipWriter& zip) {
    for (const ZipEntry& e : entries) zip.Add(e);
  };
}
// The entry f.txt, then good.txt.
Build One(ZipEntry entry = {.data = "x"}) {
  entry.name = "f.txt";
  return Entries({entry, {.name = "good.txt", .data = "good"}});
}
Build Two(const std::string& first, const std::string& second) {
  return Entries({{.name = first, .data = "first"}, {.name = second, .data = "second"}});
}
// Each name holding "x", then (unless `good` is false) good.txt.
Build Named(std::vector<std::string> names, bool good = true) {
  std::vector<ZipEntry> entries;
  if (good) names.push_back("good.txt");
  for (const std::string& name : names) entries.push_back({.name = name, .data = "x"});
  return Entries(entries);
}
// The archive of `build`, built once (for its offsets), then changed by `edit`.
Build With(const Build& build, const Build& edit) {
  return [=](ZipWriter& zip) {
    build(zip);
    zip.Build();
    edit(zip);
  };
}
// `bytes` written over the archive of `build` at the offset `where` gives.
using Where = std::function<uint64_t(const ZipWriter&, const std::string& bytes)>;
Build Patch(const Build& build, const Where& where, const std::string& bytes) {
  return With(build, [=](ZipWriter& zip) {
    zip.patch = [&zip, where, bytes](std::string& b) {
      b.replace(static_cast<size_t>(where(zip, b)), bytes.size(), bytes);
    };
  });
}
Where Local(uint64_t field) {  // in the first local header
  return [=](const ZipWriter& zip, auto&) { return zip.LocalOffsets()[0] + field; };
}
Where Central(uint64_t field) {  // in the first central header
  return [=](const ZipWriter& zip, auto&) { return zip.DirectoryOffset() + field; };
}
Where End(uint64_t field) {  // in the end record (no comment)
  return [=](const ZipWriter&, const std::string& b) { return b.size() - 22 + field; };
}
// The archive of `build` behind a stub, which its offsets leave out.
Build Behind(const Build& build) {
  return With(build, [=](ZipWriter& zip) {
    zip.prefix = "MZ" + std::string(500, '\x90');
    zip.offsetsLeaveOutPrefix = true;
  });
}
// A stored Unix link entry `name` to `target` (its data), then `then`.
Build LinkThen(const std::string& name, const std::string& target, const std::string& then) {
  return Entries({{.name = name, .data = target, .method = kStored, .unixMode = 0120777},
                  {.name = then, .data = "attacker"}});
}
// existing.txt and fresh.txt, both "new" from `time`, over an older
// existing.txt in out/.
Build Existing(ZipTime time = {}) {
  return Entries({{.name = "existing.txt", .data = "new", .time = time},
                  {.name = "fresh.txt", .data = "new", .time = time}});
}
const Tree_t kOlder = {{"existing.txt", "old"}};
// Every kind of entry the library reads.
void Every(ZipWriter& zip) {
  zip.comment = "archive comment with PK\x05\x06 inside";
  zip.Add("stored.txt", "alpha\n", kStored).comment = "entry comment";
  zip.Add("deflated.txt", Text(5000));
  zip.Add("empty-stored", "", kStored);
  zip.Add("empty-deflated", "");
  zip.Add("top/", "", kStored);
  zip.Add("top/inner/", "", kStored).unixMode = 0040755;
  zip.Add("top/inner/c.package", Text(3000));
  zip.Add("x/y/implied.txt", "zed");
  zip.Add("lonely/", "", kStored);
  zip.Add("dd.txt", Text(9000)).dataDescriptor = true;
  zip.Add("dd.bin", Text(700), kStored).dataDescriptor = true;
  ZipEntry* e = &zip.Add("unsigned-dd.txt", Text(700));
  e->dataDescriptor = true, e->descriptorSignature = false;
  zip.Add("z64.txt", Text(4000)).zip64 = true;
  e = &zip.Add("z64-dd.bin", Text(999), kStored);
  e->zip64 = e->dataDescriptor = true;
  zip.Add("e1.txt", Text(3000)).password = "pw";
  zip.Add("e2.bin", Text(100), kStored).password = "pw";
  e = &zip.Add("e3.txt", "descriptor");
  e->password = "pw", e->dataDescriptor = true;
  // Bytes after the end of the deflate stream within the compressed size are
  // ignored: the entry is delivered when its size and CRC match.
  zip.Add("trailing.txt", Text(4000)).rawPayload = Deflate(Text(4000)) + "trailing bytes";
}

// Entries whose sizes, CRC or data lie, and good.txt.
const Build kDataThatLie = Entries(
    {{.name = "larger", .data = Text(3000), .size = 3001},
     {.name = "stored", .data = Text(3000), .method = kStored, .size = 100, .compressedSize = 100},
     {.name = "cut", .data = Text(3000), .compressedSize = 20},
     {.name = "garbage", .data = "x", .rawPayload = "\xff\xff no deflate"},
     {.name = "past", .data = Text(300), .rawPayload = Deflate(Text(300) + "more")},
     {.name = "good.txt", .data = "good"}});
void UnsupportedMethods(ZipWriter& zip) {
  for (int method : {9, 12, 14, 93, 95, 98, 6, 1, 3}) {
    zip.Add("m" + std::to_string(method), "data", static_cast<uint16_t>(method));
  }
  ZipEntry& aes = zip.Add("aes", Text(500), 99);
  aes.addFlags = 1;
  aes.extra = Le(0x9901, 2) + Le(7, 2) + Le(2, 2) + "AE\x03" + Le(kDeflated, 2);
  zip.Add("good.txt", "good");
}

TEST(Unzip32Extract, Archives) {
  const std::string packed = Deflate(Text(100));
  const Build junk = [](ZipWriter& zip) { zip.patch = [](std::string& b) { b += "junk"; }; };
  const Build zip64End = [](ZipWriter& zip) { zip.zip64End = true; };
  // clang-format off
  const Row rows[] = {
      {.name = "EveryKindOfEntry", .archive = Every, .MessageLevel = 2,
       .asked = "P:e1.txt", .says = {"creating: lonely/"}},
      // Quirks of real writers, read as other readers read them.
      {.name = "StubThatTheOffsetsLeaveOut", .archive = Behind(Every), .asked = "P:e1.txt"},
      // The ZIP64 end records' offsets leave out the stub as well.
      {.name = "StubThatTheOffsetsLeaveOutBeforeZip64", .archive = Behind(With(Every, zip64End)),
       .asked = "P:e1.txt"},
      {.name = "BytesAfterTheEndRecord", .archive = With(One(), junk)},
      {.name = "NoEntries", .archive = Entries({})},
      {.name = "DescriptorFlagInTheLocalHeaderOnly",
       .archive = Patch(One({.data = Text(3000), .dataDescriptor = true}), Central(8), Le(0, 2))},
      // A size that no deflate stream of this length can reach: a zip bomb's.
      {.name = "DeclaredSizeBeyondTheDeflateCeiling",
       .archive = One({.data = "x", .size = 1032 * packed.size() + 1, .rawPayload = packed}),
       .result = kFormat, .says = {"beyond"}},
      // One entry fails, the others are extracted; the first failure's code.
      {.name = "BadCrcOverAnOlderFile", .archive = One({.data = "new", .crc = 1}),
       .before = {{"f.txt", "old"}}, .result = kCrc,
       .out = Tree_t{{"f.txt", "old"}, {"good.txt", "good"}}},
      {.name = "DataThatLie", .archive = kDataThatLie, .result = kCrc, .out = kGood},
      // "wrong52" passes the check byte of f.txt (Text(5000) encrypted with
      // "right" behind our writer's fixed head), as about one in 256 wrong
      // passwords does: only the data can tell. Another head fails the row.
      {.name = "WrongPasswordPassingTheCheckByte",
       .archive = One({.data = Text(5000), .password = "right"}), .passwords = {"wrong52"},
       .result = kCrc, .asked = "P:f.txt", .says = {"wrong password?"}},
      {.name = "FolderThenFileOfTheSameName", .archive = Two("a/b/c", "a/b"), .result = kWrite,
       .out = Tree_t{{"a/b/c", "first"}}},
      // Each refused with 6 on its own; the data are never looked at.
      {.name = "UnsupportedMethods", .archive = UnsupportedMethods, .result = kUnsupported,
       .out = kGood, .says = {"Deflate64", "BZip2", "LZMA", "Zstandard", "XZ", "PPMd", "Imploded",
                              "Shrunk", "method 3", "AES"}},
      {.name = "ArchiveOnSeveralDisks", .archive = Patch(One(), End(4), Le(1, 2)),
       .result = kUnsupported, .out = kNothing},
      // Link entries are written as files holding the link text; a link
      // already in out/ is replaced or refused, never written through.
      {.name = "LinkUpwardsThenAFileThroughIt", .archive = LinkThen("ln", "..", "ln/x.txt"),
       .result = kWrite, .out = Tree_t{{"ln", ".."}}},
      {.name = "LinkToAFileOutsideThenTheFile", .archive = LinkThen("ln", "../outside.txt", "ln"),
       .result = kUnsafe, .out = Tree_t{{"ln", "../outside.txt"}}},
      {.name = "ExistingLinkToAFileIsReplaced", .archive = One(),
       .links = {{"f.txt", "outside.txt"}}},
      {.name = "ExistingLinkToAFolderIsNotFollowed", .archive = Two("link/x.txt", "b"),
       .links = {{"link", "outside"}}, .result = kWrite},
      // The first entry that maps onto a file claims it.
      {.name = "NamesDifferingInCase", .archive = Two("Dir/a.TXT", "dir/a.txt"),
       .result = kUnsafe, .out = Tree_t{{"Dir/a.TXT", "first"}}},
  };
  // clang-format on
  for (const Row& row : rows) Check(row);
}

// Damaged and hostile archives, refused as a whole: FORMAT, nothing written.
TEST(Unzip32Extract, HostileArchives) {
  // clang-format off
  const Build shareOneLocalRecord = [](ZipWriter& zip) {
    zip.Entry(1) = zip.Entry(0), zip.Entry(1).centralOffset = 0;
  };
  // As if the archive's first bytes were cut off: a negative shift.
  const Build directoryBehindItsPlace = [](ZipWriter& zip) {
    zip.patch = [&zip](std::string& b) {
      b.replace(b.size() - 6, 4, Le(zip.DirectoryOffset() + 40, 4));
    };
  };
  const Row rows[] = {
      // Central and local headers that disagree.
      {.name = "LocalNameDiffers", .archive = Patch(One(), Local(30), "g")},
      {.name = "LocalFlagsSayEncrypted", .archive = Patch(One(), Local(6), Le(1, 2))},
      {.name = "LocalCrcDiffers", .archive = Patch(One(), Local(14), Le(7, 4))},
      {.name = "LocalCompressedSizeDiffers", .archive = Patch(One(), Local(18), Le(7, 4))},
      {.name = "LocalSizeDiffers", .archive = Patch(One(), Local(22), Le(7, 4))},
      // Entries whose data overlap (zip bombs), or lie beyond their place.
      {.name = "TwoCentralEntriesShareOneLocalRecord",
       .archive = With(Two("f.txt", "f.txt"), shareOneLocalRecord), .says = {"overlap"}},
      {.name = "CompressedSizeBeyondTheFile",
       .archive = One({.data = "x", .compressedSize = 1u << 30})},
      // Behind a stub that the offsets leave out, the shift must not let
      // entries point past their archive.
      {.name = "ShiftedZip64OffsetWrapsAround",
       .archive = Behind(One({.data = "x", .centralOffset = ~0ull - 100}))},
      {.name = "DirectoryBehindItsPlace", .archive = With(One(), directoryBehindItsPlace)},
      // End records and extra fields that cannot fit.
      {.name = "EndRecordAlone",
       .archive = Patch(Entries({}), End(8), Le(1, 2) + Le(1, 2) + Le(46, 4))},
      {.name = "DirectorySizeBeyondTheFile", .archive = Patch(One(), End(12), Le(0x7FFFFFFFu, 4))},
      {.name = "Zip64ExtraFieldTooShortForItsOffset",
       .archive = Patch(One({.data = "x", .zip64 = true}), Central(53), Le(16, 2))},
      {.name = "Zip64ExtraFieldMissing",
       .archive = Patch(One({.data = "x", .zip64 = true}), Central(30), Le(0, 2)),
       .says = {"ZIP64 extra field missing"}},
      {.name = "ExtraRecordOverrunsItsField",
       .archive = One({.data = "x", .extra = Le(0x5455, 2) + Le(200, 2)})},
  };
  // clang-format on
  for (Row row : rows) {
    row.result = kFormat, row.out = kNothing;
    Check(row);
  }
}

// Each path holding "x" ("/" at the end: a folder), and good.txt.
Tree_t Files(std::vector<std::string> paths) {
  Tree_t tree;
  paths.push_back("good.txt");
  for (const std::string& path : paths) {
    tree[path.ends_with('/') ? path.substr(0, path.size() - 1) : path] =
        path.ends_with('/') ? "<folder>" : "x";
  }
  return tree;
}

// Entry names, extracted with folders kept and flat.
TEST(Unzip32Extract, EntryNames) {
  const Build kept = Named({"a/b/c.txt", "a\\b\\c2.txt", "a\\d/", "./a/.//b.txt", "./", ".hidden",
                            "console.txt", "com0"});
  const Build refused = Named({"", "..", "C:x", "a.txt:secret", "safe.txt\0../../x"s, "d\x1b[2J/x",
                               "a\x7f", "a.", "nul", "Com1.txt", "lpt9", "a*.txt", "a|b"});
  const Build flatOnly = Named({"../x1", "a\\..\\../x2", "/x3", "\\\\server\\share\\x4", "C:\\x5",
                                "a /x6", ".. /x7", "aux/x8", "a/com1\\x9", "../"});
  const Build mac = Named({"__MACOSX/", "__MACOSX/._good.txt", "__MACOSX/stairs/._oak.package",
                           "stairs\\__MACOSX\\._oak.package", "a/__MACOSX/", "__MACOSX/a:b",
                           "stairs/oak.package", "b/__MACOSX"});
  // clang-format off
  const Row rows[] = {
      {.name = "Kept", .archive = kept, .out = Files({"a/b/c.txt", "a/b/c2.txt", "a/d/", "a/b.txt",
                                                      ".hidden", "console.txt", "com0"})},
      {.name = "KeptFlat", .archive = kept, .HonorDirectories = 0,
       .out = Files({"c.txt", "c2.txt", "b.txt", ".hidden", "console.txt", "com0"})},
      {.name = "Refused", .archive = refused, .result = kUnsafe, .out = Files({})},
      {.name = "RefusedFlat", .archive = refused, .HonorDirectories = 0, .result = kUnsafe,
       .out = Files({})},
      // Only their folders are refused.
      {.name = "FlatOnly", .archive = flatOnly, .result = kUnsafe, .out = Files({})},
      {.name = "FlatOnlyFlat", .archive = flatOnly, .HonorDirectories = 0,
       .out = Files({"x1", "x2", "x3", "x4", "x5", "x6", "x7", "x8", "x9"})},
      {.name = "DotLast", .archive = Named({"a/."}), .out = Files({"a"})},
      {.name = "DotLastFlat", .archive = Named({"a/."}), .HonorDirectories = 0, .result = kUnsafe,
       .out = Files({})},
      // macOS's AppleDouble files, wherever their folder is; a file of that
      // name stays.
      {.name = "MacMetadataFolders", .archive = mac,
       .out = Files({"stairs/oak.package", "b/__MACOSX"})},
      {.name = "MacMetadataFoldersFlat", .archive = mac, .HonorDirectories = 0,
       .out = Files({"oak.package", "__MACOSX"})},
  };
  // clang-format on
  for (const Row& row : rows) Check(row);
}

TEST(Unzip32Extract, Options) {
  // clang-format off
  const Build texts = Entries({{.name = "my file.txt", .data = "a\nb\n", .internalAttributes = 1},
                               {.name = "sub dir/a b.txt", .data = "c\r\nd\re",
                                .internalAttributes = 1},
                               {.name = "bin ary.bin", .data = "x\ny\0z\n"s},
                               {.name = "one.txt", .data = "x", .internalAttributes = 1}});
  const Build pw = [](ZipWriter& zip) {
    zip.Add("one.txt", Text(3000)).password = "pw";
    zip.Add("two.txt", "two", kStored).password = "pw";
  };
  const Build names = Named({"a.txt", "B.TXT", "c.package", "dir/d.txt", "dir/e.package"}, false);
  const Build printed = [](ZipWriter& zip) {
    zip.comment = Text(33000);
    zip.Add("a.txt", Text(40000));
    zip.Add("c.bin", "beta", kStored).password = "pw";
  };
  const Build listed = Entries({{.name = "dir/deflated.txt", .data = Text(10000),
                                 .time = {2021, 12, 31, 23, 59, 58}, .crc = 0x12345678,
                                 .rawPayload = std::string(2500, 'x')},
                                {.name = "huge.bin", .data = "y", .method = kStored,
                                 .size = 5ull << 30}});
  const Tree_t kept = {{"existing.txt", "old"}, {"fresh.txt", "new"}};
  const std::string asked = "R:out/existing.txt", thrice = "P:one.txt P:one.txt P:one.txt";
  const Row rows[] = {
      // Files already there: replaced, kept or asked about.
      {.name = "Overwrite", .archive = Existing(), .before = kOlder, .PromptOverwrite = 1},
      {.name = "KeepExisting", .archive = Existing(), .before = kOlder, .MessageLevel = 2,
       .OverWriteFiles = 0, .out = kept, .says = {"skipping: existing.txt"}},
      {.name = "AskYes", .archive = Existing(), .before = kOlder, .PromptOverwrite = 1,
       .OverWriteFiles = 0, .replies = {UNZIP32_REPLACE_YES}, .asked = asked},
      {.name = "AskCancel", .archive = Existing(), .before = kOlder, .PromptOverwrite = 1,
       .OverWriteFiles = 0, .replies = {UNZIP32_REPLACE_CANCEL}, .result = kCancelled,
       .out = kOlder, .asked = asked},
      {.name = "AskWithoutACallback", .archive = Existing(), .before = kOlder,
       .PromptOverwrite = 1, .OverWriteFiles = 0, .callbacks = false, .out = kept},
      {.name = "NewerReplacesOlder", .archive = Existing(), .before = kOlder, .ExtractNewer = 1,
       .OverWriteFiles = 0},
      {.name = "NewerKeepsNewer", .archive = Existing({2019}), .before = kOlder, .ExtractNewer = 1,
       .out = kept},
      {.name = "OnlyNewerCreatesNothing", .archive = Existing(), .before = kOlder,
       .ExtractOnlyNewer = 1, .out = Tree_t{{"existing.txt", "new"}}},
      // Names and contents.
      {.name = "SpaceToUnderScoreAndConvertCRtoCRLF", .archive = texts, .SpaceToUnderScore = 1,
       .ConvertCRtoCRLF = 1,
       .out = Tree_t{{"my_file.txt", "a\r\nb\r\n"}, {"sub_dir/a_b.txt", "c\r\nd\r\ne"},
                     {"bin_ary.bin", "x\ny\0z\n"s}, {"one.txt", "x"}}},
      // Name lists.
      {.name = "IncludeWithCase", .archive = names, .CaseSensitive = 1, .include = {"*.txt"},
       .out = Tree_t{{"a.txt", "x"}, {"dir/d.txt", "x"}}},
      {.name = "IncludeThenExclude", .archive = names, .include = {"dir/*"},
       .exclude = {"*.package"}, .out = Tree_t{{"dir/d.txt", "x"}}},
      {.name = "StarBacktracks", .archive = Two("axb.txt", "xaab.txt"), .include = {"*ab.txt"},
       .out = Tree_t{{"xaab.txt", "second"}}},
      {.name = "NothingIncluded", .archive = names, .include = {"*.exe"},
       .result = UNZIP32_ERR_NO_MATCH, .out = kNothing},
      // Passwords: asked for the first entry that needs one, kept, asked
      // again when wrong, at most three times per entry.
      {.name = "WrongTwiceThenRight", .archive = pw, .passwords = {"a", "b", "pw"},
       .asked = thrice, .says = {"incorrect password"}},
      {.name = "WrongThreeTimesThenRightForTheNext", .archive = pw,
       .passwords = {"a", "b", "c", "pw"}, .result = kPassword, .out = Tree_t{{"two.txt", "two"}},
       .asked = thrice + " P:two.txt"},
      {.name = "NoPasswordCallback", .archive = pw, .callbacks = false, .result = kPassword,
       .out = kNothing},
      // Modes that write no file.
      {.name = "TestZip", .archive = Every, .MessageLevel = 2, .TestZip = 1, .out = kNothing,
       .asked = "P:e1.txt", .says = {"testing: deflated.txt   OK", "testing: e2.bin   OK"}},
      {.name = "WriteToStdOut", .archive = printed, .MessageLevel = 0, .WriteToStdOut = 1,
       .DisplayComment = 1, .passwords = {"wrong", "pw"}, .out = kNothing,
       .asked = "P:c.bin P:c.bin", .says = {Text(33000) + "\n" + Text(40000) + "beta"}},
      {.name = "ExtractList", .archive = listed, .ExtractList = 1, .out = kNothing,
       .asked = "L:dir/deflated.txt:10000:2500:750:2021-12-31:2359:0:Deflated:12345678:0 "
                "L:huge.bin:4294967295:1:1000:2021-06-15:1230:1:Stored:fbdb2615:0"},
      // Messages.
      {.name = "SilentOnFailure", .archive = One({.data = "x", .crc = 3}), .MessageLevel = 0,
       .result = kCrc, .silent = true},
      {.name = "Verbose", .archive = Every, .MessageLevel = 2, .Verbose = 1,
       .asked = "P:e1.txt", .says = {"18 entries, central directory of ",
                                     "e2.bin: 100 bytes, 112 compressed, method 0, encrypted"}},
      // Stopped at the second entry: neither it nor the third is written.
      {.name = "ServiceCancels", .archive = Named({"a.txt", "b.txt", "c.txt"}, false),
       .cancelAt = 1, .result = kCancelled, .out = Tree_t{{"a.txt", "x"}}, .says = {"cancelled"}},
  };
  // clang-format on
  for (const Row& row : rows) Check(row);
}

// Calls that are refused before any archive is read, and extraction folders
// of every spelling, created with their parents.
TEST(Unzip32Extract, CallsAndFolders) {
  TempDir dir;
  ZipWriter zip;
  zip.Add("d/f.txt", "f");
  dir.Write("a.zip", zip.Build());
  dir.Write("file", "");
  const std::string archive = dir.Join("a.zip");
  EXPECT_EQ(Wiz_SingleEntryUnzip(0, nullptr, 0, nullptr, nullptr, nullptr), UNZIP32_ERR_PARAMETER);
  EXPECT_EQ(UnzipRun("", dir.Join("out"))(), UNZIP32_ERR_PARAMETER);
  EXPECT_EQ(UnzipRun(archive, "")(), UNZIP32_ERR_PARAMETER);
  EXPECT_EQ(UnzipRun(dir.Join("missing.zip"), dir.Join("out"))(), UNZIP32_ERR_OPEN);
  Recorded() = {};
  EXPECT_EQ(UnzipRun(dir.Path(), dir.Join("out"))(), UNZIP32_ERR_OPEN) << "a folder is no archive";
  EXPECT_NE(Recorded().printed.find(dir.Path()), std::string::npos)
      << "unnamed: " << Recorded().printed;
  Recorded() = {};
  EXPECT_EQ(UnzipRun(archive, dir.Join("file/x"))(), UNZIP32_ERR_WRITE);
  EXPECT_NE(Recorded().printed.find(dir.Join("file")), std::string::npos) << Recorded().printed;
  EXPECT_EQ(Tree(dir.Path()), (Tree_t{{"a.zip", zip.Build()}, {"file", ""}}));
  UnzipRun full(archive, dir.Join("full"));
  full.include.assign(100, "d/*");  // as many patterns as a list holds
  EXPECT_EQ(full(), UNZIP32_OK);
  for (const char* folder : {"out", "out/", "new/deeper", "new/deeper", "x\\y"}) {
    EXPECT_EQ(UnzipRun(archive, dir.Join(folder))(), UNZIP32_OK) << folder;
    EXPECT_EQ(Tree(dir.Join(folder), true), (Tree_t{{"d/f.txt", "f"}})) << folder;
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
