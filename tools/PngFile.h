// Reading and writing the PNG files the tool exchanges with images: 8-bit
// pixels that are indices into a colour map of up to 256 entries.
#ifndef BTREEIMG_TOOLS_PNGFILE_H_
#define BTREEIMG_TOOLS_PNGFILE_H_

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace tool {

class Progress;

using Rgb = std::array<std::uint8_t, 3>;

// One byte per pixel, rows top to bottom.
struct IndexedImage {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;  // width * height bytes
  // The PNG's palette (1 to 256 entries); empty for a grey PNG, whose pixel
  // bytes are its grey levels.
  std::vector<Rgb> palette;
};

// Reads a palette PNG (its indices kept as they are) or a grey PNG (levels
// scaled to 8 bits; an alpha channel is dropped). Fails with kBadInput, the
// message naming the file, for a file that cannot be read, is no PNG, or
// holds RGB colour.
IndexedImage readPng(const std::string& path);

// Writes `image` as an 8-bit palette PNG with the palette `palette` (1 to
// 256 entries). `progress` (may be null) is advanced by one per row from
// `doneBefore`. Fails with kCannotWrite, naming the file; a partly written
// file is removed.
void writePng(const std::string& path, const IndexedImage& image,
              const std::vector<Rgb>& palette, Progress* progress = nullptr,
              std::uint64_t doneBefore = 0);

}  // namespace tool

#endif  // BTREEIMG_TOOLS_PNGFILE_H_
