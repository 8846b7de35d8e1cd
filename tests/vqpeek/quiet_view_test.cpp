// Runs at quiet levels 0 and 1 never hold the set; runs at level 2 do. On
// random files, sound or cut at any point of their records, the quiet runs
// must print what the level-2 run prints up to its listing, and fail with
// its message and status. The level-2 runs of the two-file modes, which
// hold the set at its file's width, must print the view of the records
// that the library's loading step makes.
#include <random>
#include <string>
#include <vector>

#include "set_builder.h"
#include "test_support.h"
#include "viewer.h"

namespace {

using vqtest::NodeSpec;
using vqtest::RunResult;

std::vector<NodeSpec> RandomNodes(std::mt19937& random, int count, int dim, int width) {
  std::vector<NodeSpec> nodes;
  for (int i = 0; i < count; ++i) {
    std::vector<int> elements(static_cast<std::size_t>(dim));
    for (int& e : elements)
      e = static_cast<int>(random() % (width == 1 ? 256 : width == 2 ? 65536 : 70000));
    nodes.emplace_back(elements, static_cast<int>(random() % 4),
                       random() % 3 == 0 ? std::string(random() % 5 + 1, 'v') : "");
  }
  return nodes;
}

// The quiet runs of `files` against the level-2 run with -E.
void ExpectQuietRunsAgree(const vqtest::TempDir& dir, const std::vector<std::string>& files) {
  auto run = [&](std::vector<std::string> options) {
    options.insert(options.end(), files.begin(), files.end());
    return vqtest::RunVqpeek(options, dir.path());
  };
  const RunResult full = run({"-E", "-F2"});
  const RunResult quiet = run({"-Q1", "-E"});
  SCOPED_TRACE(files[0] + " " + (files.size() > 1 ? files[1] : "") + "\n" + full.out + full.err);
  EXPECT_EQ(quiet.err, full.err);
  EXPECT_EQ(quiet.status, full.status);
  if (full.status != 0) {
    EXPECT_EQ(quiet.out, full.out);
    return;
  }
  // The level-2 run goes on with a blank line and the listing.
  EXPECT_EQ(full.out.substr(0, quiet.out.size() + 1), quiet.out + "\n");
  // The partitions' figures, of a held set and of a streamed one, come
  // between the header block and the view.
  if (files.size() > 1) {
    const std::string header = run({"-Q1"}).out;
    EXPECT_EQ(run({"-S"}).out, run({"-S", "-Q1"}).out + run({}).out.substr(header.size()));
  }
  // Level 0 leaves out the header block alone: what -Q1 without -E prints
  // after any warning.
  const RunResult headerOnly = run({"-Q1"});
  const RunResult warningOnly = run({"-Q0"});
  EXPECT_EQ(run({"-Q0", "-E"}).out, warningOnly.out + quiet.out.substr(headerOnly.out.size()));
}

TEST(QuietView, AgreesWithTheRunThatHoldsTheSet) {
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  vqtest::TempDir dir;
  for (int width = 1; width <= 4; ++width) {
    const int count = static_cast<int>(random() % 6);
    vqtest::WriteSet(dir.Path("t.ts"), kTrainingSetFile, 2, 1, RandomNodes(random, count, 2, width),
                     width);
    // Codebooks of another dimension, empty, or with more code vectors than
    // the set has vectors (empty partitions).
    vqtest::WriteSet(dir.Path("c.cb"), kCodebookFile, 2, width == 3 ? 2 : 1,
                     RandomNodes(random, width == 2 ? 0 : 7, width == 3 ? 4 : 2, 1));
    std::string partitioning = "VQ PARTITIONING 2.0\n9\n" + std::to_string(count) + "\n-----\n";
    for (int i = 0; i < count; ++i) partitioning += std::to_string(random() % 10) + "\n";
    vqtest::WriteFileBytes(dir.Path("p.pa"), partitioning);
    for (const auto& files : std::vector<std::vector<std::string>>{
             {"t.ts"}, {"t.ts", "c.cb"}, {"t.ts", "p.pa"}, {"c.cb"}}) {
      ExpectQuietRunsAgree(dir, files);
    }
  }
}

// The partition view of the records that the library loads from the two
// files: today's member lists and centroids.
std::string ViewOfRecords(const vqtest::TempDir& dir, const std::string& set,
                          const std::string& second, ViewMode mode, int noBlanks) {
  Codebook TS;
  ReadCodebook(dir.Path(set).c_str(), &TS);
  Codebook representatives;
  Partitioning partitioning;
  LoadPartitionView(mode, dir.Path(second).c_str(), TS, &representatives, &partitioning);
  const SetStatistics stats = ComputeSetStatistics(TS);
  return vqtest::CaptureOutput([&](FILE* out) {
    PrintPartitionView(out, TS, representatives, partitioning, stats, noBlanks);
  });
}

TEST(TwoFileView, AgreesWithTheViewOfTheRecords) {
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  vqtest::TempDir dir;
  const std::string oldSet =
      vqtest::ReadFileBytes(std::string(VQPEEK_SOURCE_DIR) + "/examples/old.ts");
  for (int round = 0; round < 16; ++round) {
    // Every width, with names or without, and a version-1 set.
    const int width = 1 + round % 4;
    const bool versionOne = round % 8 == 7;
    const int dim = versionOne ? 16 : 1 + static_cast<int>(random() % 5);
    const int count = versionOne ? 5 : static_cast<int>(random() % 60);
    std::vector<NodeSpec> nodes = RandomNodes(random, count, dim, width);
    if (round % 3 == 0) {
      for (NodeSpec& node : nodes) node.name.clear();
    }
    if (width == 4) {
      for (NodeSpec& node : nodes) {
        for (int& e : node.elements) e = static_cast<int>(random());  // negative ones too
      }
    }
    if (versionOne) {
      vqtest::WriteFileBytes(dir.Path("t.ts"), oldSet);
    } else {
      vqtest::WriteSet(dir.Path("t.ts"), kTrainingSetFile, dim, 1, nodes, width);
    }
    // More partitions than vectors at times: empty partitions.
    const int partitions = 1 + static_cast<int>(random() % 12);
    std::vector<NodeSpec> codes = RandomNodes(random, partitions, dim, width);
    if (width == 4)
      codes = std::vector<NodeSpec>(nodes.begin(), nodes.begin() + std::min(count, partitions));
    if (codes.empty()) codes = RandomNodes(random, 1, dim, 1);
    vqtest::WriteSet(dir.Path("c.cb"), kCodebookFile, dim, 1, codes, 4);
    std::string labels = "VQ PARTITIONING 2.0\n" + std::to_string(partitions) + "\n" +
                         std::to_string(count) + "\n-----\n";
    for (int i = 0; i < count; ++i) labels += std::to_string(1 + random() % partitions) + "\n";
    vqtest::WriteFileBytes(dir.Path("p.pa"), labels);

    for (const auto& [second, mode] :
         {std::pair<std::string, ViewMode>{"c.cb", ViewTrainingSetAndCodebook},
          {"p.pa", ViewTrainingSetAndPartitioning}}) {
      SCOPED_TRACE("round " + std::to_string(round) + ", " + second);
      const int noBlanks = static_cast<int>(random() % 2);
      std::vector<std::string> options = {"-E", "t.ts", second};
      if (noBlanks == 1) options.insert(options.begin(), "-B");
      const RunResult full = vqtest::RunVqpeek(options, dir.path());
      ASSERT_EQ(full.status, 0) << full.err;
      const std::string head = vqtest::RunVqpeek({"-Q1", "-E", "t.ts", second}, dir.path()).out;
      EXPECT_EQ(full.out, head + "\n" + ViewOfRecords(dir, "t.ts", second, mode, noBlanks));
      ExpectQuietRunsAgree(dir, {"t.ts", second});
    }
  }
}

TEST(QuietView, AgreesOnFilesCutAtEveryPoint) {
  vqtest::TempDir dir;
  const std::string path = dir.Path("cut.ts");
  vqtest::WriteSet(path, kTrainingSetFile, 2, 1, {{{1, 2}, 3, "ab"}, {{4, 5}, 6}, {{7, 8}, 9, "c"}},
                   2);
  const std::string whole = vqtest::ReadFileBytes(path);
  const std::string oldSet =
      vqtest::ReadFileBytes(std::string(VQPEEK_SOURCE_DIR) + "/examples/old.ts");
  vqtest::WriteSet(dir.Path("c.cb"), kCodebookFile, 2, 1, {{{1, 1}}, {{5, 5}}});
  vqtest::WriteFileBytes(dir.Path("p.pa"), "VQ PARTITIONING 2.0\n2\n3\n-----\n2\n1\n2\n");
  for (std::size_t size = whole.size(); size > whole.size() - 28; --size) {
    vqtest::WriteFileBytes(path, whole.substr(0, size));
    ExpectQuietRunsAgree(dir, {"cut.ts"});
    ExpectQuietRunsAgree(dir, {"cut.ts", "c.cb"});
    ExpectQuietRunsAgree(dir, {"cut.ts", "p.pa"});
    // A version-1 set, cut as far as its last records.
    vqtest::WriteFileBytes(path, oldSet.substr(0, oldSet.size() - (whole.size() - size)));
    ExpectQuietRunsAgree(dir, {"cut.ts"});
  }
}

// A set file whose head's TotalFreq line says `total`.
std::string WithTotalFreq(std::string bytes, int total) {
  std::size_t at = 0;
  for (int line = 0; line < 4; ++line) at = bytes.find('\n', at) + 1;
  return bytes.replace(at, bytes.find('\n', at) - at, std::to_string(total));
}

// The quiet runs read the codebook before the set; what both files say,
// warnings and errors, comes in the order of the run that reads the set
// first.
TEST(QuietView, ADamagedSetAndADamagedCodebookSpeakInTheirOrder) {
  vqtest::TempDir dir;
  vqtest::WriteSet(dir.Path("t.ts"), kTrainingSetFile, 2, 1,
                   {{{1, 2}, 3, "ab"}, {{4, 5}, 6}, {{7, 8}, 9}, {{9, 9}, 1}});
  const std::string set = vqtest::ReadFileBytes(dir.Path("t.ts"));
  std::string unended = set;
  unended.replace(set.find("ab"), 2, std::string(90, 'x'));
  vqtest::WriteSet(dir.Path("c.cb"), kCodebookFile, 2, 1, {{{1, 1}, 2}, {{5, 5}, 2}});
  const std::string book = vqtest::ReadFileBytes(dir.Path("c.cb"));
  vqtest::WriteSet(dir.Path("c.cb"), kCodebookFile, 3, 1, {{{1, 1, 1}}});
  const std::string otherDimension = vqtest::ReadFileBytes(dir.Path("c.cb"));
  vqtest::WriteSet(dir.Path("c.cb"), kCodebookFile, 2, 1, {});
  const std::string empty = vqtest::ReadFileBytes(dir.Path("c.cb"));
  for (const std::string& first : {WithTotalFreq(set, 7), set.substr(0, set.size() - 3), unended}) {
    for (const std::string& second :
         {WithTotalFreq(book, 5), book.substr(0, book.size() - 2), empty, otherDimension}) {
      vqtest::WriteFileBytes(dir.Path("t.ts"), first);
      vqtest::WriteFileBytes(dir.Path("c.cb"), second);
      ExpectQuietRunsAgree(dir, {"t.ts", "c.cb"});
    }
  }
}

}  // namespace
