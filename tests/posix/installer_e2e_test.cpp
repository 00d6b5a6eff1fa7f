// The real quorvane-installer, run as the system would start it, on a
// sandboxed machine (a Wine prefix of its own) against archives served on
// loopback. Its boxes are answered on a pseudo-terminal, as a user at the
// terminal answers them.
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
    PtyProcess terminal({QV_INSTALLER_PATH, launch.arguments}, sandbox_.InstallerEnvironment());
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
