#include "planestore/BtreeUnPacked.h"

#include <gtest/gtest.h>

#include "PlaneBytes.h"
#include "framework/CStringArray.h"
#include "framework/Exceptions.h"
#include "support/ThrownPtr.h"

using namespace planetest;
using testfiles::throwsPtr;

namespace {

// A raw plane of 3 lines of 4 bytes at offset 1312 of a fixed-size memory
// file (as for an opened image) with 6 spare bytes behind the plane. Every
// byte starts as 0xEE, so a test can see exactly which bytes changed.
class RawPlaneTest : public ::testing::Test {
 protected:
  RawPlaneTest() : image(kRegion + 18, 0xEE), plane(&file, kRegion, 4, 3) {
    file.Attach(image.data(), static_cast<UINT>(image.size()));
  }

  // The untouched image with `bytes` at `from`.
  Bytes onlyAt(std::size_t from, const Bytes& bytes) const {
    Bytes expected(image.size(), 0xEE);
    std::copy(bytes.begin(), bytes.end(), expected.begin() + from);
    return expected;
  }

  Bytes image;
  CMemFile file;
  BtreeUnPacked plane;
};

// The original took the line width from the first string and wrote past
// the plane for a longer one. In a six-line plane over the same file, line
// 3 fits in the spare bytes, line 4 lies partly and line 5 wholly past the
// end of the file.
TEST_F(RawPlaneTest, WritesStopAtTheRegionEndAndThrowPastTheFileEnd) {
  CStringArray lines;
  for (const char* t : {"AB", "CDEFGHIJKL", "", "ignored"}) lines.Add(t);
  plane.SetRegionEnd(kRegion + 8);  // room for lines 0 and 1
  EXPECT_EQ(plane.writeAllDati(lines), 0);
  EXPECT_EQ(writeLine(plane, 2, {5, 5, 5, 5}), 0);
  EXPECT_EQ(writeLine(plane, 1, {5, 5, 5, 5}), 1);  // ends at the region end
  EXPECT_EQ(image, onlyAt(1316, {5, 5, 5, 5}));  // line i at the region + 4i
  EXPECT_EQ(readLine(plane, 1, 4), Bytes(4, 5));
  plane.SetRegionEnd(BtreeMod::kNoRegionEnd);
  EXPECT_EQ(plane.writeAllDati(lines), 1);
  const Bytes written = {'A', 'B', 0, 0, 'C', 'D', 'E', 'F', 0, 0, 0, 0};
  EXPECT_EQ(image, onlyAt(1312, written));
  BtreeUnPacked longer(&file, kRegion, 4, 6);
  for (int line : {4, 5}) {
    EXPECT_TRUE(throwsPtr<CMemoryException>([&] {
      writeLine(longer, line, {1, 2, 3, 4});
    }));
  }
  EXPECT_EQ(writeLine(longer, 3, {1, 2, 3, 4}), 1);
  EXPECT_EQ(image, onlyAt(1312, concat(written, {1, 2, 3, 4})));
  image[image.size() - 2] = 0x11;
  image[image.size() - 1] = 0x22;
  EXPECT_EQ(readLine(longer, 4, 4, 9), (Bytes{0x11, 0x22, 9, 9}));
  EXPECT_EQ(readLine(longer, 5, 4, 9), Bytes(4, 9));
}

}  // namespace
