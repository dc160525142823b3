"""Failures reach Python as its own exceptions: OSError subclasses with
errno and filename, ValueError for arguments, FormatError for files that
are not usable images."""

import errno
import json
import os
import struct
import subprocess
import sys

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


def first_block(version, dimx, dimy, planes=1, pack=0):
    """A first header block: version at 0, encoding at 4, dimensions at 10
    (u16 x 2 in versions 2 and 3, u32 x 2 in version 4), plane count at
    1000."""
    block = bytearray(1312)
    struct.pack_into("<HxxH", block, 0, version, pack)
    struct.pack_into("<II" if version == 4 else "<HH", block, 10, dimx, dimy)
    struct.pack_into("<h", block, 1000, planes)
    return bytes(block)


def two_planes(first, second):
    """A version-2 file of two (width, height, encoding) blocks, plane 2's
    block right behind plane 1's, and 16 bytes."""
    block = bytearray(first_block(2, *first[:2], planes=2, pack=first[2]))
    struct.pack_into("<I", block, 1006, 1312)  # plane 2's entry in the block table
    return bytes(block) + struct.pack("<HHH", *second).ljust(1312 + 16, b"\0")


# Each file states planes far larger than it: reading one at the size it
# states would take gigabytes of memory, or minutes for the steps of 2**32
# empty lines. What the strict and the lenient open do, then what reading
# the last plane does.
HOSTILE = [
    (two_planes((65535, 65535, 1), (65535, 65535, 1)), "refused", "limit"),
    (two_planes((4, 4, 0), (65535, 65535, 1)), "refused", "read (4, 4)"),
    (first_block(4, 1, 2**31 - 1), "refused", "limit"),
    (first_block(4, 0, 2**32 - 1), "limit", "limit"),
]

# Run in a child process whose address space is held to 1 GiB more than it
# uses once the package is imported: a plane allocated at its stated size
# fails there at once.
READ_HOSTILE = """
import json, resource, sys
import btreeimg
pages = int(open("/proc/self/statm").read().split()[0])
room = pages * resource.getpagesize() + (1 << 30)
resource.setrlimit(resource.RLIMIT_AS, (room, room))
outcomes = []
for path in sys.argv[1:]:
    for lenient in (False, True):
        try:
            im = btreeimg.open(path, lenient=lenient)
        except btreeimg.FormatError as refused:
            outcomes.append(["refused", str(refused)])
            continue
        try:
            outcomes.append(["read " + str(im.plane(im.plane_count).shape), ""])
        except btreeimg.PixelLimitError as refused:
            outcomes.append(["limit", str(refused)])
        im.close()
print(json.dumps([outcomes, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss]))
"""


def test_planes_stated_far_larger_than_the_file_are_refused_before_they_are_read(tmp_path):
    paths = []
    for k, (data, _, _) in enumerate(HOSTILE):
        paths.append(tmp_path / f"hostile{k}.dis")
        paths[-1].write_bytes(data)
    done = subprocess.run([sys.executable, "-c", READ_HOSTILE, *map(str, paths)],
                          capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stderr
    outcomes, peak_kib = json.loads(done.stdout)
    expected = [outcome for _, *both in HOSTILE for outcome in both]
    assert [kind for kind, _ in outcomes] == expected
    for (kind, message), path in zip(outcomes, [p for p in paths for _ in (0, 1)]):
        if kind == "limit":
            assert message.startswith(f"{path}: the image states ")
            assert message.endswith(" pixels, more than the limit of 268435456; raise "
                                    "btreeimg.MAX_IMAGE_PIXELS (or set it to None) to read it")
        elif kind == "refused":
            assert message.startswith(f"{path}: {btreeimg.check(path)[0]}")
    assert peak_kib < 512 * 1024


def test_the_pixel_limit_counts_each_plane_read(samples, tmp_path, monkeypatch):
    assert btreeimg.MAX_IMAGE_PIXELS == 2**28
    assert issubclass(btreeimg.PixelLimitError, btreeimg.FormatError)
    with btreeimg.open(samples / "design.dis") as im:
        monkeypatch.setattr(btreeimg, "MAX_IMAGE_PIXELS", 256 * 192)
        assert im.plane(2).shape == (192, 256)
        monkeypatch.setattr(btreeimg, "MAX_IMAGE_PIXELS", 256 * 192 - 1)
        for read in (lambda: im.plane(2), lambda: im.cover(samples / "rules.txt",
                                                            tmp_path / "out.dis")):
            with pytest.raises(btreeimg.PixelLimitError, match="256 x 192 pixels, more "
                               "than the limit of 49151"):
                read()
        assert im.line(0, 2).shape == (256,)  # a line costs its pixels
        monkeypatch.setattr(btreeimg, "MAX_IMAGE_PIXELS", 255)
        with pytest.raises(btreeimg.PixelLimitError):
            im.line(0, 2)
        monkeypatch.setattr(btreeimg, "MAX_IMAGE_PIXELS", None)
        assert im.plane(2).shape == (192, 256)
        for bad, error in ((-1, ValueError), (2.5, TypeError)):
            monkeypatch.setattr(btreeimg, "MAX_IMAGE_PIXELS", bad)
            with pytest.raises(error, match="MAX_IMAGE_PIXELS|integer"):
                im.plane(2)
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("data, message", [
    (first_block(2, 4, 4, planes=9) + bytes(16), "plane count 9 is above 5"),
    (b"", "shorter than one 1312-byte header block"),
    (b"COLCOPER 1\n" * 200, "unknown version"),
    (first_block(5, 4, 4) + bytes(16), "unknown version 5"),
    (b"\x89PNG\r\n\x1a\n" + bytes(2000), ": a PNG file, not a btreeimg image$"),
    (b"MM\0*" + bytes(2000), ": a TIFF file, not a btreeimg image$"),
    (b"\xff\xd8\xff\xe0" + bytes(2000), ": a JPEG file, not a btreeimg image$"),
    (b"GIF89a" + bytes(2000), ": a GIF file, not a btreeimg image$"),
], ids=["planes", "empty", "text", "version", "png", "tiff", "jpeg", "gif"])
def test_files_that_are_not_usable_images_are_format_errors(tmp_path, data, message):
    path = tmp_path / "bad.dis"
    path.write_bytes(data)
    for lenient in (False, True):
        with pytest.raises(btreeimg.FormatError, match=message) as caught:
            btreeimg.open(path, lenient=lenient)
        assert isinstance(caught.value, ValueError)
        assert str(caught.value).startswith(f"{path}: ")


def test_a_file_cut_short_while_open_fails_the_read_with_os_error(tmp_path):
    # 4 MiB of lines: more than the reader reads ahead of a line.
    path = tmp_path / "cut.dis"
    btreeimg.write(path, design(1024, 4096), pack=0)
    with btreeimg.open(path) as im:
        os.truncate(path, 1312 + 4096 * 600)
        assert np.array_equal(im.line(599, 1), design(1024, 4096)[599])
        with pytest.raises(OSError, match="line 600: the file ended early") as caught:
            im.plane(1)
        assert (caught.value.errno, caught.value.filename) == (errno.EIO, str(path))


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
