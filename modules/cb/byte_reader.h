// A file read in large blocks and parsed from memory.
//
// The set files hold millions of small fields; a library call per byte costs
// several times the parsing itself. ByteReader keeps a window of the file in
// memory, hands out contiguous runs of bytes, and knows how many bytes the
// file still holds, so that a reader can refuse a header that promises more
// than the file contains before allocating anything for it. It reads an
// InputFile, so the content of standard input, a pipe or a compressed file
// comes as a plain file's would. A read error is fatal: "ERROR: unable to
// read from file: %s\n" with the system's reason (and its error number,
// through SystemErrorMessage); so is a damaged compressed stream, and a
// file that the memory cannot hold where it must be read whole ("ERROR:
// Not enough memory to read the file.\n").
#ifndef VQPEEK_MODULES_CB_BYTE_READER_H_
#define VQPEEK_MODULES_CB_BYTE_READER_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "vqpeek/file.h"

namespace cb_internal {

// Parses an integer from the bytes [begin, end) as the "%i" conversion reads
// it, without skipping white space: an optional sign, then decimal digits,
// octal digits after a leading 0, or hexadecimal digits after a leading 0x
// (which opens a hexadecimal number only when a hexadecimal digit follows).
// Values beyond the int range are clamped. Returns the end of the number,
// or `begin` when no number starts there. The one integer-field parser of
// every text head the library reads.
const unsigned char* ParseInteger(const unsigned char* begin, const unsigned char* end, int* value);

class ByteReader {
 public:
  // Reads `input` from its current position in blocks of `blockSize` bytes;
  // the buffer grows beyond that only to hold one run asked for by Ensure.
  // `input` must outlive the reader.
  explicit ByteReader(InputFile& input, std::size_t blockSize = kBlockSize);
  // As above, for a stream read as it is from where it stands.
  explicit ByteReader(FILE* file, std::size_t blockSize = kBlockSize);
  ByteReader(const ByteReader&) = delete;
  ByteReader& operator=(const ByteReader&) = delete;

  // The next byte, or EOF.
  int Get() {
    if (position_ == end_ && !Refill(1)) return EOF;
    return buffer_.get()[position_++];
  }
  // The next byte without consuming it, or EOF.
  int Peek() {
    if (position_ == end_ && !Refill(1)) return EOF;
    return buffer_.get()[position_];
  }

  // Makes at least `count` bytes available at Data() unless the file ends
  // first; returns how many are available (possibly more than `count`).
  std::size_t Ensure(std::size_t count) {
    if (end_ - position_ < count) Refill(count);
    return end_ - position_;
  }
  const unsigned char* Data() const { return buffer_.get() + position_; }
  void Advance(std::size_t count) { position_ += count; }

  // The bytes from the current position to the end of the file.
  std::uint64_t Remaining();
  // As Remaining, without reading on: -1 for a stream that cannot tell
  // its size.
  std::int64_t KnownRemaining() const {
    if (unread_ < 0 && !endOfFile_) return -1;
    return static_cast<std::int64_t>(end_ - position_) + (unread_ > 0 ? unread_ : 0);
  }

  // The bytes consumed since the reader was made: where the stream would
  // stand had it been read byte by byte.
  std::uint64_t Consumed() const { return read_ - (end_ - position_); }

  // Whether everything from `consumed` (as Consumed() counts) to the end of
  // the file is in memory: the whole file has been read into the buffer
  // (Remaining() reads a stream that cannot tell its size so), and nothing
  // from there on has been dropped since.
  bool Holds(std::uint64_t consumed) const {
    return endOfFile_ && consumed >= read_ - end_ && consumed <= read_;
  }
  // Goes back (or on) to `consumed`, which the reader Holds.
  void MoveTo(std::uint64_t consumed) {
    position_ = static_cast<std::size_t>(consumed - (read_ - end_));
  }

  // Skips white space (blanks, tabs, line ends, vertical tabs, form feeds).
  void SkipWhitespace();

  // Reads an integer as the "%i" conversion does: white space is skipped, then
  // an optional sign and decimal digits, octal digits after a leading 0, or
  // hexadecimal digits after a leading 0x. Values beyond the int range are
  // clamped. Returns false when no number starts here.
  bool ReadInteger(int* value);

  enum class LineResult { kRead, kEndOfFile, kStartsWithNul };

  static constexpr std::size_t kBlockSize = 1 << 20;

  // Reads one line into `text` (`size` bytes): its first size - 1 characters,
  // without the line end; the rest of a longer line is consumed and dropped.
  // A NUL byte ends the text, as it ends any C string.
  LineResult ReadLine(char* text, std::size_t size);

 private:
  // Moves the unread bytes to the front and reads until at least `count`
  // bytes are available or the file ends. Returns false when none is.
  bool Refill(std::size_t count);

  struct Free {
    void operator()(unsigned char* bytes) const noexcept { std::free(bytes); }
  };

  std::unique_ptr<InputFile> borrowed_;  // the InputFile of a stream
  InputFile* input_;
  std::size_t blockSize_;
  std::unique_ptr<unsigned char, Free> buffer_;
  std::size_t capacity_ = 0;
  std::size_t position_ = 0;
  std::size_t end_ = 0;
  bool endOfFile_ = false;
  // Bytes of the file after what has been read into the buffer; -1 while
  // unknown (a pipe; a compressed file until Remaining asks).
  std::int64_t unread_ = -1;
  std::uint64_t read_ = 0;  // bytes read from the file
};

// Reads a line of a file's head (a version or header line, a method or
// description line) into an 80-byte field. Fatal: "ERROR: empty header
// (NULL)\n" at the end of the file, "ERROR: empty header (0x00)\n" when the
// line begins with a NUL byte.
void ReadHeaderLine(ByteReader& reader, char* field);

}  // namespace cb_internal

#endif  // VQPEEK_MODULES_CB_BYTE_READER_H_
