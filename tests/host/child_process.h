// Runs a program as a separate process with its stdout and stderr captured,
// for tests that drive lanfeed-host from the outside. Every wait is bounded;
// a child still running when the object dies is killed and reaped.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

namespace lanfeed::testing {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] with the arguments argv[1..]. False with `error` set when
  // it cannot be started.
  bool Start(const std::vector<std::string>& argv, std::string* error);

  // Reads output until `done(stdout so far)` holds or `timeout` passes.
  bool WaitForOutput(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds timeout);
  // Waits for a whole stdout line equal to `line`.
  bool WaitForLine(const std::string& line, std::chrono::milliseconds timeout);
  // Waits for a stdout line that starts with `prefix`.
  bool WaitForLineStartingWith(const std::string& prefix, std::chrono::milliseconds timeout);
  // Reads output for `time`.
  void ReadFor(std::chrono::milliseconds time);
  // Waits until stderr holds `text`.
  bool WaitForError(const std::string& text, std::chrono::milliseconds timeout);

  // From now on stdout is never read: once its pipe is full, the child's
  // writes to it block.
  void StopReadingStdout() { readStdout_ = false; }
  // Closes the reading end of stdout once `bytes` have been read, as
  // `| head -c BYTES` does; out() keeps those bytes only.
  void CloseStdoutAfter(std::size_t bytes) { closeStdoutAfter_ = bytes; }

  void Signal(int signal);
  // Waits for the exit, reading the rest of the output. False on time-out
  // (the child is then killed). `status` is the raw waitpid status.
  bool WaitForExit(std::chrono::milliseconds timeout, int* status);

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }
  std::vector<std::string> OutLines() const;

 private:
  // Reads whatever is available within `budget`; false when both pipes hit
  // their end.
  bool Pump(std::chrono::milliseconds budget);
  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout);

  pid_t pid_ = -1;
  int outFd_ = -1;
  int errFd_ = -1;
  std::string out_;
  std::string err_;
  bool readStdout_ = true;
  std::size_t closeStdoutAfter_ = static_cast<std::size_t>(-1);
};

}  // namespace lanfeed::testing
