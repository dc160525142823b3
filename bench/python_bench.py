#!/usr/bin/python3
"""Speed of the Python package, each figure beside its anchor in the same
process, written as Google Benchmark JSON for bench/results.py.

Usage: python_bench.py --build BUILD [--repetitions N] [--out FILE.json]

BUILD is a build folder with the Python package (BUILD/python) and the
anchor library BUILD/bench/libbench_python_anchor.so. Run it with Debian's
interpreter (/usr/bin/python3), which has numpy and Pillow.

Benchmarks (4096 x 4096 planes of line art, as the C++ benchmarks use):
  PY_ImagePlane            Image.plane(1) of a raw image, opened once
  PY_NumpyCopy             numpy copying an array of that size
  PY_Write                 btreeimg.write of four raw planes
  PY_CxxCreateWriteClose   the same image created, written line by line with
                           wLinea and closed from C++ (through ctypes)
  PY_PillowOpenLoadDis     Pillow open + load of a raw one-plane .dis
  PY_PillowOpenLoadTiff    Pillow open + load of an uncompressed 8-bit
                           palette TIFF of the same pixels
  PY_PillowOpenLoadExtremaDis / ...Tiff   the same, then getextrema(): every
                           pixel looked at once (Pillow maps an uncompressed
                           TIFF's file and reads none of it at load)
Each repetition runs every benchmark, in a random order, for at least
--min-time seconds; the times are the process's CPU time (user + system)
and the wall-clock time per iteration.
"""

import argparse
import ctypes
import datetime
import json
import os
import random
import shutil
import sys
import tempfile
import time

SIDE = 4096


def design_plane(np):
    """A plane of horizontal runs of 10 to 500 pixels in 6 colours, from a
    fixed seed."""
    rng = np.random.default_rng(1)
    plane = np.empty((SIDE, SIDE), np.uint8)
    for y in range(SIDE):
        ends = np.cumsum(rng.integers(10, 501, size=SIDE // 10))
        colours = rng.integers(0, 6, size=ends.size).astype(np.uint8)
        starts = np.concatenate(([0], ends[:-1]))
        row = np.repeat(colours, ends - starts)[:SIDE]
        plane[y] = row
    return plane


class Suite:
    """The benchmarks and their state."""

    def __init__(self, build, scratch):
        """Imports the package from `build` and writes the data files into
        `scratch`."""
        sys.path.insert(0, os.path.join(build, "python"))
        import numpy as np
        from PIL import Image
        import btreeimg
        import btreeimg.pillow  # noqa: F401 - registers the format

        self.np, self.Image, self.btreeimg = np, Image, btreeimg
        self.scratch = scratch
        anchor = ctypes.CDLL(os.path.join(build, "bench", "libbench_python_anchor.so"))
        self.cxx_write = anchor.btreeimg_bench_create_write_close
        self.cxx_write.restype = ctypes.c_int
        self.cxx_write.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p),
                                   ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_int]

        plane = design_plane(np)
        self.plane = plane
        self.planes4 = [np.roll(plane, 97 * k, axis=1).copy() for k in range(4)]
        self.pointers = (ctypes.c_void_p * 4)(*[p.ctypes.data for p in self.planes4])
        self.raw = os.path.join(scratch, "raw.dis")
        btreeimg.write(self.raw, plane, pack=0)
        self.image = btreeimg.open(self.raw)
        picture = Image.fromarray(plane, "P")
        picture.putpalette(list(btreeimg.grey_ramp().reshape(-1)))
        self.tiff = os.path.join(scratch, "palette.tif")
        picture.save(self.tiff, compression=None)
        self.written = os.path.join(scratch, "written.dis")
        self.cxx_written = os.path.join(scratch, "cxx.dis")

    def check(self):
        """The figures and anchors do the same work: same pixels out."""
        np = self.np
        assert np.array_equal(self.image.plane(1), self.plane)
        self.bench_write()
        assert self.bench_cxx_write() is None
        with self.btreeimg.open(self.written) as a, self.btreeimg.open(self.cxx_written) as b:
            for k in range(1, 5):
                assert np.array_equal(a.plane(k), b.plane(k))
        for path in (self.raw, self.tiff):
            with self.Image.open(path) as im:
                im.load()
                assert im.mode == "P" and np.array_equal(np.asarray(im), self.plane)

    def bench_plane(self):
        """Image.plane(1) of the open raw image."""
        self.image.plane(1)

    def bench_copy(self):
        """numpy copying the same pixels."""
        self.plane.copy()

    def bench_write(self):
        """btreeimg.write of four raw planes."""
        self.btreeimg.write(self.written, self.planes4, pack=0)

    def bench_cxx_write(self):
        """The same image created, written and closed from C++."""
        if self.cxx_write(os.fsencode(self.cxx_written), self.pointers, 4, SIDE, SIDE, 0) != 1:
            raise RuntimeError("the C++ anchor could not write its image")

    def pillow_open_load(self, path, touch):
        """Pillow open + load of `path`; with `touch`, every pixel looked at."""
        with self.Image.open(path) as im:
            im.load()
            if touch:
                im.getextrema()

    def benchmarks(self):
        """The benchmarks by name."""
        return {
            "PY_ImagePlane": self.bench_plane,
            "PY_NumpyCopy": self.bench_copy,
            "PY_Write": self.bench_write,
            "PY_CxxCreateWriteClose": self.bench_cxx_write,
            "PY_PillowOpenLoadDis": lambda: self.pillow_open_load(self.raw, False),
            "PY_PillowOpenLoadTiff": lambda: self.pillow_open_load(self.tiff, False),
            "PY_PillowOpenLoadExtremaDis": lambda: self.pillow_open_load(self.raw, True),
            "PY_PillowOpenLoadExtremaTiff": lambda: self.pillow_open_load(self.tiff, True),
        }


def measure(function, min_time):
    """Runs `function` for at least min_time seconds (at least twice, the
    first run warming up); returns (iterations, cpu ns, wall ns) per
    iteration."""
    function()
    iterations, cpu, wall = 0, 0.0, 0.0
    while wall < min_time or iterations < 1:
        c0, w0 = time.process_time(), time.perf_counter()
        function()
        cpu += time.process_time() - c0
        wall += time.perf_counter() - w0
        iterations += 1
    return iterations, cpu * 1e9 / iterations, wall * 1e9 / iterations


def main():
    """Runs the benchmarks and writes their JSON."""
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--repetitions", type=int, default=7)
    parser.add_argument("--min-time", type=float, default=0.5)
    parser.add_argument("--out", default="-")
    parser.add_argument("--filter", default="", help="only benchmarks whose name holds this")
    args = parser.parse_args()

    scratch = tempfile.mkdtemp(prefix="btreeimg-pybench-")
    try:
        suite = Suite(args.build, scratch)
        suite.check()
        benchmarks = {name: f for name, f in suite.benchmarks().items() if args.filter in name}
        started = datetime.datetime.now(datetime.timezone.utc).astimezone()
        results = []
        for rep in range(args.repetitions):
            order = list(benchmarks)
            random.shuffle(order)
            for name in order:
                n, cpu, wall = measure(benchmarks[name], args.min_time)
                results.append({
                    "name": name, "run_name": name, "run_type": "iteration",
                    "repetitions": args.repetitions, "repetition_index": rep,
                    "iterations": n, "real_time": wall, "cpu_time": cpu,
                    "time_unit": "ns"})
                print(f"{name:30} rep {rep}: {cpu / 1e6:8.2f} ms cpu {wall / 1e6:8.2f} ms wall"
                      f" ({n} iterations)", file=sys.stderr)
        suite.image.close()
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    document = {"context": {"date": started.isoformat(timespec="seconds"),
                            "executable": "bench/python_bench.py"},
                "benchmarks": results}
    text = json.dumps(document, indent=1)
    if args.out == "-":
        print(text)
    else:
        with open(args.out, "w") as f:
            f.write(text + "\n")


if __name__ == "__main__":
    main()
