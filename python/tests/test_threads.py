"""Reading lets the GIL go, and calls on one image from several threads run
one at a time."""

import sys
import threading
from concurrent.futures import ThreadPoolExecutor

import numpy as np

import btreeimg
from conftest import design


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
