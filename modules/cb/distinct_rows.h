// The count of distinct rows of a set, exact, in memory that stays below
// the size of the set's file whatever its shape.
//
// A row is kept at the narrowest width that holds every one of its
// elements (unsigned 8 or 16 bits, else 32 bits), its encoding: equal rows
// have equal encodings, and rows of two widths are never equal, so each
// width counts its own rows. By the length of the encoding:
//  - up to 3 bytes: a bit per possible encoding (at most 2 MB);
//  - up to 8 bytes: the encoding itself in a hash set (8 bytes a slot, 4 up
//    to 4 bytes);
//  - longer: a slot of 8 bytes (32 bits of the row's hash and the row's
//    number) in a hash set, and one copy of the encoding.
// The hash sets are split into shards that each grow alone, at three
// quarters full, so that growing never holds two whole tables at once.
#ifndef VQPEEK_MODULES_CB_DISTINCT_ROWS_H_
#define VQPEEK_MODULES_CB_DISTINCT_ROWS_H_

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace cb_internal {

class DistinctRows {
 public:
  explicit DistinctRows(int dim);  // dim >= 1
  ~DistinctRows();
  DistinctRows(const DistinctRows&) = delete;
  DistinctRows& operator=(const DistinctRows&) = delete;

  // Counts `row` (dim elements) unless an equal row was added before.
  // Throws std::bad_alloc.
  void Add(const int* row);

  std::int64_t Count() const { return count_; }

 private:
  struct Width;
  int dim_;
  std::int64_t count_ = 0;
  std::array<std::unique_ptr<Width>, 3> widths_;  // 1, 2 and 4 bytes an element
};

}  // namespace cb_internal

#endif  // VQPEEK_MODULES_CB_DISTINCT_ROWS_H_
