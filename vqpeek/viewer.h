// The steps of the viewer's run: dispatch on the kinds of the named files,
// the header block and entropy line, the set statistics that size every
// listing field, the two vector listing layouts, and the partition view of
// the two-file modes with its loading and release steps.
//
// Listings are written to the stream they are given (standard output in the
// program). The viewer's own errors are printed to standard output and end
// the process with -1.
#ifndef VQPEEK_VQPEEK_VIEWER_H_
#define VQPEEK_VQPEEK_VIEWER_H_

#include <cstdio>

#include "cb.h"

inline constexpr const char* kProgramName = "VQPEEK";
inline constexpr const char* kProgramVersion = "V.0.17";
inline constexpr const char* kProgramDate = "9.11.00";

enum ViewMode : int {
  ViewSet = 1,
  ViewTrainingSetAndCodebook = 2,
  ViewTrainingSetAndPartitioning = 3,
};

// Statistics of the first file that size the listing fields.
struct SetStatistics {
  int MaxElement = 0;     // largest element, never below 0
  int MaxFreq = 0;        // largest Freq, never below 0
  int MaxNameLength = 0;  // longest name, 0 when no node has one
};

// Characters of the decimal form of x (the minus sign included).
int DecimalWidth(int x);

SetStatistics ComputeSetStatistics(const Codebook& set);

// --- set_summary.cpp ---

// Detects the kinds of the two named files (rewriting a name that was found
// completed by an extension) and returns the mode. Exits with one of the
// dispatch messages when the kinds do not fit together.
ViewMode DetermineViewMode(char* firstName, char* secondName);

// The header block of the first file.
void PrintHeaderBlock(FILE* out, const char* inputName, const Codebook& set);

// "Entropy of the set = %6.3f (bits/vector) \n" of the frequencies.
void PrintEntropy(FILE* out, const Codebook& set);

// --- listing.cpp ---

struct ListingGeometry {
  int ColumnWidth = 0;
  int VectorsPerLine = 1;
};

ListingGeometry ComputeListingGeometry(const Codebook& set, const SetStatistics& stats);

// One vector per line: name, elements, frequency.
void LineLayout(FILE* out, const Codebook& set, const SetStatistics& stats, int noBlanks);

// Blocks of BlockSizeY rows, as many side by side as fit into 80 columns.
void MatrixLayout(FILE* out, const Codebook& set, const SetStatistics& stats,
                  const ListingGeometry& geometry);

// The listing of ViewSet: the matrix layout for format 1, or format 0 with
// BlockSizeY > 1; else the line layout.
void PrintVectorListing(FILE* out, const Codebook& set, const SetStatistics& stats,
                        const ListingGeometry& geometry, int vectorFormat, int noBlanks);

// --- partition_view.cpp ---

// Loads the second file of a two-file mode and derives the other structure:
// mode 2 reads the codebook and partitions the training set by nearest code
// vector; mode 3 reads the partitioning and computes the centroid codebook.
void LoadPartitionView(ViewMode mode, const char* secondName, const Codebook& trainingSet,
                       Codebook* second, Partitioning* partitioning);

// Every partition with its representative and its members.
void PrintPartitionView(FILE* out, const Codebook& trainingSet, const Codebook& second,
                        const Partitioning& partitioning, const SetStatistics& stats,
                        int noBlanks);

void ReleasePartitionView(Codebook* second, Partitioning* partitioning);

#endif  // VQPEEK_VQPEEK_VIEWER_H_
