// Training-set and codebook files: writing version 2, and finding a file's
// kind from its name. The reader is in set_reader.cpp.
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "cb_internal.h"
#include "vqpeek/cb.h"
#include "vqpeek/file.h"

using cb_internal::FilePtr;

namespace {

constexpr int kMaxNameBytes = 80;  // a name's characters and its NUL

// Reads the first line of an existing file and returns the kind it names.
int ProbeKind(const char* name) {
  FilePtr file(std::fopen(name, "rb"));
  if (file == nullptr) return kNotRecognized;
  char line[kTextFieldSize];
  if (std::fgets(line, sizeof line, file.get()) == nullptr) return kNotRecognized;
  return RecognizeVersionstr(line);
}

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
