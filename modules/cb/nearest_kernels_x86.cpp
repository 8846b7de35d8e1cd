// The x86 kernels of the exact nearest-vector search.
//
// Both rewrite the squared distance of a training vector x from a code
// vector c as ||x||^2 + key(c), key(c) = ||c||^2 - 2 x.c, after shifting
// all values by the smallest one so they are non-negative. ||x||^2 is the
// same for every c, so the nearest code vectors are those of the smallest
// key. Keys are exact 32-bit integers (the callers have checked the value
// range and dimension), computed for 16 (AVX-512) or 8 (AVX2) code vectors
// per instruction; every lane keeps its smallest key and the lowest index
// that reached it, and one reduction gives the lowest index overall.
//
// The functions carry their instruction set as a target attribute, so the
// rest of the program (and any template they use) stays plain x86-64; they
// run only after the processor has been asked.
// GCC 12's AVX-512 intrinsics start many results from an undefined value on
// purpose, which its own -Wuninitialized then reports at every use.
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

#include <immintrin.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "nearest_search.h"

namespace cb_internal {

namespace {

constexpr std::int32_t kPaddingKey = std::numeric_limits<std::int32_t>::max();

// Applies the search rule once the lowest index at the smallest distance is
// known: the start candidate stays when it is as near.
void Finish(const Codebook& TS, int i, const Codebook& CB, int dim, int lowest, int start,
            int* chosen, std::int64_t* best) {
  const int* x = TS.Book[i].Vector.get();
  const std::int64_t nearest = ExactSquaredDistance(CB.Book[lowest].Vector.get(), x, dim);
  if (start < 0 || start >= CB.Booksize) start = 0;
  const bool startAsNear =
      start == lowest || ExactSquaredDistance(CB.Book[start].Vector.get(), x, dim) == nearest;
  *chosen = startAsNear ? start : lowest;
  *best = nearest;
}

// Code vectors for the byte kernel: blocks of 16 code vectors, and within a
// block, for every group of 4 elements, 16 lanes of 4 signed bytes c - low -
// 128 (x.c = x.(c - 128) + 128 * sum(x), and the second term is the same for
// every c). Padding elements are 0; padding code vectors get the largest key.
struct ByteLayout {
  std::size_t groups = 0;
  std::size_t blocks = 0;
  std::vector<std::int8_t> codes;
  std::vector<std::int32_t> norms;
};

ByteLayout LayOutBytes(const Codebook& CB, int dim, int low) {
  ByteLayout layout;
  layout.groups = (static_cast<std::size_t>(dim > 0 ? dim : 0) + 3) / 4;
  layout.blocks = (static_cast<std::size_t>(CB.Booksize > 0 ? CB.Booksize : 0) + 15) / 16;
  layout.codes.assign(layout.blocks * layout.groups * 64, 0);
  layout.norms.assign(layout.blocks * 16, kPaddingKey);
  for (int j = 0; j < CB.Booksize; ++j) {
    const int block = j / 16;
    const int lane = j % 16;
    std::int32_t norm = 0;
    for (int e = 0; e < dim; ++e) {
      const int shifted = CB.Book[j].Vector[e] - low;  // 0 .. 255
      norm += shifted * shifted;
      const std::size_t at =
          (static_cast<std::size_t>(block) * layout.groups + e / 4) * 64 + lane * 4 + e % 4;
      layout.codes[at] = static_cast<std::int8_t>(shifted - 128);
    }
    layout.norms[j] = norm;
  }
  return layout;
}

// Every lane of the result holds the smallest lane of `v`.
__attribute__((target("avx512f"))) __m512i MinimumOfLanes(__m512i v) {
  v = _mm512_min_epi32(v, _mm512_shuffle_i32x4(v, v, _MM_SHUFFLE(1, 0, 3, 2)));
  v = _mm512_min_epi32(v, _mm512_shuffle_i32x4(v, v, _MM_SHUFFLE(2, 3, 0, 1)));
  v = _mm512_min_epi32(v, _mm512_shuffle_epi32(v, _MM_PERM_BADC));
  return _mm512_min_epi32(v, _mm512_shuffle_epi32(v, _MM_PERM_CDAB));
}

__attribute__((target("avx512f,avx512bw,avx512vnni"))) int LowestIndexVnni(
    const ByteLayout& layout, const std::int32_t* xWords) {
  const __m512i laneIndex = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  __m512i smallest = _mm512_set1_epi32(kPaddingKey);
  __m512i index = _mm512_setzero_si512();
  const std::int8_t* codes = layout.codes.data();
  for (std::size_t b = 0; b < layout.blocks; ++b) {
    __m512i dot = _mm512_setzero_si512();
    for (std::size_t g = 0; g < layout.groups; ++g, codes += 64) {
      dot = _mm512_dpbusd_epi32(dot, _mm512_set1_epi32(xWords[g]), _mm512_loadu_si512(codes));
    }
    const __m512i key = _mm512_sub_epi32(_mm512_loadu_si512(layout.norms.data() + b * 16),
                                         _mm512_add_epi32(dot, dot));
    // Strictly smaller only: a lane keeps the earlier (lower) index on a tie.
    const __mmask16 smaller = _mm512_cmplt_epi32_mask(key, smallest);
    smallest = _mm512_mask_mov_epi32(smallest, smaller, key);
    index = _mm512_mask_mov_epi32(
        index, smaller, _mm512_add_epi32(laneIndex, _mm512_set1_epi32(static_cast<int>(b * 16))));
  }
  const __m512i least = MinimumOfLanes(smallest);
  const __mmask16 atLeast = _mm512_cmpeq_epi32_mask(smallest, least);
  const __m512i candidates =
      _mm512_mask_blend_epi32(atLeast, _mm512_set1_epi32(kPaddingKey), index);
  return _mm512_cvtsi512_si32(MinimumOfLanes(candidates));
}

__attribute__((target("avx512f,avx512bw"))) void ShiftToBytes(const int* x, int dim, int low,
                                                              std::uint8_t* bytes) {
  const __m512i shift = _mm512_set1_epi32(low);
  for (int e = 0; e < dim; e += 16) {
    const int left = dim - e;
    const __mmask16 mask =
        left >= 16 ? static_cast<__mmask16>(0xFFFF) : static_cast<__mmask16>((1u << left) - 1);
    const __m512i values = _mm512_maskz_loadu_epi32(mask, x + e);
    // Lanes past the end become 0, so padding adds nothing to a dot product.
    const __m128i packed =
        _mm512_maskz_cvtepi32_epi8(0xFFFF, _mm512_maskz_sub_epi32(mask, values, shift));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(bytes + e), packed);
  }
}

// Code vectors for the 16-bit kernel: blocks of 8 code vectors, and within a
// block, for every pair of elements, 8 lanes of two 16-bit values c - low.
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
    const int block = j / 8;
    const int lane = j % 8;
    std::int32_t norm = 0;
    for (int e = 0; e < dim; ++e) {
      const std::int32_t shifted =
          static_cast<std::int32_t>(static_cast<std::int64_t>(CB.Book[j].Vector[e]) - low);
      norm += shifted * shifted;
      const std::size_t at =
          (static_cast<std::size_t>(block) * layout.pairs + e / 2) * 16 + lane * 2 + e % 2;
      layout.codes[at] = static_cast<std::int16_t>(shifted);
    }
    layout.norms[j] = norm;
  }
  return layout;
}

__attribute__((target("avx2"))) int LowestIndexAvx2(const WordLayout& layout,
                                                    const std::int32_t* xWords) {
  const __m256i laneIndex = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  __m256i smallest = _mm256_set1_epi32(kPaddingKey);
  __m256i index = _mm256_setzero_si256();
  const std::int16_t* codes = layout.codes.data();
  for (std::size_t b = 0; b < layout.blocks; ++b) {
    __m256i dot = _mm256_setzero_si256();
    for (std::size_t p = 0; p < layout.pairs; ++p, codes += 16) {
      const __m256i lanes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(codes));
      dot = _mm256_add_epi32(dot, _mm256_madd_epi16(_mm256_set1_epi32(xWords[p]), lanes));
    }
    const __m256i norms =
        _mm256_loadu_si256(reinterpret_cast<const __m256i*>(layout.norms.data() + b * 8));
    const __m256i key = _mm256_sub_epi32(norms, _mm256_add_epi32(dot, dot));
    const __m256i smaller = _mm256_cmpgt_epi32(smallest, key);
    smallest = _mm256_blendv_epi8(smallest, key, smaller);
    index = _mm256_blendv_epi8(
        index, _mm256_add_epi32(laneIndex, _mm256_set1_epi32(static_cast<int>(b * 8))), smaller);
  }
  alignas(32) std::int32_t keys[8];
  alignas(32) std::int32_t indices[8];
  _mm256_store_si256(reinterpret_cast<__m256i*>(keys), smallest);
  _mm256_store_si256(reinterpret_cast<__m256i*>(indices), index);
  int best = 0;
  for (int lane = 1; lane < 8; ++lane) {
    if (keys[lane] < keys[best] || (keys[lane] == keys[best] && indices[lane] < indices[best])) {
      best = lane;
    }
  }
  return indices[best];
}

}  // namespace

void SearchNearestVnni(const Codebook& TS, int begin, int end, const Codebook& CB, int low,
                       const int* start, int* chosen, std::int64_t* best) {
  const int dim = VectorDimension(CB);
  const ByteLayout layout = LayOutBytes(CB, dim, low);
  // Room for whole 16-lane stores past the last group.
  std::vector<std::uint8_t> bytes(layout.groups * 4 + 16, 0);
  std::vector<std::int32_t> words(layout.groups);
  for (int i = begin; i < end; ++i) {
    ShiftToBytes(TS.Book[i].Vector.get(), dim, low, bytes.data());
    std::memcpy(words.data(), bytes.data(), words.size() * sizeof(std::int32_t));
    const int lowest = LowestIndexVnni(layout, words.data());
    Finish(TS, i, CB, dim, lowest, start[i - begin], chosen + (i - begin), best + (i - begin));
  }
}

void SearchNearestAvx2(const Codebook& TS, int begin, int end, const Codebook& CB, int low,
                       const int* start, int* chosen, std::int64_t* best) {
  const int dim = VectorDimension(CB);
  const WordLayout layout = LayOutWords(CB, dim, low);
  std::vector<std::int16_t> values(layout.pairs * 2, 0);
  std::vector<std::int32_t> words(layout.pairs);
  for (int i = begin; i < end; ++i) {
    const int* x = TS.Book[i].Vector.get();
    for (int e = 0; e < dim; ++e) {
      values[e] = static_cast<std::int16_t>(static_cast<std::int64_t>(x[e]) - low);
    }
    std::memcpy(words.data(), values.data(), words.size() * sizeof(std::int32_t));
    const int lowest = LowestIndexAvx2(layout, words.data());
    Finish(TS, i, CB, dim, lowest, start[i - begin], chosen + (i - begin), best + (i - begin));
  }
}

}  // namespace cb_internal
