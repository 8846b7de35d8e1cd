#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "set_builder.h"
#include "test_support.h"
#include "vqpeek/cb.h"
#include "vqpeek/file.h"

namespace {

using ::testing::internal::CaptureStderr;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStderr;
using ::testing::internal::GetCapturedStdout;
using vqtest::BuildSet;
using vqtest::Elements;
using vqtest::NodeSpec;
using vqtest::ReadFileBytes;
using vqtest::TempDir;
using vqtest::WriteFileBytes;
using vqtest::WriteSet;

const std::string kSeparator(37, '-');

// The head of a version-2 file with the given header values.
std::string Head(const std::string& version, const std::vector<int>& values,
                 const std::string& method = "") {
  std::string head = version + "\n";
  for (const int value : values) head += std::to_string(value) + "\n";
  if (!method.empty()) head += method + "\n";
  return head + kSeparator + "\n";
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string text;
  for (const int b : bytes) text += static_cast<char>(b);
  return text;
}

TEST(WriteCodebook, WritesTheDocumentedBytes) {
  TempDir dir;
  WriteSet(dir.Path("one.ts"), kTrainingSetFile, 2, 1, {{{10, 20}, 3, "ab"}});
  EXPECT_EQ(ReadFileBytes(dir.Path("one.ts")),
            Head("VQ TRAINING SET 2.0", {2, 1, 1, 3, 1, 0, 255, 0}) +
                Bytes({0x61, 0x62, 0x00, 0x0A, 0x14, 0x00, 0x00, 0x00, 0x03}));
}

TEST(WriteFlatSet, WritesWhatWriteCodebookWritesFromEveryElementType) {
  TempDir dir;
  const std::vector<NodeSpec> nodes = {{{0, 255, 7, 1}, 3, "a"}, {{200, 0, 0, 9}, -2}};
  Codebook set;
  BuildSet(&set, kCodebookFile, 2, 2, nodes, 1, "LBG");
  WriteCodebook(dir.Path("nodes.cb").c_str(), &set, 1);
  const std::vector<int> wide = {0, 255, 7, 1, 200, 0, 0, 9};
  const std::vector<std::uint8_t> bytes(wide.begin(), wide.end());
  const std::vector<std::uint16_t> shorts(wide.begin(), wide.end());
  const int freqs[] = {3, -2};
  const char* names[] = {"a", nullptr};
  Codebook head;
  BuildSet(&head, kCodebookFile, 2, 2, {}, 1, "LBG");
  head.Booksize = 2;
  WriteFlatSet(dir.Path("1.cb").c_str(), &head, bytes.data(), freqs, names, 1);
  WriteFlatSet(dir.Path("2.cb").c_str(), &head, shorts.data(), freqs, names, 1);
  WriteFlatSet(dir.Path("4.cb").c_str(), &head, wide.data(), freqs, names, 1);
  for (const char* name : {"1.cb", "2.cb", "4.cb"}) {
    EXPECT_EQ(ReadFileBytes(dir.Path(name)), ReadFileBytes(dir.Path("nodes.cb"))) << name;
  }
  EXPECT_EQ(head.TotalFreq, 1);
  // A value beyond the width is refused before the file is touched.
  const std::vector<std::uint16_t> tooBig = {1, 2, 3, 256, 0, 0, 0, 0};
  CaptureStderr();
  WriteFlatSet(dir.Path("1.cb").c_str(), &head, tooBig.data(), freqs, nullptr, 1);
  EXPECT_EQ(GetCapturedStderr(),
            "ERROR: Vector element value is too big (256). Increase bytes/elem ratio.");
  EXPECT_EQ(ReadFileBytes(dir.Path("1.cb")), ReadFileBytes(dir.Path("nodes.cb")));
}

TEST(WriteCodebook, RecomputesTotalFreqAndWritesTheMethodLine) {
  TempDir dir;
  Codebook set;
  BuildSet(&set, kCodebookFile, 1, 1, {{{1}, 2}, {{2}, 5}}, 2, "LBG");
  set.TotalFreq = 99;
  WriteCodebook(dir.Path("c.cb").c_str(), &set, 1);
  EXPECT_EQ(set.TotalFreq, 7);
  EXPECT_EQ(ReadFileBytes(dir.Path("c.cb")),
            Head("VQ CODEBOOK 2.0", {1, 1, 2, 7, 2, 0, 255, 0}, "LBG") +
                Bytes({0, 0, 1, 0, 0, 0, 2, 0, 0, 2, 0, 0, 0, 5}));
}

TEST(WriteCodebook, KeepsAnExistingFileUnlessOverwriting) {
  TempDir dir;
  const std::string path = dir.Path("keep.ts");
  WriteFileBytes(path, "precious");
  Codebook set;
  BuildSet(&set, kTrainingSetFile, 1, 1, {{{1}, 1}});
  CaptureStderr();
  WriteCodebook(path.c_str(), &set, 0);
  EXPECT_EQ(GetCapturedStderr(), "ERROR: File already exists: " + path);
  EXPECT_EQ(ReadFileBytes(path), "precious");
}

TEST(WriteCodebookDeathTest, AFailedWriteKeepsTheOldFile) {
  TempDir dir;
  const std::string path = dir.Path("set.ts");
  WriteFileBytes(path, "old");
  Codebook set;
  BuildSet(&set, kTrainingSetFile, 1, 1, std::vector<NodeSpec>(200, {{1}, 1}));
  // Room for the message that the test reads back, not for the set.
  EXPECT_FATAL(
      {
        vqtest::LimitFileSize(512);
        WriteCodebook(path.c_str(), &set, 1);
      },
      "ERROR: unable to write to file. " + path + ": File too large\n");
  EXPECT_EQ(ReadFileBytes(path), "old");
  EXPECT_EQ(vqtest::DirectoryNames(dir.path()), std::vector<std::string>{"set.ts"});
}

TEST(WriteCodebook, RefusesWhatTheReaderCouldNotTakeBack) {
  TempDir dir;
  const std::string path = dir.Path("bad.ts");
  struct Case {
    std::vector<NodeSpec> nodes;
    int bytesPerElement;
    std::string message;
  };
  const Case cases[] = {
      {{{{256}, 1}}, 1, "ERROR: Vector element value is too big (256). Increase bytes/elem ratio."},
      {{{{65536}, 1}},
       2,
       "ERROR: Vector element value is too big (65536). Increase bytes/elem ratio."},
      {{{{-1}, 1}}, 3, "ERROR: Negative vector element value (-1) needs 4 bytes per element.\n"},
      {{{{1}, 1}}, 0, "ERROR: Invalid bytes per element (0).\n"},
      {{{{1}, 1}}, 5, "ERROR: Invalid bytes per element (5).\n"},
      {{{{1}, 1, std::string(80, 'n')}},
       1,
       "ERROR: Too long vector name:\n" + std::string(80, 'n') + "\nMaximum is 80 characters.\n"},
  };
  for (const Case& c : cases) {
    Codebook set;
    BuildSet(&set, kTrainingSetFile, 1, 1, c.nodes, c.bytesPerElement);
    CaptureStderr();
    WriteCodebook(path.c_str(), &set, 1);
    EXPECT_EQ(GetCapturedStderr(), c.message);
    EXPECT_FALSE(ExistFile(path.c_str()));
  }
}

TEST(ReadCodebook, GivesBackWhatWasWrittenForEveryElementWidth) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  TempDir dir;
  for (int width = 1; width <= 4; ++width) {
    const long long largest = width == 4 ? 2147483647LL : (1LL << (8 * width)) - 1;
    std::uniform_int_distribution<long long> element(width == 4 ? -2147483648LL : 0, largest);
    std::vector<NodeSpec> nodes;
    for (int i = 0; i < 40; ++i) {
      NodeSpec node({});
      for (int e = 0; e < 6; ++e) node.elements.push_back(static_cast<int>(element(random)));
      node.elements[i % 6] = static_cast<int>(i % 2 == 0 ? largest : 0);
      node.freq = static_cast<int>(random() % 1000);
      if (i % 3 == 0) node.name = std::string(1 + i % 79, static_cast<char>('a' + i % 26));
      nodes.push_back(node);
    }
    nodes[1].name = std::string(79, 'z');
    const std::string path = dir.Path("w" + std::to_string(width) + ".cb");
    Codebook written;
    BuildSet(&written, kCodebookFile, 3, 2, nodes, width, std::string(78, 'm'));
    written.MinValue = -5;
    written.MaxValue = 77;
    written.Preprocessing = 3;
    WriteCodebook(path.c_str(), &written, 1);

    Codebook read;
    ReadCodebook(path.c_str(), &read);
    EXPECT_STREQ(read.Versionstr, "VQ CODEBOOK 2.0");
    EXPECT_EQ(read.BlockSizeX, 3);
    EXPECT_EQ(read.BlockSizeY, 2);
    EXPECT_EQ(read.BytesPerElement, width);
    EXPECT_EQ(read.MinValue, -5);
    EXPECT_EQ(read.MaxValue, 77);
    EXPECT_EQ(read.Preprocessing, 3);
    EXPECT_STREQ(read.GenerationMethod, written.GenerationMethod);
    ASSERT_EQ(read.Booksize, 40);
    EXPECT_EQ(read.AllocatedSize, 40);
    EXPECT_EQ(read.TotalFreq, written.TotalFreq);
    for (int i = 0; i < 40; ++i) {
      EXPECT_EQ(Elements(read, i), Elements(written, i)) << "width " << width << " node " << i;
      EXPECT_EQ(read.Book[i].Freq, nodes[i].freq);
      if (nodes[i].name.empty()) {
        EXPECT_EQ(read.Book[i].Name, nullptr);
      } else {
        ASSERT_NE(read.Book[i].Name, nullptr);
        EXPECT_EQ(std::string(read.Book[i].Name.get()), nodes[i].name);
      }
      long long sum = 0;
      for (const int e : nodes[i].elements) sum += e;
      EXPECT_EQ(read.Book[i].VectorMean, static_cast<int>(static_cast<double>(sum) / 6 + 0.5));
    }
  }
}

TEST(ReadCodebook, NarrowFieldsAreNeverNegativeAndMeansRoundTowardZeroPlusHalf) {
  TempDir dir;
  const std::string path = dir.Path("n.ts");
  WriteFileBytes(path, Head("VQ TRAINING SET 2.0", {2, 1, 2, 2, 1, 0, 255, 0}) +
                           Bytes({0, 0xFF, 0xFE, 0, 0, 0, 1}) + Bytes({0}) +
                           Bytes({0, 5, 0, 0, 0, 1}));
  Codebook set;
  ReadCodebook(path.c_str(), &set);
  EXPECT_EQ(Elements(set, 0), (std::vector<int>{255, 254}));
  EXPECT_EQ(set.Book[0].VectorMean, 255);  // 254.5 + 0.5
  EXPECT_EQ(set.Book[1].VectorMean, 3);    // 2.5 rounds up

  // Four-byte elements may be negative: a mean of -2.7 gives -2, -0.4 gives 0.
  const std::string negative = dir.Path("neg.ts");
  WriteSet(negative, kTrainingSetFile, 3, 1, {{{-3, -3, -2}, 1}, {{-1, 0, 0}, 1}}, 4);
  Codebook back;
  ReadCodebook(negative.c_str(), &back);
  EXPECT_EQ(back.Book[0].VectorMean, -2);
  EXPECT_EQ(back.Book[1].VectorMean, 0);
}

TEST(ReadCodebook, ReadsVersionOneFiles) {
  TempDir dir;
  // A codebook: method line always present, 1-byte elements, 2-byte
  // frequencies least significant first, no names.
  const std::string codebook = dir.Path("old.cb");
  WriteFileBytes(codebook, "VQ CODEBOOK 1.0\n2\n1\n2\n7\n11\n12\n13\n200\nold method\n---\n" +
                               Bytes({1, 2, 0x03, 0x01, 250, 4, 5, 0}));
  Codebook cb;
  CaptureStdout();
  ReadCodebook(codebook.c_str(), &cb);
  EXPECT_EQ(GetCapturedStdout(), "");  // no TotalFreq warning for version 1
  EXPECT_EQ(cb.BlockSizeX, 2);
  EXPECT_EQ(cb.BlockSizeY, 1);
  EXPECT_EQ(cb.Booksize, 2);
  EXPECT_EQ(cb.Preprocessing, 7);
  EXPECT_EQ(cb.MaxValue, 200);
  EXPECT_EQ(cb.BytesPerElement, 1);
  EXPECT_EQ(cb.MinValue, 0);
  EXPECT_STREQ(cb.GenerationMethod, "old method");
  EXPECT_EQ(Elements(cb, 0), (std::vector<int>{1, 2}));
  EXPECT_EQ(cb.Book[0].Freq, 259);
  EXPECT_EQ(Elements(cb, 1), (std::vector<int>{250, 4}));
  EXPECT_EQ(cb.Book[1].Freq, 5);
  EXPECT_EQ(cb.TotalFreq, 264);
  EXPECT_EQ(cb.Book[0].Name, nullptr);

  // A training set has no method line; a version digit 0 is version 1 too.
  const std::string set = dir.Path("old.ts");
  WriteFileBytes(set, "VQ TRAINING SET 0.9\n1\n1\n1\n0\n0\n0\n0\n255\n-\n" + Bytes({9, 2, 0}));
  Codebook ts;
  ReadCodebook(set.c_str(), &ts);
  EXPECT_STREQ(ts.Versionstr, "VQ TRAINING SET 0.9");
  EXPECT_STREQ(ts.GenerationMethod, "");
  EXPECT_EQ(Elements(ts, 0), (std::vector<int>{9}));
  EXPECT_EQ(ts.TotalFreq, 2);
}

TEST(WriteCodebook, AVersionOneRecordIsWrittenUnderAVersionTwoLine) {
  TempDir dir;
  const std::string old = dir.Path("old.cb");
  WriteFileBytes(old, "VQ CODEBOOK 1.0\n2\n1\n1\n0\n0\n0\n0\n200\nm\n---\n" + Bytes({7, 8, 5, 0}));
  Codebook cb;
  ReadCodebook(old.c_str(), &cb);
  const std::string renewed = dir.Path("new.cb");
  WriteCodebook(renewed.c_str(), &cb, 1);
  EXPECT_STREQ(cb.Versionstr, "VQ CODEBOOK 1.0");  // the record keeps its line
  EXPECT_EQ(ReadFileBytes(renewed).substr(0, 16), "VQ CODEBOOK 2.0\n");
  Codebook back;
  ReadCodebook(renewed.c_str(), &back);
  EXPECT_EQ(Elements(back, 0), (std::vector<int>{7, 8}));
  EXPECT_EQ(back.Book[0].Freq, 5);
  EXPECT_STREQ(back.GenerationMethod, "m");

  // A line of no known kind cannot be renewed: nothing is written.
  std::snprintf(cb.Versionstr, sizeof cb.Versionstr, "SOME SET 1.0");
  const std::string refused = dir.Path("refused.cb");
  CaptureStderr();
  WriteCodebook(refused.c_str(), &cb, 1);
  EXPECT_EQ(GetCapturedStderr(),
            "ERROR: The header line \"SOME SET 1.0\" does not name a version-2 set file.\n");
  EXPECT_FALSE(ExistFile(refused.c_str()));
}

TEST(ReadCodebook, HeaderIntegersFollowTheIntegerConversion) {
  TempDir dir;
  const std::string path = dir.Path("h.ts");
  // Octal after a leading 0, hexadecimal after 0x, blank lines and blanks
  // between the numbers, and a version digit preceded by other text.
  WriteFileBytes(path, "VQ TRAINING SET v2\n  010\n\n\n0x1\n 1 \n\t3\n1\n-4\n0X1F\n0\n" +
                           kSeparator + "\n" + Bytes({0}) + std::string(8, '\x01') +
                           Bytes({0, 0, 0, 3}));
  Codebook set;
  ReadCodebook(path.c_str(), &set);
  EXPECT_EQ(set.BlockSizeX, 8);
  EXPECT_EQ(set.BlockSizeY, 1);
  EXPECT_EQ(set.MinValue, -4);
  EXPECT_EQ(set.MaxValue, 31);
  EXPECT_EQ(set.TotalFreq, 3);
}

TEST(ReadCodebook, MethodLinesAndTheSeparator) {
  TempDir dir;
  const std::string path = dir.Path("m.cb");
  // An empty method writes no line, and the reader leaves the field empty.
  WriteSet(path, kCodebookFile, 1, 1, {{{4}, 1}}, 1, "");
  Codebook empty;
  ReadCodebook(path.c_str(), &empty);
  EXPECT_STREQ(empty.GenerationMethod, "");

  // Leading blanks of a method are lost (the integer before it skips them).
  WriteSet(path, kCodebookFile, 1, 1, {{{4}, 1}}, 1, "  spaced out");
  Codebook spaced;
  ReadCodebook(path.c_str(), &spaced);
  EXPECT_STREQ(spaced.GenerationMethod, "spaced out");

  // The longest method the field holds (79 characters) comes back whole.
  const std::string longest(79, 'q');
  WriteSet(path, kCodebookFile, 1, 1, {{{4}, 6}}, 1, longest);
  Codebook full;
  ReadCodebook(path.c_str(), &full);
  EXPECT_EQ(std::string(full.GenerationMethod), longest);
  EXPECT_EQ(Elements(full, 0), (std::vector<int>{4}));
  EXPECT_EQ(full.Book[0].Freq, 6);

  // A longer line in a file keeps its first 79 characters; the rest of the
  // line is not taken for the separator or the body.
  WriteFileBytes(path, "VQ CODEBOOK 2.0" + std::string(100, ' ') + "\n1\n1\n1\n6\n1\n0\n255\n0\n" +
                           std::string(120, 'r') + "\n--\n" + Bytes({0, 4, 0, 0, 0, 6}));
  Codebook longer;
  ReadCodebook(path.c_str(), &longer);
  EXPECT_EQ(std::string(longer.GenerationMethod), std::string(79, 'r'));
  EXPECT_EQ(std::string(longer.Versionstr), "VQ CODEBOOK 2.0" + std::string(64, ' '));
  EXPECT_EQ(Elements(longer, 0), (std::vector<int>{4}));

  // Any number of minus signs, even none, makes the separator.
  WriteFileBytes(path,
                 "VQ CODEBOOK 2.0\n1\n1\n1\n6\n1\n0\n255\n0\nm\n\n" + Bytes({0, 4, 0, 0, 0, 6}));
  Codebook bare;
  ReadCodebook(path.c_str(), &bare);
  EXPECT_STREQ(bare.GenerationMethod, "m");
  EXPECT_EQ(bare.Book[0].Freq, 6);
}

TEST(ReadCodebook, WarnsWhenTheHeaderTotalDiffersFromTheSum) {
  TempDir dir;
  const std::string path = dir.Path("w.ts");
  WriteFileBytes(path, Head("VQ TRAINING SET 2.0", {1, 1, 2, 10, 1, 0, 255, 0}) +
                           Bytes({0, 1, 0, 0, 0, 2, 0, 1, 0, 0, 0, 3}));
  Codebook set;
  CaptureStdout();
  ReadCodebook(path.c_str(), &set);
  EXPECT_EQ(GetCapturedStdout(),
            "WARNING: TotalFreq header field = 10 but calculated totalfreq = 5.\n");
  EXPECT_EQ(set.TotalFreq, 5);
}

TEST(ReadCodebook, AnEmptySetHasNoNodes) {
  TempDir dir;
  const std::string path = dir.Path("e.ts");
  WriteSet(path, kTrainingSetFile, 4, 4, {});
  Codebook set;
  ReadCodebook(path.c_str(), &set);
  EXPECT_EQ(set.Booksize, 0);
  EXPECT_EQ(set.TotalFreq, 0);
}

class ReadCodebookDeathTest : public ::testing::Test {
 protected:
  // Writes `bytes` and expects ReadCodebook to end with `message`.
  void ExpectFailure(const std::string& bytes, const std::string& message) {
    const std::string path = dir_.Path("bad.ts");
    WriteFileBytes(path, bytes);
    Codebook set;
    EXPECT_FATAL(ReadCodebook(path.c_str(), &set), message)
        << "file " << testing::PrintToString(bytes);
  }
  TempDir dir_;
};

TEST_F(ReadCodebookDeathTest, ReportsEveryHeaderFault) {
  ExpectFailure("", "ERROR: empty header (NULL)\n");
  ExpectFailure(Bytes({0}) + "VQ TRAINING SET 2.0\n", "ERROR: empty header (0x00)\n");
  ExpectFailure("VQ TRAINING SET\n1\n", "ERROR: No version number found in header.\n");
  ExpectFailure("VQ CODEBOOK 3.0\n", "ERROR: Unknown file version number (3).\n");
  ExpectFailure("VQ CODEBOOK 9\n", "ERROR: Unknown file version number (9).\n");
  // A method line should begin where the file ends, or with a NUL byte.
  ExpectFailure("VQ CODEBOOK 2.0\n1\n1\n1\n1\n1\n0\n255\n0\n", "ERROR: empty header (NULL)\n");
  ExpectFailure("VQ CODEBOOK 2.0\n1\n1\n1\n1\n1\n0\n255\n0\n" + Bytes({0}),
                "ERROR: empty header (0x00)\n");
  ExpectFailure("VQ CODEBOOK 1.0\n1\n1\n1\n1\n1\n0\n0\n255\n", "ERROR: empty header (NULL)\n");
}

TEST_F(ReadCodebookDeathTest, ADirectoryIsAReadErrorNotADamagedFile) {
  ASSERT_EQ(mkdir(dir_.Path("dir.ts").c_str(), 0700), 0);
  Codebook set;
  EXPECT_FATAL(ReadCodebook(dir_.Path("dir.ts").c_str(), &set),
               "ERROR: unable to read from file: Is a directory\n");
  Partitioning partitioning;
  EXPECT_FATAL(ReadPartitioning(dir_.Path("dir.ts").c_str(), &partitioning, &set),
               "ERROR: unable to read from file: Is a directory\n");
}

TEST_F(ReadCodebookDeathTest, RefusesHeadersThatCannotDescribeASet) {
  ExpectFailure("VQ TRAINING SET 2.0\n4\nfour\n",
                "ERROR: Invalid header: a number was expected.\n");
  ExpectFailure("VQ TRAINING SET 2.0\n4\n4\n", "ERROR: Invalid header: a number was expected.\n");
  ExpectFailure(Head("VQ TRAINING SET 2.0", {-2, 1, 0, 0, 1, 0, 255, 0}),
                "ERROR: Invalid block size (-2 x 1).\n");
  ExpectFailure(Head("VQ TRAINING SET 2.0", {4, 0, 0, 0, 1, 0, 255, 0}),
                "ERROR: Invalid block size (4 x 0).\n");
  ExpectFailure(Head("VQ TRAINING SET 2.0", {65536, 65536, 1, 0, 1, 0, 255, 0}),
                "ERROR: Invalid block size (65536 x 65536).\n");
  ExpectFailure(Head("VQ TRAINING SET 2.0", {4, 4, -1, 0, 1, 0, 255, 0}),
                "ERROR: Invalid booksize (-1).\n");
  ExpectFailure(Head("VQ TRAINING SET 2.0", {4, 4, 1, 0, 0, 0, 255, 0}),
                "ERROR: Invalid bytes per element (0).\n");
  ExpectFailure(Head("VQ TRAINING SET 2.0", {4, 4, 1, 0, 9, 0, 255, 0}),
                "ERROR: Invalid bytes per element (9).\n");
}

TEST_F(ReadCodebookDeathTest, RefusesAHeaderThatPromisesMoreThanTheFileHolds) {
  // Two billion vectors in a file of a few dozen bytes: refused at once,
  // without allocating for them.
  ExpectFailure(Head("VQ TRAINING SET 2.0", {4, 4, 2000000000, 0, 1, 0, 255, 0}) + Bytes({0, 1, 2}),
                "ERROR: premature end of file\n");
  ExpectFailure(Head("VQ TRAINING SET 2.0", {46340, 46340, 2, 0, 4, 0, 255, 0}),
                "ERROR: premature end of file\n");
  // Values beyond the int range are clamped, not wrapped.
  ExpectFailure("VQ TRAINING SET 2.0\n1\n1\n99999999999\n0\n1\n0\n255\n0\n" + kSeparator + "\n",
                "ERROR: premature end of file\n");
}

TEST_F(ReadCodebookDeathTest, ReportsTruncatedAndOverlongNames) {
  const std::string head = Head("VQ TRAINING SET 2.0", {1, 1, 1, 1, 1, 0, 255, 0});
  ExpectFailure(
      head + std::string(80, 'x') + Bytes({0, 1, 0, 0, 0, 1}),
      "ERROR: Too long vector name:\n" + std::string(80, 'x') + "\nMaximum is 80 characters.\n");
  ExpectFailure(head + "abcdef", "ERROR: premature end of file\n");
}

TEST_F(ReadCodebookDeathTest, EveryCutOfAGoodFileFailsCleanlyOrReadsTheHead) {
  const std::string path = dir_.Path("good.ts");
  WriteSet(path, kTrainingSetFile, 2, 1, {{{10, 20}, 3, "ab"}, {{1, 2}, 1, ""}, {{7, 8}, 2, "c"}},
           2, "method");
  const std::string good = ReadFileBytes(path);
  const std::size_t bodyStart = good.find(kSeparator) + kSeparator.size() + 1;
  for (std::size_t cut = bodyStart; cut < good.size(); ++cut) {
    ExpectFailure(good.substr(0, cut), "ERROR: premature end of file\n");
  }
  // A cut inside the head ends with a header message, never a crash.
  for (std::size_t cut = 0; cut < bodyStart; ++cut) {
    WriteFileBytes(dir_.Path("cut.ts"), good.substr(0, cut));
    Codebook set;
    EXPECT_EXIT(ReadCodebook(dir_.Path("cut.ts").c_str(), &set), ::testing::ExitedWithCode(255),
                "^ERROR: ")
        << "cut at " << cut;
  }
}

TEST_F(ReadCodebookDeathTest, AMissingFileEndsTheRun) {
  Codebook set;
  EXPECT_FATAL(ReadCodebook(dir_.Path("none.ts").c_str(), &set),
               "ERROR: Cannot find the file: " + dir_.Path("none.ts") + "\n");
}

class DetermineKind : public ::testing::Test {
 protected:
  // Runs the detection in the temporary directory.
  int Detect(std::string& name, int order) {
    char buffer[kTextFieldSize];
    std::snprintf(buffer, sizeof buffer, "%s", name.c_str());
    const int kind = DetermineCBFileTypeConsideringOrder(buffer, order);
    name = buffer;
    return kind;
  }
  void SetUp() override {
    ASSERT_NE(getcwd(previous_, sizeof previous_), nullptr);
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
  }
  void TearDown() override { ASSERT_EQ(chdir(previous_), 0); }

  TempDir dir_;
  char previous_[4096];
};

TEST_F(DetermineKind, TheFirstLineDecidesWhicheverExtensionFoundIt) {
  WriteSet("set.cb", kTrainingSetFile, 1, 1, {{{1}, 1}});
  std::string name = "set";
  EXPECT_EQ(Detect(name, 123), kTrainingSetFile);
  EXPECT_EQ(name, "set.cb");

  WriteFileBytes("book", "VQ CODEBOOK 2.0\n");
  name = "book";
  EXPECT_EQ(Detect(name, 123), kCodebookFile);
  EXPECT_EQ(name, "book");

  WriteFileBytes("parts.pa", "VQ PARTITIONING 2.0\n");
  name = "parts";
  EXPECT_EQ(Detect(name, 123), kPartitioningFile);
  EXPECT_EQ(name, "parts.pa");
}

TEST_F(DetermineKind, FollowsThePriorityOrder) {
  WriteFileBytes("x.ts", "VQ TRAINING SET 2.0\n");
  WriteFileBytes("x.cb", "VQ CODEBOOK 2.0\n");
  std::string name = "x";
  EXPECT_EQ(Detect(name, 123), kTrainingSetFile);
  name = "x";
  EXPECT_EQ(Detect(name, 21), kCodebookFile);
  EXPECT_EQ(name, "x.cb");
  name = "x";
  EXPECT_EQ(Detect(name, 33), kNotRecognized);
  EXPECT_EQ(name, "x");
}

TEST_F(DetermineKind, UnknownOrMissingFilesGiveZero) {
  WriteFileBytes("text.ts", "hello\n");
  WriteFileBytes("empty.ts", "");
  std::string name = "text";
  EXPECT_EQ(Detect(name, 123), kNotRecognized);
  name = "empty";
  EXPECT_EQ(Detect(name, 123), kNotRecognized);
  // A name with an extension is tried unchanged for every digit.
  name = "missing.ts";
  EXPECT_EQ(Detect(name, 123), kNotRecognized);
  EXPECT_EQ(name, "missing.ts");
  // A directory is not a set file.
  ASSERT_EQ(mkdir("dir.ts", 0700), 0);
  name = "dir";
  EXPECT_EQ(Detect(name, 123), kNotRecognized);
}

TEST_F(DetermineKind, AnEmptyNameNamesNoFile) {
  WriteFileBytes(".ts", "VQ TRAINING SET 2.0\n");
  std::string name;
  EXPECT_EQ(Detect(name, 123), kNotRecognized);
  EXPECT_EQ(name, "");
}

TEST_F(DetermineKind, ANameWithoutRoomForTheExtensionIsNotCompleted) {
  const std::string longest(77, 'l');  // 77 + ".ts" does not fit 80 bytes
  WriteFileBytes(longest + ".ts", "VQ TRAINING SET 2.0\n");
  std::string name = longest;
  EXPECT_EQ(Detect(name, 123), kNotRecognized);
  EXPECT_EQ(name, longest);
  const std::string fits(76, 'f');
  WriteFileBytes(fits + ".ts", "VQ TRAINING SET 2.0\n");
  name = fits;
  EXPECT_EQ(Detect(name, 123), kTrainingSetFile);
  EXPECT_EQ(name, fits + ".ts");
}

TEST_F(DetermineKind, CompressedFilesComeAfterEveryPlainName) {
  if (!ReadsCompression(Compression::kGzip) || !ReadsCompression(Compression::kZstd)) {
    GTEST_SKIP() << "a build without zlib or libzstd";
  }
  const std::string set = "VQ TRAINING SET 2.0\n";
  const std::string book = "VQ CODEBOOK 2.0\n";
  // A plain name of any extension before a compressed one.
  WriteFileBytes("set.cb", set);
  WriteFileBytes("set.ts.gz", vqtest::CompressWith("gzip", book));
  std::string name = "set";
  EXPECT_EQ(Detect(name, 123), kTrainingSetFile);
  EXPECT_EQ(name, "set.cb");
  // Then the name itself compressed, then its completions in their order;
  // the content decides, whatever the ending says.
  WriteFileBytes("only.zst", vqtest::CompressWith("zstd", "text\n"));
  WriteFileBytes("only.ts.zst", vqtest::CompressWith("zstd", book));
  WriteFileBytes("only.cb.gz", vqtest::CompressWith("gzip", set));
  name = "only";
  EXPECT_EQ(Detect(name, 123), kCodebookFile);
  EXPECT_EQ(name, "only.ts.zst");
  WriteFileBytes("bare", vqtest::CompressWith("gzip", book));
  name = "bare";
  EXPECT_EQ(Detect(name, 123), kCodebookFile);
  EXPECT_EQ(name, "bare");
  // A completed name must fit the caller's buffer.
  const std::string longest(73, 'l');
  WriteFileBytes(longest + ".ts.zst", vqtest::CompressWith("zstd", set));
  name = longest;
  EXPECT_EQ(Detect(name, 123), kNotRecognized);
  WriteFileBytes(longest + ".ts.gz", vqtest::CompressWith("gzip", set));
  EXPECT_EQ(Detect(name, 123), kTrainingSetFile);
  EXPECT_EQ(name, longest + ".ts.gz");
}

using DetermineKindDeathTest = DetermineKind;

TEST_F(DetermineKindDeathTest, AGarbledFirstLineOfACompressedFileIsReportedAsDamage) {
  if (!ReadsCompression(Compression::kGzip)) GTEST_SKIP() << "a build without zlib";
  std::string packed = vqtest::CompressWith("gzip", std::string(2000, 'x'));
  // The first line decompresses to something else; the checksum at the
  // end tells why.
  packed[12] ^= 0x10;
  WriteFileBytes("garbled.ts", packed);
  std::string name = "garbled";
  EXPECT_EXIT(Detect(name, 123), ::testing::ExitedWithCode(255),
              "^ERROR: The compressed file garbled.ts is damaged: ");
}

TEST_F(DetermineKindDeathTest, RefusesDigitsOtherThanOneToThree) {
  for (const int order : {0, -1, 4, 124, 1203}) {
    std::string name = "nothing";
    EXPECT_FATAL(Detect(name, order),
                 "ERROR: invalid priority order in DetermineCBFileTypeConsideringOrder: " +
                     std::to_string(order) + "\n");
  }
}

}  // namespace

namespace {

// The header fields, then every vector's name, elements and frequency.
std::string DescribeHead(const Codebook& head) {
  std::string text = head.Versionstr;
  text += '|';
  text += head.GenerationMethod;
  for (const int field : {head.BlockSizeX, head.BlockSizeY, head.Booksize, head.TotalFreq,
                          head.BytesPerElement, head.MinValue, head.MaxValue, head.Preprocessing}) {
    text += '|';
    text += std::to_string(field);
  }
  return text;
}

std::string DescribeVector(const char* name, const int* elements, int dim, int freq) {
  std::string text = "\n";
  text += name != nullptr ? name : "(none)";
  text += ':';
  for (int e = 0; e < dim; ++e) {
    text += ' ';
    text += std::to_string(elements[e]);
  }
  text += " f";
  return text += std::to_string(freq);
}

std::string ReadAsNodes(const std::string& path) {
  Codebook set;
  ReadCodebook(path.c_str(), &set);
  std::string text = DescribeHead(set);
  for (int i = 0; i < set.Booksize; ++i) {
    const CodebookNode& node = set.Book[i];
    text += DescribeVector(node.Name.get(), node.Vector.get(), VectorDimension(set), node.Freq);
  }
  return text;
}

std::string ReadFlat(const std::string& path) {
  FlatSet set;
  ReadFlatSet(path.c_str(), &set);
  std::string text = DescribeHead(set.Header);
  const int dim = VectorDimension(set.Header);
  for (int i = 0; i < set.Header.Booksize; ++i) {
    text +=
        DescribeVector(set.Names != nullptr ? set.Names[i].get() : nullptr,
                       set.Elements.get() + static_cast<std::size_t>(i) * dim, dim, set.Freqs[i]);
  }
  return text;
}

std::string messages;
void CollectMessage(int, const char* text) { messages += text; }
[[noreturn]] void ThrowStatus(int status) { throw status; }

// What a reader makes of a file, its messages included, with a fatal exit
// turned into a return.
std::string Outcome(std::string (*read)(const std::string&), const std::string& path) {
  messages.clear();
  SetExitHandler(ThrowStatus);
  SetMessageHandler(CollectMessage);
  std::string text;
  try {
    text = read(path);
  } catch (int status) {
    text = "exit " + std::to_string(status);
  }
  SetMessageHandler(nullptr);
  SetExitHandler(nullptr);
  return text + "\n" + messages;
}

TEST(ReadFlatSet, ReadsWhatReadCodebookReadsAndFailsWhereItFails) {
  TempDir dir;
  std::vector<std::string> files = {VQPEEK_SOURCE_DIR "/examples/old.ts",
                                    VQPEEK_SOURCE_DIR "/examples/blocks.ts", dir.Path("none.ts")};
  for (int width = 1; width <= 4; ++width) {
    files.push_back(dir.Path("w" + std::to_string(width) + ".cb"));
    WriteSet(files.back(), kCodebookFile, 3, 1,
             {{{1, 255, 0}, 4, "x"}, {{-1, 7, 65535}, 2}, {{9, 9, 9}, 0, std::string(79, 'n')}},
             width, "lbg");
  }
  // Every cut of a named set, and a head whose total is wrong (a warning).
  const std::string good = ReadFileBytes(files[4]);
  for (std::size_t cut = 0; cut <= good.size(); ++cut) {
    files.push_back(dir.Path("cut" + std::to_string(cut)));
    WriteFileBytes(files.back(), good.substr(0, cut));
  }
  files.push_back(dir.Path("total.cb"));
  WriteFileBytes(files.back(),
                 Head("VQ CODEBOOK 2.0", {1, 1, 1, 5, 1, 0, 255, 0}) + Bytes({0, 7, 0, 0, 0, 2}));
  for (const std::string& path : files) {
    EXPECT_EQ(Outcome(ReadFlat, path), Outcome(ReadAsNodes, path)) << path;
  }
}

}  // namespace
