"""Reading lets the GIL go, and calls on one image from several threads run
one at a time."""

import sys
import threading

import numpy as np

import btreeimg
from conftest import design


def test_threads_reading_one_image_get_its_lines_while_others_run(tmp_path):
    planes = [design(1024, 2048, s) for s in (1, 2)]
    btreeimg.write(tmp_path / "shared.dis", planes, pack=1)
    ticks, during, wrong, stop = [0], [], [], threading.Event()

    def count():
        while not stop.wait(0.0002):
            ticks[0] += 1

    def read(k):
        for _ in range(3):
            before = ticks[0]
            if not np.array_equal(im.plane(k), planes[k - 1]):
                wrong.append(k)
            during.append(ticks[0] - before)
            wrong.extend(y for y in range(0, 1024, 61)
                         if not np.array_equal(im.line(y, k), planes[k - 1][y]))

    # A thread that holds the GIL keeps others waiting up to the switch
    # interval: with a long one, the counter runs during a read only when
    # the read let the GIL go.
    old = sys.getswitchinterval()
    sys.setswitchinterval(0.5)
    with btreeimg.open(tmp_path / "shared.dis") as im:
        threads = [threading.Thread(target=count)] + [
            threading.Thread(target=read, args=(k,)) for k in (1, 2, 1, 2)]
        try:
            for t in threads:
                t.start()
            for t in threads[1:]:
                t.join()
        finally:
            stop.set()
            threads[0].join()
            sys.setswitchinterval(old)
    assert wrong == [] and sum(during) > 0, during
