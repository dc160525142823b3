// thumbnail: plane 1 fitted into a square, as a palette PNG through the
// image's colour map. Made for the desktop's thumbnailers, so it reads only
// the lines it samples and never holds a full-size picture.
#include <algorithm>
#include <string>
#include <memory>

#include "CommandLine.h"
#include "Commands.h"
#include "ImageReading.h"
#include "image/PlaneSampling.h"
#include "PngFile.h"
#include "Failure.h"

namespace tool {

static int runThumbnail(const std::string& file, const std::string& output, int size, bool lenient,
                 std::uint64_t maxPixels) {
  InputImage image(file, lenientIf(lenient), 1);
  const std::uint32_t width = image.width(), height = image.height();
  if (width == 0 || height == 0) {
    fail(kBadInput, file + ": has no pixels to render (" + std::to_string(width) +
                        " x " + std::to_string(height) + ")");
  }
  const btreeimg::sampling::Size target =
      btreeimg::sampling::fitWithin(width, height, static_cast<std::uint32_t>(size));
  const std::uint64_t cost = btreeimg::sampling::samplingCost(width, height, target);
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
    btreeimg::sampling::sampleRows(image.reader(), 1, target,
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

void addThumbnail(CLI::App& app, Runner& run) {
  struct Options {
    std::string file, output;
    int size = 256;
    bool lenient = false;
    std::uint64_t maxPixels = kPixelLimit;
  };
  auto o = std::make_shared<Options>();
  CLI::App* sub = addCommand(app, "thumbnail",
                             "Plane 1 fitted into SIZE x SIZE with its "
                             "aspect ratio kept (never enlarged), as a "
                             "palette PNG through the image's colour map; "
                             "only the sampled lines are read. For the "
                             "desktop's thumbnailers.");
  sub->add_option("FILE", o->file, "image file")->required();
  sub->add_option("OUT", o->output, "PNG to write; - for the standard output")->required();
  sub->add_option("-s,--size", o->size, "the square to fit, in pixels")
      ->check(CLI::Range(1, 4096))
      ->capture_default_str();
  addLenient(sub, o->lenient);
  sub->add_option("--max-pixels", o->maxPixels,
                  "read no more pixels than N to make the thumbnail: the "
                  "lines sampled x their length; 0: no limit")
      ->type_name("N")
      ->capture_default_str();
  sub->callback([o, &run] {
    run = [o] { return runThumbnail(o->file, o->output, o->size, o->lenient, o->maxPixels); };
  });
}

}  // namespace tool
