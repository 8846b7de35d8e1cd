// What the sources of the cb module share and callers do not see.
#ifndef VQPEEK_MODULES_CB_CB_INTERNAL_H_
#define VQPEEK_MODULES_CB_CB_INTERNAL_H_

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include "memory_limit.h"
#include "vqpeek/cb.h"
#include "vqpeek/file.h"
#include "vqpeek/interfc.h"

// Compiles a function once for each of these x86 vector extensions and
// picks the clone the processor runs when the program loads; elsewhere the
// function is compiled once, and so it is under ThreadSanitizer, whose
// instrumented resolvers would run before its runtime is set up.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__SANITIZE_THREAD__)
#define VQ_WIDE_VECTOR_CLONES __attribute__((target_clones("avx512f", "avx2", "default")))
#else
#define VQ_WIDE_VECTOR_CLONES
#endif

// Tells the compiler that a pointer parameter is the only way to what it
// points to, so that loops over several arrays vectorise without checks.
#if defined(__GNUC__)
#define VQ_RESTRICT __restrict__
#else
#define VQ_RESTRICT
#endif

namespace cb_internal {

// The line of minus signs that ends the head of every file the library
// writes (set files, partitionings, graphs).
inline constexpr char kSeparatorLine[] = "-------------------------------------";

// The longest vector name a set file may hold, its NUL included: names
// live in the 80-byte text fields of the file's records.
inline constexpr int kMaxNameBytes = 80;

// The text of a partitioning file: the head, then one index line per
// vector, built in blocks of about 1 MB and written to `file` in few calls.
class PartitioningText {
 public:
  PartitioningText(FileReplacement& file, const char* version, int partitions, int vectors,
                   const char* method);
  // The line of a vector in `partition` (counted from 0) with its name, if any.
  void Add(int partition, const char* name);
  // Writes what is left; the caller commits the file.
  void Finish();

 private:
  static constexpr std::size_t kBlock = 1 << 20;
  FileReplacement& file_;
  std::string lines_;
};

// Copies the header fields (everything but the nodes) of one set to another.
void CopyHeader(const Codebook& from, Codebook* to);

// The first decimal digit of a set file's version line, or -1 when it has
// none.
int VersionDigit(const char* versionLine);

// Closes a stream when its owner goes, also when a fatal exit unwinds.
struct FileCloser {
  void operator()(FILE* file) const noexcept { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// Converts a real value to int32 by truncation toward zero, the library's
// rounding step after adding 0.5. Values outside the int32 range are clamped
// and NaN gives 0, so hostile data never reaches an undefined conversion.
// Inline, as RoundedMean: the readers take it for every vector.
inline int TruncateToInt(double value) {
  if (std::isnan(value)) return 0;
  if (value >= 2147483647.0) return std::numeric_limits<int>::max();
  if (value <= -2147483648.0) return std::numeric_limits<int>::min();
  return static_cast<int>(value);
}

// The rounded mean of a vector: sum / count + 0.5, truncated toward zero
// (so -2.7 gives -2 and 2.5 gives 3). A vector without elements has mean 0.
inline int RoundedMean(std::int64_t sum, int count) {
  if (count == 0) return 0;
  return TruncateToInt(static_cast<double>(sum) / static_cast<double>(count) + 0.5);
}

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
// new element block. A reader that sets every element at once may ask for
// the elements without `zeroElements`: they are then left as the memory
// holds them. Fatal: "ERROR: allocate CB->Book\n", "ERROR: Not enough
// memory for new vector element.\n".
void AllocateNodes(Codebook* CB, int n, int dim, bool zeroElements = true);

// Makes the pages of the `bytes` bytes at `data` present and writable in one
// call where the system offers that (Linux), far cheaper than a fault at the
// first write to each page; elsewhere it does nothing. What the memory holds
// does not change. Only the whole pages of `pageSize` bytes (0: the
// system's page size) inside the range are asked for; returns their bytes,
// 0 where the system has no such call.
std::size_t PrefaultPages(void* data, std::size_t bytes, std::size_t pageSize = 0);

// A new NUL-terminated copy of `text`, or null for a null text.
NamePtr CopyName(const char* text);

// `count` partition totals, each with `dim` zero sums. Throws std::bad_alloc.
std::unique_ptr<PartitionSum[]> NewPartitionSums(int count, int dim);

// Vectors per part of the bulk moves' totals.
inline constexpr std::int64_t kBulkPartSize = 1 << 12;

// The moves of a run of ChangePartition(TS, P, target[i], i) for i = 0 ..
// TSsize-1 in ascending order, made in bulk: training vector i moves to
// target[i] unless it is there already (with `everyVector`, it moves in any
// case, to the head of its own list). Map, the lists, Prev and every total
// come out exactly as the run leaves them. The totals are taken in parts of
// `partSize` consecutive vectors on `threads` threads (0: ThreadsFor);
// `prepare(begin, end)`, when given, is called first for each part, on the
// thread that takes the part's totals, and fills target[begin .. end-1]
// with partitions of `P` (or -1). Without it every target is checked
// before anything changes. `TS` must be the set `P` was made for.
// Fatal: "ERROR: ChangePartition: invalid vector %d or partition %d.\n" for
// the first target outside -1 .. PartitionCount-1.
void MoveInBulk(const Codebook& TS, Partitioning* P, int* target, bool everyVector,
                const std::function<void(int, int)>& prepare = nullptr,
                std::int64_t partSize = kBulkPartSize, int threads = 0);

// AssignToNearest on `workers` workers where no visitor is given (0: as
// many as pay, up to 4), so that tests can run the shared path on any
// machine.
void AssignToNearestOn(SetReader& reader, const Codebook& CB, PartitionTotals* totals,
                       const std::function<void(const SetBatch&, const int* chosen)>& visit,
                       int workers);

// --- Centroids (centroid_sums.cpp) ------------------------------------------
// Every centroid of the library comes from these two: the wrapping sums of
// a partition, and their rounding.

// Adds `freq` times `row` to the sums of a partition: each product formed
// in 64 bits, each sum wrapping as the hardware does, so that the sums hold
// the same bits in any order of the additions. The row's elements are ints
// or the unsigned 8- or 16-bit elements of a set held at its file's width.
template <typename Element>
inline void AddWeightedRow(std::int64_t* VQ_RESTRICT sums, const Element* VQ_RESTRICT row, int dim,
                           int freq) {
  for (int e = 0; e < dim; ++e) sums[e] = WrapAdd(sums[e], WrapMul(freq, row[e]));
}

// Takes back what AddWeightedRow(sums, row, dim, freq) added, bit for bit:
// a vector that leaves a partition.
template <typename Element>
inline void SubtractWeightedRow(std::int64_t* VQ_RESTRICT sums, const Element* VQ_RESTRICT row,
                                int dim, int freq) {
  for (int e = 0; e < dim; ++e) sums[e] = WrapSub(sums[e], WrapMul(freq, row[e]));
}

// The rounded centroid of a partition with these sums and total frequency
// `freq` (>= 1): every element sum / freq + 0.5, truncated toward zero, into
// `centroid`. Returns the rounded mean of the centroid.
int RoundCentroid(const std::int64_t* sums, int freq, int dim, int* centroid);

// Writes the rounded centroid of the partition with these totals into
// `node` (RoundCentroid), Freq = CCFreq, VectorMean the rounded mean of the
// centroid. CCFreq must be >= 1.
void CentroidOf(const PartitionSum& totals, int dim, CodebookNode* node);

}  // namespace cb_internal

#endif  // VQPEEK_MODULES_CB_CB_INTERNAL_H_
