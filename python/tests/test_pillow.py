"""Pillow opens, seeks, loads and saves image files through the plugin."""

import gzip
import io
import re

import numpy as np
import pytest
from PIL import Image, ImageFile

import btreeimg
import btreeimg.pillow  # registers the format
from conftest import damage, design, header


@pytest.mark.parametrize("prefix, accepted", [
    (b"\x02\x00", True), (b"\x04\x00\x09", True), (b"\x02\x01", False),
    (b"\x05\x00", False), (b"\x03", False)])
def test_the_first_two_bytes_are_a_version_2_3_or_4(prefix, accepted):
    assert bool(Image.OPEN["BTREEIMG"][1](prefix)) == accepted


@pytest.mark.parametrize("source", ["path", "file", "bytes", "gzip"])
def test_plane_1_loads_from_a_path_a_file_or_a_stream_of_bytes(written, source):
    path, planes, colours = written
    if source == "gzip":  # a stream that decodes a file: its bytes, not its file's
        (path.parent / "two.gz").write_bytes(gzip.compress(path.read_bytes()))
    opened = {"path": lambda: path, "file": lambda: open(path, "rb"),
              "bytes": lambda: io.BytesIO(path.read_bytes()),
              "gzip": lambda: gzip.open(path.parent / "two.gz")}[source]()
    with Image.open(opened) as pic:
        assert (pic.format, pic.mode, pic.size, pic.n_frames) == ("BTREEIMG", "P", (30, 40), 2)
        pic.load()
        assert pic.tobytes() == planes[0].tobytes()
        assert pic.getpalette() == list(colours.reshape(-1))


def test_seek_moves_over_the_planes(written):
    path, planes, colours = written
    with Image.open(path) as pic:
        pic.seek(1)
        assert pic.tell() == 1 and np.array_equal(np.asarray(pic), planes[1])
        assert pic.convert("RGB").getpixel((5, 7)) == tuple(colours[planes[1][7, 5]])
        with pytest.raises(EOFError):
            pic.seek(2)
        pic.seek(0)
        assert np.array_equal(np.asarray(pic.copy()), planes[0])


@pytest.mark.parametrize("how", ["cut", "table"])
def test_damage_fails_the_load_unless_truncated_images_are_loaded(samples, tmp_path, how,
                                                                  monkeypatch):
    path = damage(samples, tmp_path, how)
    with Image.open(path) as pic:
        with pytest.raises(OSError, match="^" + re.escape(btreeimg.check(path)[0])):
            pic.load()
    monkeypatch.setattr(ImageFile, "LOAD_TRUNCATED_IMAGES", True)
    with Image.open(path) as pic, btreeimg.open(path, lenient=True) as im:
        for k in range(3):
            pic.seek(k)
            assert np.array_equal(np.asarray(pic), im.plane(k + 1))


def test_the_decompression_bomb_guard_checks_every_plane(samples, monkeypatch, tmp_path):
    with Image.open(samples / "design.dis") as pic:
        monkeypatch.setattr(Image, "MAX_IMAGE_PIXELS", 256 * 192 // 3)
        with pytest.raises(Image.DecompressionBombError):
            pic.seek(1)
        assert pic.tell() == 0
    monkeypatch.undo()
    # 2**32 - 1 empty lines: no pixel, but a step each.
    (tmp_path / "tall.dis").write_bytes(header(4, 0, 2**32 - 1))
    with open(tmp_path / "tall.dis", "rb") as stream:
        with pytest.raises(Image.DecompressionBombError):
            Image.open(stream)
        assert not stream.closed  # the caller's stream


def test_p_and_l_images_save_as_one_plane(tmp_path):
    pic = Image.fromarray(design(30, 40), "P")
    pic.putpalette([10, 20, 30, 40, 50, 60])  # a short palette, padded
    pic.save(tmp_path / "p.dis", pack=2)
    buffer = io.BytesIO()  # a stream without a file name
    Image.fromarray(design(8, 9), "L").save(buffer, format="BTREEIMG", pack=0)
    (tmp_path / "l.dis").write_bytes(buffer.getvalue())
    with btreeimg.open(tmp_path / "p.dis") as p, btreeimg.open(tmp_path / "l.dis") as grey:
        assert (p.plane_count, p.encoding(1), grey.encoding(1)) == (1, 2, 0)
        assert np.array_equal(p.plane(1), design(30, 40))
        assert p.colour_map[:3].tolist() == [[10, 20, 30], [40, 50, 60], [0, 0, 0]]
        assert np.array_equal(grey.plane(1), design(8, 9))
        assert np.array_equal(grey.colour_map, btreeimg.grey_ramp())


def test_save_all_writes_every_frame_as_a_plane_with_the_first_colour_map(samples, tmp_path):
    with Image.open(samples / "design.dis") as pic:
        pic.seek(1)
        pic.save(tmp_path / "all.dis", save_all=True,
                 append_images=[Image.fromarray(design(192, 256), "L")])
        assert pic.tell() == 1
    with btreeimg.open(samples / "design.dis") as a, btreeimg.open(tmp_path / "all.dis") as b:
        assert b.plane_count == 4 and np.array_equal(b.plane(4), design(192, 256))
        assert all(np.array_equal(a.plane(k), b.plane(k)) for k in (1, 2, 3))
        assert np.array_equal(a.colour_map, b.colour_map)


def test_other_modes_and_too_many_frames_are_refused(tmp_path):
    with pytest.raises(ValueError, match=r'mode RGB .*im\.quantize\(256\) or im\.convert\("P"\)'):
        Image.new("RGB", (4, 4)).save(tmp_path / "x.dis")
    with pytest.raises(ValueError, match="at most 5"):
        Image.new("L", (4, 4)).save(tmp_path / "x.dis", save_all=True,
                                   append_images=[Image.new("L", (4, 4))] * 5)
