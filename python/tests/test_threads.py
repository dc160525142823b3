"""Long operations release the GIL, and images used from several threads at
once stay correct."""

import sys
import threading

import numpy as np
import pytest

import btreeimg
from conftest import design


@pytest.fixture
def long_switch_interval():
    """While a thread holds the GIL, others wait up to the switch interval:
    a long one makes "the other thread ran during the call" mean that the
    call let the GIL go."""
    old = sys.getswitchinterval()
    sys.setswitchinterval(0.5)
    yield
    sys.setswitchinterval(old)


def test_another_thread_runs_while_a_large_plane_is_read(tmp_path, long_switch_interval):
    path = tmp_path / "large.dis"
    btreeimg.write(path, np.zeros((4096, 8192), np.uint8), pack=0)
    ticks = 0
    stop = threading.Event()

    def count():
        nonlocal ticks
        while not stop.wait(0.0002):
            ticks += 1

    counter = threading.Thread(target=count)
    counter.start()
    try:
        with btreeimg.open(path) as im:
            during = []
            for _ in range(5):
                before = ticks
                im.plane(1)
                during.append(ticks - before)
    finally:
        stop.set()
        counter.join()
    # Holding the GIL, the reads would leave every count at 0; on a busy
    # machine the counter may miss a read, not all of them.
    assert sum(during) > 0, during


def test_threads_writing_and_reading_their_own_images_agree(tmp_path):
    failures = []

    def work(seed):
        try:
            planes = [design(64, 96, seed + k) for k in range(3)]
            for pack in (0, 1, 2):
                path = tmp_path / f"t{seed}-{pack}.dis"
                btreeimg.write(path, planes, pack=pack)
                with btreeimg.open(path) as im:
                    assert all(np.array_equal(im.plane(k), planes[k - 1]) for k in (1, 2, 3))
                assert btreeimg.check(path) == []
                with pytest.raises(FileNotFoundError):
                    btreeimg.open(tmp_path / f"missing{seed}.dis")
        except BaseException as error:  # reported by the main thread
            failures.append((seed, error))

    threads = [threading.Thread(target=work, args=(s * 10,)) for s in range(6)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert failures == []


def test_closing_an_image_another_thread_is_reading(tmp_path):
    path = tmp_path / "shared.dis"
    btreeimg.write(path, design(2048, 2048), pack=0)
    im = btreeimg.open(path)
    outcomes = []

    def read():
        for _ in range(20):
            try:
                outcomes.append(im.plane(1).shape)
            except ValueError as error:  # closed under it: refused, no crash
                outcomes.append(str(error))

    reader = threading.Thread(target=read)
    reader.start()
    im.close()
    reader.join()
    assert len(outcomes) == 20
    assert all(o == (2048, 2048) or "closed" in o for o in outcomes)
