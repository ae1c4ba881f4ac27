#include "bench/load_generator.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "bench/block_sink.h"
#include "bench/line_io.h"
#include "bench/loopback.h"
#include "bench/process_info.h"
#include "bench/timing.h"

namespace bench {

namespace {

void Reply(const std::string& line) {
  if (!WriteLine(STDOUT_FILENO, line)) _exit(1);  // the parent is gone
}

int Failed(const std::string& reason) {
  Reply("failed " + reason);
  return 1;
}

// A failed system call: the reason with the system's text for errno.
int FailedCall(const std::string& call) { return Failed(call + ": " + std::strerror(errno)); }

// The next command from the parent; false at the end of input or after `seconds`.
bool ReadCommand(std::string* line, double seconds) {
  static LineReader input(STDIN_FILENO);
  return input.ReadLine(line, seconds);
}

bool AwaitGo() {
  std::string line;
  return ReadCommand(&line, 60) && line == "go";
}

uint64_t Number(char** argv, int index) { return std::strtoull(argv[index], nullptr, 10); }

int TcpStream(uint16_t port, uint64_t total, uint64_t warmup, bool lines) {
  int fd = ConnectLoopback(port, false);
  if (fd < 0) return FailedCall("connect");
  const uint8_t* pattern = lines ? LinePattern() : Pattern();
  const uint64_t period = lines ? kLinePatternPeriod : kPatternPeriod;
  uint64_t offset = 0;
  auto sendUpTo = [&](uint64_t end) {
    while (offset < end) {
      uint64_t length = end - offset < kPatternWindow ? end - offset : kPatternWindow;
      if (!SendAll(fd, pattern + offset % period, length)) return false;
      offset += length;
    }
    return true;
  };
  if (!sendUpTo(warmup)) return FailedCall("send");
  Reply("ready");
  if (!AwaitGo()) return Failed("no \"go\" within 60 s");
  if (!sendUpTo(total)) return FailedCall("send");
  close(fd);
  Reply("done");
  return 0;
}

int TcpMessages(uint16_t port, int clients, uint64_t messages, std::size_t size, int threads, bool lines) {
  std::vector<int> fds;
  std::vector<std::vector<uint8_t>> bodies;
  for (int c = 0; c < clients; ++c) {
    int fd = ConnectLoopback(port, true);
    if (fd < 0) return FailedCall("connect");
    fds.push_back(fd);
    bodies.emplace_back(size, static_cast<uint8_t>(lines ? 32 + c % 200 : c % 255 + 1));
    if (lines && size > 0) bodies.back().back() = '\n';
    if (!SendAll(fd, bodies.back().data(), size)) return FailedCall("send");
  }
  Reply("ready");
  if (!AwaitGo()) return Failed("no \"go\" within 60 s");
  std::vector<std::thread> senders;
  std::vector<char> ok(static_cast<std::size_t>(threads), 1);
  for (int t = 0; t < threads; ++t) {
    senders.emplace_back([&, t] {
      for (uint64_t m = 1; m < messages; ++m) {
        for (int c = t; c < clients; c += threads) {
          if (!SendAll(fds[c], bodies[c].data(), size)) {
            ok[t] = 0;
            return;
          }
        }
      }
    });
  }
  for (auto& sender : senders) sender.join();
  for (int fd : fds) close(fd);
  for (char good : ok) {
    if (!good) return Failed("send failed");
  }
  Reply("done");
  return 0;
}

int Udp(uint16_t port, uint64_t count, std::size_t size, double rate) {
  int fd = ConnectLoopbackUdp(port);
  if (fd < 0) return FailedCall("udp socket");
  std::vector<uint8_t> datagram(size, 'u');
  Reply("ready");
  if (!AwaitGo()) return Failed("no \"go\" within 60 s");
  const auto start = Clock::now();
  const auto limit = start + std::chrono::seconds(30);
  uint64_t sent = 0;
  for (uint64_t i = 0; i < count; ++i) {
    if (rate > 0) {
      // Keep to the rate: sleep while ahead of the schedule.
      for (;;) {
        double due = SecondsSince(start) * rate;
        if (static_cast<double>(i) <= due) break;
        double ahead = (static_cast<double>(i) - due) / rate;
        if (ahead > 50e-6) {
          std::this_thread::sleep_for(std::chrono::duration<double>(ahead));
        }
      }
    }
    // A refused datagram (no receiver yet) is not sent; a full receive
    // buffer drops it silently, which is the loss being measured.
    if (send(fd, datagram.data(), size, 0) == static_cast<ssize_t>(size)) ++sent;
    if ((i & 1023) == 0 && Clock::now() > limit) break;
  }
  const double seconds = SecondsSince(start);
  close(fd);
  char line[96];
  std::snprintf(line, sizeof line, "done %llu %.6f", static_cast<unsigned long long>(sent), seconds);
  Reply(line);
  return 0;
}

// Waits until the server has closed every connection in `fds`; returns how
// many it closed within `seconds`.
std::size_t CountClosed(const std::vector<int>& fds, double seconds) {
  const auto deadline = After(seconds);
  std::vector<pollfd> open;
  for (int fd : fds) open.push_back({fd, POLLIN, 0});
  std::size_t closed = 0;
  while (!open.empty()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) break;
    int ready = poll(open.data(), open.size(), static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    std::vector<pollfd> still;
    for (pollfd& entry : open) {
      if (entry.revents == 0) {
        still.push_back({entry.fd, POLLIN, 0});
        continue;
      }
      char byte;
      ssize_t count = recv(entry.fd, &byte, 1, MSG_DONTWAIT);
      if (count == 0 || (count < 0 && errno != EAGAIN && errno != EINTR)) {
        ++closed;
      } else {
        still.push_back({entry.fd, POLLIN, 0});  // the server never sends, but keep waiting
      }
    }
    open.swap(still);
  }
  return closed;
}

int Idle(uint16_t port) {
  std::vector<int> fds;
  std::string line;
  while (ReadCommand(&line, 300)) {
    if (line.rfind("connect ", 0) == 0) {
      long more = std::strtol(line.c_str() + 8, nullptr, 10);
      RaiseDescriptorLimit(static_cast<long>(fds.size()) + more + 64);
      for (long i = 0; i < more; ++i) {
        int fd = ConnectLoopback(port, true);
        if (fd < 0) return FailedCall("connect after " + std::to_string(fds.size()) + " clients");
        fds.push_back(fd);
        if (!SendAll(fd, "i", 1)) return FailedCall("send");
      }
      Reply("ready " + std::to_string(fds.size()));
    } else if (line.rfind("check-closed ", 0) == 0) {
      double seconds = std::strtod(line.c_str() + 13, nullptr);
      Reply("closed " + std::to_string(CountClosed(fds, seconds)));
    } else if (line == "quit") {
      break;
    } else {
      return Failed("unknown command " + line);
    }
  }
  for (int fd : fds) close(fd);
  return 0;
}

}  // namespace

bool IsGeneratorCall(int argc, char** argv) {
  return argc >= 2 && std::strcmp(argv[1], "--generator") == 0;
}

int RunLoadGenerator(int argc, char** argv) {
  alarm(600);  // the generator's own bound, whatever its parent does
  const std::string kind = argc >= 3 ? argv[2] : "";
  const uint16_t port = argc >= 4 ? static_cast<uint16_t>(Number(argv, 3)) : 0;
  if (kind == "tcp-stream" && argc == 6) return TcpStream(port, Number(argv, 4), Number(argv, 5), false);
  if (kind == "tcp-lines" && argc == 6) return TcpStream(port, Number(argv, 4), Number(argv, 5), true);
  if (kind == "tcp-messages" && (argc == 8 || (argc == 9 && std::strcmp(argv[8], "lines") == 0))) {
    return TcpMessages(port, static_cast<int>(Number(argv, 4)), Number(argv, 5),
                       static_cast<std::size_t>(Number(argv, 6)), static_cast<int>(Number(argv, 7)), argc == 9);
  }
  if (kind == "udp" && argc == 7) {
    return Udp(port, Number(argv, 4), static_cast<std::size_t>(Number(argv, 5)),
               std::strtod(argv[6], nullptr));
  }
  if (kind == "idle" && argc == 4) return Idle(port);
  return Failed("bad generator arguments");
}

}  // namespace bench
