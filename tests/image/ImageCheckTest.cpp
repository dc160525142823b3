#include "image/ImageCheck.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "image/ImageFiles.h"

using namespace imgtest;  // NOLINT: the test-local helpers

namespace {

struct Result {
  int verdict;
  std::string problems;  // one a line
};

Result inspect(const Bytes& bytes) {
  ImageCheck check;
  Result result{check.Inspect(bytes.data(), bytes.size()), ""};
  EXPECT_EQ(result.verdict, check.GetVerdict());
  for (int i = 0; i < check.Problems().GetSize(); ++i)
    result.problems += (i ? "\n" : "") + std::string(check.Problems().GetAt(i));
  return result;
}

// `dimy` lines of ten bytes, line y all y: each line codes as the pair (10, y).
Lines uniformLines(unsigned dimy) {
  Lines lines;
  for (unsigned y = 0; y < dimy; ++y)
    lines.emplace_back(10, static_cast<unsigned char>(y));
  return lines;
}

// Each kind of damage: one little-endian write of `width` bytes (0: a cut).
TEST(ImageCheck, ReportsEachKindOfDamage) {
  // Four lines of ten bytes y. Packed: table at 1312, pairs (10, y) at 1332.
  // Whole-plane: sizes 40 and 8 at 1312, pairs of lines 3..0 at 1320.
  const Bytes packed = createdBytes(1, {uniformLines(4)});
  const Bytes whole = createdBytes(2, {uniformLines(4)});
  const Lines zeros(50, Bytes(100, 0));
  const Bytes raw2 = createdBytes(0, {zeros, zeros});           // version 2
  const Bytes raw3 = createdBytes(0, patternPlanes(3, 4, 10));  // version 3
  constexpr std::size_t table = 1312, code = 1332, head = 1312, pairs = 1320;
  constexpr std::size_t second = kBlock + 40;  // plane 2's block in raw3
  constexpr int cut = 0, u8 = 1, u16 = 2, u32 = 4;
  constexpr int damaged = ImageCheck::damaged, unusable = ImageCheck::unusable;
  const struct {
    const Bytes& base;
    std::size_t at;
    unsigned value;
    int width, verdict;
    const char* problems;  // one a line
  } cases[] = {
      {packed, 1311, 0, cut, unusable,
       "file is 1311 bytes, shorter than one 1312-byte header block"},
      {packed, 0, 7, u16, unusable, "unknown version 7 (2, 3 or 4 expected)"},
      {packed, 1000, 6, u16, unusable, "plane count 6 is above 5"},
      {packed, 1000, 0, u16, damaged,
       "plane count 0 is below 1; read as one plane"},
      // Plane 2's block, named by plane 1's in the version-3 chain.
      {raw3, 1002, 900000, u32, damaged,
       "plane 2: header block at 900000 lies outside the file (4056 bytes)\n"
       "plane 3: cannot be located: plane 2's header block is not in the "
       "file"},
      {raw2, 1006, 100, u32, damaged,
       "plane 2: header block at 100 overlaps plane 1's header block at 0\n"
       "plane 2: its block states 0 x 0, plane 1's 100 x 50; the plane is "
       "read with plane 1's dimensions\n"
       "plane 1: raw region of 5000 bytes at 1312 runs into plane 2's header "
       "block at 100"},
      // Plane 1's region moved onto plane 2's, behind plane 2's block.
      {raw2, 1002, 6312, u32, damaged,
       "plane 2: region of 5000 bytes at 7624 overlaps plane 1's region of "
       "5000 bytes at 7624"},
      {raw2, 12623, 0, cut, damaged,
       "plane 2: raw region of 5000 bytes at 7624 runs past the end of the "
       "file (12623 bytes)"},
      {raw3, second + 4, 7, u16, damaged,
       "plane 2: encoding 7 is not 0 (raw), 1 (packed) or 2 (whole-plane "
       "packed)"},
      {packed, table, 2, u32, damaged,
       "plane 1: line offset table entry 0 is 2, not 0\n"
       "plane 1: line 0 decodes to 0 bytes, not 10"},
      {packed, code + 2, 9, u8, damaged,
       "plane 1: line 1 decodes to 9 bytes, not 10"},
      // Line 0 ends with half a pair taken from line 1.
      {packed, table + 4, 3, u32, damaged,
       "plane 1: line 0: its code of 3 bytes ends in half a run pair\n"
       "plane 1: line 1 decodes to 0 bytes, not 10"},
      {packed, 1339, 0, cut, damaged,
       "plane 1: line code of 8 bytes at 1332 runs past the end of the file "
       "(1339 bytes)"},
      {packed, table + 8, 200, u32, damaged,
       "plane 1: line 1: its code ends at 200, behind the region's 8 bytes "
       "of code\n"
       "plane 1: line offset table decreases at entry 3 (6 after 200)"},
      {packed, 1320, 0, cut, damaged,
       "plane 1: line offset table of 20 bytes at 1312 runs past the end of "
       "the file (1320 bytes)"},
      {whole, head, 41, u32, damaged,
       "plane 1: whole-plane stream states 41 decoded bytes, the plane has "
       "40"},
      {whole, pairs, 9, u8, damaged,
       "plane 1: whole-plane stream decodes to 39 bytes, the plane has 40"},
      // (20, 3)(0, 2)(10, 1)(10, 0): the right length, one empty pair.
      {whole, pairs, 0x02000314, u32, damaged,
       "plane 1: whole-plane stream holds 1 run pair(s) of count 0"},
      {whole, head + 4, 10, u32, damaged,
       "plane 1: whole-plane stream of 10 bytes at 1320 runs past the end "
       "of the file (1328 bytes)"},
      {whole, 1316, 0, cut, damaged,
       "plane 1: whole-plane stream head of 8 bytes at 1312 runs past the "
       "end of the file (1316 bytes)"},
  };
  for (const Bytes* sound : {&packed, &whole, &raw2, &raw3})
    EXPECT_EQ(inspect(*sound).verdict, ImageCheck::sound);
  for (const auto& c : cases) {
    Bytes bytes = c.base;
    if (c.width == cut) bytes.resize(c.at);
    for (int i = 0; i < c.width; ++i)
      bytes.at(c.at + i) = static_cast<unsigned char>(c.value >> (8 * i));
    const Result result = inspect(bytes);
    EXPECT_EQ(result.verdict, c.verdict) << c.problems;
    EXPECT_EQ(result.problems, c.problems);
  }
}

// One plane's problem leaves the others sound; overlaps damage all concerned.
TEST(ImageCheck, ADamagedPlaneLeavesTheOtherPlanesSound) {
  const Bytes raw3 = createdBytes(0, patternPlanes(3, 4, 10));  // version 3
  const std::size_t second = kBlock + 40, third = second + kBlock + 40;
  const struct {
    std::size_t at;
    unsigned value;      // a little-endian u16
    const char* sound;   // the sound planes, "13" for planes 1 and 3
    const char* second;  // PlaneSummary(2)
  } cases[] = {
      {second + 4, 7, "13",
       "plane 2: encoding 7 is not 0 (raw), 1 (packed) or 2 (whole-plane packed)"},
      {third + 4, 7, "12", ""},
      // Plane 3's block named at 0: it overlaps plane 1's block and region.
      {second + 1002, 0, "2", ""},
      {1000, 0, "", "plane count 0 is below 1; read as one plane"},
  };
  for (const auto& c : cases) {
    Bytes bytes = raw3;
    put16(bytes, c.at, c.value);
    ImageCheck check;
    ASSERT_EQ(check.Inspect(bytes.data(), bytes.size()), ImageCheck::damaged);
    std::string sound;
    for (int p = 1; p <= 3; ++p)
      if (check.PlaneSound(p)) sound += std::to_string(p);
    EXPECT_EQ(sound, c.sound) << c.at;
    EXPECT_EQ(std::string(check.PlaneSummary(2)), c.second) << c.at;
  }
  ImageCheck none;
  EXPECT_FALSE(none.PlaneSound(1));
  EXPECT_EQ(none.PlaneSummary(1), none.Summary());
}

TEST(ImageCheck, NamesTheFirstDamagedLinesAndCountsTheRest) {
  Bytes bytes = createdBytes(1, {uniformLines(20)});
  const std::size_t code = kBlock + 4 * 21;
  for (std::size_t line = 0; line < 20; ++line) bytes[code + 2 * line] = 9;
  const std::string problems = inspect(bytes).problems;
  EXPECT_EQ(std::count(problems.begin(), problems.end(), '\n'), 8);
  EXPECT_THAT(problems,
              ::testing::EndsWith("plane 1: line 7 decodes to 9 bytes, not 10\n"
                                  "plane 1: 12 more damaged lines"));
  // The summary counts the damaged lines, not the texts naming them.
  ImageCheck check;
  check.Inspect(bytes.data(), bytes.size());
  EXPECT_THAT(check.Summary().GetString(), ::testing::EndsWith("(and 19 more problems)"));
}

RC_GTEST_PROP(ImageCheckProperty, AnyDamageIsInspectedWithinTheBytesGiven,
              (const std::vector<std::pair<unsigned, unsigned char>>& damage)) {
  const int pack = *rc::gen::inRange(0, 3);
  static const Bytes images[3] = {createdBytes(0, patternPlanes(3, 6, 16)),
                                  createdBytes(1, patternPlanes(3, 6, 16)),
                                  createdBytes(2, patternPlanes(3, 6, 16))};
  // Exactly the file's size on the heap, for the sanitizer build.
  const Bytes& image = images[pack];
  Bytes bytes(image);
  for (const auto& [at, value] : damage) bytes[at % bytes.size()] = value;
  const std::size_t size = *rc::gen::inRange<std::size_t>(0, bytes.size() + 1);
  bytes.resize(size);
  bytes.shrink_to_fit();
  ImageCheck check;
  const int verdict = check.Inspect(bytes.data(), bytes.size());
  RC_ASSERT(verdict >= ImageCheck::sound);
  RC_ASSERT(verdict <= ImageCheck::unusable);
  RC_ASSERT((verdict == ImageCheck::sound) ==
            (check.Problems().GetSize() == 0));
  if (damage.empty() && size == image.size())
    RC_ASSERT(verdict == ImageCheck::sound);
}

}  // namespace
