// repack: every plane re-encoded into a new image.
#include <iostream>
#include <memory>

#include "CommandLine.h"
#include "Commands.h"
#include "ImageReading.h"
#include "Progress.h"
#include "Failure.h"
#include "ImageWriting.h"
#include "image/ImageWriter.h"

namespace tool {

static int runRepack(const std::string& file, const std::string& output, int pack, bool lenient,
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

void addRepack(CLI::App& app, Runner& run) {
  struct Options {
    std::string file, output;
    int pack = 0;
    bool lenient = false;
    std::uint64_t maxPixels = kPixelLimit;
  };
  auto o = std::make_shared<Options>();
  CLI::App* sub = addCommand(app, "repack", "Every plane re-encoded.");
  sub->add_option("FILE", o->file, "image file")->required();
  sub->add_option("OUT", o->output, "image file to write")->required();
  sub->add_option("--pack", o->pack, "encoding: 0 raw, 1 packed, 2 whole-plane packed")
      ->required()
      ->check(CLI::IsMember({0, 1, 2}));
  addLenient(sub, o->lenient);
  addMaxPixels(sub, o->maxPixels);
  sub->callback([o, &run] {
    run = [o] { return runRepack(o->file, o->output, o->pack, o->lenient, o->maxPixels); };
  });
}

}  // namespace tool
