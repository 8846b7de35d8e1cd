// Writes the data of the benchmarks. The first form writes a training set
// of N vectors of 4x4 one-byte elements, either clustered around K random
// centres or uniform, with frequencies 1 to 4. The second writes a codebook
// of M vectors taken from such a set at evenly spaced places; the third the
// partitioning of the set by nearest code vector of a codebook. The same
// arguments always give the same file.
//
// Usage: make_bench_data FILE N clustered|uniform [K [SEED]]
//        make_bench_data codebook SET_FILE CODEBOOK_FILE M
//        make_bench_data partitioning SET_FILE CODEBOOK_FILE PARTITIONING_FILE
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "vqpeek/cb.h"

namespace {

constexpr int kBlockSize = 4;
constexpr int kDim = kBlockSize * kBlockSize;
constexpr double kSpread = 12.0;  // standard deviation around a centre

int Usage() {
  std::fprintf(stderr,
               "usage: make_bench_data FILE N clustered|uniform [K [SEED]]\n"
               "       make_bench_data codebook SET_FILE CODEBOOK_FILE M\n"
               "       make_bench_data partitioning SET_FILE CODEBOOK_FILE PARTITIONING_FILE\n");
  return 2;
}

// A codebook of `size` vectors of the set, from evenly spaced places.
int WriteBenchCodebook(const char* setPath, const char* codebookPath, int size) {
  Codebook set;
  ReadCodebook(setPath, &set);
  if (size < 1 || set.Booksize < 1) return Usage();
  Codebook codebook;
  CreateNewCodebook(&codebook, size, &set);
  std::snprintf(codebook.GenerationMethod, sizeof codebook.GenerationMethod,
                "%d vectors of the set, evenly spaced", size);
  for (int k = 0; k < size; ++k) {
    const int i = static_cast<int>(static_cast<long long>(k) * set.Booksize / size);
    CopyNode(&set.Book[i], &codebook.Book[k], VectorDimension(set));
    codebook.Book[k].Freq = 0;
  }
  WriteCodebook(codebookPath, &codebook, 1);
  return 0;
}

// The partitioning of the set by nearest code vector.
int WriteBenchPartitioning(const char* setPath, const char* codebookPath,
                           const char* partitioningPath) {
  Codebook set;
  ReadCodebook(setPath, &set);
  Codebook codebook;
  ReadCodebook(codebookPath, &codebook);
  Partitioning partitioning;
  CreateNewPartitioning(&partitioning, &set, codebook.Booksize);
  GenerateOptimalPartitioningGeneral(&set, &codebook, &partitioning, 0);
  std::snprintf(partitioning.GenerationMethod, sizeof partitioning.GenerationMethod,
                "nearest code vector");
  WritePartitioning(partitioningPath, &partitioning, &set, 1);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "codebook") == 0) {
    return WriteBenchCodebook(argv[2], argv[3], std::atoi(argv[4]));
  }
  if (argc == 5 && std::strcmp(argv[1], "partitioning") == 0) {
    return WriteBenchPartitioning(argv[2], argv[3], argv[4]);
  }
  if (argc < 4) return Usage();
  const std::string path = argv[1];
  const long long count = std::atoll(argv[2]);
  const bool clustered = std::strcmp(argv[3], "clustered") == 0;
  if (!clustered && std::strcmp(argv[3], "uniform") != 0) return Usage();
  const int centres = argc > 4 ? std::atoi(argv[4]) : 256;
  const unsigned seed = argc > 5 ? static_cast<unsigned>(std::atoll(argv[5])) : 1;
  if (count < 0 || count > 100000000 || centres < 1) return Usage();

  // Each distribution draws from its own engine through explicit integer
  // arithmetic, so the data do not depend on the standard library's
  // distribution algorithms.
  std::mt19937 random(seed);
  auto uniformByte = [&random] { return static_cast<int>(random() % 256); };
  // Sum of four uniform values: a cheap bell curve around 0.
  auto noise = [&random] {
    double sum = 0;
    for (int k = 0; k < 4; ++k) sum += static_cast<double>(random()) / 4294967296.0 - 0.5;
    return sum * kSpread * 1.73;
  };

  std::vector<int> centreElements(static_cast<std::size_t>(centres) * kDim);
  for (int& e : centreElements) e = uniformByte();

  Codebook set;
  char method[kTextFieldSize];
  if (clustered) {
    std::snprintf(method, sizeof method, "clustered, K=%d, seed %u", centres, seed);
  } else {
    std::snprintf(method, sizeof method, "uniform, seed %u", seed);
  }
  CreateNewTrainingSet(&set, static_cast<int>(count), kBlockSize, kBlockSize, 1, 0, 255, 0, method);
  for (long long i = 0; i < count; ++i) {
    CodebookNode& node = set.Book[i];
    const int* centre = &centreElements[(random() % static_cast<unsigned>(centres)) * kDim];
    std::int64_t sum = 0;
    for (int e = 0; e < kDim; ++e) {
      const int value =
          clustered ? std::clamp(static_cast<int>(centre[e] + noise()), 0, 255) : uniformByte();
      node.Vector[e] = value;
      sum += value;
    }
    node.VectorMean = static_cast<int>(static_cast<double>(sum) / kDim + 0.5);
    node.Freq = 1 + static_cast<int>(random() % 4);
  }
  WriteCodebook(path.c_str(), &set, 1);
  FreeCodebook(&set);
  return 0;
}
