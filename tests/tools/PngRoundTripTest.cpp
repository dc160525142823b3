// PNG -> image -> PNG through the tool, for every encoding.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ToolTestSupport.h"

namespace tooltest {
namespace {

// Reads `path` back and expects a palette PNG with the pixels and palette
// of `png`.
void expectSamePicture(const std::string& path, const Png& png) {
  Png back;
  ASSERT_TRUE(readPng(path, back)) << path;
  EXPECT_EQ(back.width, png.width);
  EXPECT_EQ(back.height, png.height);
  EXPECT_TRUE(back.samples == png.samples) << "pixels differ in " << path;
  EXPECT_EQ(back.palette, png.palette);
}

class PngRoundTrip : public ::testing::TestWithParam<int> {};

INSTANTIATE_TEST_SUITE_P(EveryEncoding, PngRoundTrip, ::testing::Values(0, 1, 2),
                         [](const auto& info) { return "pack" + std::to_string(info.param); });

TEST_P(PngRoundTrip, EveryPlaneComesBackUnchangedSideBySideAndAfterARepack) {
  // The last plane is noise: every pixel its own run, the hardest input for
  // the packed codes (only the last plane may grow past its raw size); the
  // other planes have runs of up to 200 colours.
  testfiles::TempDir dir;
  const std::string pack = std::to_string(GetParam());
  std::vector<Png> planes;
  std::vector<std::string> args = {"frompng"};
  for (int p = 1; p <= 5; ++p) {
    planes.push_back(palettePng(37, 23, 200, p == 5 ? noise(1) : [p](int, int x, int y) {
      return static_cast<std::uint8_t>((x / 9 + y / 4) * p);
    }));
    args.push_back(dir.file("p" + std::to_string(p) + ".png"));
    ASSERT_TRUE(writePng(args.back(), planes.back()));
  }
  args.insert(args.end(), {dir.file("five.dis"), "--pack", pack});
  ToolResult run = tool(args, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  // Repacked into the next encoding every pixel stays; without --plane, all
  // planes stand side by side.
  const std::string next = std::to_string((GetParam() + 1) % 3);
  run = tool({"repack", dir.file("five.dis"), dir.file("re.dis"), "--pack", next}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* image : {"five.dis", "re.dis"}) {
    EXPECT_EQ(tool({"check", dir.file(image)}, dir).status, 0) << image;
    Png all;
    ASSERT_EQ(tool({"topng", dir.file(image), dir.file("all.png")}, dir).status, 0);
    ASSERT_TRUE(readPng(dir.file("all.png"), all));
    ASSERT_EQ(all.width, 5 * 37u);
    EXPECT_EQ(all.palette, planes[0].palette);
    for (std::size_t i = 0; i < all.samples.size(); ++i) {
      ASSERT_EQ(all.samples[i], planes[i % all.width / 37].samples[i / all.width * 37 + i % 37]) << image << i;
    }
  }
  ASSERT_EQ(tool({"topng", dir.file("re.dis"), dir.file("five.png"), "--plane", "5"}, dir).status, 0);
  expectSamePicture(dir.file("five.png"), planes[4]);
}

TEST(PngImport, GreyPngsGetAGreyRampAndAOneBitPalettePngKeepsItsIndicesAlsoWhenOpaquelyTransparent) {
  testfiles::TempDir dir;
  Png grey{19, 7, PNG_COLOR_TYPE_GRAY, 8, {}, {}};
  for (std::size_t i = 0; i < 19 * 7; ++i) grey.samples.push_back(static_cast<std::uint8_t>(i * 13));
  Png ramp{19, 7, PNG_COLOR_TYPE_PALETTE, 8, grey.samples, {}};
  for (int level = 0; level < 256; ++level) {
    const auto v = static_cast<std::uint8_t>(level);
    ramp.palette.push_back({v, v, v});
  }
  Png grey16 = grey;
  grey16.bitDepth = 16;
  const Png twoColours = palettePng(19, 7, 2, runs(2));  // written with 1 bit a pixel
  const std::pair<Png, Png> cases[] = {{grey, ramp}, {grey16, ramp}, {twoColours, twoColours}};
  for (const auto& [in, expected] : cases) {
    SCOPED_TRACE("colour type " + std::to_string(in.colourType) + ", depth " + std::to_string(in.bitDepth));
    ASSERT_TRUE(writePng(dir.file("in.png"), in));
    ASSERT_EQ(tool({"frompng", dir.file("in.png"), dir.file("in.dis")}, dir).status, 0);
    ASSERT_EQ(tool({"topng", dir.file("in.dis"), dir.file("out.png")}, dir).status, 0);
    expectSamePicture(dir.file("out.png"), expected);
  }
  // Forms that could hold transparency but hold none: 16-bit grey with an
  // alpha channel of 65535 (the level's high byte kept), a palette whose
  // tRNS alpha is 255.
  RawPng greyAlpha{19, 7, PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, {}, {}, {}};
  for (const std::uint8_t level : grey.samples) greyAlpha.samples.insert(greyAlpha.samples.end(), {std::uint16_t(level * 256 + 99), 65535});
  RawPng paletteOpaque{19, 7, PNG_COLOR_TYPE_PALETTE, 8, false, {}, twoColours.palette, {255, 255}};
  paletteOpaque.samples.assign(twoColours.samples.begin(), twoColours.samples.end());
  for (const auto& [in, expected] : {std::pair{greyAlpha, ramp}, std::pair{paletteOpaque, twoColours}}) {
    ASSERT_TRUE(writeRawPng(dir.file("in.png"), in));
    const ToolResult run = tool({"frompng", dir.file("in.png"), dir.file("in.dis")}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(tool({"topng", dir.file("in.dis"), dir.file("out.png")}, dir).status, 0);
    expectSamePicture(dir.file("out.png"), expected);
  }
}

}  // namespace
}  // namespace tooltest
