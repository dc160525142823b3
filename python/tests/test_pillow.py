"""Pillow opens, seeks, loads and saves image files through the plugin, and
every pixel goes through the C++ library."""

import gzip
import io
import os
import re
import struct

import numpy as np
import pytest
from PIL import Image, ImageFile, ImageSequence, ImageShow, features

import btreeimg
import btreeimg.pillow  # registers the format
from conftest import design, noise, undefined_encoding


def palette_of(colours):
    return list(colours.reshape(-1))


def test_open_gives_the_planes_as_palette_frames(samples):
    with btreeimg.open(samples / "design.dis") as im:
        planes = [im.plane(k) for k in (1, 2, 3)]
        colours = im.colour_map
    with Image.open(samples / "design.dis") as pic:
        assert (pic.format, pic.mode, pic.size) == ("BTREEIMG", "P", (256, 192))
        assert (pic.n_frames, pic.is_animated) == (3, True)
        assert pic.getpalette() == palette_of(colours)
        for k, frame in enumerate(ImageSequence.Iterator(pic)):
            assert frame.tell() == k
            assert np.array_equal(np.asarray(frame), planes[k])
        pic.seek(0)  # back to plane 1 after plane 3
        assert np.array_equal(np.asarray(pic), planes[0])
        with pytest.raises(EOFError):
            pic.seek(3)
        pic.seek(1)
        assert pic.convert("RGB").getpixel((5, 7)) == tuple(colours[planes[1][7, 5]])


class RecordingViewer(ImageShow.Viewer):
    """Shows nothing: keeps the frames of what Pillow hands to a viewer (a
    PNG of every frame, as the desktop viewers get it)."""

    format = "PNG"
    options = {"compress_level": 1, "save_all": True}
    shown = []

    def show_file(self, path, **options):
        self.shown.append(rgb_frames(path))
        os.remove(path)
        return 1


@pytest.fixture
def viewer():
    ImageShow.register(RecordingViewer, 0)
    RecordingViewer.shown = []
    yield RecordingViewer
    ImageShow._viewers.remove(ImageShow._viewers[0])


def rgb_frames(path):
    with Image.open(path) as pic:
        return [np.asarray(frame.convert("RGB")) for frame in ImageSequence.Iterator(pic)]


def test_everyday_calls_work_on_every_frame(samples, tmp_path, viewer):
    with btreeimg.open(samples / "design.dis") as im:
        colours = im.colour_map
        expected = [colours[im.plane(k)] for k in (1, 2, 3)]
    formats = ["png", "gif", "tiff"] + (["webp"] if features.check("webp_anim") else [])
    with Image.open(samples / "design.dis") as pic:
        for k in (2, 0, 1):
            pic.seek(k)
            assert np.array_equal(np.asarray(pic.copy().convert("RGB")), expected[k])
            assert np.array_equal(np.asarray(pic.convert("RGB")), expected[k])
            # Every frame is shown, as for other multi-frame formats (and
            # the image is left at the last one).
            pic.show()
            assert all(np.array_equal(a, b) for a, b in zip(viewer.shown[-1], expected, strict=True))
        for name in formats:
            pic.seek(2)
            pic.save(tmp_path / f"all.{name}", save_all=True, lossless=True)
            assert pic.tell() == 2
            frames = rgb_frames(tmp_path / f"all.{name}")
            assert all(np.array_equal(a, b) for a, b in zip(frames, expected, strict=True)), name


def test_a_version_4_file_opens(tmp_path):
    wide = np.arange(2 * 70000, dtype=np.uint32).astype(np.uint8).reshape(2, 70000)
    btreeimg.write(tmp_path / "wide.dis", wide)
    assert btreeimg.open(tmp_path / "wide.dis").version == 4
    with Image.open(tmp_path / "wide.dis") as pic:
        assert pic.size == (70000, 2)
        assert np.array_equal(np.asarray(pic), wide)


def test_the_decompression_bomb_guard_checks_every_plane(samples, monkeypatch, tmp_path):
    with Image.open(samples / "design.dis") as pic:
        monkeypatch.setattr(Image, "MAX_IMAGE_PIXELS", 256 * 192 - 1)
        with pytest.warns(Image.DecompressionBombWarning):
            pic.seek(1)
        monkeypatch.setattr(Image, "MAX_IMAGE_PIXELS", 256 * 192 // 3)
        with pytest.raises(Image.DecompressionBombError):
            pic.seek(2)
        assert pic.tell() == 1
    # A plane of empty lines costs a step per line: 2**32 - 1 of them are
    # refused, though they hold no pixel.
    block = bytearray(1312)
    struct.pack_into("<H", block, 0, 4)
    struct.pack_into("<II", block, 10, 0, 2**32 - 1)
    struct.pack_into("<h", block, 1000, 1)
    (tmp_path / "empty.dis").write_bytes(block)
    monkeypatch.undo()
    with pytest.raises(Image.DecompressionBombError):
        Image.open(tmp_path / "empty.dis")
    with open(tmp_path / "empty.dis", "rb") as stream:
        with pytest.raises(Image.DecompressionBombError):
            Image.open(stream)
        assert not stream.closed  # the caller's stream


def test_damaged_files_follow_pillows_convention_for_truncated_images(damaged, monkeypatch):
    problems = btreeimg.check(damaged)
    with Image.open(damaged) as pic:
        with pytest.raises(OSError, match="^" + problems[0].replace("(", r"\(").replace(")", r"\)")):
            pic.load()
    monkeypatch.setattr(ImageFile, "LOAD_TRUNCATED_IMAGES", True)
    with Image.open(damaged) as pic, btreeimg.open(damaged, lenient=True) as im:
        for k in range(pic.n_frames):
            pic.seek(k)
            assert np.array_equal(np.asarray(pic), im.plane(k + 1))


def test_an_undefined_encoding_is_an_os_error(tmp_path, monkeypatch):
    path = undefined_encoding(tmp_path)
    monkeypatch.setattr(ImageFile, "LOAD_TRUNCATED_IMAGES", True)
    with Image.open(path) as pic:
        pic.load()
        with pytest.raises(OSError, match="encoding 7") as caught:
            pic.seek(1)
        assert not isinstance(caught.value, ValueError)


def test_saved_palette_image_reads_back_equal(tmp_path):
    pixels = design(30, 40)
    pic = Image.fromarray(pixels, "P")
    ramp = np.arange(256, dtype=np.uint8)
    colours = np.stack([ramp, 255 - ramp, ramp // 2], axis=1)
    pic.putpalette(palette_of(colours))
    for pack in (0, 1, 2):
        path = tmp_path / f"saved{pack}.dis"
        pic.save(path, pack=pack)
        with btreeimg.open(path) as im:
            assert (im.plane_count, im.encoding(1)) == (1, pack)
            assert np.array_equal(im.plane(1), pixels)
            assert np.array_equal(im.colour_map, colours)
        with Image.open(path) as back:
            assert np.array_equal(np.asarray(back), pixels)
            assert back.getpalette() == pic.getpalette()


def test_grey_images_get_a_grey_ramp_and_short_palettes_are_padded(tmp_path):
    Image.fromarray(design(8, 9), "L").save(tmp_path / "grey.dis")
    with btreeimg.open(tmp_path / "grey.dis") as im:
        assert np.array_equal(im.colour_map, btreeimg.grey_ramp())
        assert np.array_equal(im.plane(1), design(8, 9))
    small = Image.fromarray(np.zeros((2, 2), np.uint8), "P")
    small.putpalette([10, 20, 30, 40, 50, 60])
    small.save(tmp_path / "small.dis")
    with btreeimg.open(tmp_path / "small.dis") as im:
        assert im.colour_map[:3].tolist() == [[10, 20, 30], [40, 50, 60], [0, 0, 0]]


def test_save_all_writes_every_image_as_a_plane(tmp_path, samples):
    first, second, third = (Image.fromarray(design(16, 24, s), "L") for s in range(3))
    path = tmp_path / "three.dis"
    first.save(path, save_all=True, append_images=[second, third], pack=2)
    with btreeimg.open(path) as im:
        assert (im.plane_count, im.version, im.encoding(3)) == (3, 3, 2)
        assert np.array_equal(im.plane(3), design(16, 24, 2))
    # Without pack, noisy planes are written raw, the others packed.
    noisy = [noise(32, 32, s) for s in range(2)]
    Image.fromarray(noisy[0], "L").save(path, save_all=True, append_images=[
        Image.fromarray(design(32, 32), "L"), Image.fromarray(noisy[1], "L")])
    with btreeimg.open(path) as im:
        assert [im.encoding(k) for k in (1, 2, 3)] == [0, 1, 0]
        assert np.array_equal(im.plane(3), noisy[1])
    # A multi-plane image saves all its frames, as other multi-frame formats do.
    with Image.open(samples / "design.dis") as pic:
        pic.save(tmp_path / "copy.dis", save_all=True)
    with btreeimg.open(samples / "design.dis") as a, btreeimg.open(tmp_path / "copy.dis") as b:
        assert all(np.array_equal(a.plane(k), b.plane(k)) for k in (1, 2, 3))
        assert np.array_equal(a.colour_map, b.colour_map)


def test_streams_without_a_file_name(tmp_path, damaged, monkeypatch):
    buffer = io.BytesIO()
    Image.fromarray(design(5, 6), "L").save(buffer, format="BTREEIMG", pack=0)
    buffer.seek(0)
    with Image.open(buffer) as pic:
        assert pic.format == "BTREEIMG"
        assert np.array_equal(np.asarray(pic), design(5, 6))
    # A stream that decodes a file: its bytes, not its file's.
    with gzip.open(tmp_path / "packed.dis.gz", "wb") as packed:
        packed.write(buffer.getvalue())
    with gzip.open(tmp_path / "packed.dis.gz") as stream, Image.open(stream) as pic:
        assert np.array_equal(np.asarray(pic), design(5, 6))
    # Damage in bytes read as in a file.
    problems = btreeimg.check(damaged)
    with Image.open(io.BytesIO(damaged.read_bytes())) as pic:
        with pytest.raises(OSError, match="^" + re.escape(problems[0])):
            pic.load()
    monkeypatch.setattr(ImageFile, "LOAD_TRUNCATED_IMAGES", True)
    with (Image.open(io.BytesIO(damaged.read_bytes())) as pic,
          btreeimg.open(damaged, lenient=True) as im):
        assert np.array_equal(np.asarray(pic), im.plane(1))


def test_other_modes_are_refused_by_name(tmp_path):
    for mode in ("RGB", "1", "I;16", "LA"):
        with pytest.raises(ValueError, match=f"mode {mode}"):
            Image.new(mode, (4, 4)).save(tmp_path / "x.dis")
    with pytest.raises(ValueError, match=r'im\.quantize\(256\) or im\.convert\("P"\)'):
        Image.new("RGB", (4, 4)).save(tmp_path / "x.dis")
    with pytest.raises(ValueError, match="at most 5"):
        Image.new("L", (4, 4)).save(tmp_path / "y.dis", save_all=True,
                                   append_images=[Image.new("L", (4, 4))] * 5)


def test_files_that_are_not_images_are_left_to_other_plugins(tmp_path):
    path = tmp_path / "fake.dis"
    path.write_bytes(b"\x02\x00" + bytes(10))  # a version field, no image
    with pytest.raises(Image.UnidentifiedImageError):
        Image.open(path)
