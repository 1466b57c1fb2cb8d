// How many threads make samples: PURETONE_THREADS when it is set, else the
// CPUs this process may use.
#pragma once

#include <optional>

namespace puretone {

// The most threads PURETONE_THREADS may ask for: far beyond any gain, but
// a bound on what a typo can start.
constexpr int most_threads = 1024;

// PURETONE_THREADS if set (a whole number, 1 to most_threads, in decimal
// digits alone), else 0: as many as available_cpus(), counted only where a
// tone is long enough to use them. Empty after one line on standard error
// when PURETONE_THREADS is set to anything else.
std::optional<int> read_thread_setting();

// The CPUs this process may run on: its affinity mask, lowered to a cgroup
// CPU quota (cgroup v2 cpu.max, or v1 cpu.cfs_quota_us) where one is set
// on its cgroup or an ancestor, rounded up. At least 1.
int available_cpus();

}  // namespace puretone
