// PNG -> image -> PNG through the tool: frompng and topng give back the
// pictures and their palette.
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
  const Indexed back = readPng(path);
  EXPECT_EQ(back.width, png.width);
  EXPECT_EQ(back.height, png.height);
  EXPECT_TRUE(back.samples() == png.samples) << "pixels differ in " << path;
  EXPECT_EQ(back.palette, png.palette);
}

TEST(PngRoundTrip, EveryPlaneComesBackSideBySideOrAlone) {
  // The last plane is noise (written raw by frompng's default); the others
  // have runs (written packed), of up to 200 colours.
  testfiles::TempDir dir;
  std::vector<Png> planes;
  std::vector<std::string> args = {"frompng"};
  for (int p = 1; p <= 5; ++p) {
    planes.push_back(palettePng(37, 23, 200, p == 5 ? noise(1) : [p](int, int x, int y) {
      return static_cast<std::uint8_t>((x / 9 + y / 4) * p);
    }));
    args.push_back(dir.file("p" + std::to_string(p) + ".png"));
    ASSERT_TRUE(writePng(args.back(), planes.back()));
  }
  args.push_back(dir.file("five.dis"));
  const Result run = tool(args, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  // Without --plane, all planes stand side by side.
  ASSERT_EQ(tool({"topng", dir.file("five.dis"), dir.file("all.png")}, dir).status, 0);
  const Indexed all = readPng(dir.file("all.png"));
  ASSERT_EQ(all.width, 5 * 37u);
  EXPECT_EQ(all.palette, planes[0].palette);
  for (std::size_t i = 0; i < all.pixels.size(); ++i) {
    ASSERT_EQ(all.pixels[i], planes[i % all.width / 37].samples[i / all.width * 37 + i % 37]) << i;
  }
  for (const int p : {1, 5}) {
    ASSERT_EQ(tool({"topng", dir.file("five.dis"), dir.file("one.png"), "--plane", std::to_string(p)}, dir).status, 0);
    expectSamePicture(dir.file("one.png"), planes[static_cast<std::size_t>(p - 1)]);
  }
}

TEST(PngRoundTrip, GreyPngsGetAGreyRampAndAOneBitPalettePngKeepsItsIndicesAlsoWhenOpaquelyTransparent) {
  testfiles::TempDir dir;
  // 8 and 16-bit grey, and 16-bit grey with an alpha channel of 65535 (the
  // level's high byte kept); a 1-bit palette PNG, with a tRNS alpha of 255.
  Png grey{19, 7, PNG_COLOR_TYPE_GRAY, 8, false, {}, {}, {}}, ramp{19, 7, PNG_COLOR_TYPE_PALETTE, 8, false, {}, {}, {}};
  Png grey16{19, 7, PNG_COLOR_TYPE_GRAY, 16, false, {}, {}, {}}, greyAlpha{19, 7, PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, {}, {}, {}};
  for (int i = 0; i < 256; ++i) {
    const auto level = static_cast<std::uint16_t>(i * 13 % 256);
    ramp.palette.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i)});
    if (i >= 19 * 7) continue;
    grey.samples.push_back(level);
    grey16.samples.push_back(static_cast<std::uint16_t>(level * 257));
    greyAlpha.samples.insert(greyAlpha.samples.end(), {static_cast<std::uint16_t>(level * 256 + 99), 65535});
  }
  ramp.samples = grey.samples;
  Png twoColours = palettePng(19, 7, 2, runs(2));
  twoColours.bitDepth = 1;
  for (const auto& [in, expected] : {std::pair{grey, ramp}, std::pair{grey16, ramp}, std::pair{greyAlpha, ramp}, std::pair{twoColours, twoColours},
                                     std::pair{changed(twoColours, kNone, 0, {255, 255}), twoColours}}) {
    SCOPED_TRACE("colour type " + std::to_string(in.colourType) + ", depth " + std::to_string(in.bitDepth));
    ASSERT_TRUE(writePng(dir.file("in.png"), in));
    const Result run = tool({"frompng", dir.file("in.png"), dir.file("in.dis")}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_EQ(tool({"topng", dir.file("in.dis"), dir.file("out.png")}, dir).status, 0);
    expectSamePicture(dir.file("out.png"), expected);
  }
}

}  // namespace
}  // namespace tooltest
