// Runs a program as a separate process with its stdout and stderr captured,
// for tests that drive lanfeed-host from the outside. Every wait is bounded;
// a child still running when the object dies is killed and reaped.
//
// What differs between systems (starting, reading the pipes, asking the
// child to stop, its exit status) lives in one backend,
// tests/host/posix/child_process.cpp or tests/host/win32/child_process.cpp.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lanfeed::testing {

// The requests that stop a host, as a person or a service manager sends them.
enum class StopRequest {
  kInterrupt,  // POSIX: SIGINT. Windows: Ctrl-C
  kTerminate,  // POSIX: SIGTERM. Windows: Ctrl-Break
};

// How a child ended.
struct ExitStatus {
  bool exited = false;  // it ended by itself (POSIX: not by a signal; Windows: no NTSTATUS failure code)
  int code = -1;        // its exit code when `exited`
  std::string text;     // how it ended, for failure messages
};

// `line` without the text output's leading time stamp, if it has one, and a
// delivery line without its sender (peer=...): what the tests compare.
std::string WithoutTextTime(const std::string& line);

class ChildProcess {
 public:
  ChildProcess();
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts argv[0] (a path, UTF-8) with the arguments argv[1..] (UTF-8).
  // Its standard input reads nothing; it inherits no other handle or
  // descriptor of this process. False with `error` set when it cannot be
  // started.
  bool Start(const std::vector<std::string>& argv, std::string* error);

  // Reads output until `done(stdout so far)` holds or `timeout` passes.
  bool WaitForOutput(const std::function<bool(const std::string&)>& done, std::chrono::milliseconds timeout);
  // The line matching below leaves out the time stamp that starts the text
  // output's lines ("2024-05-01 09:30:00.123 ").
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
  // Reads stdout again, to its end (after the child has exited), for at
  // most `timeout`. True when the end was reached.
  bool ReadRestOfStdout(std::chrono::milliseconds timeout);
  // Closes the reading end of stdout once `bytes` have been read, as
  // `| head -c BYTES` does; out() keeps those bytes only.
  void CloseStdoutAfter(std::size_t bytes) { closeStdoutAfter_ = bytes; }

  // Asks the running child to stop. POSIX: the signal. Windows: the console
  // control event, sent to the child's process group alone (every child
  // starts in a group of its own on this process's console). False with
  // `reason` when the system cannot deliver the request.
  bool RequestStop(StopRequest request, std::string* reason);
  // The name the host gives the request: "SIGINT", "Ctrl-C", ...
  static const char* StopName(StopRequest request);
  // The child's process id while it runs, else -1.
  long processId() const;

  // Waits for the exit, reading the rest of the output. False on time-out
  // (the child is then killed).
  bool WaitForExit(std::chrono::milliseconds timeout, ExitStatus* status);

  const std::string& out() const { return out_; }
  const std::string& err() const { return err_; }
  // stdout's lines, each without its text time stamp.
  std::vector<std::string> OutLines() const;

  // Defined by each backend.
  struct Native;

 private:
  // Reads whatever is available within `budget` (stdout only while it is
  // read) and applies CloseStdoutAfter; false when both pipes hit their end.
  bool Pump(std::chrono::milliseconds budget);
  bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout);
  // Adds what was read from stdout; true when stdout is to be closed now
  // (CloseStdoutAfter's count is reached; out_ then holds that many bytes).
  bool TakeStdout(const char* bytes, std::size_t count);

  std::unique_ptr<Native> native_;
  std::string out_;
  std::string err_;
  bool readStdout_ = true;
  std::size_t closeStdoutAfter_ = static_cast<std::size_t>(-1);
};

}  // namespace lanfeed::testing
