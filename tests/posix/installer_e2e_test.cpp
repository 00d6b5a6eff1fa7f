// The real quorvane-installer, run as the system would start it, on a
// sandboxed machine (a Wine prefix of its own) against archives served on
// loopback. Its boxes are answered on a pseudo-terminal, as a user at the
// terminal answers them.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <future>
#include <regex>

#include "support/InstallerOutcomes.h"
#include "support/TempDir.h"
#include "support/posix/GameSandbox.h"
#include "support/posix/HttpServer.h"
#include "support/posix/Subprocess.h"

namespace qv::test::e2e {
namespace {

const std::string kHeader = std::string("[") + kCaption + "]\r\n";

// The boxes on a terminal, with their buttons: a message box's text ends at
// its buttons' prompt, an input box's at the blank after its own.
std::vector<Box> BoxesOn(const std::string& transcript) {
  static const std::regex kBox(std::string("\\[") + kCaption +
                               "\\]\r\n([\\s\\S]*?)(\r\n\\[Y\\]es / \\[N\\]o\\? |"
                               "\r\nPress Enter to continue\\. | \r\n)");
  std::vector<Box> boxes;
  for (std::sregex_iterator at(transcript.begin(), transcript.end(), kBox), end; at != end; ++at) {
    boxes.push_back({(*at)[1], at->str(2) == " \r\n" ? kInputBox : at->str(2)[2] == '[' ? 4 : 0});
  }
  return boxes;
}

// A text as Wine writes it into a hive: backslashes and quotes escaped,
// every character beyond ASCII as "\\x" and four hex digits of UTF-16.
std::string HiveText(const std::string& utf8) {
  std::string out;
  for (size_t i = 0; i < utf8.size(); ++i) {
    auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out +=
          c == '\\' || c == '"' ? std::string{'\\', static_cast<char>(c)} : std::string(1, utf8[i]);
      continue;
    }
    // The fixtures' names stay within the first 64K code points.
    const int extra = c >= 0xE0 ? 2 : 1;
    unsigned code = c & (extra == 2 ? 0x0Fu : 0x1Fu);
    for (int k = 0; k < extra; ++k)
      code = (code << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3Fu);
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%04x", code);
    out += escaped;
  }
  return out;
}

std::string Section(const std::string& key,
                    const std::vector<std::pair<std::string, std::string>>& values) {
  std::string text = "\n[" + HiveText(key) + "] 1700000000\n#time=1da0000000000000\n";
  for (const auto& [name, value] : values) text += "\"" + name + "\"=\"" + HiveText(value) + "\"\n";
  return text;
}

class PosixMachine : public Machine {
 public:
  PosixMachine() {
    temp = sandbox_.TempFolder();
    downloads = sandbox_.DownloadsFolder();
    script = sandbox_.CatalogPath();
    shown = 0xF;  // the buttons; a terminal shows no icon
    leftover = ".qv-Ab12Cd.tmp";
    lookAlike = ".qv-notes.txt";
  }

  std::string Serve(const std::string& name, const std::string& archive, bool slow) override {
    server_.Route("/" + name, {.body = archive,
                               .stallFor = std::chrono::milliseconds(slow ? 300 : 0),
                               .stallAfter = archive.size() / 2});
    return server_.Url("/" + name).substr(sizeof "http://" - 1);
  }

  // The game below drive C:, its keys in the prefix's hives as the edition
  // writes them. Steam's uninstall entry lives in a 64-bit prefix, where
  // 32-bit programs see it below Wow6432Node, and names the game on drive Z:
  // as Proton's keys do.
  void Record(const Edition& edition) override {
    const std::string prefix = dir_.Path() + "/prefix";
    const std::string base = edition.base.empty() ? "" : "\\" + edition.base;
    const std::string games = edition.programFiles ? "Program Files/EA GAMES" : "Games";
    std::string native = prefix + "/drive_c/" + games + "/The Sims 2" + base + "/";
    std::replace(native.begin(), native.end(), '\\', '/');
    std::string root = "C:\\" + std::regex_replace(games, std::regex("/"), "\\") + "\\The Sims 2";
    if (edition.keys == Keys::kLegacySteam) {
      std::filesystem::create_directory_symlink("/", prefix + "/dosdevices/z:");
      root = "Z:" + std::regex_replace(prefix + "/drive_c/Games/The Sims 2", std::regex("/"), "\\");
    }
    script = native + "TSData/Res/Catalog/Scripts/modularstairs.txt";
    downloads =
        prefix + "/drive_c/users/player/Documents/EA Games/" + edition.userFolder + "/Downloads";
    WriteAll(script, kCatalog);
    std::filesystem::create_directories(PathOf(downloads));

    const std::string end = edition.trailingSeparator ? "\\" : "";
    const bool win64 = edition.keys == Keys::kLegacySteam;
    std::string machine =
        std::string("WINE REGISTRY Version 2\n\n#arch=") + (win64 ? "win64\n" : "win32\n");
    std::string user =
        "WINE REGISTRY Version 2\n\n#arch=win32\n" +
        Section("Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                {{"Personal", "C:\\users\\player\\Documents"}});
    std::vector<std::pair<std::string, std::string>> named;
    if (!edition.displayName.empty()) named.emplace_back("DisplayName", edition.displayName);
    switch (edition.keys) {
      case Keys::kDisc:
        named.emplace_back("Install Dir", root + base + end);
        machine += Section("Software\\EA GAMES\\The Sims 2", named);
        break;
      case Keys::kLegacyPacks: {
        const std::string key = "Software\\Electronic Arts\\The Sims 2 Ultimate Collection 25";
        user += Section(key, named);
        for (const char* pack : {"EP9", "EP1"})
          user += Section(key + "\\Sims2" + pack + ".exe", {{"path", root + "\\" + pack}});
        break;
      }
      case Keys::kLegacyMaxis:
        machine += Section("Software\\Maxis\\The Sims 2 Legacy", {{"Install Dir", root + end}});
        break;
      case Keys::kLegacySteam:
        machine += Section(
            "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
            "Steam App 3314070",
            {{"InstallLocation", root + end}});
        break;
      case Keys::kNone:
        break;
    }
    WriteAll(prefix + "/system.reg", machine);
    WriteAll(prefix + "/user.reg", user);
  }

  std::vector<Ended> Start(const std::vector<Launch>& launches) override {
    std::vector<std::future<Ended>> runs;
    for (const Launch& launch : launches)
      runs.push_back(std::async(std::launch::async, [this, launch] { return Run(launch); }));
    std::vector<Ended> ended;
    for (auto& run : runs) ended.push_back(run.get());
    return ended;
  }

 private:
  Ended Run(const Launch& launch) {
    const bool faulty = !launch.faults.empty();
    PtyProcess terminal(
        {faulty ? QV_INSTALLER_TESTING_PATH : QV_INSTALLER_PATH, launch.arguments},
        sandbox_.InstallerEnvironment(faulty ? Environment{{"QV_TEST_FAULTS", launch.faults}}
                                             : Environment{}));
    for (const Box& box : launch.killAfter.count() > 0 ? std::vector<Box>{} : launch.script) {
      // A message box waits after its buttons' prompt, an input box after its text and a blank.
      const std::string end = box.flags == kInputBox   ? box.text + " "
                              : (box.flags & 0xF) == 4 ? "[Y]es / [N]o? "
                                                       : "Press Enter to continue. ";
      if (!terminal.WaitFor(kHeader) || !terminal.WaitFor(end)) break;
      terminal.Type(box.typed + (box.answer == kYes ? "y" : box.answer == kNo ? "n" : "") + "\n");
    }
    try {
      terminal.Type(std::string(8, '\x04'));  // the end of input: later boxes get the safe answer
    } catch (const std::exception&) {
      // It has ended already.
    }
    const int status =
        terminal.Wait(launch.killAfter.count() > 0 ? launch.killAfter : std::chrono::seconds(60));
    return {status, BoxesOn(terminal.Transcript())};
  }

  TempDir dir_;
  GameSandbox sandbox_{dir_.Path()};
  HttpServer server_;
};

QV_INSTALLER_OUTCOME_TESTS(PosixMachine);

}  // namespace
}  // namespace qv::test::e2e
