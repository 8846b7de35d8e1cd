// The x86 kernels of the exact nearest-vector search.
//
// Both shift all values by the smallest one, so they are non-negative, and
// rewrite the squared distance of a training vector x from a code vector c
// as own(x) + key(c, x), where own(x) does not depend on c. Keys are exact
// 32-bit integers (the callers have checked that the value range and the
// dimension keep them so), computed for 16 (AVX-512) or 8 (AVX2) code
// vectors at a time; every lane keeps its smallest key and the lowest index
// that reached it, and one reduction gives the lowest index overall. The
// start candidate's own key decides whether it keeps its place.
//
// The functions carry their instruction set as a target attribute, so the
// rest of the program (and any template they use) stays plain x86-64; they
// run only after the processor has been asked.

#if defined(__x86_64__)

// GCC 12's AVX-512 intrinsics start many results from an undefined value on
// purpose, which its own -Wuninitialized then reports at every use.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#include <immintrin.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <type_traits>
#include <vector>

#include "nearest_search.h"

namespace cb_internal {

namespace {

// The key of the padding lanes of the last block: above every real key.
constexpr std::int32_t kPaddingKey = std::numeric_limits<std::int32_t>::max();

int ValidStart(int start, int codes) { return start >= 0 && start < codes ? start : 0; }

// --- AVX-512 VNNI: bytes ---------------------------------------------------
//
// x' = x - low and c' = c - low lie in 0 .. 255. VNNI multiplies unsigned
// bytes by signed bytes and adds four products into each 32-bit lane; the
// code vectors give the unsigned bytes c', the training vector the signed
// bytes x'' = x' - 128, broadcast from memory to every lane. Since
// x'.c' = x''.c' + 128 sum(c'),
//   |x - c|^2 = ||x'||^2 + (sum(c'(c' - 256)) - 2 x''.c'),
// and the key in brackets lies within 81,154 * dim of 0.

// Blocks of 16 code vectors; within a block, for every group of 4 elements,
// 16 lanes of 4 bytes c'. Padding elements are 0 in both vectors, padding
// code vectors get the padding key.
struct ByteLayout {
  std::size_t groups = 0;
  std::size_t blocks = 0;
  std::vector<std::uint8_t> codes;
  std::vector<std::int32_t> norms;  // sum(c'(c' - 256)) per code vector
};

ByteLayout LayOutBytes(const Codebook& CB, int dim, int low) {
  ByteLayout layout;
  layout.groups = (static_cast<std::size_t>(dim > 0 ? dim : 0) + 3) / 4;
  layout.blocks = (static_cast<std::size_t>(CB.Booksize > 0 ? CB.Booksize : 0) + 15) / 16;
  layout.codes.assign(layout.blocks * layout.groups * 64, 0);
  layout.norms.assign(layout.blocks * 16, kPaddingKey);
  for (int j = 0; j < CB.Booksize; ++j) {
    const std::size_t block = static_cast<std::size_t>(j) / 16;
    const std::size_t lane = static_cast<std::size_t>(j) % 16;
    std::int32_t norm = 0;
    for (int e = 0; e < dim; ++e) {
      const int shifted = CB.Book[j].Vector[e] - low;
      norm += shifted * (shifted - 256);
      const std::size_t group = static_cast<std::size_t>(e) / 4;
      layout.codes[(block * layout.groups + group) * 64 + lane * 4 + e % 4] =
          static_cast<std::uint8_t>(shifted);
    }
    layout.norms[j] = norm;
  }
  return layout;
}

// Every lane of the result holds the sum of the lanes of `v`.
__attribute__((target("avx512f"))) __m512i SumOfLanes(__m512i v) {
  v = _mm512_add_epi32(v, _mm512_shuffle_i32x4(v, v, _MM_SHUFFLE(1, 0, 3, 2)));
  v = _mm512_add_epi32(v, _mm512_shuffle_i32x4(v, v, _MM_SHUFFLE(2, 3, 0, 1)));
  v = _mm512_add_epi32(v, _mm512_shuffle_epi32(v, _MM_PERM_BADC));
  return _mm512_add_epi32(v, _mm512_shuffle_epi32(v, _MM_PERM_CDAB));
}

// Every lane of the result holds the smallest lane of `v`.
__attribute__((target("avx512f"))) __m512i MinimumOfLanes(__m512i v) {
  v = _mm512_min_epi32(v, _mm512_shuffle_i32x4(v, v, _MM_SHUFFLE(1, 0, 3, 2)));
  v = _mm512_min_epi32(v, _mm512_shuffle_i32x4(v, v, _MM_SHUFFLE(2, 3, 0, 1)));
  v = _mm512_min_epi32(v, _mm512_shuffle_epi32(v, _MM_PERM_BADC));
  return _mm512_min_epi32(v, _mm512_shuffle_epi32(v, _MM_PERM_CDAB));
}

// Writes x' - 128 of the training vector as signed bytes (padding 0) and
// returns ||x'||^2. `bytes` has room for the groups and 16 more bytes.
__attribute__((target("avx512f,avx512bw"))) std::int32_t ShiftToBytes(const int* x, int dim,
                                                                      __m512i shift,
                                                                      std::uint8_t* bytes) {
  const __m512i middle = _mm512_set1_epi32(128);
  __m512i own = _mm512_setzero_si512();
  for (int e = 0; e < dim; e += 16) {
    const int left = dim - e;
    const __mmask16 mask =
        left >= 16 ? static_cast<__mmask16>(0xFFFF) : static_cast<__mmask16>((1u << left) - 1);
    // Lanes past the end are 0, so padding adds nothing anywhere.
    const __m512i shifted =
        _mm512_maskz_sub_epi32(mask, _mm512_maskz_loadu_epi32(mask, x + e), shift);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + e),
                     _mm512_maskz_cvtepi32_epi8(mask, _mm512_sub_epi32(shifted, middle)));
    own = _mm512_add_epi32(own, _mm512_mullo_epi32(shifted, shifted));
  }
  return _mm512_cvtsi512_si32(SumOfLanes(own));
}

// The running smallest key of every lane and the index that reached it,
// and, where asked for, the lane's second smallest key (which may equal the
// smallest).
struct LaneMinimum {
  __m512i smallest;
  __m512i index;
  __m512i second;
};

// Takes the keys of one block: strictly smaller only, so a lane keeps its
// earlier (lower) index on a tie.
template <bool kSecond>
__attribute__((target("avx512f"))) inline void Update(LaneMinimum& m, __m512i key,
                                                      __m512i blockIndex) {
  if constexpr (kSecond) m.second = _mm512_min_epi32(m.second, _mm512_max_epi32(m.smallest, key));
  const __mmask16 smaller = _mm512_cmplt_epi32_mask(key, m.smallest);
  m.smallest = _mm512_mask_mov_epi32(m.smallest, smaller, key);
  m.index = _mm512_mask_mov_epi32(m.index, smaller, blockIndex);
}

// The distance of a key, or kFullDistance for the padding key (no code
// vector).
inline std::int64_t DistanceOfKey(std::int64_t own, std::int32_t key) {
  return key == kPaddingKey ? kFullDistance : own + key;
}

// The search rule's result for one training vector from its lanes; with
// `second`, also the smallest distance of the other code vectors.
template <bool kSecond>
__attribute__((target("avx512f"))) inline void Conclude(const LaneMinimum& m,
                                                        const std::int32_t* startKeys, int s,
                                                        std::int32_t own, int* chosen,
                                                        std::int64_t* best, std::int64_t* second) {
  const __m512i least = MinimumOfLanes(m.smallest);
  const __mmask16 atLeast = _mm512_cmpeq_epi32_mask(m.smallest, least);
  const int lowest = _mm512_cvtsi512_si32(
      MinimumOfLanes(_mm512_mask_blend_epi32(atLeast, _mm512_set1_epi32(kPaddingKey), m.index)));
  const int leastKey = _mm512_cvtsi512_si32(least);
  // The start candidate keeps its place when it is as near as the nearest.
  *chosen = startKeys[s % 16] == leastKey ? s : lowest;
  *best = static_cast<std::int64_t>(own) + leastKey;
  if constexpr (kSecond) {
    // The second smallest key of all: the lanes' second keys, and the
    // smallest keys of the lanes other than the one that holds `lowest`.
    // The chosen code vector's key is the smallest, so this is the nearest
    // of the others whichever of the equally near ones was chosen.
    const __mmask16 others = static_cast<__mmask16>(~(1u << (lowest % 16)));
    const __m512i rest = _mm512_min_epi32(
        m.second, _mm512_mask_blend_epi32(others, _mm512_set1_epi32(kPaddingKey), m.smallest));
    *second = DistanceOfKey(own, _mm512_cvtsi512_si32(MinimumOfLanes(rest)));
  }
}

// kVectors training vectors per pass over the code vectors, so that every
// block of code bytes loaded serves all of them. kGroups is the number of
// 4-element groups when known at compile time (the loops then unroll), or 0.
// `bytes` holds kVectors areas of `stride` bytes. kSecond: `second` receives
// the smallest distance of the other code vectors.
template <int kGroups, int kVectors, bool kSecond>
__attribute__((target("avx512f,avx512bw,avx512vnni"))) void SearchVnniRange(
    VectorRows TS, int begin, int end, const ByteLayout& layout, int dim, int codes, int low,
    const int* start, int* chosen, std::int64_t* best, std::int64_t* second, std::uint8_t* bytes,
    std::size_t stride, int* rows) {
  const std::size_t groups = kGroups > 0 ? kGroups : layout.groups;
  const __m512i laneIndex = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m512i shift = _mm512_set1_epi32(low);
  alignas(64) std::int32_t startKeys[kVectors][16];
  const std::int32_t* words[kVectors];
  for (int v = 0; v < kVectors; ++v) {
    words[v] = reinterpret_cast<const std::int32_t*>(bytes + v * stride);
  }
  for (int i = begin; i < end; i += kVectors) {
    int vector[kVectors];  // the last vector stands in where the range ends
    std::int32_t own[kVectors];
    int s[kVectors];
    std::size_t startBlock[kVectors];
    LaneMinimum m[kVectors];
    for (int v = 0; v < kVectors; ++v) {
      vector[v] = i + v < end ? i + v : end - 1;
      const int* x = TS.Row(vector[v], rows + static_cast<std::size_t>(v) * dim);
      own[v] = ShiftToBytes(x, dim, shift, bytes + v * stride);
      s[v] = ValidStart(start[vector[v] - begin], codes);
      startBlock[v] = static_cast<std::size_t>(s[v]) / 16;
      m[v] = LaneMinimum{_mm512_set1_epi32(kPaddingKey), _mm512_setzero_si512(),
                         _mm512_set1_epi32(kPaddingKey)};
    }
    const std::uint8_t* block = layout.codes.data();
    for (std::size_t k = 0; k < layout.blocks; ++k) {
      __m512i dot[kVectors];
      for (int v = 0; v < kVectors; ++v) dot[v] = _mm512_setzero_si512();
      for (std::size_t g = 0; g < groups; ++g, block += 64) {
        const __m512i lanes = _mm512_loadu_si512(block);
        for (int v = 0; v < kVectors; ++v) {
          dot[v] = _mm512_dpbusd_epi32(dot[v], lanes, _mm512_set1_epi32(words[v][g]));
        }
      }
      const __m512i norms = _mm512_loadu_si512(layout.norms.data() + k * 16);
      const __m512i blockIndex =
          _mm512_add_epi32(laneIndex, _mm512_set1_epi32(static_cast<int>(k * 16)));
      for (int v = 0; v < kVectors; ++v) {
        const __m512i key = _mm512_sub_epi32(norms, _mm512_add_epi32(dot[v], dot[v]));
        if (k == startBlock[v]) _mm512_store_si512(startKeys[v], key);
        Update<kSecond>(m[v], key, blockIndex);
      }
    }
    for (int v = 0; v < kVectors && i + v < end; ++v) {
      Conclude<kSecond>(m[v], startKeys[v], s[v], own[v], chosen + (vector[v] - begin),
                        best + (vector[v] - begin),
                        kSecond ? second + (vector[v] - begin) : nullptr);
    }
  }
}

// --- AVX2: 16-bit values ---------------------------------------------------
//
// x' = x - low and c' = c - low fit 16 bits; |x - c|^2 = ||x'||^2 + (||c'||^2
// - 2 x'.c'), with two 16-bit products added into each 32-bit lane.

// Blocks of 8 code vectors; within a block, for every pair of elements, 8
// lanes of two 16-bit values c'.
struct WordLayout {
  std::size_t pairs = 0;
  std::size_t blocks = 0;
  std::vector<std::int16_t> codes;
  std::vector<std::int32_t> norms;
};

WordLayout LayOutWords(const Codebook& CB, int dim, int low) {
  WordLayout layout;
  layout.pairs = (static_cast<std::size_t>(dim > 0 ? dim : 0) + 1) / 2;
  layout.blocks = (static_cast<std::size_t>(CB.Booksize > 0 ? CB.Booksize : 0) + 7) / 8;
  layout.codes.assign(layout.blocks * layout.pairs * 16, 0);
  layout.norms.assign(layout.blocks * 8, kPaddingKey);
  for (int j = 0; j < CB.Booksize; ++j) {
    const std::size_t block = static_cast<std::size_t>(j) / 8;
    const std::size_t lane = static_cast<std::size_t>(j) % 8;
    std::int32_t norm = 0;
    for (int e = 0; e < dim; ++e) {
      const auto shifted =
          static_cast<std::int32_t>(static_cast<std::int64_t>(CB.Book[j].Vector[e]) - low);
      norm += shifted * shifted;
      const std::size_t pair = static_cast<std::size_t>(e) / 2;
      layout.codes[(block * layout.pairs + pair) * 16 + lane * 2 + e % 2] =
          static_cast<std::int16_t>(shifted);
    }
    layout.norms[j] = norm;
  }
  return layout;
}

// `values` has room for the pairs (two 16-bit values each). With `second`,
// it receives the smallest distance of the other code vectors.
__attribute__((target("avx2"))) void SearchAvx2Range(VectorRows TS, int begin, int end,
                                                     const WordLayout& layout, int dim, int codes,
                                                     int low, const int* start, int* chosen,
                                                     std::int64_t* best, std::int64_t* second,
                                                     std::int16_t* values, int* row) {
  const __m256i laneIndex = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const std::int32_t* words = reinterpret_cast<const std::int32_t*>(values);
  alignas(32) std::int32_t startKeys[8];
  alignas(32) std::int32_t keys[8];
  alignas(32) std::int32_t indices[8];
  alignas(32) std::int32_t seconds[8];
  for (int i = begin; i < end; ++i) {
    const int* x = TS.Row(i, row);
    std::int64_t own = 0;
    for (int e = 0; e < dim; ++e) {
      const std::int64_t shifted = static_cast<std::int64_t>(x[e]) - low;
      values[e] = static_cast<std::int16_t>(shifted);
      own += shifted * shifted;
    }
    const int s = ValidStart(start[i - begin], codes);
    const std::size_t startBlock = static_cast<std::size_t>(s) / 8;

    __m256i smallest = _mm256_set1_epi32(kPaddingKey);
    __m256i index = _mm256_setzero_si256();
    __m256i secondKeys = _mm256_set1_epi32(kPaddingKey);
    const std::int16_t* block = layout.codes.data();
    for (std::size_t b = 0; b < layout.blocks; ++b) {
      __m256i dot = _mm256_setzero_si256();
      for (std::size_t p = 0; p < layout.pairs; ++p, block += 16) {
        const __m256i lanes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(block));
        dot = _mm256_add_epi32(dot, _mm256_madd_epi16(_mm256_set1_epi32(words[p]), lanes));
      }
      const __m256i norms =
          _mm256_loadu_si256(reinterpret_cast<const __m256i*>(layout.norms.data() + b * 8));
      const __m256i key = _mm256_sub_epi32(norms, _mm256_add_epi32(dot, dot));
      if (b == startBlock) _mm256_store_si256(reinterpret_cast<__m256i*>(startKeys), key);
      if (second != nullptr) {
        secondKeys = _mm256_min_epi32(secondKeys, _mm256_max_epi32(smallest, key));
      }
      const __m256i smaller = _mm256_cmpgt_epi32(smallest, key);
      smallest = _mm256_blendv_epi8(smallest, key, smaller);
      index = _mm256_blendv_epi8(
          index, _mm256_add_epi32(laneIndex, _mm256_set1_epi32(static_cast<int>(b * 8))), smaller);
    }
    _mm256_store_si256(reinterpret_cast<__m256i*>(keys), smallest);
    _mm256_store_si256(reinterpret_cast<__m256i*>(indices), index);
    int lane = 0;
    for (int l = 1; l < 8; ++l) {
      if (keys[l] < keys[lane] || (keys[l] == keys[lane] && indices[l] < indices[lane])) lane = l;
    }
    chosen[i - begin] = startKeys[s % 8] == keys[lane] ? s : indices[lane];
    best[i - begin] = own + keys[lane];
    if (second != nullptr) {
      // As in the byte kernel: the lanes' second keys and the smallest keys
      // of the other lanes.
      _mm256_store_si256(reinterpret_cast<__m256i*>(seconds), secondKeys);
      std::int32_t rest = kPaddingKey;
      for (int l = 0; l < 8; ++l) {
        rest = std::min(rest, seconds[l]);
        if (l != lane) rest = std::min(rest, keys[l]);
      }
      second[i - begin] = DistanceOfKey(own, rest);
    }
  }
}

}  // namespace

void SearchNearestVnni(VectorRows TS, int begin, int end, const Codebook& CB, int low,
                       const int* start, int* chosen, std::int64_t* best, std::int64_t* second) {
  constexpr int kVectors = 4;
  const int dim = VectorDimension(CB);
  const ByteLayout layout = LayOutBytes(CB, dim, low);
  // Every training vector's bytes with room for whole 16-lane stores.
  const std::size_t stride = layout.groups * 4 + 16;
  std::vector<std::uint8_t> bytes(kVectors * stride, 0);
  // Room for the training vectors of one pass, where they are widened.
  std::vector<int> rows(kVectors * static_cast<std::size_t>(dim));
  auto search = [&](auto groups, auto withSecond) {
    SearchVnniRange<decltype(groups)::value, kVectors, decltype(withSecond)::value>(
        TS, begin, end, layout, dim, CB.Booksize, low, start, chosen, best, second, bytes.data(),
        stride, rows.data());
  };
  using Four = std::integral_constant<int, 4>;  // 4 x 4 blocks, the common case
  using Any = std::integral_constant<int, 0>;
  if (second != nullptr) {
    if (layout.groups == 4) {
      search(Four{}, std::true_type{});
    } else {
      search(Any{}, std::true_type{});
    }
  } else if (layout.groups == 4) {
    search(Four{}, std::false_type{});
  } else {
    search(Any{}, std::false_type{});
  }
}

void SearchNearestAvx2(VectorRows TS, int begin, int end, const Codebook& CB, int low,
                       const int* start, int* chosen, std::int64_t* best, std::int64_t* second) {
  const int dim = VectorDimension(CB);
  const WordLayout layout = LayOutWords(CB, dim, low);
  std::vector<std::int16_t> values(layout.pairs * 2, 0);
  std::vector<int> row(TS.ScratchSize());
  SearchAvx2Range(TS, begin, end, layout, dim, CB.Booksize, low, start, chosen, best, second,
                  values.data(), row.data());
}

}  // namespace cb_internal

#endif  // defined(__x86_64__)
