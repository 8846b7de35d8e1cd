// What the sources of the cb module share and callers do not see.
#ifndef VQPEEK_MODULES_CB_CB_INTERNAL_H_
#define VQPEEK_MODULES_CB_CB_INTERNAL_H_

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>

#include "vqpeek/cb.h"
#include "vqpeek/interfc.h"

namespace cb_internal {

// Closes a stream when its owner goes, also when a fatal exit unwinds.
struct FileCloser {
  void operator()(FILE* file) const noexcept { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Converts a real value to int32 by truncation toward zero, the library's
// rounding step after adding 0.5. Values outside the int32 range are clamped
// and NaN gives 0, so hostile data never reaches an undefined conversion.
int TruncateToInt(double value);

// The rounded mean of a vector: sum / count + 0.5, truncated toward zero
// (so -2.7 gives -2 and 2.5 gives 3). A vector without elements has mean 0.
int RoundedMean(std::int64_t sum, int count);

// Two's-complement arithmetic without undefined behaviour: running totals
// wrap the way the hardware does, and subtracting what was added restores
// them bit for bit.
inline std::int64_t WrapAdd(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) + static_cast<std::uint64_t>(b));
}
inline std::int64_t WrapSub(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) - static_cast<std::uint64_t>(b));
}
inline std::int64_t WrapMul(std::int64_t a, std::int64_t b) {
  return static_cast<std::int64_t>(static_cast<std::uint64_t>(a) * static_cast<std::uint64_t>(b));
}
inline int WrapAdd32(int a, int b) {
  return static_cast<int>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}
inline int WrapSub32(int a, int b) {
  return static_cast<int>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

// The squared Euclidean distance with the partial-distance stop: the exact
// distance when it is below `bound`, else the partial sum that reached it.
// Each square is formed without sign (a difference of two int32 can reach
// 2^32 - 1, whose square does not fit int64), and a sum beyond the int64
// range is returned as the largest value, which no bound can exceed. Inline:
// it is the inner loop of every plain search.
inline std::int64_t SquaredDistance(const int* first, const int* second, int count,
                                    std::int64_t bound) {
  constexpr std::uint64_t kMax = static_cast<std::uint64_t>(kFullDistance);
  std::uint64_t sum = 0;
  for (int i = 0; i < count; ++i) {
    const std::int64_t difference = static_cast<std::int64_t>(first[i]) - second[i];
    const std::uint64_t magnitude = difference < 0 ? 0 - static_cast<std::uint64_t>(difference)
                                                   : static_cast<std::uint64_t>(difference);
    const std::uint64_t square = magnitude * magnitude;
    if (square > kMax - sum) return kFullDistance;
    sum += square;
    if (static_cast<std::int64_t>(sum) >= bound) break;
  }
  return static_cast<std::int64_t>(sum);
}

// Node allocation: makes `CB->Book` an array of n fresh nodes (Booksize =
// AllocatedSize = n) whose vectors of `dim` zero elements are slices of one
// new element block. Fatal: "ERROR: allocate CB->Book\n", "ERROR: Not
// enough memory for new vector element.\n".
void AllocateNodes(Codebook* CB, int n, int dim);

// Sets `bytes` bytes at `data` to zero, a large block on several threads,
// while `alongside` runs on the calling thread.
void ZeroInParallel(void* data, std::size_t bytes, const std::function<void()>& alongside);

// A new NUL-terminated copy of `text`, or null for a null text.
NamePtr CopyName(const char* text);

// `count` partition totals, each with `dim` zero sums. Throws std::bad_alloc.
std::unique_ptr<PartitionSum[]> NewPartitionSums(int count, int dim);

// The memory this process can still be given: the smallest of the physical
// memory, what the system can free for it (where the system tells) and the
// process's address-space and data limits.
std::uint64_t MemoryAvailable();

// Whether `count` items of `bytesEach` bytes plus `fixedBytes` fit in
// MemoryAvailable(), computed without overflow.
bool FitsInMemory(std::uint64_t count, std::uint64_t bytesEach, std::uint64_t fixedBytes = 0);

// Refuses, before anything is allocated, a partitioning of `slots` partition
// slots of `dim` sums each (and `vectors` training vectors) that the machine
// cannot hold. Fatal: "ERROR: Not enough memory for the partitioning.\n".
void RequirePartitionMemory(int slots, int dim, int vectors);

// Writes the rounded centroid of the partition with these totals into
// `node`: every element sum / CCFreq + 0.5 truncated toward zero, Freq =
// CCFreq, VectorMean the rounded mean of the centroid. CCFreq must be >= 1.
void CentroidOf(const PartitionSum& totals, int dim, CodebookNode* node);

}  // namespace cb_internal

#endif  // VQPEEK_MODULES_CB_CB_INTERNAL_H_
