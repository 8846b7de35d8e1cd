"""vqpeek.train: the library's codebook training from arrays or streamed from
a file, against vqtrain's files, its arguments, its progress and Ctrl-C."""
import os
import subprocess
import sys
import textwrap

import numpy as np
import pytest

import vqpeek

VQTRAIN = os.environ.get("VQTRAIN_BINARY")


def tied_set(rng, path):
    """A set of few values, with copies, zero frequencies and names, and an
    initial codebook with code vectors that no training vector is near."""
    x = rng.integers(0, 4, size=(1500, 3)).astype(np.uint16)
    x[:, 2] *= 90
    x[500:700] = x[:200]
    freqs = rng.integers(0, 3, size=len(x)).astype(np.int32)
    freqs[0] = 1
    names = [f"n{i}" if i % 5 == 0 else None for i in range(len(x))]
    vqpeek.write_set(path, x, freqs, names, bytes_per_element=2)
    codes = np.concatenate([x[rng.integers(0, len(x), 10)],
                            [[60000, 0, 0], [0, 60000, 5], [3, 3, 270]]]).astype(np.int32)
    return codes


@pytest.mark.skipif(VQTRAIN is None, reason="vqtrain is not built")
def test_the_files_are_vqtrains_from_an_array_or_the_file_on_any_threads(tmp_path, rng):
    set_path = tmp_path / "set.ts"
    codes = tied_set(rng, set_path)
    vqpeek.write_set(tmp_path / "init.cb", codes, kind="codebook", bytes_per_element=2)
    subprocess.run([VQTRAIN, "-q", "-I", "25", "-t", "0", "-i", tmp_path / "init.cb", set_path,
                    tmp_path / "out.cb", tmp_path / "out.pa"], check=True)
    expected = (tmp_path / "out.cb").read_bytes()
    labels = vqpeek.read_partitioning(tmp_path / "out.pa").labels
    ts = vqpeek.read_set(set_path)
    for source in (set_path, ts):
        for threads in (1, 3):
            result = vqpeek.train(source, initial=vqpeek.read_set(tmp_path / "init.cb"),
                                  updates=25, threshold=0, threads=threads)
            vqpeek.write_set(tmp_path / "py.cb", result.codebook)
            assert (tmp_path / "py.cb").read_bytes() == expected, (source, threads)
            assert np.array_equal(result.labels, labels)
            assert result.mse == result.history[-1]
            assert len(result.history) == result.updates + 1
    assert result.codebook.vectors.dtype == np.uint16
    # The initial vectors chosen with a seed are the program's too.
    subprocess.run([VQTRAIN, "-q", "-k", "6", "-s", "9", set_path, tmp_path / "k.cb"], check=True)
    vqpeek.write_set(tmp_path / "py.cb", vqpeek.train(set_path, 6, seed=9).codebook)
    assert (tmp_path / "py.cb").read_bytes() == (tmp_path / "k.cb").read_bytes()


def test_an_array_is_trained_as_vqpeek_quality_measures_it(rng):
    x = rng.integers(0, 50, size=(3000, 4)).astype(np.uint8)
    seen = []
    result = vqpeek.train(x, 7, progress=seen.append)
    assert [p.iteration for p in seen] == list(range(result.updates + 1))
    assert seen[-1].mse == result.mse and seen[-1].refilled == 0
    quality = vqpeek.quality(x, result.codebook.vectors, result.labels)
    assert quality.mse == pytest.approx(result.mse, rel=1e-12)
    assert np.array_equal(np.bincount(result.labels, minlength=7), result.codebook.freqs)

    def stop(progress):
        raise RuntimeError("enough")
    with pytest.raises(RuntimeError, match="enough"):
        vqpeek.train(x, 7, progress=stop)


def test_arguments_are_checked():
    x = np.array([[1, 2], [3, 4], [1, 2]], dtype=np.uint8)
    with pytest.raises(ValueError):
        vqpeek.train(x)
    with pytest.raises(ValueError):
        vqpeek.train(x, 2, initial=x)
    with pytest.raises(ValueError):
        vqpeek.train(x, 0)
    with pytest.raises(ValueError):
        vqpeek.train(x, 2, threshold=-1)
    with pytest.raises(ValueError):
        vqpeek.train(x, initial=[[1, 2, 3]])
    with pytest.raises(vqpeek.Error, match="holds 2 distinct vectors, fewer than the 3"):
        vqpeek.train(x, 3)
    with pytest.raises(vqpeek.Error, match="total frequency of 0"):
        vqpeek.train(vqpeek.VQSet(x, freqs=[0, 0, 0]), 1)


def test_ctrl_c_stops_a_long_training():
    script = textwrap.dedent("""
        import os, signal, threading, time
        import numpy as np
        import vqpeek
        x = np.random.default_rng(1).integers(0, 256, size=(400000, 16), dtype=np.uint8)
        sent = []
        def interrupt():
            sent.append(time.monotonic())
            os.kill(os.getpid(), signal.SIGINT)
        threading.Timer(0.3, interrupt).start()
        try:
            vqpeek.train(x, 256, updates=10000, threshold=0)
            print("finished")
        except KeyboardInterrupt:
            print(time.monotonic() - sent[0])
    """)
    result = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                            timeout=120)
    assert result.returncode == 0, result.stderr
    out = result.stdout.split()
    assert out[0] != "finished"
    assert float(out[0]) < 0.5
