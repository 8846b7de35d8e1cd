// A set held at the width of its file's elements: read from a SetReader,
// widened a batch at a time, searched in place, and its centroids.
#include <algorithm>
#include <climits>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include "cb_internal.h"
#include "nearest_search.h"
#include "parallel_parts.h"
#include "search_rule.h"
#include "vqpeek/cb.h"

namespace {

// Narrows `count` int elements to the storage type of a set. Cloned for
// wider vector units: it takes every element of the set.
VQ_WIDE_VECTOR_CLONES void NarrowElements(const int* VQ_RESTRICT from, std::size_t count,
                                          std::uint8_t* VQ_RESTRICT to) {
  for (std::size_t k = 0; k < count; ++k) to[k] = static_cast<std::uint8_t>(from[k]);
}

VQ_WIDE_VECTOR_CLONES void NarrowElements(const int* VQ_RESTRICT from, std::size_t count,
                                          std::uint16_t* VQ_RESTRICT to) {
  for (std::size_t k = 0; k < count; ++k) to[k] = static_cast<std::uint16_t>(from[k]);
}

template <typename T>
void WidenElements(const T* from, std::size_t count, int* to) {
  for (std::size_t k = 0; k < count; ++k) to[k] = static_cast<int>(from[k]);
}

}  // namespace

void ReadNarrowSet(SetReader& reader, NarrowSet* set,
                   const std::function<void(const SetBatch&, int worker)>& visit) {
  cb_internal::CopyHeader(reader.Header(), &set->Header);
  const std::size_t count = static_cast<std::size_t>(reader.Header().Booksize);
  const std::size_t dim = static_cast<std::size_t>(reader.Dimension());
  set->Dim = reader.Dimension();
  // A file's element of 1 or 2 bytes is unsigned; of 3 or 4 bytes it
  // needs an int (4 bytes is read as the int of its bits).
  const int width = reader.Header().BytesPerElement;
  set->ElementBytes = width <= 2 ? width : 4;
  try {
    const std::size_t elements = count * dim;
    if (set->ElementBytes == 1) {
      set->Bytes = std::make_unique_for_overwrite<std::uint8_t[]>(elements);
    } else if (set->ElementBytes == 2) {
      set->Words = std::make_unique_for_overwrite<std::uint16_t[]>(elements);
    } else {
      set->Ints = std::make_unique_for_overwrite<int[]>(elements);
    }
    set->Freqs = std::make_unique_for_overwrite<int[]>(count);
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for new vector element.\n");
  }
  // The fresh pages are made present in few calls, far cheaper than a
  // fault at the first write to each.
  void* elements = set->Bytes != nullptr   ? static_cast<void*>(set->Bytes.get())
                   : set->Words != nullptr ? static_cast<void*>(set->Words.get())
                                           : static_cast<void*>(set->Ints.get());
  cb_internal::FaultInParallel(
      elements, count * dim * static_cast<std::size_t>(set->ElementBytes), false,
      [&] { cb_internal::PrefaultPages(set->Freqs.get(), count * sizeof(int)); });
  set->NameBase.reset();
  set->NameOffsets.reset();
  set->NameBytes.clear();
  // Names are given in the order of the vectors: a batch's names wait until
  // those of every batch before it are in, and whoever finishes a batch
  // puts in those that are ready. So no more than a few batches' names
  // wait at a time.
  const int capacity = reader.BatchCapacity();
  struct Named {
    std::vector<std::pair<int, std::size_t>> names;  // the vector, where its name starts
    std::vector<char> bytes;                         // the names, each ending in its NUL
  };
  std::mutex naming;
  int nextBatch = reader.NextRecord() / capacity;
  std::map<int, Named> waiting;
  reader.ReadInParallel(
      [&](const SetBatch& batch, int worker) {
        const std::size_t first = static_cast<std::size_t>(batch.First);
        const std::size_t elements = static_cast<std::size_t>(batch.Count) * dim;
        if (set->Bytes != nullptr) {
          NarrowElements(batch.Elements, elements, set->Bytes.get() + first * dim);
        } else if (set->Words != nullptr) {
          NarrowElements(batch.Elements, elements, set->Words.get() + first * dim);
        }
        std::copy_n(batch.Freqs, batch.Count, set->Freqs.get() + first);
        try {
          Named named;
          if (batch.Names != nullptr) {
            for (int k = 0; k < batch.Count; ++k) {
              const char* name = batch.Names[k];
              if (name == nullptr) continue;
              named.names.emplace_back(batch.First + k, named.bytes.size());
              named.bytes.insert(named.bytes.end(), name, name + std::strlen(name) + 1);
            }
          }
          const std::lock_guard<std::mutex> lock(naming);
          waiting.emplace(batch.First / capacity, std::move(named));
          for (auto ready = waiting.find(nextBatch); ready != waiting.end();
               ready = waiting.find(++nextBatch)) {
            const Named& turn = ready->second;
            for (const auto& [vector, at] : turn.names) {
              set->AddName(vector, turn.bytes.data() + at);
            }
            waiting.erase(ready);
          }
        } catch (const std::bad_alloc&) {
          FatalError("ERROR: Not enough memory for new vector element.\n");
        }
        if (visit) visit(batch, worker);
      },
      SetReader::kElements | SetReader::kNames,
      [&](int first) -> int* {
        // Rows of ints are decoded straight into their place; narrower ones
        // through the worker's own batch.
        return set->Ints != nullptr ? set->Ints.get() + static_cast<std::size_t>(first) * dim
                                    : nullptr;
      });
  set->Header.TotalFreq = reader.Header().TotalFreq;
}

void NarrowSet::AddName(int i, const char* name) {
  constexpr std::uint64_t kNoBase = ~std::uint64_t{0};
  if (NameOffsets == nullptr) {
    const std::size_t count = static_cast<std::size_t>(Size());
    NameOffsets = std::make_unique_for_overwrite<std::uint32_t[]>(count);
    std::fill_n(NameOffsets.get(), count, kNoName);
    const std::size_t groups = (count + kNameGroup - 1) / kNameGroup;
    NameBase = std::make_unique_for_overwrite<std::uint64_t[]>(groups);
    std::fill_n(NameBase.get(), groups, kNoBase);
  }
  std::uint64_t& base = NameBase[i / kNameGroup];
  if (base == kNoBase) base = NameBytes.size();
  // A group's names take at most kNameGroup times the longest name a file
  // holds, far below 4 GB; names of any length from records are kept alike.
  NameOffsets[i] = static_cast<std::uint32_t>(NameBytes.size() - base);
  NameBytes.insert(NameBytes.end(), name, name + std::strlen(name) + 1);
}

void WidenRows(const NarrowSet& set, int first, int count, int* rows) {
  const std::size_t dim = static_cast<std::size_t>(set.Dim);
  const std::size_t from = static_cast<std::size_t>(first) * dim;
  const std::size_t elements = static_cast<std::size_t>(count) * dim;
  if (set.Bytes != nullptr) {
    WidenElements(set.Bytes.get() + from, elements, rows);
  } else if (set.Words != nullptr) {
    WidenElements(set.Words.get() + from, elements, rows);
  } else if (elements > 0) {
    std::copy_n(set.Ints.get() + from, elements, rows);
  }
}

void AssignNarrowSet(const NarrowSet& set, const Codebook& CB, int* labels) {
  cb_internal::RequireSearchableCodebook(set.Header, CB);
  const int n = set.Size();
  const int dim = set.Dim;
  const cb_internal::VectorRows rows =
      set.Bytes != nullptr   ? cb_internal::VectorRows(set.Bytes.get(), dim)
      : set.Words != nullptr ? cb_internal::VectorRows(set.Words.get(), dim)
                             : cb_internal::VectorRows(set.Ints.get(), dim);
  // The search splits each block between the threads; the blocks bound the
  // memory for the distances, which are not kept.
  constexpr int kBlock = 1 << 18;
  std::vector<int> start;
  std::unique_ptr<std::int64_t[]> best;
  try {
    start.assign(static_cast<std::size_t>(std::min(n, kBlock)), 0);
    best = std::make_unique_for_overwrite<std::int64_t[]>(start.size());
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for the partitioning.\n");
  }
  for (int first = 0; first < n; first += kBlock) {
    const int end = first + std::min(kBlock, n - first);
    cb_internal::SearchNearestSquared(rows, first, end, CB, start.data(), labels + first,
                                      best.get());
  }
}

void NarrowSetCentroids(const NarrowSet& set, const int* labels, int partitions,
                        Codebook* centroids) {
  CreateNewCodebook(centroids, partitions, &set.Header);
  CentroidAccumulator sums(partitions, set.Dim);
  RowBatches batches(set.Size(), set.Dim, INT_MAX, kCopiedBatchBytes);
  batches.ForEach([&](std::int64_t start, int count, int* rows) {
    const int first = static_cast<int>(start);
    WidenRows(set, first, count, rows);
    sums.Add(rows, set.Freqs.get() + first, labels + first, count);
  });
  // A partition without a centroid keeps the zeros and the frequency 0 of
  // the fresh node.
  for (int k = 0; k < partitions; ++k) sums.Centroid(k, &centroids->Book[k]);
}
