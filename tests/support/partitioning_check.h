// Checks a Partitioning against its training set by recomputing everything
// the record keeps about its members.
#ifndef VQPEEK_TESTS_SUPPORT_PARTITIONING_CHECK_H_
#define VQPEEK_TESTS_SUPPORT_PARTITIONING_CHECK_H_

#include <vector>

#include "vqpeek/cb.h"

namespace vqtest {

// The members of partition k in list order.
std::vector<int> Members(const Partitioning& P, int k);

// Every invariant of the record: 0 <= PartitionCount <= AllocatedPartitions;
// each vector with Map k >= 0 on exactly list k, with the right Prev, and k
// below PartitionCount; vectors in no partition with Next and Prev -1; the
// sizes and totals of every slot equal to those of its members; every slot
// from PartitionCount on empty. Stops at the first broken list (a fatal
// gtest failure), so callers in loops should use ASSERT_NO_FATAL_FAILURE.
void ExpectConsistent(const Codebook& TS, const Partitioning& P);

// Every field of `actual` equals that of `expected`: the counts, Map, Next
// and Prev of every vector, and First, the sizes and the totals of every
// allocated slot.
void ExpectSamePartitioning(const Partitioning& expected, const Partitioning& actual);

}  // namespace vqtest

#endif  // VQPEEK_TESTS_SUPPORT_PARTITIONING_CHECK_H_
