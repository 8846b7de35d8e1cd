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

#include "vqpeek/cb.h"
#include "vqpeek/file.h"

namespace {

struct FileCloser {
  void operator()(FILE* file) const noexcept { std::fclose(file); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

constexpr int kVersion = 1;
constexpr char kDashLine[] = "-------------------------------------";

// Beyond the magnitude of every int: accumulating digits stops growing here,
// so no number text, however long, can overflow.
constexpr std::int64_t kSaturated = std::int64_t{1} << 32;

// The whitespace of scanf and strtol in the "C" locale.
bool IsBlank(int c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDecimal(int c) { return c >= '0' && c <= '9'; }

// The value of a digit in bases up to 16, or 16 for anything else.
int DigitValue(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 16;
}

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

void PushBack(FILE* file, int c) {
  if (c != EOF) std::ungetc(c, file);
}

void SkipBlanks(FILE* file) {
  int c;
  while ((c = std::getc(file)) != EOF && IsBlank(c)) {
  }
  PushBack(file, c);
}

// Matches `text` as a scanf format without conversions: a blank matches any
// run of whitespace, including none; every other character itself.
bool MatchText(FILE* file, const char* text) {
  for (; *text != '\0'; ++text) {
    if (*text == ' ') {
      SkipBlanks(file);
      continue;
    }
    const int c = std::getc(file);
    if (c != static_cast<unsigned char>(*text)) {
      PushBack(file, c);
      return false;
    }
  }
  return true;
}

// Reads an integer as scanf's "%i" does: leading whitespace, an optional
// sign, then "0x" and hexadecimal digits, "0" and octal digits, or decimal
// digits. "0x" without a hexadecimal digit after it reads as 0. Returns false
// when no number is there; like scanf, it keeps what it consumed before it
// found out (a lone sign).
bool ScanInteger(FILE* file, int* value) {
  SkipBlanks(file);
  int c = std::getc(file);
  bool negative = false;
  if (c == '+' || c == '-') {
    negative = c == '-';
    c = std::getc(file);
  }
  int base = 10;
  if (c == '0') {
    c = std::getc(file);
    base = 8;
    if (c == 'x' || c == 'X') {
      base = 16;
      c = std::getc(file);
    }
  } else if (!IsDecimal(c)) {
    PushBack(file, c);
    return false;
  }
  std::int64_t magnitude = 0;
  while (DigitValue(c) < base) {
    magnitude = AddDigit(magnitude, base, DigitValue(c));
    c = std::getc(file);
  }
  PushBack(file, c);
  *value = ClampToInt(negative, magnitude);
  return true;
}

// The bytes from the current position to the end of the stream, or -1 when
// the stream cannot tell (it cannot seek).
long RemainingBytes(FILE* file) {
  const long here = std::ftell(file);
  if (here < 0 || std::fseek(file, 0, SEEK_END) != 0) return -1;
  const long end = std::ftell(file);
  if (std::fseek(file, here, SEEK_SET) != 0 || end < here) return -1;
  return end - here;
}

// Whether `remaining` bytes can hold `numberVectors` complete vector lines:
// the shortest line with n numbers is "0 0 ... 0\n", 2n bytes, and a line
// with none is 1 byte. Without this, a header of a few bytes could make the
// reader allocate gigabytes.
bool RoomForVectors(long remaining, int numberVectors, int k, int dim) {
  const std::int64_t numbers = std::int64_t{k} + dim;
  const std::int64_t lineBytes = numbers > 0 ? 2 * numbers : 1;
  return numberVectors <= remaining / lineBytes;
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
  const int written = std::fprintf(file, "Graph v. %d\n%d\n%d\n%d\n%s\n", kVersion,
                                   graph->NumberVectors, graph->K, graph->Dim, kDashLine);
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
  if (!MatchText(file, "Graph v. ")) return nullptr;
  int version = 0;
  ScanInteger(file, &version);  // read and not used

  int numberVectors = 0;
  int k = 0;
  int dim = 0;
  for (int* count : {&numberVectors, &k, &dim}) {
    if (!ScanInteger(file, count)) return nullptr;
    SkipBlanks(file);
  }
  // The dash line, and the one character after it (its newline).
  int c;
  while ((c = std::getc(file)) == '-') {
  }

  if (numberVectors < 0 || k < 0 || dim < 0) return nullptr;
  const long remaining = RemainingBytes(file);
  if (remaining < 0 || !RoomForVectors(remaining, numberVectors, k, dim)) return nullptr;
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
