#include "OpenImage.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "Errors.h"
#include "framework/ByteOrder.h"
#include "image/HeaderLayout.h"

namespace py = pybind11;
namespace block = btreeimg::detail::block;

namespace btreeimg::python {
namespace {

// A new zero-filled uint8 array. numpy.zeros takes its memory from calloc,
// which hands out a large block as fresh zero pages: no cost beyond malloc's.
// Zeros matter where a damaged plane leaves part of a line unwritten.
py::array_t<unsigned char> zeros(py::tuple shape) {
  static const char* const kType = "uint8";
  return py::module_::import("numpy").attr("zeros")(shape, kType);
}

}  // namespace

OpenImage::OpenImage(const std::string& path) : path_(path) {
  {
    py::gil_scoped_release released;
    image_ = std::make_unique<BtreeImg>(path_.c_str());
  }
  BtreeImg& im = *image_;
  version_ = im.Version();
  // Opening refuses more than 5 planes; a count below 1 holds one plane.
  planeCount_ = std::clamp<int>(im.nPiani(), 1, 5);
  unsigned char fields[block::kSize];
  for (int p = 1; p <= planeCount_; ++p) {
    const short plane = static_cast<short>(p);
    width_[p - 1] = im.dimx(plane);
    height_[p - 1] = im.dimy(plane);
    im.readHeader(fields, plane);
    int pack = detail::loadU16(fields + block::kPackAt);
    // Plane 1 of version 4 reads as raw for any value other than 1 and 2.
    if (p == 1 && version_ == 4 && pack != 1 && pack != 2) pack = 0;
    encoding_[p - 1] = pack;
  }
}

std::pair<unsigned, unsigned> OpenImage::shape(int plane) const {
  if (plane < 1 || plane > planeCount_) {
    throw std::invalid_argument("plane " + std::to_string(plane) +
                                " out of range 1.." +
                                std::to_string(planeCount_));
  }
  return {height_[plane - 1], width_[plane - 1]};
}

int OpenImage::encoding(int plane) const {
  shape(plane);
  return encoding_[plane - 1];
}

int OpenImage::readablePlane(int plane) const {
  const int pack = encoding(plane);
  if (pack < 0 || pack > 2) {
    throw FormatProblem(path_ + ": plane " + std::to_string(plane) +
                        " has encoding " + std::to_string(pack) +
                        ", which the format does not define");
  }
  return plane;
}

BtreeImg& OpenImage::image() {
  if (!image_) throw std::invalid_argument("the image is closed");
  return *image_;
}

py::array_t<unsigned char> OpenImage::plane(int plane) {
  readablePlane(plane);
  const unsigned width = width_[plane - 1];
  const unsigned height = height_[plane - 1];
  py::array_t<unsigned char> out = zeros(py::make_tuple(height, width));
  unsigned char* rows = out.mutable_data();
  {
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> lock(mutex_);
    BtreeImg& im = image();
    for (unsigned y = 0; y < height; ++y) {
      im.at(y, static_cast<short>(plane), rows + std::size_t{y} * width);
    }
  }
  return out;
}

py::array_t<unsigned char> OpenImage::line(long long line, int plane) {
  readablePlane(plane);
  const unsigned height = height_[plane - 1];
  if (line < 0 || line >= height) {
    throw std::invalid_argument("line " + std::to_string(line) +
                                " out of range 0.." +
                                std::to_string(static_cast<long long>(height) - 1));
  }
  py::array_t<unsigned char> out = zeros(py::make_tuple(width_[plane - 1]));
  unsigned char* row = out.mutable_data();
  {
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> lock(mutex_);
    image().at(static_cast<unsigned>(line), static_cast<short>(plane), row);
  }
  return out;
}

py::array_t<unsigned char> OpenImage::colourMap() {
  py::array_t<unsigned char> out({256, 3});
  unsigned char* entries = out.mutable_data();
  {
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> lock(mutex_);
    image().readMap(entries);
  }
  return out;
}

int OpenImage::cover(const std::string& rules, const std::string& output) {
  py::gil_scoped_release released;
  std::lock_guard<std::mutex> lock(mutex_);
  return image().CoperturaU8(CString(rules.c_str()), CString(output.c_str()));
}

void OpenImage::close() {
  closed_ = true;
  std::unique_ptr<BtreeImg> taken;
  {
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> lock(mutex_);
    taken = std::move(image_);
  }
  // An opened image is never written back: destroying it only frees memory.
  py::gil_scoped_release released;
  taken.reset();
}

}  // namespace btreeimg::python
