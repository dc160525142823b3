#include "Writing.h"

#include <climits>
#include <cstring>
#include <stdexcept>

#include "framework/Exceptions.h"
#include "image/BtreeImg.h"

namespace py = pybind11;

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

// Writes every line of every plane; false when the library refused one
// (`*where` then names it).
bool writeLines(BtreeImg& image, const std::vector<PlaneView>& views,
                int height, int width, std::string* where) {
  std::vector<char> row(static_cast<std::size_t>(width));
  for (std::size_t p = 0; p < views.size(); ++p) {
    const PlaneView& view = views[p];
    for (int y = 0; y < height; ++y) {
      const unsigned char* source = view.data + y * view.rowStride;
      char* line = row.data();
      if (view.pixelStride == 1) {
        // The library only reads the line it is given.
        line = const_cast<char*>(reinterpret_cast<const char*>(source));
      } else {
        for (int x = 0; x < width; ++x) {
          row[static_cast<std::size_t>(x)] =
              static_cast<char>(source[x * view.pixelStride]);
        }
      }
      if (image.wLinea(line, y, static_cast<short>(p + 1)) != 1) {
        *where = "plane " + std::to_string(p + 1) + ", line " + std::to_string(y);
        return false;
      }
    }
  }
  return true;
}

}  // namespace

void writeImage(const std::string& path, const std::vector<py::array>& planes,
                int pack, const std::string& colourMap) {
  py::ssize_t height = 0;
  py::ssize_t width = 0;
  const std::vector<PlaneView> views = viewsOf(planes, &height, &width);
  if (colourMap.size() != 768) {
    throw std::invalid_argument("the colour map takes 768 bytes");
  }
  // The arrays stay alive and unresized: `planes` holds references to them,
  // and numpy refuses to resize an array another object refers to.
  py::gil_scoped_release released;
  BtreeImg image(path.c_str(), pack, static_cast<int>(width),
                 static_cast<int>(height), static_cast<short>(views.size()));
  std::string refused;
  try {
    image.writeMap(colourMap.data());
    if (writeLines(image, views, static_cast<int>(height),
                   static_cast<int>(width), &refused)) {
      image.closeImg();
      return;
    }
  } catch (CFileException* e) {
    image.discard();
    // A whole-plane packed plane that does not fit, or an image over 4 GiB:
    // the arguments, not the disk, are at fault.
    if (e->m_cause == CFileException::invalidFile && e->m_lOsError <= 0) {
      char text[512];
      e->GetErrorMessage(text, sizeof text);
      e->Delete();
      throw std::invalid_argument(text);
    }
    throw;
  } catch (...) {
    image.discard();
    throw;
  }
  image.discard();
  throw std::invalid_argument(
      refused + ": the packed line does not fit before the next plane's "
      "header block (planes are laid out at their raw size); write such "
      "planes raw (pack=0) or one per file");
}

}  // namespace btreeimg::python
