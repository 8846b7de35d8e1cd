// Centroids: the wrapping sums of a partition and their rounding, the one
// implementation behind every centroid of the library (the records'
// partitionings, the sets held at their file's width, the assigning pass
// and the accumulator of flat rows), so that all of them agree bit for bit.
#include <algorithm>
#include <new>

#include "cb_internal.h"
#include "vqpeek/cb.h"

namespace cb_internal {

int RoundCentroid(const std::int64_t* sums, int freq, int dim, int* centroid) {
  const double total = freq;
  std::int64_t elements = 0;
  for (int e = 0; e < dim; ++e) {
    const int c = TruncateToInt(static_cast<double>(sums[e]) / total + 0.5);
    centroid[e] = c;
    elements += c;
  }
  return RoundedMean(elements, dim);
}

void CentroidOf(const PartitionSum& totals, int dim, CodebookNode* node) {
  node->VectorMean = RoundCentroid(totals.VectorSum.get(), totals.CCFreq, dim, node->Vector.get());
  node->Freq = totals.CCFreq;
}

}  // namespace cb_internal

CentroidAccumulator::CentroidAccumulator(int partitions, int dim)
    : partitions_(partitions), dim_(dim) {
  if (partitions < 1) FatalError("ERROR: Invalid number of partitions (%d).\n", partitions);
  if (dim < 1) FatalError("ERROR: Invalid vector dimension (%d).\n", dim);
  try {
    sums_ = std::make_unique<std::int64_t[]>(static_cast<std::size_t>(partitions) *
                                             static_cast<std::size_t>(dim));
    freqs_ = std::make_unique<int[]>(static_cast<std::size_t>(partitions));
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
    const int p = labels[i];
    if (p < 0) continue;
    cb_internal::AddWeightedRow(sums_.get() + static_cast<std::size_t>(p) * dim, rows, dim_,
                                freqs[i]);
    freqs_[p] = cb_internal::WrapAdd32(freqs_[p], freqs[i]);
  }
}

const std::int64_t* CentroidAccumulator::Sums(int partition) const {
  return sums_.get() + static_cast<std::size_t>(partition) * static_cast<std::size_t>(dim_);
}

int CentroidAccumulator::Freq(int partition) const { return freqs_[partition]; }

bool CentroidAccumulator::Centroid(int partition, CodebookNode* node) const {
  if (freqs_[partition] <= 0) return false;
  node->VectorMean =
      cb_internal::RoundCentroid(Sums(partition), freqs_[partition], dim_, node->Vector.get());
  node->Freq = freqs_[partition];
  return true;
}

void CentroidAccumulator::Centroids(int* centroids, int* freqs) const {
  const std::size_t dim = static_cast<std::size_t>(dim_);
  for (int k = 0; k < partitions_; ++k) {
    if (freqs_[k] <= 0) {
      freqs[k] = 0;
      continue;
    }
    cb_internal::RoundCentroid(Sums(k), freqs_[k], dim_,
                               centroids + static_cast<std::size_t>(k) * dim);
    freqs[k] = freqs_[k];
  }
}
