// Line and plane access: line numbers, line order, dimensions, pack flags,
// plane numbers, and the statuses of the writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "framework/CStringArray.h"
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

class LineOrder : public ::testing::TestWithParam<int> {};

TEST_P(LineOrder, LineNumbersWrapAndCountFromTheOtherEndWhenReversed) {
  const Lines lines = patternPlane(1, 10, 6);
  DiskImage disk(buildImage(2, {{GetParam(), lines}}).bytes);
  BtreeImg img(disk.save().c_str());
  EXPECT_EQ(readLine(img, 13, 1), lines[3]);
  EXPECT_EQ(bufferLine(img, 13, 1), lines[3]);
  EXPECT_EQ(readLine(img, 0xFFFFFFFFu, 1), lines[5]);
  Mem* first = img.at(2, 1);
  EXPECT_EQ(img.at(7, 1), first);  // one buffer per plane, overwritten
  EXPECT_EQ(bufferLine(img, 7, 1), lines[7]);

  img.SetBassoAltoSinistraDestra();
  EXPECT_EQ(readLine(img, 0, 1), lines[9]);
  EXPECT_EQ(bufferLine(img, 0, 1), lines[9]);
  EXPECT_EQ(readLine(img, 12, 1), lines[3]);  // (10 - 12 - 1) mod 10
  const auto* zero = static_cast<const unsigned char*>(img.line(1)->pointer());
  EXPECT_EQ(Bytes(zero, zero + 6), lines[9]);
}

INSTANTIATE_TEST_SUITE_P(Encodings, LineOrder, ::testing::Values(0, 1, 2));

TEST(LineOrder, WritingIsNeverReversed) {
  TempDir dir;
  BtreeImg img(dir.file("w.img").c_str(), 0, 6, 10, 1);
  img.SetBassoAltoSinistraDestra();
  Bytes line = patternLine(1, 4, 6);
  EXPECT_EQ(img.wLinea(chars(line), 0, 1), 1);
  EXPECT_EQ(img.wLinea(chars(line), 15, 1), 1);  // storage line 5
  EXPECT_EQ(readLine(img, 9, 1), line);          // storage line 0
  EXPECT_EQ(readLine(img, 4, 1), line);          // storage line 5
}

class ManyLines : public ::testing::TestWithParam<int> {};

// 40000 lines of 2 bytes, line i holding i, before and after a round trip
// through the disk.
TEST_P(ManyLines, LineNumbersAbove32767ReachTheirOwnLines) {
  constexpr unsigned kLines = 40000;
  TempDir dir;
  const std::string path = dir.file("tall.img");
  auto lineOf = [](unsigned i) {
    return Bytes{static_cast<unsigned char>(i),
                 static_cast<unsigned char>(i >> 8)};
  };
  {
    BtreeImg img(path.c_str(), GetParam(), 2, kLines, 1);
    for (unsigned i = 0; i < kLines; ++i) {
      Bytes l = lineOf(i);
      ASSERT_EQ(img.wLinea(chars(l), static_cast<int>(i), 1), 1);
    }
    EXPECT_EQ(readLine(img, 32768, 1), lineOf(32768));
  }
  BtreeImg img(path.c_str());
  for (unsigned i : {32767u, 32768u, 32769u, 39999u}) {
    EXPECT_EQ(readLine(img, i, 1), lineOf(i)) << i;
    EXPECT_EQ(bufferLine(img, i + kLines, 1), lineOf(i)) << i;
  }
  img.SetBassoAltoSinistraDestra();
  EXPECT_EQ(readLine(img, 1, 1), lineOf(kLines - 2));
}

INSTANTIATE_TEST_SUITE_P(Encodings, ManyLines, ::testing::Values(0, 1, 2));

TEST(PlaneNumbers, OutsideTheHeldPlanesAreRefusedByEveryOperation) {
  DiskImage disk(buildPatternImage(3, 0, 3, 4, 2).bytes);
  BtreeImg img(disk.save().c_str());
  Bytes header(kBlock), line(4);
  CStringArray all;
  const std::vector<std::function<void(short)>> operations = {
      [&](short p) { img.at(0, p); },
      [&](short p) { img.at(0, p, line.data()); },
      [&](short p) { img.line(p); },
      [&](short p) { img.wLinea(chars(line), 0, p); },
      [&](short p) { img.wPiano(all, p); },
      [&](short p) { img.dimx(p); },
      [&](short p) { img.dimy(p); },
      [&](short p) { img.dimHeader(p); },
      [&](short p) { img.SetPacked(p); },
      [&](short p) { img.SetUnPacked(p); },
      [&](short p) { img.SetDimX(4, p); },
      [&](short p) { img.SetDimY(2, p); },
      [&](short p) { img.readHeader(header.data(), p); },
      [&](short p) { img.writeHeader(header.data(), p); },
      [&](short p) { img.writePack(p); },
      [&](short p) { img.writeDimensioni(p); },
      [&](short p) { img.writeParametri(p); },
      [&](short p) { img.writeOffsetPiano(p, 0); },  // plane 0: a no-op
      [&](short p) { img.writeFileOffsetPiano(p, 0); },
  };
  for (std::size_t i = 0; i < operations.size(); ++i) {
    for (short p : {0, -1, 4, 6, 32767}) {
      if (p == 0 && i + 2 >= operations.size()) continue;
      EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { operations[i](p); }))
          << "operation " << i << " plane " << p;
    }
  }
  EXPECT_NO_THROW(img.writeOffsetPiano(0, 77));
  EXPECT_NO_THROW(img.writeFileOffsetPiano(0, 77));
  for (short p : {0, 1, 4, -9})
    EXPECT_EQ(img.isPacked(p), 0);  // argument unused
}

TEST(EmptyPlane, AFirstPlaneOfZeroLinesTransfersNothing) {
  for (int pack : {0, 1, 2}) {
    SCOPED_TRACE(pack);
    Bytes file(kBlock, 0);
    put16(file, 0, 2);
    put16(file, 4, static_cast<unsigned>(pack));
    put16(file, 10, 5);
    put16(file, 1000, 1);
    DiskImage disk(file);
    BtreeImg img(disk.save().c_str());
    img.at(3, 1)->fill(0x42);
    EXPECT_EQ(bufferLine(img, 7, 1), Bytes(5, 0x42));
    EXPECT_EQ(readLine(img, 2, 1), Bytes(5, 0xEE));
    Bytes data(5, 1);
    EXPECT_EQ(img.wLinea(chars(data), -1, 1), 0);
    img.SetBassoAltoSinistraDestra();
    EXPECT_EQ(readLine(img, 0, 1), Bytes(5, 0xEE));
  }
}

TEST(Dimensions, VersionTwoPlanesHaveTheirOwnAndLaterVersionsThoseOfPlaneOne) {
  const Lines wide = patternPlane(1, 5, 8), narrow = patternPlane(2, 3, 4);
  for (int version : {2, 3}) {
    DiskImage disk(buildImage(version, {{0, wide}, {0, narrow}}).bytes);
    BtreeImg img(disk.save().c_str());
    EXPECT_EQ(img.dimx(2), version == 2 ? 4u : 8u);
    EXPECT_EQ(img.dimy(2), version == 2 ? 3u : 5u);
    // The storage moves lines of plane 1's length; a caller's buffer of the
    // plane's own length receives only that much.
    EXPECT_EQ(slice(readLine(img, 0, 2), 0, 4), narrow[0]);
    for (unsigned y = 0; y < 5; ++y) readLine(img, y, 2);
  }
}

class ResizedLines : public ::testing::TestWithParam<int> {};

TEST_P(ResizedLines, SetDimXResizesTheLineBufferBothWays) {
  TempDir dir;
  BtreeImg img(dir.file("x.img").c_str(), GetParam(), 8, 4, 2);
  for (short p : {1, 2}) {
    Mem* held = img.at(0, p);
    img.SetDimX(64, p);
    EXPECT_EQ(img.dimx(p), 64u);
    EXPECT_EQ(img.at(0, p), held);  // the same buffer, grown
    EXPECT_GE(held->size(), 64u);
    readLine(img, 1, p);
    img.SetDimX(3, p);
    for (unsigned y = 0; y < 4; ++y) {
      EXPECT_EQ(readLine(img, y, p).size(), 3u);
      bufferLine(img, y, p);
    }
  }
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { img.SetDimX(-1, 1); }));
}

// Found by fuzzing: in versions 3 and 4 every plane takes plane 1's line
// length, so widening plane 1 widens the others' line buffers too.
TEST_P(ResizedLines, WideningPlaneOneWidensEveryPlanesBufferInVersionThree) {
  TempDir dir;
  BtreeImg img(dir.file("x.img").c_str(), GetParam(), 16, 5, 3);
  ASSERT_EQ(img.Version(), 3);
  Mem* held = img.at(0, 3);
  img.SetDimX(38, 1);
  EXPECT_EQ(img.dimx(3), 38u);
  EXPECT_EQ(img.at(0, 3), held);
  EXPECT_GE(held->size(), 38u);
}

INSTANTIATE_TEST_SUITE_P(Encodings, ResizedLines, ::testing::Values(0, 1, 2));

TEST(Dimensions, SetDimYLaysThePlanesBehindOutAgain) {
  TempDir dir;
  const std::string path = dir.file("y.img");
  {
    BtreeImg img(path.c_str(), 0, 100, 20, 3);
    img.SetDimY(30, 1);
    EXPECT_EQ(img.dimy(3), 30u);
    Bytes header(kBlock);
    img.readHeader(header.data(), 2);
    EXPECT_EQ(get32(header, 1002), 2 * (1312u + 100 * 30));
    EXPECT_EQ(readLine(img, 0, 1), Bytes(100, 1));  // still from 1312
    img.SetDimY(6, 2);                              // plane 3 only moves
    img.readHeader(header.data(), 2);
    EXPECT_EQ(get32(header, 1002), 2 * (1312u + 100 * 6));
  }
  const Bytes f = readFile(path);
  EXPECT_EQ(get16(f, 12), 30u);  // plane 1's block written
  EXPECT_EQ(get32(f, 1002), 1312u + 100 * 30);
  EXPECT_EQ(get32(f, 1312 + 3000 + 1002),
            2 * (1312u + 100 * 6));  // and plane 2's

  BtreeImg v2(dir.file("y2.img").c_str(), 0, 10, 4, 2);
  v2.SetDimY(7, 2);
  EXPECT_EQ(v2.dimy(2), 7u);
  EXPECT_EQ(v2.dimy(1), 4u);
  EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { v2.SetDimY(-2, 1); }));
}

TEST(PackFlags, SetPackedChangesOnlyTheHeaderCopy) {
  for (int version : {2, 3, 4}) {
    SCOPED_TRACE(version);
    TempDir dir;
    const std::string path = dir.file("p.img");
    const int dimx = version == 4 ? 65536 : 100;
    Bytes line = patternLine(1, 0, static_cast<std::size_t>(dimx));
    {
      BtreeImg img(path.c_str(), 0, dimx, 1, version == 3 ? 3 : 1);
      img.SetPacked(1);
      EXPECT_EQ(img.isPacked(1),
                version == 2 ? 1 : 0);              // the version-2 first block
      EXPECT_EQ(img.wLinea(chars(line), 0, 1), 1);  // still the raw storage
      EXPECT_EQ(readLine(img, 0, 1), line);
      img.writePack(1);
    }
    const Bytes f = readFile(path);
    EXPECT_EQ(get16(f, 4), 1u);
    EXPECT_EQ(slice(f, kBlock, line.size()), line);
  }
  TempDir dir;
  BtreeImg img(dir.file("u.img").c_str(), 1, 4, 2, 1);
  img.SetUnPacked(1);
  EXPECT_EQ(img.isPacked(1), 0);
}

TEST(WriteStatus, WholePlanesAndLinesReportTheStoragesAnswer) {
  auto padded = [](char c) {  // strings shorter than a line: zero bytes behind
    Bytes l(16, 0);
    std::fill(l.begin(), l.begin() + 4, static_cast<unsigned char>(c));
    return l;
  };
  for (int pack : {0, 1, 2}) {
    SCOPED_TRACE(pack);
    TempDir dir;
    const std::string path = dir.file("s.img");
    {
      BtreeImg img(path.c_str(), pack, 16, 3, 2);
      CStringArray all;
      all.Add("aaaa");
      all.Add("bbbb");
      EXPECT_TRUE(throwsPtr<CInvalidArgException>([&] { img.wPiano(all, 2); }));
      all.Add("cccc");
      EXPECT_EQ(img.wPiano(all, 2), 1);
      EXPECT_EQ(readLine(img, 1, 2), padded('b'));
      EXPECT_EQ(img.wPiano(all, 1), 1);
      Bytes line = padded('d');
      EXPECT_EQ(img.wLinea(chars(line), 2, 1), 1);
    }
    BtreeImg img(path.c_str());
    expectLines(img, {{padded('a'), padded('b'), padded('d')},
                      {padded('a'), padded('b'), padded('c')}});
  }
}

}  // namespace
