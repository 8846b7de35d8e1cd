"""Set and partitioning files through the library's readers and writers:
round trips, hand-checked bytes, refusals before a file is touched, and
damaged or hostile files that must end in vqpeek.Error, not in a crash."""
import errno
import os
import shutil
import subprocess
import tempfile
import threading

import numpy as np
import pytest

import vqpeek
from conftest import SOURCE_DIR

SEPARATOR = b"-" * 37 + b"\n"


@pytest.mark.parametrize("width", [1, 2, 3, 4])
def test_sets_come_back_whole_at_every_width(tmp_path, rng, width):
    low, high = (-(2**31), 2**31 - 1) if width == 4 else (0, 256**width - 1)
    vectors = rng.integers(low, high, size=(40, 6), endpoint=True)
    vectors[0], vectors[1] = low, high
    freqs = rng.integers(0, 1000, size=40)
    names = [None] * 40
    names[2], names[3], names[4], names[5] = "", "kanten-ä", "x" * 79, b"\xff\xfe".decode(
        "utf-8", "surrogateescape")
    path = tmp_path / "set.cb"
    vqpeek.write_set(path, vectors, freqs, names, kind="codebook", block_size=(3, 2),
                     bytes_per_element=width, preprocessing=7, generation_method="k-means, 3")
    s = vqpeek.read_set(path)
    assert (s.kind, s.version_line, s.block_size) == ("codebook", "VQ CODEBOOK 2.0", (3, 2))
    assert (s.bytes_per_element, s.preprocessing, s.generation_method) == (width, 7, "k-means, 3")
    assert (s.min_value, s.max_value, s.booksize) == (low, high, 40)
    file_type = {1: np.uint8, 2: np.uint16, 3: np.int32, 4: np.int32}[width]
    assert s.vectors.dtype == file_type and s.freqs.dtype == np.int32
    np.testing.assert_array_equal(s.vectors, vectors)
    np.testing.assert_array_equal(s.freqs, freqs)
    assert s.total_freq == freqs.sum()
    assert s.names == [None if n == "" else n for n in names]
    # What was read writes back to the same bytes, undecodable names too.
    again = tmp_path / "again.cb"
    vqpeek.write_set(again, s)
    assert again.read_bytes() == path.read_bytes()
    # Any integer type on request, or a refusal naming a value it cannot hold.
    for dtype in (np.int8, np.uint8, np.int16, np.uint16, np.int32, np.uint32, np.int64):
        info = np.iinfo(dtype)
        if info.min <= low and high <= info.max:
            asked = vqpeek.read_set(path, dtype=dtype).vectors
            assert asked.dtype == dtype
            np.testing.assert_array_equal(asked, vectors)
        else:
            with pytest.raises(ValueError, match=f"does not fit {np.dtype(dtype).name}"):
                vqpeek.read_set(path, dtype=dtype)


def test_written_bytes_are_the_documented_layout(tmp_path):
    path = tmp_path / "small.ts"
    vqpeek.write_set(path, [[1, 258]], [7], ["a"], generation_method="m")
    assert path.read_bytes() == (b"VQ TRAINING SET 2.0\n2\n1\n1\n7\n2\n1\n258\n0\nm\n" + SEPARATOR +
                                 b"a\0" + b"\x00\x01\x01\x02" + b"\x00\x00\x00\x07")


def test_version_one_files_are_read(tmp_path):
    path = tmp_path / "old.cb"
    path.write_bytes(b"VQ CODEBOOK 1.0\n2\n1\n2\n5\n0\n0\n0\n200\nold method\n-----\n" +
                     bytes([10, 200]) + (3).to_bytes(2, "little") +
                     bytes([0, 1]) + (258).to_bytes(2, "little"))
    s = vqpeek.read_set(path)
    assert (s.kind, s.version_line, s.block_size, s.booksize) == ("codebook", "VQ CODEBOOK 1.0",
                                                                  (2, 1), 2)
    assert (s.preprocessing, s.min_value, s.max_value, s.bytes_per_element) == (5, 0, 200, 1)
    assert (s.total_freq, s.generation_method, s.names) == (261, "old method", None)
    np.testing.assert_array_equal(s.vectors, [[10, 200], [0, 1]])
    np.testing.assert_array_equal(s.freqs, [3, 258])
    assert vqpeek.read_set(SOURCE_DIR / "examples/old.ts").version_line == "VQ TRAINING SET 1.0"


@pytest.mark.parametrize("values, width", [([[0, 255]], 1), ([[256, 0]], 2), ([[65536]], 3),
                                           ([[2**24]], 4), ([[-1, 0]], 4)])
def test_the_default_width_is_the_smallest_that_holds_the_values(tmp_path, values, width):
    vqpeek.write_set(tmp_path / "w.ts", values)
    s = vqpeek.read_set(tmp_path / "w.ts")
    assert s.bytes_per_element == width
    np.testing.assert_array_equal(s.vectors, values)
    np.testing.assert_array_equal(s.freqs, [1] * len(values))


def test_what_would_not_read_back_is_refused_before_the_file_is_opened(tmp_path):
    path = tmp_path / "refused.ts"
    refusals = [
        (ValueError, dict(vectors=[[256]], bytes_per_element=1)),
        (ValueError, dict(vectors=[[-1]], bytes_per_element=3)),  # would read back as 2**24-1
        (ValueError, dict(vectors=[[1, 2]], block_size=(3, 1))),
        (ValueError, dict(vectors=[[1]], names=["a\0b"])),
        (ValueError, dict(vectors=[[1]], names=["x" * 80])),
        (ValueError, dict(vectors=[[1]], generation_method="-starts like the separator")),
        (ValueError, dict(vectors=[[1]], generation_method="two\nlines")),
        (ValueError, dict(vectors=[[1]], kind="partitioning")),
        (TypeError, dict(vectors=[[1.5]])),
        (ValueError, dict(vectors=np.array([[2**31]], dtype=np.int64))),
    ]
    for error, arguments in refusals:
        with pytest.raises(error):
            vqpeek.write_set(path, **arguments)
        assert not path.exists(), arguments


def test_partitionings_come_back_whole(tmp_path, rng):
    labels = rng.integers(0, 300, size=500)
    names = [None if i % 3 else f"v{i}" for i in range(500)]
    path = tmp_path / "p.pa"
    vqpeek.write_partitioning(path, labels, 300, names, generation_method="by hand")
    labels_back, count, method = vqpeek.read_partitioning(path, 500)
    assert labels_back.dtype == np.int32 and (count, method) == (300, "by hand")
    np.testing.assert_array_equal(labels_back, labels)

    small = tmp_path / "small.pa"
    vqpeek.write_partitioning(small, [1, 0, 2], 4, [None, "b", None])
    assert small.read_bytes() == b"VQ PARTITIONING 2.0\n4\n3\n" + SEPARATOR + b"2\n1 b\n3\n"
    ts = vqpeek.read_set(SOURCE_DIR / "examples/blocks.ts")
    p = vqpeek.read_partitioning(SOURCE_DIR / "examples/blocks.pa", ts)
    assert (p.count, p.labels[0], p.labels[-1]) == (3, 0, 2)


def test_partitionings_that_would_not_read_back_are_refused(tmp_path):
    path = tmp_path / "refused.pa"
    with pytest.raises(ValueError, match="no partition"):
        vqpeek.write_partitioning(path, [0, -1], 2)
    with pytest.raises(ValueError):
        vqpeek.write_partitioning(path, [0, 2], 2)
    with pytest.raises(ValueError):
        vqpeek.write_partitioning(path, [0, 1], 2, names=["a", "b\nc"])
    assert not path.exists()


def test_existing_files_are_kept_without_overwrite(tmp_path):
    path = tmp_path / "kept.ts"
    path.write_bytes(b"old")
    with pytest.raises(vqpeek.FileError, match="^ERROR: File already exists: .*kept.ts$"):
        vqpeek.write_set(path, [[1]], overwrite=False)
    with pytest.raises(OSError):
        vqpeek.write_partitioning(path, [0], 1, overwrite=False)
    assert path.read_bytes() == b"old"
    with pytest.raises(vqpeek.FileError, match="^ERROR: Couldn't open the file: "):
        vqpeek.write_set(tmp_path / "missing" / "x.ts", [[1]])


def good_set_bytes():
    return (b"VQ TRAINING SET 2.0\n2\n1\n2\n5\n1\n0\n9\n0\n" + SEPARATOR +
            b"ab\0" + bytes([1, 2]) + (2).to_bytes(4, "big") +
            b"\0" + bytes([3, 9]) + (3).to_bytes(4, "big"))


@pytest.mark.parametrize("content, message", [
    (b"", "ERROR: empty header (NULL)"),
    (b"\0VQ TRAINING SET 2.0\n", "ERROR: empty header (0x00)"),
    (b"VQ TRAINING SET 3.0\n", "ERROR: Unknown file version number (3)."),
    (b"VQ TRAINING SET 2.0\n2\nx\n", "ERROR: Invalid header: a number was expected."),
    (b"VQ TRAINING SET 2.0\n0\n1\n1\n1\n1\n0\n9\n0\n" + SEPARATOR,
     "ERROR: Invalid block size (0 x 1)."),
    (b"VQ TRAINING SET 2.0\n2\n1\n2000000000\n1\n1\n0\n9\n0\n" + SEPARATOR + b"\0" * 64,
     "ERROR: premature end of file"),
    (b"VQ TRAINING SET 2.0\n1\n1\n1\n1\n1\n0\n9\n0\n" + SEPARATOR + b"n" * 90,
     "ERROR: Too long vector name:\n" + "n" * 80 + "\nMaximum is 80 characters."),
    (b"VQ CODEBOOK 2.0\n1\n1\n1\n1\n9\n0\n9\n0\n" + SEPARATOR + b"\0" * 9,
     "ERROR: Invalid bytes per element (9)."),
])
def test_bad_set_files_raise_the_librarys_message(tmp_path, content, message):
    path = tmp_path / "bad.ts"
    path.write_bytes(content)
    with pytest.raises(vqpeek.Error) as caught:
        vqpeek.read_set(path)
    assert str(caught.value) == message
    assert not isinstance(caught.value, OSError)


def test_a_set_cut_at_any_length_is_refused(tmp_path):
    content = good_set_bytes()
    path = tmp_path / "cut.ts"
    path.write_bytes(content)
    assert vqpeek.read_set(path).names == ["ab", None]
    for length in range(len(content)):
        path.write_bytes(content[:length])
        with pytest.raises(vqpeek.Error):
            vqpeek.read_set(path)


def test_missing_files_and_files_of_another_kind(tmp_path):
    missing = tmp_path / "missing.ts"
    with pytest.raises(vqpeek.FileError) as caught:
        vqpeek.read_set(missing)
    assert str(caught.value) == f"ERROR: Cannot find the file: {missing}"
    assert isinstance(caught.value, OSError)
    with pytest.raises(vqpeek.FileError):
        vqpeek.read_partitioning(missing, 3)
    with pytest.raises(vqpeek.Error, match="a partitioning file"):
        vqpeek.read_set(SOURCE_DIR / "examples/blocks.pa")
    with pytest.raises(vqpeek.Error, match="not a partitioning file"):
        vqpeek.read_partitioning(SOURCE_DIR / "examples/blocks.ts", 33)
    (tmp_path / "other").write_bytes(good_set_bytes().replace(b"VQ TRAINING", b"MY", 1))
    with pytest.raises(vqpeek.Error, match="not a training set or codebook"):
        vqpeek.read_set(tmp_path / "other")


HEAD = b"VQ PARTITIONING 2.0\n"


@pytest.mark.parametrize("content, message", [
    (HEAD + b"2\n3\n" + SEPARATOR + b"1\n2\n5\n", "ERROR: Invalid partition index (5) found."),
    (HEAD + b"2\n3\n" + SEPARATOR + b"1\n0\n1\n", "ERROR: Invalid partition index (0) found."),
    (HEAD + b"2\n4\n" + SEPARATOR + b"1\n1\n1\n1\n",
     "ERROR: Partitioning is not for this training set (4 != 3)."),
    (HEAD + b"2\n3\n" + SEPARATOR + b"1\nx\n1\n", "ERROR reading partitioning."),
    (HEAD + b"2\n3\n" + SEPARATOR + b"1\n2\n",
     "ERROR reading partitioning: the file ends after 2 of the 3 vectors its head states."),
    (HEAD + b"0\n3\n" + SEPARATOR, "ERROR: Invalid number of partitions (0)."),
])
def test_bad_partitioning_files_raise_the_librarys_message(tmp_path, content, message):
    path = tmp_path / "bad.pa"
    path.write_bytes(content)
    with pytest.raises(vqpeek.Error) as caught:
        vqpeek.read_partitioning(path, 3)
    assert str(caught.value) == message


def test_a_frequency_total_that_does_not_add_up_is_a_warning(tmp_path):
    path = tmp_path / "total.ts"
    path.write_bytes(good_set_bytes().replace(b"\n2\n5\n", b"\n2\n6\n", 1))
    with pytest.warns(UserWarning, match=r"^WARNING: TotalFreq header field = 6 but "
                                         r"calculated totalfreq = 5\.$"):
        s = vqpeek.read_set(path)
    assert s.total_freq == 5


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def test_failures_late_in_a_read_leave_no_memory_and_no_open_files(tmp_path):
    # The failure comes after the records are allocated: the last name and
    # the last index line are damaged.
    named = tmp_path / "named.ts"
    count = 20000
    vqpeek.write_set(named, np.zeros((count, 16), dtype=int), names=["n" * 79] * count)
    content = bytearray(named.read_bytes())
    content[-(16 + 4 + 1)] = ord("n")  # the NUL of the last name
    named.write_bytes(bytes(content))
    partitioning = tmp_path / "late.pa"
    vqpeek.write_partitioning(partitioning, np.zeros(200000, dtype=int), 2)
    partitioning.write_bytes(partitioning.read_bytes()[:-2] + b"9\n")

    open_files = len(os.listdir("/proc/self/fd"))
    before = resident_bytes()
    for _ in range(40):
        with pytest.raises(vqpeek.Error, match="Too long vector name"):
            vqpeek.read_set(named)
        with pytest.raises(vqpeek.Error, match=r"Invalid partition index \(9\)"):
            vqpeek.read_partitioning(partitioning, 200000)
    assert len(os.listdir("/proc/self/fd")) == open_files
    if "asan" not in os.environ.get("LD_PRELOAD", ""):  # the sanitizer holds freed memory back
        assert resident_bytes() - before < 64 << 20  # a leak would take over 500 MB
    assert vqpeek.read_set(SOURCE_DIR / "examples/blocks.cb").booksize == 8


def test_file_failures_are_os_errors_with_the_systems_errno_and_filename(tmp_path):
    missing, there, linked = tmp_path / "missing.ts", tmp_path / "there.ts", tmp_path / "l.ts"
    vqpeek.write_set(there, [[1]])
    vqpeek.write_set(linked, [[1]])
    os.link(linked, tmp_path / "other.ts")
    failures = [
        (lambda: vqpeek.read_set(missing), FileNotFoundError, errno.ENOENT, missing,
         f"ERROR: Cannot find the file: {missing}"),
        (lambda: vqpeek.read_partitioning(missing), FileNotFoundError, errno.ENOENT, missing,
         f"ERROR: Cannot find the file: {missing}"),
        (lambda: vqpeek.read_set(tmp_path), IsADirectoryError, errno.EISDIR, tmp_path,
         "ERROR: unable to read from file: Is a directory"),
        (lambda: vqpeek.write_set(there, [[1]], overwrite=False), FileExistsError, errno.EEXIST,
         there, f"ERROR: File already exists: {there}"),
        (lambda: vqpeek.write_partitioning(there / "x.pa", [0], 1), NotADirectoryError,
         errno.ENOTDIR, there / "x.pa", f"ERROR: Couldn't open the file: {there / 'x.pa'}: "
         "Not a directory"),
        (lambda: vqpeek.write_set(linked, [[2]]), vqpeek.FileError, errno.EMLINK, linked,
         f"ERROR: Couldn't open the file: {linked}: The file has other hard links, which "
         "replacing it would leave with the old contents"),
    ]
    for call, builtin, number, path, text in failures:
        with pytest.raises(builtin) as caught:
            call()
        e = caught.value
        assert isinstance(e, vqpeek.FileError) and not isinstance(e, ValueError), text
        assert (e.errno, e.strerror, e.filename) == (number, os.strerror(number), str(path))
        assert str(e) == text
    # One made by hand has no library message and reads as any OSError.
    assert str(vqpeek.FileError(2, "gone", "x")) == "[Errno 2] gone: 'x'"


def test_a_file_without_read_permission_is_a_permission_error():
    # Root reads every file: the read runs in a child that has become nobody.
    directory = tempfile.mkdtemp()
    try:
        os.chmod(directory, 0o755)
        private = os.path.join(directory, "private.ts")
        vqpeek.write_set(private, [[1]])
        os.chmod(private, 0)
        reader, writer = os.pipe()
        child = os.fork()
        if child == 0:
            try:
                if os.geteuid() == 0:
                    os.setgid(65534)
                    os.setuid(65534)
                try:
                    vqpeek.read_set(private)
                    result = "read"
                except Exception as e:
                    result = repr((type(e).__mro__[1:3], e.errno, e.filename, str(e)))
                os.write(writer, result.encode())
            finally:
                os._exit(0)
        os.close(writer)
        os.waitpid(child, 0)
        with os.fdopen(reader) as answer:
            result = answer.read()
    finally:
        shutil.rmtree(directory)
    assert result == repr(((vqpeek.FileError, PermissionError), errno.EACCES, private,
                           f"ERROR: Cannot find the file: {private}"))


def test_partitionings_take_their_size_from_the_file(tmp_path):
    path = tmp_path / "p.pa"
    vqpeek.write_partitioning(path, [2, 0, 1, 1], 3)
    np.testing.assert_array_equal(vqpeek.read_partitioning(path).labels, [2, 0, 1, 1])
    with pytest.raises(vqpeek.Error, match=r"not for this training set \(4 != 5\)"):
        vqpeek.read_partitioning(path, 5)
    path.write_bytes(b"VQ PARTITIONING 2.0\n2\n-3\n" + SEPARATOR)
    with pytest.raises(vqpeek.Error, match=r"not for this training set \(-3 != 0\)"):
        vqpeek.read_partitioning(path)
    # Nothing is held per partition, so any count reads.
    path.write_bytes(HEAD + b"2000000000\n3\n-\n1\n2000000000\n1\n")
    assert vqpeek.read_partitioning(path).count == 2000000000
    # 43 bytes whose head claims millions of vectors hold no more than their
    # lines, and say where they fall short.
    before = resident_bytes()
    for claim in (b"200000000\n----\n", b"2000000000\n---\n"):
        path.write_bytes(HEAD + b"3\n" + claim + b"1\n2\n3\n")
        assert len(path.read_bytes()) == 43
        with pytest.raises(vqpeek.Error, match=r"^ERROR reading partitioning: the file ends after "
                                               r"3 of the 20{8,9} vectors its head states\.$"):
            vqpeek.read_partitioning(path)
    if "asan" not in os.environ.get("LD_PRELOAD", ""):
        assert resident_bytes() - before < 16 << 20


def test_sets_made_from_arrays_take_their_header_from_the_data(tmp_path):
    s = vqpeek.VQSet(np.array([[3, 300], [-1, 7]], dtype=np.int64))
    assert (s.kind, s.version_line, s.block_size, s.total_freq) == (
        "training set", "VQ TRAINING SET 2.0", (2, 1), 2)
    assert (s.bytes_per_element, s.min_value, s.max_value, s.names) == (4, -1, 300, None)
    assert s.vectors.dtype == np.int32 and s.freqs.tolist() == [1, 1]
    cb = vqpeek.VQSet([[1, 2, 3, 4]], names=["a"], kind="codebook", block_size=(2, 2))
    assert (cb.freqs.tolist(), cb.bytes_per_element, cb.version_line) == ([0], 1, "VQ CODEBOOK 2.0")
    vqpeek.write_set(tmp_path / "cb.cb", cb)
    back = vqpeek.read_set(tmp_path / "cb.cb")
    assert [getattr(back, f) for f in ("kind", "block_size", "min_value", "max_value", "names")] == [
        "codebook", (2, 2), 1, 4, ["a"]]
    # Each fault is refused once, where the set is made.
    for arguments, message in [(dict(block_size=(3, 1)), "block_size: 3x1 blocks"),
                               (dict(bytes_per_element=1), "do not fit 1 byte"),
                               (dict(freqs=[1]), "freqs: 1 frequencies for 2 vectors"),
                               (dict(names=["a\0", None]), r"names\[0\]")]:
        with pytest.raises(ValueError, match=message):
            vqpeek.VQSet([[1, 2], [3, 256]], **arguments)


@pytest.mark.parametrize("tool, ending", [("gzip", ".gz"), ("zstd", ".zst")])
def test_compressed_files_read_as_the_plain_ones(tmp_path, tool, ending):
    def compressed(name, to):
        with open(to, "wb") as out:
            subprocess.run([tool, "-c", str(SOURCE_DIR / "examples" / name)], stdout=out, check=True)
        return to

    plain = vqpeek.read_set(SOURCE_DIR / "examples/blocks.ts")
    # Recognised by its content, whatever the name says.
    s = vqpeek.read_set(compressed("blocks.ts", tmp_path / ("set" + ending)))
    assert (s.version_line, s.block_size, s.total_freq, s.names) == (
        plain.version_line, plain.block_size, plain.total_freq, plain.names)
    np.testing.assert_array_equal(s.vectors, plain.vectors)
    np.testing.assert_array_equal(s.freqs, plain.freqs)
    labels = vqpeek.read_partitioning(compressed("blocks.pa", tmp_path / "parts")).labels
    np.testing.assert_array_equal(labels,
                                  vqpeek.read_partitioning(SOURCE_DIR / "examples/blocks.pa").labels)
    # Through a named pipe, written by another thread.
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    packed = (tmp_path / ("set" + ending)).read_bytes()
    writer = threading.Thread(target=lambda: fifo.write_bytes(packed))
    writer.start()
    np.testing.assert_array_equal(vqpeek.read_set(fifo).vectors, plain.vectors)
    writer.join()
    # A damaged file is refused with the library's message.
    cut = tmp_path / ("cut" + ending)
    cut.write_bytes(packed[:-5])
    with pytest.raises(vqpeek.Error, match="is damaged: it ends inside its compressed data"):
        vqpeek.read_set(cut)
