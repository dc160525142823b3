"""Pillow support for btreeimg image files.

``import btreeimg.pillow`` registers the format "BTREEIMG" (extension
``.dis``) with Pillow, for opening and saving::

    import btreeimg.pillow
    from PIL import Image

    with Image.open("design.dis") as im:      # mode "P", the colour map as palette
        print(im.size, im.n_frames)          # n_frames: the planes
        im.seek(1)                           # plane 2
        im.convert("RGB").save("plane2.png")

    Image.open("photo.png").convert("L").save("photo.dis")   # grey ramp
    first.save("three.dis", save_all=True, append_images=[second, third],
               pack=0)

Opening: frame k is plane k + 1; opening reads the header blocks only
(from the file's descriptor, or from the bytes of a stream that is no
file), and the current frame is decoded through the C++ library by load(),
and at once by seek(), so that every Pillow operation finds it loaded. A
damaged file (cut short, a broken line table, ...) opens, and load()
raises OSError naming the problem, as Pillow does for truncated images;
with ``ImageFile.LOAD_TRUNCATED_IMAGES = True`` it loads what the file
holds, the missing pixels 0. Image.MAX_IMAGE_PIXELS guards the image at
open and every plane at seek(), counting at least a pixel a line (a plane
of empty lines still costs a step per line); btreeimg.MAX_IMAGE_PIXELS
does not apply. Image.verify() runs the full structural check
(btreeimg.check) and raises OSError naming the first problem.

A raw plane of a sound file opened by name is handed to Pillow as one
"raw" tile at the plane's place in the file, which Pillow maps rather than
reads, as it does an uncompressed TIFF (unless the name has come to stand
for another file since it was opened). Packed planes, and images opened
from streams, are decoded through the library. As with a mapped TIFF, a
mapped plane is the file's memory: another process cutting the file short
while the image is in use can end the program with SIGBUS. Open the file
yourself (``Image.open(open(path, "rb"))``) to have every plane read
instead.

Files: the library reads through a descriptor of its own, which is closed
once a one-plane image is loaded, and otherwise when Pillow is done with
its file (the end of a with block, close()); a one-plane image opened by
name closes Pillow's file after loading as well, as Pillow's own formats do.

Saving: "P" images keep their palette, "L" images get a grey ramp; with
save_all=True the appended images (and the frames of a multi-frame image)
become further planes, 1 to 5 in all, of one size; the colour map is the
first image's. The save parameter ``pack`` picks the encoding of every
plane (0 raw, 1 packed line by line, 2 packed as a whole plane); without
it each plane is packed where that fits and raw otherwise. The format
also answers to the name "DIS" in any case (``format="dis"``, and
matplotlib's ``imsave("x.dis", ...)``). Other modes raise ValueError naming
the mode, and so does a transparency (``transparency=`` or the image's
own) that the format cannot keep.

A save to a file name never truncates the file first (Pillow's own saves
open it for writing before the format's code runs): the image is checked
whole and written as the library saves every file, so that a refused or
failed save leaves an existing file, and every hard link to it, as it was.
For that, importing this module wraps Image.Image.save; saves to other
formats pass through unchanged.

imageio: the same import registers the format with the imageio versions
that keep a registry of their own (2.x; newer ones open files through
Pillow and find it there), when imageio is imported, now or later. Then
imageio.imread, mimread (one image per plane), scikit-image's reader and
dask.array.image.imread read the files. Worker processes of a cluster
import the module too when they preload it (dask:
``LocalCluster(preload=["btreeimg.pillow"])``, ``dask worker --preload
btreeimg.pillow``).
"""

import functools as _functools
import importlib.abc as _importlib_abc
import importlib.machinery as _importlib_machinery
import importlib.util as _importlib_util
import os as _os
import pathlib as _pathlib
import sys as _sys
import tempfile as _tempfile
import types as _types
import typing as _typing

import numpy as _np
import numpy.typing as _npt
from PIL import Image as _Image
from PIL import ImageFile as _ImageFile
from PIL import ImagePalette as _ImagePalette
from PIL import ImageSequence as _ImageSequence

import btreeimg as _btreeimg

FORMAT = "BTREEIMG"
EXTENSION = ".dis"
#: The names a save may give the format (Pillow compares them upper case).
_SAVE_NAMES = (FORMAT, "DIS")
__all__ = ["BtreeImgImageFile", "FORMAT", "EXTENSION"]


def _accept(prefix: bytes) -> bool:
    """A first guess from the file's first bytes: the version field (a
    16-bit little-endian 2, 3 or 4). Opening through the library decides."""
    return len(prefix) >= 2 and prefix[1] == 0 and prefix[0] in (2, 3, 4)


class BtreeImgImageFile(_ImageFile.ImageFile):
    """A btreeimg image file opened by Pillow: mode "P", one frame per
    plane."""

    format = FORMAT
    format_description = "btreeimg multi-plane 8-bit image"
    # Multi-plane images keep the file for seek(); _loaded() closes a
    # one-plane image's.
    _close_exclusive_fp_after_loading = False
    # The library's image (None once released).
    _image: _typing.Optional[_btreeimg.Image] = None

    # Pillow's file, kept under another name: Pillow sets fp to None when it
    # is done with the file (at the end of a with block, in close(), after
    # loading), and then the library's image and its descriptor go too.
    @property
    def fp(self) -> _typing.Any:
        """The stream Pillow reads (None once Pillow is done with it)."""
        return self.__dict__.get("_stream")

    @fp.setter
    def fp(self, stream: _typing.Any) -> None:
        """Sets the stream; None releases the library's image, except while
        Pillow's tile loader runs (load() hands the stream back after)."""
        self.__dict__["_stream"] = stream
        if stream is None and not self.__dict__.get("_tile_loading", False):
            self._release()

    def _release(self) -> None:
        """Closes the library's image and its descriptor."""
        image = self._image
        if image is not None:
            self._image = None
            image.close()

    def _open(self) -> None:
        """Opens the file through the library and describes plane 1."""
        self._image = None
        # Why load() refuses the file unless ImageFile.LOAD_TRUNCATED_IMAGES
        # (None: nothing found yet).
        self._damage: _typing.Optional[str] = None
        try:
            image = self._reader(lenient=False)
        except _btreeimg.FormatError as refused:
            # A damaged file opens; load() refuses it (Pillow's convention).
            try:
                image = self._reader(lenient=True)
            except _btreeimg.FormatError as error:
                raise SyntaxError(f"not a btreeimg image file: {error}") from error
            self._damage = str(refused)
        self._image = image
        try:
            self._bomb_check()
        except BaseException:
            # Pillow drops the object; the stream is the caller's.
            self._release()
            raise
        self._plane_index = 0
        self._loaded_plane: _typing.Optional[int] = None
        self.n_frames = image.plane_count
        self.is_animated = self.n_frames > 1
        if isinstance(getattr(type(self), "mode", None), property):
            self._mode = "P"  # newer Pillow: mode is read-only
        else:
            self.mode = "P"
        self.palette = _ImagePalette.raw(  # type: ignore[no-untyped-call]
            "RGB", image.colour_map.tobytes())
        self._size = self._plane_size(0)
        self.tile = self._tiles()

    def _reader(self, lenient: bool) -> _btreeimg.Image:
        """The library's image of the stream Pillow opened: read from its
        file's descriptor when it is a regular file, else from its bytes.
        Messages name no file, as Pillow's own do not."""
        return _btreeimg.Image._from_stream(self.fp, "", lenient=lenient)

    def _tiles(self) -> list[tuple[str, tuple[int, int, int, int], int,
                                   tuple[str, int, int]]]:
        """Pillow's tile for the current plane when Pillow may map it: a
        raw plane of a file opened by name that the library found sound
        and whole. Empty otherwise: load() decodes through the library."""
        if not self.filename or self._damage is not None:
            return []
        offset = self._open_image()._mappable_offset(self._plane_index + 1)
        width, height = self.size
        if offset < 0 or width == 0 or height == 0:
            return []
        return [("raw", (0, 0, width, height), offset, ("P", width, 1))]

    def _bomb_check(self) -> None:
        """Pillow's guard against decompression bombs, on what reading a
        plane costs: its pixels, and at least one per line."""
        height, width = self._open_image().shape(1)
        _Image._decompression_bomb_check((max(width, 1), height))  # type: ignore[attr-defined]

    def _open_image(self) -> _btreeimg.Image:
        """The library's image; ValueError once closed."""
        image = self._image
        if image is None:
            raise ValueError("Operation on closed image")
        return image

    def _plane_size(self, index: int) -> tuple[int, int]:
        """(width, height) of frame `index`."""
        height, width = self._open_image().shape(index + 1)
        return width, height

    def seek(self, frame: int) -> None:
        """Moves to frame `frame` (plane frame + 1) and loads it, after
        Pillow's guard against decompression bombs (Image.MAX_IMAGE_PIXELS)
        has passed its size."""
        if not 0 <= frame < self.n_frames:
            raise EOFError("attempt to seek outside sequence")
        if frame == self._plane_index and self.im is not None:
            return
        self._bomb_check()
        self._plane_index = frame
        self._size = self._plane_size(frame)
        # The previous plane's pixels may be a map of the file: never
        # decode into them.
        self.im = None
        self.map = None
        self.tile = self._tiles()
        self.load()

    def tell(self) -> int:
        """The current frame: the plane number less one."""
        return self._plane_index

    def _decode(self) -> None:
        """Decodes the current plane into the Pillow image. OSError for a
        damaged file (unless ImageFile.LOAD_TRUNCATED_IMAGES) and for a
        plane the library cannot read."""
        image = self._open_image()
        truncated = _ImageFile.LOAD_TRUNCATED_IMAGES
        if self._damage is not None and not truncated:
            raise OSError(self._damage)
        try:
            # Pillow's limit guards the plane (_bomb_check), not the package's.
            pixels = image._read_plane(self._plane_index + 1, None)
        except _btreeimg.FormatError as error:
            if not truncated or image._lenient:
                raise OSError(str(error)) from error
            # A damaged line, found reading strictly: read what the file holds.
            self._damage = str(error)
            lenient = self._reader(lenient=True)
            image.close()
            self._image = image = lenient
            try:
                pixels = image._read_plane(self._plane_index + 1, None)
            except _btreeimg.FormatError as again:
                raise OSError(str(again)) from again
        # The new image maps the array's memory; Pillow copies it before any
        # change (readonly).
        self.im = _Image.frombuffer("P", self.size, pixels, "raw", "P", 0, 1).im
        self.readonly = 1
        self.palette.dirty = 1
        _Image.Image.load(self)  # hands the palette to the new image

    def load(self) -> _typing.Any:
        """Loads the current plane (once per frame): Pillow maps or reads a
        raw plane's tile; the library decodes every other plane."""
        if self.im is not None and self._loaded_plane == self._plane_index:
            return _Image.Image.load(self)
        self._open_image()
        if self.tile and not self._still_at_its_name():
            self.tile = []  # Pillow would map whatever file now has the name
        if self.tile:
            stream = self.fp
            self._tile_loading = True
            try:
                _ImageFile.ImageFile.load(self)  # type: ignore[no-untyped-call]
            finally:
                self._tile_loading = False
                self.tile = []
                self.fp = stream  # Pillow lets the stream go after loading
        else:
            self._decode()
        self._loaded_plane = self._plane_index
        if self.n_frames == 1:
            # Nothing more to read: let the files go.
            if getattr(self, "_exclusive_fp", False) and self.fp is not None:
                self.fp.close()
            self.fp = None
        return _Image.Image.load(self)

    def _still_at_its_name(self) -> bool:
        """Whether the file name Pillow maps a tile by still names the file
        Pillow opened (which the library read)."""
        try:
            return _os.path.samestat(_os.stat(self.filename), _os.fstat(self.fp.fileno()))
        except (OSError, AttributeError, ValueError, TypeError):
            return False

    def verify(self) -> None:
        """Checks the whole file's structure (every line of every plane)
        without decoding it to pixels: OSError naming the first problem.
        As with Pillow's other formats, reopen the file to load it after."""
        image = self._open_image()
        problem = self._damage or image._summary
        if getattr(self, "_exclusive_fp", False) and self.fp is not None:
            self.fp.close()
        self.fp = None
        if problem:
            raise OSError(problem)

    def close(self) -> None:
        """Closes the file and frees the image the library holds."""
        self._release()
        super().close()


def _pixels_of(im: _Image.Image) -> tuple[_npt.NDArray[_np.uint8],
                                          _npt.NDArray[_np.uint8]]:
    """The plane data and colour map of one Pillow image to be saved."""
    if im.mode not in ("P", "L"):
        if im.mode in ("RGB", "RGBA"):
            advice = 'reduce it to 256 colours first: im.quantize(256) or im.convert("P")'
        else:
            advice = 'convert it first: im.convert("L") or im.convert("P")'
        raise ValueError(f"cannot write mode {im.mode} as {FORMAT} (only P "
                         f"and L); {advice}")
    options: dict[str, _typing.Any] = getattr(im, "encoderinfo", {}) or {}
    transparency = options.get("transparency", im.info.get("transparency"))
    palette = im.palette if im.mode == "P" else None
    if transparency is None and palette is not None and palette.mode == "RGBA":
        alphas = (im.getpalette("RGBA") or [])[3::4]
        transparency = next((a for a in alphas if a != 255), None)
    if transparency is not None:
        raise ValueError(f"{FORMAT} keeps no transparency (the image has "
                         f"transparency {transparency!r}); drop it first: "
                         'del im.info["transparency"], or save without '
                         "transparency=")
    im.load()
    pixels = _np.asarray(im, dtype=_np.uint8)
    if im.mode == "L":
        return pixels, _btreeimg.grey_ramp()
    entries = _np.zeros(768, dtype=_np.uint8)
    palette = im.getpalette("RGB") or []
    entries[:len(palette)] = palette[:768]
    return pixels, entries.reshape(256, 3)


def _frames(im: _Image.Image,
            append_images: _typing.Iterable[_Image.Image]) -> _typing.Iterator[_Image.Image]:
    """Every frame of `im`, then every frame of each appended image. A
    frame is yielded once its image has moved to it: use it before asking
    for the next one."""
    for source in [im, *append_images]:
        start = source.tell()
        try:
            yield from _ImageSequence.Iterator(source)
        finally:
            source.seek(start)


def _write(im: _Image.Image, fp: _typing.IO[bytes], filename: _typing.Union[str, bytes],
           all_frames: bool) -> None:
    """Writes `im` (every frame and appended image when `all_frames`) to
    `fp`, named `filename`."""
    options: dict[str, _typing.Any] = getattr(im, "encoderinfo", {})
    frames = (_frames(im, options.get("append_images", [])) if all_frames
              else iter([im]))
    planes: list[_npt.NDArray[_np.uint8]] = []
    colour_map = None
    for frame in frames:
        if len(planes) == _btreeimg.MAX_PLANES:
            raise ValueError(f"{FORMAT} holds at most {_btreeimg.MAX_PLANES} "
                             "planes")
        pixels, entries = _pixels_of(frame)
        planes.append(pixels)
        if colour_map is None:
            colour_map = entries
    pack = options.get("pack")
    target = fp.name if isinstance(fp, _Target) else _target_path(fp, filename)
    if target is not None:
        _btreeimg.write(target, planes, pack=pack, colour_map=colour_map)
        return
    # A stream without a file name: write a temporary file, copy it in.
    handle, path = _tempfile.mkstemp(suffix=EXTENSION)
    _os.close(handle)
    try:
        _btreeimg.write(path, planes, pack=pack, colour_map=colour_map)
        with open(path, "rb") as written:
            while chunk := written.read(1 << 20):
                fp.write(chunk)
    finally:
        _os.remove(path)


def _target_path(fp: _typing.IO[bytes],
                 filename: _typing.Union[str, bytes]) -> _typing.Optional[_typing.Union[str, bytes]]:
    """The file's path when `fp` is the file Pillow opened for `filename`,
    else None. The library replaces that file whole; Pillow then writes
    nothing more through `fp`."""
    name = getattr(fp, "name", None)
    if isinstance(filename, (str, bytes)) and filename and name is not None:
        try:
            if _os.path.samefile(name, filename):
                return filename
        except (OSError, TypeError):
            pass
    return None


class _Target:
    """The file a save names, handed to the save handler in place of the
    file Pillow would open (and so truncate) for writing: the handler checks
    the whole image, then the library replaces the file in one step."""

    def __init__(self, name: _typing.Union[str, bytes]) -> None:
        """The target named `name`."""
        self.name = name


#: Pillow's own Image.save, which _save_without_truncating calls (once
#: wrapped, what the wrapper wraps).
_pillow_save = getattr(_Image.Image.save, "_btreeimg_wraps", _Image.Image.save)


def _saves_here(fp: _typing.Any, format: _typing.Optional[str]) -> bool:
    """Whether Pillow would save to the file name `fp` in this format."""
    if not isinstance(fp, (str, bytes, _pathlib.Path)):
        return False
    if format:
        return format.upper() in _SAVE_NAMES
    name = _os.fsdecode(_os.fspath(fp))
    return _Image.EXTENSION.get(_os.path.splitext(name)[1].lower()) == FORMAT


@_functools.wraps(_pillow_save)
def _save_without_truncating(self: _Image.Image, fp: _typing.Any,
                             format: _typing.Optional[str] = None,
                             **params: _typing.Any) -> None:
    """Pillow's Image.save, except that a save in this format to a file
    name leaves the file to the library (see _Target)."""
    if _saves_here(fp, format):
        fp = _Target(str(fp) if isinstance(fp, _pathlib.Path) else fp)
    _pillow_save(self, fp, format, **params)


def _save(im: _Image.Image, fp: _typing.IO[bytes], filename: _typing.Union[str, bytes]) -> None:
    """Pillow's save handler: the image as one plane."""
    _write(im, fp, filename, all_frames=False)


def _save_all(im: _Image.Image, fp: _typing.IO[bytes],
              filename: _typing.Union[str, bytes]) -> None:
    """Pillow's save_all handler: every frame and appended image as planes."""
    _write(im, fp, filename, all_frames=True)


# ---- imageio ----------------------------------------------------------------

def _register_with_imageio(imageio: _types.ModuleType) -> None:
    """Adds the format to the registry of an imageio that keeps one of its
    own Pillow formats (2.x up to its Pillow rewrite): read through Pillow,
    one image per plane. Nothing for other versions."""
    registry = getattr(imageio, "formats", None)
    plugins = getattr(imageio, "plugins", None)
    pillow_format = getattr(getattr(plugins, "pillow", None), "PillowFormat", None)
    if pillow_format is None or registry is None or not hasattr(registry, "add_format"):
        return
    entry = pillow_format(f"{FORMAT}-PIL", BtreeImgImageFile.format_description,
                          EXTENSION, "iI")
    entry._plugin_id = FORMAT
    try:
        registry.add_format(entry)
    except ValueError:
        pass  # registered before


class _ImageioHook(_importlib_abc.MetaPathFinder):
    """Registers the format once imageio's package has been imported (it
    takes a second to import, so this module does not import it): finds
    where imageio is imported from and hands the import a loader that
    registers after running the package."""

    def __init__(self) -> None:
        """A hook not searching yet."""
        self._searching = False

    def find_spec(self, fullname: str, path: _typing.Any = None,
                  target: _typing.Any = None) -> _typing.Optional[_importlib_machinery.ModuleSpec]:
        """How imageio is imported, its loader wrapped; None for other
        modules."""
        if fullname != "imageio" or self._searching:
            return None
        self._searching = True  # the search below asks this finder too
        try:
            found = _importlib_util.find_spec(fullname)
        finally:
            self._searching = False
        if found is not None and found.loader is not None:
            found.loader = _RegisteringLoader(found.loader, self)
        return found


class _RegisteringLoader(_importlib_abc.Loader):
    """imageio's loader, registering the format after running the package."""

    def __init__(self, loader: _importlib_abc.Loader, hook: _ImageioHook) -> None:
        """Wraps `loader`, found by `hook`."""
        self._loader = loader
        self._hook = hook

    def create_module(self, entry: _importlib_machinery.ModuleSpec) -> _typing.Optional[_types.ModuleType]:
        """imageio's loader's module."""
        return self._loader.create_module(entry)

    def exec_module(self, module: _types.ModuleType) -> None:
        """Runs imageio's package, then registers the format; the module
        keeps imageio's own loader, and the hook's work is done."""
        module.__loader__ = self._loader
        if module.__spec__ is not None:
            module.__spec__.loader = self._loader
        self._loader.exec_module(module)
        if self._hook in _sys.meta_path:
            _sys.meta_path.remove(self._hook)
        _register_with_imageio(module)


_Image.register_open(FORMAT, BtreeImgImageFile, _accept)
for _name in _SAVE_NAMES:
    _Image.register_save(_name, _save)
    _Image.register_save_all(_name, _save_all)
_Image.register_extension(FORMAT, EXTENSION)
_Image.register_mime(FORMAT, "image/x-btreeimg")
_save_without_truncating._btreeimg_wraps = _pillow_save  # type: ignore[attr-defined]
setattr(_Image.Image, "save", _save_without_truncating)
if "imageio" in _sys.modules:
    _register_with_imageio(_sys.modules["imageio"])
elif not any(isinstance(finder, _ImageioHook) for finder in _sys.meta_path):
    _sys.meta_path.insert(0, _ImageioHook())
