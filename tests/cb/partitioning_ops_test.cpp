#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "partitioning_check.h"
#include "set_builder.h"
#include "test_support.h"
#include "vqpeek/cb.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;
using vqtest::BuildSet;
using vqtest::Elements;
using vqtest::ExpectConsistent;
using vqtest::Members;
using Lists = std::vector<std::vector<int>>;

// One-element training vectors with the given values and frequencies.
void BuildLine(Codebook* TS, const std::vector<int>& values, const std::vector<int>& freqs = {}) {
  std::vector<vqtest::NodeSpec> nodes;
  for (std::size_t i = 0; i < values.size(); ++i) {
    nodes.push_back(
        {{values[i]}, freqs.empty() ? 1 : freqs[i], std::string("v").append(std::to_string(i))});
  }
  BuildSet(TS, kTrainingSetFile, 1, 1, nodes, 4);
}

// Makes P hold exactly `lists` (in list order); vectors not listed are in
// no partition.
void MakePartitioning(Partitioning* P, const Codebook& TS, const Lists& lists) {
  CreateNewPartitioning(P, &TS, static_cast<int>(lists.size()));
  for (int v = 0; v < TS.Booksize; ++v) ChangePartition(&TS, P, -1, v);
  for (std::size_t k = 0; k < lists.size(); ++k) {
    for (auto v = lists[k].rbegin(); v != lists[k].rend(); ++v) {
      ChangePartition(&TS, P, static_cast<int>(k), *v);
    }
  }
}

Lists AllLists(const Partitioning& P) {
  Lists lists;
  for (int k = 0; k < P.PartitionCount; ++k) lists.push_back(Members(P, k));
  return lists;
}

TEST(SetNumberOfAllocatedPartitions, NeverShrinksAndGrowsKeepingTheSumArrays) {
  Codebook TS;
  BuildLine(&TS, {1, 2, 3, 4});
  Partitioning P;
  MakePartitioning(&P, TS, {{0, 3}, {}, {2, 1}, {}});
  DecreaseNumberOfPartitions(&P, 3);
  const int* first = P.First.get();
  SetNumberOfAllocatedPartitions(&P, 4);
  SetNumberOfAllocatedPartitions(&P, 3);
  EXPECT_EQ(P.First.get(), first);
  EXPECT_EQ(P.AllocatedPartitions, 4);

  const std::int64_t* sum2 = P.PartitionSums[2].VectorSum.get();
  SetNumberOfAllocatedPartitions(&P, 7);
  EXPECT_EQ(P.AllocatedPartitions, 7);
  EXPECT_EQ(P.PartitionCount, 3);
  EXPECT_EQ(P.PartitionSums[2].VectorSum.get(), sum2);
  EXPECT_EQ(AllLists(P), (Lists{{0, 3}, {}, {2, 1}}));
  ExpectConsistent(TS, P);
  // The new slots are usable once counted.
  IncreaseNumberOfPartitions(&P, 7);
  ChangePartition(&TS, &P, 6, 3);
  ExpectConsistent(TS, P);
}

TEST(SetNumberOfAllocatedPartitionsDeathTest, RefusesLessThanTheCount) {
  Codebook TS;
  BuildLine(&TS, {1});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 3);
  EXPECT_FATAL(SetNumberOfAllocatedPartitions(&P, 2),
               "CB::SetNumberOfAllocatedPartitions: New allocated size of partitions (2) < "
               "logical partition count (3).\n");
}

TEST(IncreaseNumberOfPartitions, UsesSpareSlotsOrGrowsToExactlyTheCount) {
  Codebook TS;
  BuildLine(&TS, {1, 2});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 3);
  SetNumberOfAllocatedPartitions(&P, 8);
  const int* first = P.First.get();
  IncreaseNumberOfPartitions(&P, 5);
  EXPECT_EQ(P.First.get(), first);
  EXPECT_EQ(P.PartitionCount, 5);
  EXPECT_EQ(P.AllocatedPartitions, 8);
  EXPECT_EQ(Members(P, 3), std::vector<int>{});
  EXPECT_EQ(Members(P, 4), std::vector<int>{});
  IncreaseNumberOfPartitions(&P, 11);
  EXPECT_EQ(P.AllocatedPartitions, 11);
  ExpectConsistent(TS, P);
}

TEST(IncreaseNumberOfPartitionsDeathTest, RefusesACountNotAboveTheOld) {
  Codebook TS;
  BuildLine(&TS, {1});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 3);
  EXPECT_FATAL(IncreaseNumberOfPartitions(&P, 3),
               "CB::IncreaseNumberOfPartitions: New partition count (3) less or equal to old "
               "(3).\n");
}

TEST(DecreaseNumberOfPartitions, KeepsTheAllocationAndReportsZeroWithoutStopping) {
  Codebook TS;
  BuildLine(&TS, {1, 2, 3});
  Partitioning P;
  MakePartitioning(&P, TS, {{0}, {1, 2}, {}, {}});
  DecreaseNumberOfPartitions(&P, 2);
  EXPECT_EQ(P.PartitionCount, 2);
  EXPECT_EQ(P.AllocatedPartitions, 4);
  ExpectConsistent(TS, P);

  for (int v = 0; v < 3; ++v) ChangePartition(&TS, &P, -1, v);
  CaptureStderr();
  DecreaseNumberOfPartitions(&P, 0);
  EXPECT_EQ(GetCapturedStderr(),
            "CB::DecreaseNumberOfPartitions: New partition count (0) less than or equal to "
            "zero.\n");
  EXPECT_EQ(P.PartitionCount, 0);
  ExpectConsistent(TS, P);
}

TEST(DecreaseNumberOfPartitions, ANegativeCountEndsAtZero) {
  Codebook TS;
  BuildLine(&TS, {1});
  Partitioning P;
  MakePartitioning(&P, TS, {{}, {}, {}});
  CaptureStderr();
  DecreaseNumberOfPartitions(&P, -5);
  EXPECT_EQ(GetCapturedStderr(),
            "CB::DecreaseNumberOfPartitions: New partition count (-5) less than or equal to "
            "zero.\n");
  EXPECT_EQ(P.PartitionCount, 0);
  ExpectConsistent(TS, P);
  // A count that is already 0 can be asked for -1 and stays 0.
  CaptureStderr();
  DecreaseNumberOfPartitions(&P, -1);
  GetCapturedStderr();
  EXPECT_EQ(P.PartitionCount, 0);
}

TEST(DecreaseNumberOfPartitionsDeathTest, RefusesToDropMembersOrToGrow) {
  Codebook TS;
  BuildLine(&TS, {1, 2, 3});
  Partitioning P;
  MakePartitioning(&P, TS, {{0}, {}, {1}, {2}});
  EXPECT_FATAL(DecreaseNumberOfPartitions(&P, 3),
               "CB::DecreaseNumberOfPartitions: Partition 3 not empty.\n");
  // The lowest partition with members is named.
  EXPECT_FATAL(DecreaseNumberOfPartitions(&P, 1),
               "CB::DecreaseNumberOfPartitions: Partition 2 not empty.\n");
  EXPECT_FATAL(DecreaseNumberOfPartitions(&P, -2),
               "CB::DecreaseNumberOfPartitions: New partition count (-2) less than or equal to "
               "zero.\nCB::DecreaseNumberOfPartitions: Partition 0 not empty.\n");
  EXPECT_FATAL(DecreaseNumberOfPartitions(&P, 4),
               "CB::DecreaseNumberOfPartitions: New partition count (4) greater or equal to old "
               "(4).\n");
}

TEST(ChangeNumberOfPartitions, ShrinksGrowsOrDoesNothing) {
  Codebook TS;
  BuildLine(&TS, {1, 2});
  Partitioning P;
  MakePartitioning(&P, TS, {{1}, {0}, {}});
  const int* first = P.First.get();
  CaptureStderr();
  ChangeNumberOfPartitions(&P, 3);
  EXPECT_EQ(GetCapturedStderr(), "");
  EXPECT_EQ(P.First.get(), first);
  EXPECT_EQ(AllLists(P), (Lists{{1}, {0}, {}}));

  ChangeNumberOfPartitions(&P, 2);
  EXPECT_EQ(P.PartitionCount, 2);
  ChangeNumberOfPartitions(&P, 6);
  EXPECT_EQ(P.PartitionCount, 6);
  EXPECT_EQ(P.AllocatedPartitions, 6);
  ExpectConsistent(TS, P);
  EXPECT_FATAL(ChangeNumberOfPartitions(&P, 1),
               "CB::DecreaseNumberOfPartitions: Partition 1 not empty.\n");
}

TEST(PutAllInOwnPartition, GivesEveryVectorItsOwnPartitionWhateverItsOldLists) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 2, 1, {{{1, -2}, 3}, {{4, 5}, 1}, {{-6, 7}, 2}, {{8, 9}, 0}});
  Partitioning P;
  MakePartitioning(&P, TS, {{3, 1}, {0}});  // vector 2 in no partition
  PutAllInOwnPartition(&TS, &P);
  EXPECT_EQ(P.PartitionCount, 4);
  EXPECT_EQ(AllLists(P), (Lists{{0}, {1}, {2}, {3}}));
  EXPECT_EQ(P.PartitionSums[0].VectorSum[1], -6);
  ExpectConsistent(TS, P);
  // The lists are sound for further moves.
  ChangePartition(&TS, &P, 1, 3);
  ChangePartition(&TS, &P, 1, 2);
  EXPECT_EQ(Members(P, 1), (std::vector<int>{2, 3, 1}));
  ExpectConsistent(TS, P);

  // Fewer vectors than partitions: the count falls, the slots stay.
  Codebook small;
  BuildLine(&small, {5, 6});
  Partitioning Q;
  MakePartitioning(&Q, small, {{}, {1, 0}, {}, {}});
  PutAllInOwnPartition(&small, &Q);
  EXPECT_EQ(Q.PartitionCount, 2);
  EXPECT_EQ(Q.AllocatedPartitions, 4);
  ExpectConsistent(small, Q);
}

TEST(PutAllInOwnPartition, AnEmptySetLeavesNoPartition) {
  Codebook TS;
  BuildLine(&TS, {});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  CaptureStderr();
  PutAllInOwnPartition(&TS, &P);
  EXPECT_EQ(GetCapturedStderr(),
            "CB::DecreaseNumberOfPartitions: New partition count (0) less than or equal to "
            "zero.\n");
  EXPECT_EQ(P.PartitionCount, 0);
  ExpectConsistent(TS, P);
}

TEST(PutAllInOwnPartitionDeathTest, RefusesAnotherSetOrDroppingMembers) {
  Codebook TS;
  BuildLine(&TS, {1, 2, 3});
  Codebook other;
  BuildLine(&other, {1, 2, 3, 4});
  Partitioning P;
  MakePartitioning(&P, TS, {{0}, {}, {}, {}, {1, 2}});
  EXPECT_FATAL(PutAllInOwnPartition(&other, &P),
               "ERROR: Partitioning is not for this training set (3 != 4).\n");
  EXPECT_FATAL(PutAllInOwnPartition(&TS, &P),
               "CB::DecreaseNumberOfPartitions: Partition 4 not empty.\n");
}

class JoinPartitionsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildSet(&TS, kTrainingSetFile, 1, 1,
             {{{10}, 1}, {{-20}, 2}, {{30}, 3}, {{40}, 4}, {{-50}, 5}, {{60}, 6}}, 4);
    MakePartitioning(&P, TS, {{4, 2}, {3, 0}, {1, 5}});
  }
  Codebook TS;
  Partitioning P;
};

TEST_F(JoinPartitionsTest, AppendsBAndMovesTheLastPartitionIntoItsSlot) {
  JoinPartitions(&TS, &P, 0, 1);
  EXPECT_EQ(P.PartitionCount, 2);
  EXPECT_EQ(AllLists(P), (Lists{{4, 2, 3, 0}, {5, 1}}));
  EXPECT_EQ(P.PartitionSums[0].CCFreq, 5 + 3 + 4 + 1);
  EXPECT_EQ(P.PartitionSums[1].VectorSum[0], 360 - 40);
  ExpectConsistent(TS, P);
  // Every member can still be unlinked in place, the appended ones too.
  ChangePartition(&TS, &P, 1, 3);
  ChangePartition(&TS, &P, 1, 0);
  ChangePartition(&TS, &P, 0, 1);
  EXPECT_EQ(AllLists(P), (Lists{{1, 4, 2}, {0, 3, 5}}));
  ExpectConsistent(TS, P);
}

TEST_F(JoinPartitionsTest, TheLastPartitionAsBOnlyAppends) {
  JoinPartitions(&TS, &P, 0, 2);
  EXPECT_EQ(AllLists(P), (Lists{{4, 2, 1, 5}, {3, 0}}));
  ExpectConsistent(TS, P);
}

TEST_F(JoinPartitionsTest, TheLastPartitionAsAMovesTheJoinedListIntoB) {
  JoinPartitions(&TS, &P, 2, 0);
  EXPECT_EQ(AllLists(P), (Lists{{2, 4, 5, 1}, {3, 0}}));
  ExpectConsistent(TS, P);
}

TEST_F(JoinPartitionsTest, EmptyPartitionsOnEitherSide) {
  IncreaseNumberOfPartitions(&P, 5);
  JoinPartitions(&TS, &P, 3, 1);  // into an empty a; partition 4 (empty) moves to 1
  EXPECT_EQ(AllLists(P), (Lists{{4, 2}, {}, {1, 5}, {3, 0}}));
  JoinPartitions(&TS, &P, 0, 1);  // an empty b; partition 3 arrives reversed
  EXPECT_EQ(AllLists(P), (Lists{{4, 2}, {0, 3}, {1, 5}}));
  ExpectConsistent(TS, P);
}

using JoinPartitionsDeathTest = JoinPartitionsTest;

TEST_F(JoinPartitionsDeathTest, RefusesTheSamePartitionOrOneNotInUse) {
  const char* const kMessage =
      "ERROR: JoinPartitions: cannot join partition %d into %d of 3 "
      "partitions.\n";
  auto message = [&](int b, int a) {
    char text[128];
    std::snprintf(text, sizeof text, kMessage, b, a);
    return std::string(text);
  };
  EXPECT_FATAL(JoinPartitions(&TS, &P, 1, 1), message(1, 1));
  EXPECT_FATAL(JoinPartitions(&TS, &P, 0, 3), message(3, 0));
  EXPECT_FATAL(JoinPartitions(&TS, &P, -1, 2), message(2, -1));
}

// Code vectors for partitions of one-element vectors.
void BuildCodebook(Codebook* CB, const std::vector<int>& values) {
  std::vector<vqtest::NodeSpec> nodes;
  for (int value : values) nodes.push_back({{value}, 1, "code"});
  BuildSet(CB, kCodebookFile, 1, 1, nodes, 4);
}

TEST(FillEmptyPartitions, WithoutEmptyPartitionsChangesNothing) {
  Codebook TS;
  BuildLine(&TS, {1, 9});
  Codebook CB;
  BuildCodebook(&CB, {0, 50});
  Partitioning P;
  MakePartitioning(&P, TS, {{0}, {1}});
  FillEmptyPartitions(&TS, &CB, &P);
  EXPECT_EQ(AllLists(P), (Lists{{0}, {1}}));
  EXPECT_EQ(Elements(CB, 0), std::vector<int>{0});
  EXPECT_EQ(Elements(CB, 1), std::vector<int>{50});
}

TEST(FillEmptyPartitions, MovesTheWorstVectorAndTheLowerIndexOnATie) {
  Codebook TS;
  BuildLine(&TS, {0, 10, -10, 3});
  Codebook CB;
  BuildCodebook(&CB, {0, 99});
  Partitioning P;
  MakePartitioning(&P, TS, {{0, 1, 2, 3}, {}});
  FillEmptyPartitions(&TS, &CB, &P);
  EXPECT_EQ(AllLists(P), (Lists{{0, 2, 3}, {1}}));
  EXPECT_EQ(Elements(CB, 1), std::vector<int>{10});
  EXPECT_STREQ(CB.Book[1].Name.get(), "v1");
  // The partition it left gets its centroid: -7 / 3 + 0.5 truncates to -1.
  EXPECT_EQ(Elements(CB, 0), std::vector<int>{-1});
  EXPECT_EQ(CB.Book[0].Freq, 3);
  ExpectConsistent(TS, P);
}

TEST(FillEmptyPartitions, WeighsTheSquaredErrorByFrequency) {
  Codebook TS;
  BuildLine(&TS, {0, 10, -10, 3}, {1, 1, 1, 20});
  Codebook CB;
  BuildCodebook(&CB, {0, 99});
  Partitioning P;
  MakePartitioning(&P, TS, {{0, 1, 2, 3}, {}});
  FillEmptyPartitions(&TS, &CB, &P);
  EXPECT_EQ(Members(P, 1), std::vector<int>{3});
}

TEST(FillEmptyPartitions, ChoosesAllCandidatesAgainstTheOriginalCodeVectors) {
  // Against code vector 100 the order is 0 (-100), 1 (290), 2 (-85). Once 0
  // has left, the centroid 103 would put 2 ahead of 1; the choice stays.
  Codebook TS;
  BuildLine(&TS, {-100, 290, -85});
  Codebook CB;
  BuildCodebook(&CB, {100, 0, 0});
  Partitioning P;
  MakePartitioning(&P, TS, {{0, 1, 2}, {}, {}});
  FillEmptyPartitions(&TS, &CB, &P);
  EXPECT_EQ(AllLists(P), (Lists{{2}, {0}, {1}}));
  EXPECT_EQ(Elements(CB, 1), std::vector<int>{-100});
  EXPECT_EQ(Elements(CB, 2), std::vector<int>{290});
  EXPECT_EQ(Elements(CB, 0), std::vector<int>{-84});  // -85 + 0.5 truncated
  ExpectConsistent(TS, P);
}

TEST(FillEmptyPartitions, APartitionEmptiedBehindTheScanStaysEmpty) {
  // Partition 1 loses its only vector to partition 0 and is refilled, since
  // the scan has not passed it; partition 2 then finds no candidate left.
  // Partition 3, emptied too, gets Freq 0 in the codebook.
  Codebook TS;
  BuildLine(&TS, {100, 50, 1, -900});
  Codebook CB;
  BuildCodebook(&CB, {7, 0, 7, 0, 1});
  Partitioning P;
  MakePartitioning(&P, TS, {{}, {0}, {}, {1}, {2}});
  FillEmptyPartitions(&TS, &CB, &P);
  EXPECT_EQ(AllLists(P), (Lists{{0}, {1}, {}, {}, {2}}));
  EXPECT_EQ(Elements(CB, 0), std::vector<int>{100});
  EXPECT_EQ(Elements(CB, 1), std::vector<int>{50});
  EXPECT_EQ(CB.Book[1].Freq, 1);
  EXPECT_EQ(CB.Book[3].Freq, 0);
  EXPECT_EQ(Elements(CB, 3), std::vector<int>{0});
  // Vector 3 is in no partition: it has no code vector and is never chosen.
  EXPECT_EQ(P.Map[3], -1);
  ExpectConsistent(TS, P);
}

TEST(FillEmptyPartitions, AHugeWeightedErrorDoesNotWrapAround) {
  // 3e9 squared fits in 64 bits; twice that does not, and must still rank
  // above vector 1's error instead of turning negative.
  Codebook TS;
  BuildLine(&TS, {1500000000, 10}, {2, 1});
  Codebook CB;
  BuildCodebook(&CB, {-1500000000, 0});
  Partitioning P;
  MakePartitioning(&P, TS, {{0, 1}, {}});
  FillEmptyPartitions(&TS, &CB, &P);
  EXPECT_EQ(Members(P, 1), std::vector<int>{0});
}

TEST(FillEmptyPartitions, StopsWhenTheCandidatesRunOut) {
  Codebook TS;
  BuildLine(&TS, {4, 9});
  Codebook CB;
  BuildCodebook(&CB, {0, 0, 0, 0, 0});
  Partitioning P;
  MakePartitioning(&P, TS, {{0, 1}, {}, {}, {}, {}});
  FillEmptyPartitions(&TS, &CB, &P);
  EXPECT_EQ(AllLists(P), (Lists{{}, {1}, {0}, {}, {}}));
  EXPECT_EQ(CB.Book[0].Freq, 0);
  ExpectConsistent(TS, P);
}

TEST(FillEmptyPartitionsDeathTest, RefusesACodebookThatDoesNotFit) {
  Codebook TS;
  BuildLine(&TS, {4, 9});
  Codebook smallCB;
  BuildCodebook(&smallCB, {0});
  Codebook wideCB;
  BuildSet(&wideCB, kCodebookFile, 2, 1, {{{0, 0}}, {{0, 0}}});
  Partitioning P;
  MakePartitioning(&P, TS, {{0, 1}, {}});
  EXPECT_FATAL(FillEmptyPartitions(&TS, &smallCB, &P),
               "ERROR: Codebook has fewer vectors (1) than the partitioning has partitions "
               "(2).\n");
  EXPECT_FATAL(FillEmptyPartitions(&TS, &wideCB, &P),
               "ERROR: Codebooks have different vector dimensions (1 -> 2).\n");
}

TEST(CopyPartitioning, CopiesIntoALargerDestinationAndEmptiesItsOtherSlots) {
  Codebook TS;
  BuildLine(&TS, {3, 1, 4, 1, 5});
  Partitioning S;
  MakePartitioning(&S, TS, {{4, 0}, {2}, {}});
  std::snprintf(S.GenerationMethod, kTextFieldSize, "joined");
  Partitioning D;
  MakePartitioning(&D, TS, {{}, {}, {}, {1}, {0, 2, 3}, {4}});
  CopyPartitioning(&S, &D);
  EXPECT_EQ(D.PartitionCount, 3);
  EXPECT_EQ(D.AllocatedPartitions, 6);
  EXPECT_EQ(AllLists(D), (Lists{{4, 0}, {2}, {}}));
  EXPECT_STREQ(D.GenerationMethod, "joined");
  ExpectConsistent(TS, D);
  // The copy has its own arrays and a sound Prev.
  ChangePartition(&TS, &D, 1, 0);
  EXPECT_EQ(AllLists(D), (Lists{{4}, {0, 2}, {}}));
  EXPECT_EQ(AllLists(S), (Lists{{4, 0}, {2}, {}}));
  ExpectConsistent(TS, D);
  CopyPartitioning(&D, &D);
  ExpectConsistent(TS, D);
}

TEST(CopyPartitioningDeathTest, RefusesASmallDestinationOrAnotherSet) {
  Codebook TS;
  BuildLine(&TS, {3, 1});
  Codebook other;
  BuildLine(&other, {3, 1, 4});
  Codebook wide;
  BuildSet(&wide, kTrainingSetFile, 2, 1, {{{0, 0}}, {{0, 0}}});
  Partitioning S, D, otherD, wideD;
  CreateNewPartitioning(&S, &TS, 4);
  CreateNewPartitioning(&D, &TS, 3);
  CreateNewPartitioning(&otherD, &other, 4);
  CreateNewPartitioning(&wideD, &wide, 4);
  EXPECT_FATAL(CopyPartitioning(&S, &D),
               "ERROR: Destination partitioning is too small (4 -> 3).\n");
  EXPECT_FATAL(CopyPartitioning(&S, &otherD),
               "ERROR: Partitionings are not for same training set.\n");
  EXPECT_FATAL(CopyPartitioning(&S, &wideD),
               "ERROR: Partitionings are not for same training set.\n");
}

// FillEmptyPartitions the plain way: a sorted candidate list with insertion
// after every entry of equal or larger error.
void ReferenceFill(const Codebook& TS, Codebook* CB, Partitioning* P) {
  int empty = 0;
  for (int k = 0; k < P->PartitionCount; ++k) empty += P->PartitionSums[k].CCFreq == 0;
  if (P->PartitionCount < 1 || empty == 0) return;
  std::vector<std::pair<std::int64_t, int>> list;
  for (int j = 0; j < P->TSsize; ++j) {
    if (P->Map[j] < 0) continue;
    const std::int64_t w = VectorDistance(CB->Book[P->Map[j]].Vector.get(), TS.Book[j].Vector.get(),
                                          P->VectorDim, kFullDistance, 0) *
                           TS.Book[j].Freq;
    auto at = list.begin();
    while (at != list.end() && at->first >= w) ++at;
    list.insert(at, {w, j});
    if (static_cast<int>(list.size()) > empty) list.pop_back();
  }
  std::size_t f = 0;
  for (int j = 0; j < P->PartitionCount && f < list.size(); ++j) {
    if (P->PartitionSums[j].CCFreq != 0) continue;
    const int v = list[f++].second;
    const int old = P->Map[v];
    CopyNode(&TS.Book[v], &CB->Book[j], P->VectorDim);
    ChangePartition(&TS, P, j, v);
    if (P->PartitionSums[old].CCFreq > 0) {
      PartitionCentroid(P, old, &CB->Book[old]);
    } else {
      CB->Book[old].Freq = 0;
    }
  }
}

TEST(FillEmptyPartitions, MatchesAPlainSortedCandidateList) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  for (int round = 0; round < 40; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    // Few distinct values and frequencies make many ties; up to half of the
    // partitions start empty, so the candidate list is long.
    const int vectors = 1 + below(80);
    const int partitions = 1 + below(60);
    std::vector<vqtest::NodeSpec> nodes;
    for (int i = 0; i < vectors; ++i) nodes.push_back({{below(5), below(5)}, below(4)});
    Codebook TS;
    BuildSet(&TS, kTrainingSetFile, 2, 1, nodes, 4);
    std::vector<vqtest::NodeSpec> codes;
    for (int k = 0; k < partitions; ++k) codes.push_back({{below(5), below(5)}, 1});
    Codebook CB, referenceCB;
    BuildSet(&CB, kCodebookFile, 2, 1, codes, 4);
    BuildSet(&referenceCB, kCodebookFile, 2, 1, codes, 4);
    Partitioning P, reference;
    CreateNewPartitioning(&P, &TS, partitions);
    CreateNewPartitioning(&reference, &TS, partitions);
    for (int v = 0; v < vectors; ++v) {
      ChangePartition(&TS, &P, below(partitions + 1) - 1, v);
    }
    CopyPartitioning(&P, &reference);

    FillEmptyPartitions(&TS, &CB, &P);
    ReferenceFill(TS, &referenceCB, &reference);
    ASSERT_EQ(AllLists(P), AllLists(reference));
    for (int k = 0; k < partitions; ++k) {
      ASSERT_EQ(Elements(CB, k), Elements(referenceCB, k)) << "code vector " << k;
      ASSERT_EQ(CB.Book[k].Freq, referenceCB.Book[k].Freq) << "code vector " << k;
    }
    ASSERT_NO_FATAL_FAILURE(ExpectConsistent(TS, P));
  }
}

// The highest partition with members, or -1.
int HighestUsed(const Partitioning& P) {
  for (int k = P.PartitionCount - 1; k >= 0; --k) {
    if (P.First[k] != -1) return k;
  }
  return -1;
}

TEST(PartitioningOperations, RandomSequencesKeepEveryInvariant) {
  const char* fixed = std::getenv("VQPEEK_TEST_SEED");
  const unsigned seed =
      fixed ? static_cast<unsigned>(std::strtoul(fixed, nullptr, 10)) : std::random_device{}();
  SCOPED_TRACE(::testing::Message() << "seed " << seed << " (rerun with VQPEEK_TEST_SEED)");
  std::mt19937 random(seed);
  auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };

  constexpr int kVectors = 40;
  constexpr int kMaxPartitions = 48;
  std::vector<vqtest::NodeSpec> nodes;
  for (int i = 0; i < kVectors; ++i) {
    nodes.push_back({{below(200) - 100, below(200) - 100, below(9)}, below(4)});
  }
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 3, 1, nodes, 4);
  std::vector<vqtest::NodeSpec> codes(kMaxPartitions, vqtest::NodeSpec({0, 0, 0}));
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 3, 1, codes, 4);
  for (int k = 0; k < kMaxPartitions; ++k) {
    for (int e = 0; e < 3; ++e) CB.Book[k].Vector[e] = below(200) - 100;
  }
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 6);

  for (int step = 0; step < 3000; ++step) {
    SCOPED_TRACE("step " + std::to_string(step));
    const int count = P.PartitionCount;
    const int highest = HighestUsed(P);
    switch (below(9)) {
      case 0:
      case 1: {
        const int v = below(kVectors);
        const int k = below(count + 1) - 1;
        ChangePartition(&TS, &P, k, v);
        if (k >= 0) {
          ASSERT_EQ(P.First[k], v);
        }
        break;
      }
      case 2:
        if (count >= 2) {
          const int a = below(count);
          const int b = (a + 1 + below(count - 1)) % count;
          const Lists before = AllLists(P);
          JoinPartitions(&TS, &P, a, b);
          std::vector<int> joined = before[a];
          joined.insert(joined.end(), before[b].begin(), before[b].end());
          Lists expected = before;
          expected[a] = joined;
          if (b != count - 1) {
            expected[b] = expected[count - 1];
            std::reverse(expected[b].begin(), expected[b].end());
          }
          expected.pop_back();
          ASSERT_EQ(AllLists(P), expected) << "join " << b << " into " << a;
        }
        break;
      case 3:
        if (count < kMaxPartitions)
          IncreaseNumberOfPartitions(&P, count + 1 + below(kMaxPartitions - count));
        break;
      case 4:
        if (highest + 1 < count) {
          CaptureStderr();
          DecreaseNumberOfPartitions(&P, highest + 1 + below(count - highest - 1));
          GetCapturedStderr();
        }
        break;
      case 5: {
        CaptureStderr();
        ChangeNumberOfPartitions(&P, highest + 1 + below(kMaxPartitions - highest));
        GetCapturedStderr();
        break;
      }
      case 6:
        SetNumberOfAllocatedPartitions(&P, count + below(10));
        break;
      case 7:
        if (below(4) == 0 && highest < kVectors) PutAllInOwnPartition(&TS, &P);
        break;
      case 8:
        FillEmptyPartitions(&TS, &CB, &P);
        break;
    }
    ASSERT_NO_FATAL_FAILURE(ExpectConsistent(TS, P));
    ASSERT_FALSE(HasFailure());
  }
}

}  // namespace
