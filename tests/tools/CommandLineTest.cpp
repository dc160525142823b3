// The command line: help, version, exit statuses, and info's two outputs.
#include "ToolRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>

#include "MiniJson.h"
#include "ToolImages.h"

namespace tooltest {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::StartsWith;

TEST(CommandLine, HelpOnEveryCommandListsTheExitStatuses) {
  testfiles::TempDir dir;
  for (const char* command : {"info", "check", "topng", "frompng", "repack", "cover"}) {
    const ToolResult run = tool({command, "--help"}, dir);
    EXPECT_EQ(run.status, 0) << command;
    EXPECT_THAT(run.out, HasSubstr("Exit status:")) << command;
    EXPECT_THAT(run.out, HasSubstr("3  an output could not be written")) << command;
  }
  const ToolResult run = tool({"--help"}, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.out, HasSubstr("frompng"));
}

TEST(CommandLine, VersionNamesTheTool) {
  testfiles::TempDir dir;
  const ToolResult run = tool({"--version"}, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.out, StartsWith("btreeimg "));
}

TEST(CommandLine, ACommandLineNotUnderstoodExitsWithFour) {
  testfiles::TempDir dir;
  const std::string image = dir.file("a.dis");
  makeImage(image, 0, 8, 2, 1, runs(2));
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{},
                                             {"paint"},
                                             {"info"},
                                             {"repack", image, dir.file("b.dis")},
                                             {"repack", image, dir.file("b.dis"), "--pack", "3"},
                                             {"topng", image, dir.file("a.png"), "--plane", "0"},
                                             {"frompng", image}}) {
    const ToolResult run = runProgram(BTREEIMG_TOOL, args, dir);
    EXPECT_EQ(run.status, 4) << ::testing::PrintToString(args);
    EXPECT_THAT(run.err, Not(IsEmpty()));
  }
  EXPECT_FALSE(std::filesystem::exists(dir.file("b.dis")));
}

TEST(CommandLine, InputsThatCannotBeUsedExitWithTwoAndNameTheFile) {
  testfiles::TempDir dir;
  const std::string image = dir.file("three.dis");
  makeImage(image, 0, 8, 2, 3, runs(2));
  ToolResult run = tool({"topng", image, dir.file("x.png"), "--plane", "4"}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr(image + ": has no plane 4 (it has 3)"));

  testfiles::writeText(dir.file("rgb.png"), "");
  Png rgb;
  rgb.width = 2;
  rgb.height = 1;
  rgb.colourType = PNG_COLOR_TYPE_RGB;
  rgb.bitDepth = 8;
  rgb.samples = {1, 2, 3, 4, 5, 6};
  ASSERT_TRUE(writePng(dir.file("rgb.png"), rgb));
  run = tool({"frompng", dir.file("rgb.png"), dir.file("x.dis")}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr(dir.file("rgb.png") + ": holds RGB colour"));

  ASSERT_TRUE(writePng(dir.file("small.png"), palettePng(3, 3, 4, runs(4))));
  ASSERT_TRUE(writePng(dir.file("large.png"), palettePng(4, 3, 4, runs(4))));
  run = tool({"frompng", dir.file("small.png"), dir.file("large.png"), dir.file("x.dis")}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr(dir.file("large.png") + ": is 4 x 3"));

  run = tool({"frompng", image, dir.file("x.dis")}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr(image + ": is not a PNG file"));

  run = tool({"repack", dir.file("missing.dis"), dir.file("x.dis"), "--pack", "0"}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr(dir.file("missing.dis") + ": cannot be opened"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("x.dis")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("x.png")));
}

TEST(CommandLine, AnOutputThatCannotBeWrittenExitsWithThree) {
  testfiles::TempDir dir;
  const std::string image = dir.file("a.dis");
  makeImage(image, 0, 8, 2, 1, runs(2));
  ToolResult run = tool({"topng", image, dir.file("no/such/dir/a.png")}, dir);
  EXPECT_EQ(run.status, 3);
  EXPECT_THAT(run.err, HasSubstr(dir.file("no/such/dir/a.png")));
  run = tool({"repack", image, dir.file("no/such/dir/b.dis"), "--pack", "1"}, dir);
  EXPECT_EQ(run.status, 3);
  EXPECT_THAT(run.err, HasSubstr(dir.file("no/such/dir/b.dis")));
}

TEST(CommandLine, InfoDescribesTheLayoutAndTheColourMap) {
  testfiles::TempDir dir;
  const ToolResult run = tool({"info", sample("design.dis")}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr(": version 3, 3 planes\n"));
  EXPECT_THAT(run.out, HasSubstr("  plane 2: 256 x 192, packed (1), block at 50464, region of "));
  EXPECT_THAT(run.out, HasSubstr("  colour map: 10 of 256 entries set"));
  EXPECT_THAT(run.out, HasSubstr("      2  #a3202c  "));
}

TEST(CommandLine, InfoJsonIsValidJsonWithTheLayout) {
  testfiles::TempDir dir;
  const std::string odd = dir.file("odd \"name\"\t.dis");
  makeImage(odd, 2, 70000, 1, 2, runs(3));  // version 4, whole-plane packed
  const ToolResult run = tool({"info", "--json", sample("design.dis"), odd, dir.file("missing.dis")}, dir);
  EXPECT_EQ(run.status, 2);
  const std::optional<Json> json = JsonParser::parse(run.out);
  ASSERT_TRUE(json.has_value()) << run.out;
  ASSERT_EQ(json->kind, Json::kArray);
  ASSERT_EQ(json->items.size(), 3u);

  const Json& design = (*json)[0];
  EXPECT_EQ(design["version"].number, 3);
  EXPECT_EQ(design["planeCount"].number, 3);
  ASSERT_EQ(design["planes"].items.size(), 3u);
  EXPECT_EQ(design["planes"][0]["width"].number, 256);
  EXPECT_EQ(design["planes"][0]["height"].number, 192);
  EXPECT_EQ(design["planes"][0]["encodingName"].text, "packed");
  EXPECT_EQ(design["planes"][1]["blockPosition"].number, 50464);
  EXPECT_EQ(design["planes"][1]["regionStart"].number, 50464 + 1312);
  EXPECT_EQ(design["colourMap"]["entriesSet"].number, 10);
  EXPECT_EQ(design["colourMap"]["entries"][1]["rgb"].text, "#a3202c");
  EXPECT_EQ(design["problems"].items.size(), 0u);

  const Json& wide = (*json)[1];
  EXPECT_EQ(wide["file"].text, odd);
  EXPECT_EQ(wide["version"].number, 4);
  EXPECT_EQ(wide["planes"][1]["encoding"].number, 2);
  EXPECT_EQ(wide["planes"][0]["width"].number, 70000);

  EXPECT_EQ((*json)[2]["file"].text, dir.file("missing.dis"));
  EXPECT_THAT((*json)[2]["error"].text, HasSubstr("cannot be opened"));
  EXPECT_THAT(run.err, HasSubstr(dir.file("missing.dis") + ": cannot be opened"));
}

}  // namespace
}  // namespace tooltest
