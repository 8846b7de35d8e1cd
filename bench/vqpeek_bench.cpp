// Times the viewer's kernels in-process on one set file: ReadCodebook, the
// set statistics, and both listings written to /dev/null; given a codebook
// and a partitioning of the set as well, the steps of both two-file modes:
// the loading step's calls, the steps of the program's run that holds the
// set at its file's width, and the partition view written to /dev/null.
// Each figure is the median of several runs.
//
// Usage: vqpeek_bench FILE [RUNS [CODEBOOK PARTITIONING]]
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
#include "viewer.h"
#include "vqpeek/cb.h"

namespace {

void Report(const char* what, double seconds, long long vectors) {
  std::printf("%-28s %9.3f s  %8.1f ns/vector\n", what, seconds,
              vectors > 0 ? seconds * 1e9 / static_cast<double>(vectors) : 0.0);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: vqpeek_bench FILE [RUNS [CODEBOOK PARTITIONING]]\n");
    return 2;
  }
  const char* path = argv[1];
  const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
#ifndef __OPTIMIZE__
  std::printf("WARNING: built without optimisation; the figures mean little.\n");
#endif
  if (std::string(VQPEEK_BUILD_TYPE) == "Debug") {
    std::printf("WARNING: the libraries are a Debug build; the figures mean little.\n");
  }

  Codebook set;
  ReadCodebook(path, &set);
  const long long vectors = set.Booksize;
  std::printf("%s: %lld vectors of %dx%d, median of %d runs\n", path, vectors, set.BlockSizeX,
              set.BlockSizeY, runs);

  Report("ReadCodebook",
         MedianSeconds(runs,
                       [&] {
                         Codebook again;
                         ReadCodebook(path, &again);
                         FreeCodebook(&again);
                       }),
         vectors);

  SetStatistics stats;
  Report("ComputeSetStatistics", MedianSeconds(runs, [&] { stats = ComputeSetStatistics(set); }),
         vectors);
  const ListingGeometry geometry = ComputeListingGeometry(set, stats);

  FILE* sink = std::fopen("/dev/null", "w");
  if (sink == nullptr) {
    std::perror("/dev/null");
    return 1;
  }
  Report("LineLayout to /dev/null", MedianSeconds(runs, [&] { LineLayout(sink, set, stats, 0); }),
         vectors);
  Report("MatrixLayout to /dev/null",
         MedianSeconds(runs, [&] { MatrixLayout(sink, set, stats, geometry); }), vectors);

  if (argc > 4) {
    Codebook codebook;
    ReadCodebook(argv[3], &codebook);
    Report("CreateNewPartitioning",
           MedianSeconds(runs,
                         [&] {
                           Partitioning partitioning;
                           CreateNewPartitioning(&partitioning, &set, codebook.Booksize);
                           FreePartitioning(&partitioning);
                         }),
           vectors);
    Partitioning partitioning;
    Report("GenerateOptimalPartitioning",
           MedianSeconds(runs,
                         [&] {
                           FreePartitioning(&partitioning);
                           CreateNewPartitioning(&partitioning, &set, codebook.Booksize);
                           GenerateOptimalPartitioningGeneral(&set, &codebook, &partitioning, 0);
                         }) -
               MedianSeconds(runs,
                             [&] {
                               FreePartitioning(&partitioning);
                               CreateNewPartitioning(&partitioning, &set, codebook.Booksize);
                             }),
           vectors);
    // The run of the program holds the set at its file's width.
    NarrowSet narrow;
    Report("ReadNarrowSet",
           MedianSeconds(runs,
                         [&] {
                           NarrowSet again;
                           SetReader reader(path);
                           ReadNarrowSet(reader, &again);
                         }),
           vectors);
    {
      SetReader reader(path);
      ReadNarrowSet(reader, &narrow);
    }
    std::vector<int> labels(static_cast<std::size_t>(vectors));
    Report("AssignNarrowSet",
           MedianSeconds(runs, [&] { AssignNarrowSet(narrow, codebook, labels.data()); }), vectors);
    std::vector<std::int64_t> offset;
    std::unique_ptr<int[]> members;
    Report("GroupMembers",
           MedianSeconds(runs,
                         [&] {
                           GroupMembers(labels.data(), narrow.Size(), codebook.Booksize, true,
                                        &offset, &members);
                         }),
           vectors);
    Report("TS CB view to /dev/null",
           MedianSeconds(runs,
                         [&] {
                           PrintMemberView(sink, narrow, codebook, offset.data(), members.get(),
                                           stats, 0);
                         }),
           vectors);
    FreePartitioning(&partitioning);
    Report("ReadPartitioning",
           MedianSeconds(runs,
                         [&] {
                           FreePartitioning(&partitioning);
                           ReadPartitioning(argv[4], &partitioning, &set);
                         }),
           vectors);
    Codebook centroids;
    Report("ReadPartitionLabels",
           MedianSeconds(runs, [&] { ReadPartitionLabels(argv[4], narrow.Header, labels.data()); }),
           vectors);
    Report("NarrowSetCentroids",
           MedianSeconds(runs,
                         [&] {
                           FreeCodebook(&centroids);
                           NarrowSetCentroids(narrow, labels.data(), partitioning.PartitionCount,
                                              &centroids);
                         }),
           vectors);
    GroupMembers(labels.data(), narrow.Size(), centroids.Booksize, false, &offset, &members);
    Report("TS PA view to /dev/null",
           MedianSeconds(runs,
                         [&] {
                           PrintMemberView(sink, narrow, centroids, offset.data(), members.get(),
                                           stats, 0);
                         }),
           vectors);
    FreePartitioning(&partitioning);
    FreeCodebook(&centroids);
    FreeCodebook(&codebook);
  }
  std::fclose(sink);
  FreeCodebook(&set);
  return 0;
}
