"""Failures reach Python as its own exceptions: OSError subclasses with
errno and filename, ValueError for arguments, FormatError for files that
are not usable images."""

import errno
import os
import struct

import numpy as np
import pytest

import btreeimg
from conftest import design


def test_missing_file(tmp_path):
    for call in (btreeimg.open, btreeimg.check):
        with pytest.raises(FileNotFoundError) as caught:
            call(tmp_path / "missing.dis")
        assert caught.value.errno == errno.ENOENT
        assert caught.value.filename == str(tmp_path / "missing.dis")


def test_a_folder_is_not_an_image(tmp_path):
    with pytest.raises(IsADirectoryError) as caught:
        btreeimg.open(tmp_path)
    assert caught.value.errno == errno.EISDIR
    assert caught.value.filename == str(tmp_path)
    with pytest.raises(IsADirectoryError):
        btreeimg.check(tmp_path)


def test_write_into_a_missing_or_closed_folder(tmp_path):
    with pytest.raises(FileNotFoundError) as caught:
        btreeimg.write(tmp_path / "no" / "x.dis", design(2, 2))
    assert caught.value.filename.startswith(str(tmp_path / "no"))
    if not os.path.isdir("/sys"):
        pytest.skip("no /sys")
    with pytest.raises(PermissionError) as denied:  # refused even to root
        btreeimg.write("/sys/x.dis", design(2, 2))
    assert denied.value.errno in (errno.EACCES, errno.EPERM)


@pytest.mark.skipif(os.geteuid() == 0, reason="root reads any file")
def test_unreadable_file(tmp_path):
    path = tmp_path / "secret.dis"
    btreeimg.write(path, design(2, 2))
    os.chmod(path, 0)
    with pytest.raises(PermissionError):
        btreeimg.open(path)


def first_block(version, dimx, dimy, planes=1):
    """A first header block: version at 0, dimensions at 10 (u16 x 2 in
    versions 2 and 3, u32 x 2 in version 4), plane count at 1000."""
    block = bytearray(1312)
    struct.pack_into("<H", block, 0, version)
    struct.pack_into("<II" if version == 4 else "<HH", block, 10, dimx, dimy)
    struct.pack_into("<h", block, 1000, planes)
    return block


def test_damaged_files_are_format_errors(tmp_path):
    path = tmp_path / "bad.dis"
    btreeimg.write(path, design(4, 4), pack=0)
    data = bytearray(path.read_bytes())
    struct.pack_into("<h", data, 1000, 9)  # nine planes
    path.write_bytes(bytes(data))
    with pytest.raises(btreeimg.FormatError, match="more than 5 planes") as caught:
        btreeimg.open(path)
    assert isinstance(caught.value, ValueError)
    assert str(path) in str(caught.value)
    # Files that are no images: empty, text, an unknown version.
    for data in (b"", b"COLCOPER 1\n" * 200, bytes(first_block(5, 4, 4)) + bytes(16)):
        path.write_bytes(data)
        with pytest.raises(btreeimg.FormatError, match="not an image file"):
            btreeimg.open(path)
    # A one-block file claiming lines of a million bytes.
    path.write_bytes(bytes(first_block(4, 10**6, 2)))
    with pytest.raises(btreeimg.FormatError, match="dimensions"):
        btreeimg.open(path)


def test_a_plane_of_an_undefined_encoding_cannot_be_read(tmp_path):
    path = tmp_path / "odd.dis"
    btreeimg.write(path, [design(4, 4), design(4, 4)], pack=0)
    data = bytearray(path.read_bytes())
    plane2 = struct.unpack_from("<I", data, 1002 + 4)[0]  # version-2 block table
    struct.pack_into("<H", data, plane2 + 4, 7)  # its pack field
    path.write_bytes(bytes(data))
    with btreeimg.open(path) as im:
        assert im.encoding(2) == 7
        assert np.array_equal(im.plane(1), design(4, 4))
        with pytest.raises(btreeimg.FormatError, match="encoding 7"):
            im.plane(2)


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


@pytest.mark.parametrize("planes, message", [
    (design(4, 4).astype(np.int16), "int16"),
    (design(4, 4).astype(bool), "bool"),
    (np.zeros(16, np.uint8), "must be a 2-D"),
    ([design(4, 4), design(4, 5)], "shape"),
    ([design(4, 4)] * 6, "1 to 5"),
    ([], "1 to 5"),
    ([[1, 2], [3, 4]], "int"),
    (np.zeros((0, 4), np.uint8), "no pixels"),
    ("pixels", "must be"),
])
def test_write_refuses_bad_planes(tmp_path, planes, message):
    with pytest.raises(ValueError, match=message):
        btreeimg.write(tmp_path / "x.dis", planes)
    assert not (tmp_path / "x.dis").exists()


def test_write_refuses_bad_pack_and_colour_map(tmp_path):
    for pack in (-1, 3, True):
        with pytest.raises(ValueError, match="pack"):
            btreeimg.write(tmp_path / "x.dis", design(2, 2), pack=pack)
    for colours in (np.zeros((255, 3), np.uint8), np.zeros((256, 3), np.int32)):
        with pytest.raises(ValueError, match="colour_map"):
            btreeimg.write(tmp_path / "x.dis", design(2, 2), colour_map=colours)
    assert not (tmp_path / "x.dis").exists()
