// The figures that judge a set and a codebook: how many distinct vectors a
// set holds, its mean element and variance; and, for a set split into
// partitions with a representative each, the partition sizes, the mean
// squared error, the PSNR and the rates. Part of <vqpeek/cb.h>.
//
// The figures are gathered by accumulators that take the set in batches of
// flat rows (row i of a batch at rows[i * dim .. i * dim + dim - 1]), so a
// caller may hand over a whole set at once or stream it through a small
// buffer. An accumulator has shares for several workers, which add their
// batches at the same time, each to its own share (each on one thread);
// the shares are summed when the figures are taken, to the same figures
// in any order. Every sum is kept exactly in integers wide enough for 2^31 rows of
// 32-bit elements with 32-bit frequencies, and turned into floating point
// once, when the figures are taken. A frequency counts as the unsigned
// 32-bit number the set file stores: an int below 0 stands for 2^32 plus it.
#ifndef VQPEEK_CB_FIGURES_H_
#define VQPEEK_CB_FIGURES_H_

#include <cstdint>
#include <memory>

#include "vqpeek/export.h"

// Figures of one set. A figure that would divide by a total frequency of 0
// is NaN.
struct SetFigures {
  std::int64_t Vectors = 0;          // rows added
  std::int64_t DistinctVectors = 0;  // different element vectors among them
  std::uint64_t TotalFreq = 0;
  double MeanElement = 0;  // frequency-weighted mean of all elements
  // Frequency-weighted mean squared deviation of the elements from the
  // exact mean vector, per element.
  double Variance = 0;
};

// Gathers SetFigures. Distinct rows are counted exactly, each kept at the
// narrowest width that holds its elements (1, 2 or 4 bytes each): once,
// with at most about 22 bytes besides, while few rows differ; as every row
// that follows, at that width alone, once many do. No more than the set
// takes in its file.
class VQPEEK_EXPORT SetFigureAccumulator {
 public:
  // dim >= 1; `workers` shares (at least 1).
  explicit SetFigureAccumulator(int dim, int workers = 1);
  ~SetFigureAccumulator();
  SetFigureAccumulator(const SetFigureAccumulator&) = delete;
  SetFigureAccumulator& operator=(const SetFigureAccumulator&) = delete;

  // Adds `count` rows and their frequencies to the share of `worker`.
  // Fatal: "ERROR: Not enough memory for the figures.\n".
  void Add(const int* rows, const int* freqs, std::int64_t count, int worker = 0);

  // The figures of every row added so far. No worker may add meanwhile.
  // Fatal: as Add.
  SetFigures Figures() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Figures of a set split into partitions. NaN marks a figure that would
// divide by a total frequency of 0 (and a fixed rate of no partitions).
struct PartitionFigures {
  int Partitions = 0;
  int EmptyPartitions = 0;  // total frequency 0
  // The smallest and largest total frequency of a non-empty partition; both
  // 0 when every partition is empty.
  std::uint64_t SmallestSize = 0;
  std::uint64_t LargestSize = 0;
  std::uint64_t TotalFreq = 0;
  // Sum of freq * squared distance to the representative, over total
  // frequency * dim.
  double MeanSquaredError = 0;
  double Psnr = 0;         // dB; infinite for an error of 0
  double FixedRate = 0;    // log2 of the number of partitions
  double EntropyRate = 0;  // entropy of the partition sizes, bits per row
};

// The peak value of the PSNR of a set with these header values: MaxValue -
// MinValue when that is above 0, else 2^(8 * bytesPerElement) - 1.
VQPEEK_EXPORT double PeakValue(int bytesPerElement, int minValue, int maxValue);

// Gathers PartitionFigures. Keeps one 64-bit size per partition and share,
// and reads the representatives where they lie.
class VQPEEK_EXPORT PartitionFigureAccumulator {
 public:
  // `representatives`: `partitions` rows of `dim` elements, the one of
  // partition p at row p; they must outlive the accumulator. `workers`
  // shares (at least 1).
  PartitionFigureAccumulator(const int* representatives, int partitions, int dim, int workers = 1);
  ~PartitionFigureAccumulator();
  PartitionFigureAccumulator(const PartitionFigureAccumulator&) = delete;
  PartitionFigureAccumulator& operator=(const PartitionFigureAccumulator&) = delete;

  // Adds `count` rows, their frequencies and their partitions (each 0 ..
  // partitions - 1) to the share of `worker`.
  void Add(const int* rows, const int* freqs, const int* labels, std::int64_t count,
           int worker = 0);

  // As Add, for rows whose squared distances to their representatives are
  // known (a search's): distances[i] is taken where it is below
  // kFullDistance, and measured again from the row where it is not.
  void AddMeasured(const int* rows, const int* freqs, const int* labels,
                   const std::int64_t* distances, std::int64_t count, int worker = 0);

  // The figures, the PSNR with the given peak value.
  PartitionFigures Figures(double peak) const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

#endif  // VQPEEK_CB_FIGURES_H_
