#include "planestore/BtreePackedSpeed.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "PlaneBytes.h"
#include "framework/CMemFile.h"

using namespace planetest;

namespace {

// A region: the unpacked and packed sizes, then the pairs.
Bytes region(std::uint32_t unpacked, std::uint32_t packed, const Bytes& pairs) {
  return concat(le32({unpacked, packed}), pairs);
}

// The plane is decoded bottom up (the worked example is read back in the
// writing test) into exactly line length x line count bytes, whatever the
// region claims: a pair may cross lines, bytes the stream does not cover are
// 0, and nothing is read past the stream or the file.
TEST(SpeedPlaneDecoding, MalformedRegionsDecodeIntoExactlyThePlane) {
  EXPECT_EQ(decodedPlane<BtreePackedSpeed>(region(6, 2, {4, 7}), 3, 2),
            (Bytes{7, 0, 0, 7, 7, 7}))
      << "stream short of the plane";
  EXPECT_EQ(decodedPlane<BtreePackedSpeed>(
                region(0xFFFFFFFFu, 6, {200, 5, 200, 6, 1, 7}), 3, 2),
            Bytes(6, 5))
      << "claimed size past the plane, pairs beyond it";
  EXPECT_EQ(decodedPlane<BtreePackedSpeed>(
                region(6, 0xFFFFFFF0u, {2, 4, 1, 5, 9}), 3, 2),
            (Bytes{0, 0, 0, 4, 4, 5}))
      << "packed size past the file end, half a pair last";
}

// Writes `writes` into a plane at the start of a growing memory file after
// SetSize and SetData, which this encoding ignores. Nothing reaches the file
// before the commit, which writes `file` when the region ends exactly behind
// it and nothing when it ends a byte sooner. A new object reads the lines.
void expectCommitted(int width, int count, const Writes& writes,
                     const Bytes& file) {
  CMemFile memFile;
  BtreePackedSpeed plane(&memFile, 0, width, count);
  plane.SetSize(1);
  plane.SetData(7);
  for (const auto& [line, bytes] : writes)
    ASSERT_EQ(writeLine(plane, line, bytes), 1);
  plane.SetRegionEnd(file.size() - 1);
  EXPECT_EQ(plane.commit(), 0);
  EXPECT_EQ(memFile.GetLength(), 0u);
  plane.SetRegionEnd(file.size());
  ASSERT_EQ(plane.commit(), 1);
  EXPECT_EQ(wholeFile(memFile), file);
  BtreePackedSpeed reopened(&memFile, 0, width, count);
  for (const auto& [line, bytes] : writes)
    EXPECT_EQ(readLine(reopened, line, bytes.size()), bytes);
}

TEST(SpeedPlaneWriting, CommitCodesThePlaneBottomUpAsOneStream) {
  expectCommitted(3, 2, {{0, {1, 1, 1}}, {1, {2, 2, 2}}}, region(6, 4, {3, 2, 3, 1}));
  expectCommitted(300, 2, {}, region(600, 6, {255, 0, 255, 0, 90, 0}));
  expectCommitted(4, 2, {{1, {1, 2, 3, 4}}},
                  region(8, 10, {1, 1, 1, 2, 1, 3, 1, 4, 4, 0}));
}

// The original's copies shared one decoded plane and both freed it.
TEST(SpeedPlaneCopy, CopiesOwnTheirPlaneAndOutliveTheOriginal) {
  CMemFile file;
  auto plane = std::make_unique<BtreePackedSpeed>(&file, 0, 3, 2);
  writeLine(*plane, 0, {1, 2, 3});
  BtreePackedSpeed copy(*plane);
  BtreePackedSpeed assigned(&file, 0, 5, 5);
  assigned = *plane;
  writeLine(*plane, 0, {4, 4, 4});
  plane.reset();
  const BtreePackedSpeed& same = assigned;
  assigned = same;  // self-assignment keeps the plane
  EXPECT_EQ(readLine(copy, 0, 3), (Bytes{1, 2, 3}));
  EXPECT_EQ(readLine(assigned, 0, 3), (Bytes{1, 2, 3}));
  ASSERT_EQ(copy.commit(), 1);
  EXPECT_EQ(wholeFile(file), region(6, 8, {3, 0, 1, 1, 1, 2, 1, 3}));
}

}  // namespace
