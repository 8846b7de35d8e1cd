// The set and partition figures, summed exactly in 128-bit integers.
#include "vqpeek/cb/figures.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <vector>

#include "distinct_rows.h"
#include "vqpeek/cb/distance.h"
#include "vqpeek/interfc.h"

namespace {

__extension__ using Int128 = __int128;
__extension__ using Uint128 = unsigned __int128;

constexpr double kNotAvailable = std::numeric_limits<double>::quiet_NaN();

// 2^128 as a double, for the high part of a WideSum.
const double kTwoTo128 = std::ldexp(1.0, 128);

// An unsigned sum that cannot overflow for any count of 128-bit terms that
// fits in memory: the carries out of the low 128 bits are counted.
struct WideSum {
  Uint128 low = 0;
  std::uint64_t carries = 0;
  void Add(Uint128 value) {
    low += value;
    if (low < value) ++carries;
  }
  void Add(const WideSum& other) {
    Add(other.low);
    carries += other.carries;
  }
  double ToDouble() const {
    return static_cast<double>(carries) * kTwoTo128 + static_cast<double>(low);
  }
};

std::uint64_t Frequency(int freq) { return static_cast<std::uint32_t>(freq); }

// Whether an element lies in [-2^30, 2^30), where the difference of two
// such elements is exact in 32 bits.
bool NearZero(int x) { return static_cast<std::uint32_t>(x) + (1u << 30) < (1u << 31); }

// The squared distance of a row from a representative whose elements all
// lie near zero, in 32-bit steps that vectorise: false when an element of
// the row does not lie near zero or a difference is above 46340 (whose
// square would not fit 31 bits); the caller then sums the row more widely.
bool SmallDistance(const int* row, const int* representative, int dim, std::uint64_t* distance) {
  std::uint64_t sum = 0;
  std::uint32_t outside = 0;
  for (int j = 0; j < dim; ++j) {
    const std::uint32_t x = static_cast<std::uint32_t>(row[j]);
    const std::uint32_t d = x - static_cast<std::uint32_t>(representative[j]);
    outside |= (x + (1u << 30)) >> 31;
    outside |= static_cast<std::uint32_t>(d + 46340u > 92680u);
    sum += d * d;
  }
  *distance = sum;
  return outside == 0;
}

}  // namespace

// --- One set ----------------------------------------------------------------

struct SetFigureAccumulator::State {
  State(int dim, int workers)
      : dim(dim), shares(static_cast<std::size_t>(workers)), distinct(dim, workers) {
    for (Share& share : shares) {
      share.sum.assign(static_cast<std::size_t>(dim), 0);
      share.squareSum.assign(static_cast<std::size_t>(dim), 0);
    }
  }
  // What one worker added.
  struct Share {
    std::int64_t vectors = 0;
    std::uint64_t totalFreq = 0;
    // Per element position: the sums of f * x and of f * x^2.
    std::vector<Int128> sum;
    std::vector<Uint128> squareSum;
  };
  int dim = 0;
  std::vector<Share> shares;
  cb_internal::DistinctRows distinct;
};

SetFigureAccumulator::SetFigureAccumulator(int dim, int workers) {
  assert(dim >= 1);
  try {
    state_ = std::make_unique<State>(dim, std::max(workers, 1));
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for the figures.\n");
  }
}

SetFigureAccumulator::~SetFigureAccumulator() = default;

void SetFigureAccumulator::Add(const int* rows, const int* freqs, std::int64_t count, int worker) {
  State& s = *state_;
  State::Share& share = s.shares[static_cast<std::size_t>(worker)];
  const int dim = s.dim;
  Int128* sum = share.sum.data();
  Uint128* squareSum = share.squareSum.data();
  for (std::int64_t i = 0; i < count; ++i) {
    const int* row = rows + i * dim;
    const std::uint64_t f = Frequency(freqs[i]);
    share.totalFreq += f;
    try {
      s.distinct.Add(row, worker);
    } catch (const std::bad_alloc&) {
      FatalError("ERROR: Not enough memory for the figures.\n");
    }
    if (f == 0) continue;
    for (int j = 0; j < dim; ++j) {
      const std::int64_t x = row[j];
      // |f * x| < 2^63 and f * x^2 < 2^94: both products are exact.
      sum[j] += static_cast<std::int64_t>(f) * x;
      squareSum[j] += static_cast<Uint128>(f) * static_cast<std::uint64_t>(x * x);
    }
  }
  share.vectors += count;
}

SetFigures SetFigureAccumulator::Figures() const {
  State& s = *state_;
  SetFigures figures;
  // The shares' sums, in the first share's place: exact sums, so the same in
  // any order.
  State::Share whole;
  whole.sum.assign(static_cast<std::size_t>(s.dim), 0);
  whole.squareSum.assign(static_cast<std::size_t>(s.dim), 0);
  for (const State::Share& share : s.shares) {
    whole.vectors += share.vectors;
    whole.totalFreq += share.totalFreq;
    for (std::size_t j = 0; j < whole.sum.size(); ++j) {
      whole.sum[j] += share.sum[j];
      whole.squareSum[j] += share.squareSum[j];
    }
  }
  figures.Vectors = whole.vectors;
  try {
    figures.DistinctVectors = s.distinct.Count();
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for the figures.\n");
  }
  figures.TotalFreq = whole.totalFreq;
  if (whole.totalFreq == 0) {
    figures.MeanElement = figures.Variance = kNotAvailable;
    return figures;
  }
  // Per position, with S1 = sum f x = q F + r (0 <= r < F) and S2 = sum
  // f x^2, the squared deviation from the exact mean S1 / F is
  // S2 - S1^2 / F = (S2 - q^2 F - 2 q r) - r^2 / F. The bracket is an
  // integer in [0, S2 + 2 |S1| + 2 F], so it is formed exactly in 128 bits
  // (wrapping in between), and only the last fraction is not an integer.
  const Int128 total = static_cast<Int128>(whole.totalFreq);
  Int128 elementSum = 0;
  WideSum deviations;
  WideSum remainderSquares;
  for (int j = 0; j < s.dim; ++j) {
    const Int128 s1 = whole.sum[static_cast<std::size_t>(j)];
    Int128 q = s1 / total;
    Int128 r = s1 % total;
    if (r < 0) {
      r += total;
      --q;
    }
    const Uint128 uq = static_cast<Uint128>(q);
    const Uint128 ur = static_cast<Uint128>(r);
    deviations.Add(whole.squareSum[static_cast<std::size_t>(j)] -
                   uq * uq * static_cast<Uint128>(total) - 2 * uq * ur);
    remainderSquares.Add(ur * ur);
    elementSum += s1;
  }
  const double denominator = static_cast<double>(whole.totalFreq) * s.dim;
  figures.MeanElement = static_cast<double>(elementSum) / denominator;
  const double deviation =
      deviations.ToDouble() - remainderSquares.ToDouble() / static_cast<double>(whole.totalFreq);
  figures.Variance = std::max(0.0, deviation) / denominator;
  return figures;
}

// --- Partitions -------------------------------------------------------------

struct PartitionFigureAccumulator::State {
  const int* representatives = nullptr;
  int partitions = 0;
  int dim = 0;
  // The largest difference of which `dim` squares add up to less than
  // 2^64.
  std::int64_t limit = 0;
  // Per representative: every element lies near zero (see NearZero).
  std::vector<bool> nearZero;
  // What one worker added.
  struct Share {
    std::vector<std::uint64_t> sizes;
    WideSum error;  // sum of f * ||x - r||^2
  };
  std::vector<Share> shares;

  // f * the squared distance of `row` from the representative of `label`,
  // added to `error`.
  void AddError(const int* row, int label, std::uint64_t f, WideSum& error) const;
};

double PeakValue(int bytesPerElement, int minValue, int maxValue) {
  const double range = static_cast<double>(maxValue) - static_cast<double>(minValue);
  if (range > 0) return range;
  return std::ldexp(1.0, 8 * bytesPerElement) - 1.0;
}

PartitionFigureAccumulator::PartitionFigureAccumulator(const int* representatives, int partitions,
                                                       int dim, int workers)
    : state_(std::make_unique<State>()) {
  assert(partitions >= 0 && dim >= 1);
  state_->representatives = representatives;
  state_->partitions = partitions;
  state_->dim = dim;
  try {
    state_->shares.resize(static_cast<std::size_t>(std::max(workers, 1)));
    for (State::Share& share : state_->shares) {
      share.sizes.assign(static_cast<std::size_t>(partitions), 0);
    }
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for the figures.\n");
  }
  state_->nearZero.assign(static_cast<std::size_t>(partitions), true);
  for (std::int64_t e = 0; e < static_cast<std::int64_t>(partitions) * dim; ++e) {
    if (!NearZero(representatives[e])) state_->nearZero[static_cast<std::size_t>(e / dim)] = false;
  }
  // floor(sqrt((2^64 - 1) / dim)), held below 2^32 so that its square is exact.
  const std::uint64_t most = ~std::uint64_t{0} / static_cast<std::uint64_t>(dim);
  std::uint64_t limit = std::min<std::uint64_t>(std::sqrt(static_cast<double>(most)), 4294967295u);
  while (limit * limit > most) --limit;
  while ((limit + 1) * (limit + 1) <= most && limit < 4294967295u) ++limit;
  state_->limit = static_cast<std::int64_t>(limit);
}

PartitionFigureAccumulator::~PartitionFigureAccumulator() = default;

void PartitionFigureAccumulator::State::AddError(const int* row, int label, std::uint64_t f,
                                                 WideSum& error) const {
  const int* representative = representatives + static_cast<std::int64_t>(label) * dim;
  std::uint64_t distance = 0;
  if (nearZero[static_cast<std::size_t>(label)] &&
      SmallDistance(row, representative, dim, &distance)) {
    error.Add(static_cast<Uint128>(distance) * f);
    return;
  }
  // In 64 bits, exact while no difference is beyond the limit; a row with
  // a larger one is summed again in 128 bits.
  distance = 0;
  bool beyond = false;
  for (int j = 0; j < dim; ++j) {
    const std::int64_t d = static_cast<std::int64_t>(row[j]) - representative[j];
    beyond |= static_cast<std::uint64_t>(d + limit) > static_cast<std::uint64_t>(2 * limit);
    distance += static_cast<std::uint64_t>(d) * static_cast<std::uint64_t>(d);
  }
  if (!beyond) {
    error.Add(static_cast<Uint128>(distance) * f);
    return;
  }
  // Each square is below 2^64; a row's sum below 2^95, times f below 2^127.
  Uint128 wide = 0;
  for (int j = 0; j < dim; ++j) {
    // |d| < 2^32, so its square is exact in unsigned 64 bits.
    const auto d =
        static_cast<std::uint64_t>(static_cast<std::int64_t>(row[j]) - representative[j]);
    wide += d * d;
  }
  error.Add(wide * f);
}

void PartitionFigureAccumulator::Add(const int* rows, const int* freqs, const int* labels,
                                     std::int64_t count, int worker) {
  AddMeasured(rows, freqs, labels, nullptr, count, worker);
}

void PartitionFigureAccumulator::AddMeasured(const int* rows, const int* freqs, const int* labels,
                                             const std::int64_t* distances, std::int64_t count,
                                             int worker) {
  const State& s = *state_;
  State::Share& share = state_->shares[static_cast<std::size_t>(worker)];
  for (std::int64_t i = 0; i < count; ++i) {
    const int label = labels[i];
    assert(label >= 0 && label < s.partitions);
    const std::uint64_t f = Frequency(freqs[i]);
    share.sizes[static_cast<std::size_t>(label)] += f;
    if (f == 0) continue;
    // A search's distance is exact below the largest int64: the square
    // sum itself.
    if (distances != nullptr && distances[i] >= 0 && distances[i] < kFullDistance) {
      share.error.Add(static_cast<Uint128>(distances[i]) * f);
      continue;
    }
    s.AddError(rows + i * s.dim, label, f, share.error);
  }
}

PartitionFigures PartitionFigureAccumulator::Figures(double peak) const {
  const State& s = *state_;
  PartitionFigures figures;
  figures.Partitions = s.partitions;
  // The shares' sizes and errors, in the first share's place.
  std::vector<std::uint64_t> sizes = s.shares[0].sizes;
  WideSum error = s.shares[0].error;
  for (std::size_t w = 1; w < s.shares.size(); ++w) {
    for (std::size_t p = 0; p < sizes.size(); ++p) sizes[p] += s.shares[w].sizes[p];
    error.Add(s.shares[w].error);
  }
  for (const std::uint64_t size : sizes) {
    figures.TotalFreq += size;
    if (size == 0) {
      ++figures.EmptyPartitions;
      continue;
    }
    if (figures.SmallestSize == 0 || size < figures.SmallestSize) figures.SmallestSize = size;
    if (size > figures.LargestSize) figures.LargestSize = size;
  }
  figures.FixedRate =
      s.partitions > 0 ? std::log2(static_cast<double>(s.partitions)) : kNotAvailable;
  if (figures.TotalFreq == 0) {
    figures.MeanSquaredError = figures.Psnr = figures.EntropyRate = kNotAvailable;
    return figures;
  }
  const double total = static_cast<double>(figures.TotalFreq);
  figures.MeanSquaredError = error.ToDouble() / (total * s.dim);
  figures.Psnr = figures.MeanSquaredError == 0
                     ? std::numeric_limits<double>::infinity()
                     : 10.0 * std::log10(peak * peak / figures.MeanSquaredError);
  double entropy = 0;
  for (const std::uint64_t size : sizes) {
    if (size == 0) continue;
    const double p = static_cast<double>(size) / total;
    entropy -= p * std::log2(p);
  }
  figures.EntropyRate = entropy;
  return figures;
}
