// The two vector listing layouts of a single set.
//
// Both run over every element of the set, so they format into a TextBuffer
// instead of calling printf per field; the bytes are those of the printf
// conversions named in the comments.
#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "text_buffer.h"
#include "viewer.h"

namespace {

constexpr std::int64_t kScreenWidth = 80;

// The records of a set held in memory. A listing asks Load(first, count)
// for records first .. first+count-1, in order, before it reads them; a
// name is empty for a node without one (an empty name and no name are
// printed alike).
struct NodeRecords {
  const Codebook& set;
  int Group() const { return 1 << 30; }
  void Load(int, int) {}
  const int* Elements(int i) const { return set.Book[i].Vector.get(); }
  int Freq(int i) const { return set.Book[i].Freq; }
  std::string_view Name(int i) const {
    const char* name = set.Book[i].Name.get();
    return name != nullptr ? std::string_view(name) : std::string_view();
  }
};

// The records of a set read in batches: each group the listing asks for is
// copied from the batches into a small stage of its own, so that a group
// may straddle two batches. A group holds at most `maxRows` records and
// `bytes` bytes of their elements (but at least one record).
class StreamedRecords {
 public:
  // Records staged at a time for the line layout: enough that staging
  // costs little beside the formatting of their lines.
  static constexpr int kLineGroup = 1024;
  StreamedRecords(SetReader& reader, int maxRows, std::size_t bytes)
      : reader_(reader),
        dim_(static_cast<std::size_t>(reader.Dimension())),
        stage_(reader.Header().Booksize, reader.Dimension(), maxRows, bytes),
        freqs_(static_cast<std::size_t>(stage_.Capacity())),
        names_(static_cast<std::size_t>(stage_.Capacity())) {}

  int Group() const { return stage_.Capacity(); }

  void Load(int first, int count) {
    first_ = first;
    for (int k = 0; k < count; ++k) {
      if (position_ == batch_.Count) {
        reader_.Next(&batch_);  // the first pass counted the records
        position_ = 0;
      }
      const std::size_t slot = static_cast<std::size_t>(k);
      std::copy_n(batch_.Elements + static_cast<std::size_t>(position_) * dim_, dim_,
                  stage_.Rows() + slot * dim_);
      freqs_[slot] = batch_.Freqs[position_];
      const char* name = batch_.Names != nullptr ? batch_.Names[position_] : nullptr;
      names_[slot].assign(name != nullptr ? name : "");
      ++position_;
    }
  }
  const int* Elements(int i) { return stage_.Rows() + static_cast<std::size_t>(i - first_) * dim_; }
  int Freq(int i) const { return freqs_[static_cast<std::size_t>(i - first_)]; }
  std::string_view Name(int i) const { return names_[static_cast<std::size_t>(i - first_)]; }

 private:
  SetReader& reader_;
  std::size_t dim_;
  RowBatches stage_;
  std::vector<int> freqs_;
  std::vector<std::string> names_;
  SetBatch batch_;
  int position_ = 0;
  int first_ = 0;
};

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

namespace {

// One vector per line, from the records of `source`.
template <typename Source>
void FormatLines(FILE* out, const Codebook& set, Source& source, const SetStatistics& stats,
                 int noBlanks) {
  const int elementWidth = DecimalWidth(stats.MaxElement);
  const int freqWidth = DecimalWidth(stats.MaxFreq);
  const int nameWidth = stats.MaxNameLength;
  const std::int64_t dim = std::int64_t{set.BlockSizeX} * set.BlockSizeY;

  const IntFields elementFields(elementWidth, noBlanks != 1);  // "%*d" and its blank
  TextBuffer text(out);
  for (int i = 0; i < set.Booksize; ++i) {
    if (i % source.Group() == 0) source.Load(i, std::min(set.Booksize - i, source.Group()));
    if (nameWidth > 0) {
      // "%-*s  ", or as many blanks for no name.
      text.AppendLeft(source.Name(i), nameWidth);
      text.AppendBlanks(2);
    }
    const int* elements = source.Elements(i);
    for (std::int64_t e = 0; e < dim; ++e) elementFields.Append(text, elements[e]);
    text.Append(" (");
    text.AppendInt(source.Freq(i), freqWidth);  // " (%*d)\n"
    text.Append(")\n");
  }
}

// Blocks side by side, from the records of `source`.
template <typename Source>
void FormatMatrix(FILE* out, const Codebook& set, Source& source, const SetStatistics& stats,
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
    source.Load(static_cast<int>(start), static_cast<int>(end - start));

    // "%*u/%-*u": the index right-aligned, the frequency left-aligned.
    for (std::int64_t v = start; v < end; ++v) {
      text.AppendUnsigned(static_cast<unsigned>(v), indexWidth);
      text.Append('/');
      text.AppendUnsignedLeft(static_cast<unsigned>(source.Freq(static_cast<int>(v))), freqWidth);
      if (v - start != lastColumn) text.AppendBlanks(labelFill);
    }
    text.Append('\n');

    if (stats.MaxNameLength > 0) {
      for (std::int64_t v = start; v < end; ++v) {
        const std::string_view name = source.Name(static_cast<int>(v));
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
        const int* row = source.Elements(static_cast<int>(v)) + std::int64_t{r} * blockX;
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

}  // namespace

void LineLayout(FILE* out, const Codebook& set, const SetStatistics& stats, int noBlanks) {
  NodeRecords source{set};
  FormatLines(out, set, source, stats, noBlanks);
}

void MatrixLayout(FILE* out, const Codebook& set, const SetStatistics& stats,
                  const ListingGeometry& geometry) {
  NodeRecords source{set};
  FormatMatrix(out, set, source, stats, geometry);
}

void PrintVectorListing(FILE* out, const Codebook& set, const SetStatistics& stats,
                        const ListingGeometry& geometry, int vectorFormat, int noBlanks) {
  if (vectorFormat == 1 || (vectorFormat == 0 && set.BlockSizeY > 1)) {
    MatrixLayout(out, set, stats, geometry);
  } else {
    LineLayout(out, set, stats, noBlanks);
  }
}

void PrintStreamedListing(FILE* out, const Codebook& set, SetReader& reader,
                          const SetStatistics& stats, const ListingGeometry& geometry,
                          int vectorFormat, int noBlanks) {
  if (vectorFormat == 1 || (vectorFormat == 0 && set.BlockSizeY > 1)) {
    // Every vector of a line of blocks is formatted row by row, so the
    // stage holds them all, whatever their size.
    StreamedRecords source(reader, std::max(1, geometry.VectorsPerLine), SIZE_MAX);
    FormatMatrix(out, set, source, stats, geometry);
  } else {
    StreamedRecords source(reader, StreamedRecords::kLineGroup, kCopiedBatchBytes);
    FormatLines(out, set, source, stats, noBlanks);
  }
}
