// The bit-stream reader on any bytes, with value widths taken from the
// input; what it reads is written again and must give the same bits.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz_support.h"
#include "vqpeek/file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  vqfuzz::Setup();
  vqfuzz::Splitter input(data, size);
  const std::string widths = input.Part(64);
  const std::string path = vqfuzz::WriteScratch("bits", input.Rest());
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return 0;
  BitStream in;
  InitializeBitStream(&in, file);
  std::vector<std::pair<int, int>> values;  // (value, width) read before the end
  int ends = 0;
  for (std::size_t k = 0; ends < 3 && k < 4096; ++k) {
    const int width = widths.empty() ? 8 : static_cast<signed char>(widths[k % widths.size()]) % 40;
    if (width == 39) {
      FlushInput(&in);
      continue;
    }
    const long before = std::ftell(file);
    const int value = InputValue(&in, width);
    if (std::feof(file)) {
      ++ends;
    } else if (width > 0 && width <= 32 && before >= 0) {
      values.emplace_back(value, width);
    }
  }
  std::fclose(file);

  // The same widths written and read back give the same values.
  FILE* out = std::tmpfile();
  if (out == nullptr) return 0;
  BitStream writer;
  InitializeBitStream(&writer, out);
  for (const auto& [value, width] : values) OutputValue(&writer, value, width);
  FlushOutput(&writer);
  std::rewind(out);
  BitStream reader;
  InitializeBitStream(&reader, out);
  for (const auto& [value, width] : values) {
    const unsigned mask = width == 32 ? 0xFFFFFFFFu : (1u << width) - 1;
    if ((static_cast<unsigned>(InputValue(&reader, width)) & mask) !=
        (static_cast<unsigned>(value) & mask)) {
      std::abort();
    }
  }
  std::fclose(out);
  return 0;
}
