"""Makes the browser module's test images with the native tool.

    make_fixtures.py TOOL OUT

writes into OUT:
  v<V>-pack<P>.dis     an image of every version (2, 3, 4) and encoding
                       (0, 1, 2), made by `TOOL frompng` from palette PNGs
                       (version 2: two planes of 301 x 67; version 3: three;
                       version 4: three planes of 65537 x 3)
  <image>.json         what `TOOL info --json` says of it
  <image>.<k>.idx      plane k's stored values, and
  <image>.<k>.rgba     its pixels as RGBA, both from the PNG `TOOL topng`
                       writes of the plane
  design.dis.<k>.rgba  the same for each plane of the sample, and
  design-covered.dis.1.rgba  for the sample covered by samples/rules.txt
  large.dis            one packed plane of 1024 x 1100 (the viewer decodes it
                       in two slices), with large.dis.1.idx and .rgba
  cut.dis, table.dis   the sample cut short, and with a line table broken
  short.dis            ten bytes: not an image
"""
import json
import pathlib
import subprocess
import sys

from PIL import Image

tool, out = sys.argv[1], pathlib.Path(sys.argv[2])
samples = pathlib.Path(__file__).resolve().parents[2] / "samples"
sample = samples / "design.dis"

PALETTE = [(i * 67 + 13) % 256 for i in range(256)] + \
          [(i * 151 + 101) % 256 for i in range(256)] + \
          [(i * 29 + 7) % 256 for i in range(256)]
PALETTE = [PALETTE[i + 256 * c] for i in range(256) for c in range(3)]


def plane(width, height, seed):
    """Runs of 1 to 300 pixels (runs over 255 split into two pairs)."""
    state = seed
    data = bytearray()
    for _ in range(height):
        row = bytearray()
        while len(row) < width:
            state = (state * 1103515245 + 12345) % 2**31
            length = (1, 1, 2, 3, 7, 40, 300)[state % 7]
            row += bytes([(state >> 8) % 256]) * length
        data += row[:width]
    return bytes(data)


def run(*args):
    return subprocess.run([tool, *map(str, args)], check=True, capture_output=True, text=True).stdout


def reference(image, name, planes):
    """Writes the stored values and RGBA pixels of each plane as topng shows them."""
    for k in range(1, planes + 1):
        png = out / "shown.png"
        run("topng", image, png, "--plane", k)
        with Image.open(png) as shown:
            assert shown.mode == "P"
            (out / f"{name}.{k}.idx").write_bytes(shown.tobytes())
            (out / f"{name}.{k}.rgba").write_bytes(shown.convert("RGBA").tobytes())
        png.unlink()


layouts = {2: (301, 67, 2), 3: (301, 67, 3), 4: (65537, 3, 3)}
for version, (width, height, planes) in layouts.items():
    pngs = []
    for k in range(1, planes + 1):
        png = out / f"v{version}.{k}.png"
        image = Image.frombytes("P", (width, height), plane(width, height, 17 * version + k))
        image.putpalette(PALETTE)
        image.save(png)
        pngs.append(png)
    for pack in (0, 1, 2):
        name = out / f"v{version}-pack{pack}.dis"
        run("frompng", *pngs, name, "--pack", pack)
        info = json.loads(run("info", "--json", name))[0]
        assert info["version"] == version and [p["encoding"] for p in info["planes"]] == [pack] * planes
        (out / f"{name.name}.json").write_text(json.dumps(info))
        reference(name, name.name, planes)

large = Image.frombytes("P", (1024, 1100), plane(1024, 1100, 5))
large.putpalette(PALETTE)
large.save(out / "large.png")
run("frompng", out / "large.png", out / "large.dis", "--pack", 1)
reference(out / "large.dis", "large.dis", 1)

reference(sample, "design.dis", 3)
run("cover", sample, samples / "rules.txt", out / "design-covered.dis")
reference(out / "design-covered.dis", "design-covered.dis", 1)

data = sample.read_bytes()
(out / "cut.dis").write_bytes(data[:5000])
broken = bytearray(data)
broken[1312 + 4:1312 + 8] = (0xFFFFFF00).to_bytes(4, "little")  # plane 1, line 0 ends far away
(out / "table.dis").write_bytes(bytes(broken))
(out / "short.dis").write_bytes(data[:10])
