// ReadCodebook on any bytes: version 1 and 2 set files, damaged or hostile.
// A set that reads must also survive being written and read back.
#include <cstdlib>

#include <cstdio>

#include "fuzz_support.h"
#include "vqpeek/cb.h"
#include "vqpeek/file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vqfuzz::Setup();
  const std::string path = vqfuzz::WriteScratch("set", data, size);
  vqfuzz::RunGuarded([&] {
    Codebook set;
    ReadCodebook(path.c_str(), &set);
    // A version-2 file of the same contents must read back the same (a
    // method that begins with "-" is known not to: it reads as the separator).
    if (set.GenerationMethod[0] == '-') return;
    const std::string copy = path + ".copy";
    std::remove(copy.c_str());
    WriteCodebook(copy.c_str(), &set, 1);
    if (!ExistFile(copy.c_str())) return;  // refused: the header names no version-2 kind
    Codebook back;
    ReadCodebook(copy.c_str(), &back);
    const int dim = VectorDimension(set);
    if (back.Booksize != set.Booksize || back.TotalFreq != set.TotalFreq) std::abort();
    for (int i = 0; i < set.Booksize; ++i) {
      if (CompareVectors(set.Book[i].Vector.get(), back.Book[i].Vector.get(), dim) != 0 ||
          set.Book[i].Freq != back.Book[i].Freq) {
        std::abort();
      }
    }
  });
  return 0;
}
