"""What the tests of the vqpeek package share: the source tree and a seeded
random generator whose seed is printed when a test fails."""
import os
import pathlib
import random

import numpy as np
import pytest

SOURCE_DIR = pathlib.Path(
    os.environ.get("VQPEEK_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))


@pytest.fixture
def rng():
    seed = int(os.environ.get("VQPEEK_SEED", random.SystemRandom().randrange(2**32)))
    print(f"seed {seed} (VQPEEK_SEED={seed} repeats it)")
    return np.random.default_rng(seed)
