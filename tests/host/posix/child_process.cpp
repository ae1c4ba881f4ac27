// ChildProcess on POSIX: posix_spawn with two pipes, poll, signals, waitpid.
#include "tests/host/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace lanfeed::testing {

struct ChildProcess::Native {
  pid_t pid = -1;
  int outFd = -1;
  int errFd = -1;
  ExitStatus status;  // once reaped
};

namespace {
using Clock = std::chrono::steady_clock;

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

ExitStatus StatusOf(int raw) {
  ExitStatus status;
  if (WIFEXITED(raw)) {
    status.exited = true;
    status.code = WEXITSTATUS(raw);
    status.text = "exit code " + std::to_string(status.code);
  } else if (WIFSIGNALED(raw)) {
    status.text = "ended by signal " + std::to_string(WTERMSIG(raw));
  } else {
    status.text = "wait status " + std::to_string(raw);
  }
  return status;
}
}  // namespace

ChildProcess::ChildProcess() : native_(std::make_unique<Native>()) {}

ChildProcess::~ChildProcess() {
  if (native_->pid > 0) {
    kill(native_->pid, SIGKILL);
    int status = 0;
    waitpid(native_->pid, &status, 0);
  }
  CloseFd(&native_->outFd);
  CloseFd(&native_->errFd);
}

bool ChildProcess::Start(const std::vector<std::string>& argv, std::string* error) {
  int outPipe[2];
  int errPipe[2];
  if (pipe2(outPipe, O_CLOEXEC) != 0) {
    *error = std::strerror(errno);
    return false;
  }
  if (pipe2(errPipe, O_CLOEXEC) != 0) {
    *error = std::strerror(errno);
    close(outPipe[0]);
    close(outPipe[1]);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], STDERR_FILENO);
  // The test may run with signals blocked or ignored; the child starts clean.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGTERM);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

  std::vector<char*> args;
  for (const auto& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  int result = posix_spawn(&native_->pid, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(outPipe[1]);
  close(errPipe[1]);
  native_->outFd = outPipe[0];
  native_->errFd = errPipe[0];
  if (result != 0) {
    native_->pid = -1;
    *error = std::string("cannot start ") + argv[0] + ": " + std::strerror(result);
    return false;
  }
  return true;
}

bool ChildProcess::Pump(std::chrono::milliseconds budget) {
  int& outFd = native_->outFd;
  int& errFd = native_->errFd;
  int watchedOut = readStdout_ ? outFd : -1;
  pollfd fds[2] = {{watchedOut, POLLIN, 0}, {errFd, POLLIN, 0}};
  if (outFd < 0 && errFd < 0) return false;
  if (watchedOut < 0 && errFd < 0) {
    usleep(static_cast<useconds_t>(budget.count()) * 1000);  // nothing to read: only time passes
    return true;
  }
  int ready = poll(fds, 2, static_cast<int>(budget.count()));
  if (ready <= 0) return true;
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || fds[i].revents == 0) continue;
    int* fd = i == 0 ? &outFd : &errFd;
    char buffer[65536];
    ssize_t n = read(*fd, buffer, sizeof(buffer));
    if (n > 0) {
      if (i == 1) {
        err_.append(buffer, static_cast<std::size_t>(n));
      } else if (TakeStdout(buffer, static_cast<std::size_t>(n))) {
        CloseFd(fd);
      }
    } else if (n == 0 || errno != EINTR) {
      CloseFd(fd);
    }
  }
  return outFd >= 0 || errFd >= 0;
}

bool ChildProcess::RequestStop(StopRequest request, std::string* reason) {
  if (native_->pid <= 0) {
    *reason = "the child does not run";
    return false;
  }
  if (kill(native_->pid, request == StopRequest::kInterrupt ? SIGINT : SIGTERM) != 0) {
    *reason = std::string("kill: ") + std::strerror(errno);
    return false;
  }
  return true;
}

const char* ChildProcess::StopName(StopRequest request) {
  return request == StopRequest::kInterrupt ? "SIGINT" : "SIGTERM";
}

long ChildProcess::processId() const { return native_->pid > 0 ? static_cast<long>(native_->pid) : -1; }

bool ChildProcess::WaitForExit(std::chrono::milliseconds timeout, ExitStatus* status) {
  auto deadline = Clock::now() + timeout;
  bool inTime = true;
  while (native_->pid > 0) {
    int raw = 0;
    pid_t done = waitpid(native_->pid, &raw, WNOHANG);
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (done != native_->pid && left.count() <= 0) {
      kill(native_->pid, SIGKILL);
      waitpid(native_->pid, &raw, 0);
      inTime = false;
      done = native_->pid;
    }
    if (done == native_->pid) {
      native_->pid = -1;
      native_->status = StatusOf(raw);
      break;
    }
    if (!Pump(std::min(left, std::chrono::milliseconds(50)))) {
      usleep(10000);  // both pipes closed: only the exit is left to wait for
    }
  }
  *status = native_->status;
  if (!inTime) return false;
  // Collect what the child wrote before it exited (stdout only if read).
  for (int i = 0; i < 100 && Pump(std::chrono::milliseconds(20)); ++i) {
    if ((native_->outFd < 0 || !readStdout_) && native_->errFd < 0) break;
  }
  return true;
}

}  // namespace lanfeed::testing
