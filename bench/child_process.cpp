#include "bench/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <thread>

#include "bench/timing.h"

extern char** environ;

namespace bench {

namespace {

std::string SelfPath() {
  char path[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "/proc/self/exe";
  path[length] = 0;
  return path;
}

void CloseFd(int* fd) {
  if (*fd >= 0) close(*fd);
  *fd = -1;
}

}  // namespace

ChildProcess::~ChildProcess() {
  if (pid_ > 0) Wait(0);
  CloseFd(&toChild_);
  CloseFd(&fromChild_);
}

bool ChildProcess::Spawn(const std::vector<std::string>& args, std::string* error) {
  int input[2], output[2];
  if (pipe2(input, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    return false;
  }
  if (pipe2(output, O_CLOEXEC) != 0) {
    *error = std::string("pipe: ") + std::strerror(errno);
    close(input[0]);
    close(input[1]);
    return false;
  }
  const std::string path = SelfPath();
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(path.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, input[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
  const int result = posix_spawn(&pid_, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(input[0]);
  close(output[1]);
  toChild_ = input[1];
  fromChild_ = output[0];
  output_.Reset(fromChild_);
  if (result != 0) {
    pid_ = -1;
    *error = std::string("cannot start ") + path + ": " + std::strerror(result);
    CloseFd(&toChild_);
    CloseFd(&fromChild_);
    return false;
  }
  return true;
}

bool ChildProcess::Send(const std::string& line) { return WriteLine(toChild_, line); }

bool ChildProcess::ReadLine(std::string* line, double seconds) { return output_.ReadLine(line, seconds); }

int ChildProcess::Wait(double seconds) {
  CloseFd(&toChild_);
  CloseFd(&fromChild_);
  output_.Reset(-1);
  if (pid_ <= 0) return -1;
  const auto deadline = After(seconds);
  int status = 0;
  for (;;) {
    pid_t done = waitpid(pid_, &status, WNOHANG);
    if (done == pid_) break;
    if (done < 0 && errno != EINTR) {
      pid_ = -1;
      return -1;
    }
    if (Clock::now() >= deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, &status, 0);
      pid_ = -1;
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace bench
