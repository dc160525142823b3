#include "ImageReading.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "Progress.h"
#include "ToolSupport.h"
#include "image/BtreeImg.h"
#include "image/ImageCheck.h"

namespace tool {

std::vector<Rgb> colourMap(BtreeImg& image) {
  std::vector<Rgb> map(256);
  for (short i = 0; i < 256; ++i) {
    for (short c = 0; c < 3; ++c) {
      map[static_cast<std::size_t>(i)][static_cast<std::size_t>(c)] =
          image.GetRgbHeader(i, c, 0);
    }
  }
  return map;
}

std::vector<unsigned char> colourMapBytes(const std::vector<Rgb>& map) {
  std::vector<unsigned char> bytes(768, 0);
  for (std::size_t i = 0; i < map.size() && i < 256; ++i) {
    std::copy(map[i].begin(), map[i].end(), bytes.begin() + static_cast<std::ptrdiff_t>(3 * i));
  }
  return bytes;
}

std::string hexColour(const Rgb& colour) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", colour[0], colour[1], colour[2]);
  return text;
}

IndexedImage readPlane(BtreeImg& image, int plane, Progress* progress,
                       std::uint64_t doneBefore) {
  const auto p = static_cast<short>(plane);
  IndexedImage pixels;
  pixels.width = image.dimx(p);
  pixels.height = image.dimy(p);
  pixels.pixels.resize(std::size_t{pixels.width} * pixels.height);
  for (std::uint32_t y = 0; y < pixels.height; ++y) {
    image.at(y, p, pixels.pixels.data() + std::size_t{y} * pixels.width);
    if (progress) progress->update(doneBefore + y + 1);
  }
  return pixels;
}

bool plausibleSize(const ImageCheck& check, const std::string& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return false;
  // Every plane is read with plane 1's dimensions; a version-2 plane may
  // state a longer line of its own, which its line buffer then holds.
  const ImageCheck::PlaneLayout& first = check.Plane(1);
  unsigned long long pixels = 0;
  for (int p = 1; p <= check.PlaneCount(); ++p) {
    const ImageCheck::PlaneLayout& plane = check.Plane(p);
    pixels += static_cast<unsigned long long>(first.dimx > plane.dimx ? first.dimx
                                                                      : plane.dimx) *
              first.dimy;
  }
  return pixels <= 128ull * size + 65536;
}

void requireReadableImage(const std::string& path, ImageCheck& check, Damaged damaged) {
  requireUsableImage(path, check, damaged);
  if (!plausibleSize(check, path)) {
    const ImageCheck::PlaneLayout& first = check.Plane(1);
    fail(kBadInput, path + ": states planes of " + std::to_string(first.dimx) +
                        " x " + std::to_string(first.dimy) +
                        " that the file cannot hold; not read");
  }
}

}  // namespace tool
