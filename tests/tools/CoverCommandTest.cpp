// cover: runs the colour coverage and says whether anything changed.
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

class CoverCommand : public ::testing::Test {
 protected:
  testfiles::TempDir dir;
  std::string image = dir.file("stripes.dis");
  std::string rules = dir.file("rules.txt");

  // Two packed planes of four lines, alternately all 5 and all 7.
  void SetUp() override {
    makeImage(image, 1, 60, 4, 2,
              [](int, int, int y) { return static_cast<std::uint8_t>(y % 2 ? 7 : 5); });
  }
  void writeRules(const std::string& text) { testfiles::writeText(rules, text); }
};

TEST_F(CoverCommand, WritesTheResultAndSaysHowManyPixelsChanged) {
  writeRules("COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
  const std::string out = dir.file("out.dis");
  const ToolResult run = tool({"cover", image, rules, out}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, image + ": 1 rule changed 120 pixels of plane 1; written to " + out +
                         " (plane 1 only)\n");
  ASSERT_EQ(tool({"topng", out, dir.file("out.png")}, dir).status, 0);
  Png png;
  ASSERT_TRUE(readPng(dir.file("out.png"), png));
  EXPECT_EQ(png.samples[0], 9);  // line 0 (5) over line 1 (7)
  EXPECT_EQ(png.samples[60], 7);
  EXPECT_EQ(png.samples[120], 9);
}

TEST_F(CoverCommand, ARunThatChangesNothingLeavesTheOutputAsItWas) {
  writeRules("COLCOPER 7\nCOLTEST 7\nCOLSOST 1\n");
  const std::string out = dir.file("out.dis");
  ToolResult run = tool({"cover", image, rules, out}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, image + ": 1 rule changed nothing; " + out + " not written\n");
  EXPECT_FALSE(std::filesystem::exists(out));

  testfiles::writeText(out, "keep me");
  run = tool({"cover", image, rules, out}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(testfiles::readText(out), "keep me");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                          std::filesystem::directory_iterator()),
            3);  // the image, the rules, the untouched output
}

TEST_F(CoverCommand, TheOutputMayBeTheSourceItself) {
  writeRules("COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
  const ToolResult run = tool({"cover", image, rules, image}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  ASSERT_EQ(tool({"topng", image, dir.file("out.png")}, dir).status, 0);
  Png png;
  ASSERT_TRUE(readPng(dir.file("out.png"), png));
  EXPECT_EQ(png.width, 60u);  // one plane now
  EXPECT_EQ(png.samples[0], 9);
}

TEST_F(CoverCommand, ABadRuleFileExitsWithTwoAndWritesNothing) {
  const std::string out = dir.file("out.dis");
  ToolResult run = tool({"cover", image, dir.file("missing.txt"), out}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr(dir.file("missing.txt") + ": cannot be opened"));

  writeRules("COLTEST 7\nCOLSOST 9\n");
  run = tool({"cover", image, rules, out}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr(rules + ": has no COLCOPER"));

  writeRules("COLCOPER 5\nCOLCOPER 6\nCOLTEST 7\nCOLSOST 9\nCOLSOST 9\n");
  run = tool({"cover", image, rules, out}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr(rules + ": has 2 COLCOPER values but 1 COLTEST values"));

  writeRules("COLCOPER 5\nCOLTEST seven\nCOLSOST 9\n");
  run = tool({"cover", image, rules, out}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr(rules + ": rule 1: COLTEST value \"seven\" is not a number"));

  writeRules("COLCOPER\n");
  run = tool({"cover", image, rules, out}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr(rules + ": a line lacks its key or its value"));
  EXPECT_FALSE(std::filesystem::exists(out));
}

TEST(CoverSample, TheSampleRulesChangeTheSample) {
  testfiles::TempDir dir;
  const ToolResult run = tool({"cover", sample("design.dis"), sample("rules.txt"), dir.file("c.dis")}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("4 rules changed "));
  EXPECT_THAT(run.err, IsEmpty());
  EXPECT_EQ(tool({"check", dir.file("c.dis")}, dir).status, 0);
}

}  // namespace
}  // namespace tooltest
