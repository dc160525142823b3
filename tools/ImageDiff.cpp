#include "ImageDiff.h"

#include <algorithm>
#include <cstring>

#include "ImageReading.h"
#include "Progress.h"

namespace tool {

namespace {

// Compares plane `p` of the two images, which have it at one size.
void comparePixels(InputImage& first, InputImage& second, int p, PlaneDiff& diff,
                   Progress* progress, std::uint64_t& done) {
  diff.compared = true;
  const std::uint32_t width = diff.width[0];
  if (width == 0) return;  // no pixels, and no line to read them into
  std::vector<std::uint8_t> a(width), b(width);
  for (std::uint32_t y = 0; y < diff.height[0]; ++y) {
    first.readLine(p, y, a.data());
    second.readLine(p, y, b.data());
    if (std::memcmp(a.data(), b.data(), width) != 0) {
      std::uint32_t differing = 0;
      for (std::uint32_t x = 0; x < width; ++x) differing += a[x] != b[x];
      if (diff.differingPixels == 0) {
        diff.firstLine = y;
        diff.firstColumn = static_cast<std::uint32_t>(
            std::mismatch(a.begin(), a.end(), b.begin()).first - a.begin());
      }
      diff.differingPixels += differing;
    }
    if (progress) progress->update(++done);
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
