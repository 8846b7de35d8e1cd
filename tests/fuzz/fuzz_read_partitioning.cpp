// ReadPartitioning on any bytes against a small training set. A partitioning
// that reads must keep every invariant and survive a write and a read back,
// and the reader of the labels alone must agree with it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "vqpeek/cb.h"
#include "vqpeek/file.h"

namespace {

// Six vectors of three elements, some named, with frequencies 0 to 3.
const Codebook& TrainingSet() {
  static Codebook set;
  if (set.Book == nullptr) {
    CreateNewTrainingSet(&set, 6, 3, 1, 1, 0, 255, 0, "");
    for (int i = 0; i < 6; ++i) {
      for (int e = 0; e < 3; ++e) set.Book[i].Vector[e] = (i * 41 + e * 7) % 256;
      set.Book[i].Freq = i % 4;
      if (i % 2 == 1) {
        set.Book[i].Name = std::make_unique<char[]>(3);
        std::snprintf(set.Book[i].Name.get(), 3, "v%d", i);
      }
    }
  }
  return set;
}

void Check(bool condition) {
  if (!condition) std::abort();
}

// Every member list, count and total agrees with Map.
void CheckInvariants(const Codebook& TS, const Partitioning& P) {
  std::vector<int> seen(static_cast<std::size_t>(P.TSsize), 0);
  for (int k = 0; k < P.AllocatedPartitions; ++k) {
    int size = 0;
    int freq = 0;
    std::vector<long long> sums(static_cast<std::size_t>(P.VectorDim), 0);
    for (int v = P.First[k]; v != -1; v = P.Next[v]) {
      Check(v >= 0 && v < P.TSsize && P.Map[v] == k && seen[v]++ == 0);
      ++size;
      freq += TS.Book[v].Freq;
      for (int e = 0; e < P.VectorDim; ++e) sums[e] += 1LL * TS.Book[v].Freq * TS.Book[v].Vector[e];
    }
    Check(P.PartitionSize[k] == size && P.PartitionSums[k].CCFreq == freq);
    for (int e = 0; e < P.VectorDim; ++e) Check(P.PartitionSums[k].VectorSum[e] == sums[e]);
  }
  for (int v = 0; v < P.TSsize; ++v) Check(seen[v] == 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vqfuzz::Setup();
  const Codebook& TS = TrainingSet();
  if (vqfuzz::ClaimsManyPartitions(std::string(reinterpret_cast<const char*>(data), size))) {
    return 0;
  }
  const std::string path = vqfuzz::WriteScratch("parts", data, size);
  std::vector<int> map;
  bool recordRead = false;
  vqfuzz::RunGuarded([&] {
    Partitioning P;
    ReadPartitioning(path.c_str(), &P, &TS);
    recordRead = true;
    map.assign(P.Map.get(), P.Map.get() + P.TSsize);
    CheckInvariants(TS, P);
    const std::string copy = path + ".copy";
    std::remove(copy.c_str());
    WritePartitioning(copy.c_str(), &P, &TS, 1);
    Partitioning back;
    ReadPartitioning(copy.c_str(), &back, &TS);
    Check(back.PartitionCount == P.PartitionCount);
    Check(std::memcmp(back.Map.get(), P.Map.get(), sizeof(int) * P.TSsize) == 0);
  });
  // The reader that holds only the labels takes the same files to the same
  // partitions.
  std::vector<int> labels;
  bool labelsRead = false;
  vqfuzz::RunGuarded([&] {
    char method[kTextFieldSize] = {};
    ReadPartitionLabels(path.c_str(), TS.Booksize, &labels, method);
    labelsRead = true;
  });
  Check(labelsRead == recordRead && (!recordRead || labels == map));
  return 0;
}
