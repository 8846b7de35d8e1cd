// Writes the files of one shape of data for the memory check of the viewer
// (tests/shapes/run_shapes.sh): a training set of N vectors of BX x BY
// elements of BYTES bytes each, uniform over the width's whole range (every
// vector distinct, as far as the width allows), frequencies 1 to 4 and, with
// `named`, a short name for every vector; a codebook of its first M
// vectors; a codebook of M vectors of another dimension (smaller where the
// shape has room, else 2 x 1); and a partitioning that puts vector i into
// partition i mod M. The same arguments always give the same files.
//
// Usage: make_shape_data PREFIX BX BY BYTES named|plain N [M [SEED]]
// writes PREFIX.ts, PREFIX.cb, PREFIX.other.cb and PREFIX.pa. M defaults
// to N / 16, held between 1 and 256.
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

int Usage() {
  std::fprintf(stderr, "usage: make_shape_data PREFIX BX BY BYTES named|plain N [M [SEED]]\n");
  return 2;
}

// Names of one to five characters: the shortest names cost the most per
// byte of the file.
std::string ShortName(long long i) {
  static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string name;
  do {
    name.insert(name.begin(), kDigits[i % 36]);
    i /= 36;
  } while (i > 0);
  return name;
}

// A set of `count` rows of bx x by elements of `bytes` bytes.
struct Rows {
  Codebook header;
  std::vector<int> elements;
  std::vector<int> freqs;
};

void MakeHeader(Codebook* header, int kind, int count, int bx, int by, int bytes,
                const char* method) {
  SetVerString(header->Versionstr, kind);
  header->BlockSizeX = bx;
  header->BlockSizeY = by;
  header->Booksize = count;
  header->BytesPerElement = bytes;
  header->MinValue = bytes == 4 ? INT32_MIN : 0;
  header->MaxValue = bytes == 4 ? INT32_MAX : static_cast<int>((1LL << (8 * bytes)) - 1);
  std::snprintf(header->GenerationMethod, sizeof header->GenerationMethod, "%s", method);
}

int RandomElement(std::mt19937& random, int bytes) {
  const std::uint32_t value = random();
  if (bytes == 4) return static_cast<int>(value);
  return static_cast<int>(value & ((1u << (8 * bytes)) - 1));
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7 || argc > 9) return Usage();
  const std::string prefix = argv[1];
  const int bx = std::atoi(argv[2]);
  const int by = std::atoi(argv[3]);
  const int bytes = std::atoi(argv[4]);
  const bool named = std::strcmp(argv[5], "named") == 0;
  const long long n = std::atoll(argv[6]);
  const long long m = argc > 7 ? std::atoll(argv[7]) : std::clamp<long long>(n / 16, 1, 256);
  const unsigned seed = argc > 8 ? static_cast<unsigned>(std::atoll(argv[8])) : 1;
  if ((!named && std::strcmp(argv[5], "plain") != 0) || bx < 1 || by < 1 ||
      static_cast<long long>(bx) * by > (1 << 20) || (bytes != 1 && bytes != 2 && bytes != 4) ||
      n < 1 || n > 100000000 || m < 1 || m > n) {
    return Usage();
  }
  const std::size_t dim = static_cast<std::size_t>(bx) * static_cast<std::size_t>(by);
  std::mt19937 random(seed);

  // The training set.
  Codebook set;
  MakeHeader(&set, kTrainingSetFile, static_cast<int>(n), bx, by, bytes, "uniform");
  std::vector<int> elements(static_cast<std::size_t>(n) * dim);
  for (int& e : elements) e = RandomElement(random, bytes);
  std::vector<int> freqs(static_cast<std::size_t>(n));
  for (int& f : freqs) f = 1 + static_cast<int>(random() % 4);
  std::vector<std::string> names;
  std::vector<const char*> namePointers;
  if (named) {
    for (long long i = 0; i < n; ++i) names.push_back(ShortName(i));
    for (const std::string& name : names) namePointers.push_back(name.c_str());
  }
  WriteFlatSet((prefix + ".ts").c_str(), &set, elements.data(), freqs.data(),
               named ? namePointers.data() : nullptr, 1);

  // The codebook: the first M vectors, frequency 0.
  Codebook codebook;
  MakeHeader(&codebook, kCodebookFile, static_cast<int>(m), bx, by, bytes, "first vectors");
  const std::vector<int> zeros(static_cast<std::size_t>(m), 0);
  WriteFlatSet((prefix + ".cb").c_str(), &codebook, elements.data(), zeros.data(), nullptr, 1);

  // A codebook whose vectors have another dimension.
  int ox = bx;
  int oy = by;
  if (bx > 1) {
    ox = bx / 2;
  } else if (by > 1) {
    oy = by / 2;
  } else {
    ox = 2;
  }
  Codebook other;
  MakeHeader(&other, kCodebookFile, static_cast<int>(m), ox, oy, bytes, "another dimension");
  std::vector<int> otherElements(static_cast<std::size_t>(m) * static_cast<std::size_t>(ox) *
                                 static_cast<std::size_t>(oy));
  for (int& e : otherElements) e = RandomElement(random, bytes);
  WriteFlatSet((prefix + ".other.cb").c_str(), &other, otherElements.data(), zeros.data(), nullptr,
               1);
  elements = {};
  otherElements = {};

  // The partitioning: vector i in partition i mod M, with the set's names.
  Codebook sizes;
  CreateNewTrainingSet(&sizes, static_cast<int>(n), 1, 1, 1, 0, 0, 0, "");
  for (long long i = 0; named && i < n; ++i) {
    const std::string& name = names[static_cast<std::size_t>(i)];
    sizes.Book[i].Name = std::make_unique<char[]>(name.size() + 1);
    std::memcpy(sizes.Book[i].Name.get(), name.c_str(), name.size() + 1);
  }
  Partitioning partitioning;
  CreateNewPartitioning(&partitioning, &sizes, static_cast<int>(m));
  for (long long i = 0; i < n; ++i) {
    if (i % m != 0)
      ChangePartition(&sizes, &partitioning, static_cast<int>(i % m), static_cast<int>(i));
  }
  std::snprintf(partitioning.GenerationMethod, sizeof partitioning.GenerationMethod, "i mod %lld",
                m);
  WritePartitioning((prefix + ".pa").c_str(), &partitioning, &sizes, 1);
  FreePartitioning(&partitioning);
  FreeCodebook(&sizes);
  return 0;
}
