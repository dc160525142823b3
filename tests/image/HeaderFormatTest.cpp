// The image file's layout as created.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/BtreeImg.h"
#include "image/ImageFiles.h"

using namespace imgtest;  // NOLINT: the test-local helpers
using testfiles::readFile;
using testfiles::TempDir;

namespace {

TEST(CreatedLayout, TheTwoDocumentedExamplesByteForByte) {
  const std::vector<Lines> v2 = patternPlanes(2, 50, 100),
                           v4 = patternPlanes(2, 2, 70000);
  const Bytes f2 = createdBytes(0, v2), f4 = createdBytes(0, v4);
  EXPECT_EQ(get32(f2, 1006), 6312u);  // plane 2's block; region 7624..12623
  ASSERT_EQ(f2.size(), 12624u);
  EXPECT_TRUE(f2 == buildImage(2, {{0, v2[0]}, {0, v2[1]}}, false).bytes);
  EXPECT_EQ(get32(f4, 10), 70000u);
  EXPECT_EQ(get32(f4, 1002), 141312u);  // plane 2's region from 142624
  ASSERT_EQ(f4.size(), 142624u + 140000);
  EXPECT_TRUE(f4 == buildImage(4, {{0, v4[0]}, {0, v4[1]}}, false).bytes);
}

TEST(CreatedLayout, VersionFollowsTheDimensionsAndThePlaneCount) {
  const struct {
    int dimx, dimy, planes, version;
  } cases[] = {{65535, 1, 2, 2}, {65535, 1, 3, 3}, {1, 65535, 2, 2},
               {7, 3, 5, 3},     {65536, 1, 1, 4}, {65536, 1, 3, 4},
               {1, 65536, 2, 4}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << c.dimx << " x " << c.dimy << " x " << c.planes);
    TempDir dir;
    {
      BtreeImg img(dir.file("v.img").c_str(), 0, c.dimx, c.dimy,
                   static_cast<short>(c.planes));
      EXPECT_EQ(img.Version(), c.version);
    }
    const Bytes f = readFile(dir.file("v.img"));
    const bool wide = c.version == 4;  // u32 fields, else u16
    EXPECT_EQ(get16(f, 0), static_cast<unsigned>(c.version));
    EXPECT_EQ(wide ? get32(f, 10) : get16(f, 10),
              static_cast<unsigned>(c.dimx));
    EXPECT_EQ(wide ? get32(f, 14) : get16(f, 12),
              static_cast<unsigned>(c.dimy));
  }
}

}  // namespace
