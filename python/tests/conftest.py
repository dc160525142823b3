"""Shared fixtures and helpers. ctest sets PYTHONPATH to the build tree and
BTREEIMG_SAMPLES to the shipped samples (design.dis: three planes of
256 x 192; rules.txt)."""

import os
import pathlib
import struct

import numpy as np
import pytest

import btreeimg

HERE = pathlib.Path(__file__).resolve().parent


@pytest.fixture(scope="session")
def samples():
    """The folder of the shipped sample image and rules."""
    return pathlib.Path(os.environ.get("BTREEIMG_SAMPLES", HERE.parent.parent / "samples"))


@pytest.fixture
def written(tmp_path):
    """(path, planes, colour map) of a two-plane packed image written here."""
    planes = [design(40, 30, 1), design(40, 30, 2)]
    colours = np.random.default_rng(5).integers(0, 256, (256, 3), dtype=np.uint8)
    btreeimg.write(tmp_path / "two.dis", planes, pack=1, colour_map=colours)
    return tmp_path / "two.dis", planes, colours


def damage(samples, folder, how):
    """The sample cut to 3000 bytes (planes outside the file: refused at
    open), or with line 4 of plane 1 far past its code (refused when read)."""
    data = bytearray((samples / "design.dis").read_bytes())
    if how == "cut":
        del data[3000:]
    else:
        struct.pack_into("<I", data, 1312 + 4 * 5, 0xFFFFFF)
    (folder / f"{how}.dis").write_bytes(data)
    return folder / f"{how}.dis"


def header(version, width, height, planes=1, pack=0):
    """A header block alone: version at 0, encoding at 4, width and height
    at 10 (u16 each, u32 in version 4), plane count at 1000."""
    block = bytearray(1312)
    struct.pack_into("<HxxH", block, 0, version, pack)
    struct.pack_into("<II" if version == 4 else "<HH", block, 10, width, height)
    struct.pack_into("<h", block, 1000, planes)
    return bytes(block)


def design(height, width, seed=0):
    """A plane of runs, like line art: every encoding stores it compactly."""
    rows = np.random.default_rng(seed).integers(0, 8, size=(height, 1)) * 16
    cols = np.arange(width) // max(1, width // 7)
    return ((rows + cols * 3 + 1) % 256).astype(np.uint8)


def noise(height, width, seed=0):
    """A plane of random bytes: packed, it is larger than raw."""
    return np.random.default_rng(seed).integers(0, 256, (height, width), dtype=np.uint8)
