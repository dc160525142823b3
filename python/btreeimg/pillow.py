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

Opening: frame k is plane k + 1; load() decodes the plane through the C++
library (every encoding), the image file having been read whole when it was
opened. Saving: "P" images keep their palette, "L" images get a grey ramp;
with save_all=True the appended images (and the frames of a multi-frame
image) become further planes, 1 to 5 in all, of one size; the colour map is
the first image's. The save parameter ``pack`` picks the encoding (0 raw,
1 packed line by line, the default, 2 packed as a whole plane). Other modes
raise ValueError naming the mode.
"""

import os
import tempfile

import numpy as np
from PIL import Image, ImageFile, ImagePalette, ImageSequence

import btreeimg

FORMAT = "BTREEIMG"
EXTENSION = ".dis"
__all__ = ["BtreeImgImageFile", "FORMAT", "EXTENSION"]


def _accept(prefix):
    """A first guess from the file's first bytes: the version field (a
    16-bit little-endian 2, 3 or 4). Opening through the library decides."""
    return len(prefix) >= 2 and prefix[1] == 0 and prefix[0] in (2, 3, 4)


class BtreeImgImageFile(ImageFile.ImageFile):
    """A btreeimg image file opened by Pillow: mode "P", one frame per
    plane."""

    format = FORMAT
    format_description = "btreeimg multi-plane 8-bit image"
    _close_exclusive_fp_after_loading = False

    def _open(self):
        """Opens the file through the library and describes plane 1."""
        self._image = None
        self._temporary = None
        try:
            # The library reads the file whole here and never again.
            self._image = btreeimg.open(self._source_path())
        except btreeimg.FormatError as error:
            raise SyntaxError(f"not a btreeimg image file: {error}") from error
        finally:
            self._drop_temporary()
        self._plane_index = 0
        self._loaded_plane = None
        self.n_frames = self._image.plane_count
        self.is_animated = self.n_frames > 1
        if isinstance(getattr(type(self), "mode", None), property):
            self._mode = "P"  # newer Pillow: mode is read-only
        else:
            self.mode = "P"
        self.palette = ImagePalette.raw("RGB", self._image.colour_map.tobytes())
        self._describe_plane()
        self.tile = []

    def _source_path(self):
        """A path the library can open: the file's own name, or a temporary
        copy of a stream that has none (removed once opened)."""
        if self.filename and os.path.isfile(self.filename):
            return self.filename
        self.fp.seek(0)
        handle, path = tempfile.mkstemp(suffix=EXTENSION)
        with os.fdopen(handle, "wb") as copy:
            while chunk := self.fp.read(1 << 20):
                copy.write(chunk)
        self._temporary = path
        return path

    def _drop_temporary(self):
        """Removes the temporary copy of a stream, if one was made."""
        if getattr(self, "_temporary", None):
            os.remove(self._temporary)
            self._temporary = None

    def _describe_plane(self):
        """Sets the size to the current plane's."""
        height, width = self._image.shape(self._plane_index + 1)
        self._size = (width, height)

    def seek(self, frame):
        """Moves to frame `frame`: plane frame + 1."""
        if not self._seek_check(frame):
            return
        self._plane_index = frame
        self._describe_plane()
        self.im = None  # decoded again by the next load()

    def tell(self):
        """The current frame: the plane number less one."""
        return self._plane_index

    def load(self):
        """Decodes the current plane through the library (once per seek)."""
        if self._image is None:
            raise ValueError("cannot load a closed image")
        if self.im is None or self._loaded_plane != self._plane_index:
            pixels = self._image.plane(self._plane_index + 1)
            # The new image maps the array's memory; Pillow copies it before
            # any change (readonly).
            self.im = Image.frombuffer("P", self.size, pixels, "raw", "P", 0,
                                       1).im
            self.readonly = 1
            self._loaded_plane = self._plane_index
            self.palette.dirty = 1
        return Image.Image.load(self)

    def close(self):
        """Closes the file and frees the image the library holds."""
        if getattr(self, "_image", None) is not None:
            self._image.close()
            self._image = None
        super().close()


def _pixels_of(im):
    """The plane data and colour map of one Pillow image to be saved."""
    if im.mode not in ("P", "L"):
        raise ValueError(f"cannot write mode {im.mode} as {FORMAT} "
                         "(only P and L)")
    im.load()
    pixels = np.asarray(im, dtype=np.uint8)
    if im.mode == "L":
        return pixels, btreeimg.grey_ramp()
    entries = np.zeros(768, dtype=np.uint8)
    palette = im.getpalette("RGB") or []
    entries[:len(palette)] = palette[:768]
    return pixels, entries.reshape(256, 3)


def _frames(im, append_images):
    """Every frame of `im`, then every frame of each appended image. A
    frame is yielded once its image has moved to it: use it before asking
    for the next one."""
    for source in [im, *append_images]:
        start = source.tell()
        try:
            yield from ImageSequence.Iterator(source)
        finally:
            source.seek(start)


def _write(im, fp, filename, all_frames):
    """Writes `im` (every frame and appended image when `all_frames`) to
    `fp`, named `filename`."""
    options = im.encoderinfo
    frames = _frames(im, options.get("append_images", [])) if all_frames else [im]
    planes, colour_map = [], None
    for frame in frames:
        if len(planes) == btreeimg.MAX_PLANES:
            raise ValueError(f"{FORMAT} holds at most {btreeimg.MAX_PLANES} "
                             "planes")
        pixels, entries = _pixels_of(frame)
        planes.append(pixels)
        if colour_map is None:
            colour_map = entries
    pack = options.get("pack", 1)
    target = _target_path(fp, filename)
    if target is not None:
        btreeimg.write(target, planes, pack=pack, colour_map=colour_map)
        return
    # A stream without a file name: write a temporary file, copy it in.
    handle, path = tempfile.mkstemp(suffix=EXTENSION)
    os.close(handle)
    try:
        btreeimg.write(path, planes, pack=pack, colour_map=colour_map)
        with open(path, "rb") as written:
            while chunk := written.read(1 << 20):
                fp.write(chunk)
    finally:
        os.remove(path)


def _target_path(fp, filename):
    """The file's path when `fp` is the file Pillow opened for `filename`,
    else None. The library replaces that file whole; Pillow then writes
    nothing more through `fp`."""
    name = getattr(fp, "name", None)
    if isinstance(filename, (str, bytes)) and filename and name is not None:
        try:
            if os.path.samefile(name, filename):
                return filename
        except (OSError, TypeError):
            pass
    return None


def _save(im, fp, filename):
    """Pillow's save handler: the image as one plane."""
    _write(im, fp, filename, all_frames=False)


def _save_all(im, fp, filename):
    """Pillow's save_all handler: every frame and appended image as planes."""
    _write(im, fp, filename, all_frames=True)


Image.register_open(FORMAT, BtreeImgImageFile, _accept)
Image.register_save(FORMAT, _save)
Image.register_save_all(FORMAT, _save_all)
Image.register_extension(FORMAT, EXTENSION)
Image.register_mime(FORMAT, "image/x-btreeimg")
