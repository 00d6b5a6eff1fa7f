// The real quorvane-installer, run as the system would start it, on a
// sandboxed machine (a Wine prefix of its own) against archives served on
// loopback. Its boxes are answered on a pseudo-terminal, as a user at the
// terminal answers them; killed runs have no terminal.
#include <gtest/gtest.h>

#include <filesystem>
#include <future>

#include "support/InstallerOutcomes.h"
#include "support/TempDir.h"
#include "support/posix/GameSandbox.h"
#include "support/posix/HttpServer.h"
#include "support/posix/Subprocess.h"

namespace qv::test::e2e {
namespace {

const std::string kHeader = std::string("[") + kCaption + "]\r\n";

// What the terminal shows after a message box's text while it waits for the
// answer; an input box waits after its prompt and a blank.
std::string Prompt(int buttons) {
  return buttons == 4 ? "[Y]es / [N]o? " : "Press Enter to continue. ";
}

// The boxes on a terminal: their texts and buttons.
std::vector<Box> BoxesOn(const std::string& transcript) {
  std::vector<Box> boxes;
  for (size_t at = transcript.find(kHeader); at != std::string::npos;) {
    const size_t begin = at + kHeader.size();
    at = transcript.find(kHeader, begin);
    const std::string shown = transcript.substr(begin, at - begin);
    Box box{shown.substr(0, shown.find(" \r\n")), kInputBox};
    for (int buttons : {0, 4}) {
      const size_t prompt = shown.find("\r\n" + Prompt(buttons));
      if (prompt != std::string::npos) box = {shown.substr(0, prompt), buttons};
    }
    std::erase(box.text, '\r');
    boxes.push_back(box);
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
    HttpRoute route = HttpRoute::Ok(archive);
    if (slow) {
      route.stallAfter = archive.size() / 2;
      route.stallFor = std::chrono::milliseconds(300);
    }
    server_.Route("/" + name, route);
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
    std::vector<std::string> argv = {QV_INSTALLER_PATH};
    if (!launch.arguments.empty()) argv.push_back(launch.arguments);
    std::filesystem::create_directories(Temp(launch.temp));
    const Environment env = sandbox_.InstallerEnvironment({{"TMPDIR", Temp(launch.temp) + "/"},
                                                           {"QUORVANE_CONNECT_TIMEOUT_MS", "3000"},
                                                           {"QUORVANE_STALL_TIMEOUT_MS", "1500"}});
    if (launch.killAfter.count() > 0) {
      const ProcessResult run = RunProcess(argv, env, launch.killAfter);
      return {run.exitStatus, {}, run.timedOut};
    }
    PtyProcess terminal(argv, env);
    for (const Box& box : launch.script) {
      const bool input = box.flags == kInputBox;
      if (!terminal.WaitFor(kHeader) ||
          !terminal.WaitFor(input ? box.text + " " : Prompt(box.flags & 0xF)))
        break;
      terminal.Type(box.typed + (box.answer == kYes ? "y" : box.answer == kNo ? "n" : "") + "\n");
    }
    try {
      terminal.Type(std::string(8, '\x04'));  // the end of input: later boxes get the safe answer
    } catch (const std::exception&) {
      // It has ended already.
    }
    const int status = terminal.Wait();
    return {status, BoxesOn(terminal.Transcript())};
  }

  TempDir dir_;
  GameSandbox sandbox_{dir_.Path() + "/machine"};
  HttpServer server_;
};

class Outcome : public ::testing::TestWithParam<Row> {};
TEST_P(Outcome, OfOneRun) {
  PosixMachine machine;
  Check(machine, GetParam());
}
INSTANTIATE_TEST_SUITE_P(Installer, Outcome, ::testing::ValuesIn(kRows),
                         RowName<::testing::TestParamInfo<Row>>);

class BusyOutcome : public ::testing::TestWithParam<Busy> {};
TEST_P(BusyOutcome, OfManyRuns) {
  PosixMachine machine;
  Check(machine, GetParam());
}
INSTANTIATE_TEST_SUITE_P(Installer, BusyOutcome, ::testing::ValuesIn(kBusyRows),
                         RowName<::testing::TestParamInfo<Busy>>);

}  // namespace
}  // namespace qv::test::e2e
