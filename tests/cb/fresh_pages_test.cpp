// PrefaultPages makes pages present and changes nothing they hold.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
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

}  // namespace
