// The C interface that btreeimg.mjs calls inside the WebAssembly module.
//
// Each function catches every exception the library throws (framework
// exceptions by pointer, std::bad_alloc) and reports a failure through its
// result; the text of the last failure is read with bi_error(). Images are
// handed to JavaScript as opaque handles (the address of a WebImage).
//
// An open image is a BtreeImg (which holds the file's bytes and decodes
// lines when asked for). It reads files by name: btreeimg.mjs writes the
// bytes to kImagePath in emscripten's in-memory file system, and bi_open
// removes the file once the image holds them. Coverage writes its result
// there too, and rules are read from there.
#include <emscripten/emscripten.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "framework/Framework.h"
#include "image/BtreeImg.h"
#include "image/Coverage.h"
#include "image/CoverageRuleFile.h"
#include "image/ImageCheck.h"
#include "image/ImageReader.h"

namespace {

using btreeimg::ImageReader;

// Where btreeimg.mjs puts a file to open.
constexpr char kImagePath[] = "/image.dis";

struct WebImage {
  ImageCheck check;  // the whole file's inspection: the layout `btreeimg info` reports
  std::unique_ptr<BtreeImg> image;
};

std::string lastError;
ImageCheck lastCheck;  // the inspection bi_check() made, for bi_problem()
std::vector<unsigned char> coverResult;
unsigned fileCounter = 0;

// The text of a framework exception; releases the exception.
std::string takeMessage(CException* e) {
  const CString text = btreeimg::describe(e);
  e->Delete();
  return static_cast<const char*>(text);
}

// A fresh name in the in-memory file system.
std::string scratchName(const char* stem) {
  return "/" + std::string(stem) + "-" + std::to_string(++fileCounter) + ".dis";
}

bool writeScratch(const std::string& path, const void* data, size_t size) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  const bool done = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && done;
}

bool readScratch(const std::string& path, std::vector<unsigned char>* bytes) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  bytes->clear();
  unsigned char buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
    bytes->insert(bytes->end(), buffer, buffer + got);
  }
  const bool done = !std::ferror(file);
  std::fclose(file);
  return done;
}

// Runs `work`, turning every exception into a failure result with its text
// in lastError.
template <typename Work, typename Result>
Result guarded(Work&& work, Result failure) {
  try {
    return work();
  } catch (CException* e) {
    lastError = takeMessage(e);
  } catch (const std::bad_alloc&) {
    lastError = "not enough memory";
  }
  return failure;
}

// Whether plane `plane` exists and rows [y0, y0 + count) lie inside it.
bool validRows(WebImage* w, int plane, unsigned y0, unsigned count) {
  if (plane < 1 || plane > w->check.PlaneCount()) {
    lastError = "no plane " + std::to_string(plane) + ": the image has " +
                std::to_string(w->check.PlaneCount());
    return false;
  }
  // A damaged plane is refused, in the words of the problems that concern
  // it; a sound plane of a damaged file is read.
  if (!w->check.PlaneSound(plane)) {
    lastError = static_cast<const char*>(w->check.PlaneSummary(plane));
    return false;
  }
  const unsigned height = w->image->dimy(static_cast<short>(plane));
  if (y0 > height || count > height - y0) {
    lastError = "lines outside the plane";
    return false;
  }
  return true;
}

// Reads lines y0 .. y0 + count - 1 of `plane` one at a time into a line
// buffer and hands each to `use(y, line)`.
template <typename Use>
void eachLine(WebImage* w, int plane, unsigned y0, unsigned count, Use&& use) {
  const auto p = static_cast<short>(plane);
  std::vector<unsigned char> line(w->image->dimx(p) ? w->image->dimx(p) : 1);
  for (unsigned y = 0; y < count; ++y) {
    w->image->at(y0 + y, p, line.data());
    use(y, line.data());
  }
}

}  // namespace

extern "C" {

// The text of the last failure.
EMSCRIPTEN_KEEPALIVE const char* bi_error() { return lastError.c_str(); }

// The pixel limit ImageReader states for viewers of files from anywhere.
EMSCRIPTEN_KEEPALIVE double bi_default_pixel_limit() {
  return static_cast<double>(ImageReader::kDefaultPixelLimit);
}

// The path bi_open() opens.
EMSCRIPTEN_KEEPALIVE const char* bi_image_path() { return kImagePath; }

// Opens the file at bi_image_path() and removes it. A file that ImageCheck
// finds unusable, or damaged with no sound plane, is refused in the words of
// its summary (a damaged plane of one that has a sound plane is refused
// when its lines are asked for), and one
// whose planes cost more than `pixelLimit` pixels (not a finite number: no
// limit) in ImageReader's words. Returns a handle, or 0 with the reason in
// bi_error().
EMSCRIPTEN_KEEPALIVE WebImage* bi_open(double pixelLimit) {
  struct Scratch {  // the file goes whatever happens
    ~Scratch() { std::remove(kImagePath); }
  } scratch;
  return guarded(
      [&]() -> WebImage* {
        auto w = std::make_unique<WebImage>();
        bool anySound = false;
        w->check.InspectFile(kImagePath);
        for (int p = 1; p <= w->check.PlaneCount(); ++p) anySound = anySound || w->check.PlaneSound(p);
        if (!anySound) {
          lastError = static_cast<const char*>(w->check.Summary());
          return nullptr;
        }
        if (std::isfinite(pixelLimit) && pixelLimit >= 0) {
          const ImageReader reader(kImagePath);  // reads the header blocks only
          const CString problem =
              reader.limitProblem(static_cast<ULONGLONG>(std::min(pixelLimit, 1.8e19)));
          if (!problem.IsEmpty()) {
            lastError = std::string(problem) + " (a higher pixelLimit opens it)";
            return nullptr;
          }
        }
        w->image = std::make_unique<BtreeImg>(kImagePath);
        return w.release();
      },
      static_cast<WebImage*>(nullptr));
}

EMSCRIPTEN_KEEPALIVE void bi_close(WebImage* w) { delete w; }

EMSCRIPTEN_KEEPALIVE int bi_version(WebImage* w) { return w->check.Version(); }

EMSCRIPTEN_KEEPALIVE int bi_plane_count(WebImage* w) { return w->check.PlaneCount(); }

// Fact `which` of plane `plane` (checked by the caller): 0 width, 1 height,
// 2 encoding, 3 block position, 4 region start, 5 region size, 6 region room.
EMSCRIPTEN_KEEPALIVE double bi_plane_fact(WebImage* w, int plane, int which) {
  const auto p = static_cast<short>(plane);
  const ImageCheck::PlaneLayout& layout = w->check.Plane(plane);
  switch (which) {
    case 0: return w->image->dimx(p);
    case 1: return w->image->dimy(p);
    case 2: return layout.pack;
    case 3: return static_cast<double>(layout.blockPosition);
    case 4: return static_cast<double>(layout.regionStart);
    case 5: return static_cast<double>(layout.regionSize);
    case 6: return static_cast<double>(layout.regionRoom);
    default: return -1;
  }
}

// The 768-byte colour map into `map`.
EMSCRIPTEN_KEEPALIVE void bi_colour_map(WebImage* w, unsigned char* map) {
  for (short i = 0; i < 256; ++i) {
    for (short c = 0; c < 3; ++c) map[3 * i + c] = w->image->GetRgbHeader(i, c, 0);
  }
}

// Lines y0 .. y0 + count - 1 of plane `plane`, their stored values, into
// `dest` (count x width bytes). Returns 1, or 0 with the reason in bi_error().
EMSCRIPTEN_KEEPALIVE int bi_rows(WebImage* w, int plane, unsigned y0, unsigned count,
                                 unsigned char* dest) {
  if (!validRows(w, plane, y0, count)) return 0;
  return guarded(
      [&]() {
        const auto p = static_cast<short>(plane);
        const size_t width = w->image->dimx(p);
        for (unsigned y = 0; y < count; ++y) w->image->at(y0 + y, p, dest + y * width);
        return 1;
      },
      0);
}

// The same lines through the colour map, as RGBA with alpha 255, into
// `dest` (count x width x 4 bytes).
EMSCRIPTEN_KEEPALIVE int bi_rgba_rows(WebImage* w, int plane, unsigned y0, unsigned count,
                                      unsigned char* dest) {
  if (!validRows(w, plane, y0, count)) return 0;
  return guarded(
      [&]() {
        unsigned char map[768];
        bi_colour_map(w, map);
        uint32_t colour[256];
        for (int i = 0; i < 256; ++i) {
          const unsigned char rgba[4] = {map[3 * i], map[3 * i + 1], map[3 * i + 2], 255};
          std::memcpy(&colour[i], rgba, 4);
        }
        const size_t width = w->image->dimx(static_cast<short>(plane));
        eachLine(w, plane, y0, count, [&](unsigned y, const unsigned char* line) {
          unsigned char* out = dest + y * width * 4;
          for (size_t x = 0; x < width; ++x) std::memcpy(out + 4 * x, &colour[line[x]], 4);
        });
        return 1;
      },
      0);
}

// Adds the count of each stored value in lines y0 .. y0 + count - 1 of
// plane `plane` to counts[value]. Returns 1, or 0 with the reason.
EMSCRIPTEN_KEEPALIVE int bi_count_rows(WebImage* w, int plane, unsigned y0,
                                       unsigned count, double* counts) {
  if (!validRows(w, plane, y0, count)) return 0;
  return guarded(
      [&]() {
        const size_t width = w->image->dimx(static_cast<short>(plane));
        unsigned long long local[256] = {};
        eachLine(w, plane, y0, count, [&](unsigned, const unsigned char* line) {
          for (size_t x = 0; x < width; ++x) ++local[line[x]];
        });
        for (int i = 0; i < 256; ++i) counts[i] += static_cast<double>(local[i]);
        return 1;
      },
      0);
}

// Colour coverage of plane 1 by the rule file of `length` bytes at `rules`.
// Returns 1 when a pixel changed (the result's bytes are then at
// bi_cover_data(), of bi_cover_size() bytes), 0 when none did, -1 with the
// reason in bi_error() when the rules cannot be used (in the rule loader's
// words) or the result cannot be made.
EMSCRIPTEN_KEEPALIVE int bi_cover(WebImage* w, const char* rules, size_t length) {
  coverResult.clear();
  const std::string rulePath = scratchName("rules");
  const std::string outPath = scratchName("covered");
  struct Scratch {  // the files go whatever happens
    const std::string* paths[2];
    ~Scratch() {
      for (const std::string* path : paths) std::remove(path->c_str());
    }
  } scratch{{&rulePath, &outPath}};
  if (!writeScratch(rulePath, rules, length)) {
    lastError = "not enough memory";
    return -1;
  }
  if (!w->check.PlaneSound(1)) {  // coverage reads plane 1
    lastError = static_cast<const char*>(w->check.PlaneSummary(1));
    return -1;
  }
  bool changed = false;
  const int carried = guarded(
      [&]() {
        const btreeimg::CoverageRuleFile ruleFile(rulePath.c_str());
        if (!ruleFile.usable()) {
          lastError = "the rules cannot be used: " + std::string(ruleFile.problem());
          return -1;
        }
        CString problem;
        if (btreeimg::coverImage(*w->image, ruleFile, outPath.c_str(), &changed, &problem) == 0) {
          // The scratch file's name means nothing to the page.
          std::string text(problem);
          if (text.rfind(outPath + ": ", 0) == 0) text.erase(0, outPath.size() + 2);
          lastError = "the covered image cannot be made: " + text;
          return -1;
        }
        return 1;
      },
      -1);
  if (carried < 0) return -1;
  if (!changed) return 0;  // no output
  if (!readScratch(outPath, &coverResult)) {
    lastError = "the covered image could not be read back";
    return -1;
  }
  return 1;
}

EMSCRIPTEN_KEEPALIVE const unsigned char* bi_cover_data() { return coverResult.data(); }
EMSCRIPTEN_KEEPALIVE size_t bi_cover_size() { return coverResult.size(); }
EMSCRIPTEN_KEEPALIVE void bi_cover_release() {
  std::vector<unsigned char>().swap(coverResult);
}

// Inspects the `size` bytes at `data` as ImageCheck does. Returns the number
// of problems found (0 for a sound file); bi_problem(i) reads each.
EMSCRIPTEN_KEEPALIVE int bi_check(const unsigned char* data, size_t size) {
  return guarded(
      [&]() {
        const int verdict = lastCheck.Inspect(data, size);
        const int count = lastCheck.Problems().GetSize();
        // A refused file always has a reason, so that no caller takes an
        // empty list for a sound file.
        return verdict != ImageCheck::sound && count == 0 ? 1 : count;
      },
      -1);
}

EMSCRIPTEN_KEEPALIVE const char* bi_problem(int i) {
  const CStringArray& problems = lastCheck.Problems();
  if (problems.GetSize() == 0) return "not an image file";
  return i >= 0 && i < problems.GetSize() ? static_cast<const char*>(problems.GetAt(i)) : "";
}

}  // extern "C"
