// The runs that never hold the set: quiet levels 0 and 1, where nothing of
// the set is printed but its head and entropy, and the vector listing of a
// single set, which needs the set's statistics before its first line and
// so reads it twice.
#include <new>
#include <optional>
#include <vector>

#include "viewer.h"
#include "vqpeek/interfc.h"

bool PrintStreamedView(FILE* out, const char* inputName, ViewMode mode, const char* secondName,
                       SetReader& reader, const ViewOptions& options) {
  const bool listing = options.QuietLevel > 1;
  if (listing && mode != ViewSet) return false;
  // The listing and mode 2 read the set twice: a pass to check it (before
  // the codebook is read, or the first line is printed), then the pass that
  // assigns or formats it.
  if ((listing || mode == ViewTrainingSetAndCodebook) && !reader.Rewindable()) return false;
  // The partitions' figures of a partitioning are measured against the
  // centroids, which only the whole partitioning gives.
  const bool figures = options.Statistics == 1;
  if (figures && mode == ViewTrainingSetAndPartitioning) return false;

  std::vector<int> freqs;
  if (options.Entropy == 1) {
    try {
      freqs.reserve(static_cast<std::size_t>(reader.Header().Booksize));
    } catch (const std::bad_alloc&) {
      FatalError("ERROR: Not enough memory for new vector element.\n");
    }
  }
  // The first pass checks every record and keeps what the entropy and the
  // listing's field widths need.
  SetStatistics stats;
  std::optional<SetFigureAccumulator> setFigures;
  if (figures && mode == ViewSet) setFigures.emplace(reader.Dimension());
  SetBatch batch;
  while (reader.Next(&batch)) {
    if (options.Entropy == 1) freqs.insert(freqs.end(), batch.Freqs, batch.Freqs + batch.Count);
    if (listing) AddToStatistics(batch, reader.Dimension(), &stats);
    if (setFigures) setFigures->Add(batch.Elements, batch.Freqs, batch.Count);
  }

  std::optional<PartitionFigures> partitionFigures;
  if (mode == ViewTrainingSetAndCodebook) {
    Codebook codebook;
    ReadCodebook(secondName, &codebook);
    if (codebook.Booksize < 1) FatalError("ERROR: The codebook is empty.\n");
    // Nothing of the partitions is printed but their figures: no totals.
    if (figures) {
      // Each training vector is measured against the code vector it is
      // assigned to, batch by batch. The code vectors are read with the
      // set's dimension only once AssignToNearest has found the two
      // dimensions equal: at its first batch, or after it for a set without
      // vectors.
      std::vector<int> copy;
      std::optional<PartitionFigureAccumulator> accumulator;
      auto measured = [&]() -> PartitionFigureAccumulator& {
        if (!accumulator) {
          accumulator.emplace(AllRows(codebook, &copy), codebook.Booksize, reader.Dimension());
        }
        return *accumulator;
      };
      AssignToNearest(reader, codebook, nullptr, [&](const SetBatch& rows, const int* chosen) {
        measured().Add(rows.Elements, rows.Freqs, chosen, rows.Count);
      });
      const Codebook& head = reader.Header();
      partitionFigures =
          measured().Figures(PeakValue(head.BytesPerElement, head.MinValue, head.MaxValue));
    } else {
      AssignToNearest(reader, codebook, nullptr);
    }
  } else if (mode == ViewTrainingSetAndPartitioning) {
    ReadPartitionLabels(secondName, reader.Header(), nullptr);
  }

  const Codebook& set = reader.Header();
  if (options.QuietLevel > 0) PrintHeaderBlock(out, inputName, set);
  if (options.Entropy == 1) {
    PrintEntropyLine(out, FrequencyEntropy(freqs.data(), static_cast<int>(freqs.size())));
  }
  if (figures) {
    if (options.Entropy == 1) std::fputc('\n', out);
    if (setFigures) PrintSetFigures(out, setFigures->Figures());
    if (partitionFigures) PrintPartitionFigures(out, *partitionFigures);
  }
  if (!listing) return true;

  const ListingGeometry geometry = ComputeListingGeometry(set, stats);
  std::fputc('\n', out);
  reader.Rewind();
  PrintStreamedListing(out, set, reader, stats, geometry, options.VectorFormat, options.NoBlanks);
  return true;
}
