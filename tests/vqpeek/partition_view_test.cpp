// The partition view: its loading step, the view on hand-worked sets and
// against a plain printf version on random sets, and whole runs of vqpeek in
// the two-file modes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "set_builder.h"
#include "test_support.h"
#include "viewer.h"

namespace {

using vqtest::BuildSet;
using vqtest::CaptureOutput;
using vqtest::NodeSpec;
using vqtest::RunVqpeek;
using vqtest::WriteFileBytes;
using vqtest::WriteSet;

const std::string kSeparator(37, '-');

// Blanks shown as middle dots, so that expected lines can be read.
std::string Dotted(const std::string& text) {
  std::string dotted;
  for (const char c : text) dotted += c == ' ' ? std::string("\u00b7") : std::string(1, c);
  return dotted;
}

std::string View(const Codebook& set, const Codebook& second, const Partitioning& partitioning,
                 int noBlanks) {
  const SetStatistics stats = ComputeSetStatistics(set);
  return CaptureOutput(
      [&](FILE* out) { PrintPartitionView(out, set, second, partitioning, stats, noBlanks); });
}

const std::vector<NodeSpec> kExampleSet = {
    {{1, 2}, 1}, {{10, 20}, 2, "ab"}, {{100, 200}, 3}, {{3, 4}, 1, "xyz"}, {{11, 22}, 1}};
const std::vector<NodeSpec> kExampleCodebook = {{{2, 3}, 0}, {{105, 205}, 0}};

// The worked example, loaded as the viewer loads it.
class WorkedExample : public ::testing::Test {
 protected:
  void SetUp() override {
    BuildSet(&set_, kTrainingSetFile, 2, 1, kExampleSet);
    WriteSet(dir_.Path("example.cb"), kCodebookFile, 2, 1, kExampleCodebook);
    LoadPartitionView(ViewTrainingSetAndCodebook, dir_.Path("example.cb").c_str(), set_, &second_,
                      &partitioning_);
  }

  vqtest::TempDir dir_;
  Codebook set_;
  Codebook second_;
  Partitioning partitioning_;
};

TEST_F(WorkedExample, View) {
  EXPECT_EQ(Dotted(View(set_, second_, partitioning_, 0)),
            "Partition·1:\n"
            "···centroid:···2···3··(0)\n"
            "···1···········1···2··(1)\n"
            "···1····ab····10··20··(2)\n"
            "···1····xyz····3···4··(1)\n"
            "···1··········11··22··(1)\n"
            "Partition·2:\n"
            "···centroid:·105·205··(0)\n"
            "···2·········100·200··(3)\n");
}

TEST_F(WorkedExample, ViewWithoutBlanks) {
  EXPECT_EQ(Dotted(View(set_, second_, partitioning_, 1)),
            "Partition·1:\n"
            "···centroid:···2··3·(0)\n"
            "···1···········1··2·(1)\n"
            "···1····ab····10·20·(2)\n"
            "···1····xyz····3··4·(1)\n"
            "···1··········11·22·(1)\n"
            "Partition·2:\n"
            "···centroid:·105205·(0)\n"
            "···2·········100200·(3)\n");
}

TEST(PrintPartitionView, LongNamesWidenTheCentroidPrefix) {
  Codebook set;
  BuildSet(&set, kTrainingSetFile, 1, 1, {{{1}, 12, "a-long-name"}, {{2}, 1}});
  Codebook codebook;
  BuildSet(&codebook, kCodebookFile, 1, 1, {{{1234}, -5}});
  Partitioning partitioning;
  CreateNewPartitioning(&partitioning, &set, 1);
  // PW 1 + 11 - 6 = 6 blanks after "centroid:"; no member fill. The code
  // vector's element and frequency are wider than EW and FW.
  EXPECT_EQ(Dotted(View(set, codebook, partitioning, 0)),
            "Partition·1:\n"
            "···centroid:·······1234··(-5)\n"
            "···1··a-long-name··1··(12)\n"
            "···1··" +
                Dotted(std::string(13, ' ')) + "2··(·1)\n");
}

// The view as printf writes it, from the formats of the view.
std::string PrintfView(const Codebook& set, const Codebook& second,
                       const Partitioning& partitioning, int noBlanks) {
  const SetStatistics stats = ComputeSetStatistics(set);
  const int dim = VectorDimension(set);
  const int ew = DecimalWidth(stats.MaxElement);
  const int fw = DecimalWidth(stats.MaxFreq);
  const int pw = DecimalWidth(second.Booksize);
  const int names = stats.MaxNameLength;
  std::string text;
  char field[256];
  auto add = [&](int length) { text.append(field, static_cast<std::size_t>(length)); };
  auto vector = [&](const CodebookNode& node) {
    for (int e = 0; e < dim; ++e) {
      add(std::snprintf(field, sizeof field, "%*d", ew, node.Vector[e]));
      if (noBlanks != 1) text += ' ';
    }
    add(std::snprintf(field, sizeof field, " (%*d)\n", fw, node.Freq));
  };
  for (int p = 0; p < second.Booksize; ++p) {
    add(std::snprintf(field, sizeof field, "Partition %d:\n", p + 1));
    text += "   centroid: " + std::string(std::max(0, pw + names - 6), ' ');
    vector(second.Book[p]);
    for (int v = partitioning.First[p]; v != -1; v = partitioning.Next[v]) {
      add(std::snprintf(field, sizeof field, "   %*d  ", pw, p + 1));
      text += std::string(std::max(0, names == 0 ? 8 - pw : 6 - names - pw), ' ');
      if (names > 0) {
        const char* name = set.Book[v].Name.get();
        if (name != nullptr && name[0] != '\0') {
          add(std::snprintf(field, sizeof field, "%-*s  ", names, name));
        } else {
          text += std::string(names + 2, ' ');
        }
      }
      vector(set.Book[v]);
    }
  }
  return text;
}

TEST(PrintPartitionView, MatchesPrintfOnRandomSets) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  for (int round = 0; round < 40; ++round) {
    const int dim = 1 + static_cast<int>(random() % 5);
    const int count = static_cast<int>(random() % 30);
    const int partitions = 1 + static_cast<int>(random() % 14);
    const int names = static_cast<int>(random() % 3);  // none, short, long
    std::vector<NodeSpec> nodes;
    for (int i = 0; i < count; ++i) {
      std::vector<int> elements(dim);
      for (int& element : elements) element = static_cast<int>(random() % 2001) - 300;
      std::string name;
      if (names > 0 && random() % 2 == 0) name.assign(1 + random() % (names == 1 ? 3 : 12), 'n');
      nodes.push_back({elements, static_cast<int>(random() % 5000) - 10, name});
    }
    Codebook set;
    BuildSet(&set, kTrainingSetFile, dim, 1, nodes, 4);
    std::vector<NodeSpec> codes;
    for (int k = 0; k < partitions; ++k) {
      std::vector<int> elements(dim);
      for (int& element : elements) element = static_cast<int>(random() % 40001) - 20000;
      codes.push_back({elements, static_cast<int>(random() % 100000)});
    }
    Codebook codebook;
    BuildSet(&codebook, kCodebookFile, dim, 1, codes, 4);
    Partitioning partitioning;
    CreateNewPartitioning(&partitioning, &set, partitions);
    for (int i = 0; i < count; ++i) {
      ChangePartition(&set, &partitioning, static_cast<int>(random() % partitions), i);
    }
    const int noBlanks = static_cast<int>(random() % 2);
    ASSERT_EQ(View(set, codebook, partitioning, noBlanks),
              PrintfView(set, codebook, partitioning, noBlanks))
        << "round " << round;
  }
}

// Random sets in both two-file modes, made as the loading step makes them,
// viewed on one and on several threads in chunks that split partitions
// anywhere: the text is the printf text. Some vectors are longer than one
// piece of the direct formatting.
TEST(PrintPartitionViewOn, MatchesPrintfInBothModesOnAnyThreadsAndChunks) {
  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  for (int round = 0; round < 24; ++round) {
    const int dim = round % 6 == 5 ? 250 + static_cast<int>(random() % 300)
                                   : 1 + static_cast<int>(random() % 5);
    const int count = static_cast<int>(random() % 60);
    const int partitions = 1 + static_cast<int>(random() % 12);
    const bool names = random() % 2 == 0;
    auto randomNodes = [&](int n, int low, int spread, bool named) {
      std::vector<NodeSpec> nodes;
      for (int i = 0; i < n; ++i) {
        std::vector<int> elements(dim);
        for (int& element : elements) element = low + static_cast<int>(random() % spread);
        const std::string name =
            named && random() % 3 != 0 ? std::string(1 + random() % 9, 'n') : "";
        nodes.push_back({elements, static_cast<int>(random() % 3000) - 5, name});
      }
      return nodes;
    };
    Codebook set;
    BuildSet(&set, kTrainingSetFile, dim, 1, randomNodes(count, -50, 1300, names), 4);
    Codebook codebook;
    BuildSet(&codebook, kCodebookFile, dim, 1, randomNodes(partitions, -2000, 4000, false), 4);

    for (const ViewMode mode : {ViewTrainingSetAndCodebook, ViewTrainingSetAndPartitioning}) {
      SCOPED_TRACE("round " + std::to_string(round) + ", mode " + std::to_string(mode));
      Partitioning partitioning;
      CreateNewPartitioning(&partitioning, &set, partitions);
      Codebook centroids;
      if (mode == ViewTrainingSetAndCodebook) {
        GenerateOptimalPartitioningGeneral(&set, &codebook, &partitioning, 0);
      } else {
        for (int i = 0; i < count; ++i) {
          ChangePartition(&set, &partitioning, static_cast<int>(random() % partitions), i);
        }
        CreateNewCodebook(&centroids, partitions, &set);
        GenerateOptimalCodebookGeneral(&set, &centroids, &partitioning, 0);
      }
      const Codebook& second = mode == ViewTrainingSetAndCodebook ? codebook : centroids;
      const SetStatistics stats = ComputeSetStatistics(set);
      const int noBlanks = static_cast<int>(random() % 2);
      const std::string expected = PrintfView(set, second, partitioning, noBlanks);
      auto view = [&](int threads, std::int64_t chunk) {
        return CaptureOutput([&](FILE* out) {
          PrintPartitionViewOn(out, set, second, partitioning, stats, noBlanks, threads, chunk);
        });
      };
      for (const int threads : {1, 2, 3}) {
        for (const std::int64_t chunk :
             {std::int64_t{0}, std::int64_t{1}, static_cast<std::int64_t>(2 + random() % 9)}) {
          ASSERT_EQ(view(threads, chunk), expected) << threads << " threads, chunks of " << chunk;
        }
      }
      // Sizes that disagree with the lists: the lists decide.
      partitioning.PartitionSize[0] += 1;
      ASSERT_EQ(view(2, 3), expected);
      partitioning.PartitionSize[0] -= 2;
      ASSERT_EQ(view(1, 0), expected);
    }
  }
}

// A failed write of the threaded view ends the view at once with the
// system's reason, whichever thread wrote.
TEST(PrintPartitionViewOnDeathTest, AFailedWriteIsFatalWithTheReason) {
  Codebook set;
  BuildSet(&set, kTrainingSetFile, 2, 1, kExampleSet);
  Codebook codebook;
  BuildSet(&codebook, kCodebookFile, 2, 1, kExampleCodebook);
  Partitioning partitioning;
  CreateNewPartitioning(&partitioning, &set, 2);
  GenerateOptimalPartitioningGeneral(&set, &codebook, &partitioning, 0);
  const SetStatistics stats = ComputeSetStatistics(set);
  EXPECT_FATAL(
      {
        FILE* full = std::fopen("/dev/full", "w");
        std::setvbuf(full, nullptr, _IONBF, 0);
        PrintPartitionViewOn(full, set, codebook, partitioning, stats, 0, 3, 1);
      },
      "ERROR: Cannot write the output: No space left on device\n");
}

// --- The loading step ---

TEST(LoadPartitionView, PartitioningFileGivesCentroidsAndZerosForAnEmptyPartition) {
  vqtest::TempDir dir;
  Codebook set;
  BuildSet(&set, kTrainingSetFile, 2, 1, kExampleSet);
  WriteFileBytes(dir.Path("p.pa"),
                 "VQ PARTITIONING 2.0\n3\n5\n" + kSeparator + "\n1\n1\n3\n3\n1\n");
  Codebook second;
  Partitioning partitioning;
  LoadPartitionView(ViewTrainingSetAndPartitioning, dir.Path("p.pa").c_str(), set, &second,
                    &partitioning);
  EXPECT_STREQ(second.Versionstr, "VQ CODEBOOK 2.0");
  ASSERT_EQ(second.Booksize, 3);
  // (1*1 + 10*2 + 11) / 4 = 8, (2 + 40 + 22) / 4 = 16
  EXPECT_EQ(vqtest::Elements(second, 0), (std::vector<int>{8, 16}));
  EXPECT_EQ(second.Book[0].Freq, 4);
  EXPECT_EQ(vqtest::Elements(second, 1), (std::vector<int>{0, 0}));
  EXPECT_EQ(second.Book[1].Freq, 0);
  // (100*3 + 3) / 4 = 75.75, (600 + 4) / 4 = 151
  EXPECT_EQ(vqtest::Elements(second, 2), (std::vector<int>{76, 151}));
  EXPECT_EQ(second.Book[2].Freq, 4);
  EXPECT_EQ(Dotted(View(set, second, partitioning, 0)),
            "Partition·1:\n"
            "···centroid:···8··16··(4)\n"
            "···1··········11··22··(1)\n"
            "···1····ab····10··20··(2)\n"
            "···1···········1···2··(1)\n"
            "Partition·2:\n"
            "···centroid:···0···0··(0)\n"
            "Partition·3:\n"
            "···centroid:··76·151··(4)\n"
            "···3····xyz····3···4··(1)\n"
            "···3·········100·200··(3)\n");
  ReleasePartitionView(&second, &partitioning);
}

// --- Whole runs ---

class PartitionViewRun : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteSet(dir_.Path("example.ts"), kTrainingSetFile, 2, 1, kExampleSet);
    WriteSet(dir_.Path("example.cb"), kCodebookFile, 2, 1, kExampleCodebook);
    WriteFileBytes(dir_.Path("example.pa"),
                   "VQ PARTITIONING 2.0\n3\n5\nby hand\n" + kSeparator + "\n1\n1\n3\n3 xyz\n1\n");
    WriteSet(dir_.Path("empty.ts"), kTrainingSetFile, 2, 1, {});
  }

  vqtest::RunResult Run(const std::vector<std::string>& args) {
    return RunVqpeek(args, dir_.path());
  }

  // A run that ends with `message` on standard error before anything is
  // printed.
  void ExpectFailure(const std::vector<std::string>& args, const std::string& message) {
    const vqtest::RunResult result = Run(args);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, message);
    EXPECT_EQ(result.status, 255);
  }

  void ExpectGoldenRun(const std::vector<std::string>& args, const std::string& golden) {
    const vqtest::RunResult result = Run(args);
    vqtest::ExpectGolden(result.out, "vqpeek/golden/" + golden);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }

  vqtest::TempDir dir_;
};

TEST_F(PartitionViewRun, TrainingSetAndCodebookAtEveryQuietLevel) {
  ExpectGoldenRun({"example.ts", "example.cb"}, "partition_codebook.txt");
  ExpectGoldenRun({"-B", "example.ts", "example.cb"}, "partition_codebook_no_blanks.txt");
  ExpectGoldenRun({"-Q1", "example", "example.cb"}, "partition_codebook_q1.txt");
  const vqtest::RunResult quiet = Run({"-Q0", "example.ts", "example.cb"});
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(quiet.err, "");
  EXPECT_EQ(quiet.status, 0);
  // The header and the view of a full run are those of the two quieter
  // levels and the view itself.
  const std::string full = Run({"example.ts", "example.cb"}).out;
  const std::string header = Run({"-Q1", "example.ts", "example.cb"}).out;
  ASSERT_EQ(full.substr(0, header.size()), header);
  EXPECT_EQ(full.substr(header.size(), 13), "\nPartition 1:");
}

TEST_F(PartitionViewRun, TrainingSetAndPartitioning) {
  ExpectGoldenRun({"example.ts", "example.pa"}, "partition_file.txt");
  // Found by its extension, in the third place of the priority order.
  WriteFileBytes(dir_.Path("only.pa"), vqtest::ReadFileBytes(dir_.Path("example.pa")));
  EXPECT_EQ(Run({"example", "only"}).out, Run({"example.ts", "example.pa"}).out);
}

TEST_F(PartitionViewRun, MorePartitionsThanTrainingVectors) {
  WriteFileBytes(dir_.Path("m.pa"),
                 "VQ PARTITIONING 2.0\n7\n5\n" + kSeparator + "\n1\n7\n1\n2\n7\n");
  ExpectGoldenRun({"example.ts", "m.pa"}, "partition_file_more_partitions.txt");
}

TEST_F(PartitionViewRun, PartitionCountBeyondMemoryEndsAtOnce) {
  // 100 bytes that claim two billion partitions. Under an address-space
  // limit as well, the count is refused before anything is allocated (the
  // sanitizers reserve more address space than any such limit allows).
  const std::string text =
      "VQ PARTITIONING 2.0\n2000000000\n5\n" + kSeparator + "\n1\n1\n1\n1\n1\n";
  WriteFileBytes(dir_.Path("huge.pa"), text + std::string(100 - text.size(), '\n'));
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  const std::uint64_t limit = 0;
#else
  const std::uint64_t limit = std::uint64_t{8} << 30;
#endif
  const vqtest::RunResult result = RunVqpeek({"example.ts", "huge.pa"}, dir_.path(), limit);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "ERROR: Not enough memory for the partitioning.\n");
  EXPECT_EQ(result.status, 255);

  // The same claim for a set of six vectors, under 200 MB: the set size is
  // what is wrong, and the run says so. A program run through another
  // command (an emulator, VQPEEK_UNDER_TEST) runs without the limit, which
  // that command's own mappings would exceed.
  const std::string other =
      "VQ PARTITIONING 2.0\n2000000000\n6\n" + kSeparator + "\n1\n1\n1\n1\n1\n1\n";
  WriteFileBytes(dir_.Path("other.pa"), other + std::string(100 - other.size(), '\n'));
  const vqtest::RunResult refused = RunVqpeek(
      {"example.ts", "other.pa"}, dir_.path(),
      limit == 0 || std::getenv("VQPEEK_UNDER_TEST") != nullptr ? 0 : std::uint64_t{200} << 20);
  EXPECT_EQ(refused.err, "ERROR: Partitioning is not for this training set (6 != 5).\n");
  EXPECT_EQ(refused.status, 255);
}

TEST_F(PartitionViewRun, AVectorOfAMillionElementsTakesNoScratchOfThousandsOfRows) {
  // One vector of 1024 x 1024 elements (1 MB in its file): every batch of
  // rows holds that one row, not a fixed count of rows of its length (4 to
  // 16 GB), also under a limit of 1 GB of address space.
  WriteSet(dir_.Path("wide.ts"), kTrainingSetFile, 1024, 1024, {{std::vector<int>(1 << 20, 3), 2}});
  WriteFileBytes(dir_.Path("wide.pa"), "VQ PARTITIONING 2.0\n1\n1\n" + kSeparator + "\n1\n");
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  const std::uint64_t limit = 0;
#else
  const std::uint64_t limit =
      std::getenv("VQPEEK_UNDER_TEST") != nullptr ? 0 : std::uint64_t{1} << 30;
#endif
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-Q1", "-S", "wide.ts", "wide.pa"},
        {"-B", "wide.ts", "wide.pa"},
        {"-F2", "wide.ts"}}) {
    const vqtest::RunResult result = RunVqpeek(args, dir_.path(), limit);
    EXPECT_EQ(result.err, "") << args.front();
    EXPECT_EQ(result.status, 0) << args.front();
  }
}

TEST_F(PartitionViewRun, EmptyTrainingSet) {
  WriteFileBytes(dir_.Path("empty.pa"), "VQ PARTITIONING 2.0\n1\n0\n" + kSeparator + "\n");
  const vqtest::RunResult withCodebook = Run({"-Q2", "empty.ts", "example.cb"});
  EXPECT_EQ(withCodebook.status, 0);
  EXPECT_EQ(withCodebook.err, "");
  const std::string view = withCodebook.out.substr(withCodebook.out.find("\nPartition"));
  EXPECT_EQ(view,
            "\nPartition 1:\n   centroid: 2 3  (0)\n"
            "Partition 2:\n   centroid: 105 205  (0)\n");
  const vqtest::RunResult withPartitioning = Run({"empty.ts", "empty.pa"});
  EXPECT_EQ(withPartitioning.status, 0);
  EXPECT_EQ(withPartitioning.out.substr(withPartitioning.out.find("\nPartition")),
            "\nPartition 1:\n   centroid: 0 0  (0)\n");
}

TEST_F(PartitionViewRun, MalformedPartitioningFiles) {
  const std::string head = "VQ PARTITIONING 2.0\n2\n5\n" + kSeparator + "\n";
  WriteFileBytes(dir_.Path("index.pa"), head + "1\n2\n3\n1\n1\n");
  ExpectFailure({"example.ts", "index.pa"}, "ERROR: Invalid partition index (3) found.\n");
  WriteFileBytes(dir_.Path("short.pa"), head + "1\n2\n");
  ExpectFailure({"example.ts", "short.pa"}, "ERROR reading partitioning.\n");
  WriteFileBytes(dir_.Path("size.pa"),
                 "VQ PARTITIONING 2.0\n2\n4\n" + kSeparator + "\n1\n1\n1\n1\n");
  ExpectFailure({"example.ts", "size.pa"},
                "ERROR: Partitioning is not for this training set (4 != 5).\n");
  WriteFileBytes(dir_.Path("count.pa"), "VQ PARTITIONING 2.0\n0\n5\n" + kSeparator + "\n");
  ExpectFailure({"example.ts", "count.pa"}, "ERROR: Invalid number of partitions (0).\n");
  WriteFileBytes(dir_.Path("words.pa"), "VQ PARTITIONING 2.0\ntwo\n5\n" + kSeparator + "\n");
  ExpectFailure({"example.ts", "words.pa"}, "ERROR reading partitioning.\n");
  WriteFileBytes(dir_.Path("head.pa"), "VQ PARTITIONING 2.0\n2\n5\n");
  ExpectFailure({"example.ts", "head.pa"}, "ERROR: empty header (NULL)\n");
}

TEST_F(PartitionViewRun, CodebooksThatCannotPartitionTheSet) {
  WriteSet(dir_.Path("empty.cb"), kCodebookFile, 2, 1, {});
  ExpectFailure({"example.ts", "empty.cb"}, "ERROR: The codebook is empty.\n");
  WriteSet(dir_.Path("wide.cb"), kCodebookFile, 2, 2, {{{1, 2, 3, 4}, 0}});
  ExpectFailure({"example.ts", "wide.cb"},
                "ERROR: Codebook and training set differ in vector dimension (4 != 2).\n");
  // A code vector far shorter than the training vectors is never read as
  // long as they are, also where its figures are asked for.
  WriteSet(dir_.Path("long.ts"), kTrainingSetFile, 512, 512, {{std::vector<int>(512 * 512, 7), 1}});
  for (const std::vector<std::string>& options :
       {std::vector<std::string>{"-Q1", "-S"}, {"-Q0", "-S", "-E"}, {"-S"}, {"-Q1"}}) {
    std::vector<std::string> args = options;
    args.insert(args.end(), {"long.ts", "wide.cb"});
    ExpectFailure(args,
                  "ERROR: Codebook and training set differ in vector dimension (4 != 262144).\n");
  }
  std::string cut = vqtest::ReadFileBytes(dir_.Path("example.cb"));
  cut.resize(cut.size() - 3);
  WriteFileBytes(dir_.Path("cut.cb"), cut);
  ExpectFailure({"example.ts", "cut.cb"}, "ERROR: premature end of file\n");
}

// --- The bundled examples ---

TEST(PartitionViewExamples, BothModesAsTheReadmeShowsThem) {
  const std::string readme = vqtest::ReadFileBytes(std::string(VQPEEK_SOURCE_DIR) + "/README.md");
  const struct {
    const char* second;
    const char* golden;
  } runs[] = {{"examples/blocks.cb", "examples_partition_codebook.txt"},
              {"examples/blocks.pa", "examples_partition_file.txt"}};
  for (const auto& run : runs) {
    const vqtest::RunResult result =
        RunVqpeek({"examples/blocks.ts", run.second}, VQPEEK_SOURCE_DIR);
    vqtest::ExpectGolden(result.out, std::string("vqpeek/golden/") + run.golden);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
    const std::string session =
        std::string("$ build/vqpeek/vqpeek examples/blocks.ts ") + run.second + "\n" + result.out;
    EXPECT_NE(readme.find(session + "```\n"), std::string::npos)
        << "README.md does not show the run with " << run.second << " as it is";
  }
}

}  // namespace
