// Vector distances and the error measures of a codebook, a partitioning or
// both for a training set. Part of <vqpeek/cb.h>.
#ifndef VQPEEK_CB_DISTANCE_H_
#define VQPEEK_CB_DISTANCE_H_

#include <cstdint>

#include "vqpeek/cb/codebook.h"
#include "vqpeek/cb/partitioning.h"
#include "vqpeek/export.h"

// The largest signed 64-bit value: the bound that asks VectorDistance for
// the full distance.
inline constexpr std::int64_t kFullDistance = INT64_MAX;

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
VQPEEK_EXPORT std::int64_t VectorDistance(const int* first, const int* second, int count,
                                          std::int64_t bound, int metric);

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
VQPEEK_EXPORT double AverageErrorForSolution(const Codebook* TS, const Codebook* CB,
                                             const Partitioning* P, int errorFunction);
// The average error with every training vector mapped to its nearest code
// vector by full search (the search rule below). Error functions 0, 11,
// 12: the mean distance per element, weighted by the frequencies when the
// two records are of different kinds (training set against codebook), else
// per vector; `P` (may be null) gives the start candidates. Error function
// 1: the error of a new partitioning by nearest code vector (`P` unused).
// Fatal: "ERROR: Unknown error function.\n" (2 included), "ERROR: The
// codebook is empty.\n", and the messages of AverageErrorForSolution.
VQPEEK_EXPORT double AverageErrorCBFast(const Codebook* TS, const Codebook* CB,
                                        const Partitioning* P, int errorFunction);
// The error as shown to a user: per vector for a binary set (MaxValue 1).
VQPEEK_EXPORT double PrintableError(double error, const Codebook* set);
// The metric of an error function. Fatal: "ERROR: Unknown error function %d
// (DistType).\n".
VQPEEK_EXPORT int DistType(int errorFunction);

#endif  // VQPEEK_CB_DISTANCE_H_
