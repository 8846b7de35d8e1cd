// Exact nearest-vector search: path selection, threads, and the portable
// and scalar paths.
#include "nearest_search.h"

#include <algorithm>
#include <limits>
#include <string_view>
#include <vector>

#include "cb_internal.h"
#include "search_rule.h"
#include "vqpeek/threads.h"

namespace cb_internal {

namespace {

// Largest dimension of the byte path: every key lies within 81,154 * dim of
// 0, which must leave room below INT32_MAX for the padding lanes.
constexpr int kMaxVnniDimension = 16000;

// The spread of the values of both sets, as an unsigned 64-bit number.
std::uint64_t Spread(ValueRange x, ValueRange c) {
  const std::int64_t low = std::min(x.low, c.low);
  const std::int64_t high = std::max(x.high, c.high);
  return static_cast<std::uint64_t>(high - low);
}

// Whether dim * spread^2 * factor <= limit, without overflow.
bool ProductFits(int dim, std::uint64_t spread, std::uint64_t factor, std::uint64_t limit) {
  if (spread > 0xFFFFFFFFu) return false;
  const std::uint64_t square = spread * spread;  // < 2^64
  const std::uint64_t scale = static_cast<std::uint64_t>(dim) * factor;
  return scale == 0 || square <= limit / scale;
}

constexpr std::uint64_t kInt32Limit = 2147483647u;
constexpr std::uint64_t kInt64Limit = 9223372036854775807u;

bool Fits(NearestPath path, int dim, std::uint64_t spread) {
  switch (path) {
    case NearestPath::kVnni:
      return spread <= 255 && dim <= kMaxVnniDimension;
    case NearestPath::kAvx2:
      // 16-bit elements; the key ||c||^2 - 2 x.c needs 3 * dim * spread^2
      // inside 32 bits, with room for the padding lanes.
      return spread <= 32767 && ProductFits(dim, spread, 3, kInt32Limit - 1);
    case NearestPath::kPortable:
      return ProductFits(dim, spread, 1, kInt64Limit);
    case NearestPath::kScalar:
    case NearestPath::kAuto:
      return true;
  }
  return false;
}

// The rule's result from every distance: the start candidate when it is as
// near as the nearest, else the lowest index at the minimum; with `second`,
// the smallest distance of the others (the second smallest of all, since
// the chosen one is at the minimum).
template <typename Distance>
void ConcludeFromAll(const Distance* distances, int codes, int s, int* chosen, std::int64_t* best,
                     std::int64_t* second) {
  int lowest = 0;
  for (int j = 1; j < codes; ++j) {
    if (distances[j] < distances[lowest]) lowest = j;
  }
  *chosen = distances[s] == distances[lowest] ? s : lowest;
  *best = distances[lowest];
  if (second != nullptr) {
    std::int64_t rest = kFullDistance;
    for (int j = 0; j < codes; ++j) {
      if (j != lowest) rest = std::min<std::int64_t>(rest, distances[j]);
    }
    *second = rest;
  }
}

// The plain scan of the search rule with the partial-distance stop; with
// `second`, every distance in full instead.
void SearchScalar(VectorRows TS, int begin, int end, const Codebook& CB, const int* start,
                  int* chosen, std::int64_t* best, std::int64_t* second) {
  const int dim = VectorDimension(CB);
  std::vector<int> row(static_cast<std::size_t>(dim));
  std::vector<std::int64_t> distances(second != nullptr ? static_cast<std::size_t>(CB.Booksize)
                                                        : 0);
  for (int i = begin; i < end; ++i) {
    int s = start[i - begin];
    if (s < 0 || s >= CB.Booksize) s = 0;
    const int* x = TS.Row(i, row.data());
    if (second != nullptr) {
      for (int j = 0; j < CB.Booksize; ++j) {
        distances[j] = SquaredDistance(CB.Book[j].Vector.get(), x, dim, kFullDistance);
      }
      ConcludeFromAll(distances.data(), CB.Booksize, s, chosen + (i - begin), best + (i - begin),
                      second + (i - begin));
      continue;
    }
    const SearchResult result = SearchNearest(CB, x, dim, s, 0);
    chosen[i - begin] = result.chosen;
    best[i - begin] = result.best;
  }
}

// Adds the squared differences of one element of a training vector from that
// element of every code vector. Cloned for wider vector units, picked when
// the program loads, so the plain C++ path uses what the processor has.
VQ_WIDE_VECTOR_CLONES void AddSquares32(const std::int32_t* column, std::int32_t value,
                                        std::int32_t* distances, int codes) {
  for (int j = 0; j < codes; ++j) {
    const std::int32_t difference = value - column[j];
    distances[j] += difference * difference;
  }
}

VQ_WIDE_VECTOR_CLONES void AddSquares64(const std::int64_t* column, std::int64_t value,
                                        std::int64_t* distances, int codes) {
  for (int j = 0; j < codes; ++j) {
    const std::int64_t difference = value - column[j];
    distances[j] += difference * difference;
  }
}

void AddSquares(const std::int32_t* column, std::int32_t value, std::int32_t* distances,
                int codes) {
  AddSquares32(column, value, distances, codes);
}
void AddSquares(const std::int64_t* column, std::int64_t value, std::int64_t* distances,
                int codes) {
  AddSquares64(column, value, distances, codes);
}

// Plain C++ across code vectors: the code vectors are stored element by
// element (all first elements, then all second elements, ...) so that the
// inner loop runs over code vectors and vectorises. Lanes are 32-bit when
// the spread allows, else 64-bit; a difference never exceeds the spread.
template <typename Lane>
void SearchPortable(VectorRows TS, int begin, int end, const Codebook& CB, const int* start,
                    int* chosen, std::int64_t* best, std::int64_t* second) {
  const int dim = VectorDimension(CB);
  const int codes = CB.Booksize;
  std::vector<Lane> transposed(static_cast<std::size_t>(dim) * codes);
  for (int j = 0; j < codes; ++j) {
    for (int e = 0; e < dim; ++e) {
      transposed[static_cast<std::size_t>(e) * codes + j] = CB.Book[j].Vector[e];
    }
  }
  std::vector<Lane> distances(static_cast<std::size_t>(codes));
  std::vector<int> row(static_cast<std::size_t>(dim));
  for (int i = begin; i < end; ++i) {
    const int* x = TS.Row(i, row.data());
    std::fill(distances.begin(), distances.end(), Lane{0});
    for (int e = 0; e < dim; ++e) {
      AddSquares(transposed.data() + static_cast<std::size_t>(e) * codes, x[e], distances.data(),
                 codes);
    }
    int s = start[i - begin];
    if (s < 0 || s >= codes) s = 0;
    ConcludeFromAll(distances.data(), codes, s, chosen + (i - begin), best + (i - begin),
                    second != nullptr ? second + (i - begin) : nullptr);
  }
}

bool ProcessorHas(const char* feature) {
#if defined(VQPEEK_X86_KERNELS)
  __builtin_cpu_init();
  if (std::string_view(feature) == "vnni") {
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vnni");
  }
  return __builtin_cpu_supports("avx2");
#else
  static_cast<void>(feature);
  return false;
#endif
}

// Runs one path on the calling thread; the sets are known to fit it.
void RunPath(NearestPath path, VectorRows TS, int begin, int end, const Codebook& CB, int low,
             bool narrow, const int* start, int* chosen, std::int64_t* best, std::int64_t* second) {
  switch (path) {
#if defined(VQPEEK_X86_KERNELS)
    case NearestPath::kVnni:
      SearchNearestVnni(TS, begin, end, CB, low, start, chosen, best, second);
      break;
    case NearestPath::kAvx2:
      SearchNearestAvx2(TS, begin, end, CB, low, start, chosen, best, second);
      break;
#endif
    case NearestPath::kPortable:
      if (narrow) {
        SearchPortable<std::int32_t>(TS, begin, end, CB, start, chosen, best, second);
      } else {
        SearchPortable<std::int64_t>(TS, begin, end, CB, start, chosen, best, second);
      }
      break;
#if !defined(VQPEEK_X86_KERNELS)
    case NearestPath::kVnni:  // never available here
    case NearestPath::kAvx2:
      static_cast<void>(low);
      [[fallthrough]];
#endif
    case NearestPath::kScalar:
    case NearestPath::kAuto:
      SearchScalar(TS, begin, end, CB, start, chosen, best, second);
      break;
  }
}

}  // namespace

namespace {

// The smallest and largest of `count` values. Cloned for wider vector
// units: the searches take it for every part of the set.
template <typename T>
inline ValueRange RangeOf(const T* values, std::size_t count) {
  int low = std::numeric_limits<int>::max();
  int high = std::numeric_limits<int>::min();
  for (std::size_t k = 0; k < count; ++k) {
    low = std::min(low, static_cast<int>(values[k]));
    high = std::max(high, static_cast<int>(values[k]));
  }
  return {low, high};
}

VQ_WIDE_VECTOR_CLONES ValueRange RangeOfInts(const int* values, std::size_t count) {
  return RangeOf(values, count);
}
VQ_WIDE_VECTOR_CLONES ValueRange RangeOfWords(const std::uint16_t* values, std::size_t count) {
  return RangeOf(values, count);
}
VQ_WIDE_VECTOR_CLONES ValueRange RangeOfBytes(const std::uint8_t* values, std::size_t count) {
  return RangeOf(values, count);
}

VQ_WIDE_VECTOR_CLONES ValueRange RangeOfNodes(const CodebookNode* nodes, int begin, int end,
                                              std::size_t dim) {
  ValueRange range = RangeOf(nodes[begin].Vector.get(), dim);
  for (int i = begin + 1; i < end; ++i) {
    const ValueRange node = RangeOf(nodes[i].Vector.get(), dim);
    range = {std::min(range.low, node.low), std::max(range.high, node.high)};
  }
  return range;
}

}  // namespace

ValueRange ElementRange(VectorRows set, int begin, int end, int dim) {
  if (begin >= end || dim <= 0) return {};
  const std::size_t width = static_cast<std::size_t>(dim);
  const std::size_t first = static_cast<std::size_t>(begin) * width;
  const std::size_t count = static_cast<std::size_t>(end - begin) * width;
  if (set.Ints() != nullptr) return RangeOfInts(set.Ints() + first, count);
  if (set.Words() != nullptr) return RangeOfWords(set.Words() + first, count);
  if (set.Bytes() != nullptr) return RangeOfBytes(set.Bytes() + first, count);
  return RangeOfNodes(set.Nodes(), begin, end, width);
}

bool NearestPathAvailable(NearestPath path) {
  switch (path) {
    case NearestPath::kVnni:
      return ProcessorHas("vnni");
    case NearestPath::kAvx2:
      return ProcessorHas("avx2");
    default:
      return true;
  }
}

bool NearestPathFits(NearestPath path, const Codebook& TS, int begin, int end, const Codebook& CB) {
  const int dim = VectorDimension(CB);
  return Fits(path, dim,
              Spread(ElementRange(TS, begin, end, dim), ElementRange(CB, 0, CB.Booksize, dim)));
}

namespace {

// Searches vectors begin .. end-1 on the calling thread with `path`, or with
// the fastest path that their values allow (kAuto); a path that cannot run
// or take the values falls back to the plain scan.
void SearchOnThisThread(VectorRows TS, int begin, int end, const Codebook& CB, ValueRange c,
                        const int* start, int* chosen, std::int64_t* best, std::int64_t* second,
                        NearestPath path) {
  const int dim = VectorDimension(CB);
  const ValueRange x = ElementRange(TS, begin, end, dim);
  const std::uint64_t spread = Spread(x, c);
  if (path == NearestPath::kAuto) {
    path = NearestPath::kScalar;
    for (const NearestPath candidate :
         {NearestPath::kVnni, NearestPath::kAvx2, NearestPath::kPortable}) {
      if (NearestPathAvailable(candidate) && Fits(candidate, dim, spread)) {
        path = candidate;
        break;
      }
    }
  } else if (!NearestPathAvailable(path) || !Fits(path, dim, spread)) {
    path = NearestPath::kScalar;
  }
  RunPath(path, TS, begin, end, CB, std::min(x.low, c.low),
          ProductFits(dim, spread, 1, kInt32Limit), start, chosen, best, second);
}

}  // namespace

void SearchNearestAndSecond(VectorRows TS, int begin, int end, const Codebook& CB, const int* start,
                            int* chosen, std::int64_t* best, std::int64_t* second,
                            NearestPath path) {
  if (begin >= end) return;
  const ValueRange c = ElementRange(CB, 0, CB.Booksize, VectorDimension(CB));
  SearchOnThisThread(TS, begin, end, CB, c, start, chosen, best, second, path);
}

void SearchNearestSquared(VectorRows TS, int begin, int end, const Codebook& CB, const int* start,
                          int* chosen, std::int64_t* best, NearestPath path, int threads,
                          std::int64_t minWorkPerThread) {
  if (begin >= end) return;
  const int dim = VectorDimension(CB);
  const ValueRange c = ElementRange(CB, 0, CB.Booksize, dim);

  // Searches vectors from .. to-1 with the path asked for, or with the
  // fastest one that this part's values allow.
  auto search = [&](int from, int to, NearestPath chosenPath) {
    const int offset = from - begin;
    SearchOnThisThread(TS, from, to, CB, c, start + offset, chosen + offset, best + offset, nullptr,
                       chosenPath);
  };
  if (path != NearestPath::kAuto || threads == 1) {
    search(begin, end, path);
    return;
  }

  // The vectors are split between threads in contiguous parts. Every part
  // writes only its own results, and every path is exact, so the outcome
  // does not depend on the split nor on the path each part takes.
  const std::int64_t work = static_cast<std::int64_t>(end - begin) * CB.Booksize * std::max(dim, 1);
  const int available = threads > 0 ? threads : UsableProcessors();
  const int parts = static_cast<int>(std::clamp<std::int64_t>(
      work / std::max<std::int64_t>(minWorkPerThread, 1), 1, std::min(available, 64)));
  const int count = end - begin;
  RunInParallel(parts, parts, [&](int part, int) {
    const int from = begin + static_cast<int>(static_cast<std::int64_t>(count) * part / parts);
    const int to = begin + static_cast<int>(static_cast<std::int64_t>(count) * (part + 1) / parts);
    search(from, to, NearestPath::kAuto);
  });
}

}  // namespace cb_internal

namespace {

template <typename Element>
void FindNearestRows(const Element* vectors, int count, const int* codes, int codeCount, int dim,
                     int threads, int* chosen, std::int64_t* best) {
  if (dim < 1) FatalError("ERROR: Invalid vector dimension (%d).\n", dim);
  if (codeCount < 1) FatalError("ERROR: The codebook is empty.\n");
  if (count < 0) FatalError("ERROR: Invalid number of vectors (%d).\n", count);
  if (threads < 0) FatalError("ERROR: Invalid number of threads (%d).\n", threads);
  if (count == 0) return;
  // The kernels take the code vectors as a record: a copy, small beside the
  // vectors searched, which they read where they lie.
  Codebook CB;
  CB.BlockSizeX = dim;
  CB.BlockSizeY = 1;
  cb_internal::AllocateNodes(&CB, codeCount, dim);
  std::copy_n(codes, static_cast<std::size_t>(codeCount) * static_cast<std::size_t>(dim),
              CB.ElementBlock.get());
  // Start candidate 0 everywhere: on a tie the lowest index wins.
  const std::vector<int> start(static_cast<std::size_t>(count), 0);
  cb_internal::SearchNearestSquared(cb_internal::VectorRows(vectors, dim), 0, count, CB,
                                    start.data(), chosen, best, cb_internal::NearestPath::kAuto,
                                    threads);
}

}  // namespace

void FindNearestVectors(const int* vectors, int count, const int* codes, int codeCount, int dim,
                        int threads, int* chosen, std::int64_t* best) {
  FindNearestRows(vectors, count, codes, codeCount, dim, threads, chosen, best);
}

void FindNearestVectors(const std::uint16_t* vectors, int count, const int* codes, int codeCount,
                        int dim, int threads, int* chosen, std::int64_t* best) {
  FindNearestRows(vectors, count, codes, codeCount, dim, threads, chosen, best);
}

void FindNearestVectors(const std::uint8_t* vectors, int count, const int* codes, int codeCount,
                        int dim, int threads, int* chosen, std::int64_t* best) {
  FindNearestRows(vectors, count, codes, codeCount, dim, threads, chosen, best);
}
