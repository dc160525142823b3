// repack: every plane re-encoded into a new image.
#include <iostream>
#include <memory>

#include "Commands.h"
#include "ImageReading.h"
#include "Progress.h"
#include "ToolSupport.h"
#include "image/BtreeImg.h"
#include "image/ImageCheck.h"
#include "image/ImageWriter.h"

namespace tool {

int runRepack(const std::string& file, const std::string& output, int pack, bool lenient) {
  requireNamedOutput(output);
  ImageCheck check;
  requireReadableImage(file, check, lenientIf(lenient));
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

  auto writer = guarded(kBadInput, output, [&] {
    return std::make_unique<btreeimg::ImageWriter>(output.c_str(), pack, width, height, planes);
  });
  writer->setColourMap(colourMapBytes(colourMap(source)).data());
  {
    Progress progress("repack", std::uint64_t{height} * static_cast<unsigned>(planes));
    std::uint64_t done = 0;
    for (int p = 1; p <= planes; ++p) {
      // Lines go over one by one, in order from line 0, as a packed plane
      // must be written.
      for (std::uint32_t y = 0; y < height; ++y) {
        Mem* line = source.at(y, static_cast<short>(p));
        writeImageLine(*writer, output, p, y, static_cast<const std::uint8_t*>(line->pointer()),
                       "--pack 0 (raw) always fits");
        progress.update(++done);
      }
    }
  }
  guarded(kCannotWrite, output, [&] { writer->commit(); });
  std::cout << output << ": " << counted(static_cast<unsigned>(planes), "plane", "planes")
            << " of " << width << " x " << height << " re-encoded "
            << encodingName(pack) << ", version " << writer->version();
  if (writer->version() != source.Version()) {
    std::cout << " (was " << source.Version() << ")";
  }
  std::cout << '\n';
  return kOk;
}

}  // namespace tool
