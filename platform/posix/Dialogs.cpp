// Message boxes and the input box on POSIX. The first box of a run picks one
// front end:
//  1. graphical boxes through zenity, when a display is there and zenity is
//     on the PATH (GNOME and most other desktops);
//  2. else through kdialog, on a display with kdialog on the PATH (KDE
//     Plasma, the Steam Deck's desktop mode: they bring no zenity);
//  3. else the controlling terminal (/dev/tty), when one can be opened;
//  4. else no person can answer: each box becomes one line on standard error
//     and gets the safe answer, so nothing is replaced without a Yes. A
//     program that a browser starts has no terminal and its standard error
//     goes nowhere anyone looks, so the boxes of the run so far are also
//     sent as one desktop notification, which each box updates: what stays
//     on the screen is the outcome.
// Texts are 8-bit and written as they are, except where a receiver needs
// more (kdialog reads rich text, D-Bus wants UTF-8).

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

#include "common/AppInfo.h"
#include "common/Text.h"
#include "platform/Dialogs.h"
#include "platform/DialogsInternal.h"
#include "platform/Process.h"
#include "platform/posix/PosixSupport.h"

namespace qv::platform {

namespace {

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

// ---- helper programs ------------------------------------------------------

// The full path of `program` in one of the PATH folders, or "".
std::string FindOnPath(const std::string& program) {
  const std::string path = GetEnvironment("PATH");
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
// can be taken as a command; collects its standard output. A quiet program's
// standard error goes to /dev/null: the complaints of a helper that finds no
// notification service are nothing the player can act on.
ProcessResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         bool quiet = false) {
  ProcessResult result;
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return result;
  posix::UniqueFd readEnd(pipeFds[0]);
  posix::UniqueFd writeEnd(pipeFds[1]);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  const pid_t pid = ::fork();
  if (pid < 0) return result;
  if (pid == 0) {
    // Only async-signal-safe calls from here on.
    ::dup2(writeEnd.Get(), STDOUT_FILENO);
    const int devNull = ::open("/dev/null", O_RDWR);
    if (devNull >= 0) {
      ::dup2(devNull, STDIN_FILENO);
      if (quiet) ::dup2(devNull, STDERR_FILENO);
    }
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  writeEnd.Reset();
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

std::string StripNewline(std::string text) {
  if (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// ---- zenity ---------------------------------------------------------------

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
  std::string program_;
};

// ---- kdialog --------------------------------------------------------------

// kdialog takes a text with a tag in it for rich text, and turns every "\n"
// it finds (a backslash and an n) into a line break. A text that is rich
// text from its first character on, with everything escaped, is shown
// exactly: markup, backslashes, line ends and runs of spaces included.
std::string KdialogText(const std::string& text) {
  std::string rich = "<qt>";
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    switch (c) {
      case '&':
        rich += "&amp;";
        break;
      case '<':
        rich += "&lt;";
        break;
      case '>':
        rich += "&gt;";
        break;
      case '\\':
        rich += "&#92;";
        break;
      case '\r':
        if (i + 1 < text.size() && text[i + 1] == '\n') break;  // CR LF is one line end
        rich += "<br>";
        break;
      case '\n':
        rich += "<br>";
        break;
      case ' ':
        // Rich text folds runs of spaces into one.
        rich += i > 0 && text[i - 1] == ' ' ? "&nbsp;" : " ";
        break;
      default:
        rich += c;
    }
  }
  return rich + "</qt>";
}

class KdialogFrontEnd : public DialogFrontEnd {
 public:
  explicit KdialogFrontEnd(std::string program) : program_(std::move(program)) {}

  int32_t MessageBox(const std::string& text, int32_t flags, const std::string& caption) override {
    const int32_t buttons = flags & kMbButtonMask;
    const bool exclamation = (flags & kMbIconMask) == kMbIconExclamation;
    // kdialog's question boxes carry a question mark, their "warning"
    // variants the exclamation sign; its message boxes the three icons.
    const char* kind = "--msgbox";
    if (buttons == kMbYesNo) {
      kind = exclamation ? "--warningyesno" : "--yesno";
    } else if (buttons == kMbYesNoCancel) {
      kind = exclamation ? "--warningyesnocancel" : "--yesnocancel";
    } else if ((flags & kMbIconMask) == kMbIconStop) {
      kind = "--error";
    } else if (exclamation) {
      kind = "--sorry";
    }
    // The "=" form: a caption that starts with "-" is still the caption.
    const ProcessResult run = RunProgram(program_, {"--title=" + caption, kind, KdialogText(text)});
    // 0 is Yes (or OK), 1 No, 2 Cancel; Escape and the window's close
    // button give 2 in every kind of box. Anything else, a kdialog that
    // could not open the display included, gets the safe answer.
    if (buttons != kMbYesNo && buttons != kMbYesNoCancel) return kIdOk;
    if (run.status == 0) return kIdYes;
    if (run.status == 1) return kIdNo;
    return SafeAnswer(flags);
  }

  std::string InputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText) override {
    // The installer's only input box asks for an archive password. kdialog's
    // password box proposes no text: OK on an empty field keeps the proposed
    // one, as Enter does on the terminal.
    const ProcessResult run =
        RunProgram(program_, {"--title=" + title, "--password", KdialogText(prompt)});
    if (run.status != 0) return {};
    const std::string typed = StripNewline(run.output);
    return typed.empty() ? defaultText : typed;
  }

 private:
  std::string program_;
};

// ---- terminal -------------------------------------------------------------

class TerminalFrontEnd : public DialogFrontEnd {
 public:
  explicit TerminalFrontEnd(posix::UniqueFd tty) : tty_(std::move(tty)) {}

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
      const std::string answer = text::ToLowerAscii(text::TrimSpaces(*line, " \t"));
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

  posix::UniqueFd tty_;
};

// ---- desktop notifications ------------------------------------------------

// D-Bus carries UTF-8 only, and a helper refuses a whole message over one
// bad byte. A byte outside a valid UTF-8 sequence is taken as Latin-1, which
// keeps the letters of a Western code page readable.
std::string ToUtf8(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    size_t length = 0;
    if (lead < 0x80) {
      length = 1;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      length = 4;
    }
    bool valid = length > 0 && i + length <= text.size();
    for (size_t k = 1; valid && k < length; ++k) {
      valid = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
    }
    if (valid) {
      out.append(text, i, length);
      i += length;
    } else {
      out += static_cast<char>(0xC0 | (lead >> 6));
      out += static_cast<char>(0x80 | (lead & 0x3F));
      ++i;
    }
  }
  return out;
}

// Notification bodies may hold simple markup, which servers render.
std::string EscapeMarkup(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '&') {
      out += "&amp;";
    } else if (c == '<') {
      out += "&lt;";
    } else if (c == '>') {
      out += "&gt;";
    } else {
      out += c;
    }
  }
  return out;
}

// gdbus reads each argument as a GVariant in its text form: a string must be
// a quoted literal, or a quote or backslash in it would change its meaning.
std::string GVariantString(const std::string& text) {
  std::string literal = "'";
  for (const char c : text) {
    if (c == '\'' || c == '\\') {
      literal += '\\';
      literal += c;
    } else if (c == '\n') {
      literal += "\\n";
    } else {
      literal += c;
    }
  }
  return literal + "'";
}

// The notification id in a helper's output: notify-send prints it alone,
// gdbus prints the reply as "(uint32 7,)". 0 (a new notification every
// time) when there is none.
uint32_t NotificationId(const std::string& output) {
  const std::string kTyped = "uint32 ";
  const size_t typed = output.find(kTyped);
  uint32_t value = 0;
  for (size_t i = typed == std::string::npos ? 0 : typed + kTyped.size();
       i < output.size() && output[i] >= '0' && output[i] <= '9'; ++i) {
    value = value * 10 + static_cast<uint32_t>(output[i] - '0');
  }
  return value;
}

// Whether a session bus is there to carry a notification: named in the
// environment, or at the place a systemd session keeps it. Without one the
// helpers would only fail, or start a bus of their own through dbus-launch
// on an X display, where no notification service listens.
bool SessionBusKnown() {
  if (!GetEnvironment("DBUS_SESSION_BUS_ADDRESS").empty()) return true;
  const std::string runtime = GetEnvironment("XDG_RUNTIME_DIR");
  struct stat info {};
  return !runtime.empty() && ::stat((runtime + "/bus").c_str(), &info) == 0 &&
         S_ISSOCK(info.st_mode);
}

// Shows the boxes of a run as one notification of the freedesktop
// notification service, replaced at every box. notify-send goes first;
// gdbus speaks the protocol itself where notify-send is missing or too old
// to give the notification's id (before libnotify 0.8); an old notify-send
// alone still shows each box, as a notification of its own. Which one works
// is found at the first box and kept for the run.
class Notifier {
 public:
  struct Box {
    std::string summary;
    std::string line;  // what the box said, and the answer it got
    const char* icon;  // a freedesktop icon name
    bool urgent;       // critical: most servers keep it until it is closed
  };

  void Tell(const Box& box) {
    if (!body_.empty()) body_ += '\n';
    body_ += EscapeMarkup(ToUtf8(box.line));
    const Box shown{ToUtf8(box.summary), body_, box.icon, box.urgent};
    if (sender_ == Sender::kUnknown && !SessionBusKnown()) sender_ = Sender::kNone;
    if (sender_ == Sender::kUnknown) {
      for (const Sender candidate :
           {Sender::kNotifySend, Sender::kGdbus, Sender::kPlainNotifySend}) {
        if (Send(candidate, shown)) {
          sender_ = candidate;
          return;
        }
      }
      sender_ = Sender::kNone;  // no service to tell: the next box need not try again
      return;
    }
    if (sender_ != Sender::kNone) Send(sender_, shown);
  }

 private:
  enum class Sender { kUnknown, kNotifySend, kGdbus, kPlainNotifySend, kNone };

  bool Send(Sender sender, const Box& box) {
    const std::string program = FindOnPath(sender == Sender::kGdbus ? "gdbus" : "notify-send");
    if (program.empty()) return false;
    std::vector<std::string> args;
    if (sender == Sender::kGdbus) {
      args = {"call",
              "--session",
              "--timeout=10",
              "--dest=org.freedesktop.Notifications",
              "--object-path=/org/freedesktop/Notifications",
              "--method=org.freedesktop.Notifications.Notify",
              GVariantString(kApplicationTitle),
              "uint32 " + std::to_string(id_),
              GVariantString(box.icon),
              GVariantString(box.summary),
              GVariantString(box.line),
              "@as []",
              std::string("@a{sv} {'urgency': <byte ") + (box.urgent ? "2" : "1") + ">}",
              "int32 -1"};
    } else {
      args = {std::string("--app-name=") + kApplicationTitle, std::string("--icon=") + box.icon,
              std::string("--urgency=") + (box.urgent ? "critical" : "normal")};
      if (sender == Sender::kNotifySend) {
        args.emplace_back("--print-id");
        if (id_ != 0) args.push_back("--replace-id=" + std::to_string(id_));
      }
      args.emplace_back("--");
      args.push_back(box.summary);
      args.push_back(box.line);
    }
    const ProcessResult run = RunProgram(program, args, /*quiet=*/true);
    if (run.status != 0) return false;
    if (sender != Sender::kPlainNotifySend) id_ = NotificationId(run.output);
    return true;
  }

  std::string body_;
  uint32_t id_ = 0;
  Sender sender_ = Sender::kUnknown;
};

// ---- nobody there ---------------------------------------------------------

class NonInteractiveFrontEnd : public DialogFrontEnd {
 public:
  int32_t MessageBox(const std::string& text, int32_t flags, const std::string& caption) override {
    WriteLine(caption, text);
    const int32_t answer = SafeAnswer(flags);
    const int32_t buttons = flags & kMbButtonMask;
    const int32_t icon = flags & kMbIconMask;
    if (buttons == kMbYesNo || buttons == kMbYesNoCancel) {
      notifier_.Tell({caption, Lines(text) + (answer == kIdNo ? " (No" : " (Cancel") + kUnasked,
                      "dialog-question", false});
    } else {
      notifier_.Tell({caption, Lines(text),
                      icon == kMbIconStop          ? "dialog-error"
                      : icon == kMbIconExclamation ? "dialog-warning"
                                                   : "dialog-information",
                      icon == kMbIconStop});
    }
    return answer;
  }

  std::string InputBox(const std::string& prompt, const std::string& title,
                       const std::string& /*defaultText*/) override {
    WriteLine(title, prompt);
    notifier_.Tell({title, Lines(prompt) + " (no answer" + kUnasked, "dialog-password", false});
    return {};
  }

 private:
  static constexpr const char* kUnasked = ": no box could be shown to ask)";

  static void WriteLine(const std::string& caption, const std::string& text) {
    std::string flat;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;  // CR LF
      flat += (text[i] == '\r' || text[i] == '\n') ? ' ' : text[i];
    }
    WriteAll(STDERR_FILENO, "[" + caption + "] " + flat + "\n");
  }

  // The text with CR LF (or a lone CR) as a line end of the notification.
  static std::string Lines(const std::string& text) {
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
      lines += text[i] == '\r' ? '\n' : text[i];
    }
    return lines;
  }

  Notifier notifier_;
};

}  // namespace

std::shared_ptr<DialogFrontEnd> CreateDefaultFrontEnd() {
  if (!GetEnvironment("DISPLAY").empty() || !GetEnvironment("WAYLAND_DISPLAY").empty()) {
    std::string zenity = FindOnPath("zenity");
    if (!zenity.empty()) return std::make_shared<ZenityFrontEnd>(std::move(zenity));
    std::string kdialog = FindOnPath("kdialog");
    if (!kdialog.empty()) return std::make_shared<KdialogFrontEnd>(std::move(kdialog));
  }
  posix::UniqueFd tty(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY));
  if (tty.Get() >= 0) return std::make_shared<TerminalFrontEnd>(std::move(tty));
  return std::make_shared<NonInteractiveFrontEnd>();
}

// Boxes are modal and synchronous here: there is no message queue to pump.
void ProcessPendingMessages() {}

}  // namespace qv::platform
