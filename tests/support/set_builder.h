// Builds small training sets and codebooks for tests, through the library's
// own record operations.
#ifndef VQPEEK_TESTS_SUPPORT_SET_BUILDER_H_
#define VQPEEK_TESTS_SUPPORT_SET_BUILDER_H_

#include <string>
#include <utility>
#include <vector>

#include "vqpeek/cb.h"

namespace vqtest {

struct NodeSpec {
  NodeSpec(std::vector<int> elements, int freq = 1, std::string name = "")
      : elements(std::move(elements)), freq(freq), name(std::move(name)) {}
  std::vector<int> elements;
  int freq;
  std::string name;  // empty: no name
};

// Makes `CB` a record of `kind` (kTrainingSetFile or kCodebookFile) with the
// given block size and nodes; VectorMean and TotalFreq are set as the reader
// would set them. MaxValue is 255 unless given.
void BuildSet(Codebook* CB, int kind, int blockSizeX, int blockSizeY,
              const std::vector<NodeSpec>& nodes, int bytesPerElement = 1,
              const std::string& method = "", int maxValue = 255);

// Builds the record and writes it to `path` with WriteCodebook.
void WriteSet(const std::string& path, int kind, int blockSizeX, int blockSizeY,
              const std::vector<NodeSpec>& nodes, int bytesPerElement = 1,
              const std::string& method = "");

// The elements of node i as a vector, for comparisons.
std::vector<int> Elements(const Codebook& CB, int i);

}  // namespace vqtest

#endif  // VQPEEK_TESTS_SUPPORT_SET_BUILDER_H_
