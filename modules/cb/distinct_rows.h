// The count of distinct rows of a set, exact, in memory that stays below
// the size of the set's file whatever its shape, gathered on several
// workers at once.
//
// A row is kept at the narrowest width that holds every one of its
// elements (unsigned 8 or 16 bits, else 32 bits), its encoding: equal rows
// have equal encodings, and rows of two widths are never equal, so each
// width counts its own rows. Each worker keeps the rows it is given in a
// share of its own, and the shares are counted together at the end. By the
// length of the encoding:
//  - up to 3 bytes: a bit per possible encoding (at most 2 MB a share);
//  - longer: first a hash set, which finds repeated rows in the cache: up
//    to 8 bytes the encoding itself (8 bytes a slot, 4 up to 4 bytes),
//    beyond that a slot of 8 bytes (32 bits of the row's hash and the row's
//    number) and one copy of the encoding. The hash sets are split into
//    shards that each grow alone, at three quarters full, so that growing
//    never holds two whole sets at once.
//  - Once a share's hash set passes its bytes (many distinct rows, which a
//    hash set would keep at twice their size and find with a cache miss
//    each), its encodings are moved to a plain array, and every later row
//    is appended there; at the end each array is sorted (a radix sort in
//    place) and the arrays are walked together. The array takes the
//    encoding's bytes a row: never more than the rows take in the file.
#ifndef VQPEEK_MODULES_CB_DISTINCT_ROWS_H_
#define VQPEEK_MODULES_CB_DISTINCT_ROWS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace cb_internal {

class DistinctRows {
 public:
  // The bytes of a share's hash set before its rows go to an array.
  static constexpr std::size_t kTableBytes = std::size_t{8} << 20;

  // `dim` >= 1, `workers` >= 1.
  explicit DistinctRows(int dim, int workers = 1, std::size_t tableBytes = kTableBytes);
  ~DistinctRows();
  DistinctRows(const DistinctRows&) = delete;
  DistinctRows& operator=(const DistinctRows&) = delete;

  // Adds `row` (dim elements) to the share of `worker` (0 .. workers-1).
  // Different workers may add at the same time, each on one thread.
  // Throws std::bad_alloc.
  void Add(const int* row, int worker = 0);

  // The number of distinct rows among all that the workers added. No
  // worker may add meanwhile; rows may be added afterwards, and counted
  // again. The arrays of several workers are sorted on several threads.
  // Throws std::bad_alloc.
  std::int64_t Count();

  // Sorts `count` records of `size` bytes at `records` in the order of
  // their bytes (as memcmp orders them), in place.
  static void SortRecords(std::uint8_t* records, std::size_t count, std::size_t size);

 private:
  struct Share;
  int dim_;
  int workers_;
  std::size_t tableBytes_;
  // Per width of the elements (1, 2 and 4 bytes), a share per worker.
  std::array<std::vector<std::unique_ptr<Share>>, 3> shares_;
};

}  // namespace cb_internal

#endif  // VQPEEK_MODULES_CB_DISTINCT_ROWS_H_
