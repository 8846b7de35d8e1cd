// Timing for the bench programs.
#ifndef VQPEEK_BENCH_BENCH_TIMING_H_
#define VQPEEK_BENCH_BENCH_TIMING_H_

#include <algorithm>
#include <chrono>
#include <functional>
#include <vector>

// The median wall time of `runs` runs of `work`, in seconds.
inline double MedianSeconds(int runs, const std::function<void()>& work) {
  std::vector<double> seconds;
  for (int r = 0; r < runs; ++r) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    seconds.push_back(took.count());
  }
  std::sort(seconds.begin(), seconds.end());
  return seconds[seconds.size() / 2];
}

#endif  // VQPEEK_BENCH_BENCH_TIMING_H_
