// topng: planes rendered through the image's colour map, streamed row by
// row: each row of the PNG is put together from the planes' lines and
// written at once, so that the tool holds one row, never the picture.
#include <algorithm>
#include <cstring>
#include <memory>

#include "CommandLine.h"
#include "Commands.h"
#include "ImageReading.h"
#include "PngFile.h"
#include "Progress.h"
#include "Failure.h"

namespace tool {

namespace {

// The planes rendered, left to right, and the PNG's size. Every plane has
// the image's width x height.
struct Layout {
  int first = 1, last = 1;
  std::uint64_t width = 0;  // of the PNG: the planes side by side
  std::uint32_t height = 0;
  std::uint64_t lines = 0;  // lines of all planes rendered
};

// The highest pixel value in plane `plane`, or `floor` when none is higher.
// Stops early at 255. `progress` is advanced per line.
std::uint8_t highestPixel(InputImage& image, int plane, std::uint8_t floor,
                          std::vector<std::uint8_t>& line, Progress& progress,
                          std::uint64_t& done) {
  const std::uint32_t width = image.width(), height = image.height();
  std::uint8_t highest = floor;
  for (std::uint32_t y = 0; y < height && width != 0 && highest != 255; ++y) {
    image.readLine(plane, y, line.data());
    highest = std::max(highest, *std::max_element(line.data(), line.data() + width));
    progress.update(++done);
  }
  return highest;
}

// The palette written: the colour map up to the last entry that is set or
// that a pixel uses, so that a PNG made from a short palette gets it back
// unchanged. Finding the highest pixel reads the planes once more, unless
// the map is set to its end.
std::vector<Rgb> trimmedPalette(InputImage& image, const Layout& layout,
                                std::vector<std::uint8_t>& line, Progress& progress,
                                std::uint64_t& done) {
  const std::vector<Rgb> map = image.colourMap();
  std::size_t length = 1;
  for (std::size_t i = 0; i < map.size(); ++i) {
    if (map[i] != Rgb{}) length = i + 1;
  }
  auto floor = static_cast<std::uint8_t>(length - 1);
  for (int p = layout.first; p <= layout.last && floor != 255; ++p) {
    floor = highestPixel(image, p, floor, line, progress, done);
  }
  return std::vector<Rgb>(map.begin(), map.begin() + floor + 1);
}

}  // namespace

static int runToPng(const std::string& file, const std::string& output, int plane, bool lenient,
             std::uint64_t maxPixels) {
  InputImage image(file, lenientIf(lenient), plane);
  const int planes = image.planes();
  if (plane > planes) {
    fail(kBadInput, file + ": has no plane " + std::to_string(plane) + " (it has " +
                        std::to_string(planes) + ")");
  }
  Layout layout;
  layout.first = plane == 0 ? 1 : plane;
  layout.last = plane == 0 ? planes : plane;
  const auto rendered = static_cast<unsigned>(layout.last - layout.first + 1);
  layout.width = std::uint64_t{image.width()} * rendered;
  layout.height = image.height();
  layout.lines = std::uint64_t{image.height()} * rendered;
  if (layout.width == 0 || layout.height == 0) {
    fail(kBadInput, file + ": has no pixels that a PNG can show (" +
                        std::to_string(layout.width) + " x " +
                        std::to_string(layout.height) + ")");
  }
  constexpr std::uint64_t kPngSide = 0x7fffffff;  // the most pixels a side PNG allows
  if (layout.width > kPngSide || layout.height > kPngSide) {
    fail(kBadInput, file + ": is " + std::to_string(layout.width) + " x " +
                        std::to_string(layout.height) +
                        " pixels as a PNG, more than a PNG can hold (" +
                        std::to_string(kPngSide) + " a side)" +
                        (plane == 0 && planes > 1 ? "; --plane renders one plane" : ""));
  }
  image.requireWithinLimit(maxPixels);
  // The work: at most every line read once for the palette, then every
  // line again for the rows of the PNG.
  Progress progress("topng", 2 * layout.lines);
  std::uint64_t done = 0;
  std::vector<std::uint8_t> row(layout.width);
  const std::vector<Rgb> palette = trimmedPalette(image, layout, row, progress, done);
  done = layout.lines;

  PngWriter writer(output, static_cast<std::uint32_t>(layout.width), layout.height, palette);
  for (std::uint32_t y = 0; y < layout.height; ++y) {
    // The planes side by side.
    std::uint8_t* left = row.data();
    for (int p = layout.first; p <= layout.last; ++p) {
      image.readLine(p, y, left);
      progress.update(++done);
      left += image.width();
    }
    writer.writeRow(row.data());
  }
  writer.finish();
  return kOk;
}

void addToPng(CLI::App& app, Runner& run) {
  struct Options {
    std::string file, output;
    int plane = 0;
    bool lenient = false;
    std::uint64_t maxPixels = kPixelLimit;
  };
  auto o = std::make_shared<Options>();
  CLI::App* sub = addCommand(app, "topng",
                             "A plane as an 8-bit palette PNG through the "
                             "image's colour map; all planes side by side "
                             "when no plane is named.");
  sub->add_option("FILE", o->file, "image file")->required();
  sub->add_option("OUT", o->output, "PNG to write; - for the standard output")->required();
  sub->add_option("--plane", o->plane, "plane to render, from 1")->check(CLI::Range(1, 5));
  addLenient(sub, o->lenient);
  addMaxPixels(sub, o->maxPixels);
  sub->callback([o, &run] {
    run = [o] { return runToPng(o->file, o->output, o->plane, o->lenient, o->maxPixels); };
  });
}

}  // namespace tool
