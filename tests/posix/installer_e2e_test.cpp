// The real quorvane-installer, run as the system would start it, against a
// sandboxed machine and archives served on loopback. The boxes are read from
// standard error (the non-interactive front end answers every question with
// the safe choice) or answered on a pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <future>
#include <iostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/TempDir.h"
#include "support/ZipWriter.h"
#include "support/posix/GameSandbox.h"
#include "support/posix/HttpServer.h"
#include "support/posix/Subprocess.h"

namespace qv::test {
namespace {

namespace fs = std::filesystem;

constexpr const char kCaption[] = "Quorvane Modular Stair Installer";
constexpr const char kUnableToDownload[] = "Unable to download file.";
constexpr const char kPackageNotFound[] = "Package file not found.";
constexpr const char kAlreadyInstalled[] =
    "Modular stairs already installed. Do you wish to replace it?";
constexpr const char kReadMeNotFound[] = "Read me not found.";
constexpr const char kSucceeded[] = "Modular stairs successfully installed.";
constexpr const char kFailed[] =
    "An error has occurred while trying to install the modular stairs.";

constexpr int kExitSuccess = 0;
constexpr int kExitFailed = 1;
constexpr int kExitStopped = 2;
constexpr int kExitNoAddress = 3;

struct Outcome {
  ProcessResult process;
  std::vector<std::string> boxes;  // texts of the boxes, in order
};

// "[caption] text" lines of the non-interactive front end.
std::vector<std::string> Boxes(const std::string& standardError) {
  std::vector<std::string> boxes;
  std::istringstream lines(standardError);
  const std::string prefix = std::string("[") + kCaption + "] ";
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(prefix, 0) == 0) boxes.push_back(line.substr(prefix.size()));
  }
  return boxes;
}

std::string Package(const std::string& seed) {
  return "DBPF package " + seed + std::string(4096, 'p');
}

class InstallerTest : public ::testing::Test {
 protected:
  InstallerTest() : sandbox_(dir_.Path() + "/machine") {}

  Outcome Start(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv = {QV_INSTALLER_PATH};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    Outcome run;
    run.process = RunProcess(argv, InstallerEnv());
    run.boxes = Boxes(run.process.standardError);
    return run;
  }
  Outcome Install(const std::string& path) {
    return Start({"\"pavix" + server_.Url(path).substr(4) + "\""});
  }

  Environment InstallerEnv() const {
    return sandbox_.InstallerEnvironment(
        {{"QUORVANE_CONNECT_TIMEOUT_MS", "3000"}, {"QUORVANE_STALL_TIMEOUT_MS", "1500"}});
  }

  void Serve(const std::string& path, const ZipWriter& zip) {
    server_.Route(path, HttpRoute::Ok(zip.Build()));
  }

  static ZipWriter Archive(const std::vector<std::string>& packages,
                           const std::vector<std::pair<std::string, std::string>>& readMes) {
    ZipWriter zip;
    for (const auto& name : packages) zip.Add("Stairs/" + name, Package(name));
    for (const auto& [name, content] : readMes) zip.Add("Stairs/" + name, content);
    return zip;
  }

  bool TempIsClean() const {
    for (const auto& name : sandbox_.TempEntries()) {
      if (name == "DownloadedZIP.zip" || name == "DownloadedFiles") return false;
    }
    return true;
  }
  std::string Installed(const std::string& name) const {
    return dir_.Read(
        "machine/prefix/drive_c/users/player/Documents/EA Games/The Sims 2/Downloads/" + name);
  }

  TempDir dir_;
  GameSandbox sandbox_;
  HttpServer server_;
};

const std::pair<std::string, std::string> kReadMe = {
    "ReadMe.txt", "# Oak stairs\r\nmodularStairs 42\r\nobjectID 7001\r\ncatalogTextIndex 3\r\n"};

TEST_F(InstallerTest, EmptyCommandLineEndsSilentlyAndTouchesNothing) {
  const std::string catalog = sandbox_.ReadCatalog();
  Outcome run = Start({});
  EXPECT_EQ(run.process.exitStatus, kExitNoAddress);
  EXPECT_EQ(run.process.standardError, "");
  EXPECT_TRUE(sandbox_.TempEntries().empty());
  EXPECT_EQ(sandbox_.ReadCatalog(), catalog);
  EXPECT_TRUE(server_.Requests().empty());
}

TEST_F(InstallerTest, SuccessCopiesEveryPackageAndMergesEveryReadMe) {
  Serve("/a.zip",
        Archive({"Oak.package", "Railing.package"},
                {kReadMe, {"ReadMe2.txt", "# Railing\r\nmodularStairs 1\r\nobjectID 7002\r\n"}}));
  const std::string before = sandbox_.ReadCatalog();
  Outcome run = Install("/a.zip");
  EXPECT_EQ(run.process.exitStatus, kExitSuccess) << run.process.standardError;
  EXPECT_EQ(run.boxes, std::vector<std::string>{kSucceeded});
  EXPECT_EQ(sandbox_.InstalledPackages(),
            (std::vector<std::string>{"Oak.package", "Railing.package"}));
  EXPECT_EQ(Installed("Oak.package"), Package("Oak.package"));
  const std::string after = sandbox_.ReadCatalog();
  EXPECT_EQ(after.substr(0, before.size()), before);
  EXPECT_NE(after.find("\r\nmodularStairs 42\r\nobjectID 7001\r\ncatalogTextIndex 3\r\n"),
            std::string::npos);
  // Id 1 is taken in the catalog: the second read-me gets a drawn one.
  EXPECT_EQ(after.find("modularStairs 1\r\n"), before.find("modularStairs 1\r\n"));
  EXPECT_EQ(after.find("modularStairs 1\r\n", before.size()), std::string::npos);
  EXPECT_NE(after.find("objectID 7002\r\n"), std::string::npos);
  EXPECT_TRUE(TempIsClean());
  ASSERT_EQ(server_.Requests().size(), 1u);
  EXPECT_EQ(server_.Requests()[0].target, "/a.zip");
}

TEST_F(InstallerTest, PackagesInFoldersOfTheArchiveLandFlat) {
  ZipWriter zip;
  zip.Add("deep/er/Oak.package", Package("Oak.package"));
  zip.Add("other/ReadMe.txt", kReadMe.second);
  Serve("/a.zip", zip);
  Outcome run = Install("/a.zip");
  EXPECT_EQ(run.boxes, std::vector<std::string>{kSucceeded});
  EXPECT_EQ(sandbox_.InstalledPackages(), std::vector<std::string>{"Oak.package"});
}

struct DownloadFailure {
  const char* name;
  HttpRoute route;
};

TEST_F(InstallerTest, FailedDownloadsShowTwoMessagesAndLeaveNothing) {
  HttpRoute dropped = HttpRoute::Ok(Archive({"Oak.package"}, {kReadMe}).Build());
  dropped.dropAfter = 100;
  HttpRoute lying = HttpRoute::Ok(Archive({"Oak.package"}, {kReadMe}).Build());
  lying.announcedLength = lying.body.size() + 1000;
  HttpRoute stalled = HttpRoute::Ok("PK");
  stalled.stallFor = std::chrono::milliseconds(8000);
  stalled.stallAfter = 1;
  const DownloadFailure failures[] = {
      {"404 with a body", HttpRoute::Status(404, "<html>not here</html>")},
      {"500", HttpRoute::Status(500, "oops")},
      {"connection dropped mid-body", dropped},
      {"length announced but not sent", lying},
      {"server stalls mid-body", stalled},
      {"redirect to file:", HttpRoute::Redirect("file:///etc/passwd")},
      {"redirect to ftp:", HttpRoute::Redirect("ftp://127.0.0.1/a.zip")},
      {"redirect loop", HttpRoute::Redirect("/fail")},
  };
  for (const auto& failure : failures) {
    SCOPED_TRACE(failure.name);
    server_.Route("/fail", failure.route);
    Outcome run = Install("/fail");
    EXPECT_EQ(run.process.exitStatus, kExitFailed) << run.process.standardError;
    EXPECT_EQ(run.boxes, (std::vector<std::string>{kUnableToDownload, kFailed}));
    EXPECT_TRUE(sandbox_.TempEntries().empty()) << "a partial archive was left behind";
    EXPECT_TRUE(sandbox_.InstalledPackages().empty());
  }
}

struct BadAddress {
  const char* name;
  std::string argument;
};

TEST_F(InstallerTest, BadAddressesEndInTheDownloadFailure) {
  Serve("/a.zip", Archive({"Oak.package"}, {kReadMe}));
  const std::string hostAndPath = server_.Url("/a.zip").substr(7);  // 127.0.0.1:PORT/a.zip
  const BadAddress addresses[] = {
      {"only two double quotes", "\"\""},
      {"upper-case scheme", "\"PAVIX://" + hostAndPath + "\""},
      {"file: scheme", "\"file:///etc/passwd\""},
      {"ftp: scheme", "\"ftp://" + hostAndPath + "\""},
      {"100 KB address", "\"pavix://" + hostAndPath + std::string(100 * 1024, 'a') + "\""},
      {"not an address", "\"hello world\""},
  };
  for (const auto& address : addresses) {
    SCOPED_TRACE(address.name);
    Outcome run = Start({address.argument});
    EXPECT_EQ(run.process.exitStatus, kExitFailed) << run.process.standardError;
    EXPECT_EQ(run.boxes, (std::vector<std::string>{kUnableToDownload, kFailed}));
    EXPECT_TRUE(sandbox_.InstalledPackages().empty());
    EXPECT_TRUE(sandbox_.TempEntries().empty());
  }
}

TEST_F(InstallerTest, QuotesAnywhereInTheAddressAreRemoved) {
  Serve("/a.zip", Archive({"Oak.package"}, {kReadMe}));
  const std::string url = server_.Url("/a.zip");  // http://127.0.0.1:PORT/a.zip
  Outcome run = Start({"\"pa\"vix" + url.substr(4, 12) + "\"" + url.substr(16) + "\""});
  EXPECT_EQ(run.boxes, std::vector<std::string>{kSucceeded}) << run.process.standardError;
  EXPECT_EQ(sandbox_.InstalledPackages(), std::vector<std::string>{"Oak.package"});
}

TEST_F(InstallerTest, BytesAboveAsciiInTheAddressAreHandedOn) {
  const std::string path = "/st\xE4irs.zip";
  Serve(path, Archive({"Oak.package"}, {kReadMe}));
  Outcome run = Start({"pavix://127.0.0.1:" + std::to_string(server_.Port()) + path});
  // Either the server understood the raw bytes or it did not: one of the two
  // defined outcomes, never anything else.
  if (run.process.exitStatus == kExitSuccess) {
    EXPECT_EQ(run.boxes, std::vector<std::string>{kSucceeded});
  } else {
    EXPECT_EQ(run.process.exitStatus, kExitFailed);
    EXPECT_EQ(run.boxes, (std::vector<std::string>{kUnableToDownload, kFailed}));
  }
}

TEST_F(InstallerTest, DamagedArchiveShowsOnlyTheFinalErrorAndCleansUp) {
  std::string archive = Archive({"Oak.package"}, {kReadMe}).Build();
  archive[archive.size() / 2] ^= 0x55;
  archive.resize(archive.size() - 30);
  server_.Route("/bad.zip", HttpRoute::Ok(archive));
  Outcome run = Install("/bad.zip");
  EXPECT_EQ(run.process.exitStatus, kExitFailed);
  EXPECT_EQ(run.boxes, std::vector<std::string>{kFailed});
  EXPECT_TRUE(TempIsClean());
  EXPECT_TRUE(sandbox_.InstalledPackages().empty());
}

TEST_F(InstallerTest, UnsafeNamesNeverWriteOutsideTheExtractionFolder) {
  ZipWriter zip;
  zip.Add("../../../../evil.package", "evil");
  zip.Add("..\\..\\evil2.package", "evil");
  zip.Add("/tmp/evil3.package", "evil");
  zip.Add("Oak.package", Package("Oak.package"));
  zip.Add("ReadMe.txt", kReadMe.second);
  Serve("/u.zip", zip);
  Outcome run = Install("/u.zip");
  EXPECT_TRUE(run.process.exitStatus == kExitSuccess || run.process.exitStatus == kExitFailed)
      << run.process.standardError;
  // With folders ignored, each name keeps only its last component, so the
  // packages are ordinary packages: they may land in the Downloads folder,
  // and nowhere else.
  for (const auto& entry : fs::recursive_directory_iterator(dir_.Path())) {
    const std::string name = entry.path().filename().string();
    if (name.find("evil") != std::string::npos) {
      EXPECT_EQ(entry.path().parent_path().string(), sandbox_.DownloadsFolder()) << entry.path();
    }
  }
  EXPECT_FALSE(fs::exists("/tmp/evil3.package"));
  EXPECT_TRUE(TempIsClean());
}

TEST_F(InstallerTest, ArchiveWithoutPackages) {
  Serve("/a.zip", Archive({}, {kReadMe}));
  const std::string catalog = sandbox_.ReadCatalog();
  Outcome run = Install("/a.zip");
  EXPECT_EQ(run.process.exitStatus, kExitFailed);
  EXPECT_EQ(run.boxes, (std::vector<std::string>{kPackageNotFound, kFailed}));
  EXPECT_EQ(sandbox_.ReadCatalog(), catalog);
  EXPECT_TRUE(TempIsClean());
}

TEST_F(InstallerTest, ArchiveWithoutReadMeCopiesThePackagesAndFails) {
  Serve("/a.zip", Archive({"A.package", "B.package"}, {}));
  const std::string catalog = sandbox_.ReadCatalog();
  Outcome run = Install("/a.zip");
  EXPECT_EQ(run.process.exitStatus, kExitFailed);
  EXPECT_EQ(run.boxes, (std::vector<std::string>{kReadMeNotFound, kFailed}));
  EXPECT_EQ(sandbox_.InstalledPackages(), (std::vector<std::string>{"A.package", "B.package"}));
  EXPECT_EQ(sandbox_.ReadCatalog(), catalog);
  EXPECT_TRUE(TempIsClean());
}

TEST_F(InstallerTest, ExistingPackageAnsweredNoStopsBeforeIt) {
  Serve("/a.zip", Archive({"A.package", "B.package", "C.package"}, {kReadMe}));
  dir_.Write(
      "machine/prefix/drive_c/users/player/Documents/EA Games/The Sims 2/Downloads/B.package",
      "old B");
  const std::string catalog = sandbox_.ReadCatalog();
  Outcome run = Install("/a.zip");  // the non-interactive front end answers No
  EXPECT_EQ(run.process.exitStatus, kExitFailed);
  EXPECT_EQ(run.boxes, (std::vector<std::string>{kAlreadyInstalled, kFailed}));
  EXPECT_EQ(sandbox_.InstalledPackages(), (std::vector<std::string>{"A.package", "B.package"}));
  EXPECT_EQ(Installed("B.package"), "old B");
  EXPECT_EQ(sandbox_.ReadCatalog(), catalog);
  EXPECT_TRUE(TempIsClean());
}

// The terminal front end: the question is answered by typing.
TEST_F(InstallerTest, ExistingPackageAnsweredOnTheTerminal) {
  Serve("/a.zip", Archive({"A.package", "B.package", "C.package"}, {kReadMe}));
  for (const char* answer : {"y", "n"}) {
    SCOPED_TRACE(answer);
    for (const char* name : {"A.package", "C.package"})
      fs::remove(sandbox_.DownloadsFolder() + "/" + name);
    dir_.Write(
        "machine/prefix/drive_c/users/player/Documents/EA Games/The Sims 2/Downloads/B.package",
        "old B");
    const std::string catalog = sandbox_.ReadCatalog();
    PtyProcess installer({QV_INSTALLER_PATH, "pavix" + server_.Url("/a.zip").substr(4)},
                         InstallerEnv());
    ASSERT_TRUE(installer.WaitFor(kAlreadyInstalled)) << installer.Transcript();
    installer.Type(std::string(answer) + "\n");
    const bool yes = answer[0] == 'y';
    ASSERT_TRUE(installer.WaitFor(yes ? kSucceeded : kFailed)) << installer.Transcript();
    installer.Type("\n");  // OK
    EXPECT_EQ(installer.Wait(), yes ? kExitSuccess : kExitFailed) << installer.Transcript();
    EXPECT_EQ(sandbox_.InstalledPackages(), (std::vector<std::string>{"A.package", "B.package"}));
    EXPECT_EQ(Installed("B.package"), yes ? Package("B.package") : "old B");
    EXPECT_EQ(sandbox_.ReadCatalog(), catalog) << "no read-me is merged after the question";
    EXPECT_TRUE(TempIsClean());
  }
}

TEST_F(InstallerTest, MissingDownloadsFolderStopsTheRunWithTheError) {
  fs::remove_all(sandbox_.DownloadsFolder());
  Serve("/a.zip", Archive({"Oak.package"}, {kReadMe}));
  Outcome run = Install("/a.zip");
  EXPECT_EQ(run.process.exitStatus, kExitStopped);
  ASSERT_EQ(run.boxes.size(), 1u) << run.process.standardError;
  EXPECT_EQ(run.boxes[0].rfind("Run-time error '76':", 0), 0u) << run.boxes[0];
  // Stopped by an error: no clean-up, no final message.
  const auto left = sandbox_.TempEntries();
  EXPECT_NE(std::find(left.begin(), left.end(), "DownloadedZIP.zip"), left.end());
}

// What the catalog script's folder holds, sorted.
std::vector<std::string> ScriptFolder(const GameSandbox& sandbox) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(fs::path(sandbox.CatalogPath()).parent_path())) {
    names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

struct CatalogCase {
  const char* name;
  std::function<void(GameSandbox&)> prepare;
  bool catalogChanges;
};

TEST_F(InstallerTest, CatalogProblemsNeverStopTheRun) {
  std::string allTaken;
  for (int id = 0; id <= 999; ++id) allTaken += "modularStairs " + std::to_string(id) + "\r\n";
  std::string large;
  for (int line = 0; line < 40000; ++line) {
    large += line % 80 == 0 ? "modularStairs " + std::to_string(line / 80) + "\r\n"
                            : "objectID " + std::to_string(line) + "\r\n";
  }
  const CatalogCase cases[] = {
      {"missing catalog", [](GameSandbox& s) { fs::remove(s.CatalogPath()); }, false},
      {"read-only catalog",
       [](GameSandbox& s) {
         fs::permissions(s.CatalogPath(), fs::perms::owner_write, fs::perm_options::remove);
       },
       false},
      {"every drawable id taken",
       [&](GameSandbox& s) { s.WriteCatalog(allTaken + "modularStairs 42\r\n"); }, false},
      {"40,000-line catalog", [&](GameSandbox& s) { s.WriteCatalog(large); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    GameSandbox sandbox(dir.Path() + "/machine");
    c.prepare(sandbox);
    const bool existed = fs::exists(sandbox.CatalogPath());
    const std::string before = existed ? sandbox.ReadCatalog() : "";
    ZipWriter zip = Archive({"Oak.package"}, {kReadMe});
    server_.Route("/c.zip", HttpRoute::Ok(zip.Build()));
    std::vector<std::string> argv = {QV_INSTALLER_PATH, "pavix" + server_.Url("/c.zip").substr(4)};
    ProcessResult process = RunProcess(argv, sandbox.InstallerEnvironment());
    EXPECT_EQ(process.exitStatus, kExitSuccess) << process.standardError;
    EXPECT_EQ(Boxes(process.standardError), std::vector<std::string>{kSucceeded});
    EXPECT_EQ(fs::exists(sandbox.CatalogPath()), existed);
    if (!existed) {
      EXPECT_TRUE(ScriptFolder(sandbox).empty()) << "nothing is made beside a missing script";
      continue;
    }
    const std::string after = sandbox.ReadCatalog();
    if (c.catalogChanges) {
      EXPECT_EQ(after.substr(0, before.size()), before);
      EXPECT_GT(after.size(), before.size());
    } else {
      EXPECT_EQ(after, before);
    }
    // No temporary file of the merge is left beside the script.
    EXPECT_EQ(ScriptFolder(sandbox),
              (std::vector<std::string>{"modularstairs.txt", "modularstairs.txt.lock"}));
  }
}

TEST_F(InstallerTest, ReadMeOfBinaryGarbageLeavesTheCatalogAlone) {
  std::string garbage;
  for (int i = 0; i < 20000; ++i) garbage.push_back(static_cast<char>((i * 7919) % 251));
  garbage[100] = '\0';
  Serve("/g.zip", Archive({"Oak.package"}, {{"ReadMe.txt", garbage}}));
  const std::string catalog = sandbox_.ReadCatalog();
  Outcome run = Install("/g.zip");
  EXPECT_EQ(run.process.exitStatus, kExitSuccess);
  EXPECT_EQ(run.boxes, std::vector<std::string>{kSucceeded});
  // Nothing in it is a catalog line, unless the bytes happen to spell one.
  const std::string after = sandbox_.ReadCatalog();
  EXPECT_EQ(after.substr(0, catalog.size()), catalog);
}

// The ids of every "modularStairs" line of a catalog script, in order.
std::vector<std::string> StairIds(const std::string& catalog) {
  std::vector<std::string> ids;
  std::istringstream lines(catalog);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("modularStairs ", 0) == 0) ids.push_back(line.substr(14, line.size() - 15));
  }
  return ids;
}

bool NoIdTwice(const std::string& catalog) {
  const std::vector<std::string> ids = StairIds(catalog);
  return std::set<std::string>(ids.begin(), ids.end()).size() == ids.size();
}

// The installer's own temporary files in `folder`: ".qv-" and six letters or
// digits, ".tmp".
std::vector<std::string> Temporaries(const std::string& folder) {
  std::vector<std::string> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() == 14 && name.rfind(".qv-", 0) == 0 && name.ends_with(".tmp")) {
      found.push_back(name);
    }
  }
  return found;
}

// Read-me number `i` of a set: one comment, one stair line with the id 1
// that the catalog already uses (so every merge draws one), one object line
// that names the read-me and one text index line.
std::string SetReadMe(int i) {
  return "# Set " + std::to_string(i) + "\r\nmodularStairs 1\r\nobjectID " +
         std::to_string(9000 + i) + "\r\ncatalogTextIndex " + std::to_string(i) + "\r\n";
}

// Links clicked one after another while the first download is still under
// way: every run waits for the one before it and then runs as usual. In the
// second round each run has a temporary folder of its own, as the Windows
// program and this one have on the same prefix: they run side by side, and
// only their merges of the one catalog script wait for each other.
TEST_F(InstallerTest, SeveralLinksAtOnceAllInstallEverything) {
  constexpr int kRounds = 2;
  constexpr int kAtOnce = 4;
  const std::string before = sandbox_.ReadCatalog();
  std::vector<std::string> packages;
  for (int round = 0; round < kRounds; ++round) {
    std::vector<std::future<Outcome>> runs;
    for (int link = 0; link < kAtOnce; ++link) {
      const int n = round * kAtOnce + link;
      const std::string name = "Set" + std::to_string(n);
      packages.push_back(name + "a.package");
      packages.push_back(name + "b.package");
      HttpRoute slow =
          HttpRoute::Ok(Archive({name + "a.package", name + "b.package"},
                                {{"ReadMe.txt", SetReadMe(n)}, {"ReadMe2.txt", SetReadMe(100 + n)}})
                            .Build());
      slow.stallFor = std::chrono::milliseconds(300);  // before the status line
      server_.Route("/" + name + ".zip", slow);
      Environment env = InstallerEnv();
      if (round == 1) {
        env["TMPDIR"] = dir_.Join("tmp-" + std::to_string(link));
        fs::create_directories(env["TMPDIR"]);
      }
      std::vector<std::string> argv = {QV_INSTALLER_PATH,
                                       "pavix" + server_.Url("/" + name + ".zip").substr(4)};
      runs.push_back(std::async(std::launch::async, [argv, env] {
        Outcome run;
        run.process = RunProcess(argv, env);
        run.boxes = Boxes(run.process.standardError);
        return run;
      }));
    }
    for (int link = 0; link < kAtOnce; ++link) {
      SCOPED_TRACE("round " + std::to_string(round) + ", link " + std::to_string(link));
      Outcome run = runs[static_cast<size_t>(link)].get();
      EXPECT_EQ(run.process.exitStatus, kExitSuccess) << run.process.standardError;
      EXPECT_EQ(run.boxes, std::vector<std::string>{kSucceeded});
    }
  }
  std::sort(packages.begin(), packages.end());
  EXPECT_EQ(sandbox_.InstalledPackages(), packages);
  for (const auto& name : packages) EXPECT_EQ(Installed(name), Package(name)) << name;
  const std::string after = sandbox_.ReadCatalog();
  EXPECT_EQ(after.substr(0, before.size()), before);
  for (int n = 0; n < kRounds * kAtOnce; ++n) {
    for (int i : {n, 100 + n}) {
      const std::string line = "\r\nobjectID " + std::to_string(9000 + i) + "\r\n";
      const size_t at = after.find(line);
      EXPECT_NE(at, std::string::npos) << "read-me " << i << " not merged";
      EXPECT_EQ(after.find(line, at + 1), std::string::npos) << "read-me " << i << " twice";
    }
  }
  EXPECT_EQ(StairIds(after).size(), StairIds(before).size() + 2 * kRounds * kAtOnce);
  EXPECT_TRUE(NoIdTwice(after)) << after;
  EXPECT_TRUE(sandbox_.TempEntries().empty()) << "the run lock's file or a temporary was left";
  for (int link = 0; link < kAtOnce; ++link) {
    EXPECT_TRUE(fs::is_empty(dir_.Join("tmp-" + std::to_string(link)))) << link;
  }
}

// Runs killed at random moments (seeded, so every run of the test kills at
// the same spread of moments; the outcome is the same wherever they land):
// after each kill every installed package is whole and the catalog script is
// the old one followed by whole merges; one complete run afterwards leaves
// no temporary file anywhere.
TEST_F(InstallerTest, KilledRunsLeaveWholeFilesAndTheNextRunCleansUp) {
  constexpr unsigned kSeed = 20240609;
  constexpr int kKills = 20;
  constexpr int kReadMes = 30;
  ZipWriter zip;
  std::mt19937 bytes(kSeed);
  std::vector<std::pair<std::string, std::string>> packages;
  for (const char* name : {"Big1.package", "Big2.package", "Big3.package"}) {
    std::string data(2 << 20, '\0');
    for (size_t i = 0; i < data.size(); i += 4) {
      const auto word = static_cast<uint32_t>(bytes());
      std::memcpy(&data[i], &word, 4);
    }
    packages.emplace_back(name, data);
    zip.Add(std::string("Stairs/") + name, data, kStored);
  }
  for (int i = 0; i < kReadMes; ++i) {
    zip.Add("Stairs/ReadMe" + std::string(i < 10 ? "0" : "") + std::to_string(i) + ".txt",
            SetReadMe(i));
  }
  HttpRoute route = HttpRoute::Ok(zip.Build());
  route.stallAfter = route.body.size() / 2;  // a partial download to kill
  route.stallFor = std::chrono::milliseconds(150);
  server_.Route("/big.zip", route);
  std::string catalog;
  for (int line = 0; line < 5000; ++line) {
    catalog += line % 50 == 0 ? "modularStairs " + std::to_string(line / 50) + "\r\n"
                              : "objectID " + std::to_string(line) + "\r\n";
  }
  sandbox_.WriteCatalog(catalog);
  const std::string catalogFolder = fs::path(sandbox_.CatalogPath()).parent_path().string();
  const std::string places[] = {sandbox_.TempFolder(), sandbox_.DownloadsFolder(), catalogFolder};

  auto removePackages = [&] {
    for (const auto& [name, data] : packages) fs::remove(sandbox_.DownloadsFolder() + "/" + name);
  };
  // The script is `before` followed by the whole merges of read-mes 0, 1...
  // in order; gives how many, or -1 when it is anything else.
  auto wholeMerges = [](const std::string& before, const std::string& after) {
    if (after.compare(0, before.size(), before) != 0) return -1;
    std::string expected;
    for (int i = 0;; ++i) {
      if (after.size() == before.size() + expected.size()) return i;
      if (i == kReadMes || after.size() < before.size() + expected.size()) return -1;
      const std::string next = after.substr(before.size() + expected.size());
      const std::string head = "\r\n# Set " + std::to_string(i) + "\r\nmodularStairs ";
      const std::string tail = "\r\nobjectID " + std::to_string(9000 + i) +
                               "\r\ncatalogTextIndex " + std::to_string(i) + "\r\n";
      const size_t end = next.find(tail);
      if (next.rfind(head, 0) != 0 || end == std::string::npos) return -1;
      expected += next.substr(0, end + tail.size());
    }
  };

  // One complete run first: how long a run takes here spreads the kills.
  const auto started = std::chrono::steady_clock::now();
  Outcome first = Install("/big.zip");
  const auto runTime = std::chrono::steady_clock::now() - started;
  ASSERT_EQ(first.process.exitStatus, kExitSuccess) << first.process.standardError;
  ASSERT_EQ(wholeMerges(catalog, sandbox_.ReadCatalog()), kReadMes);

  std::mt19937 moments(kSeed);
  const auto spread = std::chrono::duration_cast<std::chrono::milliseconds>(runTime).count();
  std::uniform_int_distribution<long> killAfter(1, spread + spread / 5);
  int killed = 0;
  std::set<std::string> left[3];  // distinct leftovers seen in each place
  for (int kill = 0; kill < kKills; ++kill) {
    SCOPED_TRACE("kill " + std::to_string(kill));
    removePackages();
    const std::string before = sandbox_.ReadCatalog();
    std::vector<std::string> argv = {QV_INSTALLER_PATH,
                                     "pavix" + server_.Url("/big.zip").substr(4)};
    ProcessResult process =
        RunProcess(argv, InstallerEnv(), std::chrono::milliseconds(killAfter(moments)));
    if (process.timedOut) ++killed;
    for (const auto& [name, data] : packages) {
      const std::string path = sandbox_.DownloadsFolder() + "/" + name;
      if (fs::exists(path)) {
        EXPECT_TRUE(Installed(name) == data) << name << " is not whole";
      }
    }
    const std::string after = sandbox_.ReadCatalog();
    EXPECT_GE(wholeMerges(before, after), 0) << "the catalog script is not whole";
    EXPECT_TRUE(NoIdTwice(after));
    for (int place = 0; place < 3; ++place) {
      for (const auto& name : Temporaries(places[place])) left[place].insert(name);
    }
  }
  std::cout << "seed " << kSeed << ", kills spread over " << spread << " ms: " << kKills
            << " runs, " << killed
            << " killed before their end; temporaries they left: " << left[0].size()
            << " in the temporary folder, " << left[1].size() << " in the Downloads folder, "
            << left[2].size() << " beside the catalog script\n";

  // What a killed run can leave in each place, and names that only look
  // like it: the first go, the others stay.
  for (const auto& place : places) {
    dir_.Write(fs::relative(place + "/.qv-Ab12Cd.tmp", dir_.Path()).string(), "half");
    dir_.Write(fs::relative(place + "/.qv-notes.txt", dir_.Path()).string(), "mine");
  }
  removePackages();
  const std::string before = sandbox_.ReadCatalog();
  Outcome last = Install("/big.zip");
  EXPECT_EQ(last.process.exitStatus, kExitSuccess) << last.process.standardError;
  EXPECT_EQ(wholeMerges(before, sandbox_.ReadCatalog()), kReadMes);
  EXPECT_TRUE(NoIdTwice(sandbox_.ReadCatalog()));
  for (const auto& place : places) {
    EXPECT_EQ(Temporaries(place), std::vector<std::string>{}) << place;
    EXPECT_TRUE(fs::exists(place + "/.qv-notes.txt")) << place;
    fs::remove(place + "/.qv-notes.txt");
  }
  EXPECT_TRUE(sandbox_.TempEntries().empty());
  EXPECT_EQ(ScriptFolder(sandbox_),
            (std::vector<std::string>{"modularstairs.txt", "modularstairs.txt.lock"}));
}

}  // namespace
}  // namespace qv::test
