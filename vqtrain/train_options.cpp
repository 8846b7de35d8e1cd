#include "train_options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "vqpeek/interfc.h"
#include "vqpeek/version.h"

namespace {

constexpr char kUsage[] =
    "Usage: vqtrain [options] TRAINING-SET CODEBOOK-OUT [PARTITIONING-OUT]\n"
    "Trains a codebook on a training set with the generalised Lloyd algorithm\n"
    "(k-means on the set's integers, weighted by its frequencies).\n"
    "\n"
    "  -k N      codebook size; the initial code vectors are N distinct training\n"
    "            vectors chosen with the seed\n"
    "  -i FILE   initial codebook instead of -k\n"
    "  -I N      at most N codebook updates (default 100)\n"
    "  -t X      stop when the distortion falls by no more than X of itself\n"
    "            (default 0.0001)\n"
    "  -s N      seed for -k (default 1)\n"
    "  -j N      threads (default: the usable processors)\n"
    "  -q        no progress report\n"
    "  --stream  stream the set from its file even when it would fit in memory\n"
    "  --help    print this text\n"
    "  --version print the version\n"
    "\n"
    "A name is looked for as given, then with .ts, .cb and .pa appended. The\n"
    "codebook, and the partitioning when it is named, replace their files only\n"
    "once complete; on an error nothing is written and the status is 255.\n";

[[noreturn]] void Refuse(const char* format, const char* value) {
  ErrorMessage(format, value);
  ErrorMessage("Try 'vqtrain --help' for more.\n");
  ExitProcessing(-1);
}

// A whole decimal number between `low` and `high`.
long long WholeNumber(const char* text, long long low, long long high, const char* refusal) {
  if (text[0] == '\0' || std::strchr("+-0123456789", text[0]) == nullptr) Refuse(refusal, text);
  errno = 0;
  char* end = nullptr;
  const long long value = std::strtoll(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < low || value > high) Refuse(refusal, text);
  return value;
}

}  // namespace

const char* TrainUsage() { return kUsage; }

TrainCommand ParseTrainCommand(int argc, char** argv) {
  // --help and --version answer before anything else is looked at.
  for (int i = 1; i < argc && std::strcmp(argv[i], "--") != 0; ++i) {
    if (std::strcmp(argv[i], "--help") == 0) {
      std::fputs(kUsage, stdout);
      ExitProcessing(0);
    }
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("vqtrain %s\n", VQPEEK_VERSION_STRING);
      ExitProcessing(0);
    }
  }
  TrainCommand command;
  std::vector<const char*> names;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!options || arg[0] != '-' || arg[1] == '\0') {
      names.push_back(arg);
      continue;
    }
    if (std::strcmp(arg, "--") == 0) {
      options = false;
      continue;
    }
    if (std::strcmp(arg, "--stream") == 0) {
      command.Stream = true;
      continue;
    }
    if (std::strcmp(arg, "-q") == 0) {
      command.Quiet = true;
      continue;
    }
    const char key = arg[1];
    if (std::strchr("kiItsj", key) == nullptr) {
      Refuse("ERROR: Unknown option %s.\n", arg);
    }
    // The value follows the letter, or is the next argument.
    const char* value = arg + 2;
    if (value[0] == '\0') {
      if (i + 1 >= argc) Refuse("ERROR: The option %s needs a value.\n", arg);
      value = argv[++i];
    }
    switch (key) {
      case 'k':
        command.CodebookSize = static_cast<int>(WholeNumber(
            value, 1, 2147483647, "ERROR: -k needs a codebook size of 1 or more, not %s.\n"));
        break;
      case 'i':
        command.InitialFile = value;
        break;
      case 'I':
        command.Updates = static_cast<int>(WholeNumber(
            value, 0, 2147483647, "ERROR: -I needs a number of updates of 0 or more, not %s.\n"));
        break;
      case 't': {
        errno = 0;
        char* end = nullptr;
        const double threshold = std::strtod(value, &end);
        if (value[0] == '\0' || *end != '\0' || errno != 0 || !std::isfinite(threshold) ||
            threshold < 0) {
          Refuse("ERROR: -t needs a threshold of 0 or more, not %s.\n", value);
        }
        command.Threshold = threshold;
        break;
      }
      case 's': {
        if (value[0] < '0' || value[0] > '9') {
          Refuse("ERROR: -s needs a seed from 0 to 18446744073709551615, not %s.\n", value);
        }
        errno = 0;
        char* end = nullptr;
        command.Seed = std::strtoull(value, &end, 10);
        if (errno != 0 || *end != '\0') {
          Refuse("ERROR: -s needs a seed from 0 to 18446744073709551615, not %s.\n", value);
        }
        break;
      }
      case 'j':
        command.Threads = static_cast<int>(
            WholeNumber(value, 1, 4096, "ERROR: -j needs 1 to 4096 threads, not %s.\n"));
        break;
    }
  }
  if (names.size() < 2 || names.size() > 3) {
    std::fputs(kUsage, stderr);
    ExitProcessing(-1);
  }
  if ((command.CodebookSize > 0) == !command.InitialFile.empty()) {
    Refuse("%s", command.CodebookSize > 0
                     ? "ERROR: -k and -i exclude each other: give one of them.\n"
                     : "ERROR: Give the codebook size with -k, or an initial codebook with -i.\n");
  }
  command.TrainingSet = names[0];
  command.CodebookOut = names[1];
  if (names.size() == 3) command.PartitioningOut = names[2];
  return command;
}
