// Exact nearest-vector search under the squared Euclidean distance, for
// many training vectors at once.
//
// The search rule: the start candidate keeps its place unless a code vector
// is strictly nearer; among equally near other code vectors the lowest index
// wins. For one training vector that is: the start candidate when its
// distance equals the minimum, else the lowest index at the minimum, with
// the minimum as the best distance.
//
// The fast paths compute every distance exactly (integer arithmetic in lanes
// chosen by the value range, so nothing can overflow) and apply that rule,
// so every path gives the results of the plain scan with its partial-
// distance stop, bit for bit. The path is picked at run time from what the
// processor offers and what the data's range allows.
#ifndef VQPEEK_MODULES_CB_NEAREST_SEARCH_H_
#define VQPEEK_MODULES_CB_NEAREST_SEARCH_H_

#include <cstddef>
#include <cstdint>

#include "vqpeek/cb.h"

namespace cb_internal {

// The training vectors a search reads: the nodes of a record, or the rows of
// a flat array of `dim` elements each, stored as 32-bit integers or at the
// width of a set file (unsigned 8 or 16 bits). A record converts to it, so
// callers pass their records as they are. The searches read narrow rows
// where they lie, one row at a time widened into a buffer of the caller's.
class VectorRows {
 public:
  VectorRows(const Codebook& set) : nodes_(set.Book.get()) {}  // NOLINT: implicit by design
  VectorRows(const int* rows, int dim) : ints_(rows), dim_(static_cast<std::size_t>(dim)) {}
  VectorRows(const std::uint16_t* rows, int dim)
      : words_(rows), dim_(static_cast<std::size_t>(dim)) {}
  VectorRows(const std::uint8_t* rows, int dim)
      : bytes_(rows), dim_(static_cast<std::size_t>(dim)) {}

  // Row i as 32-bit elements: where it lies when it is stored so, else
  // widened into `scratch`, which has room for the `dim` elements.
  const int* Row(int i, int* scratch) const {
    const std::size_t at = static_cast<std::size_t>(i) * dim_;
    if (nodes_ != nullptr) return nodes_[i].Vector.get();
    if (ints_ != nullptr) return ints_ + at;
    if (words_ != nullptr) {
      for (std::size_t e = 0; e < dim_; ++e) scratch[e] = words_[at + e];
    } else {
      for (std::size_t e = 0; e < dim_; ++e) scratch[e] = bytes_[at + e];
    }
    return scratch;
  }

  // The elements of scratch that Row needs: none where rows lie as ints.
  std::size_t ScratchSize() const { return nodes_ != nullptr || ints_ != nullptr ? 0 : dim_; }

  const CodebookNode* Nodes() const { return nodes_; }
  const int* Ints() const { return ints_; }
  const std::uint16_t* Words() const { return words_; }
  const std::uint8_t* Bytes() const { return bytes_; }

 private:
  const CodebookNode* nodes_ = nullptr;
  const int* ints_ = nullptr;
  const std::uint16_t* words_ = nullptr;
  const std::uint8_t* bytes_ = nullptr;
  std::size_t dim_ = 0;
};

enum class NearestPath {
  kAuto,      // the fastest path the processor and the data allow
  kVnni,      // AVX-512 VNNI: byte products in 32-bit lanes (range up to 255)
  kAvx2,      // AVX2: 16-bit products in 32-bit lanes
  kPortable,  // plain C++ across code vectors, 32- or 64-bit lanes
  kScalar,    // the plain scan with VectorDistance and its early stop
};

// Whether `path` can run on this processor (kPortable and kScalar always).
bool NearestPathAvailable(NearestPath path);

// Whether `path` can take these sets exactly: their value range and
// dimension must keep every sum inside its lanes. kScalar takes everything.
bool NearestPathFits(NearestPath path, const Codebook& TS, int begin, int end, const Codebook& CB);

// Applies the search rule to training vectors begin .. end-1 of TS against
// every code vector of CB (at least one), with the dimension of CB. start[i
// - begin] is the start candidate of vector i; chosen[i - begin] and
// best[i - begin] receive the result. kAuto picks the path and splits the
// vectors between up to `threads` threads (0: as many as the process may
// use), one for every `minWorkPerThread` distance terms (vectors x code
// vectors x dimension); an explicit path runs on the calling thread, and
// falls back to kScalar where it cannot run or fit. kPortable lays out at
// most `layoutBytes` of the code vectors at a time, on each thread, and no
// more threads start than keep their layouts within kPartsLayoutBytes.
inline constexpr std::int64_t kMinWorkPerThread = std::int64_t{1} << 21;
// The layout of a codebook of long vectors in wide lanes would otherwise
// cost several times the codebook, on every thread.
inline constexpr std::size_t kPortableLayoutBytes = std::size_t{8} << 20;
// The layouts of all threads of one search together: beyond it, fewer
// threads search, so that a machine of many processors needs no more
// memory for a large codebook than one of four.
inline constexpr std::uint64_t kPartsLayoutBytes = std::uint64_t{32} << 20;
void SearchNearestSquared(VectorRows TS, int begin, int end, const Codebook& CB, const int* start,
                          int* chosen, std::int64_t* best, NearestPath path = NearestPath::kAuto,
                          int threads = 0, std::int64_t minWorkPerThread = kMinWorkPerThread,
                          std::size_t layoutBytes = kPortableLayoutBytes);

// As SearchNearestSquared with an explicit path, on the calling thread, and
// second[i - begin] receives the smallest distance of the code vectors other
// than the chosen one (kFullDistance when the codebook has no other): a
// lower bound that callers keep to skip later searches.
void SearchNearestAndSecond(VectorRows TS, int begin, int end, const Codebook& CB, const int* start,
                            int* chosen, std::int64_t* best, std::int64_t* second,
                            NearestPath path = NearestPath::kAuto,
                            std::size_t layoutBytes = kPortableLayoutBytes);

// The range of values of the elements of nodes begin .. end-1 (each of
// `dim` elements); {0, 0} for no nodes.
struct ValueRange {
  int low = 0;
  int high = 0;
};
ValueRange ElementRange(VectorRows set, int begin, int end, int dim);

// Kernels of the x86 paths (nearest_kernels_x86.cpp), built for x86-64
// only; elsewhere the processor is never found to have them. Each handles
// vectors begin .. end-1 as SearchNearestSquared does, with the sets already
// checked to fit; `low` is the smallest element of both sets. `second`, when
// given, as in SearchNearestAndSecond.
#if defined(__x86_64__)
#define VQPEEK_X86_KERNELS 1
void SearchNearestVnni(VectorRows TS, int begin, int end, const Codebook& CB, int low,
                       const int* start, int* chosen, std::int64_t* best,
                       std::int64_t* second = nullptr);
void SearchNearestAvx2(VectorRows TS, int begin, int end, const Codebook& CB, int low,
                       const int* start, int* chosen, std::int64_t* best,
                       std::int64_t* second = nullptr);
#endif

}  // namespace cb_internal

#endif  // VQPEEK_MODULES_CB_NEAREST_SEARCH_H_
