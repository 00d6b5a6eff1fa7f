// The POSIX dialog front ends: zenity through a fake program on the PATH, the
// terminal through a pseudo-terminal, and the non-interactive one through
// standard error. The terminal and non-interactive cases run in a child
// process so they own their controlling terminal (or have none).
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "common/AppInfo.h"
#include "platform/Dialogs.h"
#include "support/ScriptedDialogs.h"
#include "support/TempDir.h"

namespace {

using namespace qv::platform;

// Saves the variables a test changes and puts them back afterwards; the front
// end chosen in the test is dropped too.
class DialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "PATH", "FAKE_ZENITY_LOG",
                             "FAKE_ZENITY_STDOUT", "FAKE_ZENITY_STATUS"}) {
      const char* value = std::getenv(name);
      saved_.emplace_back(name, value ? std::optional<std::string>(value) : std::nullopt);
    }
    SetDialogFrontEnd(nullptr);
  }
  void TearDown() override {
    SetDialogFrontEnd(nullptr);
    for (const auto& [name, value] : saved_) {
      if (value) {
        setenv(name.c_str(), value->c_str(), 1);
      } else {
        unsetenv(name.c_str());
      }
    }
  }

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
    const std::string log = dir_.Read("zenity.log");
    std::vector<std::string> call;
    std::string arg;
    for (char c : log) {
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

  qv::test::TempDir dir_;
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

bool Contains(const std::vector<std::string>& args, const std::string& arg) {
  for (const std::string& a : args) {
    if (a == arg) return true;
  }
  return false;
}

// ---- zenity ---------------------------------------------------------------

TEST_F(DialogsTest, ZenityShowsEachKindOfBoxAndMapsItsAnswer) {
  InstallFakeZenity();
  setenv("DISPLAY", ":99", 1);
  unsetenv("WAYLAND_DISPLAY");
  struct Row {
    const char* name;
    int32_t flags;
    int status;
    std::string output;
    int32_t expected;
    std::vector<std::string> mustHave;
  };
  const Row rows[] = {
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
       kMbYesNoCancel | kMbIconExclamation,
       0,
       "",
       kIdYes,
       {"--question", "--extra-button=No", "--cancel-label=Cancel"}},
      {"yes/no/cancel answered no", kMbYesNoCancel | kMbIconExclamation, 1, "No\n", kIdNo, {}},
      {"yes/no/cancel cancelled", kMbYesNoCancel | kMbIconExclamation, 1, "", kIdCancel, {}},
      {"yes/no/cancel window closed", kMbYesNoCancel, 5, "", kIdCancel, {}},
  };
  size_t calls = 0;
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Zenity(row.status, row.output);
    EXPECT_EQ(ShowMessageBox("Overwrite x.package?", row.flags, "The caption"), row.expected);
    const auto log = ZenityCalls();
    ASSERT_EQ(log.size(), ++calls);
    const auto& args = log.back();
    EXPECT_TRUE(Contains(args, "--text=Overwrite x.package?"));
    EXPECT_TRUE(Contains(args, "--title=The caption"));
    EXPECT_TRUE(Contains(args, "--no-markup"));
    for (const std::string& arg : row.mustHave) EXPECT_TRUE(Contains(args, arg)) << arg;
  }
}

TEST_F(DialogsTest, ZenityAsksForThePasswordWithHiddenText) {
  InstallFakeZenity();
  unsetenv("DISPLAY");
  setenv("WAYLAND_DISPLAY", "wayland-0", 1);
  Zenity(0, "s3cret pass\n");
  EXPECT_EQ(InputBox("Please Enter The Password!", "", ""), "s3cret pass");
  Zenity(1, "");
  EXPECT_EQ(InputBox("Please Enter The Password!", "", "proposed"), "");
  const auto log = ZenityCalls();
  ASSERT_EQ(log.size(), 2u);
  for (const char* arg : {"--entry", "--hide-text", "--text=Please Enter The Password!"}) {
    EXPECT_TRUE(Contains(log[0], arg)) << arg;
  }
  EXPECT_TRUE(Contains(log[0], std::string("--title=") + qv::kApplicationTitle));
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
  const auto log = ZenityCalls();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(Contains(log[0], "--text=" + text));
  EXPECT_TRUE(Contains(log[0], "--title=--help"));
  EXPECT_FALSE(Contains(log[0], "--version"));
  EXPECT_FALSE(dir_.Exists("pwned"));
}

TEST_F(DialogsTest, FrontEndStaysChosenUntilReset) {
  InstallFakeZenity();
  setenv("DISPLAY", ":99", 1);
  Zenity(0, "");
  EXPECT_EQ(ShowMessageBox("first", kMbYesNo, ""), kIdYes);
  unsetenv("DISPLAY");
  EXPECT_EQ(ShowMessageBox("second", kMbYesNo, ""), kIdYes);
  EXPECT_EQ(ZenityCalls().size(), 2u);
}

// ---- children -------------------------------------------------------------

// Runs `body` in a child and hands back the text it returns through a pipe.
// With a pseudo-terminal the child is the session leader with the terminal as
// its controlling terminal; without one it has no terminal at all and its
// standard error goes to a pipe.
class Child {
 public:
  Child(bool withTerminal, const std::function<std::string()>& body) {
    int result[2];
    int error[2];
    if (pipe(result) != 0 || pipe(error) != 0) return;
    pid_ = withTerminal ? forkpty(&master_, nullptr, nullptr, nullptr) : fork();
    if (pid_ == 0) {
      close(result[0]);
      close(error[0]);
      if (!withTerminal) {
        setsid();
        dup2(error[1], STDERR_FILENO);
      }
      unsetenv("DISPLAY");
      unsetenv("WAYLAND_DISPLAY");
      SetDialogFrontEnd(nullptr);
      const std::string text = body();
      ssize_t done = 0;
      while (done < static_cast<ssize_t>(text.size())) {
        const ssize_t n =
            write(result[1], text.data() + done, text.size() - static_cast<size_t>(done));
        if (n <= 0) break;
        done += n;
      }
      _exit(0);
    }
    close(result[1]);
    close(error[1]);
    result_ = result[0];
    error_ = error[0];
  }
  ~Child() {
    for (int fd : {master_, result_, error_}) {
      if (fd >= 0) close(fd);
    }
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  bool Started() const { return pid_ > 0; }

  // Reads the terminal until `text` shows up after the previous match; false
  // when the child ended first or nothing came for ten seconds.
  bool WaitFor(const std::string& text) {
    for (;;) {
      const size_t at = transcript_.find(text, matched_);
      if (at != std::string::npos) {
        matched_ = at + text.size();
        return true;
      }
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 10000) <= 0) return false;
      char chunk[512];
      const ssize_t n = read(master_, chunk, sizeof chunk);
      if (n <= 0) return false;
      transcript_.append(chunk, static_cast<size_t>(n));
    }
  }

  void Type(const std::string& text) {
    ASSERT_EQ(write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // Waits for the end; the child's text, or nullopt when it did not end
  // cleanly.
  std::optional<std::string> Finish() {
    std::string text = ReadAll(result_, 10000);
    error_text_ = ReadAll(error_, 10000);
    if (master_ >= 0) {
      // Drain what is left on the terminal; EIO once the child is gone.
      for (;;) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 1000) <= 0) break;
        char chunk[512];
        const ssize_t n = read(master_, chunk, sizeof chunk);
        if (n <= 0) break;
        transcript_.append(chunk, static_cast<size_t>(n));
      }
    }
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return std::nullopt;
    status_ = status;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return text;
  }

  const std::string& Transcript() const { return transcript_; }
  const std::string& StandardError() const { return error_text_; }

 private:
  static std::string ReadAll(int fd, int timeoutMs) {
    std::string out;
    if (fd < 0) return out;
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, timeoutMs) <= 0) break;
      char chunk[512];
      const ssize_t n = read(fd, chunk, sizeof chunk);
      if (n <= 0) break;
      out.append(chunk, static_cast<size_t>(n));
    }
    return out;
  }

  pid_t pid_ = -1;
  int master_ = -1;
  int result_ = -1;
  int error_ = -1;
  std::optional<int> status_;
  std::string transcript_;
  size_t matched_ = 0;
  std::string error_text_;
};

std::string Box(const std::string& text, int32_t flags, const std::string& caption = "Cap") {
  return std::to_string(ShowMessageBox(text, flags, caption));
}

// ---- terminal -------------------------------------------------------------

TEST_F(DialogsTest, TerminalAsksAgainUntilTheAnswerIsValid) {
  // A zenity on the PATH is not used without a display.
  InstallFakeZenity();
  Child child(true,
              [] { return Box("Overwrite a.package?", kMbYesNoCancel | kMbIconExclamation); });
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitFor("[C]ancel? "));
  child.Type("maybe\n");
  ASSERT_TRUE(child.WaitFor("[C]ancel? "));
  child.Type(" Cancel \n");
  EXPECT_EQ(child.Finish(), std::to_string(kIdCancel));
  EXPECT_NE(child.Transcript().find("[Cap]"), std::string::npos);
  EXPECT_NE(child.Transcript().find("Overwrite a.package?"), std::string::npos);
  EXPECT_TRUE(ZenityCalls().empty());
}

TEST_F(DialogsTest, TerminalAnswers) {
  struct Row {
    const char* name;
    int32_t flags;
    const char* prompt;
    std::string typed;
    int32_t expected;
  };
  const Row rows[] = {
      {"yes", kMbYesNo | kMbIconInformation, "[N]o? ", "y\n", kIdYes},
      {"no in capitals", kMbYesNo, "[N]o? ", "NO\n", kIdNo},
      {"end of input on yes/no", kMbYesNo, "[N]o? ", "\x04", kIdNo},
      {"end of input on yes/no/cancel", kMbYesNoCancel, "[C]ancel? ", "\x04", kIdCancel},
      {"yes on yes/no/cancel", kMbYesNoCancel, "[C]ancel? ", "yes\n", kIdYes},
      {"no on yes/no/cancel", kMbYesNoCancel, "[C]ancel? ", "n\n", kIdNo},
      {"cancel is not an answer to yes/no", kMbYesNo, "[N]o? ", "c\nn\n", kIdNo},
      {"OK box", kMbIconStop, "Enter", "\n", kIdOk},
      {"end of input on an OK box", kMbIconStop, "Enter", "\x04", kIdOk},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    Child child(true, [&row] { return Box("Question", row.flags); });
    ASSERT_TRUE(child.Started());
    ASSERT_TRUE(child.WaitFor(row.prompt));
    child.Type(row.typed);
    EXPECT_EQ(child.Finish(), std::to_string(row.expected));
  }
}

TEST_F(DialogsTest, TerminalReadsThePasswordWithoutEcho) {
  Child child(true, [] {
    std::string answers = InputBox("Please Enter The Password!", "", "");
    return answers + "|" + Box("after", kMbYesNo);
  });
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitFor("Please Enter The Password!"));
  child.Type("hunter2\n");
  // Echo is back for the next question.
  ASSERT_TRUE(child.WaitFor("[N]o? "));
  child.Type("yes\n");
  EXPECT_EQ(child.Finish(), "hunter2|" + std::to_string(kIdYes));
  EXPECT_NE(child.Transcript().find(qv::kApplicationTitle), std::string::npos);
  EXPECT_EQ(child.Transcript().find("hunter2"), std::string::npos);
  EXPECT_NE(child.Transcript().find("yes"), std::string::npos);
}

TEST_F(DialogsTest, TerminalInputBoxEndOfInputAndDefault) {
  Child child(true, [] {
    std::string answers = InputBox("Password?", "T", "");
    return answers + "|" + InputBox("Again?", "T", "kept");
  });
  ASSERT_TRUE(child.Started());
  ASSERT_TRUE(child.WaitFor("Password?"));
  child.Type("\x04");
  ASSERT_TRUE(child.WaitFor("Again?"));
  child.Type("\n");
  EXPECT_EQ(child.Finish(), "|kept");
}

// ---- nobody there ---------------------------------------------------------

TEST_F(DialogsTest, WithoutTerminalEachBoxIsOneLineAndGetsTheSafeAnswer) {
  // One statement per box: the order of the lines is part of the check.
  Child child(false, [] {
    std::string answers = Box("Line one\r\nline two\nthree", kMbIconInformation, "Info");
    answers += "," + Box("Overwrite?", kMbYesNo | kMbIconExclamation, "Q");
    answers += "," + Box("Overwrite?", kMbYesNoCancel | kMbIconExclamation, "");
    answers += ",[" + InputBox("Please Enter The Password!", "", "x") + "]";
    return answers;
  });
  ASSERT_TRUE(child.Started());
  EXPECT_EQ(child.Finish(), std::to_string(kIdOk) + "," + std::to_string(kIdNo) + "," +
                                std::to_string(kIdCancel) + ",[]");
  EXPECT_EQ(child.StandardError(),
            "[Info] Line one line two three\n"
            "[Q] Overwrite?\n"
            "[" +
                std::string(qv::kApplicationTitle) +
                "] Overwrite?\n"
                "[" +
                std::string(qv::kApplicationTitle) + "] Please Enter The Password!\n");
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
