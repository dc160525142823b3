// info: what a file holds, as text or JSON.
#include <algorithm>
#include <array>
#include <cstdio>
#include <iostream>
#include <memory>
#include <set>

#include "Commands.h"
#include "ImageReading.h"
#include "JsonWriter.h"
#include "Progress.h"
#include "ToolSupport.h"
#include "image/BtreeImg.h"
#include "image/ImageCheck.h"

namespace tool {

namespace {

// Entries of the colour map listed one by one in the text output.
constexpr std::size_t kListedEntries = 16;

struct FileInfo {
  std::string file;
  std::string error;  // set when the file cannot be used
  ImageCheck check;
  std::vector<Rgb> map;
  bool counted = false;  // pixel counts taken
  std::array<std::uint64_t, 256> pixels{};
  std::vector<unsigned> coloursUsed;  // per plane
};

bool isGreyRamp(const std::vector<Rgb>& map) {
  for (std::size_t i = 0; i < map.size(); ++i) {
    if (map[i] != Rgb{static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i),
                      static_cast<std::uint8_t>(i)}) {
      return false;
    }
  }
  return true;
}

std::size_t entriesSet(const std::vector<Rgb>& map) {
  return static_cast<std::size_t>(
      std::count_if(map.begin(), map.end(), [](const Rgb& c) { return c != Rgb{}; }));
}

std::size_t distinctColours(const std::vector<Rgb>& map) {
  return std::set<Rgb>(map.begin(), map.end()).size();
}

// Entries worth listing: those set, and those pixels use.
bool listed(const FileInfo& info, std::size_t i) {
  return info.map[i] != Rgb{} || info.pixels[i] != 0;
}

void countPixels(FileInfo& info, BtreeImg& image) {
  const int planes = info.check.PlaneCount();
  std::uint64_t total = 0;
  for (int p = 1; p <= planes; ++p) total += image.dimy(static_cast<short>(p));
  Progress progress("info " + info.file, total);
  std::uint64_t done = 0;
  for (int p = 1; p <= planes; ++p) {
    const auto plane = static_cast<short>(p);
    std::vector<std::uint8_t> line(image.dimx(plane));
    std::array<std::uint64_t, 256> counts{};
    for (std::uint32_t y = 0; y < image.dimy(plane); ++y) {
      image.at(y, plane, line.data());
      for (const std::uint8_t v : line) ++counts[v];
      progress.update(++done);
    }
    unsigned used = 0;
    for (std::size_t i = 0; i < 256; ++i) {
      info.pixels[i] += counts[i];
      used += counts[i] != 0;
    }
    info.coloursUsed.push_back(used);
  }
  info.counted = true;
}

void gather(FileInfo& info) {
  if (inspectImage(info.file, info.check) == ImageCheck::unusable) {
    const CStringArray& problems = info.check.Problems();
    info.error = problems.GetSize() ? static_cast<const char*>(problems.GetAt(0))
                                    : "not an image file";
    return;
  }
  try {
    BtreeImg image(info.file.c_str());
    info.map = colourMap(image);
    if (plausibleSize(info.check, info.file)) countPixels(info, image);
  } catch (CException* e) {
    info.error = takeMessage(e);
  }
}

void printText(const FileInfo& info) {
  const ImageCheck& check = info.check;
  std::cout << info.file << ": version " << check.Version() << ", "
            << check.PlaneCount() << (check.PlaneCount() == 1 ? " plane\n" : " planes\n");
  for (int p = 1; p <= check.PlaneCount(); ++p) {
    const ImageCheck::PlaneLayout& plane = check.Plane(p);
    std::cout << "  plane " << p << ": ";
    if (!plane.located) {
      std::cout << "header block at " << plane.blockPosition
                << " outside the file\n";
      continue;
    }
    std::cout << plane.dimx << " x " << plane.dimy << ", " << encodingName(plane.pack)
              << " (" << plane.pack << "), block at " << plane.blockPosition
              << ", region of " << plane.regionSize << " bytes at "
              << plane.regionStart;
    if (info.counted) std::cout << ", " << info.coloursUsed[p - 1] << " colours used";
    std::cout << '\n';
  }
  std::cout << "  colour map: " << entriesSet(info.map) << " of 256 entries set, "
            << distinctColours(info.map) << " distinct colours"
            << (isGreyRamp(info.map) ? " (a grey ramp)" : "") << '\n';
  std::size_t shown = 0, hidden = 0;
  for (std::size_t i = 0; i < 256; ++i) {
    if (!listed(info, i)) continue;
    if (shown++ >= kListedEntries) {
      ++hidden;
      continue;
    }
    char line[80];
    std::snprintf(line, sizeof line, "    %3zu  %s", i, hexColour(info.map[i]).c_str());
    std::cout << line;
    if (info.counted) std::cout << "  " << info.pixels[i] << " pixels";
    std::cout << '\n';
  }
  if (hidden) std::cout << "    ... and " << hidden << " more entries\n";
  if (!info.counted) std::cout << "  pixels not counted: the header states planes the file cannot hold\n";
  const int problems = check.Problems().GetSize();
  if (problems) {
    std::cout << "  " << problems << " structural problem(s): see btreeimg check\n";
  }
}

void writeJson(JsonWriter& json, const FileInfo& info) {
  json.beginObject().key("file").value(info.file);
  if (!info.error.empty()) {
    json.key("error").value(info.error).endObject();
    return;
  }
  const ImageCheck& check = info.check;
  json.key("version").value(check.Version());
  json.key("planeCount").value(check.PlaneCount());
  json.key("planes").beginArray();
  for (int p = 1; p <= check.PlaneCount(); ++p) {
    const ImageCheck::PlaneLayout& plane = check.Plane(p);
    json.beginObject().key("plane").value(p);
    json.key("located").value(plane.located);
    json.key("width").value(plane.dimx).key("height").value(plane.dimy);
    json.key("encoding").value(plane.pack);
    json.key("encodingName").value(encodingName(plane.pack));
    json.key("blockPosition").value(std::uint64_t{plane.blockPosition});
    json.key("regionStart").value(std::uint64_t{plane.regionStart});
    json.key("regionSize").value(std::uint64_t{plane.regionSize});
    json.key("regionRoom").value(std::uint64_t{plane.regionRoom});
    if (info.counted) json.key("coloursUsed").value(info.coloursUsed[p - 1]);
    json.endObject();
  }
  json.endArray();
  json.key("colourMap").beginObject();
  json.key("entriesSet").value(std::uint64_t{entriesSet(info.map)});
  json.key("distinctColours").value(std::uint64_t{distinctColours(info.map)});
  json.key("greyRamp").value(isGreyRamp(info.map));
  json.key("entries").beginArray();
  for (std::size_t i = 0; i < 256; ++i) {
    if (!listed(info, i)) continue;
    json.beginObject().key("index").value(std::uint64_t{i});
    json.key("rgb").value(hexColour(info.map[i]));
    if (info.counted) json.key("pixels").value(info.pixels[i]);
    json.endObject();
  }
  json.endArray().endObject();
  json.key("problems").beginArray();
  for (int i = 0; i < check.Problems().GetSize(); ++i) {
    json.value(static_cast<const char*>(check.Problems().GetAt(i)));
  }
  json.endArray().endObject();
}

}  // namespace

const char* encodingName(int pack) {
  switch (pack) {
    case 0: return "raw";
    case 1: return "packed";
    case 2: return "whole-plane packed";
    default: return "undefined";
  }
}

int runInfo(const std::vector<std::string>& files, bool json) {
  int status = kOk;
  JsonWriter writer(std::cout);
  if (json) writer.beginArray();
  for (const std::string& file : files) {
    auto info = std::make_unique<FileInfo>();
    info->file = file;
    gather(*info);
    if (!info->error.empty()) {
      status = kBadInput;
      warn(file + ": " + info->error);
    }
    if (json) {
      writeJson(writer, *info);
    } else if (info->error.empty()) {
      printText(*info);
    }
  }
  if (json) {
    writer.endArray();
    writer.finish();
  }
  return status;
}

}  // namespace tool
