// Reading any input: regular files, standard input, pipes and devices,
// with gzip and zstd content decompressed as it is read; and the inputs
// that a look at their first bytes keeps open for their reader.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "decompression.h"
#include "vqpeek/file.h"
#include "vqpeek/interfc.h"

using file_internal::RawInput;

struct InputFile::State {
  std::string name;
  RawInput raw;
  bool regular = false;
  struct stat opened {};
  // Where the file stood when it was opened: its content starts there.
  std::int64_t start = 0;
  Compression compression = Compression::kNone;
  std::unique_ptr<file_internal::Decoder> decoder;
  // Content read ahead by PeekInput, handed out before anything else.
  std::string peeked;
  std::size_t peekedBegin = 0;
  std::uint64_t position = 0;
  // A compressed file's content size, once counted.
  std::int64_t contentSize = -1;
  // A borrowed stream's remaining bytes when it was borrowed, -1 unknown.
  std::int64_t borrowedRemaining = -1;

  State(std::string fileName, int fd, FILE* stream) : name(std::move(fileName)), raw(fd, stream) {}

  // The content after the peeked bytes.
  std::size_t ReadContent(unsigned char* data, std::size_t size) {
    if (decoder != nullptr) return decoder->Decode(data, size);
    return raw.Read(data, size);
  }

  std::size_t Read(unsigned char* data, std::size_t size) {
    std::size_t done = std::min(size, peeked.size() - peekedBegin);
    std::memcpy(data, peeked.data() + peekedBegin, done);
    peekedBegin += done;
    if (peekedBegin == peeked.size()) {
      peeked.clear();
      peekedBegin = 0;
    }
    if (done < size) done += ReadContent(data + done, size - done);
    position += done;
    return done;
  }

  // Makes `count` bytes of content (fewer at its end) available in
  // `peeked` without handing them out.
  void Peek(std::size_t count) {
    const std::size_t have = peeked.size() - peekedBegin;
    if (have >= count) return;
    const std::size_t old = peeked.size();
    peeked.resize(old + (count - have));
    const std::size_t got =
        ReadContent(reinterpret_cast<unsigned char*>(peeked.data()) + old, count - have);
    peeked.resize(old + got);
  }

  bool Unchanged() const {
    struct stat now {};
    return fstat(raw.fd(), &now) == 0 && now.st_size == opened.st_size &&
           now.st_mtim.tv_sec == opened.st_mtim.tv_sec &&
           now.st_mtim.tv_nsec == opened.st_mtim.tv_nsec;
  }
};

namespace {

// Opens `name` and finds its compression from its first bytes. Null with
// `*error` set (errno) when it cannot be opened, or, with `*opened` set
// too, when its first bytes cannot be read (a directory).
std::unique_ptr<InputFile::State> OpenState(const char* name, int* error, bool* opened) {
  *opened = false;
  int fd = -1;
  if (std::strcmp(name, "-") == 0) {
    // A descriptor of its own, so that closing it leaves standard input.
    fd = fcntl(0, F_DUPFD_CLOEXEC, 0);
  } else {
    do {
      fd = open(name, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
  }
  if (fd < 0) {
    *error = errno;
    return nullptr;
  }
  auto state = std::make_unique<InputFile::State>(name, fd, nullptr);
  if (fstat(fd, &state->opened) == 0 && S_ISREG(state->opened.st_mode)) {
    const off_t here = lseek(fd, 0, SEEK_CUR);
    state->regular = here >= 0;
    state->start = here >= 0 ? static_cast<std::int64_t>(here) : 0;
  }
  int readError = 0;
  const std::size_t sniffed = state->raw.EnsureQuietly(4, &readError);
  if (readError != 0) {
    *error = readError;
    *opened = true;
    return nullptr;
  }
  state->compression = file_internal::CompressionOf(state->raw.Data(), sniffed);
  return state;
}

// Makes the decoder of a compressed input, or refuses it in a build that
// cannot read it.
void PrepareDecoder(InputFile::State& state) {
  if (state.compression == Compression::kNone) return;
  state.decoder = file_internal::MakeDecoder(state.compression, state.raw, state.name);
  if (state.decoder == nullptr) {
    FatalError(
        "ERROR: The file %s is compressed with %s, which this build cannot read (it was "
        "built without %s).\n",
        state.name.c_str(), file_internal::CompressionName(state.compression),
        file_internal::CompressionLibrary(state.compression));
  }
}

// Inputs that a look at their first bytes left open because their names
// cannot open them again, each waiting for the next Open of its name.
std::mutex heldLock;
std::map<std::string, std::unique_ptr<InputFile>>& Held() {
  static std::map<std::string, std::unique_ptr<InputFile>> held;
  return held;
}

}  // namespace

InputFile::InputFile(std::unique_ptr<State> state) : state_(std::move(state)) {}
InputFile::~InputFile() = default;

std::unique_ptr<InputFile> InputFile::Open(const char* name) {
  {
    const std::lock_guard<std::mutex> lock(heldLock);
    const auto held = Held().find(name);
    if (held != Held().end()) {
      std::unique_ptr<InputFile> input = std::move(held->second);
      Held().erase(held);
      return input;
    }
  }
  int error = 0;
  bool opened = false;
  std::unique_ptr<State> state = OpenState(name, &error, &opened);
  if (state == nullptr) {
    if (opened) {
      // Opened, but nothing can be read: the reader's message.
      SystemErrorMessage(error, "ERROR: unable to read from file: %s\n", std::strerror(error));
      ExitProcessing(-1);
    }
    SystemErrorMessage(error, "ERROR: Cannot find the file: %s", name);
    return nullptr;
  }
  PrepareDecoder(*state);
  return std::unique_ptr<InputFile>(new InputFile(std::move(state)));
}

std::unique_ptr<InputFile> InputFile::Borrow(FILE* stream) {
  auto state = std::make_unique<State>("", -1, stream);
  // The rest of the stream's size, where it can seek.
  const long here = std::ftell(stream);
  if (here >= 0 && std::fseek(stream, 0, SEEK_END) == 0) {
    const long size = std::ftell(stream);
    if (std::fseek(stream, here, SEEK_SET) == 0 && size >= here) {
      state->borrowedRemaining = size - here;
    }
  }
  return std::unique_ptr<InputFile>(new InputFile(std::move(state)));
}

std::size_t InputFile::Read(void* data, std::size_t size) {
  return state_->Read(static_cast<unsigned char*>(data), size);
}

std::uint64_t InputFile::Position() const { return state_->position; }

std::int64_t InputFile::KnownRemaining() const {
  const State& s = *state_;
  if (s.raw.fd() < 0) {
    return s.borrowedRemaining < 0
               ? -1
               : std::max<std::int64_t>(s.borrowedRemaining - static_cast<std::int64_t>(s.position),
                                        0);
  }
  std::int64_t size = -1;
  if (s.compression != Compression::kNone) {
    size = s.contentSize;
  } else if (s.regular) {
    size = static_cast<std::int64_t>(s.opened.st_size) - s.start;
  }
  if (size < 0) return -1;
  return std::max<std::int64_t>(size - static_cast<std::int64_t>(s.position), 0);
}

std::int64_t InputFile::Remaining() {
  State& s = *state_;
  if (s.compression != Compression::kNone && s.regular && s.contentSize < 0) {
    // Decompressed to its end once, then read again to where it stood.
    const std::uint64_t here = s.position;
    if (!Seek(0)) return -1;
    std::vector<unsigned char> scratch(std::size_t{1} << 17);
    std::uint64_t total = 0;
    for (std::size_t got; (got = s.ReadContent(scratch.data(), scratch.size())) > 0;) total += got;
    s.contentSize = static_cast<std::int64_t>(total);
    if (!Seek(here)) return -1;
  }
  return KnownRemaining();
}

bool InputFile::Rewindable() const { return state_->regular; }

bool InputFile::Seek(std::uint64_t position) {
  State& s = *state_;
  if (!s.regular || !s.Unchanged()) return false;
  const bool compressed = s.compression != Compression::kNone;
  const std::int64_t offset = s.start + static_cast<std::int64_t>(compressed ? 0 : position);
  if (lseek(s.raw.fd(), static_cast<off_t>(offset), SEEK_SET) != offset) return false;
  s.raw.Clear();
  s.peeked.clear();
  s.peekedBegin = 0;
  s.position = position;
  if (!compressed) return true;
  // The content before `position` is decompressed again and dropped.
  s.decoder->Restart();
  std::vector<unsigned char> scratch(std::size_t{1} << 17);
  for (std::uint64_t left = position; left > 0;) {
    const std::size_t step =
        static_cast<std::size_t>(std::min<std::uint64_t>(left, scratch.size()));
    const std::size_t got = s.ReadContent(scratch.data(), step);
    if (got == 0) return false;
    left -= got;
  }
  return true;
}

Compression InputFile::compression() const { return state_->compression; }
const std::string& InputFile::name() const { return state_->name; }

bool PeekInput(const char* name, std::size_t count, std::string* bytes) {
  {
    // A held input is looked at where it waits (under the lock, so that no
    // Open takes it meanwhile).
    const std::lock_guard<std::mutex> lock(heldLock);
    const auto held = Held().find(name);
    if (held != Held().end()) {
      InputFile::State& s = *held->second->state_;
      s.Peek(count);
      bytes->assign(s.peeked, s.peekedBegin, std::min(count, s.peeked.size() - s.peekedBegin));
      return true;
    }
  }
  // Opened without the lock: opening a named pipe waits for its writer.
  int error = 0;
  bool opened = false;
  std::unique_ptr<InputFile::State> state = OpenState(name, &error, &opened);
  if (state == nullptr) return false;
  PrepareDecoder(*state);
  InputFile::State& s = *state;
  s.Peek(count);
  bytes->assign(s.peeked, s.peekedBegin, std::min(count, s.peeked.size() - s.peekedBegin));
  if (s.regular && std::strcmp(name, "-") != 0) {
    // Its reader opens it anew. A descriptor that shares its position with
    // another (/dev/fd/N on some systems) is put back where it was.
    lseek(s.raw.fd(), static_cast<off_t>(s.start), SEEK_SET);
    return true;
  }
  const std::lock_guard<std::mutex> lock(heldLock);
  Held().emplace(name, std::unique_ptr<InputFile>(new InputFile(std::move(state))));
  return true;
}

bool IsStandardInput(const char* name) {
  if (std::strcmp(name, "-") == 0) return true;
  struct stat input {};
  struct stat named {};
  if (fstat(0, &input) != 0 || S_ISREG(input.st_mode)) return false;
  return stat(name, &named) == 0 && named.st_dev == input.st_dev && named.st_ino == input.st_ino;
}

bool ReadsCompression(Compression compression) {
  switch (compression) {
    case Compression::kNone:
      return true;
    case Compression::kGzip:
      return VQPEEK_HAVE_ZLIB != 0;
    case Compression::kZstd:
      return VQPEEK_HAVE_ZSTD != 0;
  }
  return false;
}
