// The codebook training in-process: the set is loaded once (held at its
// file's width, or opened for streaming), then trained `runs` times from
// the same initial codebook; prints the median time, the peak memory of
// the process, the final MSE and the share of vector searches that the
// bounds saved.
//
// Usage: train_bench SET_FILE CODEBOOK_FILE UPDATES RUNS [held|stream|plain] [THREADS]
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "bench_timing.h"
#include "vqpeek/cb.h"

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: train_bench SET_FILE CODEBOOK_FILE UPDATES RUNS [held|stream|plain] "
                 "[THREADS]\n");
    return 2;
  }
  const int updates = std::atoi(argv[3]);
  const int runs = std::atoi(argv[4]);
  const std::string mode = argc > 5 ? argv[5] : "held";
  const int threads = argc > 6 ? std::atoi(argv[6]) : 0;
  Codebook initial;
  ReadCodebook(argv[2], &initial);
  SetReader reader(argv[1]);
  NarrowSet held;
  if (mode != "stream") ReadNarrowSet(reader, &held);
  const TrainingSource set = mode == "stream" ? TrainingSource(reader) : TrainingSource(held);

  TrainingResult result;
  TrainingOptions options;
  options.Updates = updates;
  options.Threshold = 0;
  options.Threads = threads;
  options.Accelerate = mode != "plain";
  if (std::getenv("TRAIN_BENCH_VERBOSE") != nullptr) {
    options.Progress = [](const TrainingProgress& p) {
      std::printf("  iteration %2d  MSE %10.3f  searched %8lld  %.3f s\n", p.Iteration, p.Mse,
                  static_cast<long long>(p.Searched), p.Seconds);
    };
  }
  const double seconds = MedianSeconds(runs, [&] {
    Codebook codebook;
    CreateNewCodebook(&codebook, initial.Booksize, &reader.Header());
    for (int k = 0; k < initial.Booksize; ++k) {
      CopyVector(initial.Book[k].Vector.get(), codebook.Book[k].Vector.get(),
                 VectorDimension(initial));
    }
    TrainCodebook(set, &codebook, options, &result);
  });
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  const double searchedShare = static_cast<double>(result.SearchedVectors) /
                               (static_cast<double>(set.Size()) * (result.Updates + 1));
  const double cpu = static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
                     static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  std::printf(
      "vqtrain %-6s %8.3f s %7.0f MB  MSE %.3f  updates %d  searched %.1f %%  (%.2f s of "
      "processor time in all)\n",
      mode.c_str(), seconds, usage.ru_maxrss / 1024.0, result.Mse, result.Updates,
      100 * searchedShare, cpu);
  return 0;
}
