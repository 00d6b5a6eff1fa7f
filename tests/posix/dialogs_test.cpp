// The POSIX dialog front ends: zenity and kdialog through fake programs on
// the PATH, the real kdialog on a virtual display answered with the
// keyboard, the terminal through a pseudo-terminal, and the non-interactive
// one through standard error and a notification service on a bus of the
// test's own. All but the fakes run this program again as a child (see
// kChildMode) so that it owns its controlling terminal or has none.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "common/AppInfo.h"
#include "platform/Dialogs.h"
#include "support/CatalogFixtures.h"
#include "support/TempDir.h"
#include "support/posix/Subprocess.h"

namespace {

using namespace qv::platform;

// Started with QV_DIALOG_SCRIPT set, this program shows the boxes of the
// script before any test runs, writes the answers, comma-ended, to the file
// QV_DIALOG_ANSWERS and ends. A box is flags, caption, default text and text,
// tab-separated, and ends with "|"; flags -1 is an input box (its answer is
// put in brackets).
[[maybe_unused]] const bool kChildMode = [] {
  const char* script = std::getenv("QV_DIALOG_SCRIPT");
  if (script == nullptr) return false;
  std::string answers;
  std::istringstream boxes(script);
  for (std::string flags, caption, proposed, text; std::getline(boxes, flags, '\t');) {
    std::getline(boxes, caption, '\t');
    std::getline(boxes, proposed, '\t');
    std::getline(boxes, text, '|');
    const int32_t f = std::stoi(flags);
    answers += f < 0 ? "[" + InputBox(text, caption, proposed) + "],"
                     : std::to_string(ShowMessageBox(text, f, caption)) + ",";
  }
  std::ofstream(std::getenv("QV_DIALOG_ANSWERS")) << answers;
  std::_Exit(0);
}();

// The PATH this test was started with, before a fixture narrows it.
const std::string kStartPath = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin:/bin";

// The full path of a program of the machine; fails the test when it is not
// installed (scripts/install-deps.sh installs what the tests run).
std::string Installed(const std::string& program) {
  std::istringstream folders(kStartPath);
  for (std::string folder; std::getline(folders, folder, ':');) {
    const std::string candidate = folder + "/" + program;
    if (!folder.empty() && access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  ADD_FAILURE() << program << " is not installed (scripts/install-deps.sh installs it)";
  return "/nonexistent/" + program;
}

// The environment for a program of the machine: the PATH it was started with.
qv::test::Environment MachineEnvironment(qv::test::Environment changes = {}) {
  changes["PATH"] = kStartPath;
  return qv::test::EnvironmentWith(changes);
}

// The NUL-ended arguments of a fake's log as one line, each in brackets.
std::string Arguments(const std::string& log) {
  std::string line;
  std::istringstream args(log);
  for (std::string arg; std::getline(args, arg, '\0');) line += "[" + arg + "]";
  return line;
}

class DialogsTest : public ::testing::Test {
 protected:
  // A zenity on the PATH that writes its arguments, each NUL-ended, to
  // zenity.log, prints $ZENITY_OUT and exits with $ZENITY_STATUS a while
  // after its output has ended.
  void SetUp() override {
    SetDialogFrontEnd(nullptr);
    dir_.Write("bin/zenity",
               "#!/bin/sh\nprintf '%s\\0' \"$@\" >\"$ZENITY_LOG\"\nprintf %s \"$ZENITY_OUT\"\n"
               "exec >&-\nsleep 0.2\nexit $ZENITY_STATUS\n");
    ASSERT_EQ(chmod(dir_.Join("bin/zenity").c_str(), 0755), 0);
    dir_.Write("a/zenity", "not a program");  // earlier on the PATH
    dir_.MakeFolder("b/zenity");
    // The same for kdialog, with KDIALOG_LOG, KDIALOG_OUT and KDIALOG_STATUS.
    dir_.Write("kde/kdialog",
               "#!/bin/sh\nprintf '%s\\0' \"$@\" >\"$KDIALOG_LOG\"\nprintf %s \"$KDIALOG_OUT\"\n"
               "exit $KDIALOG_STATUS\n");
    ASSERT_EQ(chmod(dir_.Join("kde/kdialog").c_str(), 0755), 0);
  }
  void TearDown() override { SetDialogFrontEnd(nullptr); }

  // The environment of this program run again as a child that shows the
  // boxes of `script` (see kChildMode), without a display.
  qv::test::Environment ChildEnvironment(const std::string& script) const {
    return qv::test::EnvironmentWith({{"DISPLAY", ""},
                                      {"QV_DIALOG_SCRIPT", script},
                                      {"QV_DIALOG_ANSWERS", dir_.Join("answers")}});
  }

  const std::vector<std::string> self_ = {std::filesystem::read_symlink("/proc/self/exe")};
  qv::test::TempDir dir_;
  qv::test::ScopedEnv env_{{{"DISPLAY", std::nullopt},
                            {"WAYLAND_DISPLAY", std::nullopt},
                            {"PATH", dir_.Join("a") + "::" + dir_.Join("b") + ":" +
                                         dir_.Join("bin") + ":" + dir_.Join("kde") + ":/bin"},
                            {"ZENITY_LOG", dir_.Join("zenity.log")},
                            {"ZENITY_OUT", ""},
                            {"ZENITY_STATUS", "0"},
                            {"KDIALOG_LOG", dir_.Join("kdialog.log")},
                            {"KDIALOG_OUT", ""},
                            {"KDIALOG_STATUS", "0"}}};
};

// On a display zenity goes first, before a kdialog on the PATH; kdialog is
// taken where zenity is missing, as on KDE Plasma and the Steam Deck's
// desktop mode.
TEST_F(DialogsTest, ZenityShowsEachKindOfBoxAsArgumentsAndMapsItsAnswer) {
  setenv("DISPLAY", ":99", 1);
  // Taken as it is: no shell, no markup, no option.
  const std::string text = "a\"b'c $(touch pwned) `touch pwned`; touch pwned\r\n--version <b>";
  const int32_t kYnc = kMbYesNoCancel | kMbIconExclamation;
  const struct {
    int32_t flags;  // -1: an input box, proposing "proposed"
    int status;
    const char* output;
    std::string expected;  // as Windows numbers the buttons
    std::string args;
  } rows[] = {
      {kMbIconExclamation, 1, "", "1", "--warning"},  // a closed OK box is still OK
      {kMbYesNo | kMbIconInformation, 0, "", "6", "--question --ok-label=Yes --cancel-label=No"},
      {kYnc, 1, "No\n", "7", "--question --extra-button=No --cancel-label=Cancel --ok-label=Yes"},
      {-1, 0, "s3cret pass\n", "s3cret pass", "--entry --hide-text --entry-text=proposed"},
  };
  for (const auto& row : rows) {
    setenv("ZENITY_STATUS", std::to_string(row.status).c_str(), 1);
    setenv("ZENITY_OUT", row.output, 1);
    const std::string answer = row.flags < 0
                                   ? InputBox(text, "", "proposed")
                                   : std::to_string(ShowMessageBox(text, row.flags, "--help"));
    EXPECT_EQ(answer, row.expected) << row.args;
    const std::string log = std::string(1, '\0') + dir_.Read("zenity.log");
    std::istringstream args(row.args + " --text= --title=");
    for (std::string arg; args >> arg;) {
      if (arg == "--text=") arg += text;
      if (arg == "--title=") arg += row.flags < 0 ? qv::kApplicationTitle : "--help";
      EXPECT_NE(log.find('\0' + arg + '\0'), std::string::npos) << arg;
    }
    std::filesystem::remove(dir_.Join("zenity.log"));
  }
  EXPECT_FALSE(dir_.Exists("pwned"));
  EXPECT_FALSE(dir_.Exists("kdialog.log")) << "kdialog was shown though zenity is there";
}

// kdialog gets the text as escaped rich text (it would render markup and
// turn "\n" into a line break), the icon through the kind of box, and the
// caption with "=", so that a caption like an option stays a caption.
TEST_F(DialogsTest, KdialogShowsEachKindOfBoxAsArgumentsAndMapsItsAnswer) {
  setenv("DISPLAY", ":99", 1);
  setenv("PATH", (dir_.Join("b") + ":" + dir_.Join("kde")).c_str(), 1);
  const std::string text = "C:\\new <b>&amp;</b>  two\r\n$(touch pwned)\n";
  const std::string shown =
      "<qt>C:&#92;new &lt;b&gt;&amp;amp;&lt;/b&gt; &nbsp;two<br>$(touch pwned)<br></qt>";
  const struct {
    const char* name;
    int32_t flags;  // -1: an input box, proposing "proposed"
    int status;
    const char* output;
    std::string expected;  // as Windows numbers the buttons
    const char* kind;
  } rows[] = {
      {"stop", kMbIconStop, 0, "", "1", "--error"},
      {"exclamation, closed", kMbIconExclamation, 2, "", "1", "--sorry"},
      {"information", kMbIconInformation, 0, "", "1", "--msgbox"},
      {"yes of yes/no", kMbYesNo | kMbIconInformation, 0, "", "6", "--yesno"},
      {"no of a warning", kMbYesNo | kMbIconExclamation, 1, "", "7", "--warningyesno"},
      {"no of three", kMbYesNoCancel | kMbIconExclamation, 1, "", "7", "--warningyesnocancel"},
      {"closed three", kMbYesNoCancel, 2, "", "2", "--yesnocancel"},
      {"no display for it", kMbYesNoCancel, 134, "", "2", "--yesnocancel"},
      {"password", -1, 0, "s3cret pass\n", "[s3cret pass]", "--password"},
      {"password, field left empty", -1, 0, "\n", "[proposed]", "--password"},
      {"password, cancelled", -1, 1, "", "[]", "--password"},
  };
  for (const auto& row : rows) {
    setenv("KDIALOG_STATUS", std::to_string(row.status).c_str(), 1);
    setenv("KDIALOG_OUT", row.output, 1);
    const std::string answer = row.flags < 0
                                   ? "[" + InputBox(text, "", "proposed") + "]"
                                   : std::to_string(ShowMessageBox(text, row.flags, "--help"));
    EXPECT_EQ(answer, row.expected) << row.name;
    const std::string title = row.flags < 0 ? qv::kApplicationTitle : "--help";
    EXPECT_EQ(Arguments(dir_.Read("kdialog.log")),
              "[--title=" + title + "][" + row.kind + "][" + shown + "]")
        << row.name;
  }
  EXPECT_FALSE(dir_.Exists("pwned"));
  EXPECT_FALSE(dir_.Exists("zenity.log"));
}

// Every kind of box answered by typing, one after the other on one terminal
// (a zenity on the PATH is not used without a display). The password is not
// echoed.
TEST_F(DialogsTest, TerminalAnswers) {
  const struct {
    int32_t flags;                   // -1: an input box
    const char* box;                 // caption, proposed text and text, tab-separated
    std::vector<std::string> typed;  // each after the prompt
    std::string expected;
  } rows[] = {
      {kMbYesNo | kMbIconInformation, "Cap\t\tOverwrite a.package?", {"y\n"}, "6"},
      {kMbYesNoCancel, "\t\tQ", {"maybe\n", " Cancel \n"}, "2"},  // asked until valid
      {kMbIconStop, "\t\tQ", {"\n"}, "1"},
      {-1, "\t\tPassword?", {"hunter2\n"}, "[hunter2]"},
      {-1, "T\tkept\tPassword?", {"\n"}, "[kept]"},  // Enter keeps the proposed text
  };
  std::string script, expected;
  for (const auto& row : rows) {
    script += std::to_string(row.flags) + "\t" + row.box + "|";
    expected += row.expected + ",";
  }
  qv::test::PtyProcess child(self_, ChildEnvironment(script));
  for (const auto& row : rows) {
    const int32_t buttons = row.flags & kMbButtonMask;
    for (const std::string& typed : row.typed) {
      ASSERT_TRUE(child.WaitFor(row.flags < 0         ? "Password?"
                                : buttons == kMbYesNo ? "[N]o? "
                                : buttons             ? "[C]ancel? "
                                                      : "Enter"))
          << child.Transcript();
      child.Type(typed);
    }
  }
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(dir_.Read("answers"), expected);
  const std::string& transcript = child.Transcript();
  EXPECT_NE(transcript.find("[Cap]\r\nOverwrite a.package?"), std::string::npos);
  EXPECT_EQ(transcript.find("hunter2"), std::string::npos);
  // Enter still ends the hidden line on the screen, before the next box.
  EXPECT_NE(transcript.find("Password? \r\n\r\n[T]\r\n"), std::string::npos);
  EXPECT_FALSE(dir_.Exists("zenity.log"));
}

TEST_F(DialogsTest, WithoutTerminalEachBoxIsOneLineAndGetsTheSafeAnswer) {
  const std::string boxes = "4\tQ\t\tOne\r\nline?|3\t\t\tOverwrite?|-1\t\tx\tPassword!|";
  qv::test::PtyProcess child(self_, ChildEnvironment(boxes), qv::test::Streams::kPipe);
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(dir_.Read("answers"), "7,2,[],");
  const std::string title = qv::kApplicationTitle;
  EXPECT_EQ(child.Transcript(),
            "[Q] One line?\n[" + title + "] Overwrite?\n[" + title + "] Password!\n");
}

// A display of its own: Xvfb on the first free display number, which it
// writes to its standard output.
class VirtualDisplay {
 public:
  VirtualDisplay()
      : server_({Installed("Xvfb"), "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
                 "1024x768x24"},
                MachineEnvironment(), qv::test::Streams::kPipe) {
    // The number is a line of digits alone; warnings may come before it.
    for (size_t from = 0; name_.empty() && server_.WaitFor("\n");) {
      const std::string& out = server_.Transcript();
      const size_t end = out.find('\n', from);
      const std::string line = out.substr(from, end - from);
      if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) {
        name_ = ":" + line;
      }
      from = end + 1;
    }
  }
  const std::string& Name() const { return name_; }

 private:
  qv::test::PtyProcess server_;
  std::string name_;
};

// The real kdialog on a virtual display, each box answered as a person
// does it with the keyboard (xdotool): its mnemonics, Escape, Enter, a typed
// password. The caption names the window; each row waits for its own.
TEST_F(DialogsTest, KdialogOnADisplayIsAnsweredFromTheKeyboard) {
  const VirtualDisplay display;
  ASSERT_FALSE(display.Name().empty()) << "Xvfb did not start";
  dir_.Link(Installed("kdialog"), "real/kdialog");
  const struct {
    const char* name;
    int32_t flags;  // -1: the password box
    std::string typed;
    const char* key;
    std::string expected;
  } rows[] = {
      {"the error box, Enter", kMbIconStop, "", "Return", "1"},
      {"the question, No", kMbYesNo | kMbIconInformation, "", "alt+n", "7"},
      {"the warning question, Yes", kMbYesNo | kMbIconExclamation, "", "alt+y", "6"},
      {"three buttons, Escape", kMbYesNoCancel, "", "Escape", "2"},
      {"the password", -1, "s3cret pass", "Return", "[s3cret pass]"},
  };
  std::string script, expected;
  for (size_t i = 0; i < std::size(rows); ++i) {
    script += std::to_string(rows[i].flags) + "\tBox" + std::to_string(i) + "\t\tText of " +
              rows[i].name + "|";
    expected += rows[i].expected + ",";
  }
  qv::test::PtyProcess child(
      self_,
      qv::test::EnvironmentWith({{"DISPLAY", display.Name()},
                                 {"PATH", dir_.Join("real")},
                                 {"QV_DIALOG_SCRIPT", script},
                                 {"QV_DIALOG_ANSWERS", dir_.Join("answers")}}),
      qv::test::Streams::kPipe);
  const auto xdotool = [&display](std::vector<std::string> args) {
    args.insert(args.begin(), Installed("xdotool"));
    qv::test::PtyProcess run(args, MachineEnvironment({{"DISPLAY", display.Name()}}),
                             qv::test::Streams::kPipe);
    return run.Wait(std::chrono::seconds(30)) == 0 ? std::string() : run.Transcript();
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    // The keys go to the focused window as typed ones; sent to the box's
    // window they would outlive it (and some programs ignore sent keys).
    // xdotool ends with an X error when a window it walks past goes away
    // meanwhile (the box before closing): then it looks again.
    std::string focused = "not looked for";
    for (int attempt = 0; attempt < 20 && !focused.empty(); ++attempt) {
      focused = xdotool({"search", "--sync", "--onlyvisible", "--name", "^Box" + std::to_string(i),
                         "windowfocus", "--sync", "%1"});
    }
    EXPECT_EQ(focused, "") << rows[i].name;
    if (!rows[i].typed.empty()) {
      EXPECT_EQ(xdotool({"type", "--delay", "20", rows[i].typed}), "") << rows[i].name;
    }
    EXPECT_EQ(xdotool({"key", rows[i].key}), "") << rows[i].name;
  }
  EXPECT_EQ(child.Wait(std::chrono::seconds(30)), 0) << child.Transcript();
  EXPECT_EQ(dir_.Read("answers"), expected);
}

// With no box possible the run's boxes go to standard error and, as one
// notification that each box replaces, to the desktop's notification
// service: here a service of the test's own on a bus of its own, reached
// through notify-send, through gdbus where notify-send is missing, through a
// notify-send too old to give ids (a notification per box then), or not at
// all.
TEST_F(DialogsTest, WithoutABoxTheNotificationServiceIsToldTheOutcome) {
  dir_.Write("bus.conf",
             "<busconfig><type>session</type><listen>unix:path=" + dir_.Join("bus") +
                 "</listen><auth>EXTERNAL</auth><policy context=\"default\">"
                 "<allow send_destination=\"*\"/><allow receive_sender=\"*\"/><allow own=\"*\"/>"
                 "</policy></busconfig>\n");
  qv::test::PtyProcess bus({Installed("dbus-daemon"), "--config-file=" + dir_.Join("bus.conf"),
                            "--nofork", "--print-address"},
                           MachineEnvironment(), qv::test::Streams::kPipe);
  ASSERT_TRUE(bus.WaitFor(",guid=")) << bus.Transcript();
  ASSERT_TRUE(bus.WaitFor("\n")) << bus.Transcript();
  const std::string& printed = bus.Transcript();
  const size_t start = printed.find("unix:path=");
  const std::string address = printed.substr(start, printed.find('\n', start) - start);
  qv::test::PtyProcess service(
      {Installed("python3"),
       std::string(std::getenv("QV_SOURCE_DIR")) + "/tests/posix/notification_service.py", address,
       dir_.Join("notifications")},
      MachineEnvironment(), qv::test::Streams::kPipe);
  ASSERT_TRUE(service.WaitFor("ready\n")) << service.Transcript();

  // An old notify-send, as libnotify's before 0.8: no --print-id.
  dir_.Write("old/notify-send",
             "#!/bin/sh\nfor a; do case $a in --print-id|--replace-id=*) "
             "echo \"Unknown option $a\" >&2; exit 1;; esac; done\nexec " +
                 Installed("notify-send") + " \"$@\"\n");
  ASSERT_EQ(chmod(dir_.Join("old/notify-send").c_str(), 0755), 0);
  dir_.Link(Installed("notify-send"), "notify-send/notify-send");
  dir_.Link(Installed("gdbus"), "gdbus/gdbus");
  dir_.MakeFolder("none");

  // The boxes of a run whose package was there already, as the run shows
  // them; the question's text holds markup and a Latin-1 letter.
  const std::string question = "Replace \"Caf\xE9 <1> & 2.package\"?";
  const std::string script = "68\t\t\t" + question + "|16\t\t\t" +
                             "An error has occurred while trying to install the modular stairs.|";
  const std::string head = " | app=Quorvane Modular Stair Installer | icon=";
  const std::string asked = "Replace \"Caf\xC3\xA9 &lt;1&gt; &amp; 2.package\"?";
  const std::string first = head + "dialog-question | urgency=1 | actions=0 | timeout=-1 | " +
                            "summary=Quorvane Modular Stair Installer | body=" + asked +
                            " (No: no box could be shown to ask)";
  const std::string second =
      head + "dialog-error | urgency=2 | actions=0 | timeout=-1 | " +
      "summary=Quorvane Modular Stair Installer | body=" + asked +
      " (No: no box could be shown to ask)\\nAn error has occurred while trying to install the "
      "modular stairs.";
  const struct {
    const char* name;
    const char* path;
    std::string expected;  // the service's log
  } rows[] = {
      {"notify-send", "notify-send", "0 -> 1" + first + "\n1 -> 1" + second + "\n"},
      {"gdbus", "gdbus", "0 -> 2" + first + "\n2 -> 2" + second + "\n"},
      {"an old notify-send", "old", "0 -> 3" + first + "\n0 -> 4" + second + "\n"},
      {"no helper", "none", ""},
  };
  for (const auto& row : rows) {
    dir_.Write("notifications", "");
    qv::test::PtyProcess child(
        self_,
        qv::test::EnvironmentWith({{"DISPLAY", ""},
                                   {"PATH", dir_.Join(row.path)},
                                   {"DBUS_SESSION_BUS_ADDRESS", address},
                                   {"QV_DIALOG_SCRIPT", script},
                                   {"QV_DIALOG_ANSWERS", dir_.Join("answers")}}),
        qv::test::Streams::kPipe);
    EXPECT_EQ(child.Wait(), 0) << row.name;
    EXPECT_EQ(dir_.Read("answers"), "7,1,") << row.name;
    // Standard error keeps its lines, whatever the notifications.
    EXPECT_EQ(child.Transcript(), "[" + std::string(qv::kApplicationTitle) + "] " + question +
                                      "\n[" + qv::kApplicationTitle +
                                      "] An error has occurred while trying to install the "
                                      "modular stairs.\n")
        << row.name;
    EXPECT_EQ(dir_.Read("notifications"), row.expected) << row.name;
  }
}

}  // namespace
