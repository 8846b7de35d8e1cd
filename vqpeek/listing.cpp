// The two vector listing layouts of a single set.
//
// Both run over every element of the set, so they format into a TextBuffer
// instead of calling printf per field; the bytes are those of the printf
// conversions named in the comments.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "text_buffer.h"
#include "viewer.h"

namespace {

constexpr std::int64_t kScreenWidth = 80;

// The name of a node, empty for a node without one: an empty name and no
// name are printed alike.
std::string_view NodeName(const CodebookNode& node) {
  return node.Name != nullptr ? std::string_view(node.Name.get()) : std::string_view();
}

}  // namespace

ListingGeometry ComputeListingGeometry(const Codebook& set, const SetStatistics& stats) {
  const std::int64_t elementWidth = DecimalWidth(stats.MaxElement);
  const std::int64_t rowWidth = std::int64_t{set.BlockSizeX} * (elementWidth + 1) + 1;
  const std::int64_t labelWidth =
      std::int64_t{DecimalWidth(set.Booksize - 1)} + DecimalWidth(stats.MaxFreq) + 2;
  const std::int64_t nameWidth = std::int64_t{stats.MaxNameLength} + 1;
  const std::int64_t width = 1 + std::max({rowWidth, labelWidth, nameWidth});

  ListingGeometry geometry;
  geometry.ColumnWidth = static_cast<int>(std::min<std::int64_t>(width, INT_MAX));
  geometry.VectorsPerLine =
      static_cast<int>(std::max<std::int64_t>(1, kScreenWidth / geometry.ColumnWidth));
  return geometry;
}

void LineLayout(FILE* out, const Codebook& set, const SetStatistics& stats, int noBlanks) {
  const int elementWidth = DecimalWidth(stats.MaxElement);
  const int freqWidth = DecimalWidth(stats.MaxFreq);
  const int nameWidth = stats.MaxNameLength;
  const std::int64_t dim = std::int64_t{set.BlockSizeX} * set.BlockSizeY;

  const IntFields elementFields(elementWidth, noBlanks != 1);  // "%*d" and its blank
  TextBuffer text(out);
  for (int i = 0; i < set.Booksize; ++i) {
    const CodebookNode& node = set.Book[i];
    if (nameWidth > 0) {
      // "%-*s  ", or as many blanks for no name.
      text.AppendLeft(NodeName(node), nameWidth);
      text.AppendBlanks(2);
    }
    const int* elements = node.Vector.get();
    for (std::int64_t e = 0; e < dim; ++e) elementFields.Append(text, elements[e]);
    text.Append(" (");
    text.AppendInt(node.Freq, freqWidth);  // " (%*d)\n"
    text.Append(")\n");
  }
}

void MatrixLayout(FILE* out, const Codebook& set, const SetStatistics& stats,
                  const ListingGeometry& geometry) {
  const int elementWidth = DecimalWidth(stats.MaxElement);
  const int freqWidth = DecimalWidth(stats.MaxFreq);
  const int indexWidth = DecimalWidth(set.Booksize - 1);
  const std::int64_t columnWidth = geometry.ColumnWidth;
  const std::int64_t perLine = std::max(1, geometry.VectorsPerLine);
  const std::int64_t lastColumn = perLine - 1;
  const std::int64_t count = set.Booksize;
  const int blockX = set.BlockSizeX;
  const int blockY = set.BlockSizeY;
  // What a column needs beyond its index, slash and frequency, and beyond
  // its elements and separator; both are negative when a wider part sets
  // the column width, and then nothing is added.
  const std::int64_t labelFill = columnWidth - indexWidth - freqWidth - 1;
  const std::int64_t rowFill = columnWidth - std::int64_t{blockX} * (elementWidth + 1) - 2;

  const IntFields elementFields(elementWidth, true);  // "%*i" and its blank
  TextBuffer text(out);
  for (std::int64_t start = 0; start < count; start += perLine) {
    const std::int64_t end = std::min(count, start + perLine);

    // "%*u/%-*u": the index right-aligned, the frequency left-aligned.
    for (std::int64_t v = start; v < end; ++v) {
      text.AppendUnsigned(static_cast<unsigned>(v), indexWidth);
      text.Append('/');
      text.AppendUnsignedLeft(static_cast<unsigned>(set.Book[v].Freq), freqWidth);
      if (v - start != lastColumn) text.AppendBlanks(labelFill);
    }
    text.Append('\n');

    if (stats.MaxNameLength > 0) {
      for (std::int64_t v = start; v < end; ++v) {
        const std::string_view name = NodeName(set.Book[v]);
        text.Append(name);
        if (v - start != lastColumn) {
          text.AppendBlanks(columnWidth - static_cast<std::int64_t>(name.size()));
        }
      }
      text.Append('\n');
    }

    for (int r = 0; r < blockY; ++r) {
      for (std::int64_t v = start; v < end; ++v) {
        const bool last = v - start == lastColumn;
        const int* row = set.Book[v].Vector.get() + std::int64_t{r} * blockX;
        // Every element is followed by a blank but the last of the last column.
        const int blanked = last && blockX > 0 ? blockX - 1 : blockX;
        for (int c = 0; c < blanked; ++c) elementFields.Append(text, row[c]);
        if (blanked < blockX) text.AppendInt(row[blanked], elementWidth);
        text.AppendBlanks(rowFill);
        if (!last && v + 1 < count) text.Append("; ");
      }
      text.Append('\n');
    }
    text.Append('\n');
  }
}

void PrintVectorListing(FILE* out, const Codebook& set, const SetStatistics& stats,
                        const ListingGeometry& geometry, int vectorFormat, int noBlanks) {
  if (vectorFormat == 1 || (vectorFormat == 0 && set.BlockSizeY > 1)) {
    MatrixLayout(out, set, stats, geometry);
  } else {
    LineLayout(out, set, stats, noBlanks);
  }
}
