// Work in parts on several threads, and the processors the process may use.
#include "vqpeek/threads.h"

#if defined(__linux__)
#include <sched.h>
#endif

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "interfc_internal.h"
#include "vqpeek/cgroup.h"
#include "vqpeek/interfc.h"

namespace {

// Joins every started thread when it goes, on every path.
class ThreadGroup {
 public:
  ~ThreadGroup() {
    for (std::thread& thread : threads_) thread.join();
  }
  // Starts `body` on a new thread; false when no thread can be had.
  template <typename Body>
  bool Start(Body&& body) {
    try {
      threads_.emplace_back(std::forward<Body>(body));
      return true;
    } catch (const std::system_error&) {
      return false;
    } catch (const std::bad_alloc&) {
      return false;
    }
  }

 private:
  std::vector<std::thread> threads_;
};

}  // namespace

void RunInParallel(int parts, int threads, const std::function<void(int, int)>& work) {
  if (parts <= 0) return;
  threads = std::clamp(threads, 1, parts);
  if (threads == 1) {
    // No other thread: a failure ends the work where it happens.
    for (int part = 0; part < parts; ++part) work(part, 0);
    return;
  }

  std::atomic<int> next{0};
  std::atomic<bool> failed{false};
  std::mutex mutex;
  std::exception_ptr exception;  // the first failure, an exception ...
  bool exited = false;           // ... or a fatal exit with `status`
  int status = 0;
  std::vector<interfc_internal::MessageSink> sinks(static_cast<std::size_t>(threads));

  auto run = [&](int worker) {
    interfc_internal::MessageSink*& sink = interfc_internal::ThreadMessageSink();
    interfc_internal::MessageSink* const outer = sink;
    sink = &sinks[static_cast<std::size_t>(worker)];
    try {
      for (int part; !failed.load(std::memory_order_relaxed) && (part = next++) < parts;) {
        work(part, worker);
      }
    } catch (const interfc_internal::FatalExit& exit) {
      const std::lock_guard lock(mutex);
      if (!failed.exchange(true)) {
        exited = true;
        status = exit.status;
      }
    } catch (...) {
      const std::lock_guard lock(mutex);
      if (!failed.exchange(true)) exception = std::current_exception();
    }
    sink = outer;
  };
  {
    ThreadGroup group;
    for (int worker = 1; worker < threads; ++worker) {
      if (!group.Start([&run, worker] { run(worker); })) break;
    }
    run(0);
  }

  // Every thread is joined: this thread now speaks for the workers, each
  // message with the error number it came with.
  for (const interfc_internal::MessageSink& sink : sinks) {
    for (const interfc_internal::KeptMessage& message : sink.messages) {
      interfc_internal::WriteKeptMessage(message);
    }
  }
  if (exception) std::rethrow_exception(exception);
  if (exited) ExitProcessing(status);
}

namespace {

// The CPUs of the process's affinity mask; 0 when the system does not say.
int AffinityCount() {
#if defined(__linux__)
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) return CPU_COUNT(&set);
#endif
  return static_cast<int>(std::thread::hardware_concurrency());
}

// The CPUs that "QUOTA PERIOD" allows, rounded up; 0 for "max" or a text
// that says nothing usable.
long long QuotaCpus(const std::string& text) {
  long long quota = 0;
  long long period = 0;
  if (std::sscanf(text.c_str(), "%lld %lld", &quota, &period) != 2) return 0;
  if (quota <= 0 || period <= 0) return 0;
  return (quota + period - 1) / period;
}

}  // namespace

int UsableProcessorsFrom(int affinity, const CgroupFileReader& readFile) {
  long long usable = std::max(affinity, 1);
  // Each cgroup on the way from the process's own to the top may hold a
  // quota of its own.
  for (const std::string& directory : CgroupDirectories(readFile)) {
    std::string text;
    if (readFile(directory + "/cpu.max", &text)) {
      const long long cpus = QuotaCpus(text);
      if (cpus > 0) usable = std::min(usable, cpus);
    }
  }
  return static_cast<int>(std::max(usable, 1LL));
}

int UsableProcessors() {
  // Read once: the searches ask at every call, and the answer costs a dozen
  // file reads. A static's first initialisation is safe on any thread.
#if defined(__linux__)
  static const int usable = UsableProcessorsFrom(AffinityCount(), ReadSystemFile);
#else
  static const int usable = std::max(1, AffinityCount());
#endif
  return usable;
}
