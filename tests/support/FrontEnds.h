// Helpers for the tests of the front ends (the tool, the desktop pieces):
// programs run in a child process, images made through the library's
// ImageWriter, the sample cut short, and a few files made by hand for what the writer would not
// make (a header block alone, a huge whole-plane packed plane).
#ifndef BTREEIMG_TESTS_SUPPORT_FRONTENDS_H_
#define BTREEIMG_TESTS_SUPPORT_FRONTENDS_H_

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

#include "image/ImageCheck.h"
#include "image/ImageWriter.h"
#include "support/TestFiles.h"

namespace frontend {

using Rgb = std::array<std::uint8_t, 3>;

struct Result {
  int status = -1;  // the exit status; -1 when the program did not exit
  std::string out;
  std::string err;
};

#ifdef BTREEIMG_SAMPLES
// The shipped sample file `name` (design.dis: three planes of 256 x 192).
inline std::string sample(const char* name) { return std::string(BTREEIMG_SAMPLES) + "/" + name; }

// The sample design.dis cut short after `size` bytes, written in `dir`.
inline std::string cutSample(const testfiles::TempDir& dir, std::size_t size) {
  testfiles::Bytes design = testfiles::readFile(sample("design.dis"));
  design.resize(size);
  testfiles::writeFile(dir.file("cut" + std::to_string(size) + ".dis"), design);
  return dir.file("cut" + std::to_string(size) + ".dis");
}
#endif

// The inspection's verdict on `file` in one sentence.
inline std::string summaryOf(const std::string& file, int plane = 0) {
  ImageCheck check;
  check.InspectFile(file.c_str());
  return static_cast<const char*>(plane == 0 ? check.Summary() : check.PlaneSummary(plane));
}

// Runs `program` with `args`, no standard input; its output goes through
// files in `dir`. `wrapper` (a command line, may be null) is put in front.
inline Result runProgram(const std::string& program, const std::vector<std::string>& args,
                      const testfiles::TempDir& dir, const char* wrapper = nullptr) {
  auto quoted = [](const std::string& text) {
    std::string q = "'";
    for (const char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
  };
  const std::string out = dir.file(".run-out"), err = dir.file(".run-err");
  std::string command = (wrapper != nullptr ? std::string(wrapper) + " " : "") + quoted(program);
  for (const std::string& arg : args) command += " " + quoted(arg);
  const int raw = std::system((command + " </dev/null >" + quoted(out) + " 2>" + quoted(err)).c_str());
  Result run{raw != -1 && WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, testfiles::readText(out),
          testfiles::readText(err)};
  std::remove(out.c_str());
  std::remove(err.c_str());
  return run;
}

using Pixel = std::function<std::uint8_t(int plane, int x, int y)>;

// Colour k of a family of distinct colours (k < 65536); colour-map entry k
// of a coloured image.
inline Rgb colourOf(unsigned k) {
  return {static_cast<std::uint8_t>(k), static_cast<std::uint8_t>(k >> 8),
          static_cast<std::uint8_t>(k * 7 + 3)};
}

// Writes an image of `planes` planes in encoding `pack` (as ImageWriter
// takes it) drawn by `pixel`; its colour map is colourOf() when `coloured`,
// else all black.
inline void makeImage(const std::string& path, int pack, unsigned width, unsigned height, int planes,
                      const Pixel& pixel, bool coloured = false) {
  btreeimg::ImageWriter image(path.c_str(), pack, width, height, planes);
  if (coloured) {
    unsigned char map[768];
    for (unsigned i = 0; i < 768; ++i) map[i] = colourOf(i / 3)[i % 3];
    image.setColourMap(map);
  }
  std::vector<unsigned char> line(width);
  for (int p = 1; p <= planes; ++p) {
    for (unsigned y = 0; y < height; ++y) {
      for (unsigned x = 0; x < width; ++x) line[x] = pixel(p, static_cast<int>(x), static_cast<int>(y));
      image.writeLine(p, y, line.data());
    }
  }
  image.commit();
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

// A first header block of one plane of width x height (the colour map
// black): with nothing after it, a sound image only when it has no pixels.
inline testfiles::Bytes firstBlock(int version, int pack, std::uint32_t width, std::uint32_t height) {
  testfiles::Bytes block(1312, 0);
  testfiles::put16(block, 0, static_cast<std::uint32_t>(version));
  testfiles::put16(block, 4, static_cast<std::uint32_t>(pack));
  testfiles::put32(block, 10, version == 4 ? width : (width | height << 16));
  if (version == 4) testfiles::put32(block, 14, height);
  testfiles::put16(block, 1000, 1);
  return block;
}

// A sound one-plane image whose whole-plane packed stream makes every pixel
// colour 7: a few bytes per 255 pixels. Version 2, or 4 for a side above
// 65535.
inline testfiles::Bytes flatPlane(std::uint32_t width, std::uint32_t height) {
  testfiles::Bytes file = firstBlock(width > 65535 || height > 65535 ? 4 : 2, 2, width, height);
  const std::uint64_t pixels = std::uint64_t{width} * height;
  file.resize(1312 + 8);
  testfiles::put32(file, 1312, static_cast<std::uint32_t>(pixels));
  for (std::uint64_t left = pixels; left > 0; left -= std::min<std::uint64_t>(left, 255)) {
    file.push_back(static_cast<std::uint8_t>(std::min<std::uint64_t>(left, 255)));
    file.push_back(7);
  }
  testfiles::put32(file, 1316, static_cast<std::uint32_t>(file.size() - 1320));
  return file;
}

}  // namespace frontend

#endif  // BTREEIMG_TESTS_SUPPORT_FRONTENDS_H_
