// An image opened for reading from Python: a btreeimg::ImageReader behind a
// mutex.
//
// At open only the file's layout is inspected; each plane or line is read
// from the file when asked (see ImageReader.h). The image is read from a
// descriptor of its own, so that it keeps reading the file it opened even
// when the name comes to stand for another file; or from a bytes object
// that it keeps alive.
//
// The bindings release the GIL while the library works, so two Python threads
// may call into the same OpenImage at once (one reading a plane while another
// closes the image). Every use of the reader therefore takes the mutex, and
// always after the GIL has been released, so that no thread holds the mutex
// while it waits for the GIL. The image's dimensions, version, encodings and
// colour map never change after opening; they are read once, so that the
// cheap queries need neither the mutex nor the GIL released.
#ifndef BTREEIMG_PYTHON_OPENIMAGE_H_
#define BTREEIMG_PYTHON_OPENIMAGE_H_

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "framework/Exceptions.h"
#include "image/ImageReader.h"

namespace btreeimg::python {

class OpenImage {
 public:
  // Opens the image file `path`. Throws OsProblem when it cannot be opened
  // (or is a folder), and FormatProblem ("<path>: <why>", in ImageCheck's
  // words) when it is no usable image or, unless `lenient`, when its layout
  // is damaged. A lenient image reads what the file holds: zeros where it
  // holds nothing.
  OpenImage(const std::string& path, bool lenient);
  // The same for the file open at `descriptor` (read through a duplicate;
  // the caller's descriptor and its position stay as they are), and for the
  // bytes of `data` (kept alive as long as the image is open). Messages
  // start with "<name>: " when `name` is not empty.
  static std::unique_ptr<OpenImage> fromDescriptor(int descriptor,
                                                   const std::string& name,
                                                   bool lenient);
  static std::unique_ptr<OpenImage> fromBytes(pybind11::bytes data,
                                              const std::string& name,
                                              bool lenient);
  OpenImage(const OpenImage&) = delete;
  OpenImage& operator=(const OpenImage&) = delete;
  ~OpenImage();

  bool lenient() const { return lenient_; }
  int version() const { return version_; }
  // Planes the image holds, 1 to 5.
  int planeCount() const { return planeCount_; }
  // (height, width) of `plane`: every plane is read with plane 1's line
  // length and line count. std::invalid_argument outside 1..planeCount.
  std::pair<unsigned, unsigned> shape(int plane) const;
  // The plane's encoding field: 0 raw, 1 packed, 2 whole-plane packed, or
  // the undefined value a damaged file states.
  int encoding(int plane) const;
  // Why reading a plane costs more than `limit` pixels (ImageReader's
  // words), or "" when it does not.
  std::string limitProblem(unsigned long long limit) const;
  // Where a raw plane's lines start in the file, when the plane can be
  // mapped as it stands: a raw plane whose whole region (height x width
  // bytes, line after line) the file holds, in a file read through a
  // descriptor whose layout the inspection at open found sound. -1 for
  // every other plane (packed, damaged, read from bytes).
  long long mappableOffset(int plane) const;
  // A new close-on-exec duplicate of the image's descriptor, which the
  // caller closes. Throws std::invalid_argument for an image read from
  // bytes or closed.
  int duplicateDescriptor();

  // What the full structural check finds in the file: the problems (empty
  // when it is sound) and their summary. The check reads the whole file,
  // the first time it is asked for (the GIL released).
  const std::vector<std::string>& problems();
  const std::string& summary();
  // Why plane `plane` may not be read strictly, in the full check's words
  // for the problems that concern it (ImageCheck::PlaneSummary); empty
  // when the plane is sound, though another plane may be damaged.
  std::string planeSummary(int plane);

  // A new (height, width) uint8 array holding the plane. Throws
  // FormatProblem (strict) for a damaged plane or its first damaged line,
  // and (lenient) for a damaged plane that states more pixels than the
  // file can hold; a lenient read of an undefined encoding gives zeros.
  pybind11::array_t<unsigned char> plane(int plane);
  // A new (width,) uint8 array holding line `line` (0 .. height-1).
  pybind11::array_t<unsigned char> line(long long line, int plane);
  // A new (256, 3) uint8 array: the colour map of the first block.
  pybind11::array_t<unsigned char> colourMap() const;
  // Colour coverage of plane 1 into `output` (BtreeImg::CoperturaU8, on
  // the file this image reads), which is replaced only when a pixel
  // changed: the run writes into a private folder beside it, and a changed
  // result is copied over `output` through btreeimg::FileReplacement.
  // Returns whether a pixel changed. Throws OsProblem or CFileException*
  // when a file cannot be written (an existing `output` is then as it was),
  // std::invalid_argument for an image read from memory.
  bool cover(const std::string& rules, const std::string& output);

  // Closes the file; later calls throw ValueError. A second call does
  // nothing.
  void close();
  bool closed() const { return closed_; }

 private:
  OpenImage(bool lenient, std::string name);
  // Makes the reader from descriptor_ or data_ (the GIL released), and
  // notes what never changes. Throws as the constructor says.
  void open();
  // Throws `e` (deleted here) as FormatProblem or OsProblem, named.
  [[noreturn]] void rethrow(CFileException* e) const;
  // "<name>: " + text, or text alone when the image has no name.
  std::string named(const std::string& text) const;
  // Plane number checked against 1..planeCount (std::invalid_argument).
  void readablePlane(int plane) const;
  // The reader; the caller holds mutex_. std::invalid_argument when closed.
  ImageReader& reader();

  std::mutex mutex_;
  std::string name_;
  bool lenient_;
  int descriptor_ = -1;  // the image's own; -1 for bytes
  // Declared before the reader, which borrows its bytes: destroyed after it.
  pybind11::object bytes_;
  const unsigned char* data_ = nullptr;
  unsigned long long size_ = 0;
  std::unique_ptr<ImageReader> reader_;
  bool closed_ = false;  // written and read with the GIL held
  bool checked_ = false;
  std::vector<std::string> problems_;
  std::string summary_;
  std::string planeSummaries_[5];
  int version_ = 0;
  int planeCount_ = 0;
  unsigned width_ = 0;
  unsigned height_ = 0;
  int encoding_[5] = {};
  long long mappable_[5] = {-1, -1, -1, -1, -1};
  unsigned char map_[768] = {};
};

}  // namespace btreeimg::python

#endif  // BTREEIMG_PYTHON_OPENIMAGE_H_
