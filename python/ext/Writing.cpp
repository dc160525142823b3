#include "Writing.h"

#include <climits>
#include <cstring>
#include <stdexcept>

#include "Errors.h"
#include "framework/Exceptions.h"
#include "image/ImageWriter.h"

namespace py = pybind11;
using btreeimg::ImageWriter;

namespace btreeimg::python {
namespace {

// One plane's pixels as the library will take them: rows `rowStride` bytes
// apart, pixels `pixelStride` bytes apart.
struct PlaneView {
  const unsigned char* data;
  py::ssize_t rowStride;
  py::ssize_t pixelStride;
};

std::vector<PlaneView> viewsOf(const std::vector<py::array>& planes,
                               py::ssize_t* height, py::ssize_t* width) {
  if (planes.empty() || planes.size() > 5) {
    throw std::invalid_argument("an image holds 1 to 5 planes, not " +
                                std::to_string(planes.size()));
  }
  std::vector<PlaneView> views;
  for (const py::array& plane : planes) {
    if (plane.dtype().kind() != 'u' || plane.itemsize() != 1 || plane.ndim() != 2) {
      throw std::invalid_argument("every plane must be a 2-D uint8 array");
    }
    if (views.empty()) {
      *height = plane.shape(0);
      *width = plane.shape(1);
    } else if (plane.shape(0) != *height || plane.shape(1) != *width) {
      throw std::invalid_argument("every plane must have the first one's shape");
    }
    views.push_back({static_cast<const unsigned char*>(plane.data()),
                     plane.strides(0), plane.strides(1)});
  }
  if (*height < 1 || *width < 1 || *height > INT_MAX || *width > INT_MAX) {
    throw std::invalid_argument("plane dimensions must lie in 1.." +
                                std::to_string(INT_MAX));
  }
  return views;
}

// Writes every line of every plane, in order.
void writeLines(ImageWriter& writer, const std::vector<PlaneView>& views,
                unsigned height, unsigned width) {
  std::vector<unsigned char> row(width);
  for (std::size_t p = 0; p < views.size(); ++p) {
    const PlaneView& view = views[p];
    for (unsigned y = 0; y < height; ++y) {
      const unsigned char* line = view.data + y * view.rowStride;
      if (view.pixelStride != 1) {
        for (unsigned x = 0; x < width; ++x) row[x] = line[x * view.pixelStride];
        line = row.data();
      }
      writer.writeLine(static_cast<int>(p + 1), y, line);
    }
  }
}

}  // namespace

void writeImage(const std::string& path, const std::vector<py::array>& planes,
                int pack, const std::string& colourMap) {
  requirePath(path);
  py::ssize_t height = 0;
  py::ssize_t width = 0;
  const std::vector<PlaneView> views = viewsOf(planes, &height, &width);
  if (colourMap.size() != 768) {
    throw std::invalid_argument("the colour map takes 768 bytes");
  }
  // The arrays stay alive and unresized: `planes` holds references to them,
  // and numpy refuses to resize an array another object refers to.
  py::gil_scoped_release released;
  try {
    ImageWriter writer(path.c_str(), pack < 0 ? ImageWriter::kChooseEncoding : pack,
                       static_cast<unsigned>(width), static_cast<unsigned>(height),
                       static_cast<int>(views.size()));
    writer.setColourMap(reinterpret_cast<const unsigned char*>(colourMap.data()));
    writeLines(writer, views, static_cast<unsigned>(height),
               static_cast<unsigned>(width));
    writer.commit();
  } catch (CFileException* e) {
    // A packed plane asked for that does not fit, or an image over 4 GiB:
    // the arguments, not the disk, are at fault.
    if (e->m_cause == CFileException::invalidFile && e->m_lOsError <= 0) {
      const std::string text = describe(e).GetString();
      e->Delete();
      throw std::invalid_argument(
          text +
          " (planes are laid out at their raw size); leave pack unset to "
          "choose raw or packed plane by plane, or write such planes raw "
          "(pack=0)");
    }
    throw;
  }
}

}  // namespace btreeimg::python
