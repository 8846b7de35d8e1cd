// How much memory the machine can give this process; see memory_limit.h.
#include "memory_limit.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "vqpeek/cgroup.h"

namespace cb_internal {

namespace {

constexpr std::uint64_t kUnlimited = std::numeric_limits<std::uint64_t>::max();

std::uint64_t SaturatingAdd(std::uint64_t a, std::uint64_t b) {
  return a > kUnlimited - b ? kUnlimited : a + b;
}

std::uint64_t RoomUnder(std::uint64_t limit, std::uint64_t used) {
  return limit > used ? limit - used : 0;
}

// The figure of the line that begins with `key` in a text of "Key: n kB"
// lines (/proc/meminfo, /proc/self/status), in bytes.
bool KilobyteField(const std::string& text, const std::string& key, std::uint64_t* bytes) {
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t end = std::min(text.find('\n', at), text.size());
    if (text.compare(at, key.size(), key) == 0) {
      *bytes = std::strtoull(text.c_str() + at + key.size(), nullptr, 10) * 1024;
      return true;
    }
    at = end + 1;
  }
  return false;
}

// The room left under the memory.max of the process's cgroup (version 2)
// and of every cgroup above it that its mount shows; kUnlimited where none
// sets a limit.
std::uint64_t CgroupRoom(const MemorySources& sources) {
  const CgroupFileReader readFile = [&](const std::string& path, std::string* text) {
    *text = sources.readText(path);
    return !text->empty();
  };
  std::uint64_t room = kUnlimited;
  for (const std::string& directory : CgroupDirectories(readFile)) {
    const std::string max = sources.readText(directory + "/memory.max");
    if (!max.empty() && max[0] >= '0' && max[0] <= '9') {
      const std::uint64_t limit = std::strtoull(max.c_str(), nullptr, 10);
      const std::string current = sources.readText(directory + "/memory.current");
      room = std::min(room, RoomUnder(limit, std::strtoull(current.c_str(), nullptr, 10)));
    }
  }
  return room;
}

std::string ReadWholeFile(const std::string& path) {
  std::string text;
  if (!ReadSystemFile(path, &text)) text.clear();
  return text;
}

std::uint64_t SystemResourceLimit(int resource) {
  struct rlimit limit {};
  if (getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnlimited;
  return static_cast<std::uint64_t>(limit.rlim_cur);
}

std::uint64_t SystemPhysicalMemory() {
#if defined(_SC_PHYS_PAGES) && defined(_SC_PAGESIZE)
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages > 0 && pageSize > 0) {
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
  }
#endif
  return kUnlimited;  // unknown here: allocation failures still end the run cleanly
}

}  // namespace

const MemorySources& SystemMemorySources() {
  static const MemorySources sources{ReadWholeFile, SystemResourceLimit, SystemPhysicalMemory()};
  return sources;
}

std::uint64_t MemoryAvailable(const MemorySources& sources) {
  const std::string meminfo = sources.readText("/proc/meminfo");
  std::uint64_t swap = 0;
  KilobyteField(meminfo, "SwapFree:", &swap);
  std::uint64_t available = SaturatingAdd(sources.physicalMemory, swap);
  // What Linux can give without swapping: free memory and the caches it
  // can drop, less what this process and the others already hold.
  std::uint64_t canFree = 0;
  if (KilobyteField(meminfo, "MemAvailable:", &canFree)) {
    available = std::min(available, SaturatingAdd(canFree, swap));
  }

  available = std::min(available, CgroupRoom(sources));

  const std::string status = sources.readText("/proc/self/status");
  struct Limit {
    int resource;
    const char* usage;  // what the process already holds of it
  };
  for (const Limit& each : {Limit{RLIMIT_AS, "VmSize:"}, Limit{RLIMIT_DATA, "VmData:"}}) {
    const std::uint64_t limit = sources.resourceLimit(each.resource);
    if (limit == kUnlimited) continue;
    std::uint64_t used = 0;
    KilobyteField(status, each.usage, &used);
    available = std::min(available, RoomUnder(limit, used));
  }
  return available;
}

bool FitsInMemory(std::uint64_t count, std::uint64_t bytesEach, std::uint64_t fixedBytes,
                  const MemorySources& sources) {
  // Small records are never refused, and cost no look at the system.
  constexpr std::uint64_t kAlwaysGranted = std::uint64_t{64} << 20;
  if (fixedBytes <= kAlwaysGranted &&
      (bytesEach == 0 || count <= (kAlwaysGranted - fixedBytes) / bytesEach)) {
    return true;
  }
  const std::uint64_t available = MemoryAvailable(sources);
  if (fixedBytes > available) return false;
  return bytesEach == 0 || count <= (available - fixedBytes) / bytesEach;
}

}  // namespace cb_internal
