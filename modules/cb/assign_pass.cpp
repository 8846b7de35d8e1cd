// The assigning pass of a streamed set: every training vector read again
// from its file and given to its nearest code vector, with the totals of
// each partition kept instead of a partition per vector.
#include <algorithm>
#include <mutex>
#include <new>
#include <vector>

#include "cb_internal.h"
#include "nearest_search.h"
#include "search_rule.h"
#include "vqpeek/cb.h"
#include "vqpeek/threads.h"

namespace {

// Adds the batch's vectors, given their partitions, to the totals.
void AddToTotals(const int* rows, const int* freqs, int count, int dim, const int* chosen,
                 const std::int64_t* best, PartitionSum* sums, int* sizes, std::uint64_t* error) {
  const std::size_t width = static_cast<std::size_t>(dim);
  for (int k = 0; k < count; ++k) {
    const int p = chosen[k];
    const int freq = freqs[k];
    PartitionSum& sum = sums[p];
    const int* row = rows + static_cast<std::size_t>(k) * width;
    for (int e = 0; e < dim; ++e) {
      sum.VectorSum[e] = cb_internal::WrapAdd(sum.VectorSum[e], cb_internal::WrapMul(freq, row[e]));
    }
    sum.CCFreq = cb_internal::WrapAdd32(sum.CCFreq, freq);
    ++sizes[p];
    *error += static_cast<std::uint64_t>(cb_internal::WrapMul(best[k], freq));
  }
}

// Per-partition totals of one worker at most this many elements: beyond it
// the workers' own copies would cost more than their overlap saves.
constexpr std::int64_t kMaxWorkerTotalsElements = std::int64_t{1} << 20;
// Workers of the assigning pass: one reads while the others search.
constexpr int kMaxAssignWorkers = 4;

}  // namespace

void AssignToNearest(SetReader& reader, const Codebook& CB, PartitionTotals* totals,
                     const std::function<void(const SetBatch&, const int* chosen)>& visit) {
  cb_internal::RequireSearchableCodebook(reader.Header(), CB);
  const int dim = reader.Dimension();
  const int partitions = CB.Booksize;
  const std::size_t width = static_cast<std::size_t>(dim);
  const std::size_t capacity = static_cast<std::size_t>(reader.BatchCapacity());
  // Without a visitor that must see the batches in order, several workers
  // take batches in turn: reading is serial, but one worker's search runs
  // while another reads. Every total is a wrapping sum, the same in any
  // order, so each worker keeps its own and they are added at the end.
  int workers = 1;
  if (!visit && static_cast<std::int64_t>(partitions) * (dim + 1) <= kMaxWorkerTotalsElements) {
    workers = std::clamp(UsableProcessors(), 1, kMaxAssignWorkers);
  }
  struct Worker {
    std::unique_ptr<int[]> rows;
    std::unique_ptr<int[]> freqs;
    std::unique_ptr<int[]> chosen;
    std::unique_ptr<std::int64_t[]> best;
    std::unique_ptr<PartitionSum[]> sums;
    std::unique_ptr<int[]> sizes;
    std::uint64_t error = 0;
  };
  std::vector<Worker> state(static_cast<std::size_t>(workers));
  std::vector<int> start;
  try {
    totals->PartitionCount = partitions;
    totals->VectorDim = dim;
    totals->PartitionSize = std::make_unique<int[]>(static_cast<std::size_t>(partitions));
    totals->PartitionSums = cb_internal::NewPartitionSums(partitions, dim);
    totals->Error = 0;
    for (int w = 0; w < workers; ++w) {
      Worker& worker = state[static_cast<std::size_t>(w)];
      worker.rows = std::make_unique_for_overwrite<int[]>(workers > 1 ? capacity * width : 0);
      worker.freqs = std::make_unique_for_overwrite<int[]>(workers > 1 ? capacity : 0);
      worker.chosen = std::make_unique_for_overwrite<int[]>(capacity);
      worker.best = std::make_unique_for_overwrite<std::int64_t[]>(capacity);
      if (w > 0) {
        worker.sums = cb_internal::NewPartitionSums(partitions, dim);
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
      cb_internal::SearchNearestSquared(cb_internal::VectorRows(batch.Elements, dim), 0,
                                        batch.Count, CB, start.data(), worker.chosen.get(),
                                        worker.best.get());
      AddToTotals(batch.Elements, batch.Freqs, batch.Count, dim, worker.chosen.get(),
                  worker.best.get(), totals->PartitionSums.get(), totals->PartitionSize.get(),
                  &worker.error);
      if (visit) visit(batch, worker.chosen.get());
    }
    totals->Error = static_cast<std::int64_t>(worker.error);
    return;
  }
  std::mutex reading;
  bool finished = false;
  RunInParallel(workers, workers, [&](int part, int) {
    Worker& worker = state[static_cast<std::size_t>(part)];
    PartitionSum* sums = part == 0 ? totals->PartitionSums.get() : worker.sums.get();
    int* sizes = part == 0 ? totals->PartitionSize.get() : worker.sizes.get();
    for (;;) {
      int count = 0;
      {
        std::lock_guard<std::mutex> lock(reading);
        if (finished) return;
        SetBatch batch;
        if (!reader.Next(&batch, worker.rows.get())) {
          finished = true;
          return;
        }
        count = batch.Count;
        std::copy_n(batch.Freqs, count, worker.freqs.get());
      }
      cb_internal::SearchNearestSquared(cb_internal::VectorRows(worker.rows.get(), dim), 0, count,
                                        CB, start.data(), worker.chosen.get(), worker.best.get(),
                                        cb_internal::NearestPath::kAuto, 1);
      AddToTotals(worker.rows.get(), worker.freqs.get(), count, dim, worker.chosen.get(),
                  worker.best.get(), sums, sizes, &worker.error);
    }
  });
  std::uint64_t error = 0;
  for (int w = 0; w < workers; ++w) {
    const Worker& worker = state[static_cast<std::size_t>(w)];
    error += worker.error;
    if (w == 0) continue;
    for (int p = 0; p < partitions; ++p) {
      PartitionSum& sum = totals->PartitionSums[p];
      const PartitionSum& part = worker.sums[p];
      for (int e = 0; e < dim; ++e) {
        sum.VectorSum[e] = cb_internal::WrapAdd(sum.VectorSum[e], part.VectorSum[e]);
      }
      sum.CCFreq = cb_internal::WrapAdd32(sum.CCFreq, part.CCFreq);
      totals->PartitionSize[p] += worker.sizes[p];
    }
  }
  totals->Error = static_cast<std::int64_t>(error);
}
