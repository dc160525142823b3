// The pixels the tool exchanges between images and PNG files: colours, and
// small pictures of colour-map indices.
#ifndef BTREEIMG_TOOLS_PIXELS_H_
#define BTREEIMG_TOOLS_PIXELS_H_

#include <array>
#include <cstdint>
#include <vector>

namespace tool {

// A colour: red, green, blue.
using Rgb = std::array<std::uint8_t, 3>;

// One byte per pixel, rows top to bottom: a small picture built in memory.
struct IndexedImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;  // width * height bytes
};

}  // namespace tool

#endif  // BTREEIMG_TOOLS_PIXELS_H_
