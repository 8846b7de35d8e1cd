// Taking the page faults of fresh memory in one call.
//
// The first write to each page of a fresh allocation is a page fault. On the
// machines measured (virtual ones above all) a fault costs far more than the
// write itself, and faults taken on several threads at once hardly overlap.
// Linux can make a whole range present in one call, which takes less than
// half the time of the faults and does overlap on several threads.
#include <cstdint>

#include "cb_internal.h"

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace cb_internal {

std::size_t PrefaultPages(void* data, std::size_t bytes, std::size_t pageSize) {
#if defined(__linux__) && defined(MADV_POPULATE_WRITE)
  // Pages are 4 KB on most machines, 16 or 64 KB on some ARM and POWER
  // kernels, which refuse a range that does not start on a page.
  static const std::size_t systemPage = [] {
    const long size = sysconf(_SC_PAGESIZE);
    return size > 0 ? static_cast<std::size_t>(size) : std::size_t{4096};
  }();
  const std::uintptr_t page = pageSize != 0 ? pageSize : systemPage;
  // Only whole pages inside the range: the pages at its ends may hold other
  // allocations, which populating leaves as they are anyway.
  const std::uintptr_t start = reinterpret_cast<std::uintptr_t>(data);
  const std::uintptr_t first = (start + page - 1) / page * page;
  const std::uintptr_t last = (start + bytes) / page * page;
  if (first >= last) return 0;
  // A kernel without the advice refuses it; the first writes then fault the
  // pages in as usual.
  madvise(reinterpret_cast<void*>(first), last - first, MADV_POPULATE_WRITE);
  return last - first;
#else
  static_cast<void>(data);
  static_cast<void>(bytes);
  static_cast<void>(pageSize);
  return 0;
#endif
}

}  // namespace cb_internal
