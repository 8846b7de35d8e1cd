"""Type stub of vqpeek: training sets, codebooks and partitionings of vector
quantisation as numpy arrays."""
import os
from typing import Any, Callable, NamedTuple, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str

_Path = Union[str, bytes, os.PathLike]
_Name = Union[str, bytes, None]
_IntArray = npt.ArrayLike
_Vectors = Union["VQSet", npt.ArrayLike]
# Vectors in the width of a file's elements: uint8 (1 byte per element),
# uint16 (2) or int32 (3 and 4), or the integer type read_set was asked for.
_Elements = npt.NDArray[np.integer[Any]]

class Error(ValueError):
    """The library refused a file or an input; the message is the library's own."""

class FileError(OSError):
    """A file could not be found, created, read or written: errno, strerror
    and filename are the system's, the text the library's message. A missing
    file is also a FileNotFoundError, a refused one a PermissionError."""

    message: str

class VQSet:
    """A training set or a codebook: the header of its file and its data."""

    kind: str
    version_line: str
    block_size: Tuple[int, int]
    total_freq: int
    bytes_per_element: int
    min_value: int
    max_value: int
    preprocessing: int
    generation_method: str
    vectors: _Elements
    """uint8 for 1 byte per element, uint16 for 2, int32 for 3 and 4 (or the dtype asked for)."""
    freqs: npt.NDArray[np.int32]
    names: list[str | None] | None
    def __init__(
        self,
        vectors: npt.ArrayLike,
        freqs: _IntArray | None = ...,
        names: Sequence[_Name] | None = ...,
        kind: str = ...,
        block_size: Tuple[int, int] | None = ...,
        bytes_per_element: int | None = ...,
        min_value: int | None = ...,
        max_value: int | None = ...,
        preprocessing: int = ...,
        generation_method: str = ...,
    ) -> None:
        """A set made from arrays; every header field has a default from the data."""
    @property
    def booksize(self) -> int: ...
    def __len__(self) -> int: ...

class VQPartitioning(NamedTuple):
    """A partitioning file: the partition of every training vector."""

    labels: npt.NDArray[np.int32]
    count: int
    generation_method: str

def read_set(path: _Path, dtype: npt.DTypeLike | None = ...) -> VQSet:
    """Reads a training-set or codebook file (version 1 or 2); the vectors come
    as uint8, uint16 or int32 after the file's width, or as the integer dtype
    asked for (ValueError for a value it cannot hold)."""

def write_set(
    path: _Path,
    vectors: _Vectors,
    freqs: _IntArray | None = ...,
    names: Sequence[_Name] | None = ...,
    kind: str | None = ...,
    block_size: Tuple[int, int] | None = ...,
    bytes_per_element: int | None = ...,
    min_value: int | None = ...,
    max_value: int | None = ...,
    preprocessing: int | None = ...,
    generation_method: str | None = ...,
    overwrite: bool = ...,
) -> None:
    """Writes vectors (or a VQSet) as a version-2 training-set or codebook file."""

def read_partitioning(path: _Path, training_set: VQSet | int | None = ...) -> VQPartitioning:
    """Reads a partitioning file; a training set (a VQSet or its size), when
    given, must be the size the file states."""

def write_partitioning(
    path: _Path,
    labels: _IntArray,
    count: int,
    names: Sequence[_Name] | None = ...,
    generation_method: str = ...,
    overwrite: bool = ...,
) -> None:
    """Writes a partitioning file: the partition of every training vector."""

def nearest(
    vectors: _Vectors, codes: _Vectors, threads: int | None = ...
) -> Tuple[npt.NDArray[np.int32], npt.NDArray[np.int64]]:
    """The exact nearest code vector of every vector: (labels, squared distances)."""

def centroids(
    vectors: _Vectors, labels: _IntArray, count: int, freqs: _IntArray | None = ...
) -> Tuple[npt.NDArray[np.int32], npt.NDArray[np.int32]]:
    """The rounded, frequency-weighted centroids and total frequency of every partition."""

class TrainingProgress(NamedTuple):
    """What train reports after every assignment."""

    iteration: int
    distortion: float
    mse: float
    refilled: int
    seconds: float

class Training(NamedTuple):
    """The trained codebook, the labels of the last assignment, its MSE per
    element, the updates made and the MSE of every assignment."""

    codebook: VQSet
    labels: npt.NDArray[np.int32]
    mse: float
    updates: int
    history: list[float]

def train(
    ts_or_path: Union[_Vectors, _Path],
    k: int | None = ...,
    *,
    initial: _Vectors | None = ...,
    updates: int = ...,
    threshold: float = ...,
    seed: int = ...,
    threads: int | None = ...,
    progress: Callable[[TrainingProgress], Any] | None = ...,
) -> Training:
    """Trains a codebook with the generalised Lloyd algorithm: an array or a
    VQSet in memory, a path streamed from its file."""

class SetStatistics(NamedTuple):
    """The figures of one set: distinct vectors, mean element, variance."""

    distinct_vectors: int
    mean_element: float | None
    variance: float | None

class Quality(NamedTuple):
    """The figures of a set and a codebook: partition sizes, MSE, PSNR, rates."""

    partitions: int
    empty_partitions: int
    smallest_size: int | None
    largest_size: int | None
    mse: float | None
    psnr: float | None
    fixed_rate: float | None
    entropy_rate: float | None

def set_statistics(ts: _Vectors) -> SetStatistics:
    """The distinct vectors, mean element and variance of a set."""

def quality(ts: _Vectors, codes: _Vectors, labels: _IntArray | None = ...) -> Quality:
    """Partition sizes, mean squared error, PSNR and rates of a codebook for a set;
    without labels each vector goes to its nearest code vector."""

def tiles(
    set_or_vectors: _Vectors,
    block_size: Tuple[int, int] | None = ...,
    columns: int | None = ...,
    gap: int = ...,
    value_range: Tuple[float, float] | None = ...,
) -> npt.NDArray[np.uint8]:
    """A montage of the vectors as image blocks."""

def save_pgm(path: _Path, image: npt.ArrayLike) -> None:
    """Writes a 2-D array of values 0 .. 255 as a binary PGM picture."""
