// The thumbnail command: plane 1 fitted into a square by sampling (see
// SamplingTest), written through the colour map, and its refusals: a
// damaged image unless --lenient, an image without pixels, a bad size.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "ToolTestSupport.h"

namespace tooltest {
namespace {

using ::testing::HasSubstr;

// A pixel that tells where it came from: x and y fold into one byte.
std::uint8_t position(int, int x, int y) { return static_cast<std::uint8_t>(x + 37 * y); }

TEST(Thumbnail, EachPixelIsTheSourcePixelAtTheCentreOfItsBoxAndImagesWithoutPixelsAndBadSizesAreRefused) {
  // 300 x 100 into 30 x 10: every thumbnail pixel stands for a 10 x 10 box
  // and shows the source pixel at (10x + 5, 10y + 5).
  testfiles::TempDir dir;
  auto f = [&dir](const std::string& name) { return dir.file(name); };
  makeImage(f("a.dis"), 1, 300, 100, 1, position, /*coloured=*/true);
  Result run = tool({"thumbnail", "-s", "30", f("a.dis"), f("t.png")}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out + run.err, "");
  const Indexed png = readPng(f("t.png"));
  ASSERT_EQ(png.width, 30u);
  ASSERT_EQ(png.height, 10u);
  for (int y = 0; y < 10; ++y) {
    for (int x = 0; x < 30; ++x) {
      ASSERT_EQ(png.pixels[static_cast<std::size_t>(30 * y + x)], position(1, 10 * x + 5, 10 * y + 5)) << x << ", " << y;
    }
  }
  ASSERT_EQ(png.palette.size(), 256u);
  for (unsigned i = 0; i < 256; ++i) EXPECT_EQ(png.palette[i], colourOf(i));
  // The default square is 256; --size is -s.
  ASSERT_EQ(tool({"thumbnail", f("a.dis"), f("u.png")}, dir).status, 0);
  EXPECT_EQ(readPng(f("u.png")).height, 85u);
  ASSERT_EQ(tool({"thumbnail", "--size", "500", f("a.dis"), f("v.png")}, dir).status, 0);
  EXPECT_EQ(readPng(f("v.png")).width, 300u);  // never enlarged

  // (Refused without --lenient: DamagedInputTest; a missing input and an
  // output that cannot be written: CommandLineTest.)
  testfiles::writeFile(f("flat.dis"), firstBlock(2, 0, 7, 0));
  testfiles::writeFile(f("thin.dis"), firstBlock(2, 0, 0, 7));
  const std::string cut = cutSample(dir, 3000);
  // The arguments, the exit status, a text stderr contains.
  const std::tuple<std::vector<std::string>, int, std::string> cases[] = {
      // It samples plane 1 alone: the warning gives plane 1's problems.
      {{"--lenient", cut, f("t.png")}, 0, cut + ": warning: " + summaryOf(cut, 1)},
      {{f("flat.dis"), f("t.png")}, 2, f("flat.dis") + ": has no pixels to render (7 x 0)"},
      {{f("thin.dis"), f("t.png")}, 2, f("thin.dis") + ": has no pixels to render (0 x 7)"},
      {{f("a.dis")}, 4, "OUT is required"},
      {{"-s", "0", f("a.dis"), f("t.png")}, 4, "not in range"},
      {{"-s", "4097", f("a.dis"), f("t.png")}, 4, "not in range"},
  };
  for (const auto& [words, status, err] : cases) {
    std::vector<std::string> args = {"thumbnail"};
    args.insert(args.end(), words.begin(), words.end());
    SCOPED_TRACE(::testing::PrintToString(args));
    std::filesystem::remove(f("t.png"));
    run = tool(args, dir);
    EXPECT_EQ(run.status, status) << run.err;
    EXPECT_THAT(run.err, HasSubstr(err));
    // Only a thumbnail that was made leaves a file.
    EXPECT_EQ(std::filesystem::exists(f("t.png")), status == 0);
  }
}

}  // namespace
}  // namespace tooltest
