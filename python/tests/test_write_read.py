"""Planes written from Python read back equal, in every version and
encoding, whatever the arrays' memory layout."""

import os

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import btreeimg
from conftest import design, noise


@st.composite
def images(draw):
    """(planes, pack, expected version): 1 to 5 planes of one shape. Wide
    planes (over 65535) make version 4 and are kept to one or two lines."""
    wide = draw(st.booleans()) and draw(st.booleans())
    if wide:
        height, width = draw(st.integers(1, 2)), draw(st.integers(65536, 65600))
    else:
        height, width = draw(st.integers(1, 40)), draw(st.integers(1, 300))
    count = draw(st.integers(1, 5))
    pack = draw(st.sampled_from([None, 0, 1, 2]))
    seeds = draw(st.lists(st.integers(0, 2**16), min_size=count, max_size=count))
    # Noise packs to twice its raw size: packed on request, only the last
    # plane may grow, so noise goes there, or anywhere in a raw or chosen
    # image.
    noisy = draw(st.booleans())
    planes = []
    for k, seed in enumerate(seeds):
        kind = noise if noisy and (pack in (None, 0) or k == count - 1) else design
        planes.append(kind(height, width, seed))
    version = 4 if wide else 3 if count > 2 else 2
    return planes, pack, version


@settings(max_examples=60, deadline=None,
          suppress_health_check=[HealthCheck.function_scoped_fixture,
                                 HealthCheck.too_slow])
@given(images())
def test_every_version_and_encoding_reads_back_equal(tmp_path, image):
    planes, pack, version = image
    path = tmp_path / "image.dis"
    path.unlink(missing_ok=True)
    colours = np.random.default_rng(len(planes)).integers(0, 256, (256, 3), dtype=np.uint8)
    try:
        btreeimg.write(path, planes, pack=pack, colour_map=colours)
    except ValueError as refused:
        # Planes are laid out at their raw size: a packed plane (with its
        # line table) that comes out larger only fits as the last one.
        assert "does not fit" in str(refused) and pack in (1, 2) and len(planes) > 1
        assert not path.exists()
        return
    with btreeimg.open(path) as im:
        assert (im.version, im.plane_count) == (version, len(planes))
        assert np.array_equal(im.colour_map, colours)
        for k, plane in enumerate(planes, 1):
            assert im.encoding(k) in ((0, 1) if pack is None else (pack,))
            assert im.shape(k) == plane.shape
            assert np.array_equal(im.plane(k), plane)
        last = planes[-1].shape[0] - 1
        assert np.array_equal(im.line(last, len(planes)), planes[-1][last])
    assert btreeimg.check(path) == []


def test_non_contiguous_planes_are_written_as_seen(tmp_path):
    big = design(90, 120, seed=3)
    views = [big[::2, 1::3],                 # strided slice
             np.asfortranarray(big[:45, :40]),  # column-major
             big[44::-1, 39::-1],            # negative strides
             np.broadcast_to(big[0, :40], (45, 40))]  # zero row stride
    path = tmp_path / "views.dis"
    btreeimg.write(path, views, pack=1)
    with btreeimg.open(path) as im:
        for k, view in enumerate(views, 1):
            assert np.array_equal(im.plane(k), view)


def test_a_3d_array_is_a_sequence_of_planes_with_a_grey_ramp(tmp_path):
    stack = np.stack([design(10, 200, s) for s in range(3)])
    btreeimg.write(tmp_path / "stack.dis", stack)
    with btreeimg.open(tmp_path / "stack.dis") as im:
        assert im.plane_count == 3
        assert np.array_equal(im.plane(3), stack[2])
        assert np.array_equal(im.colour_map, btreeimg.grey_ramp())


def test_by_default_each_plane_is_packed_where_that_fits(tmp_path):
    planes = [noise(64, 64), design(64, 64), noise(64, 64, 1)]
    path = tmp_path / "chosen.dis"
    btreeimg.write(path, planes)
    with btreeimg.open(path) as im:
        assert [im.encoding(k) for k in (1, 2, 3)] == [0, 1, 0]
        assert all(np.array_equal(im.plane(k), planes[k - 1]) for k in (1, 2, 3))


@pytest.mark.parametrize("pack", [1, 2])
def test_a_failed_write_leaves_the_old_file_and_a_good_one_replaces_it(tmp_path, pack):
    path = tmp_path / "kept.dis"
    path.write_bytes(b"the old content")
    with pytest.raises(ValueError, match="does not fit.*leave pack unset"):
        btreeimg.write(path, [noise(64, 64), design(64, 64)], pack=pack)
    assert path.read_bytes() == b"the old content"
    assert os.listdir(tmp_path) == ["kept.dis"]
    btreeimg.write(path, design(8, 8), pack=pack)
    with btreeimg.open(path) as im:
        assert np.array_equal(im.plane(1), design(8, 8)) and im.encoding(1) == pack
    assert os.listdir(tmp_path) == ["kept.dis"]
