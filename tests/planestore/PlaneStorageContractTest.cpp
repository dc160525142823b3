// The contract every plane encoding keeps, run against all three.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "framework/CMemFile.h"
#include "framework/CStringArray.h"
#include "framework/Exceptions.h"
#include "planestore/BtreeMod.h"
#include "planestore/BtreePacked.h"
#include "planestore/BtreePackedSpeed.h"
#include "planestore/BtreeUnPacked.h"
#include "support/ThrownPtr.h"

using testfiles::throwsPtr;

namespace {

using Bytes = std::vector<unsigned char>;

constexpr long kRegion = 1312;
constexpr int kLineSize = 20;
constexpr int kLines = 5;
constexpr std::size_t kGuard = 16;
constexpr unsigned char kGuardByte = 0xEE;

// Line i: a run, a stretch of distinct bytes, and another run.
Bytes sampleLine(int i, int salt = 0) {
  Bytes line(kLineSize, static_cast<unsigned char>(i + salt));
  for (int k = 6; k < 12; ++k) line[k] = static_cast<unsigned char>(k * 17 + i);
  std::fill(line.begin() + 12, line.end(), static_cast<unsigned char>(200 - i));
  return line;
}

CString text(const Bytes& bytes) {
  return CString(reinterpret_cast<const char*>(bytes.data()),
                 static_cast<int>(bytes.size()));
}

template <typename Encoding>
class PlaneStorageContract : public ::testing::Test {
 protected:
  PlaneStorageContract() { reopen(); }

  // A new storage object of this encoding over the same region, as an image
  // reopened from the same file would make.
  void reopen() {
    plane = std::make_unique<Encoding>(&file, kRegion, kLineSize, kLines);
  }

  // Line `line`, read into a buffer whose guard area must stay untouched.
  Bytes read(int line, int* status = nullptr, unsigned char fill = 0x33) {
    Bytes buffer(kLineSize + kGuard, fill);
    std::fill(buffer.begin() + kLineSize, buffer.end(), kGuardByte);
    const int result = plane->lineAt(line, buffer.data());
    if (status) *status = result;
    EXPECT_TRUE(std::all_of(buffer.begin() + kLineSize, buffer.end(),
                            [](unsigned char b) { return b == kGuardByte; }));
    buffer.resize(kLineSize);
    return buffer;
  }

  int write(int line, Bytes bytes) {
    return plane->writeAt(line, bytes.data());
  }

  void writeAllInOrder(int salt = 0) {
    for (int i = 0; i < kLines; ++i)
      ASSERT_EQ(write(i, sampleLine(i, salt)), 1);
  }

  CMemFile file;
  std::unique_ptr<BtreeMod> plane;
};

using Encodings =
    ::testing::Types<BtreeUnPacked, BtreePacked, BtreePackedSpeed>;
TYPED_TEST_SUITE(PlaneStorageContract, Encodings);

}  // namespace

TYPED_TEST(PlaneStorageContract, WrittenLinesReadBackUnchanged) {
  this->writeAllInOrder();
  for (int i = kLines - 1; i >= 0; --i) {
    int status = 0;
    EXPECT_EQ(this->read(i, &status), sampleLine(i)) << "line " << i;
    EXPECT_EQ(status, 1);
  }
}

TYPED_TEST(PlaneStorageContract, CommittedLinesSurviveANewStorageObject) {
  this->writeAllInOrder();
  ASSERT_EQ(this->plane->commit(), 1);
  this->reopen();
  for (int i = 0; i < kLines; ++i) EXPECT_EQ(this->read(i), sampleLine(i));
}

TYPED_TEST(PlaneStorageContract, RewrittenPlaneReplacesTheOldOne) {
  this->writeAllInOrder();
  this->plane->commit();
  this->writeAllInOrder(50);
  ASSERT_EQ(this->plane->commit(), 1);
  this->reopen();
  for (int i = 0; i < kLines; ++i) EXPECT_EQ(this->read(i), sampleLine(i, 50));
}

TYPED_TEST(PlaneStorageContract,
           LineNumbersOutsideThePlaneAreRefusedWithoutTransfer) {
  this->writeAllInOrder();
  for (int line : {-1, kLines, kLines + 100}) {
    int status = 1;
    EXPECT_EQ(this->read(line, &status), Bytes(kLineSize, 0x33));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(this->write(line, Bytes(kLineSize, 1)), 0);
  }
  this->plane->commit();
  this->reopen();
  for (int i = 0; i < kLines; ++i) EXPECT_EQ(this->read(i), sampleLine(i));
}

TYPED_TEST(PlaneStorageContract, WholePlaneWriteStoresStringIAsLineI) {
  CStringArray lines;
  for (int i = 0; i < kLines; ++i) lines.Add(text(sampleLine(i)));
  lines.Add("one string more than the plane has lines is ignored");
  ASSERT_EQ(this->plane->writeAllDati(lines), 1);
  ASSERT_EQ(this->plane->commit(), 1);
  this->reopen();
  for (int i = 0; i < kLines; ++i) EXPECT_EQ(this->read(i), sampleLine(i));
}

TYPED_TEST(PlaneStorageContract, WholePlaneWritePadsShortStringsWithZeroBytes) {
  CStringArray lines;
  for (int i = 0; i < kLines; ++i) lines.Add("abc");
  ASSERT_EQ(this->plane->writeAllDati(lines), 1);
  this->plane->commit();
  this->reopen();
  Bytes expected(kLineSize, 0);
  std::copy_n("abc", 3, expected.begin());
  EXPECT_EQ(this->read(kLines - 1), expected);
}

TYPED_TEST(PlaneStorageContract,
           WholePlaneWriteWithTooFewStringsThrowsAndKeepsThePlane) {
  this->writeAllInOrder();
  CStringArray lines;
  for (int i = 0; i < kLines - 1; ++i) lines.Add(text(Bytes(kLineSize, 'x')));
  EXPECT_TRUE(throwsPtr<CInvalidArgException>(
      [&] { this->plane->writeAllDati(lines); }));
  for (int i = 0; i < kLines; ++i) EXPECT_EQ(this->read(i), sampleLine(i));
}

TYPED_TEST(PlaneStorageContract, TransfersLinesOfTheLineLength) {
  EXPECT_EQ(this->plane->LineBytes(), kLineSize);
  EXPECT_EQ(this->plane->LineCount(), kLines);
}

TYPED_TEST(PlaneStorageContract, NothingCrossesTheRegionEnd) {
  // Room for far less than the plane: whatever the encoding refuses (a line,
  // or the commit), no byte at or past the end is written.
  const ULONGLONG end = kRegion + 30;
  this->plane->SetRegionEnd(end);
  for (int i = 0; i < kLines; ++i) this->write(i, sampleLine(i));
  this->plane->commit();
  EXPECT_LE(this->file.GetLength(), end);
}
