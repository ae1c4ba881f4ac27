#include "tests/host/child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <sstream>

extern char** environ;

namespace lanfeed::testing {

namespace {
using Clock = std::chrono::steady_clock;

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}
}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  CloseFd(&outFd_);
  CloseFd(&errFd_);
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
  int result = posix_spawn(&pid_, args[0], &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(outPipe[1]);
  close(errPipe[1]);
  outFd_ = outPipe[0];
  errFd_ = errPipe[0];
  if (result != 0) {
    pid_ = -1;
    *error = std::string("cannot start ") + argv[0] + ": " + std::strerror(result);
    return false;
  }
  return true;
}

bool ChildProcess::Pump(std::chrono::milliseconds budget) {
  int watchedOut = readStdout_ ? outFd_ : -1;
  pollfd fds[2] = {{watchedOut, POLLIN, 0}, {errFd_, POLLIN, 0}};
  if (outFd_ < 0 && errFd_ < 0) return false;
  if (watchedOut < 0 && errFd_ < 0) {
    usleep(static_cast<useconds_t>(budget.count()) * 1000);  // nothing to read: only time passes
    return true;
  }
  int ready = poll(fds, 2, static_cast<int>(budget.count()));
  if (ready <= 0) return true;
  int* fdOf[2] = {&outFd_, &errFd_};
  std::string* textOf[2] = {&out_, &err_};
  for (int i = 0; i < 2; ++i) {
    if (fds[i].fd < 0 || fds[i].revents == 0) continue;
    char buffer[65536];
    ssize_t n = read(fds[i].fd, buffer, sizeof(buffer));
    if (n > 0) {
      textOf[i]->append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      CloseFd(fdOf[i]);
    }
  }
  if (outFd_ >= 0 && out_.size() >= closeStdoutAfter_) {
    out_.resize(closeStdoutAfter_);
    CloseFd(&outFd_);
  }
  return outFd_ >= 0 || errFd_ >= 0;
}

bool ChildProcess::WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  auto deadline = Clock::now() + timeout;
  while (!done()) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    if (!Pump(std::min(left, std::chrono::milliseconds(100)))) return done();
  }
  return true;
}

bool ChildProcess::WaitForOutput(const std::function<bool(const std::string&)>& done,
                                 std::chrono::milliseconds timeout) {
  return WaitFor([&] { return done(out_); }, timeout);
}

void ChildProcess::ReadFor(std::chrono::milliseconds time) {
  WaitFor([] { return false; }, time);
}

bool ChildProcess::WaitForError(const std::string& text, std::chrono::milliseconds timeout) {
  return WaitFor([&] { return err_.find(text) != std::string::npos; }, timeout);
}

std::vector<std::string> ChildProcess::OutLines() const {
  std::vector<std::string> lines;
  std::istringstream in(out_);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool ChildProcess::WaitForLine(const std::string& line, std::chrono::milliseconds timeout) {
  return WaitForOutput(
      [&](const std::string& out) {
        return out.rfind(line + "\n", 0) == 0 || out.find("\n" + line + "\n") != std::string::npos;
      },
      timeout);
}

bool ChildProcess::WaitForLineStartingWith(const std::string& prefix, std::chrono::milliseconds timeout) {
  return WaitForOutput(
      [&](const std::string& out) {
        std::size_t at = out.rfind(prefix, 0) == 0 ? 0 : out.find("\n" + prefix);
        if (at == std::string::npos) return false;
        return out.find('\n', at + 1) != std::string::npos;  // the whole line has arrived
      },
      timeout);
}

void ChildProcess::Signal(int signal) {
  if (pid_ > 0) kill(pid_, signal);
}

bool ChildProcess::WaitForExit(std::chrono::milliseconds timeout, int* status) {
  auto deadline = Clock::now() + timeout;
  while (pid_ > 0) {
    pid_t done = waitpid(pid_, status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      break;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, status, 0);
      pid_ = -1;
      return false;
    }
    if (!Pump(std::min(left, std::chrono::milliseconds(50)))) {
      usleep(10000);  // both pipes closed: only the exit is left to wait for
    }
  }
  // Collect what the child wrote before it exited (stdout only if read).
  for (int i = 0; i < 100 && Pump(std::chrono::milliseconds(20)); ++i) {
    if ((outFd_ < 0 || !readStdout_) && errFd_ < 0) break;
  }
  return true;
}

}  // namespace lanfeed::testing
