#include "platform/shell.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "platform/posix/device_path.h"

namespace lanfeed {

namespace {

bool ReadAll(int fd, void* data, std::size_t size) {
  auto* bytes = static_cast<char*>(data);
  std::size_t done = 0;
  while (done < size) {
    ssize_t n = read(fd, bytes + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

}  // namespace

// The program is started by a grandchild whose parent ends at once, so the
// program belongs to init and leaves no zombie behind; the caller never waits
// for it. A close-on-exec pipe tells whether exec succeeded: it closes without
// data on success and carries errno on failure.
bool ShellStart(const ShellExecuteRequest& request) {
  std::string file = posix::MapDevicePath(request.file);
  if (file.empty()) return false;
  std::string parameters;
  bool has_parameters = request.parameters != nullptr && request.parameters[0] != 0;
  if (has_parameters) parameters = ToUtf8(WStringView(request.parameters));
  std::string directory;
  if (request.directory != nullptr && request.directory[0] != 0) {
    directory = posix::MapDevicePath(request.directory);
  }

  // Everything the children need is prepared before fork: after it, only
  // async-signal-safe calls run.
  char* argv[3] = {file.data(), has_parameters ? parameters.data() : nullptr, nullptr};
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return false;

  pid_t child = fork();
  if (child < 0) {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return false;
  }
  if (child == 0) {
    close(pipe_fds[0]);
    pid_t grandchild = fork();
    if (grandchild == 0) {
      int error = 0;
      if (directory.empty() || chdir(directory.c_str()) == 0) {
        execv(file.c_str(), argv);
      }
      error = errno;
      ssize_t ignored = write(pipe_fds[1], &error, sizeof(error));
      (void)ignored;
      _exit(127);
    }
    if (grandchild < 0) {
      int error = errno;
      ssize_t ignored = write(pipe_fds[1], &error, sizeof(error));
      (void)ignored;
    }
    _exit(0);
  }

  close(pipe_fds[1]);
  int error = 0;
  bool failed = ReadAll(pipe_fds[0], &error, sizeof(error));
  close(pipe_fds[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return !failed;
}

}  // namespace lanfeed
