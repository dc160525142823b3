// The image file's layout as created, and the header operations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "framework/Exceptions.h"
#include "image/BtreeImg.h"
#include "image/ImageFiles.h"
#include "support/ThrownPtr.h"

using namespace imgtest;  // NOLINT: the test-local helpers
using testfiles::readFile;
using testfiles::TempDir;
using testfiles::throwsPtr;

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

TEST(CreatedLayout, UnwrittenImagesEndAfterTheLastPlanesLineZero) {
  TempDir dir;
  { BtreeImg img(dir.file("2.img").c_str(), 0, 30, 7, 2); }
  const Bytes two = readFile(dir.file("2.img"));
  ASSERT_EQ(two.size(), 30u * 7 + 2624 + 30);
  EXPECT_EQ(get32(two, 1002), 0u);
  EXPECT_EQ(get32(two, 1006), 30u * 7 + kBlock);
  EXPECT_EQ(slice(two, kBlock, 30), Bytes(30, 1));  // plane 1's line 0
  EXPECT_EQ(slice(two, 30 * 7 + kBlock, 6), (Bytes{30, 0, 7, 0, 0, 0}));
  EXPECT_EQ(slice(two, 30 * 7 + 2 * kBlock, 30), Bytes(30, 0));
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

// ---- Header operations on created images
// --------------------------------------

// A created image of each version: v2 with 2 planes, v3 with 3, v4 with 2.
struct Created {
  int version, dimx, dimy;
  short planes;
  std::size_t span() const {
    return static_cast<std::size_t>(dimx) * dimy + kBlock;
  }
};
const Created kCreated[] = {{2, 10, 4, 2}, {3, 10, 4, 3}, {4, 65536, 1, 2}};

TEST(HeaderOperations, WriteWhereTheVersionsLayoutSaysAndMoveThePositionSo) {
  for (const Created& c : kCreated) {
    SCOPED_TRACE(c.version);
    TempDir dir;
    Bytes map(768), first(kBlock), second(kBlock), back(kBlock);
    {
      BtreeImg img(dir.file("h.img").c_str(), 0, c.dimx, c.dimy, c.planes);
      img.readMap(map.data());
      EXPECT_EQ(img.GetPosition(), 788u);
      // Reserved bytes behind the dimensions marked, so a wider write shows.
      img.readHeader(first.data(), 1);
      const std::size_t from = c.version == 4 ? 18 : 14;
      std::memset(first.data() + from, 0xAA, 20 - from);
      img.writeHeader(first.data(), 1);
      EXPECT_EQ(img.GetPosition(), 1312u);
      img.writeMap(map.data());
      img.writeFileOffsetPiano(
          1, c.version == 2 ? 0 : static_cast<unsigned long>(c.span()));
      img.SetDimX(c.version == 4 ? 0x00020301 : 0x0203, 1);  // the copy only
      img.SetPacked(1);  // the storage stays raw
      img.writeParametri(1);
      img.SetDimX(0x0102, 2);
      img.writeDimensioni(2);
      EXPECT_EQ(img.GetPosition(), 788u);
      img.readHeader(second.data(), 2);
      second[700] = 0x77;
      img.writeHeader(second.data(), 2);
      EXPECT_EQ(img.GetPosition(), c.span() + kBlock);
      img.readHeader(back.data(), 2);
      EXPECT_EQ(back, second);
      for (short p = 1; p <= c.planes; ++p) EXPECT_EQ(img.dimHeader(p), 1312);
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

TEST(HeaderOperations, OffsetSlotsAreTheTableOrTheChainOfTheVersionArea) {
  TempDir dir;
  {  // Version 2: entry p - 1 of the first block's table, rewritten on file.
    BtreeImg img(dir.file("o2.img").c_str(), 0, 10, 4, 2);
    img.writeFileOffsetPiano(2, 0x01020304);
  }
  EXPECT_EQ(get32(readFile(dir.file("o2.img")), 1006), 0x01020304u);
  // Version 3: plane p's own block, where writeHeader then finds plane p + 1;
  // only the first block goes to the file.
  Bytes second(kBlock), third(kBlock);
  {
    BtreeImg img(dir.file("o3.img").c_str(), 0, 10, 4, 3);
    img.writeFileOffsetPiano(2, 20000);
    img.readHeader(second.data(), 2);
    EXPECT_EQ(get32(second, 1002), 20000u);
    img.readHeader(third.data(), 3);
    third[900] = 0x33;
    img.writeHeader(third.data(), 3);
    img.writeFileOffsetPiano(1, 0x11223344);
  }
  const Bytes f3 = readFile(dir.file("o3.img"));
  EXPECT_EQ(get32(f3, 1002), 0x11223344u);
  EXPECT_EQ(get32(f3, 40 + kBlock + 1002), 2 * (40 + kBlock));
  ASSERT_EQ(f3.size(), 20000 + kBlock);
  EXPECT_EQ(slice(f3, 20000, kBlock), third);
  // writeOffsetPiano: the copy and the storage's data start, not the file.
  Bytes line = patternLine(1, 0, 8);
  {
    BtreeImg img(dir.file("o.img").c_str(), 0, 8, 4, 1);
    img.writeOffsetPiano(1, 3000);
    img.readHeader(second.data(), 1);
    EXPECT_EQ(get32(second, 1002), 3000u);
    EXPECT_EQ(img.wLinea(chars(line), 0, 1), 1);
  }
  const Bytes f = readFile(dir.file("o.img"));
  ASSERT_EQ(f.size(), 3008u);
  EXPECT_EQ(slice(f, 3000, 8), line);
  EXPECT_EQ(get32(f, 1002), 0u);
}

TEST(ColourMap, WriteMapChangesTheMemoryFileButNotTheHeaderCopy) {
  DiskImage disk{buildPatternImage(2, 0, 1, 6, 3).bytes};
  BtreeImg img(disk.save().c_str());
  Bytes map(768, 0x42), back(768), header(kBlock);
  img.writeMap(map.data());
  img.readMap(back.data());
  EXPECT_EQ(back, map);
  EXPECT_EQ(img.GetRgbHeader(255, 2, 0), mapByte(255, 2));
  // The first block written again brings its own map bytes back.
  img.readHeader(header.data(), 1);
  img.writeHeader(header.data(), 1);
  img.readMap(back.data());
  EXPECT_EQ(back, slice(disk.bytes, 20, 768));
  for (short bad : {256, -1}) {
    EXPECT_TRUE(invalidArg([&] { img.GetRgbHeader(bad, 0, 0); }));
  }
  EXPECT_TRUE(invalidArg([&] { img.GetRgbHeader(0, 3, 0); }));
}

TEST(ModuleMessage, StaysEmptyWhenAWriteCannotGrowTheMemoryFile) {
  TempDir dir;
  ASSERT_NE(BtreeImg::moduleMessage(), nullptr);
  BtreeImg img(dir.file("m.img").c_str(), 0, 4, 2, 1);
  img.closeImg();
  // The image holds no file content any more: writes fail with the memory
  // exception, which passes through untouched and places no message.
  Bytes map(768), header(kBlock);
  img.readHeader(header.data(), 1);
  EXPECT_TRUE(throwsPtr<CMemoryException>([&] { img.writeMap(map.data()); }));
  EXPECT_TRUE(
      throwsPtr<CMemoryException>([&] { img.writeHeader(header.data(), 1); }));
  EXPECT_TRUE(throwsPtr<CMemoryException>([&] { img.writeDimensioni(1); }));
  img.readMap(map.data());  // reads nothing, fails nothing
  EXPECT_STREQ(BtreeImg::moduleMessage(), "");
}

}  // namespace
