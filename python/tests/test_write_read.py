"""Planes written from Python read back equal, as planes and as lines, into
arrays of the caller's own: in the encoding chosen plane by plane or asked
for, with their colour map, whatever the arrays' memory layout; bad
arguments are refused and leave an existing file alone."""

import os

import numpy as np
import pytest

import btreeimg
from conftest import design, noise

BIG = design(128, 192, 3)
# A strided slice, negative strides, a column-major copy (of noise, which
# packed comes out larger than raw: packed on request, only as the last plane).
PLANES = [BIG[::2, ::3], BIG[127:63:-1, 63::-1], np.asfortranarray(noise(64, 64))]


@pytest.mark.parametrize("pack, encodings", [(None, [1, 1, 0]), (0, [0, 0, 0]), (2, [2, 2, 2])])
def test_planes_and_lines_read_back_equal_in_arrays_of_the_caller(tmp_path, pack, encodings):
    colours = np.random.default_rng(7).integers(0, 256, (256, 3), dtype=np.uint8)
    btreeimg.write(tmp_path / "x.dis", PLANES, pack=pack, colour_map=colours)
    with btreeimg.open(tmp_path / "x.dis") as im:
        assert (im.version, im.plane_count) == (3, 3)
        assert [im.encoding(k) for k in (1, 2, 3)] == encodings
        assert np.array_equal(im.colour_map, colours)
        for k, plane in enumerate(PLANES, 1):
            read = im.plane(k)
            assert read.dtype == np.uint8 and read.flags.c_contiguous
            assert np.array_equal(read, plane) and np.array_equal(im.line(63, k), plane[63])
        read[:] = 0
        assert np.array_equal(im.plane(3), PLANES[2])


def test_a_3d_array_is_a_sequence_of_planes_with_a_grey_ramp(tmp_path):
    stack = np.stack([design(10, 20, s) for s in range(2)])
    btreeimg.write(tmp_path / "stack.dis", stack)
    with btreeimg.open(tmp_path / "stack.dis") as im:
        assert im.plane_count == 2 and np.array_equal(im.plane(2), stack[1])
        assert np.array_equal(im.colour_map, btreeimg.grey_ramp())


@pytest.mark.parametrize("planes, options, message", [
    (design(4, 4).astype(np.int16), {}, "int16"),
    ([design(4, 4), design(4, 5)], {}, "shape"),
    ([design(4, 4)] * 6, {}, "1 to 5"),
    (design(2, 2), {"pack": True}, "pack"),
    (design(2, 2), {"colour_map": np.zeros((255, 3), np.uint8)}, "colour_map"),
    ([noise(64, 64), design(64, 64)], {"pack": 1}, "does not fit.*leave pack unset"),
])
def test_write_refuses_bad_arguments(tmp_path, planes, options, message):
    (tmp_path / "kept.dis").write_bytes(b"the old content")
    with pytest.raises(ValueError, match=message):
        btreeimg.write(tmp_path / "kept.dis", planes, **options)
    assert (tmp_path / "kept.dis").read_bytes() == b"the old content"
    assert os.listdir(tmp_path) == ["kept.dis"]


def test_write_into_a_missing_folder(tmp_path):
    with pytest.raises(FileNotFoundError) as caught:
        btreeimg.write(tmp_path / "no" / "x.dis", design(2, 2))
    assert caught.value.filename.startswith(str(tmp_path / "no"))
