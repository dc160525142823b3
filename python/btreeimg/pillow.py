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
does not apply.

Saving: "P" images keep their palette, "L" images get a grey ramp; with
save_all=True the appended images (and the frames of a multi-frame image)
become further planes, 1 to 5 in all, of one size; the colour map is the
first image's. The save parameter ``pack`` picks the encoding of every
plane (0 raw, 1 packed line by line, 2 packed as a whole plane); without
it each plane is packed where that fits and raw otherwise. Other modes
raise ValueError naming the mode.
"""

import os as _os
import tempfile as _tempfile
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
    _close_exclusive_fp_after_loading = False

    def _open(self) -> None:
        """Opens the file through the library and describes plane 1."""
        self._image: _typing.Optional[_btreeimg.Image] = None
        # Why load() refuses the file unless ImageFile.LOAD_TRUNCATED_IMAGES
        # (None: nothing found yet).
        self._damage: _typing.Optional[str] = None
        try:
            self._image = self._reader(lenient=False)
        except _btreeimg.FormatError as refused:
            # A damaged file opens; load() refuses it (Pillow's convention).
            try:
                self._image = self._reader(lenient=True)
            except _btreeimg.FormatError as error:
                raise SyntaxError(f"not a btreeimg image file: {error}") from error
            self._damage = str(refused)
        try:
            self._bomb_check()
        except BaseException:
            # Pillow drops the object; the stream is the caller's.
            self._open_image().close()
            self._image = None
            raise
        self._plane_index = 0
        self._loaded_plane: _typing.Optional[int] = None
        self.n_frames = self._image.plane_count
        self.is_animated = self.n_frames > 1
        if isinstance(getattr(type(self), "mode", None), property):
            self._mode = "P"  # newer Pillow: mode is read-only
        else:
            self.mode = "P"
        self.palette = _ImagePalette.raw(  # type: ignore[no-untyped-call]
            "RGB", self._image.colour_map.tobytes())
        self._size = self._plane_size(0)
        self.tile = []

    def _reader(self, lenient: bool) -> _btreeimg.Image:
        """The library's image of the stream Pillow opened: read from its
        file's descriptor when it is a regular file, else from its bytes.
        Messages name no file, as Pillow's own do not."""
        return _btreeimg.Image._from_stream(self.fp, "", lenient=lenient)

    def _bomb_check(self) -> None:
        """Pillow's guard against decompression bombs, on what reading a
        plane costs: its pixels, and at least one per line."""
        height, width = self._open_image().shape(1)
        _Image._decompression_bomb_check((max(width, 1), height))  # type: ignore[attr-defined]

    def _open_image(self) -> _btreeimg.Image:
        """The library's image; ValueError once closed."""
        image: _typing.Optional[_btreeimg.Image] = getattr(self, "_image", None)
        if image is None:
            raise ValueError("Operation on closed image")
        return image

    def _plane_size(self, index: int) -> tuple[int, int]:
        """(width, height) of frame `index`."""
        height, width = self._open_image().shape(index + 1)
        return width, height

    def seek(self, frame: int) -> None:
        """Moves to frame `frame` (plane frame + 1) and decodes it, after
        Pillow's guard against decompression bombs (Image.MAX_IMAGE_PIXELS)
        has passed its size."""
        if not 0 <= frame < self.n_frames:
            raise EOFError("attempt to seek outside sequence")
        if frame == self._plane_index and self.im is not None:
            return
        self._bomb_check()
        self._plane_index = frame
        self._size = self._plane_size(frame)
        self._decode()

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
            self._image = self._reader(lenient=True)
            image.close()
            image = self._image
            try:
                pixels = image._read_plane(self._plane_index + 1, None)
            except _btreeimg.FormatError as again:
                raise OSError(str(again)) from again
        # The new image maps the array's memory; Pillow copies it before any
        # change (readonly).
        self.im = _Image.frombuffer("P", self.size, pixels, "raw", "P", 0, 1).im
        self.readonly = 1
        self._loaded_plane = self._plane_index
        self.palette.dirty = 1
        _Image.Image.load(self)  # hands the palette to the new image

    def load(self) -> _typing.Any:
        """Decodes the current plane through the library (once per frame)."""
        self._open_image()
        if self.im is None or self._loaded_plane != self._plane_index:
            self._decode()
        return _Image.Image.load(self)

    def close(self) -> None:
        """Closes the file and frees the image the library holds."""
        image = getattr(self, "_image", None)
        if image is not None:
            image.close()
            self._image = None
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
    target = _target_path(fp, filename)
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


def _save(im: _Image.Image, fp: _typing.IO[bytes], filename: _typing.Union[str, bytes]) -> None:
    """Pillow's save handler: the image as one plane."""
    _write(im, fp, filename, all_frames=False)


def _save_all(im: _Image.Image, fp: _typing.IO[bytes],
              filename: _typing.Union[str, bytes]) -> None:
    """Pillow's save_all handler: every frame and appended image as planes."""
    _write(im, fp, filename, all_frames=True)


_Image.register_open(FORMAT, BtreeImgImageFile, _accept)
_Image.register_save(FORMAT, _save)
_Image.register_save_all(FORMAT, _save_all)
_Image.register_extension(FORMAT, EXTENSION)
_Image.register_mime(FORMAT, "image/x-btreeimg")
