// An image file opened for reading from Python: a BtreeImg behind a mutex.
//
// The bindings release the GIL while the library works, so two Python threads
// may call into the same OpenImage at once (one reading a plane while another
// closes the image). Every use of the BtreeImg therefore takes the mutex, and
// always after the GIL has been released, so that no thread holds the mutex
// while it waits for the GIL. The image's dimensions, version and encodings
// never change after opening; they are read once, so that the cheap queries
// need neither the mutex nor the GIL released.
#ifndef BTREEIMG_PYTHON_OPENIMAGE_H_
#define BTREEIMG_PYTHON_OPENIMAGE_H_

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "image/BtreeImg.h"

namespace btreeimg::python {

class OpenImage {
 public:
  // Checks the image file `path` with ImageCheck, then opens and reads it
  // (the GIL released). Throws FormatProblem for a file the check finds
  // unusable, or damaged unless `lenient` (a lenient image reads what the
  // library reads: bytes the file does not hold read as 0); otherwise what
  // BtreeImg's opening constructor throws.
  OpenImage(const std::string& path, bool lenient);
  OpenImage(const OpenImage&) = delete;
  OpenImage& operator=(const OpenImage&) = delete;

  int version() const { return version_; }
  // The problems the check found when the image was opened (only a lenient
  // image has any), and their summary ("" when none).
  const std::vector<std::string>& problems() const { return problems_; }
  const std::string& summary() const { return summary_; }
  // Planes the image holds, 1 to 5.
  int planeCount() const { return planeCount_; }
  // (height, width) of `plane`; std::invalid_argument outside 1..planeCount.
  std::pair<unsigned, unsigned> shape(int plane) const;
  // The plane's encoding as the library reads it: 0 raw, 1 packed, 2
  // whole-plane packed, or the undefined value its block states.
  int encoding(int plane) const;

  // A new (height, width) uint8 array holding the plane.
  pybind11::array_t<unsigned char> plane(int plane);
  // A new (width,) uint8 array holding line `line` (0 .. height-1).
  pybind11::array_t<unsigned char> line(long long line, int plane);
  // A new (256, 3) uint8 array: the colour map of the first block.
  pybind11::array_t<unsigned char> colourMap();
  // Colour coverage of plane 1 into `output` (CoperturaU8), which is
  // replaced only when a pixel changed: the run writes into a private folder
  // beside it, and a changed result is copied over `output` through
  // btreeimg::FileReplacement. Returns whether a pixel changed. Throws
  // OsProblem or CFileException* when a file cannot be written (an existing
  // `output` is then as it was).
  bool cover(const std::string& rules, const std::string& output);

  // Frees the image; later calls throw ValueError. A second call does nothing.
  void close();
  bool closed() const { return closed_; }

 private:
  // Plane number checked against 1..planeCount (std::invalid_argument) and
  // its encoding against those the library reads (FormatProblem).
  int readablePlane(int plane) const;
  // Whether every read of `plane` fills the caller's line whole, so that its
  // rows need no zeros first. The caller holds mutex_.
  bool fillsWholeLines(BtreeImg& im, int plane);
  // The open image; the caller holds mutex_. std::invalid_argument when
  // closed.
  BtreeImg& image();

  std::mutex mutex_;
  std::unique_ptr<BtreeImg> image_;
  std::string path_;
  std::vector<std::string> problems_;
  std::string summary_;
  bool closed_ = false;  // written and read with the GIL held
  int version_ = 0;
  int planeCount_ = 0;
  unsigned width_[5] = {};
  unsigned height_[5] = {};
  int encoding_[5] = {};
};

}  // namespace btreeimg::python

#endif  // BTREEIMG_PYTHON_OPENIMAGE_H_
