// The partitioning file: a text head (header line, partition count,
// training-set size, an optional description line, a line of minus signs)
// and one line per training vector with its 1-based partition and, for a
// named vector, a blank and the name.
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "byte_reader.h"
#include "cb_internal.h"
#include "vqpeek/cb.h"
#include "vqpeek/file.h"

using cb_internal::ByteReader;

namespace {

// A count of the head and the white space after it, as "%i\n" reads it.
int ReadHeadCount(ByteReader& reader) {
  int value = 0;
  if (!reader.ReadInteger(&value)) FatalError("ERROR reading partitioning.\n");
  reader.SkipWhitespace();
  return value;
}

// Drops the rest of an index line (a vector name) and its line end.
void SkipRestOfLine(ByteReader& reader) {
  for (int c = reader.Get(); c != EOF && c != '\n'; c = reader.Get()) {
  }
}

// Reads an index line: the index as "%i" reads it, and the rest of the line
// is dropped. Returns false when no number starts the line.
bool ReadIndexLine(ByteReader& reader, int* index) {
  // The common line, a number and its line end, is taken from memory in one
  // step; anything else (white space, a name, the end of the window) the
  // general way.
  constexpr std::size_t kShortLine = 16;
  const std::size_t available = reader.Ensure(kShortLine);
  const unsigned char* line = reader.Data();
  const unsigned char* stop = cb_internal::ParseInteger(line, line + available, index);
  if (stop != line && stop < line + available && *stop == '\n') {
    reader.Advance(static_cast<std::size_t>(stop - line) + 1);
    return true;
  }
  if (!reader.ReadInteger(index)) return false;
  SkipRestOfLine(reader);
  return true;
}

// Reads a partitioning file for a training set of `size` vectors:
// prepare(count) once both counts are read and the training-set size is
// checked; method(), which returns where the description goes, before it is
// read; begin(bytes) before the first index line, with the bytes left in
// the file (-1 where the stream cannot tell); take(i, partition) for every
// vector i in ascending order. The one parser of the file, so that every
// reader reports the same errors in the same order. With `namesTheEnd` a
// file that ends before its last index line says so in its message.
template <typename Prepare, typename Method, typename Begin, typename Take>
int ReadPartitioningFile(const char* filename, int size, bool namesTheEnd, Prepare&& prepare,
                         Method&& method, Begin&& begin, Take&& take) {
  const std::unique_ptr<InputFile> input = InputFile::Open(filename);
  if (input == nullptr) {
    // The open message has no line end of its own; this one ends the run.
    FatalError("\n");
  }
  ByteReader reader(*input);

  // The header's text is not examined: the caller has established the kind
  // of the file, and the record gets the partitioning version string anyway.
  char header[kTextFieldSize];
  cb_internal::ReadHeaderLine(reader, header);

  // Both counts are read and the set size checked before the record takes
  // any memory, so that a file for another set is refused as such at once,
  // whatever count it claims. Any count from 1 up is valid: partitions that
  // no vector names stay empty (a codebook larger than the training set
  // gives such files). The record refuses a count that the machine could
  // never hold before it allocates anything.
  const int count = ReadHeadCount(reader);
  const int stated = ReadHeadCount(reader);
  if (stated != size) {
    FatalError("ERROR: Partitioning is not for this training set (%d != %d).\n", stated, size);
  }
  prepare(count);

  // The description is present exactly when the separator does not follow;
  // a description that begins with "-" is therefore taken for it.
  if (reader.Peek() != '-') cb_internal::ReadHeaderLine(reader, method());
  while (reader.Peek() == '-') reader.Advance(1);
  reader.Get();

  begin(reader.KnownRemaining());
  for (int i = 0; i < size; ++i) {
    int index = 0;
    if (!ReadIndexLine(reader, &index)) {
      if (namesTheEnd && reader.Peek() == EOF) {
        FatalError(
            "ERROR reading partitioning: the file ends after %d of the %d vectors its "
            "head states.\n",
            i, size);
      }
      FatalError("ERROR reading partitioning.\n");
    }
    if (index < 1 || index > count)
      FatalError("ERROR: Invalid partition index (%d) found.\n", index);
    take(i, index - 1);
  }
  return count;
}

}  // namespace

void ReadPartitioning(const char* filename, Partitioning* P, const Codebook* TS) {
  // Every index line is read and checked first; then vector i joins the
  // head of its partition's list in ascending order of i, so every list
  // ends up running from the highest vector index to the lowest.
  std::unique_ptr<int[]> target;
  ReadPartitioningFile(
      filename, TS->Booksize, false, [&](int count) { CreateNewPartitioning(P, TS, count); },
      [&] { return P->GenerationMethod; },
      [&](std::int64_t) {
        try {
          target = std::make_unique_for_overwrite<int[]>(static_cast<std::size_t>(TS->Booksize));
        } catch (const std::bad_alloc&) {
          FatalError("ERROR: Not enough memory for the partitioning.\n");
        }
        cb_internal::PrefaultPages(target.get(),
                                   static_cast<std::size_t>(TS->Booksize) * sizeof(int));
      },
      [&](int i, int partition) { target[i] = partition; });
  cb_internal::MoveInBulk(*TS, P, target.get(), true);
}

int ReadPartitionLabels(const char* filename, const Codebook& TS, int* labels) {
  char method[kTextFieldSize];
  return ReadPartitioningFile(
      filename, TS.Booksize, false,
      [&](int count) {
        // The checks of a new partitioning, for the totals of its partitions
        // alone: nothing is held per vector.
        if (count < 1) FatalError("ERROR: Invalid number of partitions (%d).\n", count);
        cb_internal::RequirePartitionMemory(count, VectorDimension(TS), 0);
      },
      [&] { return method; }, [](std::int64_t) {},
      [&](int i, int partition) {
        if (labels != nullptr) labels[i] = partition;
      });
}

int ReadPartitionLabels(const char* filename, int size, std::vector<int>* labels, char* method) {
  labels->clear();
  return ReadPartitioningFile(
      filename, size, true,
      [&](int count) {
        if (count < 1) FatalError("ERROR: Invalid number of partitions (%d).\n", count);
      },
      [&] { return method; },
      [&](std::int64_t bytes) {
        // Every vector takes a line of at least two bytes (the last one's
        // line end may be missing): room for what the file can hold, and
        // more as the lines of a stream of unknown length come.
        if (bytes < 0 || size <= 0) return;
        const std::int64_t fit = std::min<std::int64_t>(size, (bytes + 1) / 2);
        try {
          labels->reserve(static_cast<std::size_t>(fit));
        } catch (const std::bad_alloc&) {
          FatalError("ERROR: Not enough memory for the partitioning.\n");
        }
      },
      [&](int, int partition) {
        // The lines, not the head, decide how much is held.
        try {
          labels->push_back(partition);
        } catch (const std::bad_alloc&) {
          FatalError("ERROR: Not enough memory for the partitioning.\n");
        }
      });
}

void WritePartitioning(const char* filename, const Partitioning* P, const Codebook* TS,
                       int overwrite) {
  // A vector in no partition has no index line that a reader accepts, so
  // such a record is refused before the file is touched.
  for (int i = 0; i < P->TSsize; ++i) {
    if (P->Map[i] < 0) {
      FatalError(
          "ERROR: Training vector %d is in no partition; a partitioning file must place "
          "every vector.\n",
          i);
    }
  }
  FileReplacement file(filename, overwrite);
  if (file.stream() == nullptr) return;
  if (P->TSsize != TS->Booksize) {
    file.Abandon();
    FatalError("ERROR: Partitioning is not for this training set (%d != %d).\n", P->TSsize,
               TS->Booksize);
  }
  cb_internal::PartitioningText text(file, P->Versionstr, P->PartitionCount, P->TSsize,
                                     P->GenerationMethod);
  for (int i = 0; i < P->TSsize; ++i) text.Add(P->Map[i], TS->Book[i].Name.get());
  text.Finish();
  file.Commit();
}

namespace cb_internal {

PartitioningText::PartitioningText(FileReplacement& file, const char* version, int partitions,
                                   int vectors, const char* method)
    : file_(file) {
  lines_.reserve(kBlock + 128);
  lines_ += std::string(version) + '\n' + std::to_string(partitions) + '\n' +
            std::to_string(vectors) + '\n';
  if (method != nullptr && method[0] != '\0') lines_ += std::string(method) + '\n';
  lines_ += std::string(kSeparatorLine) + '\n';
}

void PartitioningText::Add(int partition, const char* name) {
  char number[16];
  char* end = std::to_chars(number, number + sizeof number, partition + 1).ptr;
  lines_.append(number, static_cast<std::size_t>(end - number));
  if (name != nullptr && name[0] != '\0') {
    lines_ += ' ';
    lines_ += name;
  }
  lines_ += '\n';
  if (lines_.size() >= kBlock) {
    file_.Write(lines_.data(), lines_.size());
    lines_.clear();
  }
}

void PartitioningText::Finish() {
  file_.Write(lines_.data(), lines_.size());
  lines_.clear();
}

}  // namespace cb_internal
