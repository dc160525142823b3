// Comparing two images by their pixels and colour map, whatever their
// versions and encodings: what the diff command reports.
#ifndef BTREEIMG_TOOLS_IMAGEDIFF_H_
#define BTREEIMG_TOOLS_IMAGEDIFF_H_

#include <cstdint>
#include <vector>

#include "Pixels.h"

namespace tool {

class InputImage;
class Progress;

struct PlaneDiff {
  bool inFirst = false, inSecond = false;  // whether each image has the plane
  std::uint32_t width[2] = {0, 0};         // in the first and second image
  std::uint32_t height[2] = {0, 0};
  // Whether the pixels were compared: both images have the plane, at the
  // same dimensions. The fields below are set only then.
  bool compared = false;
  std::uint64_t differingPixels = 0;
  std::uint32_t firstLine = 0, firstColumn = 0;  // of the first difference
};

struct ImageDiff {
  std::vector<PlaneDiff> planes;     // plane 1 first, as many as the larger image has
  std::vector<int> differingEntries;  // colour-map entries, ascending
  std::vector<Rgb> map[2];            // both colour maps, 256 entries each
  bool equal() const;
};

// Compares `first` with `second`: the planes both have, when of one size,
// in blocks of lines (each pair of blocks read into two buffers and
// compared there, line by line where they differ), and the 256 colour-map
// entries. `progress` (may be null) is advanced by one per pair of lines. A
// line that cannot be read ends the command (InputImage::readLines).
ImageDiff compareImages(InputImage& first, InputImage& second, Progress* progress);

}  // namespace tool

#endif  // BTREEIMG_TOOLS_IMAGEDIFF_H_
