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
// The classes method tells apart at most this many pixel values (a class
// is a 4-bit table index).
constexpr std::size_t kMaxClasses = 16;

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

// The classes method (a byte shuffle per test value). Each pixel value of
// the pairs has a class, a number from 0 to 15: the class of value p is
// A[p & 15] ^ B[p >> 4], two shuffles, with tables A and B chosen so that
// the pairs' values have distinct classes. A pixel whose value is not the
// one of its class (a third table) is left as it is. Each test value turns
// classes into XORs through one 16-entry table.
//  lanes[hash .. hash + 3]: 0x0F splatted, A, B, and the value of each
//    class;
//  lanes[test + step * g]: group g's test value, splatted; then its table
//    from class to XOR; then, when `hitTables`, its table from class to
//    0xFF for the classes some rule matches above that test value (needed
//    only where a pair's XOR is 0, so that the XORs alone cannot tell the
//    matches).
// Each table fills 16 lanes and is repeated in the upper 16.
struct ClassLanes {
  bool usable = false;
  bool hitTables = false;
  std::size_t tests = 0;  // groups
  std::size_t hash = 0;   // first lane of the hash tables
  std::size_t test = 0;   // first lane of the groups
  std::size_t step = 0;   // lanes per group: 2, or 3 with hit tables
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
  ClassLanes classes;
  // How runs handles a block of many values: by classes where the vector
  // width has shuffles and `busyClasses`, else by compare where
  // `busyCompare`, else by the table.
  bool busyCompare = false;
  bool busyClasses = false;
};

}  // namespace btreeimg::detail::coverage

#endif  // BTREEIMG_IMAGE_COVERAGETABLES_H_
