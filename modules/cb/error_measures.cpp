// Average errors of a solution (a training set, a codebook and the
// partitioning that assigns one to the other), and of a codebook under full
// search.
//
// Sums of distances wrap in 64 bits instead of overflowing, so hostile
// frequencies give a wrong figure, never undefined behaviour. Averages are
// double divisions: a set whose TotalFreq (or size) is 0 gives NaN or an
// infinity rather than a crash.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "cb_internal.h"
#include "search_rule.h"
#include "vqpeek/cb.h"

using cb_internal::CodeVectorOf;
using cb_internal::WrapAdd;
using cb_internal::WrapMul;

namespace {

// Adds (or subtracts) log2 j for j = from .. to, one term at a time with j
// ascending, so that the rounding is that of the sum written out. An empty
// range adds nothing.
void AccumulateLog2(double& accumulator, std::int64_t from, std::int64_t to, bool subtract) {
  const double ln2 = std::log(2.0);
  for (std::int64_t j = from; j <= to; ++j) {
    const double term = std::log(static_cast<double>(j)) / ln2;
    if (subtract) {
      accumulator -= term;
    } else {
      accumulator += term;
    }
  }
}

// Error function 1: the bits per training vector needed to state the
// partition sizes, every vector's partition, and per partition and element
// how many members have a non-zero element and which ones. Only the
// codebook's size is used.
double CodeLengthOfSolution(const Codebook& TS, const Codebook& CB, const Partitioning& P) {
  cb_internal::RequirePartitioningOf(TS, P);
  const int M = CB.Booksize;
  if (M > P.AllocatedPartitions) {
    FatalError(
        "ERROR: The codebook has more vectors (%d) than the partitioning has partitions (%d).\n", M,
        P.AllocatedPartitions);
  }
  const std::int64_t T = TS.TotalFreq;
  const int dim = VectorDimension(TS);

  double labels = 0.0;
  AccumulateLog2(labels, 2, T, false);
  for (int k = 0; k < M; ++k) AccumulateLog2(labels, 2, P.PartitionSums[k].CCFreq, true);
  AccumulateLog2(labels, T, T + M - 1, false);
  AccumulateLog2(labels, 2, M - 1, true);

  double data = 0.0;
  std::vector<std::int64_t> ones(static_cast<std::size_t>(dim));
  for (int k = 0; k < M; ++k) {
    // Per element: the frequency of the members whose element is positive.
    std::fill(ones.begin(), ones.end(), 0);
    for (int m = P.First[k]; m != -1; m = P.Next[m]) {
      const CodebookNode& node = TS.Book[m];
      for (int e = 0; e < dim; ++e) {
        if (node.Vector[e] > 0) ones[e] += node.Freq;
      }
    }
    const std::int64_t F = P.PartitionSums[k].CCFreq;
    for (int e = 0; e < dim; ++e) {
      AccumulateLog2(data, 2, F + 1, false);
      AccumulateLog2(data, 2, ones[e], true);
      AccumulateLog2(data, 2, F - ones[e], true);
    }
  }
  return (labels + data) / static_cast<double>(T);
}

// Error functions 0, 11, 12: the frequency-weighted mean distance per
// element from every training vector to the code vector of its partition.
double MeanDistanceOfSolution(const Codebook& TS, const Codebook& CB, const Partitioning& P,
                              int metric) {
  cb_internal::RequirePartitioningOf(TS, P);
  cb_internal::RequireSameDimension(TS, CB);
  const int dim = VectorDimension(TS);
  std::int64_t sum = 0;
  for (int i = 0; i < TS.Booksize; ++i) {
    const int k = CodeVectorOf(P, i, CB);
    const std::int64_t d = VectorDistance(CB.Book[k].Vector.get(), TS.Book[i].Vector.get(), dim,
                                          kFullDistance, metric);
    sum = WrapAdd(sum, WrapMul(d, TS.Book[i].Freq));
  }
  return static_cast<double>(sum) /
         static_cast<double>(static_cast<std::int64_t>(TS.TotalFreq) * dim);
}

// The mean distance from every training vector to its nearest code vector
// by full search, starting from the vector's partition in `P` when one is
// given, else from code vector 0. A training set measured against a
// codebook is weighted by the frequencies; two sets of the same kind are
// compared vector by vector.
double AverageErrorCBFastMeanError(const Codebook& TS, const Codebook& CB, const Partitioning* P,
                                   int metric) {
  cb_internal::RequireSearchableCodebook(TS, CB);
  if (P != nullptr) cb_internal::RequirePartitioningOf(TS, *P);
  const bool weighted = RecognizeVersionstr(TS.Versionstr) != RecognizeVersionstr(CB.Versionstr);
  const int n = TS.Booksize;
  const std::size_t blockSize = static_cast<std::size_t>(std::min(n, cb_internal::kSearchBlock));
  std::vector<int> start(blockSize);
  std::vector<int> chosen(blockSize);
  std::vector<std::int64_t> best(blockSize);
  std::int64_t sum = 0;
  for (int first = 0; first < n; first += static_cast<int>(blockSize)) {
    const int count = std::min(static_cast<int>(blockSize), n - first);
    for (int k = 0; k < count; ++k) start[k] = P != nullptr ? CodeVectorOf(*P, first + k, CB) : 0;
    cb_internal::SearchBlock(TS, CB, first, count, start.data(), metric, chosen.data(),
                             best.data());
    for (int k = 0; k < count; ++k) {
      sum = WrapAdd(sum, weighted ? WrapMul(best[k], TS.Book[first + k].Freq) : best[k]);
    }
  }
  const std::int64_t count = weighted ? TS.TotalFreq : TS.Booksize;
  return static_cast<double>(sum) /
         static_cast<double>(static_cast<std::int64_t>(VectorDimension(TS)) * count);
}

// Error function 1 under full search: every vector goes to its nearest code
// vector by the code-length metric in a partitioning of its own, which is
// then measured.
double CodeLengthUnderFullSearch(const Codebook& TS, const Codebook& CB) {
  cb_internal::RequireSearchableCodebook(TS, CB);
  Partitioning nearest;
  CreateNewPartitioning(&nearest, &TS, CB.Booksize);
  const int dim = VectorDimension(CB);
  for (int i = 0; i < TS.Booksize; ++i) {
    const int current = nearest.Map[i];
    const int chosen =
        cb_internal::SearchNearest(CB, TS.Book[i].Vector.get(), dim, current, 1).chosen;
    if (chosen != current) ChangePartition(&TS, &nearest, chosen, i);
  }
  const double error = AverageErrorForSolution(&TS, &CB, &nearest, 1);
  FreePartitioning(&nearest);
  return error;
}

}  // namespace

double AverageErrorForSolution(const Codebook* TS, const Codebook* CB, const Partitioning* P,
                               int errorFunction) {
  switch (errorFunction) {
    case 0:
    case 11:
    case 12:
      return MeanDistanceOfSolution(*TS, *CB, *P, errorFunction);
    case 1:
      return CodeLengthOfSolution(*TS, *CB, *P);
    default:
      FatalError("ERROR: Unknown error function.\n");
  }
}

double AverageErrorCBFast(const Codebook* TS, const Codebook* CB, const Partitioning* P,
                          int errorFunction) {
  switch (errorFunction) {
    case 0:
    case 11:
    case 12:
      return AverageErrorCBFastMeanError(*TS, *CB, P, errorFunction);
    case 1:
      return CodeLengthUnderFullSearch(*TS, *CB);
    default:
      FatalError("ERROR: Unknown error function.\n");
  }
}
