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
// file (as for an opened image) with 6 spare bytes behind the plane; every
// byte starts as 0xEE. The original took the line width from the first
// string and wrote past the plane for a longer one. In a six-line plane
// over the same file, line 3 fits in the spare bytes, line 4 lies partly
// and line 5 wholly past the end of the file.
TEST(RawPlane, WritesStopAtTheRegionEndAndThrowPastTheFileEnd) {
  Bytes image(kRegion + 18, 0xEE);
  CMemFile file;
  file.Attach(image.data(), static_cast<UINT>(image.size()));
  BtreeUnPacked plane(&file, kRegion, 4, 3);
  auto onlyAt = [&](const Bytes& bytes) {  // the untouched image, then bytes
    Bytes expected(image.size(), 0xEE);
    std::copy(bytes.begin(), bytes.end(), expected.begin() + kRegion);
    return expected;
  };
  CStringArray lines;
  for (const char* t : {"AB", "CDEFGHIJKL", "", "ignored"}) lines.Add(t);
  plane.SetRegionEnd(kRegion + 8);  // room for lines 0 and 1
  EXPECT_EQ(plane.writeAllDati(lines), 0);
  EXPECT_EQ(writeLine(plane, 2, {5, 5, 5, 5}), 0);
  EXPECT_EQ(writeLine(plane, 1, {5, 5, 5, 5}), 1);  // ends at the region end
  EXPECT_EQ(image, onlyAt({0xEE, 0xEE, 0xEE, 0xEE, 5, 5, 5, 5}));
  plane.SetRegionEnd(BtreeMod::kNoRegionEnd);
  EXPECT_EQ(plane.writeAllDati(lines), 1);
  const Bytes written = {'A', 'B', 0, 0, 'C', 'D', 'E', 'F', 0, 0, 0, 0};
  EXPECT_EQ(image, onlyAt(written));
  BtreeUnPacked longer(&file, kRegion, 4, 6);
  for (int line : {4, 5}) {
    EXPECT_TRUE(throwsPtr<CMemoryException>([&] {
      writeLine(longer, line, {1, 2, 3, 4});
    }));
  }
  EXPECT_EQ(writeLine(longer, 3, {1, 2, 3, 4}), 1);
  EXPECT_EQ(image, onlyAt(concat(written, {1, 2, 3, 4})));
  image[image.size() - 2] = 0x11;
  image[image.size() - 1] = 0x22;
  EXPECT_EQ(readLine(longer, 4, 4, 9), (Bytes{0x11, 0x22, 9, 9}));
  EXPECT_EQ(readLine(longer, 5, 4, 9), Bytes(4, 9));
}

}  // namespace
