// The search rule that every nearest-vector search of the module applies,
// and the checks that keep a search inside its records.
#include <cstdint>

#include "cb_internal.h"
#include "nearest_search.h"
#include "search_rule.h"
#include "vqpeek/cb.h"

namespace cb_internal {

namespace {

SearchResult ScanSquared(const Codebook& CB, const int* vector, int dim, int start) {
  SearchResult result{
      start, cb_internal::SquaredDistance(CB.Book[start].Vector.get(), vector, dim, kFullDistance)};
  const CodebookNode* book = CB.Book.get();
  for (int j = 0; j < CB.Booksize; ++j) {
    const std::int64_t d =
        cb_internal::SquaredDistance(book[j].Vector.get(), vector, dim, result.best);
    if (d < result.best) {
      result.best = d;
      result.chosen = j;
      if (d == 0) break;
    }
  }
  return result;
}

}  // namespace

SearchResult SearchNearest(const Codebook& CB, const int* vector, int dim, int start, int metric) {
  if (metric == 0) return ScanSquared(CB, vector, dim, start);
  SearchResult result{
      start, VectorDistance(CB.Book[start].Vector.get(), vector, dim, kFullDistance, metric)};
  for (int j = 0; j < CB.Booksize; ++j) {
    const std::int64_t d =
        VectorDistance(CB.Book[j].Vector.get(), vector, dim, result.best, metric);
    if (d < result.best) {
      result.best = d;
      result.chosen = j;
      if (d == 0) break;
    }
  }
  return result;
}

void SearchBlock(const Codebook& TS, const Codebook& CB, int first, int count, const int* start,
                 int metric, int* chosen, std::int64_t* best, bool oneThread) {
  if (metric == 0) {
    SearchNearestSquared(TS, first, first + count, CB, start, chosen, best, NearestPath::kAuto,
                         oneThread ? 1 : 0);
    return;
  }
  const int dim = VectorDimension(CB);
  for (int k = 0; k < count; ++k) {
    const SearchResult result =
        SearchNearest(CB, TS.Book[first + k].Vector.get(), dim, start[k], metric);
    chosen[k] = result.chosen;
    best[k] = result.best;
  }
}

void RequireSearchableCodebook(const Codebook& TS, const Codebook& CB) {
  if (CB.Booksize < 1) FatalError("ERROR: The codebook is empty.\n");
  RequireSameDimension(TS, CB);
}

void RequireSameDimension(const Codebook& TS, const Codebook& CB) {
  if (VectorDimension(CB) != VectorDimension(TS)) {
    FatalError("ERROR: Codebook and training set differ in vector dimension (%d != %d).\n",
               VectorDimension(CB), VectorDimension(TS));
  }
}

void RequirePartitioningOf(const Codebook& TS, const Partitioning& P) {
  if (P.TSsize != TS.Booksize) {
    FatalError("ERROR: Partitioning is not for this training set (%d != %d).\n", P.TSsize,
               TS.Booksize);
  }
  if (P.VectorDim != VectorDimension(TS)) {
    FatalError("ERROR: Partitioning is not for this training set (vector dimension %d != %d).\n",
               P.VectorDim, VectorDimension(TS));
  }
}

}  // namespace cb_internal
