#include "support/posix/Subprocess.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

extern char** environ;

namespace qv::test {

namespace {

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (auto& s : strings) pointers.push_back(s.data());
  pointers.push_back(nullptr);
  return pointers;
}

std::vector<std::string> Flatten(const Environment& environment) {
  std::vector<std::string> flat;
  for (const auto& [name, value] : environment) flat.push_back(name + "=" + value);
  return flat;
}

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return -1;
}

// Execs in the child; only async-signal-safe calls before execve.
[[noreturn]] void Exec(std::vector<char*>& argv, std::vector<char*>& envp) {
  execve(argv[0], argv.data(), envp.data());
  _exit(127);
}

}  // namespace

Environment EnvironmentWith(const Environment& changes) {
  Environment result;
  for (char** e = environ; *e; ++e) {
    std::string entry(*e);
    size_t eq = entry.find('=');
    if (eq == std::string::npos) continue;
    result[entry.substr(0, eq)] = entry.substr(eq + 1);
  }
  for (const auto& [name, value] : changes) {
    if (value.empty()) {
      result.erase(name);
    } else {
      result[name] = value;
    }
  }
  return result;
}

ProcessResult RunProcess(const std::vector<std::string>& argvIn, const Environment& environment,
                         std::chrono::milliseconds timeout) {
  std::vector<std::string> argvStrings = argvIn;
  std::vector<std::string> envStrings = Flatten(environment);
  auto argv = Pointers(argvStrings);
  auto envp = Pointers(envStrings);

  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
  // posix_spawn: no copy of this (possibly large) process is made for the
  // moment between fork and exec.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  // A session of its own: no controlling terminal, so the installer cannot
  // open /dev/tty.
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) {
    close(out[0]);
    close(out[1]);
    close(err[0]);
    close(err[1]);
    throw std::runtime_error("posix_spawn: " + std::string(std::strerror(spawned)));
  }
  close(out[1]);
  close(err[1]);

  ProcessResult result;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
  int open = 2;
  char buffer[65536];
  while (open > 0) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timedOut = true;
      kill(pid, SIGKILL);
      break;
    }
    int ready = poll(fds, 2, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0) continue;
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n > 0) {
        (i == 0 ? result.standardOutput : result.standardError)
            .append(buffer, static_cast<size_t>(n));
      } else if (n == 0 || errno != EINTR) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
      }
    }
  }
  for (auto& fd : fds) {
    if (fd.fd >= 0) close(fd.fd);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  result.exitStatus = DecodeStatus(status);
  return result;
}

int RunAttached(const std::vector<std::string>& argvIn, const Environment& environment) {
  std::vector<std::string> argvStrings = argvIn;
  std::vector<std::string> envStrings = Flatten(environment);
  auto argv = Pointers(argvStrings);
  auto envp = Pointers(envStrings);
  pid_t pid = fork();
  if (pid < 0) throw std::runtime_error("fork");
  if (pid == 0) Exec(argv, envp);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return DecodeStatus(status);
}

PtyProcess::PtyProcess(const std::vector<std::string>& argvIn, const Environment& environment) {
  std::vector<std::string> argvStrings = argvIn;
  std::vector<std::string> envStrings = Flatten(environment);
  auto argv = Pointers(argvStrings);
  auto envp = Pointers(envStrings);
  winsize size{};
  size.ws_row = 40;
  size.ws_col = 120;
  pid_t pid = forkpty(&master_, nullptr, nullptr, &size);
  if (pid < 0) throw std::runtime_error("forkpty");
  if (pid == 0) Exec(argv, envp);
  pid_ = pid;
  fcntl(master_, F_SETFD, FD_CLOEXEC);
}

PtyProcess::~PtyProcess() {
  if (!status_ && pid_ > 0) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  if (master_ >= 0) close(master_);
}

bool PtyProcess::ReadSome(std::chrono::milliseconds timeout) {
  pollfd fd{master_, POLLIN, 0};
  int ready = poll(&fd, 1, static_cast<int>(timeout.count()));
  if (ready <= 0) return false;
  char buffer[4096];
  ssize_t n = read(master_, buffer, sizeof buffer);
  if (n <= 0) return false;  // EIO once the child has closed the terminal
  transcript_.append(buffer, static_cast<size_t>(n));
  return true;
}

bool PtyProcess::WaitFor(const std::string& text, std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    size_t at = transcript_.find(text, matched_);
    if (at != std::string::npos) {
      matched_ = at + text.size();
      return true;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !ReadSome(left)) return false;
  }
}

void PtyProcess::Type(const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = write(master_, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error("write to pseudo-terminal");
    done += static_cast<size_t>(n);
  }
}

int PtyProcess::Wait(std::chrono::milliseconds timeout) {
  if (status_) return *status_;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    int status = 0;
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      while (ReadSome(std::chrono::milliseconds(0))) {
      }
      status_ = DecodeStatus(status);
      return *status_;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      status_ = 128 + SIGKILL;
      return *status_;
    }
    ReadSome(std::chrono::milliseconds(50));  // keep the terminal drained
  }
}

}  // namespace qv::test
