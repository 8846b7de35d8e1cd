// How much memory the machine can give this process, so that a count which
// a file leaves free (a number of partitions) is refused at once when its
// record cannot be held, instead of ending in the out-of-memory killer or a
// long series of allocations that fail late.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <string>

#include "cb_internal.h"

namespace cb_internal {

namespace {

constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

std::uint64_t PhysicalMemory() {
#if defined(_SC_PHYS_PAGES) && defined(_SC_PAGESIZE)
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages > 0 && pageSize > 0) {
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
  }
#endif
  return kUnlimited;  // unknown here: allocation failures still end the run cleanly
}

// What Linux says it can give without swapping (free memory and the caches
// it can drop), which also leaves out what this process already holds. Other
// systems, and a Linux without the figure, fall back to the physical memory.
std::uint64_t MemoryTheSystemCanFree() {
  std::ifstream meminfo("/proc/meminfo");
  const std::string key = "MemAvailable:";
  for (std::string line; std::getline(meminfo, line);) {
    if (line.compare(0, key.size(), key) != 0) continue;
    const unsigned long long kilobytes = std::strtoull(line.c_str() + key.size(), nullptr, 10);
    if (kilobytes > 0) return static_cast<std::uint64_t>(kilobytes) * 1024;
  }
  return kUnlimited;
}

std::uint64_t ResourceLimit(int resource) {
  struct rlimit limit {};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnlimited;
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

}  // namespace

std::uint64_t MemoryAvailable() {
  std::uint64_t available = std::min(PhysicalMemory(), MemoryTheSystemCanFree());
  for (const int resource : {RLIMIT_AS, RLIMIT_DATA}) {
    const std::uint64_t limit = ResourceLimit(resource);
    if (limit < available) available = limit;
  }
  return available;
}

bool FitsInMemory(std::uint64_t count, std::uint64_t bytesEach, std::uint64_t fixedBytes) {
  // Small records are never refused, and cost no look at the system.
  constexpr std::uint64_t kAlwaysGranted = std::uint64_t{64} << 20;
  if (fixedBytes <= kAlwaysGranted &&
      (bytesEach == 0 || count <= (kAlwaysGranted - fixedBytes) / bytesEach)) {
    return true;
  }
  const std::uint64_t available = MemoryAvailable();
  if (fixedBytes > available) return false;
  return bytesEach == 0 || count <= (available - fixedBytes) / bytesEach;
}

}  // namespace cb_internal
