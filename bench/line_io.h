// Lines of text over a pipe, the way a benchmark talks to its children.
//
// Not thread-safe: one reader per descriptor.
#pragma once

#include <string>

namespace bench {

class LineReader {
 public:
  // Reads `fd`, which it does not own.
  explicit LineReader(int fd = -1) : fd_(fd) {}
  void Reset(int fd);

  // The next line without its newline; false at the end of input or when no
  // whole line came within `seconds`. Lines read before the end are still
  // returned.
  bool ReadLine(std::string* line, double seconds);

 private:
  int fd_;
  bool ended_ = false;
  std::string pending_;  // read but not yet returned
};

// Writes `line` and a newline; false when the reader has gone.
bool WriteLine(int fd, const std::string& line);

}  // namespace bench
