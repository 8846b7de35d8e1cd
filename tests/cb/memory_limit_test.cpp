// The memory check on /proc and cgroup text that the tests make up.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdint>
#include <limits>
#include <map>
#include <string>

#include "memory_limit.h"

namespace {

using cb_internal::FitsInMemory;
using cb_internal::MemoryAvailable;
using cb_internal::MemorySources;

constexpr std::uint64_t kNone = std::numeric_limits<std::uint64_t>::max();
constexpr std::uint64_t kMiB = std::uint64_t{1} << 20;

// A system of the given files and limits, physically large.
MemorySources System(std::map<std::string, std::string> files,
                     std::map<int, std::uint64_t> limits = {}) {
  return MemorySources{[files](const std::string& path) {
                         const auto found = files.find(path);
                         return found == files.end() ? std::string() : found->second;
                       },
                       [limits](int resource) {
                         const auto found = limits.find(resource);
                         return found == limits.end() ? kNone : found->second;
                       },
                       std::uint64_t{1} << 40};
}

TEST(MemoryAvailable, TakesTheSmallestOfMemorySwapCgroupsAndLimitsLessUse) {
  EXPECT_EQ(MemoryAvailable(System({})), std::uint64_t{1} << 40);
  const std::string meminfo = "MemTotal: 9000000 kB\nMemAvailable: 3000000 kB\nSwapFree: 1000 kB\n";
  EXPECT_EQ(MemoryAvailable(System({{"/proc/meminfo", meminfo}})), 3001000 * std::uint64_t{1024});

  // The cgroup's parent has the tighter limit; a sibling's does not count.
  std::map<std::string, std::string> files = {
      {"/proc/meminfo", meminfo},
      {"/proc/self/cgroup", "1:memory:/x\n0::/box/app\n"},
      {"/proc/self/mountinfo",
       "24 1 0:20 / /proc rw - proc proc rw\n"
       "35 24 0:30 / /sys/fs/cgroup rw shared:9 - cgroup2 cgroup2 rw\n"},
      {"/sys/fs/cgroup/box/app/memory.max", "max\n"},
      {"/sys/fs/cgroup/box/memory.max", "1073741824\n"},
      {"/sys/fs/cgroup/box/memory.current", "104857600\n"},
      {"/sys/fs/cgroup/other/memory.max", "1\n"}};
  EXPECT_EQ(MemoryAvailable(System(files)), 924 * kMiB);

  // What the process already holds counts against its own limits.
  files = {{"/proc/self/status", "VmSize:\t  400000 kB\nVmData:\t  100000 kB\n"}};
  EXPECT_EQ(MemoryAvailable(System(files, {{RLIMIT_AS, 1000 * kMiB}, {RLIMIT_DATA, 200 * kMiB}})),
            200 * kMiB - 100000 * std::uint64_t{1024});
  EXPECT_EQ(MemoryAvailable(System(files, {{RLIMIT_AS, 300 * kMiB}})), 0u);
}

TEST(FitsInMemory, GrantsUpTo64MBAlwaysAndChecksTheFixedPartAlone) {
  const MemorySources none = System({{"/proc/meminfo", "MemAvailable: 1 kB\n"}});
  EXPECT_TRUE(FitsInMemory(8 * kMiB, 8, 0, none));
  EXPECT_FALSE(FitsInMemory(8 * kMiB + 1, 8, 0, none));
  EXPECT_TRUE(FitsInMemory(0, 8, 64 * kMiB, none));
  EXPECT_FALSE(FitsInMemory(0, 0, 64 * kMiB + 1, none));

  const MemorySources gigabyte = System({{"/proc/meminfo", "MemAvailable: 1048576 kB\n"}});
  EXPECT_TRUE(FitsInMemory(1, 1024 * kMiB - 8, 8, gigabyte));
  EXPECT_FALSE(FitsInMemory(0, 8, 1025 * kMiB, gigabyte));
  EXPECT_FALSE(FitsInMemory(1, 0, kNone, gigabyte));
  EXPECT_FALSE(FitsInMemory(kNone, kNone, 0, gigabyte));
}

}  // namespace
