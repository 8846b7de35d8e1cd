// Formatted text built in a large buffer and written in few calls.
//
// The listings print millions of small fields; one printf per field costs
// far more than the formatting itself. TextBuffer produces exactly the bytes
// of the printf conversions it names ("%*d", "%*u", "%-*s", "%s") and hands
// them to the stream in blocks.
#ifndef VQPEEK_VQPEEK_TEXT_BUFFER_H_
#define VQPEEK_VQPEEK_TEXT_BUFFER_H_

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

class TextBuffer {
 public:
  explicit TextBuffer(FILE* stream);
  ~TextBuffer();  // writes what is left
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  void Append(char c) {
    Reserve(1);
    buffer_[used_++] = c;
  }
  void Append(std::string_view text);
  // `count` blanks; nothing when count <= 0.
  void AppendBlanks(long long count);
  // "%*d": right-aligned in at least `width` characters.
  void AppendInt(int value, int width);
  // "%*u" of the value converted to unsigned.
  void AppendUnsigned(unsigned value, int width);
  // "%-*u".
  void AppendUnsignedLeft(unsigned value, int width);
  // "%-*s": left-aligned, blanks after it up to `width`.
  void AppendLeft(std::string_view text, int width);

  // Writes the buffered text to the stream.
  void Flush();

  // Room for `count` more characters at Tail(), then Commit() them.
  char* Tail(std::size_t count) {
    Reserve(count);
    return buffer_.get() + used_;
  }
  void Commit(std::size_t count) { used_ += count; }

 private:
  static constexpr std::size_t kCapacity = 1 << 20;
  // Makes room for `count` more characters (count <= kCapacity).
  void Reserve(std::size_t count) {
    if (used_ + count > kCapacity) Flush();
  }
  // Digits of `value`, written backwards ending at `end`; returns the start.
  static char* FormatDigits(unsigned value, char* end);

  FILE* stream_;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
};

// The text of "%*d" for one width, optionally with a blank after it, made
// once for the small values: a listing of millions of elements then costs a
// fixed-size copy per element. Other values are formatted as they come.
class IntFields {
 public:
  IntFields(int width, bool blankAfter);

  void Append(TextBuffer& text, int value) const {
    if (value >= 0 && value < kCached && cached_) {
      char* tail = text.Tail(kStride);
      std::memcpy(tail, fields_.get() + value * kStride, kStride);
      text.Commit(length_[value]);
      return;
    }
    text.AppendInt(value, width_);
    if (blankAfter_) text.Append(' ');
  }

 private:
  static constexpr int kCached = 1024;
  static constexpr int kStride = 16;  // the largest field kept, blank included

  int width_;
  bool blankAfter_;
  bool cached_;
  std::unique_ptr<char[]> fields_;
  std::unique_ptr<unsigned char[]> length_;
};

#endif  // VQPEEK_VQPEEK_TEXT_BUFFER_H_
