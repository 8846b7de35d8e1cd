// Rows handed out in batches bounded by bytes. Part of <vqpeek/cb.h>.
//
// Every loop that takes a set's rows a part at a time sizes its parts here,
// so that no buffer is sized by a count of rows whatever their length: a
// batch holds as many rows as fit in a number of bytes (rows x dimension x
// bytes per element), at least one row, so that a row of any dimension is
// handed out whole, and never more rows than the set holds. SetReader sizes
// its batches so; RowBatches walks the rows of a set held elsewhere with a
// buffer of one batch of int rows.
#ifndef VQPEEK_CB_ROW_BATCHES_H_
#define VQPEEK_CB_ROW_BATCHES_H_

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "vqpeek/export.h"

// The bytes of one batch's elements: enough that what a batch costs beside
// its rows (a call, a read, a hand-over between threads) is lost in the work
// on the rows, few enough to stay in the processor's outer cache.
inline constexpr std::size_t kBatchBytes = std::size_t{4} << 20;

// The bytes of a batch of rows that are copied or widened from where they
// lie and used at once: few enough that the copies are still in the
// processor's second-level cache when they are used.
inline constexpr std::size_t kCopiedBatchBytes = std::size_t{256} << 10;

// The rows of one batch of a set of `rows` rows of `dim` elements of
// `width` bytes each: as many as `bytes` holds, but at least 1 and at most
// `maxRows` and `rows` (1 for a set without rows).
VQPEEK_EXPORT int BatchRows(std::int64_t rows, std::int64_t dim, std::size_t width = sizeof(int),
                            std::int64_t maxRows = INT_MAX, std::size_t bytes = kBatchBytes);

// The rows 0 .. rows-1 of a set in consecutive batches of BatchRows(rows,
// dim, sizeof(int), maxRows, bytes) rows, with a buffer of one batch of
// int rows that the caller fills (a set held at another width widens its
// rows into it) or leaves alone (rows that lie ready elsewhere).
class VQPEEK_EXPORT RowBatches {
 public:
  // `dim` >= 1. Fatal: "ERROR: Not enough memory for new vector
  // element.\n".
  RowBatches(std::int64_t rows, int dim, std::int64_t maxRows = INT_MAX,
             std::size_t bytes = kBatchBytes);
  ~RowBatches();
  RowBatches(const RowBatches&) = delete;
  RowBatches& operator=(const RowBatches&) = delete;

  // The most rows a batch holds.
  int Capacity() const { return capacity_; }
  // Room for Capacity() rows of `dim` elements, one after another.
  int* Rows() { return buffer_.get(); }

  // Calls visit(first, count, Rows()) for every batch, rows first ..
  // first+count-1, in order.
  template <typename Visit>
  void ForEach(Visit&& visit) {
    for (std::int64_t first = 0; first < rows_; first += capacity_) {
      visit(first, static_cast<int>(std::min<std::int64_t>(capacity_, rows_ - first)),
            buffer_.get());
    }
  }

 private:
  std::int64_t rows_;
  int capacity_;
  std::unique_ptr<int[]> buffer_;
};

#endif  // VQPEEK_CB_ROW_BATCHES_H_
