// Support for the tool's tests: runs the built btreeimg tool (or the sample
// generator) in a child process, writes and reads PNG files with libpng
// directly (not through the tool, so that a test sees what any PNG reader
// sees), and makes images through the library.
#ifndef BTREEIMG_TESTS_TOOLS_TOOLTESTSUPPORT_H_
#define BTREEIMG_TESTS_TOOLS_TOOLTESTSUPPORT_H_

#include <gtest/gtest.h>
#include <png.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
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
// files in `dir`. BTREEIMG_TOOL_WRAPPER, when set, is a command put in front
// (scripts/valgrind runs the tool under memcheck this way) unless `wrapped`
// is false.
inline ToolResult runProgram(const std::string& program, const std::vector<std::string>& args,
                             const testfiles::TempDir& dir, bool wrapped = true) {
  auto quoted = [](const std::string& text) {
    std::string q = "'";
    for (const char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  };
  const std::string out = dir.file(".run-out"), err = dir.file(".run-err");
  const char* wrapper = wrapped ? std::getenv("BTREEIMG_TOOL_WRAPPER") : nullptr;
  std::string command = wrapper != nullptr ? std::string(wrapper) + " " + quoted(program)
                                           : quoted(program);
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
static_assert(sizeof(Rgb) == 3, "libpng takes colour maps as packed RGB bytes");

struct Png {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int colourType = PNG_COLOR_TYPE_PALETTE;
  int bitDepth = 8;
  std::vector<std::uint8_t> samples;  // one byte per sample, rows top to bottom
  std::vector<Rgb> palette;
};

// Writes `png` through libpng's simplified interface: a palette PNG (libpng
// picks the smallest depth that holds the palette, so 2 colours give 1 bit a
// pixel), an 8-bit grey or RGB PNG, or a 16-bit grey one (sample s written
// as s * 257). Returns false when libpng failed.
inline bool writePng(const std::string& path, const Png& png) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = png.width;
  image.height = png.height;
  image.format = png.colourType == PNG_COLOR_TYPE_RGB    ? PNG_FORMAT_RGB
                 : png.colourType == PNG_COLOR_TYPE_GRAY ? PNG_FORMAT_GRAY
                                                         : PNG_FORMAT_RGB_COLORMAP;
  if (png.bitDepth == 16) image.format |= PNG_FORMAT_FLAG_LINEAR;
  image.colormap_entries = static_cast<png_uint_32>(png.palette.size());
  std::vector<png_uint_16> wide(png.samples.begin(), png.samples.end());
  for (png_uint_16& sample : wide) sample = static_cast<png_uint_16>(sample * 257);
  const void* pixels = png.bitDepth == 16 ? static_cast<const void*>(wide.data()) : png.samples.data();
  return png_image_write_to_file(&image, path.c_str(), 0, pixels, 0, png.palette.data()) != 0;
}

// A PNG written through libpng's own row interface, for the forms the
// simplified interface cannot write: interlaced, 16-bit RGB with any sample
// values, a tRNS colour, grey level or palette alpha.
struct RawPng {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  int colourType = PNG_COLOR_TYPE_RGB;  // RGB, RGB_ALPHA, GRAY or PALETTE
  int bitDepth = 8;                     // 8 or 16 (16: not PALETTE)
  bool interlaced = false;
  std::vector<std::uint16_t> samples;  // one per sample, rows top to bottom
  std::vector<Rgb> palette;
  // tRNS, if any: the transparent colour (RGB) or level (GRAY), or the
  // alpha of the first palette entries (PALETTE).
  std::vector<std::uint16_t> transparent;
};

inline int channelsOf(int colourType) {
  switch (colourType) {
    case PNG_COLOR_TYPE_RGB: return 3;
    case PNG_COLOR_TYPE_RGB_ALPHA: return 4;
    case PNG_COLOR_TYPE_GRAY_ALPHA: return 2;
    default: return 1;
  }
}

// Written at compression level `level` (1: fast).
inline bool writeRawPng(const std::string& path, const RawPng& raw, int level = 1) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  const int channels = channelsOf(raw.colourType);
  const std::size_t bytes = raw.bitDepth / 8;
  std::vector<png_byte> rows(raw.samples.size() * bytes);
  for (std::size_t i = 0; i < raw.samples.size(); ++i) {
    if (bytes == 2) rows[2 * i] = static_cast<png_byte>(raw.samples[i] >> 8);
    rows[bytes * i + bytes - 1] = static_cast<png_byte>(raw.samples[i]);
  }
  std::vector<png_bytep> pointers;
  for (std::uint32_t y = 0; y < raw.height; ++y) {
    pointers.push_back(rows.data() + std::size_t{y} * raw.width * channels * bytes);
  }
  std::vector<png_color> colours;
  for (const Rgb& c : raw.palette) colours.push_back({c[0], c[1], c[2]});
  const std::vector<png_byte> alpha(raw.transparent.begin(), raw.transparent.end());
  // Nothing with a destructor is made after the setjmp.
  const bool ok = [&] {
    if (setjmp(png_jmpbuf(png))) return false;
    png_init_io(png, file);
    png_set_IHDR(png, info, raw.width, raw.height, raw.bitDepth, raw.colourType,
                 raw.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_set_compression_level(png, level);
    if (!colours.empty()) {
      png_set_PLTE(png, info, colours.data(), static_cast<int>(colours.size()));
    }
    if (raw.colourType == PNG_COLOR_TYPE_PALETTE && !alpha.empty()) {
      png_set_tRNS(png, info, alpha.data(), static_cast<int>(alpha.size()), nullptr);
    } else if (raw.transparent.size() == 3) {
      png_color_16 colour{0, raw.transparent[0], raw.transparent[1], raw.transparent[2], 0};
      png_set_tRNS(png, info, nullptr, 0, &colour);
    } else if (raw.transparent.size() == 1) {
      png_color_16 level{0, 0, 0, 0, raw.transparent[0]};
      png_set_tRNS(png, info, nullptr, 0, &level);
    }
    png_write_info(png, info);
    png_write_image(png, pointers.data());
    png_write_end(png, info);
    return true;
  }();
  png_destroy_write_struct(&png, &info);
  return std::fclose(file) == 0 && ok;
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
  png = Png{image.width, image.height, PNG_COLOR_TYPE_PALETTE, 8,
            std::vector<std::uint8_t>(PNG_IMAGE_SIZE(image)), std::vector<Rgb>(256)};
  if (png_image_finish_read(&image, nullptr, png.samples.data(), 0, png.palette.data()) == 0) return false;
  png.palette.resize(image.colormap_entries);
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

// A palette PNG of indices below `colours`, drawn by `pixel` (plane 1), with
// a palette of that many distinct colours.
inline Png palettePng(std::uint32_t width, std::uint32_t height, int colours, const Pixel& pixel) {
  Png png{width, height, PNG_COLOR_TYPE_PALETTE, 8, {}, {}};
  for (int i = 0; i < colours; ++i) {
    png.palette.push_back({static_cast<std::uint8_t>(i * 37), static_cast<std::uint8_t>(255 - i * 11),
                           static_cast<std::uint8_t>(i * 91)});
  }
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

// Hand-made files, for what the library would not write: little-endian
// fields, and a first header block of one plane (the colour map black).
inline void put16(testfiles::Bytes& b, std::size_t at, std::uint32_t v) {
  b.at(at) = static_cast<std::uint8_t>(v);
  b.at(at + 1) = static_cast<std::uint8_t>(v >> 8);
}

inline void put32(testfiles::Bytes& b, std::size_t at, std::uint32_t v) {
  put16(b, at, v & 0xffff);
  put16(b, at + 2, v >> 16);
}

inline testfiles::Bytes firstBlock(int version, int pack, std::uint32_t width, std::uint32_t height) {
  testfiles::Bytes block(1312, 0);
  put16(block, 0, static_cast<std::uint32_t>(version));
  put16(block, 4, static_cast<std::uint32_t>(pack));
  if (version == 4) {
    put32(block, 10, width);
    put32(block, 14, height);
  } else {
    put16(block, 10, width);
    put16(block, 12, height);
  }
  put16(block, 1000, 1);
  return block;
}

// A sound one-plane image whose whole-plane packed stream makes every pixel
// colour 7: a few bytes per 255 pixels. Version 2, or 4 for a side above
// 65535.
inline testfiles::Bytes flatPlane(std::uint32_t width, std::uint32_t height) {
  testfiles::Bytes file = firstBlock(width > 65535 || height > 65535 ? 4 : 2, 2, width, height);
  const std::uint64_t pixels = std::uint64_t{width} * height;
  testfiles::Bytes pairs;
  for (std::uint64_t left = pixels; left > 0; left -= std::min<std::uint64_t>(left, 255)) {
    pairs.push_back(static_cast<std::uint8_t>(std::min<std::uint64_t>(left, 255)));
    pairs.push_back(7);
  }
  file.resize(1312 + 8);
  put32(file, 1312, static_cast<std::uint32_t>(pixels));
  put32(file, 1316, static_cast<std::uint32_t>(pairs.size()));
  file.insert(file.end(), pairs.begin(), pairs.end());
  return file;
}

}  // namespace tooltest

#endif  // BTREEIMG_TESTS_TOOLS_TOOLTESTSUPPORT_H_
