// The width rule, the set statistics, the entropy and the header block.
#include <algorithm>
#include <climits>
#include <cmath>
#include <random>
#include <string>

#include "set_builder.h"
#include "test_support.h"
#include "viewer.h"

namespace {

using vqtest::BuildSet;
using vqtest::CaptureOutput;

TEST(DecimalWidth, CountsDigitsAndTheMinusSign) {
  EXPECT_EQ(DecimalWidth(0), 1);
  EXPECT_EQ(DecimalWidth(9), 1);
  EXPECT_EQ(DecimalWidth(10), 2);
  EXPECT_EQ(DecimalWidth(99), 2);
  EXPECT_EQ(DecimalWidth(100), 3);
  EXPECT_EQ(DecimalWidth(999999999), 9);
  EXPECT_EQ(DecimalWidth(1000000000), 10);
  EXPECT_EQ(DecimalWidth(-1), 2);
  EXPECT_EQ(DecimalWidth(-9), 2);
  EXPECT_EQ(DecimalWidth(-10), 3);
}

TEST(DecimalWidth, ExtremesMatchTheirPrintedForm) {
  EXPECT_EQ(DecimalWidth(INT_MAX), static_cast<int>(std::to_string(INT_MAX).size()));
  EXPECT_EQ(DecimalWidth(INT_MIN), static_cast<int>(std::to_string(INT_MIN).size()));
  EXPECT_EQ(DecimalWidth(INT_MIN), 11);
}

TEST(ComputeSetStatistics, TakesTheMaximaOverTheNodesInUse) {
  Codebook set;
  BuildSet(&set, kTrainingSetFile, 2, 1,
           {{{3, 250}, 4, "ab"}, {{17, 0}, 9, ""}, {{1, 2}, 1, "abcdef"}});
  SetStatistics stats = ComputeSetStatistics(set);
  EXPECT_EQ(stats.MaxElement, 250);
  EXPECT_EQ(stats.MaxFreq, 9);
  EXPECT_EQ(stats.MaxNameLength, 6);

  // Nodes beyond Booksize do not count.
  set.Booksize = 1;
  stats = ComputeSetStatistics(set);
  EXPECT_EQ(stats.MaxElement, 250);
  EXPECT_EQ(stats.MaxFreq, 4);
  EXPECT_EQ(stats.MaxNameLength, 2);
}

TEST(ComputeSetStatistics, NegativeValuesNeverLowerTheMaxima) {
  Codebook set;
  BuildSet(&set, kTrainingSetFile, 2, 1, {{{-100, -5}, -3}, {{-7, INT_MIN}, INT_MIN}}, 4);
  const SetStatistics stats = ComputeSetStatistics(set);
  EXPECT_EQ(stats.MaxElement, 0);
  EXPECT_EQ(stats.MaxFreq, 0);
  EXPECT_EQ(stats.MaxNameLength, 0);
}

TEST(ComputeSetStatistics, EmptySetGivesZeros) {
  Codebook set;
  BuildSet(&set, kCodebookFile, 4, 4, {});
  const SetStatistics stats = ComputeSetStatistics(set);
  EXPECT_EQ(stats.MaxElement, 0);
  EXPECT_EQ(stats.MaxFreq, 0);
  EXPECT_EQ(stats.MaxNameLength, 0);
}

Codebook SetWithFrequencies(const std::vector<int>& frequencies) {
  std::vector<vqtest::NodeSpec> nodes;
  for (const int f : frequencies) nodes.push_back({{1}, f});
  Codebook set;
  BuildSet(&set, kTrainingSetFile, 1, 1, nodes);
  return set;
}

std::string EntropyLine(const Codebook& set) {
  return CaptureOutput([&](FILE* out) { PrintEntropy(out, set); });
}

TEST(PrintEntropy, PrintsBitsPerVectorInSixColumns) {
  EXPECT_EQ(EntropyLine(SetWithFrequencies({1, 2, 3, 1, 1})),
            "Entropy of the set =  2.156 (bits/vector) \n");
  EXPECT_EQ(EntropyLine(SetWithFrequencies({5, 5, 5, 5})),
            "Entropy of the set =  2.000 (bits/vector) \n");
  EXPECT_EQ(EntropyLine(SetWithFrequencies({7})), "Entropy of the set =  0.000 (bits/vector) \n");
}

TEST(PrintEntropy, ZeroFrequenciesAddNothing) {
  EXPECT_DOUBLE_EQ(SetEntropy(SetWithFrequencies({1, 0, 2, 0, 3, 1, 1})),
                   SetEntropy(SetWithFrequencies({1, 2, 3, 1, 1})));
  EXPECT_EQ(EntropyLine(SetWithFrequencies({0, 0, 0})),
            "Entropy of the set =  0.000 (bits/vector) \n");
  EXPECT_EQ(EntropyLine(SetWithFrequencies({})), "Entropy of the set =  0.000 (bits/vector) \n");
}

// The sum of the terms a batch at a time, in bytes or in ints, with the
// terms of small frequencies kept, adds the plain loop's terms in its
// order: bit for bit the same value, and +0 (never -0) for one vector.
TEST(EntropySum, BatchesInBytesOrIntsAddThePlainTermsInOrder) {
  std::mt19937 random(5);
  std::vector<int> freqs(5000);
  for (int& f : freqs)
    f = random() % 7 == 0 ? static_cast<int>(random() % 5000) - 10 : random() % 9;
  std::int64_t total = 0;
  double plain = 0;
  for (const int f : freqs) total += f;
  for (const int f : freqs) {
    const double p = static_cast<double>(f) / static_cast<double>(total);
    if (p > 0) plain += (-p) * std::log(p) / std::log(2.0);
  }
  EntropySum sum(total);
  for (std::size_t first = 0; first < freqs.size(); first += 700) {
    const int count = static_cast<int>(std::min<std::size_t>(700, freqs.size() - first));
    const bool small = std::all_of(freqs.begin() + first, freqs.begin() + first + count,
                                   [](int f) { return f >= 0 && f < 256; });
    const std::vector<std::uint8_t> bytes(freqs.begin() + first, freqs.begin() + first + count);
    if (small) {
      sum.Add(bytes.data(), count);
    } else {
      sum.Add(freqs.data() + first, count);
    }
  }
  EXPECT_EQ(sum.Value(), plain);
  EXPECT_EQ(FrequencyEntropy(freqs.data(), static_cast<int>(freqs.size())), plain);
  const std::uint8_t one = 3;
  EntropySum single(3);
  single.Add(&one, 1);
  EXPECT_FALSE(std::signbit(single.Value()));
}

TEST(PrintEntropy, TotalBeyondThirtyTwoBitsStaysRight) {
  // The 32-bit TotalFreq of four nodes of 2^30 wraps to 0; the distribution
  // is still uniform over four vectors.
  const Codebook set = SetWithFrequencies({1 << 30, 1 << 30, 1 << 30, 1 << 30});
  EXPECT_EQ(set.TotalFreq, 0);
  EXPECT_EQ(EntropyLine(set), "Entropy of the set =  2.000 (bits/vector) \n");
}

TEST(PrintHeaderBlock, ListsTheFieldsWithValuesInColumnTwenty) {
  Codebook set;
  BuildSet(&set, kCodebookFile, 4, 2, {{{1, 2, 3, 4, 5, 6, 7, 8}, 3}}, 2, "LBG 10 iterations");
  set.MinValue = -7;
  set.Preprocessing = 5;
  const std::string text = CaptureOutput([&](FILE* out) { PrintHeaderBlock(out, "a.cb", set); });
  EXPECT_EQ(text,
            "\nVQPEEK V.0.17 9.11.00\n"
            "Input file:        a.cb\n"
            "Version:           VQ CODEBOOK 2.0\n"
            "BlockSizeX:        4\n"
            "BlockSizeY:        2\n"
            "Booksize:          1\n"
            "Total frequency:   3\n"
            "Bytes per element: 2\n"
            "MinValue:          -7\n"
            "MaxValue:          255\n"
            "Preprocessing:     5\n"
            "Generation method: LBG 10 iterations\n"
            "\n");
}

TEST(PrintHeaderBlock, EmptyMethodLeavesOutItsLine) {
  Codebook set;
  BuildSet(&set, kTrainingSetFile, 1, 1, {});
  const std::string text = CaptureOutput([&](FILE* out) { PrintHeaderBlock(out, "t", set); });
  EXPECT_EQ(text.find("Generation method"), std::string::npos);
  EXPECT_EQ(text.substr(text.size() - 22), "Preprocessing:     0\n\n");
}

}  // namespace
