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
  std::unique_ptr<int[]> freqs;
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
      freqs =
          std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(reader.Header().Booksize));
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
        if (freqs != nullptr) std::copy_n(batch.Freqs, batch.Count, freqs.get() + batch.First);
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
  SetStatistics stat;
  for (const SetStatistics& share : stats) {
    stat.MaxElement = std::max(stat.MaxElement, share.MaxElement);
    stat.MaxFreq = std::max(stat.MaxFreq, share.MaxFreq);
    stat.MaxNameLength = std::max(stat.MaxNameLength, share.MaxNameLength);
  }

  const Codebook& set = reader.Header();
  if (options.QuietLevel > 0) PrintHeaderBlock(out, inputName, set);
  if (options.Entropy == 1) PrintEntropyLine(out, FrequencyEntropy(freqs.get(), set.Booksize));
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
