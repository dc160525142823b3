// frompng: PNGs into a new image, one plane each. The PNGs are read row by
// row into the image being built, so that the tool holds a row of each,
// never a whole picture.
#include <algorithm>
#include <iostream>
#include <memory>

#include "CommandLine.h"
#include "Commands.h"
#include "ImageReading.h"
#include "PngFile.h"
#include "Progress.h"
#include "RgbColours.h"
#include "Failure.h"
#include "ImageWriting.h"
#include "image/ImageWriter.h"

namespace tool {

namespace {

using Readers = std::vector<std::unique_ptr<PngReader>>;

std::vector<Rgb> greyRamp() {
  std::vector<Rgb> map(256);
  for (std::size_t i = 0; i < 256; ++i) {
    const auto v = static_cast<std::uint8_t>(i);
    map[i] = {v, v, v};
  }
  return map;
}

// The input whose colours make the colour map: the first RGB input when
// there is one (RGB colours then become the map), else the first with a
// palette; null when every input is grey. Refuses a palette input beside an
// RGB one, whose colours would not be its own, and says when another
// input's indices are shown through colours that are not their own.
const PngReader* chooseColourSource(const Readers& readers) {
  const PngReader* rgb = nullptr;
  const PngReader* palette = nullptr;
  for (const auto& reader : readers) {
    if (reader->kind() == PngReader::kRgb && rgb == nullptr) rgb = reader.get();
    if (reader->kind() == PngReader::kPalette && palette == nullptr) palette = reader.get();
  }
  if (rgb != nullptr && palette != nullptr) {
    fail(kBadInput, palette->path() + ": is a palette PNG; it cannot be combined with RGB PNGs (" +
                        rgb->path() + "), whose colours make the colour map");
  }
  const PngReader* source = rgb != nullptr ? rgb : palette;
  if (source == nullptr) return nullptr;
  std::vector<Rgb> map = source->palette();
  map.resize(256, Rgb{});
  for (const auto& reader : readers) {
    if (reader->kind() == PngReader::kGrey) {
      warn(reader->path() + ": grey levels kept as indices into " + source->path() + "'s " +
           (rgb ? "colours" : "palette"));
    } else if (reader->kind() == PngReader::kPalette && reader.get() != source &&
               !std::equal(reader->palette().begin(), reader->palette().end(), map.begin())) {
      warn(reader->path() + ": palette differs from " + source->path() +
           "'s; its indices are kept and shown through " + source->path() + "'s colours");
    }
  }
  return source;
}

// Opens every input and checks that they have one size.
Readers openInputs(const std::vector<std::string>& inputs) {
  Readers readers;
  for (const std::string& name : inputs) {
    readers.push_back(std::make_unique<PngReader>(name));
    const PngReader& first = *readers.front();
    const PngReader& png = *readers.back();
    if (png.width() != first.width() || png.height() != first.height()) {
      fail(kBadInput, name + ": is " + std::to_string(png.width()) + " x " +
                          std::to_string(png.height()) + ", " + first.path() + " is " +
                          std::to_string(first.width()) + " x " +
                          std::to_string(first.height()) +
                          "; the planes of an image have one size");
    }
  }
  return readers;
}

// How the planes were encoded: "packed" when alike, else each plane's
// ("encodings packed, packed, raw").
std::string encodingsOf(const btreeimg::ImageWriter& writer) {
  std::string each;
  bool alike = true;
  for (int p = 1; p <= writer.planes(); ++p) {
    alike = alike && writer.encoding(p) == writer.encoding(1);
    each += std::string(p == 1 ? "" : ", ") + encodingName(writer.encoding(p));
  }
  return alike ? encodingName(writer.encoding(1)) : "encodings " + each;
}

}  // namespace

static int runFromPng(const std::vector<std::string>& inputs, const std::string& output,
               int pack, std::uint64_t maxPixels) {
  if (inputs.empty() || inputs.size() > 5) {
    fail(kUsage, "frompng takes 1 to 5 PNG files (one per plane) and the output");
  }
  requireNamedOutput(output);
  const Readers readers = openInputs(inputs);
  const std::uint32_t width = readers.front()->width();
  const std::uint32_t height = readers.front()->height();
  const int planes = static_cast<int>(readers.size());
  // The image made is held to the limit every reader of it applies: a small
  // PNG may state a picture that no reader would then open.
  const std::uint64_t cost =
      std::max({std::uint64_t{width} * height, std::uint64_t{width}, std::uint64_t{height}});
  if (maxPixels != 0 && cost > maxPixels) {
    throw Failure{kBadInput,
                  inputs.front() + ": states " + std::to_string(width) + " x " +
                      std::to_string(height) + " pixels, more than the limit of " +
                      std::to_string(maxPixels),
                  kMaxPixelsHint};
  }
  const PngReader* colourSource = chooseColourSource(readers);

  auto writer = guarded(kBadInput, output, [&] {
    return std::make_unique<btreeimg::ImageWriter>(output.c_str(), pack, width, height, planes);
  });
  writer->setColourMap(colourMapBytes(colourSource ? colourSource->palette() : greyRamp()).data());
  RgbColours colours;  // the RGB inputs' colours, in the order they appear
  {
    Progress progress("frompng", std::uint64_t{height} * readers.size());
    std::uint64_t done = 0;
    std::vector<std::uint8_t> row(std::size_t{width} * 4), line(width);
    bool rgbBefore = false;
    for (int p = 1; p <= planes; ++p) {
      PngReader& png = *readers[static_cast<std::size_t>(p - 1)];
      const bool rgb = png.kind() == PngReader::kRgb;
      for (std::uint32_t y = 0; y < height; ++y) {
        png.readRow(row.data());
        if (rgb) colours.toIndices(png, rgbBefore, y, row.data(), line.data());
        writeImageLine(*writer, output, p, y, rgb ? line.data() : row.data(),
                       "without --pack, a plane whose code does not fit is written raw");
        progress.update(++done);
      }
      rgbBefore = rgbBefore || rgb;
    }
  }
  if (colourSource && colourSource->kind() == PngReader::kRgb) {
    writer->setColourMap(colourMapBytes(colours.map()).data());
  }
  guarded(kCannotWrite, output, [&] { writer->commit(); });
  std::cout << output << ": " << counted(static_cast<unsigned>(planes), "plane", "planes")
            << " of " << width << " x " << height << ", " << encodingsOf(*writer)
            << ", version " << writer->version();
  if (colours.count() != 0) {
    std::cout << ", " << counted(colours.count(), "colour", "colours") << " in the colour map";
  }
  std::cout << '\n';
  return kOk;
}

void addFromPng(CLI::App& app, Runner& run) {
  struct Options {
    std::vector<std::string> pngs;
    int pack = btreeimg::ImageWriter::kChooseEncoding;
    std::uint64_t maxPixels = kPixelLimit;
  };
  auto o = std::make_shared<Options>();
  CLI::App* sub = addCommand(app, "frompng",
                             "PNGs into an image, one plane per PNG (1 to 5, "
                             "of one size). Palette PNGs keep their indices "
                             "and give the colour map; grey PNGs get a grey "
                             "ramp; RGB PNGs (opaque, 256 colours at most) "
                             "become exact palette images, the colours "
                             "listed in the order they first appear.");
  // One list: CLI11 would give a list of PNGs every word, the output too.
  sub->add_option("IN.png... OUT", o->pngs,
                  "1 to 5 PNG files, one per plane, then the image file "
                  "to write")
      ->required()
      ->expected(1, -1)
      ->option_text("REQUIRED");
  sub->add_option("--pack", o->pack,
                  "encoding of every plane: 0 raw, 1 packed, 2 whole-plane "
                  "packed (default: each plane packed while its code fits "
                  "in the room of a raw plane, else raw)")
      ->check(CLI::IsMember({0, 1, 2}));
  addMaxPixels(sub, o->maxPixels);
  sub->callback([o, &run] {
    run = [o] {
      if (o->pngs.size() < 2 || o->pngs.size() > 6) {
        std::cerr << "btreeimg: frompng takes 1 to 5 PNG files (one per plane), then the "
                     "image file to write; "
                  << counted(o->pngs.size(), "file was", "files were") << " given\n"
                  << "Run with --help or --help-all for more information.\n";
        return static_cast<int>(kUsage);
      }
      std::vector<std::string> inputs = o->pngs;
      const std::string output = inputs.back();
      inputs.pop_back();
      return runFromPng(inputs, output, o->pack, o->maxPixels);
    };
  });
}

}  // namespace tool
