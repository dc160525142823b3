// PNG files for the tool's tests, written and read with libpng directly
// (not through the tool), so that a test sees what any PNG reader sees.
#ifndef BTREEIMG_TESTS_TOOLS_PNGTESTFILES_H_
#define BTREEIMG_TESTS_TOOLS_PNGTESTFILES_H_

#include <png.h>

#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tooltest {

using Rgb = std::array<std::uint8_t, 3>;

struct Png {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int colourType = -1;
  int bitDepth = 0;
  std::vector<std::uint8_t> samples;  // one byte per pixel as stored (after
                                      // unpacking), rows top to bottom
  std::vector<Rgb> palette;
};

// Writes `png`: colourType PNG_COLOR_TYPE_PALETTE, _GRAY or _RGB (samples
// then hold 3 bytes per pixel); bitDepth 8, or 1 for palette and grey, or 16
// for grey (each sample byte then written as both bytes).
// Returns false when libpng failed.
inline bool writePng(const std::string& path, const Png& png) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  png_structp write = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr,
                                              nullptr, nullptr);
  png_infop info = png_create_info_struct(write);
  const std::uint32_t channels = png.colourType == PNG_COLOR_TYPE_RGB ? 3 : 1;
  // Rows packed as libpng wants them, made before the jump point.
  std::vector<std::vector<std::uint8_t>> rows(png.height);
  for (std::uint32_t y = 0; y < png.height; ++y) {
    const std::uint8_t* in = png.samples.data() + std::size_t{y} * png.width * channels;
    std::vector<std::uint8_t>& row = rows[y];
    if (png.bitDepth == 1) {
      row.assign((png.width + 7) / 8, 0);
      for (std::uint32_t x = 0; x < png.width; ++x) {
        if (in[x] & 1) row[x / 8] |= static_cast<std::uint8_t>(0x80 >> (x % 8));
      }
    } else if (png.bitDepth == 16) {
      for (std::uint32_t x = 0; x < png.width; ++x) {
        row.push_back(in[x]);
        row.push_back(in[x]);
      }
    } else {
      row.assign(in, in + png.width * channels);
    }
  }
  std::vector<png_bytep> pointers;
  for (auto& row : rows) pointers.push_back(row.data());
  std::vector<png_color> colours;
  for (const Rgb& c : png.palette) colours.push_back({c[0], c[1], c[2]});
  volatile bool ok = false;
  if (setjmp(png_jmpbuf(write)) == 0) {
    png_init_io(write, file);
    png_set_IHDR(write, info, png.width, png.height, png.bitDepth, png.colourType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (!colours.empty()) {
      png_set_PLTE(write, info, colours.data(), static_cast<int>(colours.size()));
    }
    png_write_info(write, info);
    png_write_image(write, pointers.data());
    png_write_end(write, info);
    ok = true;
  }
  png_destroy_write_struct(&write, &info);
  std::fclose(file);
  return ok;
}

// Reads an 8-bit palette or grey PNG as stored. Returns false on failure.
inline bool readPng(const std::string& path, Png& png) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  png_structp read = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr,
                                            nullptr, nullptr);
  png_infop info = png_create_info_struct(read);
  std::vector<png_bytep> pointers;
  volatile bool ok = false;
  if (setjmp(png_jmpbuf(read)) == 0) {
    png_init_io(read, file);
    png_read_info(read, info);
    png.width = png_get_image_width(read, info);
    png.height = png_get_image_height(read, info);
    png.colourType = png_get_color_type(read, info);
    png.bitDepth = png_get_bit_depth(read, info);
    png_colorp colours = nullptr;
    int count = 0;
    if (png_get_PLTE(read, info, &colours, &count) != 0) {
      for (int i = 0; i < count; ++i) {
        png.palette.push_back({colours[i].red, colours[i].green, colours[i].blue});
      }
    }
    if (png.bitDepth == 8 && png_get_rowbytes(read, info) == png.width) {
      png.samples.resize(std::size_t{png.width} * png.height);
      for (std::uint32_t y = 0; y < png.height; ++y) {
        pointers.push_back(png.samples.data() + std::size_t{y} * png.width);
      }
      png_read_image(read, pointers.data());
      png_read_end(read, nullptr);
      ok = true;
    }
  }
  png_destroy_read_struct(&read, &info, nullptr);
  std::fclose(file);
  return ok;
}

}  // namespace tooltest

#endif  // BTREEIMG_TESTS_TOOLS_PNGTESTFILES_H_
