// The raw bytes of an input and the decoders that decompress them: what
// InputFile reads through, and what tests check with damaged streams.
#ifndef VQPEEK_MODULES_FILE_DECOMPRESSION_H_
#define VQPEEK_MODULES_FILE_DECOMPRESSION_H_

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "vqpeek/file.h"

namespace file_internal {

// The bytes of a file as they lie in it, read in large blocks: from a file
// descriptor (owned), or from a borrowed stream. A read error is fatal:
// "ERROR: unable to read from file: %s\n" with the system's reason.
class RawInput {
 public:
  RawInput(int fd, FILE* stream);
  ~RawInput();
  RawInput(const RawInput&) = delete;
  RawInput& operator=(const RawInput&) = delete;

  int fd() const { return fd_; }

  // The buffered bytes not yet consumed.
  const unsigned char* Data() const { return buffer_.get() + begin_; }
  std::size_t Available() const { return end_ - begin_; }
  void Consume(std::size_t count) { begin_ += count; }
  // Reads more once the buffer is used up; false at the end of the file.
  bool Fill();
  // Makes at least `count` bytes available unless the file ends first;
  // returns how many are. A read error gives 0 with `*error` set (errno)
  // instead of ending the run.
  std::size_t EnsureQuietly(std::size_t count, int* error);
  // Reads up to `size` bytes, the buffered ones first; fewer only at the end
  // of the file.
  std::size_t Read(unsigned char* data, std::size_t size);
  // Forgets what is buffered (the file has been positioned anew).
  void Clear() { begin_ = end_ = 0; }

 private:
  // One read of the system into `data`: the bytes read, 0 at the end, -1
  // with errno set on an error.
  long ReadOnce(unsigned char* data, std::size_t size);

  static constexpr std::size_t kBufferBytes = std::size_t{1} << 17;

  int fd_;
  FILE* stream_;
  std::unique_ptr<unsigned char[]> buffer_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
};

// The compression that the first bytes of a file show: gzip's 1F 8B, a
// zstd frame (28 B5 2F FD) or a zstd skippable frame (5? 2A 4D 18).
Compression CompressionOf(const unsigned char* bytes, std::size_t count);

// The name of a compression in messages ("gzip", "zstd") and of the library
// that reads it ("zlib", "libzstd").
const char* CompressionName(Compression compression);
const char* CompressionLibrary(Compression compression);

// Decompresses the content of `raw`, which stands at the first byte of the
// compressed data.
class Decoder {
 public:
  virtual ~Decoder() = default;
  // Up to `size` bytes of the content into `out`; fewer only at its end.
  // Fatal: "ERROR: The compressed file %s is damaged: %s.\n", "ERROR: Not
  // enough memory to decompress %s.\n".
  virtual std::size_t Decode(unsigned char* out, std::size_t size) = 0;
  // Starts over: `raw` stands at the first byte of the compressed data again.
  virtual void Restart() = 0;
};

// A decoder of `compression` reading `raw` (which must outlive it); null
// when this build lacks the library for it. `name` is the file's, for
// messages.
std::unique_ptr<Decoder> MakeDecoder(Compression compression, RawInput& raw,
                                     const std::string& name);

}  // namespace file_internal

#endif  // VQPEEK_MODULES_FILE_DECOMPRESSION_H_
