// The thumbnail command: plane 1 fitted into a square by sampling, through
// the colour map, and its exit statuses.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ToolTestSupport.h"

namespace tooltest {
namespace {

using ::testing::HasSubstr;

// A pixel that tells where it came from: x and y fold into one byte.
std::uint8_t position(int, int x, int y) { return static_cast<std::uint8_t>(x + 37 * y); }

Png thumbnail(const testfiles::TempDir& dir, const std::string& image, std::vector<std::string> size) {
  std::vector<std::string> args = {"thumbnail"};
  args.insert(args.end(), size.begin(), size.end());
  args.push_back(image);
  args.push_back(dir.file("thumb.png"));
  const ToolResult run = tool(args, dir);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  Png png;
  EXPECT_TRUE(readPng(dir.file("thumb.png"), png));
  return png;
}

TEST(Thumbnail, TheLongerSideFitsTheSquareAndTheShapeIsKept) {
  testfiles::TempDir dir;
  struct Case {
    int width, height;
    std::vector<std::string> size;
    std::uint32_t thumbWidth, thumbHeight;
  };
  const Case cases[] = {
      {300, 100, {"-s", "30"}, 30, 10},
      {90, 301, {"--size", "30"}, 9, 30},     // 8.97 rounds up
      {1000, 333, {"-s", "100"}, 100, 33},    // 33.3 rounds down
      {1024, 512, {}, 256, 128},              // the default square is 256
      {20, 10, {"-s", "30"}, 20, 10},         // already fits: never enlarged
      {70000, 2, {"-s", "256"}, 256, 1},      // version 4; the short side keeps a pixel
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    makeImage(dir.file("a.dis"), 0, c.width, c.height, 1, position);
    const Png png = thumbnail(dir, dir.file("a.dis"), c.size);
    EXPECT_EQ(png.width, c.thumbWidth);
    EXPECT_EQ(png.height, c.thumbHeight);
  }
}

TEST(Thumbnail, EachPixelIsTheSourcePixelAtTheCentreOfItsBox) {
  // 300 x 100 into 30 x 10: every thumbnail pixel stands for a 10 x 10 box
  // and shows the source pixel at (10x + 5, 10y + 5).
  testfiles::TempDir dir;
  makeImage(dir.file("a.dis"), 1, 300, 100, 1, position);
  const Png png = thumbnail(dir, dir.file("a.dis"), {"-s", "30"});
  ASSERT_EQ(png.samples.size(), 300u);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 30; ++x) {
      ASSERT_EQ(png.samples[static_cast<std::size_t>(30 * y + x)], position(1, 10 * x + 5, 10 * y + 5))
          << "at " << x << ", " << y;
    }
  }

  // A picture that fits is every pixel as topng renders it.
  makeImage(dir.file("b.dis"), 2, 40, 25, 2, runs(9));
  const Png small = thumbnail(dir, dir.file("b.dis"), {"-s", "40"});
  ASSERT_EQ(tool({"topng", "--plane", "1", dir.file("b.dis"), dir.file("b.png")}, dir).status, 0);
  Png full;
  ASSERT_TRUE(readPng(dir.file("b.png"), full));
  EXPECT_TRUE(small.samples == full.samples);
}

TEST(Thumbnail, EveryVersionAndEncodingGivesTheSamePictureThroughTheColourMap) {
  testfiles::TempDir dir;
  Png first;
  for (const short planes : {1, 3}) {  // versions 2 and 3
    for (const int pack : {0, 1, 2}) {
      SCOPED_TRACE(std::to_string(planes) + " planes, pack " + std::to_string(pack));
      makeImage(dir.file("a.dis"), pack, 500, 260, planes, runs(40));
      const Png png = thumbnail(dir, dir.file("a.dis"), {"-s", "64"});
      if (first.samples.empty()) first = png;
      EXPECT_EQ(png.width * png.height, 64u * 33u);
      EXPECT_TRUE(png.samples == first.samples);
    }
  }
  // The palette is the image's colour map, whole.
  const Png sample = thumbnail(dir, tooltest::sample("design.dis"), {"-s", "50"});
  ASSERT_EQ(tool({"topng", tooltest::sample("design.dis"), dir.file("d.png")}, dir).status, 0);
  Png rendered;
  ASSERT_TRUE(readPng(dir.file("d.png"), rendered));
  ASSERT_EQ(sample.palette.size(), 256u);
  EXPECT_TRUE(std::equal(rendered.palette.begin(), rendered.palette.end(), sample.palette.begin()));
}

TEST(Thumbnail, EachOutcomeHasItsExitStatus) {
  testfiles::TempDir dir;
  auto f = [&dir](const std::string& name) { return dir.file(name); };
  makeImage(f("good.dis"), 0, 30, 20, 1, position);
  testfiles::writeText(f("text.dis"), "not an image\n");
  testfiles::Bytes block(1312, 0);  // version 2, one plane of 0 x 0
  block[0] = 2;
  block[1000] = 1;
  testfiles::writeFile(f("empty.dis"), block);
  block[10] = 7;  // 7 x 0
  testfiles::writeFile(f("flat.dis"), block);
  testfiles::Bytes cut = testfiles::readFile(f("good.dis"));
  cut.resize(cut.size() - 100);  // the last lines are missing
  testfiles::writeFile(f("cut.dis"), cut);
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string err;  // a text stderr contains
  };
  const Case cases[] = {
      {{f("good.dis"), f("t.png")}, 0, ""},
      {{f("cut.dis"), f("t.png")}, 2, f("cut.dis") + ": plane 1: raw region of 600 bytes at 1312 runs past"},
      {{"--lenient", f("cut.dis"), f("t.png")}, 0, f("cut.dis") + ": warning: plane 1: raw region"},
      {{f("missing.dis"), f("t.png")}, 2, f("missing.dis") + ": cannot be opened"},
      {{f("text.dis"), f("t.png")}, 2, f("text.dis") + ": file is 13 bytes, shorter"},
      {{f("empty.dis"), f("t.png")}, 2, f("empty.dis") + ": has no pixels to render (0 x 0)"},
      {{f("flat.dis"), f("t.png")}, 2, f("flat.dis") + ": has no pixels to render (7 x 0)"},
      {{f("good.dis"), f("no/such/dir/t.png")}, 3, f("no/such/dir/t.png")},
      {{f("good.dis")}, 4, "OUT is required"},
      {{"-s", "0", f("good.dis"), f("t.png")}, 4, "not in range"},
      {{"-s", "4097", f("good.dis"), f("t.png")}, 4, "not in range"},
      {{"--help"}, 0, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> args = {"thumbnail"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(::testing::PrintToString(args));
    std::filesystem::remove(f("t.png"));
    const ToolResult run = tool(args, dir);
    EXPECT_EQ(run.status, c.status) << run.err;
    if (c.err.empty()) {
      EXPECT_EQ(run.err, "");
    } else {
      EXPECT_THAT(run.err, HasSubstr(c.err));
    }
    // Only a thumbnail that was made leaves a file.
    EXPECT_EQ(std::filesystem::exists(f("t.png")), c.status == 0 && c.args.size() > 1);
  }
  EXPECT_FALSE(std::filesystem::exists(f("no")));
}

}  // namespace
}  // namespace tooltest
