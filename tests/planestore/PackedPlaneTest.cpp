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
#include "planestore/BtreePacked.h"
#include "planestore/RunPairs.h"
#include "support/ThrownPtr.h"

using testfiles::throwsPtr;

namespace {

using Bytes = std::vector<unsigned char>;

constexpr long kRegion = 1312;
constexpr std::size_t kGuard = 32;
constexpr unsigned char kGuardByte = 0xEE;

const Bytes kLine0 = {5, 5, 5, 7, 7, 0, 0, 0};
const Bytes kLine1 = Bytes(8, 9);
const Bytes kExampleRegion = {0, 0, 0, 0, 6, 0, 0, 0, 8, 0, 0, 0,  //
                              3, 5, 2, 7, 3, 0, 8, 9};

// Bytes [from, from + n) of a memory file (fewer when it ends sooner).
Bytes fileBytes(CMemFile& file, ULONGLONG from, std::size_t n) {
  file.Seek(static_cast<LONGLONG>(from), CFile::begin);
  Bytes bytes(n);
  bytes.resize(file.Read(bytes.data(), static_cast<UINT>(n)));
  return bytes;
}

// Reads line `line` into a buffer of `width` bytes preset to `fill`, behind
// which a guard area must stay untouched. Returns the line's bytes.
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

CString text(const Bytes& bytes) {
  return CString(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<int>(bytes.size()));
}

// A packed plane of 2 lines of 8 bytes at offset 1312 of a growing memory
// file, as for an image being created.
class PackedPlane : public ::testing::Test {
 protected:
  PackedPlane() : plane(&file, kRegion, 8, 2) {}

  Bytes region(std::size_t n) { return fileBytes(file, kRegion, n); }

  CMemFile file;
  BtreePacked plane;
};

// A packed plane read from hostile region bytes: the memory file is exactly
// the 1312 header bytes and `region`, in a block of exactly that size so
// that the sanitizers see any read past it.
class MalformedPackedPlane : public ::testing::Test {
 protected:
  void load(const Bytes& region, int lineSize, int nLines) {
    image.assign(kRegion, 0);
    image.insert(image.end(), region.begin(), region.end());
    image.shrink_to_fit();
    file.Attach(image.data(), static_cast<UINT>(image.size()));
    plane = std::make_unique<BtreePacked>(&file, kRegion, lineSize, nLines);
  }

  Bytes image;
  CMemFile file;
  std::unique_ptr<BtreePacked> plane;
};

Bytes entries(std::initializer_list<std::uint32_t> values) {
  Bytes bytes;
  for (std::uint32_t v : values) {
    unsigned char le[4];
    btreeimg::detail::storeU32(le, v);
    bytes.insert(bytes.end(), le, le + 4);
  }
  return bytes;
}

Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace

TEST_F(PackedPlane, WorkedExampleWritesTheTwentyRegionBytesAndReadsBack) {
  ASSERT_EQ(writeLine(plane, 0, kLine0), 1);
  ASSERT_EQ(writeLine(plane, 1, kLine1), 1);
  EXPECT_EQ(region(64), kExampleRegion);
  EXPECT_EQ(file.GetLength(), kRegion + 20u);
  EXPECT_EQ(readLine(plane, 0, 8), kLine0);
  EXPECT_EQ(readLine(plane, 1, 8), kLine1);
  // A fresh object over the same region reads the same lines.
  BtreePacked reopened(&file, kRegion, 8, 2);
  EXPECT_EQ(readLine(reopened, 1, 8), kLine1);
}

TEST(PackedPlaneRuns, LongRunsAreSplitAt255AndNeverCrossTheLineEnd) {
  CMemFile file;
  BtreePacked plane(&file, 0, 300, 3);
  ASSERT_EQ(writeLine(plane, 0, Bytes(300, 'v')), 1);
  Bytes line1(300, 'v');
  line1[0] = 'a';  // 1 + 255 + 44
  ASSERT_EQ(writeLine(plane, 1, line1), 1);
  Bytes line2(300, 'v');
  line2[256] = 'b';  // 255 + 1 + 1 + 43
  ASSERT_EQ(writeLine(plane, 2, line2), 1);
  EXPECT_EQ(
      fileBytes(file, 0, 100),
      concat(entries({0, 4, 10, 18}), {0xFF, 'v', 0x2D, 'v',          //
                                       1, 'a', 0xFF, 'v', 0x2C, 'v',  //
                                       0xFF, 'v', 1, 'v', 1, 'b', 0x2B, 'v'}));
  EXPECT_EQ(readLine(plane, 2, 300), line2);
}

TEST(PackedPlaneRuns, EqualLinesAreCodedOneByOne) {
  CMemFile file;
  BtreePacked plane(&file, 0, 3, 2);
  ASSERT_EQ(writeLine(plane, 0, {7, 7, 7}), 1);
  ASSERT_EQ(writeLine(plane, 1, {7, 7, 7}), 1);
  EXPECT_EQ(fileBytes(file, 0, 100), concat(entries({0, 2, 4}), {3, 7, 3, 7}));
}

TEST_F(PackedPlane, WritingLineZeroClearsTheOffsetTable) {
  writeLine(plane, 0, kLine0);
  writeLine(plane, 1, kLine1);
  ASSERT_EQ(writeLine(plane, 0, Bytes(8, 1)), 1);
  EXPECT_EQ(region(14), concat(entries({0, 2, 0}), {8, 1}));
  int status = 0;
  EXPECT_EQ(readLine(plane, 1, 8, 0x33, &status), Bytes(8, 0x33));
  EXPECT_EQ(status, 1);
}

TEST(PackedPlaneOrder,
     RewritingLineOneOfThreeLeavesLineTwoStaleUntilRewritten) {
  CMemFile file;
  BtreePacked plane(&file, 0, 4, 3);
  writeLine(plane, 0, {1, 1, 1, 1});
  writeLine(plane, 1, {2, 2, 2, 2});
  writeLine(plane, 2, {3, 3, 3, 3});
  ASSERT_EQ(writeLine(plane, 1, {4, 5, 6, 6}), 1);
  EXPECT_EQ(readLine(plane, 1, 4), (Bytes{4, 5, 6, 6}));
  // Only entry[2] moved: entry[3] still says where the old line 2 ended.
  EXPECT_EQ(fileBytes(file, 0, 16), entries({0, 2, 8, 6}));
  EXPECT_EQ(readLine(plane, 2, 4, 0x33), Bytes(4, 0x33));  // end below start
  ASSERT_EQ(writeLine(plane, 2, {3, 3, 3, 3}), 1);
  EXPECT_EQ(readLine(plane, 2, 4), Bytes(4, 3));
  EXPECT_EQ(readLine(plane, 0, 4), Bytes(4, 1));
}

TEST_F(PackedPlane, LineNumbersOutsideThePlaneAreRefusedWithoutTransfer) {
  writeLine(plane, 0, kLine0);
  writeLine(plane, 1, kLine1);
  for (int line : {-1, 2, 1000}) {
    int status = 1;
    EXPECT_EQ(readLine(plane, line, 8, 0x33, &status), Bytes(8, 0x33));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(writeLine(plane, line, Bytes(8, 4)), 0);
  }
  EXPECT_EQ(region(64), kExampleRegion);
}

TEST_F(PackedPlane, SetDataMovesOnlyTheStartOfTheCode) {
  writeLine(plane, 0, kLine0);
  writeLine(plane, 1, kLine1);
  // The same code again at 2000: the table at the region now counts from it.
  const Bytes code(kExampleRegion.begin() + 12, kExampleRegion.end());
  file.Seek(2000, CFile::begin);
  file.Write(code.data(), static_cast<UINT>(code.size()));
  plane.SetData(2000);
  EXPECT_EQ(plane.DataOffset(), 2000);
  EXPECT_EQ(plane.LineCount(), 2);
  EXPECT_EQ(readLine(plane, 1, 8), kLine1);
  ASSERT_EQ(writeLine(plane, 1, Bytes(8, 4)), 1);
  EXPECT_EQ(fileBytes(file, 2006, 2), (Bytes{8, 4}));
  EXPECT_EQ(region(12), entries({0, 6, 8}));
}

TEST_F(PackedPlane, SetSizeChangesTheLengthTheLinesAreCodedWith) {
  plane.SetSize(4);
  ASSERT_EQ(writeLine(plane, 0, kLine0), 1);
  EXPECT_EQ(region(16), concat(entries({0, 4, 0}), {3, 5, 1, 7}));
  // The decoder fills no more than the line length either.
  writeLine(plane, 1, kLine1);
  EXPECT_EQ(plane.LineBytes(), 4);
  EXPECT_EQ(readLine(plane, 1, 4), Bytes(4, 9));
}

TEST_F(PackedPlane, WholePlaneWriteStoresWhatLineByLineWritingStores) {
  CStringArray lines;
  lines.Add(text(kLine0));
  lines.Add(text(kLine1));
  ASSERT_EQ(plane.writeAllDati(lines), 1);
  EXPECT_EQ(region(64), kExampleRegion);
  EXPECT_EQ(readLine(plane, 0, 8), kLine0);
}

TEST_F(PackedPlane, WholePlaneWritePadsShortStringsWithZerosAndCutsLongOnes) {
  CStringArray lines;
  lines.Add("ab");
  lines.Add("cccccccccccc");
  ASSERT_EQ(plane.writeAllDati(lines), 1);
  EXPECT_EQ(readLine(plane, 0, 8), (Bytes{'a', 'b', 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(readLine(plane, 1, 8), Bytes(8, 'c'));
  EXPECT_EQ(region(12), entries({0, 6, 8}));
}

TEST_F(PackedPlane, PaddingZerosJoinTheStringsOwnTrailingZeros) {
  CStringArray lines;
  lines.Add(text({'a', 'b', 0, 0}));
  lines.Add(text({0, 0, 0, 0, 0, 0, 0, 0}));
  ASSERT_EQ(plane.writeAllDati(lines), 1);
  EXPECT_EQ(region(64),
            concat(entries({0, 6, 8}), {1, 'a', 1, 'b', 6, 0, 8, 0}));
}

TEST(PackedPlaneLongLines, LinesOfMegabytesAreCodedStraightIntoTheFile) {
  // Lines whose code could pass the scratch buffer's size take the other
  // road; the bytes must be the same.
  constexpr int kWidth = 700000;
  Bytes line0(kWidth, 3);
  for (int i = 1000; i < 400000; ++i)
    line0[i] = static_cast<unsigned char>(i * 31);
  const Bytes line1(kWidth, 9);
  CMemFile file;
  BtreePacked plane(&file, 0, kWidth, 2);
  ASSERT_EQ(writeLine(plane, 0, line0), 1);
  ASSERT_EQ(writeLine(plane, 1, line1), 1);
  Bytes code0(btreeimg::detail::maxCodedSize(kWidth));
  code0.resize(
      btreeimg::detail::encodeRuns(line0.data(), kWidth, code0.data()));
  const auto n0 = static_cast<std::uint32_t>(code0.size());
  const std::uint32_t n1 = 2 * (kWidth / 255 + 1);
  EXPECT_EQ(fileBytes(file, 0, 12), entries({0, n0, n0 + n1}));
  EXPECT_EQ(fileBytes(file, 12, n0), code0);
  EXPECT_EQ(file.GetLength(), 12u + n0 + n1);
  EXPECT_EQ(readLine(plane, 0, kWidth), line0);
  EXPECT_EQ(readLine(plane, 1, kWidth), line1);
  // The region's end still refuses such a line before anything is written.
  plane.SetRegionEnd(12 + n0 + n1 - 1);
  EXPECT_EQ(writeLine(plane, 1, Bytes(kWidth, 1)), 0);
  EXPECT_EQ(readLine(plane, 1, kWidth), line1);
}

TEST_F(PackedPlane, WholePlaneWriteWithTooFewStringsThrowsBeforeWriting) {
  writeLine(plane, 0, kLine0);
  writeLine(plane, 1, kLine1);
  CStringArray lines;
  lines.Add("xxxxxxxx");
  EXPECT_TRUE(
      throwsPtr<CInvalidArgException>([&] { plane.writeAllDati(lines); }));
  EXPECT_EQ(region(64), kExampleRegion);
}

TEST_F(PackedPlane, WritesThatWouldCrossTheRegionEndAreRefused) {
  plane.SetRegionEnd(kRegion + 19);  // one byte short of the example
  ASSERT_EQ(writeLine(plane, 0, kLine0), 1);
  EXPECT_EQ(writeLine(plane, 1, kLine1), 0);
  EXPECT_EQ(region(64), (concat(entries({0, 6, 0}), {3, 5, 2, 7, 3, 0})));
  CStringArray lines;
  lines.Add(text(kLine0));
  lines.Add(text(kLine1));
  EXPECT_EQ(plane.writeAllDati(lines), 0);
  EXPECT_EQ(file.GetLength(), kRegion + 18u);
  // Ending exactly at the region's end is allowed.
  plane.SetRegionEnd(kRegion + 20);
  EXPECT_EQ(writeLine(plane, 1, kLine1), 1);
  EXPECT_EQ(region(64), kExampleRegion);
}

TEST_F(PackedPlane, TheTableItselfMustFitTheRegion) {
  plane.SetRegionEnd(kRegion + 11);
  EXPECT_EQ(writeLine(plane, 0, Bytes(8, 0)), 0);
  EXPECT_EQ(file.GetLength(), 0u);
}

TEST(PackedPlaneFixedFile,
     LineRunningPastAFixedFileThrowsWithoutTouchingTheTable) {
  Bytes image = concat(entries({0, 2, 2}), {8, 9, 0xEE});
  CMemFile file;
  file.Attach(image.data(), static_cast<UINT>(image.size()));
  BtreePacked plane(&file, 0, 8, 2);
  EXPECT_TRUE(
      throwsPtr<CMemoryException>([&] { writeLine(plane, 1, kLine0); }));
  EXPECT_EQ(image, concat(entries({0, 2, 2}), {8, 9, 0xEE}));
}

TEST_F(PackedPlane, CopiesShareTheMemoryFileAndTheRegion) {
  BtreePacked copy(plane);
  writeLine(copy, 0, kLine0);
  writeLine(copy, 1, kLine1);
  EXPECT_EQ(readLine(plane, 0, 8), kLine0);
  BtreePacked assigned(&file, 0, 1, 1);
  assigned = plane;
  EXPECT_EQ(readLine(assigned, 1, 8), kLine1);
}

TEST_F(MalformedPackedPlane, PairsExpandingPastTheLineAreCutAtTheLine) {
  load(concat(entries({0, 6, 6}), {200, 1, 200, 2, 1, 3}), 8, 2);
  EXPECT_EQ(readLine(*plane, 0, 8, 0x33), Bytes(8, 1));
  // Many pairs past the line, each of them short.
  Bytes code;
  for (int i = 0; i < 100; ++i) code.insert(code.end(), {1, 9, 2, 8});
  load(concat(entries({0, 400, 400}), code), 8, 2);
  EXPECT_EQ(readLine(*plane, 0, 8, 0x33), (Bytes{9, 8, 8, 9, 8, 8, 9, 8}));
}

TEST_F(MalformedPackedPlane, CountZeroPairsAddNothing) {
  load(concat(entries({0, 8, 8}), {0, 1, 2, 4, 0, 0, 3, 5}), 8, 2);
  EXPECT_EQ(readLine(*plane, 0, 8, 0x33),
            (Bytes{4, 4, 5, 5, 5, 0x33, 0x33, 0x33}));
}

TEST_F(MalformedPackedPlane, EndBelowStartDecodesNothing) {
  load(concat(entries({0, 4, 2}), {8, 1, 8, 2}), 8, 2);
  EXPECT_EQ(readLine(*plane, 1, 8, 0x33), Bytes(8, 0x33));
  EXPECT_EQ(readLine(*plane, 0, 8, 0x33), Bytes(8, 1));
}

TEST_F(MalformedPackedPlane, CodePastTheFileEndGivesWhatExists) {
  // Line 0 claims 0xFFFFFFF0 bytes of code; only three pairs exist, and the
  // last byte of the file is half a pair.
  load(concat(entries({0, 0xFFFFFFF0u, 0xFFFFFFF8u}), {2, 1, 3, 2, 1, 3, 4}), 8,
       2);
  EXPECT_EQ(readLine(*plane, 0, 8, 0x33),
            (Bytes{1, 1, 2, 2, 2, 3, 0x33, 0x33}));
  // Line 1's code starts far beyond the end of the file.
  EXPECT_EQ(readLine(*plane, 1, 8, 0x33), Bytes(8, 0x33));
}

TEST_F(MalformedPackedPlane, TableCutOffByTheFileEndHoldsNoLine) {
  // Entries 0 and 1 exist, entry 2 has two of its four bytes.
  load(concat(entries({0, 2}), {2, 0}), 8, 2);
  int status = 0;
  EXPECT_EQ(readLine(*plane, 1, 8, 0x33, &status), Bytes(8, 0x33));
  EXPECT_EQ(status, 1);
  // A region wholly beyond the end of the file.
  load({}, 8, 2);
  EXPECT_EQ(readLine(*plane, 0, 8, 0x33), Bytes(8, 0x33));
}

RC_GTEST_PROP(
    PackedPlaneProperty, AnyLinesWrittenInOrderDecodeBackEqual,
    (const std::vector<std::vector<std::pair<unsigned char, unsigned char>>>&
         runs)) {
  // Each line is built from (value, length) runs and cut or padded to the
  // line length, so that lines hold long runs as well as noise.
  const int lineSize = *rc::gen::inRange(0, 600);
  const int nLines = static_cast<int>(runs.size());
  std::vector<Bytes> lines;
  for (const auto& lineRuns : runs) {
    Bytes line;
    for (const auto& [value, length] : lineRuns) {
      line.insert(line.end(), length % 64 == 63 ? 300 : length % 8 + 1, value);
    }
    line.resize(static_cast<std::size_t>(lineSize), 0);
    lines.push_back(line);
  }
  CMemFile file;
  BtreePacked plane(&file, kRegion, lineSize, nLines);
  for (int i = 0; i < nLines; ++i)
    RC_ASSERT(writeLine(plane, i, lines[i]) == 1);
  BtreePacked reopened(&file, kRegion, lineSize, nLines);
  for (int i = 0; i < nLines; ++i) {
    RC_ASSERT(readLine(reopened, i, static_cast<std::size_t>(lineSize)) ==
              lines[i]);
  }
  // The whole-plane write produces the very same bytes, also from strings
  // that leave out some of the line's trailing zero bytes.
  CMemFile other;
  BtreePacked whole(&other, kRegion, lineSize, nLines);
  CStringArray array;
  for (Bytes line : lines) {
    std::size_t zeros = 0;
    while (zeros < line.size() && line[line.size() - 1 - zeros] == 0) ++zeros;
    line.resize(line.size() - *rc::gen::inRange<std::size_t>(0, zeros + 1));
    array.Add(text(line));
  }
  RC_ASSERT(whole.writeAllDati(array) == 1);
  RC_ASSERT(other.GetLength() == file.GetLength());
  RC_ASSERT(fileBytes(other, 0, other.GetLength()) ==
            fileBytes(file, 0, file.GetLength()));
}
