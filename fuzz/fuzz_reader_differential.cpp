// The library's two readings of an image file must agree: the same bytes are
// opened with BtreeImg (the whole file in memory) and with a strict
// ImageReader (line by line, on demand), and for every line the reader
// serves, its bytes must be those BtreeImg reads. A reader that refuses a
// file or a line is a valid outcome; a line served with other bytes is not.
#include <cstring>
#include <memory>
#include <vector>

#include "FuzzSupport.h"
#include "image/BtreeImg.h"
#include "image/ImageReader.h"

namespace {

// Planes larger than this are not read (the harness's memory limit).
constexpr unsigned long long kMaxPlaneBytes = 16ull << 20;
constexpr unsigned int kMaxLines = 2048;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<btreeimg::ImageReader> reader;
  fuzz::tolerate([&] {
    reader = std::make_unique<btreeimg::ImageReader>(data, size);
  });
  if (reader == nullptr) return 0;
  const unsigned int width = reader->width();
  const unsigned int height = reader->height();
  if (reader->planeCost() > kMaxPlaneBytes) return 0;
  const std::string path = fuzz::pathOf("input.dis");
  fuzz::writeBytes(path, data, size);
  fuzz::tolerate([&] {
    BtreeImg image(path.c_str());
    std::vector<unsigned char> served(width + 1), read(width + 1);
    for (int p = 1; p <= reader->planes(); ++p) {
      const unsigned int lines = height < kMaxLines ? height : kMaxLines;
      for (unsigned int y = 0; y < lines; ++y) {
        bool refused = false;
        try {
          reader->readLine(p, y, served.data());
        } catch (CException* e) {
          e->Delete();
          refused = true;
        }
        if (refused) continue;
        // A strict reader serves only planes it found sound: BtreeImg
        // (when it opens the file at all) must hold the same planes and
        // read the same line.
        if (image.nPiani() < p || image.dimx(static_cast<short>(p)) != width) {
          __builtin_trap();
        }
        std::memset(read.data(), 0xA5, read.size());
        image.at(y, static_cast<short>(p), read.data());
        if (std::memcmp(served.data(), read.data(), width) != 0) __builtin_trap();
      }
    }
  });
  return 0;
}
