// Codebooks and training sets: one record for both, its vectors and nodes,
// and the set files (a text head and a binary body of node records) with
// their reader and writer. Part of <vqpeek/cb.h>; the module's conventions
// (ownership, fatal errors) are stated there.
#ifndef VQPEEK_CB_CODEBOOK_H_
#define VQPEEK_CB_CODEBOOK_H_

#include <cstdint>
#include <memory>

#include "vqpeek/export.h"

// Size of the fixed text fields (header lines, methods, names), terminator
// included.
inline constexpr int kTextFieldSize = 80;

// Kind codes of the data files, as recognised from their first line.
enum FileKind : int {
  kNotRecognized = 0,
  kTrainingSetFile = 1,
  kCodebookFile = 2,
  kPartitioningFile = 3,
};

// --- Vectors and nodes ---

// The elements of one vector: an owned array, or a slice of the element
// block of the record whose node allocation made it. Either way it lives
// exactly as long as its node. Nodes of one record must not be moved into
// another record (copy them with CopyNode instead).
struct VectorDeleter {
  bool owned = true;
  void operator()(int* elements) const noexcept {
    if (owned) std::default_delete<int[]>()(elements);
  }
};
using VectorPtr = std::unique_ptr<int[], VectorDeleter>;
using NamePtr = std::unique_ptr<char[]>;

// One vector of a Codebook. VectorDim = BlockSizeX * BlockSizeY of the
// record that holds it.
struct CodebookNode {
  VectorPtr Vector;    // VectorDim elements, stored row by row
  int VectorMean = 0;  // rounded mean of the elements
  int Freq = 0;        // occurrences (training set) or vectors represented
  NamePtr Name;        // NUL-terminated name, or null for none
};

// Returns a new vector of `count` elements, all 0.
// Fatal: "ERROR: Not enough memory for new vector element.\n".
VQPEEK_EXPORT VectorPtr CreateEmptyVector(int count);
VQPEEK_EXPORT void FreeVector(VectorPtr& vector);

// Copies `count` elements. Fatal: "ERROR: CopyVector source=%p dest=%p\n"
// when either is null.
VQPEEK_EXPORT void CopyVector(const int* source, int* dest, int count);

// The sign of the first differing element (1 when a's is larger), or 0.
VQPEEK_EXPORT int CompareVectors(const int* a, const int* b, int count);

// Prints the elements with "%3i " on one line through PrintMessage.
VQPEEK_EXPORT void PrintVector(const int* vector, int BlockSizeX, int BlockSizeY);

// A node with its own vector of `VectorDim` zeros, VectorMean 0, Freq 0 and
// no name.
VQPEEK_EXPORT CodebookNode CreateEmptyNode(int VectorDim);
VQPEEK_EXPORT void FreeNode(CodebookNode& node);

// --- Codebook record and set files ---

// A codebook or a training set: a header and an array of nodes.
// Invariants: 0 <= Booksize <= AllocatedSize; every one of the AllocatedSize
// nodes has its own vector of VectorDim elements; after ReadCodebook and
// WriteCodebook, TotalFreq is the sum of Freq over nodes 0 .. Booksize-1.
// Nodes beyond Booksize keep their contents until the record is freed or
// grown.
struct Codebook {
  char Versionstr[kTextFieldSize] = {};  // header line; prefix = kind
  int BlockSizeX = 0;
  int BlockSizeY = 0;
  int Booksize = 0;  // nodes 0 .. Booksize-1 are in use
  int TotalFreq = 0;
  int BytesPerElement = 0;  // 1 to 4: width of an element in the file
  int MinValue = 0;         // header information only
  int MaxValue = 0;         // header information; 1 marks a binary set
  int Preprocessing = 0;
  char GenerationMethod[kTextFieldSize] = {};
  std::unique_ptr<CodebookNode[]> Book;
  int AllocatedSize = 0;
  // Storage of the node vectors made by node allocation: one block, so that
  // a set of a million vectors costs one allocation, not a million.
  std::unique_ptr<int[]> ElementBlock;
};

// BlockSizeX * BlockSizeY of the record.
VQPEEK_EXPORT int VectorDimension(const Codebook& CB);

// --- Texts and version strings ---

// Writes "VQ TRAINING SET 2.0", "VQ CODEBOOK 2.0" or "VQ PARTITIONING 2.0"
// for kind 1, 2 or 3 into `text` (80 bytes).
// Fatal: "ERROR: Unknown file type (SetVersionString)\n" for another kind.
VQPEEK_EXPORT void SetVerString(char* text, int kind);

// The kind a header line names by its prefix: 2 for "VQ CODEBOOK", 1 for
// "VQ TRAINING SET", 3 for "VQ PARTITIONING", else 0.
VQPEEK_EXPORT int RecognizeVersionstr(const char* text);

VQPEEK_EXPORT void ClearString(char* text);

// Appends `addition` to `text` and keeps at most `limit` - 1 characters of
// the joined text, so that its terminator always lies within the `limit`
// bytes that `text` must hold. Fatal: "ERROR: string too long:\n%*s\n"
// (`limit` as the field width) when the addition alone is longer than
// `limit`.
VQPEEK_EXPORT void AddString(char* text, const char* addition, int limit);

// --- Records ---

// Makes `CB` an empty codebook of `Booksize` fresh nodes shaped like
// `templateSet`: kind-2 version string, block sizes, TotalFreq,
// BytesPerElement, MinValue, MaxValue and Preprocessing copied, no
// generation method. Fresh nodes have zero elements, Freq 0, VectorMean 0
// and no name. Fatal: "ERROR: allocate CB->Book\n" or "ERROR: Not enough
// memory for new vector element.\n".
VQPEEK_EXPORT void CreateNewCodebook(Codebook* CB, int Booksize, const Codebook* templateSet);

// Makes `TS` an empty training set of `Booksize` fresh nodes with the given
// header values, TotalFreq 0 and a copy of `GenerationMethod`.
VQPEEK_EXPORT void CreateNewTrainingSet(Codebook* TS, int Booksize, int BlockSizeX, int BlockSizeY,
                                        int BytesPerElement, int MinValue, int MaxValue,
                                        int Preprocessing, const char* GenerationMethod);

// Releases every node (all AllocatedSize of them) and the node array. The
// header fields stay; the record may afterwards only be made anew.
VQPEEK_EXPORT void FreeCodebook(Codebook* CB);

// Reads a version-1 or version-2 training-set or codebook file, replacing
// every field of `CB`. Afterwards TotalFreq is the sum of the frequencies
// and every VectorMean the rounded mean of its vector.
// Fatal, each with its message: a file that cannot be opened or read
// ("ERROR: unable to read from file: %s\n" with the system's reason); "ERROR: empty
// header (NULL)\n", "ERROR: empty header (0x00)\n", "ERROR: No version
// number found in header.\n", "ERROR: Unknown file version number (%d).\n";
// a header number that is missing ("ERROR: Invalid header: a number was
// expected.\n") or a header that cannot describe a set ("ERROR: Invalid
// block size (%d x %d).\n", "ERROR: Invalid booksize (%d).\n", "ERROR:
// Invalid bytes per element (%d).\n"); "ERROR: Too long vector name:\n%*s\n
// Maximum is %d characters.\n"; a body shorter than the header promises
// ("ERROR: premature end of file\n", before anything is allocated for it).
// Not fatal: "WARNING: TotalFreq header field = %d but calculated
// totalfreq = %d.\n" through PrintMessage.
VQPEEK_EXPORT void ReadCodebook(const char* filename, Codebook* CB);

// A training set or codebook held flat, as array libraries keep data: the
// elements of vector i at Elements[i * dim .. i * dim + dim - 1], dim =
// VectorDimension(Header).
struct FlatSet {
  Codebook Header;                   // header fields; Book stays empty
  std::unique_ptr<int[]> Elements;   // Header.Booksize * dim
  std::unique_ptr<int[]> Freqs;      // Header.Booksize
  std::unique_ptr<NamePtr[]> Names;  // Header.Booksize names (null: none), or
                                     // null when no vector has a name
};

// Reads a set file as ReadCodebook does, with the same checks, messages
// and TotalFreq, into `set`, without node records: the elements go straight
// into one array. Fatal: the messages of ReadCodebook.
VQPEEK_EXPORT void ReadFlatSet(const char* filename, FlatSet* set);

// Recomputes TotalFreq and writes `CB` as a version-2 file; the version
// line is Versionstr, or the version-2 line of its kind when Versionstr names
// another version (a record read from a version-1 file); a line that names
// neither a kind nor version 2 is refused with "ERROR: The header line
// \"%s\" does not name a version-2 set file.\n". `overwrite` 1
// replaces an existing file; otherwise an existing file is reported ("ERROR:
// File already exists: %s") and nothing is written (not fatal). Elements
// that do not fit BytesPerElement (widths below 4 hold 0 .. 256^width - 1)
// are reported before the file is opened and nothing is written. The file
// is written whole through a FileReplacement (vqpeek/file.h): the old file is
// replaced only once the new one is complete on disk, an interrupted run
// leaves no partial file, and a replaced file keeps its permission bits
// (owner and group where the process may) but not its ACLs or extended
// attributes; a file with other hard links is refused. Fatal: the
// FileReplacement messages, when the file cannot be created or written (the
// old file then stays as it was).
VQPEEK_EXPORT void WriteCodebook(const char* filename, Codebook* CB, int overwrite);

// Writes a set held flat, as WriteCodebook writes a record with these
// nodes: the header fields of `header` (whose Book stays empty; TotalFreq
// is recomputed), Booksize rows of VectorDimension(*header) elements one
// after another in `elements`, a frequency each in `freqs`, and the names
// in `names` (Booksize entries, null for no name), or no names when
// `names` is null. The elements are read in the type they are held in, so
// a set of one- or two-byte elements needs no wider copy. Same checks,
// messages and replacement of the file as WriteCodebook.
VQPEEK_EXPORT void WriteFlatSet(const char* filename, Codebook* header,
                                const std::uint8_t* elements, const int* freqs,
                                const char* const* names, int overwrite);
VQPEEK_EXPORT void WriteFlatSet(const char* filename, Codebook* header,
                                const std::uint16_t* elements, const int* freqs,
                                const char* const* names, int overwrite);
VQPEEK_EXPORT void WriteFlatSet(const char* filename, Codebook* header, const int* elements,
                                const int* freqs, const char* const* names, int overwrite);

// Prints a plain listing of `CB` through PrintMessage.
VQPEEK_EXPORT void PrintCodebook(const Codebook* CB);

// Finds the file meant by `filename` and returns its kind (0 when none is
// found). The name itself is tried first, then the name completed with
// "ts", "cb" or "pa" for each decimal digit 1, 2, 3 of `order`, left to
// right, and then each of these names with ".gz" and ".zst" (a compressed
// file is recognised by its content, whatever its name); `filename` (a
// buffer of `capacity` bytes) is rewritten with a completed name under
// which a file was found. An empty name names no file; "-" is standard
// input, and a pipe or standard input keeps what was read of it for its
// reader (PeekInput, vqpeek/file.h). Fatal: "ERROR: invalid priority order
// in DetermineCBFileTypeConsideringOrder: %d\n" for another digit; the
// messages of InputFile for a compressed file that this build cannot read
// or that is damaged in its first line.
VQPEEK_EXPORT int DetermineCBFileTypeConsideringOrder(char* filename, int order,
                                                      int capacity = kTextFieldSize);

#endif  // VQPEEK_CB_CODEBOOK_H_
