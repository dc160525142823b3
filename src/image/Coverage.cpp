// Colour coverage: plane 1 rewritten by colour rules into a new image file.
//
// A rule is (cover, test, substitute): every pixel of the cover colour whose
// pixel in the same column of the following line has the test colour takes
// the substitute colour. Rules act one after another on the working line; the
// test colour is always looked up in the following line as read from this
// image. The last line's following line is the first line.
#include "image/Coverage.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <new>
#include <vector>

#include "framework/ByteOrder.h"
#include "framework/Exceptions.h"
#include "framework/ThrowHelpers.h"
#include "image/BtreeImg.h"
#include "image/CoverageColour.h"
#include "image/CoverageRuleFile.h"
#include "image/CoverageRules.h"
#include "image/HeaderLayout.h"
#include "image/ImageWriter.h"

namespace {

// One rule over n pixels. Pixels compare as signed 8-bit values, so a cover
// or test colour outside -128..127 matches nothing. Branch-free, so that the
// compiler can vectorise the loop.
void applyRule(unsigned char* line, const unsigned char* next, int n, int cover,
               int test, int subst, int* changed) {
  if (cover < -128 || cover > 127 || test < -128 || test > 127) return;
  const auto c = static_cast<unsigned char>(cover);
  const auto t = static_cast<unsigned char>(test);
  const auto s = static_cast<unsigned char>(subst);
  unsigned char any = 0;
  for (int x = 0; x < n; ++x) {
    const unsigned char hit = (line[x] == c) & (next[x] == t);
    line[x] = hit ? s : line[x];
    any |= hit;
  }
  if (any) *changed = 1;
}

// True when both names reach the same existing file (same device and inode).
bool sameExistingFile(const char* a, const char* b) {
  struct stat sa, sb;
  return ::stat(a, &sa) == 0 && ::stat(b, &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The stem of the temporary file of a run on the image's own file: its path
// with the final ".dis" extension (any letter case) replaced by ".~~T"; a
// name without that extension gets ".~~T" appended.
CString temporaryCoverageName(const CString& path) {
  const int length = path.GetLength();
  if (length >= 4 && path.Right(4).CompareNoCase(".dis") == 0) {
    return path.Left(length - 4) + ".~~T";
  }
  return path + ".~~T";
}

// Makes the first block `header` describe a one-plane image: the plane
// count 1, no further planes' block positions (those of a multi-plane
// source would point past the end of the result), and its plane right
// behind the block, where the result holds it (a version-2 source may hold
// its plane 1 further on, its table's entry 0 saying where).
void oneOnlyPlane(unsigned char* header) {
  namespace block = btreeimg::detail::block;
  using btreeimg::detail::storeU32;
  btreeimg::detail::storeU16(header + block::kPlaneCountAt, 1);
  const unsigned version =
      btreeimg::detail::loadU16(header + block::kVersionAt);
  if (version == 3 || version == 4) {
    storeU32(header + block::kOffsetAt, 0);
  } else {
    for (int k = 0; k < block::kMaxPlanes; ++k) {
      storeU32(header + block::kOffsetAt + 4 * k, 0);
    }
  }
}

}  // namespace

void BtreeImg::testColor(char* line, char* next, int n, CString& cover,
                         int test, int subst, int* changed) {
  if (cover.IsEmpty()) return;
  int c = 0;
  if (!btreeimg::detail::parseColour(cover, &c)) return;
  applyRule(reinterpret_cast<unsigned char*>(line),
            reinterpret_cast<unsigned char*>(next), n, c, test, subst, changed);
}

namespace btreeimg::detail {

// The coverage run shared by BtreeImg::CoperturaU8 and btreeimg::coverImage
// (a friend of BtreeImg: it needs the image's file name and the save with a
// temporary name of its own).
class CoverageRun {
 public:
  // What a run that changed no pixel does with an existing output file of
  // another name than the image's.
  enum class Unchanged { kRemoveOutput, kKeepOutput };

  // Rewrites plane 1 of `image` by `rules` (usable) into `outputName`.
  // Returns whether a pixel changed (only then is the output written).
  // Throws CException* when the result cannot be made or written; the
  // output is then as it was.
  static bool run(BtreeImg& image, const CoverageRuleFile& rules,
                  const char* outputName, Unchanged unchanged);

  // The same through a reader, into `outputName` whatever file it names.
  // Returns the number of pixels changed (only when some did is the output
  // written).
  static ULONGLONG run(ImageReader& image, const CoverageRuleFile& rules,
                       const char* outputName);

  // The same, the result holding every plane of `image`: plane 1 covered,
  // the others as read.
  static ULONGLONG runKeepingPlanes(ImageReader& image,
                                    const CoverageRuleFile& rules,
                                    const char* outputName);

 private:
  // The rules that act, compiled once, so that each line is rewritten in
  // one pass whatever their number (a rule with an empty cover value is
  // left out).
  static CoverageRules compile(const CoverageRuleFile& rules);

  // Covers plane 1 of `image` line by line, top to bottom, handing each
  // covered line to sink(y, line) (valid during the call only). Line 0 as
  // the file holds it is the last line's following line. Returns the
  // number of pixels changed.
  template <typename Sink>
  static ULONGLONG coverLines(ImageReader& image, const CoverageRules& rules, Sink&& sink);
};

template <typename Sink>
ULONGLONG CoverageRun::coverLines(ImageReader& image, const CoverageRules& rules,
                                  Sink&& sink) {
  const unsigned int width = image.width();
  const unsigned int height = image.height();
  ULONGLONG changedPixels = 0;
  // Every following line is read once and then becomes the working line.
  const std::size_t n = width ? width : 1;
  std::vector<unsigned char> first(n), working(n), following(n), original(n);
  if (height != 0) image.readLine(1, 0, first.data());
  working = first;
  for (unsigned int y = 0; y < height; ++y) {
    const bool last = y + 1 == height;
    if (!last) image.readLine(1, y + 1, following.data());
    const unsigned char* below = last ? first.data() : following.data();
    int changed = 0;
    std::copy(working.begin(), working.end(), original.begin());
    rules.apply(working.data(), below, width, &changed);
    if (changed != 0) {
      for (std::size_t x = 0; x < width; ++x) changedPixels += working[x] != original[x];
    }
    sink(y, working.data());
    std::swap(working, following);
  }
  return changedPixels;
}

CoverageRules CoverageRun::compile(const CoverageRuleFile& rules) {
  std::vector<ColourRule> acting;
  for (const CoverageRuleFile::Rule& rule : rules.rules()) {
    if (rule.acts) acting.push_back({rule.cover, rule.test, rule.subst});
  }
  return CoverageRules(acting);
}

bool CoverageRun::run(BtreeImg& image, const CoverageRuleFile& rules,
                      const char* outputName, Unchanged unchanged) {
  // Step 1: the rules.
  const CoverageRules compiled = compile(rules);

  // Step 2: where the result goes: always `outputName`, so that an output
  // that is another hard link of the image's file gets the result and the
  // image's own name keeps the image. A run on the image's own file goes
  // through a temporary file named by the coverage rule.
  const bool sameFile = sameExistingFile(outputName, image.fileName);
  const CString target(outputName);

  // Step 3: the rewritten lines into a one-plane image with this image's
  // first block.
  const unsigned int width = image.dimx(1);
  const unsigned int height = image.dimy(1);
  unsigned char header[block::kSize];
  image.readHeader(header, 1);
  oneOnlyPlane(header);
  int changed = 0;
  BtreeImg output(target, header, 1, -1);
  try {
    // Each line is read once, into the plane's line buffer, which serves as
    // the following line as it stands; the working line is a copy of it
    // taken after the line below has been written. That is what reading
    // every line twice (as working line, then as following line) gave: the
    // same bytes, even where a short file leaves part of a line unread, and
    // the same line buffer at the end.
    std::vector<unsigned char> working(width ? width : 1);
    // A run of coverImage counts a pixel as changed only when its value
    // changed (as a run through a reader does); CoperturaU8 counts every
    // pixel a rule replaced, even by its own value.
    const bool byValue = unchanged == Unchanged::kKeepOutput;
    std::vector<unsigned char> original(byValue ? working.size() : 0);
    if (height != 0) image.at(0, 1)->copyTo(working.data(), width);
    for (unsigned int y = 0; y < height; ++y) {
      Mem* below = image.at(y + 1 == height ? 0 : y + 1, 1);
      const auto* following = static_cast<unsigned char*>(below->pointer());
      if (byValue) {
        int replaced = 0;
        std::copy(working.begin(), working.end(), original.begin());
        compiled.apply(working.data(), following, width, &replaced);
        if (replaced != 0 && working != original) changed = 1;
      } else {
        compiled.apply(working.data(), following, width, &changed);
      }
      output.wLinea(reinterpret_cast<char*>(working.data()),
                    static_cast<int>(y), 1);
      below->copyTo(working.data(), width);
    }
    // Step 4: keep the result only when something changed. An unchanged run
    // writes nothing (and CoperturaU8 removes an existing file of another
    // output name).
    if (changed == 0) {
      output.discard();
      if (!sameFile && unchanged == Unchanged::kRemoveOutput) {
        std::remove(outputName);
      }
      return false;
    }
    output.save(sameFile ? temporaryCoverageName : nullptr);
  } catch (...) {
    // Nothing of a run that failed is written: no second attempt when the
    // output goes away, and no partial result.
    output.discard();
    throw;
  }
  return true;
}

ULONGLONG CoverageRun::run(ImageReader& image, const CoverageRuleFile& rules,
                           const char* outputName) {
  const CoverageRules compiled = compile(rules);
  unsigned char header[block::kSize];
  image.firstBlock(header);
  oneOnlyPlane(header);
  BtreeImg output(outputName, header, 1, -1);
  ULONGLONG changedPixels = 0;
  try {
    changedPixels = coverLines(image, compiled, [&output](unsigned int y, unsigned char* line) {
      output.wLinea(reinterpret_cast<char*>(line), static_cast<int>(y), 1);
    });
    // Only a changed result is written; an existing output stays as it was
    // otherwise.
    if (changedPixels == 0) {
      output.discard();
      return 0;
    }
    output.save(nullptr);
  } catch (...) {
    output.discard();
    throw;
  }
  return changedPixels;
}

ULONGLONG CoverageRun::runKeepingPlanes(ImageReader& image,
                                        const CoverageRuleFile& rules,
                                        const char* outputName) {
  const CoverageRules compiled = compile(rules);
  const unsigned int width = image.width();
  const unsigned int height = image.height();
  const int planes = image.planes();
  // Every plane keeps its encoding when they all share one; a packed plane
  // whose covered code would not fit the room of its raw plane is turned
  // raw rather than refused. Mixed encodings are chosen plane by plane.
  int pack = image.encoding(1);
  for (int p = 2; p <= planes; ++p) {
    if (image.encoding(p) != pack) pack = ImageWriter::kChooseEncoding;
  }
  if (pack == 1 || pack < 0 || pack > 2) pack = ImageWriter::kChooseEncoding;
  ImageWriter writer(outputName, pack, width, height, planes);
  unsigned char map[768];
  image.colourMap(map);
  writer.setColourMap(map);
  const ULONGLONG changedPixels =
      coverLines(image, compiled, [&writer](unsigned int y, const unsigned char* line) {
        writer.writeLine(1, y, line);
      });
  if (changedPixels == 0) {
    writer.discard();
    return 0;
  }
  std::vector<unsigned char> line(width ? width : 1);
  for (int p = 2; p <= planes; ++p) {
    for (unsigned int y = 0; y < height; ++y) {
      image.readLine(p, y, line.data());
      writer.writeLine(p, y, line.data());
    }
  }
  writer.commit();
  return changedPixels;
}

}  // namespace btreeimg::detail

using btreeimg::detail::CoverageRun;

int BtreeImg::CoperturaU8(CString ruleFile, CString outputName) {
  try {
    // The rules are checked whole before anything is written.
    const btreeimg::CoverageRuleFile rules(ruleFile);
    if (!rules.usable()) return 0;
    CoverageRun::run(*this, rules, outputName,
                     CoverageRun::Unchanged::kRemoveOutput);
    return 1;
  } catch (CException* e) {
    e->Delete();
    return 0;
  }
}

namespace btreeimg {

namespace {

// Reports a failed run: 0, with `text` in *problem.
int failed(const CString& text, CString* problem) {
  if (problem != nullptr) *problem = text;
  return 0;
}

}  // namespace

int coverImage(BtreeImg& image, const CoverageRuleFile& rules,
               const char* output, bool* changed, CString* problem) {
  if (changed != nullptr) *changed = false;
  if (problem != nullptr) problem->Empty();
  try {
    if (!rules.usable()) {
      return failed(rules.path() + ": " + rules.problem(), problem);
    }
    const bool done = CoverageRun::run(image, rules, output ? output : "",
                                       CoverageRun::Unchanged::kKeepOutput);
    if (changed != nullptr) *changed = done;
    return 1;
  } catch (CException* e) {
    const CString text = describe(e);
    e->Delete();
    return failed(text, problem);
  } catch (const std::bad_alloc&) {
    return failed("out of memory", problem);
  }
}

namespace {

// A run through a reader, `run`, of `rules` checked first, with running out
// of memory reported as the framework reports it.
template <typename Run>
ULONGLONG throughReader(const CoverageRuleFile& rules, Run&& run) {
  if (!rules.usable()) {
    btreeimg::detail::throwInvalidArgument((rules.path() + ": " + rules.problem()).GetString());
  }
  try {
    return run();
  } catch (const std::bad_alloc&) {
    btreeimg::detail::throwMemoryError();
  }
}

}  // namespace

ULONGLONG coverImage(ImageReader& image, const CoverageRuleFile& rules,
                     const char* output) {
  return throughReader(rules, [&] { return CoverageRun::run(image, rules, output ? output : ""); });
}

ULONGLONG coverImageKeepingPlanes(ImageReader& image,
                                  const CoverageRuleFile& rules,
                                  const char* output) {
  return throughReader(rules, [&] {
    return CoverageRun::runKeepingPlanes(image, rules, output ? output : "");
  });
}

int coverImage(BtreeImg& image, const char* rules, const char* output,
               bool* changed, CString* problem) {
  try {
    const CoverageRuleFile file(rules);
    return coverImage(image, file, output, changed, problem);
  } catch (CException* e) {  // memory ran out while reading the rules
    e->Delete();
  } catch (const std::bad_alloc&) {
  }
  if (changed != nullptr) *changed = false;
  return failed("out of memory", problem);
}

}  // namespace btreeimg
