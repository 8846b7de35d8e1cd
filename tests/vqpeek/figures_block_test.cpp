// Runs of vqpeek -S: the block of figures in each mode and its place
// between the header block, the entropy line and the listing.
#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "set_builder.h"
#include "test_support.h"

namespace {

using vqtest::NodeSpec;
using vqtest::RunResult;

const std::string kSeparator = "-------------------------------------";

class FiguresRun : public ::testing::Test {
 protected:
  void SetUp() override {
    // The partition view's worked example: (1,2) f1, (10,20) f2, (100,200)
    // f3, (3,4) f1, (11,22) f1; MinValue 0 and MaxValue 255.
    WriteSet(
        "t.ts", kTrainingSetFile,
        {{{1, 2}, 1}, {{10, 20}, 2, "ab"}, {{100, 200}, 3}, {{3, 4}, 1, "xyz"}, {{11, 22}, 1}});
  }
  void WriteSet(const std::string& name, int kind, const std::vector<NodeSpec>& nodes,
                int bytesPerElement = 1, int maxValue = 255) {
    Codebook set;
    vqtest::BuildSet(&set, kind, 2, 1, nodes, bytesPerElement, "", maxValue);
    WriteCodebook(dir_.Path(name).c_str(), &set, 1);
    FreeCodebook(&set);
  }
  void WritePartitions(const std::string& name, int count, const std::vector<int>& labels) {
    std::string text = "VQ PARTITIONING 2.0\n" + std::to_string(count) + "\n" +
                       std::to_string(labels.size()) + "\n" + kSeparator + "\n";
    for (const int label : labels) text += std::to_string(label + 1) + "\n";
    vqtest::WriteFileBytes(dir_.Path(name), text);
  }
  std::string Out(const std::vector<std::string>& args) {
    const RunResult result = vqtest::RunVqpeek(args, dir_.path());
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    return result.out;
  }

  vqtest::TempDir dir_;
};

TEST_F(FiguresRun, HandWorkedFiguresInEachMode) {
  // One file: F = 8; mean vector (335/8, 668/8) = (41.875, 83.5), mean
  // element 62.6875; sum f x^2 - F mean^2 is 30331 - 14028.125 = 16302.875
  // and 121304 - 55778 = 65526, so the variance is 81828.875 / 16.
  EXPECT_EQ(Out({"-Q0", "-S", "t.ts"}),
            "Distinct vectors:  5\n"
            "Mean element:      62.688\n"
            "Variance:          5114.305\n");

  // Codebook (2,3), (105,205): vectors 0, 1, 3, 4 go to the first (size
  // 5), vector 2 to the second (size 3). Errors 2 + 2*353 + 2 + 442 + 3*50
  // = 1302, MSE 1302 / 16 = 81.375; PSNR 10 log10(255^2 / 81.375) = 29.026;
  // entropy rate -(5/8 log2 5/8 + 3/8 log2 3/8) = 0.954.
  WriteSet("c.cb", kCodebookFile, {{{2, 3}, 0}, {{105, 205}, 0}});
  EXPECT_EQ(Out({"-Q0", "-S", "t.ts", "c.cb"}),
            "Partitions:        2 (0 empty)\n"
            "Partition sizes:   3 to 5\n"
            "MSE per element:   81.375\n"
            "PSNR:              29.03 dB\n"
            "Fixed rate:        1.000 bits/vector\n"
            "Entropy rate:      0.954 bits/vector\n");

  // Partitions 1, 1, 3, 3, 1 of three: centroids (8,16) and (76,151), the
  // second empty. Errors 245 + 2*20 + 45 and 3*2977 + 26938, 36199 / 16 =
  // 2262.4375; PSNR 14.585; two halves of the total give 1 bit.
  WritePartitions("p.pa", 3, {0, 0, 2, 2, 0});
  EXPECT_EQ(Out({"-Q0", "-s", "t.ts", "p.pa"}),
            "Partitions:        3 (1 empty)\n"
            "Partition sizes:   4 to 4\n"
            "MSE per element:   2262.438\n"
            "PSNR:              14.59 dB\n"
            "Fixed rate:        1.585 bits/vector\n"
            "Entropy rate:      1.000 bits/vector\n");
}

TEST_F(FiguresRun, ZeroTotalZeroErrorAndTwoByteElements) {
  WriteSet("zero.ts", kTrainingSetFile, {{{1, 2}, 0}, {{1, 2}, 0}});
  EXPECT_EQ(Out({"-Q0", "-S", "zero.ts"}),
            "Distinct vectors:  1\n"
            "Mean element:      n/a\n"
            "Variance:          n/a\n");
  WriteSet("c.cb", kCodebookFile, {{{1, 2}, 0}, {{105, 205}, 0}});
  EXPECT_EQ(Out({"-Q0", "-S", "zero.ts", "c.cb"}),
            "Partitions:        2 (2 empty)\n"
            "Partition sizes:   n/a\n"
            "MSE per element:   n/a\n"
            "PSNR:              n/a\n"
            "Fixed rate:        1.000 bits/vector\n"
            "Entropy rate:      n/a\n");

  WriteSet("same.ts", kTrainingSetFile, {{{1, 2}, 3}, {{105, 205}, 1}});
  EXPECT_EQ(Out({"-Q0", "-S", "same.ts", "c.cb"}),
            "Partitions:        2 (0 empty)\n"
            "Partition sizes:   1 to 3\n"
            "MSE per element:   0.000\n"
            "PSNR:              inf dB\n"
            "Fixed rate:        1.000 bits/vector\n"
            "Entropy rate:      0.811 bits/vector\n");

  // Two-byte elements and a header range of 0: the peak is 65535. Errors
  // 1000^2 + 0 over 2 elements; PSNR 10 log10(65535^2 / 500000) = 39.34.
  WriteSet("wide.ts", kTrainingSetFile, {{{61000, 5}, 1}}, 2, 0);
  WriteSet("wide.cb", kCodebookFile, {{{60000, 5}, 1}}, 2, 0);
  EXPECT_EQ(Out({"-Q0", "-S", "wide.ts", "wide.cb"}),
            "Partitions:        1 (0 empty)\n"
            "Partition sizes:   1 to 1\n"
            "MSE per element:   500000.000\n"
            "PSNR:              39.34 dB\n"
            "Fixed rate:        0.000 bits/vector\n"
            "Entropy rate:      0.000 bits/vector\n");
}

TEST_F(FiguresRun, BlockFollowsTheHeaderAndEntropyAtEveryQuietLevel) {
  const std::string block = Out({"-Q0", "-S", "t.ts"});
  const std::string entropy = Out({"-Q0", "-E", "t.ts"});
  EXPECT_EQ(Out({"-Q0", "-E", "-S", "t.ts"}), entropy + "\n" + block);
  // The header block ends in a blank line of its own; nothing else moves.
  const std::string header = Out({"-Q1", "t.ts"});
  EXPECT_EQ(Out({"-Q1", "-S", "t.ts"}), header + block);
  EXPECT_EQ(Out({"-Q1", "-S", "-E", "t.ts"}), header + entropy + "\n" + block);
  const std::string listing = Out({"-E", "t.ts"});
  const std::string withBlock = Out({"-E", "-S", "t.ts"});
  EXPECT_EQ(withBlock, header + entropy + "\n" + block + listing.substr((header + entropy).size()));
}

TEST(FiguresExamples, EachModeOnTheBundledExamplesAsTheReadmeShowsThem) {
  const std::string readme = vqtest::ReadFileBytes(std::string(VQPEEK_SOURCE_DIR) + "/README.md");
  std::string out;
  for (const std::string second : {"", " examples/blocks.cb", " examples/blocks.pa"}) {
    std::vector<std::string> args = {"-Q0", "-S", "examples/blocks.ts"};
    if (!second.empty()) args.push_back(second.substr(1));
    const RunResult result = vqtest::RunVqpeek(args, VQPEEK_SOURCE_DIR);
    EXPECT_EQ(result.status, 0);
    out += result.out + "\n";
    if (second.find(".pa") != std::string::npos) continue;
    const std::string session =
        "$ build/vqpeek/vqpeek -Q0 -S examples/blocks.ts" + second + "\n" + result.out;
    EXPECT_NE(readme.find(session), std::string::npos) << "README.md does not show " << session;
  }
  vqtest::ExpectGolden(out, "vqpeek/golden/figures_examples.txt");
}

// --- The figures against the partition view's own listing ---------------------

struct Listed {
  std::vector<std::int64_t> sizes;
  std::int64_t error = 0;
};

// Sizes and error from the view of a set without names: "Partition p:",
// "   centroid: r... (f)" and "   p  x... (f)" lines.
Listed FromView(const std::string& view, int dim) {
  Listed listed;
  std::istringstream lines(view);
  std::string line;
  std::vector<std::int64_t> representative;
  while (std::getline(lines, line)) {
    if (line.rfind("Partition ", 0) == 0) {
      listed.sizes.push_back(0);
      continue;
    }
    const bool centroid = line.rfind("   centroid:", 0) == 0;
    if (!centroid && (line.size() < 3 || line.compare(0, 3, "   ") != 0)) continue;
    std::istringstream fields(centroid ? line.substr(12) : line);
    std::int64_t number = 0;
    std::vector<std::int64_t> row;
    if (!centroid) fields >> number;  // the partition's number
    for (int j = 0; j < dim && fields >> number; ++j) row.push_back(number);
    char open = 0;
    std::int64_t freq = 0;
    fields >> open >> freq;
    if (centroid) {
      representative = row;
      continue;
    }
    listed.sizes.back() += freq;
    for (int j = 0; j < dim; ++j) {
      const std::int64_t d = row[j] - representative[j];
      listed.error += freq * d * d;
    }
  }
  return listed;
}

std::string Expected(const Listed& listed, int dim) {
  std::int64_t total = 0, smallest = 0, largest = 0;
  int empty = 0;
  for (const std::int64_t size : listed.sizes) {
    total += size;
    if (size == 0) ++empty;
    if (size > 0 && (smallest == 0 || size < smallest)) smallest = size;
    if (size > largest) largest = size;
  }
  const double mse = static_cast<double>(listed.error) / (static_cast<double>(total) * dim);
  double entropy = 0;
  for (const std::int64_t size : listed.sizes) {
    const double p = static_cast<double>(size) / static_cast<double>(total);
    if (size > 0) entropy -= p * std::log2(p);
  }
  char text[512];
  std::snprintf(text, sizeof text,
                "Partitions:        %zu (%d empty)\nPartition sizes:   %lld to %lld\n"
                "MSE per element:   %.3f\nPSNR:              %.2f dB\n"
                "Fixed rate:        %.3f bits/vector\nEntropy rate:      %.3f bits/vector\n",
                listed.sizes.size(), empty, static_cast<long long>(smallest),
                static_cast<long long>(largest), mse, 10 * std::log10(255.0 * 255.0 / mse),
                std::log2(static_cast<double>(listed.sizes.size())), entropy);
  return text;
}

TEST_F(FiguresRun, RandomSetsAgreeWithTheListedPartitions) {
  for (unsigned seed = 1; seed <= 6; ++seed) {
    std::mt19937 random(seed);
    SCOPED_TRACE("seed " + std::to_string(seed));
    const int count = 1 + static_cast<int>(random() % 300);
    const int codes = 1 + static_cast<int>(random() % 12);
    std::vector<NodeSpec> vectors, book;
    std::vector<int> labels;
    for (int i = 0; i < count; ++i) {
      vectors.push_back({{static_cast<int>(random() % 256), static_cast<int>(random() % 256)},
                         static_cast<int>(random() % 5)});
      labels.push_back(static_cast<int>(random() % codes));
    }
    vectors[0].freq = 1;  // a total above 0
    for (int p = 0; p < codes; ++p) {
      book.push_back({{static_cast<int>(random() % 256), static_cast<int>(random() % 256)}});
    }
    WriteSet("r.ts", kTrainingSetFile, vectors);
    WriteSet("r.cb", kCodebookFile, book);
    WritePartitions("r.pa", codes, labels);
    for (const char* second : {"r.cb", "r.pa"}) {
      SCOPED_TRACE(second);
      const std::string view = Out({"r.ts", second});
      EXPECT_EQ(Out({"-Q0", "-S", "r.ts", second}), Expected(FromView(view, 2), 2));
    }
  }
}

}  // namespace
