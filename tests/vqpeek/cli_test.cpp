// Runs the built vqpeek and compares its standard output, standard error and
// exit status byte for byte.
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "test_support.h"
#include "vqpeek/file.h"

namespace {

using vqtest::RunVqpeek;

std::string UsageText() {
  return vqtest::ReadFileBytes(std::string(VQPEEK_SOURCE_DIR) + "/tests/vqpeek/golden/usage.txt");
}

void ExpectRun(const std::vector<std::string>& args, const std::string& out, int status,
               const std::string& err = "") {
  const vqtest::RunResult result = RunVqpeek(args);
  EXPECT_EQ(result.out, out);
  EXPECT_EQ(result.err, err);
  EXPECT_EQ(result.status, status);
}

TEST(VqpeekCommandLine, NoArgumentsPrintsTheUsageText) {
  const vqtest::RunResult result = RunVqpeek({});
  vqtest::ExpectGolden(result.out, "vqpeek/golden/usage.txt");
  EXPECT_EQ(result.err, "");
  EXPECT_EQ(result.status, 255);
  // Options alone still leave the required name missing.
  ExpectRun({"-E", "-q5"}, UsageText(), 255);
}

TEST(VqpeekCommandLine, HelpAndVersionAnswerOnStandardOutput) {
  // --help: the usage text, then the forms it does not show.
  const vqtest::RunResult help = RunVqpeek({"--help"});
  vqtest::ExpectGolden(help.out, "vqpeek/golden/help.txt");
  EXPECT_EQ(help.out.substr(0, UsageText().size()), UsageText());
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.status, 0);
  const vqtest::RunResult version = RunVqpeek({"--version"});
  vqtest::ExpectGolden(version.out, "vqpeek/golden/version.txt");
  EXPECT_EQ(version.err, "");
  EXPECT_EQ(version.status, 0);
  // Answered before any other argument is looked at.
  ExpectRun({"-Z", "a", "b", "c", "--help", "--version"}, help.out, 0);
  ExpectRun({"--version", "--help"}, version.out, 0);
  // Other long options, and abbreviations, stay unknown.
  ExpectRun({"--verbose", "set"}, "ERROR: Unknown option -- found.\n", 255);
  ExpectRun({"--he", "set"}, "ERROR: Unknown option -- found.\n", 255);
}

TEST(VqpeekCommandLine, UnknownOptions) {
  ExpectRun({"-Z", "set"}, "ERROR: Unknown option -Z found.\n", 255);
  ExpectRun({"set", "-h"}, "ERROR: Unknown option -H found.\n", 255);
  ExpectRun({"-q", "set"}, "ERROR: Unknown option -Q found.\n", 255);
  // Reported before the missing name is noticed.
  ExpectRun({"-F"}, "ERROR: Unknown option -F found.\n", 255);
}

TEST(VqpeekCommandLine, LoneDashNamesStandardInput) {
  // Here standard input is empty: no file of any kind.
  ExpectRun({"set", "-"}, "ERROR: file not found.\n", 255);
  ExpectRun({"-"}, "ERROR: first file not found or a partitioning file\n", 255);
  ExpectRun({"-", "-Q1", "-"}, "ERROR: only one of the two files can be standard input\n", 255);
}

TEST(VqpeekCommandLine, NumbersOutOfRange) {
  ExpectRun({"-Q100", "set"}, "ERROR: Parameter Q(1) = 100 is out of range [0,99].\n", 255);
  ExpectRun({"set", "-f3"}, "ERROR: Parameter F(1) = 3 is out of range [0,2].\n", 255);
  ExpectRun({"-Q,5", "set"}, "ERROR: Parameter Q(1) = -1 is out of range [0,99].\n", 255);
  ExpectRun({"-Q12345678901234567890", "set"},
            "ERROR: Parameter Q(1) = 2147483647 is out of range [0,99].\n", 255);
}

TEST(VqpeekCommandLine, TooManyNames) {
  ExpectRun({"a", "-E", "b", "c"}, "ERROR: Too many parameters\n\n" + UsageText(), 255);
}

TEST(VqpeekCommandLine, NameTooLong) {
  const std::string name(80, 'n');
  ExpectRun({"-E", name}, "ERROR: File name too long (at most 79 characters): " + name + "\n", 255);
}

TEST(VqpeekCommandLine, ValidCommandLinesGoOnToTheFiles) {
  // Accepted command lines get as far as looking for the named files.
  ExpectRun({"set"}, "ERROR: first file not found or a partitioning file\n", 255);
  ExpectRun({"-Q3", "set", "-e", "book", "-B7", "-F2"}, "ERROR: file not found.\n", 255);
  ExpectRun({"-q-4", "set", std::string(79, 'n')}, "ERROR: file not found.\n", 255);
}

// --- Standard input, pipes and compressed files ----------------------------

std::string Example(const std::string& name) {
  return std::string(VQPEEK_SOURCE_DIR) + "/examples/" + name;
}

// `text` with the name on its "Input file:" line left out, for runs that
// name the same content differently.
std::string WithoutInputName(std::string text) {
  const std::string label = "Input file:        ";
  const std::size_t at = text.find(label);
  if (at != std::string::npos)
    text.erase(at + label.size(), text.find('\n', at) - at - label.size());
  return text;
}

// Whether the program under test reads files compressed by `tool`: this
// build's program as its library says; another one (VQPEEK_UNDER_TEST, a
// cross build) is asked.
bool ProgramReads(const std::string& tool) {
  const char* other = std::getenv("VQPEEK_UNDER_TEST");
  if (other == nullptr || other[0] == '\0') {
    return ReadsCompression(tool == "gzip" ? Compression::kGzip : Compression::kZstd);
  }
  const vqtest::RunResult probe =
      vqtest::RunVqpeekScript(tool + " -c " + Example("blocks.ts") + " | $VQPEEK -Q0 -");
  return probe.status == 0;
}

// What a program without `tool`'s library says about `name`.
std::string Refusal(const std::string& name, const std::string& tool) {
  return "ERROR: The file " + name + " is compressed with " + tool +
         ", which this build cannot read (it was built without " +
         (tool == "gzip" ? "zlib" : "libzstd") + ").\n";
}

// Runs `script` (in `dir`) and expects the run of vqpeek `options first
// second` on the plain examples, but for the name of the first file.
void ExpectPlainRun(const std::string& script, const std::string& options, const std::string& first,
                    const std::string& second, const std::string& dir = "") {
  std::vector<std::string> args;
  for (const std::string& word : {options, first, second}) {
    for (std::size_t at = 0; at < word.size();) {
      const std::size_t end = std::min(word.find(' ', at), word.size());
      if (end > at) args.push_back(word.substr(at, end - at));
      at = end + 1;
    }
  }
  // The plain runs, each made once.
  static std::map<std::vector<std::string>, vqtest::RunResult> plainRuns;
  if (plainRuns.count(args) == 0) plainRuns[args] = RunVqpeek(args);
  const vqtest::RunResult& plain = plainRuns[args];
  ASSERT_EQ(plain.status, 0) << options << " " << first << " " << second;
  const vqtest::RunResult result = vqtest::RunVqpeekScript(script, dir);
  EXPECT_EQ(WithoutInputName(result.out), WithoutInputName(plain.out)) << script;
  EXPECT_EQ(result.err, plain.err) << script;
  EXPECT_EQ(result.status, 0) << script;
}

TEST(VqpeekSources, StandardInputPipesAndProcessSubstitution) {
  const std::string ts = Example("blocks.ts");
  const std::string cb = Example("blocks.cb");
  const std::string pa = Example("blocks.pa");
  // Every mode and quiet level: one file (read once or twice), a codebook
  // or a partitioning beside it, the figures.
  // Every mode: one file (read twice for the listing, once at quiet level
  // 1, with the figures), a codebook or a partitioning beside it.
  for (const std::string options : {"", "-Q1 -E", "-S"}) {
    ExpectPlainRun("cat " + ts + " | $VQPEEK " + options + " -", options, ts, "");
  }
  ExpectPlainRun("$VQPEEK -Q0 -E /dev/stdin < " + ts, "-Q0 -E", ts, "");
  ExpectPlainRun("cat " + ts + " | $VQPEEK -Q1 /dev/stdin", "-Q1", ts, "");
  ExpectPlainRun("cat " + Example("old.ts") + " | $VQPEEK -", "", Example("old.ts"), "");
  ExpectPlainRun("cat " + cb + " | $VQPEEK -F1 -", "-F1", cb, "");
  for (const std::string& second : {cb, pa}) {
    for (const std::string options : {"", "-S"}) {
      ExpectPlainRun("cat " + ts + " | $VQPEEK " + options + " - " + second, options, ts, second);
      ExpectPlainRun("cat " + second + " | $VQPEEK " + options + " " + ts + " -", options, ts,
                     second);
    }
    ExpectPlainRun("$VQPEEK <(cat " + ts + ") <(cat " + second + ")", "", ts, second);
  }
}

TEST(VqpeekSources, APipeBeyondMemoryIsReportedNotACrash) {
  // A pipe is read whole; one larger than the memory the run may take is
  // refused with a message. (The sanitizers, and an emulator that runs
  // another program, need more address space than this limit allows.)
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
  GTEST_SKIP() << "address-space limits do not fit the sanitizers";
#endif
  const char* other = std::getenv("VQPEEK_UNDER_TEST");
  if (other != nullptr && other[0] != '\0') GTEST_SKIP() << "another program under test";
  const vqtest::RunResult result = vqtest::RunVqpeekScript(
      "{ printf 'VQ TRAINING SET 2.0\\n1\\n1\\n1000000000\\n0\\n1\\n0\\n255\\n0\\n-\\n'; "
      "head -c 40000000 /dev/zero; } | (ulimit -v 40000; $VQPEEK -Q1 -)");
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err, "ERROR: Not enough memory to read the file.\n");
  EXPECT_EQ(result.status, 255);
}

TEST(VqpeekSources, NamedPipes) {
  vqtest::TempDir dir;
  const std::string ts = Example("blocks.ts");
  const std::string cb = Example("blocks.cb");
  const std::string pa = Example("blocks.pa");
  const std::string fifos = "rm -f set book; mkfifo set book; ";
  ExpectPlainRun(fifos + "cat " + ts + " > set & $VQPEEK set; wait", "", ts, "", dir.path());
  ExpectPlainRun(fifos + "cat " + ts + " > set & cat " + cb + " > book & $VQPEEK -S set book; wait",
                 "-S", ts, cb, dir.path());
  ExpectPlainRun(fifos + "cat " + pa + " > book & $VQPEEK " + ts + " book; wait", "", ts, pa,
                 dir.path());
  // A pipe named twice is one stream: both names see the same first line.
  EXPECT_EQ(
      vqtest::RunVqpeekScript(fifos + "cat " + ts + " > set & $VQPEEK set set; wait", dir.path())
          .out,
      "ERROR: second file not found or a training set file\n");
  // Standard input by two names.
  EXPECT_EQ(vqtest::RunVqpeekScript("cat " + ts + " | $VQPEEK /dev/stdin -").out,
            "ERROR: only one of the two files can be standard input\n");
}

TEST(VqpeekSources, CompressedCopiesOfEveryExample) {
  for (const std::string tool : {"gzip", "zstd"}) {
    vqtest::TempDir dir;
    const std::string ending = tool == "gzip" ? ".gz" : ".zst";
    for (const std::string name : {"blocks.ts", "blocks.cb", "blocks.pa", "old.ts"}) {
      vqtest::WriteFileBytes(dir.Path(name + ending),
                             vqtest::CompressWith(tool, vqtest::ReadFileBytes(Example(name))));
    }
    const std::string ts = dir.Path("blocks.ts" + ending);
    if (!ProgramReads(tool)) {
      ExpectRun({ts}, "", 255, Refusal(ts, tool));
      continue;
    }
    ExpectPlainRun("$VQPEEK " + dir.Path("old.ts" + ending), "", Example("old.ts"), "");
    ExpectPlainRun("$VQPEEK -F2 " + dir.Path("blocks.cb" + ending), "-F2", Example("blocks.cb"),
                   "");
    for (const std::string options : {"", "-Q1 -E -S"}) {
      ExpectPlainRun("$VQPEEK " + options + " " + ts, options, Example("blocks.ts"), "");
      for (const std::string second : {"blocks.cb", "blocks.pa"}) {
        ExpectPlainRun("$VQPEEK " + options + " " + ts + " " + dir.Path(second + ending), options,
                       Example("blocks.ts"), Example(second));
      }
    }
    // Through a pipe, and found by the name without its endings.
    ExpectPlainRun(tool + " -c " + Example("blocks.ts") + " | $VQPEEK -S - " + Example("blocks.cb"),
                   "-S", Example("blocks.ts"), Example("blocks.cb"));
    const vqtest::RunResult found = RunVqpeek({"-Q1", dir.Path("old")});
    EXPECT_NE(found.out.find("Input file:        " + dir.Path("old.ts" + ending) + "\n"),
              std::string::npos)
        << found.out;
  }
}

TEST(VqpeekSources, DamagedCompressedFiles) {
  vqtest::TempDir dir;
  for (const std::string tool : {"gzip", "zstd"}) {
    if (!ProgramReads(tool)) continue;
    const std::string good =
        vqtest::CompressWith(tool, vqtest::ReadFileBytes(Example("blocks.cb")));
    // A checksum that does not match (gzip's CRC-32 before the length,
    // zstd's last four bytes) in a file; a cut in a pipe.
    std::string wrongSum = good;
    wrongSum[good.size() - (tool == "gzip" ? 8 : 1)] ^= 0x01;
    const std::string sum = dir.Path("sum." + tool);
    vqtest::WriteFileBytes(sum, wrongSum);
    const std::string reason =
        tool == "gzip" ? "incorrect data check" : "Restored data doesn't match checksum";
    ExpectRun({"-Q1", sum}, "", 255,
              "ERROR: The compressed file " + sum + " is damaged: " + reason + ".\n");
    const std::string cut = dir.Path("cut." + tool);
    vqtest::WriteFileBytes(cut, good.substr(0, good.size() - 10));
    const vqtest::RunResult piped =
        vqtest::RunVqpeekScript("cat " + cut + " | $VQPEEK -S " + Example("blocks.ts") + " -");
    EXPECT_EQ(piped.out, "");
    EXPECT_EQ(piped.err,
              "ERROR: The compressed file - is damaged: it ends inside its compressed data.\n");
    EXPECT_EQ(piped.status, 255);
  }
}

}  // namespace
