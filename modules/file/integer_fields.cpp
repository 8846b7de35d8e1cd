// Integer fields of 1 to 4 bytes.
//
// Values are assembled in unsigned arithmetic so that a 4-byte field with
// its top bit set becomes the two's-complement value without an overflow.
#include <cstdint>
#include <cstdio>

#include "vqpeek/file.h"
#include "vqpeek/interfc.h"

int ReadIntegerFromFile(FILE* stream, int* value, int n) {
  std::uint32_t result = 0;
  int count = 0;
  for (int i = 0; i < n; ++i) {
    result <<= 8;
    const int byte = std::getc(stream);
    if (byte == EOF) {
      ErrorMessage("ERROR: unable to read from file.");
      break;
    }
    result += static_cast<std::uint32_t>(byte);
    ++count;
  }
  *value = static_cast<int>(result);
  return count;
}

int ReadLittleEndianIntegerFromFile(FILE* stream, int* value, int n) {
  std::uint32_t result = 0;
  int count = 0;
  for (int i = 0; i < n; ++i) {
    const int byte = std::getc(stream);
    if (byte == EOF) {
      ErrorMessage("ERROR: unable to read from file.");
      break;
    }
    // Bytes past the fourth fall outside the 32-bit result.
    if (i < 4) result |= static_cast<std::uint32_t>(byte) << (8 * i);
    ++count;
  }
  *value = static_cast<int>(result);
  return count;
}

int WriteIntegerToFile(FILE* stream, int value, int n) {
  if (n >= 1 && n <= 3 && (value >> (8 * n)) > 0) {
    ErrorMessage("ERROR: Vector element value is too big (%d). Increase bytes/elem ratio.", value);
    return 0;
  }
  int count = 0;
  for (int i = n - 1; i >= 0; --i) {
    // An arithmetic shift by 32 or more is undefined; such positions of a
    // field wider than 4 bytes hold the sign.
    const int shifted = i < 4 ? value >> (8 * i) : (value < 0 ? -1 : 0);
    if (std::putc(shifted & 0xFF, stream) == EOF) {
      ErrorMessage("ERROR: unable to write to file.");
      break;
    }
    ++count;
  }
  return count;
}
