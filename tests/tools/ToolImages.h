// Images and PNGs the tool's tests start from.
#ifndef BTREEIMG_TESTS_TOOLS_TOOLIMAGES_H_
#define BTREEIMG_TESTS_TOOLS_TOOLIMAGES_H_

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "PngTestFiles.h"
#include "image/BtreeImg.h"

namespace tooltest {

using Pixel = std::function<std::uint8_t(int plane, int x, int y)>;

// Writes an image of `planes` planes through the library.
inline void makeImage(const std::string& path, int pack, int width, int height,
                      short planes, const Pixel& pixel) {
  BtreeImg image(path.c_str(), pack, width, height, planes);
  std::vector<char> line(static_cast<std::size_t>(width));
  for (short p = 1; p <= planes; ++p) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        line[static_cast<std::size_t>(x)] = static_cast<char>(pixel(p, x, y));
      }
      ASSERT_EQ(image.wLinea(line.data(), y, p), 1);
    }
  }
  image.closeImg();
}

// A palette of `n` distinct colours.
inline std::vector<Rgb> palette(int n) {
  std::vector<Rgb> colours;
  for (int i = 0; i < n; ++i) {
    colours.push_back({static_cast<std::uint8_t>(i * 37), static_cast<std::uint8_t>(255 - i * 11),
                       static_cast<std::uint8_t>(i * 91)});
  }
  return colours;
}

// A palette PNG of indices below `colours`, drawn by `pixel` (plane 1).
inline Png palettePng(std::uint32_t width, std::uint32_t height, int colours,
                      const Pixel& pixel) {
  Png png;
  png.width = width;
  png.height = height;
  png.colourType = PNG_COLOR_TYPE_PALETTE;
  png.bitDepth = 8;
  png.palette = palette(colours);
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      png.samples.push_back(static_cast<std::uint8_t>(
          pixel(1, static_cast<int>(x), static_cast<int>(y)) % colours));
    }
  }
  return png;
}

// Every byte drawn at random: the worst case for the packed encodings.
inline Pixel noise(unsigned seed) {
  return [seed](int plane, int x, int y) {
    std::minstd_rand random(seed * 7919u + static_cast<unsigned>(plane * 104729 + y * 1000 + x));
    random.discard(3);
    return static_cast<std::uint8_t>(random());
  };
}

// Horizontal runs of a few colours, different on every plane and line.
inline Pixel runs(int colours) {
  return [colours](int plane, int x, int y) {
    return static_cast<std::uint8_t>((x / 7 + y / 3 + plane) % colours);
  };
}

}  // namespace tooltest

#endif  // BTREEIMG_TESTS_TOOLS_TOOLIMAGES_H_
