// Nearest-vector partitioning and centroid generation: the two steps of
// codebook design, and the searches they are made of. Part of
// <vqpeek/cb.h>.
#ifndef VQPEEK_CB_GENERATION_H_
#define VQPEEK_CB_GENERATION_H_

#include <cstdint>
#include <memory>

#include "vqpeek/cb/codebook.h"
#include "vqpeek/cb/partitioning.h"
#include "vqpeek/export.h"

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
// distance may be shared among the threads the process may use; the
// results do not depend on it. Fatal: "ERROR: Unknown error function.\n" for codes other
// than 0, 1, 11, 12, before anything else.
VQPEEK_EXPORT double GenerateOptimalPartitioningGeneral(const Codebook* TS, const Codebook* CB,
                                                        Partitioning* P, int errorFunction);
// Replaces code vector k by the rounded centroid of partition k (each
// element sum / CCFreq + 0.5 truncated toward zero), with Freq = CCFreq; a
// partition whose CCFreq is 0 or below gets Freq 0 and keeps its vector.
// Error functions 0, 1, 2, 11, 12 all compute the same. Fatal:
// "cb::GenerateOptimalCodebookGeneral: Unknown error function.\n"; "ERROR:
// The codebook has more vectors (%d) than the partitioning has partitions
// (%d).\n" (against the allocated partitions); "ERROR: Codebook and
// partitioning differ in vector dimension (%d != %d).\n".
VQPEEK_EXPORT void GenerateOptimalCodebookGeneral(const Codebook* TS, Codebook* CB,
                                                  const Partitioning* P, int errorFunction);
// The index of the code vector nearest to node->Vector (of the codebook's
// dimension) by the search rule from start candidate `start`; the distance
// is stored in `best`. Fatal: "ERROR: Code vector %d is not in the codebook
// (%d vectors).\n" for a start outside the codebook.
VQPEEK_EXPORT int FindNearestVector(const CodebookNode* node, const Codebook* CB,
                                    std::int64_t* best, int start, int metric);
// The nearest of `codeCount` code vectors for each of `count` vectors under
// the squared distance, by the search rule from start candidate 0: the
// lowest index among the nearest. Vectors and code vectors have `dim`
// elements each and lie one after another in `vectors` and `codes`.
// chosen[i] and best[i] receive the index and the exact distance (a sum
// beyond the int64 range as its largest value). The vector kernels share
// the work among up to `threads` threads (0: as many as the process may
// use, see UsableProcessors); only the calling thread ever reports an error. Fatal: "ERROR: Invalid
// vector dimension (%d).\n", "ERROR: The codebook is empty.\n", "ERROR:
// Invalid number of vectors (%d).\n", "ERROR: Invalid number of threads
// (%d).\n".
VQPEEK_EXPORT void FindNearestVectors(const int* vectors, int count, const int* codes,
                                      int codeCount, int dim, int threads, int* chosen,
                                      std::int64_t* best);
// The same for vectors stored at the width of a set file: unsigned 16-bit
// or 8-bit elements, read where they lie (no widened copy of the vectors).
VQPEEK_EXPORT void FindNearestVectors(const std::uint16_t* vectors, int count, const int* codes,
                                      int codeCount, int dim, int threads, int* chosen,
                                      std::int64_t* best);
VQPEEK_EXPORT void FindNearestVectors(const std::uint8_t* vectors, int count, const int* codes,
                                      int codeCount, int dim, int threads, int* chosen,
                                      std::int64_t* best);
// Re-examines the members of partition p only, in list order, each by the
// search rule from p. Fatal: "ERROR: Partition %d is not in the
// partitioning (%d partitions).\n".
VQPEEK_EXPORT void LocalRepartitioningGeneral(const Codebook* TS, const Codebook* CB,
                                              Partitioning* P, int p, int metric);
// Moves each training vector, in order, to one of the listed code vectors
// when one is strictly nearer than its current code vector (the earlier in
// the list on a tie; no early end at distance 0). Fatal: "ERROR: Code
// vector %d is not in the codebook (%d vectors).\n" for a listed index.
VQPEEK_EXPORT void RepartitionDueToNewVectorsGeneral(const Codebook* TS, const Codebook* CB,
                                                     Partitioning* P, const int* indices, int count,
                                                     int metric);
// As RepartitionDueToNewVectorsGeneral with the one code vector n.
VQPEEK_EXPORT void RepartitionDueToNewVectorGeneral(const Codebook* TS, const Codebook* CB,
                                                    Partitioning* P, int n, int metric);
// The error of the partitioning with its own centroids as code vectors
// (AverageErrorForSolution of a temporary centroid codebook). Error
// function 2 passes the centroid generation and is then refused with
// "ERROR: Unknown error function.\n".
VQPEEK_EXPORT double AverageErrorForPartitioning(const Codebook* TS, const Partitioning* P,
                                                 int errorFunction);

// Gathers the totals of partitions from flat rows given in batches (row i
// of a batch at rows[i * dim .. i * dim + dim - 1]), the totals a
// partitioning with those members holds, and gives the centroids that
// GenerateOptimalCodebookGeneral computes from them; no record of the set
// and no partition per vector is kept, only dim + 1 totals per partition.
class VQPEEK_EXPORT CentroidAccumulator {
 public:
  // Fatal: "ERROR: Invalid number of partitions (%d).\n" below 1, "ERROR:
  // Invalid vector dimension (%d).\n" below 1, "ERROR: Not enough memory
  // for the partitioning.\n".
  CentroidAccumulator(int partitions, int dim);
  ~CentroidAccumulator();
  CentroidAccumulator(const CentroidAccumulator&) = delete;
  CentroidAccumulator& operator=(const CentroidAccumulator&) = delete;

  // Adds `count` rows with their frequencies and partitions (-1 for a row in
  // no partition). Fatal: "ERROR: Partition %d is not in the partitioning
  // (%d partitions).\n", before any row of the batch is added.
  void Add(const int* rows, const int* freqs, const int* labels, std::int64_t count);

  // Writes the rounded centroid of every partition to `centroids`
  // (partitions rows of dim elements) and its total frequency to `freqs`;
  // a partition whose total frequency is 0 or below gets frequency 0 and
  // its row is left as it is.
  void Centroids(int* centroids, int* freqs) const;

  // Writes the centroid of `partition` into `node` (its dim elements, Freq
  // and VectorMean, as GenerateOptimalCodebookGeneral does) and returns
  // true; returns false, and leaves the node as it is, for a partition whose
  // total frequency is 0 or below.
  bool Centroid(int partition, CodebookNode* node) const;

  // The totals of `partition`: dim wrapping sums of Freq * element, and the
  // wrapping sum of the frequencies (a partitioning's VectorSum and CCFreq).
  const std::int64_t* Sums(int partition) const;
  int Freq(int partition) const;

 private:
  int partitions_;
  int dim_;
  std::unique_ptr<std::int64_t[]> sums_;  // partitions_ rows of dim_ sums
  std::unique_ptr<int[]> freqs_;
};

#endif  // VQPEEK_CB_GENERATION_H_
