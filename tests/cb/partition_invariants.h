// Checks of a Partitioning against its training set, for the tests of the
// operations that fill or change one.
#ifndef VQPEEK_TESTS_CB_PARTITION_INVARIANTS_H_
#define VQPEEK_TESTS_CB_PARTITION_INVARIANTS_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "cb.h"

namespace vqtest {

// The members of partition k in list order.
inline std::vector<int> Members(const Partitioning& P, int k) {
  std::vector<int> members;
  for (int v = P.First[k]; v != -1; v = P.Next[v]) members.push_back(v);
  return members;
}

inline std::vector<int> MapOf(const Partitioning& P) {
  return std::vector<int>(P.Map.get(), P.Map.get() + P.TSsize);
}

// Recomputes the lists, predecessors, sizes and totals from Map and the
// training set and compares them with what the record keeps.
inline void ExpectConsistent(const Codebook& TS, const Partitioning& P) {
  std::vector<int> seen(static_cast<std::size_t>(P.TSsize), 0);
  for (int k = 0; k < P.AllocatedPartitions; ++k) {
    std::vector<std::int64_t> sums(static_cast<std::size_t>(P.VectorDim), 0);
    int freq = 0;
    int size = 0;
    int previous = -1;
    for (int v = P.First[k]; v != -1; v = P.Next[v]) {
      ASSERT_GE(v, 0);
      ASSERT_LT(v, P.TSsize);
      ASSERT_EQ(P.Map[v], k) << "vector " << v;
      ASSERT_EQ(P.Prev[v], previous) << "vector " << v;
      ASSERT_EQ(seen[v]++, 0) << "vector " << v << " on two lists";
      for (int e = 0; e < P.VectorDim; ++e) {
        sums[e] += static_cast<std::int64_t>(TS.Book[v].Freq) * TS.Book[v].Vector[e];
      }
      freq += TS.Book[v].Freq;
      ++size;
      previous = v;
    }
    if (k >= P.PartitionCount) {
      EXPECT_EQ(size, 0) << "slot " << k;
    }
    EXPECT_EQ(P.PartitionSize[k], size) << "partition " << k;
    EXPECT_EQ(P.PartitionSums[k].CCFreq, freq) << "partition " << k;
    for (int e = 0; e < P.VectorDim; ++e) {
      EXPECT_EQ(P.PartitionSums[k].VectorSum[e], sums[e]) << "partition " << k << " element " << e;
    }
  }
  for (int v = 0; v < P.TSsize; ++v) {
    if (P.Map[v] == -1) {
      EXPECT_EQ(seen[v], 0);
      EXPECT_EQ(P.Next[v], -1);
    } else {
      EXPECT_EQ(seen[v], 1) << "vector " << v << " missing from its list";
    }
  }
}

}  // namespace vqtest

#endif  // VQPEEK_TESTS_CB_PARTITION_INVARIANTS_H_
