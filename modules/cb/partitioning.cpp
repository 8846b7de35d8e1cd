// The Partitioning record: creation, release, moving one vector, and the
// centroid of one partition.
//
// Besides the singly linked member lists (First, Next) the record keeps the
// predecessor of every member (Prev), so a vector leaves its list in
// constant time. The lists themselves, and so every member order, are
// exactly those of the singly linked form.
#include <new>

#include "cb_internal.h"
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
    P->Map = IntArray(n, 0);
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

  // Every vector starts in partition 0, in ascending order.
  for (int i = 0; i < n; ++i) {
    P->Next[i] = i + 1 < n ? i + 1 : -1;
    P->Prev[i] = i - 1;
    UpdateTotals(TS, P, 0, i, +1);
  }
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

void PartitionCentroid(const Partitioning* P, int Pindex, CodebookNode* node) {
  const int freq = P->PartitionSums[Pindex].CCFreq;
  if (freq < 1) FatalError("ERROR: PartitionCentroid Pindex=%i CCFreq=%i\n", Pindex, freq);
  cb_internal::CentroidOf(P->PartitionSums[Pindex], P->VectorDim, node);
}

namespace cb_internal {

void CentroidOf(const PartitionSum& totals, int dim, CodebookNode* node) {
  const double freq = totals.CCFreq;
  std::int64_t total = 0;
  for (int e = 0; e < dim; ++e) {
    const int c = TruncateToInt(static_cast<double>(totals.VectorSum[e]) / freq + 0.5);
    node->Vector[e] = c;
    total += c;
  }
  node->Freq = totals.CCFreq;
  node->VectorMean = RoundedMean(total, dim);
}

}  // namespace cb_internal
