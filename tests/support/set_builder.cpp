#include "set_builder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

namespace vqtest {

void BuildSet(Codebook* CB, int kind, int blockSizeX, int blockSizeY,
              const std::vector<NodeSpec>& nodes, int bytesPerElement, const std::string& method,
              int maxValue) {
  const int count = static_cast<int>(nodes.size());
  CreateNewTrainingSet(CB, count, blockSizeX, blockSizeY, bytesPerElement, 0, maxValue, 0,
                       method.c_str());
  if (kind != kTrainingSetFile) SetVerString(CB->Versionstr, kind);
  const int dim = blockSizeX * blockSizeY;
  // Wraps as the reader's 32-bit total does.
  std::uint32_t total = 0;
  for (int i = 0; i < count; ++i) {
    CodebookNode& node = CB->Book[i];
    EXPECT_EQ(static_cast<int>(nodes[i].elements.size()), dim) << "node " << i;
    std::int64_t sum = 0;
    for (int e = 0; e < dim && e < static_cast<int>(nodes[i].elements.size()); ++e) {
      node.Vector[e] = nodes[i].elements[e];
      sum += nodes[i].elements[e];
    }
    node.Freq = nodes[i].freq;
    node.VectorMean = static_cast<int>(static_cast<double>(sum) / dim + 0.5);
    if (!nodes[i].name.empty()) {
      node.Name = std::make_unique<char[]>(nodes[i].name.size() + 1);
      std::memcpy(node.Name.get(), nodes[i].name.c_str(), nodes[i].name.size() + 1);
    }
    total += static_cast<std::uint32_t>(nodes[i].freq);
  }
  CB->TotalFreq = static_cast<int>(total);
}

void WriteSet(const std::string& path, int kind, int blockSizeX, int blockSizeY,
              const std::vector<NodeSpec>& nodes, int bytesPerElement, const std::string& method) {
  Codebook set;
  BuildSet(&set, kind, blockSizeX, blockSizeY, nodes, bytesPerElement, method);
  WriteCodebook(path.c_str(), &set, 1);
}

std::vector<int> Elements(const Codebook& CB, int i) {
  const int dim = VectorDimension(CB);
  return std::vector<int>(CB.Book[i].Vector.get(), CB.Book[i].Vector.get() + dim);
}

}  // namespace vqtest
