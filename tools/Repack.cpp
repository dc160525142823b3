// repack: every plane re-encoded into a new image.
#include <iostream>
#include <memory>

#include "Commands.h"
#include "ImageReading.h"
#include "Progress.h"
#include "ToolSupport.h"
#include "image/ImageWriter.h"

namespace tool {

int runRepack(const std::string& file, const std::string& output, int pack, bool lenient,
              std::uint64_t maxPixels) {
  requireNamedOutput(output);
  InputImage source(file, lenientIf(lenient));
  source.requireWithinLimit(maxPixels);
  const int planes = source.planes();
  // Every plane is read, and written, with plane 1's dimensions.
  const std::uint32_t width = source.width();
  const std::uint32_t height = source.height();

  auto writer = guarded(kBadInput, output, [&] {
    return std::make_unique<btreeimg::ImageWriter>(output.c_str(), pack, width, height, planes);
  });
  writer->setColourMap(colourMapBytes(source.colourMap()).data());
  {
    Progress progress("repack", std::uint64_t{height} * static_cast<unsigned>(planes));
    std::uint64_t done = 0;
    std::vector<std::uint8_t> line(width);
    for (int p = 1; p <= planes; ++p) {
      // Lines go over one by one, in order from line 0, as a packed plane
      // must be written.
      for (std::uint32_t y = 0; y < height; ++y) {
        source.readLine(p, y, line.data());
        writeImageLine(*writer, output, p, y, line.data(), "--pack 0 (raw) always fits");
        progress.update(++done);
      }
    }
  }
  guarded(kCannotWrite, output, [&] { writer->commit(); });
  std::cout << output << ": " << counted(static_cast<unsigned>(planes), "plane", "planes")
            << " of " << width << " x " << height << " re-encoded "
            << encodingName(pack) << ", version " << writer->version();
  if (writer->version() != source.version()) {
    std::cout << " (was " << source.version() << ")";
  }
  std::cout << '\n';
  return kOk;
}

}  // namespace tool
