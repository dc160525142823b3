"""Multi-plane 8-bit raster images as numpy arrays.

An image file holds up to five planes of byte-per-pixel lines, each plane
raw (encoding 0), packed line by line (1) or packed as a whole plane (2),
behind one 256-entry colour map. The C++ library reads and writes the files;
this package hands their planes over as numpy arrays::

    import btreeimg
    with btreeimg.open("design.dis") as im:
        pixels = im.plane(1)            # uint8 array (height, width)
        colours = im.colour_map         # uint8 array (256, 3)
    btreeimg.write("copy.dis", pixels, colour_map=colours)
    problems = btreeimg.check("copy.dis")   # [] when sound

``import btreeimg.pillow`` lets Pillow open and save the files as well.

Opening reads the file's header blocks and inspects its layout; each
plane or line is read from the file when asked. A file whose layout the
structural check (check()) finds damaged is refused when opened, a
damaged line when it is read, with FormatError naming the problem;
``open(path, lenient=True)`` reads what the file holds instead.

Every plane read is held to MAX_IMAGE_PIXELS (2**28 by default; None
removes the limit): a small file can state a plane of billions of pixels,
and reading it would take that much memory and time. A plane over the limit
is refused with PixelLimitError before anything is allocated.

Errors are Python's own: OSError and its subclasses (FileNotFoundError,
PermissionError, IsADirectoryError, ...) with ``errno`` and ``filename``
for files that cannot be read or written, ValueError for bad arguments,
FormatError (a ValueError) for a file that is not a usable image,
PixelLimitError (a FormatError) for a plane over MAX_IMAGE_PIXELS, and
MemoryError. Reading a plane, writing, colour coverage and checking release
the GIL, so several threads can work on different images at once.

A raw plane can also be mapped rather than copied: ``im.plane(1,
mmap=True)`` gives a read-only numpy.memmap of the file's bytes at no cost
per pixel (see Image.plane for what mapping risks). In a notebook an Image
shows plane 1 through its colour map, reduced to a thumbnail.
"""

# Helper modules go under private names: the namespace shows the API only.
import io as _io
import math as _math
import operator as _operator
import os as _os
import stat as _stat
import types as _types
import typing as _typing

import numpy as _np
import numpy.typing as _npt

from . import _btreeimg
from ._btreeimg import FormatError, __version__

__all__ = ["Image", "FormatError", "PixelLimitError", "open", "write", "check",
           "grey_ramp", "MAX_PLANES", "ENCODINGS", "MAX_IMAGE_PIXELS",
           "__version__"]

#: The most planes an image holds.
MAX_PLANES = 5
#: The encodings a plane may have: 0 raw, 1 packed line by line, 2 packed
#: as a whole plane.
ENCODINGS = (0, 1, 2)

#: The most pixels a plane may cost to read (its width times its line
#: count, and at least its line count): planes that cost more are refused
#: with PixelLimitError. None reads planes of any size. As Pillow's
#: Image.MAX_IMAGE_PIXELS, a setting of the whole program; the default,
#: 2**28, is a plane of 16384 x 16384.
MAX_IMAGE_PIXELS: _typing.Optional[int] = _btreeimg.DEFAULT_PIXEL_LIMIT


class PixelLimitError(FormatError):
    """A plane costs more pixels to read than MAX_IMAGE_PIXELS allows."""


#: The longest side of the picture a notebook shows of an image (_repr_png_).
_PREVIEW_SIDE = 256


def __dir__() -> list[str]:
    """The package's interface (and its submodules once imported): dir()
    leaves the helpers' private names out."""
    return sorted(set(__all__) | {name for name in ("pillow",) if name in globals()})


#: What the functions take as a file name.
_Path = _typing.Union[str, bytes, "_os.PathLike[str]", "_os.PathLike[bytes]"]
#: A uint8 numpy array.
_Pixels = _npt.NDArray[_np.uint8]


def _path(path: _Path) -> bytes:
    """The file system path `path` (str, bytes or os.PathLike) as bytes.
    (The extension refuses a NUL byte with ValueError, as Python's own
    open() does.)"""
    return _os.fsencode(path)


def grey_ramp() -> _Pixels:
    """A (256, 3) uint8 colour map whose entry i is (i, i, i)."""
    ramp = _np.arange(256, dtype=_np.uint8)
    return _np.repeat(ramp[:, None], 3, axis=1)


def _pixel_limit() -> _typing.Optional[int]:
    """MAX_IMAGE_PIXELS, checked: None or an integer of at least 0."""
    limit = MAX_IMAGE_PIXELS
    if limit is None:
        return None
    value = _operator.index(limit)
    if value < 0:
        raise ValueError(f"btreeimg.MAX_IMAGE_PIXELS must be None or at least 0, "
                         f"not {limit!r}")
    return value


class Image:
    """An image file, read plane by plane when asked.

    Planes are numbered from 1 and lines from 0, as in the C++ library.
    Every method returns new arrays that the caller owns. The image keeps
    the file open (and keeps reading the file it opened, whatever comes to
    stand at its name): use it as a context manager, or call close(). An
    image may be used from several threads (calls on one image run one at
    a time).
    """

    def __init__(self, path: _Path, *, lenient: bool = False) -> None:
        """Opens the image file `path` and inspects its layout.

        Raises FileNotFoundError, PermissionError or another OSError when
        the file cannot be read, and FormatError when it is not a usable
        image or, unless `lenient`, when its layout is damaged (cut short,
        a plane outside the file, ...). A lenient image reads what the file
        holds: bytes the file does not hold read as 0.
        """
        self._name = _os.fsdecode(path)
        self._core: _typing.Optional[_btreeimg.Image] = None
        self._core = _btreeimg.Image(_path(path), bool(lenient))

    @classmethod
    def _from_stream(cls, fp: _typing.IO[bytes], name: str, *,
                     lenient: bool) -> "Image":
        """The image file that the binary stream `fp` holds from its start,
        read from the stream's file when it is a file object over a regular
        file (through a descriptor of its own), else from the stream's bytes
        (read once and kept). Messages begin with "`name`: " unless `name`
        is empty."""
        image = cls.__new__(cls)
        image._name = name
        image._core = None
        # Only a file object's bytes are its descriptor's: a stream that
        # decodes another (gzip.GzipFile, ...) gives the descriptor of the
        # file it decodes.
        raw = fp.raw if isinstance(fp, (_io.BufferedReader, _io.BufferedRandom)) else fp
        descriptor = raw.fileno() if isinstance(raw, _io.FileIO) else None
        if descriptor is not None and _stat.S_ISREG(_os.fstat(descriptor).st_mode):
            fp.seek(0)  # writes still in the stream's buffer reach the file
            image._core = _btreeimg.Image.from_descriptor(descriptor, name, bool(lenient))
        else:
            fp.seek(0)
            data = fp.read()
            image._core = _btreeimg.Image.from_bytes(
                data if isinstance(data, bytes) else bytes(data), name, bool(lenient))
        return image

    # ---- Lifecycle -----------------------------------------------------

    def close(self) -> None:
        """Closes the file. Further use raises ValueError; closing twice is
        fine."""
        core, self._core = self._core, None
        if core is not None:
            core.close()

    @property
    def closed(self) -> bool:
        """True once the image is closed."""
        return self._core is None

    def __enter__(self) -> "Image":
        """The image itself, closed when the with block ends."""
        return self

    def __exit__(self, exc_type: _typing.Optional[type[BaseException]],
                 exc_value: _typing.Optional[BaseException],
                 traceback: _typing.Optional[_types.TracebackType]) -> None:
        """Closes the image."""
        self.close()

    def __repr__(self) -> str:
        """The file, version, planes and size (width x height), or
        "closed"."""
        if self._core is None:
            return f"<btreeimg.Image {self._name!r} closed>"
        height, width = self.shape(1)
        planes = "1 plane" if self.plane_count == 1 else f"{self.plane_count} planes"
        return (f"<btreeimg.Image {self._name!r} version {self.version}, "
                f"{planes} of {width} x {height}>")

    def _repr_png_(self) -> _typing.Optional[bytes]:
        """Plane 1 through the colour map as PNG bytes, for notebooks:
        every n-th line and column, so that the longer side is at most 256
        pixels. None (the notebook shows repr() instead) when the image is
        closed, holds no pixel, or its lines cannot be read, and when
        Pillow is missing."""
        try:
            from PIL import Image as pillow
        except ImportError:  # pragma: no cover - Pillow is a Debian dependency
            return None
        if self._core is None:
            return None
        height, width = self.shape(1)
        if height == 0 or width == 0:
            return None
        step = _math.ceil(max(height, width) / _PREVIEW_SIDE)
        try:
            pixels = _np.stack([self.line(y, 1)[::step] for y in range(0, height, step)])
        except (FormatError, OSError):
            return None
        picture = pillow.fromarray(pixels, "P")
        picture.putpalette(self.colour_map.tobytes())
        out = _io.BytesIO()
        picture.save(out, format="PNG")
        return out.getvalue()

    def _open_core(self) -> _btreeimg.Image:
        """The extension's image; ValueError once closed."""
        core = self._core
        if core is None:
            raise ValueError("I/O operation on a closed image")
        return core

    def _within_limit(self, core: _btreeimg.Image, pixels: int,
                      limit: _typing.Optional[int]) -> None:
        """PixelLimitError when reading `pixels` pixels of `core` goes over
        `limit` (None: no limit)."""
        if limit is not None and pixels > limit:
            problem = core.limit_problem(limit)
            prefix = f"{self._name}: " if self._name else ""
            raise PixelLimitError(
                f"{prefix}{problem}; raise btreeimg.MAX_IMAGE_PIXELS (or set it "
                "to None) to read it")

    # ---- What the image holds -----------------------------------------

    @property
    def name(self) -> str:
        """The path the image was opened from."""
        return self._name

    @property
    def problems(self) -> list[str]:
        """What the structural check (check()) finds in the file, one text
        each: empty for a sound file. The check reads the whole file, the
        first time it is asked for. A file opened strictly has no damage in
        its layout, but may have damaged lines."""
        return list(self._open_core().problems)

    @property
    def _lenient(self) -> bool:
        """Whether the image reads damage rather than refusing it."""
        return self._open_core().lenient

    @property
    def _summary(self) -> str:
        """The problems in one sentence, as FormatError words them; "" when
        the file is sound."""
        return self._open_core().summary

    @property
    def version(self) -> int:
        """The file format version: 2, 3 or 4."""
        return self._open_core().version

    @property
    def plane_count(self) -> int:
        """The number of planes the image holds, 1 to 5."""
        return self._open_core().plane_count

    def shape(self, plane: int) -> tuple[int, int]:
        """(height, width) of plane `plane` (1 .. plane_count): plane 1's
        for every plane, as the library reads them.

        Raises ValueError for a plane the image does not hold.
        """
        return self._open_core().shape(_operator.index(plane))

    def encoding(self, plane: int) -> int:
        """The encoding of plane `plane`: 0 raw, 1 packed line by line,
        2 packed as a whole plane (or the undefined value a damaged file
        states)."""
        return self._open_core().encoding(_operator.index(plane))

    @property
    def colour_map(self) -> _Pixels:
        """A new (256, 3) uint8 array: entry i is the (red, green, blue) of
        pixel value i."""
        return self._open_core().colour_map()

    # ---- Pixels ---------------------------------------------------------

    def plane(self, plane: int, *, mmap: bool = False) -> _Pixels:
        """A new uint8 array of shape (height, width) holding plane `plane`.

        Raises ValueError for a plane the image does not hold,
        PixelLimitError for a plane that costs more than MAX_IMAGE_PIXELS
        (checked before anything is read), and, unless the image is
        lenient, FormatError for a damaged plane (a lenient image reads a
        plane whose encoding the format does not define as zeros, and
        refuses a damaged plane that states more pixels than the file can
        hold).

        With mmap=True the plane is not read but mapped: the result is a
        read-only numpy.memmap of the plane's bytes in the file, made at
        the same small cost whatever the plane's size, and read by the
        system as it is used (MAX_IMAGE_PIXELS does not apply: nothing is
        allocated). Only a raw plane (encoding 0) of an image read from a
        file, whose layout is sound and which holds the whole plane, can be
        mapped; others raise ValueError saying why (plane() copies them).
        The map stays valid after the image is closed and reads the file
        the image opened. Mapping is an opt-in because the file is then
        memory: when another process cuts the file short while the map is
        in use, touching the lost pages raises SIGBUS and ends the program
        (a copy fails with OSError instead), and when another process
        rewrites the file's bytes, the array changes with them.
        """
        if mmap:
            return self._map_plane(plane)
        return self._read_plane(plane, _pixel_limit())

    def _map_plane(self, plane: int) -> _Pixels:
        """plane(mmap=True)."""
        core = self._open_core()
        number = _operator.index(plane)
        height, width = core.shape(number)
        offset = core.mappable_offset(number)
        if offset < 0:
            prefix = f"{self._name}: " if self._name else ""
            encoding = core.encoding(number)
            if encoding != 0:
                kind = {1: "packed line by line", 2: "packed as a whole plane"}.get(
                    encoding, f"of encoding {encoding}")
                why = f"plane {number} is {kind}: only a raw plane can be mapped"
            else:
                why = (f"plane {number} cannot be mapped: the image was read from "
                       "bytes, or its file is damaged or does not hold the whole plane")
            raise ValueError(f"{prefix}{why}; plane({number}) without mmap reads it")
        if height == 0 or width == 0:
            return _np.zeros((height, width), _np.uint8)
        # numpy maps through a duplicate of the descriptor it is given; the
        # image's own stays as it was.
        with _os.fdopen(core.duplicate_descriptor(), "rb") as stream:
            mapped: _Pixels = _np.memmap(stream, dtype=_np.uint8, mode="r",
                                         offset=offset, shape=(height, width))
        return mapped

    def _mappable_offset(self, plane: int) -> int:
        """Where raw plane `plane`'s lines start in the file, when the image
        reads a file whose layout is sound and which holds the whole plane;
        -1 otherwise."""
        return self._open_core().mappable_offset(_operator.index(plane))

    def _read_plane(self, plane: int, limit: _typing.Optional[int]) -> _Pixels:
        """plane(), held to `limit` pixels (None: no limit)."""
        core = self._open_core()
        number = _operator.index(plane)
        height, width = core.shape(number)
        self._within_limit(core, max(height * width, height, width), limit)
        return core.plane(number)

    def line(self, line: int, plane: int) -> _Pixels:
        """A new uint8 array of shape (width,) holding line `line`
        (0 .. height-1) of plane `plane`.

        Raises ValueError for a line or plane the image does not hold,
        PixelLimitError for a line longer than MAX_IMAGE_PIXELS, and
        FormatError as plane() does.
        """
        core = self._open_core()
        number = _operator.index(plane)
        self._within_limit(core, core.shape(number)[1], _pixel_limit())
        return core.line(_operator.index(line), number)

    # ---- Colour coverage -----------------------------------------------

    def cover(self, rules: _Path, output: _Path) -> bool:
        """Rewrites plane 1 by the colour rules in the file `rules` into
        the one-plane image file `output`.

        A rule file holds "COLCOPER n", "COLTEST n" and "COLSOST n" lines;
        rule i takes the i-th value of each key: a pixel of colour COLCOPER
        whose pixel below has colour COLTEST becomes COLSOST. Returns True
        when a pixel changed, and then (only then) `output` is written
        (which may be this image's own file), as the library saves every
        file: replaced in one step when complete, flushed, its mode, owner
        and symbolic link kept. An unchanged run leaves an existing `output`
        as it was.

        Plane 1 is read line by line; an image opened from bytes or a file
        object is covered as one opened by name.

        Raises OSError when a file cannot be read or written, ValueError
        when the rule file is not usable, PixelLimitError as plane(1) does,
        and, unless the image is lenient, FormatError when the structural
        check finds plane 1 damaged (damage in other planes, which the
        one-plane result does not hold, is no obstacle).
        """
        core = self._open_core()
        rules_path = _path(rules)
        output_path = _path(output)
        height, width = core.shape(1)
        self._within_limit(core, max(height * width, height, width), _pixel_limit())
        problem = _btreeimg.rules_problem(rules_path)
        if problem:
            raise ValueError(f"{_os.fsdecode(rules_path)}: {problem}")
        if not core.lenient:
            damage = core.plane_summary(1)
            if damage:
                raise FormatError(f"{self._name}: {damage}")
        return core.cover(rules_path, output_path)


def open(path: _Path, *, lenient: bool = False) -> Image:  # noqa: A001
    """Opens the image file `path` (str, bytes or os.PathLike) and returns
    an Image, usable as a context manager.

    Only the header blocks are read, and the file's layout inspected as
    check() does; lines are read when asked for. Raises FileNotFoundError,
    PermissionError or another OSError when the file cannot be read, and
    FormatError when it is not a usable image or, unless `lenient` is true,
    when its layout is damaged (the message names the first problem; a
    damaged line is refused when it is read). With lenient=True a damaged
    file is read for what it holds: bytes the file does not hold read as 0
    (Image.problems lists the damage).
    """
    return Image(path, lenient=lenient)


def _planes_of(planes: _typing.Union[_Pixels, _typing.Sequence[_Pixels]]) -> list[_Pixels]:
    """The planes argument of write() as a list of 2-D uint8 arrays."""
    if isinstance(planes, _np.ndarray):
        if planes.ndim not in (2, 3):
            raise ValueError("planes must be a 2-D uint8 array or a sequence "
                             f"of 1 to 5 of them, not a {planes.ndim}-D array")
        planes = [planes] if planes.ndim == 2 else list(planes)
    elif isinstance(planes, (str, bytes)) or not hasattr(planes, "__len__"):
        raise ValueError("planes must be a 2-D uint8 array or a sequence of "
                         "1 to 5 of them")
    arrays = [_np.asarray(p) for p in planes]
    if not 1 <= len(arrays) <= MAX_PLANES:
        raise ValueError(f"an image holds 1 to {MAX_PLANES} planes, "
                         f"not {len(arrays)}")
    for k, a in enumerate(arrays, 1):
        if a.dtype != _np.uint8:
            raise ValueError(f"plane {k} is an array of {a.dtype}, not uint8")
        if a.ndim != 2:
            raise ValueError(f"plane {k} has {a.ndim} dimensions, not 2")
        if a.shape != arrays[0].shape:
            raise ValueError(f"plane {k} has shape {a.shape}, plane 1 has "
                             f"{arrays[0].shape}")
    if 0 in arrays[0].shape:
        raise ValueError(f"planes of shape {arrays[0].shape} hold no pixels")
    return arrays


def _colour_map_bytes(colour_map: _typing.Optional[_Pixels]) -> bytes:
    """The colour_map argument of write() as 768 bytes."""
    if colour_map is None:
        return grey_ramp().tobytes()
    entries = _np.asarray(colour_map)
    if entries.dtype != _np.uint8 or entries.shape != (256, 3):
        raise ValueError("colour_map must be a (256, 3) uint8 array, not "
                         f"{entries.dtype} {entries.shape}")
    return entries.tobytes()


def write(path: _Path, planes: _typing.Union[_Pixels, _typing.Sequence[_Pixels]],
          pack: _typing.Optional[int] = None,
          colour_map: _typing.Optional[_Pixels] = None) -> None:
    """Writes a new image file `path` from `planes`.

    `planes` is one 2-D uint8 array or a sequence of 1 to 5 of one shape
    (a 3-D array counts as a sequence of its 2-D slices); any strides will
    do, slices of larger arrays included. `pack` is the encoding of every
    plane: 0 raw, 1 packed line by line, 2 packed as a whole plane; None
    (the default) chooses plane by plane: packed while the packed plane
    fits in a raw plane's room, else raw, so that any planes can be
    written. `colour_map` is a (256, 3) uint8 array; None gives a grey ramp.
    The format version follows from the layout: 4 when a dimension exceeds
    65535, else 3 for more than two planes, else 2.

    The file is replaced only when the whole image was written (as the
    library saves every file: in one step, flushed, its mode and links
    kept): on any failure a file of that name is left as it was.

    Raises ValueError for arrays of the wrong type, shape or count, a bad
    pack or colour map, or planes of the asked encoding that do not fit the
    file's layout (planes are laid out at their raw size, so only the last
    plane of an image packed on request may come out larger than raw);
    OSError when the file cannot be written; MemoryError.
    """
    arrays = _planes_of(planes)
    if pack is None:
        encoding = -1
    elif isinstance(pack, bool) or _operator.index(pack) not in ENCODINGS:
        raise ValueError(f"pack must be 0, 1, 2 or None, not {pack!r}")
    else:
        encoding = _operator.index(pack)
    _btreeimg.write(_path(path), arrays, encoding,
                    _colour_map_bytes(colour_map))


def check(path: _Path) -> list[str]:
    """The structural problems of the image file `path`, one text each;
    an empty list when the file is sound.

    The file's bytes are inspected without opening it as an image: header
    blocks and plane regions inside the file and apart, packed line tables,
    every packed line and whole-plane stream decoding to exactly its size.
    A file that is not an image at all gives one problem saying why. Raises
    FileNotFoundError, PermissionError or another OSError when the file
    cannot be read.
    """
    return list(_btreeimg.check(_path(path)))
