#include "bench/line_io.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "bench/timing.h"

namespace bench {

void LineReader::Reset(int fd) {
  fd_ = fd;
  ended_ = false;
  pending_.clear();
}

bool LineReader::ReadLine(std::string* line, double seconds) {
  const auto deadline = After(seconds);
  for (;;) {
    std::size_t newline = pending_.find('\n');
    if (newline != std::string::npos) {
      *line = pending_.substr(0, newline);
      pending_.erase(0, newline + 1);
      return true;
    }
    if (fd_ < 0 || ended_) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    pollfd wait{fd_, POLLIN, 0};
    int ready = poll(&wait, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return false;
    char buffer[4096];
    ssize_t count = read(fd_, buffer, sizeof buffer);
    if (count < 0 && errno == EINTR) continue;
    if (count <= 0) {
      ended_ = true;
      continue;
    }
    pending_.append(buffer, static_cast<std::size_t>(count));
  }
}

bool WriteLine(int fd, const std::string& line) {
  if (fd < 0) return false;
  const std::string text = line + "\n";
  const char* data = text.data();
  std::size_t left = text.size();
  while (left > 0) {
    ssize_t written = write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    data += written;
    left -= static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace bench
