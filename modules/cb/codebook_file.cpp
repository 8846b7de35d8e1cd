// Training-set and codebook files: writing version 2, and finding a file's
// kind from its name. The reader is in set_reader.cpp.
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "cb_internal.h"
#include "vqpeek/cb.h"
#include "vqpeek/file.h"

namespace {

using cb_internal::kMaxNameBytes;

// A compressed regular file whose first line names no kind may be damaged
// right there: it is read to its end, so that damage is reported as such
// and not as a file of no kind. (A pipe is left alone: what was read of it
// waits for its reader.)
void CheckCompressedFile(const char* name) {
  struct stat info {};
  if (std::strcmp(name, "-") == 0 || stat(name, &info) != 0 || !S_ISREG(info.st_mode)) return;
  const std::unique_ptr<InputFile> input = InputFile::Open(name);
  if (input == nullptr || input->compression() == Compression::kNone) return;
  std::vector<unsigned char> block(std::size_t{1} << 16);
  while (input->Read(block.data(), block.size()) > 0) {
  }
}

// Reads the first line of a file (at most 79 characters) and returns the
// kind it names; 0 when there is no such file or nothing can be read. A
// pipe or standard input keeps what was read for its reader (PeekInput).
int ProbeKind(const char* name) {
  std::string line;
  if (!PeekInput(name, std::size_t{kTextFieldSize - 1}, &line)) return kNotRecognized;
  // As far as a line reader would take it: to the line end or a NUL.
  const std::size_t end = std::min(line.find('\n'), line.find('\0'));
  if (end < line.size()) line.resize(end);
  const int kind = RecognizeVersionstr(line.c_str());
  if (kind == kNotRecognized) CheckCompressedFile(name);
  return kind;
}

// The endings of a compressed file, tried after every plain name.
constexpr const char* kCompressedEndings[] = {".gz", ".zst"};

// Appends `value` as a big-endian field of `width` bytes.
void AppendField(std::string& out, int value, int width) {
  for (int i = width - 1; i >= 0; --i) {
    out += static_cast<char>((static_cast<std::uint32_t>(value) >> (8 * i)) & 0xFF);
  }
}

// The records of a set to be written, as a writer reads them: the nodes
// of a record, or flat rows of an element type of any width with
// frequencies and names beside them.
struct NodeRecords {
  const CodebookNode* nodes;
  const char* Name(int i) const { return nodes[i].Name.get(); }
  const int* Row(int i) const { return nodes[i].Vector.get(); }
  int Freq(int i) const { return nodes[i].Freq; }
};

template <typename Element>
struct FlatRecords {
  const Element* elements;
  std::size_t dim;
  const int* freqs;
  const char* const* names;  // null: no names
  const char* Name(int i) const { return names != nullptr ? names[i] : nullptr; }
  const Element* Row(int i) const { return elements + static_cast<std::size_t>(i) * dim; }
  int Freq(int i) const { return freqs[i]; }
};

// What the reader could not take back: refused before the file is touched.
template <typename Records>
bool WritableBody(const Codebook& CB, const Records& records) {
  const int width = CB.BytesPerElement;
  if (width < 1 || width > 4) {
    ErrorMessage("ERROR: Invalid bytes per element (%d).\n", width);
    return false;
  }
  const int dim = VectorDimension(CB);
  for (int i = 0; i < CB.Booksize; ++i) {
    const char* name = records.Name(i);
    if (name != nullptr && std::strlen(name) >= kMaxNameBytes) {
      ErrorMessage("ERROR: Too long vector name:\n%*s\nMaximum is %d characters.\n", kMaxNameBytes,
                   name, kMaxNameBytes);
      return false;
    }
    if (width == 4) continue;
    const auto* row = records.Row(i);
    for (int e = 0; e < dim; ++e) {
      const int value = row[e];
      if ((value >> (8 * width)) > 0) {
        ErrorMessage("ERROR: Vector element value is too big (%d). Increase bytes/elem ratio.",
                     value);
        return false;
      }
      // A narrow field holds no sign: -1 in one byte would read back as 255.
      if (value < 0) {
        ErrorMessage("ERROR: Negative vector element value (%d) needs 4 bytes per element.\n",
                     value);
        return false;
      }
    }
  }
  return true;
}

template <typename Records>
void WriteSetFile(const char* filename, Codebook* CB, const Records& records, int overwrite) {
  int total = 0;
  for (int i = 0; i < CB->Booksize; ++i) total = cb_internal::WrapAdd32(total, records.Freq(i));
  CB->TotalFreq = total;
  if (!WritableBody(*CB, records)) return;

  // The body is always written in the version-2 layout, so a record read
  // from a version-1 file gets the version-2 line of its kind; under its old
  // line the file would be read back as version 1 and come apart.
  char versionLine[kTextFieldSize];
  std::snprintf(versionLine, sizeof versionLine, "%s", CB->Versionstr);
  const int kind = RecognizeVersionstr(versionLine);
  if (cb_internal::VersionDigit(versionLine) != 2 &&
      (kind == kTrainingSetFile || kind == kCodebookFile)) {
    SetVerString(versionLine, kind);
  }
  if (cb_internal::VersionDigit(versionLine) != 2) {
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
    const char* name = records.Name(i);
    if (name != nullptr) text += name;
    text += '\0';
    const auto* row = records.Row(i);
    for (int e = 0; e < dim; ++e) AppendField(text, row[e], CB->BytesPerElement);
    AppendField(text, records.Freq(i), 4);
    if (text.size() >= kBlock) {
      file.Write(text.data(), text.size());
      text.clear();
    }
  }
  file.Write(text.data(), text.size());
  file.Commit();
}

template <typename Element>
void WriteFlatRows(const char* filename, Codebook* header, const Element* elements,
                   const int* freqs, const char* const* names, int overwrite) {
  const FlatRecords<Element> records{elements, static_cast<std::size_t>(VectorDimension(*header)),
                                     freqs, names};
  WriteSetFile(filename, header, records, overwrite);
}

}  // namespace

void WriteCodebook(const char* filename, Codebook* CB, int overwrite) {
  WriteSetFile(filename, CB, NodeRecords{CB->Book.get()}, overwrite);
}

void WriteFlatSet(const char* filename, Codebook* header, const std::uint8_t* elements,
                  const int* freqs, const char* const* names, int overwrite) {
  WriteFlatRows(filename, header, elements, freqs, names, overwrite);
}

void WriteFlatSet(const char* filename, Codebook* header, const std::uint16_t* elements,
                  const int* freqs, const char* const* names, int overwrite) {
  WriteFlatRows(filename, header, elements, freqs, names, overwrite);
}

void WriteFlatSet(const char* filename, Codebook* header, const int* elements, const int* freqs,
                  const char* const* names, int overwrite) {
  WriteFlatRows(filename, header, elements, freqs, names, overwrite);
}

int DetermineCBFileTypeConsideringOrder(char* filename, int order, int capacity) {
  // An empty name names no file; completing it would find hidden files
  // such as ".ts".
  if (filename[0] == '\0') return kNotRecognized;
  // Standard input has no other name.
  if (std::strcmp(filename, "-") == 0) return ProbeKind(filename);
  // The names tried: the name itself, its completions in the order's
  // priority, and then each of these with a compressed file's ending.
  std::vector<std::string> tried = {filename};
  const auto found = [&](const std::string& name) {
    const int kind = ProbeKind(name.c_str());
    if (kind != kNotRecognized)
      std::snprintf(filename, static_cast<std::size_t>(capacity), "%s", name.c_str());
    return kind;
  };
  if (const int kind = ProbeKind(filename); kind != kNotRecognized) return kind;
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
    working.resize(std::strlen(working.c_str()));
    // A name tried already (a name with an extension is not completed)
    // would give the same answer again.
    if (std::find(tried.begin(), tried.end(), working) != tried.end()) continue;
    tried.push_back(working);
    if (const int kind = found(working); kind != kNotRecognized) return kind;
  }
  for (const std::string& plain : std::vector<std::string>(tried)) {
    for (const char* ending : kCompressedEndings) {
      // A name that would not fit the caller's buffer cannot be handed back.
      if (plain.size() + std::strlen(ending) >= static_cast<std::size_t>(capacity)) continue;
      if (const int kind = found(plain + ending); kind != kNotRecognized) return kind;
    }
  }
  return kNotRecognized;
}
