"""The examples of the Python page (docs/python.md), type-checked by the tests
(mypy --strict). Run from the repository's root after a build, they work as
the page says."""

import btreeimg

with btreeimg.open("samples/design.dis") as im:  # a btreeimg.Image; close() too
    print(im.version, im.plane_count)           # 3 3
    print(im.shape(1), im.encoding(1))          # (192, 256) 1: packed
    design = im.plane(1)                        # numpy uint8 (192, 256), a copy
    top = im.line(0, 1)                         # numpy uint8 (256,)
    colours = im.colour_map                     # numpy uint8 (256, 3)
    print(im.cover("samples/rules.txt", "build/covered.dis"))  # True: written

planes = [design, design[:, ::-1], design[::2].repeat(2, axis=0)]  # any strides
btreeimg.write("build/new.dis", planes, colour_map=colours)  # raw or packed per plane
print(btreeimg.check("build/new.dis"))         # []: sound

try:
    btreeimg.open("build/cut.dis")               # damaged: refused
except btreeimg.FormatError as error:
    print(error)                                # build/cut.dis: plane 2: ... (and 2 more problems)
with btreeimg.open("build/cut.dis", lenient=True) as im:
    print(im.problems[0])                       # plane 2: header block at 50464 ...
    first = im.plane(1)                         # what the file holds, the rest 0

import btreeimg.pillow  # noqa: E402 - registers the format BTREEIMG (.dis) with Pillow
from PIL import Image  # noqa: E402

with Image.open("samples/design.dis") as pic:
    print(pic.format, pic.mode, pic.size, pic.n_frames)  # BTREEIMG P (256, 192) 3
    pic.seek(2)                                   # plane 3
    pic.convert("RGB").save("build/weft.png")
    pic.save("build/copy.dis", save_all=True, pack=0)  # every plane, raw

Image.open("build/weft.png").convert("L").save("build/weft.dis")  # grey ramp

with btreeimg.open("build/copy.dis") as im:     # every plane raw
    mapped = im.plane(1, mmap=True)               # read-only numpy.memmap: no copy, no read
    print(mapped.shape, im)                       # (192, 256) <btreeimg.Image 'build/copy.dis' version 3, 3 planes of 256 x 192>
