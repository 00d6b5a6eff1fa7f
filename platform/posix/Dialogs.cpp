// Message boxes and the input box on POSIX. The first box of a run picks one
// front end:
//  1. graphical boxes through zenity, when a display is there and zenity is
//     on the PATH;
//  2. else the controlling terminal (/dev/tty), when one can be opened;
//  3. else no person can answer: each box becomes one line on standard error
//     and gets the safe answer, so nothing is replaced without a Yes.
// Texts are 8-bit and written as they are.

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/DialogsInternal.h"

namespace qv::platform {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value ? std::string(value) : std::string();
}

int32_t SafeAnswer(int32_t flags) {
  switch (flags & kMbButtonMask) {
    case kMbYesNo:
      return kIdNo;
    case kMbYesNoCancel:
      return kIdCancel;
    default:
      return kIdOk;
  }
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

// An owned file descriptor.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(Fd&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) {
      Close();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;

  int Get() const { return fd_; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

// ---- zenity ---------------------------------------------------------------

// The full path of `program` in one of the PATH folders, or "".
std::string FindOnPath(const std::string& program) {
  const std::string path = Env("PATH");
  size_t start = 0;
  while (start <= path.size()) {
    size_t end = path.find(':', start);
    if (end == std::string::npos) end = path.size();
    const std::string folder = path.substr(start, end - start);
    start = end + 1;
    if (folder.empty()) continue;  // the current folder is never searched
    std::string candidate = folder;
    candidate += '/';
    candidate += program;
    struct stat info {};
    if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
        ::access(candidate.c_str(), X_OK) == 0) {
      return candidate;
    }
  }
  return {};
}

struct ProcessResult {
  int status = -1;  // the exit status; -1 when it did not run or was killed
  std::string output;
};

// Runs `program` with `args` directly, without a shell, so no text of a box
// can be taken as a command; collects its standard output.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args) {
  ProcessResult result;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return result;
  Fd readEnd(pipeFds[0]);
  Fd writeEnd(pipeFds[1]);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) return result;
  if (pid == 0) {
    // Only async-signal-safe calls from here on.
    ::dup2(writeEnd.Get(), STDOUT_FILENO);
    const int devNull = ::open("/dev/null", O_RDONLY);
    if (devNull >= 0) ::dup2(devNull, STDIN_FILENO);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  writeEnd.Close();
  char chunk[4096];
  for (;;) {
    const ssize_t n = ::read(readEnd.Get(), chunk, sizeof chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    result.output.append(chunk, static_cast<size_t>(n));
  }
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return result;
  }
  if (WIFEXITED(status)) result.status = WEXITSTATUS(status);
  return result;
}

class ZenityFrontEnd : public DialogFrontEnd {
 public:
  explicit ZenityFrontEnd(std::string program) : program_(std::move(program)) {}

  int32_t MessageBox(const std::string& text, int32_t flags, const std::string& caption) override {
    const int32_t buttons = flags & kMbButtonMask;
    std::vector<std::string> args;
    if (buttons == kMbYesNo || buttons == kMbYesNoCancel) {
      args.emplace_back("--question");
    } else {
      switch (flags & kMbIconMask) {
        case kMbIconStop:
          args.emplace_back("--error");
          break;
        case kMbIconExclamation:
          args.emplace_back("--warning");
          break;
        default:
          args.emplace_back("--info");
      }
    }
    // Texts are shown as they are, never read as markup.
    args.emplace_back("--no-markup");
    args.push_back("--title=" + caption);
    args.push_back("--text=" + text);
    if (buttons == kMbYesNo) {
      args.emplace_back("--ok-label=Yes");
      args.emplace_back("--cancel-label=No");
    } else if (buttons == kMbYesNoCancel) {
      // Closing the window answers like zenity's cancel button; making that
      // button "Cancel" and "No" the extra one keeps a closed window safe.
      args.emplace_back("--ok-label=Yes");
      args.emplace_back("--cancel-label=Cancel");
      args.emplace_back("--extra-button=No");
    }
    const ProcessResult run = RunProgram(program_, args);
    if (buttons == kMbYesNo) return run.status == 0 ? kIdYes : kIdNo;
    if (buttons == kMbYesNoCancel) {
      if (run.status == 0) return kIdYes;
      // An extra button prints its label and exits with 1.
      if (run.status == 1 && StripNewline(run.output) == "No") return kIdNo;
      return kIdCancel;
    }
    return kIdOk;
  }

  std::string InputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText) override {
    // The installer's only input box asks for an archive password.
    std::vector<std::string> args = {"--entry", "--hide-text", "--title=" + title,
                                     "--text=" + prompt};
    if (!defaultText.empty()) args.push_back("--entry-text=" + defaultText);
    const ProcessResult run = RunProgram(program_, args);
    if (run.status != 0) return {};
    return StripNewline(run.output);
  }

 private:
  static std::string StripNewline(std::string text) {
    if (!text.empty() && text.back() == '\n') text.pop_back();
    return text;
  }

  std::string program_;
};

// ---- terminal -------------------------------------------------------------

class TerminalFrontEnd : public DialogFrontEnd {
 public:
  explicit TerminalFrontEnd(Fd tty) : tty_(std::move(tty)) {}

  int32_t MessageBox(const std::string& text, int32_t flags, const std::string& caption) override {
    WriteAll(tty_.Get(), "\n[" + caption + "]\n" + text + "\n");
    const int32_t buttons = flags & kMbButtonMask;
    for (;;) {
      std::string prompt;
      if (buttons == kMbYesNo) {
        prompt = "[Y]es / [N]o? ";
      } else if (buttons == kMbYesNoCancel) {
        prompt = "[Y]es / [N]o / [C]ancel? ";
      } else {
        prompt = "Press Enter to continue. ";
      }
      WriteAll(tty_.Get(), prompt);
      const std::optional<std::string> line = ReadLine();
      if (!line) {
        WriteAll(tty_.Get(), "\n");
        return SafeAnswer(flags);  // nobody is there to answer
      }
      if (buttons != kMbYesNo && buttons != kMbYesNoCancel) return kIdOk;
      const std::string answer = Lower(Trim(*line));
      if (answer == "y" || answer == "yes") return kIdYes;
      if (answer == "n" || answer == "no") return kIdNo;
      if (buttons == kMbYesNoCancel && (answer == "c" || answer == "cancel")) return kIdCancel;
    }
  }

  std::string InputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText) override {
    WriteAll(tty_.Get(), "\n[" + title + "]\n");
    // The only input box asks for a password: echo goes off before the
    // prompt, so nothing typed after it is shown.
    termios saved{};
    const bool canHide = ::tcgetattr(tty_.Get(), &saved) == 0;
    if (canHide) {
      termios quiet = saved;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      quiet.c_lflag |= ECHONL;
      ::tcsetattr(tty_.Get(), TCSAFLUSH, &quiet);
    }
    WriteAll(tty_.Get(), prompt + " ");
    const std::optional<std::string> line = ReadLine();
    if (canHide) ::tcsetattr(tty_.Get(), TCSANOW, &saved);
    if (!line) {
      WriteAll(tty_.Get(), "\n");
      return {};
    }
    // Enter alone keeps the proposed text, as the field starts with it.
    return line->empty() ? defaultText : *line;
  }

 private:
  // One line without its line end; nullopt at the end of input.
  std::optional<std::string> ReadLine() {
    std::string line;
    for (;;) {
      char c = 0;
      const ssize_t n = ::read(tty_.Get(), &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        if (line.empty()) return std::nullopt;
        return line;
      }
      if (c == '\n') break;
      line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }

  static std::string Trim(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t") - first + 1);
  }

  static std::string Lower(std::string s) {
    for (char& c : s) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
  }

  Fd tty_;
};

// ---- nobody there ---------------------------------------------------------

class NonInteractiveFrontEnd : public DialogFrontEnd {
 public:
  int32_t MessageBox(const std::string& text, int32_t flags, const std::string& caption) override {
    WriteLine(caption, text);
    return SafeAnswer(flags);
  }

  std::string InputBox(const std::string& prompt, const std::string& title,
                       const std::string& /*defaultText*/) override {
    WriteLine(title, prompt);
    return {};
  }

 private:
  static void WriteLine(const std::string& caption, const std::string& text) {
    std::string flat;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;  // CR LF
      flat += (text[i] == '\r' || text[i] == '\n') ? ' ' : text[i];
    }
    WriteAll(STDERR_FILENO, "[" + caption + "] " + flat + "\n");
  }
};

}  // namespace

std::shared_ptr<DialogFrontEnd> CreateDefaultFrontEnd() {
  if (!Env("DISPLAY").empty() || !Env("WAYLAND_DISPLAY").empty()) {
    std::string zenity = FindOnPath("zenity");
    if (!zenity.empty()) return std::make_shared<ZenityFrontEnd>(std::move(zenity));
  }
  Fd tty(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY));
  if (tty.Get() >= 0) return std::make_shared<TerminalFrontEnd>(std::move(tty));
  return std::make_shared<NonInteractiveFrontEnd>();
}

// Boxes are modal and synchronous here: there is no message queue to pump.
void ProcessPendingMessages() {}

}  // namespace qv::platform
