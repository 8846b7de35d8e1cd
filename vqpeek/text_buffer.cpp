// Formatted text built in a large buffer.
#include "text_buffer.h"

#include <algorithm>
#include <cstring>

namespace {

// Two-digit pairs "00".."99": halves the divisions of the digit loop.
constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

constexpr int kMaxDigits = 10;  // of an unsigned 32-bit value

}  // namespace

TextBuffer::TextBuffer(FILE* stream)
    : stream_(stream),
      capacity_(kStreamCapacity),
      buffer_(std::make_unique_for_overwrite<char[]>(kStreamCapacity)) {}

TextBuffer::TextBuffer(std::size_t capacity)
    : stream_(nullptr),
      capacity_(std::max<std::size_t>(capacity, 1)),
      buffer_(std::make_unique_for_overwrite<char[]>(capacity_)) {}

TextBuffer::~TextBuffer() { Flush(); }

void TextBuffer::Flush() {
  if (stream_ == nullptr) return;
  if (used_ > 0) std::fwrite(buffer_.get(), 1, used_, stream_);
  used_ = 0;
}

void TextBuffer::MakeRoom(std::size_t count) {
  if (stream_ != nullptr) {
    Flush();
    return;
  }
  const std::size_t capacity = std::max(capacity_ * 2, used_ + count);
  std::unique_ptr<char[]> larger = std::make_unique_for_overwrite<char[]>(capacity);
  std::memcpy(larger.get(), buffer_.get(), used_);
  buffer_ = std::move(larger);
  capacity_ = capacity;
}

void TextBuffer::Append(std::string_view text) {
  while (!text.empty()) {
    Reserve(std::min(text.size(), kStreamCapacity));
    const std::size_t part = std::min(text.size(), capacity_ - used_);
    std::memcpy(buffer_.get() + used_, text.data(), part);
    used_ += part;
    text.remove_prefix(part);
  }
}

void TextBuffer::AppendBlanks(long long count) {
  while (count > 0) {
    Reserve(static_cast<std::size_t>(std::min<long long>(count, kStreamCapacity)));
    const std::size_t part = static_cast<std::size_t>(
        std::min<long long>(count, static_cast<long long>(capacity_ - used_)));
    std::memset(buffer_.get() + used_, ' ', part);
    used_ += part;
    count -= static_cast<long long>(part);
  }
}

char* TextBuffer::FormatDigits(unsigned value, char* end) {
  char* p = end;
  while (value >= 100) {
    const unsigned pair = (value % 100) * 2;
    value /= 100;
    *--p = kDigitPairs[pair + 1];
    *--p = kDigitPairs[pair];
  }
  if (value >= 10) {
    *--p = kDigitPairs[value * 2 + 1];
    *--p = kDigitPairs[value * 2];
  } else {
    *--p = static_cast<char>('0' + value);
  }
  return p;
}

void TextBuffer::AppendInt(int value, int width) {
  char digits[kMaxDigits + 1];
  char* end = digits + sizeof digits;
  // The magnitude in unsigned arithmetic: -INT_MIN does not fit an int.
  const unsigned magnitude =
      value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  char* start = FormatDigits(magnitude, end);
  if (value < 0) *--start = '-';
  const long long length = end - start;
  AppendBlanks(width - length);
  Append(std::string_view(start, static_cast<std::size_t>(length)));
}

char* TextBuffer::PutInt(char* out, int value, int width) {
  char digits[kMaxDigits + 1];
  char* end = digits + sizeof digits;
  const unsigned magnitude =
      value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
  char* start = FormatDigits(magnitude, end);
  if (value < 0) *--start = '-';
  const std::ptrdiff_t length = end - start;
  for (std::ptrdiff_t blank = length; blank < width; ++blank) *out++ = ' ';
  std::memcpy(out, start, static_cast<std::size_t>(length));
  return out + length;
}

void TextBuffer::AppendUnsigned(unsigned value, int width) {
  char digits[kMaxDigits];
  char* end = digits + sizeof digits;
  char* start = FormatDigits(value, end);
  const long long length = end - start;
  AppendBlanks(width - length);
  Append(std::string_view(start, static_cast<std::size_t>(length)));
}

void TextBuffer::AppendUnsignedLeft(unsigned value, int width) {
  char digits[kMaxDigits];
  char* end = digits + sizeof digits;
  char* start = FormatDigits(value, end);
  const long long length = end - start;
  Append(std::string_view(start, static_cast<std::size_t>(length)));
  AppendBlanks(width - length);
}

void TextBuffer::AppendLeft(std::string_view text, int width) {
  Append(text);
  AppendBlanks(static_cast<long long>(width) - static_cast<long long>(text.size()));
}

IntFields::IntFields(int width, bool blankAfter)
    : width_(width), blankAfter_(blankAfter), cached_(width < kStride - 1) {
  if (!cached_) return;
  fields_ = std::make_unique<char[]>(static_cast<std::size_t>(kCached) * kStride);
  length_ = std::make_unique<unsigned char[]>(kCached);
  for (int value = 0; value < kCached; ++value) {
    char* field = fields_.get() + value * kStride;
    int length = std::snprintf(field, kStride, "%*d", width, value);
    if (blankAfter) field[length++] = ' ';
    length_[value] = static_cast<unsigned char>(length);
  }
}
