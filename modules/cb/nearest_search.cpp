// Exact nearest-vector search: path selection, threads, and the portable
// and scalar paths.
#include "nearest_search.h"

#include <algorithm>
#include <climits>
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
  std::vector<int> row(TS.ScratchSize());
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
// The code vectors are taken in blocks in ascending order; a vector's
// minimum and lowest index at it run on across the blocks.
template <typename Lane>
void SearchPortable(VectorRows TS, int begin, int end, const Codebook& CB, const int* start,
                    int* chosen, std::int64_t* best, std::int64_t* second,
                    std::size_t layoutBytes) {
  const int dim = VectorDimension(CB);
  const int codes = CB.Booksize;
  const int block = BatchRows(codes, dim, sizeof(Lane), INT_MAX, layoutBytes);
  std::vector<Lane> transposed(static_cast<std::size_t>(dim) * static_cast<std::size_t>(block));
  std::vector<Lane> distances(static_cast<std::size_t>(block));
  std::vector<int> row(TS.ScratchSize());
  // The distance of each vector's start candidate, once its block is done.
  std::vector<std::int64_t> startDistance(static_cast<std::size_t>(end - begin));
  for (int first = 0; first < codes; first += block) {
    const int n = std::min(block, codes - first);
    for (int j = 0; j < n; ++j) {
      const int* code = CB.Book[first + j].Vector.get();
      for (int e = 0; e < dim; ++e) transposed[static_cast<std::size_t>(e) * n + j] = code[e];
    }
    for (int i = begin; i < end; ++i) {
      const int* x = TS.Row(i, row.data());
      std::fill_n(distances.begin(), n, Lane{0});
      for (int e = 0; e < dim; ++e) {
        AddSquares(transposed.data() + static_cast<std::size_t>(e) * n, x[e], distances.data(), n);
      }
      const std::size_t k = static_cast<std::size_t>(i - begin);
      int lowest = first == 0 ? 0 : chosen[k];
      std::int64_t minimum = first == 0 ? distances[0] : best[k];
      if (second != nullptr) {
        // The smallest distance of the code vectors other than the lowest
        // at the minimum: a minimum that gives way joins the others.
        std::int64_t rest = first == 0 ? kFullDistance : second[k];
        for (int j = first == 0 ? 1 : 0; j < n; ++j) {
          const std::int64_t distance = distances[j];
          if (distance < minimum) {
            rest = minimum;
            minimum = distance;
            lowest = first + j;
          } else {
            rest = std::min(rest, distance);
          }
        }
        second[k] = rest;
      } else {
        for (int j = 0; j < n; ++j) {
          if (distances[j] < minimum) {
            minimum = distances[j];
            lowest = first + j;
          }
        }
      }
      chosen[k] = lowest;
      best[k] = minimum;
      int s = start[k];
      if (s < 0 || s >= codes) s = 0;
      if (s >= first && s < first + n) startDistance[k] = distances[s - first];
    }
  }
  for (int i = begin; i < end; ++i) {
    const std::size_t k = static_cast<std::size_t>(i - begin);
    int s = start[k];
    if (s < 0 || s >= codes) s = 0;
    if (startDistance[k] == best[k]) chosen[k] = s;
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
             bool narrow, const int* start, int* chosen, std::int64_t* best, std::int64_t* second,
             std::size_t layoutBytes) {
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
        SearchPortable<std::int32_t>(TS, begin, end, CB, start, chosen, best, second, layoutBytes);
      } else {
        SearchPortable<std::int64_t>(TS, begin, end, CB, start, chosen, best, second, layoutBytes);
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
                        NearestPath path, std::size_t layoutBytes) {
  if (begin >= end) return;
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
          ProductFits(dim, spread, 1, kInt32Limit), start, chosen, best, second, layoutBytes);
}

}  // namespace

void SearchNearestAndSecond(VectorRows TS, int begin, int end, const Codebook& CB, const int* start,
                            int* chosen, std::int64_t* best, std::int64_t* second, NearestPath path,
                            std::size_t layoutBytes) {
  if (begin >= end) return;
  const ValueRange c = ElementRange(CB, 0, CB.Booksize, VectorDimension(CB));
  SearchOnThisThread(TS, begin, end, CB, c, start, chosen, best, second, path, layoutBytes);
}

void SearchNearestSquared(VectorRows TS, int begin, int end, const Codebook& CB, const int* start,
                          int* chosen, std::int64_t* best, NearestPath path, int threads,
                          std::int64_t minWorkPerThread, std::size_t layoutBytes) {
  if (begin >= end) return;
  const int dim = VectorDimension(CB);
  const ValueRange c = ElementRange(CB, 0, CB.Booksize, dim);

  // Searches vectors from .. to-1 with the path asked for, or with the
  // fastest one that this part's values allow.
  auto search = [&](int from, int to, NearestPath chosenPath) {
    const int offset = from - begin;
    SearchOnThisThread(TS, from, to, CB, c, start + offset, chosen + offset, best + offset, nullptr,
                       chosenPath, layoutBytes);
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
  // Each part lays the code vectors out on its own: no more parts than keep
  // their layouts within kPartsLayoutBytes together.
  const std::uint64_t layout =
      std::min<std::uint64_t>(static_cast<std::uint64_t>(std::max(CB.Booksize, 16)) *
                                  static_cast<std::uint64_t>(std::max(dim, 1)) * 8,
                              layoutBytes);
  const int most = static_cast<int>(
      std::clamp<std::uint64_t>(kPartsLayoutBytes / std::max<std::uint64_t>(layout, 1), 1, 64));
  const int parts = static_cast<int>(std::clamp<std::int64_t>(
      work / std::max<std::int64_t>(minWorkPerThread, 1), 1, std::min(available, most)));
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
