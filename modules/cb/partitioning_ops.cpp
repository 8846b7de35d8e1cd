// Operations on a Partitioning as a whole: its allocation and partition
// count, one vector per partition, joining two partitions, refilling empty
// partitions, and copying.
//
// Every operation that relinks members itself (instead of going through
// ChangePartition) keeps Prev exact as well, since ChangePartition unlinks a
// vector through it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "cb_internal.h"
#include "vqpeek/cb.h"

using cb_internal::WrapAdd;
using cb_internal::WrapAdd32;
using cb_internal::WrapMul;

namespace {

// Operations that read training vectors by the record's indices need the
// set the record was made for; another one would be read (or its vectors
// assigned) beyond its end.
void RequireTrainingSet(const Codebook* TS, const Partitioning* P) {
  if (TS->Booksize != P->TSsize) {
    FatalError("ERROR: Partitioning is not for this training set (%d != %d).\n", P->TSsize,
               TS->Booksize);
  }
  const int dim = VectorDimension(*TS);
  if (dim != P->VectorDim) {
    FatalError("ERROR: Partitioning is not for this training set (dimension %d != %d).\n",
               P->VectorDim, dim);
  }
}

void ClearTotals(PartitionSum* totals, int dim) {
  std::fill_n(totals->VectorSum.get(), dim, std::int64_t{0});
  totals->CCFreq = 0;
}

// Lowers the partition count to n (n < PartitionCount). A count of 0 or
// below is reported but not refused; a negative one is taken as 0, so no
// partition below 0 is ever looked at and the count never turns negative.
void ShrinkPartitionCount(Partitioning* P, int n) {
  if (n <= 0) {
    ErrorMessage(
        "CB::DecreaseNumberOfPartitions: New partition count (%i) less than or equal to "
        "zero.\n",
        n);
  }
  const int kept = std::max(n, 0);
  for (int k = kept; k < P->PartitionCount; ++k) {
    if (P->First[k] != -1)
      FatalError("CB::DecreaseNumberOfPartitions: Partition %i not empty.\n", k);
  }
  P->PartitionCount = kept;
}

// Raises the partition count to n (n > PartitionCount); the slots gained are
// already empty.
void GrowPartitionCount(Partitioning* P, int n) {
  if (P->AllocatedPartitions < n) SetNumberOfAllocatedPartitions(P, n);
  P->PartitionCount = n;
}

// Freq * distance in 64 bits, held at the int64 limits instead of wrapping,
// so a huge error never ranks as a small (or negative) one.
std::int64_t WeightedDistance(std::int64_t distance, int freq) {
  std::int64_t product;
  if (!__builtin_mul_overflow(distance, static_cast<std::int64_t>(freq), &product)) return product;
  return (distance < 0) == (freq < 0) ? INT64_MAX : INT64_MIN;
}

struct Candidate {
  std::int64_t weightedDistance;
  int vector;
};

// The refill order: larger weighted distance first, the lower vector index
// first among equal ones.
bool RanksBefore(const Candidate& x, const Candidate& y) {
  if (x.weightedDistance != y.weightedDistance) return x.weightedDistance > y.weightedDistance;
  return x.vector < y.vector;
}

// The `wanted` worst-represented training vectors in refill order. A bounded
// heap whose top is the lowest-ranked entry kept, so each vector costs
// O(log wanted) however many partitions are empty; the set kept and its
// order are those of a sorted list of `wanted` entries that drops its last
// entry on overflow. Vectors in no partition have no code vector and are
// not candidates.
std::vector<Candidate> WorstRepresented(const Codebook* TS, const Codebook* CB,
                                        const Partitioning* P, int wanted) {
  std::vector<Candidate> heap;
  try {
    heap.reserve(static_cast<std::size_t>(std::min(wanted, P->TSsize)));
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for the candidate list.\n");
  }
  const int dim = P->VectorDim;
  for (int j = 0; j < P->TSsize; ++j) {
    const int k = P->Map[j];
    if (k < 0) continue;
    const CodebookNode& training = TS->Book[j];
    const std::int64_t distance =
        VectorDistance(CB->Book[k].Vector.get(), training.Vector.get(), dim, kFullDistance, 0);
    const Candidate entry{WeightedDistance(distance, training.Freq), j};
    if (static_cast<int>(heap.size()) < wanted) {
      heap.push_back(entry);
      std::push_heap(heap.begin(), heap.end(), RanksBefore);
    } else if (RanksBefore(entry, heap.front())) {
      std::pop_heap(heap.begin(), heap.end(), RanksBefore);
      heap.back() = entry;
      std::push_heap(heap.begin(), heap.end(), RanksBefore);
    }
  }
  std::sort_heap(heap.begin(), heap.end(), RanksBefore);
  return heap;
}

}  // namespace

void SetNumberOfAllocatedPartitions(Partitioning* P, int n) {
  if (n < P->PartitionCount) {
    FatalError(
        "CB::SetNumberOfAllocatedPartitions: New allocated size of partitions (%i) < logical "
        "partition count (%i).\n",
        n, P->PartitionCount);
  }
  if (P->AllocatedPartitions >= n) return;

  cb_internal::RequirePartitionMemory(n, P->VectorDim, P->TSsize);
  const int count = P->PartitionCount;
  std::unique_ptr<int[]> first;
  std::unique_ptr<int[]> size;
  std::unique_ptr<PartitionSum[]> sums;
  try {
    first = std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(n));
    size = std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(n));
    // Every slot gets zero totals; those in use then take over their old
    // sum arrays instead of copying them.
    sums = std::make_unique<PartitionSum[]>(static_cast<std::size_t>(n));
    for (int k = count; k < n; ++k) {
      sums[k].VectorSum =
          std::make_unique<std::int64_t[]>(static_cast<std::size_t>(std::max(P->VectorDim, 0)));
    }
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for the partitioning.\n");
  }
  for (int k = 0; k < count; ++k) {
    first[k] = P->First[k];
    size[k] = P->PartitionSize[k];
    sums[k] = std::move(P->PartitionSums[k]);
  }
  std::fill(first.get() + count, first.get() + n, -1);
  std::fill(size.get() + count, size.get() + n, 0);

  P->First = std::move(first);
  P->PartitionSize = std::move(size);
  P->PartitionSums = std::move(sums);
  P->AllocatedPartitions = n;
}

void IncreaseNumberOfPartitions(Partitioning* P, int n) {
  if (n <= P->PartitionCount) {
    FatalError(
        "CB::IncreaseNumberOfPartitions: New partition count (%i) less or equal to old (%i).\n", n,
        P->PartitionCount);
  }
  GrowPartitionCount(P, n);
}

void DecreaseNumberOfPartitions(Partitioning* P, int n) {
  if (n >= P->PartitionCount) {
    FatalError(
        "CB::DecreaseNumberOfPartitions: New partition count (%i) greater or equal to old "
        "(%i).\n",
        n, P->PartitionCount);
  }
  ShrinkPartitionCount(P, n);
}

void ChangeNumberOfPartitions(Partitioning* P, int n) {
  if (n < P->PartitionCount) {
    ShrinkPartitionCount(P, n);
  } else if (n > P->PartitionCount) {
    GrowPartitionCount(P, n);
  }
}

void PutAllInOwnPartition(const Codebook* TS, Partitioning* P) {
  // Checked first: with another set some vectors would keep partitions whose
  // lists are overwritten below.
  RequireTrainingSet(TS, P);
  const int n = TS->Booksize;
  ChangeNumberOfPartitions(P, n);
  if (n <= 0) return;

  // Every vector and every partition in use is overwritten, and the slots
  // from n on were empty already, so nothing of the old lists survives.
  const int dim = P->VectorDim;
  for (int i = 0; i < n; ++i) {
    const CodebookNode& node = TS->Book[i];
    P->Map[i] = i;
    P->First[i] = i;
    P->Next[i] = -1;
    P->Prev[i] = -1;
    PartitionSum& totals = P->PartitionSums[i];
    for (int e = 0; e < dim; ++e) totals.VectorSum[e] = WrapMul(node.Freq, node.Vector[e]);
    totals.CCFreq = node.Freq;
    P->PartitionSize[i] = 1;
  }
}

void JoinPartitions(const Codebook* /*TS*/, Partitioning* P, int a, int b) {
  // Whole lists and whole totals move here, so the training set is never
  // read: the totals of a partition are already the sums of its members,
  // and wrapping addition makes the sum of the totals exactly what moving
  // the members one by one would give.
  const int count = P->PartitionCount;
  if (a < 0 || a >= count || b < 0 || b >= count || a == b) {
    FatalError("ERROR: JoinPartitions: cannot join partition %d into %d of %d partitions.\n", b, a,
               count);
  }
  int* const map = P->Map.get();
  int* const first = P->First.get();
  int* const next = P->Next.get();
  int* const prev = P->Prev.get();
  const int dim = P->VectorDim;

  // b's members follow a's in their own order.
  const int head = first[b];
  if (head != -1) {
    if (first[a] == -1) {
      first[a] = head;
    } else {
      int tail = first[a];
      while (next[tail] != -1) tail = next[tail];
      next[tail] = head;
      prev[head] = tail;
    }
    for (int m = head; m != -1; m = next[m]) map[m] = a;
  }
  PartitionSum& into = P->PartitionSums[a];
  PartitionSum& from = P->PartitionSums[b];
  for (int e = 0; e < dim; ++e) into.VectorSum[e] = WrapAdd(into.VectorSum[e], from.VectorSum[e]);
  into.CCFreq = WrapAdd32(into.CCFreq, from.CCFreq);
  ClearTotals(&from, dim);
  P->PartitionSize[a] += P->PartitionSize[b];
  P->PartitionSize[b] = 0;
  first[b] = -1;

  // The last partition moves into the freed slot. Moving its members one at
  // a time to the head of b would reverse their order; reversing the list in
  // place gives the same list, and b (now empty) swaps totals with it.
  const int last = count - 1;
  if (b != last) {
    int newHead = -1;
    for (int m = first[last]; m != -1;) {
      const int following = next[m];
      std::swap(next[m], prev[m]);
      map[m] = b;
      newHead = m;
      m = following;
    }
    first[b] = newHead;
    first[last] = -1;
    std::swap(P->PartitionSums[b], P->PartitionSums[last]);
    std::swap(P->PartitionSize[b], P->PartitionSize[last]);
  }
  P->PartitionCount = count - 1;
}

void FillEmptyPartitions(const Codebook* TS, Codebook* CB, Partitioning* P) {
  int empty = 0;
  for (int k = 0; k < P->PartitionCount; ++k) {
    if (P->PartitionSums[k].CCFreq == 0) ++empty;
  }
  if (P->PartitionCount < 1 || empty == 0) return;

  // Code vector k stands for partition k and training vectors are copied
  // into code vectors, so all three records must agree in size and shape.
  RequireTrainingSet(TS, P);
  const int dim = P->VectorDim;
  const int codebookDim = VectorDimension(*CB);
  if (codebookDim != dim) {
    FatalError("ERROR: Codebooks have different vector dimensions (%d -> %d).\n", dim, codebookDim);
  }
  if (CB->Booksize < P->PartitionCount) {
    FatalError(
        "ERROR: Codebook has fewer vectors (%d) than the partitioning has partitions (%d).\n",
        CB->Booksize, P->PartitionCount);
  }

  // Chosen once, against the code vectors as they are now.
  const std::vector<Candidate> candidates = WorstRepresented(TS, CB, P, empty);
  const int available = static_cast<int>(candidates.size());

  // A partition emptied by a move is refilled too when the scan has not yet
  // passed it and candidates remain.
  int f = 0;
  for (int j = 0; j < P->PartitionCount && f < available; ++j) {
    if (P->PartitionSums[j].CCFreq != 0) continue;
    const int v = candidates[f].vector;
    const int old = P->Map[v];
    CopyNode(&TS->Book[v], &CB->Book[j], dim);
    ChangePartition(TS, P, j, v);
    const PartitionSum& left = P->PartitionSums[old];
    if (left.CCFreq > 0) {
      cb_internal::CentroidOf(left, dim, &CB->Book[old]);
    } else {
      CB->Book[old].Freq = 0;
    }
    ++f;
  }
}

void CopyPartitioning(const Partitioning* source, Partitioning* destination) {
  if (destination->AllocatedPartitions < source->PartitionCount) {
    FatalError("ERROR: Destination partitioning is too small (%d -> %d).\n", source->PartitionCount,
               destination->AllocatedPartitions);
  }
  if (destination->TSsize != source->TSsize || destination->VectorDim != source->VectorDim) {
    FatalError("ERROR: Partitionings are not for same training set.\n");
  }
  if (source == destination) return;

  Partitioning* const D = destination;
  const int count = source->PartitionCount;
  const int n = source->TSsize;
  const int dim = std::max(source->VectorDim, 0);
  std::copy_n(source->Versionstr, kTextFieldSize, D->Versionstr);
  std::copy_n(source->GenerationMethod, kTextFieldSize, D->GenerationMethod);
  D->PartitionCount = count;
  std::copy_n(source->Map.get(), n, D->Map.get());
  std::copy_n(source->Next.get(), n, D->Next.get());
  std::copy_n(source->Prev.get(), n, D->Prev.get());
  for (int k = 0; k < count; ++k) {
    D->First[k] = source->First[k];
    std::copy_n(source->PartitionSums[k].VectorSum.get(), dim, D->PartitionSums[k].VectorSum.get());
    D->PartitionSums[k].CCFreq = source->PartitionSums[k].CCFreq;
    D->PartitionSize[k] = source->PartitionSize[k];
  }
  for (int k = count; k < D->AllocatedPartitions; ++k) {
    D->First[k] = -1;
    ClearTotals(&D->PartitionSums[k], dim);
    D->PartitionSize[k] = 0;
  }
}
