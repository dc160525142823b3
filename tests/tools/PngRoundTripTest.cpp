// PNG -> image -> PNG through the tool, for every encoding.
#include "ToolRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "PngTestFiles.h"
#include "ToolImages.h"

namespace tooltest {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;

class PngRoundTrip : public ::testing::TestWithParam<int> {
 protected:
  testfiles::TempDir dir;
  std::string file(const std::string& name) { return dir.file(name); }
  std::string pack() { return std::to_string(GetParam()); }

  // Reads `path` back and expects the pixels and palette of `png`.
  void expectSamePicture(const std::string& path, const Png& png) {
    Png back;
    ASSERT_TRUE(readPng(path, back)) << path;
    EXPECT_EQ(back.colourType, PNG_COLOR_TYPE_PALETTE);
    EXPECT_EQ(back.width, png.width);
    EXPECT_EQ(back.height, png.height);
    EXPECT_TRUE(back.samples == png.samples) << "pixels differ";
    EXPECT_EQ(back.palette, png.palette);
  }
};

INSTANTIATE_TEST_SUITE_P(EveryEncoding, PngRoundTrip, ::testing::Values(0, 1, 2),
                         [](const auto& info) { return "pack" + std::to_string(info.param); });

TEST_P(PngRoundTrip, APalettePngComesBackUnchanged) {
  // Noise: every pixel its own run, the hardest input for the packed codes.
  const Png png = palettePng(37, 23, 16, noise(1));
  ASSERT_TRUE(writePng(file("in.png"), png));
  ToolResult run = tool({"frompng", file("in.png"), file("a.dis"), "--pack", pack()}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.err, IsEmpty());
  run = tool({"check", file("a.dis")}, dir);
  EXPECT_EQ(run.status, 0) << run.out;
  run = tool({"topng", file("a.dis"), file("out.png")}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  expectSamePicture(file("out.png"), png);
}

TEST_P(PngRoundTrip, EveryPlaneOfAFivePlaneImageComesBackUnchanged) {
  std::vector<Png> planes;
  std::vector<std::string> args = {"frompng"};
  for (int p = 1; p <= 5; ++p) {
    planes.push_back(palettePng(64, 20, 200, [p](int, int x, int y) {
      return static_cast<std::uint8_t>((x / 9 + y / 4) * p);
    }));
    planes.back().palette = palette(200);
    const std::string name = file("p" + std::to_string(p) + ".png");
    ASSERT_TRUE(writePng(name, planes.back()));
    args.push_back(name);
  }
  args.insert(args.end(), {file("five.dis"), "--pack", pack()});
  ToolResult run = runProgram(BTREEIMG_TOOL, args, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  for (int p = 1; p <= 5; ++p) {
    const std::string out = file("out" + std::to_string(p) + ".png");
    run = tool({"topng", file("five.dis"), out, "--plane", std::to_string(p)}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    expectSamePicture(out, planes[static_cast<std::size_t>(p - 1)]);
  }
}

TEST_P(PngRoundTrip, RepackingIntoAnyEncodingKeepsEveryPixel) {
  const std::string source = file("source.dis");
  makeImage(source, 0, 50, 30, 3, runs(6));
  ASSERT_EQ(tool({"topng", source, file("before.png")}, dir).status, 0);
  ToolResult run = tool({"repack", source, file("re.dis"), "--pack", pack()}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(tool({"check", file("re.dis")}, dir).status, 0);
  ASSERT_EQ(tool({"topng", file("re.dis"), file("after.png")}, dir).status, 0);
  Png before;
  ASSERT_TRUE(readPng(file("before.png"), before));
  expectSamePicture(file("after.png"), before);
}

TEST(PngImport, AGreyPngGetsAGreyRampAndKeepsItsLevels) {
  testfiles::TempDir dir;
  for (const int depth : {8, 16, 1}) {
    Png grey;
    grey.width = 19;
    grey.height = 7;
    grey.colourType = PNG_COLOR_TYPE_GRAY;
    grey.bitDepth = depth;
    for (std::uint32_t i = 0; i < grey.width * grey.height; ++i) {
      grey.samples.push_back(static_cast<std::uint8_t>(depth == 1 ? i % 3 == 0 : i * 13));
    }
    ASSERT_TRUE(writePng(dir.file("grey.png"), grey));
    ASSERT_EQ(tool({"frompng", dir.file("grey.png"), dir.file("g.dis")}, dir).status, 0);
    ASSERT_EQ(tool({"topng", dir.file("g.dis"), dir.file("g.png")}, dir).status, 0);
    Png back;
    ASSERT_TRUE(readPng(dir.file("g.png"), back));
    ASSERT_EQ(back.samples.size(), grey.samples.size());
    for (std::size_t i = 0; i < grey.samples.size(); ++i) {
      // A 1-bit level is scaled to 8 bits: 0 or 255.
      const std::uint8_t level = depth == 1 ? (grey.samples[i] ? 255 : 0) : grey.samples[i];
      ASSERT_EQ(back.samples[i], level) << "depth " << depth << ", pixel " << i;
      ASSERT_EQ(back.palette.at(level), (Rgb{level, level, level}));
    }
  }
}

TEST(PngImport, APaletteBelowEightBitsKeepsItsIndices) {
  testfiles::TempDir dir;
  Png png = palettePng(21, 5, 2, runs(2));
  png.bitDepth = 1;
  ASSERT_TRUE(writePng(dir.file("one-bit.png"), png));
  ASSERT_EQ(tool({"frompng", dir.file("one-bit.png"), dir.file("b.dis")}, dir).status, 0);
  ASSERT_EQ(tool({"topng", dir.file("b.dis"), dir.file("b.png")}, dir).status, 0);
  Png back;
  ASSERT_TRUE(readPng(dir.file("b.png"), back));
  EXPECT_TRUE(back.samples == png.samples);
  EXPECT_EQ(back.palette, png.palette);
}

TEST(PngExport, AllPlanesStandSideBySide) {
  testfiles::TempDir dir;
  makeImage(dir.file("three.dis"), 1, 30, 8, 3,
            [](int plane, int, int) { return static_cast<std::uint8_t>(plane); });
  ASSERT_EQ(tool({"topng", dir.file("three.dis"), dir.file("all.png")}, dir).status, 0);
  Png all;
  ASSERT_TRUE(readPng(dir.file("all.png"), all));
  ASSERT_EQ(all.width, 90u);
  ASSERT_EQ(all.height, 8u);
  for (std::uint32_t y = 0; y < all.height; ++y) {
    for (std::uint32_t x = 0; x < all.width; ++x) {
      ASSERT_EQ(all.samples[y * all.width + x], 1 + x / 30) << x << "," << y;
    }
  }
}

TEST(PngImport, PlanesThatDoNotFitTheirPlaceLeaveNoFileBehind) {
  // Packed noise needs twice its raw size plus the line table; plane 1 of
  // two has only its raw size before plane 2's block.
  testfiles::TempDir dir;
  const Png png = palettePng(40, 30, 256, noise(2));
  ASSERT_TRUE(writePng(dir.file("n.png"), png));
  std::filesystem::create_directory(dir.file("out"));
  const std::string out = dir.file("out/n.dis");
  const ToolResult run = tool({"frompng", dir.file("n.png"), dir.file("n.png"), out, "--pack", "1"}, dir);
  EXPECT_EQ(run.status, 3);
  EXPECT_THAT(run.err, HasSubstr(out + ": plane 1 does not fit its place in the file"));
  EXPECT_TRUE(std::filesystem::is_empty(dir.file("out")));
}

}  // namespace
}  // namespace tooltest
