"""Failures reach Python as its own exceptions: OSError subclasses with
errno and filename, ValueError for arguments, FormatError for files that
are not usable images."""

import errno
import os
import struct

import numpy as np
import pytest

import btreeimg
from conftest import design, undefined_encoding


@pytest.mark.parametrize("call", [btreeimg.open, btreeimg.check])
@pytest.mark.parametrize("name, error, code", [
    ("missing.dis", FileNotFoundError, errno.ENOENT),
    ("", IsADirectoryError, errno.EISDIR),
])
def test_files_that_cannot_be_opened(tmp_path, call, name, error, code):
    with pytest.raises(error) as caught:
        call(tmp_path / name)
    assert caught.value.errno == code
    assert caught.value.filename == str(tmp_path / name)


def test_write_into_a_missing_or_closed_folder(tmp_path):
    with pytest.raises(FileNotFoundError) as caught:
        btreeimg.write(tmp_path / "no" / "x.dis", design(2, 2))
    assert caught.value.filename.startswith(str(tmp_path / "no"))
    if os.path.isdir("/sys"):
        with pytest.raises(PermissionError) as denied:  # refused even to root
            btreeimg.write("/sys/x.dis", design(2, 2))
        assert denied.value.errno in (errno.EACCES, errno.EPERM)


def first_block(version, dimx, dimy, planes=1):
    """A first header block: version at 0, dimensions at 10 (u16 x 2 in
    versions 2 and 3, u32 x 2 in version 4), plane count at 1000."""
    block = bytearray(1312)
    struct.pack_into("<H", block, 0, version)
    struct.pack_into("<II" if version == 4 else "<HH", block, 10, dimx, dimy)
    struct.pack_into("<h", block, 1000, planes)
    return bytes(block)


@pytest.mark.parametrize("data, message", [
    (first_block(2, 4, 4, planes=9) + bytes(16), "plane count 9 is above 5"),
    (b"", "shorter than one 1312-byte header block"),
    (b"COLCOPER 1\n" * 200, "unknown version"),
    (first_block(5, 4, 4) + bytes(16), "unknown version 5"),
    # Damaged so that the library refuses it too, lenient or not.
    (first_block(4, 10**6, 2), "runs past the end of the file|beyond what the image file can hold"),
    (b"\x89PNG\r\n\x1a\n" + bytes(2000), ": a PNG file, not a btreeimg image$"),
    (b"MM\0*" + bytes(2000), ": a TIFF file, not a btreeimg image$"),
    (b"\xff\xd8\xff\xe0" + bytes(2000), ": a JPEG file, not a btreeimg image$"),
    (b"GIF89a" + bytes(2000), ": a GIF file, not a btreeimg image$"),
], ids=["planes", "empty", "text", "version", "huge", "png", "tiff", "jpeg", "gif"])
def test_files_that_are_not_usable_images_are_format_errors(tmp_path, data, message):
    path = tmp_path / "bad.dis"
    path.write_bytes(data)
    for lenient in (False, True):
        with pytest.raises(btreeimg.FormatError, match=message) as caught:
            btreeimg.open(path, lenient=lenient)
        assert isinstance(caught.value, ValueError)
        assert str(caught.value).startswith(f"{path}: ")


def test_a_plane_of_an_undefined_encoding_is_damage(tmp_path):
    path = undefined_encoding(tmp_path)
    with pytest.raises(btreeimg.FormatError, match="plane 2"):
        btreeimg.open(path)
    with btreeimg.open(path, lenient=True) as im:
        assert im.encoding(2) == 7 and im.problems == btreeimg.check(path)
        assert np.array_equal(im.plane(1), design(4, 4))
        with pytest.raises(btreeimg.FormatError, match="encoding 7"):
            im.plane(2)


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


def test_plane_and_line_numbers_out_of_range(samples):
    with btreeimg.open(samples / "design.dis") as im:
        for plane in (0, 4, 6, -1):
            for call in (im.plane, im.shape, im.encoding):
                with pytest.raises(ValueError, match="out of range"):
                    call(plane)
        for line in (-1, 192, 2**40):
            with pytest.raises(ValueError, match="out of range"):
                im.line(line, 1)
        with pytest.raises(TypeError):
            im.plane(1.0)


@pytest.mark.parametrize("planes, options, message", [
    (design(4, 4).astype(np.int16), {}, "int16"),
    (design(4, 4).astype(bool), {}, "bool"),
    (np.zeros(16, np.uint8), {}, "must be a 2-D"),
    ([design(4, 4), design(4, 5)], {}, "shape"),
    ([design(4, 4)] * 6, {}, "1 to 5"),
    ([], {}, "1 to 5"),
    ([[1, 2], [3, 4]], {}, "int"),
    (np.zeros((0, 4), np.uint8), {}, "no pixels"),
    ("pixels", {}, "must be"),
    (design(2, 2), {"pack": -1}, "pack"),
    (design(2, 2), {"pack": 3}, "pack"),
    (design(2, 2), {"pack": True}, "pack"),
    (design(2, 2), {"colour_map": np.zeros((255, 3), np.uint8)}, "colour_map"),
    (design(2, 2), {"colour_map": np.zeros((256, 3), np.int32)}, "colour_map"),
])
def test_write_refuses_bad_arguments(tmp_path, planes, options, message):
    with pytest.raises(ValueError, match=message):
        btreeimg.write(tmp_path / "x.dis", planes, **options)
    assert not (tmp_path / "x.dis").exists()
