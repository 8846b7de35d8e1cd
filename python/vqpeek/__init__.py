"""Training sets, codebooks and partitionings of vector quantisation as numpy arrays.

The files are read and written by the vqpeek library itself, so they mean in
Python exactly what they mean to the vqpeek program: version 1 and 2 set
files, names, every element width, the library's checks of damaged files.
On top of the files: the exact nearest code vector of every vector on the
library's kernels, the library's rounded centroids, and a montage of image
blocks as a picture.

    >>> import vqpeek
    >>> cb = vqpeek.read_set("examples/blocks.cb")
    >>> cb.vectors.shape, cb.vectors.dtype
    ((8, 16), dtype('uint8'))

Vectors come and go in the width of their file's elements: uint8 for one
byte per element, uint16 for two, int32 for three and four. Every function
takes them in these types as they are, without a wider copy of the set;
other integer types are taken as int32.

A file the library refuses raises vqpeek.Error (a ValueError) with the
library's own message. A file that cannot be found, created, read or
written raises vqpeek.FileError, an OSError with the system's errno,
strerror and filename and the library's message as its text; a missing
file is also a FileNotFoundError, a refused one a PermissionError, a
directory an IsADirectoryError, an existing file that is not to be
replaced a FileExistsError.
"""
from __future__ import annotations

import math
import os
from typing import NamedTuple

import numpy as np

from . import _core
from ._core import Error, FileError, __version__

__all__ = [
    "Error",
    "FileError",
    "Quality",
    "SetStatistics",
    "VQPartitioning",
    "VQSet",
    "__version__",
    "centroids",
    "nearest",
    "quality",
    "read_partitioning",
    "read_set",
    "save_pgm",
    "set_statistics",
    "tiles",
    "train",
    "Training",
    "TrainingProgress",
    "write_partitioning",
    "write_set",
]

_KIND_CODES = {"training set": 1, "codebook": 2}
_KIND_NAMES = {code: name for name, code in _KIND_CODES.items()}
_INT32_MIN = -(2**31)
_INT32_MAX = 2**31 - 1
_LINE_LIMIT = 78  # characters of a header text line that read back whole
_TILE_PART_ELEMENTS = 1 << 20  # elements that tiles turns into pixels at a time


class VQSet:
    """A training set or a codebook: the header of its file and its data.

    VQSet(vectors, freqs=None, names=None, kind="training set", ...) makes
    one from arrays, with the header fields that write_set takes (see
    there) and their defaults: block size (x * y, 1), the smallest element
    width that holds every value, MinValue and MaxValue from the data,
    frequencies 1 for a training set and 0 for a codebook. Every argument
    is checked, so that the set writes and reads back as it stands. The
    vectors are not copied when they already are a C-ordered uint8, uint16
    or int32 array; other integer types become int32.

    Attributes:
        kind: "training set" or "codebook".
        version_line: the file's first line, as "VQ CODEBOOK 2.0"; a version 1
            file keeps its own.
        block_size: (x, y); every vector holds x * y elements, row by row.
        total_freq: the sum of the frequencies.
        bytes_per_element: the width of an element in the file, 1 to 4.
        min_value, max_value: the value range the header states.
        preprocessing: the code of a preprocessing applied to the data.
        generation_method: how the set was made; "" when the file says nothing.
        vectors: array of shape (booksize, x * y); read from a file, uint8
            for one byte per element, uint16 for two, int32 for three and
            four (or the dtype read_set was asked for).
        freqs: int32 array of shape (booksize,): the occurrences of each
            training vector, or the training vectors each code vector stands for.
        names: one str or None per vector, or None when no vector has a name.
    """

    __slots__ = (
        "kind",
        "version_line",
        "block_size",
        "total_freq",
        "bytes_per_element",
        "min_value",
        "max_value",
        "preprocessing",
        "generation_method",
        "vectors",
        "freqs",
        "names",
    )

    def __init__(
        self,
        vectors,
        freqs=None,
        names=None,
        kind: str = "training set",
        block_size=None,
        bytes_per_element: int | None = None,
        min_value: int | None = None,
        max_value: int | None = None,
        preprocessing: int = 0,
        generation_method: str = "",
    ):
        if kind not in _KIND_CODES:
            raise ValueError(f"kind: 'training set' or 'codebook', not {kind!r}")
        x = _elements(vectors, "vectors")
        count, dim = x.shape
        _count(count, "number of vectors", 0)
        if freqs is None:
            freqs = np.full(count, 1 if kind == "training set" else 0, dtype=np.int32)
        f = _int32(freqs, "freqs", 1)
        if len(f) != count:
            raise ValueError(f"freqs: {len(f)} frequencies for {count} vectors")
        bx, by = (dim, 1) if block_size is None else (_count(v, "block_size", 1)
                                                       for v in block_size)
        if bx * by != dim:
            raise ValueError(f"block_size: {bx}x{by} blocks do not hold {dim} elements")
        low = int(x.min()) if x.size else 0
        high = int(x.max()) if x.size else 0
        if bytes_per_element is None:
            bytes_per_element = 4 if low < 0 else next(w for w in (1, 2, 3, 4) if high < 256**w)
        width = _count(bytes_per_element, "bytes_per_element", 1)
        if width > 4:
            raise ValueError("bytes_per_element: 1 to 4")
        if width < 4 and (low < 0 or high >= 256**width):
            raise ValueError(
                f"vectors: the values {low}..{high} do not fit {width} byte(s) per element "
                f"(0..{256**width - 1})"
            )
        names = _names(names, count, line_text=False)
        self.kind = kind
        self.version_line = "VQ TRAINING SET 2.0" if kind == "training set" else "VQ CODEBOOK 2.0"
        self.block_size = (bx, by)
        self.total_freq = int(f.sum(dtype=np.int64))
        self.bytes_per_element = width
        self.min_value = _count(low if min_value is None else min_value, "min_value", _INT32_MIN)
        self.max_value = _count(high if max_value is None else max_value, "max_value", _INT32_MIN)
        self.preprocessing = _count(preprocessing, "preprocessing", _INT32_MIN)
        self.generation_method = _decode(_text_line(generation_method, "generation_method"))
        self.vectors = x
        self.freqs = f
        self.names = None if names is None else [None if n is None else _decode(n) for n in names]

    @classmethod
    def _of(cls, fields: dict) -> VQSet:
        """A set of fields that need no check: a file's, as the library read it."""
        made = object.__new__(cls)
        for name in cls.__slots__:
            setattr(made, name, fields[name])
        return made

    @property
    def booksize(self) -> int:
        """The number of vectors."""
        return len(self.vectors)

    def __len__(self) -> int:
        return len(self.vectors)

    def __repr__(self) -> str:
        x, y = self.block_size
        return (
            f"<vqpeek.VQSet {self.kind}: {self.booksize} vectors of {x}x{y}, "
            f"total frequency {self.total_freq}>"
        )


class VQPartitioning(NamedTuple):
    """A partitioning file: the partition of every training vector.

    Attributes:
        labels: int32 array with the 0-based partition of training vector i at
            index i, in the order of the file's lines.
        count: the number of partitions (some may be empty).
        generation_method: the file's description; "" when it has none.
    """

    labels: np.ndarray
    count: int
    generation_method: str


# --- Arguments -----------------------------------------------------------------


def _path(path) -> bytes:
    return os.fsencode(path)


def _encode(text) -> bytes:
    # Texts of the files are bytes; str is taken as UTF-8, and the bytes
    # that read_set could not decode come back as they were.
    return text.encode("utf-8", "surrogateescape") if isinstance(text, str) else bytes(text)


def _decode(text: bytes) -> str:
    return text.decode("utf-8", "surrogateescape")


def _vectors_of(values):
    return values.vectors if isinstance(values, VQSet) else values


def _int32(values, what: str, ndim: int) -> np.ndarray:
    """`values` as a C-ordered int32 array of `ndim` dimensions, refusing
    anything that is not integer or does not fit; no copy when it already is one."""
    array = np.asarray(values)
    if array.dtype.kind not in "iu":
        hint = " (round the values first)" if array.dtype.kind in "fc" else ""
        raise TypeError(f"{what}: integer values are needed, not {array.dtype}{hint}")
    if array.ndim != ndim:
        shape = "(vectors, elements)" if ndim == 2 else "(vectors,)"
        raise ValueError(f"{what}: an array of shape {shape} is needed, not {array.shape}")
    if array.dtype != np.int32 and array.size > 0:
        low, high = int(array.min()), int(array.max())
        if low < _INT32_MIN or high > _INT32_MAX:
            raise ValueError(f"{what}: the values {low}..{high} do not fit 32 bits")
    return np.ascontiguousarray(array, dtype=np.int32)


# The element types of the files' widths, taken everywhere as they are.
_ELEMENT_TYPES = (np.dtype(np.uint8), np.dtype(np.uint16), np.dtype(np.int32))


def _elements(values, what: str) -> np.ndarray:
    """`values` as a C-ordered (n, d) array of uint8, uint16 or int32, kept
    in its type when it is one of these; any other integer type as int32."""
    array = np.asarray(values)
    if array.dtype in _ELEMENT_TYPES and array.ndim == 2:
        return np.ascontiguousarray(array)
    return _int32(array, what, 2)


def _count(value, what: str, minimum: int) -> int:
    if isinstance(value, (bool, np.bool_)) or not isinstance(value, (int, np.integer)):
        raise TypeError(f"{what}: an integer is needed")
    value = int(value)
    if not minimum <= value <= _INT32_MAX:
        raise ValueError(f"{what}: {value} is not between {minimum} and {_INT32_MAX}")
    return value


def _text_line(text: str, what: str) -> bytes:
    """A header text line that reads back exactly as written."""
    encoded = _encode(text)
    if len(encoded) > _LINE_LIMIT or any(c in encoded for c in b"\0\n\r"):
        raise ValueError(f"{what}: one line of at most {_LINE_LIMIT} bytes is needed")
    if encoded[:1] in (b"-", b" ", b"\t", b"\v", b"\f"):
        raise ValueError(f"{what}: would not read back (it begins with {encoded[:1]!r})")
    return encoded


def _names(names, count: int, line_text: bool) -> list | None:
    """The names as bytes (None for none), one per vector."""
    if names is None:
        return None
    names = list(names)
    if len(names) != count:
        raise ValueError(f"names: {len(names)} names for {count} vectors")
    encoded = []
    for i, name in enumerate(names):
        if name is None:
            encoded.append(None)
            continue
        data = _encode(name)
        if b"\0" in data or len(data) > 79:
            raise ValueError(f"names[{i}]: at most 79 bytes and no NUL")
        if line_text and (b"\n" in data):
            raise ValueError(f"names[{i}]: a line end would split the partitioning file")
        encoded.append(data or None)
    return encoded


def _labels(labels, count: int, lowest: int) -> np.ndarray:
    """The labels as int32, each between `lowest` and count - 1."""
    y = _int32(labels, "labels", 1)
    if y.size and (int(y.min()) < lowest or int(y.max()) >= count):
        if lowest == 0 and int(y.min()) == -1:
            raise ValueError("labels: -1 (no partition) cannot be written to a partitioning file")
        raise ValueError(f"labels: the partitions {int(y.min())}..{int(y.max())} are not all "
                         f"between {lowest} and {count - 1}")
    return y


# --- Files -------------------------------------------------------------------


def read_set(path, dtype=None) -> VQSet:
    """Reads a training-set or codebook file (version 1 or 2).

    Returns a VQSet with the header fields and the data: vectors of shape
    (n, x * y), freqs (int32, shape (n,)) and names. The vectors come in the
    width of the file's elements: uint8 for one byte per element (and every
    version 1 file), uint16 for two, int32 for three and four. dtype asks
    for another integer type; a value that the type cannot hold raises
    ValueError, never wraps. The library's reader decodes the elements a
    batch at a time straight into the returned array, so a set takes little
    more memory than its file. A frequency total in the header that differs
    from the sum of the frequencies gives the library's warning as a
    UserWarning. A file compressed with gzip or zstd is read as it is,
    whatever its name; so are a named pipe and "-" (standard input).

    Raises vqpeek.FileError when the file cannot be read and vqpeek.Error
    when it is not a set file or the library refuses its contents (a
    damaged compressed file among them); TypeError for a dtype that is not
    an integer type.
    """
    if dtype is not None:
        dtype = np.dtype(dtype)
        if dtype.kind not in "iu":
            raise TypeError(f"dtype: an integer type is needed, not {dtype}")
        if not dtype.isnative:
            raise TypeError(f"dtype: the machine's byte order is needed, not {dtype.str}")
    fields = _core.read_set(_path(path), dtype)
    fields["kind"] = _KIND_NAMES[fields["kind"]]
    return VQSet._of(fields)


def write_set(
    path,
    vectors,
    freqs=None,
    names=None,
    kind: str | None = None,
    block_size=None,
    bytes_per_element: int | None = None,
    min_value: int | None = None,
    max_value: int | None = None,
    preprocessing: int | None = None,
    generation_method: str | None = None,
    overwrite: bool = True,
) -> None:
    """Writes vectors as a version-2 training-set or codebook file.

    vectors: integers of shape (n, x * y), or a VQSet, which then gives
        every other field that is not passed. uint8, uint16 and int32 are
        written as they are, without a wider copy.
    freqs: n integers; by default 1 for a training set and 0 for a codebook.
    names: None, or one str (or None for no name) per vector, each at most
        79 bytes in UTF-8.
    kind: "training set" (the default) or "codebook".
    block_size: (x, y); by default (x * y, 1).
    bytes_per_element: 1 to 4; by default the smallest width that holds every
        value (4 when a value is negative).
    min_value, max_value: the header's value range; by default the smallest
        and largest value.
    preprocessing: the header's preprocessing code; by default 0.
    generation_method: one line of at most 78 characters that begins with
        neither "-" nor a blank (else it would not read back); by default "".
    overwrite: replace an existing file; otherwise an existing file raises
        vqpeek.FileError. The library writes a new file completely before it
        replaces the old one.

    Values that do not fit the element width (widths below 4 hold 0 ..
    256**width - 1) are refused with ValueError before the file is opened:
    the fields are checked as VQSet checks them.
    """
    fields = dict(freqs=freqs, names=names, kind=kind, block_size=block_size,
                  bytes_per_element=bytes_per_element, min_value=min_value,
                  max_value=max_value, preprocessing=preprocessing,
                  generation_method=generation_method)
    if isinstance(vectors, VQSet):
        for name, value in fields.items():
            if value is None:
                fields[name] = getattr(vectors, name)
        vectors = vectors.vectors
    s = VQSet(vectors, **{name: value for name, value in fields.items() if value is not None})
    _core.write_set(
        _path(path),
        s.vectors,
        s.freqs,
        None if s.names is None else [None if n is None else _encode(n) for n in s.names],
        _KIND_CODES[s.kind],
        *s.block_size,
        s.bytes_per_element,
        s.min_value,
        s.max_value,
        s.preprocessing,
        _encode(s.generation_method),
        bool(overwrite),
    )


def read_partitioning(path, training_set=None) -> VQPartitioning:
    """Reads a partitioning file.

    training_set: None to read as many training vectors as the file's head
        states; or the VQSet the file partitions, or its number of vectors,
        which the file must cover exactly.
    Returns a VQPartitioning (labels, count, generation_method): labels holds
    the 0-based partition of every training vector, in the order of the
    file's lines, as the library reads them. The library (and the vqpeek
    program) lists the members of partition k from the highest index to the
    lowest: np.flatnonzero(labels == k)[::-1]. A file compressed with gzip
    or zstd is read as it is, whatever its name.

    Raises vqpeek.FileError when the file cannot be read and vqpeek.Error
    when the library refuses it (a file for another number of vectors, one
    that ends before the vectors its head states, an index outside the
    partitions, a line without a number). Only the labels of the lines
    there are take memory, whatever the head claims.
    """
    if training_set is None:
        size = -1  # the file's
    elif isinstance(training_set, VQSet):
        size = len(training_set)
    else:
        size = _count(training_set, "training_set", 0)
    labels, count, method = _core.read_partitioning(_path(path), size)
    return VQPartitioning(labels, count, method)


def write_partitioning(
    path,
    labels,
    count: int,
    names=None,
    generation_method: str = "",
    overwrite: bool = True,
) -> None:
    """Writes a partitioning file: the 1-based partition of every training
    vector, one line each, followed by the vector's name where it has one.

    labels: one 0-based partition (0 .. count - 1) per training vector. A
        vector in no partition (-1) is refused: the file has no way to say
        it, and the library would write a line its reader rejects.
    count: the number of partitions, at least 1; partitions without
        members are allowed.
    names: the training vectors' names (a VQSet's names), or None.
    generation_method, overwrite: as for write_set.
    """
    count = _count(count, "count", 1)
    y = _labels(labels, count, 0)
    _core.write_partitioning(
        _path(path),
        y,
        count,
        _names(names, len(y), line_text=True),
        _text_line(generation_method, "generation_method"),
        bool(overwrite),
    )


# --- Searches ------------------------------------------------------------------


def nearest(vectors, codes, threads: int | None = None):
    """The exact nearest code vector of every vector under the squared distance.

    vectors: integers of shape (n, d), or a VQSet; codes: integers of shape
    (m, d) with m >= 1, or a VQSet. Integer arrays of any width are taken when
    their values fit 32 bits (uint8, uint16 and int32 vectors as they are,
    without a wider copy); float arrays are refused (TypeError) rather
    than rounded.
    threads: how many threads the search may use; None for as many as the
        process may run on (its CPU affinity, held to its cgroup's CPU quota).

    Returns (labels, distances): int32 labels, the lowest index among the
    nearest code vectors, and their int64 squared distances (exact; a sum
    beyond the int64 range shows as its largest value). The library's
    vector kernels do the search with the GIL released, in parts: Ctrl-C
    raises KeyboardInterrupt after the part under way.
    """
    x = _elements(_vectors_of(vectors), "vectors")
    c = _int32(_vectors_of(codes), "codes", 2)
    if x.shape[1] != c.shape[1]:
        raise ValueError(f"vectors have {x.shape[1]} elements, codes {c.shape[1]}")
    if len(c) == 0:
        raise ValueError("codes: at least one code vector is needed")
    if x.shape[1] == 0:
        raise ValueError("vectors: at least one element each is needed")
    _count(len(x), "number of vectors", 0)
    return _core.nearest(x, c, 0 if threads is None else _count(threads, "threads", 1))


def centroids(vectors, labels, count: int, freqs=None):
    """The rounded, frequency-weighted centroid of every partition.

    vectors: integers of shape (n, d), or a VQSet (whose freqs are then the
    default weights), uint8, uint16 and int32 taken without a wider copy;
    labels: n partitions, 0 .. count - 1, or -1 for a vector in no
    partition; freqs: n weights, by default the set's or 1.

    Returns (centroids, freqs): int32 of shape (count, d), each element
    sum(freq * element) / sum(freq) + 0.5 truncated toward zero exactly as the
    library's centroid codebook has it, and the int32 total frequency of
    every partition. A partition whose total frequency is 0 or below has
    frequency 0 and a centroid of zeros.
    """
    if freqs is None and isinstance(vectors, VQSet):
        freqs = vectors.freqs
    x = _elements(_vectors_of(vectors), "vectors")
    count = _count(count, "count", 1)
    y = _labels(labels, count, -1)
    if len(y) != len(x):
        raise ValueError(f"labels: {len(y)} labels for {len(x)} vectors")
    if x.shape[1] == 0:
        raise ValueError("vectors: at least one element each is needed")
    f = np.ones(len(x), dtype=np.int32) if freqs is None else _int32(freqs, "freqs", 1)
    if len(f) != len(x):
        raise ValueError(f"freqs: {len(f)} frequencies for {len(x)} vectors")
    return _core.centroids(x, y, count, f)


# --- Training ------------------------------------------------------------------


class TrainingProgress(NamedTuple):
    """What vqpeek.train reports to its progress callable after every assignment.

    Attributes:
        iteration: 0 for the assignment to the initial codebook.
        distortion: the sum of freq * squared distance to the code vectors.
        mse: the distortion over total frequency * vector dimension.
        refilled: the empty partitions refilled after it (0 at the last).
        seconds: since the training started.
    """

    iteration: int
    distortion: float
    mse: float
    refilled: int
    seconds: float


class Training(NamedTuple):
    """The result of vqpeek.train.

    Attributes:
        codebook: a VQSet of kind "codebook" with the training set's header
            fields, the trained code vectors in the set's element type, and
            as freqs the total frequency of each code vector's partition.
        labels: int32, the partition of every training vector in the last
            assignment.
        mse: the mean squared error per element of the last assignment, as
            vqpeek -S prints it for the set and the codebook.
        updates: the codebook updates made.
        history: the mse of every assignment, the first and the last included.
    """

    codebook: VQSet
    labels: np.ndarray
    mse: float
    updates: int
    history: list


def train(ts_or_path, k=None, *, initial=None, updates: int = 100, threshold: float = 1e-4,
          seed: int = 1, threads: int | None = None, progress=None) -> Training:
    """Trains a codebook with the generalised Lloyd algorithm of the library.

    ts_or_path: a VQSet (weighted by its freqs) or integers of shape (n, d)
        (each vector counted once), trained in memory as they are (uint8,
        uint16 and int32 without a wider copy); or the path of a training-set
        file, read from the file once per iteration (only a label per vector
        is kept).
    k: the codebook size: k distinct training vectors chosen with `seed`
        are the initial code vectors. Or initial: the initial codebook, a
        VQSet or integers of shape (k, d), whose names the codebook keeps.
    updates: at most this many codebook updates.
    threshold: stop when the distortion falls by no more than this much of
        itself (0: when it no longer falls).
    threads: how many threads; None for as many as the process may use.
    progress: None, or a callable that receives a TrainingProgress after
        every assignment.

    Every vector starts in partition 0; each iteration assigns every vector
    to its nearest code vector (a vector as near its own code vector stays;
    the lowest index wins among the others), refills the empty partitions
    with the worst represented vectors and makes every code vector the
    rounded centroid of its partition. The result is exactly vqtrain's, for
    any number of threads, from an array or from the file. The GIL is
    released while the library works; Ctrl-C raises KeyboardInterrupt
    between the parts of an iteration.
    """
    if (k is None) == (initial is None):
        raise ValueError("give the codebook size k or an initial codebook, not both")
    updates = _count(updates, "updates", 0)
    threshold = float(threshold)
    if not threshold >= 0 or math.isinf(threshold):
        raise ValueError(f"threshold: a number of 0 or more, not {threshold}")
    if isinstance(seed, (bool, np.bool_)) or not isinstance(seed, (int, np.integer)) or \
            not 0 <= int(seed) < 2**64:
        raise ValueError("seed: an integer from 0 to 2**64 - 1")
    threads = 0 if threads is None else _count(threads, "threads", 1)
    codes = None
    names = None
    if initial is not None:
        if isinstance(initial, VQSet):
            names = initial.names
        codes = _int32(_vectors_of(initial), "initial", 2)
        if len(codes) == 0:
            raise ValueError("initial: at least one code vector is needed")
    else:
        k = _count(k, "k", 1)
    report = None
    if progress is not None:
        def report(*fields):
            progress(TrainingProgress(*fields))

    if isinstance(ts_or_path, (str, bytes, os.PathLike)):
        result, header = _core.train_file(_path(ts_or_path), codes, k or 0, updates, threshold,
                                          int(seed), threads, report)
        dtype = {1: np.uint8, 2: np.uint16}.get(header["bytes_per_element"], np.int32)
    else:
        x = _elements(_vectors_of(ts_or_path), "ts")
        f = ts_or_path.freqs if isinstance(ts_or_path, VQSet) else np.ones(len(x), np.int32)
        if codes is not None and codes.shape[1] != x.shape[1]:
            raise ValueError(f"initial has {codes.shape[1]} elements per vector, ts {x.shape[1]}")
        _count(len(x), "number of vectors", 0)
        result = _core.train_rows(x, _int32(f, "freqs", 1), codes, k or 0, updates, threshold,
                                  int(seed), threads, report)
        if isinstance(ts_or_path, VQSet):
            header = {name: getattr(ts_or_path, name) for name in
                      ("block_size", "bytes_per_element", "min_value", "max_value",
                       "preprocessing")}
        else:
            low = int(x.min()) if x.size else 0
            high = int(x.max()) if x.size else 0
            header = dict(block_size=(x.shape[1], 1), min_value=low, max_value=high,
                          preprocessing=0,
                          bytes_per_element=4 if low < 0 else
                          next(w for w in (1, 2, 3, 4) if high < 256**w))
        dtype = x.dtype
    vectors, freqs, labels, mse, made, history = result
    codebook = VQSet(vectors.astype(dtype), freqs, names, kind="codebook",
                     generation_method=f"generalised Lloyd, {made} updates", **header)
    return Training(codebook, labels, mse, made, history)


# --- Figures -------------------------------------------------------------------


class SetStatistics(NamedTuple):
    """The figures of one set, as vqpeek -S prints them.

    Attributes:
        distinct_vectors: how many different vectors the set holds,
            frequencies and names aside.
        mean_element: the frequency-weighted mean of all elements.
        variance: the frequency-weighted mean squared deviation of the
            elements from the exact mean vector, per element.
    The last two are None when the frequencies add up to 0.
    """

    distinct_vectors: int
    mean_element: float | None
    variance: float | None


class Quality(NamedTuple):
    """The figures of a set and a codebook, as vqpeek -S prints them.

    Attributes:
        partitions: the number of code vectors.
        empty_partitions: partitions whose total frequency is 0.
        smallest_size, largest_size: the smallest and largest total frequency
            of a non-empty partition (None when all are empty).
        mse: sum of freq * squared distance to the partition's code vector,
            over total frequency * vector dimension.
        psnr: 10 log10(peak**2 / mse) in dB, inf for an mse of 0; peak is
            max_value - min_value of the set when above 0, else
            2**(8 * bytes_per_element) - 1.
        fixed_rate: log2(partitions) bits per vector.
        entropy_rate: the entropy of the partition sizes, bits per vector.
    mse, psnr and entropy_rate are None when the frequencies add up to 0.
    """

    partitions: int
    empty_partitions: int
    smallest_size: int | None
    largest_size: int | None
    mse: float | None
    psnr: float | None
    fixed_rate: float | None
    entropy_rate: float | None


def _weighted(ts):
    """The vectors and frequencies of a VQSet, or of an array with 1 each."""
    x = _elements(_vectors_of(ts), "ts")
    if x.shape[1] == 0:
        raise ValueError("ts: at least one element each is needed")
    f = ts.freqs if isinstance(ts, VQSet) else np.ones(len(x), dtype=np.int32)
    return x, _int32(f, "freqs", 1)


def set_statistics(ts) -> SetStatistics:
    """The distinct vectors, mean element and variance of a set.

    ts: a VQSet (weighted by its freqs) or integers of shape (n, d), each
    vector counted once. A frequency is taken as the unsigned 32-bit count
    the file stores. The sums are exact; the distinct vectors are counted in
    a hash table of 32 to 64 bytes per distinct vector, without a copy of
    the set.
    """
    x, f = _weighted(ts)
    return SetStatistics(*_core.set_statistics(x, f))


def quality(ts, codes, labels=None) -> Quality:
    """How well a codebook represents a training set: partition sizes, mean
    squared error, PSNR and rates (see Quality).

    ts: a VQSet (weighted by its freqs; its header gives the PSNR's peak) or
    integers of shape (n, d), each vector counted once, whose value range
    gives the peak. codes: a VQSet or integers of shape (m, d), m >= 1.
    labels: the partition (0 .. m - 1) of every vector, each measured
    against its code vector (pass centroids as codes for a partitioning);
    None finds the nearest code vector with the exact search, as vqpeek
    does for a training set and a codebook.
    """
    x, f = _weighted(ts)
    c = _int32(_vectors_of(codes), "codes", 2)
    if c.shape[1] != x.shape[1]:
        raise ValueError(f"ts has {x.shape[1]} elements per vector, codes {c.shape[1]}")
    if len(c) == 0:
        raise ValueError("codes: at least one code vector is needed")
    _count(len(x), "number of vectors", 0)
    _count(len(c), "number of codes", 1)
    if labels is None:
        y = _core.nearest(x, c, 0)[0]
    else:
        y = _int32(labels, "labels", 1)
        if len(y) != len(x):
            raise ValueError(f"labels: {len(y)} labels for {len(x)} vectors")
        if y.size and (int(y.min()) < 0 or int(y.max()) >= len(c)):
            raise ValueError(f"labels: the partitions {int(y.min())}..{int(y.max())} are not "
                             f"all between 0 and {len(c) - 1}")
    if isinstance(ts, VQSet):
        low, high, width = ts.min_value, ts.max_value, ts.bytes_per_element
    else:
        low = int(x.min()) if x.size else 0
        high = int(x.max()) if x.size else 0
        width = 4 if low < 0 else next(w for w in (1, 2, 3, 4) if high < 256**w)
    peak = float(high - low) if high > low else float(256**width - 1)
    return Quality(*_core.quality(x, f, c, y, peak))


# --- Pictures ------------------------------------------------------------------


def tiles(set_or_vectors, block_size=None, columns: int | None = None, gap: int = 1,
          value_range=None) -> np.ndarray:
    """A montage of the vectors as image blocks: a 2-D uint8 array.

    Vector k becomes a block of x * y pixels (its elements row by row) in
    column k % columns and row k // columns of a grid, with `gap` pixels of
    white (255) between the blocks and in the empty cells of the last row.
    set_or_vectors: a VQSet or an array of shape (n, x * y), of any
        integer or float type; it is read a part at a time, never copied
        whole.
    block_size: (x, y); by default the set's, or (x * y, 1) for an array.
    columns: blocks per row; by default as many as make the picture
        roughly square.
    value_range: (low, high) mapped to 0 and 255, values beyond it clipped;
        by default the smallest and largest value, widened to the header's
        MinValue .. MaxValue for a set. A single value maps to 0.
    """
    given_set = set_or_vectors if isinstance(set_or_vectors, VQSet) else None
    values = np.asarray(_vectors_of(set_or_vectors))
    if values.dtype.kind not in "iuf" or values.ndim != 2:
        raise ValueError("tiles: a VQSet or a 2-D array of numbers is needed")
    count, dim = values.shape
    if block_size is None:
        block_size = given_set.block_size if given_set is not None else (dim, 1)
    bx, by = (_count(v, "block_size", 1) for v in block_size)
    if bx * by != dim:
        raise ValueError(f"block_size: {bx}x{by} blocks do not hold {dim} elements")
    gap = _count(gap, "gap", 0)
    if columns is None:
        # Square in pixels: columns * (bx + gap) close to rows * (by + gap).
        columns = max(1, math.ceil(math.sqrt(count * (by + gap) / (bx + gap)))) if count else 1
    columns = _count(columns, "columns", 1)
    if count == 0:
        return np.zeros((0, 0), dtype=np.uint8)

    if value_range is None:
        low, high = float(values.min()), float(values.max())
        if given_set is not None and given_set.min_value < given_set.max_value:
            low = min(low, given_set.min_value)
            high = max(high, given_set.max_value)
    else:
        low, high = (float(v) for v in value_range)
        if not high >= low:
            raise ValueError("value_range: (low, high) with low <= high is needed")
    span = high - low

    def pixels_of(part):
        scaled = np.clip(part.astype(np.float64), low, high) - low
        if span > 0:
            return np.floor(scaled * (255.0 / span) + 0.5).astype(np.uint8)
        return np.zeros(part.shape, dtype=np.uint8)

    # Every cell is a block with its gap below and to the right; the gaps
    # after the last row and column are cut off. The picture is filled a
    # part of the vectors at a time, so that nothing wider than the picture
    # is made of the whole set.
    rows = -(-count // columns)
    padded = np.full((rows * (by + gap), columns * (bx + gap)), 255, dtype=np.uint8)
    grid = padded.reshape(rows, by + gap, columns, bx + gap)
    part = max(1, _TILE_PART_ELEMENTS // dim)
    for first in range(0, count, part):
        blocks = pixels_of(values[first:first + part]).reshape(-1, by, bx)
        k = first
        while len(blocks):
            row, column = divmod(k, columns)
            if column or len(blocks) < columns:  # the cells left in one row
                n = min(len(blocks), columns - column)
                grid[row, :by, column:column + n, :bx] = blocks[:n].transpose(1, 0, 2)
            else:  # whole rows
                n = len(blocks) - len(blocks) % columns
                grid[row:row + n // columns, :by, :, :bx] = (
                    blocks[:n].reshape(-1, columns, by, bx).transpose(0, 2, 1, 3))
            blocks = blocks[n:]
            k += n
    return np.ascontiguousarray(padded[: rows * (by + gap) - gap, : columns * (bx + gap) - gap])


def save_pgm(path, image) -> None:
    """Writes a 2-D array of values 0 .. 255 (as tiles gives) as a binary
    PGM picture ("P5", maximum value 255), which most image viewers and
    converters read."""
    pixels = np.asarray(image)
    if pixels.ndim != 2 or pixels.dtype.kind not in "iu" or pixels.size == 0:
        raise ValueError("save_pgm: a non-empty 2-D array of integers is needed")
    if int(pixels.min()) < 0 or int(pixels.max()) > 255:
        raise ValueError("save_pgm: the values must lie between 0 and 255")
    height, width = pixels.shape
    with open(path, "wb") as file:
        file.write(b"P5\n%d %d\n255\n" % (width, height))
        file.write(np.ascontiguousarray(pixels, dtype=np.uint8).tobytes())
