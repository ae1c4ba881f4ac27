// The formatter's compile-time check, probed by building this file: as it
// stands it must NOT compile, and the compiler must say that an argument does
// not match its conversion (a wide text for %S). With
// LANFEED_PROBE_MATCHING_ARGUMENTS the same line with a narrow text must
// compile, which proves that the failure comes from the check alone. Built
// only by the tests that expect these outcomes.
#include "platform/format.h"

int main() {
  lanfeed::LogLineBuffer line;
#ifdef LANFEED_PROBE_MATCHING_ARGUMENTS
  lanfeed::FormatLine(line, LF_TEXT("Port %d from %S"), 5, "127.0.0.1");
#else
  lanfeed::FormatLine(line, LF_TEXT("Port %d from %S"), 5, LF_TEXT("wide, not narrow"));
#endif
  return line[0] == 'P' ? 0 : 1;
}
