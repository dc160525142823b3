// The extension module btreeimg._btreeimg: a thin layer over the library.
// The package's pure Python code (btreeimg/__init__.py) gives it its public
// names, argument checks and documentation; nothing here is meant to be
// called from outside the package.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "Checking.h"
#include "Errors.h"
#include "OpenImage.h"
#include "Writing.h"

namespace py = pybind11;
using btreeimg::python::OpenImage;

PYBIND11_MODULE(_btreeimg, m) {
  m.doc() = "The C++ core of the btreeimg package; use the package itself.";
  m.attr("__version__") = BTREEIMG_VERSION;
  btreeimg::python::registerErrors(m);

  m.attr("DEFAULT_PIXEL_LIMIT") = btreeimg::ImageReader::kDefaultPixelLimit;

  py::class_<OpenImage>(m, "Image",
                        "An image file read plane by plane (see btreeimg.Image).")
      .def(py::init<const std::string&, bool>(), py::arg("path"),
           py::arg("lenient"),
           "Opens the image file `path` (bytes); only its layout is read.")
      .def_static("from_descriptor", &OpenImage::fromDescriptor,
                  py::arg("descriptor"), py::arg("name"), py::arg("lenient"),
                  "Opens the image file open at `descriptor` (duplicated).")
      .def_static("from_bytes", &OpenImage::fromBytes, py::arg("data"),
                  py::arg("name"), py::arg("lenient"),
                  "Opens the image file held by `data`, kept alive.")
      .def_property_readonly("lenient", &OpenImage::lenient,
                             "Whether damage is read rather than refused.")
      .def_property_readonly("version", &OpenImage::version,
                             "The format version of the first block.")
      .def_property_readonly("problems", &OpenImage::problems,
                             "The full check's problems (run when first asked).")
      .def_property_readonly("summary", &OpenImage::summary,
                             "The problems in one sentence; '' when none.")
      .def("plane_summary", &OpenImage::planeSummary, py::arg("plane"),
           "Why the plane may not be read strictly; '' when it is sound.")
      .def_property_readonly("plane_count", &OpenImage::planeCount,
                             "The number of planes the image holds.")
      .def("shape", &OpenImage::shape, py::arg("plane"),
           "(height, width) of the plane.")
      .def("encoding", &OpenImage::encoding, py::arg("plane"),
           "The plane's encoding: 0 raw, 1 packed, 2 whole-plane packed.")
      .def("limit_problem", &OpenImage::limitProblem, py::arg("limit"),
           "Why a plane costs more than `limit` pixels; '' when it does not.")
      .def("mappable_offset", &OpenImage::mappableOffset, py::arg("plane"),
           "Where a raw plane's lines start, when it can be mapped; else -1.")
      .def("duplicate_descriptor", &OpenImage::duplicateDescriptor,
           "A new duplicate of the image's descriptor, for the caller to close.")
      .def("plane", &OpenImage::plane, py::arg("plane"),
           "A new (height, width) uint8 array holding the plane.")
      .def("line", &OpenImage::line, py::arg("line"), py::arg("plane"),
           "A new (width,) uint8 array holding one line of the plane.")
      .def("colour_map", &OpenImage::colourMap,
           "A new (256, 3) uint8 array holding the colour map.")
      .def("cover", &OpenImage::cover, py::arg("rules"), py::arg("output"),
           "Colour coverage of plane 1 into `output`; True when a pixel "
           "changed (only then is `output` written).")
      .def("close", &OpenImage::close, "Closes the file.")
      .def_property_readonly("closed", &OpenImage::closed,
                             "True once close() was called.");

  m.def("write", &btreeimg::python::writeImage, py::arg("path"),
        py::arg("planes"), py::arg("pack"), py::arg("colour_map"),
        "Writes 2-D uint8 arrays as the planes of a new image file (pack -1: "
        "chosen plane by plane).");
  m.def("check", &btreeimg::python::checkImage, py::arg("path"),
        py::call_guard<py::gil_scoped_release>(),
        "The structural problems of an image file; empty when it is sound.");
  m.def("rules_problem", &btreeimg::python::rulesProblem, py::arg("path"),
        py::call_guard<py::gil_scoped_release>(),
        "Why a colour rule file cannot drive a coverage; '' when it can.");
}
