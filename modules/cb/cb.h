// cb: the vector-quantisation data of the system.
//
//  - Codebook: one record for codebooks and training sets, with its file
//    format (a text head and a binary body of node records), and the
//    operations that resize, copy, join and summarise records.
//  - Partitioning: the partition of every training vector, with a member
//    list and running totals per partition, its text file, and the
//    operations that resize, join and refill partitionings.
//  - Distances and error measures, nearest-vector partitioning and centroid
//    generation.
//  - Graph: vectors with the indices of their K nearest neighbours, and the
//    graph's text file.
//
// Records are plain structs owned by their caller; a record owns every
// array, vector and name that hangs from it and releases them through its
// free operation (or its destructor). A record is filled by exactly one
// create or read operation and emptied by its free operation.
//
// Fatal conditions print one message through ErrorMessage and end the
// process with ExitProcessing(-1) ("Fatal:" below). Informational output
// (listings, the frequency-total warning) goes through PrintMessage.
#ifndef VQPEEK_MODULES_CB_CB_H_
#define VQPEEK_MODULES_CB_CB_H_

#include <cstdint>
#include <cstdio>
#include <memory>

// Size of the fixed text fields (header lines, methods, names), terminator
// included.
inline constexpr int kTextFieldSize = 80;

// The largest signed 64-bit value: the bound that asks VectorDistance for
// the full distance.
inline constexpr std::int64_t kFullDistance = INT64_MAX;

// Kind codes of the data files, as recognised from their first line.
enum FileKind : int {
  kNotRecognized = 0,
  kTrainingSetFile = 1,
  kCodebookFile = 2,
  kPartitioningFile = 3,
};

// ===========================================================================
// Vectors and nodes
// ===========================================================================

// The elements of one vector: an owned array, or a slice of the element
// block of the record whose node allocation made it. Either way it lives
// exactly as long as its node. Nodes of one record must not be moved into
// another record (copy them with CopyNode instead).
struct VectorDeleter {
  bool owned = true;
  void operator()(int* elements) const noexcept {
    if (owned) std::default_delete<int[]>()(elements);
  }
};
using VectorPtr = std::unique_ptr<int[], VectorDeleter>;
using NamePtr = std::unique_ptr<char[]>;

// One vector of a Codebook. VectorDim = BlockSizeX * BlockSizeY of the
// record that holds it.
struct CodebookNode {
  VectorPtr Vector;    // VectorDim elements, stored row by row
  int VectorMean = 0;  // rounded mean of the elements
  int Freq = 0;        // occurrences (training set) or vectors represented
  NamePtr Name;        // NUL-terminated name, or null for none
};

// Returns a new vector of `count` elements, all 0.
// Fatal: "ERROR: Not enough memory for new vector element.\n".
VectorPtr CreateEmptyVector(int count);
void FreeVector(VectorPtr& vector);

// Copies `count` elements. Fatal: "ERROR: CopyVector source=%p dest=%p\n"
// when either is null.
void CopyVector(const int* source, int* dest, int count);

// The sign of the first differing element (1 when a's is larger), or 0.
int CompareVectors(const int* a, const int* b, int count);

// Prints the elements with "%3i " on one line through PrintMessage.
void PrintVector(const int* vector, int BlockSizeX, int BlockSizeY);

// A node with its own vector of `VectorDim` zeros, VectorMean 0, Freq 0 and
// no name.
CodebookNode CreateEmptyNode(int VectorDim);
void FreeNode(CodebookNode& node);

// ===========================================================================
// Codebook record and set files
// ===========================================================================

// A codebook or a training set: a header and an array of nodes.
// Invariants: 0 <= Booksize <= AllocatedSize; every one of the AllocatedSize
// nodes has its own vector of VectorDim elements; after ReadCodebook and
// WriteCodebook, TotalFreq is the sum of Freq over nodes 0 .. Booksize-1.
// Nodes beyond Booksize keep their contents until the record is freed or
// grown.
struct Codebook {
  char Versionstr[kTextFieldSize] = {};  // header line; prefix = kind
  int BlockSizeX = 0;
  int BlockSizeY = 0;
  int Booksize = 0;  // nodes 0 .. Booksize-1 are in use
  int TotalFreq = 0;
  int BytesPerElement = 0;  // 1 to 4: width of an element in the file
  int MinValue = 0;         // header information only
  int MaxValue = 0;         // header information; 1 marks a binary set
  int Preprocessing = 0;
  char GenerationMethod[kTextFieldSize] = {};
  std::unique_ptr<CodebookNode[]> Book;
  int AllocatedSize = 0;
  // Storage of the node vectors made by node allocation: one block, so that
  // a set of a million vectors costs one allocation, not a million.
  std::unique_ptr<int[]> ElementBlock;
};

// BlockSizeX * BlockSizeY of the record.
int VectorDimension(const Codebook& CB);

// --- Texts and version strings ---

// Writes "VQ TRAINING SET 2.0", "VQ CODEBOOK 2.0" or "VQ PARTITIONING 2.0"
// for kind 1, 2 or 3 into `text` (80 bytes).
// Fatal: "ERROR: Unknown file type (SetVersionString)\n" for another kind.
void SetVerString(char* text, int kind);

// The kind a header line names by its prefix: 2 for "VQ CODEBOOK", 1 for
// "VQ TRAINING SET", 3 for "VQ PARTITIONING", else 0.
int RecognizeVersionstr(const char* text);

void ClearString(char* text);

// Appends `addition` to `text` and keeps at most `limit` - 1 characters of
// the joined text, so that its terminator always lies within the `limit`
// bytes that `text` must hold. Fatal: "ERROR: string too long:\n%*s\n"
// (`limit` as the field width) when the addition alone is longer than
// `limit`.
void AddString(char* text, const char* addition, int limit);

// --- Records ---

// Makes `CB` an empty codebook of `Booksize` fresh nodes shaped like
// `templateSet`: kind-2 version string, block sizes, TotalFreq,
// BytesPerElement, MinValue, MaxValue and Preprocessing copied, no
// generation method. Fresh nodes have zero elements, Freq 0, VectorMean 0
// and no name. Fatal: "ERROR: allocate CB->Book\n" or "ERROR: Not enough
// memory for new vector element.\n".
void CreateNewCodebook(Codebook* CB, int Booksize, const Codebook* templateSet);

// Makes `TS` an empty training set of `Booksize` fresh nodes with the given
// header values, TotalFreq 0 and a copy of `GenerationMethod`.
void CreateNewTrainingSet(Codebook* TS, int Booksize, int BlockSizeX, int BlockSizeY,
                          int BytesPerElement, int MinValue, int MaxValue, int Preprocessing,
                          const char* GenerationMethod);

// Releases every node (all AllocatedSize of them) and the node array. The
// header fields stay; the record may afterwards only be made anew.
void FreeCodebook(Codebook* CB);

// Reads a version-1 or version-2 training-set or codebook file, replacing
// every field of `CB`. Afterwards TotalFreq is the sum of the frequencies
// and every VectorMean the rounded mean of its vector.
// Fatal, each with its message: a file that cannot be opened; "ERROR: empty
// header (NULL)\n", "ERROR: empty header (0x00)\n", "ERROR: No version
// number found in header.\n", "ERROR: Unknown file version number (%d).\n";
// a header number that is missing ("ERROR: Invalid header: a number was
// expected.\n") or a header that cannot describe a set ("ERROR: Invalid
// block size (%d x %d).\n", "ERROR: Invalid booksize (%d).\n", "ERROR:
// Invalid bytes per element (%d).\n"); "ERROR: Too long vector name:\n%*s\n
// Maximum is %d characters.\n"; a body shorter than the header promises
// ("ERROR: premature end of file\n", before anything is allocated for it).
// Not fatal: "WARNING: TotalFreq header field = %d but calculated
// totalfreq = %d.\n" through PrintMessage.
void ReadCodebook(const char* filename, Codebook* CB);

// Recomputes TotalFreq and writes `CB` as a version-2 file; the version
// line is Versionstr, or the version-2 line of its kind when Versionstr names
// another version (a record read from a version-1 file); a line that names
// neither a kind nor version 2 is refused with "ERROR: The header line
// \"%s\" does not name a version-2 set file.\n". `overwrite` 1
// replaces an existing file; otherwise an existing file is reported ("ERROR:
// File already exists: %s") and nothing is written (not fatal). Elements
// that do not fit BytesPerElement are reported before the file is opened and
// nothing is written. The file is written whole through a FileReplacement:
// the old file is replaced only once the new one is complete on disk.
// Fatal: the FileReplacement messages, when the file cannot be created or
// written (the old file then stays as it was).
void WriteCodebook(const char* filename, Codebook* CB, int overwrite);

// Prints a plain listing of `CB` through PrintMessage.
void PrintCodebook(const Codebook* CB);

// Finds the file meant by `filename` and returns its kind (0 when none is
// found). The name itself is tried first, then the name completed with
// "ts", "cb" or "pa" for each decimal digit 1, 2, 3 of `order`, left to
// right; `filename` (a buffer of `capacity` bytes) is rewritten with a
// completed name under which a file was found. An empty name names no
// file. Fatal: "ERROR: invalid priority order in
// DetermineCBFileTypeConsideringOrder: %d\n" for another digit.
int DetermineCBFileTypeConsideringOrder(char* filename, int order, int capacity = kTextFieldSize);

// ===========================================================================
// Codebook operations
// ===========================================================================
//
// Growing builds a new node array of exactly the size asked for (no spare
// room), deep-copies the nodes in use into it and releases all old nodes;
// pointers to old nodes, vectors and names do not survive it. Fresh nodes
// exposed by growing have zero elements, Freq 0, VectorMean 0 and no name.
// Shrinking only lowers Booksize: the nodes beyond it keep their contents.
// Size checks that fail end the process with -1 without a message.
// Copies take the source first and the destination second.

// Booksize := n; requires 0 <= n < Booksize (else exits with -1).
void DecreaseCodebookSize(Codebook* CB, int n);
// Grows the allocation to exactly n when n > AllocatedSize, then Booksize :=
// n; requires n > Booksize (else exits with -1).
void IncreaseCodebookSize(Codebook* CB, int n);
// Booksize := n, shrinking or growing as above; n = Booksize changes
// nothing. Exits with -1 when n < 0.
void ChangeCodebookSize(Codebook* CB, int n);
// Grows the node array to exactly n nodes when n > AllocatedSize (never
// shrinks it); the header and the nodes in use are kept.
// Fatal: "CB::SetAllocatedCodebookSize: New allocated size (%i) <= logical
// booksize (%i).\n" when n <= Booksize; the messages of node allocation.
void SetAllocatedCodebookSize(Codebook* CB, int n);

// Makes `destination` a deep copy of `source`: elements, Freq, VectorMean
// and a new copy of the name. Nothing happens when they are the same node.
// Fatal: "ERROR: CopyVector source=%p dest=%p\n" for a null vector.
void CopyNode(const CodebookNode* source, CodebookNode* destination, int VectorDim);
// Replaces the node's name by a copy of `name` (which may be the node's own
// name), or by none when null.
void ChangeVectorName(CodebookNode* node, const char* name);
// Copies every header field (not Book, AllocatedSize or the element block),
// so the destination's Booksize may exceed its AllocatedSize afterwards.
void CopyCodebookHeader(const Codebook* source, Codebook* destination);
// Copies the header and the nodes in use into a destination that already
// has enough nodes; its nodes beyond the source's Booksize keep their
// contents. Fatal: "ERROR: Destination codebook is too small (%d ->
// %d).\n" (source Booksize, destination AllocatedSize); "ERROR: Codebooks
// have different vector dimensions (%d -> %d).\n" when the destination has
// nodes whose vectors have another length.
void CopyCodebook(const Codebook* source, Codebook* destination);
// Appends the nodes in use of `other` (which may be `CB` itself), growing
// as needed, adds its TotalFreq and appends "++" to GenerationMethod unless
// the text already ends with it or has more than 77 characters. Exits with
// -1 without a message when `other` has no nodes in use. Fatal: "ERROR:
// Codebooks have different vector dimensions (%d -> %d).\n".
void AddCodebook(Codebook* CB, const Codebook* other);
// The number of nodes in use whose vector occurs again at a later node:
// Booksize minus the number of distinct vectors. Names, frequencies and
// means are not compared.
int DuplicatesInCodebook(const Codebook* CB);
// Writes the frequency-weighted mean of the vectors in use, divided by the
// header's TotalFreq and rounded, into `centroid` (VectorDim elements);
// writes nothing when TotalFreq is 0. Fatal: "ERROR: Not enough memory for
// the centroid sums.\n".
void CodebookCentroid(const Codebook* CB, int* centroid);
// Recomputes the VectorMean of every node in use.
void CalculateVectorMeans(Codebook* CB);
// Replaces every node by Freq copies of it (none for Freq <= 0), each with
// Freq 1 and its own copy of the name, in the old order; Booksize and
// AllocatedSize become TotalFreq, the header stays. Fatal: "ERROR:
// TotalFreq (%d) is not the sum of the positive frequencies (%lld).\n",
// before anything changes; the messages of node allocation.
void UnrollTrainingSet(Codebook* TS);

// ===========================================================================
// Partitioning record and file
// ===========================================================================

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
void CreateNewPartitioning(Partitioning* P, const Codebook* TS, int count);
void FreePartitioning(Partitioning* P);

// Moves training vector v to partition `newPartition` (-1: to none), at the
// head of its list, keeping all totals. Fatal: "ERROR: ChangePartition:
// invalid vector %d or partition %d.\n" for an index outside the record.
void ChangePartition(const Codebook* TS, Partitioning* P, int newPartition, int v);

// Writes the rounded centroid of partition `Pindex` into `node` (vector,
// Freq, VectorMean). Fatal: "ERROR: PartitionCentroid Pindex=%i CCFreq=%i\n"
// when the partition's CCFreq is below 1.
void PartitionCentroid(const Partitioning* P, int Pindex, CodebookNode* node);

// Reads a partitioning file for the training set `TS` into the unfilled
// record `P`. Numbers are read as "%i" reads them (decimal, octal after a
// leading 0, hexadecimal after 0x); a name after an index is ignored. Every
// vector is moved in ascending order to the head of its partition, so each
// member list runs from the highest vector index to the lowest. The header
// line is not examined; `P` gets the partitioning version string. A line
// longer than 79 characters keeps its first 79.
// Fatal: a file that cannot be opened (FileOpen's message and a line end);
// "ERROR: empty header (NULL)\n" and "ERROR: empty header (0x00)\n" for a
// missing or NUL-led header or description line; "ERROR reading
// partitioning.\n" for a count or an index that is not a number; "ERROR:
// Invalid number of partitions (%d).\n" for a count below 1; "ERROR: Not
// enough memory for the partitioning.\n" for a count the machine cannot
// hold, before anything is allocated (any other count is valid, and
// partitions that no vector names stay empty); "ERROR: Partitioning
// is not for this training set (%d != %d).\n" (file's size, TS->Booksize);
// "ERROR: Invalid partition index (%d) found.\n" for an index outside 1 ..
// count.
void ReadPartitioning(const char* filename, Partitioning* P, const Codebook* TS);

// Writes `P` as a partitioning file: header, count, size, the description
// when not empty, the separator, then per vector Map + 1 (a vector in no
// partition comes out as 0) and, for a named vector, a blank and the name.
// An existing file is reported without `overwrite` 1 ("ERROR: File already
// exists: %s") and nothing is written (not fatal). The file is written whole
// through a FileReplacement, as WriteCodebook's. Fatal: "ERROR: Partitioning
// is not for this training set (%d != %d).\n", with nothing written; the
// FileReplacement messages when the file cannot be created or written.
void WritePartitioning(const char* filename, const Partitioning* P, const Codebook* TS,
                       int overwrite);

// ===========================================================================
// Partitioning operations
// ===========================================================================
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
void SetNumberOfAllocatedPartitions(Partitioning* P, int n);
// PartitionCount := n, growing the allocation to exactly n when it is
// smaller; the new partitions are empty. Fatal:
// "CB::IncreaseNumberOfPartitions: New partition count (%i) less or equal to
// old (%i).\n".
void IncreaseNumberOfPartitions(Partitioning* P, int n);
// PartitionCount := n, keeping the allocation. A count of 0 or below writes
// "CB::DecreaseNumberOfPartitions: New partition count (%i) less than or
// equal to zero.\n" through ErrorMessage and goes on, a negative one as 0.
// Fatal: "CB::DecreaseNumberOfPartitions: New partition count (%i) greater
// or equal to old (%i).\n"; "CB::DecreaseNumberOfPartitions: Partition %i
// not empty.\n" for the lowest dropped partition with members (nothing
// changes then).
void DecreaseNumberOfPartitions(Partitioning* P, int n);
// Shrinks as DecreaseNumberOfPartitions (with its messages) or grows as
// IncreaseNumberOfPartitions; n = PartitionCount does nothing.
void ChangeNumberOfPartitions(Partitioning* P, int n);
// Brings the count to TS->Booksize as ChangeNumberOfPartitions does (with
// its messages), then gives partition i training vector i alone.
void PutAllInOwnPartition(const Codebook* TS, Partitioning* P);
// The members of b join a, after a's members and in their own order; the
// last partition then moves into slot b (its list reversed) and the count
// falls by one. Costs a walk of a's list plus the length of the last list;
// the training set is not read. Fatal: "ERROR: JoinPartitions: cannot join
// partition %d into %d of %d partitions.\n" (b, a, PartitionCount) unless a
// and b are two different partitions in use.
void JoinPartitions(const Codebook* TS, Partitioning* P, int a, int b);
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
void FillEmptyPartitions(const Codebook* TS, Codebook* CB, Partitioning* P);
// Copies `source` into `destination`, which keeps its own arrays and
// allocation; destination slots from source's PartitionCount on are left
// empty. Fatal: "ERROR: Destination partitioning is too small (%d ->
// %d).\n" (source PartitionCount, destination AllocatedPartitions), "ERROR:
// Partitionings are not for same training set.\n" (TSsize or VectorDim
// differ).
void CopyPartitioning(const Partitioning* source, Partitioning* destination);

// ===========================================================================
// Distances and error measures
// ===========================================================================
//
// Metrics: 0 squared Euclidean distance (exact, 64-bit); 1 code length in
// bits of a binary vector under the probabilities of the first vector;
// 11 Jaccard and 12 Dice dissimilarity of binary vectors. Metrics 1, 11 and
// 12 are scaled by 1,000,000. Error functions 0, 1, 2, 11, 12 select a
// metric through DistType.

// The distance of the training vector `second` from the code vector `first`.
// Metrics 0 and 1 stop as soon as the running sum reaches `bound` and then
// return a value >= bound. A count of 0 or less gives 0. A metric-0 sum too
// large for 64 bits is returned as kFullDistance; vectors of metrics 11 and
// 12 without any set element are at distance 0. Fatal: "ERROR: input
// vector elements should be either 0 or 1000000 (was %d).\n", "ERROR:
// unsupported vector distance metric %d\n".
std::int64_t VectorDistance(const int* first, const int* second, int count, std::int64_t bound,
                            int metric);

// Sums of distances wrap in 64 bits; averages are double divisions, so a
// set whose TotalFreq (or size) is 0 gives NaN or an infinity.

// The average error of the solution (training set assigned by `P` to the
// code vectors of `CB`). Error functions 0, 11, 12: the frequency-weighted
// mean distance per element, Sum(distance * Freq) / (TotalFreq * dim).
// Error function 1: the code length in bits per training vector of the
// partition sizes, the labels and the binary data per partition (element >
// 0 counts as a one); only the codebook's size is used.
// Fatal: "ERROR: Unknown error function.\n" for other codes; "ERROR:
// Training vector %d is in partition %d, which has no code vector.\n";
// "ERROR: Codebook and training set differ in vector dimension (%d !=
// %d).\n"; "ERROR: Partitioning is not for this training set ...";
// "ERROR: The codebook has more vectors (%d) than the partitioning has
// partitions (%d).\n" (function 1).
double AverageErrorForSolution(const Codebook* TS, const Codebook* CB, const Partitioning* P,
                               int errorFunction);
// The average error with every training vector mapped to its nearest code
// vector by full search (the search rule below). Error functions 0, 11,
// 12: the mean distance per element, weighted by the frequencies when the
// two records are of different kinds (training set against codebook), else
// per vector; `P` (may be null) gives the start candidates. Error function
// 1: the error of a new partitioning by nearest code vector (`P` unused).
// Fatal: "ERROR: Unknown error function.\n" (2 included), "ERROR: The
// codebook is empty.\n", and the messages of AverageErrorForSolution.
double AverageErrorCBFast(const Codebook* TS, const Codebook* CB, const Partitioning* P,
                          int errorFunction);
// The error as shown to a user: per vector for a binary set (MaxValue 1).
double PrintableError(double error, const Codebook* set);
// The metric of an error function. Fatal: "ERROR: Unknown error function %d
// (DistType).\n".
int DistType(int errorFunction);

// ===========================================================================
// Nearest-vector partitioning and centroid generation
// ===========================================================================
//
// The search rule: start with the distance to the start candidate; a code
// vector displaces the candidate only when strictly nearer, scanning in
// ascending index order, and the first displacing code vector at distance 0
// ends the scan. On equal distances the start candidate wins, and among
// other equally near code vectors the lowest index.

// Every search starts from the vector's current partition, so `P` must
// hold an assignment (CreateNewPartitioning gives one). The searches refuse
// records that do not fit together instead of reading past them. Fatal:
// "ERROR: The codebook is empty.\n"; "ERROR: Codebook and training set
// differ in vector dimension (%d != %d).\n" (codebook's, training set's);
// "ERROR: Partitioning is not for this training set (%d != %d).\n" or
// "(vector dimension %d != %d)"; "ERROR: The codebook has more vectors (%d)
// than the partitioning has partitions (%d).\n"; "ERROR: Training vector %d
// is in partition %d, which has no code vector.\n". Metric errors end the
// process inside VectorDistance.

// Moves every training vector to its nearest code vector (one pass, in
// vector order; each search from the vector's partition as it was) and
// returns the average error of the result: for error functions 0, 11, 12
// Sum(best distance * Freq) / (dim * TotalFreq), for 1 the
// AverageErrorForSolution of the new partitioning. Vectors that stay in
// their partition keep their place in its list; moved vectors join at the
// head. The codebook is not changed. The searches under the squared
// distance may be shared among the processor's threads; the results do not
// depend on it. Fatal: "ERROR: Unknown error function.\n" for codes other
// than 0, 1, 11, 12, before anything else.
double GenerateOptimalPartitioningGeneral(const Codebook* TS, const Codebook* CB, Partitioning* P,
                                          int errorFunction);
// Replaces code vector k by the rounded centroid of partition k (each
// element sum / CCFreq + 0.5 truncated toward zero), with Freq = CCFreq; a
// partition whose CCFreq is 0 or below gets Freq 0 and keeps its vector.
// Error functions 0, 1, 2, 11, 12 all compute the same. Fatal:
// "cb::GenerateOptimalCodebookGeneral: Unknown error function.\n"; "ERROR:
// The codebook has more vectors (%d) than the partitioning has partitions
// (%d).\n" (against the allocated partitions); "ERROR: Codebook and
// partitioning differ in vector dimension (%d != %d).\n".
void GenerateOptimalCodebookGeneral(const Codebook* TS, Codebook* CB, const Partitioning* P,
                                    int errorFunction);
// The index of the code vector nearest to node->Vector (of the codebook's
// dimension) by the search rule from start candidate `start`; the distance
// is stored in `best`. Fatal: "ERROR: Code vector %d is not in the codebook
// (%d vectors).\n" for a start outside the codebook.
int FindNearestVector(const CodebookNode* node, const Codebook* CB, std::int64_t* best, int start,
                      int metric);
// Re-examines the members of partition p only, in list order, each by the
// search rule from p. Fatal: "ERROR: Partition %d is not in the
// partitioning (%d partitions).\n".
void LocalRepartitioningGeneral(const Codebook* TS, const Codebook* CB, Partitioning* P, int p,
                                int metric);
// Moves each training vector, in order, to one of the listed code vectors
// when one is strictly nearer than its current code vector (the earlier in
// the list on a tie; no early end at distance 0). Fatal: "ERROR: Code
// vector %d is not in the codebook (%d vectors).\n" for a listed index.
void RepartitionDueToNewVectorsGeneral(const Codebook* TS, const Codebook* CB, Partitioning* P,
                                       const int* indices, int count, int metric);
// As RepartitionDueToNewVectorsGeneral with the one code vector n.
void RepartitionDueToNewVectorGeneral(const Codebook* TS, const Codebook* CB, Partitioning* P,
                                      int n, int metric);
// The error of the partitioning with its own centroids as code vectors
// (AverageErrorForSolution of a temporary centroid codebook). Error
// function 2 passes the centroid generation and is then refused with
// "ERROR: Unknown error function.\n".
double AverageErrorForPartitioning(const Codebook* TS, const Partitioning* P, int errorFunction);

// ===========================================================================
// Neighbour graph
// ===========================================================================

// A graph holds NumberVectors slots; each slot is empty or owns one vector
// of Dim coordinates and K neighbour indices. Neighbours are slot numbers,
// never pointers, so vectors may be made and read in any order.
//
// The counts may be changed after vectors exist, so every record remembers
// how much it actually holds: a vector the sizes of its own arrays, a graph
// the length of its slot array. Every operation stays within those, whatever
// the counts say; entries a vector does not hold read and write as 0.

struct GraphVector {
  int Index = 0;                 // own index in the graph
  std::unique_ptr<int[]> Coord;  // AllocatedDim coordinates (the graph's Dim)
  std::unique_ptr<int[]> NN;     // AllocatedK neighbour indices (the graph's K)
  int AllocatedDim = 0;
  int AllocatedK = 0;
};

struct Graph {
  int NumberVectors = 0;  // slots in use; never above AllocatedVectors
  int K = 0;
  int Dim = 0;
  int MaxCoord = 0;  // largest coordinate (never below 0), set by GraphRead
  int MinCoord = 0;  // smallest coordinate, set by GraphRead
  std::unique_ptr<std::unique_ptr<GraphVector>[]> Vectors;  // AllocatedVectors slots
  int AllocatedVectors = 0;
};

// Graphs are handed out and taken back as owning pointers.
using GraphPtr = std::unique_ptr<Graph>;
using GraphVectorPtr = std::unique_ptr<GraphVector>;

// --- Accessors ---
//
// Setters return 0. Every function that takes a vector accepts null for it
// (an empty slot) and then does nothing: getters give 0 or null, setters 1.

int GraphGetNumberVectors(const Graph* graph);
// Shrinking hides the slots from n on (their vectors are kept and come back
// when the count grows again); growing beyond the slot array extends it with
// empty slots. Returns 1 and changes nothing for a negative n or when the
// slot array cannot grow.
int GraphPutNumberVectors(Graph* graph, int n);
// K and Dim may be changed at any time; vectors keep the arrays they were
// made with.
int GraphGetK(const Graph* graph);
int GraphPutK(Graph* graph, int k);
int GraphGetDim(const Graph* graph);
int GraphPutDim(Graph* graph, int dim);
int GraphGetMaxCoord(const Graph* graph);
int GraphGetMinCoord(const Graph* graph);
// The vector in slot `index`, or null for an empty slot or an index outside
// 0 .. NumberVectors-1.
GraphVector* GraphGetVector(const Graph* graph, int index);
int GraphGetVectorIndex(const GraphVector* vector);
// The vector's coordinate array: the graph's Dim when the vector was made.
int* GraphGetVectorCoord(GraphVector* vector);
// Coord[index] := value. Returns 1 and changes nothing for an index outside
// the vector's coordinates.
int GraphPutVectorElement(GraphVector* vector, int index, int value);
// The vector in the slot named by NN[index], or null when index is negative
// or not below K, when NN[index] names no slot of the graph, or when that
// slot is empty.
GraphVector* GraphGetNNVector(const Graph* graph, const GraphVector* vector, int index);
// NN[index] := value. Returns 1 and changes nothing when index is negative
// or not below K (or beyond the vector's own array).
int GraphPutNN(const Graph* graph, GraphVector* vector, int value, int index);
// 1 when the Index of `to` is among the first K neighbours of `from`, else 0
// (always 0 when K <= 0). The relation is directed.
int IsGraphEdge(const Graph* graph, const GraphVector* from, const GraphVector* to);

// --- Creation and release ---

// A graph with the three counts, MaxCoord and MinCoord 0 and numberVectors
// empty slots. Returns null silently when the record cannot be allocated;
// prints "Allocate error: AllocateMemoryForGraph(Graph)" (with a newline) on
// standard output and returns null when the slot array cannot be allocated
// or numberVectors is negative.
GraphPtr AllocateMemoryForGraph(int numberVectors, int k, int dim);
// A vector with Index = index and the graph's Dim coordinates and K
// neighbours, all 0. It is not entered into the graph. Prints "Allocate
// error: AllocateMemoryForGraphVector()" (with a newline) on standard output
// and returns null when it cannot be allocated or Dim or K is negative.
GraphVectorPtr AllocateMemoryForGraphVector(const Graph* graph, int index);
// Stores a new vector with Index = index, a copy of Dim coordinates from
// `coords` and K neighbours set to 0 in slot `index`, replacing any vector
// there. Returns 0, or 1 with nothing stored when index is outside 0 ..
// NumberVectors-1, `coords` is null while Dim > 0, or allocation fails.
int GraphPutVector(Graph* graph, int index, const int* coords);
// Releases the vector in slot `index` and leaves the slot empty. Returns 0,
// or 1 when the slot is empty or index is outside 0 .. NumberVectors-1.
int FreeGraphVector(Graph* graph, int index);
// Releases the graph with every vector it holds. Returns 0.
int FreeGraph(GraphPtr graph);

// --- Graph files ---
//
// A graph file is text: "Graph v. 1", NumberVectors, K and Dim on lines of
// their own, a line of 37 dashes, then one line per slot: the Dim
// coordinates and the K neighbour indices, each followed by one blank. A
// vector's index is its line number among the vector lines, from 0. Every
// written line holds Dim + K numbers: entries a vector does not hold, and
// all of an empty slot, are written as 0 (an empty slot reads back as a
// vector of zeros).

// Write the header, and one vector line (zeros for null). Return 0, or 1
// when the stream reports a write error.
int WriteGraphkFileHeader(FILE* file, const Graph* graph);
int WriteGraphVectorToFile(FILE* file, const Graph* graph, const GraphVector* vector);

// Reads a header and returns a graph made by AllocateMemoryForGraph with its
// counts, the stream left at the first vector line. The counts are read as
// scanf's "%i" reads them (leading whitespace, sign, 0x for hexadecimal, a
// leading 0 for octal); a value beyond the int range counts as INT_MIN or
// INT_MAX. Returns null, without a message, when the text does not start
// with "Graph v.", a count is missing or negative, the stream's size cannot
// be told, or the rest of the stream is too short for what the header
// promises: every vector line takes at least 2 bytes per number (1 byte when
// Dim + K is 0).
GraphPtr ReadGraphFileHeader(FILE* file);
// Reads one whole line, of any length, and returns a vector with Index =
// index. From the line's start: whitespace is skipped; a decimal number
// (strtol's form, clamped to the int range) fills the next coordinate, then
// the next neighbour, and the one character after it is stepped over; any
// other character counts as the number 0 and is stepped over. Numbers beyond
// Dim + K are ignored; entries the line holds no number for are 0. A NUL
// byte ends the line's text: the rest of that line is ignored. Returns null
// when the stream ends before a newline (a last line without one is not
// read) or, after the allocation message, when the vector cannot be made.
GraphVectorPtr ReadGraphVectorFromFile(FILE* file, const Graph* graph, int index);
// The size of the buffer `readline` fills, terminator included.
inline constexpr int kGraphLineBufferSize = 1024;
// Reads one line into `buffer` (kGraphLineBufferSize bytes), keeping at most
// its first 1023 characters (the newline included when it fits) and NUL-
// terminated; the rest of a longer line is read and dropped, so the next
// call starts at the next line. Returns 0 when the line ended with a
// newline, 1 when the stream ended first (or nothing was left to read).
int readline(FILE* file, char* buffer);
// 1 when `path` opens (FileOpen mode 1, with its message otherwise) and
// ReadGraphFileHeader accepts its header, else 0.
int IsGraphFile(const char* path);
// Reads a whole graph file: the header, then one line per slot. A slot
// whose line cannot be read (the file ends early, or its last line has no
// newline) stays empty. MaxCoord is the largest coordinate, at least 0;
// MinCoord the smallest, 2147483647 when there are none. Returns null when
// the file cannot be opened or the header is refused.
GraphPtr GraphRead(const char* path);
// Writes the graph to `path` whole through a FileReplacement, as
// WriteCodebook does. Returns 0; 1 with nothing written when the file exists
// and `overwrite` is not 1, or when a count is negative (no reader would
// accept it). Fatal: the FileReplacement messages when the file cannot be
// created or written (an old file stays as it was).
int GraphWrite(const char* path, const Graph* graph, int overwrite);
// Writes the vector lines of the file form to standard output, no header.
// Returns 0.
int GraphPrint(const Graph* graph);

#endif  // VQPEEK_MODULES_CB_CB_H_
