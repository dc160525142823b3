// thumbnail: plane 1 fitted into a square, as a palette PNG through the
// image's colour map. Made for the desktop's thumbnailers, so it reads only
// the lines it samples and never holds a full-size picture.
#include <algorithm>
#include <string>

#include "Commands.h"
#include "ImageReading.h"
#include "PlaneSampling.h"
#include "PngFile.h"
#include "ToolSupport.h"

namespace tool {

int runThumbnail(const std::string& file, const std::string& output, int size, bool lenient,
                 std::uint64_t maxPixels) {
  InputImage image(file, lenientIf(lenient));
  const std::uint32_t width = image.width(), height = image.height();
  if (width == 0 || height == 0) {
    fail(kBadInput, file + ": has no pixels to render (" + std::to_string(width) +
                        " x " + std::to_string(height) + ")");
  }
  const sampling::Size target =
      sampling::fitWithin(width, height, static_cast<std::uint32_t>(size));
  const std::uint64_t cost = sampling::samplingCost(width, height, target);
  image.requireWithinLimit(cost, maxPixels,
                           "a " + std::to_string(target.width) + " x " +
                               std::to_string(target.height) + " thumbnail reads " +
                               counted(std::min(height, target.height), "line", "lines") + " of " +
                               counted(width, "pixel", "pixels") + ", " + std::to_string(cost) +
                               " in all");
  IndexedImage picture;
  picture.width = target.width;
  picture.height = target.height;
  picture.pixels.resize(std::size_t{target.width} * target.height);
  try {
    sampling::sampleRows(image.reader(), 1, target,
                         [&picture](std::uint32_t y, const unsigned char* row) {
                           std::copy_n(row, picture.width,
                                       picture.pixels.begin() + std::ptrdiff_t{y} * picture.width);
                         });
  } catch (CException* e) {
    fail(kBadInput, file + ": " + takeCause(e));
  }
  writePng(output, picture, image.colourMap());
  return kOk;
}

}  // namespace tool
