#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "partitioning_check.h"
#include "set_builder.h"
#include "test_support.h"
#include "vqpeek/cb.h"

namespace {

using vqtest::BuildSet;
using vqtest::ExpectConsistent;
using vqtest::Members;
using vqtest::ReadFileBytes;
using vqtest::WriteFileBytes;

// The partition of every training vector.
std::vector<int> MapOf(const Partitioning& P) {
  return std::vector<int>(P.Map.get(), P.Map.get() + P.TSsize);
}

const std::string kSeparator(37, '-');

// A training set of `count` one-element vectors; vector i is i + 1, with
// Freq 1 and no name.
void PlainSet(Codebook* TS, int count) {
  std::vector<vqtest::NodeSpec> nodes;
  for (int i = 0; i < count; ++i) nodes.push_back({{i + 1}, 1});
  BuildSet(TS, kTrainingSetFile, 1, 1, nodes);
}

class PartitioningFileTest : public ::testing::Test {
 protected:
  // Writes `text` to a file and reads it as a partitioning of `TS`.
  void Read(const std::string& text, const Codebook& TS, Partitioning* P) {
    WriteFileBytes(path_, text);
    ReadPartitioning(path_.c_str(), P, &TS);
  }

  vqtest::TempDir dir_;
  std::string path_ = dir_.Path("p.pa");
};

using ReadPartitioningTest = PartitioningFileTest;
using ReadPartitioningDeathTest = PartitioningFileTest;
using WritePartitioningTest = PartitioningFileTest;
using WritePartitioningDeathTest = PartitioningFileTest;

std::string Head(int count, int size, const std::string& description = "") {
  std::string head =
      "VQ PARTITIONING 2.0\n" + std::to_string(count) + "\n" + std::to_string(size) + "\n";
  if (!description.empty()) head += description + "\n";
  return head + kSeparator + "\n";
}

TEST_F(ReadPartitioningTest, EveryVectorJoinsTheHeadOfItsPartition) {
  Codebook TS;
  PlainSet(&TS, 3);
  Partitioning P;
  Read(Head(2, 3) + "2\n1\n2\n", TS, &P);
  EXPECT_STREQ(P.Versionstr, "VQ PARTITIONING 2.0");
  EXPECT_EQ(P.PartitionCount, 2);
  EXPECT_EQ(P.TSsize, 3);
  EXPECT_STREQ(P.GenerationMethod, "");
  EXPECT_EQ(MapOf(P), (std::vector<int>{1, 0, 1}));
  EXPECT_EQ(Members(P, 0), (std::vector<int>{1}));
  EXPECT_EQ(Members(P, 1), (std::vector<int>{2, 0}));
  ExpectConsistent(TS, P);
}

TEST_F(ReadPartitioningTest, ListsRunFromTheHighestIndexDown) {
  Codebook TS;
  PlainSet(&TS, 6);
  Partitioning P;
  // Partition 1 everywhere: every vector leaves and rejoins partition 0.
  Read(Head(2, 6) + "1\n1\n2\n1\n1\n2\n", TS, &P);
  EXPECT_EQ(Members(P, 0), (std::vector<int>{4, 3, 1, 0}));
  EXPECT_EQ(Members(P, 1), (std::vector<int>{5, 2}));
  ExpectConsistent(TS, P);
}

TEST_F(ReadPartitioningTest, IndicesAreReadAsPercentI) {
  Codebook TS;
  PlainSet(&TS, 10);
  Partitioning P;
  // A name after the index is ignored; "010" is octal 8, "0x3" hexadecimal,
  // "+2" signed; white space and empty lines before an index are skipped.
  Read(Head(10, 10) + "3 name\n010\n0x3\n+2\n\n  \t 4 more words\n5\n6\n7\n9\n10", TS, &P);
  EXPECT_EQ(MapOf(P), (std::vector<int>{2, 7, 2, 1, 3, 4, 5, 6, 8, 9}));
  ExpectConsistent(TS, P);
}

TEST_F(ReadPartitioningTest, ManyLinesInEveryFormGiveTheRecordOfOneMoveALine) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  constexpr int kVectors = 40000;
  constexpr int kPartitions = 7;
  std::vector<vqtest::NodeSpec> nodes;
  for (int i = 0; i < kVectors; ++i) {
    nodes.push_back({{static_cast<int>(random() % 255), static_cast<int>(random() % 255)},
                     static_cast<int>(random() % 9)});
  }
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 2, 1, nodes);
  const char* const forms[] = {"%d\n",      "0x%x\n", "0%o\n",  "+%d\n", "  %d\n",
                               "%d name\n", "%d\r\n", "\n%d\n", "%d\t\n"};
  std::string text = Head(kPartitions, kVectors);
  Partitioning expected;
  CreateNewPartitioning(&expected, &TS, kPartitions);
  for (int i = 0; i < kVectors; ++i) {
    const int index = 1 + static_cast<int>(random() % kPartitions);
    char line[32];
    std::snprintf(line, sizeof line, forms[random() % 9], index);
    text += line;
    ChangePartition(&TS, &expected, index - 1, i);
  }
  Partitioning P;
  Read(text, TS, &P);
  vqtest::ExpectSamePartitioning(expected, P);
}

TEST_F(ReadPartitioningTest, DescriptionLine) {
  Codebook TS;
  PlainSet(&TS, 2);
  Partitioning P;
  Read(Head(2, 2, "k-means, 20 iterations") + "1\n2\n", TS, &P);
  EXPECT_STREQ(P.GenerationMethod, "k-means, 20 iterations");
  EXPECT_EQ(MapOf(P), (std::vector<int>{0, 1}));
}

TEST_F(ReadPartitioningTest, LeadingBlanksOfTheDescriptionAreLost) {
  Codebook TS;
  PlainSet(&TS, 1);
  Partitioning P;
  // The white space after the size belongs to the size's "%i\n".
  Read(Head(1, 1, "   \t  split") + "1\n", TS, &P);
  EXPECT_STREQ(P.GenerationMethod, "split");
}

TEST_F(ReadPartitioningTest, LongDescriptionKeepsItsFirst79Characters) {
  Codebook TS;
  PlainSet(&TS, 1);
  Partitioning P;
  Read(Head(1, 1, std::string(79, 'a') + "bbb") + "1\n", TS, &P);
  EXPECT_EQ(std::string(P.GenerationMethod), std::string(79, 'a'));
  EXPECT_EQ(P.Map[0], 0);
}

TEST_F(ReadPartitioningTest, DescriptionBeginningWithMinusIsTakenForTheSeparator) {
  Codebook TS;
  PlainSet(&TS, 2);
  Partitioning P;
  // The minus signs and the blank after them are taken for the separator,
  // so the first index is the "2" inside that line.
  Read("VQ PARTITIONING 2.0\n2\n2\n-- 2\n1\n", TS, &P);
  EXPECT_STREQ(P.GenerationMethod, "");
  EXPECT_EQ(MapOf(P), (std::vector<int>{1, 0}));
}

TEST_F(ReadPartitioningDeathTest, DescriptionBeginningWithMinusBeforeTheSeparator) {
  Codebook TS;
  PlainSet(&TS, 2);
  Partitioning P;
  EXPECT_FATAL(Read(Head(2, 2, "-fast") + "1\n2\n", TS, &P), "ERROR reading partitioning.\n");
}

TEST_F(ReadPartitioningTest, TheHeaderTextIsNotExamined) {
  Codebook TS;
  PlainSet(&TS, 1);
  Partitioning P;
  Read("anything at all\n1\n1\n" + kSeparator + "\n1\n", TS, &P);
  EXPECT_STREQ(P.Versionstr, "VQ PARTITIONING 2.0");
}

TEST_F(ReadPartitioningTest, EmptyTrainingSetTakesOnePartition) {
  Codebook TS;
  PlainSet(&TS, 0);
  Partitioning P;
  Read(Head(1, 0), TS, &P);
  EXPECT_EQ(P.PartitionCount, 1);
  EXPECT_EQ(P.First[0], -1);
}

TEST_F(ReadPartitioningDeathTest, IndexOutsideThePartitions) {
  Codebook TS;
  PlainSet(&TS, 3);
  Partitioning P;
  EXPECT_FATAL(Read(Head(3, 3) + "1\n0\n1\n", TS, &P),
               "ERROR: Invalid partition index (0) found.\n");
  EXPECT_FATAL(Read(Head(3, 3) + "1\n2\n4\n", TS, &P),
               "ERROR: Invalid partition index (4) found.\n");
  EXPECT_FATAL(Read(Head(3, 3) + "-1\n", TS, &P), "ERROR: Invalid partition index (-1) found.\n");
  // Beyond the int range the value is clamped.
  EXPECT_FATAL(Read(Head(3, 3) + "99999999999\n", TS, &P),
               "ERROR: Invalid partition index (2147483647) found.\n");
}

TEST_F(ReadPartitioningDeathTest, IndexThatIsNotANumber) {
  Codebook TS;
  PlainSet(&TS, 3);
  Partitioning P;
  EXPECT_FATAL(Read(Head(3, 3) + "1\nx\n1\n", TS, &P), "ERROR reading partitioning.\n");
  EXPECT_FATAL(Read(Head(3, 3) + "1\n-\n1\n", TS, &P), "ERROR reading partitioning.\n");
  // Too few lines: the file ends where an index should be.
  EXPECT_FATAL(Read(Head(3, 3) + "1\n2\n", TS, &P), "ERROR reading partitioning.\n");
  // The name of line 2 is skipped with the rest of the line, so a name
  // never stands in for a missing index.
  EXPECT_FATAL(Read(Head(3, 3) + "1 2 3\n", TS, &P), "ERROR reading partitioning.\n");
}

TEST_F(ReadPartitioningDeathTest, CountsThatAreNotNumbers) {
  Codebook TS;
  PlainSet(&TS, 3);
  Partitioning P;
  EXPECT_FATAL(Read("VQ PARTITIONING 2.0\nthree\n3\n" + kSeparator + "\n1\n1\n1\n", TS, &P),
               "ERROR reading partitioning.\n");
  EXPECT_FATAL(Read("VQ PARTITIONING 2.0\n3\n\n" + kSeparator + "\n1\n1\n1\n", TS, &P),
               "ERROR reading partitioning.\n");
  EXPECT_FATAL(Read("VQ PARTITIONING 2.0\n", TS, &P), "ERROR reading partitioning.\n");
}

TEST_F(ReadPartitioningDeathTest, PartitionCountBelowOneOrBeyondMemory) {
  Codebook TS;
  PlainSet(&TS, 3);
  Partitioning P;
  EXPECT_FATAL(Read(Head(0, 3) + "1\n1\n1\n", TS, &P),
               "ERROR: Invalid number of partitions (0).\n");
  EXPECT_FATAL(Read(Head(-2, 3) + "1\n1\n1\n", TS, &P),
               "ERROR: Invalid number of partitions (-2).\n");
  // A count no machine here can hold is refused before anything of its size
  // is allocated, so the run ends at once.
  EXPECT_FATAL(Read(Head(2000000000, 3) + "1\n1\n1\n", TS, &P),
               "ERROR: Not enough memory for the partitioning.\n");
}

TEST_F(ReadPartitioningTest, MorePartitionsThanVectorsReadChangeAndWriteBack) {
  Codebook TS;
  PlainSet(&TS, 5);
  Partitioning P;
  Read(Head(7, 5) + "1\n7\n1\n2\n7\n", TS, &P);
  EXPECT_EQ(P.PartitionCount, 7);
  EXPECT_EQ(MapOf(P), (std::vector<int>{0, 6, 0, 1, 6}));
  for (int k = 2; k < 6; ++k) EXPECT_EQ(P.First[k], -1);
  ExpectConsistent(TS, P);

  ChangePartition(&TS, &P, 4, 1);
  IncreaseNumberOfPartitions(&P, 9);
  ChangePartition(&TS, &P, 8, 0);
  ExpectConsistent(TS, P);
  WritePartitioning(path_.c_str(), &P, &TS, 1);
  Partitioning back;
  ReadPartitioning(path_.c_str(), &back, &TS);
  EXPECT_EQ(back.PartitionCount, 9);
  EXPECT_EQ(MapOf(back), (std::vector<int>{8, 4, 0, 1, 6}));
  ExpectConsistent(TS, back);

  // An empty training set takes any count as well.
  Codebook empty;
  PlainSet(&empty, 0);
  Partitioning none;
  Read(Head(2, 0), empty, &none);
  EXPECT_EQ(none.PartitionCount, 2);
  ExpectConsistent(empty, none);
}

TEST_F(ReadPartitioningDeathTest, PartitioningOfAnotherTrainingSet) {
  Codebook TS;
  PlainSet(&TS, 3);
  Partitioning P;
  EXPECT_FATAL(Read(Head(2, 4) + "1\n1\n1\n1\n", TS, &P),
               "ERROR: Partitioning is not for this training set (4 != 3).\n");
  EXPECT_FATAL(Read(Head(2, 2) + "1\n1\n", TS, &P),
               "ERROR: Partitioning is not for this training set (2 != 3).\n");
  // The set size is checked before the count is looked at or any memory taken.
  EXPECT_FATAL(Read(Head(2000000000, 4), TS, &P),
               "ERROR: Partitioning is not for this training set (4 != 3).\n");
  EXPECT_FATAL(Read(Head(0, 4), TS, &P),
               "ERROR: Partitioning is not for this training set (4 != 3).\n");
}

TEST_F(ReadPartitioningDeathTest, MissingOrEmptyHeadLines) {
  Codebook TS;
  PlainSet(&TS, 1);
  Partitioning P;
  EXPECT_FATAL(Read("", TS, &P), "ERROR: empty header (NULL)\n");
  EXPECT_FATAL(
      Read(std::string("\0VQ PARTITIONING 2.0\n1\n1\n", 24) + kSeparator + "\n1\n", TS, &P),
      "ERROR: empty header (0x00)\n");
  // The description line is read like the header.
  EXPECT_FATAL(Read("VQ PARTITIONING 2.0\n1\n1\n", TS, &P), "ERROR: empty header (NULL)\n");
  EXPECT_FATAL(
      Read("VQ PARTITIONING 2.0\n1\n1\n" + std::string("\0x\n", 3) + kSeparator + "\n1\n", TS, &P),
      "ERROR: empty header (0x00)\n");
}

TEST_F(ReadPartitioningDeathTest, FileThatCannotBeOpened) {
  Codebook TS;
  PlainSet(&TS, 1);
  Partitioning P;
  const std::string missing = dir_.Path("missing.pa");
  EXPECT_FATAL(ReadPartitioning(missing.c_str(), &P, &TS),
               "ERROR: Cannot find the file: " + missing + "\n");
}

TEST_F(ReadPartitioningDeathTest, EveryCutOfAGoodFileFailsCleanlyOrReadsIt) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 1, 1,
           {{{1}, 1, "first"}, {{2}, 1}, {{3}, 2, "x"}, {{4}, 1}, {{5}, 1, "last"}});
  Partitioning written;
  CreateNewPartitioning(&written, &TS, 3);
  std::snprintf(written.GenerationMethod, kTextFieldSize, "method");
  ChangePartition(&TS, &written, 2, 0);
  ChangePartition(&TS, &written, 1, 2);
  ChangePartition(&TS, &written, 2, 4);
  WritePartitioning(path_.c_str(), &written, &TS, 1);
  const std::string good = ReadFileBytes(path_);
  ASSERT_EQ(good, Head(3, 5, "method") + "3 first\n1\n2 x\n1\n3 last\n");

  const std::size_t afterSize = good.find("5\n") + 1;      // the size's digit read
  const std::size_t description = afterSize + 1;           // "method" begins
  const std::size_t lastIndex = good.rfind("3 last") + 1;  // every index read
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    SCOPED_TRACE("cut at " + std::to_string(cut));
    Partitioning P;
    if (cut >= lastIndex) {
      // Only the name or the line end of the last line is missing.
      EXPECT_EXIT(
          {
            Read(good.substr(0, cut), TS, &P);
            std::exit(MapOf(P) == MapOf(written) ? 0 : 1);
          },
          ::testing::ExitedWithCode(0), "^$");
      continue;
    }
    std::string message = "ERROR reading partitioning.\n";
    if (cut == 0 || (cut >= afterSize && cut <= description)) {
      message = "ERROR: empty header (NULL)\n";
    }
    EXPECT_FATAL(Read(good.substr(0, cut), TS, &P), message);
  }
}

TEST_F(WritePartitioningTest, WritesTheHeadAndOneLinePerVector) {
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 2, 1, {{{1, 2}, 1, "ab"}, {{3, 4}, 2}, {{5, 6}, 3, "c d"}});
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  ChangePartition(&TS, &P, 1, 1);
  WritePartitioning(path_.c_str(), &P, &TS, 1);
  EXPECT_EQ(ReadFileBytes(path_),
            "VQ PARTITIONING 2.0\n2\n3\n" + kSeparator + "\n1 ab\n2\n1 c d\n");

  std::snprintf(P.GenerationMethod, kTextFieldSize, "by hand");
  WritePartitioning(path_.c_str(), &P, &TS, 1);
  EXPECT_EQ(ReadFileBytes(path_),
            "VQ PARTITIONING 2.0\n2\n3\nby hand\n" + kSeparator + "\n1 ab\n2\n1 c d\n");
}

TEST_F(WritePartitioningTest, RoundTripKeepsCountSizeDescriptionAndMap) {
  std::vector<vqtest::NodeSpec> nodes;
  for (int i = 0; i < 40; ++i) {
    std::string name;
    if (i % 4 == 0) name.append("n").append(std::to_string(i));
    nodes.push_back({{i, -i}, i % 3, name});
  }
  Codebook TS;
  BuildSet(&TS, kTrainingSetFile, 2, 1, nodes);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 12);
  std::snprintf(P.GenerationMethod, kTextFieldSize, "round trip");
  for (int i = 0; i < 40; ++i) ChangePartition(&TS, &P, (i * 7) % 12, i);
  WritePartitioning(path_.c_str(), &P, &TS, 1);

  Partitioning back;
  ReadPartitioning(path_.c_str(), &back, &TS);
  EXPECT_EQ(back.PartitionCount, 12);
  EXPECT_EQ(back.TSsize, 40);
  EXPECT_STREQ(back.GenerationMethod, "round trip");
  EXPECT_EQ(MapOf(back), MapOf(P));
  ExpectConsistent(TS, back);
}

TEST_F(WritePartitioningTest, ExistingFileIsKeptWithoutOverwrite) {
  Codebook TS;
  PlainSet(&TS, 1);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 1);
  WriteFileBytes(path_, "keep me");
  ::testing::internal::CaptureStderr();
  WritePartitioning(path_.c_str(), &P, &TS, 0);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "ERROR: File already exists: " + path_);
  EXPECT_EQ(ReadFileBytes(path_), "keep me");
}

TEST_F(WritePartitioningDeathTest, VectorInNoPartitionIsRefusedBeforeTheFileIsOpened) {
  Codebook TS;
  PlainSet(&TS, 3);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 1);
  ChangePartition(&TS, &P, -1, 2);
  ChangePartition(&TS, &P, -1, 1);
  // No reader would accept the file; an old one stays, a new one is not made.
  const std::string message =
      "ERROR: Training vector 1 is in no partition; a partitioning file must place every "
      "vector.\n";
  WriteFileBytes(path_, "old");
  EXPECT_FATAL(WritePartitioning(path_.c_str(), &P, &TS, 1), message);
  EXPECT_EQ(ReadFileBytes(path_), "old");
  EXPECT_FATAL(WritePartitioning(dir_.Path("new.pa").c_str(), &P, &TS, 0), message);
  EXPECT_EQ(vqtest::DirectoryNames(dir_.path()), std::vector<std::string>{"p.pa"});
}

TEST_F(WritePartitioningDeathTest, FailuresKeepTheOldFile) {
  Codebook TS;
  PlainSet(&TS, 3);
  Codebook other;
  PlainSet(&other, 2);
  Partitioning P;
  CreateNewPartitioning(&P, &TS, 2);
  WriteFileBytes(path_, "old");
  EXPECT_FATAL(WritePartitioning(path_.c_str(), &P, &other, 1),
               "ERROR: Partitioning is not for this training set (3 != 2).\n");
  Codebook large;
  PlainSet(&large, 300);
  Partitioning all;
  CreateNewPartitioning(&all, &large, 1);
  // Room for the message that the test reads back, not for the file.
  EXPECT_FATAL(
      {
        vqtest::LimitFileSize(512);
        WritePartitioning(path_.c_str(), &all, &large, 1);
      },
      "ERROR: unable to write to file. " + path_ + ": File too large\n");
  EXPECT_EQ(ReadFileBytes(path_), "old");
  EXPECT_EQ(vqtest::DirectoryNames(dir_.path()), std::vector<std::string>{"p.pa"});
}

}  // namespace
