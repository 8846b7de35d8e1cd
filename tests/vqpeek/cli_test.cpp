// Runs the built vqpeek and compares its standard output, standard error and
// exit status byte for byte.
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using vqtest::RunVqpeek;

std::string UsageText() {
  return vqtest::ReadFileBytes(std::string(VQPEEK_SOURCE_DIR) + "/tests/vqpeek/golden/usage.txt");
}

void ExpectRun(const std::vector<std::string>& args, const std::string& out, int status) {
  const vqtest::RunResult result = RunVqpeek(args);
  EXPECT_EQ(result.out, out);
  EXPECT_EQ(result.err, "");
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
  const vqtest::RunResult help = RunVqpeek({"--help"});
  vqtest::ExpectGolden(help.out, "vqpeek/golden/usage.txt");
  EXPECT_EQ(help.err, "");
  EXPECT_EQ(help.status, 0);
  const vqtest::RunResult version = RunVqpeek({"--version"});
  vqtest::ExpectGolden(version.out, "vqpeek/golden/version.txt");
  EXPECT_EQ(version.err, "");
  EXPECT_EQ(version.status, 0);
  // Answered before any other argument is looked at.
  ExpectRun({"-Z", "a", "b", "c", "--help", "--version"}, UsageText(), 0);
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

TEST(VqpeekCommandLine, LoneDashIsAnUnknownOptionNotAName) {
  ExpectRun({"set", "-"}, "ERROR: Unknown option - found.\n", 255);
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

}  // namespace
