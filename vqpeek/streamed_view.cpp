// The runs that never hold the set: quiet levels 0 and 1, where nothing of
// the set is printed but its head and entropy, and the vector listing of a
// single set, which needs the set's statistics before its first line and
// so reads it twice.
#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <vector>

#include "viewer.h"
#include "vqpeek/interfc.h"

namespace {

// The frequencies of a pass in file order, for the entropy line, kept a
// batch at a time by the worker that reads it: in a byte each where all of
// the batch's lie in 0 .. 255 (most sets), else as they are.
class KeptFrequencies {
 public:
  KeptFrequencies(int count, int batchRows, int workers)
      : batchRows_(batchRows),
        batches_(static_cast<std::size_t>((count + batchRows - 1) / batchRows)),
        totals_(static_cast<std::size_t>(workers), 0) {}

  // Keeps the frequencies of `batch`, which starts a batch of the pass.
  // Throws std::bad_alloc.
  void Keep(const SetBatch& batch, int worker) {
    Batch& kept = batches_[static_cast<std::size_t>(batch.First / batchRows_)];
    const int* freqs = batch.Freqs;
    bool small = true;
    std::int64_t total = 0;
    for (int k = 0; k < batch.Count; ++k) {
      small &= static_cast<unsigned>(freqs[k]) < 256u;
      total += freqs[k];
    }
    totals_[static_cast<std::size_t>(worker)] += total;
    if (small) {
      kept.bytes.assign(freqs, freqs + batch.Count);
    } else {
      kept.ints.assign(freqs, freqs + batch.Count);
    }
  }

  // SetEntropy of the frequencies kept.
  double Entropy() const {
    std::int64_t total = 0;
    for (const std::int64_t share : totals_) total += share;
    EntropySum sum(total);
    for (const Batch& batch : batches_) {
      sum.Add(batch.bytes.data(), static_cast<int>(batch.bytes.size()));
      sum.Add(batch.ints.data(), static_cast<int>(batch.ints.size()));
    }
    return sum.Value();
  }

 private:
  struct Batch {
    std::vector<std::uint8_t> bytes;
    std::vector<int> ints;
  };
  int batchRows_;
  std::vector<Batch> batches_;
  std::vector<std::int64_t> totals_;  // per worker
};

}  // namespace

bool PrintStreamedView(FILE* out, const char* inputName, ViewMode mode, const char* secondName,
                       SetReader& reader, const ViewOptions& options) {
  const bool listing = options.QuietLevel > 1;
  if (listing && mode != ViewSet) return false;
  // The listing reads the set twice: a pass to check it and take the
  // statistics of its fields before its first line, then the pass that
  // formats it.
  if (listing && !reader.Rewindable()) return false;
  // The partitions' figures of a partitioning are measured against the
  // centroids, which only the whole partitioning gives.
  const bool figures = options.Statistics == 1;
  if (figures && mode == ViewTrainingSetAndPartitioning) return false;

  // Mode 2 reads the codebook first, so that every training vector is
  // given its code vector in the pass that checks the set. What the
  // codebook's reading says (and its failure) is held until the set has
  // been checked, where a run that read it after the set would say it.
  Codebook codebook;
  std::optional<HeldMessages> codebookMessages;
  bool search = false;
  if (mode == ViewTrainingSetAndCodebook) {
    codebookMessages = HoldMessages([&] { ReadCodebook(secondName, &codebook); });
    search = !codebookMessages->Failed() && Searchable(reader.Header(), codebook);
  }

  // The pass checks every record on every worker, and keeps what the
  // entropy, the listing's field widths and the figures need; each worker
  // adds its batches to its own share.
  const int workers = reader.ParallelWorkers();
  const int dim = reader.Dimension();
  const std::size_t capacity = static_cast<std::size_t>(reader.BatchCapacity());
  std::optional<KeptFrequencies> freqs;
  std::vector<SetStatistics> stats;
  std::vector<int> copy;
  std::optional<SetFigureAccumulator> setFigures;
  std::optional<PartitionFigureAccumulator> partitionFigures;
  struct Search {
    std::unique_ptr<int[]> chosen;
    std::unique_ptr<std::int64_t[]> distances;
  };
  std::vector<Search> searches;
  try {
    if (options.Entropy == 1) {
      freqs.emplace(reader.Header().Booksize, reader.BatchCapacity(), workers);
    }
    stats.resize(static_cast<std::size_t>(workers));
    if (search) {
      searches.resize(static_cast<std::size_t>(workers));
      for (Search& scratch : searches) {
        scratch.chosen = std::make_unique_for_overwrite<int[]>(capacity);
        scratch.distances = std::make_unique_for_overwrite<std::int64_t[]>(capacity);
      }
    }
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for new vector element.\n");
  }
  if (figures && mode == ViewSet) setFigures.emplace(dim, workers);
  // The code vectors are read with the set's dimension only where the two
  // dimensions are equal.
  if (figures && search) {
    partitionFigures.emplace(AllRows(codebook, &copy), codebook.Booksize, dim, workers);
  }
  int fields = SetReader::kFrequencies;
  if (listing || setFigures || search) fields |= SetReader::kElements;
  if (listing) fields |= SetReader::kNames;
  reader.ReadInParallel(
      [&](const SetBatch& batch, int worker) {
        if (freqs) {
          try {
            freqs->Keep(batch, worker);
          } catch (const std::bad_alloc&) {
            FatalError("ERROR: Not enough memory for new vector element.\n");
          }
        }
        if (listing) AddToStatistics(batch, dim, &stats[static_cast<std::size_t>(worker)]);
        if (setFigures) setFigures->Add(batch.Elements, batch.Freqs, batch.Count, worker);
        if (search) {
          Search& scratch = searches[static_cast<std::size_t>(worker)];
          AssignRows(codebook, batch.Elements, batch.Count, scratch.chosen.get(),
                     scratch.distances.get());
          // Each training vector is measured against its code vector.
          if (partitionFigures) {
            partitionFigures->AddMeasured(batch.Elements, batch.Freqs, scratch.chosen.get(),
                                          scratch.distances.get(), batch.Count, worker);
          }
        }
      },
      fields, nullptr, workers);

  std::optional<PartitionFigures> partitionResult;
  if (mode == ViewTrainingSetAndCodebook) {
    codebookMessages->Release();
    RequireSearchable(reader.Header(), codebook);
    if (partitionFigures) {
      const Codebook& head = reader.Header();
      partitionResult =
          partitionFigures->Figures(PeakValue(head.BytesPerElement, head.MinValue, head.MaxValue));
    }
  } else if (mode == ViewTrainingSetAndPartitioning) {
    ReadPartitionLabels(secondName, reader.Header(), nullptr);
  }
  const SetStatistics stat = CombinedStatistics(stats);

  const Codebook& set = reader.Header();
  if (options.QuietLevel > 0) PrintHeaderBlock(out, inputName, set);
  if (freqs) PrintEntropyLine(out, freqs->Entropy());
  if (figures) {
    if (options.Entropy == 1) std::fputc('\n', out);
    if (setFigures) PrintSetFigures(out, setFigures->Figures());
    if (partitionResult) PrintPartitionFigures(out, *partitionResult);
  }
  if (!listing) return true;

  const ListingGeometry geometry = ComputeListingGeometry(set, stat);
  std::fputc('\n', out);
  reader.Rewind();
  PrintStreamedListing(out, set, reader, stat, geometry, options.VectorFormat, options.NoBlanks);
  return true;
}
