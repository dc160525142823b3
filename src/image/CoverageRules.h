// Colour rules compiled for rewriting whole lines. Internal: not installed.
//
// A colour rule (cover, test, substitute) gives every pixel of the cover
// colour whose pixel in the same column of the following line has the test
// colour the substitute colour. Rules act one after another on the working
// line, so a pixel that an earlier rule changed can match a later rule's
// cover colour; the following line is only read. Colours compare as signed
// 8-bit values, so a cover or test colour outside -128..127 matches nothing;
// the substitute stores its low 8 bits.
//
// A pixel's outcome therefore depends only on its own value p and the value
// t below it: for each t, the rules whose test colour is t compose into one
// map from p to (new value, whether any rule matched). CoverageRules builds
// those maps once per rule list, a table row per test colour the rules name,
// and keeps the (t, p) pairs some rule matches. A line is then rewritten in
// blocks of 32 columns (AVX2, chosen at run time; 64 for classes with
// AVX-512BW) or 16 (SSE2), by one of
// four methods:
//  - compare: each pair is a vector compare of both lines, whatever the
//    data. Used when there are at most kMaxComparePairs pairs.
//  - classes (AVX2 only: it needs a byte shuffle): the pixel values of the
//    pairs, 16 at most, are given numbers 0 to 15 by a hash of two 16-entry
//    shuffles (one per nibble); each test value then turns those numbers
//    into the XOR that gives the new value with one more shuffle. The cost
//    grows with the number of test values, not with the number of rules or
//    pairs, and does not depend on the data: short runs and noise cost what
//    long runs cost. Used for more pairs than compare takes when the test
//    values are at most kMaxClassesTests and the pixel values have a hash.
//    With AVX-512BW, 64 columns at a time, where each test value costs a
//    compare into a bit mask and one shuffle under that mask.
//  - runs: a block whose columns all repeat the column before it takes that
//    column's result: one compare. Otherwise, a block whose columns all
//    repeat either the column before it or its own last column takes those
//    two columns' table results, lane by lane. Images that colour rules are
//    made for (a few colours in runs) take these two paths almost
//    everywhere, so the cost does not depend on the number of rules. Any
//    other block goes through classes or compare, whichever takes fewer
//    vector operations for the rules, or through the table when neither
//    applies (many pairs of many pixel values). Used where neither compare
//    nor classes is.
//  - table: one look-up per pixel: the columns left over after the blocks,
//    and everything where no vector instructions exist.
// The vector methods are written once, over a vector traits type, and
// compiled for each width (image/CoverageRulesSimd.h).
// Every method gives the bytes and changed flag of applying the rules one
// after another.
//
// The code is inline so that the tests compile the same code as the library.
#ifndef BTREEIMG_IMAGE_COVERAGERULES_H_
#define BTREEIMG_IMAGE_COVERAGERULES_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/CoverageRulesSimd.h"
#include "image/CoverageTables.h"

namespace btreeimg::detail {

// One colour rule as the rule file gives it (values of any size).
struct ColourRule {
  int cover;
  int test;
  int subst;
};

// A rule list compiled for line rewriting. Immutable after construction, so
// one object may serve several threads.
class CoverageRules {
 public:
  // How apply() rewrites a line. kAuto picks by the rule list and the
  // processor; the others let the tests drive each method and block width
  // on its own (a width the processor lacks falls back to the next
  // narrower one, 64 columns to 32, 32 to 16; classes, where they do not
  // apply, fall back to runs).
  enum class Method {
    kAuto,
    kTable,
    kCompare16,
    kRuns16,
    kCompare32,
    kRuns32,
    kClasses32,
    kClasses64
  };

  // kAuto compares when the rules match at most this many (t, p) pairs.
  static constexpr std::size_t kMaxComparePairs = coverage::kMaxHeldPairs;
  // Runs takes blocks of many values by classes where those apply and cost
  // fewer vector operations than compare; otherwise it compares them when
  // the pairs are at most this many, and looks them up pixel by pixel
  // when they are more.
  static constexpr std::size_t kMaxBusyComparePairs = 32;
  // kAuto takes classes for every block, where they apply, when the rules
  // have at most this many test values: then classes cost about what runs
  // cost on long runs (about 40 vector operations a block), and far less
  // on short runs or noise.
  static constexpr std::size_t kMaxClassesTests = 8;

  // Compiles `rules`, in the order they act.
  explicit CoverageRules(const std::vector<ColourRule>& rules);

  // False when no pixel can match any rule (no rules, or every cover or
  // test colour outside -128..127): apply() then changes nothing.
  bool canMatch() const { return !tables_.pairs.empty(); }

  // Rewrites line[0 .. n-1] against next[0 .. n-1] as the rules would one
  // after another, and sets *changed to 1 when any rule matched a pixel
  // (even one whose substitute equals it); never resets it.
  // REQUIRES: line and next hold n bytes each and do not overlap.
  void apply(unsigned char* line, const unsigned char* next, std::size_t n,
             int* changed, Method method = Method::kAuto) const;

 private:
  // The method over a whole line, 32 columns at a time when `wide`.
  // Return whether any rule matched.
  bool compareLine(unsigned char* line, const unsigned char* next,
                   std::size_t n, bool wide) const;
  bool runsLine(unsigned char* line, const unsigned char* next, std::size_t n,
                bool wide) const;
  // Classes over the whole line where the processor has AVX2 and the rules'
  // pixel values have a hash; otherwise runs.
  bool classesLine(unsigned char* line, const unsigned char* next,
                   std::size_t n) const;
  static bool haveAvx2();
  static bool haveAvx512();  // AVX-512BW
  // Tables `low` and `high` under which the classes low[v & 15] ^
  // high[v >> 4] of `values` (distinct, at most 16) differ; false when none
  // was found.
  static bool findHash(const std::vector<unsigned char>& values,
                       std::array<unsigned char, 16>* low,
                       std::array<unsigned char, 16>* high);

  coverage::RuleTables tables_;
  Method method_ = Method::kTable;  // what kAuto stands for
};

// ---- Construction and dispatch ----------------------------------------------

inline CoverageRules::CoverageRules(const std::vector<ColourRule>& rules) {
  using coverage::kHit;
  using coverage::Splat;
  // Step 1: the rules that can match, by test value, in order.
  std::array<std::vector<const ColourRule*>, 256> byTest;
  std::vector<unsigned char> tests;  // in order of first appearance
  for (const ColourRule& rule : rules) {
    if (rule.cover < -128 || rule.cover > 127 || rule.test < -128 ||
        rule.test > 127) {
      continue;
    }
    const auto t = static_cast<unsigned char>(rule.test);
    if (byTest[t].empty()) tests.push_back(t);
    byTest[t].push_back(&rule);
  }
  // Step 2: one table row per test value: every pixel value run through
  // that value's rules in order. The entries a rule matched are the pairs.
  const auto splat = [](unsigned v) {
    Splat all;
    for (unsigned char& lane : all.v) lane = static_cast<unsigned char>(v);
    return all;
  };
  struct Found {
    unsigned char test, pixel, flip;
  };
  std::vector<Found> found;  // every pair, in group order
  coverage::RuleTables& r = tables_;
  r.entries.resize(256 * (tests.size() + 1));
  for (unsigned p = 0; p < 256; ++p)
    r.entries[p] = static_cast<std::uint16_t>(p);
  for (std::size_t k = 0; k < tests.size(); ++k) {
    const unsigned char t = tests[k];
    r.row[t] = static_cast<std::uint32_t>((k + 1) * 256);
    coverage::Group group{r.lanes.size(), 0};
    r.lanes.push_back(splat(t));
    for (unsigned p = 0; p < 256; ++p) {
      unsigned value = p;
      bool hit = false;
      for (const ColourRule* rule : byTest[t]) {
        if (value == static_cast<unsigned char>(rule->cover)) {
          value = static_cast<unsigned char>(rule->subst);
          hit = true;
        }
      }
      r.entries[(k + 1) * 256 + p] =
          static_cast<std::uint16_t>(value | (hit ? kHit : 0));
      if (hit) {
        r.pairs.push_back({group.lane, r.lanes.size()});
        r.lanes.push_back(splat(p));
        r.lanes.push_back(splat(p ^ value));
        found.push_back({t, static_cast<unsigned char>(p),
                         static_cast<unsigned char>(p ^ value)});
        ++group.pairs;
      }
    }
    if (group.pairs != 0) {
      r.groups.push_back(group);
    } else {
      r.lanes.pop_back();
    }
  }
  // Step 3: the classes, where the pairs have few enough pixel values.
  std::vector<unsigned char> covers;  // the pairs' pixel values
  {
    std::array<bool, 256> seen{};
    for (const Found& f : found) {
      if (!seen[f.pixel]) covers.push_back(f.pixel);
      seen[f.pixel] = true;
    }
  }
  coverage::ClassLanes& c = r.classes;
  std::array<unsigned char, 256> classOf{};
  std::array<unsigned char, 16> hashLow{}, hashHigh{};
  if (!found.empty() && covers.size() <= coverage::kMaxClasses &&
      findHash(covers, &hashLow, &hashHigh)) {
    c.usable = true;
    Splat low{}, high{}, value{};
    for (unsigned char p : covers) {
      classOf[p] = hashLow[p & 15] ^ hashHigh[p >> 4];
      value.v[classOf[p]] = value.v[classOf[p] + 16] = p;
    }
    for (std::size_t lane = 0; lane < 32; ++lane) {
      low.v[lane] = hashLow[lane & 15];
      high.v[lane] = hashHigh[lane & 15];
    }
    c.hash = r.lanes.size();
    r.lanes.push_back(splat(0x0F));
    r.lanes.push_back(low);
    r.lanes.push_back(high);
    r.lanes.push_back(value);
  }
  if (c.usable) {
    for (const Found& f : found) c.hitTables = c.hitTables || f.flip == 0;
    c.step = c.hitTables ? 3 : 2;
    c.tests = r.groups.size();
    c.test = r.lanes.size();
    for (std::size_t i = 0; i < found.size();) {
      const std::size_t group = r.lanes.size();
      r.lanes.push_back(splat(found[i].test));
      r.lanes.resize(r.lanes.size() + c.step - 1, Splat{});
      for (; i < found.size() && found[i].test == r.lanes[group].v[0]; ++i) {
        for (std::size_t lane = classOf[found[i].pixel]; lane < 32;
             lane += 16) {
          r.lanes[group + 1].v[lane] = found[i].flip;
          if (c.hitTables) r.lanes[group + 2].v[lane] = 0xFF;
        }
      }
    }
  }
  // Step 4: what kAuto stands for, and how runs takes blocks of many
  // values. Classes cost about one vector operation per class (compare and
  // blend) and two or three per group; compare five per pair.
  const std::size_t pairs = r.pairs.size();
  const bool wide = haveAvx2();
  r.busyCompare = pairs <= kMaxBusyComparePairs;
  r.busyClasses = c.usable && 9 + (c.hitTables ? 6 : 4) * c.tests <=
                                  5 * pairs + r.groups.size();
  if (pairs <= kMaxComparePairs) {
    method_ = wide ? Method::kCompare32 : Method::kCompare16;
  } else if (wide && r.busyClasses && c.tests <= kMaxClassesTests) {
    method_ = haveAvx512() ? Method::kClasses64 : Method::kClasses32;
  } else {
    method_ = wide ? Method::kRuns32 : Method::kRuns16;
  }
}

inline bool CoverageRules::findHash(const std::vector<unsigned char>& values,
                                    std::array<unsigned char, 16>* low,
                                    std::array<unsigned char, 16>* high) {
  // The values by their high nibble, those with the most values first.
  std::array<std::vector<unsigned char>, 16> byHigh;
  for (unsigned char v : values) byHigh[v >> 4].push_back(v);
  std::array<unsigned char, 16> order;
  for (unsigned i = 0; i < 16; ++i) order[i] = static_cast<unsigned char>(i);
  std::stable_sort(order.begin(), order.end(), [&](unsigned a, unsigned b) {
    return byHigh[a].size() > byHigh[b].size();
  });
  // For a low table (the identity first, then pseudo-random ones), give
  // each high nibble the first entry that keeps the classes distinct.
  std::uint32_t state = 0x9E3779B9u;
  for (int attempt = 0; attempt < 256; ++attempt) {
    for (unsigned i = 0; i < 16; ++i) {
      if (attempt == 0) {
        (*low)[i] = static_cast<unsigned char>(i);
      } else {
        state = state * 1664525u + 1013904223u;
        (*low)[i] = static_cast<unsigned char>(state >> 28);
      }
    }
    std::uint32_t taken = 0;
    bool fits = true;
    for (unsigned h : order) {
      bool placed = byHigh[h].empty();
      (*high)[h] = 0;
      for (unsigned b = 0; b < 16 && !placed; ++b) {
        std::uint32_t mine = 0;
        for (unsigned char v : byHigh[h]) mine |= 1u << ((*low)[v & 15] ^ b);
        if (static_cast<std::size_t>(__builtin_popcount(mine)) ==
                byHigh[h].size() &&
            (mine & taken) == 0) {
          (*high)[h] = static_cast<unsigned char>(b);
          taken |= mine;
          placed = true;
        }
      }
      fits = fits && placed;
      if (!fits) break;
    }
    if (fits) return true;
  }
  return false;
}

inline bool CoverageRules::haveAvx512() {
#if defined(BTREEIMG_COVERAGE_AVX2)
  static const bool kHave = __builtin_cpu_supports("avx512bw") != 0;
  return kHave;
#else
  return false;
#endif
}

inline bool CoverageRules::haveAvx2() {
#if defined(BTREEIMG_COVERAGE_AVX2)
  static const bool kHave = __builtin_cpu_supports("avx2") != 0;
  return kHave;
#else
  return false;
#endif
}

inline void CoverageRules::apply(unsigned char* line, const unsigned char* next,
                                 std::size_t n, int* changed,
                                 Method method) const {
  if (!canMatch() || n == 0) return;
  if (method == Method::kAuto) method = method_;
  const bool wide =
      (method == Method::kCompare32 || method == Method::kRuns32 ||
       method == Method::kClasses32) &&
      haveAvx2();
  bool hit = false;
  switch (method) {
    case Method::kCompare16:
    case Method::kCompare32:
      hit = compareLine(line, next, n, wide);
      break;
    case Method::kRuns16:
    case Method::kRuns32:
      hit = runsLine(line, next, n, wide);
      break;
    case Method::kClasses32:
      hit = classesLine(line, next, n);
      break;
    case Method::kClasses64:
#if defined(BTREEIMG_COVERAGE_AVX2)
      if (haveAvx512() && tables_.classes.usable) {
        hit = coverage::avx512::classesLine(tables_, line, next, n);
        break;
      }
#endif
      hit = classesLine(line, next, n);
      break;
    default:
      hit = (tables_.tableLine(line, next, n) & coverage::kHit) != 0;
      break;
  }
  if (hit) *changed = 1;
}

inline bool CoverageRules::compareLine(unsigned char* line,
                                       const unsigned char* next, std::size_t n,
                                       bool wide) const {
#if defined(BTREEIMG_COVERAGE_AVX2)
  if (wide) {
    return coverage::avx2::VectorEngine<coverage::Avx2Vector>::compareLine(
        tables_, line, next, n);
  }
#endif
  (void)wide;
#if defined(__SSE2__)
  return coverage::sse2::VectorEngine<coverage::Sse2Vector>::compareLine(
      tables_, line, next, n);
#else
  return (tables_.tableLine(line, next, n) & coverage::kHit) != 0;
#endif
}

inline bool CoverageRules::runsLine(unsigned char* line,
                                    const unsigned char* next, std::size_t n,
                                    bool wide) const {
#if defined(BTREEIMG_COVERAGE_AVX2)
  if (wide) {
    return coverage::avx2::VectorEngine<coverage::Avx2Vector>::runsLine(
        tables_, line, next, n);
  }
#endif
  (void)wide;
#if defined(__SSE2__)
  return coverage::sse2::VectorEngine<coverage::Sse2Vector>::runsLine(
      tables_, line, next, n);
#else
  return (tables_.tableLine(line, next, n) & coverage::kHit) != 0;
#endif
}

inline bool CoverageRules::classesLine(unsigned char* line,
                                       const unsigned char* next,
                                       std::size_t n) const {
#if defined(BTREEIMG_COVERAGE_AVX2)
  if (haveAvx2() && tables_.classes.usable) {
    return coverage::avx2::VectorEngine<coverage::Avx2Vector>::classesLine(
        tables_, line, next, n);
  }
#endif
  return runsLine(line, next, n, haveAvx2());
}

}  // namespace btreeimg::detail

#endif  // BTREEIMG_IMAGE_COVERAGERULES_H_
