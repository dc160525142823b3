// The command line: help, version, exit statuses, info's two outputs, and
// the shipped sample.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "MiniJson.h"
#include "ToolTestSupport.h"

namespace tooltest {
namespace {

using ::testing::HasSubstr;

TEST(CommandLine, EachOutcomeHasItsExitStatusAndNamesTheFile) {
  testfiles::TempDir dir;
  auto f = [&dir](const std::string& name) { return dir.file(name); };
  std::filesystem::create_directory(f("out"));  // where failed commands would write
  const std::string x = f("out/x.dis"), xpng = f("out/x.png");
  makeImage(f("a.dis"), 0, 8, 2, 1, runs(2));
  makeImage(f("three.dis"), 0, 8, 2, 3, runs(2));
  makeImage(f("good.dis"), 1, 10, 4, 1, [](int, int, int y) { return static_cast<std::uint8_t>(y); });
  testfiles::writeText(f("text.dis"), "not an image\n");
  testfiles::Bytes bad = testfiles::readFile(f("good.dis"));
  bad.at(1336) = 12;  // line 2's run is longer than the line
  testfiles::writeFile(f("bad.dis"), bad);
  ASSERT_TRUE(writePng(f("rgb.png"), Png{2, 1, PNG_COLOR_TYPE_RGB, 8, {1, 2, 3, 4, 5, 6}, {}}));
  ASSERT_TRUE(writePng(f("small.png"), palettePng(3, 3, 4, runs(4))));
  ASSERT_TRUE(writePng(f("large.png"), palettePng(4, 3, 4, runs(4))));
  // Packed noise needs twice its raw size plus the line table; plane 1 of
  // two has only its raw size before plane 2's block.
  ASSERT_TRUE(writePng(f("noise.png"), palettePng(40, 30, 256, noise(2))));
  const char* rules[] = {"COLTEST 7\nCOLSOST 9\n", "COLCOPER 5\nCOLCOPER 6\nCOLTEST 7\nCOLSOST 9\nCOLSOST 9\n",
                         "COLCOPER 5\nCOLTEST seven\nCOLSOST 9\n", "COLCOPER\n"};
  for (int i = 0; i < 4; ++i) testfiles::writeText(f("rules" + std::to_string(i) + ".txt"), rules[i]);
  const std::string usage = "Run with --help for more information.";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out, err;  // texts that stdout and stderr contain
  };
  std::vector<Case> cases = {
      {{"--help"}, 0, "frompng", ""},
      {{"--version"}, 0, "btreeimg ", ""},
      {{"cover", sample("design.dis"), sample("rules.txt"), f("c.dis")}, 0, "4 rules changed ", ""},
      {{"check", f("c.dis")}, 0, f("c.dis") + ": ok\n", ""},
      // Damage found: 1, unless a file cannot be used at all.
      {{"check", f("good.dis"), f("bad.dis")}, 1, f("good.dis") + ": ok\n", ""},
      {{"check", f("bad.dis"), f("missing.dis"), f("good.dis")}, 2, "", f("missing.dis") + ": cannot be opened"},
      // Inputs that cannot be used: 2.
      {{"check", f("text.dis")}, 2, "", f("text.dis") + ": file is 13 bytes, shorter"},
      {{"topng", f("three.dis"), xpng, "--plane", "4"}, 2, "", f("three.dis") + ": has no plane 4 (it has 3)"},
      {{"frompng", f("rgb.png"), x}, 2, "", f("rgb.png") + ": holds RGB colour"},
      {{"frompng", f("small.png"), f("large.png"), x}, 2, "", f("large.png") + ": is 4 x 3"},
      {{"frompng", f("a.dis"), x}, 2, "", f("a.dis") + ": is not a PNG file"},
      {{"repack", f("missing.dis"), x, "--pack", "0"}, 2, "", f("missing.dis") + ": cannot be opened"},
      {{"cover", f("a.dis"), f("missing.txt"), x}, 2, "", f("missing.txt") + ": cannot be opened"},
      {{"cover", f("a.dis"), f("rules0.txt"), x}, 2, "", f("rules0.txt") + ": has no COLCOPER"},
      {{"cover", f("a.dis"), f("rules1.txt"), x}, 2, "",
       f("rules1.txt") + ": has 2 COLCOPER values but 1 COLTEST values"},
      {{"cover", f("a.dis"), f("rules2.txt"), x}, 2, "",
       f("rules2.txt") + ": rule 1: COLTEST value \"seven\" is not a number"},
      {{"cover", f("a.dis"), f("rules3.txt"), x}, 2, "", f("rules3.txt") + ": a line lacks its key or its value"},
      // Outputs that cannot be written: 3.
      {{"topng", f("a.dis"), f("no/such/dir/a.png")}, 3, "", f("no/such/dir/a.png")},
      {{"repack", f("a.dis"), f("no/such/dir/b.dis"), "--pack", "1"}, 3, "", f("no/such/dir/b.dis")},
      {{"frompng", f("noise.png"), f("noise.png"), x, "--pack", "1"}, 3, "",
       x + ": plane 1 does not fit its place in the file"},
      // A command line not understood: 4.
      {{}, 4, "", usage},
      {{"paint"}, 4, "", usage},
      {{"info"}, 4, "", usage},
      {{"repack", f("a.dis"), x}, 4, "", usage},
      {{"repack", f("a.dis"), x, "--pack", "3"}, 4, "", usage},
      {{"topng", f("a.dis"), xpng, "--plane", "0"}, 4, "", usage},
      {{"frompng", f("a.dis")}, 4, "", usage},
  };
  for (const char* command : {"info", "check", "topng", "frompng", "repack", "cover"}) {
    cases.push_back({{command, "--help"}, 0, "3  an output could not be written", ""});
  }
  for (const auto& c : cases) {
    const ToolResult run = tool(c.args, dir);
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_THAT(run.out, HasSubstr(c.out));
    EXPECT_THAT(run.err, c.err.empty() ? ::testing::Matcher<std::string>(::testing::IsEmpty()) : HasSubstr(c.err));
  }
  // No failed command leaves an output, or a file on the way to one, behind.
  EXPECT_TRUE(std::filesystem::is_empty(f("out")));
  EXPECT_FALSE(std::filesystem::exists(f("no")));
  EXPECT_EQ(tool({"check", sample("design.dis")}, dir).out, sample("design.dis") + ": ok\n");
}

TEST(CommandLine, InfoDescribesTheLayoutAndTheColourMapInTextAndJson) {
  testfiles::TempDir dir;
  ToolResult run = tool({"info", sample("design.dis")}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr(": version 3, 3 planes\n"));
  EXPECT_THAT(run.out, HasSubstr("  plane 2: 256 x 192, packed (1), block at 50464, region of "));
  EXPECT_THAT(run.out, HasSubstr("  colour map: 10 of 256 entries set"));
  EXPECT_THAT(run.out, HasSubstr("      2  #a3202c  "));

  const std::string odd = dir.file("odd \"name\"\t.dis");
  makeImage(odd, 2, 70000, 1, 2, runs(3));  // version 4, whole-plane packed
  run = tool({"info", "--json", sample("design.dis"), odd, dir.file("missing.dis")}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr(dir.file("missing.dis") + ": cannot be opened"));
  const std::optional<JsonValues> json = parseJson(run.out);
  ASSERT_TRUE(json.has_value()) << run.out;
  const std::map<std::string, std::string> expected = {
      {"", "[3]"},
      {"/0/version", "3"},
      {"/0/planeCount", "3"},
      {"/0/planes", "[3]"},
      {"/0/planes/0/width", "256"},
      {"/0/planes/0/height", "192"},
      {"/0/planes/0/encodingName", "packed"},
      {"/0/planes/1/blockPosition", "50464"},
      {"/0/planes/1/regionStart", std::to_string(50464 + 1312)},
      {"/0/colourMap/entriesSet", "10"},
      {"/0/colourMap/entries/1/rgb", "#a3202c"},
      {"/0/problems", "[0]"},
      {"/1/file", odd},
      {"/1/version", "4"},
      {"/1/planes/1/encoding", "2"},
      {"/1/planes/0/width", "70000"},
      {"/2/file", dir.file("missing.dis")},
  };
  for (const auto& [pointer, value] : expected) {
    EXPECT_EQ(json->count(pointer) ? json->at(pointer) : "(none)", value) << pointer;
  }
  EXPECT_THAT(json->count("/2/error") ? json->at("/2/error") : "", HasSubstr("cannot be opened"));
}

TEST(Sample, TheShippedImageIsWhatTheGeneratorWrites) {
  testfiles::TempDir dir;
  const ToolResult run = runProgram(BTREEIMG_MAKE_SAMPLE, {dir.file("design.dis")}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(testfiles::readFile(dir.file("design.dis")) == testfiles::readFile(sample("design.dis")))
      << "samples/design.dis is stale: rebuild it with the target regenerate-sample";
}

}  // namespace
}  // namespace tooltest
