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

}  // namespace lanfeed::testing
