// The listing geometry and both layouts, checked on hand-worked sets and
// against a plain printf version of the layouts on random sets.
#include <algorithm>
#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "set_builder.h"
#include "test_support.h"
#include "viewer.h"

namespace {

using vqtest::BuildSet;
using vqtest::CaptureOutput;
using vqtest::NodeSpec;

constexpr int kMatrix = 1;
constexpr int kLine = 2;

std::string Listing(const Codebook& set, int vectorFormat, int noBlanks) {
  const SetStatistics stats = ComputeSetStatistics(set);
  const ListingGeometry geometry = ComputeListingGeometry(set, stats);
  return CaptureOutput(
      [&](FILE* out) { PrintVectorListing(out, set, stats, geometry, vectorFormat, noBlanks); });
}

// Blanks shown as middle dots, so that expected lines can be read.
std::string Dotted(std::string text) {
  std::string dotted;
  for (const char c : text) dotted += c == ' ' ? std::string("\u00b7") : std::string(1, c);
  return dotted;
}

void BuildWorkedExample(Codebook* set) {
  BuildSet(set, kCodebookFile, 2, 2,
           {{{1, 2, 3, 4}, 1}, {{10, 20, 30, 40}, 2, "ab"}, {{100, 200, 3, 4}, 3, "xyz"}});
}

TEST(ComputeListingGeometry, WorkedExample) {
  Codebook set;
  BuildWorkedExample(&set);
  const ListingGeometry geometry = ComputeListingGeometry(set, ComputeSetStatistics(set));
  EXPECT_EQ(geometry.ColumnWidth, 10);
  EXPECT_EQ(geometry.VectorsPerLine, 8);
}

TEST(ComputeListingGeometry, EachTermCanSetTheWidth) {
  Codebook set;
  // Index and frequency: 1000 vectors (IW 3), a frequency of 7 digits.
  std::vector<NodeSpec> nodes(1000, NodeSpec({0}, 1));
  nodes[5].freq = 1234567;
  BuildSet(&set, kTrainingSetFile, 1, 1, nodes);
  ListingGeometry geometry = ComputeListingGeometry(set, ComputeSetStatistics(set));
  EXPECT_EQ(geometry.ColumnWidth, 1 + 3 + 7 + 2);
  EXPECT_EQ(geometry.VectorsPerLine, 6);

  // A name of 15 characters beats two elements of two digits.
  Codebook named;
  BuildSet(&named, kTrainingSetFile, 2, 2, {{{10, 20, 30, 40}, 1, "fifteen-letters"}});
  geometry = ComputeListingGeometry(named, ComputeSetStatistics(named));
  EXPECT_EQ(geometry.ColumnWidth, 17);
  EXPECT_EQ(geometry.VectorsPerLine, 4);
}

TEST(ComputeListingGeometry, WideBlocksGiveOneVectorPerLine) {
  Codebook set;
  BuildSet(&set, kTrainingSetFile, 16, 1, {{std::vector<int>(16, 1234567), 1}}, 4);
  const ListingGeometry geometry = ComputeListingGeometry(set, ComputeSetStatistics(set));
  EXPECT_EQ(geometry.ColumnWidth, 16 * 8 + 2);
  EXPECT_EQ(geometry.VectorsPerLine, 1);
}

TEST(ComputeListingGeometry, HostileBlockSizeIsHeldAtIntMax) {
  // Only the header matters for the width; an empty set has no vectors to
  // allocate.
  Codebook set;
  BuildSet(&set, kTrainingSetFile, 1, 1, {});
  set.BlockSizeX = INT_MAX;
  SetStatistics stats;
  stats.MaxElement = INT_MAX;
  const ListingGeometry geometry = ComputeListingGeometry(set, stats);
  EXPECT_EQ(geometry.ColumnWidth, INT_MAX);
  EXPECT_EQ(geometry.VectorsPerLine, 1);
  EXPECT_EQ(CaptureOutput([&](FILE* out) { MatrixLayout(out, set, stats, geometry); }), "");
}

TEST(PrintVectorListing, WorkedExampleInEveryLayout) {
  Codebook set;
  BuildWorkedExample(&set);
  EXPECT_EQ(Dotted(Listing(set, 0, 0)), Dotted("0/1       1/2       2/3       \n"
                                               "          ab        xyz       \n"
                                               "  1   2 ;  10  20 ; 100 200 \n"
                                               "  3   4 ;  30  40 ;   3   4 \n"
                                               "\n"));
  // Option B does not touch the matrix layout.
  EXPECT_EQ(Listing(set, kMatrix, 1), Listing(set, 0, 0));
  EXPECT_EQ(Dotted(Listing(set, kLine, 0)), Dotted("       1   2   3   4  (1)\n"
                                                   "ab    10  20  30  40  (2)\n"
                                                   "xyz  100 200   3   4  (3)\n"));
  EXPECT_EQ(Dotted(Listing(set, kLine, 1)), Dotted("       1  2  3  4 (1)\n"
                                                   "ab    10 20 30 40 (2)\n"
                                                   "xyz  100200  3  4 (3)\n"));
}

TEST(PrintVectorListing, AdaptiveFormatFollowsTheBlockHeight) {
  Codebook row;
  BuildSet(&row, kTrainingSetFile, 3, 1, {{{1, 2, 3}, 1}, {{4, 5, 6}, 2}});
  EXPECT_EQ(Listing(row, 0, 0), "1 2 3  (1)\n4 5 6  (2)\n");
  // Forced matrix: one element row per block.
  EXPECT_EQ(Listing(row, kMatrix, 0), "0/1     1/2     \n1 2 3 ; 4 5 6 \n\n");
}

TEST(PrintVectorListing, SingleVectorAndEmptySet) {
  Codebook one;
  BuildSet(&one, kTrainingSetFile, 2, 2, {{{5, 6, 7, 8}, 4}});
  EXPECT_EQ(Listing(one, 0, 0), "0/4   \n5 6 \n7 8 \n\n");
  Codebook none;
  BuildSet(&none, kTrainingSetFile, 2, 2, {});
  EXPECT_EQ(Listing(none, 0, 0), "");
  EXPECT_EQ(Listing(none, kLine, 0), "");
}

TEST(PrintVectorListing, NegativeElementsWidenTheirField) {
  Codebook set;
  BuildSet(&set, kTrainingSetFile, 2, 1, {{{-100, 5}, 1}, {{3, 4}, 1}}, 4);
  EXPECT_EQ(Listing(set, kLine, 0), "-100 5  (1)\n3 4  (1)\n");
}

TEST(PrintVectorListing, EmptyNameCountsAsNoName) {
  Codebook set;
  BuildSet(&set, kTrainingSetFile, 1, 1, {{{1}, 1, "abc"}, {{2}, 1}});
  // BuildSet leaves an empty name null; give node 1 a name of no characters.
  set.Book[1].Name = std::make_unique<char[]>(1);
  EXPECT_EQ(Listing(set, kLine, 0), "abc  1  (1)\n     2  (1)\n");
}

// ---------------------------------------------------------------------------
// The layouts written plainly with printf, rule by rule; the fast listing
// must produce the same bytes.

int ReferenceWidth(int x) {
  return x == 0 ? 1 : static_cast<int>(std::snprintf(nullptr, 0, "%d", x));
}

void ReferenceLine(FILE* out, const Codebook& set, int noBlanks) {
  int maxElement = 0, maxFreq = 0, maxName = 0;
  const int dim = set.BlockSizeX * set.BlockSizeY;
  for (int i = 0; i < set.Booksize; ++i) {
    maxFreq = std::max(maxFreq, set.Book[i].Freq);
    if (set.Book[i].Name)
      maxName = std::max(maxName, static_cast<int>(strlen(set.Book[i].Name.get())));
    for (int e = 0; e < dim; ++e) maxElement = std::max(maxElement, set.Book[i].Vector[e]);
  }
  const int ew = ReferenceWidth(maxElement), fw = ReferenceWidth(maxFreq);
  for (int i = 0; i < set.Booksize; ++i) {
    const CodebookNode& node = set.Book[i];
    if (maxName > 0) {
      if (node.Name && node.Name[0] != '\0') {
        std::fprintf(out, "%-*s  ", maxName, node.Name.get());
      } else {
        std::fprintf(out, "%*s", maxName + 2, "");
      }
    }
    for (int e = 0; e < dim; ++e) {
      std::fprintf(out, "%*d", ew, node.Vector[e]);
      if (noBlanks != 1) std::fprintf(out, " ");
    }
    std::fprintf(out, " (%*d)\n", fw, node.Freq);
  }
}

void ReferenceMatrix(FILE* out, const Codebook& set) {
  int maxElement = 0, maxFreq = 0, maxName = 0;
  const int bx = set.BlockSizeX, by = set.BlockSizeY, n = set.Booksize;
  for (int i = 0; i < n; ++i) {
    maxFreq = std::max(maxFreq, set.Book[i].Freq);
    if (set.Book[i].Name)
      maxName = std::max(maxName, static_cast<int>(strlen(set.Book[i].Name.get())));
    for (int e = 0; e < bx * by; ++e) maxElement = std::max(maxElement, set.Book[i].Vector[e]);
  }
  const int ew = ReferenceWidth(maxElement), fw = ReferenceWidth(maxFreq);
  const int iw = ReferenceWidth(n - 1);
  const int cw = 1 + std::max({bx * (ew + 1) + 1, iw + fw + 2, maxName + 1});
  const int vpl = std::max(1, 80 / cw);
  auto blanks = [out](int count) {
    for (int k = 0; k < count; ++k) std::fprintf(out, " ");
  };
  for (int s = 0; s < n; s += vpl) {
    for (int j = 0; j < vpl && s + j < n; ++j) {
      std::fprintf(out, "%*u/%-*u", iw, static_cast<unsigned>(s + j), fw,
                   static_cast<unsigned>(set.Book[s + j].Freq));
      if (j != vpl - 1) blanks(cw - iw - fw - 1);
    }
    std::fprintf(out, "\n");
    if (maxName > 0) {
      for (int j = 0; j < vpl && s + j < n; ++j) {
        const char* name = set.Book[s + j].Name.get();
        if (name && name[0] != '\0') {
          std::fprintf(out, "%s", name);
          if (j != vpl - 1) blanks(cw - static_cast<int>(strlen(name)));
        } else if (j != vpl - 1) {
          blanks(cw);
        }
      }
      std::fprintf(out, "\n");
    }
    for (int r = 0; r < by; ++r) {
      for (int j = 0; j < vpl && s + j < n; ++j) {
        const int v = s + j;
        for (int c = 0; c < bx; ++c) {
          std::fprintf(out, "%*i", ew, set.Book[v].Vector[r * bx + c]);
          if (!(c == bx - 1 && j == vpl - 1)) std::fprintf(out, " ");
        }
        blanks(cw - bx * (ew + 1) - 2);
        if (j != vpl - 1 && v < n - 1) std::fprintf(out, "; ");
      }
      std::fprintf(out, "\n");
    }
    std::fprintf(out, "\n");
  }
}

std::string ReferenceListing(const Codebook& set, int vectorFormat, int noBlanks) {
  const bool matrix = vectorFormat == 1 || (vectorFormat == 0 && set.BlockSizeY > 1);
  return CaptureOutput([&](FILE* out) {
    if (matrix) {
      ReferenceMatrix(out, set);
    } else {
      ReferenceLine(out, set, noBlanks);
    }
  });
}

// A value of one of several magnitudes, so that every field width occurs.
int RandomValue(std::mt19937& random, bool allowNegative) {
  static const int kLimits[] = {9, 99, 255, 99999, 9999999, INT_MAX};
  std::uniform_int_distribution<int> pick(0, 5);
  const int limit = kLimits[pick(random)];
  std::uniform_int_distribution<int> value(allowNegative ? -limit - (limit == INT_MAX) : 0, limit);
  return value(random);
}

TEST(PrintVectorListing, MatchesThePlainReferenceOnRandomSets) {
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> blockSize(1, 6), booksize(0, 40), nameLength(0, 30),
      coin(0, 3), format(0, 2);
  for (int round = 0; round < 300; ++round) {
    const int bx = blockSize(random), by = blockSize(random) > 3 ? 1 : blockSize(random);
    const bool negative = coin(random) == 0, named = coin(random) != 0;
    std::vector<NodeSpec> nodes;
    const int count = coin(random) == 0 ? booksize(random) * 5 : booksize(random);
    for (int i = 0; i < count; ++i) {
      std::vector<int> elements(static_cast<std::size_t>(bx * by));
      for (int& e : elements) e = RandomValue(random, negative);
      std::string name;
      if (named && coin(random) != 0)
        name.assign(static_cast<std::size_t>(nameLength(random)), 'a' + i % 26);
      nodes.push_back({elements, RandomValue(random, coin(random) == 0), name});
    }
    Codebook set;
    BuildSet(&set, kTrainingSetFile, bx, by, nodes, 4);
    const int f = format(random), b = coin(random) % 2;
    ASSERT_EQ(Listing(set, f, b), ReferenceListing(set, f, b))
        << "round " << round << ": " << bx << "x" << by << ", " << count << " vectors, F" << f
        << ", B" << b;
  }
}

}  // namespace

namespace {

// The streamed listing of a file, read through small buffers and batches,
// prints what the listing of the record in memory prints.
TEST(PrintStreamedListing, PrintsTheListingOfTheSetInMemory) {
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  vqtest::TempDir dir;
  const std::string path = dir.Path("set.cb");
  for (int round = 0; round < 12; ++round) {
    const int bx = static_cast<int>(random() % 4) + 1;
    const int by = static_cast<int>(random() % 3) + 1;
    std::vector<NodeSpec> nodes;
    for (int i = static_cast<int>(random() % 90); i > 0; --i) {
      std::vector<int> elements(static_cast<std::size_t>(bx * by));
      for (int& e : elements) e = static_cast<int>(random() % 300);
      nodes.emplace_back(elements, static_cast<int>(random() % 50),
                         round % 2 == 0 && random() % 4 == 0 ? "name" : "");
    }
    vqtest::WriteSet(path, kCodebookFile, bx, by, nodes, 2);
    Codebook set;
    ReadCodebook(path.c_str(), &set);
    for (const int format : {0, kMatrix, kLine}) {
      SetReader reader(path.c_str(), 17, 5);
      SetStatistics stats;
      SetBatch batch;
      while (reader.Next(&batch)) AddToStatistics(batch, reader.Dimension(), &stats);
      const ListingGeometry geometry = ComputeListingGeometry(reader.Header(), stats);
      reader.Rewind();
      EXPECT_EQ(CaptureOutput([&](FILE* out) {
                  PrintStreamedListing(out, reader.Header(), reader, stats, geometry, format,
                                       round % 3 == 0);
                }),
                Listing(set, format, round % 3 == 0))
          << round << " " << format;
    }
  }
}

}  // namespace
