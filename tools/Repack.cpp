// repack: every plane re-encoded into a new image.
#include <iostream>

#include "Commands.h"
#include "ImageReading.h"
#include "ImageWriting.h"
#include "Progress.h"
#include "ToolSupport.h"
#include "image/BtreeImg.h"
#include "image/ImageCheck.h"

namespace tool {

int runRepack(const std::string& file, const std::string& output, int pack) {
  ImageCheck check;
  requireReadableImage(file, check);
  BtreeImg source(file.c_str());
  const int planes = check.PlaneCount();
  const std::uint32_t width = source.dimx(1);
  const std::uint32_t height = source.dimy(1);
  // A new image gives every plane plane 1's dimensions.
  for (int p = 2; p <= planes; ++p) {
    const auto plane = static_cast<short>(p);
    if (source.dimx(plane) != width || source.dimy(plane) != height) {
      fail(kBadInput, file + ": plane " + std::to_string(p) + " is " +
                          std::to_string(source.dimx(plane)) + " x " +
                          std::to_string(source.dimy(plane)) + ", plane 1 " +
                          std::to_string(width) + " x " + std::to_string(height) +
                          "; planes of different sizes cannot be repacked");
    }
  }

  ImageWriter writer(output, pack, width, height, planes, colourMap(source));
  {
    Progress progress("repack", std::uint64_t{height} * static_cast<unsigned>(planes));
    std::uint64_t done = 0;
    for (int p = 1; p <= planes; ++p) {
      // Lines go over one by one, in order from line 0, as a packed plane
      // must be written.
      for (std::uint32_t y = 0; y < height; ++y) {
        Mem* line = source.at(y, static_cast<short>(p));
        writer.writeLine(p, y, static_cast<const std::uint8_t*>(line->pointer()));
        progress.update(++done);
      }
    }
  }
  writer.commit();
  std::cout << output << ": " << planes << (planes == 1 ? " plane" : " planes")
            << " of " << width << " x " << height << " re-encoded "
            << encodingName(pack) << ", version " << writer.version();
  if (writer.version() != source.Version()) {
    std::cout << " (was " << source.Version() << ")";
  }
  std::cout << '\n';
  return kOk;
}

}  // namespace tool
