// Distinct rows counted at their narrowest width.
#include "distinct_rows.h"

#include <algorithm>
#include <cstring>

namespace cb_internal {

namespace {

constexpr int kShardBits = 8;
constexpr std::size_t kShards = std::size_t{1} << kShardBits;
// The copies of long encodings are kept in blocks of about this many bytes.
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;

// A 64-bit mix of a value; equal values mix alike.
std::uint64_t Mix(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xFF51AFD7ED558CCDull;
  x ^= x >> 33;
  x *= 0xC4CEB9FE1A85EC53ull;
  return x ^ (x >> 33);
}

// A 64-bit hash of `count` bytes.
std::uint64_t HashBytes(const std::uint8_t* bytes, std::size_t count) {
  std::uint64_t hash = 0x9E3779B97F4A7C15ull ^ count;
  for (; count >= 8; bytes += 8, count -= 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes, 8);
    hash = (hash ^ word) * 0xBF58476D1CE4E5B9ull;
    hash ^= hash >> 29;
  }
  std::uint64_t tail = 0;
  std::memcpy(&tail, bytes, count);
  return Mix(hash ^ tail);
}

// A set of nonzero values in shards chosen by the top bits of a 64-bit
// hash, each a power-of-two table with linear probing over the low bits,
// grown alone once three quarters full.
template <typename Value>
class ShardedSet {
 public:
  // Inserts `value`, placed by `hash`, unless a stored value is equal to it
  // (equal(stored)); hashOf(stored) gives the hash a stored value was
  // placed by. Returns whether the value was new.
  template <typename Equal, typename HashOf>
  bool Insert(Value value, std::uint64_t hash, const Equal& equal, const HashOf& hashOf) {
    Shard& shard = shards_[hash >> (64 - kShardBits)];
    if ((shard.used + 1) * 4 > shard.slots.size() * 3) Grow(shard, hashOf);
    const std::size_t mask = shard.slots.size() - 1;
    for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
      Value& slot = shard.slots[i];
      if (slot == 0) {
        slot = value;
        ++shard.used;
        return true;
      }
      if (equal(slot)) return false;
    }
  }

 private:
  struct Shard {
    std::vector<Value> slots;
    std::size_t used = 0;
  };

  template <typename HashOf>
  static void Grow(Shard& shard, const HashOf& hashOf) {
    std::vector<Value> old(std::max<std::size_t>(16, shard.slots.size() * 2), Value{0});
    old.swap(shard.slots);
    const std::size_t mask = shard.slots.size() - 1;
    for (const Value value : old) {
      if (value == 0) continue;
      std::size_t i = hashOf(value) & mask;
      while (shard.slots[i] != 0) i = (i + 1) & mask;
      shard.slots[i] = value;
    }
  }

  std::array<Shard, kShards> shards_;
};

}  // namespace

// The rows of one width of their elements.
struct DistinctRows::Width {
  Width(int dim, std::size_t elementBytes)
      : elementBytes(elementBytes),
        encodingBytes(static_cast<std::size_t>(dim) * elementBytes),
        perBlock(std::max<std::size_t>(1, kBlockBytes / encodingBytes)) {}

  // The encoding of a row of at most 8 bytes as a number.
  std::uint64_t Key(const int* row) const {
    std::uint64_t key = 0;
    const std::size_t dim = encodingBytes / elementBytes;
    for (std::size_t e = 0; e < dim; ++e) {
      key |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(row[e]))
             << (8 * elementBytes * e);
    }
    return key;
  }

  // The encoding of a longer row, into `scratch`.
  void Encode(const int* row) {
    const std::size_t dim = encodingBytes / elementBytes;
    scratch.resize(encodingBytes);
    std::uint8_t* out = scratch.data();
    if (elementBytes == 1) {
      for (std::size_t e = 0; e < dim; ++e) out[e] = static_cast<std::uint8_t>(row[e]);
    } else if (elementBytes == 2) {
      for (std::size_t e = 0; e < dim; ++e) {
        const std::uint16_t value = static_cast<std::uint16_t>(row[e]);
        std::memcpy(out + 2 * e, &value, 2);
      }
    } else {
      std::memcpy(out, row, encodingBytes);
    }
  }

  const std::uint8_t* Stored(std::uint64_t number) const {
    return blocks[number / perBlock].get() + (number % perBlock) * encodingBytes;
  }

  // Whether `row` is new among the rows of this width.
  bool Add(const int* row) {
    if (encodingBytes <= 3) {
      const std::uint64_t key = Key(row);
      if (bits.empty()) bits.assign(((std::size_t{1} << (8 * encodingBytes)) + 63) / 64, 0);
      std::uint64_t& word = bits[key / 64];
      const std::uint64_t bit = std::uint64_t{1} << (key % 64);
      const bool added = (word & bit) == 0;
      word |= bit;
      return added;
    }
    if (encodingBytes <= 8) {
      // The slots hold the key plus one, so that 0 marks an empty slot; the
      // one key that this would wrap to 0 is kept aside.
      const std::uint64_t key = Key(row);
      const bool narrow = encodingBytes <= 4;
      if (key == (narrow ? std::uint64_t{UINT32_MAX} : UINT64_MAX)) {
        const bool added = !allOnes;
        allOnes = true;
        return added;
      }
      if (narrow) {
        const std::uint32_t value = static_cast<std::uint32_t>(key) + 1;
        return keys32.Insert(
            value, Mix(key), [value](std::uint32_t stored) { return stored == value; },
            [](std::uint32_t stored) { return Mix(stored - 1); });
      }
      return keys64.Insert(
          key + 1, Mix(key), [key](std::uint64_t stored) { return stored == key + 1; },
          [](std::uint64_t stored) { return Mix(stored - 1); });
    }
    // A slot holds 32 bits of the hash above the number of the row plus one;
    // those 32 bits also place it (shard and position), so that growing
    // needs nothing but the slot.
    Encode(row);
    const std::uint64_t tag = HashBytes(scratch.data(), encodingBytes) >> 32;
    const std::uint64_t placed = (tag << 32) | tag;
    const bool added = rows.Insert(
        (tag << 32) | (stored + 1), placed,
        [&](std::uint64_t slot) {
          return (slot >> 32) == tag &&
                 std::memcmp(Stored((slot & 0xFFFFFFFFu) - 1), scratch.data(), encodingBytes) == 0;
        },
        [](std::uint64_t slot) { return (slot & ~std::uint64_t{0xFFFFFFFFu}) | (slot >> 32); });
    if (added) {
      if (stored % perBlock == 0) {
        blocks.push_back(std::make_unique_for_overwrite<std::uint8_t[]>(perBlock * encodingBytes));
      }
      std::memcpy(blocks.back().get() + (stored % perBlock) * encodingBytes, scratch.data(),
                  encodingBytes);
      ++stored;
    }
    return added;
  }

  std::size_t elementBytes;
  std::size_t encodingBytes;
  std::size_t perBlock;
  std::vector<std::uint64_t> bits;
  ShardedSet<std::uint32_t> keys32;
  ShardedSet<std::uint64_t> keys64;
  bool allOnes = false;
  ShardedSet<std::uint64_t> rows;
  std::vector<std::unique_ptr<std::uint8_t[]>> blocks;
  std::uint64_t stored = 0;
  std::vector<std::uint8_t> scratch;
};

DistinctRows::DistinctRows(int dim) : dim_(dim) {}

DistinctRows::~DistinctRows() = default;

void DistinctRows::Add(const int* row) {
  std::uint32_t bits = 0;
  for (int e = 0; e < dim_; ++e) bits |= static_cast<std::uint32_t>(row[e]);
  const int width = bits < 256 ? 0 : bits < 65536 ? 1 : 2;
  std::unique_ptr<Width>& rows = widths_[static_cast<std::size_t>(width)];
  if (rows == nullptr) rows = std::make_unique<Width>(dim_, std::size_t{1} << width);
  if (rows->Add(row)) ++count_;
}

}  // namespace cb_internal
