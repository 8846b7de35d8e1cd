// Centroids of flat rows: the totals of each partition gathered batch by
// batch, with the wrapping arithmetic of a partitioning's totals, so that
// the centroids are those of the record operations bit for bit.
#include <algorithm>
#include <new>

#include "cb_internal.h"
#include "vqpeek/cb.h"

CentroidAccumulator::CentroidAccumulator(int partitions, int dim)
    : partitions_(partitions), dim_(dim) {
  if (partitions < 1) FatalError("ERROR: Invalid number of partitions (%d).\n", partitions);
  if (dim < 1) FatalError("ERROR: Invalid vector dimension (%d).\n", dim);
  try {
    sums_ = cb_internal::NewPartitionSums(partitions, dim);
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for the partitioning.\n");
  }
}

CentroidAccumulator::~CentroidAccumulator() = default;

void CentroidAccumulator::Add(const int* rows, const int* freqs, const int* labels,
                              std::int64_t count) {
  for (std::int64_t i = 0; i < count; ++i) {
    if (labels[i] < -1 || labels[i] >= partitions_) {
      FatalError("ERROR: Partition %d is not in the partitioning (%d partitions).\n", labels[i],
                 partitions_);
    }
  }
  const std::size_t dim = static_cast<std::size_t>(dim_);
  for (std::int64_t i = 0; i < count; ++i, rows += dim) {
    if (labels[i] < 0) continue;
    PartitionSum& totals = sums_[labels[i]];
    const std::int64_t freq = freqs[i];
    std::int64_t* sum = totals.VectorSum.get();
    for (std::size_t e = 0; e < dim; ++e) {
      sum[e] = cb_internal::WrapAdd(sum[e], cb_internal::WrapMul(freq, rows[e]));
    }
    totals.CCFreq = cb_internal::WrapAdd32(totals.CCFreq, freqs[i]);
  }
}

void CentroidAccumulator::Centroids(int* centroids, int* freqs) const {
  CodebookNode node;
  node.Vector = CreateEmptyVector(dim_);
  const std::size_t dim = static_cast<std::size_t>(dim_);
  for (int k = 0; k < partitions_; ++k) {
    if (sums_[k].CCFreq <= 0) {
      freqs[k] = 0;
      continue;
    }
    cb_internal::CentroidOf(sums_[k], dim_, &node);
    std::copy_n(node.Vector.get(), dim, centroids + static_cast<std::size_t>(k) * dim);
    freqs[k] = node.Freq;
  }
}
