// Training-set and codebook files: reading versions 1 and 2, writing
// version 2, and finding a file's kind from its name.
//
// A set file is a text head (version line, one integer per line, an
// optional method line, a line of minus signs) and a binary body of node
// records: the name and its NUL (version 2 only), the elements most
// significant byte first (version 1: one byte each), and the frequency in 4
// bytes (version 1: 2 bytes, least significant first).
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "byte_reader.h"
#include "cb_internal.h"
#include "vqpeek/cb.h"
#include "vqpeek/file.h"

using cb_internal::ByteReader;
using cb_internal::FilePtr;
using cb_internal::ReadHeaderLine;

namespace {

constexpr int kMaxNameBytes = 80;  // a name's characters and its NUL

int ReadHeaderInteger(ByteReader& reader) {
  int value = 0;
  if (!reader.ReadInteger(&value)) FatalError("ERROR: Invalid header: a number was expected.\n");
  reader.SkipWhitespace();
  return value;
}

// The first decimal digit of a version line, or -1 when it has none.
int VersionDigit(const char* versionLine) {
  for (const char* c = versionLine; *c != '\0'; ++c) {
    if (*c >= '0' && *c <= '9') return *c - '0';
  }
  return -1;
}

// The version of a set file: the first decimal digit of its version line.
int FileVersion(const char* versionLine) {
  const int value = VersionDigit(versionLine);
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

// Every node takes at least its shortest record, so a head that promises
// more nodes than the file can hold is refused before anything is
// allocated for them.
void RequireBody(ByteReader& reader, const Codebook& CB, int version) {
  const std::uint64_t shortestNode = FieldBytes(CB, version) + (version == 2 ? 1 : 0);
  if (CB.Booksize > 0 &&
      reader.Remaining() / shortestNode < static_cast<std::uint64_t>(CB.Booksize)) {
    FatalError("ERROR: premature end of file\n");
  }
}

// Reads the node records of the body: the elements of node i into
// elements + i * dim, and for every node take(i, name, length, freq, sum),
// with its name (length 0 for none), its frequency and the sum of its
// elements. Sets TotalFreq to the sum of the frequencies, with the warning
// when the header said otherwise.
template <typename TakeNode>
void ReadRecords(ByteReader& reader, Codebook* CB, int version, int* elements, TakeNode&& take) {
  const int dim = VectorDimension(*CB);
  const int width = CB->BytesPerElement;
  const std::size_t fieldBytes = FieldBytes(*CB, version);
  int total = 0;
  for (int i = 0; i < CB->Booksize; ++i) {
    const char* name = nullptr;
    std::size_t length = 0;
    if (version == 2 && reader.Ensure(1 + fieldBytes) >= 1 + fieldBytes &&
        reader.Data()[0] == '\0') {
      reader.Advance(1);  // most vectors have no name: a NUL at once
    } else if (version == 2) {
      const std::size_t window = reader.Ensure(kMaxNameBytes);
      const std::size_t searched = window < kMaxNameBytes ? window : kMaxNameBytes;
      const void* nul = std::memchr(reader.Data(), '\0', searched);
      if (nul == nullptr) {
        if (searched < kMaxNameBytes) FatalError("ERROR: premature end of file\n");
        char tooLong[kMaxNameBytes + 1];
        std::memcpy(tooLong, reader.Data(), kMaxNameBytes);
        tooLong[kMaxNameBytes] = '\0';
        FatalError("ERROR: Too long vector name:\n%*s\nMaximum is %d characters.\n", kMaxNameBytes,
                   tooLong, kMaxNameBytes);
      }
      name = reinterpret_cast<const char*>(reader.Data());
      length = static_cast<const unsigned char*>(nul) - reader.Data();
      // The name stays in the window while its node is taken.
      if (reader.Ensure(length + 1 + fieldBytes) < length + 1 + fieldBytes) {
        FatalError("ERROR: premature end of file\n");
      }
      name = reinterpret_cast<const char*>(reader.Data());
      reader.Advance(length + 1);
    } else if (reader.Ensure(fieldBytes) < fieldBytes) {
      FatalError("ERROR: premature end of file\n");  // the file no longer matches its head
    }
    const unsigned char* bytes = reader.Data();
    const std::int64_t sum =
        DecodeElements(bytes, width, dim, elements + static_cast<std::size_t>(i) * dim);
    const int freq = DecodeFrequency(bytes + fieldBytes - (version == 2 ? 4 : 2), version);
    take(i, name, length, freq, sum);
    total = cb_internal::WrapAdd32(total, freq);
    reader.Advance(fieldBytes);
  }
  if (version == 2 && CB->TotalFreq != total) {
    PrintMessage("WARNING: TotalFreq header field = %d but ", CB->TotalFreq);
    PrintMessage("calculated totalfreq = %d.\n", total);
  }
  CB->TotalFreq = total;
}

// Reads the head of a set file (version line, header integers, method line
// and separator) into the header fields of CB and returns its version.
int ReadHead(ByteReader& reader, Codebook* CB) {
  ReadHeaderLine(reader, CB->Versionstr);
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
    ReadHeaderLine(reader, CB->GenerationMethod);
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

// Opens a set file for reading. Fatal: FileOpen's message and a line end.
FilePtr OpenSetFile(const char* filename) {
  FilePtr file(FileOpen(filename, 1, 0));
  if (file == nullptr) {
    // The open message has no line end of its own; this one ends the run.
    FatalError("\n");
  }
  return file;
}

// Reads the first line of an existing file and returns the kind it names.
int ProbeKind(const char* name) {
  FilePtr file(std::fopen(name, "rb"));
  if (file == nullptr) return kNotRecognized;
  char line[kTextFieldSize];
  if (std::fgets(line, sizeof line, file.get()) == nullptr) return kNotRecognized;
  return RecognizeVersionstr(line);
}

}  // namespace

void ReadCodebook(const char* filename, Codebook* CB) {
  FilePtr file = OpenSetFile(filename);
  ByteReader reader(file.get());
  const int version = ReadHead(reader, CB);
  RequireBody(reader, *CB, version);
  const int dim = VectorDimension(*CB);
  // Every element is set by the read (or the read fails), so the element
  // block is not cleared first.
  cb_internal::AllocateNodes(CB, CB->Booksize, dim, false);
  ReadRecords(reader, CB, version, CB->ElementBlock.get(),
              [CB, dim](int i, const char* name, std::size_t length, int freq, std::int64_t sum) {
                CodebookNode& node = CB->Book[i];
                if (length > 0) node.Name = cb_internal::CopyName(name);
                node.Freq = freq;
                node.VectorMean = cb_internal::RoundedMean(sum, dim);
              });
}

void ReadFlatSet(const char* filename, FlatSet* set) {
  FilePtr file = OpenSetFile(filename);
  ByteReader reader(file.get());
  Codebook& head = set->Header;
  const int version = ReadHead(reader, &head);
  RequireBody(reader, head, version);
  const std::size_t count = static_cast<std::size_t>(head.Booksize);
  // Every element and frequency is written by the read, so nothing is
  // cleared first.
  try {
    set->Elements = std::make_unique_for_overwrite<int[]>(
        count * static_cast<std::size_t>(VectorDimension(head)));
    set->Freqs = std::make_unique_for_overwrite<int[]>(count);
  } catch (const std::bad_alloc&) {
    FatalError("ERROR: Not enough memory for new vector element.\n");
  }
  set->Names.reset();
  ReadRecords(reader, &head, version, set->Elements.get(),
              [set, count](int i, const char* name, std::size_t length, int freq, std::int64_t) {
                set->Freqs[i] = freq;
                if (length == 0) return;
                if (set->Names == nullptr) set->Names = std::make_unique<NamePtr[]>(count);
                set->Names[i] = cb_internal::CopyName(name);
              });
}

namespace {

// Appends `value` as a big-endian field of `width` bytes.
void AppendField(std::string& out, int value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out += static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF);
  }
}

// What the reader could not take back: refused before the file is touched.
bool WritableBody(const Codebook& CB) {
  const int width = CB.BytesPerElement;
  if (width < 1 || width > 4) {
    ErrorMessage("ERROR: Invalid bytes per element (%d).\n", width);
    return false;
  }
  const int dim = VectorDimension(CB);
  for (int i = 0; i < CB.Booksize; ++i) {
    const CodebookNode& node = CB.Book[i];
    if (node.Name != nullptr && std::strlen(node.Name.get()) >= kMaxNameBytes) {
      ErrorMessage("ERROR: Too long vector name:\n%*s\nMaximum is %d characters.\n", kMaxNameBytes,
                   node.Name.get(), kMaxNameBytes);
      return false;
    }
    if (width == 4) continue;
    for (int e = 0; e < dim; ++e) {
      if ((node.Vector[e] >> (8 * width)) > 0) {
        ErrorMessage("ERROR: Vector element value is too big (%d). Increase bytes/elem ratio.",
                     node.Vector[e]);
        return false;
      }
      // A narrow field holds no sign: -1 in one byte would read back as 255.
      if (node.Vector[e] < 0) {
        ErrorMessage("ERROR: Negative vector element value (%d) needs 4 bytes per element.\n",
                     node.Vector[e]);
        return false;
      }
    }
  }
  return true;
}

}  // namespace

void WriteCodebook(const char* filename, Codebook* CB, int overwrite) {
  int total = 0;
  for (int i = 0; i < CB->Booksize; ++i) total = cb_internal::WrapAdd32(total, CB->Book[i].Freq);
  CB->TotalFreq = total;
  if (!WritableBody(*CB)) return;

  // The body is always written in the version-2 layout, so a record read
  // from a version-1 file gets the version-2 line of its kind; under its old
  // line the file would be read back as version 1 and come apart.
  char versionLine[kTextFieldSize];
  std::snprintf(versionLine, sizeof versionLine, "%s", CB->Versionstr);
  const int kind = RecognizeVersionstr(versionLine);
  if (VersionDigit(versionLine) != 2 && (kind == kTrainingSetFile || kind == kCodebookFile)) {
    SetVerString(versionLine, kind);
  }
  if (VersionDigit(versionLine) != 2) {
    ErrorMessage("ERROR: The header line \"%s\" does not name a version-2 set file.\n",
                 versionLine);
    return;
  }

  FileReplacement file(filename, overwrite);
  if (file.stream() == nullptr) return;
  std::string text = std::string(versionLine) + '\n';
  for (const int field : {CB->BlockSizeX, CB->BlockSizeY, CB->Booksize, CB->TotalFreq,
                          CB->BytesPerElement, CB->MinValue, CB->MaxValue, CB->Preprocessing}) {
    text += std::to_string(field) + '\n';
  }
  if (CB->GenerationMethod[0] != '\0') text += std::string(CB->GenerationMethod) + '\n';
  text += std::string(cb_internal::kSeparatorLine) + '\n';

  // The body is built in blocks and written in few calls.
  constexpr std::size_t kBlock = 1 << 20;
  const int dim = VectorDimension(*CB);
  text.reserve(kBlock + 256);
  for (int i = 0; i < CB->Booksize; ++i) {
    const CodebookNode& node = CB->Book[i];
    if (node.Name != nullptr) text += node.Name.get();
    text += '\0';
    for (int e = 0; e < dim; ++e) AppendField(text, node.Vector[e], CB->BytesPerElement);
    AppendField(text, node.Freq, 4);
    if (text.size() >= kBlock) {
      file.Write(text.data(), text.size());
      text.clear();
    }
  }
  file.Write(text.data(), text.size());
  file.Commit();
}

int DetermineCBFileTypeConsideringOrder(char* filename, int order, int capacity) {
  // An empty name names no file; completing it would find hidden files
  // such as ".ts".
  if (filename[0] == '\0') return kNotRecognized;
  if (ExistFile(filename)) {
    const int kind = ProbeKind(filename);
    if (kind != kNotRecognized) return kind;
  }
  char digits[16];
  std::snprintf(digits, sizeof digits, "%d", order);
  for (const char* digit = digits; *digit != '\0'; ++digit) {
    const char* extension = nullptr;
    switch (*digit) {
      case '1':
        extension = "ts";
        break;
      case '2':
        extension = "cb";
        break;
      case '3':
        extension = "pa";
        break;
      default:
        FatalError("ERROR: invalid priority order in DetermineCBFileTypeConsideringOrder: %d\n",
                   order);
    }
    std::string working(filename);
    working.resize(static_cast<std::size_t>(capacity) + 1, '\0');
    CheckFileName(working.data(), extension, static_cast<std::size_t>(capacity));
    if (ExistFile(working.c_str())) {
      const int kind = ProbeKind(working.c_str());
      if (kind != kNotRecognized) {
        std::snprintf(filename, static_cast<std::size_t>(capacity), "%s", working.c_str());
        return kind;
      }
    }
  }
  return kNotRecognized;
}
