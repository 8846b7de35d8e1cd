// Times the exact nearest-vector search alone on a training set and a
// codebook: every path the processor offers, each the median of several
// runs, all checked to agree. Also writes the best distance of every
// training vector (little-endian int64) for the comparison with other
// libraries.
//
// Usage: nearest_bench SET_FILE CODEBOOK_FILE [RUNS [BEST_OUT]]
//        nearest_bench --fresh-memory MB
// The second form times how long this machine takes to hand out MB
// megabytes of new memory (the first write to every page), the floor under
// any run that builds a record of that size.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench_timing.h"
#include "nearest_search.h"
#include "vqpeek/cb.h"

namespace {

using cb_internal::NearestPath;

struct PathRun {
  const char* name;
  NearestPath path;
  // The plain scan is slow: it runs on a part of the set and is scaled up.
  int share;
};

}  // namespace

int FreshMemory(std::size_t megabytes) {
  const std::size_t bytes = megabytes << 20;
  const double seconds = MedianSeconds(3, [bytes] {
    auto block = std::make_unique_for_overwrite<char[]>(bytes);
    volatile char* pages = block.get();  // writes the optimiser must keep
    for (std::size_t i = 0; i < bytes; i += 4096) pages[i] = 1;
  });
  std::printf("Fresh memory on this machine: the first writes to %zu MB of new pages take %.3f s\n",
              megabytes, seconds);
  return 0;
}

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--fresh-memory") {
    return FreshMemory(static_cast<std::size_t>(std::atoll(argv[2])));
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: nearest_bench SET_FILE CODEBOOK_FILE [RUNS [BEST_OUT]]\n");
    return 2;
  }
  const int runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  Codebook set;
  Codebook codebook;
  ReadCodebook(argv[1], &set);
  ReadCodebook(argv[2], &codebook);
  const int n = set.Booksize;
  std::vector<int> start(static_cast<std::size_t>(n), 0);
  std::vector<int> chosen(start.size());
  std::vector<std::int64_t> best(start.size());
  std::vector<int> reference(start.size());
  std::vector<std::int64_t> referenceBest(start.size());
  cb_internal::SearchNearestSquared(set, 0, n, codebook, start.data(), reference.data(),
                                    referenceBest.data());

  std::printf("%d training vectors, %d code vectors, dimension %d\n", n, codebook.Booksize,
              VectorDimension(set));
  const PathRun paths[] = {
      {"exact search, all threads", NearestPath::kAuto, 1},
      {"AVX-512 VNNI, one thread", NearestPath::kVnni, 1},
      {"AVX2, one thread", NearestPath::kAvx2, 1},
      {"plain C++, one thread", NearestPath::kPortable, 4},
      {"plain scan, one thread", NearestPath::kScalar, 20},
  };
  for (const PathRun& run : paths) {
    if (!cb_internal::NearestPathAvailable(run.path) ||
        !cb_internal::NearestPathFits(run.path, set, 0, n, codebook)) {
      std::printf("%-28s   (not on this processor or for these values)\n", run.name);
      continue;
    }
    const int part = std::max(1, n / run.share);
    const double seconds = MedianSeconds(run.share == 1 ? runs : 1, [&] {
      cb_internal::SearchNearestSquared(set, 0, part, codebook, start.data(), chosen.data(),
                                        best.data(), run.path);
    });
    const bool agrees = std::equal(chosen.begin(), chosen.begin() + part, reference.begin()) &&
                        std::equal(best.begin(), best.begin() + part, referenceBest.begin());
    std::printf("%-28s %9.4f s%s%s\n", run.name, seconds * run.share,
                run.share > 1 ? " (scaled from a part)" : "", agrees ? "" : "  DIFFERS");
    if (!agrees) return 1;
  }
  if (argc > 4) {
    FILE* out = std::fopen(argv[4], "wb");
    if (out == nullptr) return 1;
    std::fwrite(referenceBest.data(), sizeof(std::int64_t), referenceBest.size(), out);
    std::fclose(out);
  }
  return 0;
}
