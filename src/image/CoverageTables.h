// The tables a colour rule list compiles into (see image/CoverageRules.h),
// and the method that needs no vector instructions: one table look-up per
// pixel. Internal: not installed.
#ifndef BTREEIMG_IMAGE_COVERAGETABLES_H_
#define BTREEIMG_IMAGE_COVERAGETABLES_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace btreeimg::detail::coverage {

// Entry flag: some rule matched the pixel.
constexpr std::uint16_t kHit = 0x100;
// The compare method holds this many pairs in registers at most; above
// that it walks the groups.
constexpr std::size_t kMaxHeldPairs = 4;

// One byte value in each of 32 lanes: a vector constant of either width.
struct alignas(32) Splat {
  unsigned char v[32];
};

// The pairs of one test value: the splat of the test value at lanes[lane],
// then, per pair, the splat of its pixel value and the splat of the XOR that
// turns that pixel into its new value (0 when the rules bring it back).
struct Group {
  std::size_t lane;
  std::size_t pairs;
};

// One (t, p) pair as splat indices: its test value and its pixel value (its
// XOR follows the pixel value).
struct PairLanes {
  std::size_t test;
  std::size_t cover;
};

struct RuleTables {
  // The table entry of pixel p above value t: the new value in the low
  // byte, kHit when a rule matched.
  std::uint16_t entry(unsigned char t, unsigned char p) const {
    return entries[row[t] + p];
  }

  // Table look-ups for n pixels of line above next. Returns the OR of their
  // entries.
  unsigned tableLine(unsigned char* line, const unsigned char* next,
                     std::size_t n) const {
    unsigned any = 0;
    for (std::size_t x = 0; x < n; ++x) {
      const std::uint16_t e = entry(next[x], line[x]);
      line[x] = static_cast<unsigned char>(e);
      any |= e;
    }
    return any;
  }

  // Where the row of each value of the following line starts in entries.
  // Row 0, that of the values no rule tests, leaves every pixel as it is.
  std::array<std::uint32_t, 256> row{};
  std::vector<std::uint16_t> entries;  // up to 257 rows of 256 entries
  std::vector<Splat> lanes;
  std::vector<Group> groups;     // those with at least one pair
  std::vector<PairLanes> pairs;  // per pair, in group order
  bool busyCompare = false;      // runs: busy blocks by compare
};

}  // namespace btreeimg::detail::coverage

#endif  // BTREEIMG_IMAGE_COVERAGETABLES_H_
