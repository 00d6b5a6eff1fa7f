#include "support/InstallerOutcomes.h"

#include <gmock/gmock.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <random>
#include <regex>
#include <set>

#include "support/TempDir.h"
#include "support/ZipWriter.h"

namespace qv::test::e2e {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;
using ::testing::AnyOf;

namespace {

const std::string kSecret = "oak&ash 42";
const std::string kReadMe =
    "# Oak stairs\r\nmodularStairs 42\r\nobjectID 7001\r\ncatalogTextIndex 3\r\n";
const std::string kAlready = "Modular stairs already installed. Do you wish to replace it?";
const Box kSuccess{kSucceeded};
const Box kFinal{"An error has occurred while trying to install the modular stairs.", kStop};
const Box kNotDownloaded{"Unable to download file.", kStop};
const Names kAb = {"A.package", "B.package"};
const Names kAbc = {"A.package", "B.package", "C.package", "ReadMe.txt"};

std::string Package(const std::string& name) {
  return "DBPF package " + name + std::string(4096, 'p');
}

// The names in `folder`, sorted (none when it is missing); those that
// begin with `head` only.
Names List(const std::string& folder, const std::string& head = "") {
  Names names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(PathOf(folder), ec))
    if (const std::string name = entry.path().filename().string(); name.starts_with(head))
      names.push_back(name);
  std::sort(names.begin(), names.end());
  return names;
}

// How many whole merges of the busy runs' read-mes follow `before` in
// `after`; -1 when anything else does.
int WholeMerges(const std::string& before, const std::string& after) {
  static const std::regex kMerges(
      "(\r\n# Set \\d+\r\nmodularStairs \\d+\r\nobjectID \\d+\r\ncatalogTextIndex \\d+\r\n)*");
  const std::string merged = after.substr(std::min(before.size(), after.size()));
  if (!after.starts_with(before) || !std::regex_match(merged, kMerges)) return -1;
  return static_cast<int>(std::count(merged.begin(), merged.end(), '#'));
}

// How often `text` holds `part`.
std::ptrdiff_t Occurrences(const std::string& text, const std::string& part) {
  std::ptrdiff_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// No stair id twice: every merge drew a fresh one, however the runs met.
bool NoStairIdTwice(const std::string& catalog) {
  static const std::regex kId("modularStairs \\d+");
  std::set<std::string> ids;
  for (std::sregex_iterator at(catalog.begin(), catalog.end(), kId), end; at != end; ++at)
    if (!ids.insert(at->str()).second) return false;
  return true;
}

}  // namespace

fs::path PathOf(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(PathOf(path), std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

void WriteAll(const std::string& path, const std::string& content) {
  fs::create_directories(PathOf(path).parent_path());
  std::ofstream(PathOf(path), std::ios::binary) << content;
}

// A creator's read-me as published, and the lines that it adds to kCatalog.
constexpr char kCreatorsReadMe[] =
    "#Chic Modular Open Stairs\r\n\r\ncatalogTextResource QV_ChicStairsMAIN_Open 139\r\n\r\n"
    "modularStairs 4000\r\nobjectID landing     0x00639D13\r\nobjectID placeholder 0x00639D12\r\n"
    "objectID step        0x00639D14\r\nobjectID topStep     0x00639D11\r\n"
    "objectID bottomStep  0x00639D0F\r\ncatalogTextIndex 0\r\n";
constexpr char kCreatorsLines[] =
    "\r\n#Chic Modular Open Stairs\r\ncatalogTextResource QV_ChicStairsMAIN_Open 139\r\n"
    "modularStairs 4000\r\nobjectID landing     0x00639D13\r\nobjectID placeholder 0x00639D12\r\n"
    "objectID step        0x00639D14\r\nobjectID topStep     0x00639D11\r\n"
    "objectID bottomStep  0x00639D0F\r\ncatalogTextIndex 0\r\n";
constexpr char kOakLines[] =
    "\r\n# Oak stairs\r\nmodularStairs 42\r\nobjectID 7001\r\ncatalogTextIndex 3\r\n";

// `text` (ASCII and Latin-1 only) as Notepad saves "Unicode": UTF-16LE with its mark.
std::string Utf16(const std::string& latin1) {
  std::string out = "\xFF\xFE";
  for (const char c : latin1) out += {c, '\0'};
  return out;
}

// A catalog in which every stair id from 0 to 999 is taken.
std::string EveryDrawableIdTaken() {
  std::string catalog = kCatalog;
  for (int id = 0; id < 1000; ++id) catalog += "modularStairs " + std::to_string(id) + "\r\n";
  return catalog;
}

const Edition kUltimate = {.displayName = "The Sims\u2122 2 Ultimate Collection",
                           .userFolder = "The Sims\u2122 2 Ultimate Collection",
                           .base = "Double Deluxe\\Base",
                           .trailingSeparator = false,
                           .programFiles = true};
const Edition kLegacy = {.keys = Keys::kLegacyPacks,
                         .displayName = "The Sims 2 Legacy",
                         .userFolder = "The Sims 2 Legacy",
                         .base = "Base"};
const Box kNotChanged = {"The catalog script could not be changed:", kStop, kOk, "", true};

// clang-format off
const std::vector<Row> kRows = {
  {.name = "PackagesCopiedFlatAndReadMeMerged",
   .entries = {"Stairs/Oak.package", "deep/er/Railing.package", "x/ReadMe.txt"},
   .copied = {"Oak.package", "Railing.package"}},
  {.name = "NothingListening", .arguments = "\"pavix://127.0.0.1:1/a.zip\"", .boxes = {kNotDownloaded, kFinal},
   .exitCode = 1, .copied = {}, .merged = false},
  {.name = "DamagedArchive", .boxes = {kFinal}, .exitCode = 1, .copied = {}, .merged = false, .twist = kDamaged},
  {.name = "NoReadMe", .entries = {"Stairs/A.package", "Stairs/B.package"},
   .boxes = {{"Read me not found.", kStop}, kFinal}, .exitCode = 1, .copied = kAb, .merged = false},
  {.name = "NoPackage", .entries = {"Stairs/ReadMe.txt"}, .boxes = {{"Package file not found.", kStop}, kFinal},
   .exitCode = 1, .copied = {}, .merged = false},
  {.name = "ExistingPackageAnsweredNo", .entries = kAbc, .boxes = {{kAlready, kQuestion, kNo}, kFinal},
   .exitCode = 1, .copied = {"A.package"}, .before = {"B.package"}, .merged = false},
  {.name = "ExistingPackageAnsweredYes", .entries = kAbc, .boxes = {{kAlready, kQuestion, kYes}, kSuccess},
   .copied = kAb, .before = {"B.package"}, .merged = false},
  {.name = "PasswordTyped", .boxes = {{"Please Enter The Password!", kInputBox, kOk, kSecret}, kSuccess},
   .twist = kPassword},
  {.name = "NamesThatClimbOutLandFlat",
   .entries = {"../../../../a.package", "..\\..\\b.package", "/tmp/c.package", "ReadMe.txt"},
   .copied = {"a.package", "b.package", "c.package"}},
  {.name = "RunsTogetherThenKilledRunsLeaveWholeFilesAndTheNextRunCleansUp", .kills = 12},

  // Each edition and layout as players have it: the packages go to the
  // edition's own Downloads folder, the read-me into its base game's catalog.
  {.name = "UltimateCollection", .edition = kUltimate, .appended = kOakLines},
  {.name = "UltimateCollectionRepackedWithoutTheSign",
   .edition = {.displayName = "The Sims 2 Ultimate Collection", .userFolder = "The Sims 2 Ultimate Collection",
               .base = "Double Deluxe\\Base"}},
  {.name = "GermanDiscEdition", .edition = {.displayName = "Die Sims 2", .userFolder = "Die Sims 2"}},
  {.name = "LegacyCollectionOnSteam", .edition = kLegacy, .appended = kOakLines},
  {.name = "LegacyCollectionInGerman",
   .edition = {.keys = Keys::kLegacyPacks, .displayName = "Die Sims 2 Verm\u00e4chtnis",
               .userFolder = "Die Sims 2 Verm\u00e4chtnis", .base = "Base"}},
  {.name = "LegacyCollectionFromTheEaApp",
   .edition = {.keys = Keys::kLegacyMaxis, .userFolder = "The Sims 2 Legacy", .base = "Base"}},
  {.name = "LegacyCollectionFromSteamsUninstallEntry",
   .edition = {.keys = Keys::kLegacySteam, .userFolder = "The Sims 2 Legacy", .base = "Base",
               .trailingSeparator = false}},
  // Players are told to make the Downloads folder by hand; many do not.
  {.name = "NoDownloadsFolderIsMade", .twist = kNoDownloads, .edition = kUltimate},
  // What cannot end in stairs in the game ends without the success message,
  // and copies nothing where that is known beforehand.
  {.name = "NoGame", .boxes = {{"The Sims 2 was not found. The installer looked in ", kStop, kOk, "", true}, kFinal},
   .exitCode = 1, .copied = {}, .merged = false, .edition = {.keys = Keys::kNone}},
  {.name = "NoCatalogScript",
   .boxes = {{"The catalog script of The Sims 2 Legacy Collection was not found. It was looked for at:",
              kStop, kOk, "", true}, kFinal},
   .exitCode = 1, .copied = {}, .merged = false, .twist = kNoScript, .edition = kLegacy},
  {.name = "CatalogScriptDenied", .boxes = {kNotChanged, kFinal}, .exitCode = 1, .merged = false,
   .twist = kDeniedWrite, .edition = kUltimate, .elevations = 1, .because = "Even with an administrator's rights"},
  // Below Program Files only an administrator may change the catalog: one
  // copy of the installer with those rights merges every read-me refused.
  {.name = "CatalogScriptMergedWithRights", .entries = {"Oak.package", "ReadMe.txt", "More/ReadMe2.txt"},
   .twist = kRefusedWithoutRights, .edition = kUltimate, .elevations = 1},
  {.name = "RightsNotGiven", .boxes = {kNotChanged, kFinal}, .exitCode = 1, .merged = false, .twist = kDeclined,
   .edition = kUltimate, .because = "they were not given"},
  // What an administrator could not change either is told without asking.
  {.name = "ReadOnlyCatalogScript", .boxes = {kNotChanged, kFinal}, .exitCode = 1, .merged = false,
   .twist = kReadOnlyScript, .edition = kUltimate, .because = "is read-only"},
  {.name = "CatalogScriptInUse", .boxes = {kNotChanged, kFinal}, .exitCode = 1, .merged = false,
   .twist = kScriptInUse, .edition = kUltimate, .because = "perhaps the game: close it"},
  // No link reaches the copy's command line: the system hands a link over
  // in quotes, and what carries the copy's token goes the download way.
  {.name = "LinkCarryingTheCopysToken", .arguments = "\"pavix://{}?/quorvane-elevated-merge\""},
  {.name = "CopysTokenInQuotes", .arguments = "\"/quorvane-elevated-merge\" \"C:\\ReadMe.txt\"",
   .boxes = {kNotDownloaded, kFinal}, .exitCode = 1, .copied = {}, .merged = false},
  // Read-mes as creators publish them and as editors save them.
  {.name = "CreatorsReadMe", .readMe = kCreatorsReadMe, .appended = kCreatorsLines},
  {.name = "CreatorsReadMeWithAUtf8Mark", .readMe = std::string("\xEF\xBB\xBF") + kCreatorsReadMe,
   .appended = kCreatorsLines},
  {.name = "CreatorsReadMeInUtf16", .readMe = Utf16("# Escalier \xE9l\xE9gant\r\n") + Utf16(kCreatorsReadMe).substr(2),
   .appended = std::string("\r\n# Escalier \xE9l\xE9gant\r\n") + (kCreatorsLines + 2)},
  {.name = "EveryDrawableIdTaken", .readMe = "modularStairs 5\r\nobjectID 9\r\n", .catalog = EveryDrawableIdTaken(),
   .appended = "modularStairs 1000\r\nobjectID 9\r\n"},
};

// clang-format on

void CheckBusy(Machine& m, const Row& row);

void Check(Machine& m, const Row& row) {
  m.Record(row.edition);
  if (row.kills > 0) return CheckBusy(m, row);
  ZipWriter zip;
  for (const std::string& entry : row.entries) {
    const bool package = entry.ends_with(".package");
    const std::string readMe = row.readMe.empty() ? kReadMe : row.readMe;
    zip.Add(entry, package ? Package(entry.substr(entry.find_last_of("/\\") + 1)) : readMe)
        .password = package && row.twist == kPassword ? kSecret : "";
  }
  std::string archive = zip.Build();
  if (row.twist == kDamaged) archive.resize(archive.size() - 30);  // no central directory's end
  std::string arguments = row.arguments;
  if (const size_t at = arguments.find("{}"); at != std::string::npos)
    arguments.replace(at, 2, m.Serve(std::string(row.name) + ".zip", archive, false));
  for (const auto& name : row.before) WriteAll(m.downloads + "/" + name, "old");
  if (row.twist == kNoDownloads) fs::remove_all(PathOf(m.downloads).parent_path());
  if (!row.catalog.empty()) WriteAll(m.script, row.catalog);
  if (row.twist == kNoScript) fs::remove(PathOf(m.script));
  const std::string catalog = ReadAll(m.script);

  // Where no copy with more rights can be started, a write refused for lack
  // of them ends the run as a denied one does.
  const bool refusedForGood = row.twist == kRefusedWithoutRights && !m.elevates;
  const std::vector<Box> boxes = refusedForGood ? std::vector<Box>{kNotChanged, kFinal} : row.boxes;
  const bool merged = row.merged && !refusedForGood;
  std::string faults;
  if (row.twist == kRefusedWithoutRights || row.twist == kDeclined)
    faults = "replace 70 modularstairs.txt";
  if (row.twist == kDeclined) faults += ";elevate 70 *";
  if (row.twist == kScriptInUse) faults = "replace 55 modularstairs.txt";
  Ended ended;
  {
    std::optional<ScopedImmutable> denied;
    if (row.twist == kDeniedWrite) denied.emplace(m.script);
    const bool readOnly = row.twist == kReadOnlyScript;
    if (readOnly)
      fs::permissions(PathOf(m.script), fs::perms::owner_write, fs::perm_options::remove);
    ended = m.Start({{arguments, boxes, {}, faults}}).at(0);
    if (readOnly) fs::permissions(PathOf(m.script), fs::perms::owner_write, fs::perm_options::add);
  }

  EXPECT_EQ(ended.exitCode, refusedForGood ? 1 : row.exitCode);
  if (m.elevates) {
    EXPECT_EQ(ended.elevations, row.elevations) << "copies started with an administrator's rights";
    if (!row.because.empty() && !ended.boxes.empty()) {
      EXPECT_THAT(ended.boxes[0].text, ::testing::HasSubstr(row.because));
    }
  }
  std::vector<Box> expected = boxes;
  for (Box& box : expected) box.flags &= box.flags == kInputBox ? ~0 : m.shown;
  for (size_t i = 0; i < expected.size() && i < ended.boxes.size(); ++i)
    if (expected[i].head)
      ended.boxes[i].text.resize(std::min(ended.boxes[i].text.size(), expected[i].text.size()));
  EXPECT_EQ(ended.boxes, expected);
  std::map<std::string, std::string> installed;
  for (const auto& name : row.before) installed[name] = "old";
  for (const auto& name : row.copied) installed[name] = Package(name);
  for (const auto& [name, data] : installed) EXPECT_EQ(ReadAll(m.downloads + "/" + name), data);
  EXPECT_EQ(List(m.downloads).size(), installed.size());
  const std::string script = ReadAll(m.script);
  EXPECT_THAT(script, ::testing::StartsWith(catalog));
  if (!merged) {
    EXPECT_EQ(script, catalog) << "the catalog script changed";
  } else if (!row.appended.empty()) {
    EXPECT_EQ(script, catalog + row.appended);
  }
  // The read-me's lines after its stair line (whose id a second read-me
  // cannot keep): each read-me merged once, or none.
  if (row.readMe.empty()) {
    const auto readMes = std::count_if(row.entries.begin(), row.entries.end(),
                                       [](const auto& entry) { return entry.ends_with(".txt"); });
    EXPECT_EQ(Occurrences(script, kReadMe.substr(kReadMe.find("objectID"))), merged ? readMes : 0)
        << "read-mes merged";
  }
  EXPECT_EQ(List(m.temp), Names{}) << "left in the temporary folder";
}

// Runs started at once, one after another as they share a temporary folder,
// install everything. Runs killed at seeded moments spread over a run's time
// leave every installed package whole and the catalog script the old one
// followed by whole merges. A complete run leaves no temporary file anywhere
// (what killed runs left included), and names that only look like one alone.
void CheckBusy(Machine& m, const Row& row) {
  const int runs = 4, readMes = 20;
  std::string catalog;
  for (int line = 0; line < 5000; ++line)
    catalog += (line % 50 ? "objectID " : "modularStairs ") + std::to_string(line) + "\r\n";
  WriteAll(m.script, catalog);
  std::map<std::string, std::string> packages;
  std::vector<Launch> launches;
  for (int n = 0; n < runs; ++n) {
    const std::string set = "Set" + std::to_string(n);
    ZipWriter zip;
    for (const std::string& name : {set + "a.package", set + "b.package", set + "c.package"}) {
      (packages[name] = Package(name)).resize(1 << 20, 'p');
      zip.Add("Stairs/" + name, packages[name], kStored);
    }
    // Each read-me takes the catalog's stair id 0, so every merge draws one.
    for (int i = 0; i < readMes; ++i) {
      const std::string id = std::to_string(9000 + n * 100 + i);
      zip.Add("Stairs/ReadMe" + id + ".txt", "# Set " + id + "\r\nmodularStairs 0\r\nobjectID " +
                                                 id + "\r\ncatalogTextIndex " + id + "\r\n");
    }
    launches.push_back(
        {"\"pavix://" + m.Serve(set + ".zip", zip.Build(), true) + "\"", {kSuccess}});
  }
  const std::string places[] = {m.temp, m.downloads, fs::path(m.script).parent_path().string()};
  for (const auto& place : places) {
    WriteAll(place + "/" + m.leftover, "half");
    WriteAll(place + "/" + m.lookAlike, "mine");
  }
  const auto started = std::chrono::steady_clock::now();
  for (const Ended& ended : m.Start(launches))
    EXPECT_TRUE(ended.exitCode == 0 && ended.boxes.size() == 1 &&
                ended.boxes[0].text == kSuccess.text)
        << ended.exitCode << ", " << ended.boxes.size() << " boxes";
  const auto spread =
      (std::chrono::steady_clock::now() - started) / std::chrono::milliseconds(runs);
  EXPECT_EQ(WholeMerges(catalog, ReadAll(m.script)), runs * readMes);
  // Seeded, so that every run of the test kills at the same spread of moments.
  std::mt19937 random(20240609);
  std::uniform_int_distribution<decltype(spread)> killAfter(1, spread + spread / 5);
  for (int kill = 0; kill <= row.kills; ++kill) {
    // The first run's packages go; the other runs' stay.
    for (const char* x : {"a", "b", "c"}) fs::remove(m.downloads + "/Set0" + x + ".package");
    catalog = ReadAll(m.script);
    const std::chrono::milliseconds after(kill < row.kills ? killAfter(random) : 0);
    const Ended ended = m.Start({{launches[0].arguments, {kSuccess}, after}}).at(0);
    for (const auto& [name, data] : packages)
      EXPECT_THAT(ReadAll(m.downloads + "/" + name), AnyOf(data, "<missing>")) << kill;
    const int merges = WholeMerges(catalog, ReadAll(m.script));
    EXPECT_TRUE(kill < row.kills ? merges >= 0 : merges == readMes && ended.exitCode == 0)
        << merges << " merges, kill " << kill;
  }
  for (const auto& [name, data] : packages) EXPECT_EQ(ReadAll(m.downloads + "/" + name), data);
  EXPECT_TRUE(NoStairIdTwice(ReadAll(m.script)));
  EXPECT_EQ(List(m.temp), Names{m.lookAlike});
  EXPECT_EQ(List(m.downloads, ".qv-"), Names{m.lookAlike});
  EXPECT_EQ(List(places[2]), (Names{m.lookAlike, "modularstairs.txt", "modularstairs.txt.lock"}));
}

}  // namespace qv::test::e2e
