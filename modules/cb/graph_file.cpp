// The neighbour graph's text file: header and vector lines, readers and
// writers.
//
// Every file may come from someone else, so the readers never trust a count:
// numbers are clamped to the int range, a header must leave room in the file
// for what it promises before anything is allocated for it, and a line is
// read to its end whatever its length.
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <vector>

#include "byte_reader.h"
#include "cb_internal.h"
#include "vqpeek/cb.h"
#include "vqpeek/file.h"

using cb_internal::ByteReader;
using cb_internal::FilePtr;

namespace {

constexpr int kVersion = 1;

// Beyond the magnitude of every int: accumulating digits stops growing here,
// so no number text, however long, can overflow.
constexpr std::int64_t kSaturated = std::int64_t{1} << 32;

// The whitespace of scanf and strtol in the "C" locale.
bool IsBlank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDecimal(int c) { return c >= '0' && c <= '9'; }

std::int64_t AddDigit(std::int64_t magnitude, int base, int digit) {
  const std::int64_t next = magnitude * base + digit;
  return next < kSaturated ? next : kSaturated;
}

int ClampToInt(bool negative, std::int64_t magnitude) {
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

// Matches `text` as a scanf format without conversions: a blank matches any
// run of white space, including none; every other character itself.
bool MatchText(ByteReader& reader, const char* text) {
  for (; *text != '\0'; ++text) {
    if (*text == ' ') {
      reader.SkipWhitespace();
    } else if (reader.Peek() == static_cast<unsigned char>(*text)) {
      reader.Advance(1);
    } else {
      return false;
    }
  }
  return true;
}

// Reads the head into `counts` (NumberVectors, K, Dim) and passes the dash
// line and the one character after it (its newline). The version number is
// read and not used.
bool ReadHead(ByteReader& reader, int counts[3]) {
  if (!MatchText(reader, "Graph v. ")) return false;
  int version = 0;
  reader.ReadInteger(&version);
  for (int i = 0; i < 3; ++i) {
    if (!reader.ReadInteger(&counts[i])) return false;
    reader.SkipWhitespace();
  }
  while (reader.Peek() == '-') reader.Advance(1);
  reader.Get();
  return true;
}

// Whether `remaining` bytes can hold `numberVectors` complete vector lines:
// the shortest line with n numbers is "0 0 ... 0\n", 2n bytes, and a line
// with none is 1 byte. Without this, a header of a few bytes could make the
// reader allocate gigabytes.
bool RoomForVectors(std::uint64_t remaining, int numberVectors, int k, int dim) {
  const std::uint64_t numbers = static_cast<std::uint64_t>(k) + static_cast<std::uint64_t>(dim);
  const std::uint64_t lineBytes = numbers > 0 ? 2 * numbers : 1;
  return static_cast<std::uint64_t>(numberVectors) <= remaining / lineBytes;
}

// Reads the numbers of one line (see ReadGraphVectorFromFile), keeping at
// most `wanted` of them. Returns false when the stream ends before the line
// does.
bool ReadLineNumbers(FILE* file, std::int64_t wanted, std::vector<int>* values) {
  const auto keep = [&](int value) {
    if (static_cast<std::int64_t>(values->size()) < wanted) values->push_back(value);
  };
  int c = std::getc(file);
  while (true) {
    if (c == EOF) return false;
    if (c == '\n') return true;
    if (c == '\0') {
      // The line's text ends here; the rest of the line is passed over.
      while ((c = std::getc(file)) != EOF && c != '\n') {
      }
      return c == '\n';
    }
    if (IsBlank(c)) {
      c = std::getc(file);
      continue;
    }
    const bool hasSign = c == '+' || c == '-';
    const bool negative = c == '-';
    int next = hasSign ? std::getc(file) : c;
    if (!IsDecimal(next)) {
      // Not a number: it counts as 0, and only its first character is
      // stepped over (a sign before a non-digit is that character).
      keep(0);
      c = hasSign ? next : std::getc(file);
      continue;
    }
    std::int64_t magnitude = 0;
    while (IsDecimal(next)) {
      magnitude = AddDigit(magnitude, 10, next - '0');
      next = std::getc(file);
    }
    keep(ClampToInt(negative, magnitude));
    // The one character after a number is a separator and is stepped over,
    // unless it ends the line or its text.
    c = (next == EOF || next == '\n' || next == '\0') ? next : std::getc(file);
  }
}

// Drops what is left of the current line.
void SkipLine(FILE* file) {
  int c;
  while ((c = std::getc(file)) != EOF && c != '\n') {
  }
}

// Collects text and writes it in large pieces.
class LineWriter {
 public:
  explicit LineWriter(FILE* file) : file_(file) {}
  LineWriter(const LineWriter&) = delete;
  LineWriter& operator=(const LineWriter&) = delete;

  // Appends the number and one blank.
  void Number(int value) {
    if (kCapacity - length_ < kRoomForNumber) Flush();
    char* end = std::to_chars(buffer_ + length_, buffer_ + kCapacity, value).ptr;
    *end++ = ' ';
    length_ = static_cast<int>(end - buffer_);
  }
  void Newline() {
    if (length_ == kCapacity) Flush();
    buffer_[length_++] = '\n';
  }
  // Writes what is collected. Returns false when anything failed to write.
  bool Flush() {
    if (length_ > 0 &&
        std::fwrite(buffer_, 1, length_, file_) != static_cast<std::size_t>(length_)) {
      failed_ = true;
    }
    length_ = 0;
    return !failed_;
  }

 private:
  static constexpr int kCapacity = 4096;
  static constexpr int kRoomForNumber = 12;  // "-2147483648 "
  FILE* file_;
  char buffer_[kCapacity];
  int length_ = 0;
  bool failed_ = false;
};

}  // namespace

// --- Writing ---

int WriteGraphkFileHeader(FILE* file, const Graph* graph) {
  const int written =
      std::fprintf(file, "Graph v. %d\n%d\n%d\n%d\n%s\n", kVersion, graph->NumberVectors, graph->K,
                   graph->Dim, cb_internal::kSeparatorLine);
  return written < 0 ? 1 : 0;
}

int WriteGraphVectorToFile(FILE* file, const Graph* graph, const GraphVector* vector) {
  // Entries the vector does not hold (an empty slot, or counts raised after
  // the vector was made) are written as 0, so that every line has Dim + K
  // numbers and the file reads back with the same line numbering.
  LineWriter line(file);
  for (int i = 0; i < graph->Dim; ++i) {
    line.Number(vector != nullptr && i < vector->AllocatedDim ? vector->Coord[i] : 0);
  }
  for (int i = 0; i < graph->K; ++i) {
    line.Number(vector != nullptr && i < vector->AllocatedK ? vector->NN[i] : 0);
  }
  line.Newline();
  return line.Flush() ? 0 : 1;
}

int GraphWrite(const char* path, const Graph* graph, int overwrite) {
  // A negative count would give a file that no reader accepts.
  if (graph == nullptr || graph->NumberVectors < 0 || graph->K < 0 || graph->Dim < 0) return 1;
  FileReplacement file(path, overwrite);
  if (file.stream() == nullptr) return 1;
  int failed = WriteGraphkFileHeader(file.stream(), graph);
  for (int i = 0; i < graph->NumberVectors && failed == 0; ++i) {
    failed = WriteGraphVectorToFile(file.stream(), graph, graph->Vectors[i].get());
  }
  if (failed != 0) file.Fail(errno);
  file.Commit();
  return 0;
}

// --- Reading ---

int readline(FILE* file, char* buffer) {
  int length = 0;
  int c;
  while ((c = std::getc(file)) != EOF) {
    if (length < kGraphLineBufferSize - 1) buffer[length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[length] = '\0';
  return c == '\n' ? 0 : 1;
}

GraphPtr ReadGraphFileHeader(FILE* file) {
  // The head is parsed from memory, and the stream then put back to where
  // the head ends, so that the vector lines are read from there. A stream
  // that cannot be put back cannot tell its size either, and is refused.
  const long start = std::ftell(file);
  if (start < 0) return nullptr;
  ByteReader reader(file);
  int counts[3] = {0, 0, 0};
  const bool read = ReadHead(reader, counts);
  const std::uint64_t remaining = reader.Remaining();
  if (std::fseek(file, start + static_cast<long>(reader.Consumed()), SEEK_SET) != 0 || !read) {
    return nullptr;
  }
  const int numberVectors = counts[0];
  const int k = counts[1];
  const int dim = counts[2];
  if (numberVectors < 0 || k < 0 || dim < 0) return nullptr;
  if (!RoomForVectors(remaining, numberVectors, k, dim)) return nullptr;
  return AllocateMemoryForGraph(numberVectors, k, dim);
}

GraphVectorPtr ReadGraphVectorFromFile(FILE* file, const Graph* graph, int index) {
  const std::int64_t wanted =
      (graph->Dim > 0 ? std::int64_t{graph->Dim} : 0) + (graph->K > 0 ? graph->K : 0);
  std::vector<int> values;
  try {
    if (!ReadLineNumbers(file, wanted, &values)) return nullptr;
  } catch (const std::bad_alloc&) {
    // Out of memory in the middle of a line: the line is dropped like one
    // whose vector cannot be made.
    SkipLine(file);
    std::puts("Allocate error: AllocateMemoryForGraphVector()");
    return nullptr;
  }
  GraphVectorPtr vector = AllocateMemoryForGraphVector(graph, index);
  if (vector == nullptr) return nullptr;
  const std::int64_t count = static_cast<std::int64_t>(values.size());
  for (std::int64_t i = 0; i < count; ++i) {
    if (i < graph->Dim) {
      vector->Coord[i] = values[i];
    } else {
      vector->NN[i - graph->Dim] = values[i];
    }
  }
  return vector;
}

int IsGraphFile(const char* path) {
  FilePtr file(FileOpen(path, 1, 0));
  if (file == nullptr) return 0;
  return ReadGraphFileHeader(file.get()) != nullptr ? 1 : 0;
}

GraphPtr GraphRead(const char* path) {
  FilePtr file(FileOpen(path, 1, 0));
  if (file == nullptr) return nullptr;
  GraphPtr graph = ReadGraphFileHeader(file.get());
  if (graph == nullptr) return nullptr;
  for (int i = 0; i < graph->NumberVectors; ++i) {
    graph->Vectors[i] = ReadGraphVectorFromFile(file.get(), graph.get(), i);
  }
  file.reset();

  // The maximum starts at 0, so it never falls below 0; empty slots are
  // passed over.
  int maxCoord = 0;
  int minCoord = INT_MAX;
  for (int i = 0; i < graph->NumberVectors; ++i) {
    const GraphVector* vector = graph->Vectors[i].get();
    if (vector == nullptr) continue;
    for (int j = 0; j < vector->AllocatedDim; ++j) {
      if (vector->Coord[j] > maxCoord) maxCoord = vector->Coord[j];
      if (vector->Coord[j] < minCoord) minCoord = vector->Coord[j];
    }
  }
  graph->MaxCoord = maxCoord;
  graph->MinCoord = minCoord;
  return graph;
}
