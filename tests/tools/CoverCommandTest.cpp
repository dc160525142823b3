// cover: runs the colour coverage and says whether anything changed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ToolTestSupport.h"

namespace tooltest {
namespace {

TEST(CoverCommand, WritesTheResultEvenOverTheSourceOrLeavesTheOutputWhenNothingChanges) {
  testfiles::TempDir dir;
  const std::string image = dir.file("stripes.dis"), rules = dir.file("rules.txt"), out = dir.file("out.dis");
  // Two packed planes of four lines, alternately all 5 and all 7.
  makeImage(image, 1, 60, 4, 2, [](int, int, int y) { return static_cast<std::uint8_t>(y % 2 ? 7 : 5); });
  testfiles::writeText(rules, "COLCOPER 7\nCOLTEST 7\nCOLSOST 1\n");
  testfiles::writeText(out, "keep me");
  Result run = tool({"cover", image, rules, out}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, image + ": 1 rule changed nothing; " + out + " not written\n");
  EXPECT_EQ(testfiles::readText(out), "keep me");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}),
            3);  // the image, the rules, the untouched output

  testfiles::writeText(rules, "COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
  run = tool({"cover", image, rules, out}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, image + ": 1 rule changed 120 pixels of plane 1; written to " + out +
                         " (plane 1 only)\n");
  ASSERT_EQ(tool({"cover", image, rules, image}, dir).status, 0);  // over its own source
  for (const std::string& written : {out, image}) {
    ASSERT_EQ(tool({"topng", written, dir.file("out.png")}, dir).status, 0);
    const Indexed png = readPng(dir.file("out.png"));
    EXPECT_EQ(png.width, 60u);  // plane 1 only
    EXPECT_EQ(png.pixels.at(0), 9);  // line 0 (5) over line 1 (7)
    EXPECT_EQ(png.pixels.at(60), 7);
    EXPECT_EQ(png.pixels.at(120), 9);
  }
}

}  // namespace
}  // namespace tooltest
