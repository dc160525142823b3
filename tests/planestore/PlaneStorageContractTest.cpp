// The contract every plane encoding keeps, run against all three; the
// encodings' own test files pin their byte layouts and malformed regions.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <climits>
#include <memory>

#include "PlaneBytes.h"
#include "framework/CStringArray.h"
#include "framework/Exceptions.h"
#include "planestore/BtreePacked.h"
#include "planestore/BtreePackedSpeed.h"
#include "planestore/BtreeUnPacked.h"
#include "support/ThrownPtr.h"

using namespace planetest;

namespace {

constexpr int kLineSize = 20;
constexpr int kLines = 5;

// Line i: a run, a stretch of distinct bytes, and another run.
Bytes sampleLine(int i, int salt = 0) {
  Bytes line(kLineSize, static_cast<unsigned char>(i + salt));
  for (int k = 6; k < 12; ++k) line[k] = static_cast<unsigned char>(k * 17 + i);
  std::fill(line.begin() + 12, line.end(), static_cast<unsigned char>(200 - i));
  return line;
}

template <typename Encoding>
class PlaneStorageContract : public ::testing::Test {
 protected:
  PlaneStorageContract() { reopen(); }

  // A new storage object over the same region, as an image reopened from
  // the same file would make.
  void reopen() {
    plane = std::make_unique<Encoding>(&file, kRegion, kLineSize, kLines);
  }

  void writeAll(int salt = 0) {
    for (int i = 0; i < kLines; ++i)
      ASSERT_EQ(writeLine(*plane, i, sampleLine(i, salt)), 1);
  }

  // Line i reads back as expected(i), read last line first.
  template <class F>
  void expectLines(F expected) {
    for (int i = kLines - 1; i >= 0; --i) {
      int status = 0;
      EXPECT_EQ(readLine(*plane, i, kLineSize, 0x33, &status), expected(i))
          << "line " << i;
      EXPECT_EQ(status, 1);
    }
  }
  void expectSamples(int salt = 0) {
    expectLines([salt](int i) { return sampleLine(i, salt); });
  }

  CMemFile file;
  std::unique_ptr<BtreeMod> plane;
};

using Encodings =
    ::testing::Types<BtreeUnPacked, BtreePacked, BtreePackedSpeed>;
TYPED_TEST_SUITE(PlaneStorageContract, Encodings);

}  // namespace

TYPED_TEST(PlaneStorageContract,
           LineNumbersOutsideThePlaneAreRefusedWithoutTransfer) {
  this->writeAll();
  ASSERT_EQ(this->plane->commit(), 1);
  const Bytes stored = wholeFile(this->file);
  for (int line : {-1, kLines, kLines + 100, INT_MIN, INT_MAX}) {
    int status = 1;
    EXPECT_EQ(readLine(*this->plane, line, kLineSize, 0x33, &status),
              Bytes(kLineSize, 0x33));
    EXPECT_EQ(status, 0);
    EXPECT_EQ(writeLine(*this->plane, line, Bytes(kLineSize, 1)), 0);
  }
  ASSERT_EQ(this->plane->commit(), 1);
  EXPECT_EQ(wholeFile(this->file), stored);
  this->expectSamples();
}

// Too few strings throw before anything is written; string i is stored as
// line i, padded with zero bytes or cut, and strings beyond the plane are
// ignored.
TYPED_TEST(PlaneStorageContract,
           WholePlaneWriteStoresStringIAsLineIOrThrowsForTooFewStrings) {
  this->writeAll(7);
  ASSERT_EQ(this->plane->commit(), 1);
  const Bytes stored = wholeFile(this->file);
  CStringArray lines;
  for (int count : {0, kLines - 1}) {
    while (lines.GetSize() < count) lines.Add(text(sampleLine(count)));
    EXPECT_TRUE(testfiles::throwsPtr<CInvalidArgException>(
        [&] { this->plane->writeAllDati(lines); }));
  }
  EXPECT_EQ(wholeFile(this->file), stored);
  this->expectSamples(7);
  lines.RemoveAll();
  for (int i = 0; i < kLines - 2; ++i) lines.Add(text(sampleLine(i)));
  lines.Add("abc");
  lines.Add(text(concat(sampleLine(kLines - 1), Bytes(9, 'x'))));
  lines.Add("one string more than the plane has lines is ignored");
  ASSERT_EQ(this->plane->writeAllDati(lines), 1);
  Bytes padded(kLineSize, 0);
  std::copy_n("abc", 3, padded.begin());
  for (int pass = 0; pass < 2; ++pass) {  // at once, then after a reopen
    this->expectLines(
        [&](int i) { return i == kLines - 2 ? padded : sampleLine(i); });
    ASSERT_EQ(this->plane->commit(), 1);
    this->reopen();
  }
}

// Any plane, built from runs that cross line ends freely and cut into lines,
// written line by line over a stored plane of one byte value and committed
// behind a header, reads back at once and through a new object; a whole-plane write of the same lines, with some of their
// trailing zero bytes left out, stores the very same bytes.
TYPED_TEST(PlaneStorageContract, AnyPlaneRoundTripsThroughTheMemoryFile) {
  using Runs = std::vector<std::pair<unsigned char, unsigned short>>;
  EXPECT_TRUE(rc::check([](const Runs& runs) {
    const int width = *rc::gen::inRange(0, 400);
    const int count = *rc::gen::inRange(0, 40);
    Bytes all;
    for (const auto& [value, length] : runs)
      all.insert(all.end(), length % 8 == 0 ? length % 700 : 1, value);
    all.resize(static_cast<std::size_t>(width * count), 0);
    const Bytes header = {'h', 'e', 'a', 'd'};
    CMemFile file, other;
    file.Write(header.data(), 4);
    other.Write(header.data(), 4);
    TypeParam plane(&file, 4, width, count), whole(&other, 4, width, count);
    for (int i = 0; i < count; ++i)
      RC_ASSERT(writeLine(plane, i, Bytes(Bytes::size_type(width), 0x5A)) == 1);
    RC_ASSERT(plane.commit() == 1);
    CStringArray strings;
    for (int i = 0; i < count; ++i) {
      Bytes line(all.begin() + i * width, all.begin() + (i + 1) * width);
      RC_ASSERT(plane.writeAt(i, line.data()) == 1);
      RC_ASSERT(readLine(plane, i, line.size()) == line);
      std::size_t zeros = 0;
      while (zeros < line.size() && line[line.size() - 1 - zeros] == 0) ++zeros;
      line.resize(line.size() - *rc::gen::inRange<std::size_t>(0, zeros + 1));
      strings.Add(text(line));
    }
    RC_ASSERT(plane.commit() == 1);
    RC_ASSERT(whole.writeAllDati(strings) == 1);
    RC_ASSERT(whole.commit() == 1);
    RC_ASSERT(wholeFile(other) == wholeFile(file));
    RC_ASSERT(fileBytes(file, 0, 4) == header);
    TypeParam reopened(&file, 4, width, count);
    for (int i = 0; i < count; ++i) {
      RC_ASSERT(readLine(reopened, i, width) ==
                Bytes(all.begin() + i * width, all.begin() + (i + 1) * width));
    }
  }));
}
