// Line and plane access: line numbers, line order, dimensions, arguments.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "image/ImageFiles.h"

using namespace imgtest;  // NOLINT: the test-local helpers

namespace {

class Encoding : public ::testing::TestWithParam<int> {};
INSTANTIATE_TEST_SUITE_P(Encodings, Encoding, ::testing::Values(0, 1, 2));

// 33000 one-byte lines (odd ones written one round higher), written while
// reading is reversed, read back from disk.
TEST_P(Encoding, LineNumbersWrapReachAbove32767AndCountBackWhenReversed) {
  constexpr unsigned kLines = 33000;
  auto lineOf = [](unsigned i) { return Bytes{static_cast<unsigned char>(i)}; };
  TempDir dir;
  const std::string path = dir.file("tall.img");
  {
    BtreeImg img(path.c_str(), GetParam(), 1, kLines, 1);
    img.SetBassoAltoSinistraDestra();  // writing is never reversed
    for (unsigned i = 0; i < kLines; ++i) {
      Bytes l = lineOf(i);
      ASSERT_EQ(img.wLinea(chars(l), static_cast<int>(i % 2 ? i + kLines : i),
                           1),
                1);
    }
  }
  BtreeImg img(path.c_str());
  for (unsigned i : {32767u, 32768u, 32769u + kLines, 0xFFFFFFFFu})
    EXPECT_EQ(bufferLine(img, i, 1), lineOf(i % kLines)) << i;
  img.SetBassoAltoSinistraDestra();
  EXPECT_EQ(readLine(img, 1, 1), lineOf(kLines - 2));
  // Reversed, a number past the end counts back in unsigned arithmetic.
  EXPECT_EQ(readLine(img, kLines + 2, 1),
            lineOf((kLines - (kLines + 2) - 1) % kLines));
}

TEST(Arguments, PlanesOutsideTheImageAndMapEntriesOutsideTheMapAreRefused) {
  DiskImage disk{buildPatternImage(3, 0, 3, 4, 2).bytes};
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
      EXPECT_TRUE(invalidArg([&] { operations[i](p); }))
          << "operation " << i << " plane " << p;
    }
  }
  EXPECT_TRUE(invalidArg([&] { img.wPiano(all, 1); }));  // too few strings
  EXPECT_NO_THROW(img.writeOffsetPiano(0, 77));
  EXPECT_NO_THROW(img.writeFileOffsetPiano(0, 77));
  for (short p : {0, 1, 4, -9}) EXPECT_EQ(img.isPacked(p), 0);  // unused
  // Colour-map entries 0..255, components 0..2.
  for (short bad : {256, -1})
    EXPECT_TRUE(invalidArg([&] { img.GetRgbHeader(bad, 0, 0); }));
  EXPECT_TRUE(invalidArg([&] { img.GetRgbHeader(0, 3, 0); }));
  EXPECT_EQ(img.GetRgbHeader(255, 2, 0), mapByte(255, 2));
}

// Version-2 planes have their own dimensions, later ones plane 1's. SetDimY
// lays the planes behind out again, refusing positions past 32 bits.
TEST(Dimensions, OwnOrPlaneOnesAndSetDimYLaysThePlanesBehindOutAgain) {
  const Lines wide = patternPlane(1, 5, 8), narrow = patternPlane(2, 3, 4);
  for (int version : {2, 3}) {
    DiskImage disk{buildImage(version, {{0, wide}, {0, narrow}}).bytes};
    BtreeImg img(disk.save().c_str());
    EXPECT_EQ(img.dimx(2), version == 2 ? 4u : 8u);
    EXPECT_EQ(img.dimy(2), version == 2 ? 3u : 5u);
    // A caller's buffer receives only the plane's own length.
    EXPECT_EQ(slice(readLine(img, 0, 2), 0, 4), narrow[0]);
    for (unsigned y = 0; y < 5; ++y) readLine(img, y, 2);
  }
  TempDir dir;
  BtreeImg img(dir.file("x.img").c_str(), 0, 100, 10, 3);
  Bytes line(100, 7), block(kBlock);
  img.wLinea(chars(line), 4, 1);
  EXPECT_TRUE(invalidArg([&] { img.SetDimY(50000000, 1); }));
  img.SetDimY(20, 1);
  img.readHeader(block.data(), 2);
  EXPECT_EQ(get32(block, 1002), 2 * (1312u + 100 * 20));
  EXPECT_EQ(readLine(img, 4, 1), line);  // plane 1's lines did not move
}

// Line buffers grow in place; in versions 3 and 4 widening plane 1 widens all.
TEST_P(Encoding,
       SetDimXResizesTheLineBuffersInPlaceAndNegativeSizesAreRefused) {
  for (short planes : {2, 3}) {  // version 2, version 3
    TempDir dir;
    BtreeImg img(dir.file("x.img").c_str(), GetParam(), 8, 4, planes);
    std::vector<Mem*> held;
    for (short p = 1; p <= planes; ++p) held.push_back(img.at(0, p));
    for (short p = 1; p <= (planes == 2 ? 2 : 1); ++p) img.SetDimX(64, p);
    for (short p = 1; p <= planes; ++p) {
      EXPECT_EQ(img.dimx(p), 64u);
      EXPECT_EQ(img.at(0, p), held[p - 1]);
      EXPECT_GE(held[p - 1]->size(), 64u);
      readLine(img, 1, p);
    }
    for (short p = 1; p <= planes; ++p) img.SetDimX(3, p);
    for (short p = 1; p <= planes; ++p) {
      for (unsigned y = 0; y < 4; ++y) {
        EXPECT_EQ(readLine(img, y, p).size(), 3u);
        bufferLine(img, y, p);
      }
    }
    EXPECT_TRUE(invalidArg([&] { img.SetDimX(-1, 1); }));
    EXPECT_TRUE(invalidArg([&] { img.SetDimY(-2, 1); }));
  }
}

}  // namespace
