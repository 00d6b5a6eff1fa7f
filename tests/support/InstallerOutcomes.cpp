#include "support/InstallerOutcomes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>

#include "support/ZipWriter.h"

namespace qv::test::e2e {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

namespace {

constexpr char kUnable[] = "Unable to download file.";
constexpr char kAlready[] = "Modular stairs already installed. Do you wish to replace it?";
constexpr char kSucceeded[] = "Modular stairs successfully installed.";
constexpr char kFailed[] = "An error has occurred while trying to install the modular stairs.";
constexpr char kSecret[] = "oak&ash 42";
constexpr char kReadMe[] =
    "# Oak stairs\r\nmodularStairs 42\r\nobjectID 7001\r\ncatalogTextIndex 3\r\n";
constexpr char kMerged[] = "\r\nmodularStairs 42\r\nobjectID 7001\r\ncatalogTextIndex 3\r\n";
constexpr char kAddress[] = "\"pavix://{}\"";
const Box kSuccess{kSucceeded};
const Box kFinal{kFailed, kStop};
const Box kNoDownload{kUnable, kStop};
const Names kOak = {"Stairs/Oak.package", "Stairs/ReadMe.txt"};
const Names kAbc = {"Stairs/A.package", "Stairs/B.package", "Stairs/C.package",
                    "Stairs/ReadMe.txt"};

std::string Package(const std::string& name) {
  return "DBPF package " + name + std::string(4096, 'p');
}

// The names in `folder`, sorted (none when it is missing); those that
// begin with `head` only.
Names List(const fs::path& folder, const std::string& head = "") {
  Names names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(head, 0) == 0) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// How many whole merges of SetReadMe()s follow `before` in `after`; -1 when
// anything else does.
int WholeMerges(const std::string& before, const std::string& after) {
  if (after.compare(0, before.size(), before) != 0) return -1;
  const char* const heads[] = {"\r", "# Set ", "modularStairs ", "objectID ", "catalogTextIndex "};
  std::istringstream lines(after.substr(before.size()));
  int n = 0;
  for (std::string line; std::getline(lines, line); ++n) {
    if (line.rfind(heads[n % 5], 0) != 0 || !line.ends_with('\r') || (n % 5 == 0 && line != "\r"))
      return -1;
  }
  return n % 5 == 0 && lines.eof() ? n / 5 : -1;
}

// No stair id twice; with `objects`, no object line twice either (no
// read-me merged twice).
bool Has(const Names& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool NoIdTwice(const std::string& catalog, bool objects = false) {
  std::istringstream lines(catalog);
  std::set<std::string> ids;
  for (std::string line; std::getline(lines, line);) {
    const bool id =
        line.rfind("modularStairs ", 0) == 0 || (objects && line.rfind("objectID ", 0) == 0);
    if (id && !ids.insert(line).second) return false;
  }
  return true;
}

}  // namespace

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
}

void WriteAll(const std::string& path, const std::string& content) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << content;
}

std::ostream& operator<<(std::ostream& out, const Box& box) {
  return out << "{\"" << box.text << "\", " << box.flags << "}";
}

// clang-format off
const std::vector<Row> kRows = {
  // name, archive, argument text, boxes, exit code; then copied, installed before, merged, twist
  {"NothingOnTheCommandLineDoesNothing", kOak, "", {}, 3},
  {"PackagesCopiedFlatAndReadMeMerged", {"Stairs/Oak.package", "deep/er/Railing.package", "x/ReadMe.txt"},
   kAddress, {kSuccess}, 0, {"Oak.package", "Railing.package"}, {}, true},
  {"QuotesAnywhereAreRemoved", kOak, "\"pa\"vix://{}\"", {kSuccess}, 0, {"Oak.package"}, {}, true},
  {"OnlyTwoQuotesFailTheDownload", kOak, "\"\"", {kNoDownload, kFinal}, 1},
  {"UpperCaseSchemeIsNotRewritten", kOak, "\"PAVIX://{}\"", {kNoDownload, kFinal}, 1},
  {"NothingListening", kOak, "\"pavix://127.0.0.1:1/a.zip\"", {kNoDownload, kFinal}, 1},
  {"DamagedArchive", kOak, kAddress, {kFinal}, 1, {}, {}, false, kDamaged},
  {"NoPackage", {"Stairs/ReadMe.txt"}, kAddress, {{"Package file not found.", kStop}, kFinal}, 1},
  {"NoReadMeAfterThePackages", {"Stairs/A.package", "Stairs/B.package"}, kAddress,
   {{"Read me not found.", kStop}, kFinal}, 1, {"A.package", "B.package"}},
  {"ExistingPackageAnsweredNoStopsBeforeIt", kAbc, kAddress,
   {{kAlready, kQuestion, kNo}, kFinal}, 1, {"A.package"}, {"B.package"}},
  {"ExistingPackageAnsweredYesIsReplacedAndEndsTheRun", kAbc, kAddress,
   {{kAlready, kQuestion, kYes}, kSuccess}, 0, {"A.package", "B.package"}, {"B.package"}},
  {"PasswordTypedIntoTheInputBox", kOak, kAddress,
   {{"Please Enter The Password!", kInputBox, kOk, kSecret}, kSuccess}, 0, {"Oak.package"}, {}, true,
   kPassword},
  {"NamesThatClimbOutLandFlat",
   {"../../../../evil.package", "..\\..\\evil2.package", "/tmp/evil3.package", "Oak.package", "ReadMe.txt"},
   kAddress, {kSuccess}, 0, {"Oak.package", "evil.package", "evil2.package", "evil3.package"}, {}, true},
  {"MissingCatalogScriptIsNoError", kOak, kAddress, {kSuccess}, 0, {"Oak.package"}, {}, false, kNoCatalog},
  {"MissingDownloadsFolderStopsTheRun", kOak, kAddress, {{"Run-time error '76':", kStop}}, 2, {}, {}, false,
   kNoDownloads},
};

const std::vector<Busy> kBusyRows = {
  {"LinksClickedTogetherRunOneAfterAnother", 4, false, 0},
  {"RunsWithTemporaryFoldersOfTheirOwnOnlyMergeOneAtATime", 4, true, 0},
  {"KilledRunsLeaveWholeFilesAndTheNextRunCleansUp", 1, false, 12},
};
// clang-format on

void Check(Machine& m, const Row& row) {
  ZipWriter zip;
  for (const std::string& entry : row.entries) {
    const bool package = entry.ends_with(".package");
    zip.Add(entry, package ? Package(entry.substr(entry.find_last_of("/\\") + 1)) : kReadMe)
        .password = package && row.twist == kPassword ? kSecret : "";
  }
  std::string archive = zip.Build();
  if (row.twist == kDamaged) archive.resize(archive.size() - 30);  // no central directory's end
  std::string arguments = row.arguments;
  if (const size_t at = arguments.find("{}"); at != std::string::npos)
    arguments.replace(at, 2, m.Serve(std::string(row.name) + ".zip", archive, false));
  for (const auto& name : row.before) WriteAll(m.downloads + "/" + name, "old");
  if (row.twist == kNoCatalog) fs::remove(m.script);
  if (row.twist == kNoDownloads) fs::remove_all(m.downloads);
  const std::string catalog = ReadAll(m.script);

  Ended ended = m.Start({{arguments, row.boxes}}).at(0);

  EXPECT_EQ(ended.exitCode, row.exitCode);
  std::vector<Box> expected = row.boxes;
  for (Box& box : expected) box.flags &= box.flags == kInputBox ? ~0 : m.shown;
  if (row.exitCode == 2 && !ended.boxes.empty())
    ended.boxes[0].text.resize(expected[0].text.size());
  EXPECT_EQ(ended.boxes, expected);
  Names installed = row.copied;
  for (const auto& name : row.before)
    if (!Has(row.copied, name)) installed.push_back(name);
  std::sort(installed.begin(), installed.end());
  EXPECT_EQ(List(m.downloads), installed);
  for (const auto& name : installed)
    EXPECT_EQ(ReadAll(m.downloads + "/" + name), Has(row.copied, name) ? Package(name) : "old");
  const std::string after = ReadAll(m.script);
  EXPECT_EQ(after.substr(0, catalog.size()), catalog);
  EXPECT_EQ(after.size() > catalog.size(), row.merged) << "a read-me merged or not";
  EXPECT_EQ(after.find(kMerged, catalog.size()) != std::string::npos, row.merged) << after;
  // The merge makes its lock file beside the script, and nothing beside a
  // missing one.
  Names scriptFolder = {"modularstairs.txt", "modularstairs.txt.lock"};
  scriptFolder.resize(row.twist == kNoCatalog ? 0 : row.merged ? 2 : 1);
  EXPECT_EQ(List(fs::path(m.script).parent_path()), scriptFolder);
  // An error that stops the run skips the clean-up.
  const Names left = {"DownloadedFiles", "DownloadedZIP.zip"};
  EXPECT_EQ(List(m.temp), row.exitCode == 2 ? left : Names{});
}

// Every run started at once installs everything, one after another or with
// only the merges waiting for each other. Runs killed at seeded moments
// spread over a run's time leave every installed package whole and the
// catalog script the old one followed by whole merges. The next complete
// run leaves no temporary file anywhere (what killed runs left included)
// and names that only look like one alone.
void Check(Machine& m, const Busy& row) {
  constexpr unsigned kSeed = 20240609;
  const int readMes = row.kills > 0 ? 20 : 2;
  const std::string places[] = {m.Temp(row.ownTemp ? 0 : -1), m.downloads,
                                fs::path(m.script).parent_path().string()};
  std::string catalog;
  for (int line = 0; line < 5000; ++line)
    catalog += (line % 50 ? "objectID " : "modularStairs ") + std::to_string(line) + "\r\n";
  WriteAll(m.script, catalog);
  std::mt19937 random(kSeed);
  std::vector<std::pair<std::string, std::string>> packages;
  std::vector<Launch> launches;
  for (int n = 0; n < row.runs; ++n) {
    ZipWriter zip;
    for (const char* part : {"a", "b", "c"}) {
      const std::string name = "Set" + std::to_string(n) + part + ".package";
      std::string data = Package(name);
      data.resize(row.kills > 0 ? 1 << 20 : data.size());
      for (size_t i = 64; row.kills > 0 && i < data.size(); ++i)
        data[i] = static_cast<char>(random());
      packages.emplace_back(name, data);
      zip.Add("Stairs/" + name, data, kStored);
    }
    // Each read-me takes the catalog's stair id 0, so every merge draws one.
    for (int i = 0; i < readMes; ++i) {
      const std::string id = std::to_string(9000 + n * 100 + i);
      zip.Add("Stairs/ReadMe" + std::to_string(10 + i) + ".txt",
              "# Set " + id + "\r\nmodularStairs 0\r\nobjectID " + id + "\r\ncatalogTextIndex " +
                  id + "\r\n");
    }
    const std::string address = m.Serve("Set" + std::to_string(n) + ".zip", zip.Build(), true);
    launches.push_back({"\"pavix://" + address + "\"", {kSuccess}, {}, row.ownTemp ? n : -1});
  }
  for (const auto& place : places) {
    WriteAll(place + "/" + m.leftover, "half");
    WriteAll(place + "/" + m.lookAlike, "mine");
  }
  auto wholePackages = [&](bool all) {
    for (const auto& [name, data] : packages) {
      const std::string path = m.downloads + "/" + name;
      EXPECT_TRUE((!all && !fs::exists(path)) || ReadAll(path) == data) << name << " is not whole";
    }
  };

  const auto started = std::chrono::steady_clock::now();
  for (const Ended& ended : m.Start(launches)) {
    EXPECT_EQ(ended.exitCode, 0);
    EXPECT_EQ(ended.boxes.size(), 1u);
    for (const Box& box : ended.boxes) EXPECT_EQ(box.text, kSucceeded);
  }
  const auto spread = std::chrono::duration_cast<std::chrono::milliseconds>(
                          std::chrono::steady_clock::now() - started)
                          .count();
  EXPECT_EQ(WholeMerges(catalog, ReadAll(m.script)), row.runs * readMes);
  std::uniform_int_distribution<decltype(spread)> killAfter(1, spread + spread / 5);
  int killed = 0;
  for (int kill = 0; kill <= row.kills && row.kills > 0; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    for (const auto& package : packages) fs::remove(m.downloads + "/" + package.first);
    catalog = ReadAll(m.script);
    Launch launch = launches[0];
    // The last run is not killed.
    launch.killAfter = std::chrono::milliseconds(kill < row.kills ? killAfter(random) : 0);
    const Ended ended = m.Start({launch}).at(0);
    killed += ended.killed;
    wholePackages(false);
    const int merges = WholeMerges(catalog, ReadAll(m.script));
    EXPECT_TRUE(kill < row.kills ? merges >= 0 : merges == readMes && ended.exitCode == 0)
        << merges;
    EXPECT_TRUE(NoIdTwice(ReadAll(m.script)));
  }
  if (row.kills > 0)
    std::cout << "seed " << kSeed << ", kills spread over " << spread << " ms: " << killed << " of "
              << row.kills << " runs killed before their end\n";
  for (const auto& place : places) {
    EXPECT_EQ(List(place, ".qv-"), Names{m.lookAlike}) << place;
    fs::remove(place + "/" + m.lookAlike);
  }
  wholePackages(true);
  EXPECT_EQ(List(m.downloads).size(), packages.size());
  EXPECT_TRUE(NoIdTwice(ReadAll(m.script), row.kills == 0));
  for (int n = -1; n < (row.ownTemp ? row.runs : 0); ++n) EXPECT_EQ(List(m.Temp(n)), Names{}) << n;
  EXPECT_EQ(List(places[2]), (Names{"modularstairs.txt", "modularstairs.txt.lock"}));
}

}  // namespace qv::test::e2e
