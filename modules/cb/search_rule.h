// The search rule that every nearest-vector search of the module applies
// (the partitioning searches and the full-search error measures), and the
// checks that keep a search inside its records.
#ifndef VQPEEK_MODULES_CB_SEARCH_RULE_H_
#define VQPEEK_MODULES_CB_SEARCH_RULE_H_

#include <cstdint>

#include "cb_internal.h"
#include "vqpeek/cb.h"

namespace cb_internal {

struct SearchResult {
  int chosen;         // index of the nearest code vector
  std::int64_t best;  // its distance
};

// The search rule for one vector of `dim` elements from the start
// candidate `start`: the distance to the start candidate first; then the
// code vectors in ascending order, each displacing the candidate only when
// strictly nearer (a distance computed against the best so far as bound);
// the first displacing code vector at distance 0 ends the scan. `start`
// must be a code vector of `CB` and `dim` the codebook's dimension.
SearchResult SearchNearest(const Codebook& CB, const int* vector, int dim, int start, int metric);

// The search rule for training vectors first .. first+count-1 of TS, with
// the start candidates start[0 .. count-1]; the results go to chosen[] and
// best[]. Under the squared distance (metric 0) the vector kernels search
// them all at once, on several threads unless `oneThread`; other metrics
// search one vector at a time on the calling thread.
void SearchBlock(const Codebook& TS, const Codebook& CB, int first, int count, const int* start,
                 int metric, int* chosen, std::int64_t* best, bool oneThread = false);

// The size of the blocks the searches over a whole training set take at a
// time: it bounds the memory for the results.
inline constexpr int kSearchBlock = 1 << 16;

// Fatal: "ERROR: Codebook and training set differ in vector dimension (%d
// != %d).\n" (codebook's, training set's).
void RequireSameDimension(const Codebook& TS, const Codebook& CB);

// As RequireSameDimension, and first "ERROR: The codebook is empty.\n" when
// `CB` has no vectors: a search needs a start candidate.
void RequireSearchableCodebook(const Codebook& TS, const Codebook& CB);

// Fatal: "ERROR: Partitioning is not for this training set (%d != %d).\n"
// when `P` covers another number of vectors than `TS` holds, "ERROR:
// Partitioning is not for this training set (vector dimension %d !=
// %d).\n" when its totals have another dimension.
void RequirePartitioningOf(const Codebook& TS, const Partitioning& P);

// The code vector of training vector i's partition. Fatal: "ERROR:
// Training vector %d is in partition %d, which has no code vector.\n".
inline int CodeVectorOf(const Partitioning& P, int i, const Codebook& CB) {
  const int k = P.Map[i];
  if (static_cast<unsigned>(k) >= static_cast<unsigned>(CB.Booksize)) {
    FatalError("ERROR: Training vector %d is in partition %d, which has no code vector.\n", i, k);
  }
  return k;
}

}  // namespace cb_internal

#endif  // VQPEEK_MODULES_CB_SEARCH_RULE_H_
