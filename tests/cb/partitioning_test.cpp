#include <climits>
#include <random>
#include <string>
#include <vector>

#include "cb_internal.h"
#include "partitioning_check.h"
#include "set_builder.h"
#include "test_support.h"
#include "vqpeek/cb.h"

namespace {

using vqtest::BuildSet;
using vqtest::ExpectConsistent;
using vqtest::Members;

TEST(CreateNewPartitioning, PutsEveryVectorInPartitionZeroInOrder) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 2, 1, {{{1, 2}, 1}, {{3, 4}, 2}, {{5, 6}, 3}});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 4);
  EXPECT_STREQ(P.Versionstr, "VQ PARTITIONING 2.0");
  EXPECT_EQ(P.PartitionCount, 4);
  EXPECT_EQ(P.AllocatedPartitions, 4);
  EXPECT_EQ(P.TSsize, 3);
  EXPECT_EQ(P.VectorDim, 2);
  EXPECT_STREQ(P.GenerationMethod, "");
  EXPECT_EQ(std::vector<int>(P.Map.get(), P.Map.get() + 3), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(std::vector<int>(P.Next.get(), P.Next.get() + 3), (std::vector<int>{1, 2, -1}));
  EXPECT_EQ(std::vector<int>(P.First.get(), P.First.get() + 4), (std::vector<int>{0, -1, -1, -1}));
  EXPECT_EQ(P.PartitionSize[0], 3);
  EXPECT_EQ(P.PartitionSums[0].CCFreq, 6);
  EXPECT_EQ(P.PartitionSums[0].VectorSum[0], 1 + 6 + 15);
  EXPECT_EQ(P.PartitionSums[0].VectorSum[1], 2 + 8 + 18);
  ExpectConsistent(TS, P);
}

TEST(CreateNewPartitioning, AnEmptyTrainingSetGivesEmptyPartitions) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 2, 2, {});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  EXPECT_EQ(P.First[0], -1);
  EXPECT_EQ(P.PartitionSize[0], 0);
  ExpectConsistent(TS, P);
}

TEST(CreateNewPartitioningDeathTest, RefusesFewerThanOnePartition) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{1}, 1}});
  Partitioning P;
  EXPECT_FATAL(CreateNewPartitioning(&P, &TS, 0), "ERROR: Invalid number of partitions (0).\n");
  EXPECT_FATAL(CreateNewPartitioning(&P, &TS, -3), "ERROR: Invalid number of partitions (-3).\n");
}

TEST(ChangePartition, MovesToTheHeadAndKeepsTheTotals) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{10}, 1}, {{20}, 2}, {{30}, 3}, {{40}, 4}});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 3);
  ChangePartition(&TS, &P, 2, 1);
  ChangePartition(&TS, &P, 2, 3);
  EXPECT_EQ(Members(P, 0), (std::vector<int>{0, 2}));
  EXPECT_EQ(Members(P, 2), (std::vector<int>{3, 1}));
  EXPECT_EQ(P.PartitionSums[2].CCFreq, 6);
  EXPECT_EQ(P.PartitionSums[2].VectorSum[0], 40 + 160);
  ExpectConsistent(TS, P);

  // Into its own partition: to the head of the list, totals unchanged.
  ChangePartition(&TS, &P, 2, 1);
  EXPECT_EQ(Members(P, 2), (std::vector<int>{1, 3}));
  EXPECT_EQ(P.PartitionSums[2].VectorSum[0], 200);
  ExpectConsistent(TS, P);

  // To no partition.
  ChangePartition(&TS, &P, -1, 3);
  EXPECT_EQ(P.Map[3], -1);
  EXPECT_EQ(P.Next[3], -1);
  EXPECT_EQ(Members(P, 2), (std::vector<int>{1}));
  ExpectConsistent(TS, P);
  ChangePartition(&TS, &P, 0, 3);
  EXPECT_EQ(Members(P, 0), (std::vector<int>{3, 0, 2}));
  ExpectConsistent(TS, P);
}

TEST(ChangePartition, RandomMovesKeepEveryInvariant) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::vector<vqtest::NodeSpec> nodes;
  for (int i = 0; i < 60; ++i) {
    nodes.push_back({{static_cast<int>(random() % 2000) - 1000, static_cast<int>(random() % 7)},
                     static_cast<int>(random() % 5)});
  }
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 2, 1, nodes, 4);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 5);
  for (int step = 0; step < 2000; ++step) {
    const int v = static_cast<int>(random() % 60);
    const int k = static_cast<int>(random() % 6) - 1;
    ChangePartition(&TS, &P, k, v);
    if (step % 100 == 0) ExpectConsistent(TS, P);
    // The moved vector is the head of its new list.
    if (k >= 0) {
      ASSERT_EQ(P.First[k], v);
    }
  }
  ExpectConsistent(TS, P);
}

// The bulk moves leave the record exactly as ChangePartition does one
// vector at a time in ascending order: from lists in any order and vectors
// in no partition, to targets that are the vector's own partition or none,
// in small parts on three threads, and with more partitions than a worker keeps
// totals for. Extreme elements and frequencies make the sums wrap.
TEST(MoveInBulk, LeavesTheRecordAsChangePartitionOneAtATime) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  const int extremes[] = {INT_MIN, INT_MAX, -1, 0};
  auto value = [&] {
    return random() % 8 == 0 ? extremes[random() % 4] : static_cast<int>(random() % 201) - 100;
  };
  const struct {
    int vectors, dim, partitions;
  } shapes[] = {{50, 3, 4}, {40000, 2, 9}, {20000, 1, 30000}};
  for (const auto& shape : shapes) {
    SCOPED_TRACE(std::to_string(shape.vectors) + " vectors");
    std::vector<vqtest::NodeSpec> nodes;
    for (int i = 0; i < shape.vectors; ++i) {
      std::vector<int> elements(shape.dim);
      for (int& element : elements) element = value();
      nodes.push_back({elements, value()});
    }
    Codebook TS;
    BuildSet(&TS, kTrainingSetFile, shape.dim, 1, nodes, 4);
    Partitioning start;
    CreateNewPartitioning(&start, &TS, shape.partitions);
    for (int step = 0; step < shape.vectors; ++step) {
      ChangePartition(&TS, &start, static_cast<int>(random() % (shape.partitions + 1)) - 1,
                      static_cast<int>(random() % shape.vectors));
    }
    for (const bool everyVector : {false, true}) {
      std::vector<int> target(shape.vectors);
      for (int i = 0; i < shape.vectors; ++i) {
        target[i] = random() % 2 == 0 ? start.Map[i]
                                      : static_cast<int>(random() % (shape.partitions + 1)) - 1;
      }
      Partitioning expected;
      Partitioning actual;
      CreateNewPartitioning(&expected, &TS, shape.partitions);
      CreateNewPartitioning(&actual, &TS, shape.partitions);
      CopyPartitioning(&start, &expected);
      CopyPartitioning(&start, &actual);
      for (int i = 0; i < shape.vectors; ++i) {
        if (everyVector || target[i] != expected.Map[i]) {
          ChangePartition(&TS, &expected, target[i], i);
        }
      }
      cb_internal::MoveInBulk(TS, &actual, target.data(), everyVector, nullptr, 512, 3);
      ASSERT_NO_FATAL_FAILURE(vqtest::ExpectSamePartitioning(expected, actual));
    }
  }
}

TEST(MoveInBulkDeathTest, RefusesTargetsOutsideThePartitionsBeforeMoving) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{1}, 1}, {{2}, 1}, {{3}, 1}});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  int target[] = {1, 2, -2};
  EXPECT_FATAL(cb_internal::MoveInBulk(TS, &P, target, false),
               "ERROR: ChangePartition: invalid vector 1 or partition 2.\n");
}

TEST(ChangePartitionDeathTest, RefusesIndicesOutsideTheRecord) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{1}, 1}});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  EXPECT_FATAL(ChangePartition(&TS, &P, 2, 0),
               "ERROR: ChangePartition: invalid vector 0 or partition 2.\n");
  EXPECT_FATAL(ChangePartition(&TS, &P, 0, 1),
               "ERROR: ChangePartition: invalid vector 1 or partition 0.\n");
}

TEST(PartitionCentroid, RoundsHalvesUpAndGivesTheFrequency) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 2, 1, {{{2, 5}, 1}, {{3, 6}, 1}, {{-3, -5}, 1}, {{-2, 0}, 1}});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  ChangePartition(&TS, &P, 1, 2);
  ChangePartition(&TS, &P, 1, 3);
  CodebookNode node = CreateEmptyNode(2);
  PartitionCentroid(&P, 0, &node);
  EXPECT_EQ(node.Vector[0], 3);
  EXPECT_EQ(node.Vector[1], 6);
  EXPECT_EQ(node.Freq, 2);
  EXPECT_EQ(node.VectorMean, 5);
  // Negative centroids truncate toward zero after adding 0.5: -2.5 gives -2.
  PartitionCentroid(&P, 1, &node);
  EXPECT_EQ(node.Vector[0], -2);
  EXPECT_EQ(node.Vector[1], -2);
  EXPECT_EQ(node.VectorMean, -1);  // -2 + 0.5 truncates to -1
}

TEST(PartitionCentroidDeathTest, AnEmptyPartitionHasNoCentroid) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{1}, 1}, {{2}, 0}});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 3);
  ChangePartition(&TS, &P, 2, 1);
  CodebookNode node = CreateEmptyNode(1);
  EXPECT_FATAL(PartitionCentroid(&P, 1, &node), "ERROR: PartitionCentroid Pindex=1 CCFreq=0\n");
  EXPECT_FATAL(PartitionCentroid(&P, 2, &node), "ERROR: PartitionCentroid Pindex=2 CCFreq=0\n");
}

}  // namespace
