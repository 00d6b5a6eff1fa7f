#include "support/posix/Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <stdexcept>

extern char** environ;

namespace qv::test {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

Environment EnvironmentWith(const Environment& changes) {
  Environment result;
  for (char** e = environ; *e; ++e) {
    const std::string entry(*e);
    const size_t eq = entry.find('=');
    if (eq != std::string::npos) result[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [name, value] : changes) {
    result[name] = value;
    if (value.empty()) result.erase(name);
  }
  return result;
}

// Started with posix_spawn: no copy of this possibly large process is made
// between fork and exec. In a session of its own the child has no
// controlling terminal until it opens one, which its standard input then is.
PtyProcess::PtyProcess(const std::vector<std::string>& argv, const Environment& environment,
                       Streams streams) {
  // The arguments, a null, the variables, a null: the two arrays posix_spawn takes.
  std::vector<std::string> strings(argv);
  for (const auto& [name, value] : environment) strings.push_back(name + "=" + value);
  std::vector<char*> pointers;
  for (auto& s : strings) pointers.push_back(s.data());
  pointers.insert(pointers.begin() + static_cast<long>(argv.size()), nullptr);
  pointers.push_back(nullptr);
  // ptsname_r: ptsname's static buffer is shared by the threads that start
  // several runs at once, and two children would share one terminal.
  char input[64] = "/dev/null";
  int pipe[2] = {-1, -1};
  const bool terminal = streams == Streams::kTerminal;
  if (terminal
          ? (master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) < 0 || grantpt(master_) != 0 ||
                unlockpt(master_) != 0 || ptsname_r(master_, input, sizeof input) != 0
          : streams == Streams::kPipe && pipe2(pipe, O_CLOEXEC) != 0) {
    throw std::runtime_error("no pseudo-terminal or pipe");
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  if (streams != Streams::kInherited) {
    posix_spawn_file_actions_addopen(&actions, 0, input, O_RDWR, 0);
    posix_spawn_file_actions_adddup2(&actions, terminal ? 0 : pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, terminal ? 0 : pipe[1], 2);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  }
  const int failed = posix_spawn(&pid_, pointers[0], &actions, &attributes, pointers.data(),
                                 pointers.data() + argv.size() + 1);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (streams == Streams::kPipe) {
    master_ = pipe[0];
    close(pipe[1]);
  }
  if (failed != 0) throw std::runtime_error("cannot start " + argv[0]);
}

PtyProcess::~PtyProcess() {
  if (status_ < 0) Wait(milliseconds(0));
  close(master_);
}

bool PtyProcess::ReadSome(milliseconds timeout) {
  pollfd fd{master_, POLLIN, 0};
  char buffer[4096];
  // read fails (EIO) or ends once the child has closed the terminal or pipe.
  const ssize_t n = poll(&fd, 1, static_cast<int>(timeout.count())) > 0
                        ? read(master_, buffer, sizeof buffer)
                        : 0;
  if (n > 0) transcript_.append(buffer, static_cast<size_t>(n));
  return n > 0;
}

bool PtyProcess::WaitFor(const std::string& text, milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  size_t at;
  while ((at = transcript_.find(text, matched_)) == std::string::npos) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || !ReadSome(left)) return false;
  }
  matched_ = at + text.size();
  return true;
}

void PtyProcess::Type(const std::string& text) {
  if (write(master_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    throw std::runtime_error("cannot type on the pseudo-terminal");
  }
}

int PtyProcess::Wait(milliseconds timeout) {
  const auto deadline = Clock::now() + timeout;
  int status = 0;
  // The output is kept drained meanwhile, so the child never blocks on it.
  while (status_ < 0 && waitpid(pid_, &status, WNOHANG) == 0) {
    if (Clock::now() >= deadline) kill(pid_, SIGKILL);
    ReadSome(milliseconds(20));
  }
  if (status_ < 0) status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  while (ReadSome(milliseconds(0))) {
  }
  return status_;
}

// The demo's run: on this process's own terminal and standard streams, as a
// shell would start it, so that a person answers the boxes (poll ignores the
// missing terminal while Wait waits).
int RunAttached(const std::vector<std::string>& argv, const Environment& environment) {
  return PtyProcess(argv, environment, Streams::kInherited).Wait(std::chrono::hours(24));
}

}  // namespace qv::test
