#include "vqpeek/threads.h"

#include <sched.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <map>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "test_support.h"
#include "vqpeek/interfc.h"

namespace {

// Waits until `flag` is set, at most two seconds.
void AwaitFlag(const std::atomic<bool>& flag) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
  while (!flag.load() && std::chrono::steady_clock::now() < until) std::this_thread::yield();
}

// Worker 0 (the calling thread) holds its part until a part of another
// worker has run `fail`, so the failure surely comes from another thread.
template <typename Fail>
void FailOnAnotherThread(Fail fail) {
  std::atomic<bool> otherRan{false};
  RunInParallel(2, 2, [&](int, int worker) {
    if (worker == 0) return AwaitFlag(otherRan);
    otherRan = true;
    fail();
  });
}

TEST(RunInParallel, RunsEveryPartOnceOnSeveralThreads) {
  std::vector<std::atomic<int>> runs(200);
  std::atomic<bool> twoAtOnce{false};
  std::atomic<int> inside{0};
  RunInParallel(200, 4, [&](int part, int worker) {
    ASSERT_LT(worker, 4);
    if (++inside > 1) twoAtOnce = true;
    if (part < 2) AwaitFlag(twoAtOnce);
    ++runs[static_cast<std::size_t>(part)];
    --inside;
  });
  for (const auto& count : runs) EXPECT_EQ(count.load(), 1);
  EXPECT_TRUE(twoAtOnce.load());
}

TEST(RunInParallel, RethrowsAWorkersExceptionAfterTheJoin) {
  EXPECT_THROW(FailOnAnotherThread([] { throw std::bad_alloc(); }), std::bad_alloc);
}

TEST(RunInParallelDeathTest, AWorkersFatalErrorEndsTheProcessOnTheCallingThread) {
  EXPECT_FATAL(FailOnAnotherThread([] { FatalError("ERROR: failed in part %d\n", 1); }),
               "ERROR: failed in part 1\n");
}

struct HostExit {
  int status;
};

TEST(RunInParallel, AHostWithAThrowingExitHandlerGetsTheFatalErrorAsItsException) {
  struct Delivered {
    std::string text;
    int error;
    std::thread::id thread;
  };
  static std::vector<Delivered> delivered;
  SetExitHandler([](int status) { throw HostExit{status}; });
  SetMessageHandler([](int, const char* text) {
    delivered.push_back({text, MessageSystemError(), std::this_thread::get_id()});
  });
  int status = 0;
  try {
    // A file that cannot be opened: the system's error number travels with
    // its message, so that a host can tell the kind of failure.
    FailOnAnotherThread([] {
      SystemErrorMessage(ENOENT, "ERROR: Cannot find the file: %s", "lost");
      FatalError("\n");
    });
  } catch (const HostExit& exit) {
    status = exit.status;
  }
  SetExitHandler(nullptr);
  SetMessageHandler(nullptr);
  EXPECT_EQ(status, -1);
  ASSERT_EQ(delivered.size(), 2u);
  EXPECT_EQ(delivered[0].text, "ERROR: Cannot find the file: lost");
  EXPECT_EQ(delivered[0].error, ENOENT);
  EXPECT_EQ(delivered[1].text, "\n");
  EXPECT_EQ(delivered[1].error, 0);
  for (const Delivered& message : delivered) {
    EXPECT_EQ(message.thread, std::this_thread::get_id());
  }
}

TEST(UsableProcessorsFrom, TakesTheAffinityHeldToEveryCgroupQuotaAbove) {
  std::map<std::string, std::string> files;
  auto read = [&](const std::string& path, std::string* text) {
    const auto found = files.find(path);
    if (found == files.end()) return false;
    *text = found->second;
    return true;
  };
  EXPECT_EQ(UsableProcessorsFrom(6, read), 6);  // no /proc/self/cgroup
  files["/proc/self/cgroup"] = "1:cpu:/old\n0::/box/job\n";
  files["/proc/self/mountinfo"] = "30 22 0:26 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n";
  files["/sys/fs/cgroup/box/job/cpu.max"] = "max 100000\n";
  EXPECT_EQ(UsableProcessorsFrom(6, read), 6);
  files["/sys/fs/cgroup/box/cpu.max"] = "250000 100000\n";
  EXPECT_EQ(UsableProcessorsFrom(6, read), 3);
  EXPECT_EQ(UsableProcessorsFrom(2, read), 2);
  files["/proc/self/cgroup"] = "0::/\n";  // a container's own root
  files["/sys/fs/cgroup/cpu.max"] = "50000 100000\n";
  EXPECT_EQ(UsableProcessorsFrom(6, read), 1);
  EXPECT_EQ(UsableProcessorsFrom(0, read), 1);
}

TEST(UsableProcessorsDeathTest, IsReadOncePerProcess) {
  // A second look at a mask of one CPU would give 1.
  EXPECT_EXIT(
      {
        const int first = UsableProcessors();
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        sched_setaffinity(0, sizeof one, &one);
        std::_Exit(UsableProcessors() == first ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST(UsableProcessorsDeathTest, FollowsTheAffinityMask) {
  EXPECT_EXIT(
      {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        sched_setaffinity(0, sizeof one, &one);
        std::_Exit(UsableProcessors());
      },
      ::testing::ExitedWithCode(1), "");
}

}  // namespace
