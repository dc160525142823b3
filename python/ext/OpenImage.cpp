#include "OpenImage.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "Checking.h"
#include "Errors.h"
#include "framework/Exceptions.h"
#include "image/Coverage.h"
#include "image/CoverageRuleFile.h"
#include "image/ImageCheck.h"

namespace py = pybind11;

namespace btreeimg::python {

OpenImage::OpenImage(bool lenient, std::string name)
    : name_(std::move(name)), lenient_(lenient) {}

OpenImage::OpenImage(const std::string& path, bool lenient)
    : OpenImage(lenient, path) {
  py::gil_scoped_release released;
  descriptor_ = openForReading(path);
  try {
    open();
  } catch (...) {
    ::close(descriptor_);  // no destructor runs for a constructor that throws
    descriptor_ = -1;
    throw;
  }
}

std::unique_ptr<OpenImage> OpenImage::fromDescriptor(int descriptor,
                                                     const std::string& name,
                                                     bool lenient) {
  std::unique_ptr<OpenImage> image(new OpenImage(lenient, name));
  py::gil_scoped_release released;
  image->descriptor_ = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
  if (image->descriptor_ < 0) throw OsProblem(errno, name);
  image->open();
  return image;
}

std::unique_ptr<OpenImage> OpenImage::fromBytes(py::bytes data,
                                                const std::string& name,
                                                bool lenient) {
  std::unique_ptr<OpenImage> image(new OpenImage(lenient, name));
  image->bytes_ = data;
  image->data_ = reinterpret_cast<const unsigned char*>(PyBytes_AS_STRING(data.ptr()));
  image->size_ = static_cast<unsigned long long>(PyBytes_GET_SIZE(data.ptr()));
  py::gil_scoped_release released;
  image->open();
  return image;
}

OpenImage::~OpenImage() {
  reader_.reset();
  if (descriptor_ >= 0) ::close(descriptor_);
}

std::string OpenImage::named(const std::string& text) const {
  return name_.empty() ? text : name_ + ": " + text;
}

void OpenImage::rethrow(CFileException* e) const {
  const std::string text = describe(e).GetString();
  const int cause = e->m_cause;
  const long error = e->m_lOsError;
  e->Delete();
  if (cause == CFileException::invalidFile && error <= 0) {
    throw FormatProblem(named(text));
  }
  // The library's own text where the system has none (a file cut short
  // while open, a descriptor that is not a regular file).
  throw OsProblem(error > 0 ? static_cast<int>(error) : errnoOfCause(cause),
                  name_, error > 0 ? "" : text);
}

void OpenImage::open() {
  const int policy = lenient_ ? ImageReader::lenient : ImageReader::strict;
  try {
    reader_ = descriptor_ >= 0
                  ? std::make_unique<ImageReader>(descriptor_, policy)
                  : std::make_unique<ImageReader>(data_, size_, policy);
  } catch (CFileException* e) {
    // A picture of another format is named as such, rather than by what
    // its bytes would mean as an image file.
    unsigned char head[8] = {};
    std::size_t got = 0;
    if (data_ != nullptr) {
      got = static_cast<std::size_t>(std::min<unsigned long long>(size_, sizeof head));
      std::memcpy(head, data_, got);
    } else if (descriptor_ >= 0) {
      const ssize_t n = ::pread(descriptor_, head, sizeof head, 0);
      got = n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    const std::string other = lookalike(head, got);
    if (!other.empty() && e->m_cause == CFileException::invalidFile) {
      e->Delete();
      throw FormatProblem(named(other + ", not a btreeimg image"));
    }
    rethrow(e);
  }
  ImageReader& image = *reader_;
  version_ = image.version();
  planeCount_ = image.planes();
  width_ = image.width();
  height_ = image.height();
  for (int p = 1; p <= planeCount_; ++p) encoding_[p - 1] = image.encoding(p);
  const ImageCheck& layout = image.inspection();
  if (descriptor_ >= 0 && layout.GetVerdict() == ImageCheck::sound) {
    const ULONGLONG bytes = ULONGLONG{width_} * height_;
    for (int p = 1; p <= planeCount_; ++p) {
      const ImageCheck::PlaneLayout& plane = layout.Plane(p);
      if (plane.pack == 0 && plane.located && plane.regionRoom >= bytes &&
          plane.regionStart <= static_cast<ULONGLONG>(LLONG_MAX)) {
        mappable_[p - 1] = static_cast<long long>(plane.regionStart);
      }
    }
  }
  image.colourMap(map_);
}

std::pair<unsigned, unsigned> OpenImage::shape(int plane) const {
  if (plane < 1 || plane > planeCount_) {
    throw std::invalid_argument("plane " + std::to_string(plane) +
                                " out of range 1.." +
                                std::to_string(planeCount_));
  }
  return {height_, width_};
}

int OpenImage::encoding(int plane) const {
  shape(plane);
  return encoding_[plane - 1];
}

std::string OpenImage::limitProblem(unsigned long long limit) const {
  if (closed_) throw std::invalid_argument("I/O operation on a closed image");
  return reader_->limitProblem(limit).GetString();
}

long long OpenImage::mappableOffset(int plane) const {
  shape(plane);
  return mappable_[plane - 1];
}

int OpenImage::duplicateDescriptor() {
  py::gil_scoped_release released;
  std::lock_guard<std::mutex> lock(mutex_);
  reader();  // refused once closed
  if (descriptor_ < 0) {
    throw std::invalid_argument("the image was read from bytes, not a file");
  }
  const int copy = ::fcntl(descriptor_, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) throw OsProblem(errno, name_);
  return copy;
}

void OpenImage::readablePlane(int plane) const {
  // A plane of an encoding the format does not define is the reader's to
  // judge, as every front end's: refused strictly in the inspection's
  // words, read as zeros leniently.
  shape(plane);
}

ImageReader& OpenImage::reader() {
  if (!reader_) throw std::invalid_argument("I/O operation on a closed image");
  return *reader_;
}

const std::vector<std::string>& OpenImage::problems() {
  if (!checked_) {
    ImageCheck check;
    {
      py::gil_scoped_release released;
      std::lock_guard<std::mutex> lock(mutex_);
      reader();  // refused once closed
      if (descriptor_ >= 0) {
        check.InspectDescriptor(descriptor_);
      } else {
        check.Inspect(data_, size_);
      }
    }
    problems_ = problemsOf(check);
    summary_ = check.Summary().GetString();
    for (int p = 1; p <= 5; ++p) {
      planeSummaries_[p - 1] = p <= check.PlaneCount() ? check.PlaneSummary(p).GetString() : "";
    }
    checked_ = true;
  }
  return problems_;
}

std::string OpenImage::planeSummary(int plane) {
  shape(plane);
  problems();
  return planeSummaries_[plane - 1];
}

const std::string& OpenImage::summary() {
  problems();
  return summary_;
}

py::array_t<unsigned char> OpenImage::plane(int plane) {
  readablePlane(plane);
  if (lenient_) {
    // A damaged plane read leniently whole: no more than the file can
    // hold, as every front end bounds it, before anything of its size.
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> lock(mutex_);
    ImageReader& image = reader();
    if (!image.inspection().PlaneSound(plane)) {
      const CString held = image.capacityProblem();
      if (!held.IsEmpty()) throw FormatProblem(named(held.GetString()));
    }
  }
  // Uninitialised memory: every line read fills its row whole (zeros where
  // a lenient read finds nothing).
  py::array_t<unsigned char> out(
      {static_cast<py::ssize_t>(height_), static_cast<py::ssize_t>(width_)});
  unsigned char* rows = out.mutable_data();
  {
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> lock(mutex_);
    ImageReader& image = reader();
    try {
      image.readLines(plane, 0, height_, rows);
    } catch (CFileException* e) {
      rethrow(e);
    }
  }
  return out;
}

py::array_t<unsigned char> OpenImage::line(long long line, int plane) {
  readablePlane(plane);
  if (line < 0 || line >= height_) {
    throw std::invalid_argument(
        "line " + std::to_string(line) + " out of range 0.." +
        std::to_string(static_cast<long long>(height_) - 1));
  }
  py::array_t<unsigned char> out(static_cast<py::ssize_t>(width_));
  unsigned char* row = out.mutable_data();
  {
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> lock(mutex_);
    try {
      reader().readLine(plane, static_cast<unsigned>(line), row);
    } catch (CFileException* e) {
      rethrow(e);
    }
  }
  return out;
}

py::array_t<unsigned char> OpenImage::colourMap() const {
  if (closed_) throw std::invalid_argument("I/O operation on a closed image");
  py::array_t<unsigned char> out({256, 3});
  std::memcpy(out.mutable_data(), map_, sizeof map_);
  return out;
}

bool OpenImage::cover(const std::string& rules, const std::string& output) {
  requirePath(rules);
  requirePath(output);
  py::gil_scoped_release released;
  std::lock_guard<std::mutex> lock(mutex_);
  ImageReader& image = reader();  // refused once closed
  const CoverageRuleFile ruleFile(rules.c_str());
  if (ruleFile.osError() != 0) throw OsProblem(ruleFile.osError(), rules);
  return btreeimg::coverImage(image, ruleFile, output.c_str()) != 0;
}

void OpenImage::close() {
  closed_ = true;
  {
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> lock(mutex_);
    reader_.reset();
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
  }
  // The reader that borrowed the bytes is gone.
  bytes_ = py::object();
  data_ = nullptr;
  size_ = 0;
}

}  // namespace btreeimg::python
