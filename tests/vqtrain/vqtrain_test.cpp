// Runs the built vqtrain and checks its standard output, standard error,
// exit status and files byte for byte, and what vqpeek makes of its files.
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "set_builder.h"
#include "test_support.h"
#include "vqpeek/cb.h"

namespace {

using vqtest::NodeSpec;
using vqtest::ReadFileBytes;
using vqtest::RunVqtrain;
using vqtest::TempDir;

const std::string kBlocks = std::string(VQPEEK_SOURCE_DIR) + "/examples/blocks.ts";

void ExpectRefused(const std::vector<std::string>& args, const std::string& err) {
  const vqtest::RunResult result = RunVqtrain(args);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, err);
  EXPECT_EQ(result.status, 255);
}

TEST(VqtrainCommandLine, HelpVersionAndUsageErrors) {
  const vqtest::RunResult help = RunVqtrain({"-k", "x", "--help"});
  vqtest::ExpectGolden(help.out, "vqtrain/golden/usage.txt");
  EXPECT_EQ(help.status, 0);
  const vqtest::RunResult version = RunVqtrain({"--version"});
  EXPECT_EQ(version.out, "vqtrain " VQPEEK_VERSION_STRING "\n");
  EXPECT_EQ(version.status, 0);
  ExpectRefused({}, help.out);
  ExpectRefused({"-k", "4", "a"}, help.out);
  const std::string hint = "Try 'vqtrain --help' for more.\n";
  ExpectRefused({"-x", "a", "b"}, "ERROR: Unknown option -x.\n" + hint);
  ExpectRefused({"a", "b", "-k"}, "ERROR: The option -k needs a value.\n" + hint);
  ExpectRefused({"-k0", "a", "b"}, "ERROR: -k needs a codebook size of 1 or more, not 0.\n" + hint);
  ExpectRefused({"-k", "3x", "a", "b"},
                "ERROR: -k needs a codebook size of 1 or more, not 3x.\n" + hint);
  ExpectRefused({"-k", "3", "-t", "-1", "a", "b"},
                "ERROR: -t needs a threshold of 0 or more, not -1.\n" + hint);
  ExpectRefused({"-k", "3", "-j", "0", "a", "b"},
                "ERROR: -j needs 1 to 4096 threads, not 0.\n" + hint);
  ExpectRefused({"a", "b"},
                "ERROR: Give the codebook size with -k, or an initial codebook with -i.\n" + hint);
  ExpectRefused({"-k", "3", "-i", "c", "a", "b"},
                "ERROR: -k and -i exclude each other: give one of them.\n" + hint);
}

// Trains blocks.ts; the codebook and partitioning are checked against
// golden files, and vqpeek shows the same partitions and error for the
// codebook as for the partitioning (the training ended where nothing moved).
TEST(Vqtrain, ItsFilesAreWhatVqpeekReadsItsErrorFrom) {
  TempDir dir;
  const vqtest::RunResult run =
      RunVqtrain({"-k", "8", "-s", "7", kBlocks, dir.Path("b.cb"), dir.Path("b.pa")});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "");
  vqtest::ExpectGolden(ReadFileBytes(dir.Path("b.cb")), "vqtrain/golden/blocks_k8.cb");
  vqtest::ExpectGolden(ReadFileBytes(dir.Path("b.pa")), "vqtrain/golden/blocks_k8.pa");
  const vqtest::RunResult withCodebook =
      vqtest::RunVqpeek({"-Q0", "-S", kBlocks, dir.Path("b.cb")});
  const vqtest::RunResult withPartitioning =
      vqtest::RunVqpeek({"-Q0", "-S", kBlocks, dir.Path("b.pa")});
  EXPECT_EQ(withCodebook.out, withPartitioning.out);
  // The views group the vectors alike (the first partition lists its
  // members in the other order), with the code vectors as the centroids.
  auto sortedLines = [](const std::string& text) {
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < text.size();) {
      const std::size_t end = text.find('\n', at);
      lines.push_back(text.substr(at, end - at));
      at = end + 1;
    }
    std::sort(lines.begin(), lines.end());
    return lines;
  };
  EXPECT_EQ(sortedLines(vqtest::RunVqpeek({kBlocks, dir.Path("b.cb")}).out),
            sortedLines(vqtest::RunVqpeek({kBlocks, dir.Path("b.pa")}).out));
  // The last progress line's error is the one vqpeek prints.
  const std::string last = run.err.substr(run.err.rfind("Iteration"));
  const std::string mse = last.substr(last.find("MSE per element ") + 16, 7);
  EXPECT_NE(withCodebook.out.find("MSE per element:   " + mse + "\n"), std::string::npos)
      << withCodebook.out << " vs " << last;
  EXPECT_EQ(run.err.substr(run.err.rfind('\n', run.err.size() - 2) + 1),
            "Stopped after 4 updates: the distortion fell by no more than 0.0001 of itself.\n");
  // -q: nothing on success; a pipe as the output is written once, as it is.
  const vqtest::RunResult quiet = vqtest::RunCommand(
      {"/bin/sh", "-c",
       "mkfifo pipe && { cat pipe > piped & } && \"$0\" -q -k8 -s7 \"$1\" pipe && wait",
       VQTRAIN_BINARY, kBlocks},
      dir.path());
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.status, 0);
  EXPECT_EQ(ReadFileBytes(dir.Path("piped")), ReadFileBytes(dir.Path("b.cb")));
}

TEST(Vqtrain, TheSameFilesOnAnyThreadsHeldOrStreamed) {
  TempDir dir;
  std::mt19937 random(5);
  std::vector<NodeSpec> vectors;
  for (int i = 0; i < 3000; ++i) {
    vectors.push_back({{static_cast<int>(random() % 4), static_cast<int>(random() % 4),
                        static_cast<int>(random() % 300)},
                       static_cast<int>(random() % 3),
                       i % 7 == 0 ? "n" + std::to_string(i) : ""});
  }
  vqtest::WriteSet(dir.Path("set.ts"), kTrainingSetFile, 3, 1, vectors, 2);
  // Code vectors no training vector is near are refilled.
  std::vector<NodeSpec> codes = {{{0, 0, 0}}, {{3, 3, 299}}, {{60000, 0, 0}}, {{0, 60000, 9}}};
  for (int k = 0; k < 12; ++k) codes.push_back({{k % 4, k % 3, k * 20}});
  vqtest::WriteSet(dir.Path("init.cb"), kCodebookFile, 3, 1, codes, 2);
  std::string first;
  for (const std::vector<std::string>& how :
       {std::vector<std::string>{"-j1"}, {"-j3"}, {"-j3", "--stream"}, {"--stream", "-j1"}}) {
    std::vector<std::string> args = how;
    args.insert(args.end(), {"-q", "-I", "30", "-t", "0", "-i", dir.Path("init"), dir.Path("set"),
                             dir.Path("out.cb"), dir.Path("out.pa")});
    const vqtest::RunResult run = RunVqtrain(args);
    ASSERT_EQ(run.status, 0) << run.err;
    const std::string files = ReadFileBytes(dir.Path("out.cb")) + ReadFileBytes(dir.Path("out.pa"));
    if (first.empty()) first = files;
    EXPECT_EQ(files, first) << how[0] << " " << how[1];
  }
}

// The set and the initial codebook are found and read as vqpeek finds
// them: compressed files under the plain name, standard input.
TEST(Vqtrain, ReadsCompressedFilesAndStandardInput) {
  TempDir dir;
  ASSERT_EQ(RunVqtrain({"-q", "-k8", "-s7", kBlocks, dir.Path("plain.cb")}).status, 0);
  const std::string plain = ReadFileBytes(dir.Path("plain.cb"));
  vqtest::WriteFileBytes(dir.Path("set.ts.zst"),
                         vqtest::CompressWith("zstd", ReadFileBytes(kBlocks)));
  vqtest::WriteFileBytes(dir.Path("init.cb.gz"), vqtest::CompressWith("gzip", plain));
  const vqtest::RunResult compressed =
      RunVqtrain({"-q", "-k8", "-s7", dir.Path("set"), dir.Path("a.cb")});
  ASSERT_EQ(compressed.status, 0) << compressed.err;
  EXPECT_EQ(ReadFileBytes(dir.Path("a.cb")), plain);
  ASSERT_EQ(RunVqtrain({"-q", "-I2", "-i", dir.Path("plain.cb"), kBlocks, dir.Path("b.cb")}).status,
            0);
  const vqtest::RunResult piped = vqtest::RunCommand(
      {"/bin/sh", "-c", "\"$0\" -q -I2 -i init - c.cb < \"$1\"", VQTRAIN_BINARY, kBlocks},
      dir.path());
  ASSERT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(ReadFileBytes(dir.Path("c.cb")), ReadFileBytes(dir.Path("b.cb")));
}

TEST(Vqtrain, RefusesWithNothingWritten) {
  TempDir dir;
  const std::string out = dir.Path("out.cb");
  vqtest::WriteSet(dir.Path("dup.ts"), kTrainingSetFile, 1, 1, {{{1}}, {{1}}, {{2}}});
  ExpectRefused({"-k", "3", dir.Path("dup.ts"), out},
                "ERROR: The training set holds 2 distinct vectors, fewer than the 3 code vectors "
                "asked for.\n");
  ExpectRefused({"-k", "2000000000", kBlocks, out},
                "ERROR: The training set holds 33 vectors, fewer than the 2000000000 code vectors "
                "asked for.\n");
  vqtest::WriteSet(dir.Path("wide.cb"), kCodebookFile, 2, 1, {{{1, 2}}});
  ExpectRefused({"-i", dir.Path("wide.cb"), kBlocks, out},
                "ERROR: The initial codebook's vectors have 2 elements, the training set's 16.\n");
  vqtest::WriteSet(dir.Path("bytes.cb"), kCodebookFile, 4, 4, {{std::vector<int>(16, 1)}}, 2);
  ExpectRefused({"-i", dir.Path("bytes.cb"), kBlocks, out},
                "ERROR: The initial codebook has 2 bytes per element, the training set 1.\n");
  vqtest::WriteSet(dir.Path("zero.ts"), kTrainingSetFile, 1, 1, {{{1}, 0}, {{2}, 0}});
  ExpectRefused({"-k", "1", dir.Path("zero.ts"), out},
                "ERROR: The training set has a total frequency of 0.\n");
  ExpectRefused({"-k", "2", dir.Path("missing"), out},
                "ERROR: Cannot find the training set " + dir.Path("missing") + ".\n");
  ExpectRefused({"-k", "2", std::string(VQPEEK_SOURCE_DIR) + "/examples/blocks.cb", out},
                "ERROR: " + std::string(VQPEEK_SOURCE_DIR) +
                    "/examples/blocks.cb is not a training set file.\n");
  vqtest::WriteFileBytes(dir.Path("set.ts"), ReadFileBytes(kBlocks));
  ExpectRefused(
      {"-k", "2", dir.Path("set"), dir.Path("set.ts")},
      "ERROR: " + dir.Path("set.ts") + " would be written over " + dir.Path("set.ts") + ".\n");
  EXPECT_EQ(ReadFileBytes(dir.Path("set.ts")), ReadFileBytes(kBlocks));
  const vqtest::RunResult unwritable = RunVqtrain({"-k", "2", kBlocks, dir.Path("no/such.cb")});
  EXPECT_EQ(unwritable.status, 255);
  EXPECT_NE(unwritable.err.find("ERROR: Couldn't open the file: " + dir.Path("no/such.cb")),
            std::string::npos);
  EXPECT_EQ(vqtest::DirectoryNames(dir.path()),
            (std::vector<std::string>{"bytes.cb", "dup.ts", "set.ts", "wide.cb", "zero.ts"}));
}

}  // namespace
