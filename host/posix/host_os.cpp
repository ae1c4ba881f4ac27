// lanfeed-host's OS services on POSIX (Linux).
#include "host/host_os.h"

#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

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

WriteStatus WriteStream(StandardStream stream, const char* data, std::size_t size, std::size_t* written,
                        std::string* error) {
  int fd = stream == StandardStream::kOut ? STDOUT_FILENO : STDERR_FILENO;
  for (;;) {
    ssize_t n = write(fd, data, size);
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
