#!/usr/bin/python3
"""Speed of the Python package, each figure beside its anchor in the same
process, written as Google Benchmark JSON for bench/results.py.

Usage: python_bench.py --build BUILD [--repetitions N] [--out FILE.json]

BUILD is a build folder with the Python package (BUILD/python) and the
anchor library BUILD/bench/libbench_python_anchor.so. Run it with Debian's
interpreter (/usr/bin/python3), which has numpy and Pillow.

Benchmarks (4096 x 4096 planes of line art, as the C++ benchmarks use):
  PY_ImagePlane            Image.plane(1) of a raw image, opened once
  PY_ImagePlaneMmap        Image.plane(1, mmap=True) of that image: a map of
                           the file's bytes, whatever the plane's size
  PY_NumpyCopy             numpy copying an array of that size
  PY_Write                 btreeimg.write of four raw planes
  PY_CxxCreateWriteClose   the same image created, written line by line with
                           wLinea and closed from C++ (through ctypes)
  PY_OpenLine/mib:N        btreeimg.open(path).line(0, 1), then close, of a
                           raw one-plane image of N MiB (16 and 512)
  PY_ReadFile/mib:N        reading that file whole from the page cache into
                           a buffer allocated once
  PY_PillowTobytesDis/pack:K   Pillow open + load + tobytes() of plane 1 of a
                           four-plane image, every plane in encoding K (a
                           raw plane is a tile Pillow maps)
  PY_PillowTobytesTiff     the same of plane 1 as an uncompressed 8-bit
                           palette TIFF as Pillow writes it, in one strip
                           (Pillow maps the file at load and reads its
                           pages when tobytes() copies them)
Each repetition runs every benchmark, in a random order, for at least
--min-time seconds; the times are the process's CPU time (user + system)
and the wall-clock time per iteration. The benchmarks use the package's
public interface only, so that one script measures any build of it.
"""

import argparse
import ctypes
import datetime
import json
import os
import random
import shutil
import statistics
import sys
import tempfile
import time

SIDE = 4096
#: Sizes of the raw images that PY_OpenLine opens, in MiB (lines of 16384).
OPEN_MIB = (16, 512)


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
        # The C++ anchor of PY_Write, built with the benchmarks; a build
        # without them leaves PY_CxxCreateWriteClose out.
        anchor = os.path.join(build, "bench", "libbench_python_anchor.so")
        self.cxx_write = None
        if os.path.exists(anchor):
            self.cxx_write = ctypes.CDLL(anchor).btreeimg_bench_create_write_close
            self.cxx_write.restype = ctypes.c_int
            self.cxx_write.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p),
                                       ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                       ctypes.c_int]
        else:
            print(f"{anchor} not built: no PY_CxxCreateWriteClose", file=sys.stderr)

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
        self.four = {}
        for pack in (0, 1, 2):
            self.four[pack] = os.path.join(scratch, f"four{pack}.dis")
            btreeimg.write(self.four[pack], self.planes4, pack=pack)
        # Large raw images of one repeated line (a zero row stride), and a
        # buffer to read them into.
        self.large = {}
        for mib in OPEN_MIB:
            self.large[mib] = os.path.join(scratch, f"large{mib}.dis")
            lines = mib * 64
            btreeimg.write(self.large[mib], np.broadcast_to(plane[0, :1024].repeat(16),
                                                            (lines, 16384)), pack=0)
        self.buffer = bytearray(os.path.getsize(self.large[max(OPEN_MIB)]))
        self.written = os.path.join(scratch, "written.dis")
        self.cxx_written = os.path.join(scratch, "cxx.dis")

    def check(self):
        """The figures and anchors do the same work: same pixels out."""
        np = self.np
        assert np.array_equal(self.image.plane(1), self.plane)
        assert np.array_equal(self.image.plane(1, mmap=True), self.plane)
        self.bench_write()
        if self.cxx_write is not None:
            self.bench_cxx_write()
            with (self.btreeimg.open(self.written) as a,
                  self.btreeimg.open(self.cxx_written) as b):
                for k in range(1, 5):
                    assert np.array_equal(a.plane(k), b.plane(k))
        for path in (self.raw, self.tiff, *self.four.values()):
            with self.Image.open(path) as im:
                im.load()
                assert im.mode == "P" and np.array_equal(np.asarray(im), self.plane)
                # The anchor and the raw planes are mapped, the others read.
                assert bool(getattr(im, "map", None)) == (path in (self.raw, self.tiff, self.four[0]))
        for path in self.four.values():
            assert self.pillow_tobytes(path) == self.planes4[0].tobytes()
        for mib, path in self.large.items():
            assert np.array_equal(self.open_line(path), self.plane[0, :1024].repeat(16))
            assert self.read_file(path) == os.path.getsize(path) > mib << 20

    def bench_plane(self):
        """Image.plane(1) of the open raw image."""
        self.image.plane(1)

    def bench_plane_mmap(self):
        """Image.plane(1, mmap=True) of the open raw image."""
        self.image.plane(1, mmap=True)

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

    def pillow_tobytes(self, path):
        """Pillow open + load + tobytes() of `path` (its first frame)."""
        with self.Image.open(path) as im:
            im.load()
            return im.tobytes()

    def open_line(self, path):
        """btreeimg.open(path).line(0, 1), the image closed after."""
        with self.btreeimg.open(path) as im:
            return im.line(0, 1)

    def read_file(self, path):
        """The file at `path` read whole into the buffer; its size."""
        with open(path, "rb", buffering=0) as f:
            return f.readinto(self.buffer)

    def benchmarks(self):
        """The benchmarks by name."""
        named = {
            "PY_ImagePlane": self.bench_plane,
            "PY_ImagePlaneMmap": self.bench_plane_mmap,
            "PY_NumpyCopy": self.bench_copy,
            "PY_Write": self.bench_write,
            "PY_PillowTobytesTiff": lambda: self.pillow_tobytes(self.tiff),
        }
        for pack, path in self.four.items():
            named[f"PY_PillowTobytesDis/pack:{pack}"] = (
                lambda path=path: self.pillow_tobytes(path))
        for mib, path in self.large.items():
            named[f"PY_OpenLine/mib:{mib}"] = lambda path=path: self.open_line(path)
            named[f"PY_ReadFile/mib:{mib}"] = lambda path=path: self.read_file(path)
        if self.cxx_write is not None:
            named["PY_CxxCreateWriteClose"] = self.bench_cxx_write
        return named


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


#: (figure, anchor) pairs whose ratios summarise() prints.
PAIRS = [("PY_ImagePlane", "PY_NumpyCopy"),
         ("PY_ImagePlaneMmap", "PY_NumpyCopy"),
         ("PY_Write", "PY_CxxCreateWriteClose"),
         *[(f"PY_OpenLine/mib:{mib}", f"PY_ReadFile/mib:{mib}") for mib in OPEN_MIB],
         (f"PY_OpenLine/mib:{OPEN_MIB[-1]}", f"PY_OpenLine/mib:{OPEN_MIB[0]}"),
         *[(f"PY_PillowTobytesDis/pack:{pack}", "PY_PillowTobytesTiff")
           for pack in (0, 1, 2)]]


def summarise(results):
    """Prints each pair's median times and their ratios (figure time over
    anchor time) to the standard error."""
    times = {}
    for r in results:
        times.setdefault(r["name"], []).append((r["cpu_time"], r["real_time"]))
    print("figure / anchor: median cpu, median wall, time ratios cpu and wall",
          file=sys.stderr)
    for figure, anchor in PAIRS:
        if figure not in times or anchor not in times:
            continue
        f = [statistics.median(t) for t in zip(*times[figure])]
        a = [statistics.median(t) for t in zip(*times[anchor])]
        print(f"{figure} / {anchor}: {f[0] / 1e6:.3f} / {a[0] / 1e6:.3f} ms cpu, "
              f"{f[1] / 1e6:.3f} / {a[1] / 1e6:.3f} ms wall, ratios "
              f"{f[0] / a[0]:.3f} cpu {f[1] / a[1]:.3f} wall", file=sys.stderr)


def main():
    """Runs the benchmarks and writes their JSON."""
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--build", required=True)
    parser.add_argument("--repetitions", type=int, default=7)
    parser.add_argument("--min-time", type=float, default=0.5)
    parser.add_argument("--out", default="-")
    parser.add_argument("--filter", default="",
                        help="only benchmarks whose name holds one of these "
                             "comma-separated texts")
    args = parser.parse_args()

    scratch = tempfile.mkdtemp(prefix="btreeimg-pybench-")
    try:
        suite = Suite(args.build, scratch)
        suite.check()
        wanted = args.filter.split(",")
        benchmarks = {name: f for name, f in suite.benchmarks().items()
                      if any(part in name for part in wanted)}
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
        summarise(results)
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
