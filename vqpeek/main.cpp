// vqpeek: prints the contents of a training-set or codebook file, or the
// partitions of a training set given a codebook or a partitioning.
#include <cstdio>

#include "parameters.h"
#include "viewer.h"
#include "vqpeek/cb.h"
#include "vqpeek/file.h"

int main(int argc, char** argv) {
  char firstName[kFileNameSize];
  char secondName[kFileNameSize];
  // The training set or codebook, then the optional codebook or
  // partitioning. Both are inputs, so the two names are never compared.
  FileNameSlot slots[] = {
      {firstName, "", 0, 1},
      {secondName, "", 1, 1},
  };
  ParseParameters(argc, argv, 2, slots);
  const ViewMode mode = DetermineViewMode(firstName, secondName);

  const ViewOptions options = CurrentViewOptions();
  SetReader reader(firstName, SetReader::kBufferBytes, kViewBatchRows);
  if (PrintStreamedView(stdout, firstName, mode, secondName, reader, options)) {
    FinishOutput(stdout);
    return 0;
  }

  if (mode != ViewSet) {
    PrintTwoFileView(stdout, firstName, mode, secondName, reader, options);
  } else {
    Codebook set;
    ReadCodebookFrom(reader, &set);
    PrintView(stdout, firstName, set, options);
    FreeCodebook(&set);
  }
  FinishOutput(stdout);
  return 0;
}
