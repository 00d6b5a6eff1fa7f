// Runs a program as a child process for end-to-end tests: with its own
// environment, in a session of its own (so it has no controlling terminal),
// or on a pseudo-terminal that the test types into.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace qv::test {

struct ProcessResult {
  int exitStatus = -1;  // the status passed to exit, or 128 + signal
  std::string standardOutput;
  std::string standardError;
};

using Environment = std::map<std::string, std::string>;

// The current environment with `changes` applied; an empty value removes the
// variable.
Environment EnvironmentWith(const Environment& changes);

// Runs `argv` to its end without a controlling terminal, standard input from
// /dev/null. Killed after `timeout`.
ProcessResult RunProcess(const std::vector<std::string>& argv, const Environment& environment,
                         std::chrono::milliseconds timeout = std::chrono::seconds(60));

// Runs `argv` to its end sharing this process's terminal and standard
// streams, as a shell would; gives its exit status.
int RunAttached(const std::vector<std::string>& argv, const Environment& environment);

// A child on a pseudo-terminal that is its controlling terminal.
class PtyProcess {
 public:
  PtyProcess(const std::vector<std::string>& argv, const Environment& environment);
  ~PtyProcess();
  PtyProcess(const PtyProcess&) = delete;
  PtyProcess& operator=(const PtyProcess&) = delete;

  // Reads the terminal until `text` has appeared in everything read so far
  // (after the previous match); false when the child ended or time ran out.
  bool WaitFor(const std::string& text,
               std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Types `text` as the user would.
  void Type(const std::string& text);
  // Waits for the child's end and gives its exit status (128 + signal).
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));
  // Everything the child wrote to the terminal so far.
  const std::string& Transcript() const { return transcript_; }

 private:
  bool ReadSome(std::chrono::milliseconds timeout);

  int master_ = -1;
  int pid_ = -1;
  std::optional<int> status_;
  std::string transcript_;
  size_t matched_ = 0;
};

}  // namespace qv::test
