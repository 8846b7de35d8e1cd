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

#include <array>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "parameters.h"
#include "vqpeek/cb.h"

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

// The option values that steer the output (the parameters Q, E, F and B).
struct ViewOptions {
  int QuietLevel = 2;    // 0: entropy line only; 1: header block; 2 and up: listing too
  int Entropy = 0;       // 1: print the entropy line
  int VectorFormat = 0;  // 0 adaptive, 1 matrix, 2 line
  int NoBlanks = 0;      // 1: no blank after the elements of the line layout
  int Statistics = 0;    // 1: print the block of figures
};

// --- set_summary.cpp ---

// Characters of the decimal form of x, the minus sign included: the integer
// part of log10(|x|) plus 1 (plus 2 when x < 0), and 1 for 0. INT_MIN gives
// 11.
int DecimalWidth(int x);

// The statistics of nodes 0 .. Booksize-1. Elements and frequencies below 0
// never lower the maxima; a node without a name counts as length 0.
SetStatistics ComputeSetStatistics(const Codebook& set);

// The current values of the parameter table.
ViewOptions CurrentViewOptions();

// Detects the kinds of the two named files with the priority order 123
// (rewriting a name that was found completed by an extension; both buffers
// hold kFileNameSize bytes) and returns the mode. Nothing is read but the
// first line of each file; of standard input or a pipe that line is kept
// for its reader.
// Fatal: puts one of "ERROR: only one of the two files can be standard
// input" (both names read it), "ERROR: file not found.", "ERROR: first file
// not found or a partitioning file", "ERROR: first file not a training set
// file", "ERROR: second file not found or a training set file" on standard
// output and exits with -1.
ViewMode DetermineViewMode(char* firstName, char* secondName);

// The header block of the first file, closed by a blank line. The
// "Generation method:" line is left out when the method is empty.
void PrintHeaderBlock(FILE* out, const char* inputName, const Codebook& set);

// The entropy in bits per vector of the distribution the node frequencies
// give: -sum p log2 p over the nodes with p > 0, where p is Freq over the
// sum of the frequencies. The sum is formed in 64 bits, so a total beyond
// the range of TotalFreq still gives the right figure. 0 for an empty set or
// a total of 0.
double SetEntropy(const Codebook& set);

// SetEntropy of a set with these frequencies.
double FrequencyEntropy(const int* freqs, int count);

// The sum of SetEntropy over frequencies given in index order, a batch at a
// time, whose exact sum `total` is known: the same terms added in the
// same order. A frequency's term is the same wherever it stands, so the
// terms of the small frequencies, which most sets repeat, are computed once.
class EntropySum {
 public:
  explicit EntropySum(std::int64_t total);
  void Add(const int* freqs, int count);
  void Add(const std::uint8_t* freqs, int count);
  double Value() const { return value_; }

 private:
  static constexpr int kKept = 1024;
  bool Term(int freq, double* term) const;
  // The term of 0 <= freq < kKept, computed at its first use.
  double KeptTerm(int freq);

  std::int64_t total_;
  double log2_;
  double value_ = 0.0;
  std::array<double, kKept> kept_{};
  std::array<signed char, kKept> known_{};  // 0 unknown, 1 adds kept_[f], -1 adds nothing
};

// "Entropy of the set = %6.3f (bits/vector) \n".
void PrintEntropyLine(FILE* out, double entropy);
// The line of SetEntropy.
void PrintEntropy(FILE* out, const Codebook& set);

// Everything a one-file run that holds the set prints after the file is
// loaded: the header block
// (quiet level above 0), the entropy line (when asked for, at any quiet
// level), the block of figures (when asked for, at any quiet level; after a
// blank line when the entropy line precedes it, the header block ending in
// one itself) and, at a quiet level above 1, a blank line and the vector
// listing.
void PrintView(FILE* out, const char* inputName, const Codebook& set, const ViewOptions& options);

// --- streamed_view.cpp ---

// A run that reads the first file through `reader` in batches and drops
// them batch by batch: quiet levels 0 and 1 in every mode, and the vector
// listing of a single set (a first pass checks the set and takes its
// statistics, a second formats it). At most the frequencies are kept (a
// byte a vector where they are small, else 4, for the entropy line). The set is checked on every
// usable processor (SetReader::ReadInParallel); in mode 2 the codebook is
// read first and every training vector given its nearest code vector in
// the same pass. Every message comes in the order of a run that holds the
// set and reads the second file after it; the output is PrintView's.
// Returns false, having read nothing, when the run needs the set in
// memory: the partition view, the figures of a partitioning, or a first
// file that cannot be read twice where the listing needs a second pass
// (SetReader::Rewindable).
bool PrintStreamedView(FILE* out, const char* inputName, ViewMode mode, const char* secondName,
                       SetReader& reader, const ViewOptions& options);

// The most records a batch of the viewer's reader holds: the size of the
// nearest searches' blocks.
inline constexpr int kViewBatchRows = 1 << 16;

// Flushes `out` and checks that everything written to it arrived, so that a
// run whose listing was lost (a full disk, say) does not end as a success.
// Fatal: "ERROR: Cannot write the output: %s\n" with the system's reason on
// standard error, exit -1.
void FinishOutput(FILE* out);

// Folds the records of `batch` (of `dim` elements each) into `stats`, as
// ComputeSetStatistics takes them.
void AddToStatistics(const SetBatch& batch, int dim, SetStatistics* stats);

// The statistics of a set whose parts gave these shares.
SetStatistics CombinedStatistics(const std::vector<SetStatistics>& shares);

// --- figures_block.cpp ---

// Rows first .. first + count - 1 of `set` as flat rows: where the nodes lie
// in one run of the element block, the block itself; otherwise a copy in
// `scratch`, which has room for `count` rows.
const int* FlatRows(const Codebook& set, int first, int count, int* scratch);

// Every row of `set` as flat rows: the element block where the nodes lie in
// one run of it, else a copy in `copy`; null for a set without nodes.
const int* AllRows(const Codebook& set, std::vector<int>* copy);

// The figures of the set, gathered batch by batch from its records.
SetFigures ComputeSetFigures(const Codebook& set);

// The figures of the partitions of a two-file mode: the training set's
// vectors in the partitions that labels[i] gives them, each measured
// against node p of `second` (the code vector, or the centroid), the PSNR
// with the training set's peak value.
PartitionFigures ComputePartitionFigures(const NarrowSet& trainingSet, const Codebook& second,
                                         const int* labels);

// "Distinct vectors:", "Mean element:" and "Variance:", labels padded to 19
// columns, three decimals; "n/a" for a figure that has none.
void PrintSetFigures(FILE* out, const SetFigures& figures);

// "Partitions:" (with the empty ones), "Partition sizes:", "MSE per
// element:", "PSNR:" (two decimals, " dB"; "inf" for an error of 0),
// "Fixed rate:" and "Entropy rate:" (" bits/vector"), as PrintSetFigures.
void PrintPartitionFigures(FILE* out, const PartitionFigures& figures);

// --- listing.cpp ---

// The column arithmetic of the matrix layout. ColumnWidth is 1 + the
// largest of the width of one block row plus one, of the index, slash and
// frequency plus one, and of the longest name plus one; it is formed in 64
// bits and held at INT_MAX, so no block size can overflow it.
// VectorsPerLine = 80 / ColumnWidth, at least 1.
struct ListingGeometry {
  int ColumnWidth = 0;
  int VectorsPerLine = 1;
};

ListingGeometry ComputeListingGeometry(const Codebook& set, const SetStatistics& stats);

// One vector per line: the name (when any node has one), the elements in
// storage order and the frequency in parentheses. With `noBlanks` 1 the
// elements follow each other with nothing between them.
void LineLayout(FILE* out, const Codebook& set, const SetStatistics& stats, int noBlanks);

// Blocks of BlockSizeY rows, as many side by side as fit into 80 columns,
// each group under an index/frequency line and (when any node has a name) a
// name line, and followed by a blank line. Every column but the last of a
// group and the last vector of the set takes exactly ColumnWidth characters.
void MatrixLayout(FILE* out, const Codebook& set, const SetStatistics& stats,
                  const ListingGeometry& geometry);

// The listing of ViewSet: the matrix layout for format 1, or format 0 with
// BlockSizeY > 1; else the line layout. Prints nothing for an empty set.
void PrintVectorListing(FILE* out, const Codebook& set, const SetStatistics& stats,
                        const ListingGeometry& geometry, int vectorFormat, int noBlanks);

// PrintVectorListing of the set whose header is `set` (no nodes), with the
// records read from `reader` in batches.
void PrintStreamedListing(FILE* out, const Codebook& set, SetReader& reader,
                          const SetStatistics& stats, const ListingGeometry& geometry,
                          int vectorFormat, int noBlanks);

// --- partition_view.cpp ---

// Loads the second file of a two-file mode and derives the other structure:
// mode 2 reads the codebook and partitions the training set by nearest code
// vector; mode 3 reads the partitioning and computes the centroid codebook.
void LoadPartitionView(ViewMode mode, const char* secondName, const Codebook& trainingSet,
                       Codebook* second, Partitioning* partitioning);

// A run of a two-file mode that PrintStreamedView left: the training set is
// read from `reader` and held at its file's width (NarrowSet), the second
// file read and every vector labelled with its partition (4 bytes a
// vector), and then printed as PrintView prints a run of that mode: the
// header block, the entropy line, the partitions' figures and, at a quiet
// level above 1, a blank line and the partition view, with every message
// and the member order of a run that loads the records (LoadPartitionView).
void PrintTwoFileView(FILE* out, const char* inputName, ViewMode mode, const char* secondName,
                      SetReader& reader, const ViewOptions& options);

// Groups the vectors 0 .. count-1 by their labels (each 0 .. partitions-1):
// partition p's members are members[offset[p] .. offset[p+1]-1], in
// descending order of the vector, but for the first partition in ascending
// order when `firstAscending`. Fatal: "ERROR: Not enough memory for the
// partitioning.\n".
void GroupMembers(const int* labels, int count, int partitions, bool firstAscending,
                  std::vector<std::int64_t>* offset, std::unique_ptr<int[]>* members);

// Every partition p = 0 .. second.Booksize-1 with its representative (node
// p of `second`) and its members as GroupMembers lays them out. A large
// view is formatted on several threads.
void PrintMemberView(FILE* out, const NarrowSet& set, const Codebook& second,
                     const std::int64_t* offset, const int* members, const SetStatistics& stats,
                     int noBlanks);

// PrintMemberView on `threads` threads (1: the calling thread alone),
// formatting chunks of `chunkItems` lines (0: chosen by the line length;
// a partition's two head lines count as one). The text is the same for
// every choice.
void PrintMemberViewOn(FILE* out, const NarrowSet& set, const Codebook& second,
                       const std::int64_t* offset, const int* members, const SetStatistics& stats,
                       int noBlanks, int threads, std::int64_t chunkItems);

// The view of records: every partition with its representative and the
// members of its list, in list order. A large view is formatted on
// several threads.
void PrintPartitionView(FILE* out, const Codebook& trainingSet, const Codebook& second,
                        const Partitioning& partitioning, const SetStatistics& stats, int noBlanks);

// PrintPartitionView on `threads` threads, as PrintMemberViewOn.
void PrintPartitionViewOn(FILE* out, const Codebook& trainingSet, const Codebook& second,
                          const Partitioning& partitioning, const SetStatistics& stats,
                          int noBlanks, int threads, std::int64_t chunkItems);

void ReleasePartitionView(Codebook* second, Partitioning* partitioning);

#endif  // VQPEEK_VQPEEK_VIEWER_H_
