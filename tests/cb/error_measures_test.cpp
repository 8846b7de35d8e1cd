#include <climits>
#include <cmath>
#include <cstdint>
#include <vector>

#include "set_builder.h"
#include "test_support.h"
#include "vqpeek/cb.h"

namespace {

using vqtest::BuildSet;

constexpr int kOne = 1000000;  // a set binary element

double Log2(double x) { return std::log(x) / std::log(2.0); }

// log2(n!) in closed form.
double Log2Factorial(double n) { return std::lgamma(n + 1.0) / std::log(2.0); }

// --- AverageErrorForSolution ---

TEST(AverageErrorForSolution, CodeLengthOfTwoEqualVectorsInOnePartition) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{kOne}, 1}, {{kOne}, 1}}, 4, "", 1);
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 1, 1, {{{0}, 0}}, 4, "", 1);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 1);
  const double error = AverageErrorForSolution(&TS, &CB, &P, 1);
  EXPECT_NEAR(error, 1.2925, 0.0001);
  // The terms in the order of the formula: A = 1, B = log2 2 + log2 3 -
  // log2 2.
  double data = 0.0;
  data += 1.0;
  data += Log2(3.0);
  data -= 1.0;
  EXPECT_EQ(error, (1.0 + data) / 2.0);
}

TEST(AverageErrorForSolution, CodeLengthMatchesTheClosedForm) {
  // Two partitions of 3-element vectors with frequencies; elements above 0
  // count as ones, 0 and negative elements as zeros.
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 3, 1,
           {{{5, 0, -1}, 2}, {{1, 1, 0}, 1}, {{0, 7, 0}, 3}, {{1, 0, 1}, 1}, {{0, 0, 0}, 2}});
  Codebook CB;
  CreateNewCodebook(&CB, 3, &TS);  // only its size, 3, counts
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 3);
  ChangePartition(&TS, &P, 1, 2);
  ChangePartition(&TS, &P, 1, 3);
  // Partition 0: vectors 0, 1, 4 (F = 5), ones per element 3, 1, 0.
  // Partition 1: vectors 2, 3 (F = 4), ones per element 1, 3, 1.
  // Partition 2: empty.
  const double T = 9;
  const double M = 3;
  double bits = Log2Factorial(T) - Log2Factorial(5) - Log2Factorial(4) - Log2Factorial(0) +
                Log2Factorial(T + M - 1) - Log2Factorial(T - 1) - Log2Factorial(M - 1);
  auto choose = [](double f, double o) {
    return Log2Factorial(f + 1) - Log2Factorial(o) - Log2Factorial(f - o);
  };
  bits += choose(5, 3) + choose(5, 1) + choose(5, 0);
  bits += choose(4, 1) + choose(4, 3) + choose(4, 1);
  bits += 3 * choose(0, 0);
  EXPECT_NEAR(AverageErrorForSolution(&TS, &CB, &P, 1), bits / T, 1e-9);
}

TEST(AverageErrorForSolution, MeanDistancePerElementWeightedByFrequency) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 2, 1, {{{0, 0}, 3}, {{10, 10}, 1}, {{4, 4}, 0}});
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 2, 1, {{{1, 2}, 0}, {{10, 13}, 0}});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  ChangePartition(&TS, &P, 1, 1);
  // Vector 2 is measured against its own partition's code vector, not the
  // nearest, and weighs nothing.
  EXPECT_EQ(AverageErrorForSolution(&TS, &CB, &P, 0), (5.0 * 3 + 9.0 * 1) / (4 * 2));
}

TEST(AverageErrorForSolution, SetMetrics) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 3, 1, {{{kOne, 0, kOne}, 2}, {{0, 0, 0}, 1}}, 4, "", 1);
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 3, 1, {{{kOne, kOne, 0}, 0}}, 4, "", 1);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 1);
  // Vector 0: D = 2, A = 1; vector 1: D = 2, A = 0.
  EXPECT_EQ(AverageErrorForSolution(&TS, &CB, &P, 11), (666667.0 * 2 + 1000000.0) / 9);
  EXPECT_EQ(AverageErrorForSolution(&TS, &CB, &P, 12), (500000.0 * 2 + 1000000.0) / 9);
}

TEST(AverageErrorForSolution, WithoutFrequencyTheAverageIsNotANumber) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{3}, 0}});
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 1, 1, {{{1}, 0}});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 1);
  EXPECT_TRUE(std::isnan(AverageErrorForSolution(&TS, &CB, &P, 0)));
}

TEST(AverageErrorForSolution, HostileFrequenciesWrapInsteadOfOverflowing) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{INT_MIN}, INT_MAX}, {{INT_MAX}, 0}}, 4);
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 1, 1, {{{INT_MAX}, 0}}, 4);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 1);
  // Saturated distance times INT_MAX: a wrong figure, but a defined one.
  EXPECT_TRUE(std::isfinite(AverageErrorForSolution(&TS, &CB, &P, 0)));
  EXPECT_TRUE(std::isfinite(AverageErrorCBFast(&TS, &CB, &P, 0)));
}

TEST(AverageErrorForSolutionDeathTest, RefusesUnknownErrorFunctions) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{3}, 1}});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 1);
  for (const int code : {2, 3, -1, 13}) {
    EXPECT_FATAL(AverageErrorForSolution(&TS, &TS, &P, code), "ERROR: Unknown error function.\n");
  }
}

TEST(AverageErrorForSolutionDeathTest, RefusesAVectorOutsideTheCodebook) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{3}, 1}, {{4}, 1}});
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 1, 1, {{{1}, 0}});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  ChangePartition(&TS, &P, 1, 1);
  EXPECT_FATAL(AverageErrorForSolution(&TS, &CB, &P, 0),
               "ERROR: Training vector 1 is in partition 1, which has no code vector.\n");
  ChangePartition(&TS, &P, -1, 1);
  EXPECT_FATAL(AverageErrorForSolution(&TS, &CB, &P, 12),
               "ERROR: Training vector 1 is in partition -1, which has no code vector.\n");
  Codebook wide;
  BuildSet(&wide, kCodebookFile, 1, 2, {{{1, 1}, 0}});
  EXPECT_FATAL(AverageErrorForSolution(&TS, &wide, &P, 0),
               "ERROR: Codebook and training set differ in vector dimension (2 != 1).\n");
  // Error function 1 reads the totals of one partition per code vector.
  Codebook three;
  BuildSet(&three, kCodebookFile, 1, 1, {{{1}, 0}, {{1}, 0}, {{1}, 0}});
  EXPECT_FATAL(AverageErrorForSolution(&TS, &three, &P, 1),
               "ERROR: The codebook has more vectors (3) than the partitioning has partitions "
               "(2).\n");
}

// --- AverageErrorCBFast ---

TEST(AverageErrorCBFast, WeightedOnlyWhenTheKindsDiffer) {
  const std::vector<vqtest::NodeSpec> vectors = {{{0}, 3}, {{10}, 1}};
  const std::vector<vqtest::NodeSpec> codes = {{{8}, 5}, {{1}, 7}};
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, vectors);
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 1, 1, codes);
  // Distances 1 and 4 to the nearest code vectors.
  EXPECT_EQ(AverageErrorCBFast(&TS, &CB, nullptr, 0), (1.0 * 3 + 4.0 * 1) / 4);

  Codebook codesAsSet;
  BuildSet(&codesAsSet, kTrainingSetFile, 1, 1, codes);
  EXPECT_EQ(AverageErrorCBFast(&TS, &codesAsSet, nullptr, 0), (1.0 + 4.0) / 2);
  Codebook vectorsAsCodebook;
  BuildSet(&vectorsAsCodebook, kCodebookFile, 1, 1, vectors);
  EXPECT_EQ(AverageErrorCBFast(&vectorsAsCodebook, &CB, nullptr, 0), (1.0 + 4.0) / 2);
}

TEST(AverageErrorCBFast, FullSearchWhateverTheStartCandidates) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 2, 1, {{{0, 0}, 1}, {{5, 5}, 2}, {{9, 1}, 1}, {{5, 5}, 1}});
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 2, 1, {{{9, 9}, 0}, {{4, 6}, 0}, {{6, 4}, 0}, {{1, 1}, 0}});
  const double fromZero = AverageErrorCBFast(&TS, &CB, nullptr, 0);
  // Distances 2, 2 (twice), 18 and 2: (2 + 4 + 18 + 2) / (5 * 2).
  EXPECT_EQ(fromZero, 26.0 / 10);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 4);
  for (int i = 0; i < 4; ++i) ChangePartition(&TS, &P, 3 - i, i);
  EXPECT_EQ(AverageErrorCBFast(&TS, &CB, &P, 0), fromZero);
}

TEST(AverageErrorCBFast, CodeLengthKeepsTiesInTheCurrentPartition) {
  // Vector 0 is one bit from code vectors 0 and 2; vector 1 is nearest to
  // code vector 0. Kept in its start partition 0, vector 0 shares it with
  // vector 1.
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 2, 1, {{{kOne, kOne}, 1}, {{kOne, 0}, 1}}, 4, "", 1);
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 2, 1, {{{kOne, kOne / 2}, 0}, {{0, 0}, 0}, {{kOne / 2, kOne}, 0}}, 4,
           "", 1);
  Partitioning together;
  CreateNewPartitioning(&together, &TS, 3);
  Partitioning apart;
  CreateNewPartitioning(&apart, &TS, 3);
  ChangePartition(&TS, &apart, 2, 0);
  const double expected = AverageErrorForSolution(&TS, &CB, &together, 1);
  ASSERT_NE(expected, AverageErrorForSolution(&TS, &CB, &apart, 1));
  // The given partitioning plays no part.
  EXPECT_EQ(AverageErrorCBFast(&TS, &CB, &apart, 1), expected);
}

TEST(AverageErrorCBFastDeathTest, RefusesUnknownErrorFunctionsAndAnEmptyCodebook) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{3}, 1}});
  for (const int code : {2, 5, -1}) {
    EXPECT_FATAL(AverageErrorCBFast(&TS, &TS, nullptr, code), "ERROR: Unknown error function.\n");
  }
  Codebook empty;
  BuildSet(&empty, kCodebookFile, 1, 1, {});
  EXPECT_FATAL(AverageErrorCBFast(&TS, &empty, nullptr, 0), "ERROR: The codebook is empty.\n");
  EXPECT_FATAL(AverageErrorCBFast(&TS, &empty, nullptr, 1), "ERROR: The codebook is empty.\n");
}

}  // namespace
