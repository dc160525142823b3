// Support for the tool's tests: runs the built btreeimg tool, writes PNG
// files with libpng itself (any form a PNG takes), and reads the palette
// PNGs the tool writes through its own reader.
#ifndef BTREEIMG_TESTS_TOOLS_TOOLTESTSUPPORT_H_
#define BTREEIMG_TESTS_TOOLS_TOOLTESTSUPPORT_H_

#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "PngFile.h"
#include "support/FrontEnds.h"
#include "support/TestFiles.h"

namespace tooltest {

using namespace frontend;  // NOLINT: the helpers every test here uses

// The tool with `args`. BTREEIMG_TOOL_WRAPPER, when set, is put in front
// (scripts/valgrind runs the tool under memcheck this way).
inline Result tool(const std::vector<std::string>& args, const testfiles::TempDir& dir) {
  return runProgram(BTREEIMG_TOOL, args, dir, std::getenv("BTREEIMG_TOOL_WRAPPER"));
}

// A PNG to write: any colour type (RGB, RGB_ALPHA, GRAY, GRAY_ALPHA,
// PALETTE) at 8 or 16 bits (16: not PALETTE; PALETTE also at 1, 2 or 4),
// plain or interlaced.
struct Png {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int colourType = PNG_COLOR_TYPE_PALETTE;
  int bitDepth = 8;
  bool interlaced = false;
  std::vector<std::uint16_t> samples;  // one per sample, rows top to bottom
  std::vector<Rgb> palette;
  // tRNS, if any: the transparent colour (RGB) or level (GRAY), or the
  // alpha of the first palette entries (PALETTE).
  std::vector<std::uint16_t> transparent;
};

// `png` with sample `at` (pixel * channels + channel; kNone: none) set to
// `value`, and tRNS `key`.
constexpr std::size_t kNone = SIZE_MAX;
inline Png changed(Png png, std::size_t at, std::uint16_t value, std::vector<std::uint16_t> key = {}) {
  if (at != kNone) png.samples.at(at) = value;
  png.transparent = std::move(key);
  return png;
}

// Writes `png` at compression level `level` (1: fast). False when libpng
// failed.
inline bool writePng(const std::string& path, const Png& raw, int level = 1) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  const std::size_t bytes = raw.bitDepth == 16 ? 2 : 1;
  std::vector<png_byte> rows(raw.samples.size() * bytes);
  for (std::size_t i = 0; i < raw.samples.size(); ++i) {
    if (bytes == 2) rows[2 * i] = static_cast<png_byte>(raw.samples[i] >> 8);
    rows[bytes * i + bytes - 1] = static_cast<png_byte>(raw.samples[i]);
  }
  std::vector<png_bytep> pointers;
  for (std::uint32_t y = 0; y < raw.height; ++y) pointers.push_back(rows.data() + y * rows.size() / raw.height);
  std::vector<png_color> colours;
  for (const Rgb& c : raw.palette) colours.push_back({c[0], c[1], c[2]});
  const std::vector<png_byte> alpha(raw.transparent.begin(), raw.transparent.end());
  const std::vector<std::uint16_t>& t = raw.transparent;
  png_color_16 key{0, 0, 0, 0, 0};
  if (t.size() == 3) key = {0, t[0], t[1], t[2], 0};
  if (t.size() == 1) key.gray = t[0];
  // Nothing with a destructor is made after the setjmp.
  const bool ok = [&] {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, raw.width, raw.height, raw.bitDepth, raw.colourType,
                 raw.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, level);
    if (!colours.empty()) png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
    if (raw.colourType == PNG_COLOR_TYPE_PALETTE && !alpha.empty()) {
      png_set_tRNS(png, info, alpha.data(), static_cast<int>(alpha.size()), nullptr);
    } else if (!t.empty()) {
      png_set_tRNS(png, info, nullptr, 0, &key);
    }
    png_write_info(png, info);
    png_set_packing(png);  // depths below 8 from a byte a pixel
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    return true;
  }();
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0 && ok;
}

// A width x height PNG of `colourType` at `bitDepth`, plain, no palette:
// sample c of pixel i (rows top to bottom) is sample(i, c).
inline Png picture(std::uint32_t width, std::uint32_t height, int colourType, int bitDepth,
                   const std::function<unsigned(std::uint32_t, int)>& sample) {
  Png png{width, height, colourType, bitDepth, false, {}, {}, {}};
  const int channels = (colourType == PNG_COLOR_TYPE_RGB || colourType == PNG_COLOR_TYPE_RGB_ALPHA ? 3 : 1) +
                       (colourType & PNG_COLOR_MASK_ALPHA ? 1 : 0);
  for (std::uint32_t i = 0; i < width * height; ++i) {
    for (int c = 0; c < channels; ++c) png.samples.push_back(static_cast<std::uint16_t>(sample(i, c)));
  }
  return png;
}

// A palette PNG of the first `colours` colourOf() colours, its indices drawn
// by `pixel` (plane 1) modulo `colours`.
inline Png palettePng(std::uint32_t width, std::uint32_t height, unsigned colours, const Pixel& pixel) {
  Png png = picture(width, height, PNG_COLOR_TYPE_PALETTE, 8, [&](std::uint32_t i, int) {
    return pixel(1, static_cast<int>(i % width), static_cast<int>(i / width)) % colours;
  });
  for (unsigned k = 0; k < colours; ++k) png.palette.push_back(colourOf(k));
  return png;
}

// A palette PNG as read: its indices, rows top to bottom, and its palette.
struct Indexed {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> pixels;
  std::vector<Rgb> palette;
};

// Reads the palette PNG `path` through the tool's reader (which throws
// tool::Failure for a PNG it cannot read).
inline Indexed readPng(const std::string& path) {
  tool::PngReader reader(path);
  EXPECT_EQ(reader.kind(), tool::PngReader::kPalette) << path;
  Indexed png{reader.width(), reader.height(), std::vector<std::uint8_t>(std::size_t{reader.width()} * reader.height()),
              reader.palette()};
  for (std::uint32_t y = 0; y < png.height; ++y) reader.readRow(png.pixels.data() + std::size_t{y} * png.width);
  return png;
}

// A JSON text without the line breaks and the indentation after them.
inline std::string flatJson(const std::string& text) { return std::regex_replace(text, std::regex("\n *"), ""); }

}  // namespace tooltest

#endif  // BTREEIMG_TESTS_TOOLS_TOOLTESTSUPPORT_H_
