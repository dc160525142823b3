// Reading an image file without reading all of it: what opening costs
// follows the header blocks, and what each line costs follows that line.
//
// BtreeImg reads the whole file into memory when it opens it, which a host
// that edits images needs. A program that only looks at an image (a viewer, a
// thumbnailer, a converter) opens it with an ImageReader instead:
//   - at open, the header blocks are read and the file's layout inspected
//     (ImageCheck with layoutOnly: every plane located, its encoding, and
//     its region inside the file; no line is decoded);
//   - each line is read when asked: a raw line with one read, a packed line
//     from its two table entries and its code, a whole-plane packed line
//     from the stream, which is walked once, on the first read of the
//     plane, to note where each line starts.
// The file is read with pread on a descriptor of the reader's own, never
// mapped, so that nothing done to the file sends the process a signal. The
// file's size at open is what the reader goes by:
//   - bytes beyond the end the file had then read as zeros (lines a created
//     image never wrote before it was saved; the inspection calls such a
//     file sound when it ends at a line's start);
//   - bytes it held then and no longer holds (a file cut short while open)
//     make a strict reader's read fail with CFileException* (cause
//     endOfFile), in raw, packed and whole-plane packed planes alike; a
//     lenient reader reads them as zeros;
//   - bytes changed in place are read as they are when read: a strict
//     reader refuses a line whose code then no longer decodes to the line,
//     as any damaged line, but other changes cannot be told from the
//     file's own content.
// Small reads go through a window of half a MiB read ahead at a time, so
// that lines read in order cost one pread per window: bytes already in the
// window are served as they were read, and a cut shows from the next window
// on.
//
// Damaged files. By default (strict) a file whose layout ImageCheck finds
// damaged is refused at open when none of its planes is sound; a damaged
// plane of a file that has a sound one is refused when it is read
// (ImageCheck::PlaneSummary's words), and a line whose code is damaged is
// refused when it is read, with ImageCheck's words for the problem. A lenient
// reader reads what the file holds: the bytes a damaged line's code gives
// inside its plane's region (code running past it is cut there, where
// BtreeImg would read on), zeros for the rest. A file that is no usable image is refused either way.
//
// Every plane is read with plane 1's line length and line count, as BtreeImg
// reads it. Planes count from 1, lines from 0. Not copyable; used by one
// thread at a time (different readers on different threads at once).
#ifndef BTREEIMG_IMAGE_IMAGEREADER_H_
#define BTREEIMG_IMAGE_IMAGEREADER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/CString.h"
#include "framework/Export.h"
#include "framework/Types.h"
#include "image/ImageCheck.h"

namespace btreeimg {

class AFX_EXT_CLASS ImageReader {
 public:
  // How a reader treats a damaged file (the constructors' `policy`).
  enum Policy {
    strict = 0,   // refuse damaged files and damaged lines
    lenient = 1,  // read what the file holds, zeros where it holds nothing
  };

  // Opens the image file `path` for reading. Throws CFileException*: with
  // the cause and errno of the failure when it cannot be opened, with cause
  // accessDenied when it is not a regular file (a FIFO, a device, a folder),
  // and with cause invalidFile and ImageCheck::Summary()'s text when it is no
  // usable image or (strict) a damaged one without a sound plane.
  explicit ImageReader(const char* path, int policy = strict);
  // The same for the file open at `descriptor` (read through a duplicate of
  // it; the caller's descriptor and its position stay as they are). A
  // descriptor open for writing only, or only as a path, is refused with
  // the system's error EBADF.
  explicit ImageReader(int descriptor, int policy = strict);
  // The same for the `size` bytes at `data`, which must stay valid and
  // unchanged while the reader lives (they are not copied).
  ImageReader(const void* data, ULONGLONG size, int policy = strict);
  ImageReader(const ImageReader&) = delete;
  ImageReader& operator=(const ImageReader&) = delete;
  // Closes the reader's own descriptor.
  ~ImageReader();

  // The inspection made at open (its verdict, problems and plane layouts).
  const ImageCheck& inspection() const { return check_; }
  // The format version (2, 3 or 4) and the plane count, as inspected.
  int version() const { return check_.Version(); }
  int planes() const { return check_.PlaneCount(); }
  // The line length and line count every plane is read with (plane 1's).
  unsigned int width() const { return width_; }
  unsigned int height() const { return height_; }
  // Plane `plane`'s encoding field: 0 raw, 1 packed, 2 whole-plane packed
  // (another value only in a damaged file read leniently). Throws
  // CInvalidArgException* for an unknown plane.
  int encoding(int plane) const;
  // The 256-entry colour map into `map` (768 bytes: red, green, blue).
  void colourMap(unsigned char* map) const;
  // The file's first header block into `out` (1312 bytes) as the file
  // holds it. Throws CFileException* (cause endOfFile) when the file no
  // longer holds it whole.
  void firstBlock(unsigned char* out);

  // What reading one whole plane costs, counted in pixels: width() x
  // height(), and at least height() (a plane of empty lines still takes a
  // step per line) and at least width() (a plane of no lines still needs a
  // line buffer of its width to be read or written). Readers of files from anywhere refuse planes that cost
  // more than a limit they state (kDefaultPixelLimit unless their user
  // raised it) before reading them, so that a small file cannot make them
  // spend gigabytes or minutes.
  ULONGLONG planeCost() const;
  // A limit fit for a thumbnailer or a viewer: 2^28 pixels (256 Mi), a
  // plane of 16384 x 16384.
  static constexpr ULONGLONG kDefaultPixelLimit = ULONGLONG{1} << 28;
  // Whether a plane costs more than `limit`: the refusal in words ("the
  // image states 65535 x 65535 pixels, more than the limit of 268435456"),
  // or an empty text when it does not. The caller adds how its user raises
  // the limit.
  CString limitProblem(ULONGLONG limit) const;
  // The most pixels a file's bytes can make: a run pair of 2 bytes makes at
  // most 255 pixels, so no plane a file codes once holds more than 128
  // pixels a byte of the file.
  static constexpr ULONGLONG kMostPixelsPerByte = 128;
  // Whether a plane costs more than kMostPixelsPerByte times the file's
  // size: the refusal in words ("the image states 1 x 268435456 pixels,
  // more than its 1336 bytes can hold ..."), or an empty text. A damaged
  // file read leniently whole gives zeros for what it lacks, so without
  // this bound a small file could make a reader produce gigabytes of
  // nothing; readers refuse such a whole-plane read (reading a few lines,
  // for a thumbnail, stays cheap). A sound file whose lines share their
  // code may state more, and is read as it is.
  CString capacityProblem() const;

  // Reads line `line` of `plane` into `out` (width() bytes). Returns how many
  // bytes the file gave; the rest of the line is set to zero. That is
  // width() for every line written of a sound plane; 0 for a line never
  // written (see above); fewer also for a damaged line read leniently, or a
  // plane read leniently that the file does not hold.
  // Throws CInvalidArgException* for an unknown plane or a line outside
  // 0 .. height() - 1, and CFileException* when (strict) the file no
  // longer holds bytes it held at open (cut short since: cause endOfFile)
  // or the plane or the line is damaged (cause invalidFile, in
  // ImageCheck's words).
  std::size_t readLine(int plane, unsigned int line, unsigned char* out);
  // Reads `count` lines from `first` on into `out` (count x width() bytes,
  // line after line), as readLine would one by one; a raw plane's lines in
  // one read. Returns the bytes the file gave. Throws as readLine does, and
  // CInvalidArgException* when the lines run past the plane.
  ULONGLONG readLines(int plane, unsigned int first, unsigned int count,
                      unsigned char* out);

 private:
  struct PlaneState;

  void open(int policy);
  PlaneState& plane(int number);
  // The `n` bytes at `at` into `out`; fewer when the file ends before.
  ULONGLONG read(ULONGLONG at, unsigned char* out, ULONGLONG n);
  // The same bytes in place (memory) or in one of the reader's buffers,
  // valid until the next view or read; *got says how many there are.
  const unsigned char* view(ULONGLONG at, ULONGLONG n, ULONGLONG* got);
  [[noreturn]] void refuse(const CString& problem, int cause);
  [[noreturn]] void refuseLine(int plane, const std::string& fault);
  // Strict: refuses a plane the inspection at open found damaged.
  void requireSoundPlane(int plane);
  std::size_t readPacked(PlaneState& state, int plane, unsigned int line,
                         unsigned char* out);
  std::size_t readWhole(PlaneState& state, int plane, unsigned int line,
                        unsigned char* out);
  void indexStream(PlaneState& state, int plane);
  // Strict: indexes a whole-plane stream and refuses one that does not
  // decode to the plane, in ImageCheck's words.
  void requireSoundStream(PlaneState& state, int plane);

  CString name_;
  int descriptor_ = -1;
  const unsigned char* data_ = nullptr;
  ULONGLONG size_ = 0;
  int policy_ = strict;
  unsigned int width_ = 0;
  unsigned int height_ = 0;
  unsigned char map_[768] = {};
  ImageCheck check_;
  std::vector<std::unique_ptr<PlaneState>> planes_;
  std::vector<unsigned char> scratch_;
  // The bytes of the file last read through the window.
  std::vector<unsigned char> window_;
  ULONGLONG windowStart_ = 0;
  ULONGLONG windowLength_ = 0;
};

}  // namespace btreeimg

#endif  // BTREEIMG_IMAGE_IMAGEREADER_H_
