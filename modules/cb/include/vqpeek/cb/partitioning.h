// Partitionings: the partition of every vector of one training set, with a
// member list and running totals per partition, the partitioning file, and
// the operations that resize, join, refill and copy partitionings. Part of
// <vqpeek/cb.h>.
#ifndef VQPEEK_CB_PARTITIONING_H_
#define VQPEEK_CB_PARTITIONING_H_

#include <cstdint>
#include <memory>
#include <vector>

#include "vqpeek/cb/codebook.h"
#include "vqpeek/export.h"

// --- The record and its file ---

// Running totals of one partition.
struct PartitionSum {
  // Per element e: the sum over the members m of Freq(m) * element e of m,
  // in wrapping 64-bit arithmetic (so adding and removing a vector always
  // restores the totals bit for bit).
  std::unique_ptr<std::int64_t[]> VectorSum;
  int CCFreq = 0;  // sum of Freq over the members
};

// The partition of every vector of one training set.
// Invariants (kept by every operation): PartitionCount <= AllocatedPartitions
// and every slot from PartitionCount on is empty; a vector v with Map[v] = k
// >= 0 is on exactly the list First[k], Next[...]; a vector with Map[v] = -1
// is on no list and has Next[v] = -1; PartitionSize, CCFreq and VectorSum
// are the count, frequency total and weighted sums of the members. A vector
// moved by ChangePartition becomes the first member of its new partition.
struct Partitioning {
  char Versionstr[kTextFieldSize] = {};
  int PartitionCount = 0;
  int TSsize = 0;                                 // the training set's Booksize
  std::unique_ptr<int[]> Map;                     // TSsize entries: partition, or -1
  std::unique_ptr<int[]> First;                   // AllocatedPartitions entries: first member or -1
  std::unique_ptr<int[]> Next;                    // TSsize entries: next member or -1
  std::unique_ptr<PartitionSum[]> PartitionSums;  // AllocatedPartitions entries
  std::unique_ptr<int[]> PartitionSize;           // AllocatedPartitions entries
  int VectorDim = 0;
  char GenerationMethod[kTextFieldSize] = {};
  int AllocatedPartitions = 0;
  // TSsize entries: the member before v in its list, or -1 for the first
  // member and for a vector in no partition. Lets a vector leave its list
  // without a walk, so moves cost O(VectorDim) whatever the list lengths.
  std::unique_ptr<int[]> Prev;
};

// Fills `P` for the training set `TS` with `count` partitions; every vector
// starts in partition 0 in ascending order. Fatal: "ERROR: Invalid number of
// partitions (%d).\n" for a count below 1, "ERROR: Not enough memory for
// the partitioning.\n" (for a count the machine cannot hold, before
// anything is allocated).
VQPEEK_EXPORT void CreateNewPartitioning(Partitioning* P, const Codebook* TS, int count);
VQPEEK_EXPORT void FreePartitioning(Partitioning* P);

// Moves training vector v to partition `newPartition` (-1: to none), at the
// head of its list, keeping all totals. Fatal: "ERROR: ChangePartition:
// invalid vector %d or partition %d.\n" for an index outside the record.
VQPEEK_EXPORT void ChangePartition(const Codebook* TS, Partitioning* P, int newPartition, int v);

// Writes the rounded centroid of partition `Pindex` into `node` (vector,
// Freq, VectorMean). Fatal: "ERROR: PartitionCentroid Pindex=%i CCFreq=%i\n"
// when the partition's CCFreq is below 1.
VQPEEK_EXPORT void PartitionCentroid(const Partitioning* P, int Pindex, CodebookNode* node);

// Reads a partitioning file for the training set `TS` into the unfilled
// record `P`. Numbers are read as "%i" reads them (decimal, octal after a
// leading 0, hexadecimal after 0x); a name after an index is ignored. Every
// vector is moved in ascending order to the head of its partition, so each
// member list runs from the highest vector index to the lowest. The header
// line is not examined; `P` gets the partitioning version string. A line
// longer than 79 characters keeps its first 79.
// Fatal: a file that cannot be opened (FileOpen's message and a line end)
// or read ("ERROR: unable to read from file: %s\n", the system's reason);
// "ERROR: empty header (NULL)\n" and "ERROR: empty header (0x00)\n" for a
// missing or NUL-led header or description line; "ERROR reading
// partitioning.\n" for a count or an index that is not a number; "ERROR:
// Partitioning is not for this training set (%d != %d).\n" (file's size,
// TS->Booksize), checked once both counts are read and before the partition
// count; "ERROR: Invalid number of partitions (%d).\n" for a count below 1;
// "ERROR: Not enough memory for the partitioning.\n" for a count the
// machine cannot hold, before anything is allocated (any other count is
// valid, and partitions that no vector names stay empty); "ERROR: Invalid
// partition index (%d) found.\n" for an index outside 1 .. count.
VQPEEK_EXPORT void ReadPartitioning(const char* filename, Partitioning* P, const Codebook* TS);

// Reads a partitioning file for a training set with the head `TS` (its
// nodes are not used) with the checks and messages of ReadPartitioning, in
// the same order, but makes no record: only the partition count is checked
// against the memory its totals take. labels[i], when `labels` is given
// (TS.Booksize entries), receives vector i's partition, counted from 0.
// Returns the partition count.
VQPEEK_EXPORT int ReadPartitionLabels(const char* filename, const Codebook& TS, int* labels);

// Reads a partitioning file for a training set of `size` vectors, of which
// nothing else need be known, with the checks and messages of
// ReadPartitioning in the same order, but holds nothing per partition (so
// no partition count is refused for memory) and says where the file falls
// short: "ERROR reading partitioning: the file ends after %d of the %d
// vectors its head states.\n". `labels` receives vector i's partition,
// counted from 0, at i; it grows as the index lines are read, so a head
// that claims more vectors than its file holds costs no more memory than
// the lines there are. `method` (kTextFieldSize bytes) receives the
// description line, and is left as it is when the file has none. Returns
// the partition count.
VQPEEK_EXPORT int ReadPartitionLabels(const char* filename, int size, std::vector<int>* labels,
                                      char* method);

// Writes `P` as a partitioning file: header, count, size, the description
// when not empty, the separator, then per vector Map + 1 and, for a named
// vector, a blank and the name. What is written reads back with
// ReadPartitioning into the same Map. An existing file is reported without
// `overwrite` 1 ("ERROR: File already exists: %s") and nothing is written
// (not fatal). The file is written whole through a FileReplacement, as
// WriteCodebook's: a failure leaves an old file as it was. Fatal: "ERROR:
// Training vector %d is in no partition; a partitioning file must place
// every vector.\n" for the first vector with Map -1, before the file is
// opened, with nothing written; "ERROR: Partitioning is not for this
// training set (%d != %d).\n", with nothing written; the FileReplacement
// messages when the file cannot be created or written.
VQPEEK_EXPORT void WritePartitioning(const char* filename, const Partitioning* P,
                                     const Codebook* TS, int overwrite);

// --- Operations ---

//
// Each operation keeps every invariant of the record, Prev included. The
// training set is the one the partitioning was made for; where a set of
// another size or vector dimension would be read out of bounds the
// operation refuses it: "ERROR: Partitioning is not for this training set
// (%d != %d).\n" (sizes) or "ERROR: Partitioning is not for this training
// set (dimension %d != %d).\n" (partitioning's value first). Running out of
// memory is fatal: "ERROR: Not enough memory for the partitioning.\n".

// Grows the allocated partition slots to exactly n when n exceeds
// AllocatedPartitions (never shrinks them). The partitions in use keep their
// totals (the same VectorSum arrays); the new slots are empty; Map, Next and
// Prev are untouched. Fatal: "CB::SetNumberOfAllocatedPartitions: New
// allocated size of partitions (%i) < logical partition count (%i).\n".
VQPEEK_EXPORT void SetNumberOfAllocatedPartitions(Partitioning* P, int n);
// PartitionCount := n, growing the allocation to exactly n when it is
// smaller; the new partitions are empty. Fatal:
// "CB::IncreaseNumberOfPartitions: New partition count (%i) less or equal to
// old (%i).\n".
VQPEEK_EXPORT void IncreaseNumberOfPartitions(Partitioning* P, int n);
// PartitionCount := n, keeping the allocation. A count of 0 or below writes
// "CB::DecreaseNumberOfPartitions: New partition count (%i) less than or
// equal to zero.\n" through ErrorMessage and goes on, a negative one as 0.
// Fatal: "CB::DecreaseNumberOfPartitions: New partition count (%i) greater
// or equal to old (%i).\n"; "CB::DecreaseNumberOfPartitions: Partition %i
// not empty.\n" for the lowest dropped partition with members (nothing
// changes then).
VQPEEK_EXPORT void DecreaseNumberOfPartitions(Partitioning* P, int n);
// Shrinks as DecreaseNumberOfPartitions (with its messages) or grows as
// IncreaseNumberOfPartitions; n = PartitionCount does nothing.
VQPEEK_EXPORT void ChangeNumberOfPartitions(Partitioning* P, int n);
// Brings the count to TS->Booksize as ChangeNumberOfPartitions does (with
// its messages), then gives partition i training vector i alone.
VQPEEK_EXPORT void PutAllInOwnPartition(const Codebook* TS, Partitioning* P);
// The members of b join a, after a's members and in their own order; the
// last partition then moves into slot b (its list reversed) and the count
// falls by one. Costs a walk of a's list plus the length of the last list;
// the training set is not read. Fatal: "ERROR: JoinPartitions: cannot join
// partition %d into %d of %d partitions.\n" (b, a, PartitionCount) unless a
// and b are two different partitions in use.
VQPEEK_EXPORT void JoinPartitions(const Codebook* TS, Partitioning* P, int a, int b);
// Every partition with CCFreq 0 receives one training vector, in partition
// order: the vectors with the largest Freq * squared distance (metric 0) to
// their own code vector, the lower index first on a tie, chosen once against
// the code vectors as they were at the call. The vector is copied into the
// partition's code vector (CopyNode) and moved there; the code vector of the
// partition it left becomes that partition's centroid, or gets Freq 0 when
// the partition's CCFreq is no longer above 0. A partition emptied this way
// is refilled as well if the scan has not passed it. Vectors in no partition
// are never chosen; when candidates run out the rest stay empty. CB needs a
// node per partition and TS's vector dimension. Fatal: "ERROR: Codebooks
// have different vector dimensions (%d -> %d).\n", "ERROR: Codebook has
// fewer vectors (%d) than the partitioning has partitions (%d).\n", "ERROR:
// CopyVector source=%p dest=%p\n".
VQPEEK_EXPORT void FillEmptyPartitions(const Codebook* TS, Codebook* CB, Partitioning* P);
// Copies `source` into `destination`, which keeps its own arrays and
// allocation; destination slots from source's PartitionCount on are left
// empty. Fatal: "ERROR: Destination partitioning is too small (%d ->
// %d).\n" (source PartitionCount, destination AllocatedPartitions), "ERROR:
// Partitionings are not for same training set.\n" (TSsize or VectorDim
// differ).
VQPEEK_EXPORT void CopyPartitioning(const Partitioning* source, Partitioning* destination);

#endif  // VQPEEK_CB_PARTITIONING_H_
