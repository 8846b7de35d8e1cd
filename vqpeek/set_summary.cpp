// The main flow's steps around the listing: the dispatch on the kinds of the
// named files, the header block, the set statistics and the entropy line.
#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "parameters.h"
#include "text_buffer.h"
#include "viewer.h"
#include "vqpeek/file.h"
#include "vqpeek/interfc.h"

namespace {

// Extensions are tried in the order training set, codebook, partitioning.
constexpr int kKindPriority = 123;

[[noreturn]] void DispatchError(const char* message) {
  std::puts(message);
  ExitProcessing(-1);
}

}  // namespace

int DecimalWidth(int x) {
  // The length of the decimal form itself: exact for every int, where a
  // logarithm depends on how exactly the platform rounds it near powers of
  // ten.
  char text[16];
  return static_cast<int>(std::to_chars(text, text + sizeof text, x).ptr - text);
}

SetStatistics ComputeSetStatistics(const Codebook& set) {
  SetStatistics stats;
  const std::int64_t dim = static_cast<std::int64_t>(set.BlockSizeX) * set.BlockSizeY;
  for (int i = 0; i < set.Booksize; ++i) {
    const CodebookNode& node = set.Book[i];
    if (node.Freq > stats.MaxFreq) stats.MaxFreq = node.Freq;
    if (node.Name != nullptr) {
      const int length = static_cast<int>(std::strlen(node.Name.get()));
      if (length > stats.MaxNameLength) stats.MaxNameLength = length;
    }
    const int* elements = node.Vector.get();
    for (std::int64_t e = 0; e < dim; ++e) {
      if (elements[e] > stats.MaxElement) stats.MaxElement = elements[e];
    }
  }
  return stats;
}

SetStatistics CombinedStatistics(const std::vector<SetStatistics>& shares) {
  SetStatistics stats;
  for (const SetStatistics& share : shares) {
    stats.MaxElement = std::max(stats.MaxElement, share.MaxElement);
    stats.MaxFreq = std::max(stats.MaxFreq, share.MaxFreq);
    stats.MaxNameLength = std::max(stats.MaxNameLength, share.MaxNameLength);
  }
  return stats;
}

void AddToStatistics(const SetBatch& batch, int dim, SetStatistics* stats) {
  const std::size_t width = static_cast<std::size_t>(dim);
  for (int k = 0; k < batch.Count; ++k) {
    if (batch.Freqs[k] > stats->MaxFreq) stats->MaxFreq = batch.Freqs[k];
    if (batch.Names != nullptr && batch.Names[k] != nullptr) {
      const int length = static_cast<int>(std::strlen(batch.Names[k]));
      if (length > stats->MaxNameLength) stats->MaxNameLength = length;
    }
    const int* elements = batch.Elements + static_cast<std::size_t>(k) * width;
    for (std::size_t e = 0; e < width; ++e) {
      if (elements[e] > stats->MaxElement) stats->MaxElement = elements[e];
    }
  }
}

ViewOptions CurrentViewOptions() {
  ViewOptions options;
  options.QuietLevel = Value_(kQuietLevel);
  options.Entropy = Value_(kEntropy);
  options.VectorFormat = Value_(kVectorFormat);
  options.NoBlanks = Value_(kNoBlanks);
  options.Statistics = Value_(kStatistics);
  return options;
}

ViewMode DetermineViewMode(char* firstName, char* secondName) {
  // Standard input is read once, by one of the two readers.
  if (secondName[0] != '\0' && IsStandardInput(firstName) && IsStandardInput(secondName)) {
    DispatchError("ERROR: only one of the two files can be standard input");
  }
  const int firstKind = DetermineCBFileTypeConsideringOrder(firstName, kKindPriority);
  // An empty second slot names no file and gives 0 (never a hidden ".ts").
  const int secondKind = DetermineCBFileTypeConsideringOrder(secondName, kKindPriority);

  if (secondKind == kNotRecognized) {
    if (secondName[0] != '\0') DispatchError("ERROR: file not found.");
    if (firstKind != kTrainingSetFile && firstKind != kCodebookFile) {
      DispatchError("ERROR: first file not found or a partitioning file");
    }
    return ViewSet;
  }
  if (firstKind != kTrainingSetFile) DispatchError("ERROR: first file not a training set file");
  if (secondKind == kCodebookFile) return ViewTrainingSetAndCodebook;
  if (secondKind == kPartitioningFile) return ViewTrainingSetAndPartitioning;
  DispatchError("ERROR: second file not found or a training set file");
}

void PrintHeaderBlock(FILE* out, const char* inputName, const Codebook& set) {
  std::fprintf(out, "\n%s %s %s\n", kProgramName, kProgramVersion, kProgramDate);
  std::fprintf(out, "Input file:        %s\n", inputName);
  std::fprintf(out, "Version:           %s\n", set.Versionstr);
  std::fprintf(out, "BlockSizeX:        %i\n", set.BlockSizeX);
  std::fprintf(out, "BlockSizeY:        %i\n", set.BlockSizeY);
  std::fprintf(out, "Booksize:          %i\n", set.Booksize);
  std::fprintf(out, "Total frequency:   %i\n", set.TotalFreq);
  std::fprintf(out, "Bytes per element: %i\n", set.BytesPerElement);
  std::fprintf(out, "MinValue:          %i\n", set.MinValue);
  std::fprintf(out, "MaxValue:          %i\n", set.MaxValue);
  std::fprintf(out, "Preprocessing:     %i\n", set.Preprocessing);
  if (set.GenerationMethod[0] != '\0') {
    std::fprintf(out, "Generation method: %s\n", set.GenerationMethod);
  }
  std::fputc('\n', out);
}

EntropySum::EntropySum(std::int64_t total) : total_(total), log2_(std::log(2.0)) {}

bool EntropySum::Term(int freq, double* term) const {
  const double p = static_cast<double>(freq) / static_cast<double>(total_);
  // Zero frequencies, and every p of a total of 0 (not a number), add
  // nothing.
  if (!(p > 0)) return false;
  *term = (-p) * std::log(p) / log2_;
  return true;
}

double EntropySum::KeptTerm(int freq) {
  signed char& known = known_[static_cast<std::size_t>(freq)];
  if (known == 0) {
    double term = 0;
    // A frequency that adds nothing is kept as +0.0, which leaves every
    // sum as it is: the sum starts at +0.0 and never becomes -0.0.
    known = Term(freq, &term) ? 1 : -1;
    kept_[static_cast<std::size_t>(freq)] = known > 0 ? term : 0.0;
  }
  return kept_[static_cast<std::size_t>(freq)];
}

void EntropySum::Add(const int* freqs, int count) {
  for (int i = 0; i < count; ++i) {
    const int f = freqs[i];
    double term = 0;
    if (f >= 0 && f < kKept) {
      value_ += KeptTerm(f);
    } else if (Term(f, &term)) {
      value_ += term;
    }
  }
}

void EntropySum::Add(const std::uint8_t* freqs, int count) {
  if (count == 0) return;
  for (int f = 0; f < 256; ++f) KeptTerm(f);
  for (int i = 0; i < count; ++i) value_ += kept_[freqs[i]];
}

namespace {

// -sum p log2 p over `count` frequencies freq(i), in index order.
template <typename Freq>
double EntropyOf(int count, Freq&& freq) {
  // TotalFreq is the same sum in 32 bits; it wraps for large sets, and a
  // wrapped total would make every p meaningless.
  std::int64_t total = 0;
  for (int i = 0; i < count; ++i) total += freq(i);
  EntropySum sum(total);
  for (int i = 0; i < count; ++i) {
    const int f = freq(i);
    sum.Add(&f, 1);
  }
  return sum.Value();
}

}  // namespace

double SetEntropy(const Codebook& set) {
  return EntropyOf(set.Booksize, [&set](int i) { return set.Book[i].Freq; });
}

double FrequencyEntropy(const int* freqs, int count) {
  std::int64_t total = 0;
  for (int i = 0; i < count; ++i) total += freqs[i];
  EntropySum sum(total);
  sum.Add(freqs, count);
  return sum.Value();
}

void PrintEntropyLine(FILE* out, double entropy) {
  std::fprintf(out, "Entropy of the set = %6.3f (bits/vector) \n", entropy);
}

void PrintEntropy(FILE* out, const Codebook& set) { PrintEntropyLine(out, SetEntropy(set)); }

void PrintView(FILE* out, const char* inputName, const Codebook& set, const ViewOptions& options) {
  if (options.QuietLevel > 0) PrintHeaderBlock(out, inputName, set);
  if (options.Entropy == 1) PrintEntropy(out, set);
  if (options.Statistics == 1) {
    if (options.Entropy == 1) std::fputc('\n', out);
    PrintSetFigures(out, ComputeSetFigures(set));
  }
  if (options.QuietLevel <= 1) return;

  const SetStatistics stats = ComputeSetStatistics(set);
  const ListingGeometry geometry = ComputeListingGeometry(set, stats);
  std::fputc('\n', out);
  PrintVectorListing(out, set, stats, geometry, options.VectorFormat, options.NoBlanks);
}

void FinishOutput(FILE* out) {
  errno = 0;
  if (std::fflush(out) == 0 && !std::ferror(out)) return;
  OutputFailed(errno != 0 ? errno : EIO);
}
