// Codebook training: the generalised Lloyd algorithm, made of the library's
// own steps, on a training set held at its file's width or streamed from
// its file. Part of <vqpeek/cb.h>.
//
// Given a training set (N vectors with frequencies) and an initial codebook
// C of K code vectors, every vector starts in partition 0, as
// CreateNewPartitioning leaves it, and for t = 0, 1, 2, ...:
//  1. Assign: every vector goes to its nearest code vector by the search
//     rule (generation.h) from its current partition, as
//     GenerateOptimalPartitioningGeneral does under the squared distance
//     (a tie keeps the current partition; among other equally near code
//     vectors the lowest index wins). D_t is the exact sum of Freq times
//     the squared distance.
//  2. Stop when t = Updates, or D_t = 0, or t > 0 and D_(t-1) - D_t <=
//     Threshold * D_t.
//  3. Refill the empty partitions as FillEmptyPartitions does (the vectors
//     that their code vectors represent worst, chosen against C as it was
//     in the assignment).
//  4. Update: each code vector becomes the rounded centroid of its
//     partition, as GenerateOptimalCodebookGeneral makes it; a partition
//     whose total frequency is 0 keeps its code vector (a refilled one that
//     of the vector it received).
// The result is C as the last assignment used it and that assignment's
// labels; each code vector's Freq is the total frequency of its partition.
//
// The result is a pure function of the set, C, Updates and Threshold: the
// same bits for any number of threads, held or streamed, with or without
// the skipped searches. Sums are exact integers, the elements are read at
// their file's width, and no widened copy of the set is made. A vector
// keeps its label without a search where bounds prove that no code vector
// is strictly nearer: half the distance from its code vector to the
// nearest other one, and a lower bound on the distance to every other code
// vector kept per vector (2 bytes) while the bounds of the whole set take
// at most 32 MB.
#ifndef VQPEEK_CB_TRAINING_H_
#define VQPEEK_CB_TRAINING_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "vqpeek/cb/codebook.h"
#include "vqpeek/cb/set_reader.h"
#include "vqpeek/export.h"

// The training set of a training: rows held in memory at their file's
// width, or a set file read once per pass. It refers to its source, which
// must outlive every use; it owns nothing.
class VQPEEK_EXPORT TrainingSource {
 public:
  // A set held at its file's width; its names go to the partitioning file.
  TrainingSource(const NarrowSet& set);  // NOLINT: implicit by design
  // `count` rows of `dim` elements one after another, and a frequency each.
  TrainingSource(const std::uint8_t* rows, const int* freqs, int count, int dim);
  TrainingSource(const std::uint16_t* rows, const int* freqs, int count, int dim);
  TrainingSource(const int* rows, const int* freqs, int count, int dim);
  // The set file of `reader`, at the start of its first pass or past the
  // end of a pass: each pass rewinds it, so it must be rewindable (a file,
  // not a pipe).
  TrainingSource(SetReader& reader);  // NOLINT: implicit by design

  int Size() const { return count_; }
  int Dimension() const { return dim_; }
  bool Streamed() const { return reader_ != nullptr; }

  const NarrowSet* Narrow() const { return narrow_; }
  SetReader* Reader() const { return reader_; }
  const std::uint8_t* Bytes() const { return bytes_; }
  const std::uint16_t* Words() const { return words_; }
  const int* Ints() const { return ints_; }
  const int* Freqs() const { return freqs_; }

 private:
  const NarrowSet* narrow_ = nullptr;
  SetReader* reader_ = nullptr;
  const std::uint8_t* bytes_ = nullptr;
  const std::uint16_t* words_ = nullptr;
  const int* ints_ = nullptr;
  const int* freqs_ = nullptr;
  int count_ = 0;
  int dim_ = 0;
};

// What the training reports after each assignment.
struct TrainingProgress {
  int Iteration = 0;      // t: 0 for the assignment to the initial codebook
  double Distortion = 0;  // D_t
  double Mse = 0;         // D_t / (total frequency * dimension)
  int Refilled = 0;       // empty partitions refilled after it (0 when it is the last)
  double Seconds = 0;     // since the training started
  bool Last = false;      // the training stops here
  // The vectors searched in the assignment; the others kept their label
  // where the bounds proved that no code vector is strictly nearer.
  std::int64_t Searched = 0;
};

struct TrainingOptions {
  int Updates = 100;        // at most this many updates (>= 0)
  double Threshold = 1e-4;  // >= 0
  int Threads = 0;          // 0: as many as the process may use
  // Skip the searches that bounds rule out; false searches every vector in
  // every assignment, with the same result.
  bool Accelerate = true;
  // Called on the calling thread after each assignment.
  std::function<void(const TrainingProgress&)> Progress;
  // Called on the calling thread between the parts of a pass with the
  // vectors assigned so far in it and the set's size. It may throw to stop
  // the training; the exception reaches the caller once every thread is
  // joined, and the codebook is then as it was given.
  std::function<void(std::int64_t done, std::int64_t total)> PassProgress;
};

// The partition of every vector, in the narrowest type that holds K
// partitions: 1 byte up to 256, 2 up to 65,536, else 4.
struct TrainingLabels {
  int Count = 0;
  int Width = 0;  // 1, 2 or 4
  std::unique_ptr<std::uint8_t[]> Bytes;
  std::unique_ptr<std::uint16_t[]> Words;
  std::unique_ptr<int[]> Ints;

  int operator[](int i) const { return Width == 1 ? Bytes[i] : Width == 2 ? Words[i] : Ints[i]; }
};

enum class TrainingStop : int {
  kUpdates = 0,    // t reached Updates
  kZero = 1,       // D_t = 0
  kThreshold = 2,  // the distortion fell by no more than Threshold of itself
};

struct TrainingResult {
  TrainingLabels Labels;  // of the last assignment
  int Updates = 0;        // codebook updates made (the last assignment is number Updates)
  TrainingStop Stop = TrainingStop::kUpdates;
  double Mse = 0;                    // of the last assignment
  std::vector<double> History;       // MSE per element of every assignment
  std::uint64_t TotalFreq = 0;       // the set's, each frequency counted as unsigned
  bool SetHasNames = false;          // some training vector has a name
  std::int64_t SearchedVectors = 0;  // vectors searched, over every assignment
};

// Trains `codebook` (its K >= 1 nodes the initial code vectors, of the set's
// dimension) on `set`; afterwards its nodes hold the trained vectors with
// Freq and VectorMean (names and header fields stay as they were), and
// `result` the labels and figures. Nothing is written to a file.
// Fatal: "ERROR: The codebook is empty.\n"; "ERROR: Codebook and training
// set differ in vector dimension (%d != %d).\n" (codebook's first);
// "ERROR: Invalid number of updates (%d).\n"; "ERROR: Invalid threshold
// (%g).\n"; "ERROR: Invalid number of threads (%d).\n"; "ERROR: The
// training set cannot be read again: a set that is streamed must be a
// file, not a pipe.\n"; "ERROR: The training set has a total frequency of
// 0.\n";
// "ERROR: The training set's total frequency (%llu) is more than a
// codebook can record (2147483647).\n" (frequencies counted as unsigned,
// after the first pass and before any update); "ERROR: Not enough memory
// for the partitioning.\n"; the messages of the set reader.
VQPEEK_EXPORT void TrainCodebook(TrainingSource set, Codebook* codebook,
                                 const TrainingOptions& options, TrainingResult* result);

// Fills the first `count` nodes of `codebook` (made for the set's dimension) with
// `count` distinct vectors of `set` chosen with `seed`: every vector gets a
// pseudo-random key from the seed and its index, every distinct vector the
// smallest key of its copies, and the `count` distinct vectors of the
// smallest keys are taken in the order of their keys. Freq 0, no names.
// The choice depends on the seed and the set alone. A streamed set is read
// once. Fatal: "ERROR: Invalid codebook size (%d).\n" below 1; "ERROR: The
// training set holds %d distinct vectors, fewer than the %d code vectors
// asked for.\n"; the messages of the set reader.
VQPEEK_EXPORT void ChooseTrainingVectors(TrainingSource set, int count, std::uint64_t seed,
                                         Codebook* codebook);

// Whether the set of `reader` can be held at its file's width for a
// training with `codebookSize` code vectors: its rows, frequencies,
// labels and bounds fit in the memory the process can still be given.
VQPEEK_EXPORT bool TrainingSetFitsInMemory(const SetReader& reader, int codebookSize);

// Writes the labels of `result` as a partitioning file of
// `partitions` partitions for `set` (with the training vectors' names,
// read once more from a streamed set that has any) and the generation
// method `method`, byte for byte as WritePartitioning writes a
// partitioning with these labels, through a FileReplacement. `overwrite`
// as for WritePartitioning. Fatal: the FileReplacement messages; the
// messages of the set reader.
VQPEEK_EXPORT void WriteTrainingPartitioning(const char* filename, TrainingSource set,
                                             const TrainingResult& result, int partitions,
                                             const char* method, int overwrite);

#endif  // VQPEEK_CB_TRAINING_H_
