// vqpeek._core: the library's readers, writers and searches over numpy
// arrays, for the Python package vqpeek.
//
// The package (vqpeek/__init__.py) checks and converts what a user passes;
// this core takes arrays only as the library can use them (C order, the
// shapes the call needs; elements as uint8, uint16 or int32, the widths of
// the files, everything else as int32) and refuses anything else, so a
// direct call cannot reach the library with data it would misread. Elements
// of one or two bytes are never widened as a whole: the library reads them
// where they lie, or they are widened a block at a time into a small buffer.
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
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
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

// Opens the set file `name` into `reader`, its head read without the GIL.
void OpenSetReader(const std::string& name, std::optional<SetReader>& reader) {
  RunLibrary(
      [&] {
        const py::gil_scoped_release unlocked;
        reader.emplace(name.c_str());
      },
      name);
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

// The element types of the vectors the core takes: the narrowest types
// that hold the values of each element width of the files.
enum class ElementType { kUint8, kUint16, kInt32 };

// The element type of `rows`, a C-ordered (n, dim) array; anything else is
// refused.
ElementType ElementTypeOf(const py::array& rows, const char* what) {
  RequireShape(rows, {-1, -1}, what);
  const py::dtype type = rows.dtype();
  if ((rows.flags() & py::array::c_style) != 0) {
    if (type.equal(py::dtype::of<std::uint8_t>())) return ElementType::kUint8;
    if (type.equal(py::dtype::of<std::uint16_t>())) return ElementType::kUint16;
    if (type.equal(py::dtype::of<std::int32_t>())) return ElementType::kInt32;
  }
  Raise(PyExc_TypeError, std::string(what) + ": a C-ordered uint8, uint16 or int32 array");
}

// Calls `visit` with the elements of `rows` as a pointer to their type.
template <typename Visit>
decltype(auto) VisitElements(const py::array& rows, ElementType type, Visit&& visit) {
  switch (type) {
    case ElementType::kUint8:
      return visit(static_cast<const std::uint8_t*>(rows.data()));
    case ElementType::kUint16:
      return visit(static_cast<const std::uint16_t*>(rows.data()));
    default:
      return visit(static_cast<const std::int32_t*>(rows.data()));
  }
}

// The rows of an element array as int32 rows, a block at a time, for the
// library operations that take int rows: an int32 array's own rows, else
// rows widened into a buffer of one batch (RowBatches). Safe without the
// GIL while the array lives.
class IntRows {
 public:
  IntRows(const py::array& rows, const char* what)
      : rows_(rows),
        type_(ElementTypeOf(rows, what)),
        dim_(rows.shape(1)),
        // An int32 array is handed out where it lies, whatever its size.
        batches_(rows.shape(0), static_cast<int>(std::clamp<py::ssize_t>(dim_, 1, INT32_MAX)),
                 INT_MAX, type_ == ElementType::kInt32 ? 0 : kCopiedBatchBytes) {}

  // Calls visit(rows, first, count) for consecutive blocks of all rows.
  template <typename Visit>
  void ForEach(Visit&& visit) {
    if (type_ == ElementType::kInt32) {
      if (rows_.shape(0) > 0) visit(static_cast<const int*>(rows_.data()), 0, rows_.shape(0));
      return;
    }
    batches_.ForEach([&](std::int64_t first, int count, int* buffer) {
      const auto begin = static_cast<std::size_t>(first * dim_);
      const auto size = static_cast<std::size_t>(count * dim_);
      VisitElements(rows_, type_,
                    [&](const auto* elements) { std::copy_n(elements + begin, size, buffer); });
      visit(static_cast<const int*>(buffer), static_cast<py::ssize_t>(first),
            static_cast<py::ssize_t>(count));
    });
  }

 private:
  const py::array& rows_;
  ElementType type_;
  py::ssize_t dim_;
  RowBatches batches_;
};

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
  // The head is looked at through the library's input, which decompresses
  // a compressed file and keeps what it read of a pipe for the reader.
  constexpr std::size_t kHeadBytes = 4096;
  FileHead head;
  std::string bytes;
  bool read = false;
  RunLibrary(
      [&] {
        const py::gil_scoped_release unlocked;
        read = PeekInput(name.c_str(), kHeadBytes, &bytes);
      },
      name);
  if (!read || bytes.empty()) return head;
  // The first line as a line reader takes it (79 characters), then the rest
  // of that line.
  const std::string line =
      bytes.substr(0, std::min(bytes.find('\n'), std::size_t{kTextFieldSize - 1}));
  head.kind = RecognizeVersionstr(line.c_str());
  std::size_t at = bytes.find('\n');
  if (at == std::string::npos) return head;
  ++at;
  // Two numbers as "%i" reads them: white space, then at most 31 characters
  // that may make a number.
  long long number = -1;
  for (int field = 0; field < 2; ++field) {
    while (at < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
    const std::size_t begin = at;
    while (at < bytes.size() && at - begin < 31 && bytes[at] != '\0' &&
           std::strchr("-+0123456789abcdefABCDEFxX", bytes[at]) != nullptr) {
      ++at;
    }
    const std::string text = bytes.substr(begin, at - begin);
    char* end = nullptr;
    number = std::strtoll(text.c_str(), &end, 0);
    if (end == text.c_str()) return head;
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

// The type of the elements of a file of `bytesPerElement` bytes per
// element: the narrowest that holds every value the file can store.
py::dtype FileWidthType(int bytesPerElement) {
  if (bytesPerElement == 1) return py::dtype::of<std::uint8_t>();
  if (bytesPerElement == 2) return py::dtype::of<std::uint16_t>();
  return py::dtype::of<std::int32_t>();
}

// Calls visit(Element{}) with the integer type that `type` names.
template <typename Visit>
void VisitIntegerType(const py::dtype& type, Visit&& visit) {
  bool found = false;
  auto attempt = [&](auto zero) {
    if (!found && type.equal(py::dtype::of<decltype(zero)>())) {
      found = true;
      visit(zero);
    }
  };
  attempt(std::uint8_t{});
  attempt(std::uint16_t{});
  attempt(std::int32_t{});
  attempt(std::int8_t{});
  attempt(std::int16_t{});
  attempt(std::uint32_t{});
  attempt(std::int64_t{});
  attempt(std::uint64_t{});
  if (!found) Raise(PyExc_TypeError, "dtype: an integer type in the machine's byte order");
}

// Copies `count` elements to `to` when every one of them fits Element, and
// returns count; else returns the index of the first that does not fit
// (nothing is then known to be copied).
template <typename Element>
std::size_t NarrowElements(const int* from, std::size_t count, Element* to) {
  if constexpr (!std::in_range<Element>(INT32_MIN) || !std::in_range<Element>(INT32_MAX)) {
    int low = INT32_MAX;
    int high = INT32_MIN;
    for (std::size_t i = 0; i < count; ++i) {
      low = std::min(low, from[i]);
      high = std::max(high, from[i]);
    }
    if (count > 0 && (!std::in_range<Element>(low) || !std::in_range<Element>(high))) {
      for (std::size_t i = 0; i < count; ++i) {
        if (!std::in_range<Element>(from[i])) return i;
      }
    }
  }
  std::copy_n(from, count, to);
  return count;
}

// The file's vectors are read a batch at a time straight into the returned
// array, in the type asked for (by default the file's width), so that the
// read needs no more than the arrays it returns and one batch.
py::dict ReadSet(const py::bytes& path, const py::object& dtype) {
  const std::string name = FileName(path);
  RefuseOtherKind(name, ReadFileHead(name).kind, true);
  std::optional<SetReader> reader;
  OpenSetReader(name, reader);
  const auto count = static_cast<py::ssize_t>(reader->Header().Booksize);
  const auto dim = static_cast<py::ssize_t>(reader->Dimension());
  const py::dtype type = dtype.is_none() ? FileWidthType(reader->Header().BytesPerElement)
                                         : py::dtype::from_args(dtype);
  py::array vectors;
  py::array_t<std::int32_t> freqs(count);
  std::vector<NamePtr> names;
  // The first value that the type asked for cannot hold; the rest of the
  // file is still read, so that a damaged file gets the library's message.
  std::optional<std::pair<py::ssize_t, int>> misfit;
  VisitIntegerType(type, [&](auto zero) {
    using Element = decltype(zero);
    vectors = py::array_t<Element>(std::vector<py::ssize_t>{count, dim});
    auto* out = static_cast<Element*>(vectors.mutable_data());
    std::int32_t* outFreqs = freqs.mutable_data();
    RunLibrary(
        [&] {
          const py::gil_scoped_release unlocked;
          SetBatch batch;
          while (reader->Next(&batch)) {
            const auto first = static_cast<std::size_t>(batch.First);
            const std::size_t elements = static_cast<std::size_t>(batch.Count) * dim;
            if (!misfit) {
              const std::size_t bad = NarrowElements(batch.Elements, elements, out + first * dim);
              if (bad < elements) {
                misfit.emplace(static_cast<py::ssize_t>(first + bad / dim), batch.Elements[bad]);
              }
            }
            std::copy_n(batch.Freqs, batch.Count, outFreqs + first);
            if (batch.Names == nullptr) continue;
            if (names.empty()) names.resize(static_cast<std::size_t>(count));
            for (int k = 0; k < batch.Count; ++k) {
              const char* text = batch.Names[k];
              if (text == nullptr) continue;
              const std::size_t size = std::strlen(text) + 1;
              names[first + k] = std::make_unique<char[]>(size);
              std::memcpy(names[first + k].get(), text, size);
            }
          }
        },
        name);
  });
  const Codebook& head = reader->Header();
  RefuseUnknownKind(name, RecognizeVersionstr(head.Versionstr), true);
  if (misfit) {
    Raise(PyExc_ValueError, "dtype: the value " + std::to_string(misfit->second) + " of vector " +
                                std::to_string(misfit->first) + " does not fit " +
                                type.attr("name").cast<std::string>());
  }
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
  if (!names.empty()) {
    py::list list(static_cast<std::size_t>(count));
    for (py::ssize_t i = 0; i < count; ++i) {
      const char* text = names[static_cast<std::size_t>(i)].get();
      list[static_cast<std::size_t>(i)] =
          text != nullptr ? py::object(DecodeText(text)) : py::object(py::none());
    }
    result["names"] = list;
  } else {
    result["names"] = py::none();
  }
  result["vectors"] = vectors;
  result["freqs"] = freqs;
  return result;
}

// The names of `count` vectors as the library's writers take them: null
// for none, or one pointer per vector (null for None or an empty name)
// into `kept`, which holds the texts.
std::vector<const char*> NamePointers(const py::object& names, py::ssize_t count,
                                      std::vector<std::string>* kept) {
  std::vector<const char*> pointers;
  if (names.is_none()) return pointers;
  const py::list list = names;
  if (static_cast<py::ssize_t>(py::len(list)) != count) {
    Raise(PyExc_ValueError, "names: one entry per vector");
  }
  kept->resize(static_cast<std::size_t>(count));
  pointers.resize(static_cast<std::size_t>(count), nullptr);
  for (std::size_t i = 0; i < pointers.size(); ++i) {
    const py::handle entry = list[i];
    if (entry.is_none()) continue;
    (*kept)[i] = py::bytes(py::reinterpret_borrow<py::object>(entry));
    if ((*kept)[i].find('\0') != std::string::npos) {
      Raise(PyExc_ValueError, "names: a name holds a NUL");
    }
    if (!(*kept)[i].empty()) pointers[i] = (*kept)[i].c_str();
  }
  return pointers;
}

void WriteSet(const py::bytes& path, const py::array& vectors, const Int32Array& freqs,
              const py::object& names, int kind, int blockX, int blockY, int bytes, int low,
              int high, int preprocessing, const py::bytes& method, bool overwrite) {
  const std::string name = FileName(path);
  const ElementType type = ElementTypeOf(vectors, "vectors");
  if (kind != kTrainingSetFile && kind != kCodebookFile) Raise(PyExc_ValueError, "unknown kind");
  if (blockX < 1 || blockY < 1 ||
      static_cast<std::int64_t>(blockX) * blockY != static_cast<std::int64_t>(vectors.shape(1))) {
    Raise(PyExc_ValueError, "block_size does not match the vector dimension");
  }
  RequireShape(freqs, {vectors.shape(0)}, "freqs");
  const std::string methodText = TextField(method, kTextFieldSize - 1, "generation_method");
  Codebook head;
  head.Booksize = LibraryCount(vectors.shape(0), "vectors");
  head.BlockSizeX = blockX;
  head.BlockSizeY = blockY;
  head.BytesPerElement = bytes;
  head.MinValue = low;
  head.MaxValue = high;
  head.Preprocessing = preprocessing;
  std::snprintf(head.GenerationMethod, kTextFieldSize, "%s", methodText.c_str());
  RunLibrary([&] { SetVerString(head.Versionstr, kind); });
  std::vector<std::string> kept;
  const std::vector<const char*> pointers = NamePointers(names, vectors.shape(0), &kept);
  const char* const* nameArray = pointers.empty() ? nullptr : pointers.data();
  RunLibrary(
      [&] {
        const py::gil_scoped_release unlocked;
        VisitElements(vectors, type, [&](const auto* elements) {
          WriteFlatSet(name.c_str(), &head, elements, freqs.data(), nameArray, overwrite ? 1 : 0);
        });
      },
      name);
}

// `size` -1 reads as many vectors as the file's head states; another size
// must be the head's, or the library refuses the file. Only the labels are
// held, and only as many as the file's lines give: a head that claims more
// vectors than the file holds is refused once the lines run out.
py::tuple ReadPartitioningFile(const py::bytes& path, py::ssize_t size) {
  const std::string name = FileName(path);
  const FileHead head = ReadFileHead(name);
  const int kind = head.kind;
  RefuseOtherKind(name, kind, false);
  if (size == -1) size = head.size >= 0 ? static_cast<py::ssize_t>(head.size) : 0;
  const int vectors = LibraryCount(size, "training set size");
  auto labels = std::make_unique<std::vector<int>>();
  char method[kTextFieldSize] = {};
  int count = 0;
  RunLibrary(
      [&] {
        const py::gil_scoped_release unlocked;
        count = ReadPartitionLabels(name.c_str(), vectors, labels.get(), method);
      },
      name);
  RefuseUnknownKind(name, kind, false);
  // The array takes the labels' memory as its own, without a copy.
  const py::capsule owner(labels.get(), [](void* data) {
    std::unique_ptr<std::vector<int>>(static_cast<std::vector<int>*>(data));
  });
  const std::vector<int>* held = labels.release();
  const py::array_t<std::int32_t> array(static_cast<py::ssize_t>(held->size()), held->data(),
                                        owner);
  return py::make_tuple(array, count, DecodeText(method));
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

py::tuple Nearest(const py::array& vectors, const Int32Array& codes, int threads) {
  const ElementType type = ElementTypeOf(vectors, "vectors");
  RequireShape(codes, {-1, vectors.shape(1)}, "codes");
  const int count = LibraryCount(vectors.shape(0), "vectors");
  const int codeCount = LibraryCount(codes.shape(0), "codes");
  const int dim = LibraryCount(vectors.shape(1), "vector dimension");
  if (codeCount < 1) Raise(PyExc_ValueError, "codes: at least one code vector");
  if (dim < 1) Raise(PyExc_ValueError, "vectors: at least one element each");
  if (threads < 0) Raise(PyExc_ValueError, "threads: 1 or more, or 0 for all");
  py::array_t<std::int32_t> labels(static_cast<py::ssize_t>(count));
  py::array_t<std::int64_t> distances(static_cast<py::ssize_t>(count));
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
        // The library reads the vectors where they lie, in their own type.
        VisitElements(vectors, type, [&](const auto* x) {
          FindNearestVectors(x + static_cast<std::size_t>(first) * dim, part, c, codeCount, dim,
                             threads, chosen + first, best + first);
        });
      }
      if (PyErr_CheckSignals() != 0) throw py::error_already_set();
    }
  });
  return py::make_tuple(labels, distances);
}

py::tuple Centroids(const py::array& vectors, const Int32Array& labels, int count,
                    const Int32Array& freqs) {
  IntRows rows(vectors, "vectors");
  RequireShape(labels, {vectors.shape(0)}, "labels");
  RequireShape(freqs, {vectors.shape(0)}, "freqs");
  LibraryCount(vectors.shape(0), "vectors");
  if (count < 1) Raise(PyExc_ValueError, "count: at least 1");
  const int dim = LibraryCount(vectors.shape(1), "vector dimension");
  if (dim < 1) Raise(PyExc_ValueError, "vectors: at least one element each");
  RequireLabels(labels, count, true);
  py::array_t<std::int32_t> codes(std::vector<py::ssize_t>{count, dim});
  py::array_t<std::int32_t> weights(static_cast<py::ssize_t>(count));
  std::fill_n(codes.mutable_data(), codes.size(), 0);
  std::optional<CentroidAccumulator> accumulator;
  RunLibrary([&] {
    accumulator.emplace(count, dim);
    const py::gil_scoped_release unlocked;
    rows.ForEach([&](const int* block, py::ssize_t first, py::ssize_t n) {
      accumulator->Add(block, freqs.data() + first, labels.data() + first, n);
    });
    accumulator->Centroids(codes.mutable_data(), weights.mutable_data());
  });
  return py::make_tuple(codes, weights);
}

// --- Training ------------------------------------------------------------------

// Trains on `set`: from the code vectors `codes` ((K, dim) int32), or from
// `k` training vectors chosen with `seed`. The GIL is released while the
// library works; `progress` (or None) is called after every assignment
// with (iteration, distortion, mse, refilled, seconds), and the signals
// are looked at between the parts of every pass, so that Ctrl-C raises
// KeyboardInterrupt there. Returns (codes, freqs, labels, mse, updates,
// history); codes keep the names of `codes` where `names` gives them.
py::tuple Train(TrainingSource set, const py::object& codes, int k, int updates, double threshold,
                std::uint64_t seed, int threads, const py::object& progress,
                const std::string& file = {}) {
  const int dim = set.Dimension();
  if (dim < 1) Raise(PyExc_ValueError, "vectors: at least one element each is needed");
  if (threads < 0) Raise(PyExc_ValueError, "threads: 1 or more, or 0 for all");
  Codebook codebook;
  int count = k;
  std::optional<Int32Array> initial;
  if (!codes.is_none()) {
    initial.emplace(codes.cast<Int32Array>());
    RequireShape(*initial, {-1, dim}, "initial");
    count = LibraryCount(initial->shape(0), "initial");
  }
  RunLibrary([&] { CreateNewTrainingSet(&codebook, count, dim, 1, 4, 0, 0, 0, ""); });
  if (initial) {
    for (int j = 0; j < count; ++j) {
      std::copy_n(initial->data() + static_cast<std::size_t>(j) * dim, dim,
                  codebook.Book[j].Vector.get());
    }
  }
  TrainingOptions options;
  options.Updates = updates;
  options.Threshold = threshold;
  options.Threads = threads;
  if (!progress.is_none()) {
    options.Progress = [&progress](const TrainingProgress& p) {
      const py::gil_scoped_acquire locked;
      progress(p.Iteration, p.Distortion, p.Mse, p.Refilled, p.Seconds);
    };
  }
  options.PassProgress = [](std::int64_t, std::int64_t) {
    const py::gil_scoped_acquire locked;
    if (PyErr_CheckSignals() != 0) throw py::error_already_set();
  };
  TrainingResult result;
  RunLibrary(
      [&] {
        const py::gil_scoped_release unlocked;
        if (!initial) ChooseTrainingVectors(set, count, seed, &codebook);
        TrainCodebook(set, &codebook, options, &result);
      },
      file);
  py::array_t<std::int32_t> trained(std::vector<py::ssize_t>{count, dim});
  py::array_t<std::int32_t> freqs(static_cast<py::ssize_t>(count));
  for (int j = 0; j < count; ++j) {
    std::copy_n(codebook.Book[j].Vector.get(), dim,
                trained.mutable_data() + static_cast<std::size_t>(j) * dim);
    freqs.mutable_data()[j] = codebook.Book[j].Freq;
  }
  py::array_t<std::int32_t> labels(static_cast<py::ssize_t>(result.Labels.Count));
  std::int32_t* label = labels.mutable_data();
  for (int i = 0; i < result.Labels.Count; ++i) label[i] = result.Labels[i];
  py::list history;
  for (const double mse : result.History) history.append(mse);
  return py::make_tuple(trained, freqs, labels, result.Mse, result.Updates, history);
}

py::tuple TrainRows(const py::array& vectors, const Int32Array& freqs, const py::object& codes,
                    int k, int updates, double threshold, std::uint64_t seed, int threads,
                    const py::object& progress) {
  const ElementType type = ElementTypeOf(vectors, "vectors");
  RequireShape(freqs, {vectors.shape(0)}, "freqs");
  const int count = LibraryCount(vectors.shape(0), "vectors");
  const int dim = LibraryCount(vectors.shape(1), "vector dimension");
  return VisitElements(vectors, type, [&](const auto* rows) {
    return Train(TrainingSource(rows, freqs.data(), count, dim), codes, k, updates, threshold, seed,
                 threads, progress);
  });
}

// Streams the set file at `path`; returns the result of Train and the
// file's header fields.
py::tuple TrainFile(const py::bytes& path, const py::object& codes, int k, int updates,
                    double threshold, std::uint64_t seed, int threads, const py::object& progress) {
  const std::string name = FileName(path);
  const int kind = ReadFileHead(name).kind;
  RefuseOtherKind(name, kind, true);
  std::optional<SetReader> reader;
  OpenSetReader(name, reader);
  RefuseUnknownKind(name, kind, true);
  const py::tuple trained =
      Train(*reader, codes, k, updates, threshold, seed, threads, progress, name);
  const Codebook& head = reader->Header();
  py::dict header;
  header["block_size"] = py::make_tuple(head.BlockSizeX, head.BlockSizeY);
  header["bytes_per_element"] = head.BytesPerElement;
  header["min_value"] = head.MinValue;
  header["max_value"] = head.MaxValue;
  header["preprocessing"] = head.Preprocessing;
  return py::make_tuple(trained, header);
}

// --- Figures -------------------------------------------------------------------

// A figure, or None for one that has none (NaN).
py::object Figure(double value) {
  return std::isnan(value) ? py::object(py::none()) : py::object(py::float_(value));
}

// (distinct vectors, mean element, variance) of vqpeek.set_statistics.
py::tuple SetStatisticsOf(const py::array& vectors, const Int32Array& freqs) {
  IntRows rows(vectors, "vectors");
  RequireShape(freqs, {vectors.shape(0)}, "freqs");
  const int dim = LibraryCount(vectors.shape(1), "vector dimension");
  if (dim < 1) Raise(PyExc_ValueError, "vectors: at least one element each");
  SetFigureAccumulator accumulator(dim);
  rows.ForEach([&](const int* block, py::ssize_t first, py::ssize_t n) {
    accumulator.Add(block, freqs.data() + first, n);
  });
  const SetFigures figures = accumulator.Figures();
  return py::make_tuple(figures.DistinctVectors, Figure(figures.MeanElement),
                        Figure(figures.Variance));
}

// The fields of vqpeek.quality, partition p measured against codes[p].
py::tuple QualityOf(const py::array& vectors, const Int32Array& freqs, const Int32Array& codes,
                    const Int32Array& labels, double peak) {
  IntRows rows(vectors, "vectors");
  RequireShape(freqs, {vectors.shape(0)}, "freqs");
  RequireShape(codes, {-1, vectors.shape(1)}, "codes");
  RequireShape(labels, {vectors.shape(0)}, "labels");
  const int dim = LibraryCount(vectors.shape(1), "vector dimension");
  const int count = LibraryCount(codes.shape(0), "codes");
  if (dim < 1 || count < 1) Raise(PyExc_ValueError, "at least one code vector and element");
  RequireLabels(labels, count, false);
  PartitionFigureAccumulator accumulator(codes.data(), count, dim);
  rows.ForEach([&](const int* block, py::ssize_t first, py::ssize_t n) {
    accumulator.Add(block, freqs.data() + first, labels.data() + first, n);
  });
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
  module.def("read_set", &ReadSet,
             "The fields and arrays of vqpeek.read_set, as a dict; dtype None takes the file's "
             "width.",
             py::arg("path"), py::arg("dtype"));
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
  module.def("train_rows", &TrainRows,
             "vqpeek.train of an array; codes None chooses k vectors with the seed.",
             py::arg("vectors").noconvert(), py::arg("freqs").noconvert(), py::arg("codes"),
             py::arg("k"), py::arg("updates"), py::arg("threshold"), py::arg("seed"),
             py::arg("threads"), py::arg("progress"));
  module.def("train_file", &TrainFile,
             "vqpeek.train of a file, streamed: (the result of train_rows, the file's header).",
             py::arg("path"), py::arg("codes"), py::arg("k"), py::arg("updates"),
             py::arg("threshold"), py::arg("seed"), py::arg("threads"), py::arg("progress"));
  module.def("set_statistics", &SetStatisticsOf, "vqpeek.set_statistics with the weights given.",
             py::arg("vectors").noconvert(), py::arg("freqs").noconvert());
  module.def("quality", &QualityOf, "vqpeek.quality with labels, weights and peak given.",
             py::arg("vectors").noconvert(), py::arg("freqs").noconvert(),
             py::arg("codes").noconvert(), py::arg("labels").noconvert(), py::arg("peak"));
}
