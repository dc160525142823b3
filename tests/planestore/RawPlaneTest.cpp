#include "planestore/BtreeUnPacked.h"

#include <gtest/gtest.h>

#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "framework/CMemFile.h"
#include "framework/CStringArray.h"
#include "framework/Exceptions.h"
#include "planestore/BtreeMod.h"
#include "support/ThrownPtr.h"

using testfiles::catchPtr;
using testfiles::throwsPtr;

namespace {

using Bytes = std::vector<unsigned char>;

constexpr long kRegion = 1312;  // right behind the plane's header block
constexpr int kLineSize = 4;
constexpr int kLines = 3;
constexpr unsigned char kUnwritten = 0xEE;

// A raw plane of 3 lines of 4 bytes at offset 1312 of a fixed-size memory
// file (as for an opened image) with 6 spare bytes behind the plane. Every
// byte starts as kUnwritten, so a test can see exactly which bytes changed.
class RawPlaneTest : public ::testing::Test {
 protected:
  RawPlaneTest()
      : image(kRegion + kLines * kLineSize + 6, kUnwritten),
        plane(&file, kRegion, kLineSize, kLines) {
    file.Attach(image.data(), static_cast<UINT>(image.size()));
  }

  // Bytes [from, from + n) of the memory file.
  Bytes at(std::size_t from, std::size_t n) const {
    return Bytes(image.begin() + from, image.begin() + from + n);
  }

  // Every byte outside [from, from + n) is still kUnwritten.
  bool untouchedOutside(std::size_t from, std::size_t n) const {
    for (std::size_t i = 0; i < image.size(); ++i) {
      if ((i < from || i >= from + n) && image[i] != kUnwritten) return false;
    }
    return true;
  }

  bool untouched() const { return untouchedOutside(0, 0); }

  Bytes image;
  CMemFile file;
  BtreeUnPacked plane;
};

TEST_F(RawPlaneTest, WritingLineOneChangesOnlyItsFourBytes) {
  unsigned char line[] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(plane.writeAt(1, line), 1);
  EXPECT_EQ(at(1316, 4), (Bytes{'a', 'b', 'c', 'd'}));
  EXPECT_TRUE(untouchedOutside(1316, 4));

  unsigned char back[4] = {};
  EXPECT_EQ(plane.lineAt(1, back), 1);
  EXPECT_EQ(Bytes(back, back + 4), (Bytes{'a', 'b', 'c', 'd'}));
}

TEST_F(RawPlaneTest, LinesMayBeWrittenInAnyOrder) {
  unsigned char lines[3][4] = {{1, 1, 1, 1}, {2, 2, 2, 2}, {3, 3, 3, 3}};
  for (int i : {2, 0, 1}) ASSERT_EQ(plane.writeAt(i, lines[i]), 1);
  EXPECT_EQ(at(1312, 12), (Bytes{1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3}));
  EXPECT_TRUE(untouchedOutside(1312, 12));
}

TEST_F(RawPlaneTest, LineNumbersOutsideThePlaneAreRefusedWithoutTransfer) {
  unsigned char buffer[4] = {9, 9, 9, 9};
  for (int bad : {3, -1, 1000}) {
    SCOPED_TRACE(bad);
    EXPECT_EQ(plane.lineAt(bad, buffer), 0);
    EXPECT_EQ(Bytes(buffer, buffer + 4), Bytes(4, 9));
    EXPECT_EQ(plane.writeAt(bad, buffer), 0);
    EXPECT_TRUE(untouched());
  }
  EXPECT_EQ(file.GetPosition(), 0u);  // not even a seek
}

TEST_F(RawPlaneTest, WholePlaneWriteStoresEveryLineInOrder) {
  CStringArray lines;
  lines.Add("XXXX");
  lines.Add("YYYY");
  lines.Add("ZZZZ");
  EXPECT_EQ(plane.writeAllDati(lines), 1);
  const std::string expected = "XXXXYYYYZZZZ";
  EXPECT_EQ(at(1312, 12), Bytes(expected.begin(), expected.end()));
  EXPECT_TRUE(untouchedOutside(1312, 12));
  unsigned char back[4] = {};
  EXPECT_EQ(plane.lineAt(2, back), 1);
  EXPECT_EQ(std::string(back, back + 4), "ZZZZ");
}

TEST_F(RawPlaneTest, WholePlaneWritePadsShortAndCutsLongStringsToTheLine) {
  CStringArray lines;
  lines.Add("AB");          // padded with zero bytes
  lines.Add("CDEFGHIJKL");  // cut to the line length
  lines.Add("");
  lines.Add("ignored: there are only three lines");
  EXPECT_EQ(plane.writeAllDati(lines), 1);
  EXPECT_EQ(at(1312, 12),
            (Bytes{'A', 'B', 0, 0, 'C', 'D', 'E', 'F', 0, 0, 0, 0}));
  EXPECT_TRUE(untouchedOutside(1312, 12));
}

TEST_F(RawPlaneTest, WholePlaneWriteWithTooFewStringsThrowsBeforeWriting) {
  CStringArray lines;
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { plane.writeAllDati(lines); }));
  lines.Add("XXXX");
  lines.Add("YYYY");
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { plane.writeAllDati(lines); }));
  EXPECT_TRUE(untouched());
}

TEST_F(RawPlaneTest, SetDataMovesTheLinesAndSetSizeChangesTheirLength) {
  std::iota(image.begin(), image.end(), 0);  // byte i holds i mod 256
  unsigned char back[8] = {};

  plane.SetData(1000);
  EXPECT_EQ(plane.DataOffset(), 1000);
  ASSERT_EQ(plane.lineAt(0, back), 1);
  EXPECT_EQ(Bytes(back, back + 4), at(1000, 4));

  plane.SetSize(8);
  EXPECT_EQ(plane.LineSize(), 8);
  EXPECT_EQ(plane.LineCount(), kLines);
  ASSERT_EQ(plane.lineAt(1, back), 1);
  EXPECT_EQ(Bytes(back, back + 8), at(1008, 8));
  EXPECT_EQ(plane.lineAt(3, back), 0);
}

TEST_F(RawPlaneTest, WritesThatWouldCrossTheRegionEndAreRefused) {
  plane.SetRegionEnd(kRegion + 2 * kLineSize);  // room for lines 0 and 1
  unsigned char line[] = {5, 5, 5, 5};
  EXPECT_EQ(plane.writeAt(2, line), 0);
  EXPECT_TRUE(untouched());
  EXPECT_EQ(plane.writeAt(1, line), 1);  // ends exactly at the region end
  EXPECT_TRUE(untouchedOutside(1316, 4));

  CStringArray lines;
  for (const char* text : {"XXXX", "YYYY", "ZZZZ"}) lines.Add(text);
  EXPECT_EQ(plane.writeAllDati(lines), 0);
  EXPECT_TRUE(untouchedOutside(1316, 4));
  plane.SetRegionEnd(BtreeMod::kNoRegionEnd);
  EXPECT_EQ(plane.writeAllDati(lines), 1);
}

TEST_F(RawPlaneTest, FixedSizeFileRefusesALineBeyondItsEndWithTheMemoryException) {
  // In a six-line plane, line 3 fits in the spare bytes, line 4 lies partly
  // and line 5 wholly past the end of the file.
  BtreeUnPacked longer(&file, kRegion, kLineSize, 6);
  unsigned char line[] = {1, 2, 3, 4};
  EXPECT_TRUE(throwsPtr<CMemoryException>([&] { longer.writeAt(4, line); }));
  EXPECT_TRUE(throwsPtr<CMemoryException>([&] { longer.writeAt(5, line); }));
  EXPECT_TRUE(untouched());
  EXPECT_EQ(longer.writeAt(3, line), 1);
  EXPECT_TRUE(untouchedOutside(1324, 4));
  EXPECT_EQ(file.GetLength(), image.size());
}

TEST_F(RawPlaneTest, ReadingPastTheFileEndDeliversOnlyTheBytesThatExist) {
  BtreeUnPacked longer(&file, kRegion, kLineSize, 6);
  image[image.size() - 2] = 0x11;
  image[image.size() - 1] = 0x22;
  unsigned char back[4] = {9, 9, 9, 9};
  EXPECT_EQ(longer.lineAt(4, back), 1);  // the last 2 bytes of the file
  EXPECT_EQ(Bytes(back, back + 4), (Bytes{0x11, 0x22, 9, 9}));
  unsigned char beyond[4] = {9, 9, 9, 9};
  EXPECT_EQ(longer.lineAt(5, beyond), 1);
  EXPECT_EQ(Bytes(beyond, beyond + 4), Bytes(4, 9));
}

TEST_F(RawPlaneTest, OffsetBeforeTheFileStartIsABadSeek) {
  plane.SetData(-8);
  unsigned char back[4] = {9, 9, 9, 9};
  auto error = catchPtr<CFileException>([&] { plane.lineAt(0, back); });
  ASSERT_NE(error, nullptr);
  EXPECT_EQ(error->m_cause, CFileException::badSeek);
  EXPECT_EQ(Bytes(back, back + 4), Bytes(4, 9));
  EXPECT_TRUE(throwsPtr<CFileException>([&] { plane.writeAt(0, back); }));
  EXPECT_TRUE(untouched());
}

TEST_F(RawPlaneTest, CopiesShareTheMemoryFileAndTheRegion) {
  BtreeUnPacked copy(plane);
  unsigned char line[] = {7, 7, 7, 7};
  ASSERT_EQ(copy.writeAt(0, line), 1);
  unsigned char back[4] = {};
  ASSERT_EQ(plane.lineAt(0, back), 1);
  EXPECT_EQ(Bytes(back, back + 4), Bytes(4, 7));
  BtreeUnPacked assigned(nullptr, 0, 0, 0);
  assigned = plane;
  EXPECT_EQ(assigned.DataOffset(), kRegion);
  EXPECT_EQ(assigned.LineCount(), kLines);
}

// A plane being created: the memory file grows as lines are written.
TEST(RawPlaneGrowing, WritingALineGrowsTheFileWithZerosBeforeIt) {
  CMemFile file(1024);
  std::unique_ptr<BtreeMod> plane =
      std::make_unique<BtreeUnPacked>(&file, kRegion, kLineSize, kLines);
  unsigned char line[] = {1, 2, 3, 4};
  ASSERT_EQ(plane->writeAt(2, line), 1);
  ASSERT_EQ(file.GetLength(), 1312u + 12u);
  Bytes all(1324);
  file.Seek(0, CFile::begin);
  ASSERT_EQ(file.Read(all.data(), 1324), 1324u);
  EXPECT_EQ(Bytes(all.begin(), all.begin() + 1320), Bytes(1320, 0));
  EXPECT_EQ(Bytes(all.begin() + 1320, all.end()), (Bytes{1, 2, 3, 4}));

  CStringArray lines;
  for (const char* text : {"AAAA", "BBBB", "CCCC"}) lines.Add(text);
  ASSERT_EQ(plane->writeAllDati(lines), 1);
  EXPECT_EQ(file.GetLength(), 1324u);
  unsigned char back[4] = {};
  ASSERT_EQ(plane->lineAt(1, back), 1);
  EXPECT_EQ(std::string(back, back + 4), "BBBB");
}

// The interface's own versions move nothing and report success.
TEST(RawPlaneInterface, BaseOperationsTransferNothing) {
  BtreeMod base;
  unsigned char buffer[4] = {9, 9, 9, 9};
  EXPECT_EQ(base.lineAt(0, buffer), 1);
  EXPECT_EQ(base.writeAt(0, buffer), 1);
  CStringArray none;
  EXPECT_EQ(base.writeAllDati(none), 1);
  EXPECT_EQ(base.commit(), 1);
  base.SetSize(8);
  base.SetData(100);
  EXPECT_EQ(base.LineSize(), 0);
  EXPECT_EQ(base.DataOffset(), 0);
  base.BtreeUnPacked(nullptr, 0, 0, 0);
  base.BtreePacked(nullptr, 0, 0, 0);
  base.BtreePackedSpeed(nullptr, 0, 0, 0);
  EXPECT_EQ(Bytes(buffer, buffer + 4), Bytes(4, 9));
}

}  // namespace
