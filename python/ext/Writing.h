// Writing a new image file from numpy arrays.
#ifndef BTREEIMG_PYTHON_WRITING_H_
#define BTREEIMG_PYTHON_WRITING_H_

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace btreeimg::python {

// Writes `planes` (1 to 5 two-dimensional uint8 arrays of one shape, any
// strides) as a new image `path` in encoding `pack`, with the 768-byte colour
// map `colourMap`, the GIL released. The file is replaced only when every
// line was written: a refused line or any failure drops the image unsaved,
// and a file of that name stays as it was. Throws std::invalid_argument for
// arrays of the wrong type, shape or count, and for a plane that does not fit
// the file's layout; the library's exceptions otherwise.
void writeImage(const std::string& path,
                const std::vector<pybind11::array>& planes, int pack,
                const std::string& colourMap);

}  // namespace btreeimg::python

#endif  // BTREEIMG_PYTHON_WRITING_H_
