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
#include "image/BtreeImg.h"
#include "image/ImageCheck.h"

namespace tool {

int runThumbnail(const std::string& file, const std::string& output, int size, bool lenient) {
  ImageCheck check;
  requireUsableImage(file, check, lenientIf(lenient));  // on a mapping of the file
  BtreeImg image(file.c_str());
  const std::uint32_t width = image.dimx(1), height = image.dimy(1);
  if (width == 0 || height == 0) {
    fail(kBadInput, file + ": has no pixels to render (" + std::to_string(width) +
                        " x " + std::to_string(height) + ")");
  }
  const sampling::Size target =
      sampling::fitWithin(width, height, static_cast<std::uint32_t>(size));
  IndexedImage picture;
  picture.width = target.width;
  picture.height = target.height;
  picture.pixels.resize(std::size_t{target.width} * target.height);
  sampling::sampleRows(image, 1, target, [&picture](std::uint32_t y, const unsigned char* row) {
    std::copy_n(row, picture.width, picture.pixels.begin() + std::ptrdiff_t{y} * picture.width);
  });
  writePng(output, picture, colourMap(image));
  return kOk;
}

}  // namespace tool
