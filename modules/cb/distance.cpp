// The vector distance of the library and the small error-measure helpers.
#include <cmath>
#include <cstdint>

#include "cb_internal.h"
#include "vqpeek/cb.h"

namespace {

constexpr double kScale = 1000000.0;  // the library's fixed point: 1.0
constexpr int kOne = 1000000;         // a binary element that is set

// Code length in bits of the binary vector `second` under the element
// probabilities of `first`, scaled by 1,000,000.
std::int64_t CodeLength(const int* first, const int* second, int count, std::int64_t bound) {
  const double limit = static_cast<double>(bound) / kScale;
  double sum = 0.0;
  for (int i = 0; i < count; ++i) {
    const int t = second[i];
    if (t != 0 && t != kOne) {
      FatalError("ERROR: input vector elements should be either 0 or 1000000 (was %d).\n", t);
    }
    const int v = first[i];
    double term;
    if (t == kOne) {
      const double p = v < 1000 ? 0.001 : v / kScale;
      term = std::log(p) / std::log(2.0);
    } else {
      const double p = v >= 999001 ? 1.0 - 0.001 : v / kScale;
      term = std::log(1.0 - p) / std::log(2.0);
    }
    sum -= term;
    // An unordered comparison (a NaN) stops as well.
    if (!(limit > sum)) break;
  }
  const double scaled = sum * kScale + 0.5;
  if (std::isnan(scaled)) return 0;
  if (scaled >= 9223372036854775807.0) return kFullDistance;
  if (scaled <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<std::int64_t>(scaled);
}

// Jaccard (11) or Dice (12) dissimilarity of binary vectors, scaled.
std::int64_t SetDissimilarity(const int* first, const int* second, int count, int metric) {
  std::int64_t differ = 0;
  std::int64_t agreeSet = 0;
  for (int i = 0; i < count; ++i) {
    if (first[i] != second[i]) {
      ++differ;
    } else if (first[i] != 0) {
      ++agreeSet;
    }
  }
  // Two vectors without a set element in either are identical: distance 0
  // rather than the 0/0 of the formula.
  const double denominator =
      static_cast<double>(differ) + (metric == 11 ? 1.0 : 2.0) * static_cast<double>(agreeSet);
  if (denominator == 0.0) return 0;
  return static_cast<std::int64_t>(static_cast<double>(differ) / denominator * kScale + 0.5);
}

}  // namespace

std::int64_t VectorDistance(const int* first, const int* second, int count, std::int64_t bound,
                            int metric) {
  switch (metric) {
    case 0:
      return cb_internal::SquaredDistance(first, second, count, bound);
    case 1:
      return CodeLength(first, second, count, bound);
    case 11:
    case 12:
      return SetDissimilarity(first, second, count, metric);
    default:
      FatalError("ERROR: unsupported vector distance metric %d\n", metric);
  }
}

double PrintableError(double error, const Codebook* set) {
  if (set->MaxValue != 1) return error;
  return error * static_cast<double>(VectorDimension(*set));
}

int DistType(int errorFunction) {
  switch (errorFunction) {
    case 0:
    case 2:
      return 0;
    case 1:
    case 11:
    case 12:
      return errorFunction;
    default:
      FatalError("ERROR: Unknown error function %d (DistType).\n", errorFunction);
  }
}
