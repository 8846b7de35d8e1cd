#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

#include "test_support.h"
#include "vqpeek/cb.h"

namespace {

TEST(BatchRows, BoundedByBytesButNeverBelowOneRowNorAboveTheSet) {
  // 4 MB of int rows of 16 elements, of 2-byte rows of 1 element.
  EXPECT_EQ(BatchRows(100000000, 16), 65536);
  EXPECT_EQ(BatchRows(100000000, 1, 2, INT32_MAX, 1000), 500);
  // A row beyond the bytes is still handed out whole, one at a time.
  EXPECT_EQ(BatchRows(3, 1 << 20, 4, INT32_MAX, 1024), 1);
  EXPECT_EQ(BatchRows(10, std::int64_t{1} << 40), 1);
  // Never more rows than the set or the caller allows; one for no rows.
  EXPECT_EQ(BatchRows(7, 1), 7);
  EXPECT_EQ(BatchRows(100000, 1, 4, 1024), 1024);
  EXPECT_EQ(BatchRows(0, 4), 1);
  EXPECT_EQ(BatchRows(std::int64_t{1} << 40, 1, 1, INT64_MAX, SIZE_MAX), INT32_MAX);
}

TEST(RowBatches, VisitsEveryRowOnceInOrder) {
  for (const std::int64_t rows : {0, 1, 9, 10, 11, 1000}) {
    SCOPED_TRACE(rows);
    RowBatches batches(rows, 3, INT32_MAX, 10 * 3 * sizeof(int));
    EXPECT_EQ(batches.Capacity(), rows == 0 ? 1 : std::min<std::int64_t>(rows, 10));
    std::vector<std::pair<std::int64_t, int>> seen;
    batches.ForEach([&](std::int64_t first, int count, int* buffer) {
      EXPECT_EQ(buffer, batches.Rows());
      // The whole buffer is the caller's to write.
      for (int e = 0; e < count * 3; ++e) buffer[e] = e;
      seen.emplace_back(first, count);
    });
    std::int64_t next = 0;
    for (const auto& [first, count] : seen) {
      EXPECT_EQ(first, next);
      EXPECT_GE(count, 1);
      EXPECT_LE(count, batches.Capacity());
      next += count;
    }
    EXPECT_EQ(next, rows);
  }
}

}  // namespace
