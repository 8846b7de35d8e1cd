#include <climits>
#include <cstdint>

#include "set_builder.h"
#include "test_support.h"
#include "vqpeek/cb.h"

namespace {

std::int64_t Distance(std::vector<int> first, std::vector<int> second, int metric,
                      std::int64_t bound = kFullDistance) {
  return VectorDistance(first.data(), second.data(), static_cast<int>(first.size()), bound, metric);
}

TEST(VectorDistance, SquaredDistanceStopsOnceTheBoundIsReached) {
  EXPECT_EQ(Distance({1, 2, 3}, {1, 2, 3}, 0), 0);
  EXPECT_EQ(Distance({1, 2, 3}, {0, 0, 0}, 0), 14);
  EXPECT_EQ(Distance({1, 2, 3}, {0, 0, 0}, 0, 5), 5);    // 1 + 4 reaches 5
  EXPECT_EQ(Distance({1, 2, 3}, {0, 0, 0}, 0, 15), 14);  // below the bound: exact
  EXPECT_EQ(Distance({3, 2, 3}, {0, 0, 0}, 0, 0), 9);    // bound 0: the first square
  EXPECT_EQ(Distance({-5, 7}, {5, -7}, 0), 100 + 196);
}

TEST(VectorDistance, SquaredDistanceOfExtremeValuesIsExactOrSaturates) {
  // (2^31 - 1) - (-2^31) = 2^32 - 1: its square fits 64 bits unsigned only.
  EXPECT_EQ(Distance({INT_MAX}, {INT_MIN}, 0), kFullDistance);
  EXPECT_EQ(Distance({INT_MAX, 0}, {INT_MIN, 0}, 0, 10), kFullDistance);
  EXPECT_EQ(Distance({INT_MAX}, {0}, 0), std::int64_t{INT_MAX} * INT_MAX);
  EXPECT_EQ(Distance({INT_MAX}, {-1}, 0), std::int64_t{1} << 62);
  EXPECT_EQ(Distance({INT_MAX, INT_MAX}, {-1, 0}, 0),
            (std::int64_t{1} << 62) + std::int64_t{INT_MAX} * INT_MAX);
  // 2^62 + 2^62 is one past the largest value.
  EXPECT_EQ(Distance({INT_MAX, INT_MAX}, {-1, -1}, 0), kFullDistance);
}

TEST(VectorDistance, CodeLengthClampsProbabilities) {
  EXPECT_EQ(Distance({0}, {1000000}, 1), 9965784);
  EXPECT_EQ(Distance({1000000}, {0}, 1), 9965784);
  EXPECT_EQ(Distance({500000}, {1000000}, 1), 1000000);
  EXPECT_EQ(Distance({500000, 500000}, {0, 1000000}, 1), 2000000);
  // The bound in bits stops the sum after the first element.
  EXPECT_EQ(Distance({500000, 500000}, {0, 1000000}, 1, 1000000), 1000000);
}

TEST(VectorDistance, SetDissimilarities) {
  EXPECT_EQ(Distance({1, 0, 1}, {1, 1, 0}, 11), 666667);
  EXPECT_EQ(Distance({1, 0, 1}, {1, 1, 0}, 12), 500000);
  EXPECT_EQ(Distance({1, 0, 1}, {1, 0, 1}, 11), 0);
  EXPECT_EQ(Distance({0, 5}, {0, 6}, 11), 1000000);
  // Without any set element the vectors are alike: 0, not 0/0.
  EXPECT_EQ(Distance({0, 0}, {0, 0}, 11), 0);
  EXPECT_EQ(Distance({0, 0}, {0, 0}, 12), 0);
  // The bound plays no part.
  EXPECT_EQ(Distance({1, 0, 1}, {1, 1, 0}, 11, 0), 666667);
}

TEST(VectorDistanceDeathTest, RefusesNonBinaryVectorsAndUnknownMetrics) {
  EXPECT_FATAL(Distance({0}, {1}, 1),
               "ERROR: input vector elements should be either 0 or 1000000 (was 1).\n");
  EXPECT_FATAL(Distance({0}, {0}, 7), "ERROR: unsupported vector distance metric 7\n");
  EXPECT_FATAL(Distance({0}, {0}, -1), "ERROR: unsupported vector distance metric -1\n");
}

TEST(DistType, MapsErrorFunctionsToMetrics) {
  EXPECT_EQ(DistType(0), 0);
  EXPECT_EQ(DistType(1), 1);
  EXPECT_EQ(DistType(2), 0);
  EXPECT_EQ(DistType(11), 11);
  EXPECT_EQ(DistType(12), 12);
}

TEST(DistTypeDeathTest, RefusesOtherCodes) {
  for (const int code : {5, 3, 10, 13, -1}) {
    EXPECT_FATAL(DistType(code),
                 "ERROR: Unknown error function " + std::to_string(code) + " (DistType).\n");
  }
}

TEST(PrintableError, ScalesBinarySetsToVectors) {
  Codebook binary;
  vqtest::BuildSet(&binary, kTrainingSetFile, 4, 4, {}, 1, "", 1);
  EXPECT_DOUBLE_EQ(PrintableError(0.25, &binary), 4.0);
  Codebook bytes;
  vqtest::BuildSet(&bytes, kTrainingSetFile, 4, 4, {}, 1, "", 255);
  EXPECT_DOUBLE_EQ(PrintableError(0.25, &bytes), 0.25);
}

}  // namespace
