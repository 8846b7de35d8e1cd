// The raw bytes of an input, and the gzip and zstd decoders that decompress
// them as they are read. A build without zlib or libzstd has no decoder for
// that compression; InputFile then refuses such files by name.
#include "decompression.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>

#include "vqpeek/interfc.h"

#if VQPEEK_HAVE_ZLIB
#include <zlib.h>
#endif
#if VQPEEK_HAVE_ZSTD
#include <zstd.h>
#include <zstd_errors.h>
#endif

namespace file_internal {

namespace {

[[noreturn]] void ReadFailed(int error) {
  SystemErrorMessage(error, "ERROR: unable to read from file: %s\n", std::strerror(error));
  ExitProcessing(-1);
}

#if VQPEEK_HAVE_ZLIB || VQPEEK_HAVE_ZSTD
[[noreturn]] void Damaged(const std::string& name, const char* reason) {
  FatalError("ERROR: The compressed file %s is damaged: %s.\n", name.c_str(), reason);
}

[[noreturn]] void OutOfMemory(const std::string& name) {
  FatalError("ERROR: Not enough memory to decompress %s.\n", name.c_str());
}

constexpr const char* kCutShort = "it ends inside its compressed data";
#endif

}  // namespace

RawInput::RawInput(int fd, FILE* stream)
    : fd_(fd),
      stream_(stream),
      buffer_(std::make_unique_for_overwrite<unsigned char[]>(kBufferBytes)) {}

RawInput::~RawInput() {
  if (fd_ >= 0) close(fd_);
}

long RawInput::ReadOnce(unsigned char* data, std::size_t size) {
  if (stream_ != nullptr) {
    const std::size_t got = std::fread(data, 1, size, stream_);
    if (got == 0 && std::ferror(stream_) != 0) return -1;
    return static_cast<long>(got);
  }
  // A pipe hands out what it has; a read interrupted by a signal is tried
  // again.
  const std::size_t chunk = std::min<std::size_t>(size, std::size_t{1} << 30);
  for (;;) {
    const ssize_t got = read(fd_, data, chunk);
    if (got >= 0 || errno != EINTR) return static_cast<long>(got);
  }
}

bool RawInput::Fill() {
  if (begin_ < end_) return true;
  const long got = ReadOnce(buffer_.get(), kBufferBytes);
  if (got < 0) ReadFailed(errno);
  begin_ = 0;
  end_ = static_cast<std::size_t>(got);
  return got > 0;
}

std::size_t RawInput::EnsureQuietly(std::size_t count, int* error) {
  count = std::min(count, kBufferBytes);
  if (end_ - begin_ < count && begin_ > 0) {
    std::memmove(buffer_.get(), buffer_.get() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  while (end_ - begin_ < count) {
    const long got = ReadOnce(buffer_.get() + end_, kBufferBytes - end_);
    if (got < 0) {
      *error = errno;
      return 0;
    }
    if (got == 0) break;
    end_ += static_cast<std::size_t>(got);
  }
  return end_ - begin_;
}

std::size_t RawInput::Read(unsigned char* data, std::size_t size) {
  std::size_t done = std::min(size, Available());
  std::memcpy(data, Data(), done);
  Consume(done);
  while (done < size) {
    const long got = ReadOnce(data + done, size - done);
    if (got < 0) ReadFailed(errno);
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

Compression CompressionOf(const unsigned char* bytes, std::size_t count) {
  if (count >= 2 && bytes[0] == 0x1F && bytes[1] == 0x8B) return Compression::kGzip;
  if (count >= 4 && bytes[1] == 0x2A && bytes[2] == 0x4D && bytes[3] == 0x18 &&
      (bytes[0] & 0xF0) == 0x50) {
    return Compression::kZstd;
  }
  if (count >= 4 && bytes[0] == 0x28 && bytes[1] == 0xB5 && bytes[2] == 0x2F && bytes[3] == 0xFD) {
    return Compression::kZstd;
  }
  return Compression::kNone;
}

const char* CompressionName(Compression compression) {
  switch (compression) {
    case Compression::kGzip:
      return "gzip";
    case Compression::kZstd:
      return "zstd";
    case Compression::kNone:
      break;
  }
  return "none";
}

const char* CompressionLibrary(Compression compression) {
  switch (compression) {
    case Compression::kGzip:
      return "zlib";
    case Compression::kZstd:
      return "libzstd";
    case Compression::kNone:
      break;
  }
  return "";
}

namespace {

#if VQPEEK_HAVE_ZLIB
// gzip (RFC 1952): one member or several one after the other, each with its
// CRC-32 and length checked by zlib at its end.
class GzipDecoder final : public Decoder {
 public:
  GzipDecoder(RawInput& raw, const std::string& name) : raw_(raw), name_(name) {
    // 16 + the largest window: gzip members only, never a bare zlib stream.
    if (inflateInit2(&stream_, 16 + MAX_WBITS) != Z_OK) OutOfMemory(name_);
  }
  ~GzipDecoder() override { inflateEnd(&stream_); }

  std::size_t Decode(unsigned char* out, std::size_t size) override {
    // zlib counts in 32 bits.
    constexpr std::size_t kMaxStep = std::size_t{1} << 30;
    std::size_t produced = 0;
    while (produced < size) {
      if (raw_.Available() == 0 && !raw_.Fill()) {
        if (inMember_) Damaged(name_, kCutShort);
        break;
      }
      if (!inMember_) {
        // More bytes after a member: another member, or damage.
        if (raw_.Data()[0] != 0x1F)
          Damaged(name_, "data follows the end of its compressed content");
        inflateReset(&stream_);
        inMember_ = true;
      }
      const uInt in = static_cast<uInt>(std::min(raw_.Available(), kMaxStep));
      const uInt room = static_cast<uInt>(std::min(size - produced, kMaxStep));
      stream_.next_in = const_cast<Bytef*>(raw_.Data());
      stream_.avail_in = in;
      stream_.next_out = out + produced;
      stream_.avail_out = room;
      const int result = inflate(&stream_, Z_NO_FLUSH);
      raw_.Consume(in - stream_.avail_in);
      produced += room - stream_.avail_out;
      if (result == Z_STREAM_END) {
        inMember_ = false;
      } else if (result == Z_MEM_ERROR) {
        OutOfMemory(name_);
      } else if (result != Z_OK && result != Z_BUF_ERROR) {
        Damaged(name_, stream_.msg != nullptr ? stream_.msg : "invalid compressed data");
      }
    }
    return produced;
  }

  void Restart() override {
    inflateReset(&stream_);
    inMember_ = true;
  }

 private:
  RawInput& raw_;
  const std::string& name_;
  z_stream stream_{};
  bool inMember_ = true;
};
#endif

#if VQPEEK_HAVE_ZSTD
// zstd: one frame or several (skippable ones among them), each with its
// checksum checked where the frame carries one.
class ZstdDecoder final : public Decoder {
 public:
  ZstdDecoder(RawInput& raw, const std::string& name) : raw_(raw), name_(name) {
    stream_ = ZSTD_createDStream();
    if (stream_ == nullptr) OutOfMemory(name_);
    Restart();
  }
  ~ZstdDecoder() override { ZSTD_freeDStream(stream_); }

  std::size_t Decode(unsigned char* out, std::size_t size) override {
    ZSTD_outBuffer output{out, size, 0};
    while (output.pos < output.size) {
      const bool atEnd = raw_.Available() == 0 && !raw_.Fill();
      // At the end of the file the last frame may still hold content; a
      // frame that stays open without giving any is cut short.
      if (atEnd && !frameOpen_) break;
      static const unsigned char kNothing = 0;
      ZSTD_inBuffer input{atEnd ? &kNothing : raw_.Data(), atEnd ? 0 : raw_.Available(), 0};
      const std::size_t before = output.pos;
      const std::size_t result = ZSTD_decompressStream(stream_, &output, &input);
      raw_.Consume(input.pos);
      if (ZSTD_isError(result)) Fail(result);
      frameOpen_ = result != 0;
      if (atEnd && output.pos == before && frameOpen_) Damaged(name_, kCutShort);
    }
    return output.pos;
  }

  void Restart() override {
    ZSTD_DCtx_reset(stream_, ZSTD_reset_session_only);
    frameOpen_ = true;
  }

 private:
  [[noreturn]] void Fail(std::size_t result) {
    switch (ZSTD_getErrorCode(result)) {
      case ZSTD_error_memory_allocation:
        OutOfMemory(name_);
      case ZSTD_error_frameParameter_windowTooLarge:
        // The window is the memory a frame asks for; the decoder's limit
        // (128 MB) keeps a file from asking for more than it can justify.
        FatalError(
            "ERROR: The compressed file %s asks for a decompression window above 128 MB, which "
            "is refused.\n",
            name_.c_str());
      default:
        Damaged(name_, ZSTD_getErrorName(result));
    }
  }

  RawInput& raw_;
  const std::string& name_;
  ZSTD_DStream* stream_ = nullptr;
  bool frameOpen_ = true;
};
#endif

}  // namespace

std::unique_ptr<Decoder> MakeDecoder(Compression compression, RawInput& raw,
                                     const std::string& name) {
  switch (compression) {
    case Compression::kGzip:
#if VQPEEK_HAVE_ZLIB
      return std::make_unique<GzipDecoder>(raw, name);
#else
      break;
#endif
    case Compression::kZstd:
#if VQPEEK_HAVE_ZSTD
      return std::make_unique<ZstdDecoder>(raw, name);
#else
      break;
#endif
    case Compression::kNone:
      break;
  }
  (void)raw;
  (void)name;
  return nullptr;
}

}  // namespace file_internal
