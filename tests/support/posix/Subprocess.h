// Runs a program as a child process for the tests, with its own environment
// and in a session of its own: on a pseudo-terminal that becomes its
// controlling terminal and that the test types into, or with no terminal at
// all (standard input from /dev/null, its output read from a pipe).
#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace qv::test {

using Environment = std::map<std::string, std::string>;

// The current environment with `changes` applied; an empty value removes the
// variable.
Environment EnvironmentWith(const Environment& changes);

// Runs `argv` to its end sharing this process's terminal and standard
// streams; gives its exit status.
int RunAttached(const std::vector<std::string>& argv, const Environment& environment);

// Where the child's standard streams go: a new pseudo-terminal, a pipe (no
// terminal at all), or this process's own (no session of its own either).
enum class Streams { kTerminal, kPipe, kInherited };

class PtyProcess {
 public:
  PtyProcess(const std::vector<std::string>& argv, const Environment& environment,
             Streams streams = Streams::kTerminal);
  ~PtyProcess();
  PtyProcess(const PtyProcess&) = delete;
  PtyProcess& operator=(const PtyProcess&) = delete;

  // Reads the child's output until `text` has appeared in everything read so
  // far (after the previous match); false when the child ended or time ran
  // out.
  bool WaitFor(const std::string& text,
               std::chrono::milliseconds timeout = std::chrono::seconds(30));
  // Types `text` as the user would.
  void Type(const std::string& text);
  // Waits for the child's end (killing it after `timeout`) and gives its exit
  // status, 128 + signal for a killed one.
  int Wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));
  // Everything the child wrote so far.
  const std::string& Transcript() const { return transcript_; }

 private:
  bool ReadSome(std::chrono::milliseconds timeout);

  int master_ = -1;  // the terminal's master side, or the pipe's reading end
  int pid_ = -1;
  int status_ = -1;
  std::string transcript_;
  size_t matched_ = 0;
};

}  // namespace qv::test
