// The whole vqpeek run on a fuzzed command line with fuzzed files: the input
// gives the arguments (options, the names of two files, other text) and the
// contents of the files "a" and "b" in the scratch directory, which is the
// working directory, so that name completion and kind detection take part.
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"

// The program's main(), compiled under this name into the target.
int VqpeekMain(int argc, char** argv);

namespace {

const char* const kOptions[] = {"-Q0", "-Q1",  "-Q2",   "-q3", "-E", "-F0", "-F1", "-F2",
                                "-B",  "-Q99", "-Q100", "-",   "-F", "-Z",  "-S"};

std::string Argument(vqfuzz::Splitter& input) {
  const std::uint8_t choice = input.Byte();
  switch (choice % 6) {
    case 0:
      return "a";
    case 1:
      return "b";
    case 2:
      return kOptions[(choice / 6) % (sizeof kOptions / sizeof kOptions[0])];
    case 3:
      return "missing";
    default:
      return input.Part(24);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vqfuzz::Setup();
  static const bool inScratch = chdir(vqfuzz::ScratchDirectory().c_str()) == 0;
  if (!inScratch) std::abort();

  vqfuzz::Splitter input(data, size);
  std::vector<std::string> arguments = {"vqpeek"};
  const int count = input.Byte() % 6;
  for (int k = 0; k < count; ++k) arguments.push_back(Argument(input));
  const std::string first = input.Part(8192);
  const std::string second = input.Rest();
  if (vqfuzz::ClaimsManyPartitions(first) || vqfuzz::ClaimsManyPartitions(second)) return 0;
  vqfuzz::WriteScratch("a", first);
  vqfuzz::WriteScratch("b", second);

  std::vector<char*> argv;
  for (std::string& argument : arguments) {
    // An argument ends at its first NUL, as on a real command line.
    argument.resize(argument.find('\0') == std::string::npos ? argument.size()
                                                             : argument.find('\0'));
    argv.push_back(argument.data());
  }
  argv.push_back(nullptr);
  vqfuzz::RunGuarded([&] { VqpeekMain(static_cast<int>(arguments.size()), argv.data()); });
  return 0;
}
