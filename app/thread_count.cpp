// Reads PURETONE_THREADS, and counts the CPUs this process may use: the
// affinity mask (taskset, cpusets) and the cgroup CPU quota (containers,
// systemd's CPUQuota), whichever allows fewer. A quota of 1.5 CPUs counts
// as 2: the second thread still gets half a CPU's time.
#include "thread_count.hpp"

#include "printable.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sched.h>
#include <string>
#include <unistd.h>

namespace puretone {
namespace {

// CPUs allowed by a quota of `quota` per `period` (same unit), rounded up;
// 0 for no quota or one that cannot be read.
long quota_cpus(long long quota, long long period)
{
    if (quota <= 0 || period <= 0)
        return 0;
    return static_cast<long>((quota + period - 1) / period);
}

// The tighter of two limits in CPUs, 0 meaning none.
long tighter(long a, long b)
{
    return a == 0 ? b : b == 0 ? a : std::min(a, b);
}

// The least quota, in CPUs, on the cgroup at `directory` and its ancestors
// up to `root`; 0 for none. `read_quota` reads one cgroup's.
template <typename reader>
long least_quota(const std::string& root, std::string directory, reader read_quota)
{
    long least = 0;
    while (true) {
        least = tighter(least, read_quota(root + directory));
        if (directory.empty() || directory == "/")
            return least;
        directory.resize(directory.rfind('/'));
    }
}

long cgroup_cpus()
{
    std::ifstream cgroups("/proc/self/cgroup");
    long least = 0;
    for (std::string line; std::getline(cgroups, line);) {
        // hierarchy-id:controllers:path; cgroup v2 is "0::path".
        const auto first = line.find(':'), second = line.find(':', first + 1);
        if (first == std::string::npos || second == std::string::npos)
            continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (line.compare(0, 3, "0::") == 0) {
            least = tighter(least, least_quota("/sys/fs/cgroup", path, [](const std::string& dir) {
                std::ifstream max(dir + "/cpu.max");  // "max 100000" or "<quota> <period>"
                std::string quota;
                long long period = 0;
                return max >> quota >> period && quota != "max" ? quota_cpus(std::atoll(quota.c_str()), period) : 0L;
            }));
        } else if (("," + controllers + ",").find(",cpu,") != std::string::npos) {
            least = tighter(least, least_quota("/sys/fs/cgroup/" + controllers, path, [](const std::string& dir) {
                long long quota = 0, period = 0;  // quota -1: none
                std::ifstream(dir + "/cpu.cfs_quota_us") >> quota;
                std::ifstream(dir + "/cpu.cfs_period_us") >> period;
                return quota_cpus(quota, period);
            }));
        }
    }
    return least;
}

long affinity_cpus()
{
    // Sized for every CPU the system may have, beyond CPU_SETSIZE too.
    const long configured = std::max(sysconf(_SC_NPROCESSORS_CONF), 1L);
    cpu_set_t* set = CPU_ALLOC(configured);
    if (set == nullptr)
        return 1;
    const std::size_t size = CPU_ALLOC_SIZE(configured);
    const long cpus = sched_getaffinity(0, size, set) == 0 ? CPU_COUNT_S(size, set) : 1;
    CPU_FREE(set);
    return cpus;
}

}  // namespace

int available_cpus()
{
    const long cpus = tighter(affinity_cpus(), cgroup_cpus());
    return static_cast<int>(std::clamp(cpus, 1L, static_cast<long>(most_threads)));
}

std::optional<int> read_thread_setting()
{
    const char* text = std::getenv("PURETONE_THREADS");
    if (text == nullptr)
        return 0;
    int threads = 0;
    const char* digit = text;
    for (; *digit >= '0' && *digit <= '9' && threads <= most_threads; ++digit)
        threads = threads * 10 + (*digit - '0');
    if (*digit != '\0' || threads < 1 || threads > most_threads) {
        std::fprintf(stderr, "puretone: PURETONE_THREADS '%s' is not a whole number from 1 to %d\n",
                     printable(text).c_str(), most_threads);
        return std::nullopt;
    }
    return threads;
}

}  // namespace puretone
