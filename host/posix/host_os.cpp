// lanfeed-host's OS services on POSIX (Linux).
#include "host/host_os.h"

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>
#include <vector>

namespace lanfeed::host::os {

const char* PluginFileName() { return "LanFeedPlugin.so"; }

std::string ExecutablePath() {
  std::vector<char> buffer(256);
  for (int attempt = 0; attempt < 8; ++attempt) {
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) return std::string();
    if (static_cast<std::size_t>(length) < buffer.size()) return std::string(buffer.data(), length);
    buffer.resize(buffer.size() * 4);  // cut: try a bigger buffer
  }
  return std::string();
}

bool FileExists(const std::string& path) {
  struct stat info;
  return stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

bool LocalTime(std::time_t time, std::tm* local) { return localtime_r(&time, local) != nullptr; }

std::vector<std::string> CommandLineArguments(int argc, char** argv) { return std::vector<std::string>(argv, argv + argc); }

void PrepareProcess() {
  // EPIPE from write() instead of a silent death, so a closed stdout is
  // reported and the plug-in is stopped properly.
  signal(SIGPIPE, SIG_IGN);
}

namespace {
// What a pipe on `fd` holds at most, or 0 when `fd` is no pipe (or the
// system does not say). Read once per stream: a pipe resized later only
// makes the room computed below smaller than it is.
int PipeCapacity(int fd) {
  struct stat info;
  if (fstat(fd, &info) != 0 || !S_ISFIFO(info.st_mode)) return 0;
  int capacity = fcntl(fd, F_GETPIPE_SZ);
  return capacity > 0 ? capacity : 0;
}

// Bytes that a write to the pipe takes without blocking: its capacity, less
// what it holds, less one page for a page the reader has only partly read.
// Negative or 0: no room that can be counted on.
long PipeRoom(int fd, int capacity) {
  int queued = 0;
  if (ioctl(fd, FIONREAD, &queued) != 0) return -1;
  return static_cast<long>(capacity) - queued - static_cast<long>(sysconf(_SC_PAGESIZE));
}
}  // namespace

WriteStatus WriteStream(StandardStream stream, const char* data, std::size_t size, std::size_t* written,
                        std::string* error, std::chrono::milliseconds wait) {
  int fd = stream == StandardStream::kOut ? STDOUT_FILENO : STDERR_FILENO;
  static const int kCapacity[2] = {PipeCapacity(STDOUT_FILENO), PipeCapacity(STDERR_FILENO)};
  const int capacity = kCapacity[stream == StandardStream::kOut ? 0 : 1];
  for (;;) {
    std::size_t chunk = size;
    if (capacity > 0) {
      long room = PipeRoom(fd, capacity);
      if (room > 0) {
        chunk = std::min(size, static_cast<std::size_t>(room));
      } else {
        // POLLOUT on a pipe means a free page: PIPE_BUF bytes then never block.
        pollfd ready{fd, POLLOUT, 0};
        int polled = poll(&ready, 1, static_cast<int>(wait.count()));
        if (polled == 0 || (polled < 0 && errno == EINTR)) return WriteStatus::kWaiting;
        chunk = std::min<std::size_t>(size, PIPE_BUF);
      }
    }
    ssize_t n = write(fd, data, chunk);
    if (n > 0) {
      *written = static_cast<std::size_t>(n);
      return WriteStatus::kWritten;
    }
    if (n < 0 && errno == EINTR) continue;
    int code = n < 0 ? errno : EIO;
    *error = std::generic_category().message(code);
    return code == EPIPE ? WriteStatus::kClosed : WriteStatus::kFailed;
  }
}

void ExitNow(int code) { _exit(code); }

namespace {
sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  return set;
}
}  // namespace

// The watched signals stay blocked in every thread; one thread takes them
// with sigwait. The destructor wakes that thread with a SIGTERM of its own
// after setting `quit`, so the thread ends without calling the handler.
struct SignalWatcher::State {
  sigset_t signals = WatchedSignals();
  Handler handler;
  std::thread thread;
  std::atomic<bool> quit{false};

  void Run() {
    for (;;) {
      int number = 0;
      if (sigwait(&signals, &number) != 0) continue;
      if (quit.load()) return;
      switch (number) {
        case SIGINT: handler({SignalKind::kInterrupt, "SIGINT"}); break;
        case SIGTERM: handler({SignalKind::kTerminate, "SIGTERM"}); break;
        case SIGHUP: handler({SignalKind::kReload, "SIGHUP"}); break;
        default: break;
      }
    }
  }
};

SignalWatcher::SignalWatcher() : state_(std::make_unique<State>()) {
  pthread_sigmask(SIG_BLOCK, &state_->signals, nullptr);
}

SignalWatcher::~SignalWatcher() { Stop(); }

void SignalWatcher::Stop() {
  if (state_->thread.joinable()) {
    state_->quit.store(true);
    pthread_kill(state_->thread.native_handle(), SIGTERM);
    state_->thread.join();
  }
}

bool SignalWatcher::Start(Handler handler, std::string* error) {
  if (state_->thread.joinable()) {
    *error = "the signal watcher runs already";
    return false;
  }
  state_->handler = std::move(handler);
  try {
    state_->thread = std::thread([state = state_.get()] { state->Run(); });
  } catch (const std::system_error& failure) {
    *error = std::string("cannot start the signal thread: ") + failure.what();
    return false;
  }
  return true;
}

void SignalWatcher::StopCompleted() {}

}  // namespace lanfeed::host::os
