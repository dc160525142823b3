#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <climits>
#include <cstddef>
#include <string>
#include <vector>

#include "image/CoverageRules.h"
#include "image/ImageFiles.h"  // Bytes and Lines

using namespace imgtest;  // NOLINT: the test-local helpers
using btreeimg::detail::ColourRule;
using btreeimg::detail::CoverageRules;
using Method = CoverageRules::Method;

namespace {

using Rules = std::vector<ColourRule>;

// The whole plane by the rules applied one after another to every pixel, as
// the format defines them: each line against the source's next line, the
// last one against the first; both colours compared as signed bytes, the
// substitute's low byte stored, any match setting the flag.
Lines referencePlane(const Lines& plane, const Rules& rules, int* changed) {
  Lines out = plane;
  for (std::size_t y = 0; y < plane.size(); ++y) {
    const Bytes& next = plane[(y + 1) % plane.size()];
    for (const ColourRule& rule : rules) {
      for (std::size_t x = 0; x < out[y].size(); ++x) {
        if (static_cast<signed char>(out[y][x]) == rule.cover &&
            static_cast<signed char>(next[x]) == rule.test) {
          out[y][x] = static_cast<unsigned char>(rule.subst & 0xFF);
          *changed = 1;
        }
      }
    }
  }
  return out;
}

// ---- Generators
// ---------------------------------------------------------------

// A few colours for one case, as signed values: rules and pixels draw most
// of their values from them, so that rules match and chain.
std::vector<int> genPalette() {
  const bool wide = *rc::gen::inRange(0, 4) == 0;
  return *rc::gen::container<std::vector<int>>(
      *rc::gen::inRange(1, wide ? 24 : 7), rc::gen::inRange(-128, 128));
}

// A colour value of a rule: mostly from the palette or an earlier
// substitute; sometimes any byte value, the same value 256 away (outside
// -128..127, so it never matches), or an extreme.
rc::Gen<int> genColour(const std::vector<int>& known) {
  return rc::gen::weightedOneOf<int>(
      {{12, rc::gen::elementOf(known)},
       {2, rc::gen::inRange(-128, 128)},
       {1, rc::gen::map(rc::gen::elementOf(known),
                        [](int v) { return v < 0 ? v + 256 : v - 256; })},
       {1, rc::gen::element(INT_MIN, INT_MAX, 128, -129, 255, 1000)}});
}

// Up to 64 rules; the substitutes join the colours later rules draw from.
Rules genRules(const std::vector<int>& palette) {
  std::vector<int> known = palette;
  Rules rules(*rc::gen::inRange(0, 65));
  for (ColourRule& r : rules) {
    r.cover = *genColour(known);
    r.test = *genColour(known);
    r.subst = *genColour(known);
    known.push_back(static_cast<signed char>(r.subst & 0xFF));
  }
  return rules;
}

// A line of `width` pixels in runs of palette colours or of any byte.
Bytes genLine(const std::vector<int>& palette, std::size_t width) {
  Bytes line;
  while (line.size() < width) {
    const int value = *rc::gen::weightedOneOf<int>(
        {{4, rc::gen::elementOf(palette)}, {1, rc::gen::inRange(0, 256)}});
    const auto run =
        std::min<std::size_t>(*rc::gen::weightedOneOf<std::size_t>(
                                  {{3, rc::gen::inRange<std::size_t>(1, 4)},
                                   {2, rc::gen::inRange<std::size_t>(4, 80)}}),
                              width - line.size());
    line.insert(line.end(), run, static_cast<unsigned char>(value));
  }
  return line;
}

// A plane of one or more lines, 0 to 200 pixels wide.
Lines genPlane(const std::vector<int>& palette) {
  const auto width = *rc::gen::weightedOneOf<std::size_t>(
      {{1, rc::gen::element<std::size_t>(0, 1, 15, 16, 17, 31, 32, 33, 64)},
       {3, rc::gen::inRange<std::size_t>(0, 201)}});
  Lines plane(*rc::gen::inRange(1, 6));
  for (Bytes& line : plane) line = genLine(palette, width);
  return plane;
}

// ---- Every method against the reference -------------------------------------

// Whether every method on `plane`, its flag starting at *flag, gives the
// lines and flag of the rules in turn; *flag becomes the reference's flag.
bool everyMethodFollows(const Lines& plane, const Rules& rules, int* flag) {
  int expectedFlag = *flag;
  const Lines expected = referencePlane(plane, rules, &expectedFlag);
  const CoverageRules compiled(rules);
  bool same = true;
  for (const Method method : {Method::kAuto, Method::kTable, Method::kCompare16, Method::kRuns16,
                              Method::kCompare32, Method::kRuns32, Method::kClasses32,
                              Method::kClasses64}) {
    int got = *flag;
    for (std::size_t y = 0; y < plane.size(); ++y) {
      Bytes line = plane[y];
      compiled.apply(line.data(), plane[(y + 1) % plane.size()].data(), line.size(), &got, method);
      same = same && line == expected[y];
    }
    same = same && got == expectedFlag;
  }
  *flag = expectedFlag;
  return same;
}

RC_GTEST_PROP(CoverageRules, EveryMethodGivesTheBytesAndFlagOfTheRulesInTurn, ()) {
  const std::vector<int> palette = genPalette();
  const Rules rules = genRules(palette);
  const Lines plane = genPlane(palette);
  int flag = *rc::gen::inRange(0, 2);
  RC_ASSERT(everyMethodFollows(plane, rules, &flag));
}

// ---- Cases the property reaches only by chance --------------------------------

// Every method on `plane` follows the rules, which change a pixel.
void expectEveryMethodFollows(const Lines& plane, const Rules& rules) {
  int flag = 0;
  EXPECT_TRUE(everyMethodFollows(plane, rules, &flag));
  EXPECT_EQ(flag, 1);
}

// A match sets the flag even where the pixel keeps its value: a substitute
// equal to the cover colour, or a chain that leads back to it.
TEST(CoverageRules, MatchesThatKeepThePixelStillSetTheFlag) {
  const Lines plane = {Bytes(64, 5), Bytes(64, 7)};  // whole blocks: no columns left over
  expectEveryMethodFollows(plane, {{5, 7, 5}});
  expectEveryMethodFollows(plane, {{5, 7, 9}, {9, 7, 5 + 256}});
}

// The last pixel of a block is tested against its own column: here no pixel
// is 5 over 7 (the 7s lie one column before the 5s), so none matches and
// the flag stays clear.
TEST(CoverageRules, TheLastPixelOfABlockIsTestedAgainstItsOwnColumn) {
  Lines plane = {Bytes(64, 1), Bytes(64, 0)};
  for (std::size_t x = 15; x < 64; x += 16) {
    plane[0][x] = 5;
    plane[1][x - 1] = 7;
  }
  int flag = 0;
  EXPECT_TRUE(everyMethodFollows(plane, {{5, 7, 9}}, &flag));
  EXPECT_EQ(flag, 0);
}

// More pairs than runs compares for a block of many values: such blocks go
// through the table. Lines of every byte value make each block such a one.
TEST(CoverageRules, ManyPairsOnLinesWithoutRunsFollowTheRules) {
  // Line y + 1 is line y plus 17 in every column; rule k covers 4k (as a
  // signed byte) over 4k + 17.
  Rules rules;
  for (int k = 0; k < 64; ++k) {
    rules.push_back({static_cast<signed char>(4 * k), static_cast<signed char>(4 * k + 17), k});
  }
  Lines plane(3, Bytes(256 + 7));
  for (std::size_t y = 0; y < plane.size(); ++y)
    for (std::size_t x = 0; x < plane[y].size(); ++x)
      plane[y][x] = static_cast<unsigned char>((x * 131 + y * 17) % 256);
  expectEveryMethodFollows(plane, rules);
}

// Regression: a rule list naming all 256 test values needs 257 table rows;
// a row number of one byte sent the last test value to the row of values no
// rule tests.
TEST(CoverageRules, EveryTestValueHasItsOwnRow) {
  Rules rules;
  for (int t = -128; t < 128; ++t) rules.push_back({9, t, t});
  Lines plane = {Bytes(300, 9), Bytes(300)};
  for (std::size_t x = 0; x < 300; ++x) plane[1][x] = static_cast<unsigned char>(x);
  expectEveryMethodFollows(plane, rules);
}

}  // namespace
