// thumbnail: plane 1 fitted into a square, as a palette PNG through the
// image's colour map. Made for the desktop's thumbnailers, so it reads only
// the lines it samples and never holds a full-size picture.
#include <fcntl.h>
#include <unistd.h>

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

namespace {

// The structural inspection of the other commands, done on a mapping of the
// file rather than a copy of it (reading the file twice would double the
// command's time on a large image). A file that cannot be mapped is read.
void inspect(const std::string& file, ImageCheck& check) {
  const int descriptor = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  const bool mapped = descriptor >= 0 && sampling::inspectMapped(descriptor, check);
  if (descriptor >= 0) ::close(descriptor);
  if (!mapped) {
    requireUsableImage(file, check);
    return;
  }
  const CStringArray& problems = check.Problems();
  if (check.GetVerdict() == ImageCheck::unusable) {
    fail(kBadInput, file + ": " +
                        (problems.GetSize() ? static_cast<const char*>(problems.GetAt(0))
                                            : "not an image file"));
  }
  if (check.GetVerdict() == ImageCheck::damaged) {
    warn(file + ": warning: " + std::to_string(problems.GetSize()) +
         " structural problem(s), see 'btreeimg check'; going on with what "
         "the library reads");
  }
}

}  // namespace

int runThumbnail(const std::string& file, const std::string& output, int size) {
  ImageCheck check;
  inspect(file, check);
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
