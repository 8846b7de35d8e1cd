// PrefaultPages makes pages present and changes nothing they hold.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "cb_internal.h"

namespace {

TEST(PrefaultPages, KeepsWhatTheMemoryHolds) {
  constexpr std::size_t kBytes = (std::size_t{3} << 20) + 123;
  auto block = std::make_unique<unsigned char[]>(kBytes);
  for (std::size_t i = 0; i < kBytes; i += 97) block[i] = static_cast<unsigned char>(i % 251 + 1);
  const std::vector<unsigned char> before(block.get(), block.get() + kBytes);
  // Ranges that begin and end inside pages, a range inside one page, none.
  cb_internal::PrefaultPages(block.get() + 5, kBytes - 9);
  cb_internal::PrefaultPages(block.get() + 10, 100);
  cb_internal::PrefaultPages(block.get(), 0);
  EXPECT_TRUE(std::equal(before.begin(), before.end(), block.get()));
}

TEST(PrefaultPages, AsksForTheWholePagesOfThePageSize) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  constexpr std::size_t kBig = 64 * 1024;
  auto block = std::make_unique<unsigned char[]>(8 * kBig);
  unsigned char* const aligned =
      block.get() + (kBig - reinterpret_cast<std::uintptr_t>(block.get()) % kBig);
  const std::size_t asked = cb_internal::PrefaultPages(aligned + 1, 4 * kBig);
  if (asked == 0) GTEST_SKIP() << "no such call on this system";
  EXPECT_EQ(asked, 4 * kBig - page);
  // Pages of 16 and 64 KB: only the whole ones inside the range.
  EXPECT_EQ(cb_internal::PrefaultPages(aligned + 1, 4 * kBig, 16 * 1024), 4 * kBig - 16 * 1024);
  EXPECT_EQ(cb_internal::PrefaultPages(aligned + 1, 4 * kBig, kBig), 3 * kBig);
  EXPECT_EQ(cb_internal::PrefaultPages(aligned + 1, kBig, kBig), 0u);
}

}  // namespace
