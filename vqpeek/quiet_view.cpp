// The runs at quiet levels 0 and 1: nothing of the set is printed but its
// head and entropy, so the set is read in batches and never held.
#include <new>
#include <vector>

#include "viewer.h"
#include "vqpeek/interfc.h"

bool PrintQuietView(FILE* out, const char* inputName, ViewMode mode, const char* secondName,
                    SetReader& reader, const ViewOptions& options) {
  if (options.QuietLevel > 1) return false;
  // Mode 2 reads the set twice: once to check it before the codebook is
  // read, once to assign it.
  if (mode == ViewTrainingSetAndCodebook && !reader.Rewindable()) return false;

  std::vector<int> freqs;
  if (options.Entropy == 1) {
    try {
      freqs.reserve(static_cast<std::size_t>(reader.Header().Booksize));
    } catch (const std::bad_alloc&) {
      FatalError("ERROR: Not enough memory for new vector element.\n");
    }
  }
  // The first pass checks every record, and keeps what the entropy needs.
  SetBatch batch;
  while (reader.Next(&batch)) {
    if (options.Entropy == 1) freqs.insert(freqs.end(), batch.Freqs, batch.Freqs + batch.Count);
  }

  if (mode == ViewTrainingSetAndCodebook) {
    Codebook codebook;
    ReadCodebook(secondName, &codebook);
    if (codebook.Booksize < 1) FatalError("ERROR: The codebook is empty.\n");
    PartitionTotals totals;
    AssignToNearest(reader, codebook, &totals);
  } else if (mode == ViewTrainingSetAndPartitioning) {
    ReadPartitionLabels(secondName, reader.Header(), nullptr);
  }

  if (options.QuietLevel > 0) PrintHeaderBlock(out, inputName, reader.Header());
  if (options.Entropy == 1) {
    PrintEntropyLine(out, FrequencyEntropy(freqs.data(), static_cast<int>(freqs.size())));
  }
  return true;
}
