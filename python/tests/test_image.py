"""Opening an image, reading its planes, lines and colour map, and colour
coverage into a file (saved as the library saves every file: its tests say
how)."""

import os
import re

import numpy as np
import pytest

import btreeimg
from conftest import HERE


@pytest.mark.parametrize("as_path", [str, os.fsencode, lambda p: p])
def test_the_sample_opens_from_any_kind_of_path(samples, as_path):
    with btreeimg.open(as_path(samples / "design.dis")) as im:
        assert (im.version, im.plane_count) == (3, 3)
        assert [im.shape(k) for k in (1, 2, 3)] == [(192, 256)] * 3
        assert [im.encoding(k) for k in (1, 2, 3)] == [1, 1, 1]
        assert im.colour_map.shape == (256, 3) and im.problems == []


def test_planes_and_lines_are_what_was_written_in_arrays_of_the_caller(written):
    path, planes, colours = written
    with btreeimg.open(path) as im:
        assert np.array_equal(im.colour_map, colours)
        for k, plane in enumerate(planes, 1):
            read = im.plane(k)
            assert read.dtype == np.uint8 and read.flags.c_contiguous
            assert np.array_equal(read, plane)
            assert np.array_equal(im.line(39, k), plane[39])  # the last line
        read[:] = 0
        assert np.array_equal(im.plane(2), planes[1])


def test_planes_and_lines_out_of_range_and_a_closed_image_are_refused(written):
    with btreeimg.open(written[0]) as im:
        for plane in (0, 3, -1):
            for call in (im.plane, im.shape, im.encoding, lambda p: im.line(0, p)):
                with pytest.raises(ValueError, match="out of range"):
                    call(plane)
        for line in (-1, 40, 2**40):
            with pytest.raises(ValueError, match="out of range"):
                im.line(line, 1)
    im.close()  # a second close does nothing
    assert im.closed and "closed" in repr(im)
    for use in (lambda: im.plane(1), lambda: im.line(0, 1), lambda: im.shape(1),
                lambda: im.colour_map, lambda: im.problems):
        with pytest.raises(ValueError, match="closed"):
            use()


def test_cover_writes_the_output_only_when_a_pixel_changes(samples, tmp_path):
    out = tmp_path / "covered.dis"
    idle = tmp_path / "idle.txt"
    idle.write_text("COLCOPER 250\nCOLTEST 251\nCOLSOST 252\n")
    with btreeimg.open(samples / "design.dis") as im:
        before = im.plane(1)
        assert im.cover(samples / "rules.txt", out) is True
        written = out.read_bytes()
        assert im.cover(idle, out) is False
        assert im.cover(idle, tmp_path / "none.dis") is False
        with pytest.raises(FileNotFoundError):
            im.cover(tmp_path / "missing.txt", out)
    assert out.read_bytes() == written
    assert sorted(os.listdir(tmp_path)) == ["covered.dis", "idle.txt"]
    with btreeimg.open(out) as covered:
        assert covered.plane_count == 1 and covered.problems == []
        after = covered.plane(1)
    assert after.shape == before.shape and (after != before).any()


def test_the_version_is_the_project_version():
    version = re.search(r"project\(btreeimg VERSION (\S+)",
                        (HERE.parent.parent / "CMakeLists.txt").read_text())
    assert btreeimg.__version__ == version.group(1)
