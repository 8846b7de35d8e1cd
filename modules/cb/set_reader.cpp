// The set-file reader: the head, then the node records in batches of flat
// rows through a buffer of fixed size.
//
// A set file is a text head (version line, one integer per line, an
// optional method line, a line of minus signs) and a binary body of node
// records: the name and its NUL (version 2 only), the elements most
// significant byte first (version 1: one byte each), and the frequency in 4
// bytes (version 1: 2 bytes, least significant first).
#include <algorithm>
#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "byte_reader.h"
#include "cb_internal.h"
#include "vqpeek/cb.h"
#include "vqpeek/file.h"

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

// Decodes `count` big-endian elements of `width` bytes; returns their sum.
std::int64_t DecodeElements(const unsigned char* bytes, int width, int count, int* elements) {
  std::int64_t sum = 0;
  switch (width) {
    case 1:
      for (int k = 0; k < count; ++k) {
        elements[k] = bytes[k];
        sum += bytes[k];
      }
      break;
    case 2:
      for (int k = 0; k < count; ++k, bytes += 2) {
        elements[k] = (bytes[0] << 8) | bytes[1];
        sum += elements[k];
      }
      break;
    case 3:
      for (int k = 0; k < count; ++k, bytes += 3) {
        elements[k] = (bytes[0] << 16) | (bytes[1] << 8) | bytes[2];
        sum += elements[k];
      }
      break;
    default:
      for (int k = 0; k < count; ++k, bytes += 4) {
        elements[k] = static_cast<int>((std::uint32_t{bytes[0]} << 24) | (bytes[1] << 16) |
                                       (bytes[2] << 8) | bytes[3]);
        sum += elements[k];
      }
      break;
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

// A hash of a record's bytes, folded into the hash of its batch: what a
// later pass compares to tell that the file still holds what the first
// pass read.
std::uint64_t HashBytes(std::uint64_t hash, const unsigned char* bytes, std::size_t count) {
  constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15u;
  for (; count >= 8; bytes += 8, count -= 8) {
    std::uint64_t word;
    std::memcpy(&word, bytes, 8);
    hash = (hash ^ word) * kMultiplier;
    hash ^= hash >> 29;
  }
  std::uint64_t tail = std::uint64_t{count} << 56;
  std::memcpy(&tail, bytes, count);  // the low bytes; the count stays in the top one
  hash = (hash ^ tail) * kMultiplier;
  return hash ^ (hash >> 29);
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

struct SetReader::State {
  std::string filename;
  std::unique_ptr<InputFile> input;
  std::size_t bufferBytes = 0;
  std::optional<ByteReader> reader;
  Codebook head;
  int version = 0;
  int dim = 0;
  std::size_t fieldBytes = 0;
  std::uint64_t bodyOffset = 0;
  int capacity = 1;
  int next = 0;
  int total = 0;  // the frequencies of the first pass so far
  bool counted = false;
  // The hash of every batch the first reading of it handed out, in order.
  std::vector<std::uint64_t> hashes;
  std::size_t batch = 0;
  std::unique_ptr<int[]> rows;
  std::unique_ptr<int[]> freqs;
  std::unique_ptr<std::int64_t[]> sums;
  std::vector<char> nameBytes;
  std::vector<std::size_t> nameOffsets;
  std::vector<const char*> names;

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

  // Reads the next record, the k-th of its batch, with its elements into
  // `elements`; returns the hash of its bytes folded into `hash`.
  std::uint64_t ReadRecord(int k, int* elements, std::uint64_t hash) {
    ByteReader& in = *reader;
    std::size_t length = 0;
    std::size_t record = fieldBytes;  // the record's bytes from Data()
    if (version == 2 && in.Ensure(1 + fieldBytes) >= 1 + fieldBytes && in.Data()[0] == '\0') {
      record = 1 + fieldBytes;  // most vectors have no name: a NUL at once
    } else if (version == 2) {
      const std::size_t window = in.Ensure(kMaxNameBytes);
      const std::size_t searched = window < kMaxNameBytes ? window : kMaxNameBytes;
      const void* nul = std::memchr(in.Data(), '\0', searched);
      if (nul == nullptr) {
        if (searched < kMaxNameBytes) FatalError("ERROR: premature end of file\n");
        char tooLong[kMaxNameBytes + 1];
        std::memcpy(tooLong, in.Data(), kMaxNameBytes);
        tooLong[kMaxNameBytes] = '\0';
        FatalError("ERROR: Too long vector name:\n%*s\nMaximum is %d characters.\n", kMaxNameBytes,
                   tooLong, kMaxNameBytes);
      }
      length = static_cast<std::size_t>(static_cast<const unsigned char*>(nul) - in.Data());
      record = length + 1 + fieldBytes;
      if (in.Ensure(record) < record) FatalError("ERROR: premature end of file\n");
    } else if (in.Ensure(fieldBytes) < fieldBytes) {
      FatalError("ERROR: premature end of file\n");  // the file no longer matches its head
    }
    const unsigned char* bytes = in.Data();
    if (length > 0) {
      nameOffsets[k] = nameBytes.size();
      nameBytes.insert(nameBytes.end(), bytes, bytes + length + 1);
    }
    const unsigned char* fields = bytes + (record - fieldBytes);
    sums[k] = DecodeElements(fields, head.BytesPerElement, dim, elements);
    freqs[k] = DecodeFrequency(fields + fieldBytes - (version == 2 ? 4 : 2), version);
    hash = HashBytes(hash, bytes, record);
    in.Advance(record);
    return hash;
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
  s.bufferBytes = bufferBytes;
  s.reader.emplace(*s.input, bufferBytes);
  s.version = ReadHead(*s.reader, &s.head);
  s.dim = VectorDimension(s.head);
  s.fieldBytes = FieldBytes(s.head, s.version);
  // Every node takes at least its shortest record, so a head that promises
  // more nodes than the file can hold is refused before anything is
  // allocated for them.
  const std::uint64_t shortestNode = s.fieldBytes + (s.version == 2 ? 1 : 0);
  if (s.head.Booksize > 0 &&
      s.reader->Remaining() / shortestNode < static_cast<std::uint64_t>(s.head.Booksize)) {
    FatalError("ERROR: premature end of file\n");
  }
  s.bodyOffset = s.reader->Consumed();
  s.capacity = BatchRows(s.head.Booksize, s.dim, sizeof(int), batchRows);
  try {
    s.freqs = std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(s.capacity));
    s.sums = std::make_unique_for_overwrite<std::int64_t[]>(static_cast<std::size_t>(s.capacity));
    s.nameOffsets.resize(static_cast<std::size_t>(s.capacity));
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for new vector element.\n");
  }
}

SetReader::~SetReader() = default;

const Codebook& SetReader::Header() const { return state_->head; }
int SetReader::Version() const { return state_->version; }
int SetReader::Dimension() const { return state_->dim; }
int SetReader::BatchCapacity() const { return state_->capacity; }
int SetReader::NextRecord() const { return state_->next; }
bool SetReader::Rewindable() const {
  // A pipe is read whole before its first record (its size is unknown
  // otherwise), so a later pass reads its records from memory.
  return state_->input->Rewindable() || state_->reader->Holds(state_->bodyOffset);
}

bool SetReader::Next(SetBatch* batch, int* rows) {
  State& s = *state_;
  *batch = SetBatch();
  batch->First = s.next;
  if (s.next >= s.head.Booksize) {
    s.Count();
    return false;
  }
  if (rows == nullptr) {
    if (s.rows == nullptr) {
      try {
        s.rows = std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(s.capacity) *
                                                       static_cast<std::size_t>(s.dim));
      } catch (const std::bad_alloc&) {
        FatalError("ERROR: Not enough memory for new vector element.\n");
      }
    }
    rows = s.rows.get();
  }
  const int count = std::min(s.capacity, s.head.Booksize - s.next);
  constexpr std::size_t kNoName = static_cast<std::size_t>(-1);
  std::fill_n(s.nameOffsets.begin(), count, kNoName);
  s.nameBytes.clear();
  std::uint64_t hash = static_cast<std::uint64_t>(s.next);
  for (int k = 0; k < count; ++k) {
    hash =
        s.ReadRecord(k, rows + static_cast<std::size_t>(k) * static_cast<std::size_t>(s.dim), hash);
  }
  // A batch read before must read the same; one read for the first time
  // (only on the first pass) is remembered.
  if (s.batch < s.hashes.size()) {
    if (s.hashes[s.batch] != hash) s.Changed();
  } else {
    s.hashes.push_back(hash);
    for (int k = 0; k < count; ++k) s.total = cb_internal::WrapAdd32(s.total, s.freqs[k]);
  }
  ++s.batch;
  s.next += count;

  if (!s.nameBytes.empty()) {
    s.names.assign(static_cast<std::size_t>(count), nullptr);
    for (int k = 0; k < count; ++k) {
      if (s.nameOffsets[k] != kNoName) s.names[k] = s.nameBytes.data() + s.nameOffsets[k];
    }
    batch->Names = s.names.data();
  }
  batch->Count = count;
  batch->Elements = rows;
  batch->Freqs = s.freqs.get();
  batch->Sums = s.sums.get();
  if (s.next == s.head.Booksize) s.Count();
  return true;
}

void SetReader::Rewind() {
  State& s = *state_;
  if (!s.input->Rewindable()) {
    // A pipe: its records are all in memory, or cannot be had again.
    if (!s.reader->Holds(s.bodyOffset)) s.Changed();
    s.reader->MoveTo(s.bodyOffset);
  } else {
    // A compressed file is decompressed again up to the body; a file whose
    // size or time has changed is not read again.
    s.reader.reset();
    if (!s.input->Seek(s.bodyOffset)) s.Changed();
    s.reader.emplace(*s.input, s.bufferBytes);
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
  SetBatch batch;
  while (reader.Next(
      &batch, CB->ElementBlock.get() + static_cast<std::size_t>(reader.NextRecord()) * dim)) {
    for (int k = 0; k < batch.Count; ++k) {
      CodebookNode& node = CB->Book[batch.First + k];
      if (batch.Names != nullptr && batch.Names[k] != nullptr) {
        node.Name = cb_internal::CopyName(batch.Names[k]);
      }
      node.Freq = batch.Freqs[k];
      node.VectorMean = cb_internal::RoundedMean(batch.Sums[k], dim);
    }
  }
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
  SetBatch batch;
  while (reader.Next(&batch,
                     set->Elements.get() + static_cast<std::size_t>(reader.NextRecord()) * dim)) {
    std::copy_n(batch.Freqs, batch.Count, set->Freqs.get() + batch.First);
    if (batch.Names == nullptr) continue;
    if (set->Names == nullptr) set->Names = std::make_unique<NamePtr[]>(count);
    for (int k = 0; k < batch.Count; ++k) {
      if (batch.Names[k] != nullptr)
        set->Names[batch.First + k] = cb_internal::CopyName(batch.Names[k]);
    }
  }
  head.TotalFreq = reader.Header().TotalFreq;
}
