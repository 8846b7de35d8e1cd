// The size of a batch of rows, and the walk over a set's rows in batches.
#include "vqpeek/cb/row_batches.h"

#include <new>

#include "vqpeek/interfc.h"

int BatchRows(std::int64_t rows, std::int64_t dim, std::size_t width, std::int64_t maxRows,
              std::size_t bytes) {
  const std::uint64_t rowBytes =
      static_cast<std::uint64_t>(std::max<std::int64_t>(dim, 1)) * std::max<std::size_t>(width, 1);
  const std::uint64_t fit = bytes / rowBytes;
  const std::int64_t most = std::min({maxRows, rows, std::int64_t{INT_MAX}});
  return static_cast<int>(std::clamp<std::uint64_t>(
      fit, 1, static_cast<std::uint64_t>(std::max<std::int64_t>(most, 1))));
}

RowBatches::RowBatches(std::int64_t rows, int dim, std::int64_t maxRows, std::size_t bytes)
    : rows_(rows), capacity_(BatchRows(rows, dim, sizeof(int), maxRows, bytes)) {
  try {
    buffer_ = std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(capacity_) *
                                                    static_cast<std::size_t>(dim));
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for new vector element.\n");
  }
}

RowBatches::~RowBatches() = default;
