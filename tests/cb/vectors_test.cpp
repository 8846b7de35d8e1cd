#include <climits>
#include <string>
#include <vector>

#include "set_builder.h"
#include "test_support.h"
#include "vqpeek/cb.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;
using vqtest::BuildSet;

TEST(CompareVectors, TheFirstDifferingElementDecides) {
  const struct {
    std::vector<int> a;
    std::vector<int> b;
    int count;
    int expected;
  } cases[] = {
      {{1, 2, 3}, {1, 2, 3}, 3, 0},
      {{1, 2, 3}, {9, 9, 9}, 0, 0},
      {{1, 2, 3}, {1, 2, 9}, 2, 0},
      {{1, 2, 3, 5, 0}, {1, 2, 3, 4, 9}, 5, 1},
      {{1, 2, 3, 4, 9}, {1, 2, 3, 5, 0}, 5, -1},
      {{-1}, {1}, 1, -1},
      {{INT_MIN}, {INT_MAX}, 1, -1},  // signed, and no difference that overflows
      {{INT_MAX}, {INT_MIN}, 1, 1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CompareVectors(c.a.data(), c.b.data(), c.count), c.expected)
        << ::testing::PrintToString(c.a) << " vs " << ::testing::PrintToString(c.b);
  }
}

TEST(CopyVector, CopiesCountElements) {
  const int source[4] = {5, -6, 7, 8};
  int dest[4] = {0, 0, 0, 99};
  CopyVector(source, dest, 3);
  EXPECT_EQ(std::vector<int>(dest, dest + 4), (std::vector<int>{5, -6, 7, 99}));
  CopyVector(dest, dest, 4);
  EXPECT_EQ(std::vector<int>(dest, dest + 4), (std::vector<int>{5, -6, 7, 99}));
}

TEST(CopyVectorDeathTest, RefusesNullVectorsAndShowsBothPointers) {
  int vector[1] = {};
  EXPECT_EXIT(CopyVector(nullptr, vector, 1), ::testing::ExitedWithCode(255),
              "^ERROR: CopyVector source=\\(nil\\) dest=0x[0-9a-f]+\n$");
  EXPECT_EXIT(CopyVector(vector, nullptr, 1), ::testing::ExitedWithCode(255),
              "^ERROR: CopyVector source=0x[0-9a-f]+ dest=\\(nil\\)\n$");
  // Even nothing to copy does not excuse a missing vector.
  EXPECT_EXIT(CopyVector(nullptr, nullptr, 0), ::testing::ExitedWithCode(255),
              "^ERROR: CopyVector source=\\(nil\\) dest=\\(nil\\)\n$");
}

TEST(CreateEmptyNode, OwnsAZeroedVectorAndHasNoName) {
  CodebookNode node = CreateEmptyNode(3);
  ASSERT_NE(node.Vector, nullptr);
  EXPECT_TRUE(node.Vector.get_deleter().owned);
  EXPECT_EQ(std::vector<int>(node.Vector.get(), node.Vector.get() + 3),
            (std::vector<int>{0, 0, 0}));
  EXPECT_EQ(node.VectorMean, 0);
  EXPECT_EQ(node.Freq, 0);
  EXPECT_EQ(node.Name, nullptr);
  ChangeVectorName(&node, "x");
  FreeNode(node);
  EXPECT_EQ(node.Vector, nullptr);
  EXPECT_EQ(node.Name, nullptr);
}

TEST(CreateEmptyVectorDeathTest, RefusesANegativeCount) {
  EXPECT_FATAL(CreateEmptyVector(-1), "ERROR: Not enough memory for new vector element.\n");
  EXPECT_FATAL(CreateEmptyNode(-5), "ERROR: Not enough memory for new vector element.\n");
}

TEST(PrintVector, PrintsAllElementsOnOneLine) {
  const int vector[4] = {1, -22, 333, 4444};
  CaptureStdout();
  PrintVector(vector, 2, 2);
  PrintVector(vector, 0, 1);
  EXPECT_EQ(GetCapturedStdout(), "  1 -22 333 4444 \n\n");
}

TEST(PrintCodebook, ListsTheHeaderAndTheNodesInUse) {
  Codebook CB;
  BuildSet(&CB, kCodebookFile, 3, 1,
           {{{1, 20, 300}, 5, "a"}, {{-1, 0, 12345}, 10000}, {{7, 7, 7}, 1}}, 2, "LBG");
  DecreaseCodebookSize(&CB, 2);
  CB.TotalFreq = 4;  // printed as the header holds it
  CaptureStdout();
  PrintCodebook(&CB);
  EXPECT_EQ(GetCapturedStdout(),
            "Codebook generated: LBG\n"
            "Vectors=2, Totalfreq=4 \n"
            "0  : (f=5   , vm=107)    1  20 300 \n"
            "1  : (f=10000, vm=4115)   -1   0 12345 \n");
}

TEST(PrintCodebook, PrintsTheHeaderOfAnEmptyRecord) {
  Codebook CB;
  BuildSet(&CB, kTrainingSetFile, 1, 1, {});
  CaptureStdout();
  PrintCodebook(&CB);
  EXPECT_EQ(GetCapturedStdout(), "Codebook generated: \nVectors=0, Totalfreq=0 \n");
}

}  // namespace
