"""Pillow opens, seeks, loads and saves image files through the plugin, and
every pixel goes through the C++ library."""

import io

import numpy as np
import pytest
from PIL import Image, ImageSequence

import btreeimg
import btreeimg.pillow  # registers the format
from conftest import design


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
    # A multi-plane image saves all its frames, as other multi-frame formats do.
    with Image.open(samples / "design.dis") as pic:
        pic.save(tmp_path / "copy.dis", save_all=True)
    with btreeimg.open(samples / "design.dis") as a, btreeimg.open(tmp_path / "copy.dis") as b:
        assert all(np.array_equal(a.plane(k), b.plane(k)) for k in (1, 2, 3))
        assert np.array_equal(a.colour_map, b.colour_map)


def test_streams_without_a_file_name(tmp_path):
    buffer = io.BytesIO()
    Image.fromarray(design(5, 6), "L").save(buffer, format="BTREEIMG", pack=0)
    buffer.seek(0)
    with Image.open(buffer) as pic:
        assert pic.format == "BTREEIMG"
        assert np.array_equal(np.asarray(pic), design(5, 6))


def test_other_modes_are_refused_by_name(tmp_path):
    for mode in ("RGB", "1", "I;16", "LA"):
        with pytest.raises(ValueError, match=f"mode {mode}"):
            Image.new(mode, (4, 4)).save(tmp_path / "x.dis")
    with pytest.raises(ValueError, match="at most 5"):
        Image.new("L", (4, 4)).save(tmp_path / "y.dis", save_all=True,
                                   append_images=[Image.new("L", (4, 4))] * 5)


def test_files_that_are_not_images_are_left_to_other_plugins(tmp_path):
    path = tmp_path / "fake.dis"
    path.write_bytes(b"\x02\x00" + bytes(10))  # a version field, no image
    with pytest.raises(Image.UnidentifiedImageError):
        Image.open(path)
