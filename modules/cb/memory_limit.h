// The check before a large allocation: whether a record whose size a file
// leaves free (a number of partitions, of vectors) can be held, so that a
// count the machine cannot give is refused at once with a clear message
// instead of ending in the out-of-memory killer or in a long series of
// allocations that fail late.
//
// What it promises: a record of at most 64 MB is always granted, without a
// look at the system. A larger one is granted when it fits the smallest of
//   - the physical memory, and what Linux can still give without swapping
//     (MemAvailable), each plus the free swap;
//   - the room left under the memory.max of the process's cgroup (version
//     2) and of each cgroup above it: memory.max less memory.current;
//   - the address-space and data limits (RLIMIT_AS, RLIMIT_DATA) less what
//     the process already uses of each (VmSize, VmData).
// A figure the system does not give sets no bound. The check is an estimate
// made once, before the allocation: other processes may take the memory in
// between, so a granted record can still fail to allocate, which the callers
// report as a failure of their own.
#ifndef VQPEEK_MODULES_CB_MEMORY_LIMIT_H_
#define VQPEEK_MODULES_CB_MEMORY_LIMIT_H_

#include <cstdint>
#include <functional>
#include <string>

namespace cb_internal {

// What the check reads of the system. Tests hand in their own, to check the
// arithmetic against any /proc and cgroup text.
struct MemorySources {
  // The text of a file under /proc or of the cgroup tree; empty when it
  // cannot be read.
  std::function<std::string(const std::string& path)> readText;
  // The soft limit of RLIMIT_AS or RLIMIT_DATA; UINT64_MAX when unlimited.
  std::function<std::uint64_t(int resource)> resourceLimit;
  // The physical memory in bytes; UINT64_MAX when unknown.
  std::uint64_t physicalMemory;
};

// The running system's sources.
const MemorySources& SystemMemorySources();

// The memory this process can still be given, in bytes, by the rules above;
// UINT64_MAX when nothing sets a bound.
std::uint64_t MemoryAvailable(const MemorySources& sources = SystemMemorySources());

// Whether `count` items of `bytesEach` bytes plus `fixedBytes` fit in
// MemoryAvailable(sources), computed without overflow; always true for at
// most 64 MB in all.
bool FitsInMemory(std::uint64_t count, std::uint64_t bytesEach, std::uint64_t fixedBytes = 0,
                  const MemorySources& sources = SystemMemorySources());

// Refuses, before anything is allocated, a partitioning of `slots` partition
// slots of `dim` sums each (and `vectors` training vectors) that the machine
// cannot hold. Fatal: "ERROR: Not enough memory for the partitioning.\n".
void RequirePartitionMemory(int slots, int dim, int vectors);

}  // namespace cb_internal

#endif  // VQPEEK_MODULES_CB_MEMORY_LIMIT_H_
