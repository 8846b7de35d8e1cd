// Nearest-vector partitioning and centroid generation: the searches that
// move training vectors between partitions, and the codebook of partition
// centroids.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "cb_internal.h"
#include "search_rule.h"
#include "vqpeek/cb.h"

using cb_internal::CodeVectorOf;
using cb_internal::SearchNearest;
using cb_internal::SearchResult;

namespace {

// Fatal unless code vector k has a partition of its own in `P`.
void RequireCodebookFits(const Codebook& CB, int partitions) {
  if (CB.Booksize > partitions) {
    FatalError(
        "ERROR: The codebook has more vectors (%d) than the partitioning has partitions (%d).\n",
        CB.Booksize, partitions);
  }
}

// Fatal unless `index` names a code vector.
void RequireCodeVector(const Codebook& CB, int index) {
  if (index < 0 || index >= CB.Booksize) {
    FatalError("ERROR: Code vector %d is not in the codebook (%d vectors).\n", index, CB.Booksize);
  }
}

// What every search that moves vectors needs of its three records.
void RequireSearchRecords(const Codebook& TS, const Codebook& CB, const Partitioning& P) {
  cb_internal::RequireSearchableCodebook(TS, CB);
  cb_internal::RequirePartitioningOf(TS, P);
  RequireCodebookFits(CB, P.PartitionCount);
}

}  // namespace

double GenerateOptimalPartitioningGeneral(const Codebook* TS, const Codebook* CB, Partitioning* P,
                                          int errorFunction) {
  if (errorFunction != 0 && errorFunction != 1 && errorFunction != 11 && errorFunction != 12) {
    FatalError("ERROR: Unknown error function.\n");
  }
  RequireSearchRecords(*TS, *CB, *P);
  const int metric = DistType(errorFunction);
  const int n = TS->Booksize;

  // The search of vector i depends only on its own start candidate Map[i]
  // and the codebook, never on the moves of other vectors, so all vectors
  // are searched first and then moved in bulk, which leaves the lists and
  // totals exactly as one vector at a time does; the error is a wrapping
  // sum, the same in any order. Every start candidate is checked first, so
  // the first vector without one is the one reported. Under the squared
  // distance, which cannot fail, the search runs on the threads that take
  // the totals, each on its own part of the vectors while the part is in
  // its cache; other metrics search on the calling thread.
  for (int i = 0; i < n; ++i) CodeVectorOf(*P, i, *CB);
  std::unique_ptr<int[]> target;
  try {
    target = std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(n));
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for the partitioning.\n");
  }
  std::atomic<std::uint64_t> sum{0};
  auto search = [&](int begin, int end) {
    cb_internal::PrefaultPages(target.get() + begin,
                               static_cast<std::size_t>(end - begin) * sizeof(int));
    constexpr int kStep = 1 << 12;
    std::int64_t best[kStep];
    std::uint64_t partSum = 0;
    for (int first = begin; first < end; first += kStep) {
      const int count = std::min(kStep, end - first);
      cb_internal::SearchBlock(*TS, *CB, first, count, P->Map.get() + first, metric,
                               target.get() + first, best, true);
      for (int k = 0; k < count; ++k) {
        partSum +=
            static_cast<std::uint64_t>(cb_internal::WrapMul(best[k], TS->Book[first + k].Freq));
      }
    }
    sum += partSum;
  };
  if (metric == 0) {
    cb_internal::MoveInBulk(*TS, P, target.get(), false,
                            [&](int begin, int end) { search(begin, end); });
  } else {
    search(0, n);
    cb_internal::MoveInBulk(*TS, P, target.get(), false);
  }
  if (errorFunction == 1) return AverageErrorForSolution(TS, CB, P, 1);
  // The divisor is formed in 64 bits: a large set must not wrap it.
  return static_cast<double>(static_cast<std::int64_t>(sum.load())) /
         static_cast<double>(static_cast<std::int64_t>(VectorDimension(*TS)) * TS->TotalFreq);
}

void GenerateOptimalCodebookGeneral(const Codebook*, Codebook* CB, const Partitioning* P,
                                    int errorFunction) {
  switch (errorFunction) {
    case 0:
    case 1:
    case 2:
    case 11:
    case 12:
      break;
    default:
      FatalError("cb::GenerateOptimalCodebookGeneral: Unknown error function.\n");
  }
  RequireCodebookFits(*CB, P->AllocatedPartitions);
  if (CB->Booksize > 0 && VectorDimension(*CB) != P->VectorDim) {
    FatalError("ERROR: Codebook and partitioning differ in vector dimension (%d != %d).\n",
               VectorDimension(*CB), P->VectorDim);
  }
  for (int k = 0; k < CB->Booksize; ++k) {
    // A partition without frequency has no centroid; its code vector stays.
    if (P->PartitionSums[k].CCFreq <= 0) {
      CB->Book[k].Freq = 0;
    } else {
      cb_internal::CentroidOf(P->PartitionSums[k], P->VectorDim, &CB->Book[k]);
    }
  }
}

int FindNearestVector(const CodebookNode* node, const Codebook* CB, std::int64_t* best, int start,
                      int metric) {
  RequireCodeVector(*CB, start);
  const SearchResult result =
      SearchNearest(*CB, node->Vector.get(), VectorDimension(*CB), start, metric);
  *best = result.best;
  return result.chosen;
}

void LocalRepartitioningGeneral(const Codebook* TS, const Codebook* CB, Partitioning* P, int p,
                                int metric) {
  RequireSearchRecords(*TS, *CB, *P);
  if (p < 0 || p >= P->PartitionCount) {
    FatalError("ERROR: Partition %d is not in the partitioning (%d partitions).\n", p,
               P->PartitionCount);
  }
  const int dim = VectorDimension(*CB);
  for (int v = P->First[p]; v != -1;) {
    const SearchResult result =
        SearchNearest(*CB, TS->Book[v].Vector.get(), dim, CodeVectorOf(*P, v, *CB), metric);
    // A move relinks v, so its successor is taken first.
    const int next = P->Next[v];
    if (result.chosen != p) ChangePartition(TS, P, result.chosen, v);
    v = next;
  }
}

void RepartitionDueToNewVectorsGeneral(const Codebook* TS, const Codebook* CB, Partitioning* P,
                                       const int* indices, int count, int metric) {
  RequireSearchRecords(*TS, *CB, *P);
  for (int k = 0; k < count; ++k) RequireCodeVector(*CB, indices[k]);
  const int dim = VectorDimension(*TS);
  for (int i = 0; i < TS->Booksize; ++i) {
    const int* vector = TS->Book[i].Vector.get();
    std::int64_t best = VectorDistance(CB->Book[CodeVectorOf(*P, i, *CB)].Vector.get(), vector, dim,
                                       kFullDistance, metric);
    // Only a strictly nearer listed code vector takes the vector, the
    // earlier in the list on a tie; a distance of 0 does not end the scan.
    int chosen = -1;
    for (int k = 0; k < count; ++k) {
      const std::int64_t d =
          VectorDistance(CB->Book[indices[k]].Vector.get(), vector, dim, best, metric);
      if (d < best) {
        best = d;
        chosen = indices[k];
      }
    }
    if (chosen >= 0) ChangePartition(TS, P, chosen, i);
  }
}

void RepartitionDueToNewVectorGeneral(const Codebook* TS, const Codebook* CB, Partitioning* P,
                                      int n, int metric) {
  RepartitionDueToNewVectorsGeneral(TS, CB, P, &n, 1, metric);
}

double AverageErrorForPartitioning(const Codebook* TS, const Partitioning* P, int errorFunction) {
  Codebook centroids;
  CreateNewCodebook(&centroids, P->PartitionCount, TS);
  GenerateOptimalCodebookGeneral(TS, &centroids, P, errorFunction);
  const double error = AverageErrorForSolution(TS, &centroids, P, errorFunction);
  FreeCodebook(&centroids);
  return error;
}
