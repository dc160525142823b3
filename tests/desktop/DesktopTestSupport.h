// Support for the desktop tests: the build folder's loader cache and MIME
// database put in place for GdkPixbuf (in this process and the programs it
// starts), RGB pictures from pixbufs and PNG files, images with a colour map,
// and programs run outside the tool's wrapper.
#ifndef BTREEIMG_TESTS_DESKTOP_DESKTOPTESTSUPPORT_H_
#define BTREEIMG_TESTS_DESKTOP_DESKTOPTESTSUPPORT_H_

#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <png.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/TestFiles.h"
#include "tools/ToolTestSupport.h"

namespace desktoptest {

using tooltest::Pixel;

// Points GdkPixbuf at the loader cache built beside the tests (naming only
// this project's loader; PNG is built into GdkPixbuf) and puts the MIME
// database holding the file type in front of the system's. Call before
// GdkPixbuf's first use; the programs the tests start inherit it.
inline void useBuiltDesktop() {
  ::setenv("GDK_PIXBUF_MODULE_FILE", BTREEIMG_LOADER_CACHE, 1);
  const char* system = std::getenv("XDG_DATA_DIRS");
  static const std::string dirs = std::string(BTREEIMG_MIME_SHARE) + ":" +
                                  (system != nullptr && *system ? system : "/usr/local/share:/usr/share");
  ::setenv("XDG_DATA_DIRS", dirs.c_str(), 1);
}

// An RGB picture, rows top to bottom, three bytes a pixel.
struct Picture {
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::vector<std::uint8_t> rgb;
};

inline Picture pictureOf(const GdkPixbuf* pixbuf) {
  Picture picture{static_cast<std::uint32_t>(gdk_pixbuf_get_width(pixbuf)),
                  static_cast<std::uint32_t>(gdk_pixbuf_get_height(pixbuf)), {}};
  const int channels = gdk_pixbuf_get_n_channels(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf);
  for (std::uint32_t y = 0; y < picture.height; ++y) {
    for (std::uint32_t x = 0; x < picture.width; ++x) {
      const guint8* p = pixels + std::size_t{y} * stride + std::size_t{x} * channels;
      picture.rgb.insert(picture.rgb.end(), p, p + 3);
    }
  }
  return picture;
}

// Any PNG as RGB, through libpng (a palette PNG through its palette).
inline bool readRgbPng(const std::string& path, Picture& picture) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return false;
  image.format = PNG_FORMAT_RGB;
  picture = Picture{image.width, image.height, std::vector<std::uint8_t>(PNG_IMAGE_SIZE(image))};
  return png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) != 0;
}

inline bool operator==(const Picture& a, const Picture& b) {
  return a.width == b.width && a.height == b.height && a.rgb == b.rgb;
}

// Colour-map entry i: distinct colours for distinct entries.
inline tooltest::Rgb colourOf(int i) {
  return {static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(255 - i),
          static_cast<std::uint8_t>(i * 7)};
}

// Writes an image through the library and gives it the colour map of
// colourOf() (at byte 20 of the first header block). Returns its version.
inline int makeColouredImage(const std::string& path, int pack, int width, int height,
                             short planes, const Pixel& pixel) {
  tooltest::makeImage(path, pack, width, height, planes, pixel);
  testfiles::Bytes bytes = testfiles::readFile(path);
  for (int i = 0; i < 256; ++i) std::memcpy(&bytes.at(20 + 3 * i), colourOf(i).data(), 3);
  testfiles::writeFile(path, bytes);
  return bytes[0];
}

// Runs a program that is not the tool (so never under the tool's wrapper).
// In a sanitizer build it gets the sanitizer's runtime, which the
// instrumented loader module needs, and no leak check.
inline tooltest::ToolResult runOther(std::vector<std::string> args, const testfiles::TempDir& dir) {
  if (std::strlen(BTREEIMG_SANITIZER_PRELOAD) > 0) {
    args.insert(args.begin(), {std::string("LD_PRELOAD=") + BTREEIMG_SANITIZER_PRELOAD,
                               "ASAN_OPTIONS=detect_leaks=0"});
  }
  return tooltest::runProgram("env", args, dir, /*wrapped=*/false);
}

}  // namespace desktoptest

#endif  // BTREEIMG_TESTS_DESKTOP_DESKTOPTESTSUPPORT_H_
