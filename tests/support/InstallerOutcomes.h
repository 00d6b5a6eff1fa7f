// What a run of the real installer does, written once as data and checked by
// both end-to-end tests: on Linux through the binary, its boxes answered on
// a terminal; on Windows through the .exe under Wine, its real boxes found on
// the screen. Each test supplies a Machine: how an archive is served, how
// runs are started and answered, and where the installer's folders are.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace qv::test::e2e {

inline constexpr char kCaption[] = "Quorvane Modular Stair Installer";
inline constexpr char kCatalog[] = "# Modular stairs\r\nmodularStairs 1\r\nobjectID 100\r\n";
inline constexpr char kSucceeded[] = "Modular stairs successfully installed.";
// A box's flags: its icon plus its buttons; kInputBox for the input box.
inline constexpr int kStop = 16, kInformation = 64, kQuestion = 68, kInputBox = -1;
inline constexpr int kOk = 1, kYes = 6, kNo = 7;  // the buttons

// A box as the user meets it, and the answer given to it.
struct Box {
  std::string text;
  int flags = kInformation;
  int answer = kOk;
  std::string typed = {};  // typed into an input box first
  bool head = false;  // only the head of the text is given: the rest names this machine's paths
  bool operator==(const Box& other) const { return text == other.text && flags == other.flags; }
  friend void PrintTo(const Box& box, std::ostream* out) {
    *out << "\"" << box.text << "\" (flags " << box.flags << ")";
  }
};

struct Launch {
  std::string arguments;                   // the command line after the program's name
  std::vector<Box> script;                 // the answers in turn; later boxes: OK, or No when asked
  std::chrono::milliseconds killAfter{0};  // killed this long after its start; 0: never
  // Faults for the test build of the program to inject (QV_TEST_FAULTS);
  // empty: the program as players get it.
  std::string faults = {};
};

struct Ended {
  int exitCode = -1;
  std::vector<Box> boxes;  // in order, with the flags this system lets a user see
  int elevations = 0;      // copies of itself it started with an administrator's rights
};

// Which keys record the game, as each edition writes them.
enum class Keys {
  kDisc,         // HKLM SOFTWARE\EA GAMES\The Sims 2: disc edition, Ultimate Collection
  kLegacyPacks,  // HKCU ...\The Sims 2 Ultimate Collection 25 with its pack sub-keys (Steam)
  kLegacyMaxis,  // HKLM SOFTWARE\Maxis\The Sims 2 Legacy (the EA app)
  kLegacySteam,  // Steam's uninstall entry of app 3314070, in a 64-bit prefix
  kNone,         // no game at all
};

// The game as one edition lays it out: its keys, the names they give, and
// where its base game lies below its root. Texts are UTF-8.
struct Edition {
  Keys keys = Keys::kDisc;
  std::string displayName = {};           // the keys' "DisplayName"; empty: none
  std::string userFolder = "The Sims 2";  // below <Documents>\EA Games
  std::string base = "";          // the base game below the root ("Double Deluxe\Base", "Base")
  bool trailingSeparator = true;  // on the folder that "Install Dir" names
  // The root below C:\Program Files, where the disc edition, the Ultimate
  // Collection and the EA app install by default; otherwise elsewhere.
  bool programFiles = false;
};

class Machine {
 public:
  virtual ~Machine() = default;
  // Lays the game out as `edition` does, with the catalog script kCatalog
  // and the Downloads folder made, and points `downloads` and `script` at
  // them.
  virtual void Record(const Edition& edition) = 0;
  // Serves `archive` as `name`; gives its address without the scheme,
  // "127.0.0.1:PORT/...". A slow one pauses half way through.
  virtual std::string Serve(const std::string& name, const std::string& archive, bool slow) = 0;
  // Starts every launch at once; returns when each has ended.
  virtual std::vector<Ended> Start(const std::vector<Launch>& launches) = 0;

  // Native paths: the runs' temporary folder, the Downloads folder, the
  // catalog script.
  std::string temp, downloads, script;
  int shown = 0;  // the flags of a box that this system shows (kInputBox always)
  // Whether a run here can start a copy of itself with an administrator's
  // rights (Windows), and the machine counts those copies.
  bool elevates = false;
  // The name of a temporary file that a killed run leaves, and one that only
  // looks like it.
  std::string leftover, lookAlike;
};

// kNoDownloads: no Downloads folder (nor the per-user folder above it);
// kNoScript: no catalog script; kDeniedWrite: a catalog script that refuses
// to be changed (immutable), to anyone; kRefusedWithoutRights: the run's
// own writes of it refused for lack of rights (injected), which a copy with
// an administrator's rights does not meet; kDeclined: the same, and the
// prompt for those rights declined (injected); kReadOnlyScript: a script
// with the read-only attribute; kScriptInUse: its replacement refused as a
// file in use (injected).
enum Twist {
  kNoTwist,
  kDamaged,
  kPassword,
  kNoDownloads,
  kNoScript,
  kDeniedWrite,
  kRefusedWithoutRights,
  kDeclined,
  kReadOnlyScript,
  kScriptInUse
};

// One run with an archive served, or else several runs at once, then runs
// killed at any moment (`kills`). The defaults are a run that installs the
// oak stairs: one package copied, its read-me merged.
struct Row {
  const char* name;
  // The archive's entries: a "*.package" holds Package(its name), the rest
  // a read-me with free ids.
  std::vector<std::string> entries = {"Stairs/Oak.package", "Stairs/ReadMe.txt"};
  std::string arguments = "\"pavix://{}\"";  // "{}": the archive's address without the scheme
  std::vector<Box> boxes = {{kSucceeded}};
  int exitCode = 0;
  std::vector<std::string> copied = {"Oak.package"};  // fresh in the Downloads folder afterwards
  std::vector<std::string> before = {};  // installed before the run; they stay unless copied
  bool merged = true;                    // the read-me is merged; otherwise the script is untouched
  Twist twist = kNoTwist;
  int kills = 0;  // after runs started together, runs killed at seeded moments, then a complete one
  Edition edition = {};
  std::string readMe = {};    // the read-mes' bytes; empty: a small one with a free id
  std::string catalog = {};   // the catalog script before; empty: kCatalog
  std::string appended = {};  // when merged: exactly what follows the old script; empty: unchecked
  // Where the machine elevates: the copies started with an administrator's
  // rights, and words that the first box holds (empty: not checked). Where
  // it does not, a write refused for lack of rights ends as a denied one.
  int elevations = 0;
  std::string because = {};
  friend void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }
};
extern const std::vector<Row> kRows;

void Check(Machine& machine, const Row& row);
// A file's whole content ("<missing>" when it cannot be read); a file
// written whole, its folders made. Paths are UTF-8.
std::string ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::string& content);
std::filesystem::path PathOf(const std::string& utf8);

}  // namespace qv::test::e2e

// The table as parameterized tests, one named after each row, each on a
// fresh machine of type `MachineType`.
// clang-format off
#define QV_INSTALLER_OUTCOME_TESTS(MachineType)                                                  \
  class Outcome : public ::testing::TestWithParam<Row> {};                                       \
  TEST_P(Outcome, AsTheTableSays) { MachineType machine; Check(machine, GetParam()); }           \
  INSTANTIATE_TEST_SUITE_P(Installer, Outcome, ::testing::ValuesIn(kRows),                       \
                           [](const auto& row) { return std::string(row.param.name); })
// clang-format on
