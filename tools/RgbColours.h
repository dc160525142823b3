// The colour map that the pixels of RGB PNGs become: each colour gets the
// next free index the first time it appears, so that the same PNGs always
// give the same map and every pixel keeps its colour exactly.
#ifndef BTREEIMG_TOOLS_RGBCOLOURS_H_
#define BTREEIMG_TOOLS_RGBCOLOURS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "Pixels.h"

namespace tool {

class PngReader;

class RgbColours {
 public:
  static constexpr std::size_t kMaxColours = 256;

  RgbColours();

  // Turns row `y` of `png` (RGBA bytes, png.width() pixels, as PngReader
  // delivers them) into colour-map indices in `line` (png.width() bytes).
  // `rgbBefore` says whether earlier RGB inputs gave colours to this map.
  // The alpha bytes are not looked at (PngReader refuses translucent
  // pixels). Fails with kBadInput, naming the file, for a colour past the
  // 256th: the rest of `png` is then read to state how many distinct colours
  // there are, and the message says how to reduce them.
  void toIndices(PngReader& png, bool rgbBefore, std::uint32_t y, const std::uint8_t* row,
                 std::uint8_t* line);

  // The colours given an index so far.
  std::size_t count() const { return colours_.size(); }
  // The colour map: the colours in the order they appeared, padded with
  // black to 256 entries.
  std::vector<Rgb> map() const;

 private:
  static constexpr std::size_t kSlots = 2 * kMaxColours;  // open addressing
  static constexpr std::uint32_t kEmpty = 0xffffffff;     // never a 24-bit colour

  // The index of `colour`, adding it when new; -1 when the map is full.
  int indexOf(std::uint32_t colour);
  [[noreturn]] void refuseColours(PngReader& png, bool rgbBefore, std::uint32_t y,
                                  const std::uint8_t* row, std::uint32_t x);

  std::array<std::uint32_t, kSlots> keys_;
  std::array<std::uint8_t, kSlots> values_{};
  std::vector<Rgb> colours_;
  std::uint32_t lastColour_ = kEmpty;  // runs of one colour skip the table
  std::uint8_t lastIndex_ = 0;
};

}  // namespace tool

#endif  // BTREEIMG_TOOLS_RGBCOLOURS_H_
