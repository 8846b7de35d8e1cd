// What the sources of the codebook training share: the state it keeps
// between assignments and the assigning pass.
#ifndef VQPEEK_MODULES_CB_TRAINING_INTERNAL_H_
#define VQPEEK_MODULES_CB_TRAINING_INTERNAL_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "nearest_search.h"
#include "vqpeek/cb.h"
#include "vqpeek/cb/training.h"

namespace cb_internal {

__extension__ using TrainingInt128 = __int128;

// A lower bound of a Euclidean distance in 2 bytes: the upper half of a
// float (its sign, exponent and 7 mantissa bits), cut toward zero, so that
// it never stands for more than the value it was made from.
using DistanceBound = std::uint16_t;
// The largest bound not above `value`; 0 for a value that is not above 0.
DistanceBound BoundBelow(double value);

// Where a training vector stands in the refill order: larger weighted
// distance first, the lower vector index first among equal ones.
struct TrainingCandidate {
  std::int64_t weighted = 0;  // Freq * squared distance, held at the int64 limits
  int vector = 0;
  int freq = 0;
  int worker = 0;  // whose copy of the row holds it (streamed sets)
  int slot = 0;
};

inline bool RanksBefore(const TrainingCandidate& x, const TrainingCandidate& y) {
  if (x.weighted != y.weighted) return x.weighted > y.weighted;
  return x.vector < y.vector;
}

// Everything a training keeps from one assignment to the next.
struct TrainingState {
  explicit TrainingState(TrainingSource trainingSet) : set(trainingSet) {}

  TrainingSource set;
  int codeCount = 0;
  int dim = 0;
  int threads = 1;
  bool accelerate = true;
  bool first = true;  // the next pass is the first assignment

  TrainingLabels labels;
  std::unique_ptr<DistanceBound[]> bounds;  // per vector, or null: none kept

  Codebook codes;  // the code vectors of the next assignment
  ValueRange codeRange;
  ValueRange setRange;  // of a held set
  // Per code vector: the squared distance to the nearest other one, divided
  // by 4 and rounded down (a vector no farther than this from its code
  // vector has none strictly nearer), or -1 where it is not known.
  std::vector<std::int64_t> quarterSeparation;
  // Per code vector a: how far every other code vector moved at most in the
  // last update (rounded up); what the bounds of a's vectors lose.
  std::vector<float> decay;

  // The partition totals of the last assignment, as the centroids take
  // them: `dim` wrapping sums per partition (AddWeightedRow), one after
  // another, and a total frequency each.
  std::vector<std::int64_t> sums;
  std::vector<int> freqs;
  std::mutex sumsLock;

  std::int64_t* SumsOf(int partition) {
    return sums.data() + static_cast<std::size_t>(partition) * static_cast<std::size_t>(dim);
  }
};

// What one assigning pass found besides the labels and the totals.
struct PassOutcome {
  TrainingInt128 distortion = 0;
  std::uint64_t totalFreq = 0;
  bool names = false;
  std::int64_t searched = 0;
  // The best candidates for the refill, in refill order: at least as many
  // as there are empty partitions, when the set has that many vectors.
  std::vector<TrainingCandidate> candidates;
  // Per worker, the rows of its candidates (streamed sets), `dim` each.
  std::vector<std::vector<int>> candidateRows;
};

// Assigns every vector of the set to its nearest code vector of
// state.codes from its current label, updates the labels, the bounds and
// the partition totals (from nothing in the first pass), and gathers what
// the refill needs. `progress` as TrainingOptions::PassProgress.
void RunAssignmentPass(TrainingState& state,
                       const std::function<void(std::int64_t, std::int64_t)>& progress,
                       PassOutcome* outcome);

// The most vectors of a held set per part of a pass (8192); tests lower it
// so that small sets spread over several threads.
int& TrainingPartRows();

// Row i of a held set as ints, into `row` (dim entries).
void HeldRow(const TrainingSource& set, int i, int* row);

}  // namespace cb_internal

#endif  // VQPEEK_MODULES_CB_TRAINING_INTERNAL_H_
