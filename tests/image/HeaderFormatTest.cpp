// The image file's layout as created, and the header operations.
#include <gtest/gtest.h>

#include <cstring>
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
  EXPECT_TRUE(
      sameBytes(f2, buildImage(2, {{0, v2[0]}, {0, v2[1]}}, false).bytes));
  EXPECT_EQ(get32(f4, 10), 70000u);
  EXPECT_EQ(get32(f4, 1002), 141312u);  // plane 2's region from 142624
  ASSERT_EQ(f4.size(), 142624u + 140000);
  EXPECT_TRUE(
      sameBytes(f4, buildImage(4, {{0, v4[0]}, {0, v4[1]}}, false).bytes));
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
      EXPECT_EQ(img.dimy(static_cast<short>(c.planes)),
                static_cast<unsigned>(c.dimy));
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

// ---- Header operations on created images -----------------------------------

// A created image of each version: v2 with 2 planes, v3 with 3, v4 with 2.
struct Created {
  int version, dimx, dimy;
  short planes;
  std::size_t span() const {
    return static_cast<std::size_t>(dimx) * dimy + kBlock;
  }
};
const Created kCreated[] = {{2, 10, 4, 2}, {3, 10, 4, 3}, {4, 65536, 1, 2}};

TEST(HeaderOperations, WriteFieldsAndBlocksWhereTheVersionsLayoutSays) {
  for (const Created& c : kCreated) {
    SCOPED_TRACE(c.version);
    TempDir dir;
    Bytes first(kBlock), second(kBlock);
    {
      BtreeImg img(dir.file("h.img").c_str(), 0, c.dimx, c.dimy, c.planes);
      // Reserved bytes behind the dimensions marked, so a wider write shows.
      img.readHeader(first.data(), 1);
      const std::size_t from = c.version == 4 ? 18 : 14;
      std::memset(first.data() + from, 0xAA, 20 - from);
      img.writeHeader(first.data(), 1);
      img.SetDimX(c.version == 4 ? 0x00020301 : 0x0203, 1);  // the copy only
      img.SetPacked(1);  // the storage stays raw
      img.writeParametri(1);
      img.SetDimX(0x0102, 2);
      img.writeDimensioni(2);
      EXPECT_EQ(img.GetPosition(), 1312u);  // field writes seek back
      img.readHeader(second.data(), 2);
      second[700] = 0x77;
      img.writeHeader(second.data(), 2);
      EXPECT_EQ(img.GetPosition(), c.span() + kBlock);
    }
    const Bytes f = readFile(dir.file("h.img"));
    EXPECT_EQ(get16(f, 4), 1u);
    EXPECT_EQ(slice(f, 20, kBlock - 20), slice(first, 20, kBlock - 20));
    EXPECT_EQ(slice(f, kBlock, 8), Bytes(8, 1));  // line 0, raw
    EXPECT_EQ(slice(f, c.span(), kBlock), second);
    if (c.version == 4) {
      EXPECT_EQ(slice(f, 10, 10), (Bytes{1, 3, 2, 0, 1, 0, 0, 0, 0xAA, 0xAA}));
      EXPECT_EQ(slice(f, c.span() + 10, 10),
                (Bytes{2, 1, 0, 0, 1, 0, 0, 0, 0, 0}));
    } else {
      EXPECT_EQ(slice(f, 10, 10),
                (Bytes{3, 2, 4, 0, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));
      const std::size_t own = c.version == 2 ? 0 : 10;  // plane 2's own fields
      EXPECT_EQ(slice(f, c.span() + own, 6), (Bytes{2, 1, 4, 0, 0, 0}));
    }
  }
}

}  // namespace
