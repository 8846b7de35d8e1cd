#include <cstdint>
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

using vqtest::BuildSet;
using vqtest::ExpectConsistent;
using vqtest::Members;
using vqtest::NodeSpec;

// The partition of every training vector.
std::vector<int> MapOf(const Partitioning& P) {
  return std::vector<int>(P.Map.get(), P.Map.get() + P.TSsize);
}

// A codebook of one-element code vectors.
void Scalars(Codebook* CB, const std::vector<int>& values) {
  std::vector<NodeSpec> nodes;
  for (const int value : values) nodes.push_back({{value}, 0});
  BuildSet(CB, kCodebookFile, 1, 1, nodes);
}

int Nearest(const Codebook& CB, int value, int start, std::int64_t* best, int metric = 0) {
  CodebookNode node = CreateEmptyNode(1);
  node.Vector[0] = value;
  return FindNearestVector(&node, &CB, best, start, metric);
}

// The training set and codebook of the partition view's worked example.
void ExampleSets(Codebook* TS, Codebook* CB) {
  BuildSet(TS, kTrainingSetFile, 2, 1,
           {{{1, 2}, 1}, {{10, 20}, 2, "ab"}, {{100, 200}, 3}, {{3, 4}, 1, "xyz"}, {{11, 22}, 1}});
  BuildSet(CB, kCodebookFile, 2, 1, {{{2, 3}, 0}, {{105, 205}, 0}});
}

// --- The search rule ---

TEST(FindNearestVector, EqualDistanceKeepsTheStartCandidate) {
  Codebook CB;
  Scalars(&CB, {0, 100, 100, 10});
  std::int64_t best = -1;
  // 5 is 25 from code vectors 0 and 3.
  EXPECT_EQ(Nearest(CB, 5, 0, &best), 0);
  EXPECT_EQ(best, 25);
  // From 3 the candidate 0 is not strictly nearer either.
  EXPECT_EQ(Nearest(CB, 5, 3, &best), 3);
  EXPECT_EQ(best, 25);
}

TEST(FindNearestVector, AmongOtherEqualCandidatesTheLowestIndexWins) {
  Codebook CB;
  Scalars(&CB, {100, 4, 50, 6, 100, 90});
  std::int64_t best = -1;
  EXPECT_EQ(Nearest(CB, 5, 5, &best), 1);
  EXPECT_EQ(best, 1);
}

TEST(FindNearestVector, ScanEndsAtTheFirstDisplacingCodeVectorAtDistanceZero) {
  // Code vector 3 has no storage: the scan must stop at the identical code
  // vector 2 before it would read there.
  EXPECT_EXIT(
      {
        Codebook CB;
        Scalars(&CB, {1, 9, 5, 5, 5});
        CB.Book[3].Vector.release();
        std::int64_t best = -1;
        const int chosen = Nearest(CB, 5, 0, &best);
        std::exit(chosen == 2 && best == 0 ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "^$");
  // With every code vector present, the later equal code vectors 3 and 4
  // still leave the first one chosen.
  Codebook CB;
  Scalars(&CB, {1, 9, 5, 5, 5});
  std::int64_t best = -1;
  EXPECT_EQ(Nearest(CB, 5, 0, &best), 2);
  EXPECT_EQ(best, 0);
  // A start candidate at distance 0 stays.
  EXPECT_EQ(Nearest(CB, 5, 4, &best), 4);
}

TEST(FindNearestVector, DistancesBeyondTheInt64RangeNeverWin) {
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 4, 1,
           {{{INT32_MIN, INT32_MIN, INT32_MIN, INT32_MIN}, 0},
            {{INT32_MAX, INT32_MAX, INT32_MAX, INT32_MAX}, 0},
            {{0, 0, 0, 0}, 0}},
           4);
  CodebookNode node = CreateEmptyNode(4);
  for (int e = 0; e < 4; ++e) node.Vector[e] = INT32_MAX;
  std::int64_t best = -1;
  // From code vector 0 the distance saturates; code vector 1 is exact.
  EXPECT_EQ(FindNearestVector(&node, &CB, &best, 0, 0), 1);
  EXPECT_EQ(best, 0);
  for (int e = 0; e < 4; ++e) node.Vector[e] = INT32_MIN + 5;
  EXPECT_EQ(FindNearestVector(&node, &CB, &best, 1, 0), 0);
  EXPECT_EQ(best, 4 * 25);
}

TEST(FindNearestVectorDeathTest, RefusesAStartOutsideTheCodebook) {
  Codebook CB;
  Scalars(&CB, {1, 2});
  std::int64_t best = 0;
  EXPECT_FATAL(Nearest(CB, 1, 2, &best),
               "ERROR: Code vector 2 is not in the codebook (2 vectors).\n");
  EXPECT_FATAL(Nearest(CB, 1, -1, &best),
               "ERROR: Code vector -1 is not in the codebook (2 vectors).\n");
  Codebook empty;
  Scalars(&empty, {});
  EXPECT_FATAL(Nearest(empty, 1, 0, &best),
               "ERROR: Code vector 0 is not in the codebook (0 vectors).\n");
}

// --- GenerateOptimalPartitioningGeneral ---

TEST(GenerateOptimalPartitioningGeneral, PartitionViewExample) {
  Codebook TS;
  Codebook CB;
  ExampleSets(&TS, &CB);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  const double error = GenerateOptimalPartitioningGeneral(&TS, &CB, &P, 0);
  EXPECT_EQ(MapOf(P), (std::vector<int>{0, 0, 1, 0, 0}));
  EXPECT_EQ(Members(P, 0), (std::vector<int>{0, 1, 3, 4}));
  EXPECT_EQ(Members(P, 1), (std::vector<int>{2}));
  // (2 + 353*2 + 50*3 + 2 + 442) / (8 * 2)
  EXPECT_EQ(error, 1302.0 / 16.0);
  ExpectConsistent(TS, P);
  // The codebook is not changed.
  EXPECT_EQ(CB.Book[0].Freq, 0);
  EXPECT_EQ(vqtest::Elements(CB, 1), (std::vector<int>{105, 205}));
}

TEST(GenerateOptimalPartitioningGeneral, EachSearchStartsFromTheVectorsPartition) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{5}, 1}, {{5}, 1}, {{5}, 1}});
  Codebook CB;
  Scalars(&CB, {0, 10, 10, 3, 7});  // 3 and 7 both at distance 4
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 5);
  ChangePartition(&TS, &P, 4, 1);
  ChangePartition(&TS, &P, 2, 2);
  GenerateOptimalPartitioningGeneral(&TS, &CB, &P, 0);
  EXPECT_EQ(MapOf(P), (std::vector<int>{3, 4, 3}));
}

TEST(GenerateOptimalPartitioningGeneral, OneCodeVectorGivesTheMeanDistance) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 2, 1, {{{1, 1}, 2}, {{4, 5}, 1}, {{-3, 0}, 3}});
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 2, 1, {{{1, 2}, 0}});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 1);
  const double error = GenerateOptimalPartitioningGeneral(&TS, &CB, &P, 0);
  EXPECT_EQ(MapOf(P), (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(Members(P, 0), (std::vector<int>{0, 1, 2}));
  // (1*2 + 18*1 + 20*3) / (6 * 2)
  EXPECT_EQ(error, 80.0 / 12.0);
}

TEST(GenerateOptimalPartitioningGeneral, ZeroFrequencyVectorsMoveButWeighNothing) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{0}, 1}, {{50}, 0}, {{98}, 1}});
  Codebook CB;
  Scalars(&CB, {1, 100});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  const double error = GenerateOptimalPartitioningGeneral(&TS, &CB, &P, 0);
  EXPECT_EQ(MapOf(P), (std::vector<int>{0, 0, 1}));
  EXPECT_EQ(error, (1.0 + 4.0) / 2.0);  // 49 * 0 adds nothing
  ExpectConsistent(TS, P);

  // Moved into a partition of its own, a frequency-0 vector leaves it
  // without a centroid.
  Scalars(&CB, {1, 100, 50});
  Partitioning three;
  CreateNewPartitioning(&three, &TS, 3);
  GenerateOptimalPartitioningGeneral(&TS, &CB, &three, 0);
  EXPECT_EQ(MapOf(three), (std::vector<int>{0, 2, 1}));
  EXPECT_EQ(three.PartitionSums[2].CCFreq, 0);
  GenerateOptimalCodebookGeneral(&TS, &CB, &three, 0);
  EXPECT_EQ(CB.Book[2].Freq, 0);
  EXPECT_EQ(CB.Book[2].Vector[0], 50);
}

TEST(GenerateOptimalPartitioningGeneral, BinaryMetrics) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 2, 1,
           {{{1000000, 0}, 1}, {{1000000, 1000000}, 1}, {{0, 1000000}, 2}}, 4, "", 1);
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 2, 1, {{{1000000, 0}, 0}, {{0, 1000000}, 0}}, 4, "", 1);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  // Jaccard: vector 1 is 500000 from both code vectors and stays in 0.
  const double jaccard = GenerateOptimalPartitioningGeneral(&TS, &CB, &P, 11);
  EXPECT_EQ(MapOf(P), (std::vector<int>{0, 0, 1}));
  EXPECT_EQ(jaccard, 500000.0 / 8.0);

  // Code length: the result is that of AverageErrorForSolution after the
  // moves.
  Partitioning bits;
  CreateNewPartitioning(&bits, &TS, 2);
  const double length = GenerateOptimalPartitioningGeneral(&TS, &CB, &bits, 1);
  EXPECT_EQ(MapOf(bits), (std::vector<int>{0, 0, 1}));
  EXPECT_EQ(length, AverageErrorForSolution(&TS, &CB, &bits, 1));
}

TEST(GenerateOptimalPartitioningGeneralDeathTest, RefusesOtherErrorFunctions) {
  Codebook TS;
  Codebook CB;
  ExampleSets(&TS, &CB);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  for (const int code : {2, 3, 10, 13, -1}) {
    EXPECT_FATAL(GenerateOptimalPartitioningGeneral(&TS, &CB, &P, code),
                 "ERROR: Unknown error function.\n");
  }
}

TEST(GenerateOptimalPartitioningGeneralDeathTest, RefusesRecordsThatDoNotFit) {
  Codebook TS;
  Codebook CB;
  ExampleSets(&TS, &CB);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);

  Codebook empty;
  BuildSet(&empty, kCodebookFile, 2, 1, {});
  EXPECT_FATAL(GenerateOptimalPartitioningGeneral(&TS, &empty, &P, 0),
               "ERROR: The codebook is empty.\n");

  Codebook wide;
  BuildSet(&wide, kCodebookFile, 2, 2, {{{1, 2, 3, 4}, 0}, {{5, 6, 7, 8}, 0}});
  EXPECT_FATAL(GenerateOptimalPartitioningGeneral(&TS, &wide, &P, 0),
               "ERROR: Codebook and training set differ in vector dimension (4 != 2).\n");

  Codebook three;
  BuildSet(&three, kCodebookFile, 2, 1, {{{1, 2}, 0}, {{5, 6}, 0}, {{7, 8}, 0}});
  EXPECT_FATAL(GenerateOptimalPartitioningGeneral(&TS, &three, &P, 0),
               "ERROR: The codebook has more vectors (3) than the partitioning has partitions "
               "(2).\n");

  Codebook other;
  BuildSet(&other, kTrainingSetFile, 2, 1, {{{1, 2}, 1}});
  EXPECT_FATAL(GenerateOptimalPartitioningGeneral(&other, &CB, &P, 0),
               "ERROR: Partitioning is not for this training set (5 != 1).\n");

  // A start candidate without a code vector: a vector in no partition, or
  // in a partition the codebook does not reach.
  ChangePartition(&TS, &P, -1, 3);
  EXPECT_FATAL(GenerateOptimalPartitioningGeneral(&TS, &CB, &P, 0),
               "ERROR: Training vector 3 is in partition -1, which has no code vector.\n");
  Codebook one;
  BuildSet(&one, kCodebookFile, 2, 1, {{{1, 2}, 0}});
  ChangePartition(&TS, &P, 1, 3);
  EXPECT_FATAL(GenerateOptimalPartitioningGeneral(&TS, &one, &P, 0),
               "ERROR: Training vector 3 is in partition 1, which has no code vector.\n");
}

// --- The reference model ---

// The literal one-pass algorithm on plain singly linked lists: full
// distances, one vector at a time, and a move that walks the old list to
// the predecessor.
struct ReferencePartitioning {
  std::vector<int> map, first, next, size, ccfreq;
  std::vector<std::vector<std::int64_t>> sums;

  ReferencePartitioning(const Codebook& TS, int count) {
    const int n = TS.Booksize;
    const int dim = VectorDimension(TS);
    map.assign(n, 0);
    next.resize(n);
    first.assign(count, -1);
    size.assign(count, 0);
    ccfreq.assign(count, 0);
    sums.assign(count, std::vector<std::int64_t>(dim, 0));
    for (int i = 0; i < n; ++i) {
      next[i] = i + 1 < n ? i + 1 : -1;
      Add(TS, 0, i, +1);
    }
    if (n > 0) first[0] = 0;
  }

  void Add(const Codebook& TS, int k, int v, int sign) {
    const int dim = VectorDimension(TS);
    for (int e = 0; e < dim; ++e) {
      sums[k][e] += sign * static_cast<std::int64_t>(TS.Book[v].Freq) * TS.Book[v].Vector[e];
    }
    ccfreq[k] += sign * TS.Book[v].Freq;
    size[k] += sign;
  }

  void Change(const Codebook& TS, int to, int v) {
    const int old = map[v];
    if (first[old] == v) {
      first[old] = next[v];
    } else {
      int x = first[old];
      while (next[x] != v) x = next[x];
      next[x] = next[v];
    }
    Add(TS, old, v, -1);
    map[v] = to;
    next[v] = first[to];
    first[to] = v;
    Add(TS, to, v, +1);
  }

  double Generate(const Codebook& TS, const Codebook& CB) {
    const int dim = VectorDimension(TS);
    auto distance = [&](int j, int i) {
      std::int64_t d = 0;
      for (int e = 0; e < dim; ++e) {
        const std::int64_t diff =
            static_cast<std::int64_t>(CB.Book[j].Vector[e]) - TS.Book[i].Vector[e];
        d += diff * diff;
      }
      return d;
    };
    std::int64_t total = 0;
    for (int i = 0; i < TS.Booksize; ++i) {
      int chosen = map[i];
      std::int64_t best = distance(chosen, i);
      for (int j = 0; j < CB.Booksize; ++j) {
        const std::int64_t d = distance(j, i);
        if (d < best) {
          best = d;
          chosen = j;
          if (d == 0) break;
        }
      }
      if (chosen != map[i]) Change(TS, chosen, i);
      total += best * TS.Book[i].Freq;
    }
    return static_cast<double>(total) / (static_cast<double>(dim) * TS.TotalFreq);
  }
};

void ExpectSameAsReference(const Partitioning& P, const ReferencePartitioning& model) {
  ASSERT_EQ(MapOf(P), model.map);
  for (int k = 0; k < P.PartitionCount; ++k) {
    std::vector<int> expected;
    for (int v = model.first[k]; v != -1; v = model.next[v]) expected.push_back(v);
    ASSERT_EQ(Members(P, k), expected) << "partition " << k;
    ASSERT_EQ(P.PartitionSize[k], model.size[k]) << "partition " << k;
    ASSERT_EQ(P.PartitionSums[k].CCFreq, model.ccfreq[k]) << "partition " << k;
    for (int e = 0; e < P.VectorDim; ++e) {
      ASSERT_EQ(P.PartitionSums[k].VectorSum[e], model.sums[k][e]) << "partition " << k;
    }
  }
}

// Clustered vectors of small elements: many ties between code vectors and
// many duplicates, so that every tie-break is exercised.
std::vector<NodeSpec> ClusteredVectors(std::mt19937& random, int count, int dim,
                                       const std::vector<std::vector<int>>& centres, int spread) {
  std::vector<NodeSpec> nodes;
  for (int i = 0; i < count; ++i) {
    const std::vector<int>& centre = centres[random() % centres.size()];
    std::vector<int> elements(dim);
    for (int e = 0; e < dim; ++e) {
      elements[e] = centre[e] + static_cast<int>(random() % (2 * spread + 1)) - spread;
    }
    nodes.push_back({elements, static_cast<int>(random() % 4)});
  }
  return nodes;
}

void CompareWithReference(unsigned seed, int vectors, int dim, int codeVectors) {
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::vector<std::vector<int>> centres;
  for (int c = 0; c < 6; ++c) {
    std::vector<int> centre(dim);
    for (int& element : centre) element = static_cast<int>(random() % 40) - 10;
    centres.push_back(centre);
  }
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, dim, 1, ClusteredVectors(random, vectors, dim, centres, 3), 4);
  // Code vectors near the same centres, some of them duplicates.
  std::vector<NodeSpec> codes = ClusteredVectors(random, codeVectors, dim, centres, 2);
  codes[codeVectors - 1] = codes[1];
  codes[codeVectors / 2] = codes[0];
  Codebook CB;
  BuildSet(&CB, kCodebookFile, dim, 1, codes, 4);

  Partitioning P;
  CreateNewPartitioning(&P, &TS, codeVectors);
  ReferencePartitioning model(TS, codeVectors);
  EXPECT_EQ(GenerateOptimalPartitioningGeneral(&TS, &CB, &P, 0), model.Generate(TS, CB));
  ExpectSameAsReference(P, model);

  // A second pass against the centroids starts from real partitions.
  GenerateOptimalCodebookGeneral(&TS, &CB, &P, 0);
  EXPECT_EQ(GenerateOptimalPartitioningGeneral(&TS, &CB, &P, 0), model.Generate(TS, CB));
  ExpectSameAsReference(P, model);
  ExpectConsistent(TS, P);
}

TEST(GenerateOptimalPartitioningGeneral, MatchesTheReferenceModelOnClusteredData) {
  const unsigned seed = std::random_device{}();
  CompareWithReference(seed, 3000, 4, 24);
  CompareWithReference(seed + 1, 2000, 1, 9);
}

TEST(GenerateOptimalPartitioningGeneral, MatchesTheReferenceModelAcrossSearchBlocks) {
  // More vectors than one block of searches holds.
  CompareWithReference(std::random_device{}(), 70000, 2, 12);
}

// --- GenerateOptimalCodebookGeneral ---

TEST(GenerateOptimalCodebookGeneral, CentroidsRoundHalvesUp) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 2, 1,
           {{{1, 1}, 1}, {{2, 3}, 1}, {{-3, -1}, 1}, {{-1, -1}, 1}, {{-3, 0}, 1}, {{9, 9}, 3}});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 4);
  ChangePartition(&TS, &P, 1, 2);
  ChangePartition(&TS, &P, 1, 3);
  ChangePartition(&TS, &P, 1, 4);
  ChangePartition(&TS, &P, 2, 5);
  Codebook CB;
  CreateNewCodebook(&CB, 4, &TS);
  CB.Book[3].Vector[0] = 7;
  CB.Book[3].Vector[1] = -7;
  CB.Book[3].Freq = 5;
  GenerateOptimalCodebookGeneral(&TS, &CB, &P, 0);
  // Sums 3 and 4 over CCFreq 2: 1.5 + 0.5 and 2 + 0.5 truncate to 2 and 2.
  EXPECT_EQ(vqtest::Elements(CB, 0), (std::vector<int>{2, 2}));
  EXPECT_EQ(CB.Book[0].Freq, 2);
  EXPECT_EQ(CB.Book[0].VectorMean, 2);
  // -7/3 + 0.5 = -1.83 and -2/3 + 0.5 = -0.17 truncate toward zero.
  EXPECT_EQ(vqtest::Elements(CB, 1), (std::vector<int>{-1, 0}));
  EXPECT_EQ(CB.Book[1].Freq, 3);
  EXPECT_EQ(vqtest::Elements(CB, 2), (std::vector<int>{9, 9}));
  EXPECT_EQ(CB.Book[2].Freq, 3);
  // The empty partition keeps its vector and gets Freq 0.
  EXPECT_EQ(vqtest::Elements(CB, 3), (std::vector<int>{7, -7}));
  EXPECT_EQ(CB.Book[3].Freq, 0);
}

TEST(GenerateOptimalCodebookGeneral, EveryAcceptedErrorFunctionComputesTheSame) {
  Codebook TS;
  Codebook CB;
  ExampleSets(&TS, &CB);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  GenerateOptimalPartitioningGeneral(&TS, &CB, &P, 0);
  for (const int code : {0, 1, 2, 11, 12}) {
    Codebook centroids;
    CreateNewCodebook(&centroids, 2, &TS);
    GenerateOptimalCodebookGeneral(&TS, &centroids, &P, code);
    // (1*1 + 10*2 + 3 + 11) / 5 = 7, (2 + 40 + 4 + 22) / 5 = 13.6
    EXPECT_EQ(vqtest::Elements(centroids, 0), (std::vector<int>{7, 14})) << code;
    EXPECT_EQ(centroids.Book[0].Freq, 5);
    EXPECT_EQ(centroids.Book[0].VectorMean, 11);
    EXPECT_EQ(vqtest::Elements(centroids, 1), (std::vector<int>{100, 200})) << code;
  }
}

TEST(GenerateOptimalCodebookGeneralDeathTest, RefusesOtherCodesAndRecordsThatDoNotFit) {
  Codebook TS;
  Codebook CB;
  ExampleSets(&TS, &CB);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  for (const int code : {3, 10, 13, -1}) {
    EXPECT_FATAL(GenerateOptimalCodebookGeneral(&TS, &CB, &P, code),
                 "cb::GenerateOptimalCodebookGeneral: Unknown error function.\n");
  }
  Codebook three;
  CreateNewCodebook(&three, 3, &TS);
  EXPECT_FATAL(GenerateOptimalCodebookGeneral(&TS, &three, &P, 0),
               "ERROR: The codebook has more vectors (3) than the partitioning has partitions "
               "(2).\n");
  Codebook wide;
  BuildSet(&wide, kCodebookFile, 3, 1, {{{1, 2, 3}, 0}});
  EXPECT_FATAL(GenerateOptimalCodebookGeneral(&TS, &wide, &P, 0),
               "ERROR: Codebook and partitioning differ in vector dimension (3 != 2).\n");
}

// --- CentroidAccumulator ---

TEST(CentroidAccumulator, GivesTheCentroidsOfTheRecordOperations) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE(seed);
  std::mt19937 random(seed);
  // Negative and huge elements and frequencies, whose products wrap the
  // totals; some vectors in no partition, some partitions empty.
  const int count = 500, dim = 3, partitions = 9;
  std::uniform_int_distribution<int> element(INT32_MIN, INT32_MAX), label(-1, partitions - 2);
  std::vector<int> rows(count * dim), freqs(count), labels(count);
  std::vector<NodeSpec> nodes;
  for (int i = 0; i < count; ++i) {
    for (int e = 0; e < dim; ++e) rows[i * dim + e] = element(random) >> (i % 2 == 0 ? 0 : 20);
    freqs[i] = element(random) >> (i % 3 == 0 ? 0 : 24);
    labels[i] = label(random);
    nodes.push_back({{rows.begin() + i * dim, rows.begin() + i * dim + dim}, freqs[i]});
  }
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, dim, 1, nodes, 4);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, partitions);
  for (int i = 0; i < count; ++i) ChangePartition(&TS, &P, labels[i], i);
  Codebook CB;
  CreateNewCodebook(&CB, partitions, &TS);
  GenerateOptimalCodebookGeneral(&TS, &CB, &P, 0);

  CentroidAccumulator accumulator(partitions, dim);
  for (const auto& [first, last] : {std::pair{0, 0}, {0, 123}, {123, 124}, {124, count}}) {
    accumulator.Add(rows.data() + first * dim, freqs.data() + first, labels.data() + first,
                    last - first);
  }
  std::vector<int> centroids(partitions * dim, 0), weights(partitions);
  accumulator.Centroids(centroids.data(), weights.data());
  for (int k = 0; k < partitions; ++k) {
    EXPECT_EQ(std::vector<int>(centroids.begin() + k * dim, centroids.begin() + k * dim + dim),
              vqtest::Elements(CB, k))
        << k;
    EXPECT_EQ(weights[k], CB.Book[k].Freq) << k;
  }
}

TEST(CentroidAccumulatorDeathTest, RefusesAPartitionOutsideIt) {
  CentroidAccumulator accumulator(2, 1);
  const int rows[] = {1, 2}, freqs[] = {1, 1}, labels[] = {1, 2};
  EXPECT_FATAL(accumulator.Add(rows, freqs, labels, 2),
               "ERROR: Partition 2 is not in the partitioning (2 partitions).\n");
  EXPECT_FATAL(CentroidAccumulator(0, 1), "ERROR: Invalid number of partitions (0).\n");
}

// --- The other searches ---

TEST(LocalRepartitioningGeneral, ExaminesOnlyTheMembersOfOnePartition) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{0}, 1}, {{10}, 1}, {{11}, 1}, {{20}, 1}, {{19}, 1}});
  Codebook CB;
  Scalars(&CB, {0, 10, 20});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 3);
  // Vector 4 sits in partition 1 though 20 is nearer; partition 0 holds
  // the others.
  ChangePartition(&TS, &P, 1, 4);
  LocalRepartitioningGeneral(&TS, &CB, &P, 0, 0);
  // Members of 0 in list order 0, 1, 2, 3: 1 and 2 go to 1, 3 to 2.
  EXPECT_EQ(MapOf(P), (std::vector<int>{0, 1, 1, 2, 1}));
  EXPECT_EQ(Members(P, 1), (std::vector<int>{2, 1, 4}));
  ExpectConsistent(TS, P);
  LocalRepartitioningGeneral(&TS, &CB, &P, 1, 0);
  EXPECT_EQ(MapOf(P), (std::vector<int>{0, 1, 1, 2, 2}));
  EXPECT_EQ(Members(P, 1), (std::vector<int>{2, 1}));
  ExpectConsistent(TS, P);
}

TEST(LocalRepartitioningGeneralDeathTest, RefusesAPartitionOutsideTheRecord) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{0}, 1}});
  Codebook CB;
  Scalars(&CB, {0, 10});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  EXPECT_FATAL(LocalRepartitioningGeneral(&TS, &CB, &P, 2, 0),
               "ERROR: Partition 2 is not in the partitioning (2 partitions).\n");
}

TEST(RepartitionDueToNewVectorsGeneral, MovesOnlyToStrictlyNearerListedVectors) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{0}, 1}, {{5}, 1}, {{9}, 1}, {{15}, 1}});
  Codebook CB;
  Scalars(&CB, {0, 10, 8, 4, 6});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 5);
  const int listed[] = {4, 3, 1};
  RepartitionDueToNewVectorsGeneral(&TS, &CB, &P, listed, 3, 0);
  // 0 stays; 5 is 1 from 4 and 6: the earlier listed, 6 (index 4), wins;
  // 9 goes to 10; 15 to 10 (code vector 2, at 8, is not listed).
  EXPECT_EQ(MapOf(P), (std::vector<int>{0, 4, 1, 1}));
  ExpectConsistent(TS, P);

  // A vector as near to a listed code vector as to its own stays.
  Scalars(&CB, {0, 10, 8, 4, 6, 10});
  Partitioning six;
  CreateNewPartitioning(&six, &TS, 6);
  ChangePartition(&TS, &six, 1, 2);
  const int eleven[] = {5};
  RepartitionDueToNewVectorsGeneral(&TS, &CB, &six, eleven, 1, 0);
  EXPECT_EQ(MapOf(six), (std::vector<int>{0, 0, 1, 5}));
}

TEST(RepartitionDueToNewVectorGeneral, MovesToTheOneCodeVectorWhenStrictlyNearer) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{0}, 1}, {{5}, 1}, {{10}, 1}});
  Codebook CB;
  Scalars(&CB, {0, 10});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  RepartitionDueToNewVectorGeneral(&TS, &CB, &P, 1, 0);
  EXPECT_EQ(MapOf(P), (std::vector<int>{0, 0, 1}));
  ExpectConsistent(TS, P);
}

TEST(RepartitionDueToNewVectorsGeneralDeathTest, RefusesUnlistableCodeVectors) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{0}, 1}});
  Codebook CB;
  Scalars(&CB, {0, 10});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  const int listed[] = {1, 2};
  EXPECT_FATAL(RepartitionDueToNewVectorsGeneral(&TS, &CB, &P, listed, 2, 0),
               "ERROR: Code vector 2 is not in the codebook (2 vectors).\n");
  EXPECT_FATAL(RepartitionDueToNewVectorGeneral(&TS, &CB, &P, -1, 0),
               "ERROR: Code vector -1 is not in the codebook (2 vectors).\n");
}

// --- AverageErrorForPartitioning ---

TEST(AverageErrorForPartitioning, MeasuresWithTheOwnCentroids) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{0}, 1}, {{4}, 1}, {{10}, 2}, {{13}, 1}});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 3);
  ChangePartition(&TS, &P, 1, 2);
  ChangePartition(&TS, &P, 1, 3);
  // Centroids 2 (of 0, 4) and 11 (of 10, 10, 13); partition 2 is empty.
  EXPECT_EQ(AverageErrorForPartitioning(&TS, &P, 0), (4.0 + 4.0 + 2 * 1.0 + 4.0) / 5.0);
}

TEST(AverageErrorForPartitioningDeathTest, ErrorFunctionTwoPassesTheCentroidsOnly) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{0}, 1}});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 1);
  EXPECT_FATAL(AverageErrorForPartitioning(&TS, &P, 2), "ERROR: Unknown error function.\n");
  EXPECT_FATAL(AverageErrorForPartitioning(&TS, &P, 5),
               "cb::GenerateOptimalCodebookGeneral: Unknown error function.\n");
}

}  // namespace
