// Writing a new image file from numpy arrays.
#ifndef BTREEIMG_PYTHON_WRITING_H_
#define BTREEIMG_PYTHON_WRITING_H_

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace btreeimg::python {

// Writes `planes` (1 to 5 two-dimensional uint8 arrays of one shape, any
// strides) as a new image `path` through btreeimg::ImageWriter, with the
// 768-byte colour map `colourMap`, the GIL released. `pack` is every plane's
// encoding (0 raw, 1 packed, 2 whole-plane packed), or below 0 to choose
// raw or packed plane by plane. The file is replaced only when every line
// was written: any failure drops the image unsaved, and a file of that name
// stays as it was. Throws std::invalid_argument for arrays of the wrong
// type, shape or count, a NUL byte in `path`, and for a plane of the asked
// encoding that does not fit the file's layout; the library's exceptions
// otherwise.
void writeImage(const std::string& path,
                const std::vector<pybind11::array>& planes, int pack,
                const std::string& colourMap);

}  // namespace btreeimg::python

#endif  // BTREEIMG_PYTHON_WRITING_H_
