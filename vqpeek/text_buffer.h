// Formatted text built in a large buffer and written in few calls.
//
// The listings print millions of small fields; one printf per field costs
// far more than the formatting itself. TextBuffer produces exactly the bytes
// of the printf conversions it names ("%*d", "%*u", "%-*s", "%s") and hands
// them to the stream in blocks. A TextBuffer without a stream keeps its text
// in memory instead, so that several threads can format parts of one
// listing side by side and the parts be written in order.
#ifndef VQPEEK_VQPEEK_TEXT_BUFFER_H_
#define VQPEEK_VQPEEK_TEXT_BUFFER_H_

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

// Writes `size` bytes to `stream`. Returns 0, or the system's error number
// when they could not all be written (EIO when the system gives none).
int WriteOutput(FILE* stream, const char* data, std::size_t size);

// Reports a failed write of the output with the system's reason `error`.
// Fatal: "ERROR: Cannot write the output: %s\n" on standard error, exit -1.
[[noreturn]] void OutputFailed(int error);

// A buffer with a stream writes it there whenever it is full and when it
// goes; a failed write is fatal at once, as OutputFailed.
class TextBuffer {
 public:
  explicit TextBuffer(FILE* stream);
  // Keeps the text in memory, with room for `capacity` characters to begin
  // with; it grows when more comes.
  explicit TextBuffer(std::size_t capacity);
  ~TextBuffer();  // writes what is left to the stream
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

  // Writes the buffered text to the stream; keeps it without a stream.
  void Flush();

  // The text kept without a stream, and its removal.
  std::string_view Text() const { return std::string_view(buffer_.get(), used_); }
  void Clear() { used_ = 0; }

  // Writes "%*d" of `value` at `out` and returns the end of the field.
  static char* PutInt(char* out, int value, int width);

  // Room for `count` more characters at Tail(), then Commit() them.
  char* Tail(std::size_t count) {
    Reserve(count);
    return buffer_.get() + used_;
  }
  void Commit(std::size_t count) { used_ += count; }

 private:
  static constexpr std::size_t kStreamCapacity = 1 << 20;
  // Makes room for `count` more characters (with a stream: count <=
  // kStreamCapacity).
  void Reserve(std::size_t count) {
    if (used_ + count > capacity_) MakeRoom(count);
  }
  void MakeRoom(std::size_t count);

  FILE* stream_;
  std::size_t capacity_;
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

  // Writes the field of `value` at `out` and returns its end. It may write
  // up to MaxWrite() bytes from `out` on, past the end it returns.
  char* Put(char* out, int value) const {
    if (value >= 0 && value < kCached && cached_) {
      std::memcpy(out, fields_.get() + value * kStride, kStride);
      return out + length_[value];
    }
    out = TextBuffer::PutInt(out, value, width_);
    if (blankAfter_) *out++ = ' ';
    return out;
  }
  // The most Put writes: a cached field, or the widest "%*d" and a blank.
  std::size_t MaxWrite() const {
    return std::max<std::size_t>(kStride, static_cast<std::size_t>(std::max(width_, 11)) + 1);
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
