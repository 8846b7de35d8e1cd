// Regenerates the sample files of examples/:
//
//   blocks.ts  a training set of the 4x4 blocks of a small synthetic
//              picture, equal blocks merged into one vector with their count
//              as frequency, blocks that hold an edge named after their place;
//   blocks.cb  a codebook of 8 vectors for it, made by weighted k-means;
//   blocks.pa  a partitioning of blocks.ts into the top, middle and bottom
//              third of the picture (where each block first occurs);
//   old.ts     five of those blocks in the old version-1 format, which the
//              library reads but no longer writes, so its bytes are put
//              together here.
//
// Usage: make_examples [DIRECTORY]   (default: the current directory)
// Everything is computed from fixed numbers, so the files come out the same
// on every run.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vqpeek/cb.h"

namespace {

constexpr int kBlock = 4;
constexpr int kDim = kBlock * kBlock;
constexpr int kWidth = 32;
constexpr int kHeight = 24;
constexpr int kCodebookSize = 8;
constexpr int kIterations = 10;

using Block = std::vector<int>;

// A picture of a house: a sky that brightens towards the ground, a roof,
// the front with a lit window and a door, and a striped meadow. The edges
// do not follow the block grid, so many blocks hold one.
int Pixel(int x, int y) {
  if (x >= 11 && x < 15 && y >= 13 && y < 16) return 240;                            // window
  if (x >= 19 && x < 22 && y >= 16 && y < 21) return 30;                             // door
  if (x >= 6 && x < 26 && y >= 10 && y < 21) return 90;                              // front
  if (y >= 3 && y < 10 && x >= 16 - 2 * (y - 2) && x < 16 + 2 * (y - 2)) return 60;  // roof
  if (y >= 21) return 112 + 8 * (((x + y) / 3) % 2);                                 // meadow
  return 150 + 4 * (y / 2);                                                          // sky
}

struct SetEntry {
  Block elements;
  int freq = 0;
  std::string name;
  int firstY = 0;  // picture row of the block's first place
};

// The distinct blocks in the order of their first place (row by row).
std::vector<SetEntry> PictureBlocks() {
  std::vector<SetEntry> entries;
  std::map<Block, std::size_t> seen;
  for (int by = 0; by < kHeight; by += kBlock) {
    for (int bx = 0; bx < kWidth; bx += kBlock) {
      Block block;
      for (int y = 0; y < kBlock; ++y) {
        for (int x = 0; x < kBlock; ++x) block.push_back(Pixel(bx + x, by + y));
      }
      const auto found = seen.find(block);
      if (found != seen.end()) {
        ++entries[found->second].freq;
        continue;
      }
      SetEntry entry{block, 1, "", by};
      const auto [low, high] = std::minmax_element(block.begin(), block.end());
      if (*high - *low > 40) entry.name = "edge@" + std::to_string(bx) + "," + std::to_string(by);
      seen.emplace(block, entries.size());
      entries.push_back(entry);
    }
  }
  return entries;
}

std::int64_t SquaredDistance(const Block& a, const std::vector<double>& b) {
  double sum = 0;
  for (int e = 0; e < kDim; ++e) sum += (a[e] - b[e]) * (a[e] - b[e]);
  return static_cast<std::int64_t>(sum);
}

// Weighted k-means from code vectors spread evenly over the set.
std::vector<SetEntry> Cluster(const std::vector<SetEntry>& set) {
  std::vector<std::vector<double>> centres;
  for (int k = 0; k < kCodebookSize; ++k) {
    const Block& start = set[k * set.size() / kCodebookSize].elements;
    centres.emplace_back(start.begin(), start.end());
  }
  std::vector<int> counts(kCodebookSize);
  for (int iteration = 0; iteration < kIterations; ++iteration) {
    std::vector<std::vector<double>> sums(kCodebookSize, std::vector<double>(kDim));
    std::fill(counts.begin(), counts.end(), 0);
    for (const SetEntry& entry : set) {
      int best = 0;
      std::int64_t bestDistance = std::numeric_limits<std::int64_t>::max();
      for (int k = 0; k < kCodebookSize; ++k) {
        const std::int64_t d = SquaredDistance(entry.elements, centres[k]);
        if (d < bestDistance) {
          bestDistance = d;
          best = k;
        }
      }
      counts[best] += entry.freq;
      for (int e = 0; e < kDim; ++e) sums[best][e] += entry.freq * entry.elements[e];
    }
    for (int k = 0; k < kCodebookSize; ++k) {
      if (counts[k] == 0) continue;  // an empty cluster keeps its centre
      for (int e = 0; e < kDim; ++e) centres[k][e] = sums[k][e] / counts[k];
    }
  }
  std::vector<SetEntry> codebook;
  for (int k = 0; k < kCodebookSize; ++k) {
    SetEntry entry;
    for (int e = 0; e < kDim; ++e) entry.elements.push_back(static_cast<int>(centres[k][e] + 0.5));
    entry.freq = counts[k];
    codebook.push_back(entry);
  }
  return codebook;
}

// Fills `set` (already made with entries.size() nodes) from the entries.
void FillNodes(Codebook* set, const std::vector<SetEntry>& entries) {
  for (std::size_t i = 0; i < entries.size(); ++i) {
    CodebookNode& node = set->Book[i];
    std::int64_t sum = 0;
    for (int e = 0; e < kDim; ++e) {
      node.Vector[e] = entries[i].elements[e];
      sum += entries[i].elements[e];
    }
    node.VectorMean = static_cast<int>(static_cast<double>(sum) / kDim + 0.5);
    node.Freq = entries[i].freq;
    if (!entries[i].name.empty()) {
      node.Name = std::make_unique<char[]>(entries[i].name.size() + 1);
      std::memcpy(node.Name.get(), entries[i].name.c_str(), entries[i].name.size() + 1);
    }
  }
}

// The version-1 layout: the old head, then per vector one byte per element
// and the frequency in two bytes, low byte first.
void WriteVersionOne(const std::string& path, const std::vector<SetEntry>& entries) {
  std::string bytes = "VQ TRAINING SET 1.0\n";
  for (const int field : {kBlock, kBlock, static_cast<int>(entries.size()), 0, 0, 0, 0, 255}) {
    bytes += std::to_string(field) + "\n";
  }
  bytes += std::string(37, '-') + "\n";
  for (const SetEntry& entry : entries) {
    for (const int e : entry.elements) bytes += static_cast<char>(e);
    bytes += static_cast<char>(entry.freq & 0xFF);
    bytes += static_cast<char>((entry.freq >> 8) & 0xFF);
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

int main(int argc, char** argv) {
  const std::string dir = argc > 1 ? std::string(argv[1]) + "/" : "";
  const std::vector<SetEntry> blocks = PictureBlocks();

  Codebook trainingSet;
  CreateNewTrainingSet(&trainingSet, static_cast<int>(blocks.size()), kBlock, kBlock, 1, 0, 255, 0,
                       "4x4 blocks of a 32x24 picture");
  FillNodes(&trainingSet, blocks);
  WriteCodebook((dir + "blocks.ts").c_str(), &trainingSet, 1);

  Codebook codebook;
  CreateNewCodebook(&codebook, kCodebookSize, &trainingSet);
  std::snprintf(codebook.GenerationMethod, sizeof codebook.GenerationMethod,
                "k-means, %d iterations", kIterations);
  FillNodes(&codebook, Cluster(blocks));
  WriteCodebook((dir + "blocks.cb").c_str(), &codebook, 1);

  Partitioning thirds;
  CreateNewPartitioning(&thirds, &trainingSet, 3);
  std::snprintf(thirds.GenerationMethod, sizeof thirds.GenerationMethod,
                "top, middle and bottom third of the picture");
  for (std::size_t i = 0; i < blocks.size(); ++i) {
    ChangePartition(&trainingSet, &thirds, blocks[i].firstY * 3 / kHeight, static_cast<int>(i));
  }
  WritePartitioning((dir + "blocks.pa").c_str(), &thirds, &trainingSet, 1);
  FreePartitioning(&thirds);

  WriteVersionOne(dir + "old.ts",
                  std::vector<SetEntry>(blocks.begin(),
                                        blocks.begin() + std::min<std::size_t>(5, blocks.size())));
  FreeCodebook(&codebook);
  FreeCodebook(&trainingSet);
  return 0;
}
