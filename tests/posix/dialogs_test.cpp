// The POSIX dialog front ends: zenity through a fake program on the PATH, the
// terminal through a pseudo-terminal, and the non-interactive one through
// standard error. The terminal and non-interactive cases run this program
// again as a child (see kChildMode) so that it owns its controlling terminal
// or has none.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "common/AppInfo.h"
#include "platform/Dialogs.h"
#include "support/CatalogFixtures.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"
#include "support/posix/Subprocess.h"

namespace {

using namespace qv::platform;
using qv::test::Environment;

constexpr char kField = '\x1f';
constexpr char kRecord = '\x1e';

// Started with QV_DIALOG_SCRIPT set, this program shows the boxes of the
// script before any test runs, writes the answers, comma-separated, to the
// file QV_DIALOG_ANSWERS and ends. A record is "B", flags, caption, text or
// "I", title, default, prompt (an input box's answer is put in brackets).
[[maybe_unused]] const bool kChildMode = [] {
  const char* script = std::getenv("QV_DIALOG_SCRIPT");
  if (script == nullptr) return false;
  std::string answers;
  std::istringstream records(script);
  for (std::string record; std::getline(records, record, kRecord);) {
    std::vector<std::string> f;
    std::istringstream fields(record);
    for (std::string field; std::getline(fields, field, kField);) f.push_back(field);
    f.resize(4);
    if (!answers.empty()) answers += ",";
    answers += f[0] == "I" ? "[" + InputBox(f[3], f[1], f[2]) + "]"
                           : std::to_string(ShowMessageBox(f[3], std::stoi(f[1]), f[2]));
  }
  std::ofstream(std::getenv("QV_DIALOG_ANSWERS"), std::ios::binary) << answers;
  std::_Exit(0);
}();

std::string Box(const std::string& text, int32_t flags, const std::string& caption = "Cap") {
  return std::string("B") + kField + std::to_string(flags) + kField + caption + kField + text +
         kRecord;
}
std::string Input(const std::string& prompt, const std::string& title, const std::string& def) {
  return std::string("I") + kField + title + kField + def + kField + prompt + kRecord;
}

std::optional<std::string> CurrentPath() {
  const char* path = std::getenv("PATH");
  return path ? std::optional<std::string>(path) : std::nullopt;
}

bool Contains(const std::vector<std::string>& args, const std::string& arg) {
  return std::find(args.begin(), args.end(), arg) != args.end();
}

// Saves the variables a test changes and drops the chosen front end.
class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override { SetDialogFrontEnd(nullptr); }
  void TearDown() override { SetDialogFrontEnd(nullptr); }

  // A zenity that writes each argument, NUL-ended, to a log, then prints
  // $FAKE_ZENITY_STDOUT and exits with $FAKE_ZENITY_STATUS.
  void InstallFakeZenity() {
    dir_.Write("bin/zenity",
               "#!/bin/sh\n"
               "for a in \"$@\"; do printf '%s\\0' \"$a\" >> \"$FAKE_ZENITY_LOG\"; done\n"
               "printf '\\n' >> \"$FAKE_ZENITY_LOG\"\n"
               "printf '%s' \"$FAKE_ZENITY_STDOUT\"\n"
               "exit \"${FAKE_ZENITY_STATUS:-0}\"\n");
    ASSERT_EQ(chmod(dir_.Join("bin/zenity").c_str(), 0755), 0);
    const char* path = std::getenv("PATH");
    setenv("PATH", (dir_.Join("bin") + ":" + (path ? path : "/usr/bin:/bin")).c_str(), 1);
    setenv("FAKE_ZENITY_LOG", dir_.Join("zenity.log").c_str(), 1);
  }
  void Zenity(int status, const std::string& output) {
    setenv("FAKE_ZENITY_STATUS", std::to_string(status).c_str(), 1);
    setenv("FAKE_ZENITY_STDOUT", output.c_str(), 1);
  }
  // The arguments of each call of the fake zenity.
  std::vector<std::vector<std::string>> ZenityCalls() const {
    std::vector<std::vector<std::string>> calls;
    if (!dir_.Exists("zenity.log")) return calls;
    std::vector<std::string> call;
    std::string arg;
    for (char c : dir_.Read("zenity.log")) {
      if (c == '\0') {
        call.push_back(arg);
        arg.clear();
      } else if (c == '\n' && arg.empty()) {
        calls.push_back(call);
        call.clear();
      } else {
        arg += c;
      }
    }
    return calls;
  }

  // The environment of a child that runs `script` with no display.
  Environment ChildEnvironment(const std::string& script) const {
    return qv::test::EnvironmentWith({{"DISPLAY", ""},
                                      {"WAYLAND_DISPLAY", ""},
                                      {"QV_DIALOG_SCRIPT", script},
                                      {"QV_DIALOG_ANSWERS", dir_.Join("answers")}});
  }
  std::vector<std::string> Self() const {
    return {std::filesystem::read_symlink("/proc/self/exe").string()};
  }

  qv::test::TempDir dir_;
  qv::test::ScopedEnv env_{{{"DISPLAY", std::nullopt},
                            {"WAYLAND_DISPLAY", std::nullopt},
                            {"PATH", CurrentPath()},
                            {"FAKE_ZENITY_LOG", std::nullopt},
                            {"FAKE_ZENITY_STDOUT", std::nullopt},
                            {"FAKE_ZENITY_STATUS", std::nullopt}}};
};

// ---- zenity ---------------------------------------------------------------

TEST_F(DialogsTest, ZenityShowsEachKindOfBoxAndMapsItsAnswer) {
  InstallFakeZenity();
  setenv("DISPLAY", ":99", 1);
  const int32_t kYnc = kMbYesNoCancel | kMbIconExclamation;
  const struct {
    const char* name;
    int32_t flags;
    int status;
    std::string output;
    int32_t expected;
    std::vector<std::string> mustHave;
  } rows[] = {
      {"stop icon", kMbIconStop, 0, "", kIdOk, {"--error"}},
      {"information icon", kMbIconInformation, 0, "", kIdOk, {"--info"}},
      {"exclamation icon", kMbIconExclamation, 0, "", kIdOk, {"--warning"}},
      {"closed OK box is still OK", kMbIconInformation, 1, "", kIdOk, {"--info"}},
      {"yes/no answered yes",
       kMbYesNo | kMbIconInformation,
       0,
       "",
       kIdYes,
       {"--question", "--ok-label=Yes", "--cancel-label=No"}},
      {"yes/no answered no", kMbYesNo | kMbIconExclamation, 1, "", kIdNo, {"--question"}},
      {"yes/no when zenity fails", kMbYesNo, 255, "", kIdNo, {"--question"}},
      {"yes/no/cancel answered yes",
       kYnc,
       0,
       "",
       kIdYes,
       {"--question", "--extra-button=No", "--cancel-label=Cancel"}},
      {"yes/no/cancel answered no", kYnc, 1, "No\n", kIdNo, {}},
      {"yes/no/cancel cancelled", kYnc, 1, "", kIdCancel, {}},
      {"yes/no/cancel window closed", kMbYesNoCancel, 5, "", kIdCancel, {}},
  };
  size_t calls = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    Zenity(row.status, row.output);
    EXPECT_EQ(ShowMessageBox("Overwrite x.package?", row.flags, "The caption"), row.expected);
    const auto log = ZenityCalls();
    ASSERT_EQ(log.size(), ++calls);
    std::vector<std::string> expected = row.mustHave;
    expected.insert(expected.end(),
                    {"--text=Overwrite x.package?", "--title=The caption", "--no-markup"});
    for (const std::string& arg : expected) EXPECT_TRUE(Contains(log.back(), arg)) << arg;
  }
}

TEST_F(DialogsTest, ZenityAsksForThePasswordWithHiddenText) {
  InstallFakeZenity();
  setenv("WAYLAND_DISPLAY", "wayland-0", 1);
  Zenity(0, "s3cret pass\n");
  EXPECT_EQ(InputBox("Please Enter The Password!", "", ""), "s3cret pass");
  Zenity(1, "");
  EXPECT_EQ(InputBox("Please Enter The Password!", "", "proposed"), "");
  const auto log = ZenityCalls();
  ASSERT_EQ(log.size(), 2u);
  for (const std::string& arg : {std::string("--entry"), std::string("--hide-text"),
                                 std::string("--text=Please Enter The Password!"),
                                 std::string("--title=") + qv::kApplicationTitle}) {
    EXPECT_TRUE(Contains(log[0], arg)) << arg;
  }
  EXPECT_TRUE(Contains(log[1], "--entry-text=proposed"));
}

TEST_F(DialogsTest, ZenityGetsHostileTextAsOneArgumentAndRunsNothingElse) {
  InstallFakeZenity();
  setenv("DISPLAY", ":0", 1);
  Zenity(0, "");
  const std::string pwned = dir_.Join("pwned");
  const std::string text = "a\"b'c $(touch " + pwned + ") `touch " + pwned + "`; touch " + pwned +
                           "\r\n--version <b>bold</b>";
  EXPECT_EQ(ShowMessageBox(text, kMbIconInformation, "--help"), kIdOk);
  // The front end stays chosen until it is reset, display or not.
  unsetenv("DISPLAY");
  EXPECT_EQ(ShowMessageBox("second", kMbYesNo, ""), kIdYes);
  const auto log = ZenityCalls();
  ASSERT_EQ(log.size(), 2u);
  EXPECT_TRUE(Contains(log[0], "--text=" + text));
  EXPECT_TRUE(Contains(log[0], "--title=--help"));
  EXPECT_FALSE(Contains(log[0], "--version"));
  EXPECT_FALSE(dir_.Exists("pwned"));
}

// ---- terminal -------------------------------------------------------------

TEST_F(DialogsTest, TerminalAnswers) {
  // A zenity on the PATH is not used without a display.
  InstallFakeZenity();
  const struct {
    const char* name;
    int32_t flags;
    const char* prompt;
    std::vector<std::string> typed;  // each after the prompt
    int32_t expected;
  } rows[] = {
      {"yes", kMbYesNo | kMbIconInformation, "[N]o? ", {"y\n"}, kIdYes},
      {"no in capitals", kMbYesNo, "[N]o? ", {"NO\n"}, kIdNo},
      {"end of input on yes/no", kMbYesNo, "[N]o? ", {"\x04"}, kIdNo},
      {"end of input on yes/no/cancel", kMbYesNoCancel, "[C]ancel? ", {"\x04"}, kIdCancel},
      {"yes on yes/no/cancel", kMbYesNoCancel, "[C]ancel? ", {"yes\n"}, kIdYes},
      {"no on yes/no/cancel", kMbYesNoCancel, "[C]ancel? ", {"n\n"}, kIdNo},
      {"asked again until valid",
       kMbYesNoCancel,
       "[C]ancel? ",
       {"maybe\n", " Cancel \n"},
       kIdCancel},
      {"cancel is not an answer to yes/no", kMbYesNo, "[N]o? ", {"c\n", "n\n"}, kIdNo},
      {"OK box", kMbIconStop, "Enter", {"\n"}, kIdOk},
      {"end of input on an OK box", kMbIconStop, "Enter", {"\x04"}, kIdOk},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    qv::test::PtyProcess child(Self(), ChildEnvironment(Box("Overwrite a.package?", row.flags)));
    for (const std::string& typed : row.typed) {
      ASSERT_TRUE(child.WaitFor(row.prompt));
      child.Type(typed);
    }
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_EQ(dir_.Read("answers"), std::to_string(row.expected));
    EXPECT_NE(child.Transcript().find("[Cap]"), std::string::npos);
    EXPECT_NE(child.Transcript().find("Overwrite a.package?"), std::string::npos);
  }
  EXPECT_TRUE(ZenityCalls().empty());
}

TEST_F(DialogsTest, TerminalInputBoxHidesThePasswordAndKeepsTheDefault) {
  qv::test::PtyProcess child(
      Self(),
      ChildEnvironment(Input("Please Enter The Password!", "", "") + Box("after", kMbYesNo) +
                       Input("Password?", "T", "") + Input("Again?", "T", "kept")));
  ASSERT_TRUE(child.WaitFor("Please Enter The Password!"));
  child.Type("hunter2\n");
  // Echo is back for the next question.
  ASSERT_TRUE(child.WaitFor("[N]o? "));
  child.Type("yes\n");
  ASSERT_TRUE(child.WaitFor("Password?"));
  child.Type("\x04");
  ASSERT_TRUE(child.WaitFor("Again?"));
  child.Type("\n");
  EXPECT_EQ(child.Wait(), 0);
  EXPECT_EQ(dir_.Read("answers"), "[hunter2]," + std::to_string(kIdYes) + ",[],[kept]");
  EXPECT_NE(child.Transcript().find(qv::kApplicationTitle), std::string::npos);
  EXPECT_EQ(child.Transcript().find("hunter2"), std::string::npos);
  EXPECT_NE(child.Transcript().find("yes"), std::string::npos);
}

// ---- nobody there ---------------------------------------------------------

TEST_F(DialogsTest, WithoutTerminalEachBoxIsOneLineAndGetsTheSafeAnswer) {
  const qv::test::ProcessResult result = qv::test::RunProcess(
      Self(), ChildEnvironment(Box("Line one\r\nline two\nthree", kMbIconInformation, "Info") +
                               Box("Overwrite?", kMbYesNo | kMbIconExclamation, "Q") +
                               Box("Overwrite?", kMbYesNoCancel | kMbIconExclamation, "") +
                               Input("Please Enter The Password!", "", "x")));
  EXPECT_EQ(result.exitStatus, 0);
  EXPECT_EQ(dir_.Read("answers"), std::to_string(kIdOk) + "," + std::to_string(kIdNo) + "," +
                                      std::to_string(kIdCancel) + ",[]");
  const std::string title = qv::kApplicationTitle;
  EXPECT_EQ(result.standardError, "[Info] Line one line two three\n[Q] Overwrite?\n[" + title +
                                      "] Overwrite?\n[" + title + "] Please Enter The Password!\n");
}

// ---- the scripted front end of the tests ----------------------------------

TEST(ScriptedDialogsTest, AnswersInOrderAndCountsWhatItHadToGuess) {
  qv::test::ScopedDialogs dialogs;
  dialogs->Answer(kIdYes);
  dialogs->AnswerInput("pw");
  EXPECT_EQ(ShowMessageBox("one", kMbYesNoCancel, "C"), kIdYes);
  EXPECT_EQ(InputBox("p", "", "d"), "pw");
  EXPECT_EQ(ShowMessageBox("two", kMbYesNoCancel, "C"), kIdCancel);
  EXPECT_EQ(ShowMessageBox("three", kMbYesNo, "C"), kIdNo);
  EXPECT_EQ(InputBox("p", "", "d"), "");
  EXPECT_EQ(dialogs->UnansweredCount(), 3u);
  EXPECT_EQ(dialogs->PendingAnswers(), 0u);
  ASSERT_EQ(dialogs->Boxes().size(), 5u);
  EXPECT_EQ(dialogs->Boxes()[0].text, "one");
  EXPECT_EQ(dialogs->Boxes()[0].flags, kMbYesNoCancel);
  EXPECT_TRUE(dialogs->Boxes()[1].input);
  EXPECT_EQ(dialogs->Boxes()[1].caption, qv::kApplicationTitle);
  EXPECT_EQ(dialogs->Boxes()[1].defaultText, "d");
}

}  // namespace
