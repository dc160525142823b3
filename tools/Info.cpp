// info: what a file holds, as text or JSON.
#include <algorithm>
#include <array>
#include <cstdio>
#include <iostream>
#include <memory>
#include <set>

#include "CommandLine.h"
#include "Commands.h"
#include "ImageReading.h"
#include "JsonWriter.h"
#include "Progress.h"
#include "Failure.h"
#include "image/ImageCheck.h"

namespace tool {

namespace {

// Entries of the colour map listed one by one in the text output.
constexpr std::size_t kListedEntries = 16;

struct FileInfo {
  std::string file;
  std::string error;  // set when the file cannot be used
  std::unique_ptr<InputImage> image;  // set when it can
  std::vector<Rgb> map;
  // Per plane: whether its pixels were counted (only a plane the inspection
  // located and named in no problem is), and how many colours it uses.
  std::vector<bool> pixelsCounted;
  std::vector<unsigned> coloursUsed;
  std::array<std::uint64_t, 256> pixels{};  // over the counted planes
  std::string overLimit;  // why no plane was counted: each costs too much

  const ImageCheck& check() const { return image->check(); }

  bool anyCounted() const { return std::find(pixelsCounted.begin(), pixelsCounted.end(), true) != pixelsCounted.end(); }
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

// Whether the inspection located plane `p` and named no problem of it (its
// problems start with "plane p: ").
bool intact(const ImageCheck& check, int p) {
  if (!check.Plane(p).located) return false;
  const std::string prefix = "plane " + std::to_string(p) + ": ";
  const CStringArray& problems = check.Problems();
  for (int i = 0; i < problems.GetSize(); ++i) {
    if (std::string(static_cast<const char*>(problems.GetAt(i))).rfind(prefix, 0) == 0) return false;
  }
  return true;
}

void countPixels(FileInfo& info) {
  InputImage& image = *info.image;
  const int planes = image.planes();
  std::uint64_t total = 0;
  for (int p = 1; p <= planes; ++p) {
    if (info.pixelsCounted[p - 1]) total += image.height();
  }
  if (total == 0) return;  // and no line to allocate
  Progress progress("info " + info.file, total);
  std::uint64_t done = 0;
  std::vector<std::uint8_t> line(image.width());
  for (int p = 1; p <= planes; ++p) {
    if (!info.pixelsCounted[p - 1]) continue;
    std::array<std::uint64_t, 256> counts{};
    for (std::uint32_t y = 0; y < image.height() && !line.empty(); ++y) {
      image.readLine(p, y, line.data());
      for (const std::uint8_t v : line) ++counts[v];
      progress.update(++done);
    }
    unsigned used = 0;
    for (std::size_t i = 0; i < 256; ++i) {
      info.pixels[i] += counts[i];
      used += counts[i] != 0;
    }
    info.coloursUsed[p - 1] = used;
  }
}

void gather(FileInfo& info, std::uint64_t maxPixels) {
  try {
    info.image = std::make_unique<InputImage>(info.file, Damaged::kDescribe);
  } catch (const Failure& failure) {  // not a regular file, not an image
    const std::string named = info.file + ": ";
    info.error = failure.message.rfind(named, 0) == 0 ? failure.message.substr(named.size())
                                                       : failure.message;
    return;
  }
  const ImageCheck& check = info.check();
  const int planes = check.PlaneCount();
  if (maxPixels != 0) {
    info.overLimit = static_cast<const char*>(info.image->reader().limitProblem(maxPixels));
  }
  for (int p = 1; p <= planes; ++p) {
    info.pixelsCounted.push_back(info.overLimit.empty() && intact(check, p));
  }
  info.coloursUsed.assign(static_cast<std::size_t>(planes), 0);
  info.map = info.image->colourMap();
  try {
    countPixels(info);
  } catch (const Failure& failure) {  // the file changed since it was inspected
    info.error = failure.message.substr(info.file.size() + 2);
  }
}

// "1, 2 and 4".
std::string listOf(const std::vector<int>& numbers) {
  std::string text;
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0) text += i + 1 == numbers.size() ? " and " : ", ";
    text += std::to_string(numbers[i]);
  }
  return text;
}

// What the text says of the pixels when not every plane's were counted.
std::string uncountedNote(const FileInfo& info) {
  if (!info.overLimit.empty()) {
    return "pixels not counted: " + info.overLimit + " (--max-pixels N raises it)";
  }
  std::vector<int> counted, uncounted;
  for (std::size_t p = 0; p < info.pixelsCounted.size(); ++p) {
    (info.pixelsCounted[p] ? counted : uncounted).push_back(static_cast<int>(p + 1));
  }
  if (uncounted.empty()) return "";
  const std::string planes = (uncounted.size() == 1 ? "plane " : "planes ") + listOf(uncounted);
  if (counted.empty()) return "pixels not counted: " + planes + " damaged or not found";
  return "pixels counted in " + std::string(counted.size() == 1 ? "plane " : "planes ") +
         listOf(counted) + " only: " + planes + " damaged or not found";
}

void printText(const FileInfo& info) {
  const ImageCheck& check = info.check();
  std::cout << info.file << ": version " << check.Version() << ", "
            << counted(static_cast<unsigned>(check.PlaneCount()), "plane", "planes") << '\n';
  for (int p = 1; p <= check.PlaneCount(); ++p) {
    const ImageCheck::PlaneLayout& plane = check.Plane(p);
    std::cout << "  plane " << p << ": ";
    if (!plane.located) {
      // A block position of 0 is known for plane 1 alone, which is always
      // found: any other plane's position was not found either.
      if (plane.blockPosition == 0) {
        std::cout << "header block not found: the block leading to it is not in the file\n";
      } else {
        std::cout << "header block at " << plane.blockPosition << " outside the file\n";
      }
      continue;
    }
    std::cout << plane.dimx << " x " << plane.dimy << ", " << encodingName(plane.pack)
              << " (" << plane.pack << "), block at " << plane.blockPosition
              << ", region of " << plane.regionSize << " bytes at "
              << plane.regionStart;
    if (info.pixelsCounted[p - 1]) std::cout << ", " << counted(info.coloursUsed[p - 1], "colour", "colours") << " used";
    std::cout << '\n';
  }
  std::cout << "  colour map: " << entriesSet(info.map) << " of 256 entries set, "
            << counted(distinctColours(info.map), "distinct colour", "distinct colours")
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
    if (info.anyCounted()) std::cout << "  " << counted(info.pixels[i], "pixel", "pixels");
    std::cout << '\n';
  }
  if (hidden) std::cout << "    ... and " << counted(hidden, "more entry", "more entries") << '\n';
  const std::string note = uncountedNote(info);
  if (!note.empty()) std::cout << "  " << note << '\n';
  if (check.GetVerdict() != ImageCheck::sound) {
    std::cout << "  damaged: " << static_cast<const char*>(check.Summary())
              << "; btreeimg check lists every problem\n";
  }
}

void writeJson(JsonWriter& json, const FileInfo& info) {
  json.beginObject().key("file").value(info.file);
  if (!info.error.empty()) {
    json.key("error").value(info.error).endObject();
    return;
  }
  const ImageCheck& check = info.check();
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
    json.key("coloursUsed");
    if (info.pixelsCounted[static_cast<std::size_t>(p - 1)]) {
      json.value(info.coloursUsed[static_cast<std::size_t>(p - 1)]);
    } else {
      json.null();
    }
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
    if (info.anyCounted()) json.key("pixels").value(info.pixels[i]);
    json.endObject();
  }
  json.endArray().endObject();
  json.key("pixelsNotCounted");
  const std::string note = uncountedNote(info);
  if (note.empty()) {
    json.null();
  } else {
    json.value(note);
  }
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

static int runInfo(const std::vector<std::string>& files, bool json, std::uint64_t maxPixels) {
  int status = kOk;
  JsonWriter writer(std::cout);
  if (json) writer.beginArray();
  for (const std::string& file : files) {
    auto info = std::make_unique<FileInfo>();
    info->file = file;
    gather(*info, maxPixels);
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

void addInfo(CLI::App& app, Runner& run) {
  struct Options {
    std::vector<std::string> files;
    bool json = false;
    std::uint64_t maxPixels = kPixelLimit;
  };
  auto o = std::make_shared<Options>();
  CLI::App* sub = addCommand(app, "info",
                             "Version, planes (dimensions, encoding, block "
                             "position, region size) and colour map.");
  sub->add_option("FILE", o->files, "image files")->required();
  sub->add_flag("--json", o->json, "machine-readable output: a JSON array, "
                                   "one object per file");
  addMaxPixels(sub, o->maxPixels);
  sub->callback([o, &run] { run = [o] { return runInfo(o->files, o->json, o->maxPixels); }; });
}

}  // namespace tool
