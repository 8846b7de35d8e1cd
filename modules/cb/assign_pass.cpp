// The assigning pass of a streamed set: every training vector read again
// from its file and given to its nearest code vector, with the totals of
// each partition kept instead of a partition per vector.
#include <algorithm>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include "cb_internal.h"
#include "nearest_search.h"
#include "search_rule.h"
#include "vqpeek/cb.h"
#include "vqpeek/threads.h"

namespace {

// Per-partition totals of one worker at most this many elements: beyond it
// the workers' own copies would cost more than their overlap saves.
constexpr std::int64_t kMaxWorkerTotalsElements = std::int64_t{1} << 20;
// Workers of the assigning pass: one reads while the others search.
constexpr int kMaxAssignWorkers = 4;
// The scratch of all workers together (each a batch of rows and the layout
// of the code vectors its searches make): beyond it, fewer workers share
// the pass, and its searches take threads of their own instead.
constexpr std::uint64_t kMaxWorkersScratchBytes = std::uint64_t{32} << 20;

// What one worker of the pass holds: the search's results, and its share
// of the totals.
struct Worker {
  std::unique_ptr<int[]> chosen;
  std::unique_ptr<std::int64_t[]> best;
  // The totals of the workers but the first, added to the first's at the
  // end: every total is a wrapping sum, the same in any order.
  std::optional<CentroidAccumulator> sums;
  std::unique_ptr<int[]> sizes;
  std::uint64_t error = 0;
};

// Adds a searched batch of a worker to the totals: the first worker's go
// straight into `totals`, the others' into their own.
void AddToTotals(Worker& worker, bool first, const int* rows, const int* freqs, int count, int dim,
                 PartitionTotals* totals) {
  const int* chosen = worker.chosen.get();
  if (first) {
    const std::size_t width = static_cast<std::size_t>(dim);
    for (int k = 0; k < count; ++k) {
      PartitionSum& sum = totals->PartitionSums[chosen[k]];
      cb_internal::AddWeightedRow(sum.VectorSum.get(), rows + static_cast<std::size_t>(k) * width,
                                  dim, freqs[k]);
      sum.CCFreq = cb_internal::WrapAdd32(sum.CCFreq, freqs[k]);
    }
  } else {
    worker.sums->Add(rows, freqs, chosen, count);
  }
  int* sizes = first ? totals->PartitionSize.get() : worker.sizes.get();
  for (int k = 0; k < count; ++k) {
    ++sizes[chosen[k]];
    worker.error += static_cast<std::uint64_t>(cb_internal::WrapMul(worker.best[k], freqs[k]));
  }
}

}  // namespace

namespace cb_internal {

void AssignToNearestOn(SetReader& reader, const Codebook& CB, PartitionTotals* totals,
                       const std::function<void(const SetBatch&, const int* chosen)>& visit,
                       int workers) {
  RequireSearchableCodebook(reader.Header(), CB);
  const int dim = reader.Dimension();
  const int partitions = CB.Booksize;
  const std::size_t width = static_cast<std::size_t>(dim);
  const std::size_t capacity = static_cast<std::size_t>(reader.BatchCapacity());
  // Without a visitor that must see the batches in order, several workers
  // take batches in turn, each decoding and searching its own.
  if (visit) {
    workers = 1;
  } else if (workers <= 0) {
    workers = 1;
    if (totals == nullptr ||
        static_cast<std::int64_t>(partitions) * (dim + 1) <= kMaxWorkerTotalsElements) {
      const std::uint64_t scratch =
          capacity * width * sizeof(int) +
          std::min<std::uint64_t>(static_cast<std::uint64_t>(partitions) * width * 8,
                                  kPortableLayoutBytes);
      const int fit = static_cast<int>(
          std::clamp<std::uint64_t>(kMaxWorkersScratchBytes / scratch, 1, kMaxAssignWorkers));
      workers = std::clamp(UsableProcessors(), 1, fit);
    }
  }
  std::vector<Worker> state(static_cast<std::size_t>(workers));
  std::vector<int> start;
  try {
    if (totals != nullptr) {
      totals->PartitionCount = partitions;
      totals->VectorDim = dim;
      totals->PartitionSize = std::make_unique<int[]>(static_cast<std::size_t>(partitions));
      totals->PartitionSums = NewPartitionSums(partitions, dim);
      totals->Error = 0;
    }
    for (int w = 0; w < workers; ++w) {
      Worker& worker = state[static_cast<std::size_t>(w)];
      worker.chosen = std::make_unique_for_overwrite<int[]>(capacity);
      worker.best = std::make_unique_for_overwrite<std::int64_t[]>(capacity);
      if (totals != nullptr && w > 0) {
        worker.sums.emplace(partitions, dim);
        worker.sizes = std::make_unique<int[]>(static_cast<std::size_t>(partitions));
      }
    }
    start.assign(capacity, 0);  // start candidate 0: on a tie the lowest index wins
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for the partitioning.\n");
  }
  reader.Rewind();
  if (workers == 1) {
    Worker& worker = state[0];
    SetBatch batch;
    while (reader.Next(&batch)) {
      SearchNearestSquared(VectorRows(batch.Elements, dim), 0, batch.Count, CB, start.data(),
                           worker.chosen.get(), worker.best.get());
      if (totals != nullptr) {
        AddToTotals(worker, true, batch.Elements, batch.Freqs, batch.Count, dim, totals);
      }
      if (visit) visit(batch, worker.chosen.get());
    }
    if (totals != nullptr) totals->Error = static_cast<std::int64_t>(worker.error);
    return;
  }
  // Each worker searches the batches it decodes.
  reader.ReadInParallel(
      [&](const SetBatch& batch, int part) {
        Worker& worker = state[static_cast<std::size_t>(part)];
        AssignRows(CB, batch.Elements, batch.Count, worker.chosen.get(), worker.best.get());
        if (totals != nullptr) {
          AddToTotals(worker, part == 0, batch.Elements, batch.Freqs, batch.Count, dim, totals);
        }
      },
      SetReader::kElements, nullptr, workers);
  if (totals == nullptr) return;
  std::uint64_t error = 0;
  for (int w = 0; w < workers; ++w) {
    const Worker& worker = state[static_cast<std::size_t>(w)];
    error += worker.error;
    if (w == 0) continue;
    for (int p = 0; p < partitions; ++p) {
      PartitionSum& sum = totals->PartitionSums[p];
      const std::int64_t* part = worker.sums->Sums(p);
      for (int e = 0; e < dim; ++e) sum.VectorSum[e] = WrapAdd(sum.VectorSum[e], part[e]);
      sum.CCFreq = WrapAdd32(sum.CCFreq, worker.sums->Freq(p));
      totals->PartitionSize[p] += worker.sizes[p];
    }
  }
  totals->Error = static_cast<std::int64_t>(error);
}

}  // namespace cb_internal

bool Searchable(const Codebook& set, const Codebook& CB) {
  return CB.Booksize >= 1 && VectorDimension(CB) == VectorDimension(set);
}

void RequireSearchable(const Codebook& set, const Codebook& CB) {
  cb_internal::RequireSearchableCodebook(set, CB);
}

void AssignRows(const Codebook& CB, const int* rows, int count, int* chosen,
                std::int64_t* distances) {
  // Start candidate 0 for every row: on a tie the lowest index wins.
  thread_local std::vector<int> start;
  if (start.size() < static_cast<std::size_t>(count)) {
    try {
      start.assign(static_cast<std::size_t>(count), 0);
    } catch (const std::bad_alloc&) {
      FatalError("ERROR: Not enough memory for the partitioning.\n");
    }
  }
  cb_internal::SearchNearestSquared(cb_internal::VectorRows(rows, VectorDimension(CB)), 0, count,
                                    CB, start.data(), chosen, distances,
                                    cb_internal::NearestPath::kAuto, 1);
}

void AssignToNearest(SetReader& reader, const Codebook& CB, PartitionTotals* totals,
                     const std::function<void(const SetBatch&, const int* chosen)>& visit) {
  cb_internal::AssignToNearestOn(reader, CB, totals, visit, 0);
}
