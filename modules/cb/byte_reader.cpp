// A file read in large blocks and parsed from memory.
#include "byte_reader.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#include "cb_internal.h"
#include "vqpeek/cb.h"

namespace cb_internal {

namespace {

bool IsWhitespace(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int DigitValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 99;
}

}  // namespace

ByteReader::ByteReader(InputFile& input, std::size_t blockSize)
    : input_(&input), blockSize_(blockSize > 0 ? blockSize : 1), unread_(input.KnownRemaining()) {}

ByteReader::ByteReader(FILE* file, std::size_t blockSize)
    : borrowed_(InputFile::Borrow(file)),
      input_(borrowed_.get()),
      blockSize_(blockSize > 0 ? blockSize : 1),
      unread_(borrowed_->KnownRemaining()) {}

bool ByteReader::Refill(std::size_t count) {
  // After the end of the file nothing more comes; what is in memory stays
  // where it is, so that a reader may go back in it (Holds).
  if (endOfFile_) return end_ > position_;
  const std::size_t available = end_ - position_;
  // The unread bytes go to the front first, so that a larger buffer keeps
  // them where they are.
  if (position_ > 0) {
    if (available > 0) std::memmove(buffer_.get(), buffer_.get() + position_, available);
    position_ = 0;
    end_ = available;
  }
  if (capacity_ < count || buffer_ == nullptr) {
    // Grow to hold `count` bytes; only bytes the file holds are asked for.
    std::size_t wanted = count > blockSize_ ? count : blockSize_;
    if (unread_ >= 0 && static_cast<std::uint64_t>(unread_) + available < wanted) {
      wanted = static_cast<std::size_t>(unread_) + available;
      if (wanted == 0) wanted = 1;
    }
    if (wanted > capacity_) {
      // realloc: a large buffer grows in place or by moving its pages, not
      // by copying them (a pipe is read whole by doubling it).
      void* larger = std::realloc(buffer_.get(), wanted);
      if (larger == nullptr) FatalError("ERROR: Not enough memory to read the file.\n");
      static_cast<void>(buffer_.release());
      buffer_.reset(static_cast<unsigned char*>(larger));
      capacity_ = wanted;
    }
  }
  while (!endOfFile_ && end_ < capacity_ && end_ - position_ < count) {
    // A read error (a directory, a failing disk) is no end of the file: the
    // input reports it and ends the run.
    const std::size_t got = input_->Read(buffer_.get() + end_, capacity_ - end_);
    if (got == 0) {
      endOfFile_ = true;
      break;
    }
    end_ += got;
    read_ += got;
    if (unread_ >= 0) unread_ = unread_ > static_cast<std::int64_t>(got) ? unread_ - got : 0;
  }
  return end_ > position_;
}

std::uint64_t ByteReader::Remaining() {
  // A compressed file tells its size once it has been counted.
  if (unread_ < 0 && !endOfFile_) unread_ = input_->Remaining();
  if (unread_ < 0 || endOfFile_) {
    // A stream that cannot tell its size is read to its end.
    while (!endOfFile_) Refill(capacity_ == 0 ? blockSize_ : capacity_ * 2);
    return end_ - position_;
  }
  return (end_ - position_) + static_cast<std::uint64_t>(unread_);
}

void ByteReader::SkipWhitespace() {
  while (IsWhitespace(Peek())) ++position_;
}

const unsigned char* ParseInteger(const unsigned char* begin, const unsigned char* end,
                                  int* value) {
  const unsigned char* p = begin;
  bool negative = false;
  if (p < end && (*p == '+' || *p == '-')) negative = *p++ == '-';
  int base = 10;
  bool digits = false;
  if (p < end && *p == '0') {
    ++p;
    digits = true;
    base = 8;
    if (p + 1 < end && (*p == 'x' || *p == 'X') && DigitValue(p[1]) < 16) {
      ++p;
      base = 16;
    }
  }
  constexpr std::uint64_t kLimit = std::uint64_t{1} << 32;
  std::uint64_t magnitude = 0;
  for (int d; p < end && (d = DigitValue(*p)) < base; ++p) {
    digits = true;
    magnitude = magnitude * base + static_cast<std::uint64_t>(d);
    if (magnitude > kLimit) magnitude = kLimit;
  }
  if (!digits) return begin;
  if (negative) {
    *value =
        magnitude >= 2147483648u ? std::numeric_limits<int>::min() : -static_cast<int>(magnitude);
  } else {
    *value =
        magnitude >= 2147483647u ? std::numeric_limits<int>::max() : static_cast<int>(magnitude);
  }
  return p;
}

bool ByteReader::ReadInteger(int* value) {
  SkipWhitespace();
  for (std::size_t wanted = 64;; wanted *= 2) {
    const std::size_t available = Ensure(wanted);
    const unsigned char* start = Data();
    const unsigned char* stop = ParseInteger(start, start + available, value);
    // A number, or the "0x" before one, that reaches the end of what is in
    // memory may go on in the file.
    if (available >= wanted && stop + 2 > start + available) continue;
    Advance(static_cast<std::size_t>(stop - start));
    return stop != start;
  }
}

ByteReader::LineResult ByteReader::ReadLine(char* text, std::size_t size) {
  text[0] = '\0';
  int c = Get();
  if (c == EOF) return LineResult::kEndOfFile;
  const LineResult result = c == '\0' ? LineResult::kStartsWithNul : LineResult::kRead;
  std::size_t length = 0;
  bool stored = true;  // until a NUL byte ends the text
  for (; c != EOF && c != '\n'; c = Get()) {
    if (c == '\0') stored = false;
    if (stored && length + 1 < size) text[length++] = static_cast<char>(c);
  }
  text[length] = '\0';
  return result;
}

void ReadHeaderLine(ByteReader& reader, char* field) {
  switch (reader.ReadLine(field, kTextFieldSize)) {
    case ByteReader::LineResult::kEndOfFile:
      FatalError("ERROR: empty header (NULL)\n");
    case ByteReader::LineResult::kStartsWithNul:
      FatalError("ERROR: empty header (0x00)\n");
    case ByteReader::LineResult::kRead:
      break;
  }
}

}  // namespace cb_internal
