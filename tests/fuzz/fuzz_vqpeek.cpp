// The whole vqpeek run on a fuzzed command line with fuzzed files: the input
// gives the arguments (options, the names of two files, other text) and the
// contents of the files "a" and "b" in the scratch directory, which is the
// working directory, so that name completion and kind detection take part.
// A first file that begins with "GEN" instead describes well-formed files
// that the library's writers make: a set of any shape (long vectors among
// them) and a second file that fits it or not (a codebook of another
// dimension, a partitioning, another set).
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "vqpeek/cb.h"

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

// The elements of a generated file: values of `bytes` bytes taken from the
// input in turn.
std::vector<int> Elements(vqfuzz::Splitter& input, std::size_t count, int bytes) {
  std::vector<int> elements(count);
  for (int& e : elements) {
    std::uint32_t value = 0;
    for (int b = 0; b < bytes; ++b) value = (value << 8) | input.Byte();
    e = static_cast<int>(value);
  }
  return elements;
}

// A set or codebook of `count` vectors of bx x by elements of `bytes` bytes,
// written as "name" by the library's writer, names taken from the input
// when `named`.
void WriteGeneratedSet(vqfuzz::Splitter& input, const char* name, int kind, int bx, int by,
                       int bytes, int count, bool named) {
  Codebook header;
  SetVerString(header.Versionstr, kind);
  header.BlockSizeX = bx;
  header.BlockSizeY = by;
  header.Booksize = count;
  header.BytesPerElement = bytes;
  header.MaxValue = bytes == 4 ? 2147483647 : (1 << (8 * bytes)) - 1;
  const std::vector<int> elements =
      Elements(input, static_cast<std::size_t>(count) * static_cast<std::size_t>(bx * by), bytes);
  std::vector<int> freqs(static_cast<std::size_t>(count));
  for (int& f : freqs) f = input.Byte() % 5;
  std::vector<std::string> names;
  std::vector<const char*> pointers;
  for (int i = 0; named && i < count; ++i) names.push_back(input.Part(20));
  for (std::string& text : names) {
    text.erase(std::remove(text.begin(), text.end(), '\0'), text.end());
    pointers.push_back(text.empty() ? nullptr : text.c_str());
  }
  vqfuzz::RunGuarded([&] {
    WriteFlatSet((vqfuzz::ScratchDirectory() + "/" + name).c_str(), &header, elements.data(),
                 freqs.data(), named ? pointers.data() : nullptr, 1);
  });
}

// The files "a" and "b" from the parameters in `input`: a training set of
// up to 2^16 elements in all, with vectors of up to 4096 x 16 elements, and
// a codebook (of the set's dimension or another), a partitioning or a set.
void WriteGeneratedFiles(vqfuzz::Splitter& input) {
  const int bx = 1 + ((input.Byte() << 8) | input.Byte()) % 4096;
  const int by = 1 + input.Byte() % 16;
  const int bytes = 1 + input.Byte() % 4;
  const int most = std::max(1, (1 << 16) / (bx * by));
  const int count = std::min(most, static_cast<int>(input.Byte() % 40));
  const bool named = input.Byte() % 2 == 1;
  WriteGeneratedSet(input, "a", kTrainingSetFile, bx, by, bytes, count, named);
  switch (input.Byte() % 4) {
    case 0: {  // a codebook of the set's dimension
      WriteGeneratedSet(input, "b", kCodebookFile, bx, by, bytes,
                        std::min(most, 1 + input.Byte() % 8), false);
      break;
    }
    case 1: {  // a codebook of another dimension, shorter or longer
      const int cx = 1 + input.Byte() % 64;
      const int cy = 1 + input.Byte() % 64;
      WriteGeneratedSet(input, "b", kCodebookFile, cx, cy, bytes,
                        std::min(std::max(1, (1 << 16) / (cx * cy)), 1 + input.Byte() % 8), false);
      break;
    }
    case 2: {  // a partitioning of the set (or of a set of another size)
      const int partitions = 1 + input.Byte() % 8;
      const int vectors = input.Byte() % 8 == 0 ? input.Byte() % 40 : count;
      Codebook sizes;
      Partitioning partitioning;
      vqfuzz::RunGuarded([&] {
        CreateNewTrainingSet(&sizes, vectors, 1, 1, 1, 0, 0, 0, "");
        CreateNewPartitioning(&partitioning, &sizes, partitions);
        for (int i = 0; i < vectors; ++i) {
          ChangePartition(&sizes, &partitioning, input.Byte() % partitions, i);
        }
        WritePartitioning((vqfuzz::ScratchDirectory() + "/b").c_str(), &partitioning, &sizes, 1);
      });
      break;
    }
    default:
      WriteGeneratedSet(input, "b", kTrainingSetFile, bx, by, bytes, count, false);
      break;
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
  if (first.compare(0, 3, "GEN") == 0) {
    vqfuzz::Splitter parameters(reinterpret_cast<const std::uint8_t*>(second.data()),
                                second.size());
    WriteGeneratedFiles(parameters);
  } else {
    if (vqfuzz::ClaimsManyPartitions(first) || vqfuzz::ClaimsManyPartitions(second)) return 0;
    vqfuzz::WriteScratch("a", first);
    vqfuzz::WriteScratch("b", second);
  }

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
