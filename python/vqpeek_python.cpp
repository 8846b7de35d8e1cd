// vqpeek._core: the library's readers, writers and searches over numpy
// arrays, for the Python package vqpeek.
//
// The package (vqpeek/__init__.py) checks and converts what a user passes;
// this core takes arrays only as the library can use them (int32, C order,
// the shapes the call needs) and refuses anything else, so a direct call
// cannot reach the library with data it would misread.
//
// A fatal error of the library ends the operation, not the interpreter: the
// exit handler throws, the library's records unwind, and the message it
// reported becomes a vqpeek.Error, or a vqpeek.FileError (an OSError) when
// the system's error number came with it; a failure of any of the
// library's threads reaches the calling thread first. File reads and writes
// and the nearest search release the GIL, so that other Python threads run
// on (a reader at the other end of a named pipe, say); the search returns
// to Python between parts to let Ctrl-C through.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "vqpeek/cb.h"
#include "vqpeek/threads.h"
#include "vqpeek/version.h"

namespace py = pybind11;

static_assert(sizeof(int) == sizeof(std::int32_t), "the library's elements are int32");

namespace {

using Int32Array = py::array_t<std::int32_t, py::array::c_style>;

// --- Library failures as Python exceptions ----------------------------------

// Thrown by the exit handler: the library ended the operation the way it
// ends the process after a fatal error.
struct LibraryExit {
  int status;
};

[[noreturn]] void ThrowLibraryExit(int status) { throw LibraryExit{status}; }

// The messages of the library operation in progress on this thread, and
// the first system error number that came with an error message.
thread_local std::string errorText;
thread_local std::string moduleText;
thread_local int systemError = 0;

void CollectMessage(int kind, const char* text) noexcept {
  if (kind == kErrorMessage && systemError == 0) systemError = MessageSystemError();
  try {
    (kind == kErrorMessage ? errorText : moduleText) += text;
  } catch (...) {
    // Out of memory for a message: the operation still fails or warns.
  }
}

PyObject* errorType = nullptr;      // vqpeek.Error
PyObject* fileErrorType = nullptr;  // vqpeek.FileError

// FileError beside the OSError subclass that Python itself raises for an
// error number, so that `except FileNotFoundError` catches a missing file.
struct FileErrorKind {
  int error;
  PyObject* builtin;
  const char* name;
  PyObject* type;
};
FileErrorKind fileErrorKinds[] = {
    {ENOENT, PyExc_FileNotFoundError, "vqpeek.FileNotFoundError", nullptr},
    {EACCES, PyExc_PermissionError, "vqpeek.PermissionError", nullptr},
    {EPERM, PyExc_PermissionError, "vqpeek.PermissionError", nullptr},
    {EEXIST, PyExc_FileExistsError, "vqpeek.FileExistsError", nullptr},
    {EISDIR, PyExc_IsADirectoryError, "vqpeek.IsADirectoryError", nullptr},
    {ENOTDIR, PyExc_NotADirectoryError, "vqpeek.NotADirectoryError", nullptr},
};

py::str DecodeText(std::string_view text, const char* errors = "surrogateescape") {
  PyObject* decoded =
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), errors);
  if (decoded == nullptr) throw py::error_already_set();
  return py::reinterpret_steal<py::str>(decoded);
}

// Raises `type` with `message`.
[[noreturn]] void Raise(PyObject* type, std::string_view message) {
  PyErr_SetObject(type, DecodeText(message, "backslashreplace").ptr());
  throw py::error_already_set();
}

// Raises a FileError for the system's error number `error` on `file`: its
// errno, strerror and filename are the system's, its text the library's.
[[noreturn]] void RaiseFileError(int error, const std::string& file, std::string_view message) {
  PyObject* type = fileErrorType;
  for (const FileErrorKind& kind : fileErrorKinds) {
    if (kind.error == error) type = kind.type;
  }
  PyObject* name =
      PyUnicode_DecodeFSDefaultAndSize(file.data(), static_cast<Py_ssize_t>(file.size()));
  if (name == nullptr) throw py::error_already_set();
  const py::object filename = py::reinterpret_steal<py::object>(name);
  const py::object exception = py::handle(type)(error, std::strerror(error), filename);
  exception.attr("message") = DecodeText(message, "backslashreplace");
  PyErr_SetObject(type, exception.ptr());
  throw py::error_already_set();
}

// Raises the library's message, without its final line end, for an
// operation on `file`: a FileError when the system's error number came with
// it (a file that could not be found, created, read or written), else an
// Error.
[[noreturn]] void RaiseLibraryError(std::string text, int error, const std::string& file) {
  while (!text.empty() && text.back() == '\n') text.pop_back();
  if (text.empty()) text = "ERROR: the library ended the operation without a message";
  if (error != 0) RaiseFileError(error, file, text);
  Raise(errorType, text);
}

// Runs one library operation, on `file` where it opens one. Its fatal
// exit, and an error it reports without ending (a writer that refuses a
// file), raise the library's message; an informational message (a warning
// of the reader) becomes a UserWarning.
template <typename Operation>
void RunLibrary(Operation&& operation, const std::string& file = {}) {
  errorText.clear();
  moduleText.clear();
  systemError = 0;
  try {
    operation();
  } catch (const LibraryExit&) {
    RaiseLibraryError(std::exchange(errorText, {}), systemError, file);
  }
  if (!errorText.empty()) RaiseLibraryError(std::exchange(errorText, {}), systemError, file);
  if (!moduleText.empty()) {
    std::string text = std::exchange(moduleText, {});
    while (!text.empty() && text.back() == '\n') text.pop_back();
    if (PyErr_WarnEx(PyExc_UserWarning, text.c_str(), 1) != 0) throw py::error_already_set();
  }
}

// --- Arguments ---------------------------------------------------------------

// A file name as the library takes it. Python's own functions refuse a
// NUL inside a name, since the name would end there.
std::string FileName(const py::bytes& path) {
  std::string name = path;
  if (name.find('\0') != std::string::npos) Raise(PyExc_ValueError, "embedded null byte in path");
  return name;
}

// A text field of the files: at most `limit` bytes and no NUL.
std::string TextField(const py::bytes& value, std::size_t limit, const char* what) {
  std::string text = value;
  if (text.find('\0') != std::string::npos || text.size() > limit) {
    Raise(PyExc_ValueError,
          std::string(what) + ": at most " + std::to_string(limit) + " bytes and no NUL");
  }
  return text;
}

void RequireShape(const py::array& array, std::initializer_list<py::ssize_t> shape,
                  const char* what) {
  bool same = array.ndim() == static_cast<py::ssize_t>(shape.size());
  int axis = 0;
  for (const py::ssize_t extent : shape) {
    if (same && extent >= 0 && array.shape(axis) != extent) same = false;
    ++axis;
  }
  if (!same) Raise(PyExc_ValueError, std::string(what) + " has the wrong shape");
}

// A count the library takes as an int.
int LibraryCount(py::ssize_t count, const char* what) {
  if (count < 0 || count > INT32_MAX) {
    Raise(PyExc_ValueError, std::string(what) + ": between 0 and 2147483647");
  }
  return static_cast<int>(count);
}

// The names of the nodes: null for None or an empty name. A NUL would end a
// name early, so it is refused.
void SetNames(Codebook* set, const py::object& names) {
  if (names.is_none()) return;
  const py::list list = names;
  if (static_cast<py::ssize_t>(py::len(list)) != set->Booksize) {
    Raise(PyExc_ValueError, "names: one entry per vector");
  }
  for (int i = 0; i < set->Booksize; ++i) {
    const py::handle entry = list[static_cast<std::size_t>(i)];
    if (entry.is_none()) continue;
    const std::string name = py::bytes(py::reinterpret_borrow<py::object>(entry));
    if (name.find('\0') != std::string::npos) Raise(PyExc_ValueError, "names: a name holds a NUL");
    if (name.empty()) continue;
    set->Book[i].Name = std::make_unique<char[]>(name.size() + 1);
    std::memcpy(set->Book[i].Name.get(), name.c_str(), name.size() + 1);
  }
}

// A training set of `count` vectors that carries only sizes (one zero
// element each) and names: what the partitioning file needs of one.
void SizeOnlySet(Codebook* set, int count, const py::object& names) {
  RunLibrary([&] { CreateNewTrainingSet(set, count, 1, 1, 1, 0, 0, 0, ""); });
  SetNames(set, names);
}

// A training set holding copies of `vectors` (n x dim) and `freqs` (n).
void FilledSet(Codebook* set, const Int32Array& vectors, const Int32Array& freqs, int bytes,
               int low, int high, int preprocessing, const char* method) {
  const int count = LibraryCount(vectors.shape(0), "vectors");
  const int dim = LibraryCount(vectors.shape(1), "vector dimension");
  RequireShape(freqs, {vectors.shape(0)}, "freqs");
  RunLibrary(
      [&] { CreateNewTrainingSet(set, count, dim, 1, bytes, low, high, preprocessing, method); });
  if (count > 0 && dim > 0) {
    std::memcpy(set->ElementBlock.get(), vectors.data(),
                static_cast<std::size_t>(count) * static_cast<std::size_t>(dim) * sizeof(int));
  }
  const std::int32_t* f = freqs.data();
  for (int i = 0; i < count; ++i) set->Book[i].Freq = f[i];
}

// An array of `shape` over `data`, which it takes over from `owner`.
template <typename Shape>
py::array_t<std::int32_t> TakeArray(std::unique_ptr<int[]>& owner, Shape shape) {
  int* data = owner.get();
  if (data == nullptr) return py::array_t<std::int32_t>(shape);
  py::capsule keeper(data, [](void* p) { delete[] static_cast<int*>(p); });
  static_cast<void>(owner.release());
  return py::array_t<std::int32_t>(shape, data, keeper);
}

// The nodes' vectors as a (count, dim) array. The element block of a record
// made by node allocation holds them row after row: the array takes it over
// instead of copying it.
py::array_t<std::int32_t> TakeVectors(Codebook* set) {
  const int count = set->Booksize;
  const int dim = VectorDimension(*set);
  const std::vector<py::ssize_t> shape{count, dim};
  const int* block = set->ElementBlock.get();
  bool rows = block != nullptr;
  for (int i = 0; i < count && rows; ++i) {
    rows = set->Book[i].Vector.get() == block + static_cast<std::size_t>(i) * dim;
  }
  if (rows) return TakeArray(set->ElementBlock, shape);
  py::array_t<std::int32_t> copy(shape);
  for (int i = 0; i < count; ++i) {
    std::memcpy(copy.mutable_data(i), set->Book[i].Vector.get(),
                static_cast<std::size_t>(dim) * sizeof(int));
  }
  return copy;
}

py::array_t<std::int32_t> TakeFreqs(const Codebook& set) {
  py::array_t<std::int32_t> freqs(static_cast<py::ssize_t>(set.Booksize));
  std::int32_t* out = freqs.mutable_data();
  for (int i = 0; i < set.Booksize; ++i) out[i] = set.Book[i].Freq;
  return freqs;
}

// The head of a file as far as the core needs it before the library reads
// the file: the kind that its first line names (-1 when no line can be
// read; the library then reports why) and the second number after that
// line, which a partitioning file's head holds the training set's size in
// (-1 when there is none), read as the library reads it.
struct FileHead {
  int kind = -1;
  long long size = -1;
};

FileHead ReadFileHead(const std::string& name) {
  const py::gil_scoped_release unlocked;
  FileHead head;
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(name.c_str(), "rb"), std::fclose);
  if (file == nullptr) return head;
  char line[kTextFieldSize];
  if (std::fgets(line, sizeof line, file.get()) == nullptr) return head;
  head.kind = RecognizeVersionstr(line);
  // The rest of a long first line, then two numbers as "%i" reads them.
  if (std::strchr(line, '\n') == nullptr) {
    for (int c = std::getc(file.get()); c != EOF && c != '\n'; c = std::getc(file.get())) {
    }
  }
  long long number = -1;
  for (int field = 0; field < 2; ++field) {
    char text[32];
    if (std::fscanf(file.get(), " %31[-+0-9a-fA-FxX]", text) != 1) return head;
    char* end = nullptr;
    number = std::strtoll(text, &end, 0);
    if (end == text) return head;
  }
  head.size = std::clamp<long long>(number, INT32_MIN, INT32_MAX);
  return head;
}

// A file of the other family is refused before the library reads it as
// this one; a first line that names no kind only after the library has read
// the file, so that a damaged file gets the library's message.
void RefuseOtherKind(const std::string& name, int kind, bool set) {
  if (set && kind == kPartitioningFile) {
    Raise(errorType, name + ": a partitioning file, not a training set or codebook");
  }
  if (!set && (kind == kTrainingSetFile || kind == kCodebookFile)) {
    Raise(errorType, name + ": a training set or codebook, not a partitioning file");
  }
}

void RefuseUnknownKind(const std::string& name, int kind, bool set) {
  if (kind != kNotRecognized) return;
  Raise(errorType, name + (set ? ": not a training set or codebook (unknown first line)"
                               : ": not a partitioning file (unknown first line)"));
}

// --- The functions of the core -----------------------------------------------

py::dict ReadSet(const py::bytes& path) {
  const std::string name = FileName(path);
  RefuseOtherKind(name, ReadFileHead(name).kind, true);
  FlatSet set;
  RunLibrary(
      [&] {
        const py::gil_scoped_release unlocked;
        ReadFlatSet(name.c_str(), &set);
      },
      name);
  const Codebook& head = set.Header;
  RefuseUnknownKind(name, RecognizeVersionstr(head.Versionstr), true);
  const auto count = static_cast<py::ssize_t>(head.Booksize);
  py::dict result;
  result["kind"] = RecognizeVersionstr(head.Versionstr);
  result["version_line"] = DecodeText(head.Versionstr);
  result["block_size"] = py::make_tuple(head.BlockSizeX, head.BlockSizeY);
  result["total_freq"] = head.TotalFreq;
  result["bytes_per_element"] = head.BytesPerElement;
  result["min_value"] = head.MinValue;
  result["max_value"] = head.MaxValue;
  result["preprocessing"] = head.Preprocessing;
  result["generation_method"] = DecodeText(head.GenerationMethod);
  if (set.Names != nullptr) {
    py::list names(static_cast<std::size_t>(count));
    for (py::ssize_t i = 0; i < count; ++i) {
      const char* text = set.Names[i].get();
      names[static_cast<std::size_t>(i)] =
          text != nullptr ? py::object(DecodeText(text)) : py::object(py::none());
    }
    result["names"] = names;
  } else {
    result["names"] = py::none();
  }
  result["vectors"] =
      TakeArray(set.Elements,
                std::vector<py::ssize_t>{count, static_cast<py::ssize_t>(VectorDimension(head))});
  result["freqs"] = TakeArray(set.Freqs, std::vector<py::ssize_t>{count});
  return result;
}

void WriteSet(const py::bytes& path, const Int32Array& vectors, const Int32Array& freqs,
              const py::object& names, int kind, int blockX, int blockY, int bytes, int low,
              int high, int preprocessing, const py::bytes& method, bool overwrite) {
  const std::string name = FileName(path);
  RequireShape(vectors, {-1, -1}, "vectors");
  if (kind != kTrainingSetFile && kind != kCodebookFile) Raise(PyExc_ValueError, "unknown kind");
  if (blockX < 1 || blockY < 1 ||
      static_cast<std::int64_t>(blockX) * blockY != static_cast<std::int64_t>(vectors.shape(1))) {
    Raise(PyExc_ValueError, "block_size does not match the vector dimension");
  }
  const std::string methodText = TextField(method, kTextFieldSize - 1, "generation_method");
  Codebook set;
  FilledSet(&set, vectors, freqs, bytes, low, high, preprocessing, methodText.c_str());
  set.BlockSizeX = blockX;
  set.BlockSizeY = blockY;
  RunLibrary([&] { SetVerString(set.Versionstr, kind); });
  SetNames(&set, names);
  RunLibrary(
      [&] {
        const py::gil_scoped_release unlocked;
        WriteCodebook(name.c_str(), &set, overwrite ? 1 : 0);
      },
      name);
}

// `size` -1 reads as many vectors as the file's head states; another size
// must be the head's, or the library refuses the file.
py::tuple ReadPartitioningFile(const py::bytes& path, py::ssize_t size) {
  const std::string name = FileName(path);
  const FileHead head = ReadFileHead(name);
  const int kind = head.kind;
  RefuseOtherKind(name, kind, false);
  if (size == -1) size = head.size >= 0 ? static_cast<py::ssize_t>(head.size) : 0;
  Codebook set;
  SizeOnlySet(&set, LibraryCount(size, "training set size"), py::none());
  Partitioning partitioning;
  RunLibrary(
      [&] {
        const py::gil_scoped_release unlocked;
        ReadPartitioning(name.c_str(), &partitioning, &set);
      },
      name);
  RefuseUnknownKind(name, kind, false);
  py::array_t<std::int32_t> labels(static_cast<py::ssize_t>(partitioning.TSsize));
  if (partitioning.TSsize > 0) {
    std::memcpy(labels.mutable_data(), partitioning.Map.get(),
                static_cast<std::size_t>(partitioning.TSsize) * sizeof(int));
  }
  return py::make_tuple(labels, partitioning.PartitionCount,
                        DecodeText(partitioning.GenerationMethod));
}

// Every vector is moved from partition 0, where the record starts it, to
// its label (-1: none).
void ApplyLabels(const Codebook& set, Partitioning* partitioning, const Int32Array& labels) {
  const std::int32_t* label = labels.data();
  RunLibrary([&] {
    for (int i = 0; i < set.Booksize; ++i) {
      if (label[i] != 0) ChangePartition(&set, partitioning, label[i], i);
    }
  });
}

void RequireLabels(const Int32Array& labels, int count, bool noneAllowed) {
  const std::int32_t* label = labels.data();
  for (py::ssize_t i = 0; i < labels.shape(0); ++i) {
    if (label[i] >= count || label[i] < (noneAllowed ? -1 : 0)) {
      Raise(PyExc_ValueError, "labels: " + std::to_string(label[i]) + " is not a partition");
    }
  }
}

void WritePartitioningFile(const py::bytes& path, const Int32Array& labels, int count,
                           const py::object& names, const py::bytes& method, bool overwrite) {
  const std::string name = FileName(path);
  RequireShape(labels, {-1}, "labels");
  if (count < 1) Raise(PyExc_ValueError, "count: at least 1");
  RequireLabels(labels, count, false);
  const std::string methodText = TextField(method, kTextFieldSize - 1, "generation_method");
  Codebook set;
  SizeOnlySet(&set, LibraryCount(labels.shape(0), "labels"), names);
  Partitioning partitioning;
  RunLibrary([&] { CreateNewPartitioning(&partitioning, &set, count); });
  ApplyLabels(set, &partitioning, labels);
  std::snprintf(partitioning.GenerationMethod, kTextFieldSize, "%s", methodText.c_str());
  RunLibrary(
      [&] {
        const py::gil_scoped_release unlocked;
        WritePartitioning(name.c_str(), &partitioning, &set, overwrite ? 1 : 0);
      },
      name);
}

py::tuple Nearest(const Int32Array& vectors, const Int32Array& codes, int threads) {
  RequireShape(vectors, {-1, -1}, "vectors");
  RequireShape(codes, {-1, vectors.shape(1)}, "codes");
  const int count = LibraryCount(vectors.shape(0), "vectors");
  const int codeCount = LibraryCount(codes.shape(0), "codes");
  const int dim = LibraryCount(vectors.shape(1), "vector dimension");
  if (codeCount < 1) Raise(PyExc_ValueError, "codes: at least one code vector");
  if (dim < 1) Raise(PyExc_ValueError, "vectors: at least one element each");
  if (threads < 0) Raise(PyExc_ValueError, "threads: 1 or more, or 0 for all");
  py::array_t<std::int32_t> labels(static_cast<py::ssize_t>(count));
  py::array_t<std::int64_t> distances(static_cast<py::ssize_t>(count));
  const std::int32_t* x = vectors.data();
  const std::int32_t* c = codes.data();
  std::int32_t* chosen = labels.mutable_data();
  std::int64_t* best = distances.mutable_data();
  // Vectors in parts of about kWorkBetweenChecks distance terms per
  // thread, a few hundredths of a second, with a look for signals after
  // each part.
  constexpr std::int64_t kWorkBetweenChecks = std::int64_t{1} << 26;
  const std::int64_t workers = threads > 0 ? threads : UsableProcessors();
  const std::int64_t perVector = std::int64_t{codeCount} * dim;
  const int step = static_cast<int>(std::min<std::int64_t>(
      std::max(kWorkBetweenChecks * workers / perVector, 4 * workers), std::max(count, 1)));
  RunLibrary([&] {
    for (int first = 0; first < count; first += step) {
      const int part = std::min(step, count - first);
      {
        const py::gil_scoped_release unlocked;
        FindNearestVectors(x + static_cast<std::size_t>(first) * dim, part, c, codeCount, dim,
                           threads, chosen + first, best + first);
      }
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
  });
  return py::make_tuple(labels, distances);
}

py::tuple Centroids(const Int32Array& vectors, const Int32Array& labels, int count,
                    const Int32Array& freqs) {
  RequireShape(vectors, {-1, -1}, "vectors");
  RequireShape(labels, {vectors.shape(0)}, "labels");
  if (count < 1) Raise(PyExc_ValueError, "count: at least 1");
  if (vectors.shape(1) < 1) Raise(PyExc_ValueError, "vectors: at least one element each");
  RequireLabels(labels, count, true);
  Codebook set;
  FilledSet(&set, vectors, freqs, 4, 0, 0, 0, "");
  Partitioning partitioning;
  RunLibrary([&] { CreateNewPartitioning(&partitioning, &set, count); });
  ApplyLabels(set, &partitioning, labels);
  auto codebook = std::make_unique<Codebook>();
  RunLibrary([&] {
    CreateNewCodebook(codebook.get(), count, &set);
    GenerateOptimalCodebookGeneral(&set, codebook.get(), &partitioning, 0);
  });
  py::array_t<std::int32_t> weights = TakeFreqs(*codebook);
  return py::make_tuple(TakeVectors(codebook.get()), weights);
}

// --- Figures -------------------------------------------------------------------

// A figure, or None for one that has none (NaN).
py::object Figure(double value) {
  return std::isnan(value) ? py::object(py::none()) : py::object(py::float_(value));
}

// (distinct vectors, mean element, variance) of vqpeek.set_statistics.
py::tuple SetStatisticsOf(const Int32Array& vectors, const Int32Array& freqs) {
  RequireShape(vectors, {-1, -1}, "vectors");
  RequireShape(freqs, {vectors.shape(0)}, "freqs");
  const int dim = LibraryCount(vectors.shape(1), "vector dimension");
  if (dim < 1) Raise(PyExc_ValueError, "vectors: at least one element each");
  SetFigureAccumulator accumulator(dim);
  accumulator.Add(vectors.data(), freqs.data(), vectors.shape(0), true);
  const SetFigures figures = accumulator.Figures();
  return py::make_tuple(figures.DistinctVectors, Figure(figures.MeanElement),
                        Figure(figures.Variance));
}

// The fields of vqpeek.quality, partition p measured against codes[p].
py::tuple QualityOf(const Int32Array& vectors, const Int32Array& freqs, const Int32Array& codes,
                    const Int32Array& labels, double peak) {
  RequireShape(vectors, {-1, -1}, "vectors");
  RequireShape(freqs, {vectors.shape(0)}, "freqs");
  RequireShape(codes, {-1, vectors.shape(1)}, "codes");
  RequireShape(labels, {vectors.shape(0)}, "labels");
  const int dim = LibraryCount(vectors.shape(1), "vector dimension");
  const int count = LibraryCount(codes.shape(0), "codes");
  if (dim < 1 || count < 1) Raise(PyExc_ValueError, "at least one code vector and element");
  RequireLabels(labels, count, false);
  PartitionFigureAccumulator accumulator(codes.data(), count, dim);
  accumulator.Add(vectors.data(), freqs.data(), labels.data(), vectors.shape(0));
  const PartitionFigures figures = accumulator.Figures(peak);
  const bool sized = figures.LargestSize > 0;
  return py::make_tuple(figures.Partitions, figures.EmptyPartitions,
                        sized ? py::object(py::int_(figures.SmallestSize)) : py::object(py::none()),
                        sized ? py::object(py::int_(figures.LargestSize)) : py::object(py::none()),
                        Figure(figures.MeanSquaredError), Figure(figures.Psnr),
                        Figure(figures.FixedRate), Figure(figures.EntropyRate));
}

}  // namespace

PYBIND11_MODULE(_core, module) {
  module.doc() = "The compiled core of vqpeek; use the functions of the vqpeek package.";
  SetExitHandler(ThrowLibraryExit);
  SetMessageHandler(CollectMessage);

  errorType = PyErr_NewExceptionWithDoc(
      "vqpeek.Error", "The library refused a file or an input; the message is the library's own.",
      PyExc_ValueError, nullptr);
  if (errorType == nullptr) throw py::error_already_set();
  module.add_object("Error", py::handle(errorType));
  fileErrorType = PyErr_NewExceptionWithDoc(
      "vqpeek.FileError",
      "A file could not be found, created, read or written: an OSError with the system's errno, "
      "strerror and filename; its text is the library's message.",
      PyExc_OSError, nullptr);
  if (fileErrorType == nullptr) throw py::error_already_set();
  // The library's message is the text; OSError's own would be the system's,
  // and stays for an instance made without one.
  py::handle fileError(fileErrorType);
  fileError.attr("__str__") = py::cpp_function(
      [](py::handle self) -> py::str {
        if (py::hasattr(self, "message")) return py::str(self.attr("message"));
        return py::handle(PyExc_OSError).attr("__str__")(self);
      },
      py::is_method(fileError));
  module.add_object("FileError", fileError);
  for (FileErrorKind& kind : fileErrorKinds) {
    for (const FileErrorKind& earlier : fileErrorKinds) {
      if (&earlier != &kind && earlier.builtin == kind.builtin && earlier.type != nullptr) {
        kind.type = earlier.type;
      }
    }
    if (kind.type != nullptr) continue;
    const py::tuple bases = py::make_tuple(fileError, py::handle(kind.builtin));
    kind.type = PyErr_NewException(kind.name, bases.ptr(), nullptr);
    if (kind.type == nullptr) throw py::error_already_set();
    module.add_object(kind.name + std::strlen("vqpeek."), py::handle(kind.type));
  }
  module.attr("__version__") = VQPEEK_VERSION_STRING;

  // Each function takes what vqpeek.<name> has checked and converted; the
  // docstrings of the package say what they do.
  module.def("read_set", &ReadSet, "The fields and arrays of vqpeek.read_set, as a dict.",
             py::arg("path"));
  module.def("write_set", &WriteSet, "vqpeek.write_set with every field given.", py::arg("path"),
             py::arg("vectors").noconvert(), py::arg("freqs").noconvert(), py::arg("names"),
             py::arg("kind"), py::arg("block_x"), py::arg("block_y"), py::arg("bytes_per_element"),
             py::arg("min_value"), py::arg("max_value"), py::arg("preprocessing"),
             py::arg("generation_method"), py::arg("overwrite"));
  module.def("read_partitioning", &ReadPartitioningFile,
             "(labels, count, generation_method) of vqpeek.read_partitioning; size -1 takes "
             "the file's.",
             py::arg("path"), py::arg("size"));
  module.def("write_partitioning", &WritePartitioningFile,
             "vqpeek.write_partitioning with every field given.", py::arg("path"),
             py::arg("labels").noconvert(), py::arg("count"), py::arg("names"),
             py::arg("generation_method"), py::arg("overwrite"));
  module.def("nearest", &Nearest, "vqpeek.nearest; threads 0 means all.",
             py::arg("vectors").noconvert(), py::arg("codes").noconvert(), py::arg("threads"));
  module.def("centroids", &Centroids, "vqpeek.centroids with the weights given.",
             py::arg("vectors").noconvert(), py::arg("labels").noconvert(), py::arg("count"),
             py::arg("freqs").noconvert());
  module.def("set_statistics", &SetStatisticsOf, "vqpeek.set_statistics with the weights given.",
             py::arg("vectors").noconvert(), py::arg("freqs").noconvert());
  module.def("quality", &QualityOf, "vqpeek.quality with labels, weights and peak given.",
             py::arg("vectors").noconvert(), py::arg("freqs").noconvert(),
             py::arg("codes").noconvert(), py::arg("labels").noconvert(), py::arg("peak"));
}
