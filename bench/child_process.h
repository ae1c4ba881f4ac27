// A copy of this program started with other arguments (a load generator, or
// one measured server), talking to its parent in lines of text: the parent
// writes to the child's standard input and reads its standard output; the
// child's standard error is the parent's. The child receives no other
// descriptor of the parent, so it never holds a server socket open.
//
// Not thread-safe: one thread drives a child.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include "bench/line_io.h"

namespace bench {

class ChildProcess {
 public:
  ChildProcess() = default;
  ~ChildProcess();  // kills a child still running and reaps it
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts this program with `args` (argv[1] onwards).
  bool Spawn(const std::vector<std::string>& args, std::string* error);
  // Writes `line` and a newline; false when the child has gone.
  bool Send(const std::string& line);
  // The next line without its newline; false at the end of the output or
  // when none came within `seconds`.
  bool ReadLine(std::string* line, double seconds);
  // Closes both pipes, waits up to `seconds` for the child to end and
  // returns its exit status; kills it and returns -1 when it did not end.
  // Output not yet read is dropped.
  int Wait(double seconds);

 private:
  pid_t pid_ = -1;
  int toChild_ = -1;
  int fromChild_ = -1;
  LineReader output_;
};

}  // namespace bench
