#include "ImageDiff.h"

#include <algorithm>
#include <cstring>

#include "ImageReading.h"
#include "Progress.h"

namespace tool {

namespace {

// Lines are compared in blocks of about this many bytes, read a block at a
// time (a raw plane's block in one read of each file).
constexpr std::size_t kBlockBytes = std::size_t{256} << 10;

// Counts the differing pixels of line `y`, `a` and `b`, which differ.
void countDifferences(const std::uint8_t* a, const std::uint8_t* b, std::uint32_t width,
                      std::uint32_t y, PlaneDiff& diff) {
  std::uint32_t differing = 0;
  for (std::uint32_t x = 0; x < width; ++x) differing += a[x] != b[x];
  if (diff.differingPixels == 0) {
    diff.firstLine = y;
    diff.firstColumn = static_cast<std::uint32_t>(std::mismatch(a, a + width, b).first - a);
  }
  diff.differingPixels += differing;
}

// Compares plane `p` of the two images, which have it at one size.
void comparePixels(InputImage& first, InputImage& second, int p, PlaneDiff& diff,
                   Progress* progress, std::uint64_t& done) {
  diff.compared = true;
  const std::uint32_t width = diff.width[0], height = diff.height[0];
  if (width == 0 || height == 0) return;  // no pixels: no line buffer either
  const std::uint32_t block = static_cast<std::uint32_t>(
      std::clamp<std::size_t>(kBlockBytes / width, 1, std::max<std::uint32_t>(height, 1)));
  std::vector<std::uint8_t> a(std::size_t{block} * width), b(a.size());
  for (std::uint32_t y = 0; y < height; y += block) {
    const std::uint32_t lines = std::min(block, height - y);
    const std::size_t bytes = std::size_t{lines} * width;
    first.readLines(p, y, lines, a.data());
    second.readLines(p, y, lines, b.data());
    if (std::memcmp(a.data(), b.data(), bytes) != 0) {
      for (std::uint32_t i = 0; i < lines; ++i) {
        const std::uint8_t* lineA = a.data() + std::size_t{i} * width;
        const std::uint8_t* lineB = b.data() + std::size_t{i} * width;
        if (std::memcmp(lineA, lineB, width) != 0) countDifferences(lineA, lineB, width, y + i, diff);
      }
    }
    done += lines;
    if (progress) progress->update(done);
  }
}

}  // namespace

bool ImageDiff::equal() const {
  return differingEntries.empty() &&
         std::all_of(planes.begin(), planes.end(), [](const PlaneDiff& plane) {
           return plane.compared && plane.differingPixels == 0;
         });
}

ImageDiff compareImages(InputImage& first, InputImage& second, Progress* progress) {
  const int firstPlanes = first.planes(), secondPlanes = second.planes();
  ImageDiff diff;
  diff.map[0] = first.colourMap();
  diff.map[1] = second.colourMap();
  for (int i = 0; i < 256; ++i) {
    if (diff.map[0][static_cast<std::size_t>(i)] != diff.map[1][static_cast<std::size_t>(i)]) {
      diff.differingEntries.push_back(i);
    }
  }
  diff.planes.resize(static_cast<std::size_t>(std::max(firstPlanes, secondPlanes)));
  std::uint64_t done = 0;
  for (int p = 1; p <= static_cast<int>(diff.planes.size()); ++p) {
    PlaneDiff& plane = diff.planes[static_cast<std::size_t>(p - 1)];
    plane.inFirst = p <= firstPlanes;
    plane.inSecond = p <= secondPlanes;
    if (plane.inFirst) {
      plane.width[0] = first.width();
      plane.height[0] = first.height();
    }
    if (plane.inSecond) {
      plane.width[1] = second.width();
      plane.height[1] = second.height();
    }
    if (plane.inFirst && plane.inSecond && plane.width[0] == plane.width[1] &&
        plane.height[0] == plane.height[1]) {
      comparePixels(first, second, p, plane, progress, done);
    }
  }
  return diff;
}

}  // namespace tool
