// frompng: palette or grey PNGs into a new image, one plane each.
#include <algorithm>
#include <iostream>

#include "Commands.h"
#include "ImageWriting.h"
#include "PngFile.h"
#include "Progress.h"
#include "ToolSupport.h"

namespace tool {

namespace {

std::vector<Rgb> greyRamp() {
  std::vector<Rgb> map(256);
  for (std::size_t i = 0; i < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    map[i] = {v, v, v};
  }
  return map;
}

// The colour map: the first palette among the inputs, padded with black to
// 256 entries; a grey ramp when no input has a palette. Says when an input's
// own colours differ from it, since its indices are kept as they are.
std::vector<Rgb> chooseMap(const std::vector<std::string>& names,
                           const std::vector<IndexedImage>& images) {
  const auto withPalette = std::find_if(images.begin(), images.end(),
                                        [](const IndexedImage& i) { return !i.palette.empty(); });
  if (withPalette == images.end()) return greyRamp();
  const std::string& source = names[static_cast<std::size_t>(withPalette - images.begin())];
  std::vector<Rgb> map = withPalette->palette;
  map.resize(256, Rgb{});
  for (std::size_t k = 0; k < images.size(); ++k) {
    const IndexedImage& image = images[k];
    if (&image == &*withPalette) continue;
    if (image.palette.empty()) {
      warn(names[k] + ": grey levels kept as indices into " + source + "'s palette");
    } else if (!std::equal(image.palette.begin(), image.palette.end(), map.begin())) {
      warn(names[k] + ": palette differs from " + source +
           "'s; its indices are kept and shown through " + source + "'s colours");
    }
  }
  return map;
}

}  // namespace

int runFromPng(const std::vector<std::string>& inputs, const std::string& output,
               int pack) {
  if (inputs.empty() || inputs.size() > 5) {
    fail(kUsage, "frompng takes 1 to 5 PNG files (one per plane) and the output");
  }
  std::vector<IndexedImage> images;
  for (const std::string& name : inputs) {
    images.push_back(readPng(name));
    const IndexedImage& image = images.back();
    if (image.width != images.front().width || image.height != images.front().height) {
      fail(kBadInput, name + ": is " + std::to_string(image.width) + " x " +
                          std::to_string(image.height) + ", " + inputs.front() +
                          " is " + std::to_string(images.front().width) + " x " +
                          std::to_string(images.front().height) +
                          "; the planes of an image have one size");
    }
  }
  const std::uint32_t width = images.front().width;
  const std::uint32_t height = images.front().height;
  const int planes = static_cast<int>(images.size());

  ImageWriter writer(output, pack, width, height, planes, chooseMap(inputs, images));
  {
    Progress progress("frompng", std::uint64_t{height} * images.size());
    std::uint64_t done = 0;
    for (int p = 1; p <= planes; ++p) {
      const IndexedImage& image = images[static_cast<std::size_t>(p - 1)];
      for (std::uint32_t y = 0; y < height; ++y) {
        writer.writeLine(p, y, image.pixels.data() + std::size_t{y} * width);
        progress.update(++done);
      }
    }
  }
  writer.commit();
  std::cout << output << ": " << planes << (planes == 1 ? " plane" : " planes")
            << " of " << width << " x " << height << ", " << encodingName(pack)
            << ", version " << writer.version() << '\n';
  return kOk;
}

}  // namespace tool
