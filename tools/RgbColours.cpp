#include "RgbColours.h"

#include <bitset>
#include <memory>
#include <string>

#include "Failure.h"
#include "PngFile.h"

namespace tool {

namespace {

std::uint32_t packed(const std::uint8_t* rgba) {
  return std::uint32_t{rgba[0]} << 16 | std::uint32_t{rgba[1]} << 8 | rgba[2];
}

}  // namespace

RgbColours::RgbColours() { keys_.fill(kEmpty); }

int RgbColours::indexOf(std::uint32_t colour) {
  if (colour == lastColour_) return lastIndex_;
  std::size_t slot = (colour * 2654435761u) >> 23;  // 9 bits: 0 .. kSlots - 1
  while (keys_[slot] != colour && keys_[slot] != kEmpty) slot = (slot + 1) % kSlots;
  if (keys_[slot] == kEmpty) {
    if (colours_.size() == kMaxColours) return -1;
    keys_[slot] = colour;
    values_[slot] = static_cast<std::uint8_t>(colours_.size());
    colours_.push_back({static_cast<std::uint8_t>(colour >> 16),
                        static_cast<std::uint8_t>(colour >> 8),
                        static_cast<std::uint8_t>(colour)});
  }
  lastColour_ = colour;
  lastIndex_ = values_[slot];
  return lastIndex_;
}

void RgbColours::toIndices(PngReader& png, bool rgbBefore, std::uint32_t y,
                           const std::uint8_t* row, std::uint8_t* line) {
  for (std::uint32_t x = 0; x < png.width(); ++x) {
    const std::uint8_t* pixel = row + std::size_t{x} * 4;
    const int index = indexOf(packed(pixel));
    if (index < 0) refuseColours(png, rgbBefore, y, row, x);
    line[x] = static_cast<std::uint8_t>(index);
  }
}

void RgbColours::refuseColours(PngReader& png, bool rgbBefore, std::uint32_t y,
                               const std::uint8_t* row, std::uint32_t x) {
  // Counts the distinct colours: those of the map, then every pixel from
  // (x, y) to the end of the PNG. A 24-bit colour is one bit of 2 MiB.
  auto seen = std::make_unique<std::bitset<std::size_t{1} << 24>>();
  for (const Rgb& c : colours_) seen->set(packed(c.data()));
  std::vector<std::uint8_t> rest(png.rowBytes());
  for (;;) {
    for (; x < png.width(); ++x) seen->set(packed(row + std::size_t{x} * 4));
    if (++y == png.height()) break;
    png.readRow(rest.data());
    row = rest.data();
    x = 0;
  }
  fail(kBadInput, png.path() + ": has " + std::to_string(seen->count()) + " distinct colours" +
                      (rgbBefore ? " together with the RGB PNGs before it" : "") +
                      "; a colour map holds at most 256: reduce the colours to 256 or "
                      "fewer first (Pillow: Image.quantize(256); ImageMagick: "
                      "convert IN.png -colors 256 OUT.png; pngquant 256 IN.png)");
}

std::vector<Rgb> RgbColours::map() const {
  std::vector<Rgb> map = colours_;
  map.resize(kMaxColours, Rgb{});
  return map;
}

}  // namespace tool
