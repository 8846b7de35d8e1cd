// The block of figures of option S: the set's figures in the one-file mode,
// the partitions' figures in the two-file modes. The records are handed to
// the library's accumulators in batches of flat rows, as a reader that
// streams the set would hand them over.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "viewer.h"
#include "vqpeek/cb.h"

namespace {

// Whether nodes first .. first+count-1 lie in one run of the element block.
bool Contiguous(const Codebook& set, int first, int count) {
  const std::size_t dim = static_cast<std::size_t>(VectorDimension(set));
  const int* start = set.Book[first].Vector.get();
  for (int k = 1; k < count; ++k) {
    if (set.Book[first + k].Vector.get() != start + static_cast<std::size_t>(k) * dim) return false;
  }
  return true;
}

}  // namespace

const int* FlatRows(const Codebook& set, int first, int count, int* scratch) {
  if (Contiguous(set, first, count)) return set.Book[first].Vector.get();
  const std::size_t dim = static_cast<std::size_t>(VectorDimension(set));
  for (int k = 0; k < count; ++k) {
    const int* row = set.Book[first + k].Vector.get();
    std::copy(row, row + dim, scratch + static_cast<std::size_t>(k) * dim);
  }
  return scratch;
}

const int* AllRows(const Codebook& set, std::vector<int>* copy) {
  if (set.Booksize <= 0) return nullptr;
  if (Contiguous(set, 0, set.Booksize)) return set.Book[0].Vector.get();
  copy->resize(static_cast<std::size_t>(set.Booksize) *
               static_cast<std::size_t>(VectorDimension(set)));
  return FlatRows(set, 0, set.Booksize, copy->data());
}

namespace {

// Calls take(first, count, rows, freqs) for every batch of the set, in
// order.
template <typename Take>
void ForEachBatch(const Codebook& set, Take&& take) {
  RowBatches batches(set.Booksize, VectorDimension(set), INT_MAX, kCopiedBatchBytes);
  std::vector<int> freqs(static_cast<std::size_t>(batches.Capacity()));
  batches.ForEach([&](std::int64_t start, int count, int* scratch) {
    const int first = static_cast<int>(start);
    for (int k = 0; k < count; ++k) freqs[static_cast<std::size_t>(k)] = set.Book[first + k].Freq;
    take(first, count, FlatRows(set, first, count, scratch), freqs.data());
  });
}

// One figure, or "n/a" for one that has none.
void PrintFigure(FILE* out, const char* label, const char* format, double value,
                 const char* unit = "") {
  std::fprintf(out, "%-19s", label);
  if (std::isnan(value)) {
    std::fputs("n/a\n", out);
    return;
  }
  std::fprintf(out, format, value);
  std::fprintf(out, "%s\n", unit);
}

}  // namespace

SetFigures ComputeSetFigures(const Codebook& set) {
  SetFigureAccumulator accumulator(VectorDimension(set));
  ForEachBatch(set, [&](int, int count, const int* rows, const int* freqs) {
    accumulator.Add(rows, freqs, count);
  });
  return accumulator.Figures();
}

PartitionFigures ComputePartitionFigures(const NarrowSet& trainingSet, const Codebook& second,
                                         const int* labels) {
  std::vector<int> copy;
  PartitionFigureAccumulator accumulator(AllRows(second, &copy), second.Booksize, trainingSet.Dim);
  RowBatches batches(trainingSet.Size(), trainingSet.Dim, INT_MAX, kCopiedBatchBytes);
  batches.ForEach([&](std::int64_t start, int count, int* rows) {
    const int first = static_cast<int>(start);
    WidenRows(trainingSet, first, count, rows);
    accumulator.Add(rows, trainingSet.Freqs.get() + first, labels + first, count);
  });
  const Codebook& head = trainingSet.Header;
  return accumulator.Figures(PeakValue(head.BytesPerElement, head.MinValue, head.MaxValue));
}

void PrintSetFigures(FILE* out, const SetFigures& figures) {
  std::fprintf(out, "%-19s%lld\n",
               "Distinct vectors:", static_cast<long long>(figures.DistinctVectors));
  PrintFigure(out, "Mean element:", "%.3f", figures.MeanElement);
  PrintFigure(out, "Variance:", "%.3f", figures.Variance);
}

void PrintPartitionFigures(FILE* out, const PartitionFigures& figures) {
  std::fprintf(out, "%-19s%d (%d empty)\n", "Partitions:", figures.Partitions,
               figures.EmptyPartitions);
  if (figures.LargestSize == 0) {
    std::fprintf(out, "%-19sn/a\n", "Partition sizes:");
  } else {
    std::fprintf(out, "%-19s%llu to %llu\n",
                 "Partition sizes:", static_cast<unsigned long long>(figures.SmallestSize),
                 static_cast<unsigned long long>(figures.LargestSize));
  }
  PrintFigure(out, "MSE per element:", "%.3f", figures.MeanSquaredError);
  PrintFigure(out, "PSNR:", "%.2f", figures.Psnr, " dB");
  PrintFigure(out, "Fixed rate:", "%.3f", figures.FixedRate, " bits/vector");
  PrintFigure(out, "Entropy rate:", "%.3f", figures.EntropyRate, " bits/vector");
}
