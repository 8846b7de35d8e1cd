// Set files read in batches, for sets of any size. Part of <vqpeek/cb.h>.
//
// A SetReader owns the open file and the position in it, and reads the
// records a batch at a time: the batch's bytes are read (or, for a pipe
// held in memory, found where they lie), their record boundaries found and
// checked, and then the records decoded into flat rows. Nothing the reader
// holds grows with the number of records, so a file of any size is read in
// the memory of a few batches. Every damage is reported with the messages
// of ReadCodebook, in the order ReadCodebook meets them, and ReadCodebook
// and ReadFlatSet read through this reader.
//
// The caller loops over Next(), which hands out the batches in order on the
// calling thread, or hands a whole pass to ReadInParallel, which decodes
// and visits the batches on several threads while the next ones are read.
// Most sets name no vector: then every record has the same length, and a
// batch's boundaries are known as soon as its first bytes are checked;
// otherwise the names' ends are found in the bytes before the batch is
// decoded.
//
// A reader may go over the records again (Rewind). A file that differs on
// a later pass from what the first pass read is reported before any
// record of the differing batch is handed out, never read as it is now.
#ifndef VQPEEK_CB_SET_READER_H_
#define VQPEEK_CB_SET_READER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "vqpeek/cb/codebook.h"
#include "vqpeek/cb/partitioning.h"
#include "vqpeek/cb/row_batches.h"
#include "vqpeek/export.h"

// Records First .. First+Count-1 of a set. The arrays stay valid until the
// next call of Next(), ReadInParallel() or Rewind() on the reader that
// filled them.
struct SetBatch {
  int First = 0;
  int Count = 0;
  const int* Elements = nullptr;       // Count rows of dim elements
  const int* Freqs = nullptr;          // Count frequencies
  const std::int64_t* Sums = nullptr;  // Count sums of each row's elements
  // Count names (null: none), or null when no record of the batch has one.
  const char* const* Names = nullptr;
};

class VQPEEK_EXPORT SetReader {
 public:
  // The size of the blocks in which the file's head is read.
  static constexpr std::size_t kBufferBytes = std::size_t{1} << 20;
  // Records of a batch by default: a caller that keeps per-record results
  // of a batch (a search's choices) keeps them for this many.
  static constexpr int kBatchRows = 4096;
  // The most workers ReadInParallel starts by itself: each holds a batch
  // of its own.
  static constexpr int kMaxReadWorkers = 8;

  // What a batch of ReadInParallel carries besides the frequencies, which
  // it always has: the elements, the sums of each row's elements (with the
  // elements), and the names. Next hands out all of them.
  enum Fields : int {
    kFrequencies = 0,
    kElements = 1,
    kSums = 2 | kElements,
    kNames = 4,
    kAllFields = kSums | kNames,
  };

  // Opens a version-1 or version-2 training-set or codebook file and reads
  // its head. `bufferBytes` is the size of the blocks the head is read in,
  // `batchRows` the most records a batch holds (fewer when the rows would
  // pass kBatchBytes: BatchRows of the set).
  // Fatal: the messages of ReadCodebook up to "ERROR: premature end of
  // file\n" for a body shorter than the head promises (before any record is
  // read).
  explicit SetReader(const char* filename, std::size_t bufferBytes = kBufferBytes,
                     int batchRows = kBatchRows);
  ~SetReader();
  SetReader(const SetReader&) = delete;
  SetReader& operator=(const SetReader&) = delete;

  // The header fields (Book stays empty). Once the first pass has reached
  // the end, TotalFreq is the sum of the frequencies.
  const Codebook& Header() const;
  int Version() const;
  int Dimension() const;
  // The most records one batch holds.
  int BatchCapacity() const;
  // The index of the record the next batch starts with.
  int NextRecord() const;

  // Hands out the next batch; false (and an empty batch) after the last
  // record. With `rows`, the elements are written there (room for
  // BatchCapacity() rows) and batch->Elements points at them. At the end of
  // the first pass TotalFreq becomes the sum of the frequencies, with
  // "WARNING: TotalFreq header field = %d but calculated totalfreq = %d.\n"
  // through PrintMessage for a version-2 head that said otherwise.
  // Fatal: "ERROR: Too long vector name:\n%*s\nMaximum is %d characters.\n",
  // "ERROR: premature end of file\n"; on a later pass "ERROR: The file %s
  // changed while it was read.\n".
  bool Next(SetBatch* batch, int* rows = nullptr);

  // The workers ReadInParallel takes when it is given none: as many as the
  // process may use (UsableProcessors), at most kMaxReadWorkers, and no more
  // than the batches left in the pass.
  int ParallelWorkers() const;

  // Reads the rest of the pass (the whole pass at its start) on `workers`
  // workers (0: ParallelWorkers()) started through RunInParallel. The
  // batches are read and checked in file order, one at a time; each is then
  // decoded and given to visit(batch, worker) on the worker that took it
  // (0 .. workers-1), while the others read and visit the next ones. A
  // worker visits its batches in file order, and different workers visit
  // theirs at the same time. A batch carries its frequencies and the
  // `fields` asked for (the others null); its elements lie in
  // rowsAt(batch.First) when `rowsAt` is given (room for batch.Count rows;
  // it is called on the workers), else in a buffer of the worker's. The
  // arrays stay valid until the visit returns. At the end the sum of the
  // frequencies is taken as Next takes it, with its warning, on the calling
  // thread. Damage is reported as Next reports it: the first in file order,
  // once every worker has stopped, and no batch from the damaged one on is
  // visited.
  void ReadInParallel(const std::function<void(const SetBatch& batch, int worker)>& visit,
                      int fields = kAllFields,
                      const std::function<int*(int first)>& rowsAt = nullptr, int workers = 0);

  // Whether the file can be read again from its first record: a regular
  // file (a compressed one is decompressed again), or a pipe or standard
  // input, which the reader holds in memory (at the file's width) once it
  // has read it to its end to check its size.
  bool Rewindable() const;

  // Goes back to the first record for another pass. The first pass must
  // have been read to its end. Fatal: "ERROR: The file %s changed while it
  // was read.\n" when the file's size or modification time is no longer
  // what it was when it was opened, or it cannot be read again.
  void Rewind();

 private:
  struct State;
  struct Chunk;
  std::unique_ptr<State> state_;
};

// Reads every record of `reader` (at the start of its first pass) into
// `CB` as ReadCodebook does.
VQPEEK_EXPORT void ReadCodebookFrom(SetReader& reader, Codebook* CB);

// What assigning a training set to its nearest code vectors leaves per
// partition: the totals a partitioning of the set would hold, without a
// partition per vector.
struct PartitionTotals {
  int PartitionCount = 0;
  int VectorDim = 0;
  std::unique_ptr<int[]> PartitionSize;           // PartitionCount members counts
  std::unique_ptr<PartitionSum[]> PartitionSums;  // PartitionCount totals
  std::int64_t Error = 0;                         // wrapping sum of Freq * squared distance
};

// Reads the training set of `reader` once more (rewinding it; its first
// pass must be complete) and gives every vector to the code vector of `CB`
// nearest under the squared distance, by the search rule from start
// candidate 0, as GenerateOptimalPartitioningGeneral does for a fresh
// partitioning. `totals`, when given, receives the totals of the
// partitions. `visit`, when given, sees every batch with the chosen code
// vectors, in order, on the calling thread; without it, the batches are
// searched on several threads (through RunInParallel) while the next ones
// are read, and after a failed read no thread reads again. Fatal: "ERROR:
// The codebook is empty.\n", "ERROR: Codebook and training set differ in
// vector dimension (%d != %d).\n" (before the set is read again, and so
// before any code vector is read with the set's dimension); the messages
// of Rewind and Next.
VQPEEK_EXPORT void AssignToNearest(
    SetReader& reader, const Codebook& CB, PartitionTotals* totals,
    const std::function<void(const SetBatch&, const int* chosen)>& visit = nullptr);

// Whether the code vectors of `CB` can be searched for the vectors of a set
// whose header is `set`: CB has some, of the set's dimension.
VQPEEK_EXPORT bool Searchable(const Codebook& set, const Codebook& CB);

// Fatal where CB cannot be searched for the set: "ERROR: The codebook is
// empty.\n", else "ERROR: Codebook and training set differ in vector
// dimension (%d != %d).\n" (the codebook's, the set's).
VQPEEK_EXPORT void RequireSearchable(const Codebook& set, const Codebook& CB);

// Gives each of `count` rows (CB's dimension each) the code vector of `CB`
// nearest under the squared distance, by the search rule from start
// candidate 0 (the partitions of AssignToNearest), in chosen[], and the
// squared distance to it in distances[] (kFullDistance where it passes the
// int64 range), on the calling thread alone: a worker of a parallel pass
// searches its own batches. CB must be Searchable for the rows' set.
VQPEEK_EXPORT void AssignRows(const Codebook& CB, const int* rows, int count, int* chosen,
                              std::int64_t* distances);

// A set held at the width of its file: the elements in the narrowest type
// that holds every value a file of its BytesPerElement can store (unsigned
// 8 bits for 1, unsigned 16 bits for 2, int for 3 and 4), the frequencies
// in 4 bytes, and the names in one block, kept only when some vector has
// one, with 4 bytes a vector to find them. About the size of the file's
// records, with no record per vector.
struct NarrowSet {
  static constexpr std::uint32_t kNoName = ~std::uint32_t{0};
  // The names of kNameGroup vectors in a row start from one base.
  static constexpr int kNameGroup = 256;

  Codebook Header;  // the header fields, TotalFreq the sum; Book stays empty
  int Dim = 0;
  int ElementBytes = 0;                    // 1, 2 or 4
  std::unique_ptr<std::uint8_t[]> Bytes;   // Header.Booksize rows of Dim, when 1
  std::unique_ptr<std::uint16_t[]> Words;  // ... when 2
  std::unique_ptr<int[]> Ints;             // ... when 4
  std::unique_ptr<int[]> Freqs;            // Header.Booksize frequencies
  // Null when no vector has a name. Else vector i's name lies at NameBytes
  // offset NameBase[i / kNameGroup] + NameOffsets[i], or it has none
  // (kNoName).
  std::unique_ptr<std::uint64_t[]> NameBase;
  std::unique_ptr<std::uint32_t[]> NameOffsets;
  std::vector<char> NameBytes;  // the names, each ending in its NUL

  int Size() const { return Header.Booksize; }
  // Vector i's name, or null for none.
  const char* Name(int i) const {
    if (NameOffsets == nullptr || NameOffsets[i] == kNoName) return nullptr;
    return NameBytes.data() + NameBase[i / kNameGroup] + NameOffsets[i];
  }
  // Gives vector i (0 .. Size()-1) the name `name`; names are given in
  // ascending order of i. Throws std::bad_alloc.
  VQPEEK_EXPORT void AddName(int i, const char* name);
};

// Reads every record of `reader` (at the start of its first pass) into
// `set`, with ReadCodebook's messages in its order, on the workers of
// reader.ReadInParallel (reader.ParallelWorkers() of them). `visit`, when
// given, sees every batch as ReadInParallel hands it out, on the worker
// that decoded it (0 .. workers-1), once its elements and frequencies
// are in `set`.
// Fatal: as Next(); "ERROR: Not enough memory for new vector element.\n".
VQPEEK_EXPORT void ReadNarrowSet(
    SetReader& reader, NarrowSet* set,
    const std::function<void(const SetBatch&, int worker)>& visit = nullptr);

// Rows first .. first+count-1 of `set` as int elements, into `rows`
// (count * Dim entries).
VQPEEK_EXPORT void WidenRows(const NarrowSet& set, int first, int count, int* rows);

// labels[i] receives the code vector of `CB` nearest to vector i of `set`
// under the squared distance, by the search rule from start candidate 0:
// the partitions GenerateOptimalPartitioningGeneral gives a fresh
// partitioning. The rows are read where they lie. Fatal: "ERROR: The
// codebook is empty.\n", "ERROR: Codebook and training set differ in
// vector dimension (%d != %d).\n".
VQPEEK_EXPORT void AssignNarrowSet(const NarrowSet& set, const Codebook& CB, int* labels);

// Makes `centroids` (unfilled) a codebook of `partitions` nodes with the
// header CreateNewCodebook takes from the set, and fills node k as
// GenerateOptimalCodebookGeneral does for partition k of a partitioning
// that puts vector i in partition labels[i] (each 0 .. partitions-1): the
// rounded centroid and the total frequency, or zeros and frequency 0 where
// the total is not above 0. Fatal: the messages of CreateNewCodebook;
// "ERROR: Not enough memory for the partitioning.\n".
VQPEEK_EXPORT void NarrowSetCentroids(const NarrowSet& set, const int* labels, int partitions,
                                      Codebook* centroids);

#endif  // VQPEEK_CB_SET_READER_H_
