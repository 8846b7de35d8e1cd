// Distinct rows counted at their narrowest width.
#include "distinct_rows.h"

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <cstring>
#include <new>

#include "vqpeek/threads.h"

namespace cb_internal {

namespace {

constexpr int kShardBits = 8;
constexpr std::size_t kShards = std::size_t{1} << kShardBits;
// The copies of long encodings are kept in blocks of about this many bytes.
constexpr std::size_t kBlockBytes = std::size_t{1} << 20;
// An array of encodings starts with room for this many bytes.
constexpr std::size_t kFirstArrayBytes = std::size_t{1} << 20;
// Ranges of fewer records are sorted by insertion.
constexpr std::size_t kInsertionSortRecords = 32;

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

// Eight bytes as a number that orders as memcmp orders them.
std::uint64_t OrderedWord(const std::uint8_t* bytes) {
  std::uint64_t word;
  std::memcpy(&word, bytes, 8);
  if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
  return word;
}

// memcmp of two records of `size` bytes from byte `from` on, eight bytes at
// a time.
int CompareRecords(const std::uint8_t* a, const std::uint8_t* b, std::size_t size,
                   std::size_t from = 0) {
  std::size_t i = from;
  for (; i + 8 <= size; i += 8) {
    const std::uint64_t x = OrderedWord(a + i);
    const std::uint64_t y = OrderedWord(b + i);
    if (x != y) return x < y ? -1 : 1;
  }
  return i < size ? std::memcmp(a + i, b + i, size - i) : 0;
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

  // The bytes of the slots.
  std::size_t Bytes() const { return slotCount_ * sizeof(Value); }

  // Calls take(value) for every stored value.
  template <typename Take>
  void ForEach(const Take& take) const {
    for (const Shard& shard : shards_) {
      for (const Value value : shard.slots) {
        if (value != 0) take(value);
      }
    }
  }

 private:
  struct Shard {
    std::vector<Value> slots;
    std::size_t used = 0;
  };

  template <typename HashOf>
  void Grow(Shard& shard, const HashOf& hashOf) {
    std::vector<Value> old(std::max<std::size_t>(16, shard.slots.size() * 2), Value{0});
    old.swap(shard.slots);
    slotCount_ += shard.slots.size() - old.size();
    const std::size_t mask = shard.slots.size() - 1;
    for (const Value value : old) {
      if (value == 0) continue;
      std::size_t i = hashOf(value) & mask;
      while (shard.slots[i] != 0) i = (i + 1) & mask;
      shard.slots[i] = value;
    }
  }

  std::array<Shard, kShards> shards_;
  std::size_t slotCount_ = 0;
};

struct FreeBytes {
  void operator()(std::uint8_t* bytes) const noexcept { std::free(bytes); }
};

}  // namespace

// The rows of one width of their elements that one worker was given.
struct DistinctRows::Share {
  Share(int dim, std::size_t elementBytes, std::size_t tableBytes)
      : elementBytes(elementBytes),
        encodingBytes(static_cast<std::size_t>(dim) * elementBytes),
        perBlock(std::max<std::size_t>(1, kBlockBytes / encodingBytes)),
        tableBytes(tableBytes),
        scratch(encodingBytes) {}

  // The encoding of a row of at most 8 bytes as a number: byte e of the
  // encoding is its byte e.
  std::uint64_t Key(const int* row) const {
    std::uint64_t key = 0;
    const std::size_t dim = encodingBytes / elementBytes;
    for (std::size_t e = 0; e < dim; ++e) {
      key |= static_cast<std::uint64_t>(static_cast<std::uint32_t>(row[e]))
             << (8 * elementBytes * e);
    }
    return key;
  }

  // The encoding of a row, into `scratch`: each element in `elementBytes`
  // bytes, least significant first.
  void Encode(const int* row) {
    const std::size_t dim = encodingBytes / elementBytes;
    std::uint8_t* out = scratch.data();
    if (elementBytes == 1) {
      for (std::size_t e = 0; e < dim; ++e) out[e] = static_cast<std::uint8_t>(row[e]);
      return;
    }
    for (std::size_t e = 0; e < dim; ++e) {
      const std::uint32_t value = static_cast<std::uint32_t>(row[e]);
      for (std::size_t b = 0; b < elementBytes; ++b) {
        out[e * elementBytes + b] = static_cast<std::uint8_t>(value >> (8 * b));
      }
    }
  }

  const std::uint8_t* Stored(std::uint64_t number) const {
    return blocks[number / perBlock].get() + (number % perBlock) * encodingBytes;
  }

  std::size_t TableBytes() const {
    return keys32.Bytes() + keys64.Bytes() + rows.Bytes() +
           blocks.size() * perBlock * encodingBytes;
  }

  void Add(const int* row) {
    if (encodingBytes <= 3) {
      const std::uint64_t key = Key(row);
      if (bits.empty()) bits.assign(((std::size_t{1} << (8 * encodingBytes)) + 63) / 64, 0);
      bits[key / 64] |= std::uint64_t{1} << (key % 64);
      return;
    }
    if (inArray) {
      Encode(row);
      Append(scratch.data());
      return;
    }
    if (InsertIntoTable(row) && TableBytes() > tableBytes) MoveTableToArray();
  }

  // Whether `row` is new to the hash set.
  bool InsertIntoTable(const int* row) {
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

  // Appends an encoding to the array, which grows by doubling (its pages
  // are moved, not copied, and only the written ones are taken).
  void Append(const std::uint8_t* encoding) {
    if (arrayBytes + encodingBytes > arrayCapacity) {
      const std::size_t wanted =
          std::max({kFirstArrayBytes, arrayCapacity * 2, arrayBytes + encodingBytes});
      void* larger = std::realloc(array.get(), wanted);
      if (larger == nullptr) throw std::bad_alloc();
      static_cast<void>(array.release());
      array.reset(static_cast<std::uint8_t*>(larger));
      arrayCapacity = wanted;
    }
    std::memcpy(array.get() + arrayBytes, encoding, encodingBytes);
    arrayBytes += encodingBytes;
  }

  // Moves every row of the hash set to the array, and lets the set go.
  void MoveTableToArray() {
    if (inArray) return;
    inArray = true;
    auto appendKey = [&](std::uint64_t key) {
      for (std::size_t b = 0; b < encodingBytes; ++b) {
        scratch[b] = static_cast<std::uint8_t>(key >> (8 * b));
      }
      Append(scratch.data());
    };
    if (allOnes) appendKey(encodingBytes <= 4 ? std::uint64_t{UINT32_MAX} : UINT64_MAX);
    keys32.ForEach([&](std::uint32_t value) { appendKey(value - 1u); });
    keys64.ForEach([&](std::uint64_t value) { appendKey(value - 1); });
    for (std::uint64_t n = 0; n < stored; ++n) Append(Stored(n));
    keys32 = ShardedSet<std::uint32_t>();
    keys64 = ShardedSet<std::uint64_t>();
    rows = ShardedSet<std::uint64_t>();
    std::vector<std::unique_ptr<std::uint8_t[]>>().swap(blocks);
    stored = 0;
    allOnes = false;
  }

  // The rows of the hash set alone, for a share that never moved them.
  std::int64_t TableCount() const {
    std::int64_t count = allOnes ? 1 : 0;
    keys32.ForEach([&](std::uint32_t) { ++count; });
    keys64.ForEach([&](std::uint64_t) { ++count; });
    return count + static_cast<std::int64_t>(stored);
  }

  std::size_t elementBytes;
  std::size_t encodingBytes;
  std::size_t perBlock;
  std::size_t tableBytes;
  std::vector<std::uint64_t> bits;
  ShardedSet<std::uint32_t> keys32;
  ShardedSet<std::uint64_t> keys64;
  bool allOnes = false;
  ShardedSet<std::uint64_t> rows;
  std::vector<std::unique_ptr<std::uint8_t[]>> blocks;
  std::uint64_t stored = 0;
  std::vector<std::uint8_t> scratch;
  bool inArray = false;
  std::unique_ptr<std::uint8_t, FreeBytes> array;
  std::size_t arrayBytes = 0;
  std::size_t arrayCapacity = 0;
};

DistinctRows::DistinctRows(int dim, int workers, std::size_t tableBytes)
    : dim_(dim), workers_(std::max(workers, 1)), tableBytes_(tableBytes) {
  for (auto& shares : shares_) shares.resize(static_cast<std::size_t>(workers_));
}

DistinctRows::~DistinctRows() = default;

void DistinctRows::Add(const int* row, int worker) {
  std::uint32_t bits = 0;
  for (int e = 0; e < dim_; ++e) bits |= static_cast<std::uint32_t>(row[e]);
  const int width = bits < 256 ? 0 : bits < 65536 ? 1 : 2;
  std::unique_ptr<Share>& share =
      shares_[static_cast<std::size_t>(width)][static_cast<std::size_t>(worker)];
  if (share == nullptr) share = std::make_unique<Share>(dim_, std::size_t{1} << width, tableBytes_);
  share->Add(row);
}

std::int64_t DistinctRows::Count() {
  std::int64_t count = 0;
  for (auto& shares : shares_) {
    std::vector<Share*> present;
    for (const std::unique_ptr<Share>& share : shares) {
      if (share != nullptr) present.push_back(share.get());
    }
    if (present.empty()) continue;
    const std::size_t size = present[0]->encodingBytes;
    if (size <= 3) {
      // The bitmaps of every worker together.
      std::vector<std::uint64_t>& bits = present[0]->bits;
      for (std::size_t w = 1; w < present.size(); ++w) {
        for (std::size_t i = 0; i < bits.size(); ++i) bits[i] |= present[w]->bits[i];
      }
      for (const std::uint64_t word : bits) count += std::popcount(word);
      continue;
    }
    if (present.size() == 1 && !present[0]->inArray) {
      count += present[0]->TableCount();
      continue;
    }
    // Every share's rows in its array, sorted on a thread of its own; then
    // the arrays walked together, each distinct encoding counted once.
    RunInParallel(static_cast<int>(present.size()), static_cast<int>(present.size()),
                  [&](int part, int) {
                    Share& share = *present[static_cast<std::size_t>(part)];
                    share.MoveTableToArray();
                    SortRecords(share.array.get(), share.arrayBytes / size, size);
                  });
    std::vector<const std::uint8_t*> at(present.size());
    std::vector<const std::uint8_t*> end(present.size());
    for (std::size_t w = 0; w < present.size(); ++w) {
      at[w] = present[w]->array.get();
      end[w] = at[w] + present[w]->arrayBytes;
    }
    for (;;) {
      const std::uint8_t* least = nullptr;
      for (std::size_t w = 0; w < at.size(); ++w) {
        if (at[w] != end[w] && (least == nullptr || CompareRecords(at[w], least, size) < 0)) {
          least = at[w];
        }
      }
      if (least == nullptr) break;
      ++count;
      // `least` stays where it is: the arrays do not move while they are
      // walked, so every array steps past its copies of it.
      for (std::size_t w = 0; w < at.size(); ++w) {
        while (at[w] != end[w] && CompareRecords(at[w], least, size) == 0) at[w] += size;
      }
    }
  }
  return count;
}

void DistinctRows::SortRecords(std::uint8_t* records, std::size_t count, std::size_t size) {
  if (count < 2) return;
  struct Range {
    std::size_t first;
    std::size_t count;
    std::size_t byte;  // the bytes before it are equal across the range
  };
  std::vector<Range> pending = {{0, count, 0}};
  std::vector<std::uint8_t> held(size);
  auto swap = [&](std::uint8_t* a, std::uint8_t* b) {
    std::memcpy(held.data(), a, size);
    std::memcpy(a, b, size);
    std::memcpy(b, held.data(), size);
  };
  while (!pending.empty()) {
    Range range = pending.back();
    pending.pop_back();
    std::uint8_t* base = records + range.first * size;
    for (;;) {
      if (range.byte >= size) break;  // every record of the range is equal
      if (range.count < kInsertionSortRecords) {
        for (std::size_t i = 1; i < range.count; ++i) {
          std::memcpy(held.data(), base + i * size, size);
          std::size_t j = i;
          for (; j > 0 && CompareRecords(base + (j - 1) * size, held.data(), size, range.byte) > 0;
               --j) {
            std::memcpy(base + j * size, base + (j - 1) * size, size);
          }
          std::memcpy(base + j * size, held.data(), size);
        }
        break;
      }
      // An in-place pass by byte `range.byte`: the counts of each value,
      // then every record swapped into its value's run.
      std::size_t counts[256] = {};
      for (std::size_t i = 0; i < range.count; ++i) ++counts[base[i * size + range.byte]];
      if (counts[base[range.byte]] == range.count) {
        ++range.byte;  // one value: the next byte decides
        continue;
      }
      std::size_t next[256];
      std::size_t ends[256];
      std::size_t sum = 0;
      for (int v = 0; v < 256; ++v) {
        next[v] = sum;
        sum += counts[v];
        ends[v] = sum;
      }
      for (int v = 0; v < 256; ++v) {
        while (next[v] < ends[v]) {
          std::uint8_t* record = base + next[v] * size;
          const int value = record[range.byte];
          if (value == v) {
            ++next[v];
          } else {
            swap(record, base + next[value]++ * size);
          }
        }
      }
      std::size_t first = 0;
      for (int v = 0; v < 256; ++v) {
        if (counts[v] > 1) pending.push_back({range.first + first, counts[v], range.byte + 1});
        first += counts[v];
      }
      break;
    }
  }
}

}  // namespace cb_internal
