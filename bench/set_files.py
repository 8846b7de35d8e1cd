"""Reads the elements of a version-2 set file (a training set or a codebook
written by vqpeek's writer) into a float32 numpy array, the way a Python user
would load one: the head as text, the body as one block of bytes."""
import numpy as np


def read_set(path):
    """The elements of a set file without names and with one-byte elements."""
    with open(path, "rb") as f:
        data = f.read()
    lines = data.split(b"\n", 12)
    bx, by, size, _, width = (int(lines[i], 0) for i in range(1, 6))
    separator = data.index(b"-" * 37 + b"\n") + 38
    dim = bx * by
    record = 1 + dim * width + 4
    body = np.frombuffer(data, dtype=np.uint8, offset=separator, count=size * record)
    body = body.reshape(size, record)
    if np.any(body[:, 0] != 0):
        raise SystemExit(f"{path}: vectors with names are not handled here")
    if width != 1:
        raise SystemExit(f"{path}: only one-byte elements are handled here")
    return body[:, 1:1 + dim].astype(np.float32)
