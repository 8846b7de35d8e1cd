// How the cb module splits its work between threads. Every thread is
// started through RunInParallel (vqpeek/threads.h), so a part may fail as
// any code of the library does: the failure reaches the calling thread after
// every thread is joined.
#ifndef VQPEEK_MODULES_CB_PARALLEL_PARTS_H_
#define VQPEEK_MODULES_CB_PARALLEL_PARTS_H_

#include <cstddef>
#include <cstdint>
#include <functional>

namespace cb_internal {

// Blocks of fewer bytes are made present on the calling thread alone.
inline constexpr std::size_t kFaultBytesForThreads = std::size_t{16} << 20;

// Makes the pages of `bytes` bytes at `data` present, and sets the bytes to
// zero when `zero`, while `alongside` runs once; a block of at least
// `worthThreads` bytes on several threads.
void FaultInParallel(void* data, std::size_t bytes, bool zero,
                     const std::function<void()>& alongside,
                     std::size_t worthThreads = kFaultBytesForThreads);

// The threads that work on `count` items in parts of `partSize` may use:
// one for a single part, else as many as the process may use, at most 8
// and at most one per part.
int ThreadsFor(std::int64_t count, std::int64_t partSize);

// Calls work(begin, end, worker) for every part [begin, end) of 0 .. count-1
// (parts of `partSize` items, the last one shorter) on `threads` workers
// numbered 0 .. threads-1, worker 0 being the calling thread, as
// RunInParallel does: each part is taken by one worker, parts are taken in
// ascending order, and a worker whose thread cannot be had leaves its parts
// to the others.
void RunInParts(std::int64_t count, std::int64_t partSize, int threads,
                const std::function<void(std::int64_t, std::int64_t, int)>& work);

}  // namespace cb_internal

#endif  // VQPEEK_MODULES_CB_PARALLEL_PARTS_H_
