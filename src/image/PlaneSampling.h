// Small pictures of an image's plane, made by sampling its pixels: the size a
// picture gets when it is fitted into a square, what sampling it costs, the
// limit a viewer holds it to, and the rows of the sampled picture. Every
// thumbnail maker of the project (the tool's `thumbnail` command, the
// GdkPixbuf loader module, the Qt image plugin) samples this way, so that a
// thumbnail made either way has the same pixels.
//
// Sampling reads only the lines it samples, through btreeimg::ImageReader,
// and keeps one line and one picture row: a thumbnail of a huge image costs
// the lines it samples, never the whole plane.
//
// Header-only, on the library's public interface alone.
#ifndef BTREEIMG_IMAGE_PLANESAMPLING_H_
#define BTREEIMG_IMAGE_PLANESAMPLING_H_

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "image/ImageReader.h"

namespace btreeimg::sampling {

// A picture's width and height in pixels.
struct Size {
  std::uint32_t width = 0;   // pixels across
  std::uint32_t height = 0;  // pixels down
};

// A rectangle of a plane: columns x .. x + width - 1 of lines
// y .. y + height - 1.
struct Region {
  std::uint32_t x = 0;       // first column
  std::uint32_t y = 0;       // first line
  std::uint32_t width = 0;   // columns across
  std::uint32_t height = 0;  // lines down
};

// The size of a width x height picture fitted into a box x box square with
// its aspect ratio kept: the longer side becomes `box`, the other is rounded
// to the nearest pixel and is at least 1. A picture that already fits keeps
// its size (it is never enlarged). The rounding is the one the desktop's
// thumbnail makers ask a loader for, so both routes agree.
// REQUIRES: width, height and box above 0.
inline Size fitWithin(std::uint32_t width, std::uint32_t height,
                      std::uint32_t box) {
  if (width <= box && height <= box) return {width, height};
  const std::uint64_t w = width, h = height, b = box;
  if (h > w) {
    return {static_cast<std::uint32_t>(std::max<std::uint64_t>(1, (w * b + h / 2) / h)),
            box};
  }
  return {box,
          static_cast<std::uint32_t>(std::max<std::uint64_t>(1, (h * b + w / 2) / w))};
}

// The source pixel under the centre of pixel `i` of `n` target pixels
// spread over `s` source pixels: floor((i + 1/2) * s / n). With n == s it
// is i itself. REQUIRES: i < n < 2^31, s < 2^32.
inline std::uint32_t sourceIndex(std::uint64_t i, std::uint64_t n,
                                 std::uint64_t s) {
  return static_cast<std::uint32_t>((2 * i + 1) * s / (2 * n));
}

// What sampling a width x height plane at `target` costs, in pixels, the
// unit of ImageReader::planeCost: the lines it reads (one per target row,
// at most every line) times their length, and at least one per line read.
// A reader holds it to the same limit as a whole plane's cost.
inline std::uint64_t samplingCost(std::uint32_t width, std::uint32_t height,
                                  Size target) {
  const std::uint64_t lines = std::min(height, target.height);
  return std::max<std::uint64_t>(std::uint64_t{width} * lines, lines);
}

// The words a refusal over the limit of pixelLimitFromEnvironment() ends
// with.
inline constexpr const char* kRaiseLimit =
    " (the environment variable BTREEIMG_MAX_PIXELS raises it)";

// The most pixels a viewer of files from anywhere lets one picture make or
// read: the environment variable BTREEIMG_MAX_PIXELS when it is a count of
// pixels (0: no limit), else ImageReader::kDefaultPixelLimit. Read at each
// call.
inline std::uint64_t pixelLimitFromEnvironment() {
  const char* text = std::getenv("BTREEIMG_MAX_PIXELS");
  const std::uint64_t fallback = btreeimg::ImageReader::kDefaultPixelLimit;
  if (text == nullptr || *text < '0' || *text > '9') return fallback;
  char* end = nullptr;
  errno = 0;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0') return fallback;
  return value == 0 ? UINT64_MAX : value;
}

// Whether a target.width x target.height picture of `region` of `image`
// stays within `limit` pixels, both the pixels it makes and what sampling
// it costs (samplingCost): the refusal in words ("the picture asked for has
// 256 x 300 pixels, more than the limit of 49151"), or an empty text. The
// whole plane at its own size is refused in ImageReader::limitProblem's
// words.
inline std::string samplingProblem(const btreeimg::ImageReader& image, Region region,
                                   Size target, std::uint64_t limit) {
  const std::uint64_t pixels = std::uint64_t{target.width} * target.height;
  const std::uint64_t cost = samplingCost(image.width(), region.height, target);
  const auto text = [](std::uint64_t n) { return std::to_string(n); };
  const std::string asked = text(target.width) + " x " + text(target.height);
  if (pixels > limit && target.width == image.width() && target.height == image.height() &&
      region.width == image.width() && region.height == image.height()) {
    return static_cast<const char*>(image.limitProblem(limit));
  }
  if (pixels > limit) {
    return "the picture asked for has " + asked + " pixels, more than the limit of " + text(limit);
  }
  if (cost > limit) {
    return "a " + asked + " picture reads " + text(std::min(region.height, target.height)) +
           " lines of " + text(image.width()) + " pixels, " + text(cost) +
           " in all, more than the limit of " + text(limit);
  }
  return {};
}

// Samples `region` of plane `plane` of `image` at target.width x
// target.height, top to bottom: for each target row y calls sink(y, row),
// where `row` holds target.width colour-map indices and is valid only during
// the call. A source line sampled by several rows in a row is read once.
// What ImageReader::readLine throws goes through.
// REQUIRES: target sides above 0 and below 2^31; the region has pixels and
// lies inside the image.
template <typename Sink>
void sampleRows(btreeimg::ImageReader& image, int plane, Region region, Size target,
                Sink&& sink) {
  std::vector<unsigned char> line(image.width());
  // A row of whole lines at their own width is the line itself: no column
  // table (four bytes a pixel) and no copy, which at 2^28 pixels a line
  // would cost over a GiB.
  const bool fullWidth =
      region.x == 0 && region.width == image.width() && target.width == region.width;
  std::vector<std::uint32_t> columns(fullWidth ? 0 : target.width);
  for (std::uint32_t x = 0; x < columns.size(); ++x) {
    columns[x] = region.x + sourceIndex(x, target.width, region.width);
  }
  std::vector<unsigned char> row(fullWidth ? 0 : target.width);
  bool haveLine = false;
  std::uint32_t lineRead = 0;
  for (std::uint32_t y = 0; y < target.height; ++y) {
    const std::uint32_t source = region.y + sourceIndex(y, target.height, region.height);
    if (!haveLine || source != lineRead) {
      image.readLine(plane, source, line.data());
      lineRead = source;
      haveLine = true;
    }
    if (fullWidth) {
      sink(y, static_cast<const unsigned char*>(line.data()));
      continue;
    }
    for (std::uint32_t x = 0; x < target.width; ++x) row[x] = line[columns[x]];
    sink(y, static_cast<const unsigned char*>(row.data()));
  }
}

// The same for the whole plane.
// REQUIRES: target sides above 0 and below 2^31; the image has pixels.
template <typename Sink>
void sampleRows(btreeimg::ImageReader& image, int plane, Size target, Sink&& sink) {
  sampleRows(image, plane, Region{0, 0, image.width(), image.height()}, target,
             std::forward<Sink>(sink));
}

}  // namespace btreeimg::sampling

#endif  // BTREEIMG_IMAGE_PLANESAMPLING_H_
