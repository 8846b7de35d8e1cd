// Whole runs of the built vqpeek on files made by the project's writer (or
// by hand, for the old format and for damaged files). Standard output,
// standard error and the exit status are compared byte for byte; long
// listings are kept as golden files under tests/vqpeek/golden/.
#include <sys/wait.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "set_builder.h"
#include "test_support.h"

namespace {

using vqtest::NodeSpec;
using vqtest::RunResult;

// Runs vqpeek in a fresh directory, so that the names in the header block
// are the short names the test gives.
class VqpeekRun : public ::testing::Test {
 protected:
  void WriteSet(const std::string& name, int kind, int blockSizeX, int blockSizeY,
                const std::vector<NodeSpec>& nodes, int bytesPerElement = 1,
                const std::string& method = "") {
    vqtest::WriteSet(dir_.Path(name), kind, blockSizeX, blockSizeY, nodes, bytesPerElement, method);
  }
  void WriteBytes(const std::string& name, const std::string& bytes) {
    vqtest::WriteFileBytes(dir_.Path(name), bytes);
  }
  RunResult Run(const std::vector<std::string>& args) {
    return vqtest::RunVqpeek(args, dir_.path());
  }

  // A run that succeeds and prints exactly the golden file.
  void ExpectGoldenRun(const std::vector<std::string>& args, const std::string& golden) {
    const RunResult result = Run(args);
    vqtest::ExpectGolden(result.out, "vqpeek/golden/" + golden);
    EXPECT_EQ(result.err, "");
    EXPECT_EQ(result.status, 0);
  }
  void ExpectRun(const std::vector<std::string>& args, const std::string& out,
                 const std::string& err, int status) {
    const RunResult result = Run(args);
    EXPECT_EQ(result.out, out);
    EXPECT_EQ(result.err, err);
    EXPECT_EQ(result.status, status);
  }

  vqtest::TempDir dir_;
};

// The header block of a training set written by the project's writer with
// one-byte elements.
std::string Header(const std::string& name, const std::string& kind, int bx, int by, int booksize,
                   int total, const std::string& method = "") {
  std::string text = "\nVQPEEK V.0.17 9.11.00\n";
  text += "Input file:        " + name + "\n";
  text += "Version:           " + kind + "\n";
  text += "BlockSizeX:        " + std::to_string(bx) + "\n";
  text += "BlockSizeY:        " + std::to_string(by) + "\n";
  text += "Booksize:          " + std::to_string(booksize) + "\n";
  text += "Total frequency:   " + std::to_string(total) + "\n";
  text += "Bytes per element: 1\nMinValue:          0\nMaxValue:          255\n";
  text += "Preprocessing:     0\n";
  if (!method.empty()) text += "Generation method: " + method + "\n";
  return text + "\n";
}

// --- Listings ---------------------------------------------------------------

std::vector<NodeSpec> WorkedExample() {
  return {{{1, 2, 3, 4}, 1}, {{10, 20, 30, 40}, 2, "ab"}, {{100, 200, 3, 4}, 3, "xyz"}};
}

TEST_F(VqpeekRun, WorkedExampleInEveryLayout) {
  WriteSet("example.cb", kCodebookFile, 2, 2, WorkedExample());
  ExpectGoldenRun({"example.cb"}, "worked_matrix.txt");
  ExpectGoldenRun({"-F1", "example.cb"}, "worked_matrix.txt");
  ExpectGoldenRun({"example.cb", "-F2"}, "worked_line.txt");
  ExpectGoldenRun({"-f2", "-b", "example.cb"}, "worked_line_no_blanks.txt");
}

TEST_F(VqpeekRun, ElevenVectorsTakeTwoBlocks) {
  std::vector<NodeSpec> nodes;
  for (int i = 0; i < 11; ++i) nodes.push_back({{i, 2 * i, 3 * i, 100 + i}, 1 + i % 3});
  nodes[1].name = "ab";
  WriteSet("eleven.cb", kCodebookFile, 2, 2, nodes);
  ExpectGoldenRun({"eleven.cb"}, "eleven.txt");
}

TEST_F(VqpeekRun, LongNameSetsColumnWidthSeventeen) {
  std::vector<NodeSpec> nodes;
  for (int i = 0; i < 7; ++i) nodes.push_back({{i, 10 + i, 20 + i, 99}, 1 + i % 9});
  nodes[4].name = "fifteen-letters";
  nodes[5].name = "short";
  WriteSet("seven.ts", kTrainingSetFile, 2, 2, nodes);
  ExpectGoldenRun({"seven.ts"}, "seven.txt");
}

TEST_F(VqpeekRun, ColumnWidthAboveEightyGivesOneVectorPerBlock) {
  std::vector<NodeSpec> nodes;
  for (int i = 0; i < 3; ++i) {
    std::vector<int> elements;
    for (int e = 0; e < 32; ++e) elements.push_back(1000000 + 1111 * e + 7 * i);
    nodes.push_back({elements, i + 1});
  }
  nodes[1].name = "middle";
  // Sixteen elements of seven digits in a row: 130 columns.
  WriteSet("wide.cb", kCodebookFile, 16, 2, nodes, 4);
  ExpectGoldenRun({"wide.cb"}, "wide.txt");
}

TEST_F(VqpeekRun, NegativeElementsWidenTheirFields) {
  WriteSet("signed.ts", kTrainingSetFile, 2, 1, {{{-100, 5}, 1}, {{3, 4}, 2}}, 4);
  const RunResult result = Run({"-Q2", "signed.ts"});
  EXPECT_EQ(result.status, 0);
  const std::string listing = "\n-100 5  (1)\n3 4  (2)\n";
  ASSERT_GE(result.out.size(), listing.size());
  EXPECT_EQ(result.out.substr(result.out.size() - listing.size()), listing);
}

TEST_F(VqpeekRun, VersionOneFile) {
  // Version 1: no names, one byte per element, the frequency in two bytes
  // with the low byte first.
  std::string bytes = "VQ TRAINING SET 1.0\n2\n2\n3\n0\n0\n0\n0\n255\n----------\n";
  bytes += std::string("\x01\x02\x03\x04\x05\x00", 6);
  bytes += std::string("\x0a\x14\x1e\x28\x2c\x01", 6);  // frequency 300
  bytes += std::string("\xc8\xff\x00\x07\x00\x00", 6);  // frequency 0
  WriteBytes("old.ts", bytes);
  ExpectGoldenRun({"-E", "old.ts"}, "version_one.txt");
}

// --- Header block, entropy and quiet levels -----------------------------------

class VqpeekQuietLevels : public VqpeekRun {
 protected:
  void SetUp() override {
    WriteSet("five.ts", kTrainingSetFile, 2, 1,
             {{{1, 2}, 1}, {{3, 4}, 2, "n"}, {{5, 6}, 3}, {{7, 8}, 1}, {{9, 9}, 1}});
  }
  const std::string header_ = Header("five.ts", "VQ TRAINING SET 2.0", 2, 1, 5, 8);
  const std::string entropy_ = "Entropy of the set =  2.156 (bits/vector) \n";
  const std::string listing_ =
      "\n"
      "   1 2  (1)\n"
      "n  3 4  (2)\n"
      "   5 6  (3)\n"
      "   7 8  (1)\n"
      "   9 9  (1)\n";
};

TEST_F(VqpeekQuietLevels, EachLevelAddsItsPart) {
  ExpectRun({"-Q0", "five.ts"}, "", "", 0);
  ExpectRun({"-Q0", "-E", "five.ts"}, entropy_, "", 0);
  ExpectRun({"-Q1", "five.ts"}, header_, "", 0);
  ExpectRun({"-Q1", "-E", "five.ts"}, header_ + entropy_, "", 0);
  ExpectRun({"five.ts"}, header_ + listing_, "", 0);
  ExpectRun({"-Q2", "-e", "five.ts"}, header_ + entropy_ + listing_, "", 0);
  ExpectRun({"-Q99", "-E", "five.ts"}, header_ + entropy_ + listing_, "", 0);
}

TEST_F(VqpeekRun, GenerationMethodLineOnlyWhenThereIsOne) {
  WriteSet("plain.cb", kCodebookFile, 1, 1, {{{1}, 1}});
  WriteSet("made.cb", kCodebookFile, 1, 1, {{{1}, 1}}, 1, "LBG, 8 vectors");
  ExpectRun({"-Q1", "plain.cb"}, Header("plain.cb", "VQ CODEBOOK 2.0", 1, 1, 1, 1), "", 0);
  ExpectRun({"-Q1", "made.cb"}, Header("made.cb", "VQ CODEBOOK 2.0", 1, 1, 1, 1, "LBG, 8 vectors"),
            "", 0);
}

TEST_F(VqpeekRun, EmptySetPrintsHeaderEntropyAndBlankLineOnly) {
  WriteSet("empty.ts", kTrainingSetFile, 4, 4, {});
  ExpectRun({"-E", "empty.ts"},
            Header("empty.ts", "VQ TRAINING SET 2.0", 4, 4, 0, 0) +
                "Entropy of the set =  0.000 (bits/vector) \n\n",
            "", 0);
}

TEST_F(VqpeekRun, TotalFrequencyWarningComesFirst) {
  WriteBytes("wrong.ts", std::string("VQ TRAINING SET 2.0\n1\n1\n2\n9\n1\n0\n255\n0\n") +
                             std::string(37, '-') + "\n" +
                             std::string("\0\x05\0\0\0\x01\0\x06\0\0\0\x02", 12));
  ExpectRun({"-Q1", "wrong.ts"},
            "WARNING: TotalFreq header field = 9 but calculated totalfreq = 3.\n" +
                Header("wrong.ts", "VQ TRAINING SET 2.0", 1, 1, 2, 3),
            "", 0);
}

// --- Names and kinds ------------------------------------------------------------

TEST_F(VqpeekRun, BareNameIsCompletedAndShownCompleted) {
  WriteSet("set_of_4.ts", kTrainingSetFile, 1, 1, {{{1}, 1}});
  ExpectRun({"-Q1", "set_of_4"}, Header("set_of_4.ts", "VQ TRAINING SET 2.0", 1, 1, 1, 1), "", 0);
  // The header decides the kind, whichever extension found the file.
  WriteSet("other.cb", kTrainingSetFile, 1, 1, {{{1}, 1}});
  ExpectRun({"-Q1", "other"}, Header("other.cb", "VQ TRAINING SET 2.0", 1, 1, 1, 1), "", 0);
}

TEST_F(VqpeekRun, HiddenSetFileDoesNotBecomeTheSecondFile) {
  // An empty second name must not be completed to ".ts" and found.
  WriteSet(".ts", kTrainingSetFile, 1, 1, {{{1}, 1}});
  WriteSet(".cb", kCodebookFile, 1, 1, {{{1}, 1}});
  WriteSet("example.cb", kCodebookFile, 2, 2, WorkedExample());
  WriteSet("example.ts", kTrainingSetFile, 2, 2, WorkedExample());
  ExpectGoldenRun({"example.cb"}, "worked_matrix.txt");
  const RunResult result = Run({"-Q1", "example.ts"});
  EXPECT_EQ(result.out, Header("example.ts", "VQ TRAINING SET 2.0", 2, 2, 3, 6));
  EXPECT_EQ(result.status, 0);
}

TEST_F(VqpeekRun, KindsThatDoNotFitTogether) {
  WriteSet("a.ts", kTrainingSetFile, 1, 1, {{{1}, 1}});
  WriteSet("b.cb", kCodebookFile, 1, 1, {{{1}, 1}});
  WriteBytes("p.pa", "VQ PARTITIONING 2.0\n");
  WriteBytes("junk", "NOT A SET FILE\n");
  const std::string notFound = "ERROR: file not found.\n";
  const std::string firstNotFound = "ERROR: first file not found or a partitioning file\n";
  const std::string firstNotTraining = "ERROR: first file not a training set file\n";
  const std::string secondWrong = "ERROR: second file not found or a training set file\n";

  ExpectRun({"a.ts", "missing"}, notFound, "", 255);
  ExpectRun({"b.cb", "junk"}, notFound, "", 255);
  ExpectRun({"missing", "nothing"}, notFound, "", 255);
  ExpectRun({"missing"}, firstNotFound, "", 255);
  ExpectRun({"p.pa"}, firstNotFound, "", 255);
  ExpectRun({"p"}, firstNotFound, "", 255);
  ExpectRun({"junk"}, firstNotFound, "", 255);
  ExpectRun({"b.cb", "b.cb"}, firstNotTraining, "", 255);
  ExpectRun({"b", "p"}, firstNotTraining, "", 255);
  ExpectRun({"missing", "b.cb"}, firstNotTraining, "", 255);
  ExpectRun({"a.ts", "a.ts"}, secondWrong, "", 255);
  ExpectRun({"a", "a"}, secondWrong, "", 255);
}

// Every output path, the threaded view of a large set too, stops at the
// first failed write and gives the system's reason.
TEST_F(VqpeekRun, LostOutputIsAnError) {
  WriteSet("example.cb", kCodebookFile, 2, 2, WorkedExample());
  std::vector<NodeSpec> many;
  for (int i = 0; i < 70000; ++i) many.push_back({{i % 256}, 1});
  WriteSet("many.ts", kTrainingSetFile, 1, 1, many);
  WriteSet("two.cb", kCodebookFile, 1, 1, {{{0}, 1}, {{255}, 1}});
  std::string partitioning = "VQ PARTITIONING 2.0\n2\n70000\n" + std::string(37, '-') + "\n";
  for (int i = 0; i < 70000; ++i) partitioning += i % 2 == 0 ? "1\n" : "2\n";
  WriteBytes("many.pa", partitioning);
  for (const std::string args :
       {"example.cb", "-F1 many.ts", "-F2 many.ts", "many.ts two.cb", "many.ts many.pa"}) {
    const std::string command = std::string("cd '") + dir_.path() + "' && '" VQPEEK_BINARY "' " +
                                args + " >/dev/full 2>err";
    const int status = std::system(command.c_str());
    ASSERT_TRUE(WIFEXITED(status)) << args;
    EXPECT_EQ(WEXITSTATUS(status), 255) << args;
    EXPECT_EQ(vqtest::ReadFileBytes(dir_.Path("err")),
              "ERROR: Cannot write the output: No space left on device\n")
        << args;
  }
}

// --- Damaged and hostile files ------------------------------------------------------

// A version-2 head with the given numbers and the separator line.
std::string Head(const std::string& numbers) {
  return "VQ TRAINING SET 2.0\n" + numbers + std::string(37, '-') + "\n";
}

TEST_F(VqpeekRun, HostileFilesEndWithAMessageAndNothingElse) {
  struct Case {
    std::string bytes;
    std::string message;
  };
  const std::string ok = Head("2\n1\n2\n3\n1\n0\n255\n0\n") +
                         std::string("ab\0\x01\x02\0\0\0\x01\0\x03\x04\0\0\0\x02", 16);
  // Two thousand million vectors claimed in a file of 100 bytes.
  std::string huge = Head("4\n4\n2000000000\n0\n1\n0\n255\n0\n");
  huge.resize(100, '\0');
  const std::vector<Case> cases = {
      {ok.substr(0, ok.size() - 1), "ERROR: premature end of file\n"},
      {ok.substr(0, ok.size() - 9), "ERROR: premature end of file\n"},
      {"VQ TRAINING SET 2.0\n2\n1\n", "ERROR: Invalid header: a number was expected.\n"},
      {huge, "ERROR: premature end of file\n"},
      {Head("65536\n65536\n1\n1\n1\n0\n255\n0\n"), "ERROR: Invalid block size (65536 x 65536).\n"},
      {Head("-2\n2\n1\n1\n1\n0\n255\n0\n"), "ERROR: Invalid block size (-2 x 2).\n"},
      {Head("2\n0\n1\n1\n1\n0\n255\n0\n"), "ERROR: Invalid block size (2 x 0).\n"},
      {Head("2\n2\n-5\n1\n1\n0\n255\n0\n"), "ERROR: Invalid booksize (-5).\n"},
      {Head("2\n2\n1\n1\n0\n0\n255\n0\n"), "ERROR: Invalid bytes per element (0).\n"},
      {Head("2\n2\n1\n1\n9\n0\n255\n0\n"), "ERROR: Invalid bytes per element (9).\n"},
      {"VQ TRAINING SET 3.0\n", "ERROR: Unknown file version number (3).\n"},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    WriteBytes("bad.ts", cases[i].bytes);
    ExpectRun({"-E", "bad.ts"}, "", cases[i].message, 255);
  }
  // The good file the damaged ones come from.
  WriteBytes("good.ts", ok);
  EXPECT_EQ(Run({"good.ts"}).status, 0);
}

// --- The bundled examples ---------------------------------------------------------

TEST(VqpeekExamples, ShowAsTheReadmeSays) {
  // Run from the top of the source tree, as `make run` does.
  const RunResult result = vqtest::RunVqpeek({"examples/blocks.ts"}, VQPEEK_SOURCE_DIR);
  vqtest::ExpectGolden(result.out, "vqpeek/golden/examples_blocks.txt");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 0);
  const RunResult codebook = vqtest::RunVqpeek({"examples/blocks.cb"}, VQPEEK_SOURCE_DIR);
  vqtest::ExpectGolden(codebook.out, "vqpeek/golden/examples_codebook.txt");
  EXPECT_EQ(codebook.status, 0);
  const RunResult old = vqtest::RunVqpeek({"-F2", "examples/old"}, VQPEEK_SOURCE_DIR);
  vqtest::ExpectGolden(old.out, "vqpeek/golden/examples_old.txt");
  EXPECT_EQ(old.status, 0);
}

}  // namespace
