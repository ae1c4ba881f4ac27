// Time points for the benchmarks' bounds and measurements.
#pragma once

#include <chrono>

namespace bench {

using Clock = std::chrono::steady_clock;

inline Clock::time_point After(double seconds) {
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

inline double SecondsSince(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace bench
