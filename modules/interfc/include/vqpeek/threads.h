// threads: work split into parts on several threads, and the number of
// processors the process may use.
//
// RunInParallel is the one place where the library and the program start
// threads. Whatever a part does, every thread is joined before the call
// returns, and a failure inside a part reaches the calling thread as if the
// work had run there: an exception is rethrown, and a fatal error of the
// library (ErrorMessage, then ExitProcessing) is reported and ends the
// process there, or reaches a host whose exit handler throws as that
// handler's exception. No thread ever ends the process on its own.
#ifndef VQPEEK_THREADS_H_
#define VQPEEK_THREADS_H_

#include <functional>
#include <string>

#include "vqpeek/cgroup.h"
#include "vqpeek/export.h"

// Calls work(part, worker) once for every part 0 .. parts-1 on up to
// `threads` workers numbered 0 .. threads-1 (below 1: one); worker 0 is the
// calling thread. Each worker takes the next part not yet taken, so parts
// start in ascending order. A worker whose thread cannot be started leaves
// its parts to the others. After the first failure no worker takes another
// part; once every thread is joined, the messages that workers gave
// ErrorMessage or SystemErrorMessage are written on the calling thread, in
// the order of the workers, each through the call it came with (and its
// error number), and then the first failure is handed on: an exception is
// rethrown, and a fatal exit calls ExitProcessing with its status.
VQPEEK_EXPORT void RunInParallel(int parts, int threads,
                                 const std::function<void(int part, int worker)>& work);

// The processors this process may run on: the CPUs of its affinity mask,
// at most the cgroup's CPU quota (cpu.max of its cgroup v2 and of every
// cgroup above it, rounded up), and at least 1. Systems without affinity
// masks give the processor count of the machine. Read at the first call;
// later calls, on any thread, return the same count.
VQPEEK_EXPORT int UsableProcessors();

// UsableProcessors from given sources, read at every call: `affinity` CPUs
// in the mask (0 or less: unknown, taken as 1), and `readFile`, which is
// asked for the files CgroupDirectories reads and for the cpu.max file of
// each directory it gives.
VQPEEK_EXPORT int UsableProcessorsFrom(int affinity, const CgroupFileReader& readFile);

#endif  // VQPEEK_THREADS_H_
