#include "OpenImage.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "Checking.h"
#include "Errors.h"
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include "framework/ByteOrder.h"
#include "framework/CFile.h"
#include "framework/FileReplacement.h"
#include "image/HeaderLayout.h"

namespace py = pybind11;
namespace block = btreeimg::detail::block;

namespace btreeimg::python {
namespace {

// A new zero-filled uint8 array, for a single line: a line that a damaged
// plane fills only in part shows zeros where nothing was read.
py::array_t<unsigned char> zeros(py::tuple shape) {
  static const char* const kType = "uint8";
  return py::module_::import("numpy").attr("zeros")(shape, kType);
}

// Copies n bytes to `to` with non-temporal stores where the processor has
// them (SSE2): a large destination is then written without first being read
// into the cache. streamFence() orders those stores before what follows.
void streamCopy(unsigned char* to, const unsigned char* from, std::size_t n) {
#if defined(__SSE2__)
  for (; n > 0 && (reinterpret_cast<std::uintptr_t>(to) & 15) != 0; --n) {
    *to++ = *from++;
  }
  for (; n >= 64; n -= 64, to += 64, from += 64) {
    const auto* in = reinterpret_cast<const __m128i*>(from);
    auto* out = reinterpret_cast<__m128i*>(to);
    const __m128i a = _mm_loadu_si128(in);
    const __m128i b = _mm_loadu_si128(in + 1);
    const __m128i c = _mm_loadu_si128(in + 2);
    const __m128i d = _mm_loadu_si128(in + 3);
    _mm_stream_si128(out, a);
    _mm_stream_si128(out + 1, b);
    _mm_stream_si128(out + 2, c);
    _mm_stream_si128(out + 3, d);
  }
#endif
  if (n > 0) std::memcpy(to, from, n);
}

// A folder made beside `output` for the coverage's result (".<name>.cover-"
// and six random characters, created by mkdtemp: private to this process),
// removed with what it holds when the object goes.
class PrivateFolder {
 public:
  explicit PrivateFolder(const std::string& output) {
    const std::size_t slash = output.rfind('/');
    const std::string folder =
        slash == std::string::npos ? "" : output.substr(0, slash + 1);
    const std::string name =
        slash == std::string::npos ? output : output.substr(slash + 1);
    path_ = folder + "." + name + ".cover-XXXXXX";
    if (::mkdtemp(path_.data()) == nullptr) throw OsProblem(errno, output);
  }
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  ~PrivateFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// Replaces `output` with the bytes of the file `from`, through the library's
// safe replacement (links followed, mode and owner kept, flushed).
void copyInto(const std::string& from, const std::string& output) {
  CFile source(from.c_str(), CFile::modeRead | CFile::typeBinary);
  btreeimg::FileReplacement replacement(output.c_str());
  std::vector<char> buffer(1 << 20);
  while (const UINT got =
             source.Read(buffer.data(), static_cast<UINT>(buffer.size()))) {
    replacement.write(buffer.data(), got);
  }
  replacement.commit();
}

void streamFence() {
#if defined(__SSE2__)
  _mm_sfence();
#endif
}

}  // namespace

OpenImage::OpenImage(const std::string& path, bool lenient) : path_(path) {
  {
    py::gil_scoped_release released;
    Inspection inspection = inspectForOpening(path_, lenient);
    problems_ = std::move(inspection.problems);
    summary_ = std::move(inspection.summary);
    image_ = std::make_unique<BtreeImg>(path_.c_str());
  }
  BtreeImg& im = *image_;
  version_ = im.Version();
  // The library opens any file and reads what its fields say; a version
  // other than 2, 3 and 4 means the file is no image at all.
  if (version_ < 2 || version_ > 4) {
    image_.reset();
    throw FormatProblem(path_ + ": not an image file (version " +
                        std::to_string(version_) + ", 2, 3 or 4 expected)");
  }
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
  if (!image_) throw std::invalid_argument("I/O operation on a closed image");
  return *image_;
}

bool OpenImage::fillsWholeLines(BtreeImg& im, int plane) {
  // Packed lines of a damaged plane may each stop short.
  if (encoding_[plane - 1] == 1) return false;
  // Raw lines lie one after the other, so when the storage's last line (the
  // first plane's line count sets it) comes whole, every line does. A whole
  // plane packed plane decodes into a plane of full lines. What stops a
  // line short is then the end of the file, or a storage line shorter than
  // the plane's own width: the same bytes read over two different fillings
  // show it.
  const unsigned lines = height_[0];
  const unsigned width = width_[plane - 1];
  if (lines == 0) return false;
  std::vector<unsigned char> zeros(width, 0), ones(width, 0xff);
  im.at(lines - 1, static_cast<short>(plane), zeros.data());
  im.at(lines - 1, static_cast<short>(plane), ones.data());
  return zeros == ones;
}

py::array_t<unsigned char> OpenImage::plane(int plane) {
  readablePlane(plane);
  const unsigned width = width_[plane - 1];
  const unsigned height = height_[plane - 1];
  // Uninitialised memory: numpy takes a large array from malloc, which
  // reuses freed memory, where zeroed memory would cost a page fault per
  // page. Lines that may stop short are read into zeros.
  py::array_t<unsigned char> out(
      {static_cast<py::ssize_t>(height), static_cast<py::ssize_t>(width)});
  unsigned char* rows = out.mutable_data();
  {
    py::gil_scoped_release released;
    std::lock_guard<std::mutex> lock(mutex_);
    BtreeImg& im = image();
    // Each line goes through a scratch line that stays in the cache, and on
    // into the array with stores that bypass the cache: the array is written
    // once, never read into the cache first.
    const bool whole = fillsWholeLines(im, plane);
    std::vector<unsigned char> scratch(width);
    for (unsigned y = 0; y < height; ++y) {
      if (!whole) std::memset(scratch.data(), 0, width);
      im.at(y, static_cast<short>(plane), scratch.data());
      streamCopy(rows + std::size_t{y} * width, scratch.data(), width);
    }
    streamFence();
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

bool OpenImage::cover(const std::string& rules, const std::string& output) {
  requirePath(rules);
  requirePath(output);
  py::gil_scoped_release released;
  std::lock_guard<std::mutex> lock(mutex_);
  BtreeImg& im = image();
  // The library removes an existing output when nothing changed; the run
  // therefore goes into a folder of its own, which only a changed result
  // leaves with a file in it.
  PrivateFolder folder(output);
  const std::string result = folder.path() + "/result.dis";
  if (im.CoperturaU8(CString(rules.c_str()), CString(result.c_str())) != 1) {
    throw OsProblem(EIO, output);
  }
  struct stat info {};
  if (::stat(result.c_str(), &info) != 0) return false;
  copyInto(result, output);
  return true;
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
