// The block of figures of option S: the set's figures in the one-file mode,
// the partitions' figures in the two-file modes. The records are handed to
// the library's accumulators in batches of flat rows, as a reader that
// streams the set would hand them over.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "viewer.h"
#include "vqpeek/cb.h"

const int* FlatRows(const Codebook& set, int first, int count, std::vector<int>* scratch,
                    bool* stays) {
  const std::size_t dim = static_cast<std::size_t>(VectorDimension(set));
  const int* start = set.Book[first].Vector.get();
  bool contiguous = true;
  for (int k = 1; k < count && contiguous; ++k) {
    contiguous = set.Book[first + k].Vector.get() == start + k * dim;
  }
  *stays = contiguous;
  if (contiguous) return start;
  scratch->resize(static_cast<std::size_t>(count) * dim);
  for (int k = 0; k < count; ++k) {
    const int* row = set.Book[first + k].Vector.get();
    std::copy(row, row + dim, scratch->data() + k * dim);
  }
  return scratch->data();
}

namespace {

constexpr int kBatchRows = 4096;

// Calls take(first, count, rows, freqs, rowsStay) for every batch of the
// set, in order.
template <typename Take>
void ForEachBatch(const Codebook& set, Take&& take) {
  std::vector<int> scratch;
  std::vector<int> freqs(kBatchRows);
  for (int first = 0; first < set.Booksize; first += kBatchRows) {
    const int count = set.Booksize - first < kBatchRows ? set.Booksize - first : kBatchRows;
    for (int k = 0; k < count; ++k) freqs[static_cast<std::size_t>(k)] = set.Book[first + k].Freq;
    bool stays = false;
    const int* rows = FlatRows(set, first, count, &scratch, &stays);
    take(first, count, rows, freqs.data(), stays);
  }
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
  ForEachBatch(set, [&](int, int count, const int* rows, const int* freqs, bool stays) {
    accumulator.Add(rows, freqs, count, stays);
  });
  return accumulator.Figures();
}

PartitionFigures ComputePartitionFigures(const NarrowSet& trainingSet, const Codebook& second,
                                         const int* labels) {
  std::vector<int> copy;
  bool stays = false;
  const int* representatives =
      second.Booksize > 0 ? FlatRows(second, 0, second.Booksize, &copy, &stays) : nullptr;
  PartitionFigureAccumulator accumulator(representatives, second.Booksize, trainingSet.Dim);
  std::vector<int> rows(static_cast<std::size_t>(kBatchRows) *
                        static_cast<std::size_t>(trainingSet.Dim));
  for (int first = 0; first < trainingSet.Size(); first += kBatchRows) {
    const int count = std::min(kBatchRows, trainingSet.Size() - first);
    WidenRows(trainingSet, first, count, rows.data());
    accumulator.Add(rows.data(), trainingSet.Freqs.get() + first, labels + first, count);
  }
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
