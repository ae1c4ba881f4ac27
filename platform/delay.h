// Deliberate pauses of the calling thread (waits that give another program
// time to settle, not synchronisation).
//
// Test seam: SkipDelaysForTesting(true) makes Delay return at once; every
// requested duration is summed either way (RequestedDelayMsForTesting), so
// tests can still see which waits an operation made.
#pragma once

#include <cstdint>

namespace lanfeed {

void Delay(uint32_t milliseconds);

void SkipDelaysForTesting(bool skip);
uint64_t RequestedDelayMsForTesting();

}  // namespace lanfeed
