#include <cstring>
#include <string>

#include "set_builder.h"
#include "test_support.h"
#include "vqpeek/cb.h"

namespace {

TEST(CreateNewCodebook, TakesTheTemplatesHeaderWithACodebookLineAndFreshNodes) {
  Codebook set;
  vqtest::BuildSet(&set, kTrainingSetFile, 3, 2, {{{1, 2, 3, 4, 5, 6}, 7, "n"}}, 2, "method");
  set.MinValue = -3;
  set.Preprocessing = 5;
  Codebook book;
  CreateNewCodebook(&book, 4, &set);
  EXPECT_STREQ(book.Versionstr, "VQ CODEBOOK 2.0");
  EXPECT_STREQ(book.GenerationMethod, "");
  EXPECT_EQ(book.BlockSizeX, 3);
  EXPECT_EQ(book.BlockSizeY, 2);
  EXPECT_EQ(book.TotalFreq, 7);
  EXPECT_EQ(book.BytesPerElement, 2);
  EXPECT_EQ(book.MinValue, -3);
  EXPECT_EQ(book.MaxValue, 255);
  EXPECT_EQ(book.Preprocessing, 5);
  EXPECT_EQ(book.Booksize, 4);
  EXPECT_EQ(book.AllocatedSize, 4);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(vqtest::Elements(book, i), std::vector<int>(6, 0));
    EXPECT_EQ(book.Book[i].Freq, 0);
    EXPECT_EQ(book.Book[i].VectorMean, 0);
    EXPECT_EQ(book.Book[i].Name, nullptr);
  }
  // Every node has a vector of its own.
  book.Book[1].Vector[5] = 9;
  EXPECT_EQ(book.Book[0].Vector[5], 0);
  EXPECT_EQ(book.Book[2].Vector[0], 0);
}

TEST(FreeCodebook, ReleasesTheNodesAndKeepsTheHeader) {
  Codebook set;
  vqtest::BuildSet(&set, kTrainingSetFile, 2, 1, {{{1, 2}}, {{3, 4}}});
  FreeCodebook(&set);
  EXPECT_EQ(set.Book, nullptr);
  EXPECT_EQ(set.AllocatedSize, 0);
  EXPECT_EQ(set.Booksize, 2);
  EXPECT_EQ(set.BlockSizeX, 2);
  // The record may be made anew.
  CreateNewTrainingSet(&set, 1, 1, 1, 1, 0, 255, 0, "again");
  EXPECT_EQ(set.Booksize, 1);
  EXPECT_STREQ(set.GenerationMethod, "again");
}

TEST(FreeCodebook, ReleasesALargeRecordWhoseBlockGoesOnAnotherThread) {
  Codebook set;
  CreateNewTrainingSet(&set, 1 << 20, 2, 2, 1, 0, 255, 0, "");
  set.Book[(1 << 20) - 1].Vector[3] = 7;
  FreeCodebook(&set);
  EXPECT_EQ(set.Book, nullptr);
  EXPECT_EQ(set.ElementBlock, nullptr);
  EXPECT_EQ(set.AllocatedSize, 0);
}

TEST(NodeAllocationDeathTest, ReportsANodeArrayThatCannotBeMade) {
  Codebook set;
  EXPECT_FATAL(CreateNewTrainingSet(&set, -1, 4, 4, 1, 0, 255, 0, ""),
               "ERROR: allocate CB->Book\n");
  EXPECT_FATAL(CreateNewCodebook(&set, -2, &set), "ERROR: allocate CB->Book\n");
}

}  // namespace
