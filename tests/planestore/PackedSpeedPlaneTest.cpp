#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "framework/ByteOrder.h"
#include "framework/CMemFile.h"
#include "framework/CStringArray.h"
#include "framework/Exceptions.h"
#include "planestore/BtreePackedSpeed.h"
#include "support/ThrownPtr.h"

using testfiles::throwsPtr;

namespace {

using Bytes = std::vector<unsigned char>;

constexpr long kRegion = 1312;
constexpr std::size_t kGuard = 32;
constexpr unsigned char kGuardByte = 0xEE;

const Bytes kExampleRegion = {6, 0, 0, 0, 4, 0, 0, 0, 3, 2, 3, 1};

Bytes fileBytes(CMemFile& file, ULONGLONG from, std::size_t n) {
  file.Seek(static_cast<LONGLONG>(from), CFile::begin);
  Bytes bytes(n);
  bytes.resize(file.Read(bytes.data(), static_cast<UINT>(n)));
  return bytes;
}

// Reads line `line` into a buffer of `width` bytes preset to `fill`, behind
// which a guard area must stay untouched.
Bytes readLine(BtreeMod& plane, int line, std::size_t width,
               unsigned char fill = kGuardByte, int* result = nullptr) {
  Bytes buffer(width + kGuard, fill);
  std::fill(buffer.begin() + width, buffer.end(), kGuardByte);
  const int status = plane.lineAt(line, buffer.data());
  if (result) *result = status;
  EXPECT_TRUE(std::all_of(buffer.begin() + width, buffer.end(),
                          [](unsigned char b) { return b == kGuardByte; }))
      << "lineAt wrote past the line";
  buffer.resize(width);
  return buffer;
}

int writeLine(BtreeMod& plane, int line, Bytes bytes) {
  return plane.writeAt(line, bytes.data());
}

Bytes u32(std::uint32_t v) {
  Bytes bytes(4);
  btreeimg::detail::storeU32(bytes.data(), v);
  return bytes;
}

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A region `unpacked`, `packed` sizes and `pairs`.
Bytes region(std::uint32_t unpacked, std::uint32_t packed, const Bytes& pairs) {
  return concat(concat(u32(unpacked), u32(packed)), pairs);
}

// A whole-plane packed plane over hostile region bytes: the memory file is
// exactly the 1312 header bytes and the region, in a block of exactly that
// size so that the sanitizers see any read past it.
class MalformedSpeedPlane : public ::testing::Test {
 protected:
  void load(const Bytes& regionBytes, int lineLength, int lineCount) {
    plane.reset();
    image.assign(kRegion, 0);
    image.insert(image.end(), regionBytes.begin(), regionBytes.end());
    image.shrink_to_fit();
    file.Attach(image.data(), static_cast<UINT>(image.size()));
    plane = std::make_unique<BtreePackedSpeed>(&file, kRegion, lineLength,
                                               lineCount);
  }

  Bytes image;
  CMemFile file;
  std::unique_ptr<BtreePackedSpeed> plane;
};

}  // namespace

TEST_F(MalformedSpeedPlane, DecodesTheWorkedExampleBottomUp) {
  load(kExampleRegion, 3, 2);
  EXPECT_EQ(readLine(*plane, 0, 3), (Bytes{1, 1, 1}));
  EXPECT_EQ(readLine(*plane, 1, 3), (Bytes{2, 2, 2}));
}

TEST_F(MalformedSpeedPlane, OnePairMayCoverTwoLines) {
  load(region(6, 2, {6, 1}), 3, 2);
  EXPECT_EQ(readLine(*plane, 0, 3), (Bytes{1, 1, 1}));
  EXPECT_EQ(readLine(*plane, 1, 3), (Bytes{1, 1, 1}));
}

TEST_F(MalformedSpeedPlane,
       LineNumbersOutsideThePlaneAreRefusedWithoutTransfer) {
  load(kExampleRegion, 3, 2);
  for (int line : {-1, 2}) {
    int status = 1;
    EXPECT_EQ(readLine(*plane, line, 3, 0x33, &status), Bytes(3, 0x33));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(writeLine(*plane, line, {9, 9, 9}), 0);
  }
  EXPECT_EQ(readLine(*plane, 1, 3), (Bytes{2, 2, 2}));
}

TEST(SpeedPlaneRegion, RegionAtOrBeyondTheFileEndReadsAsAZeroPlane) {
  CMemFile file;
  file.Write("abc", 3);
  for (long at : {3L, 5000L}) {
    BtreePackedSpeed plane(&file, at, 4, 3);
    EXPECT_EQ(readLine(plane, 2, 4), Bytes(4, 0));
    EXPECT_EQ(file.GetLength(), 3u);  // constructing writes nothing
  }
}

TEST_F(MalformedSpeedPlane, StreamShortOfThePlaneLeavesZeros) {
  load(region(6, 2, {4, 7}), 3, 2);  // covers line 1 and a byte of line 0
  EXPECT_EQ(readLine(*plane, 1, 3), (Bytes{7, 7, 7}));
  EXPECT_EQ(readLine(*plane, 0, 3), (Bytes{7, 0, 0}));
}

TEST_F(MalformedSpeedPlane, PlaneSizeComesFromTheDimensionsNotTheRegion) {
  // A claimed size far larger than the plane, with pairs beyond the plane.
  load(region(0xFFFFFFFFu, 6, {200, 5, 200, 6, 1, 7}), 3, 2);
  EXPECT_EQ(readLine(*plane, 0, 3), (Bytes{5, 5, 5}));
  // A claimed size of 0 for a stream that covers the plane.
  load(region(0, 4, {3, 2, 3, 1}), 3, 2);
  EXPECT_EQ(readLine(*plane, 0, 3), (Bytes{1, 1, 1}));
  EXPECT_EQ(readLine(*plane, 1, 3), (Bytes{2, 2, 2}));
}

TEST_F(MalformedSpeedPlane, PackedSizePastTheFileEndReadsWhatExists) {
  load(region(6, 0xFFFFFFF0u, {2, 4, 1, 5, 9}), 3,
       2);  // half a pair at the end
  EXPECT_EQ(readLine(*plane, 1, 3), (Bytes{4, 4, 5}));
  EXPECT_EQ(readLine(*plane, 0, 3), (Bytes{0, 0, 0}));
  // Sizes cut off by the end of the file read as far as they exist.
  load({6, 0, 0, 0, 4, 0}, 3, 2);
  EXPECT_EQ(readLine(*plane, 0, 3), (Bytes{0, 0, 0}));
}

TEST_F(MalformedSpeedPlane, CountZeroPairsAddNothing) {
  Bytes pairs;
  for (int i = 0; i < 5000; ++i) pairs.insert(pairs.end(), {0, 9});
  pairs.insert(pairs.end(), {3, 2, 0, 8, 3, 1});
  load(region(6, static_cast<std::uint32_t>(pairs.size()), pairs), 3, 2);
  EXPECT_EQ(readLine(*plane, 0, 3), (Bytes{1, 1, 1}));
  EXPECT_EQ(readLine(*plane, 1, 3), (Bytes{2, 2, 2}));
}

TEST_F(MalformedSpeedPlane, EmptyDimensionsGiveAnEmptyPlane) {
  load(kExampleRegion, 0, 2);
  int status = 0;
  EXPECT_EQ(readLine(*plane, 1, 0, kGuardByte, &status), Bytes());
  EXPECT_EQ(status, 1);
  EXPECT_EQ(writeLine(*plane, 1, {}), 1);
  load(kExampleRegion, 3, 0);
  EXPECT_EQ(readLine(*plane, 0, 3, 0x33, &status), Bytes(3, 0x33));
  EXPECT_EQ(status, 0);
}

TEST(SpeedPlaneWriting, CommitCodesTheWorkedExampleAtTheRegion) {
  CMemFile file;
  BtreePackedSpeed plane(&file, kRegion, 3, 2);
  ASSERT_EQ(writeLine(plane, 0, {1, 1, 1}), 1);
  ASSERT_EQ(writeLine(plane, 1, {2, 2, 2}), 1);
  EXPECT_EQ(file.GetLength(), 0u);  // nothing reaches the file before commit
  ASSERT_EQ(plane.commit(), 1);
  EXPECT_EQ(file.GetLength(), kRegion + 12u);
  EXPECT_EQ(fileBytes(file, kRegion, 64), kExampleRegion);
  // Runs cross line ends: two equal lines are one pair.
  ASSERT_EQ(writeLine(plane, 1, {1, 1, 1}), 1);
  ASSERT_EQ(plane.commit(), 1);
  EXPECT_EQ(fileBytes(file, kRegion, 10), region(6, 2, {6, 1}));
  BtreePackedSpeed reopened(&file, kRegion, 3, 2);
  EXPECT_EQ(readLine(reopened, 1, 3), (Bytes{1, 1, 1}));
}

TEST(SpeedPlaneWriting, WrittenLinesAreSeenAtOnceAndAreASnapshotOfTheFile) {
  CMemFile file;
  const Bytes stored = concat(Bytes(kRegion, 0), kExampleRegion);
  file.Write(stored.data(), static_cast<UINT>(stored.size()));
  BtreePackedSpeed plane(&file, kRegion, 3, 2);
  ASSERT_EQ(writeLine(plane, 0, {7, 8, 9}), 1);
  EXPECT_EQ(readLine(plane, 0, 3), (Bytes{7, 8, 9}));
  EXPECT_EQ(fileBytes(file, kRegion, 64), kExampleRegion);
  // Changes others make to the region are not seen.
  file.Seek(kRegion + 9, CFile::begin);
  file.Write("\x05", 1);
  EXPECT_EQ(readLine(plane, 1, 3), (Bytes{2, 2, 2}));
}

TEST(SpeedPlaneWriting, CommitThatWouldCrossTheRegionEndWritesNothing) {
  CMemFile file;
  BtreePackedSpeed plane(&file, kRegion, 3, 2);
  writeLine(plane, 0, {1, 1, 1});
  writeLine(plane, 1, {2, 2, 2});
  plane.SetRegionEnd(kRegion + 11);
  EXPECT_EQ(plane.commit(), 0);
  EXPECT_EQ(file.GetLength(), 0u);
  plane.SetRegionEnd(kRegion + 12);
  EXPECT_EQ(plane.commit(), 1);
  EXPECT_EQ(fileBytes(file, kRegion, 64), kExampleRegion);
}

TEST(SpeedPlaneWriting, CommitOfAPlaneNeverWrittenStoresZeros) {
  CMemFile file;
  BtreePackedSpeed plane(&file, 0, 300, 2);
  ASSERT_EQ(plane.commit(), 1);
  EXPECT_EQ(fileBytes(file, 0, 64), region(600, 6, {255, 0, 255, 0, 90, 0}));
}

TEST(SpeedPlaneWriting, WholePlaneWritePadsShortStringsAndCutsLongOnes) {
  CMemFile file;
  BtreePackedSpeed plane(&file, 0, 4, 3);
  CStringArray lines;
  lines.Add("ab");
  lines.Add("cccccc");
  lines.Add("dddd");
  ASSERT_EQ(plane.writeAllDati(lines), 1);
  EXPECT_EQ(readLine(plane, 0, 4), (Bytes{'a', 'b', 0, 0}));
  EXPECT_EQ(readLine(plane, 1, 4), Bytes(4, 'c'));
  ASSERT_EQ(plane.commit(), 1);
  EXPECT_EQ(fileBytes(file, 0, 64),
            region(12, 10, {4, 'd', 4, 'c', 1, 'a', 1, 'b', 2, 0}));
}

TEST(SpeedPlaneWriting, WholePlaneWriteWithTooFewStringsThrowsBeforeChanging) {
  CMemFile file;
  BtreePackedSpeed plane(&file, 0, 2, 3);
  CStringArray lines;
  lines.Add("xx");
  lines.Add("yy");
  EXPECT_TRUE(
      throwsPtr<CInvalidArgException>([&] { plane.writeAllDati(lines); }));
  EXPECT_EQ(readLine(plane, 0, 2), Bytes(2, 0));
}

TEST(SpeedPlaneWriting, TransfersTheLineLengthWhateverSetSizeSays) {
  CMemFile file;
  BtreePackedSpeed plane(&file, 40, 4, 2);
  EXPECT_EQ(plane.LineSize(), 4);
  EXPECT_EQ(plane.LineCount(), 2);
  plane.SetSize(2);
  plane.SetData(7);
  EXPECT_EQ(plane.LineSize(), 2);
  EXPECT_EQ(plane.DataOffset(), 7);
  EXPECT_EQ(plane.LineBytes(), 4);
  ASSERT_EQ(writeLine(plane, 1, {1, 2, 3, 4}), 1);
  EXPECT_EQ(readLine(plane, 1, 4), (Bytes{1, 2, 3, 4}));
  ASSERT_EQ(plane.commit(), 1);  // still at the region given at construction
  EXPECT_EQ(fileBytes(file, 40, 8), region(8, 10, {}));
}

TEST(SpeedPlaneCopy, CopiesOwnTheirPlane) {
  CMemFile file;
  auto plane = std::make_unique<BtreePackedSpeed>(&file, 0, 3, 2);
  writeLine(*plane, 0, {1, 2, 3});
  BtreePackedSpeed copy(*plane);
  BtreePackedSpeed assigned(&file, 0, 5, 5);
  assigned = *plane;
  writeLine(*plane, 0, {4, 4, 4});
  EXPECT_EQ(readLine(copy, 0, 3), (Bytes{1, 2, 3}));
  EXPECT_EQ(readLine(assigned, 0, 3), (Bytes{1, 2, 3}));
  plane.reset();  // the copies outlive the original
  const BtreePackedSpeed& same = assigned;
  assigned = same;
  EXPECT_EQ(readLine(assigned, 0, 3), (Bytes{1, 2, 3}));
  EXPECT_EQ(assigned.LineCount(), 2);
  ASSERT_EQ(copy.commit(), 1);
  EXPECT_EQ(fileBytes(file, 0, 64), region(6, 8, {3, 0, 1, 1, 1, 2, 1, 3}));
}

RC_GTEST_PROP(
    SpeedPlaneProperty,
    AnyWholePlaneDecodesBackEqualAfterCommitAndReconstruction,
    (const std::vector<std::pair<unsigned char, unsigned short>>& runs)) {
  const int lineLength = *rc::gen::inRange(1, 400);
  const int lineCount = *rc::gen::inRange(1, 40);
  // The plane as runs of random lengths, which cross line ends freely.
  Bytes planeBytes;
  for (const auto& [value, length] : runs) {
    planeBytes.insert(planeBytes.end(), length % 16 == 0 ? length % 1000 : 1,
                      value);
  }
  planeBytes.resize(static_cast<std::size_t>(lineLength) * lineCount, 0x5A);
  CMemFile file;
  file.Write("header", 6);
  {
    BtreePackedSpeed plane(&file, 6, lineLength, lineCount);
    for (int i = 0; i < lineCount; ++i) {
      RC_ASSERT(plane.writeAt(i, planeBytes.data() + i * lineLength) == 1);
    }
    RC_ASSERT(plane.commit() == 1);
  }
  BtreePackedSpeed reopened(&file, 6, lineLength, lineCount);
  for (int i = 0; i < lineCount; ++i) {
    const Bytes expected(planeBytes.begin() + i * lineLength,
                         planeBytes.begin() + (i + 1) * lineLength);
    RC_ASSERT(readLine(reopened, i, static_cast<std::size_t>(lineLength)) ==
              expected);
  }
  RC_ASSERT(fileBytes(file, 0, 6) == Bytes({'h', 'e', 'a', 'd', 'e', 'r'}));
}
