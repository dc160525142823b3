// topng: planes rendered through the image's colour map.
#include <algorithm>
#include <iostream>

#include "Commands.h"
#include "ImageReading.h"
#include "Progress.h"
#include "ToolSupport.h"
#include "image/BtreeImg.h"
#include "image/ImageCheck.h"

namespace tool {

namespace {

// The palette written: the colour map up to the last entry that is set or
// used, so that a PNG made from a short palette gets it back unchanged.
std::vector<Rgb> trimmedPalette(const std::vector<Rgb>& map,
                                const IndexedImage& image) {
  std::size_t length = 1;
  for (std::size_t i = 0; i < map.size(); ++i) {
    if (map[i] != Rgb{}) length = i + 1;
  }
  for (const std::uint8_t v : image.pixels) length = std::max<std::size_t>(length, v + 1u);
  return std::vector<Rgb>(map.begin(), map.begin() + static_cast<long>(length));
}

// Places the planes side by side, top-aligned; where a plane is shorter
// than the tallest, entry 0 fills the rest of its column.
IndexedImage sideBySide(const std::vector<IndexedImage>& planes) {
  IndexedImage all;
  for (const IndexedImage& plane : planes) {
    all.width += plane.width;
    all.height = std::max(all.height, plane.height);
  }
  all.pixels.assign(std::size_t{all.width} * all.height, 0);
  std::uint32_t left = 0;
  for (const IndexedImage& plane : planes) {
    for (std::uint32_t y = 0; y < plane.height; ++y) {
      std::copy_n(plane.pixels.begin() + static_cast<long>(std::size_t{y} * plane.width),
                  plane.width,
                  all.pixels.begin() + static_cast<long>(std::size_t{y} * all.width + left));
    }
    left += plane.width;
  }
  return all;
}

}  // namespace

int runToPng(const std::string& file, const std::string& output, int plane) {
  ImageCheck check;
  requireReadableImage(file, check);
  const int planes = check.PlaneCount();
  if (plane > planes) {
    fail(kBadInput, file + ": has no plane " + std::to_string(plane) + " (it has " +
                        std::to_string(planes) + ")");
  }
  BtreeImg image(file.c_str());
  const int first = plane == 0 ? 1 : plane;
  const int last = plane == 0 ? planes : plane;
  // The work: every line read from the image, then every row of the PNG.
  std::uint64_t lines = 0;
  std::uint32_t rows = 0;
  for (int p = first; p <= last; ++p) {
    lines += image.dimy(static_cast<short>(p));
    rows = std::max(rows, image.dimy(static_cast<short>(p)));
  }
  Progress progress("topng", lines + rows);

  std::vector<IndexedImage> rendered;
  std::uint64_t done = 0;
  for (int p = first; p <= last; ++p) {
    rendered.push_back(readPlane(image, p, &progress, done));
    done += rendered.back().height;
  }
  IndexedImage picture = rendered.size() == 1 ? std::move(rendered.front())
                                              : sideBySide(rendered);
  if (picture.width == 0 || picture.height == 0) {
    fail(kBadInput, file + ": has no pixels to render (" +
                        std::to_string(picture.width) + " x " +
                        std::to_string(picture.height) + ")");
  }
  writePng(output, picture, trimmedPalette(colourMap(image), picture), &progress, done);
  return kOk;
}

}  // namespace tool
