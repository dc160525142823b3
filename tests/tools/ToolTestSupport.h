// Support for the tool's tests: runs the built btreeimg tool (or the sample
// generator) in a child process, writes and reads PNG files with libpng
// directly (not through the tool, so that a test sees what any PNG reader
// sees), and makes images through the library.
#ifndef BTREEIMG_TESTS_TOOLS_TOOLTESTSUPPORT_H_
#define BTREEIMG_TESTS_TOOLS_TOOLTESTSUPPORT_H_

#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <array>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "image/BtreeImg.h"
#include "support/TestFiles.h"

namespace tooltest {

struct ToolResult {
  int status = -1;  // the exit status; -1 when the program did not exit
  std::string out;
  std::string err;
};

// Runs `program` with `args`, no standard input; its output goes through
// files in `dir`.
inline ToolResult runProgram(const std::string& program, const std::vector<std::string>& args,
                             const testfiles::TempDir& dir) {
  auto quoted = [](const std::string& text) {
    std::string q = "'";
    for (const char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  };
  const std::string out = dir.file(".run-out"), err = dir.file(".run-err");
  std::string command = quoted(program);
  for (const std::string& arg : args) command += " " + quoted(arg);
  const int raw = std::system((command + " </dev/null >" + quoted(out) + " 2>" + quoted(err)).c_str());
  ToolResult run{raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, testfiles::readText(out),
                 testfiles::readText(err)};
  std::remove(out.c_str());
  std::remove(err.c_str());
  return run;
}

inline ToolResult tool(const std::vector<std::string>& args, const testfiles::TempDir& dir) {
  return runProgram(BTREEIMG_TOOL, args, dir);
}

inline std::string sample(const char* name) { return std::string(BTREEIMG_SAMPLES) + "/" + name; }

using Rgb = std::array<std::uint8_t, 3>;

struct Png {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int colourType = PNG_COLOR_TYPE_PALETTE;
  int bitDepth = 8;
  std::vector<std::uint8_t> samples;  // one byte per sample, rows top to bottom
  std::vector<Rgb> palette;
};

// Writes `png`: a palette, grey or RGB (3 samples a pixel) PNG of depth 8, or
// 1 for palette and grey, or 16 for grey (each sample then written as both
// bytes). Returns false when libpng failed.
inline bool writePng(const std::string& path, const Png& png) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  png_structp write = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(write);
  const std::size_t rowSamples = png.width * (png.colourType == PNG_COLOR_TYPE_RGB ? 3u : 1u);
  std::vector<std::vector<std::uint8_t>> rows;  // made before the jump point
  std::vector<png_bytep> pointers;
  for (std::size_t y = 0; y < png.height; ++y) {
    auto& row = rows.emplace_back(png.samples.begin() + y * rowSamples,
                                  png.samples.begin() + (y + 1) * rowSamples);
    if (png.bitDepth == 16) {
      std::vector<std::uint8_t> wide;
      for (const std::uint8_t b : row) wide.insert(wide.end(), {b, b});
      row = wide;
    }
  }
  for (auto& row : rows) pointers.push_back(row.data());
  std::vector<png_color> colours;
  for (const Rgb& c : png.palette) colours.push_back({c[0], c[1], c[2]});
  volatile bool ok = false;
  if (setjmp(png_jmpbuf(write)) == 0) {
    png_init_io(write, file);
    png_set_IHDR(write, info, png.width, png.height, png.bitDepth, png.colourType,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!colours.empty()) png_set_PLTE(write, info, colours.data(), static_cast<int>(colours.size()));
    png_write_info(write, info);
    if (png.bitDepth < 8) png_set_packing(write);  // one sample a byte in, packed out
    png_write_image(write, pointers.data());
    png_write_end(write, info);
    ok = true;
  }
  png_destroy_write_struct(&write, &info);
  std::fclose(file);
  return ok;
}

// Reads a palette PNG: its indices and its palette. Returns false on failure
// and for a PNG without a palette.
inline bool readPng(const std::string& path, Png& png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return false;
  if ((image.format & PNG_FORMAT_FLAG_COLORMAP) == 0) {
    png_image_free(&image);
    return false;
  }
  image.format = PNG_FORMAT_RGB_COLORMAP;
  std::vector<png_byte> colours(PNG_IMAGE_COLORMAP_SIZE(image));
  png = Png{image.width, image.height, PNG_COLOR_TYPE_PALETTE, 8, std::vector<std::uint8_t>(PNG_IMAGE_SIZE(image)), {}};
  if (png_image_finish_read(&image, nullptr, png.samples.data(), 0, colours.data()) == 0) return false;
  for (std::size_t i = 0; i < image.colormap_entries; ++i) {
    png.palette.push_back({colours[3 * i], colours[3 * i + 1], colours[3 * i + 2]});
  }
  return true;
}

using Pixel = std::function<std::uint8_t(int plane, int x, int y)>;

// Writes an image of `planes` planes through the library.
inline void makeImage(const std::string& path, int pack, int width, int height, short planes,
                      const Pixel& pixel) {
  BtreeImg image(path.c_str(), pack, width, height, planes);
  std::vector<char> line(static_cast<std::size_t>(width));
  for (short p = 1; p <= planes; ++p) {
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) line[static_cast<std::size_t>(x)] = static_cast<char>(pixel(p, x, y));
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
inline Png palettePng(std::uint32_t width, std::uint32_t height, int colours, const Pixel& pixel) {
  Png png{width, height, PNG_COLOR_TYPE_PALETTE, 8, {}, palette(colours)};
  for (std::uint32_t y = 0; y < height; ++y) {
    for (std::uint32_t x = 0; x < width; ++x) {
      png.samples.push_back(static_cast<std::uint8_t>(pixel(1, static_cast<int>(x), static_cast<int>(y)) % colours));
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

#endif  // BTREEIMG_TESTS_TOOLS_TOOLTESTSUPPORT_H_
