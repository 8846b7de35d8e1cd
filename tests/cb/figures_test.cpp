#include "vqpeek/cb/figures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <set>
#include <vector>

namespace {

constexpr int kIntMax = 2147483647;
constexpr int kIntMin = -kIntMax - 1;

TEST(SetFigureAccumulator, HandWorkedSet) {
  // Rows (1,2) f1, (3,4) f3 and (1,2) again with f0: 2 distinct, F = 4.
  // Mean vector (10/4, 14/4) = (2.5, 3.5), mean element 3. Squared
  // deviations: 1*1.5^2 + 3*0.5^2 = 3 per position, 6 / (4 * 2) = 0.75.
  const std::vector<int> rows = {1, 2, 3, 4, 1, 2};
  const std::vector<int> freqs = {1, 3, 0};
  SetFigureAccumulator accumulator(2);
  accumulator.Add(rows.data(), freqs.data(), 3);
  const SetFigures figures = accumulator.Figures();
  EXPECT_EQ(figures.Vectors, 3);
  EXPECT_EQ(figures.DistinctVectors, 2);
  EXPECT_EQ(figures.TotalFreq, 4u);
  EXPECT_DOUBLE_EQ(figures.MeanElement, 3.0);
  EXPECT_DOUBLE_EQ(figures.Variance, 0.75);
}

TEST(SetFigureAccumulator, TotalOfZeroHasNoMeanOrVariance) {
  const std::vector<int> rows = {5, 6};
  const std::vector<int> freqs = {0, 0};
  SetFigureAccumulator accumulator(1);
  accumulator.Add(rows.data(), freqs.data(), 2);
  EXPECT_EQ(accumulator.Figures().DistinctVectors, 2);
  EXPECT_TRUE(std::isnan(accumulator.Figures().MeanElement));
  EXPECT_TRUE(std::isnan(accumulator.Figures().Variance));
}

TEST(SetFigureAccumulator, ExactAtTheEdgesOfTheRanges) {
  // Two values one apart near INT_MAX, each with frequency 2^32 - 1 (the
  // int -1): the variance is exactly 0.25, which the difference of the
  // mean square and the squared mean (about 4.6e18) cannot resolve in
  // floating point.
  const std::vector<int> rows = {kIntMax, kIntMax - 1};
  const std::vector<int> freqs = {-1, -1};
  SetFigureAccumulator accumulator(1);
  accumulator.Add(rows.data(), freqs.data(), 2);
  SetFigures figures = accumulator.Figures();
  EXPECT_EQ(figures.TotalFreq, 2 * 4294967295ull);
  EXPECT_DOUBLE_EQ(figures.Variance, 0.25);
  EXPECT_DOUBLE_EQ(figures.MeanElement, kIntMax - 0.5);

  // The extremes of the element range: mean -0.5, deviation 2^31 - 0.5.
  const std::vector<int> extremes = {kIntMin, kIntMax};
  SetFigureAccumulator wide(1);
  wide.Add(extremes.data(), freqs.data(), 2);
  figures = wide.Figures();
  EXPECT_DOUBLE_EQ(figures.MeanElement, -0.5);
  EXPECT_DOUBLE_EQ(figures.Variance, (2147483648.0 - 0.5) * (2147483648.0 - 0.5));
}

// Rows of every element width and length, with the values at the edges of
// the widths and the encodings of all ones, against a plain set.
TEST(SetFigureAccumulator, CountsDistinctRowsOfEveryWidthAndLength) {
  const std::vector<std::vector<int>> pools = {{0, 1},         {254, 255}, {0, 65535},
                                               {65534, 65535}, {-1, 0},    {kIntMin, kIntMax}};
  for (const int dim : {1, 2, 3, 4, 5, 8, 9, 17}) {
    SCOPED_TRACE(dim);
    std::mt19937 random(static_cast<unsigned>(dim));
    std::vector<int> rows;
    for (const int allOnes : {255, 65535, -1}) rows.insert(rows.end(), 2 * dim, allOnes);
    while (rows.size() < 8000u * dim) {
      const std::vector<int>& pool = pools[random() % pools.size()];
      for (int e = 0; e < dim; ++e) rows.push_back(pool[random() % 2]);
    }
    const std::int64_t count = static_cast<std::int64_t>(rows.size()) / dim;
    const std::vector<int> freqs(static_cast<std::size_t>(count), 1);
    SetFigureAccumulator accumulator(dim);
    accumulator.Add(rows.data(), freqs.data(), count);
    std::set<std::vector<int>> distinct;
    for (std::int64_t i = 0; i < count; ++i) {
      distinct.emplace(rows.begin() + i * dim, rows.begin() + (i + 1) * dim);
    }
    EXPECT_EQ(accumulator.Figures().DistinctVectors, static_cast<std::int64_t>(distinct.size()));
  }
}

// Random sets fed whole or in small batches of copied rows give the same
// figures, and these agree with a plain computation.
TEST(SetFigureAccumulator, BatchesAgreeWithAPlainComputation) {
  for (unsigned seed = 1; seed <= 20; ++seed) {
    SCOPED_TRACE(seed);
    std::mt19937 random(seed);
    const int dim = 1 + static_cast<int>(random() % 6);
    const int count = static_cast<int>(random() % 3000);
    std::vector<int> rows(static_cast<std::size_t>(count * dim));
    std::vector<int> freqs(static_cast<std::size_t>(count));
    // Few values, so that rows repeat.
    for (int& x : rows) x = static_cast<int>(random() % 3) - 1;
    for (int& f : freqs) f = static_cast<int>(random() % 4);

    SetFigureAccumulator whole(dim);
    whole.Add(rows.data(), freqs.data(), count);
    SetFigureAccumulator batched(dim);
    for (int first = 0; first < count; first += 7) {
      const int n = std::min(7, count - first);
      std::vector<int> copy(rows.begin() + first * dim, rows.begin() + (first + n) * dim);
      batched.Add(copy.data(), freqs.data() + first, n);
    }

    std::set<std::vector<int>> distinct;
    double total = 0;
    std::vector<double> mean(static_cast<std::size_t>(dim), 0.0);
    for (int i = 0; i < count; ++i) {
      distinct.insert(std::vector<int>(rows.begin() + i * dim, rows.begin() + (i + 1) * dim));
      total += freqs[i];
      for (int j = 0; j < dim; ++j) mean[j] += freqs[i] * rows[i * dim + j];
    }
    double deviation = 0;
    for (int j = 0; j < dim; ++j) mean[j] /= total;
    for (int i = 0; i < count; ++i) {
      for (int j = 0; j < dim; ++j) {
        deviation += freqs[i] * (rows[i * dim + j] - mean[j]) * (rows[i * dim + j] - mean[j]);
      }
    }

    for (const SetFigures& figures : {whole.Figures(), batched.Figures()}) {
      EXPECT_EQ(figures.DistinctVectors, static_cast<std::int64_t>(distinct.size()));
      if (total == 0) continue;
      double meanElement = 0;
      for (const double m : mean) meanElement += m / dim;
      EXPECT_NEAR(figures.MeanElement, meanElement, 1e-12);
      EXPECT_NEAR(figures.Variance, deviation / (total * dim), 1e-12);
    }
  }
}

TEST(PartitionFigureAccumulator, HandWorkedPartitions) {
  // Five vectors of two elements; partition 0 holds (1,2) f1, (10,20) f2,
  // (3,4) f1, (11,22) f1 around (2,3); partition 1 (100,200) f3 around
  // (105,205); partition 2 is empty. Errors: 2 + 2*353 + 2 + 442 = 1152 and
  // 3*50 = 150, so MSE = 1302 / (8 * 2) = 81.375; sizes 5 and 3.
  const std::vector<int> codes = {2, 3, 105, 205, 0, 0};
  const std::vector<int> rows = {1, 2, 10, 20, 100, 200, 3, 4, 11, 22};
  const std::vector<int> freqs = {1, 2, 3, 1, 1};
  const std::vector<int> labels = {0, 0, 1, 0, 0};
  PartitionFigureAccumulator accumulator(codes.data(), 3, 2);
  accumulator.Add(rows.data(), freqs.data(), labels.data(), 2);
  accumulator.Add(rows.data() + 4, freqs.data() + 2, labels.data() + 2, 3);
  const PartitionFigures figures = accumulator.Figures(255);
  EXPECT_EQ(figures.Partitions, 3);
  EXPECT_EQ(figures.EmptyPartitions, 1);
  EXPECT_EQ(figures.SmallestSize, 3u);
  EXPECT_EQ(figures.LargestSize, 5u);
  EXPECT_EQ(figures.TotalFreq, 8u);
  EXPECT_DOUBLE_EQ(figures.MeanSquaredError, 81.375);
  EXPECT_DOUBLE_EQ(figures.Psnr, 10 * std::log10(255.0 * 255.0 / 81.375));
  EXPECT_DOUBLE_EQ(figures.FixedRate, std::log2(3.0));
  EXPECT_DOUBLE_EQ(figures.EntropyRate, -(0.625 * std::log2(0.625) + 0.375 * std::log2(0.375)));
}

TEST(PartitionFigureAccumulator, ZeroErrorZeroTotalAndWideDistances) {
  const std::vector<int> codes = {kIntMax};
  const std::vector<int> same = {kIntMax};
  const std::vector<int> label = {0};
  std::vector<int> freq = {4};
  PartitionFigureAccumulator exact(codes.data(), 1, 1);
  exact.Add(same.data(), freq.data(), label.data(), 1);
  EXPECT_TRUE(std::isinf(exact.Figures(255).Psnr));
  EXPECT_EQ(exact.Figures(255).EntropyRate, 0.0);

  freq = {0};
  PartitionFigureAccumulator empty(codes.data(), 1, 1);
  empty.Add(same.data(), freq.data(), label.data(), 1);
  const PartitionFigures none = empty.Figures(255);
  EXPECT_EQ(none.EmptyPartitions, 1);
  EXPECT_EQ(none.LargestSize, 0u);
  EXPECT_TRUE(std::isnan(none.MeanSquaredError) && std::isnan(none.Psnr) &&
              std::isnan(none.EntropyRate));
  EXPECT_EQ(none.FixedRate, 0.0);

  // The widest distance, 2^32 - 1 per element, with frequency 2^32 - 1.
  const std::vector<int> far = {kIntMin};
  freq = {-1};
  PartitionFigureAccumulator wide(codes.data(), 1, 1);
  wide.Add(far.data(), freq.data(), label.data(), 1);
  EXPECT_DOUBLE_EQ(wide.Figures(255).MeanSquaredError, 4294967295.0 * 4294967295.0);
  // Two such squares pass 2^64: the row is summed in 128 bits.
  const std::vector<int> codes2 = {kIntMax, kIntMax}, far2 = {kIntMin, kIntMin};
  PartitionFigureAccumulator wider(codes2.data(), 1, 2);
  wider.Add(far2.data(), freq.data(), label.data(), 1);
  EXPECT_DOUBLE_EQ(wider.Figures(255).MeanSquaredError, 4294967295.0 * 4294967295.0);
}

TEST(PeakValue, RangeOfTheHeaderElseTheElementWidth) {
  EXPECT_EQ(PeakValue(1, 0, 255), 255.0);
  EXPECT_EQ(PeakValue(2, 10, 1010), 1000.0);
  EXPECT_EQ(PeakValue(2, 0, 0), 65535.0);
  EXPECT_EQ(PeakValue(4, 5, 1), 4294967295.0);
}

}  // namespace
