// topng: planes rendered through the image's colour map, streamed row by
// row: each row of the PNG is put together from the planes' lines and
// written at once, so that the tool holds one row, never the picture.
#include <algorithm>
#include <cstring>

#include "Commands.h"
#include "ImageReading.h"
#include "PngFile.h"
#include "Progress.h"
#include "ToolSupport.h"
#include "image/BtreeImg.h"
#include "image/ImageCheck.h"

namespace tool {

namespace {

// The planes rendered, left to right, and the PNG's size.
struct Layout {
  int first = 1, last = 1;
  std::uint64_t width = 0;
  std::uint32_t height = 0;
  std::uint64_t lines = 0;  // lines of all planes rendered
};

// The highest pixel value in plane `plane`, or `floor` when none is higher.
// Stops early at 255. `progress` is advanced per line.
std::uint8_t highestPixel(BtreeImg& image, int plane, std::uint8_t floor,
                          std::vector<std::uint8_t>& line, Progress& progress,
                          std::uint64_t& done) {
  const auto p = static_cast<short>(plane);
  const std::uint32_t width = image.dimx(p), height = image.dimy(p);
  std::uint8_t highest = floor;
  for (std::uint32_t y = 0; y < height && width != 0 && highest != 255; ++y) {
    image.at(y, p, line.data());
    highest = std::max(highest, *std::max_element(line.data(), line.data() + width));
    progress.update(++done);
  }
  return highest;
}

// The palette written: the colour map up to the last entry that is set or
// that a pixel uses, so that a PNG made from a short palette gets it back
// unchanged. Finding the highest pixel reads the planes once more, unless
// the map is set to its end.
std::vector<Rgb> trimmedPalette(BtreeImg& image, const Layout& layout,
                                std::vector<std::uint8_t>& line, Progress& progress,
                                std::uint64_t& done) {
  const std::vector<Rgb> map = colourMap(image);
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

int runToPng(const std::string& file, const std::string& output, int plane, bool lenient) {
  ImageCheck check;
  requireReadableImage(file, check, lenientIf(lenient));
  const int planes = check.PlaneCount();
  if (plane > planes) {
    fail(kBadInput, file + ": has no plane " + std::to_string(plane) + " (it has " +
                        std::to_string(planes) + ")");
  }
  BtreeImg image(file.c_str());
  Layout layout;
  layout.first = plane == 0 ? 1 : plane;
  layout.last = plane == 0 ? planes : plane;
  for (int p = layout.first; p <= layout.last; ++p) {
    const auto q = static_cast<short>(p);
    layout.width += image.dimx(q);
    layout.height = std::max(layout.height, image.dimy(q));
    layout.lines += image.dimy(q);
  }
  if (layout.width == 0 || layout.height == 0 || layout.width > 0x7fffffff) {
    fail(kBadInput, file + ": has no pixels that a PNG can show (" +
                        std::to_string(layout.width) + " x " +
                        std::to_string(layout.height) + ")");
  }
  // The work: at most every line read once for the palette, then every
  // line again for the rows of the PNG.
  Progress progress("topng", 2 * layout.lines);
  std::uint64_t done = 0;
  std::vector<std::uint8_t> row(layout.width);
  const std::vector<Rgb> palette = trimmedPalette(image, layout, row, progress, done);
  done = layout.lines;

  PngWriter writer(output, static_cast<std::uint32_t>(layout.width), layout.height, palette);
  for (std::uint32_t y = 0; y < layout.height; ++y) {
    // The planes side by side, top-aligned; where a plane is shorter than
    // the tallest, entry 0 fills the rest of its column.
    std::uint8_t* left = row.data();
    for (int p = layout.first; p <= layout.last; ++p) {
      const auto q = static_cast<short>(p);
      if (y < image.dimy(q)) {
        image.at(y, q, left);
        progress.update(++done);
      } else {
        std::memset(left, 0, image.dimx(q));
      }
      left += image.dimx(q);
    }
    writer.writeRow(row.data());
  }
  writer.finish();
  return kOk;
}

}  // namespace tool
