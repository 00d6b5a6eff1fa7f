// The POSIX dialog front ends: zenity through a fake program on the PATH, the
// terminal through a pseudo-terminal, and the non-interactive one through
// standard error. The terminal and non-interactive cases run this program
// again as a child (see kChildMode) so that it owns its controlling terminal
// or has none.
#include <sys/stat.h>

#include <gtest/gtest.h>

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
  qv::test::ScopedEnv env_{
      {{"DISPLAY", std::nullopt},
       {"WAYLAND_DISPLAY", std::nullopt},
       {"PATH", dir_.Join("a") + "::" + dir_.Join("b") + ":" + dir_.Join("bin") + ":/bin"},
       {"ZENITY_LOG", dir_.Join("zenity.log")},
       {"ZENITY_OUT", ""},
       {"ZENITY_STATUS", "0"}}};
};

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

}  // namespace
