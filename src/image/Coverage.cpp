// Colour coverage: plane 1 rewritten by colour rules into a new image file.
//
// A rule is (cover, test, substitute): every pixel of the cover colour whose
// pixel in the same column of the following line has the test colour takes
// the substitute colour. Rules act one after another on the working line; the
// test colour is always looked up in the following line as read from this
// image. The last line's following line is the first line.
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/ByteOrder.h"
#include "framework/CPtrList.h"
#include "framework/Exceptions.h"
#include "image/BtreeImg.h"
#include "image/CoverageRules.h"
#include "image/HeaderLayout.h"
#include "settings/AsKeyDat.h"

namespace {

struct Rule {
  bool skip;  // an empty cover value: the rule does nothing
  int cover;
  int test;
  int subst;
};

// Reads a colour value as "%d" does: leading white space, an optional sign,
// decimal digits; text after the number is ignored. Values beyond int are
// held at its limits. Returns false when the text does not begin with a
// decimal integer.
bool parseColour(const char* text, int* value) {
  char* end = nullptr;
  errno = 0;
  const long parsed = std::strtol(text, &end, 10);
  if (end == text) return false;
  *value = parsed > INT_MAX ? INT_MAX : parsed < INT_MIN ? INT_MIN
                                                         : static_cast<int>(parsed);
  return true;
}

const char* valueAt(CPtrList* list, int index) {
  POSITION pos = list->FindIndex(index);
  const CString* text = pos ? static_cast<const CString*>(list->GetAt(pos)) : nullptr;
  return text ? text->GetString() : nullptr;
}

// Pairs the three value lists into rules. Returns false when a list is
// missing or shorter than the cover list, or a value is not a number.
bool loadRules(AsKeyDat& file, std::vector<Rule>* rules) {
  CPtrList* covers = file.getListOf("COLCOPER");
  CPtrList* tests = file.getListOf("COLTEST");
  CPtrList* substs = file.getListOf("COLSOST");
  if (covers == nullptr || covers->IsEmpty()) return false;
  const int count = covers->GetCount();
  if (tests == nullptr || substs == nullptr || tests->GetCount() < count ||
      substs->GetCount() < count) {
    return false;
  }
  for (int i = 0; i < count; ++i) {
    Rule rule{false, 0, 0, 0};
    const char* cover = valueAt(covers, i);
    if (cover == nullptr || *cover == '\0') {
      rule.skip = true;
    } else {
      const char* test = valueAt(tests, i);
      const char* subst = valueAt(substs, i);
      if (!parseColour(cover, &rule.cover) || test == nullptr ||
          !parseColour(test, &rule.test) || subst == nullptr ||
          !parseColour(subst, &rule.subst)) {
        return false;
      }
    }
    rules->push_back(rule);
  }
  return true;
}

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
// count 1 and no further planes' block positions (those of a multi-plane
// source would point past the end of the result).
void oneOnlyPlane(unsigned char* header) {
  namespace block = btreeimg::detail::block;
  using btreeimg::detail::storeU32;
  btreeimg::detail::storeU16(header + block::kPlaneCountAt, 1);
  const unsigned version = btreeimg::detail::loadU16(header + block::kVersionAt);
  if (version == 3 || version == 4) {
    storeU32(header + block::kOffsetAt, 0);
  } else {
    for (int k = 1; k < block::kMaxPlanes; ++k) storeU32(header + block::kOffsetAt + 4 * k, 0);
  }
}

}  // namespace

void BtreeImg::testColor(char* line, char* next, int n, CString& cover,
                         int test, int subst, int* changed) {
  if (cover.IsEmpty()) return;
  int c = 0;
  if (!parseColour(cover, &c)) return;
  applyRule(reinterpret_cast<unsigned char*>(line),
            reinterpret_cast<unsigned char*>(next), n, c, test, subst, changed);
}

int BtreeImg::CoperturaU8(CString ruleFile, CString outputName) {
  try {
    // Step 1: the rules, checked whole before anything is written.
    std::vector<Rule> rules;
    {
      AsKeyDat file;
      if (file.createFromFile(ruleFile) == 0 || !loadRules(file, &rules)) {
        return 0;
      }
    }
    // Compiled once, so that each line is rewritten in one pass whatever the
    // number of rules (an empty cover value leaves its rule out).
    std::vector<btreeimg::detail::ColourRule> acting;
    for (const Rule& rule : rules) {
      if (!rule.skip) acting.push_back({rule.cover, rule.test, rule.subst});
    }
    const btreeimg::detail::CoverageRules compiled(acting);

    // Step 2: where the result goes. A run on the image's own file replaces
    // that file, through a temporary file named by the coverage rule.
    const bool sameFile = sameExistingFile(outputName, fileName);
    const CString target = sameFile ? fileName : outputName;

    // Step 3: the rewritten lines into a one-plane image with this image's
    // first block.
    const unsigned int width = dimx(1);
    const unsigned int height = dimy(1);
    unsigned char header[btreeimg::detail::block::kSize];
    readHeader(header, 1);
    oneOnlyPlane(header);
    int changed = 0;
    {
      BtreeImg output(target, header, 1, -1);
      // Each line is read once, into the plane's line buffer, which serves
      // as the following line as it stands; the working line is a copy of
      // it taken after the line below has been written. That is what
      // reading every line twice (as working line, then as following line)
      // gave: the same bytes, even where a short file leaves part of a line
      // unread, and the same line buffer at the end.
      std::vector<unsigned char> working(width ? width : 1);
      if (height != 0) at(0, 1)->copyTo(working.data(), width);
      for (unsigned int y = 0; y < height; ++y) {
        Mem* below = at(y + 1 == height ? 0 : y + 1, 1);
        const auto* following = static_cast<unsigned char*>(below->pointer());
        compiled.apply(working.data(), following, width, &changed);
        output.wLinea(reinterpret_cast<char*>(working.data()),
                      static_cast<int>(y), 1);
        below->copyTo(working.data(), width);
      }
      // Step 4: keep the result only when something changed. An unchanged
      // run writes nothing, and an existing file of another output name goes.
      if (changed == 0) {
        output.discard();
        if (!sameFile) std::remove(outputName);
        return 1;
      }
      try {
        output.save(sameFile ? temporaryCoverageName : nullptr);
      } catch (CException*) {
        output.discard();  // no second attempt when the output goes away
        throw;
      }
    }
    return 1;
  } catch (CException* e) {
    e->Delete();
    return 0;
  }
}
