#include "distinct_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "vqpeek/threads.h"

namespace {

using cb_internal::DistinctRows;

// Rows shared among `workers` workers that add them at once, with hash
// sets small enough that some shares move to arrays and others do not:
// the count is a plain set's, and adding more after counting counts them
// too.
TEST(DistinctRows, SharesOfSeveralWorkersCountedTogether) {
  const unsigned seed = std::random_device()();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  for (const int dim : {1, 2, 3, 5, 16}) {
    for (const int workers : {1, 2, 3}) {
      for (const std::size_t tableBytes :
           {std::size_t{1}, std::size_t{4096}, std::size_t{1} << 30}) {
        SCOPED_TRACE(std::to_string(dim) + " " + std::to_string(workers) + " " +
                     std::to_string(tableBytes));
        // Values of every width, with few of them so that rows repeat
        // within and across the workers.
        const int count = 3000;
        std::vector<int> rows(static_cast<std::size_t>(count * dim));
        const int pools[][3] = {{0, 1, 255}, {256, 65535, 7}, {-1, 65536, 2147483647}};
        for (int i = 0; i < count; ++i) {
          const int* pool = pools[random() % 3];
          for (int e = 0; e < dim; ++e) rows[i * dim + e] = pool[random() % 3];
        }
        DistinctRows distinct(dim, workers, tableBytes);
        std::set<std::vector<int>> expected;
        auto addRange = [&](int from, int to) {
          RunInParallel(workers, workers, [&](int worker, int) {
            for (int i = from + worker; i < to; i += workers) distinct.Add(&rows[i * dim], worker);
          });
          for (int i = from; i < to; ++i) {
            expected.emplace(rows.begin() + i * dim, rows.begin() + (i + 1) * dim);
          }
        };
        addRange(0, count / 2);
        EXPECT_EQ(distinct.Count(), static_cast<std::int64_t>(expected.size()));
        addRange(count / 2, count);
        EXPECT_EQ(distinct.Count(), static_cast<std::int64_t>(expected.size()));
      }
    }
  }
}

// The radix sort against std::sort, on records of every length with long
// runs of equal bytes and many equal records.
TEST(DistinctRows, SortRecordsOrdersAsMemcmp) {
  std::mt19937 random(11);
  for (const std::size_t size : {1, 3, 8, 16, 37}) {
    for (const std::size_t count : {0, 1, 31, 33, 5000}) {
      std::vector<std::uint8_t> records(size * count);
      for (std::size_t i = 0; i < records.size(); ++i) {
        records[i] = i % size < size / 2 ? 7 : static_cast<std::uint8_t>(random() % 5);
      }
      std::vector<std::string> expected;
      for (std::size_t i = 0; i < count; ++i) {
        expected.emplace_back(reinterpret_cast<const char*>(records.data() + i * size), size);
      }
      std::sort(expected.begin(), expected.end());
      DistinctRows::SortRecords(records.data(), count, size);
      std::vector<std::string> sorted;
      for (std::size_t i = 0; i < count; ++i) {
        sorted.emplace_back(reinterpret_cast<const char*>(records.data() + i * size), size);
      }
      EXPECT_EQ(sorted, expected) << size << " " << count;
    }
  }
}

}  // namespace
