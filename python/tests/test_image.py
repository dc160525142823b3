"""The package's images: planes written from Python read back equal, as
planes and as lines, into arrays of the caller's own (in the encoding chosen
plane by plane or asked for, with their colour map, whatever the arrays'
memory layout), bad arguments to write refused leaving an existing file
alone; opening from any path, planes and lines out of range refused, colour
coverage into a file (saved as the library saves every file: its tests say
how), and reading, which lets the GIL go, with calls on one image from
several threads run one at a time; raw planes mapped on request; what a
notebook shows."""

import io
import os
import re
import sys
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest
from PIL import Image

import btreeimg
from conftest import HERE, design, noise

BIG = design(128, 192, 3)
# A strided slice, negative strides, a column-major copy (of noise, which
# packed comes out larger than raw: packed on request, only as the last plane).
PLANES = [BIG[::2, ::3], BIG[127:63:-1, 63::-1], np.asfortranarray(noise(64, 64))]


@pytest.mark.parametrize("pack, encodings", [(None, [1, 1, 0]), (2, [2, 2, 2])])
def test_planes_and_lines_read_back_equal_in_arrays_of_the_caller(tmp_path, pack, encodings):
    colours = np.random.default_rng(7).integers(0, 256, (256, 3), dtype=np.uint8)
    btreeimg.write(tmp_path / "x.dis", PLANES, pack=pack, colour_map=colours)
    with btreeimg.open(tmp_path / "x.dis") as im:
        assert (im.version, im.plane_count) == (3, 3)
        assert [im.encoding(k) for k in (1, 2, 3)] == encodings
        assert np.array_equal(im.colour_map, colours)
        for k, plane in enumerate(PLANES, 1):
            read = im.plane(k)
            assert read.dtype == np.uint8 and read.flags.c_contiguous
            assert np.array_equal(read, plane) and np.array_equal(im.line(63, k), plane[63])
        read[:] = 0
        assert np.array_equal(im.plane(3), PLANES[2])


def test_a_3d_array_is_a_sequence_of_planes_with_a_grey_ramp(tmp_path):
    stack = np.stack([design(10, 20, s) for s in range(2)])
    btreeimg.write(tmp_path / "stack.dis", stack)
    with btreeimg.open(tmp_path / "stack.dis") as im:
        assert im.plane_count == 2 and np.array_equal(im.plane(2), stack[1])
        assert np.array_equal(im.colour_map, btreeimg.grey_ramp())


@pytest.mark.parametrize("planes, options, message", [
    (design(4, 4).astype(np.int16), {}, "int16"),
    ([design(4, 4), design(4, 5)], {}, "shape"),
    ([design(4, 4)] * 6, {}, "1 to 5"),
    (design(2, 2), {"pack": True}, "pack"),
    (design(2, 2), {"colour_map": np.zeros((255, 3), np.uint8)}, "colour_map"),
    ([noise(64, 64), design(64, 64)], {"pack": 1}, "does not fit.*leave pack unset"),
])
def test_write_refuses_bad_arguments(tmp_path, planes, options, message):
    (tmp_path / "kept.dis").write_bytes(b"the old content")
    with pytest.raises(ValueError, match=message):
        btreeimg.write(tmp_path / "kept.dis", planes, **options)
    assert (tmp_path / "kept.dis").read_bytes() == b"the old content"
    assert os.listdir(tmp_path) == ["kept.dis"]


def test_write_into_a_missing_folder(tmp_path):
    with pytest.raises(FileNotFoundError) as caught:
        btreeimg.write(tmp_path / "no" / "x.dis", design(2, 2))
    assert caught.value.filename.startswith(str(tmp_path / "no"))


@pytest.mark.parametrize("as_path", [str, os.fsencode, lambda p: p])
def test_the_sample_opens_from_any_kind_of_path(samples, as_path):
    with btreeimg.open(as_path(samples / "design.dis")) as im:
        assert (im.plane_count, im.shape(3), im.problems) == (3, (192, 256), [])


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
        assert (covered.plane(1) != before).any()


def test_the_version_is_the_project_version():
    version = re.search(r"project\(btreeimg VERSION (\S+)",
                        (HERE.parent.parent / "CMakeLists.txt").read_text())
    assert btreeimg.__version__ == version.group(1)


def test_another_thread_runs_while_a_plane_is_read(tmp_path):
    btreeimg.write(tmp_path / "large.dis", np.zeros((4096, 4096), np.uint8), pack=0)
    ticks, during, stop = [0], [], threading.Event()

    def count():
        while not stop.wait(0.0002):
            ticks[0] += 1

    # A thread holding the GIL keeps others waiting up to the switch
    # interval: with a long one, the counter runs during a read only when
    # the read lets the GIL go.
    old = sys.getswitchinterval()
    sys.setswitchinterval(0.5)
    threading.Thread(target=count, daemon=True).start()
    with btreeimg.open(tmp_path / "large.dis") as im:
        for _ in range(5):
            before = ticks[0]
            im.plane(1)
            during.append(ticks[0] - before)
    stop.set()
    sys.setswitchinterval(old)
    assert sum(during) > 0, during


def test_threads_reading_one_image_get_its_planes_and_lines(tmp_path):
    planes = [design(256, 4096, s) for s in (1, 2, 3)]
    btreeimg.write(tmp_path / "shared.dis", planes, pack=1)

    def read(k):
        lines = [im.line(y, k) for y in range(0, 256, 2)]
        return np.array_equal(im.plane(k), planes[k - 1]) and np.array_equal(
            lines, planes[k - 1][::2])

    with btreeimg.open(tmp_path / "shared.dis") as im, ThreadPoolExecutor(4) as pool:
        assert all(pool.map(read, [1, 2, 3] * 20))


def test_a_raw_plane_maps_read_only_and_other_planes_refuse_in_words(tmp_path):
    planes = [design(40, 30, 1), noise(40, 30), design(40, 30, 3)]
    btreeimg.write(tmp_path / "x.dis", planes, pack=None)  # raw only where packing grows
    with btreeimg.open(tmp_path / "x.dis") as im:
        assert [im.encoding(k) for k in (1, 2, 3)] == [1, 0, 1]
        mapped = im.plane(2, mmap=True)
        for k in (1, 3):
            with pytest.raises(ValueError, match=f"plane {k} is packed line by line: only a "
                                                 "raw plane can be mapped"):
                im.plane(k, mmap=True)
    assert isinstance(mapped, np.memmap) and not mapped.flags.writeable
    assert np.array_equal(mapped, planes[1])  # valid after the image is closed
    btreeimg.write(tmp_path / "cut.dis", planes[1:], pack=0)
    os.truncate(tmp_path / "cut.dis", 2 * 1312 + 2 * 40 * 30 - 1)  # plane 2 a byte short
    with btreeimg.open(tmp_path / "cut.dis", lenient=True) as im:  # damaged: read, never mapped
        assert np.array_equal(im.plane(1), planes[1])
        with pytest.raises(ValueError, match=f"^{tmp_path / 'cut.dis'}: plane 1 cannot be "
                                             "mapped: .* damaged"):
            im.plane(1, mmap=True)


def test_notebooks_show_plane_1_through_its_colours_as_a_thumbnail(tmp_path):
    colours = np.random.default_rng(2).integers(0, 256, (256, 3), dtype=np.uint8)
    plane = design(100, 600, 4)
    btreeimg.write(tmp_path / "wide.dis", [plane, plane], pack=2, colour_map=colours)
    with btreeimg.open(tmp_path / "wide.dis") as im:
        assert repr(im) == (f"<btreeimg.Image {str(tmp_path / 'wide.dis')!r} version 2, "
                            "2 planes of 600 x 100>")
        png = im._repr_png_()
    assert im._repr_png_() is None
    shown = np.asarray(Image.open(io.BytesIO(png)).convert("RGB"))
    assert np.array_equal(shown, colours[plane[::3, ::3]])  # 200 x 34: every third pixel


def test_dir_shows_the_interface_only():
    assert set(btreeimg.__all__) <= set(dir(btreeimg))
    assert [name for name in dir(btreeimg) if name.startswith("_")] == ["__version__"]
