// ReadCodebook on any bytes: version 1 and 2 set files, damaged or hostile.
// ReadFlatSet, and the set reader through a buffer and batches far smaller
// than a record, must take the same bytes the same way, and a set that
// reads must also survive being written and read back.
#include <cstdlib>
#include <cstring>

#include <cstdio>

#include "fuzz_support.h"
#include "vqpeek/cb.h"
#include "vqpeek/file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vqfuzz::Setup();
  const std::string path = vqfuzz::WriteScratch("set", data, size);
  Codebook nodes;
  FlatSet flat;
  bool readNodes = false;
  bool readFlat = false;
  vqfuzz::RunGuarded([&] {
    ReadCodebook(path.c_str(), &nodes);
    readNodes = true;
  });
  vqfuzz::RunGuarded([&] {
    ReadFlatSet(path.c_str(), &flat);
    readFlat = true;
  });
  // Through a tiny buffer, twice: both passes hand out what ReadCodebook read.
  bool readSmall = false;
  vqfuzz::RunGuarded([&] {
    SetReader reader(path.c_str(), 3, 2);
    for (int pass = 0; pass < 2; ++pass) {
      if (pass == 1) reader.Rewind();
      SetBatch batch;
      while (reader.Next(&batch)) {
        if (!readNodes) continue;
        const int dim = reader.Dimension();
        for (int k = 0; k < batch.Count; ++k) {
          const CodebookNode& node = nodes.Book[batch.First + k];
          const char* name = batch.Names != nullptr ? batch.Names[k] : nullptr;
          if (CompareVectors(node.Vector.get(), batch.Elements + static_cast<std::size_t>(k) * dim,
                             dim) != 0 ||
              node.Freq != batch.Freqs[k] || (name == nullptr) != (node.Name == nullptr) ||
              (name != nullptr && std::strcmp(name, node.Name.get()) != 0)) {
            std::abort();
          }
        }
      }
    }
    readSmall = true;
  });
  if (readNodes != readFlat || readNodes != readSmall) std::abort();
  if (readNodes) {
    const int dim = VectorDimension(nodes);
    if (flat.Header.Booksize != nodes.Booksize || flat.Header.TotalFreq != nodes.TotalFreq) {
      std::abort();
    }
    for (int i = 0; i < nodes.Booksize; ++i) {
      const char* name = flat.Names != nullptr ? flat.Names[i].get() : nullptr;
      const char* expected = nodes.Book[i].Name.get();
      if (CompareVectors(nodes.Book[i].Vector.get(),
                         flat.Elements.get() + static_cast<std::size_t>(i) * dim, dim) != 0 ||
          nodes.Book[i].Freq != flat.Freqs[i] || (name == nullptr) != (expected == nullptr) ||
          (name != nullptr && std::strcmp(name, expected) != 0)) {
        std::abort();
      }
    }
  }
  vqfuzz::RunGuarded([&] {
    if (!readNodes) return;
    Codebook& set = nodes;
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
