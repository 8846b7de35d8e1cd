#include <climits>
#include <cstring>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "set_builder.h"
#include "test_support.h"
#include "vqpeek/cb.h"

namespace {

using vqtest::BuildSet;
using vqtest::Elements;
using vqtest::NodeSpec;

// The process ends with status 255 and writes nothing to standard error.
#define EXPECT_SILENT_EXIT(statement) EXPECT_EXIT(statement, ::testing::ExitedWithCode(255), "^$")

// Everything a node holds, for comparisons.
struct NodeState {
  std::vector<int> elements;
  int freq;
  int vectorMean;
  std::optional<std::string> name;
  bool operator==(const NodeState&) const = default;
};

std::ostream& operator<<(std::ostream& out, const NodeState& state) {
  out << "{";
  for (const int e : state.elements) out << e << " ";
  return out << "f=" << state.freq << " vm=" << state.vectorMean
             << " name=" << state.name.value_or("(null)") << "}";
}

NodeState State(const Codebook& CB, int i) {
  const CodebookNode& node = CB.Book[i];
  std::optional<std::string> name;
  if (node.Name) name = node.Name.get();
  return {Elements(CB, i), node.Freq, node.VectorMean, name};
}

NodeState Fresh(int dim) { return {std::vector<int>(dim, 0), 0, 0, std::nullopt}; }

// The header fields but Booksize, for checking that an operation keeps them.
std::string Header(const Codebook& CB) {
  return std::string(CB.Versionstr) + "|" + std::to_string(CB.BlockSizeX) + "|" +
         std::to_string(CB.BlockSizeY) + "|" + std::to_string(CB.TotalFreq) + "|" +
         std::to_string(CB.BytesPerElement) + "|" + std::to_string(CB.MinValue) + "|" +
         std::to_string(CB.MaxValue) + "|" + std::to_string(CB.Preprocessing) + "|" +
         CB.GenerationMethod;
}

// Five named 2-element nodes, of which the first three are in use:
// Booksize 3, AllocatedSize 5.
void BuildThreeOfFive(Codebook* CB) {
  BuildSet(
      CB, kCodebookFile, 2, 1,
      {{{1, 2}, 1, "n0"}, {{3, 4}, 2, ""}, {{5, 6}, 3, "n2"}, {{7, 8}, 4, "n3"}, {{9, 9}, 5, "n4"}},
      1, "LBG");
  DecreaseCodebookSize(CB, 3);
}

// --- Size changes ------------------------------------------------------------

enum class Op { kDecrease, kIncrease, kChange };

void ApplySizeChange(Op op, Codebook* CB, int n) {
  switch (op) {
    case Op::kDecrease:
      return DecreaseCodebookSize(CB, n);
    case Op::kIncrease:
      return IncreaseCodebookSize(CB, n);
    case Op::kChange:
      return ChangeCodebookSize(CB, n);
  }
}

const char* OpName(Op op) {
  return op == Op::kDecrease ? "Decrease" : op == Op::kIncrease ? "Increase" : "Change";
}

// With B = 3 and A = 5: the cells n < 0, 0 <= n < B, n = B, B < n <= A and
// n > A of each operation.
TEST(CodebookSizeChangeDeathTest, ExitsWithoutMessageOutsideTheOperationsRange) {
  const struct {
    Op op;
    std::vector<int> sizes;
  } cases[] = {
      {Op::kDecrease, {-1, 3, 4, 5, 6}},
      {Op::kIncrease, {-1, 0, 2, 3}},
      {Op::kChange, {-1, INT_MIN}},
  };
  for (const auto& c : cases) {
    for (const int n : c.sizes) {
      SCOPED_TRACE(std::string(OpName(c.op)) + " to " + std::to_string(n));
      Codebook CB;
      BuildThreeOfFive(&CB);
      EXPECT_SILENT_EXIT(ApplySizeChange(c.op, &CB, n));
    }
  }
}

TEST(CodebookSizeChange, ShrinksAndRegrowsWithinTheAllocationInPlace) {
  const struct {
    Op op;
    int n;
  } cases[] = {{Op::kDecrease, 0}, {Op::kDecrease, 2}, {Op::kChange, 0},
               {Op::kChange, 2},   {Op::kChange, 3},   {Op::kChange, 4},
               {Op::kChange, 5},   {Op::kIncrease, 4}, {Op::kIncrease, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(OpName(c.op)) + " to " + std::to_string(c.n));
    Codebook CB;
    BuildThreeOfFive(&CB);
    std::vector<NodeState> before;
    for (int i = 0; i < 5; ++i) before.push_back(State(CB, i));
    const CodebookNode* book = CB.Book.get();

    ApplySizeChange(c.op, &CB, c.n);
    EXPECT_EQ(CB.Booksize, c.n);
    EXPECT_EQ(CB.AllocatedSize, 5);
    EXPECT_EQ(CB.Book.get(), book);
    // Nodes beyond the logical size, also those exposed again, keep their
    // contents.
    for (int i = 0; i < 5; ++i) EXPECT_EQ(State(CB, i), before[i]) << "node " << i;
  }
}

TEST(CodebookSizeChange, GrowsBeyondTheAllocationToExactlyTheNewSize) {
  for (const Op op : {Op::kIncrease, Op::kChange}) {
    SCOPED_TRACE(OpName(op));
    Codebook CB;
    BuildThreeOfFive(&CB);
    std::vector<NodeState> before;
    for (int i = 0; i < 3; ++i) before.push_back(State(CB, i));
    const std::string header = Header(CB);

    ApplySizeChange(op, &CB, 7);
    EXPECT_EQ(CB.Booksize, 7);
    EXPECT_EQ(CB.AllocatedSize, 7);
    EXPECT_EQ(Header(CB), header);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(State(CB, i), before[i]) << "node " << i;
    // Nodes 3 and 4 held data before; growing does not keep it.
    for (int i = 3; i < 7; ++i) EXPECT_EQ(State(CB, i), Fresh(2)) << "node " << i;
  }
}

// --- SetAllocatedCodebookSize ------------------------------------------------

TEST(SetAllocatedCodebookSizeDeathTest, RefusesSizesUpToTheLogicalSize) {
  for (const int n : {3, 1, 0, -2}) {
    Codebook CB;
    BuildThreeOfFive(&CB);
    EXPECT_FATAL(SetAllocatedCodebookSize(&CB, n),
                 "CB::SetAllocatedCodebookSize: New allocated size (" + std::to_string(n) +
                     ") <= logical booksize (3).\n");
  }
}

TEST(SetAllocatedCodebookSize, NeverShrinksTheAllocation) {
  for (const int n : {4, 5}) {
    Codebook CB;
    BuildThreeOfFive(&CB);
    const CodebookNode* book = CB.Book.get();
    SetAllocatedCodebookSize(&CB, n);
    EXPECT_EQ(CB.AllocatedSize, 5);
    EXPECT_EQ(CB.Book.get(), book);
    EXPECT_EQ(State(CB, 4), (NodeState{{9, 9}, 5, 9, "n4"}));
  }
}

TEST(SetAllocatedCodebookSize, DeepCopiesTheNodesInUseAndKeepsTheHeader) {
  Codebook CB;
  BuildThreeOfFive(&CB);
  const std::string header = Header(CB);
  std::vector<NodeState> before;
  for (int i = 0; i < 3; ++i) before.push_back(State(CB, i));

  SetAllocatedCodebookSize(&CB, 6);
  EXPECT_EQ(CB.AllocatedSize, 6);
  EXPECT_EQ(Header(CB), header);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(State(CB, i), before[i]) << "node " << i;
  EXPECT_EQ(CB.Book[1].Name, nullptr);
  for (int i = 3; i < 6; ++i) EXPECT_EQ(State(CB, i), Fresh(2)) << "node " << i;
  // The grown record owns independent vectors: writing one touches no other.
  CB.Book[5].Vector[1] = 42;
  EXPECT_EQ(State(CB, 2), before[2]);
  EXPECT_EQ(State(CB, 4), Fresh(2));
}

TEST(SetAllocatedCodebookSize, CopiesOnlyNodesThatExistAfterAHeaderCopy) {
  Codebook big;
  Codebook small;
  BuildSet(&big, kCodebookFile, 1, 1, {{{1}}, {{2}}, {{3}}});
  BuildSet(&small, kCodebookFile, 1, 1, {{{7}, 2, "s"}});
  CopyCodebookHeader(&big, &small);  // Booksize 3 over 1 allocated node
  SetAllocatedCodebookSize(&small, 4);
  EXPECT_EQ(small.AllocatedSize, 4);
  EXPECT_EQ(State(small, 0), (NodeState{{7}, 2, 7, "s"}));
  for (int i = 1; i < 4; ++i) EXPECT_EQ(State(small, i), Fresh(1));
}

// --- Nodes ---------------------------------------------------------------------

TEST(CopyNode, MakesAnIndependentDeepCopy) {
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 3, 1, {{{1, 2, 3}, 4, "src"}, {{9, 9, 9}, 1, "old"}, {{0, 0, 0}}});
  CopyNode(&CB.Book[0], &CB.Book[1], 3);
  EXPECT_EQ(State(CB, 1), State(CB, 0));
  EXPECT_NE(CB.Book[1].Name.get(), CB.Book[0].Name.get());
  // A source without a name leaves the destination without one.
  CopyNode(&CB.Book[2], &CB.Book[1], 3);
  EXPECT_EQ(State(CB, 1), (NodeState{{0, 0, 0}, 1, 0, std::nullopt}));
  EXPECT_EQ(State(CB, 0), (NodeState{{1, 2, 3}, 4, 2, "src"}));
}

TEST(CopyNode, ChangesNothingWhenCopyingANodeOntoItself) {
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 2, 1, {{{5, 6}, 2, "self"}});
  const char* name = CB.Book[0].Name.get();
  CopyNode(&CB.Book[0], &CB.Book[0], 2);
  EXPECT_EQ(CB.Book[0].Name.get(), name);
  EXPECT_EQ(State(CB, 0), (NodeState{{5, 6}, 2, 6, "self"}));
}

TEST(CopyNodeDeathTest, RefusesANodeWithoutVector) {
  CodebookNode empty;
  CodebookNode target = CreateEmptyNode(2);
  EXPECT_EXIT(CopyNode(&empty, &target, 2), ::testing::ExitedWithCode(255),
              "^ERROR: CopyVector source=\\(nil\\) dest=0x[0-9a-f]+\n$");
}

TEST(ChangeVectorName, ReplacesCopiesOrRemovesTheName) {
  CodebookNode node = CreateEmptyNode(1);
  std::string text = "first";
  ChangeVectorName(&node, text.c_str());
  text[0] = 'X';
  EXPECT_STREQ(node.Name.get(), "first");
  // The node's own name must survive being given again.
  ChangeVectorName(&node, node.Name.get());
  EXPECT_STREQ(node.Name.get(), "first");
  ChangeVectorName(&node, "");
  ASSERT_NE(node.Name, nullptr);
  EXPECT_STREQ(node.Name.get(), "");
  ChangeVectorName(&node, nullptr);
  EXPECT_EQ(node.Name, nullptr);
}

// --- Copies of records ----------------------------------------------------------

TEST(CopyCodebookHeader, CopiesEveryHeaderFieldButNotTheNodes) {
  Codebook source;
  Codebook destination;
  BuildSet(&source, kTrainingSetFile, 2, 2, {{{1, 2, 3, 4}}, {{1, 2, 3, 4}}, {{5, 6, 7, 8}}}, 3,
           "from here", 1);
  source.MinValue = -4;
  source.Preprocessing = 9;
  BuildSet(&destination, kCodebookFile, 1, 1, {{{1}}});
  const CodebookNode* book = destination.Book.get();
  CopyCodebookHeader(&source, &destination);
  EXPECT_EQ(Header(destination), Header(source));
  EXPECT_EQ(destination.Booksize, 3);
  EXPECT_EQ(destination.AllocatedSize, 1);
  EXPECT_EQ(destination.Book.get(), book);
}

TEST(CopyCodebook, CopiesHeaderAndNodesInUseAndKeepsTheRest) {
  Codebook source;
  Codebook destination;
  BuildSet(&source, kTrainingSetFile, 2, 1, {{{1, 2}, 3, "a"}, {{4, 5}, 6}}, 2, "src");
  BuildSet(&destination, kCodebookFile, 1, 2, {{{0, 0}, 1, "x"}, {{0, 0}}, {{7, 7}, 2, "kept"}});
  CopyCodebook(&source, &destination);
  EXPECT_EQ(Header(destination), Header(source));
  EXPECT_EQ(destination.AllocatedSize, 3);
  EXPECT_EQ(State(destination, 0), State(source, 0));
  EXPECT_EQ(State(destination, 1), State(source, 1));
  EXPECT_EQ(State(destination, 2), (NodeState{{7, 7}, 2, 7, "kept"}));
}

TEST(CopyCodebook, CopiesAnEmptyRecordIntoOneWithoutNodes) {
  Codebook source;
  Codebook destination;
  BuildSet(&source, kCodebookFile, 4, 4, {}, 1, "empty");
  CopyCodebook(&source, &destination);
  EXPECT_EQ(Header(destination), Header(source));
}

TEST(CopyCodebookDeathTest, RefusesDestinationsThatCannotHoldTheSource) {
  Codebook source;
  Codebook destination;
  BuildSet(&source, kCodebookFile, 1, 1, {{{1}}, {{2}}, {{3}}});
  BuildSet(&destination, kCodebookFile, 1, 1, {{{1}}, {{2}}});
  EXPECT_FATAL(CopyCodebook(&source, &destination),
               "ERROR: Destination codebook is too small (3 -> 2).\n");

  Codebook wide;
  BuildSet(&wide, kCodebookFile, 3, 1, {{{1, 2, 3}}, {{1, 2, 3}}, {{1, 2, 3}}});
  EXPECT_FATAL(CopyCodebook(&source, &wide),
               "ERROR: Codebooks have different vector dimensions (1 -> 3).\n");
  // Even an empty source would give the wide nodes a header too narrow.
  DecreaseCodebookSize(&source, 0);
  EXPECT_FATAL(CopyCodebook(&source, &wide),
               "ERROR: Codebooks have different vector dimensions (1 -> 3).\n");
}

// --- AddCodebook ---------------------------------------------------------------

TEST(AddCodebook, AppendsDeepCopiesAndAddsTheHeaderTotals) {
  Codebook CB;
  Codebook other;
  BuildSet(&CB, kCodebookFile, 2, 1, {{{1, 1}, 2, "c0"}}, 1, "abc");
  BuildSet(&other, kCodebookFile, 1, 2, {{{2, 3}, 4, "o0"}, {{5, 6}, 1}});
  CB.TotalFreq = 7;
  other.TotalFreq = 100;  // the header values are added, not recounted
  AddCodebook(&CB, &other);
  EXPECT_EQ(CB.Booksize, 3);
  EXPECT_EQ(CB.AllocatedSize, 3);
  EXPECT_EQ(CB.TotalFreq, 107);
  EXPECT_EQ(State(CB, 0), (NodeState{{1, 1}, 2, 1, "c0"}));
  EXPECT_EQ(State(CB, 1), State(other, 0));
  EXPECT_EQ(State(CB, 2), State(other, 1));
  EXPECT_NE(CB.Book[1].Name.get(), other.Book[0].Name.get());
  EXPECT_STREQ(CB.GenerationMethod, "abc++");
}

TEST(AddCodebook, UsesNodesAlreadyAllocatedBeyondTheLogicalSize) {
  Codebook CB;
  Codebook other;
  BuildThreeOfFive(&CB);
  BuildSet(&other, kCodebookFile, 2, 1, {{{0, 1}, 1, "new"}});
  const CodebookNode* book = CB.Book.get();
  AddCodebook(&CB, &other);
  EXPECT_EQ(CB.Book.get(), book);
  EXPECT_EQ(CB.Booksize, 4);
  EXPECT_EQ(CB.AllocatedSize, 5);
  EXPECT_EQ(State(CB, 3), State(other, 0));
  EXPECT_EQ(State(CB, 4), (NodeState{{9, 9}, 5, 9, "n4"}));
}

TEST(AddCodebook, AddsARecordToItself) {
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 2, 1, {{{1, 2}, 1, "a"}, {{3, 4}, 2, "b"}});
  AddCodebook(&CB, &CB);
  ASSERT_EQ(CB.Booksize, 4);
  EXPECT_EQ(CB.TotalFreq, 6);
  EXPECT_EQ(State(CB, 2), State(CB, 0));
  EXPECT_EQ(State(CB, 3), State(CB, 1));
  EXPECT_STREQ(CB.GenerationMethod, "++");
}

TEST(AddCodebook, MarksTheMethodOnceAndOnlyWhereTheMarkFits) {
  const struct {
    std::string before;
    std::string after;
  } cases[] = {
      {"abc", "abc++"},
      {"", "++"},
      {"abc++", "abc++"},
      {"x+", "x+++"},
      {std::string(77, 'm'), std::string(77, 'm') + "++"},
      {std::string(78, 'm'), std::string(78, 'm')},
      {std::string(79, 'm'), std::string(79, 'm')},
  };
  for (const auto& c : cases) {
    Codebook CB;
    Codebook other;
    BuildSet(&CB, kCodebookFile, 1, 1, {{{1}}}, 1, c.before);
    BuildSet(&other, kCodebookFile, 1, 1, {{{2}}});
    AddCodebook(&CB, &other);
    EXPECT_EQ(std::string(CB.GenerationMethod), c.after) << "from \"" << c.before << "\"";
  }
}

TEST(AddCodebookDeathTest, RefusesEmptyOrDifferentlyShapedRecords) {
  Codebook CB;
  Codebook empty;
  BuildSet(&CB, kCodebookFile, 2, 1, {{{1, 2}}});
  BuildSet(&empty, kCodebookFile, 2, 1, {{{1, 2}}});
  DecreaseCodebookSize(&empty, 0);
  EXPECT_SILENT_EXIT(AddCodebook(&CB, &empty));

  Codebook wide;
  BuildSet(&wide, kCodebookFile, 2, 2, {{{1, 2, 3, 4}}});
  EXPECT_FATAL(AddCodebook(&CB, &wide),
               "ERROR: Codebooks have different vector dimensions (4 -> 2).\n");
}

// --- DuplicatesInCodebook ------------------------------------------------------

TEST(DuplicatesInCodebook, CountsNodesWhoseVectorOccursAgain) {
  const std::vector<int> a = {1, 2};
  const std::vector<int> b = {2, 1};
  const std::vector<int> c = {1, 3};
  const struct {
    std::vector<NodeSpec> nodes;
    int expected;
  } cases[] = {
      {{}, 0},
      {{{a}}, 0},
      {{{a}, {a}, {a}}, 2},
      {{{a}, {b}, {a}, {b}}, 2},
      {{{a}, {b}, {c}}, 0},
      {{{a, 1, "x"}, {a, 7, "y"}}, 1},  // names and frequencies do not matter
  };
  for (const auto& test : cases) {
    Codebook CB;
    BuildSet(&CB, kCodebookFile, 2, 1, test.nodes);
    EXPECT_EQ(DuplicatesInCodebook(&CB), test.expected) << test.nodes.size() << " nodes";
  }
}

TEST(DuplicatesInCodebook, IgnoresNodesBeyondTheLogicalSize) {
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 1, 1, {{{1}}, {{2}}, {{1}}, {{2}}});
  DecreaseCodebookSize(&CB, 2);
  EXPECT_EQ(DuplicatesInCodebook(&CB), 0);
}

// The count by its definition: node i counts when a later node equals it.
int PairwiseDuplicates(const Codebook& CB) {
  const int dim = VectorDimension(CB);
  int count = 0;
  for (int i = 0; i < CB.Booksize - 1; ++i) {
    for (int j = i + 1; j < CB.Booksize; ++j) {
      if (CompareVectors(CB.Book[i].Vector.get(), CB.Book[j].Vector.get(), dim) == 0) {
        ++count;
        break;
      }
    }
  }
  return count;
}

TEST(DuplicatesInCodebook, AgreesWithThePairwiseCountOnRandomSets) {
  for (unsigned seed = 1; seed <= 200; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const int dim = std::uniform_int_distribution<int>(1, 4)(random);
    const int size = std::uniform_int_distribution<int>(0, 80)(random);
    // Few values per element give many duplicates; some seeds use the
    // extremes so that comparisons cannot rely on differences.
    const int spread = std::uniform_int_distribution<int>(1, 3)(random);
    const bool extremes = seed % 5 == 0;
    std::uniform_int_distribution<int> value(-spread, spread);
    std::vector<NodeSpec> nodes;
    for (int i = 0; i < size; ++i) {
      std::vector<int> elements;
      for (int e = 0; e < dim; ++e) {
        const int v = value(random);
        elements.push_back(extremes ? (v < 0 ? INT_MIN : v > 0 ? INT_MAX : 0) : v);
      }
      nodes.emplace_back(elements, 1);
    }
    Codebook CB;
    BuildSet(&CB, kCodebookFile, dim, 1, nodes);
    EXPECT_EQ(DuplicatesInCodebook(&CB), PairwiseDuplicates(CB));
  }
}

// --- Centroid and means ----------------------------------------------------------

TEST(CodebookCentroid, WeightsByFrequencyAndDividesByTheHeaderTotal) {
  Codebook CB;
  BuildSet(&CB, kTrainingSetFile, 2, 1, {{{1, 2}, 1}, {{4, 4}, 3}, {{100, 100}, 9}});
  DecreaseCodebookSize(&CB, 2);
  CB.TotalFreq = 4;
  int centroid[2] = {};
  CodebookCentroid(&CB, centroid);
  EXPECT_EQ(centroid[0], 3);  // 13 / 4 + 0.5 = 3.75
  EXPECT_EQ(centroid[1], 4);  // 14 / 4 + 0.5 = 4.0
  CB.TotalFreq = 8;
  CodebookCentroid(&CB, centroid);
  EXPECT_EQ(centroid[0], 2);
  EXPECT_EQ(centroid[1], 2);
}

TEST(CodebookCentroid, RoundsTowardZeroAndFormsProductsIn64Bits) {
  Codebook CB;
  BuildSet(&CB, kTrainingSetFile, 3, 1, {{{-5, -7, INT_MAX}, INT_MAX}});
  int centroid[3] = {};
  CB.TotalFreq = INT_MAX;
  CodebookCentroid(&CB, centroid);
  EXPECT_EQ(centroid[2], INT_MAX);
  CB.Book[0].Freq = 1;
  CB.TotalFreq = 3;
  CodebookCentroid(&CB, centroid);
  EXPECT_EQ(centroid[0], -1);  // -5 / 3 + 0.5 = -1.17
  EXPECT_EQ(centroid[1], -1);  // -7 / 3 + 0.5 = -1.83
  EXPECT_EQ(centroid[2], 715827882);
}

TEST(CodebookCentroid, LeavesTheOutputAloneWhenTotalFreqIsZero) {
  Codebook CB;
  BuildSet(&CB, kTrainingSetFile, 2, 1, {{{1, 2}, 0}});
  int centroid[2] = {77, 78};
  CodebookCentroid(&CB, centroid);
  EXPECT_EQ(centroid[0], 77);
  EXPECT_EQ(centroid[1], 78);
}

TEST(CodebookCentroidDeathTest, ReportsScratchSumsThatCannotBeAllocated) {
  Codebook CB;
  BuildSet(&CB, kTrainingSetFile, 1, 1, {{{1}, 1}});
  CB.BlockSizeX = -1;
  int centroid[1] = {};
  EXPECT_FATAL(CodebookCentroid(&CB, centroid),
               "ERROR: Not enough memory for the centroid sums.\n");
}

TEST(CalculateVectorMeans, RecomputesTheRoundedMeanOfTheNodesInUse) {
  Codebook CB;
  BuildSet(&CB, kTrainingSetFile, 2, 1, {{{1, 2}}, {{-3, -2}}, {{-3, -2}}, {{10, 10}}});
  for (int i = 0; i < 4; ++i) CB.Book[i].VectorMean = 99;
  DecreaseCodebookSize(&CB, 2);
  CalculateVectorMeans(&CB);
  EXPECT_EQ(CB.Book[0].VectorMean, 2);   // 1.5 + 0.5
  EXPECT_EQ(CB.Book[1].VectorMean, -2);  // -2.5 + 0.5
  EXPECT_EQ(CB.Book[2].VectorMean, 99);
}

// --- UnrollTrainingSet -------------------------------------------------------------

TEST(UnrollTrainingSet, ReplacesEachNodeByFreqCopiesInOrder) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 2, 1,
           {{{1, 2}, 2, "a"}, {{3, 4}, 0, "b"}, {{5, 6}, -4, "n"}, {{7, 8}, 1, "c"}, {{0, 0}, 5}},
           1, "method");
  DecreaseCodebookSize(&TS, 4);
  TS.TotalFreq = 3;
  SetVerString(TS.Versionstr, kCodebookFile);
  const std::string header = Header(TS);
  UnrollTrainingSet(&TS);
  EXPECT_EQ(TS.Booksize, 3);
  EXPECT_EQ(TS.AllocatedSize, 3);
  EXPECT_EQ(Header(TS), header);
  EXPECT_EQ(State(TS, 0), (NodeState{{1, 2}, 1, 2, "a"}));
  EXPECT_EQ(State(TS, 1), (NodeState{{1, 2}, 1, 2, "a"}));
  EXPECT_EQ(State(TS, 2), (NodeState{{7, 8}, 1, 8, "c"}));
  EXPECT_NE(TS.Book[0].Name.get(), TS.Book[1].Name.get());
}

TEST(UnrollTrainingSet, EmptiesASetWithoutPositiveFrequencies) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1, {{{1}, 0}, {{2}, -1}});
  TS.TotalFreq = 0;
  UnrollTrainingSet(&TS);
  EXPECT_EQ(TS.Booksize, 0);
  EXPECT_EQ(TS.AllocatedSize, 0);
}

TEST(UnrollTrainingSetDeathTest, RefusesATotalThatIsNotTheSumOfTheCopies) {
  for (const int total : {2, 4, -3}) {
    Codebook TS;
    BuildSet(&TS, kTrainingSetFile, 1, 1, {{{1}, 2}, {{2}, -1}, {{3}, 1}});
    TS.TotalFreq = total;
    EXPECT_FATAL(UnrollTrainingSet(&TS), "ERROR: TotalFreq (" + std::to_string(total) +
                                             ") is not the sum of the positive frequencies (3).\n");
  }
}

}  // namespace
