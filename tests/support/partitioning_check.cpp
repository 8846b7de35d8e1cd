#include "partitioning_check.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace vqtest {

std::vector<int> Members(const Partitioning& P, int k) {
  std::vector<int> members;
  for (int v = P.First[k]; v != -1 && static_cast<int>(members.size()) <= P.TSsize; v = P.Next[v]) {
    members.push_back(v);
  }
  return members;
}

void ExpectConsistent(const Codebook& TS, const Partitioning& P) {
  ASSERT_GE(P.PartitionCount, 0);
  ASSERT_LE(P.PartitionCount, P.AllocatedPartitions);
  std::vector<int> seen(static_cast<std::size_t>(P.TSsize), 0);
  for (int k = 0; k < P.AllocatedPartitions; ++k) {
    // The record's totals wrap in 64 bits; so do these.
    std::vector<std::uint64_t> sums(static_cast<std::size_t>(P.VectorDim), 0);
    std::uint32_t freq = 0;
    int size = 0;
    int previous = -1;
    for (int v = P.First[k]; v != -1; v = P.Next[v]) {
      ASSERT_GE(v, 0) << "partition " << k;
      ASSERT_LT(v, P.TSsize) << "partition " << k;
      ASSERT_EQ(P.Map[v], k) << "vector " << v;
      ASSERT_EQ(P.Prev[v], previous) << "vector " << v;
      ASSERT_EQ(seen[v]++, 0) << "vector " << v << " on two lists";
      const CodebookNode& node = TS.Book[v];
      for (int e = 0; e < P.VectorDim; ++e) {
        sums[e] +=
            static_cast<std::uint64_t>(static_cast<std::int64_t>(node.Freq) * node.Vector[e]);
      }
      freq += static_cast<std::uint32_t>(node.Freq);
      ++size;
      previous = v;
    }
    if (k >= P.PartitionCount) {
      EXPECT_EQ(size, 0) << "slot " << k << " beyond the partition count";
    }
    EXPECT_EQ(P.PartitionSize[k], size) << "partition " << k;
    EXPECT_EQ(P.PartitionSums[k].CCFreq, static_cast<int>(freq)) << "partition " << k;
    for (int e = 0; e < P.VectorDim; ++e) {
      EXPECT_EQ(P.PartitionSums[k].VectorSum[e], static_cast<std::int64_t>(sums[e]))
          << "partition " << k << " element " << e;
    }
  }
  for (int v = 0; v < P.TSsize; ++v) {
    if (P.Map[v] == -1) {
      EXPECT_EQ(seen[v], 0) << "vector " << v;
      EXPECT_EQ(P.Next[v], -1) << "vector " << v;
      EXPECT_EQ(P.Prev[v], -1) << "vector " << v;
    } else {
      EXPECT_EQ(seen[v], 1) << "vector " << v << " (Map " << P.Map[v] << ") missing from its list";
    }
  }
}

void ExpectSamePartitioning(const Partitioning& expected, const Partitioning& actual) {
  ASSERT_EQ(actual.PartitionCount, expected.PartitionCount);
  ASSERT_EQ(actual.TSsize, expected.TSsize);
  ASSERT_EQ(actual.AllocatedPartitions, expected.AllocatedPartitions);
  ASSERT_EQ(actual.VectorDim, expected.VectorDim);
  for (int v = 0; v < expected.TSsize; ++v) {
    ASSERT_EQ(actual.Map[v], expected.Map[v]) << "vector " << v;
    ASSERT_EQ(actual.Next[v], expected.Next[v]) << "vector " << v;
    ASSERT_EQ(actual.Prev[v], expected.Prev[v]) << "vector " << v;
  }
  for (int k = 0; k < expected.AllocatedPartitions; ++k) {
    ASSERT_EQ(actual.First[k], expected.First[k]) << "partition " << k;
    ASSERT_EQ(actual.PartitionSize[k], expected.PartitionSize[k]) << "partition " << k;
    ASSERT_EQ(actual.PartitionSums[k].CCFreq, expected.PartitionSums[k].CCFreq)
        << "partition " << k;
    for (int e = 0; e < expected.VectorDim; ++e) {
      ASSERT_EQ(actual.PartitionSums[k].VectorSum[e], expected.PartitionSums[k].VectorSum[e])
          << "partition " << k << " element " << e;
    }
  }
}

}  // namespace vqtest
