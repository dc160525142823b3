// frompng and topng: PNGs round-trip with their palette, grey gets a ramp,
// RGB(A) becomes an exact map of at most 256 colours; the rest is refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "ToolTestSupport.h"

namespace tooltest {
namespace {

using ::testing::HasSubstr;

// `path` holds the pixels and palette of `png`.
void expectSamePicture(const std::string& path, const Png& png) {
  const Indexed back = readPng(path);
  EXPECT_EQ(back.width, png.width);
  EXPECT_EQ(back.height, png.height);
  EXPECT_TRUE(std::vector<std::uint16_t>(back.pixels.begin(), back.pixels.end()) == png.samples) << "pixels differ in " << path;
  EXPECT_EQ(back.palette, png.palette);
}

// Five planes (noise last, written raw): side by side, or one by --plane.
TEST(PngRoundTrip, EveryPlaneComesBackSideBySideOrAlone) {
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

// 8/16-bit grey (with opaque alpha: the high byte kept) gets a grey ramp; a
// 1-bit palette PNG, also with a tRNS alpha of 255, keeps its indices.
TEST(PngRoundTrip, GreyPngsGetAGreyRampAndAOneBitPalettePngKeepsItsIndicesAlsoWhenOpaquelyTransparent) {
  testfiles::TempDir dir;
  const auto level = [](std::uint32_t i) { return i * 13 % 256; };
  const Png grey = picture(19, 7, PNG_COLOR_TYPE_GRAY, 8, [&](std::uint32_t i, int) { return level(i); });
  const Png grey16 = picture(19, 7, PNG_COLOR_TYPE_GRAY, 16, [&](std::uint32_t i, int) { return level(i) * 257; });
  const Png greyAlpha = picture(19, 7, PNG_COLOR_TYPE_GRAY_ALPHA, 16,
                                [&](std::uint32_t i, int c) { return c == 1 ? 65535 : level(i) * 256 + 99; });
  Png ramp = grey;
  ramp.colourType = PNG_COLOR_TYPE_PALETTE;
  for (int i = 0; i < 256; ++i) ramp.palette.push_back({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i)});
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

// An RGB(A) picture whose pixel i has colour colourOf(kOf(i)).
Png rgbPicture(std::uint32_t width, std::uint32_t height, unsigned (*kOf)(std::uint32_t),
               int colourType = PNG_COLOR_TYPE_RGB, int bitDepth = 8) {
  return picture(width, height, colourType, bitDepth, [&](std::uint32_t i, int c) {
    return (c == 3 ? 255u : colourOf(kOf(i))[static_cast<std::size_t>(c)]) * (bitDepth == 16 ? 257 : 1);
  });
}

// 512 pixels: all 256 colours scrambled, then again in another order.
unsigned all256(std::uint32_t i) { return i < 256 ? i * 97 % 256 : i * 13 % 256; }

// Every RGB form gives the same file; entry k is the k-th colour to appear,
// also across planes.
TEST(RgbImport, AtMost256ColoursBecomeAnExactColourMapInTheOrderTheyFirstAppear) {
  testfiles::TempDir dir;
  const std::pair<const char*, Png> forms[] = {
      {"rgb8", rgbPicture(32, 16, all256)},
      {"rgba8", rgbPicture(32, 16, all256, PNG_COLOR_TYPE_RGB_ALPHA)},
      {"rgb16", rgbPicture(32, 16, all256, PNG_COLOR_TYPE_RGB, 16)},
      {"rgba16", rgbPicture(32, 16, all256, PNG_COLOR_TYPE_RGB_ALPHA, 16)},
      {"rgb8-unused-trns", changed(rgbPicture(32, 16, all256), kNone, 0, {1, 2, 3})},
  };
  for (const auto& [name, png] : forms) {
    SCOPED_TRACE(name);
    const std::string in = dir.file(std::string(name) + ".png"), out = dir.file(std::string(name) + ".dis");
    ASSERT_TRUE(writePng(in, png));
    const Result run = tool({"frompng", in, out, "--pack", "1"}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, out + ": 1 plane of 32 x 16, packed, version 2, 256 colours in the colour map\n");
    EXPECT_TRUE(testfiles::readFile(out) == testfiles::readFile(dir.file("rgb8.dis")));
  }
  ASSERT_EQ(
      tool({"topng", dir.file("rgb8.dis"), dir.file("back.png")}, dir).status,
      0);
  Indexed back = readPng(dir.file("back.png"));
  ASSERT_EQ(back.palette.size(), 256u);
  for (std::uint32_t i = 0; i < 512; ++i) EXPECT_EQ(back.palette.at(back.pixels.at(i)), colourOf(all256(i))) << i;
  for (std::uint32_t k = 0; k < 256; ++k) EXPECT_EQ(back.pixels[k], k);

  ASSERT_TRUE(writePng(dir.file("a.png"), rgbPicture(2, 1, [](std::uint32_t i) { return 10 + i; })));
  ASSERT_TRUE(writePng(dir.file("b.png"), rgbPicture(2, 1, [](std::uint32_t i) { return 12 - i; })));
  ASSERT_EQ(tool({"frompng", dir.file("a.png"), dir.file("b.png"), dir.file("ab.dis")}, dir).status, 0);
  ASSERT_EQ(tool({"topng", dir.file("ab.dis"), dir.file("ab.png")}, dir).status, 0);
  back = readPng(dir.file("ab.png"));
  EXPECT_EQ(back.palette, (std::vector<Rgb>{colourOf(10), colourOf(11), colourOf(12)}));
  EXPECT_EQ(back.pixels, (std::vector<std::uint8_t>{0, 1, 2, 1}));
}

TEST(RgbImport, RefusesMoreThan256ColoursATranslucentPixelInAnyKindOrAnInexact16BitColour) {
  testfiles::TempDir dir;
  std::filesystem::create_directory(dir.file("out"));
  const std::string out = dir.file("out/x.dis");
  testfiles::writeText(out, "old");
  auto png = [&dir](const char* name, const Png& raw) {
    EXPECT_TRUE(writePng(dir.file(name), raw));
    return dir.file(name);
  };
  const Rgb key = colourOf(all256(5));  // line 1, column 1
  const std::string half = png("half.png", rgbPicture(200, 1, [](std::uint32_t i) { return i; }));
  const std::string other = png("other.png", rgbPicture(200, 1, [](std::uint32_t i) { return i + 100; }));
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      // 257 colours, the last one at the last pixel.
      {{png("257.png", rgbPicture(257, 2, [](std::uint32_t i) { return i < 257 ? i : 0; }))},
       "257.png: has 257 distinct colours; a colour map holds at most 256: reduce the "
       "colours to 256 or fewer first (Pillow: Image.quantize(256); ImageMagick: "
       "convert IN.png -colors 256 OUT.png; pngquant 256 IN.png)"},
      // 600 colours: the rest of the PNG is read to count them.
      {{png("600.png", rgbPicture(300, 2, [](std::uint32_t i) { return i; }))}, "600.png: has 600 distinct colours;"},
      {{half, other}, other + ": has 300 distinct colours together with the RGB PNGs before it;"},
      {{png("translucent.png", changed(rgbPicture(4, 3, all256, PNG_COLOR_TYPE_RGB_ALPHA), (1 * 4 + 2) * 4 + 3, 128))},
       "translucent.png: the pixel at line 1, column 2 is not fully opaque (alpha 128 of 255); "
       "an image file holds no transparency: flatten the picture onto a background first"},
      {{png("nearly.png", changed(rgbPicture(4, 3, all256, PNG_COLOR_TYPE_RGB_ALPHA, 16), (2 * 4 + 1) * 4 + 3, 0xff00))},
       "nearly.png: the pixel at line 2, column 1 is not fully opaque (alpha 65280 of 65535)"},
      {{png("keyed.png", changed(rgbPicture(4, 3, all256), kNone, 0, {key[0], key[1], key[2]}))},
       "keyed.png: the pixel at line 1, column 1 is not fully opaque (alpha 0 of 255)"},
      // Grey and palette PNGs with transparency: an alpha channel (16 bits), a
      // tRNS grey level, a palette entry's tRNS alpha.
      {{png("grey-alpha.png", Png{3, 2, PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, {0, 65535, 1, 65535, 2, 65535, 3, 65535, 4, 65280, 5, 65535}, {}, {}})},
       "grey-alpha.png: the pixel at line 1, column 1 is not fully opaque (alpha 65280 of 65535)"},
      {{png("grey-keyed.png", Png{3, 2, PNG_COLOR_TYPE_GRAY, 8, false, {1, 2, 3, 4, 5, 6}, {}, {3}})},
       "grey-keyed.png: the pixel at line 0, column 2 is not fully opaque (alpha 0 of 255)"},
      {{png("palette-keyed.png", Png{3, 2, PNG_COLOR_TYPE_PALETTE, 8, false, {0, 1, 0, 1, 0, 2}, {{1, 1, 1}, {2, 2, 2}, {3, 3, 3}}, {255, 255, 40}})},
       "palette-keyed.png: the pixel at line 1, column 2 is not fully opaque (alpha 40 of 255)"},
      {{png("inexact.png", changed(rgbPicture(4, 3, all256, PNG_COLOR_TYPE_RGB, 16), (2 * 4 + 3) * 3 + 1, 0x1234))},  // green
       "inexact.png: the pixel at line 2, column 3 has a 16-bit colour that an 8-bit colour map "
       "cannot hold exactly; reduce the image to 8 bits a sample first"},
      {{half, png("palette.png", palettePng(200, 1, 4, runs(4)))},
       "palette.png: is a palette PNG; it cannot be combined with RGB PNGs (" + half + ")"},
  };
  for (const auto& [inputs, message] : cases) {
    std::vector<std::string> args = {"frompng"};
    args.insert(args.end(), inputs.begin(), inputs.end());
    args.push_back(out);
    SCOPED_TRACE(::testing::PrintToString(args));
    const Result run = tool(args, dir);
    EXPECT_EQ(run.status, 2);
    EXPECT_THAT(run.err, HasSubstr(message));
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(testfiles::readText(out), "old");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.file("out")), {}), 1);
  }
}

}  // namespace
}  // namespace tooltest
