// diff: two image files compared by their pixels and colour map, like cmp
// for the pixels: exit status 0 when equal, 1 when they differ.
#include <algorithm>
#include <iostream>
#include <string>
#include <memory>

#include "CommandLine.h"
#include "Commands.h"
#include "ImageDiff.h"
#include "ImageReading.h"
#include "JsonWriter.h"
#include "Progress.h"
#include "Failure.h"

namespace tool {

namespace {

// Colour-map entries listed one by one in the text output.
constexpr std::size_t kListedEntries = 16;

std::string size(const PlaneDiff& plane, int which) {
  return std::to_string(plane.width[which]) + " x " + std::to_string(plane.height[which]);
}

void printPlane(int p, const PlaneDiff& plane) {
  std::cout << "plane " << p << ": ";
  if (!plane.inFirst || !plane.inSecond) {
    std::cout << "only in the " << (plane.inFirst ? "first" : "second") << " image ("
              << size(plane, plane.inFirst ? 0 : 1) << ")\n";
  } else if (!plane.compared) {
    std::cout << "dimensions differ: " << size(plane, 0) << " in the first image, "
              << size(plane, 1) << " in the second\n";
  } else if (plane.differingPixels == 0) {
    std::cout << size(plane, 0) << ", equal\n";
  } else {
    std::cout << size(plane, 0) << ", " << plane.differingPixels
              << (plane.differingPixels == 1 ? " pixel differs" : " pixels differ")
              << ", the first at line " << plane.firstLine << ", column "
              << plane.firstColumn << '\n';
  }
}

void printText(const std::string& first, const std::string& second, const ImageDiff& diff) {
  for (std::size_t p = 0; p < diff.planes.size(); ++p) {
    printPlane(static_cast<int>(p + 1), diff.planes[p]);
  }
  const std::size_t entries = diff.differingEntries.size();
  if (entries == 0) {
    std::cout << "colour map: equal\n";
  } else {
    std::cout << "colour map: " << entries << (entries == 1 ? " entry differs" : " entries differ")
              << '\n';
    for (std::size_t i = 0; i < entries && i < kListedEntries; ++i) {
      const auto index = static_cast<std::size_t>(diff.differingEntries[i]);
      std::cout << "  " << index << ": " << hexColour(diff.map[0][index]) << " in the first image, "
                << hexColour(diff.map[1][index]) << " in the second\n";
    }
    if (entries > kListedEntries) {
      std::cout << "  ... and " << entries - kListedEntries << " more\n";
    }
  }
  std::cout << first << " and " << second << (diff.equal() ? ": equal\n" : ": differ\n");
}

// The plane's dimensions in image `which`, or null when it lacks the plane.
void writeDimensions(JsonWriter& json, const PlaneDiff& plane, int which) {
  if (!(which == 0 ? plane.inFirst : plane.inSecond)) {
    json.null();
    return;
  }
  json.beginObject().key("width").value(plane.width[which]);
  json.key("height").value(plane.height[which]).endObject();
}

void writeJson(const std::string& first, const std::string& second, const ImageDiff& diff) {
  JsonWriter json(std::cout);
  json.beginObject().key("first").value(first).key("second").value(second);
  json.key("equal").value(diff.equal());
  json.key("planes").beginArray();
  for (std::size_t p = 0; p < diff.planes.size(); ++p) {
    const PlaneDiff& plane = diff.planes[p];
    json.beginObject().key("plane").value(static_cast<int>(p + 1));
    json.key("first");
    writeDimensions(json, plane, 0);
    json.key("second");
    writeDimensions(json, plane, 1);
    json.key("dimensionsDiffer").value(!plane.compared);
    json.key("differingPixels");
    if (plane.compared) {
      json.value(plane.differingPixels);
    } else {
      json.null();
    }
    json.key("firstDifference");
    if (plane.compared && plane.differingPixels != 0) {
      json.beginObject().key("line").value(plane.firstLine);
      json.key("column").value(plane.firstColumn).endObject();
    } else {
      json.null();
    }
    json.endObject();
  }
  json.endArray();
  json.key("colourMap").beginObject().key("differingEntries").beginArray();
  for (const int index : diff.differingEntries) {
    const auto i = static_cast<std::size_t>(index);
    json.beginObject().key("index").value(index);
    json.key("first").value(hexColour(diff.map[0][i]));
    json.key("second").value(hexColour(diff.map[1][i])).endObject();
  }
  json.endArray().endObject().endObject();
  json.finish();
}

}  // namespace

static int runDiff(const std::string& first, const std::string& second, bool json, bool lenient,
            std::uint64_t maxPixels) {
  InputImage a(first, lenientIf(lenient));
  InputImage b(second, lenientIf(lenient));
  a.requireWithinLimit(maxPixels);
  b.requireWithinLimit(maxPixels);
  std::uint64_t lines = 0;
  if (a.width() == b.width() && a.height() == b.height()) {
    lines = std::uint64_t{a.height()} * static_cast<unsigned>(std::min(a.planes(), b.planes()));
  }
  ImageDiff diff;
  {
    Progress progress("diff", lines);
    diff = compareImages(a, b, &progress);
  }
  if (json) {
    writeJson(first, second, diff);
  } else {
    printText(first, second, diff);
  }
  return diff.equal() ? kOk : kDiffer;
}

void addDiff(CLI::App& app, Runner& run) {
  struct Options {
    std::string first, second;
    bool json = false;
    bool lenient = false;
    std::uint64_t maxPixels = kPixelLimit;
  };
  auto o = std::make_shared<Options>();
  CLI::App* sub = addCommand(app, "diff",
                             "Compares two images by their pixels and colour "
                             "map, whatever their versions and encodings: per "
                             "plane, whether the dimensions differ, how many "
                             "pixels differ and where the first is; which "
                             "colour-map entries differ. Exit status 0 when "
                             "equal, 1 when they differ.");
  sub->add_option("A", o->first, "first image file")->required();
  sub->add_option("B", o->second, "second image file")->required();
  sub->add_flag("--json", o->json, "machine-readable output: one JSON object");
  addLenient(sub, o->lenient);
  addMaxPixels(sub, o->maxPixels);
  sub->callback([o, &run] {
    run = [o] { return runDiff(o->first, o->second, o->json, o->lenient, o->maxPixels); };
  });
}

}  // namespace tool
