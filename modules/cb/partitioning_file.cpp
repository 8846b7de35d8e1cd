// The partitioning file: a text head (header line, partition count,
// training-set size, an optional description line, a line of minus signs)
// and one line per training vector with its 1-based partition and, for a
// named vector, a blank and the name.
#include <cstdio>
#include <memory>
#include <new>
#include <string>

#include "byte_reader.h"
#include "cb.h"
#include "cb_internal.h"
#include "file.h"

using cb_internal::ByteReader;
using cb_internal::Fatal;
using cb_internal::FilePtr;

namespace {

constexpr int kSeparatorLength = 37;

// A count of the head and the white space after it, as "%i\n" reads it.
int ReadHeadCount(ByteReader& reader) {
  int value = 0;
  if (!reader.ReadInteger(&value)) Fatal("ERROR reading partitioning.\n");
  reader.SkipWhitespace();
  return value;
}

// Drops the rest of an index line (a vector name) and its line end.
void SkipRestOfLine(ByteReader& reader) {
  for (int c = reader.Get(); c != EOF && c != '\n'; c = reader.Get()) {
  }
}

// Reads an index line: the index as "%i" reads it, and the rest of the line
// is dropped. Returns false when no number starts the line. The usual line,
// up to nine decimal digits and a line end, is read without the general
// number reader.
bool ReadIndexLine(ByteReader& reader, int* index) {
  constexpr std::size_t kMaxDigits = 9;
  const std::size_t available = reader.Ensure(kMaxDigits + 1);
  const unsigned char* line = reader.Data();
  if (available > 0 && line[0] >= '1' && line[0] <= '9') {
    int value = line[0] - '0';
    std::size_t length = 1;
    for (; length < available && length < kMaxDigits && line[length] >= '0' && line[length] <= '9';
         ++length) {
      value = value * 10 + (line[length] - '0');
    }
    if (length < available && line[length] == '\n') {
      reader.Advance(length + 1);
      *index = value;
      return true;
    }
  }
  if (!reader.ReadInteger(index)) return false;
  SkipRestOfLine(reader);
  return true;
}

}  // namespace

void ReadPartitioning(const char* filename, Partitioning* P, const Codebook* TS) {
  FilePtr file(FileOpen(filename, 1, 0));
  if (file == nullptr) {
    // The open message has no line end of its own; this one ends the run.
    Fatal("\n");
  }
  ByteReader reader(file.get());

  // The header's text is not examined: the caller has established the kind
  // of the file, and the record gets the partitioning version string anyway.
  char header[kTextFieldSize];
  cb_internal::ReadHeaderLine(reader, header);

  // A partitioning needs a partition, and every partition beyond the number
  // of training vectors would stay empty. Checking before the record is made
  // keeps a hostile count from costing an allocation of its size.
  const int count = ReadHeadCount(reader);
  const int limit = TS->Booksize > 1 ? TS->Booksize : 1;
  if (count < 1 || count > limit) Fatal("ERROR: Invalid number of partitions (%d).\n", count);
  CreateNewPartitioning(P, TS, count);

  const int size = ReadHeadCount(reader);
  if (size != TS->Booksize) {
    Fatal("ERROR: Partitioning is not for this training set (%d != %d).\n", size, TS->Booksize);
  }

  // The description is present exactly when the separator does not follow;
  // a description that begins with "-" is therefore taken for it.
  if (reader.Peek() != '-') cb_internal::ReadHeaderLine(reader, P->GenerationMethod);
  while (reader.Peek() == '-') reader.Advance(1);
  reader.Get();

  // Every index line is read and checked first; then vector i joins the
  // head of its partition's list in ascending order of i, so every list
  // ends up running from the highest vector index to the lowest.
  std::unique_ptr<int[]> target;
  try {
    target = std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(TS->Booksize));
  } catch (const std::bad_alloc&) {
    Fatal("ERROR: Not enough memory for the partitioning.\n");
  }
  cb_internal::PrefaultPages(target.get(), static_cast<std::size_t>(TS->Booksize) * sizeof(int));
  for (int i = 0; i < TS->Booksize; ++i) {
    int index = 0;
    if (!ReadIndexLine(reader, &index)) Fatal("ERROR reading partitioning.\n");
    if (index < 1 || index > count) Fatal("ERROR: Invalid partition index (%d) found.\n", index);
    target[i] = index - 1;
  }
  cb_internal::MoveInBulk(*TS, P, target.get(), true);
}

void WritePartitioning(const char* filename, const Partitioning* P, const Codebook* TS,
                       int overwrite) {
  FilePtr file(FileOpen(filename, 0, overwrite));
  if (file == nullptr) return;
  std::fprintf(file.get(), "%s\n%i\n%i\n", P->Versionstr, P->PartitionCount, P->TSsize);
  if (P->GenerationMethod[0] != '\0') std::fprintf(file.get(), "%s\n", P->GenerationMethod);
  std::fprintf(file.get(), "%s\n", std::string(kSeparatorLength, '-').c_str());
  if (P->TSsize != TS->Booksize) {
    Fatal("ERROR: Partitioning is not for this training set (%d != %d).\n", P->TSsize,
          TS->Booksize);
  }

  // The index lines are built in blocks and written in few calls. A vector
  // in no partition (Map -1) comes out as 0, which no reader accepts.
  constexpr std::size_t kBlock = 1 << 20;
  std::string lines;
  lines.reserve(kBlock + 128);
  bool failed = false;
  char number[16];
  for (int i = 0; i < P->TSsize && !failed; ++i) {
    const int length = std::snprintf(number, sizeof number, "%i", P->Map[i] + 1);
    lines.append(number, static_cast<std::size_t>(length));
    const char* name = TS->Book[i].Name.get();
    if (name != nullptr && name[0] != '\0') {
      lines += ' ';
      lines += name;
    }
    lines += '\n';
    if (lines.size() >= kBlock || i + 1 == P->TSsize) {
      failed = std::fwrite(lines.data(), 1, lines.size(), file.get()) != lines.size();
      lines.clear();
    }
  }
  if (failed || std::fflush(file.get()) != 0) ErrorMessage("ERROR: unable to write to file.");
}
