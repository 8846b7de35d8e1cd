// Formatted text built in a large buffer.
#include "text_buffer.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <utility>

#include "vqpeek/interfc.h"

namespace {

// Room for the decimal text of any 32-bit value, sign included.
constexpr std::size_t kMaxText = 11;

// The decimal text of `value` in `digits`; returns its length.
template <typename Integer>
std::size_t Decimal(Integer value, char (&digits)[kMaxText]) {
  return static_cast<std::size_t>(std::to_chars(digits, digits + kMaxText, value).ptr - digits);
}

}  // namespace

int WriteOutput(FILE* stream, const char* data, std::size_t size) {
  if (size == 0) return 0;
  errno = 0;
  if (std::fwrite(data, 1, size, stream) == size) return 0;
  return errno != 0 ? errno : EIO;
}

void OutputFailed(int error) {
  FatalError("ERROR: Cannot write the output: %s\n", std::strerror(error));
}

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
  const std::size_t used = std::exchange(used_, 0);
  if (const int error = WriteOutput(stream_, buffer_.get(), used); error != 0) OutputFailed(error);
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

void TextBuffer::AppendInt(int value, int width) {
  char digits[kMaxText];
  const std::size_t length = Decimal(value, digits);
  AppendBlanks(width - static_cast<long long>(length));
  Append(std::string_view(digits, length));
}

char* TextBuffer::PutInt(char* out, int value, int width) {
  char digits[kMaxText];
  const std::size_t length = Decimal(value, digits);
  for (std::size_t blank = length; static_cast<long long>(blank) < width; ++blank) *out++ = ' ';
  std::memcpy(out, digits, length);
  return out + length;
}

void TextBuffer::AppendUnsigned(unsigned value, int width) {
  char digits[kMaxText];
  const std::size_t length = Decimal(value, digits);
  AppendBlanks(width - static_cast<long long>(length));
  Append(std::string_view(digits, length));
}

void TextBuffer::AppendUnsignedLeft(unsigned value, int width) {
  char digits[kMaxText];
  const std::size_t length = Decimal(value, digits);
  Append(std::string_view(digits, length));
  AppendBlanks(width - static_cast<long long>(length));
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
