"""Opening an image, refusing planes and lines out of range, colour coverage
into a file (saved as the library saves every file: its tests say how), and
reading, which lets the GIL go, with calls on one image from several threads
run one at a time."""

import os
import re
import sys
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np
import pytest

import btreeimg
from conftest import HERE, design


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
        assert covered.plane_count == 1 and covered.problems == []
        after = covered.plane(1)
    assert after.shape == before.shape and (after != before).any()


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
