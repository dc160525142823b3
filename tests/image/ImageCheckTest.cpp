#include "image/ImageCheck.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "framework/Exceptions.h"
#include "image/BtreeImg.h"
#include "support/TestFiles.h"
#include "support/ThrownPtr.h"

namespace {

using testfiles::Bytes;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

constexpr std::size_t kBlock = 1312;

using Pixel = std::function<unsigned char(int plane, int x, int y)>;

// Line y of every plane is ten bytes of the value y: each line codes as the
// single run pair (10, y).
unsigned char lineNumber(int, int, int y) { return static_cast<unsigned char>(y); }

// Runs of five, different per plane and line.
unsigned char runsOfFive(int plane, int x, int y) {
  return static_cast<unsigned char>((x / 5 + y + plane) % 3);
}

// An image made by the library, as the bytes of its file.
Bytes created(int pack, int dimx, int dimy, short planes,
              const Pixel& pixel = runsOfFive) {
  testfiles::TempDir dir;
  const std::string path = dir.file("made.dis");
  {
    BtreeImg image(path.c_str(), pack, dimx, dimy, planes);
    std::vector<char> line(static_cast<std::size_t>(dimx));
    for (short p = 1; p <= planes; ++p) {
      for (int y = 0; y < dimy; ++y) {
        for (int x = 0; x < dimx; ++x) {
          line[static_cast<std::size_t>(x)] = static_cast<char>(pixel(p, x, y));
        }
        EXPECT_EQ(image.wLinea(line.data(), y, p), 1);
      }
    }
    image.closeImg();
  }
  return testfiles::readFile(path);
}

void put16(Bytes& b, std::size_t at, unsigned v) {
  b.at(at) = static_cast<unsigned char>(v);
  b.at(at + 1) = static_cast<unsigned char>(v >> 8);
}
void put32(Bytes& b, std::size_t at, unsigned v) {
  for (std::size_t i = 0; i < 4; ++i) {
    b.at(at + i) = static_cast<unsigned char>(v >> (8 * i));
  }
}

struct Result {
  int verdict;
  std::vector<std::string> problems;
};

Result inspect(const Bytes& bytes) {
  ImageCheck check;
  Result result{check.Inspect(bytes.data(), bytes.size()), {}};
  EXPECT_EQ(result.verdict, check.GetVerdict());
  for (int i = 0; i < check.Problems().GetSize(); ++i) {
    result.problems.emplace_back(check.Problems().GetAt(i));
  }
  return result;
}

// ---- Sound files ------------------------------------------------------------

TEST(ImageCheck, FilesTheLibraryWritesAreSoundInEveryEncoding) {
  for (int pack = 0; pack <= 2; ++pack) {
    for (short planes = 1; planes <= 5; planes += 2) {
      const Result result = inspect(created(pack, 40, 12, planes));
      EXPECT_EQ(result.verdict, ImageCheck::sound) << "pack " << pack;
      EXPECT_THAT(result.problems, IsEmpty()) << "pack " << pack;
    }
  }
}

TEST(ImageCheck, LocatesPlanesThroughTheVersionTwoTable) {
  const Bytes bytes = created(0, 100, 50, 2);
  ImageCheck check;
  ASSERT_EQ(check.Inspect(bytes.data(), bytes.size()), ImageCheck::sound);
  EXPECT_EQ(check.Version(), 2);
  ASSERT_EQ(check.PlaneCount(), 2);
  const ImageCheck::PlaneLayout& second = check.Plane(2);
  EXPECT_TRUE(second.located);
  EXPECT_EQ(second.blockPosition, 6312u);
  EXPECT_EQ(second.regionStart, 7624u);
  EXPECT_EQ(second.regionSize, 5000u);
  EXPECT_EQ(second.dimx, 100u);
  EXPECT_EQ(second.dimy, 50u);
  EXPECT_EQ(check.Plane(1).regionRoom, 5000u);  // up to plane 2's block
}

TEST(ImageCheck, LocatesPlanesThroughTheVersionFourChain) {
  const Bytes bytes = created(0, 70000, 2, 2);
  ImageCheck check;
  ASSERT_EQ(check.Inspect(bytes.data(), bytes.size()), ImageCheck::sound);
  EXPECT_EQ(check.Version(), 4);
  EXPECT_EQ(check.Plane(1).dimx, 70000u);
  EXPECT_EQ(check.Plane(2).blockPosition, 141312u);
  EXPECT_EQ(check.Plane(2).regionSize, 140000u);
}

TEST(ImageCheck, SizesPackedAndWholePlaneRegionsByWhatTheyHold) {
  // Four lines of ten equal bytes: one pair per line, or four in one stream.
  const Bytes packed = created(1, 10, 4, 1, lineNumber);
  ImageCheck check;
  ASSERT_EQ(check.Inspect(packed.data(), packed.size()), ImageCheck::sound);
  EXPECT_EQ(check.Plane(1).regionSize, 20u + 8u);  // table, then 4 pairs
  const Bytes whole = created(2, 10, 4, 1, lineNumber);
  ASSERT_EQ(check.Inspect(whole.data(), whole.size()), ImageCheck::sound);
  EXPECT_EQ(check.Plane(1).regionSize, 8u + 8u);   // head, then 4 pairs
}

TEST(ImageCheck, ColourCoverageOfAMultiPlaneImageWritesASoundOnePlaneFile) {
  // Regression: the result took the source's first block as it was, plane
  // count and the block position of plane 2 included, and so named planes
  // it does not hold.
  for (int pack = 0; pack <= 2; ++pack) {
    testfiles::TempDir dir;
    const std::string source = dir.file("three.dis");
    testfiles::writeFile(source, created(pack, 40, 12, 3));
    testfiles::writeText(dir.file("rules.txt"), "COLCOPER 1\nCOLTEST 2\nCOLSOST 9\n");
    {
      BtreeImg image(source.c_str());
      ASSERT_EQ(image.CoperturaU8(dir.file("rules.txt").c_str(), dir.file("out.dis").c_str()), 1);
    }
    ImageCheck check;
    EXPECT_EQ(check.InspectFile(dir.file("out.dis").c_str()), ImageCheck::sound)
        << "pack " << pack << ": "
        << (check.Problems().GetSize() ? check.Problems().GetAt(0).GetString() : "");
    EXPECT_EQ(check.PlaneCount(), 1);
    EXPECT_EQ(check.Plane(1).pack, pack);
  }
}

// ---- Unusable files ---------------------------------------------------------

TEST(ImageCheck, FilesThatAreNoImageAreUnusable) {
  Bytes bytes = created(0, 8, 2, 1);
  const Bytes shortFile(bytes.begin(), bytes.begin() + kBlock - 1);
  EXPECT_EQ(inspect(Bytes{}).verdict, ImageCheck::unusable);
  Result result = inspect(shortFile);
  EXPECT_EQ(result.verdict, ImageCheck::unusable);
  EXPECT_THAT(result.problems, ElementsAre(HasSubstr("shorter than one 1312-byte")));

  Bytes unknown = bytes;
  put16(unknown, 0, 7);
  result = inspect(unknown);
  EXPECT_EQ(result.verdict, ImageCheck::unusable);
  EXPECT_THAT(result.problems, ElementsAre(HasSubstr("unknown version 7")));

  Bytes six = bytes;
  put16(six, 1000, 6);
  result = inspect(six);
  EXPECT_EQ(result.verdict, ImageCheck::unusable);
  EXPECT_THAT(result.problems, ElementsAre(HasSubstr("plane count 6 is above 5")));
}

TEST(ImageCheck, AFileThatCannotBeOpenedIsUnusableAndSaysWhy) {
  testfiles::TempDir dir;
  ImageCheck check;
  EXPECT_EQ(check.InspectFile(dir.file("missing.dis").c_str()),
            ImageCheck::unusable);
  ASSERT_EQ(check.Problems().GetSize(), 1);
  EXPECT_THAT(std::string(check.Problems().GetAt(0)), HasSubstr("cannot be opened"));
  EXPECT_EQ(check.PlaneCount(), 0);
}

TEST(ImageCheck, InspectFileReadsTheWholeFile) {
  testfiles::TempDir dir;
  const std::string path = dir.file("a.dis");
  Bytes bytes = created(1, 10, 4, 1, lineNumber);
  testfiles::writeFile(path, bytes);
  ImageCheck check;
  EXPECT_EQ(check.InspectFile(path.c_str()), ImageCheck::sound);
  bytes.pop_back();
  testfiles::writeFile(path, bytes);
  EXPECT_EQ(check.InspectFile(path.c_str()), ImageCheck::damaged);
}

TEST(ImageCheck, PlaneOutsideTheInspectedImageThrows) {
  const Bytes bytes = created(0, 8, 2, 2);
  ImageCheck check;
  check.Inspect(bytes.data(), bytes.size());
  EXPECT_TRUE(testfiles::throwsPtr<CInvalidArgException>([&] { check.Plane(0); }));
  EXPECT_TRUE(testfiles::throwsPtr<CInvalidArgException>([&] { check.Plane(3); }));
}

// ---- Header blocks ----------------------------------------------------------

TEST(ImageCheck, PlaneCountBelowOneIsReportedAndReadAsOnePlane) {
  Bytes bytes = created(0, 8, 2, 1);
  put16(bytes, 1000, 0);
  ImageCheck check;
  EXPECT_EQ(check.Inspect(bytes.data(), bytes.size()), ImageCheck::damaged);
  EXPECT_EQ(check.PlaneCount(), 1);
  EXPECT_THAT(std::string(check.Problems().GetAt(0)),
              HasSubstr("plane count 0 is below 1"));
}

TEST(ImageCheck, ReportsABlockOutsideTheFileAndThePlanesChainedBehindIt) {
  Bytes bytes = created(0, 10, 4, 3);  // version 3: a chain of blocks
  put32(bytes, 1002, 900000);          // plane 2's block, named by plane 1's
  const Result result = inspect(bytes);
  EXPECT_EQ(result.verdict, ImageCheck::damaged);
  EXPECT_THAT(result.problems,
              ElementsAre(HasSubstr("plane 2: header block at 900000 lies outside "
                                    "the file"),
                          HasSubstr("plane 3: cannot be located")));
}

TEST(ImageCheck, ReportsOverlappingBlocks) {
  Bytes bytes = created(0, 100, 50, 2);
  put32(bytes, 1006, 100);  // version 2: plane 2's entry in the table
  const Result result = inspect(bytes);
  EXPECT_THAT(result.problems,
              testing::Contains(HasSubstr(
                  "plane 2: header block at 100 overlaps plane 1's header block at 0")));
}

TEST(ImageCheck, ReportsARegionThatRunsIntoTheNextBlock) {
  Bytes bytes = created(0, 100, 50, 2);
  // Plane 2's block moved 10 bytes into plane 1's raw region (the file is
  // long enough to hold it there).
  put32(bytes, 1006, 6302);
  const Result result = inspect(bytes);
  EXPECT_THAT(result.problems,
              testing::Contains(HasSubstr("plane 1: raw region of 5000 bytes at 1312 "
                                          "runs into plane 2's header block at 6302")));
}

TEST(ImageCheck, ReportsARawRegionCutShortByTheEndOfTheFile) {
  Bytes bytes = created(0, 100, 50, 1);
  bytes.resize(bytes.size() - 1);
  EXPECT_THAT(inspect(bytes).problems,
              ElementsAre("plane 1: raw region of 5000 bytes at 1312 runs past the "
                          "end of the file (6311 bytes)"));
}

TEST(ImageCheck, ReportsUndefinedEncodingsAndDifferingDimensions) {
  Bytes bytes = created(0, 10, 4, 3);
  const std::size_t second = kBlock + 40;  // plane 2's block: 1312 + 10 x 4
  put16(bytes, second + 4, 7);             // its encoding
  put16(bytes, second + 12, 3);            // its line count (version 3)
  const Result result = inspect(bytes);
  EXPECT_THAT(result.problems,
              ElementsAre(HasSubstr("plane 2: its block states 10 x 3, plane 1's 10 x 4"),
                          HasSubstr("plane 2: encoding 7 is not 0")));
}

// ---- Packed planes ----------------------------------------------------------
// One plane of four lines of ten bytes: the table (5 entries, 0 2 4 6 8) at
// 1312, the pairs (10, y) at 1332; 1340 bytes in all.

class PackedCheck : public ::testing::Test {
 protected:
  static constexpr std::size_t kTable = 1312;
  static constexpr std::size_t kCode = 1332;
  Bytes bytes = created(1, 10, 4, 1, lineNumber);
};

TEST_F(PackedCheck, TheExampleIsLaidOutAsExpected) {
  ASSERT_EQ(bytes.size(), 1340u);
  EXPECT_EQ(bytes[kTable + 16], 8);
  EXPECT_EQ(bytes[kCode + 6], 10);
  EXPECT_EQ(bytes[kCode + 7], 3);
  EXPECT_EQ(inspect(bytes).verdict, ImageCheck::sound);
}

TEST_F(PackedCheck, ReportsAFirstEntryOtherThanZero) {
  put32(bytes, kTable, 2);
  EXPECT_THAT(inspect(bytes).problems,
              ElementsAre("plane 1: line offset table entry 0 is 2, not 0",
                          "plane 1: line 0 decodes to 0 bytes, not 10"));
}

TEST_F(PackedCheck, ReportsADecreasingTable) {
  put32(bytes, kTable + 8, 1);  // entry 2 below entry 1
  EXPECT_THAT(inspect(bytes).problems,
              ElementsAre("plane 1: line offset table decreases at entry 2 (1 after 2)"));
}

TEST_F(PackedCheck, ReportsALineThatDecodesToTheWrongLength) {
  bytes[kCode + 2] = 9;  // line 1's count
  bytes[kCode + 4] = 11;  // line 2's count
  EXPECT_THAT(inspect(bytes).problems,
              ElementsAre("plane 1: line 1 decodes to 9 bytes, not 10",
                          "plane 1: line 2 decodes to 11 bytes, not 10"));
}

TEST_F(PackedCheck, ReportsHalfAPairAndPairsOfCountZero) {
  // Line 0 becomes (10, 0)(0, 1) and ends with half a pair taken from line 1,
  // which then decodes to nothing.
  Bytes zero = created(1, 10, 4, 1, [](int, int x, int y) {
    return static_cast<unsigned char>(y == 0 ? x / 5 : y);  // line 0: 5 x 0, 5 x 1
  });
  zero[kCode] = 10;
  zero[kCode + 2] = 0;
  EXPECT_THAT(inspect(zero).problems,
              ElementsAre("plane 1: line 0: its code holds 1 run pair(s) of count 0"));

  put32(bytes, kTable + 4, 3);
  EXPECT_THAT(inspect(bytes).problems,
              ElementsAre("plane 1: line 0: its code of 3 bytes ends in half a run pair",
                          "plane 1: line 1 decodes to 0 bytes, not 10"));
}

TEST_F(PackedCheck, ReportsCodeAndTablesThatRunPastTheFile) {
  Bytes cut = bytes;
  cut.pop_back();
  EXPECT_THAT(inspect(cut).problems,
              ElementsAre("plane 1: line code of 8 bytes at 1332 runs past the end of "
                          "the file (1339 bytes)"));
  put32(bytes, kTable + 8, 200);  // line 1 ends far behind; line 2 decreases
  EXPECT_THAT(inspect(bytes).problems,
              ElementsAre("plane 1: line 1: its code ends at 200, behind the region's 8 "
                          "bytes of code",
                          "plane 1: line offset table decreases at entry 3 (6 after 200)"));
  cut.resize(1320);
  EXPECT_THAT(inspect(cut).problems,
              ElementsAre("plane 1: line offset table of 20 bytes at 1312 runs past the "
                          "end of the file (1320 bytes)"));
}

TEST(ImageCheck, NamesTheFirstDamagedLinesAndCountsTheRest) {
  Bytes bytes = created(1, 10, 20, 1, lineNumber);
  const std::size_t code = kBlock + 4 * 21;
  for (std::size_t line = 0; line < 20; ++line) bytes[code + 2 * line] = 9;
  const Result result = inspect(bytes);
  ASSERT_EQ(result.problems.size(), 9u);
  EXPECT_EQ(result.problems[7], "plane 1: line 7 decodes to 9 bytes, not 10");
  EXPECT_EQ(result.problems[8], "plane 1: 12 more damaged lines");
}

// ---- Whole-plane packed planes ---------------------------------------------
// One plane of four lines of ten bytes: unpacked size 40 and packed size 8
// at 1312, then the pairs of lines 3, 2, 1, 0 at 1320; 1328 bytes in all.

class WholePlaneCheck : public ::testing::Test {
 protected:
  static constexpr std::size_t kHead = 1312;
  static constexpr std::size_t kPairs = 1320;
  Bytes bytes = created(2, 10, 4, 1, lineNumber);
};

TEST_F(WholePlaneCheck, TheExampleIsLaidOutAsExpected) {
  ASSERT_EQ(bytes.size(), 1328u);
  EXPECT_EQ(bytes[kHead], 40);
  EXPECT_EQ(bytes[kHead + 4], 8);
  EXPECT_EQ(bytes[kPairs + 1], 3);
  EXPECT_EQ(inspect(bytes).verdict, ImageCheck::sound);
}

TEST_F(WholePlaneCheck, ReportsAStatedSizeOtherThanThePlanes) {
  put32(bytes, kHead, 41);
  EXPECT_THAT(inspect(bytes).problems,
              ElementsAre("plane 1: whole-plane stream states 41 decoded bytes, the "
                          "plane has 40"));
}

TEST_F(WholePlaneCheck, ReportsAStreamThatDoesNotCoverThePlaneExactly) {
  Bytes shortStream = bytes;
  shortStream[kPairs] = 9;
  EXPECT_THAT(inspect(shortStream).problems,
              ElementsAre("plane 1: whole-plane stream decodes to 39 bytes, the "
                          "plane has 40"));
  bytes[kPairs] = 20;
  bytes[kPairs + 2] = 0;  // 20 + 0 + 10 + 10: the right length, one empty pair
  EXPECT_THAT(inspect(bytes).problems,
              ElementsAre("plane 1: whole-plane stream holds 1 run pair(s) of count 0"));
}

TEST_F(WholePlaneCheck, ReportsAnOddOrOverlongStream) {
  Bytes odd = bytes;
  put32(odd, kHead + 4, 7);
  EXPECT_THAT(inspect(odd).problems,
              ElementsAre(HasSubstr("decodes to 30 bytes"),
                          "plane 1: whole-plane stream of 7 bytes ends in half a run pair"));
  put32(bytes, kHead + 4, 10);
  EXPECT_THAT(inspect(bytes).problems,
              ElementsAre("plane 1: whole-plane stream of 10 bytes at 1320 runs past "
                          "the end of the file (1328 bytes)"));
  bytes.resize(1316);
  EXPECT_THAT(inspect(bytes).problems,
              ElementsAre("plane 1: whole-plane stream head of 8 bytes at 1312 runs "
                          "past the end of the file (1316 bytes)"));
}

// ---- Any damage -------------------------------------------------------------

TEST(ImageCheck, EveryShorterPrefixOfAFileIsFoundWanting) {
  for (int pack = 0; pack <= 2; ++pack) {
    const Bytes bytes = created(pack, 12, 5, 3);
    for (std::size_t size = 0; size < bytes.size(); ++size) {
      const Bytes prefix(bytes.begin(), bytes.begin() + static_cast<long>(size));
      ASSERT_NE(inspect(prefix).verdict, ImageCheck::sound)
          << "pack " << pack << ", " << size << " bytes";
    }
  }
}

RC_GTEST_PROP(ImageCheckProperty, AnyDamageIsInspectedWithinTheBytesGiven,
              (const std::vector<std::pair<unsigned, unsigned char>>& damage)) {
  const int pack = *rc::gen::inRange(0, 3);
  static const Bytes images[3] = {created(0, 16, 6, 3), created(1, 16, 6, 3),
                                  created(2, 16, 6, 3)};
  // A copy on the heap of exactly the file's size, so that the sanitizer
  // build catches any read beyond it.
  const Bytes& image = images[pack];
  std::vector<unsigned char> bytes(image);
  for (const auto& [at, value] : damage) bytes[at % bytes.size()] = value;
  const std::size_t size = *rc::gen::inRange<std::size_t>(0, bytes.size() + 1);
  bytes.resize(size);
  bytes.shrink_to_fit();
  ImageCheck check;
  const int verdict = check.Inspect(bytes.data(), bytes.size());
  RC_ASSERT(verdict >= ImageCheck::sound);
  RC_ASSERT(verdict <= ImageCheck::unusable);
  RC_ASSERT((verdict == ImageCheck::sound) == (check.Problems().GetSize() == 0));
  if (damage.empty() && size == image.size()) RC_ASSERT(verdict == ImageCheck::sound);
}

}  // namespace
