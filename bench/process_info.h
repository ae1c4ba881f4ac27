// What this process uses, as the kernel reports it (Linux /proc and getrusage).
#pragma once

#include <cstdint>
#include <string>

namespace bench {

// User plus system CPU time of every thread of this process so far.
double ProcessCpuSeconds();
// A "Name:   123 kB" field of /proc/self/status (VmSize, VmRSS, Threads);
// -1 when it cannot be read.
long StatusField(const char* name);
// Proportional set size from /proc/self/smaps_rollup in KiB; -1 when absent.
long PssKb();
// Open descriptors of this process.
int OpenDescriptorCount();
// What each open descriptor refers to, e.g. "3 socket:[1234]; 4 pipe:[99]".
std::string DescribeDescriptors();
// Raises the soft descriptor limit to at least `wanted` (at most the hard
// limit). Returns the soft limit now in force.
long RaiseDescriptorLimit(long wanted);

}  // namespace bench
