#!/usr/bin/env python3
"""Turns the JSON output of the benchmark programs into bench/RESULTS.md.

Usage: results.py --load-before TEXT --load-after TEXT FILE.json... > RESULTS.md

The notes in bench/NOTES.md (what limits a figure, what was optimised)
follow the table.

Each figure is compared with its anchor from the same program (the same
process). Times are CPU times, the median over the repetitions of each
benchmark; the machine is shared, and a program's CPU time is far less
disturbed by other processes than its wall-clock time (which the table shows
beside it). A goal "at least x times the throughput" compares
anchor time / figure time with x; a goal "at most x times the time" compares
figure time / anchor time with x.
"""

import argparse
import datetime
import json
import os
import re
import statistics
import subprocess
import sys

# (goal, what, figure, anchor, kind, target): kind "speed" means
# anchor/figure >= target, "time" means figure/anchor <= target.
KINDS = [("design", 0), ("photo", 1), ("noise", 2)]
GOALS = [
    ("1", "raw line read, at() into the caller's buffer",
     "BM_BtreeImgAtRaw", "BM_MemcpyLines", "speed", 0.8),
    ("1", "raw line read, at() buffer form",
     "BM_BtreeImgAtRawBuffer", "BM_MemcpyLines", "speed", 0.8),
    ("2", "whole-plane packed line read, into the caller's buffer",
     "BM_BtreeImgAtPackedSpeed", "BM_MemcpyLines", "speed", 0.8),
    ("2", "whole-plane packed line read, buffer form",
     "BM_BtreeImgAtPackedSpeedBuffer", "BM_MemcpyLines", "speed", 0.8),
]
# Goal 3, per plane kind: (what, figure, anchor, target on "noise", target).
for what, figure, anchor, noise_target, target in (
        ("decode packed lines, {} (vs PackBits into a strip buffer)",
         "BM_BtreePackedLineAt", "BM_TiffPackBitsDecode", 0.5, 1.5),
        ("decode whole plane at construction, {} (vs PackBits into a plane)",
         "BM_BtreePackedSpeedDecode", "BM_TiffPackBitsDecodePlane", 0.5, 1.5),
        ("encode, writeAt of every line, {}",
         "BM_BtreePackedWriteAt", "BM_TiffPackBitsEncode", 1.0, 1.0),
        ("encode, whole-plane commit, {}",
         "BM_BtreePackedSpeedCommit", "BM_TiffPackBitsEncode", 1.0, 1.0)):
    for name, k in KINDS:
        GOALS.append(("3", what.format(name), f"{figure}/kind:{k}",
                      f"{anchor}/kind:{k}", "speed",
                      noise_target if name == "noise" else target))
GOALS += [
    ("4", "open a 256 MiB raw image from the page cache",
     "BM_BtreeImgOpen", "BM_ReadFile", "time", 1.1),
    ("5", "create a 4096 x 4096 x 4-plane raw image, write every line, close",
     "BM_BtreeImgCreate", "BM_MemcpyWriteFile", "time", 2.0),
    ("6", "colour coverage, 1 rule, vs memcpy + saving the result file",
     "BM_BtreeImgCoverage/plane:0/rules:1", "BM_MemcpyReplaceFile", "time", 1.2),
    ("6", "colour coverage, 32 rules minus 1 rule",
     "BM_BtreeImgCoverage/plane:0/rules:32-BM_BtreeImgCoverage/plane:0/rules:1",
     "BM_MemcpyPlane", "time", 2.0),
    ("6", "colour coverage, 64 rules minus 1 rule",
     "BM_BtreeImgCoverage/plane:0/rules:64-BM_BtreeImgCoverage/plane:0/rules:1",
     "BM_MemcpyPlane", "time", 3.0),
    ("6", "colour coverage, 32 rules minus 1 rule, short runs (1 to 32 pixels)",
     "BM_BtreeImgCoverage/plane:1/rules:32-BM_BtreeImgCoverage/plane:1/rules:1",
     "BM_MemcpyPlane", "time", 2.0),
    ("6", "colour coverage, 32 rules minus 1 rule, noise",
     "BM_BtreeImgCoverage/plane:2/rules:32-BM_BtreeImgCoverage/plane:2/rules:1",
     "BM_MemcpyPlane", "time", 6.0),
]
# References (no goal) that show what limits a figure.
GOALS += [
    ("2", "reference: memcpy of the lines in line order from a bottom-up plane",
     "BM_MemcpyLinesBottomUp", "BM_MemcpyLines", "speed", None),
    ("2", "whole-plane packed line read vs that reference",
     "BM_BtreeImgAtPackedSpeed", "BM_MemcpyLinesBottomUp", "speed", None),
    ("3", "reference: reading the packed noise lines' pairs alone, not decoding them",
     "BM_ReadPackedPairs/kind:2", "BM_TiffPackBitsDecode/kind:2", "speed", None),
    ("6", "reference: memcpy + saving a 16 MiB result file",
     "BM_MemcpyReplaceFile", "BM_MemcpyPlane", "time", None),
    ("6", "colour coverage, 8 rules minus 1 rule",
     "BM_BtreeImgCoverage/plane:0/rules:8-BM_BtreeImgCoverage/plane:0/rules:1",
     "BM_MemcpyPlane", "time", None),
]
for plane, name, counts in ((0, "the plane", (1, 8, 32, 64)),
                            (1, "short runs", (1, 32)), (2, "noise", (1, 32))):
    for rules in counts:
        GOALS.append(("6", f"reference: the rule engine alone over {name}, "
                      f"{rules} rule{'s' if rules > 1 else ''} (with the line "
                      "copies)", f"BM_CoverageRulesPlane/plane:{plane}/rules:{rules}",
                      "BM_MemcpyPlane", "time", None))
for plane, name in ((1, "short runs"), (2, "noise")):
    GOALS.append(("6", f"reference: the rule engine alone, 32 rules minus 1 rule, "
                  f"{name}", f"BM_CoverageRulesPlane/plane:{plane}/rules:32"
                  f"-BM_CoverageRulesPlane/plane:{plane}/rules:1",
                  "BM_MemcpyPlane", "time", None))
for heap, arg in (("fresh", 0), ("recycled", 1)):
    for what, fig, anc, target in (
            ("Add", "BM_BalCltnAdd", "BM_MultisetInsert", 1.2),
            ("Find", "BM_BalCltnFind", "BM_MultisetFind", 1.2),
            ("Remove", "BM_BalCltnRemove", "BM_MultisetErase", 1.2),
            ("walk by positions", "BM_BalCltnWalk", "BM_MultisetWalk", 1.5)):
        GOALS.append(("7", f"BalCltn {what} of 1,000,000, {heap} heap",
                      f"{fig}/recycled:{arg}", f"{anc}/recycled:{arg}",
                      "time", target))
GOALS.append(("8", "KeyToStr loading 100,000 lines",
              "BM_KeyToStrLoad", "BM_SscanfMultimapLoad", "time", 1.0))
# Goal 9: the Python package, from bench/python_bench.py (figure and anchor
# timed in the same Python process).
GOALS += [
    ("9", "Python: Image.plane(1) of a 4096 x 4096 raw image (vs numpy copying "
     "an array of that size)", "PY_ImagePlane", "PY_NumpyCopy", "speed", 0.8),
    ("9", "Python: Image.plane(1, mmap=True) of that image, a read-only map of "
     "the file's bytes (vs numpy copying an array of that size; no cost per "
     "pixel, held to 0.1x)", "PY_ImagePlaneMmap", "PY_NumpyCopy", "time", 0.1),
    ("9", "Python: btreeimg.write of four 4096 x 4096 raw planes (vs the same "
     "create, wLinea, closeImg from C++)",
     "PY_Write", "PY_CxxCreateWriteClose", "time", 1.3),
    ("9", "Pillow open + load + tobytes() of plane 1 of a four-plane 4096 x 4096 "
     "raw image (vs the plane as an uncompressed 8-bit palette TIFF)",
     "PY_PillowTobytesDis/pack:0", "PY_PillowTobytesTiff", "time", 1.2),
    ("9", "reference: the same, every plane packed line by line",
     "PY_PillowTobytesDis/pack:1", "PY_PillowTobytesTiff", "time", None),
    ("9", "reference: the same, every plane packed as a whole",
     "PY_PillowTobytesDis/pack:2", "PY_PillowTobytesTiff", "time", None),
    ("9", "Python: btreeimg.open(p).line(0, 1) of a 512 MiB raw image (vs reading "
     "the file whole from the page cache; the goal, 0.1x + 2 ms, held to 0.1x)",
     "PY_OpenLine/mib:512", "PY_ReadFile/mib:512", "time", 0.1),
    ("9", "reference: the same, 512 MiB vs 16 MiB",
     "PY_OpenLine/mib:512", "PY_OpenLine/mib:16", "time", None),
]
# Goal 10: the tool's thumbnail command, a child process of bench_thumbnail;
# its CPU time is the child's (the counter child_cpu_ns). The goal, at most
# 0.1 x reading the file + 50 ms for the process, is held as: the command
# less the tool's bare start at most 0.1 x reading the file (CPU and wall
# clock), the bare start shown beside it.
GOALS += [
    ("10", "btreeimg thumbnail -s 256 of a 16384 x 32768 raw image (512 MiB) from "
     "the page cache, less the tool's bare start (vs reading the file whole into "
     "memory)", "BM_ThumbnailCommand/real_time-BM_ToolStart/real_time",
     "BM_ReadLargeImageFile", "time/wall", 0.1),
    ("10", "reference: the tool's bare start, btreeimg --version (the process's "
     "part, at most 50 ms)", "BM_ToolStart/real_time", "BM_ReadLargeImageFile",
     "time", None),
]
# Goal 11: the tool's topng and diff, called in bench_tool's own process.
GOALS += [
    ("11", "btreeimg topng of a 4096 x 4096 four-plane raw image, side by side "
     "(vs libpng writing the same rows at the same compression, saved alike)",
     "BM_ToolToPng", "BM_LibpngWriteRows", "time", 1.1),
    ("11", "btreeimg diff of two equal 4096 x 4096 four-plane images, the "
     "comparison (vs memcmp of the planes)",
     "BM_ToolDiff", "BM_MemcmpPlanes", "time", 1.2),
    ("11", "reference: each line of both copied into a line buffer, then compared",
     "BM_CopyLinesMemcmp", "BM_MemcmpPlanes", "time", None),
    ("11", "reference: each line of both read from the file with pread, then "
     "compared", "BM_PreadLinesMemcmp/lines:1", "BM_MemcmpPlanes", "time", None),
    ("11", "reference: 64 lines (256 KiB) of both at a time read with pread, "
     "then compared", "BM_PreadLinesMemcmp/lines:64", "BM_MemcmpPlanes", "time",
     None),
    ("11", "reference: the whole diff command from the page cache (vs reading "
     "both files, then memcmp)",
     "BM_ToolDiffCommand", "BM_ReadFilesMemcmp", "time", None),
]
# Goal 12: btreeimg::ImageReader (bench_reader). Its rows compare the
# wall-clock times too (kinds ending in "/wall"; the target applies to both
# ratios): fresh memory is slow to map on this virtual machine, which the
# CPU times hide.
GOALS += [
    ("12", "ImageReader open + first line of a 512 MiB raw image (vs a 16 MiB "
     "one: the same cost)", "BM_ImageReaderOpenFirstLine/mib:512",
     "BM_ImageReaderOpenFirstLine/mib:16", "time/wall", 1.1),
    ("12", "reference: BtreeImg open (reads the whole file) + first line, "
     "512 MiB (vs 16 MiB)", "BM_BtreeImgOpenFirstLine/mib:512",
     "BM_BtreeImgOpenFirstLine/mib:16", "time/wall", None),
    ("12", "ImageReader raw line reads from the file, pread (vs memcpy of the "
     "same lines)", "BM_ImageReaderLinesRaw", "BM_MemcpyLines", "speed/wall", 0.8),
    ("12", "reference: ImageReader raw line reads from bytes in memory",
     "BM_ImageReaderLinesRawMemory", "BM_MemcpyLines", "speed/wall", None),
    ("12", "reference: a plain pread of each line", "BM_PreadLines",
     "BM_MemcpyLines", "speed/wall", None),
    ("12", "reference: pread of 16 lines at a time, each line copied out",
     "BM_PreadBlocks/lines:16", "BM_MemcpyLines", "speed/wall", None),
    ("12", "reference: pread of 64 lines at a time, each line copied out",
     "BM_PreadBlocks/lines:64", "BM_MemcpyLines", "speed/wall", None),
    ("12", "reference: each line copied out of a read-only mapping made once",
     "BM_MappedLines", "BM_MemcpyLines", "speed/wall", None),
    ("12", "reference: pread of 256 lines at a time, each line copied out",
     "BM_PreadBlocks/lines:256", "BM_MemcpyLines", "speed/wall", None),
    ("12", "reference: the file mapped, every line copied out, unmapped",
     "BM_MapLinesUnmap/populate:0", "BM_MemcpyLines", "speed/wall", None),
    ("12", "reference: the same, mapped with MAP_POPULATE",
     "BM_MapLinesUnmap/populate:1", "BM_MemcpyLines", "speed/wall", None),
    ("12", "reference: ImageReader raw line reads (vs copies out of the mapping "
     "made once)", "BM_ImageReaderLinesRaw", "BM_MappedLines", "speed/wall", None),
]
for name, k in KINDS:
    GOALS += [
        ("12", f"ImageReader packed line reads (encoding 1), {name} (vs "
         "BtreePacked::lineAt through BtreeImg::at, the image in memory)",
         f"BM_ImageReaderLinesPacked/kind:{k}", f"BM_BtreeImgAtPacked/kind:{k}",
         "speed/wall", 0.9),
        ("12", f"reference: the same from bytes in memory, {name}",
         f"BM_ImageReaderLinesPackedMemory/kind:{k}",
         f"BM_BtreeImgAtPacked/kind:{k}", "speed/wall", None),
        ("12", f"reference: the same read leniently (no check of the code), {name}",
         f"BM_ImageReaderLinesPackedLenient/kind:{k}",
         f"BM_BtreeImgAtPacked/kind:{k}", "speed/wall", None),
    ]
for name, k in KINDS:
    GOALS += [
        ("12", f"reference: ImageReader whole-plane packed lines (encoding 2) in "
         f"order, {name} (vs BtreeImg::at, the plane decoded at open)",
         f"BM_ImageReaderLinesPackedSpeed/kind:{k}",
         f"BM_BtreeImgAtPackedSpeed/kind:{k}", "speed/wall", None),
        ("12", f"reference: the same with the opening, {name}",
         f"BM_ImageReaderOpenLinesPackedSpeed/kind:{k}",
         f"BM_BtreeImgOpenLinesPackedSpeed/kind:{k}", "speed/wall", None),
    ]

UNIT_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}


def load_runs(paths):
    """Per benchmark (name without /iterations:N): its repetitions."""
    runs = {}
    counters = {}
    dates = []
    for path in paths:
        with open(path) as f:
            data = json.load(f)
        if data.get("context", {}).get("date"):
            dates.append(data["context"]["date"])
        for b in data["benchmarks"]:
            if b.get("run_type") != "iteration" or b.get("error_occurred"):
                continue
            name = re.sub(r"/(iterations|min_time):[\d.]+", "", b["run_name"])
            scale = UNIT_NS[b.get("time_unit", "ns")]
            # A benchmark that times a child process gives the child's CPU time.
            cpu = b.get("child_cpu_ns", b["cpu_time"] * scale)
            runs.setdefault(name, []).append((cpu, b["real_time"] * scale))
            for key in ("rss_per_file", "peak_rss_mib", "over_files_mib"):
                if key in b:
                    counters.setdefault((name, key), []).append(b[key])
    return runs, counters, sorted(dates)


def fmt_time(ns):
    if ns < 0:  # a difference of medians
        return "-" + fmt_time(-ns)
    for unit, scale in (("s", 1e9), ("ms", 1e6), ("µs", 1e3)):
        if float(f"{ns:.3g}") >= scale:  # 999.7 µs shows as 1 ms
            return f"{ns / scale:.3g} {unit}"
    return f"{ns:.3g} ns"


def machine():
    model, cores = "unknown", "?"
    try:
        out = subprocess.run(["lscpu"], capture_output=True, text=True).stdout
        for line in out.splitlines():
            key, _, value = line.partition(":")
            if key.strip() == "Model name":
                model = value.strip()
            if key.strip() == "CPU(s)":
                cores = value.strip()
    except OSError:
        pass
    return model, cores


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--load-before", default="")
    parser.add_argument("--load-after", default="")
    parser.add_argument("--repetitions", default="")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    runs, counters, dates = load_runs(args.files)

    def median(name, which):
        if "+" in name or "-" in name:  # a sum or difference of medians
            total = 0.0
            for sign, part in re.findall(r"([+-]?)([^+-]+)", name):
                value = median(part, which)
                if value is None:
                    return None
                total += -value if sign == "-" else value
            return total
        values = [r[which] for r in runs.get(name, [])]
        return statistics.median(values) if values else None

    model, cores = machine()
    out = []
    out.append("# Benchmark results\n")
    out.append("Written by `scripts/bench` from one run of the programs in "
               "`bench/`; do not edit by hand.\n")
    out.append(f"- Machine: {model}, {cores} cores")
    if dates:  # when the programs ran, as they report it
        out.append(f"- Date: the programs started from {dates[0]} to {dates[-1]}")
    else:
        out.append(f"- Date: {datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M UTC}")
    out.append(f"- Load average (1, 5, 15 min) before the run: {args.load_before}; "
               f"after: {args.load_after}")
    if args.repetitions:
        out.append(f"- Repetitions: {args.repetitions} per benchmark, "
                   "interleaved at random")
    out.append("- Times are medians over the repetitions of the process's CPU "
               "time (user + system); the wall-clock medians are shown beside "
               "them. On a shared machine the CPU time is the steadier figure.")
    out.append("")
    out.append("| goal | figure | figure time | anchor time | wall clock figure / anchor "
               "| ratio | target | met |")
    out.append("|---|---|---|---|---|---|---|---|")
    met_all = True
    for goal, what, figure, anchor, kind, target in GOALS:
        f_cpu, a_cpu = median(figure, 0), median(anchor, 0)
        f_real, a_real = median(figure, 1), median(anchor, 1)
        if f_cpu is None or a_cpu is None:
            out.append(f"| {goal} | {what} | missing | missing | | | | no |")
            met_all = False
            continue
        kind, _, wall = kind.partition("/")
        if kind == "speed":
            ratio = a_cpu / f_cpu
            shown = f"{ratio:.2f}× throughput"
            target_text = f"≥ {target}×" if target else "—"
            ok = target is None or ratio >= target
        else:
            ratio = f_cpu / a_cpu
            shown = f"{ratio:.2f}× time"
            target_text = f"≤ {target}×" if target else "—"
            ok = target is None or ratio <= target
        if wall:  # the ratio of the wall-clock times too, held to the target
            wall_ratio = a_real / f_real if kind == "speed" else f_real / a_real
            shown += f" (wall clock {wall_ratio:.2f}×)"
            if target is not None:
                ok = ok and (wall_ratio >= target if kind == "speed"
                             else wall_ratio <= target)
        met = "—" if target is None else ("yes" if ok else "**no**")
        if target is not None and not ok:
            met_all = False
        out.append(f"| {goal} | {what} | {fmt_time(f_cpu)} | {fmt_time(a_cpu)} "
                   f"| {fmt_time(f_real)} / {fmt_time(a_real)} | {shown} "
                   f"| {target_text} | {met} |")
    rss = counters.get(("BM_BtreeImgOpen", "rss_per_file"))
    if rss:
        value = statistics.median(rss)
        ok = value <= 1.01
        met_all = met_all and ok
        out.append(f"| 4 | resident memory while the 256 MiB image is open, "
                   f"over the file's size (no whole-plane packed planes) | | | "
                   f"| {value:.3f}× | ≤ 1.0× (+1%) | {'yes' if ok else '**no**'} |")
    # Goal 10's memory figures: the largest run against its bound in MiB.
    peaks = [
        ("peak resident memory of btreeimg thumbnail of the 512 MiB image",
         counters.get(("BM_ThumbnailCommand/real_time", "peak_rss_mib"), []), 48),
        ("peak resident memory of each tool command beyond the image files the "
         "library holds (bench_thumbnail's 11 commands)",
         [v for (_, key), values in counters.items() if key == "over_files_mib"
          for v in values], 12),
    ]
    for what, values, limit in peaks:
        if values:
            ok = max(values) <= limit
            met_all = met_all and ok
            out.append(f"| 10 | {what} (largest run) | | | | {max(values):.1f} MiB "
                       f"| ≤ {limit} MiB | {'yes' if ok else '**no**'} |")
    out.append("")
    out.append("Every goal met." if met_all else
               "Goals marked **no** are not met; see the notes below.")
    out.append("")
    notes = os.path.join(os.path.dirname(os.path.abspath(__file__)), "NOTES.md")
    if os.path.exists(notes):
        with open(notes) as f:
            out.append(f.read().rstrip())
        out.append("")
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
