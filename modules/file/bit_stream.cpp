// A bit stream over a standard I/O stream.
//
// Bits are shifted through unsigned arithmetic: a value's sign bit, a bit
// past position 31 or the -1 stored at end of file must never turn into a
// signed overflow.

// A bit other than 0 or 1 would be shifted into its neighbours and corrupt
// every later byte, so the check stays on in optimised builds too.
#undef NDEBUG
#include <cassert>
#include <cstdint>
#include <cstdio>

#include "vqpeek/file.h"
#include "vqpeek/interfc.h"

namespace {

// Appends one bit that is known to be 0 or 1.
void AppendBit(BitStream* stream, std::uint32_t bit) {
  const std::uint32_t buffer = (static_cast<std::uint32_t>(stream->Buffer) << 1) | bit;
  if (++stream->BitCount == 8) {
    std::fputc(static_cast<int>(buffer & 0xFFu), stream->File);
    stream->BitCount = 0;
    stream->Buffer = 0;
  } else {
    stream->Buffer = static_cast<int>(buffer);
  }
}

}  // namespace

void InitializeBitStream(BitStream* stream, FILE* file) {
  stream->File = file;
  stream->BitCount = 0;
  stream->Buffer = 0;
}

void OutputBit(BitStream* stream, unsigned bit) {
  assert(bit == 0 || bit == 1);
  AppendBit(stream, bit);
}

void OutputValue(BitStream* stream, int value, int n) {
  // The value is shifted arithmetically, so the bits above position 31 of
  // a negative value are 1 and those of a positive value 0, as the value's
  // own sign extension would give them.
  for (int i = 0; i < n; ++i) {
    AppendBit(stream, static_cast<std::uint32_t>(value) & 1u);
    value >>= 1;
  }
}

void FlushOutput(BitStream* stream) {
  if (stream->BitCount == 0) return;
  const std::uint32_t buffer = static_cast<std::uint32_t>(stream->Buffer) << (8 - stream->BitCount);
  std::fputc(static_cast<int>(buffer & 0xFFu), stream->File);
  stream->BitCount = 0;
  stream->Buffer = 0;
}

int InputBit(BitStream* stream) {
  if (stream->BitCount == 0) {
    const int byte = std::fgetc(stream->File);
    if (byte == EOF) {
      // BitCount stays 0, so the next call tries the stream again.
      stream->Buffer = -1;
      ErrorMessage("Unexpected EOF in input file.");
      return -1;
    }
    stream->Buffer = byte;
    stream->BitCount = 8;
  }
  const std::uint32_t buffer = static_cast<std::uint32_t>(stream->Buffer);
  stream->Buffer = static_cast<int>(buffer << 1);
  --stream->BitCount;
  return static_cast<int>((buffer >> 7) & 1u);
}

int InputValue(BitStream* stream, int n) {
  // Bits past position 31 are read from the stream but fall outside the
  // result: the mask has shifted out by then.
  std::uint32_t value = 0;
  std::uint32_t mask = 1;
  for (int i = 0; i < n; ++i) {
    // -1 at end of file counts as a set bit.
    if (InputBit(stream) != 0) value |= mask;
    mask <<= 1;
  }
  return static_cast<int>(value);
}

void FlushInput(BitStream* stream) { stream->BitCount = 0; }
