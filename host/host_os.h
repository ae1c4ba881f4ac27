// What lanfeed-host needs from the operating system, behind one interface so
// that the host's own logic is the same on every system. The build compiles
// exactly one implementation: host/posix/host_os.cpp or host/win32/host_os.cpp.
// Texts (paths, messages) are UTF-8.
#pragma once

#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lanfeed::host::os {

// The plug-in's file name as the build produces it on this system.
const char* PluginFileName();

// The full path of the running program as the system knows it (symbolic
// links resolved where the system does so); empty when it cannot be told.
std::string ExecutablePath();

// True when `path` names an existing file (not a folder).
bool FileExists(const std::string& path);

// The local calendar time (the system's time zone) of `time`; false when
// the system cannot tell it.
bool LocalTime(std::time_t time, std::tm* local);

// The program's arguments as UTF-8, argv[0] first. POSIX: `argv` as it is.
// Windows: the wide command line (GetCommandLineW) split by
// CommandLineToArgvW (the C runtime's quoting rules), so that arguments
// outside the ANSI code page arrive intact; `argv` only when that fails.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Prepares the process before any thread exists: writes to a closed pipe
// fail with an error instead of ending the process, and the standard
// streams carry bytes unchanged (no newline translation).
void PrepareProcess();

enum class StandardStream { kOut, kErr };

enum class WriteStatus {
  kWritten,  // `*written` bytes (at least 1) went out
  kWaiting,  // nothing went out within the wait: the reader takes nothing now; call again
  kClosed,   // the reader is gone (a closed pipe): nothing more can go out
  kFailed,   // any other error; `*error` says which
};

// One write of at most `size` bytes (size > 0) to the stream. Interrupted
// writes are retried. On kClosed and kFailed `*error` holds the system's
// text.
//
// Where the system can tell how much a pipe takes (Linux), a write to a
// pipe never blocks halfway: it waits at most `wait` for room, returning
// kWaiting when there is none, and then writes only what fits. So when a
// call returns, `*written` is exactly what went out, and a caller that
// stops calling leaves nothing half written. Elsewhere (files, terminals,
// Windows) the call blocks until the stream takes bytes, and `wait` has no
// effect.
WriteStatus WriteStream(StandardStream stream, const char* data, std::size_t size, std::size_t* written,
                        std::string* error, std::chrono::milliseconds wait);

// Ends the process at once with `code`, without waiting for other threads.
// For a stop whose output thread is stuck in a write that never returns.
[[noreturn]] void ExitNow(int code);

enum class SignalKind {
  kInterrupt,  // SIGINT, Ctrl-C
  kTerminate,  // SIGTERM, Ctrl-Break, console close, log-off, shut-down
  kReload,     // SIGHUP (no counterpart on Windows)
};

struct Signal {
  SignalKind kind;
  const char* name;  // "SIGINT", "SIGTERM", "SIGHUP", "Ctrl-C", "Ctrl-Break", "console close"
};

// Turns the process's stop and reload requests into calls of a handler on a
// thread that is not the plug-in's and not main's (never inside a signal
// handler), so the handler may take locks.
//
// Create it first in main, before any other thread: on POSIX its
// constructor blocks the signals in the calling thread, and every thread
// created later inherits that, so no plug-in thread is ever interrupted by
// them.
class SignalWatcher {
 public:
  using Handler = std::function<void(const Signal& signal)>;

  SignalWatcher();
  ~SignalWatcher();  // Stop

  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  // Starts calling `handler`, one signal at a time. False with `error` set
  // when the system refuses. On Windows this also restores Ctrl-C for a
  // host started with it ignored (a process group of its own, `start /b`):
  // Ctrl-C stops the host wherever it runs, as SIGINT does on POSIX, where
  // a waited-for signal arrives even when the parent ignored it.
  bool Start(Handler handler, std::string* error);
  // Stops calling the handler: when Stop returns, no call is running and
  // none follows, so what the handler uses may go. Idempotent.
  void Stop();

  // The host has finished its stop. A console close on Windows keeps the
  // process alive only until its handler returns; the handler waits (a few
  // seconds at most) for this call so that the stop completes, then lets
  // main's exit end the process with the host's exit code. No effect on
  // POSIX.
  void StopCompleted();

  // Defined by each system's implementation (public so that the system's
  // callbacks there can reach it).
  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace lanfeed::host::os
