// The Partitioning record: creation, release, moving one vector, and the
// centroid of one partition.
//
// Besides the singly linked member lists (First, Next) the record keeps the
// predecessor of every member (Prev), so a vector leaves its list in
// constant time. The lists themselves, and so every member order, are
// exactly those of the singly linked form.
#include <algorithm>
#include <atomic>
#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "cb_internal.h"
#include "parallel_parts.h"
#include "vqpeek/cb.h"

using cb_internal::WrapAdd;
using cb_internal::WrapMul;
using cb_internal::WrapSub;

namespace {

std::unique_ptr<int[]> IntArray(int count, int value) {
  auto array = std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) array[i] = value;
  return array;
}

using cb_internal::kBulkPartSize;

// in[e] += freq * elements[e] and out[e] -= the same, for e < dim, wrapping.
// The product of two int32 values always fits int64; only the sums wrap.
// The three arrays never overlap.
inline void MoveWeighted(std::uint64_t* VQ_RESTRICT out, std::uint64_t* VQ_RESTRICT in,
                         const int* VQ_RESTRICT elements, int freq, std::size_t dim) {
  for (std::size_t e = 0; e < dim; ++e) {
    const std::uint64_t product = static_cast<std::uint64_t>(std::int64_t{freq} * elements[e]);
    out[e] -= product;
    in[e] += product;
  }
}

inline void AddWeighted(std::uint64_t* VQ_RESTRICT in, const int* VQ_RESTRICT elements, int freq,
                        std::size_t dim) {
  for (std::size_t e = 0; e < dim; ++e) {
    in[e] += static_cast<std::uint64_t>(std::int64_t{freq} * elements[e]);
  }
}

inline void SubtractWeighted(std::uint64_t* VQ_RESTRICT out, const int* VQ_RESTRICT elements,
                             int freq, std::size_t dim) {
  for (std::size_t e = 0; e < dim; ++e) {
    out[e] -= static_cast<std::uint64_t>(std::int64_t{freq} * elements[e]);
  }
}

// The totals of moves, in wrapping arithmetic: for every vector i of
// begin .. end-1 with from(i) != to(i), its weighted elements, its Freq and
// 1 leave the slot of from(i) and join the slot of to(i) (-1: none). A slot
// holds dim element sums, the frequency and the size. from is `map`, or -1
// for every vector when `map` is null. Cloned for wider vector units.
VQ_WIDE_VECTOR_CLONES void AddMoves(const CodebookNode* book, const int* map, const int* target,
                                    int begin, int end, std::size_t dim, std::uint64_t* slots) {
  for (int i = begin; i < end; ++i) {
    const int from = map != nullptr ? map[i] : -1;
    const int to = target[i];
    if (from == to) continue;
    const int freq = book[i].Freq;
    const int* elements = book[i].Vector.get();
    std::uint64_t* out = from != -1 ? slots + static_cast<std::size_t>(from) * (dim + 2) : nullptr;
    std::uint64_t* in = to != -1 ? slots + static_cast<std::size_t>(to) * (dim + 2) : nullptr;
    if (out != nullptr && in != nullptr) {
      MoveWeighted(out, in, elements, freq, dim);
    } else if (in != nullptr) {
      AddWeighted(in, elements, freq, dim);
    } else if (out != nullptr) {
      SubtractWeighted(out, elements, freq, dim);
    }
    if (out != nullptr) {
      out[dim] -= static_cast<std::uint64_t>(freq);
      out[dim + 1] -= 1;
    }
    if (in != nullptr) {
      in[dim] += static_cast<std::uint64_t>(freq);
      in[dim + 1] += 1;
    }
  }
}

// Adds the slots that AddMoves filled to the totals of the partitions.
void AddSlots(const std::uint64_t* slots, std::size_t dim, Partitioning* P) {
  for (int k = 0; k < P->PartitionCount; ++k, slots += dim + 2) {
    PartitionSum& totals = P->PartitionSums[k];
    for (std::size_t e = 0; e < dim; ++e) {
      totals.VectorSum[e] = WrapAdd(totals.VectorSum[e], static_cast<std::int64_t>(slots[e]));
    }
    totals.CCFreq = cb_internal::WrapAdd32(totals.CCFreq, static_cast<int>(slots[dim]));
    P->PartitionSize[k] += static_cast<int>(slots[dim + 1]);
  }
}

// Partition totals a worker may keep of its own when moving vectors in
// bulk (each a 64-bit number).
constexpr std::size_t kMaxWorkerTotals = std::size_t{1} << 16;

// Adds (sign +1) or removes (sign -1) the weighted vector of training vector
// v to or from the totals of partition k.
void UpdateTotals(const Codebook* TS, Partitioning* P, int k, int v, int sign) {
  const CodebookNode& node = TS->Book[v];
  PartitionSum& totals = P->PartitionSums[k];
  std::int64_t* sums = totals.VectorSum.get();
  const int* elements = node.Vector.get();
  const std::int64_t freq = node.Freq;
  if (sign > 0) {
    for (int e = 0; e < P->VectorDim; ++e) sums[e] = WrapAdd(sums[e], WrapMul(freq, elements[e]));
    totals.CCFreq = cb_internal::WrapAdd32(totals.CCFreq, node.Freq);
    ++P->PartitionSize[k];
  } else {
    for (int e = 0; e < P->VectorDim; ++e) sums[e] = WrapSub(sums[e], WrapMul(freq, elements[e]));
    totals.CCFreq = cb_internal::WrapSub32(totals.CCFreq, node.Freq);
    --P->PartitionSize[k];
  }
}

}  // namespace

namespace cb_internal {

void RequirePartitionMemory(int slots, int dim, int vectors) {
  // A slot holds its First and PartitionSize entries, its totals and its own
  // sum array, which costs the allocator's bookkeeping on top; a vector its
  // Map, Next and Prev entries.
  constexpr std::uint64_t kAllocationOverhead = 16;
  const std::uint64_t sumBytes =
      static_cast<std::uint64_t>(dim > 0 ? dim : 1) * sizeof(std::int64_t);
  const std::uint64_t slotBytes =
      2 * sizeof(int) + sizeof(PartitionSum) + sumBytes + kAllocationOverhead;
  const std::uint64_t vectorBytes =
      3 * sizeof(int) * static_cast<std::uint64_t>(vectors > 0 ? vectors : 0);
  if (!FitsInMemory(static_cast<std::uint64_t>(slots > 0 ? slots : 0), slotBytes, vectorBytes)) {
    FatalError("ERROR: Not enough memory for the partitioning.\n");
  }
}

std::unique_ptr<PartitionSum[]> NewPartitionSums(int count, int dim) {
  auto sums = std::make_unique<PartitionSum[]>(static_cast<std::size_t>(count));
  for (int k = 0; k < count; ++k) {
    sums[k].VectorSum = std::make_unique<std::int64_t[]>(static_cast<std::size_t>(dim));
  }
  return sums;
}

}  // namespace cb_internal

void CreateNewPartitioning(Partitioning* P, const Codebook* TS, int count) {
  if (count < 1) FatalError("ERROR: Invalid number of partitions (%d).\n", count);
  SetVerString(P->Versionstr, kPartitioningFile);
  P->PartitionCount = count;
  P->TSsize = TS->Booksize;
  P->VectorDim = VectorDimension(*TS);
  const int n = P->TSsize;
  cb_internal::RequirePartitionMemory(count, P->VectorDim, n);
  try {
    P->Map = std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(n));
    P->Next = std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(n));
    P->Prev = std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(n));
    P->First = IntArray(count, -1);
    P->PartitionSize = IntArray(count, 0);
    P->PartitionSums = cb_internal::NewPartitionSums(count, P->VectorDim > 0 ? P->VectorDim : 0);
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for the partitioning.\n");
  }
  P->AllocatedPartitions = count;
  ClearString(P->GenerationMethod);

  // Every vector starts in partition 0, in ascending order. The arrays are
  // filled and partition 0's totals summed in parts on several threads;
  // the wrapping sums come out the same in any order of the additions.
  const std::size_t dim = static_cast<std::size_t>(std::max(P->VectorDim, 0));
  const int threads = cb_internal::ThreadsFor(n, kBulkPartSize);
  // Partition 0's slot of the totals, one per worker.
  std::vector<std::uint64_t> slots(static_cast<std::size_t>(threads) * (dim + 2), 0);
  auto fill = [&](std::int64_t begin, std::int64_t end, int worker) {
    const std::size_t bytes = static_cast<std::size_t>(end - begin) * sizeof(int);
    cb_internal::PrefaultPages(&P->Map[begin], bytes);
    cb_internal::PrefaultPages(&P->Next[begin], bytes);
    cb_internal::PrefaultPages(&P->Prev[begin], bytes);
    for (int i = static_cast<int>(begin); i < end; ++i) {
      P->Map[i] = 0;
      P->Next[i] = i + 1 < n ? i + 1 : -1;
      P->Prev[i] = i - 1;
    }
    AddMoves(TS->Book.get(), nullptr, P->Map.get(), static_cast<int>(begin), static_cast<int>(end),
             dim, slots.data() + static_cast<std::size_t>(worker) * (dim + 2));
  };
  cb_internal::RunInParts(n, kBulkPartSize, threads, fill);
  for (int w = 0; w < threads; ++w) {
    const std::uint64_t* slot = slots.data() + static_cast<std::size_t>(w) * (dim + 2);
    PartitionSum& totals = P->PartitionSums[0];
    for (std::size_t e = 0; e < dim; ++e) {
      totals.VectorSum[e] = WrapAdd(totals.VectorSum[e], static_cast<std::int64_t>(slot[e]));
    }
    totals.CCFreq = cb_internal::WrapAdd32(totals.CCFreq, static_cast<int>(slot[dim]));
  }
  P->PartitionSize[0] = n;
  P->First[0] = n > 0 ? 0 : -1;
}

void FreePartitioning(Partitioning* P) {
  P->Map.reset();
  P->First.reset();
  P->Next.reset();
  P->Prev.reset();
  P->PartitionSize.reset();
  P->PartitionSums.reset();
}

void ChangePartition(const Codebook* TS, Partitioning* P, int newPartition, int v) {
  if (v < 0 || v >= P->TSsize || newPartition < -1 || newPartition >= P->PartitionCount) {
    FatalError("ERROR: ChangePartition: invalid vector %d or partition %d.\n", v, newPartition);
  }
  const int old = P->Map[v];
  if (old != -1) {
    const int before = P->Prev[v];
    const int after = P->Next[v];
    if (before == -1) {
      P->First[old] = after;
    } else {
      P->Next[before] = after;
    }
    if (after != -1) P->Prev[after] = before;
    P->Map[v] = -1;
    P->Next[v] = -1;
    P->Prev[v] = -1;
    UpdateTotals(TS, P, old, v, -1);
  }
  if (newPartition == -1) return;

  const int head = P->First[newPartition];
  P->Map[v] = newPartition;
  P->Next[v] = head;
  P->Prev[v] = -1;
  if (head != -1) P->Prev[head] = v;
  P->First[newPartition] = v;
  UpdateTotals(TS, P, newPartition, v, +1);
}

namespace cb_internal {

void MoveInBulk(const Codebook& TS, Partitioning* P, int* target, bool everyVector,
                const std::function<void(int, int)>& prepare, std::int64_t partSize, int threads) {
  const int n = P->TSsize;
  const int count = P->PartitionCount;
  if (!prepare) {
    for (int i = 0; i < n; ++i) {
      if (target[i] < -1 || target[i] >= count) {
        FatalError("ERROR: ChangePartition: invalid vector %d or partition %d.\n", i, target[i]);
      }
    }
  }

  // The lists, in ascending order as the run makes them: a vector leaves
  // its list (through Prev) and joins the head of its new one. Where the
  // totals are not taken in parts, each move changes them here.
  const std::size_t dim = static_cast<std::size_t>(std::max(P->VectorDim, 0));
  const std::size_t slots = static_cast<std::size_t>(count) * (dim + 2);
  const bool inParts = slots <= kMaxWorkerTotals;
  int* map = P->Map.get();
  int* next = P->Next.get();
  int* prev = P->Prev.get();
  int* first = P->First.get();
  auto relink = [&](int begin, int end) {
    for (int i = begin; i < end; ++i) {
      const int from = map[i];
      const int to = target[i];
      if (from == to && !everyVector) continue;
      if (!inParts && from != to) {
        if (from != -1) UpdateTotals(&TS, P, from, i, -1);
        if (to != -1) UpdateTotals(&TS, P, to, i, +1);
      }
      if (from != -1) {
        const int before = prev[i];
        const int after = next[i];
        if (before == -1) {
          first[from] = after;
        } else {
          next[before] = after;
        }
        if (after != -1) prev[after] = before;
      }
      map[i] = to;
      prev[i] = -1;
      if (to == -1) {
        next[i] = -1;
        continue;
      }
      const int head = first[to];
      next[i] = head;
      if (head != -1) prev[head] = i;
      first[to] = i;
    }
  };
  if (!inParts && !prepare) {
    relink(0, n);
    return;
  }

  // The totals: each worker sums the changes of its parts on its own, and
  // the sums are added up afterwards (the wrapping sums come out the same
  // in any order). A vector that moves to its own partition changes
  // nothing. The calling thread relinks the parts in order between the
  // parts it takes, each one as soon as it and every part before it have
  // been taken: the workers read Map and the targets of their own parts
  // only, and the relinking changes Map only in parts already taken.
  if (threads <= 0) threads = cb_internal::ThreadsFor(n, partSize);
  std::vector<std::uint64_t> changes(inParts ? static_cast<std::size_t>(threads) * slots : 0, 0);
  const std::int64_t parts = (n + partSize - 1) / partSize;
  auto taken = std::make_unique<std::atomic<bool>[]>(static_cast<std::size_t>(parts));
  std::int64_t relinked = 0;
  auto relinkTaken = [&] {
    for (; relinked < parts && taken[relinked].load(std::memory_order_acquire); ++relinked) {
      relink(static_cast<int>(relinked * partSize),
             static_cast<int>(std::min<std::int64_t>(n, (relinked + 1) * partSize)));
    }
  };
  auto takeTotals = [&](std::int64_t begin, std::int64_t end, int worker) {
    if (prepare) prepare(static_cast<int>(begin), static_cast<int>(end));
    if (inParts) {
      AddMoves(TS.Book.get(), map, target, static_cast<int>(begin), static_cast<int>(end), dim,
               changes.data() + static_cast<std::size_t>(worker) * slots);
    }
    taken[begin / partSize].store(true, std::memory_order_release);
    if (worker == 0) relinkTaken();
  };
  cb_internal::RunInParts(n, partSize, threads, takeTotals);
  relinkTaken();
  for (int w = 0; inParts && w < threads; ++w) {
    AddSlots(changes.data() + static_cast<std::size_t>(w) * slots, dim, P);
  }
}

}  // namespace cb_internal

void PartitionCentroid(const Partitioning* P, int Pindex, CodebookNode* node) {
  const int freq = P->PartitionSums[Pindex].CCFreq;
  if (freq < 1) FatalError("ERROR: PartitionCentroid Pindex=%i CCFreq=%i\n", Pindex, freq);
  cb_internal::CentroidOf(P->PartitionSums[Pindex], P->VectorDim, node);
}
