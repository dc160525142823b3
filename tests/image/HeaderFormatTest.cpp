// The image file's layout as created, and the header operations.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "framework/Exceptions.h"
#include "image/BtreeImg.h"
#include "image/ImageFiles.h"
#include "support/TestFiles.h"
#include "support/ThrownPtr.h"

using namespace imgtest;  // NOLINT: the test-local helpers
using testfiles::readFile;
using testfiles::TempDir;
using testfiles::throwsPtr;

namespace {

// Creates a raw image, writes pattern lines into every plane, closes it and
// returns the file and the lines written.
Bytes createWithPatterns(int dimx, int dimy, short planes,
                         std::vector<PlaneSpec>& specs) {
  TempDir dir;
  const std::string path = dir.file("created.img");
  BtreeImg img(path.c_str(), 0, dimx, dimy, planes);
  for (short p = 1; p <= planes; ++p) {
    specs.push_back({0, patternPlane(p, static_cast<unsigned>(dimy),
                                     static_cast<std::size_t>(dimx))});
    for (int y = 0; y < dimy; ++y)
      EXPECT_EQ(img.wLinea(chars(specs.back().lines[y]), y, p), 1);
  }
  img.closeImg();
  return readFile(path);
}

TEST(CreatedLayout, TheTwoDocumentedExamplesByteForByte) {
  std::vector<PlaneSpec> v2, v4;
  const Bytes f2 = createWithPatterns(100, 50, 2, v2);
  EXPECT_EQ(get32(f2, 1006), 6312u);  // plane 2's block; region 7624..12623
  EXPECT_TRUE(sameBytes(f2, buildImage(2, v2, false).bytes));
  ASSERT_EQ(f2.size(), 12624u);

  const Bytes f4 = createWithPatterns(70000, 2, 2, v4);
  EXPECT_EQ(get32(f4, 10), 70000u);
  EXPECT_EQ(get32(f4, 1002), 141312u);  // plane 2's region from 142624
  EXPECT_TRUE(sameBytes(f4, buildImage(4, v4, false).bytes));
  ASSERT_EQ(f4.size(), 142624u + 140000);
}

TEST(CreatedLayout, UnwrittenImagesEndAfterTheLastPlanesLineZero) {
  TempDir dir;
  { BtreeImg img(dir.file("1.img").c_str(), 0, 37, 9, 1); }
  { BtreeImg img(dir.file("2.img").c_str(), 0, 30, 7, 2); }
  const Bytes one = readFile(dir.file("1.img")),
              two = readFile(dir.file("2.img"));
  ASSERT_EQ(one.size(), kBlock + 37);
  EXPECT_EQ(slice(one, 1002, 20), Bytes(20, 0));  // every offsetPiano slot
  EXPECT_EQ(slice(one, kBlock, 37), Bytes(37, 1));
  ASSERT_EQ(two.size(), 30u * 7 + 2624 + 30);
  EXPECT_EQ(get32(two, 1006), 30u * 7 + kBlock);
  EXPECT_EQ(slice(two, kBlock, 30), Bytes(30, 1));
  EXPECT_EQ(slice(two, 30 * 7 + kBlock, 6), (Bytes{30, 0, 7, 0, 0, 0}));
  EXPECT_EQ(slice(two, 30 * 7 + 2 * kBlock, 30), Bytes(30, 0));
}

struct VersionCase {
  int dimx, dimy;
  short planes;
  int version;
};
class VersionChoice : public ::testing::TestWithParam<VersionCase> {};

TEST_P(VersionChoice, FollowsTheDimensionsAndThePlaneCount) {
  const VersionCase c = GetParam();
  TempDir dir;
  {
    BtreeImg img(dir.file("v.img").c_str(), 0, c.dimx, c.dimy, c.planes);
    EXPECT_EQ(img.Version(), c.version);
    EXPECT_EQ(img.dimy(c.planes), static_cast<unsigned>(c.dimy));
  }
  const Bytes f = readFile(dir.file("v.img"));
  EXPECT_EQ(get16(f, 0), static_cast<unsigned>(c.version));
  if (c.version == 4) {
    EXPECT_EQ(slice(f, 10, 8),
              slice(buildPatternImage(4, 0, 1, c.dimx, c.dimy).bytes, 10, 8));
  } else {
    EXPECT_EQ(slice(f, 10, 10),
              slice(buildPatternImage(2, 0, 1, c.dimx, c.dimy).bytes, 10, 10));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Boundaries, VersionChoice,
    ::testing::Values(VersionCase{65535, 1, 2, 2}, VersionCase{65535, 1, 3, 3},
                      VersionCase{1, 65535, 2, 2}, VersionCase{7, 3, 5, 3},
                      VersionCase{65536, 1, 1, 4}, VersionCase{65536, 1, 3, 4},
                      VersionCase{1, 65536, 2, 4}));

// ---- Header operations on created images
// -------------------------------------

// A created image of each version: v2 with 2 planes, v3 with 3, v4 with 2.
struct Created {
  int version, dimx, dimy;
  short planes;
  std::size_t span() const {
    return static_cast<std::size_t>(dimx) * dimy + kBlock;
  }
};
const Created kCreated[] = {{2, 10, 4, 2}, {3, 10, 4, 3}, {4, 65536, 1, 2}};

TEST(HeaderOperations, LeaveThePositionWhereDocumented) {
  for (const Created& c : kCreated) {
    SCOPED_TRACE(c.version);
    TempDir dir;
    BtreeImg img(dir.file("p.img").c_str(), 0, c.dimx, c.dimy, c.planes);
    Bytes map(768), header(kBlock);
    img.readMap(map.data());
    EXPECT_EQ(img.GetPosition(), 788u);
    img.writePack(2);
    img.writeDimensioni(1);
    img.writeParametri(2);
    img.writeFileOffsetPiano(
        1, c.version == 2 ? 0 : static_cast<unsigned long>(c.span()));
    EXPECT_EQ(img.GetPosition(), 788u);
    img.readHeader(header.data(), 1);
    img.writeHeader(header.data(), 1);
    EXPECT_EQ(img.GetPosition(), 1312u);
    img.writeMap(map.data());
    EXPECT_EQ(img.GetPosition(), 788u);
    img.readHeader(header.data(), 2);
    img.writeHeader(header.data(), 2);
    EXPECT_EQ(img.GetPosition(), c.span() + kBlock);
    for (short p = 1; p <= c.planes; ++p) EXPECT_EQ(img.dimHeader(p), 1312);
  }
}

TEST(HeaderOperations, WriteDimensioniWritesFieldsOfTheVersionsWidth) {
  for (const Created& c : kCreated) {
    SCOPED_TRACE(c.version);
    TempDir dir;
    const unsigned newX = c.version == 4 ? 0x00020301u : 0x0203u;
    const std::size_t second = c.span();
    {
      BtreeImg img(dir.file("d.img").c_str(), 0, c.dimx, c.dimy, c.planes);
      // Reserved bytes behind the dimensions marked in the copy and the
      // memory file, so that a wider write would show.
      Bytes header(kBlock);
      img.readHeader(header.data(), 1);
      const std::size_t from = c.version == 4 ? 18 : 14;
      std::memset(header.data() + from, 0xAA, 20 - from);
      img.writeHeader(header.data(), 1);
      img.SetDimX(static_cast<int>(newX), 1);  // header copy only
      img.writeDimensioni(1);
      img.SetDimX(0x0102, 2);
      img.writeDimensioni(2);
    }
    const Bytes f = readFile(dir.file("d.img"));
    if (c.version == 4) {
      EXPECT_EQ(slice(f, 10, 10),
                (Bytes{0x01, 0x03, 0x02, 0, 1, 0, 0, 0, 0xAA, 0xAA}));
      EXPECT_EQ(slice(f, second + 10, 10),
                (Bytes{2, 1, 0, 0, 1, 0, 0, 0, 0, 0}));
    } else {
      EXPECT_EQ(slice(f, 10, 10),
                (Bytes{3, 2, 4, 0, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA}));
      const std::size_t own = c.version == 2 ? 0 : 10;  // plane 2's own fields
      EXPECT_EQ(slice(f, second + own, 6), (Bytes{2, 1, 4, 0, 0, 0}));
    }
  }
}

TEST(HeaderOperations,
     WriteHeaderGoesToThePlanesBlockAndReadHeaderGivesTheVersionArea) {
  for (const Created& c : kCreated) {
    SCOPED_TRACE(c.version);
    TempDir dir;
    Bytes first(kBlock, 0xCD), second(kBlock);
    {
      BtreeImg img(dir.file("h.img").c_str(), 0, c.dimx, c.dimy, c.planes);
      img.readHeader(first.data(), 1);
      img.readHeader(second.data(), 2);
      second[700] = 0x77;
      img.writeHeader(second.data(), 2);
      Bytes back(kBlock);
      img.readHeader(back.data(), 2);
      EXPECT_EQ(back, second);
    }
    const Bytes f = readFile(dir.file("h.img"));
    EXPECT_EQ(slice(f, 0, kBlock), first);
    EXPECT_EQ(slice(f, c.span(), kBlock), second);
  }
  // Version 3 finds a further block through the one before it.
  TempDir dir;
  Bytes second(kBlock), third(kBlock);
  {
    BtreeImg img(dir.file("c.img").c_str(), 0, 10, 4, 3);
    img.readHeader(second.data(), 2);
    EXPECT_EQ(get32(second, 1002), 2 * (40 + kBlock));
    put32(second, 1002, 20000);  // plane 3's block moves to 20000
    img.writeHeader(second.data(), 2);
    img.readHeader(third.data(), 3);
    third[900] = 0x33;
    img.writeHeader(third.data(), 3);
  }
  const Bytes f = readFile(dir.file("c.img"));
  ASSERT_EQ(f.size(), 20000 + kBlock);
  EXPECT_EQ(slice(f, 20000, kBlock), third);
}

TEST(HeaderOperations, OffsetSlotsOfTheVersionArea) {
  TempDir dir;
  for (const Created& c : kCreated) {  // plane 0: nothing changes
    const std::string a = dir.file("a.img"), b = dir.file("b.img");
    { BtreeImg img(a.c_str(), 0, c.dimx, c.dimy, c.planes); }
    {
      BtreeImg img(b.c_str(), 0, c.dimx, c.dimy, c.planes);
      img.writeOffsetPiano(0, 12345);
      img.writeFileOffsetPiano(0, 999);
    }
    EXPECT_EQ(readFile(a), readFile(b)) << c.version;
  }
  {  // Version 2: entry p - 1 of the first block's table, rewritten on file.
    {
      BtreeImg img(dir.file("o2.img").c_str(), 0, 10, 4, 2);
      img.writeFileOffsetPiano(2, 0x01020304);
    }
    EXPECT_EQ(get32(readFile(dir.file("o2.img")), 1006), 0x01020304u);
  }
  {  // Version 3: plane p's own block; only the first block goes to the file.
    {
      BtreeImg img(dir.file("o3.img").c_str(), 0, 10, 4, 3);
      img.writeFileOffsetPiano(2, 0x0A0B0C0D);
      Bytes second(kBlock);
      img.readHeader(second.data(), 2);
      EXPECT_EQ(get32(second, 1002), 0x0A0B0C0Du);
      img.writeFileOffsetPiano(1, 0x11223344);
    }
    const Bytes f = readFile(dir.file("o3.img"));
    EXPECT_EQ(get32(f, 1002), 0x11223344u);
    EXPECT_EQ(get32(f, 40 + kBlock + 1002), 2 * (40 + kBlock));
  }
  // writeOffsetPiano: the copy and the storage's data start, not the file.
  Bytes line = patternLine(1, 0, 8);
  {
    BtreeImg img(dir.file("o.img").c_str(), 0, 8, 4, 1);
    img.writeOffsetPiano(1, 3000);
    Bytes header(kBlock);
    img.readHeader(header.data(), 1);
    EXPECT_EQ(get32(header, 1002), 3000u);
    EXPECT_EQ(img.wLinea(chars(line), 0, 1), 1);
  }
  const Bytes f = readFile(dir.file("o.img"));
  ASSERT_EQ(f.size(), 3008u);
  EXPECT_EQ(slice(f, 3000, 8), line);
  EXPECT_EQ(get32(f, 1002), 0u);
}

TEST(ColourMap, WriteMapChangesTheMemoryFileButNotTheHeaderCopy) {
  DiskImage disk(buildPatternImage(2, 0, 1, 6, 3).bytes);
  const std::string path = disk.save();
  {
    BtreeImg img(path.c_str());
    EXPECT_EQ(img.GetRgbHeader(255, 2, 0), mapByte(255, 2));
    Bytes map(768, 0x42), back(768);
    img.writeMap(map.data());
    img.readMap(back.data());
    EXPECT_EQ(back, map);
    EXPECT_EQ(img.GetRgbHeader(7, 1, 0), mapByte(7, 1));
    // The first block written again brings its own map bytes back.
    Bytes header(kBlock);
    img.readHeader(header.data(), 1);
    img.writeHeader(header.data(), 1);
    img.readMap(back.data());
    EXPECT_EQ(back, slice(disk.bytes(), 20, 768));
    EXPECT_TRUE(
        throwsPtr<CInvalidArgException>([&] { img.GetRgbHeader(256, 0, 0); }));
    EXPECT_TRUE(
        throwsPtr<CInvalidArgException>([&] { img.GetRgbHeader(0, 3, 0); }));
    EXPECT_TRUE(
        throwsPtr<CInvalidArgException>([&] { img.GetRgbHeader(-1, 0, 0); }));
  }
  EXPECT_EQ(readFile(path), disk.bytes());  // an opened file is never written
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
