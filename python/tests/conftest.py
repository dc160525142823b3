"""Shared fixtures of the Python package's tests.

The tests import the package as a user would (``import btreeimg``), from
the build tree (ctest sets PYTHONPATH). BTREEIMG_SAMPLES names the shipped
samples and BTREEIMG_TOOL the command-line tool, when it was built.
"""

import os
import pathlib
import shutil
import struct
import subprocess

import numpy as np
import pytest

import btreeimg

HERE = pathlib.Path(__file__).resolve().parent


@pytest.fixture(scope="session")
def samples():
    """The folder of the shipped sample image and rules."""
    return pathlib.Path(os.environ.get("BTREEIMG_SAMPLES", HERE.parent.parent / "samples"))


@pytest.fixture(scope="session")
def tool():
    """Runs the command-line tool; skips when it was not built."""
    path = os.environ.get("BTREEIMG_TOOL")
    if not path or not os.path.exists(path):
        pytest.skip("the btreeimg tool was not built")

    def run(*args, check=True):
        done = subprocess.run([path, *map(str, args)], check=check,
                              capture_output=True, text=True)
        return done.stdout

    return run


@pytest.fixture(params=["cut", "table"])
def damaged(request, samples, tmp_path):
    """The sample damaged two ways: cut to 3000 bytes, and with plane 1's
    line offset table sending line 4 far past the end of its code."""
    path = tmp_path / f"{request.param}.dis"
    shutil.copy(samples / "design.dis", path)
    if request.param == "cut":
        os.truncate(path, 3000)
    else:
        data = bytearray(path.read_bytes())
        struct.pack_into("<I", data, 1312 + 4 * 5, 0xFFFFFF)  # entry 5 of the table
        path.write_bytes(bytes(data))
    return path


def undefined_encoding(folder):
    """A file of two 4 x 4 raw planes whose plane 2 states encoding 7."""
    path = folder / "odd.dis"
    btreeimg.write(path, [design(4, 4), design(4, 4)], pack=0)
    data = bytearray(path.read_bytes())
    plane2 = struct.unpack_from("<I", data, 1002 + 4)[0]  # version-2 block table
    struct.pack_into("<H", data, plane2 + 4, 7)  # its pack field
    path.write_bytes(bytes(data))
    return path


def design(height, width, seed=0):
    """A plane of runs, like line art: every encoding stores it compactly."""
    rng = np.random.default_rng(seed)
    rows = rng.integers(0, 8, size=(height, 1)) * 16
    cols = (np.arange(width) // max(1, width // 7)).astype(np.int64)
    return ((rows + cols * 3) % 256).astype(np.uint8)


def noise(height, width, seed=0):
    """A plane of random bytes: packed, it is twice its raw size."""
    return np.random.default_rng(seed).integers(0, 256, (height, width), dtype=np.uint8)
