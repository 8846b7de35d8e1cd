// The set-file reader: the head, then the node records in batches of flat
// rows, read on the calling thread or on several.
//
// A set file is a text head (version line, one integer per line, an
// optional method line, a line of minus signs) and a binary body of node
// records: the name and its NUL (version 2 only), the elements most
// significant byte first (version 1: one byte each), and the frequency in 4
// bytes (version 1: 2 bytes, least significant first).
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <mutex>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "byte_reader.h"
#include "cb_internal.h"
#include "vqpeek/cb.h"
#include "vqpeek/file.h"
#include "vqpeek/threads.h"

using cb_internal::ByteReader;
using cb_internal::kMaxNameBytes;

namespace {

int ReadHeaderInteger(ByteReader& reader) {
  int value = 0;
  if (!reader.ReadInteger(&value)) FatalError("ERROR: Invalid header: a number was expected.\n");
  reader.SkipWhitespace();
  return value;
}

// The version of a set file: the first decimal digit of its version line.
int FileVersion(const char* versionLine) {
  const int value = cb_internal::VersionDigit(versionLine);
  if (value < 0) FatalError("ERROR: No version number found in header.\n");
  if (value <= 1) return 1;
  if (value == 2) return 2;
  FatalError("ERROR: Unknown file version number (%d).\n", value);
}

// Element k of a row of big-endian elements of `width` bytes.
template <int width>
int Element(const unsigned char* bytes, std::size_t k) {
  const unsigned char* b = bytes + k * width;
  if constexpr (width == 1) return b[0];
  if constexpr (width == 2) return (b[0] << 8) | b[1];
  if constexpr (width == 3) return (b[0] << 16) | (b[1] << 8) | b[2];
  return static_cast<int>((std::uint32_t{b[0]} << 24) | (b[1] << 16) | (b[2] << 8) | b[3]);
}

// Decodes the `count` elements of a row; returns their sum.
template <int width>
std::int64_t DecodeRow(const unsigned char* bytes, std::size_t count, int* elements) {
  std::int64_t sum = 0;
  for (std::size_t k = 0; k < count; ++k) {
    elements[k] = Element<width>(bytes, k);
    sum += elements[k];
  }
  return sum;
}

int DecodeFrequency(const unsigned char* bytes, int version) {
  if (version == 1) return bytes[0] | (bytes[1] << 8);
  return static_cast<int>((std::uint32_t{bytes[0]} << 24) | (bytes[1] << 16) | (bytes[2] << 8) |
                          bytes[3]);
}

// Refuses a head that cannot describe a set, before anything is allocated.
void CheckHeader(const Codebook& CB, int version) {
  const std::int64_t dim = static_cast<std::int64_t>(CB.BlockSizeX) * CB.BlockSizeY;
  if (CB.BlockSizeX < 1 || CB.BlockSizeY < 1 || dim > 2147483647) {
    FatalError("ERROR: Invalid block size (%d x %d).\n", CB.BlockSizeX, CB.BlockSizeY);
  }
  if (CB.Booksize < 0) FatalError("ERROR: Invalid booksize (%d).\n", CB.Booksize);
  if (version == 2 && (CB.BytesPerElement < 1 || CB.BytesPerElement > 4)) {
    FatalError("ERROR: Invalid bytes per element (%d).\n", CB.BytesPerElement);
  }
}

// The bytes of a node record after its name.
std::size_t FieldBytes(const Codebook& CB, int version) {
  return static_cast<std::size_t>(VectorDimension(CB)) *
             static_cast<std::size_t>(CB.BytesPerElement) +
         (version == 2 ? 4 : 2);
}

// Reads the head of a set file (version line, header integers, method line
// and separator) into the header fields of CB and returns its version.
int ReadHead(ByteReader& reader, Codebook* CB) {
  cb_internal::ReadHeaderLine(reader, CB->Versionstr);
  const int version = FileVersion(CB->Versionstr);
  CB->BlockSizeX = ReadHeaderInteger(reader);
  CB->BlockSizeY = ReadHeaderInteger(reader);
  CB->Booksize = ReadHeaderInteger(reader);
  if (version == 2) {
    CB->TotalFreq = ReadHeaderInteger(reader);
    CB->BytesPerElement = ReadHeaderInteger(reader);
    CB->MinValue = ReadHeaderInteger(reader);
    CB->MaxValue = ReadHeaderInteger(reader);
    CB->Preprocessing = ReadHeaderInteger(reader);
  } else {
    CB->Preprocessing = ReadHeaderInteger(reader);
    for (int discarded = 0; discarded < 3; ++discarded) ReadHeaderInteger(reader);
    CB->MaxValue = ReadHeaderInteger(reader);
  }

  // Version 2 has a method line exactly when the separator does not follow;
  // version 1 has one in codebooks only.
  ClearString(CB->GenerationMethod);
  if (version == 2 ? reader.Peek() != '-' : std::strncmp(CB->Versionstr, "VQ CODEBOOK", 11) == 0) {
    cb_internal::ReadHeaderLine(reader, CB->GenerationMethod);
  }
  // The separator: any run of minus signs, and the character after it.
  while (reader.Peek() == '-') reader.Advance(1);
  reader.Get();

  if (version == 1) {
    CB->BytesPerElement = 1;
    CB->TotalFreq = 0;
    CB->MinValue = 0;
  }
  CheckHeader(*CB, version);
  return version;
}

// A hash of a batch's bytes: what a later pass compares to tell that the
// file still holds what the first pass read. Four lanes of 8-byte words,
// so that a batch is hashed at the speed it is read.
std::uint64_t HashBatch(std::uint64_t seed, const unsigned char* bytes, std::size_t count) {
  constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15u;
  auto mix = [](std::uint64_t hash, std::uint64_t word) {
    hash = (hash ^ word) * kMultiplier;
    return hash ^ (hash >> 29);
  };
  std::uint64_t lanes[4] = {seed, seed + 1, seed + 2, seed + 3};
  for (; count >= 32; bytes += 32, count -= 32) {
    for (int l = 0; l < 4; ++l) {
      std::uint64_t word;
      std::memcpy(&word, bytes + 8 * l, 8);
      lanes[l] = mix(lanes[l], word);
    }
  }
  std::uint64_t hash = mix(mix(mix(lanes[0], lanes[1]), lanes[2]), lanes[3]);
  for (; count >= 8; bytes += 8, count -= 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes, 8);
    hash = mix(hash, word);
  }
  std::uint64_t tail = std::uint64_t{count} << 56;
  std::memcpy(&tail, bytes, count);  // the low bytes; the count stays in the top one
  return mix(hash, tail);
}

struct FreeBytes {
  void operator()(unsigned char* bytes) const noexcept { std::free(bytes); }
};

[[noreturn]] void NoMemoryForRecords() {
  FatalError("ERROR: Not enough memory for new vector element.\n");
}

// A new array of `count` T, its values unset.
template <typename T>
std::unique_ptr<T[]> NewArray(std::size_t count) {
  try {
    return std::make_unique_for_overwrite<T[]>(count);
  } catch (const std::bad_alloc&) {
    NoMemoryForRecords();
  }
}

}  // namespace

namespace cb_internal {

void CopyHeader(const Codebook& from, Codebook* to) {
  std::memcpy(to->Versionstr, from.Versionstr, sizeof to->Versionstr);
  std::memcpy(to->GenerationMethod, from.GenerationMethod, sizeof to->GenerationMethod);
  to->BlockSizeX = from.BlockSizeX;
  to->BlockSizeY = from.BlockSizeY;
  to->Booksize = from.Booksize;
  to->TotalFreq = from.TotalFreq;
  to->BytesPerElement = from.BytesPerElement;
  to->MinValue = from.MinValue;
  to->MaxValue = from.MaxValue;
  to->Preprocessing = from.Preprocessing;
}

int VersionDigit(const char* versionLine) {
  for (const char* c = versionLine; *c != '\0'; ++c) {
    if (*c >= '0' && *c <= '9') return *c - '0';
  }
  return -1;
}

}  // namespace cb_internal

// One batch of records: its bytes, where its records' fields lie, and
// what was decoded from them. Each worker of a parallel pass has its own.
struct SetReader::Chunk {
  // The bytes read for the batch (a file read in pieces); a held body is
  // read where it lies.
  std::unique_ptr<unsigned char, FreeBytes> own;
  std::size_t ownCapacity = 0;
  const unsigned char* data = nullptr;
  std::size_t size = 0;  // bytes at `data`
  std::size_t used = 0;  // bytes of the batch's records
  int first = 0;
  int count = 0;
  std::size_t batch = 0;                  // the batch's index in the pass
  bool firstPass = false;                 // hashed and counted when decoded
  bool fixed = true;                      // every record without a name
  std::unique_ptr<std::size_t[]> fields;  // else: where each record's fields start
  std::unique_ptr<int[]> rows;
  std::unique_ptr<int[]> freqs;
  std::unique_ptr<std::int64_t[]> sums;
  std::unique_ptr<const char*[]> names;
  int total = 0;  // the frequencies of the first-pass batches decoded here

  // Room for `bytes` bytes in `own`, its first `keep` bytes kept.
  void Reserve(std::size_t bytes) {
    if (bytes <= ownCapacity) return;
    const std::size_t wanted = std::max(bytes, ownCapacity + ownCapacity / 2);
    void* larger = std::realloc(own.get(), wanted);
    if (larger == nullptr) FatalError("ERROR: Not enough memory to read the file.\n");
    static_cast<void>(own.release());
    own.reset(static_cast<unsigned char*>(larger));
    ownCapacity = wanted;
    data = own.get();
  }
};

struct SetReader::State {
  std::string filename;
  std::unique_ptr<InputFile> input;
  std::optional<ByteReader> reader;  // the head, and a held body
  Codebook head;
  int version = 0;
  int dim = 0;
  int width = 1;
  std::size_t fieldBytes = 0;
  std::size_t shortest = 0;  // a record without a name
  std::uint64_t bodyOffset = 0;
  int capacity = 1;
  int next = 0;
  int total = 0;  // the frequencies of the first pass so far
  bool counted = false;
  // The hash of every batch as the first pass read it, and how many
  // batches have been taken at least once.
  std::vector<std::uint64_t> hashes;
  std::size_t readBatches = 0;
  std::size_t batch = 0;
  // A body read whole (a pipe): the bytes after the head and how far the
  // pass has gone in them. Else the bytes read past the last batch taken.
  bool held = false;
  const unsigned char* heldBody = nullptr;
  std::size_t heldSize = 0;
  std::size_t heldPosition = 0;
  std::vector<unsigned char> carry;
  bool endOfInput = false;
  // The batches of the workers; the first is also Next's.
  std::vector<std::unique_ptr<Chunk>> chunks;

  [[noreturn]] void Changed() const {
    FatalError("ERROR: The file %s changed while it was read.\n", filename.c_str());
  }

  // Once every record has been read the first time: TotalFreq becomes the
  // sum of the frequencies, with the warning when the head said otherwise.
  void Count() {
    if (counted) return;
    counted = true;
    if (version == 2 && head.TotalFreq != total) {
      PrintMessage("WARNING: TotalFreq header field = %d but ", head.TotalFreq);
      PrintMessage("calculated totalfreq = %d.\n", total);
    }
    head.TotalFreq = total;
  }

  Chunk& ChunkOf(int worker) {
    const std::size_t w = static_cast<std::size_t>(worker);
    if (chunks.size() <= w) chunks.resize(w + 1);
    if (chunks[w] == nullptr) {
      try {
        chunks[w] = std::make_unique<Chunk>();
      } catch (const std::bad_alloc&) {
        NoMemoryForRecords();
      }
    }
    return *chunks[w];
  }

  // Makes `wanted` bytes of the batch available from `position` on unless
  // the file ends first; returns how many are. A batch read from a file
  // reads on, as far as its remaining `records` records reach at least.
  std::size_t Available(Chunk& c, std::size_t position, std::size_t wanted, int records) {
    if (c.size - position >= wanted || held || endOfInput) return c.size - position;
    const std::size_t least = static_cast<std::size_t>(records) * shortest;
    const std::size_t goal = position + std::max(wanted, least);
    c.Reserve(goal);
    const std::size_t got = input->Read(c.own.get() + c.size, goal - c.size);
    if (got < goal - c.size) endOfInput = true;
    c.size += got;
    return c.size - position;
  }

  // Finds the records of batch `c` from record k at byte `position` on,
  // each as the file says: a name up to its NUL (version 2), then the
  // fields. Fatal: a name without its NUL in kMaxNameBytes bytes, a record
  // that the file ends inside.
  void FindRecords(Chunk& c, int k, std::size_t position) {
    if (c.fields == nullptr) c.fields = NewArray<std::size_t>(static_cast<std::size_t>(capacity));
    const std::size_t nameBytes = static_cast<std::size_t>(kMaxNameBytes);
    for (int j = 0; j < k; ++j) {
      c.fields[j] = static_cast<std::size_t>(j) * shortest + (version == 2 ? 1 : 0);
    }
    for (; k < c.count; ++k) {
      const int left = c.count - k;
      if (version == 1) {
        if (Available(c, position, fieldBytes, left) < fieldBytes) {
          FatalError("ERROR: premature end of file\n");  // the file no longer matches its head
        }
        c.fields[k] = position;
        position += fieldBytes;
        continue;
      }
      // Most vectors have no name: a NUL at once.
      if (Available(c, position, shortest, left) >= shortest && c.data[position] == '\0') {
        c.fields[k] = position + 1;
        position += shortest;
        continue;
      }
      const std::size_t searched = std::min(Available(c, position, nameBytes, left), nameBytes);
      const unsigned char* start = c.data + position;
      const void* nul = std::memchr(start, '\0', searched);
      if (nul == nullptr) {
        if (searched < nameBytes) FatalError("ERROR: premature end of file\n");
        char tooLong[kMaxNameBytes + 1];
        std::memcpy(tooLong, start, nameBytes);
        tooLong[kMaxNameBytes] = '\0';
        FatalError("ERROR: Too long vector name:\n%*s\nMaximum is %d characters.\n", kMaxNameBytes,
                   tooLong, kMaxNameBytes);
      }
      const std::size_t length =
          static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - start);
      const std::size_t record = length + 1 + fieldBytes;
      if (Available(c, position, record, left) < record) {
        FatalError("ERROR: premature end of file\n");
      }
      c.fields[k] = position + length + 1;
      position += record;
    }
    c.used = position;
  }

  // Takes the next batch of the pass into `c`: its bytes and the places of
  // its records, checked. On a later pass the batch must hash as it did on
  // the first. Returns false at the end of the pass. Runs on one thread at
  // a time, in file order.
  bool Take(Chunk& c) {
    if (next >= head.Booksize) return false;
    c.first = next;
    c.count = std::min(capacity, head.Booksize - next);
    c.batch = batch;
    c.firstPass = batch == readBatches;
    const std::size_t least = static_cast<std::size_t>(c.count) * shortest;
    if (held) {
      c.data = heldBody + heldPosition;
      c.size = heldSize - heldPosition;
    } else {
      // What was read past the last batch starts this one; the file is then
      // read as far as the batch's records reach at least.
      c.Reserve(std::max(least, carry.size()));
      if (!carry.empty()) std::memcpy(c.own.get(), carry.data(), carry.size());
      c.size = carry.size();
      carry.clear();
      c.data = c.own.get();
      Available(c, 0, least, c.count);
    }
    // Records without names have one length: the batch is known once the
    // first byte of each is found to be a NUL.
    int k = 0;
    if (c.size >= least) {
      if (version == 2) {
        const unsigned char* at = c.data;
        while (k < c.count && *at == '\0') {
          ++k;
          at += shortest;
        }
      } else {
        k = c.count;
      }
    }
    c.fixed = k == c.count;
    if (c.fixed) {
      c.used = least;
    } else {
      FindRecords(c, k, static_cast<std::size_t>(k) * shortest);
    }
    if (held) {
      heldPosition += c.used;
    } else if (c.size > c.used) {
      try {
        carry.assign(c.data + c.used, c.data + c.size);
      } catch (const std::bad_alloc&) {
        NoMemoryForRecords();
      }
    }
    if (!c.firstPass &&
        hashes[batch] != HashBatch(static_cast<std::uint64_t>(c.first), c.data, c.used)) {
      Changed();
    }
    if (c.firstPass) ++readBatches;
    ++batch;
    next += c.count;
    return true;
  }

  template <int width>
  void DecodeRows(const Chunk& c, int* rows, std::int64_t* sums) const {
    const std::size_t count = static_cast<std::size_t>(dim);
    for (int k = 0; k < c.count; ++k) {
      const std::size_t at =
          c.fixed ? static_cast<std::size_t>(k) * shortest + (shortest - fieldBytes) : c.fields[k];
      const std::int64_t sum =
          DecodeRow<width>(c.data + at, count, rows + static_cast<std::size_t>(k) * count);
      if (sums != nullptr) sums[k] = sum;
    }
  }

  // Decodes the records of batch `c` into `batch`: the frequencies and the
  // `fields` asked for, the elements into `rows` (else the chunk's own).
  // Needs no lock: it reads the chunk and the head alone, and records its
  // first-pass results in the chunk and in the batch's own hash.
  void Decode(Chunk& c, int fields, int* rows, SetBatch* out) {
    const std::size_t count = static_cast<std::size_t>(c.count);
    if (c.freqs == nullptr) c.freqs = NewArray<int>(static_cast<std::size_t>(capacity));
    const std::size_t frequencyAt = fieldBytes - (version == 2 ? 4 : 2);
    if (c.fixed) {
      const unsigned char* at = c.data + (version == 2 ? 1 : 0) + frequencyAt;
      for (std::size_t k = 0; k < count; ++k, at += shortest)
        c.freqs[k] = DecodeFrequency(at, version);
    } else {
      for (std::size_t k = 0; k < count; ++k) {
        c.freqs[k] = DecodeFrequency(c.data + c.fields[k] + frequencyAt, version);
      }
    }
    *out = SetBatch();
    out->First = c.first;
    out->Count = c.count;
    out->Freqs = c.freqs.get();
    if ((fields & kElements) != 0) {
      if (rows == nullptr) {
        if (c.rows == nullptr) {
          c.rows =
              NewArray<int>(static_cast<std::size_t>(capacity) * static_cast<std::size_t>(dim));
        }
        rows = c.rows.get();
      }
      std::int64_t* sums = nullptr;
      if ((fields & kSums) == kSums) {
        if (c.sums == nullptr) c.sums = NewArray<std::int64_t>(static_cast<std::size_t>(capacity));
        sums = c.sums.get();
      }
      switch (width) {
        case 1:
          DecodeRows<1>(c, rows, sums);
          break;
        case 2:
          DecodeRows<2>(c, rows, sums);
          break;
        case 3:
          DecodeRows<3>(c, rows, sums);
          break;
        default:
          DecodeRows<4>(c, rows, sums);
          break;
      }
      out->Elements = rows;
      out->Sums = sums;
    }
    if ((fields & kNames) != 0 && !c.fixed) {
      if (c.names == nullptr) c.names = NewArray<const char*>(static_cast<std::size_t>(capacity));
      bool any = false;
      std::size_t start = 0;  // the record's first byte; a name ends in its NUL
      for (std::size_t k = 0; k < count; ++k) {
        const bool named = c.fields[k] > start + 1;
        c.names[k] = named ? reinterpret_cast<const char*>(c.data + start) : nullptr;
        any |= named;
        start = c.fields[k] + fieldBytes;
      }
      if (any) out->Names = c.names.get();
    }
    if (c.firstPass) {
      hashes[c.batch] = HashBatch(static_cast<std::uint64_t>(c.first), c.data, c.used);
      for (std::size_t k = 0; k < count; ++k) c.total = cb_internal::WrapAdd32(c.total, c.freqs[k]);
    }
  }
};

SetReader::SetReader(const char* filename, std::size_t bufferBytes, int batchRows)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.filename = filename;
  s.input = InputFile::Open(filename);
  if (s.input == nullptr) {
    // The open message has no line end of its own; this one ends the run.
    FatalError("\n");
  }
  s.reader.emplace(*s.input, bufferBytes);
  s.version = ReadHead(*s.reader, &s.head);
  s.dim = VectorDimension(s.head);
  s.width = s.head.BytesPerElement;
  s.fieldBytes = FieldBytes(s.head, s.version);
  s.shortest = s.fieldBytes + (s.version == 2 ? 1 : 0);
  // Every node takes at least its shortest record, so a head that promises
  // more nodes than the file can hold is refused before anything is
  // allocated for them.
  if (s.head.Booksize > 0 &&
      s.reader->Remaining() / s.shortest < static_cast<std::uint64_t>(s.head.Booksize)) {
    FatalError("ERROR: premature end of file\n");
  }
  s.bodyOffset = s.reader->Consumed();
  s.capacity = BatchRows(s.head.Booksize, s.dim, sizeof(int), batchRows);
  // A pipe is read whole before its first record (its size is unknown
  // otherwise): its records are read where they lie. A file is read on
  // from where its head ended, the rest of the head's block first.
  const std::size_t buffered = s.reader->Ensure(0);
  s.held = s.reader->Holds(s.bodyOffset);
  try {
    s.hashes.resize(static_cast<std::size_t>((s.head.Booksize + s.capacity - 1) / s.capacity));
    if (s.held) {
      s.heldBody = s.reader->Data();
      s.heldSize = buffered;
    } else {
      s.carry.assign(s.reader->Data(), s.reader->Data() + buffered);
      s.reader.reset();
    }
  } catch (const std::bad_alloc&) {
    NoMemoryForRecords();
  }
}

SetReader::~SetReader() = default;

const Codebook& SetReader::Header() const { return state_->head; }
int SetReader::Version() const { return state_->version; }
int SetReader::Dimension() const { return state_->dim; }
int SetReader::BatchCapacity() const { return state_->capacity; }
int SetReader::NextRecord() const { return state_->next; }
bool SetReader::Rewindable() const { return state_->held || state_->input->Rewindable(); }

bool SetReader::Next(SetBatch* batch, int* rows) {
  State& s = *state_;
  Chunk& c = s.ChunkOf(0);
  if (!s.Take(c)) {
    *batch = SetBatch();
    batch->First = s.next;
    s.Count();
    return false;
  }
  c.total = 0;
  s.Decode(c, kAllFields, rows, batch);
  if (c.firstPass) s.total = cb_internal::WrapAdd32(s.total, c.total);
  if (s.next == s.head.Booksize) s.Count();
  return true;
}

int SetReader::ParallelWorkers() const {
  const State& s = *state_;
  const int batches = (s.head.Booksize - s.next + s.capacity - 1) / s.capacity;
  return std::clamp(std::min(UsableProcessors(), kMaxReadWorkers), 1, std::max(batches, 1));
}

void SetReader::ReadInParallel(const std::function<void(const SetBatch&, int)>& visit, int fields,
                               const std::function<int*(int)>& rowsAt, int workers) {
  State& s = *state_;
  if (workers <= 0) workers = ParallelWorkers();
  for (int w = 0; w < workers; ++w) s.ChunkOf(w).total = 0;
  std::mutex reading;
  bool stopped = false;
  RunInParallel(workers, workers, [&](int worker, int) {
    // Whatever ends a worker early ends the pass for all: no worker takes
    // another batch after the first failure, which is so the only one
    // reported, and the damage found in one batch is reported before any
    // later batch is read.
    struct StopAllOnFailure {
      ~StopAllOnFailure() {
        if (std::uncaught_exceptions() == pending) return;
        const std::lock_guard<std::mutex> lock(reading);
        stopped = true;
      }
      std::mutex& reading;
      bool& stopped;
      int pending = std::uncaught_exceptions();
    };
    const StopAllOnFailure guard{reading, stopped};
    Chunk& c = *s.chunks[static_cast<std::size_t>(worker)];
    SetBatch batch;
    for (;;) {
      {
        const std::lock_guard<std::mutex> lock(reading);
        if (stopped) return;
        bool more = false;
        try {
          more = s.Take(c);
        } catch (...) {
          stopped = true;
          throw;
        }
        if (!more) {
          stopped = true;
          return;
        }
      }
      s.Decode(c, fields, rowsAt && (fields & kElements) != 0 ? rowsAt(c.first) : nullptr, &batch);
      visit(batch, worker);
    }
  });
  for (int w = 0; w < workers; ++w) s.total = cb_internal::WrapAdd32(s.total, s.chunks[w]->total);
  if (s.next == s.head.Booksize) s.Count();
}

void SetReader::Rewind() {
  State& s = *state_;
  if (s.held) {
    s.heldPosition = 0;
  } else {
    // A compressed file is decompressed again up to the body; a file whose
    // size or time has changed is not read again.
    s.carry.clear();
    s.endOfInput = false;
    if (!s.input->Rewindable() || !s.input->Seek(s.bodyOffset)) s.Changed();
  }
  s.next = 0;
  s.batch = 0;
}

void ReadCodebookFrom(SetReader& reader, Codebook* CB) {
  cb_internal::CopyHeader(reader.Header(), CB);
  const int dim = reader.Dimension();
  // Every element is set by the read (or the read fails), so the element
  // block is not cleared first.
  cb_internal::AllocateNodes(CB, reader.Header().Booksize, dim, false);
  // Each batch's nodes are filled by the worker that decodes it.
  reader.ReadInParallel(
      [&](const SetBatch& batch, int) {
        for (int k = 0; k < batch.Count; ++k) {
          CodebookNode& node = CB->Book[batch.First + k];
          if (batch.Names != nullptr && batch.Names[k] != nullptr) {
            node.Name = cb_internal::CopyName(batch.Names[k]);
          }
          node.Freq = batch.Freqs[k];
          node.VectorMean = cb_internal::RoundedMean(batch.Sums[k], dim);
        }
      },
      SetReader::kAllFields,
      [&](int first) { return CB->ElementBlock.get() + static_cast<std::size_t>(first) * dim; });
  CB->TotalFreq = reader.Header().TotalFreq;
}

void ReadCodebook(const char* filename, Codebook* CB) {
  SetReader reader(filename);
  ReadCodebookFrom(reader, CB);
}

void ReadFlatSet(const char* filename, FlatSet* set) {
  SetReader reader(filename);
  Codebook& head = set->Header;
  cb_internal::CopyHeader(reader.Header(), &head);
  const std::size_t count = static_cast<std::size_t>(head.Booksize);
  const std::size_t dim = static_cast<std::size_t>(reader.Dimension());
  // Every element and frequency is written by the read, so nothing is
  // cleared first.
  try {
    set->Elements = std::make_unique_for_overwrite<int[]>(count * dim);
    set->Freqs = std::make_unique_for_overwrite<int[]>(count);
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for new vector element.\n");
  }
  set->Names.reset();
  std::once_flag named;
  reader.ReadInParallel(
      [&](const SetBatch& batch, int) {
        std::copy_n(batch.Freqs, batch.Count, set->Freqs.get() + batch.First);
        if (batch.Names == nullptr) return;
        // The names' array comes with the first batch that has a name.
        std::call_once(named, [&] { set->Names = std::make_unique<NamePtr[]>(count); });
        for (int k = 0; k < batch.Count; ++k) {
          if (batch.Names[k] != nullptr) {
            set->Names[batch.First + k] = cb_internal::CopyName(batch.Names[k]);
          }
        }
      },
      SetReader::kElements | SetReader::kNames,
      [&](int first) { return set->Elements.get() + static_cast<std::size_t>(first) * dim; });
  head.TotalFreq = reader.Header().TotalFreq;
}
