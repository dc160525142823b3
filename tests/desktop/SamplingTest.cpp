// The sampling shared by the GdkPixbuf loader and the tool's thumbnail
// command, in process: the size a picture is fitted to, the source pixel
// each target pixel shows, what sampling costs, and the rows it makes.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "image/PlaneSampling.h"
#include "support/FrontEnds.h"
#include "support/TestFiles.h"

namespace {

namespace sampling = btreeimg::sampling;
using sampling::Size;

TEST(Sampling, FitWithinKeepsTheShapeAndRoundsTheShorterSideToTheNearestPixel) {
  struct Case {
    std::uint32_t width, height, box, fittedWidth, fittedHeight;
  };
  const Case cases[] = {
      {300, 100, 30, 30, 10},            // wider
      {90, 301, 30, 9, 30},              // taller: 8.97 rounds up
      {1000, 333, 100, 100, 33},         // 33.3 rounds down
      {30, 30, 30, 30, 30},              // exactly the box
      {20, 10, 30, 20, 10},              // already fits: never enlarged
      {70000, 2, 256, 256, 1},           // the short side keeps a pixel
      {2, 70000, 256, 1, 256},
      {4294967295u, 4294967295u, 4096, 4096, 4096},
  };
  for (const Case& c : cases) {
    const Size fitted = sampling::fitWithin(c.width, c.height, c.box);
    EXPECT_EQ(fitted.width, c.fittedWidth) << c.width << " x " << c.height << " in " << c.box;
    EXPECT_EQ(fitted.height, c.fittedHeight) << c.width << " x " << c.height << " in " << c.box;
  }
}

TEST(Sampling, EachTargetPixelShowsTheSourcePixelUnderItsCentre) {
  // floor((i + 1/2) * s / n)
  EXPECT_EQ(sampling::sourceIndex(0, 30, 300), 5u);
  EXPECT_EQ(sampling::sourceIndex(29, 30, 300), 295u);
  EXPECT_EQ(sampling::sourceIndex(1, 3, 4), 2u);
  EXPECT_EQ(sampling::sourceIndex(2, 3, 4), 3u);
  EXPECT_EQ(sampling::sourceIndex(3, 8, 4), 1u);  // enlarging
  EXPECT_EQ(sampling::sourceIndex(2147483646, 2147483647, 4294967295u), 4294967293u);
}

TEST(Sampling, CostsTheLinesItReadsTimesTheirLengthAndAtLeastOneALine) {
  EXPECT_EQ(sampling::samplingCost(256, 192, Size{64, 48}), 256u * 48);
  EXPECT_EQ(sampling::samplingCost(256, 192, Size{40, 300}), 256u * 192);  // each line read once
  EXPECT_EQ(sampling::samplingCost(0, 50, Size{1, 100}), 50u);
  EXPECT_EQ(sampling::samplingCost(0, 4294967295u, Size{1, 4096}), 4096u);
}

TEST(Sampling, RowsReadEachSampledLineOnce) {
  // 4 x 3 raw pixels, line y all y * 16 + x, sampled at 8 x 6: every line
  // and column shows twice. After each row, the line it came from is
  // overwritten in the bytes the reader reads: a line read again would show
  // that.
  testfiles::TempDir dir;
  frontend::makeImage(dir.file("a.dis"), 0, 4, 3, 1, [](int, int x, int y) { return static_cast<std::uint8_t>(16 * y + x); });
  testfiles::Bytes bytes = testfiles::readFile(dir.file("a.dis"));
  btreeimg::ImageReader image(bytes.data(), bytes.size());
  std::vector<std::vector<unsigned char>> rows;
  sampling::sampleRows(image, 1, Size{8, 6}, [&](std::uint32_t y, const unsigned char* row) {
    EXPECT_EQ(y, rows.size());
    rows.emplace_back(row, row + 8);
    std::fill_n(bytes.begin() + 1312 + 4 * (row[0] / 16), 4, 0xee);
  });
  ASSERT_EQ(rows.size(), 6u);
  for (std::uint32_t y = 0; y < 6; ++y) {
    for (std::uint32_t x = 0; x < 8; ++x) EXPECT_EQ(rows[y][x], 16 * (y / 2) + x / 2) << x << ", " << y;
  }
}

TEST(Sampling, ARegionIsSampledInsideItsRectangle) {
  // Columns 1..3 of lines 1..2 of 5 x 4 pixels (16 * y + x), at 6 x 4 and
  // at 1 x 1.
  testfiles::TempDir dir;
  frontend::makeImage(dir.file("a.dis"), 0, 5, 4, 1, [](int, int x, int y) { return static_cast<std::uint8_t>(16 * y + x); });
  btreeimg::ImageReader image(dir.file("a.dis").c_str());
  std::vector<unsigned char> pixels;
  const auto keep = [&](std::uint32_t, const unsigned char* row) { pixels.insert(pixels.end(), row, row + 6); };
  sampling::sampleRows(image, 1, sampling::Region{1, 1, 3, 2}, Size{6, 4}, keep);
  const std::vector<unsigned char> line1 = {17, 17, 18, 18, 19, 19}, line2 = {33, 33, 34, 34, 35, 35};
  std::vector<unsigned char> expected;
  for (const auto* line : {&line1, &line1, &line2, &line2}) expected.insert(expected.end(), line->begin(), line->end());
  EXPECT_EQ(pixels, expected);
  sampling::sampleRows(image, 1, sampling::Region{1, 1, 3, 2}, Size{1, 1}, [](std::uint32_t, const unsigned char* row) {
    EXPECT_EQ(row[0], 16 * 2 + 2);
  });
}

}  // namespace
