"""Pillow opens, seeks, loads, verifies and saves image files through the
plugin: raw planes of files opened by name as tiles Pillow maps, the
library's descriptors let go when Pillow is done, refused saves leaving the
file and its links alone."""

import gc
import gzip
import io
import os
import re

import numpy as np
import pytest
from PIL import Image, ImageFile

import btreeimg
import btreeimg.pillow  # registers the format
from conftest import damage, design, header


@pytest.mark.parametrize("prefix, accepted", [
    (b"\x02\x00", True), (b"\x04\x00\x09", True), (b"\x02\x01", False), (b"\x05\x00", False),
    (b"\x03", False)])
def test_the_first_two_bytes_are_a_version_2_3_or_4(prefix, accepted):
    assert bool(Image.OPEN["BTREEIMG"][1](prefix)) == accepted


@pytest.mark.parametrize("source", ["path", "file", "bytes", "gzip"])
def test_planes_load_and_seek_from_a_path_a_file_or_a_stream_of_bytes(written, source):
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
        pic.seek(1)
        assert pic.tell() == 1 and np.array_equal(np.asarray(pic), planes[1])
        assert pic.convert("RGB").getpixel((5, 7)) == tuple(colours[planes[1][7, 5]])
        with pytest.raises(EOFError):
            pic.seek(2)
        pic.seek(0)
        assert np.array_equal(np.asarray(pic.copy()), planes[0])
        pic.verify()  # sound


@pytest.mark.parametrize("how", ["cut", "table"])  # refused at open, or when read
def test_damage_fails_load_and_verify_unless_truncated_images_are_loaded(samples, tmp_path, how,
                                                                         monkeypatch):
    path = damage(samples, tmp_path, how)
    for step in ("load", "verify"):
        with Image.open(path) as pic:
            with pytest.raises(OSError, match="^" + re.escape(btreeimg.check(path)[0])):
                getattr(pic, step)()
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


def transparent():
    """A P image whose colour 3 is transparent."""
    pic = Image.new("P", (4, 4))
    pic.info["transparency"] = 3
    return pic


@pytest.mark.parametrize("save, message", [
    (lambda t: Image.new("RGB", (4, 4)).save(t),
     r'mode RGB .*im\.quantize\(256\) or im\.convert\("P"\)'),
    (lambda t: Image.new("L", (4, 4)).save(t, save_all=True,
                                         append_images=[Image.new("L", (4, 4))] * 5),
     "at most 5"),
    (lambda t: Image.new("L", (4, 4)).save(str(t), format="dis", transparency=0),
     "keeps no transparency"),
    (lambda t: transparent().save(t), "keeps no transparency"),
])
def test_refused_saves_leave_the_file_and_its_links_as_they_were(tmp_path, save, message):
    (tmp_path / "x.dis").write_bytes(b"somebody's design")
    os.link(tmp_path / "x.dis", tmp_path / "link.dis")
    with pytest.raises(ValueError, match=message):
        save(tmp_path / "x.dis")
    for name in ("x.dis", "link.dis"):
        assert (tmp_path / name).read_bytes() == b"somebody's design"
    assert sorted(os.listdir(tmp_path)) == ["link.dis", "x.dis"]


def test_the_format_answers_to_dis_in_any_case(tmp_path):
    Image.fromarray(design(6, 7), "L").save(tmp_path / "x.bin", format="dis")
    buffer = io.BytesIO()
    Image.fromarray(design(6, 7), "L").save(buffer, format="Dis")
    with btreeimg.open(tmp_path / "x.bin") as im:
        assert np.array_equal(im.plane(1), design(6, 7))
    assert buffer.getvalue() == (tmp_path / "x.bin").read_bytes()
    Image.new("L", (2, 2)).save(tmp_path / "x.png")  # other formats as Pillow saves them
    assert Image.open(tmp_path / "x.png").format == "PNG"


def open_descriptors(*paths):
    """How many of the process's descriptors are open on the files `paths`."""
    files = {os.path.realpath(p) for p in paths}
    folder = "/proc/self/fd"
    count = 0
    for fd in os.listdir(folder):
        try:
            count += os.readlink(os.path.join(folder, fd)) in files
        except OSError:
            pass  # closed meanwhile (the listing's own)
    return count


def test_descriptors_are_let_go_when_pillow_is_done_with_the_file(samples, tmp_path):
    btreeimg.write(tmp_path / "one.dis", design(64, 64), pack=1)
    paths = [samples / "design.dis", tmp_path / "one.dis"]
    gc.disable()  # only what the plugin lets go counts
    try:
        kept = []
        for path in paths * 2:
            with Image.open(path) as pic:
                pic.load()
            kept.append(pic)
        assert open_descriptors(*paths) == 0
        kept.append(Image.open(tmp_path / "one.dis"))
        kept[-1].load()  # a one-plane image lets its files go once loaded
        assert open_descriptors(*paths) == 0
        assert np.array_equal(np.asarray(kept[-1]), design(64, 64))
    finally:
        gc.enable()


def test_raw_planes_of_a_file_opened_by_name_are_tiles_pillow_maps(tmp_path):
    planes = [design(50, 70, s) for s in range(3)]
    btreeimg.write(tmp_path / "raw.dis", planes, pack=0)
    btreeimg.write(tmp_path / "mixed.dis", planes[:2], pack=None)  # packed where it fits
    with Image.open(tmp_path / "raw.dis") as pic:  # plane 1's lines follow its block
        assert pic.tile == [("raw", (0, 0, 70, 50), 1312, ("P", 70, 1))]
        for k in (0, 2, 1):
            pic.seek(k)
            assert pic.map is not None and pic.tobytes() == planes[k].tobytes()
    with Image.open(tmp_path / "raw.dis") as pic:  # cut after plane 1 was mapped
        pic.load()
        os.truncate(tmp_path / "raw.dis", 2 * 1312 + 50 * 70 + 100)
        with pytest.raises(OSError, match="truncated"):
            pic.seek(1)  # read, and never into plane 1's map
        assert pic.map is None
    btreeimg.write(tmp_path / "raw.dis", planes, pack=0)
    with Image.open(tmp_path / "raw.dis") as pic:  # another file comes to have the name
        btreeimg.write(tmp_path / "raw.dis", planes[::-1], pack=0)
        assert not getattr(pic, "map", None) and pic.tobytes() == planes[0].tobytes()
    btreeimg.write(tmp_path / "raw.dis", planes, pack=0)
    with open(tmp_path / "raw.dis", "rb") as stream:
        for source in (tmp_path / "mixed.dis", io.BytesIO(stream.read()), stream):
            with Image.open(source) as pic:
                assert pic.tile == []
                pic.seek(1)
                assert not pic.map and pic.tobytes() == planes[1].tobytes()
