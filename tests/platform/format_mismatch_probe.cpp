// Must NOT compile: the formatter rejects an argument whose type does not
// match its conversion. Built only by the test that expects the failure.
#include "platform/format.h"

int main() {
  lanfeed::LogLineBuffer line;
  lanfeed::FormatLine(line, LF_TEXT("Port %d from %S"), 5, LF_TEXT("wide, not narrow"));
  return 0;
}
