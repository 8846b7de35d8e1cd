// The partition view of the two-file modes. Until it is built, a run in a
// two-file mode ends after the dispatch.
#include "interfc.h"
#include "viewer.h"

void LoadPartitionView(ViewMode, const char*, const Codebook&, Codebook*, Partitioning*) {
  ExitProcessing(0);
}

void PrintPartitionView(FILE*, const Codebook&, const Codebook&, const Partitioning&,
                        const SetStatistics&, int) {}

void ReleasePartitionView(Codebook*, Partitioning*) {}
