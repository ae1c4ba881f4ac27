// What every backend of ChildProcess shares: the bounded waits on the output.
#include "tests/host/child_process.h"

#include <algorithm>
#include <sstream>

namespace lanfeed::testing {

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

bool ChildProcess::TakeStdout(const char* bytes, std::size_t count) {
  out_.append(bytes, count);
  if (out_.size() < closeStdoutAfter_) return false;
  out_.resize(closeStdoutAfter_);
  return true;
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

bool ChildProcess::ReadRestOfStdout(std::chrono::milliseconds timeout) {
  readStdout_ = true;
  auto deadline = Clock::now() + timeout;
  while (Clock::now() < deadline) {
    if (!Pump(std::chrono::milliseconds(50))) return true;  // both pipes at their end
  }
  return false;
}

void ChildProcess::ReadFor(std::chrono::milliseconds time) {
  WaitFor([] { return false; }, time);
}

bool ChildProcess::WaitForError(const std::string& text, std::chrono::milliseconds timeout) {
  return WaitFor([&] { return err_.find(text) != std::string::npos; }, timeout);
}

namespace {
// A delivery line without its sender (" peer=127.0.0.1:53211", an ephemeral
// port the tests do not choose).
std::string WithoutPeer(std::string line) {
  if (line.rfind("deliver ", 0) != 0) return line;
  const std::size_t peer = line.find(" peer=");
  const std::size_t data = line.find(" data=");
  if (peer == std::string::npos || (data != std::string::npos && data < peer)) return line;
  const std::size_t end = line.find(' ', peer + 1);
  line.erase(peer, end == std::string::npos ? std::string::npos : end - peer);
  return line;
}
}  // namespace

std::string WithoutTextTime(const std::string& line) {
  static const char kPattern[] = "0000-00-00 00:00:00.000 ";  // 0: a digit
  if (line.size() < sizeof(kPattern) - 1) return WithoutPeer(line);
  for (std::size_t i = 0; i + 1 < sizeof(kPattern); ++i) {
    bool digit = line[i] >= '0' && line[i] <= '9';
    if (kPattern[i] == '0' ? !digit : line[i] != kPattern[i]) return WithoutPeer(line);
  }
  return WithoutPeer(line.substr(sizeof(kPattern) - 1));
}

std::vector<std::string> ChildProcess::OutLines() const {
  std::vector<std::string> lines;
  std::istringstream in(out_);
  for (std::string line; std::getline(in, line);) lines.push_back(WithoutTextTime(line));
  return lines;
}

namespace {
// True when a whole line of `out` (time stamp left out) satisfies `match`.
bool AnyWholeLine(const std::string& out, const std::function<bool(const std::string&)>& match) {
  std::size_t begin = 0;
  for (std::size_t end; (end = out.find('\n', begin)) != std::string::npos; begin = end + 1) {
    if (match(WithoutTextTime(out.substr(begin, end - begin)))) return true;
  }
  return false;
}
}  // namespace

bool ChildProcess::WaitForLine(const std::string& line, std::chrono::milliseconds timeout) {
  return WaitForOutput(
      [&](const std::string& out) { return AnyWholeLine(out, [&](const std::string& l) { return l == line; }); },
      timeout);
}

bool ChildProcess::WaitForLineStartingWith(const std::string& prefix, std::chrono::milliseconds timeout) {
  return WaitForOutput(
      [&](const std::string& out) {
        return AnyWholeLine(out, [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
      },
      timeout);
}

}  // namespace lanfeed::testing
