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

#endif  // VQPEEK_VQPEEK_TEXT_BUFFER_H_
