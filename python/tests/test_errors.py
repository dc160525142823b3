"""Failures reach Python as its own exceptions: OSError subclasses with
errno and filename, ValueError for arguments, FormatError (a ValueError)
for files that are not usable images, PixelLimitError for planes over
btreeimg.MAX_IMAGE_PIXELS."""

import errno
import os
import re

import numpy as np
import pytest

import btreeimg
from conftest import damage, design, header


@pytest.mark.parametrize("call", [btreeimg.open, btreeimg.check])
@pytest.mark.parametrize("name, error, code", [
    ("missing.dis", FileNotFoundError, errno.ENOENT), ("", IsADirectoryError, errno.EISDIR)])
def test_files_that_cannot_be_read(tmp_path, call, name, error, code):
    with pytest.raises(error) as caught:
        call(tmp_path / name)
    assert (caught.value.errno, caught.value.filename) == (code, str(tmp_path / name))


def test_a_file_that_is_no_image_is_refused_even_leniently(tmp_path):
    (tmp_path / "bad.dis").write_bytes(b"\x89PNG\r\n\x1a\n" + bytes(2000))
    for lenient in (False, True):
        with pytest.raises(btreeimg.FormatError, match=f"^{tmp_path / 'bad.dis'}: a PNG file"):
            btreeimg.open(tmp_path / "bad.dis", lenient=lenient)


def test_a_damaged_file_is_refused_strictly_and_read_leniently(samples, tmp_path):
    path = damage(samples, tmp_path, "cut")
    problems = btreeimg.check(path)
    with pytest.raises(btreeimg.FormatError) as caught:
        btreeimg.open(path)
    assert str(caught.value) == f"{path}: {problems[0]} (and {len(problems) - 1} more problems)"
    with btreeimg.open(path, lenient=True) as im, btreeimg.open(samples / "design.dis") as sound:
        assert im.problems == problems
        assert np.array_equal(im.plane(1)[:3], sound.plane(1)[:3])  # lines before the cut
        assert not im.line(191, 1).any()  # bytes past the end read as 0


def test_cover_refuses_a_damaged_image_read_strictly(samples, tmp_path):
    path = damage(samples, tmp_path, "table")  # opens: the damage is in a line
    summary = f"{path}: {btreeimg.check(path)[0]} (and 1 more problem)"
    with btreeimg.open(path) as im:
        with pytest.raises(btreeimg.FormatError, match=f"^{re.escape(summary)}$"):
            im.cover(samples / "rules.txt", tmp_path / "out.dis")
    assert os.listdir(tmp_path) == ["table.dis"]


def test_a_file_cut_short_while_open_fails_the_read_with_os_error(tmp_path):
    path = tmp_path / "cut.dis"
    btreeimg.write(path, design(1024, 4096), pack=0)  # more than the reader reads ahead
    with btreeimg.open(path) as im:
        os.truncate(path, 1312 + 4096 * 600)
        with pytest.raises(OSError, match="line 600: the file ended early") as caught:
            im.plane(1)
        assert (caught.value.errno, caught.value.filename) == (errno.EIO, str(path))


def test_a_raw_plane_cut_short_reads_zeros_behind_the_cut_and_a_write_only_file_is_os_error(
        tmp_path):
    path = tmp_path / "raw.dis"
    plane = design(40, 30)
    btreeimg.write(path, plane, pack=0)
    os.truncate(path, 1312 + 30 * 10 + 7)  # inside line 10
    with btreeimg.open(path, lenient=True) as im:
        read = im.plane(1)
    assert np.array_equal(read[:10], plane[:10])
    assert np.array_equal(read[10, :7], plane[10, :7])
    assert not read[10, 7:].any() and not read[11:].any()
    with open(path, "ab") as write_only:
        with pytest.raises(OSError) as caught:
            btreeimg._btreeimg.Image.from_descriptor(write_only.fileno(), str(path), False)
    assert caught.value.errno == errno.EBADF


def test_the_pixel_limit_counts_each_plane_read(samples, tmp_path, monkeypatch):
    assert btreeimg.MAX_IMAGE_PIXELS == 2**28
    assert issubclass(btreeimg.PixelLimitError, btreeimg.FormatError)
    assert issubclass(btreeimg.FormatError, ValueError)
    with btreeimg.open(samples / "design.dis") as im:
        monkeypatch.setattr(btreeimg, "MAX_IMAGE_PIXELS", 256 * 192 - 1)
        for read in (lambda: im.plane(2), lambda: im.cover(samples / "rules.txt",
                                                            tmp_path / "out.dis")):
            with pytest.raises(btreeimg.PixelLimitError, match=(
                    f"^{samples / 'design.dis'}: the image states 256 x 192 pixels, more "
                    "than the limit of 49151; raise btreeimg.MAX_IMAGE_PIXELS")):
                read()
        monkeypatch.setattr(btreeimg, "MAX_IMAGE_PIXELS", 256)
        assert im.line(0, 2).shape == (256,)  # a line costs its pixels, up to the limit
        monkeypatch.setattr(btreeimg, "MAX_IMAGE_PIXELS", None)
        assert im.plane(2).shape == (192, 256)
        monkeypatch.setattr(btreeimg, "MAX_IMAGE_PIXELS", -1)
        with pytest.raises(ValueError, match="MAX_IMAGE_PIXELS"):
            im.plane(2)
    assert os.listdir(tmp_path) == []


def test_planes_stated_far_larger_than_the_file_are_refused_before_they_are_read(tmp_path):
    # 65535 x 65535 pixels, and 2**32 - 1 empty lines (a step each).
    for name, block in (("big", header(2, 65535, 65535, pack=1)), ("tall", header(4, 0, 2**32 - 1))):
        (tmp_path / name).write_bytes(block)
        with btreeimg.open(tmp_path / name, lenient=True) as im:
            with pytest.raises(btreeimg.PixelLimitError, match=f"^{tmp_path / name}: "):
                im.plane(1)


def test_nul_bytes_in_paths_are_refused_as_python_refuses_them(tmp_path, samples):
    bad = str(tmp_path / "keep.dis") + "\0.png"
    with btreeimg.open(samples / "design.dis") as im:
        for call in (lambda: btreeimg.write(bad, design(2, 2)),
                     lambda: btreeimg.open(bad), lambda: btreeimg.check(bad),
                     lambda: im.cover(samples / "rules.txt", bad),
                     lambda: im.cover(bad, tmp_path / "out.dis")):
            with pytest.raises(ValueError, match="embedded null byte"):
                call()
    assert os.listdir(tmp_path) == []


def test_a_sound_plane_of_a_file_damaged_elsewhere_is_read(samples, tmp_path):
    # One byte short: only plane 3 runs past the end of the file.
    data = (samples / "design.dis").read_bytes()
    path = tmp_path / "short.dis"
    path.write_bytes(data[:-1])
    problems = btreeimg.check(path)
    assert len(problems) == 1 and problems[0].startswith("plane 3: ")
    with btreeimg.open(path) as im, btreeimg.open(samples / "design.dis") as sound:
        assert np.array_equal(im.plane(1), sound.plane(1))
        with pytest.raises(btreeimg.FormatError, match=f"^{re.escape(f'{path}: {problems[0]}')}$"):
            im.plane(3)


def test_a_lenient_read_is_bounded_by_what_the_file_can_hold(tmp_path):
    # 2 x 2**27 raw pixels stated in 1337 bytes, cut inside line 12.
    (tmp_path / "tall.dis").write_bytes(header(4, 2, 2**27) + bytes(25))
    with btreeimg.open(tmp_path / "tall.dis", lenient=True) as im:
        with pytest.raises(btreeimg.FormatError, match="more than its 1337 bytes can hold"):
            im.plane(1)
        assert im.line(2**27 - 1, 1).tolist() == [0, 0]
