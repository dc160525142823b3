// Opening, creating (layout byte for byte) and closing image files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "image/ImageCheck.h"
#include "image/ImageFiles.h"

using namespace imgtest;  // NOLINT: the test-local helpers

namespace {

// Reads leave the caller's and the line buffer alone; writes report 0.
void expectNoTransfer(BtreeImg& img, short p) {
  Bytes guard(8, 0xEE);
  EXPECT_EQ(img.at(1, p, guard.data()), 1);
  EXPECT_EQ(guard, Bytes(8, 0xEE));
  EXPECT_EQ(img.wLinea(chars(guard), 1, p), 0);
  img.at(0, p)->fill(0x42);
  EXPECT_EQ(bufferLine(img, 2, p), Bytes(img.dimx(p), 0x42));
}

// The documented readings of odd fields (damage in general: TruncationSweep).
TEST(OpenFile, OddCountsLinesAndEncodingsReadAsDocumented) {
  const Lines lines = patternPlane(1, 3, 6);
  for (unsigned stored : {0u, 0xFFFDu}) {  // a count of 0 or -3: one plane
    DiskImage disk{buildImage(3, {{0, lines}, {0, lines}}).bytes};
    put16(disk.bytes, 1000, stored);
    BtreeImg img(disk.save().c_str());
    EXPECT_EQ(img.nPiani(), static_cast<short>(stored));
    expectLines(img, {lines});
    EXPECT_TRUE(invalidArg([&] { img.dimx(2); }));
  }
  {  // Version 4 reads plane 1 of an undefined encoding as raw.
    DiskImage disk{buildImage(4, {{7, lines}}).bytes};
    BtreeImg img(disk.save().c_str());
    EXPECT_EQ(img.isPacked(1), 7);
    expectLines(img, {lines});
  }
  for (int pack : {0, 1, 2}) {  // a first plane of 5-byte lines, 0 lines
    DiskImage disk{buildImage(2, {{pack, {Bytes(5)}}}).bytes};
    put16(disk.bytes, 12, 0);
    BtreeImg img(disk.save().c_str());
    EXPECT_EQ(img.wLinea(chars(disk.bytes), -1, 1), 0);
    img.SetBassoAltoSinistraDestra();
    expectNoTransfer(img, 1);
  }
  // Planes of an undefined encoding have no storage.
  DiskImage disk{buildImage(2, {{9, lines}, {0, lines}, {9, lines}}).bytes};
  BtreeImg img(disk.save().c_str());
  for (short p : {1, 3}) {
    expectNoTransfer(img, p);
    EXPECT_EQ(writePlane(img, lines, p), 0);
  }
  EXPECT_EQ(readLine(img, 2, 2), lines[2]);
}

TEST(OpenRefused, FilesThatCannotBeOpenedOrClaimMoreThanTheyHold) {
  auto refused = [](const std::string& path, int cause) {
    auto e = catchPtr<CFileException>([&] { BtreeImg img(path.c_str()); });
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->m_cause, cause);
    EXPECT_STREQ(e->m_strFileName, path.c_str());
  };
  TempDir dir;
  refused(dir.file("absent.img"), CFileException::fileNotFound);
  EXPECT_TRUE(throwsPtr<CFileException>(
      [&] { BtreeImg img(dir.path().string().c_str()); }));
  // Six planes, 0xFFFFFFFF-byte lines, a 65535 x 65535 whole-plane plane.
  DiskImage six{buildPatternImage(2, 0, 5, 4, 2).bytes},
      wide{buildPatternImage(4, 0, 1, 6, 2).bytes},
      tall{buildPatternImage(2, 2, 2, 6, 2).bytes};
  put16(six.bytes, 1000, 6);
  put32(wide.bytes, 10, 0xFFFFFFFFu);
  put32(tall.bytes, 10, 0xFFFFFFFFu);
  for (DiskImage* disk : {&six, &wide, &tall})
    refused(disk->save(), CFileException::invalidFile);
  // A packed line of 300000 zero bytes codes in a few kilobytes and opens.
  for (int pack : {1, 2}) {
    DiskImage disk{buildImage(4, {{pack, {Bytes(300000, 0)}}}).bytes};
    BtreeImg img(disk.save().c_str());
    EXPECT_EQ(readLine(img, 0, 1, 1), Bytes(300000, 0));
  }
}

// The version follows dimensions and plane count; arguments outside the
// format (version 0) are refused and create no file.
TEST(CreateImage, VersionFollowsTheArgumentsAndArgumentsOutsideAreRefused) {
  const struct {
    int pack, dimx, dimy, planes, version;
  } cases[] = {{0, 65535, 1, 2, 2},     {0, 65535, 1, 3, 3}, {0, 1, 65535, 2, 2},
               {0, 7, 3, 5, 3},         {0, 65536, 1, 1, 4}, {0, 65536, 1, 3, 4},
               {0, 1, 65536, 2, 4},     {0, 0, 5, 1, 0},     {0, -3, 5, 1, 0},
               {0, 5, 0, 1, 0},         {0, 5, -1, 1, 0},    {0, 5, 5, 0, 0},
               {0, 5, 5, 6, 0},         {-1, 5, 5, 1, 0},    {3, 5, 5, 1, 0},
               {0, 65536, 65536, 2, 0}, {0, 40000, 60000, 3, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.pack << ": " << c.dimx << " x " << c.dimy << " x "
                                    << c.planes);
    TempDir dir;
    auto create = [&] {  // the fields are pinned with the created layouts below
      BtreeImg img(dir.file("v.img").c_str(), c.pack, c.dimx, c.dimy, static_cast<short>(c.planes));
      EXPECT_EQ(img.Version(), c.version);
    };
    if (c.version != 0) {
      create();
    } else {
      EXPECT_TRUE(invalidArg(create) && !fs::exists(dir.file("v.img")));
    }
  }
}

// The two documented examples and a version-3 chain of five planes.
TEST(CreatedLayout, TheDocumentedExamplesAndAChainByteForByte) {
  const Bytes f2 = createdBytes(0, patternPlanes(2, 50, 100)),
              f4 = createdBytes(0, patternPlanes(2, 2, 70000));
  EXPECT_EQ(get32(f2, 1006), 6312u);  // plane 2's block; region 7624..12623
  ASSERT_EQ(f2.size(), 12624u);
  EXPECT_TRUE(f2 == buildPatternImage(2, 0, 2, 100, 50, false).bytes);
  EXPECT_EQ(get32(f4, 10), 70000u);
  EXPECT_EQ(get32(f4, 1002), 141312u);  // plane 2's region from 142624
  ASSERT_EQ(f4.size(), 142624u + 140000);
  EXPECT_TRUE(f4 == buildPatternImage(4, 0, 2, 70000, 2, false).bytes);
  EXPECT_TRUE(createdBytes(0, patternPlanes(5, 6, 40)) ==
              buildPatternImage(3, 0, 5, 40, 6, false).bytes);
  const Bytes packed = createdBytes(2, patternPlanes(5, 6, 40));  // the encoding in every block
  for (unsigned p = 0; p < 5; ++p) EXPECT_EQ(get16(packed, p * (1312 + 240) + 4), 2u);
}

TEST(CreateFromHeader, ClosesToTheHeaderAndTheLinesInItsOrANewEncoding) {
  for (int version : {2, 3, 4}) {
    SCOPED_TRACE(version);
    DiskImage source{buildPatternImage(version, 0, 3, 6, 4).bytes};
    Bytes header(kBlock);
    BtreeImg(source.save().c_str()).readHeader(header.data(), 1);
    const std::string path = source.dir.file("copy.img");
    const Lines lines = patternPlane(7, 4, 6);
    for (short pack : {-1, 1}) {  // -1: the header's own
      {
        BtreeImg img(path.c_str(), header.data(), 1, pack);
        EXPECT_EQ(writePlane(img, lines, 1), 1);
      }
      Bytes expected = header;
      put16(expected, 1000, 1);  // the block states the one plane made
      if (pack >= 0) {  // a new encoding, and no chain
        put16(expected, 4, static_cast<unsigned>(pack));
        put32(expected, 1002, 0);
      }
      const Bytes code = region(pack, lines);
      expected.insert(expected.end(), code.begin(), code.end());
      EXPECT_TRUE(readFile(path) == expected);
    }
  }
  // No header, version 5, or encoding 3 kept (-1): refused.
  TempDir dir;
  const std::string path = dir.file("h.img");
  Bytes header = buildPatternImage(2, 0, 1, 4, 2).bytes;
  header.resize(kBlock);
  EXPECT_TRUE(invalidArg([&] { BtreeImg img(path.c_str(), nullptr, 1, -1); }));
  put16(header, 0, 5);
  EXPECT_TRUE(invalidArg([&] { BtreeImg img(path.c_str(), header.data(), 1, 0); }));
  put16(header, 0, 2);
  put16(header, 4, 3);
  EXPECT_TRUE(invalidArg([&] { BtreeImg img(path.c_str(), header.data(), 1, -1); }));
  // A header-built packed plane without line 0 still saves sound.
  for (int written : {0, 1}) {
    {
      BtreeImg img(path.c_str(), header.data(), 1, 1);
      Bytes line{5, 5, 6, 6};
      if (written) img.wLinea(chars(line), 1, 1);
    }
    const Bytes f = readFile(path);
    EXPECT_EQ(ImageCheck().Inspect(f.data(), f.size()), ImageCheck::sound) << written;
  }
}

// closeImg writes once (failures: tests/robustness, SavedImageTest).
TEST(CloseImage, WritesOnce) {
  TempDir dir;
  const std::string path = dir.file("keep.img");
  {
    BtreeImg img(path.c_str(), 0, 6, 3, 1);
    img.closeImg();
    fs::remove(path);
    img.closeImg();  // once only
  }
  EXPECT_FALSE(fs::exists(path));
}

}  // namespace
