#include "support/posix/Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace qv::test {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Starts `argv` with posix_spawn (no copy of this possibly large process is
// made between fork and exec). `input`, when given, is opened as its
// standard input; `out` and `err`, when not -1, become its standard output
// and error. In a session of its own it has no controlling terminal, unless
// its input is a terminal, which then becomes it.
pid_t Spawn(std::vector<std::string> argv, const Environment& environment, const char* input,
            int out, int err, bool session) {
  std::vector<std::string> flat;
  for (const auto& [name, value] : environment) flat.push_back(name + "=" + value);
  std::vector<char*> args = {nullptr}, envp = {nullptr};
  for (auto& s : argv) args.insert(args.end() - 1, s.data());
  for (auto& s : flat) envp.insert(envp.end() - 1, s.data());
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (input) posix_spawn_file_actions_addopen(&actions, 0, input, O_RDWR, 0);
  if (out >= 0) posix_spawn_file_actions_adddup2(&actions, out, 1);
  if (err >= 0) posix_spawn_file_actions_adddup2(&actions, err, 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, session ? POSIX_SPAWN_SETSID : 0);
  pid_t pid = -1;
  const int failed = posix_spawn(&pid, args[0], &actions, &attributes, args.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (failed != 0) throw std::runtime_error("cannot start " + argv[0]);
  return pid;
}

// Waits for `pid` until `deadline`, then kills it; gives its exit status,
// 128 + signal for a killed one. `meanwhile` runs between the looks.
int Reap(pid_t pid, Clock::time_point deadline, const std::function<void()>& meanwhile = {}) {
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() >= deadline) kill(pid, SIGKILL);
    meanwhile ? meanwhile() : std::this_thread::sleep_for(milliseconds(5));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string ReadAll(int fd) {
  std::ifstream in("/proc/self/fd/" + std::to_string(fd), std::ios::binary);
  std::string text(std::istreambuf_iterator<char>(in), {});
  close(fd);
  return text;
}

}  // namespace

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

ProcessResult RunProcess(const std::vector<std::string>& argv, const Environment& environment,
                         milliseconds timeout) {
  // The streams go to files in memory, read once the child has ended.
  const int out = memfd_create("stdout", MFD_CLOEXEC), err = memfd_create("stderr", MFD_CLOEXEC);
  const int status =
      Reap(Spawn(argv, environment, "/dev/null", out, err, true), Clock::now() + timeout);
  return {status, ReadAll(out), ReadAll(err)};
}

int RunAttached(const std::vector<std::string>& argv, const Environment& environment) {
  return Reap(Spawn(argv, environment, nullptr, -1, -1, false), Clock::time_point::max());
}

PtyProcess::PtyProcess(const std::vector<std::string>& argv, const Environment& environment)
    : master_(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC)) {
  // ptsname_r: ptsname's static buffer is shared by the threads that start
  // several runs at once, and two children would share one terminal.
  char slave[64];
  if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0 ||
      ptsname_r(master_, slave, sizeof slave) != 0) {
    throw std::runtime_error("no pseudo-terminal");
  }
  pid_ = Spawn(argv, environment, slave, 0, 0, true);
}

PtyProcess::~PtyProcess() {
  if (!status_) Reap(pid_, Clock::now());
  close(master_);
}

bool PtyProcess::ReadSome(milliseconds timeout) {
  pollfd fd{master_, POLLIN, 0};
  char buffer[4096];
  // read fails (EIO) once the child has closed the terminal.
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
  // The terminal is kept drained meanwhile, so the child never blocks on it.
  if (!status_)
    status_ = Reap(pid_, Clock::now() + timeout, [this] { ReadSome(milliseconds(20)); });
  while (ReadSome(milliseconds(0))) {
  }
  return *status_;
}

}  // namespace qv::test
