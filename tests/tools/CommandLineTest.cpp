// The command line: help, version, exit statuses, info's two outputs, and
// the shipped sample.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ToolTestSupport.h"

namespace tooltest {
namespace {

using ::testing::HasSubstr;

TEST(CommandLine, EachOutcomeHasItsExitStatusAndNamesTheFile) {
  testfiles::TempDir dir;
  auto f = [&dir](const std::string& name) { return dir.file(name); };
  std::filesystem::create_directory(f("out"));  // where failed commands would write
  const std::string x = f("out/x.dis"), xpng = f("out/x.png");
  makeImage(f("a.dis"), 0, 8, 2, 3, runs(2));
  makeImage(f("good.dis"), 1, 10, 4, 1, [](int, int, int y) { return static_cast<std::uint8_t>(y); });
  testfiles::writeText(f("text.dis"), "not an image\n");
  testfiles::Bytes bad = testfiles::readFile(f("good.dis"));
  bad.at(1336) = 12;  // line 2's run is longer than the line
  testfiles::writeFile(f("bad.dis"), bad);
  testfiles::Bytes thin(1312, 0);  // version 2, one plane of 0 x 5
  thin[0] = 2;
  thin[1000] = 1;
  thin[12] = 5;
  testfiles::writeFile(f("thin.dis"), thin);
  ASSERT_TRUE(writeRawPng(f("rgba.png"), RawPng{2, 1, PNG_COLOR_TYPE_RGB_ALPHA, 8, false,
                                                {1, 2, 3, 255, 4, 5, 6, 0}, {}, {}}));
  ASSERT_TRUE(writePng(f("small.png"), palettePng(3, 3, 4, runs(4))));
  ASSERT_TRUE(writePng(f("large.png"), palettePng(4, 3, 4, runs(4))));
  // Packed noise needs twice its raw size plus the line table; plane 1 of
  // two has only its raw size before plane 2's block.
  ASSERT_TRUE(writePng(f("noise.png"), palettePng(40, 30, 256, noise(2))));
  ASSERT_TRUE(writePng(f("flat.png"), palettePng(40, 30, 256, runs(4))));
  testfiles::writeText(f("rules1.txt"), "COLCOPER 5\nCOLCOPER 6\nCOLTEST 7\nCOLSOST 9\nCOLSOST 9\n");
  testfiles::writeText(f("rules2.txt"), "COLCOPER 5\nCOLTEST seven\nCOLSOST 9\n");
  // The same pixels in every encoding, and plane 1 changed by a coverage.
  makeImage(f("d.dis"), 0, 40, 6, 3, runs(3));
  makeImage(f("taller.dis"), 0, 40, 7, 3, runs(3));  // d.dis with one line more
  for (const char* pack : {"0", "1", "2"}) {
    ASSERT_EQ(tool({"repack", f("d.dis"), f(std::string("d") + pack + ".dis"), "--pack", pack}, dir).status, 0);
  }
  testfiles::writeText(f("rules3.txt"), "COLCOPER 1\nCOLTEST 1\nCOLSOST 9\n");
  ASSERT_THAT(tool({"cover", f("d.dis"), f("rules3.txt"), f("covered.dis")}, dir).out, HasSubstr(" changed 52 pixels"));
  const std::string usage = "Run with --help or --help-all for more information.";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string out, err;  // texts that stdout and stderr contain
  };
  std::vector<Case> cases = {
      {{"--help"}, 0, "3  an output could not be written", ""},
      {{"--version"}, 0, "btreeimg ", ""},
      {{"--help-all"}, 0, "\n  btreeimg diff A B [--json] [--lenient] [--max-pixels MAX-PIXELS]\n                      Compares two images", ""},
      {{"frompng", "--help"}, 0, "Usage: btreeimg frompng [OPTIONS] IN.png... OUT\n", ""},
      {{"check", f("good.dis")}, 0, f("good.dis") + ": ok\n", ""},
      // Damage found: 1, unless a file cannot be used at all.
      {{"check", f("good.dis"), f("bad.dis")}, 1, f("bad.dis") + ": plane 1: line 2 decodes to 12 bytes, not 10\n", ""},
      {{"check", f("bad.dis"), f("missing.dis"), f("good.dis")}, 2, "", f("missing.dis") + ": cannot be opened"},
      // diff: 0 for equal pixels and colour maps, 1 for any difference.
      {{"diff", f("d.dis"), f("d0.dis")}, 0, f("d.dis") + " and " + f("d0.dis") + ": equal\n", ""},
      {{"diff", f("d1.dis"), f("d.dis")}, 0, f("d1.dis") + " and " + f("d.dis") + ": equal\n", ""},
      {{"diff", f("d.dis"), f("d2.dis")}, 0, f("d.dis") + " and " + f("d2.dis") + ": equal\n", ""},
      {{"diff", f("d.dis"), f("covered.dis")}, 1, "plane 1: 40 x 6, 52 pixels differ, the first at line 0, column 0\n", ""},
      {{"diff", f("d.dis"), f("a.dis")}, 1, "plane 1: dimensions differ: 40 x 6 in the first image, 8 x 2 in the second\n", ""},
      {{"diff", f("d.dis"), f("taller.dis")}, 1, "plane 1: dimensions differ: 40 x 6 in the first image, 40 x 7 in the second\n", ""},
      {{"diff", f("d.dis"), f("text.dis")}, 2, "", f("text.dis") + ": file is 13 bytes, shorter"},
      {{"diff", f("thin.dis"), f("thin.dis")}, 0, "plane 1: 0 x 5, equal\n", ""},
      // Inputs that cannot be used: 2.
      {{"check", f("text.dis")}, 2, "", f("text.dis") + ": file is 13 bytes, shorter"},
      {{"topng", f("a.dis"), xpng, "--plane", "4"}, 2, "", f("a.dis") + ": has no plane 4 (it has 3)"},
      {{"frompng", f("rgba.png"), x}, 2, "", f("rgba.png") + ": the pixel at line 0, column 1 is not fully opaque"},
      // By default each plane packed while that fits, else raw.
      {{"frompng", f("flat.png"), f("noise.png"), f("chosen.dis")}, 0,
       f("chosen.dis") + ": 2 planes of 40 x 30, encodings packed, raw, version 2\n", ""},
      {{"frompng", f("small.png"), f("large.png"), x}, 2, "", f("large.png") + ": is 4 x 3"},
      {{"frompng", f("a.dis"), x}, 2, "", f("a.dis") + ": is not a PNG file"},
      {{"cover", f("a.dis"), f("missing.txt"), x}, 2, "", f("missing.txt") + ": cannot be opened"},
      {{"cover", f("a.dis"), f("rules1.txt"), x}, 2, "",
       f("rules1.txt") + ": has 2 COLCOPER values but 1 COLTEST value;"},
      {{"cover", f("a.dis"), f("rules2.txt"), x}, 2, "",
       f("rules2.txt") + ": rule 1: COLTEST value \"seven\" is not a number"},
      // Outputs that cannot be written: 3.
      {{"topng", f("a.dis"), f("no/such/dir/a.png")}, 3, "", f("no/such/dir/a.png")},
      {{"frompng", f("noise.png"), f("noise.png"), x, "--pack", "1"}, 3, "",
       x + ": plane 1, line 13: the packed line does not fit before the next plane's header block\n"
           "btreeimg: without --pack, a plane whose code does not fit is written raw\n"},
      // A command line not understood: 4.
      {{}, 4, "", usage},
      {{"paint"}, 4, "", "btreeimg: unknown command 'paint'; the commands are info, check, topng, "
                         "frompng, repack, cover, diff, thumbnail\n" + usage},
      {{"frompng", f("small.png")}, 4, "", "frompng takes 1 to 5 PNG files (one per plane), then the "
                                           "image file to write; 1 file was given\n" + usage},
      {{"frompng", "1", "2", "3", "4", "5", "6", x}, 4, "", "; 7 files were given\n"},
      {{"frompng", f("small.png"), "-"}, 4, "", "an image file cannot be written to the standard output ('-')"},
      {{"repack", f("a.dis"), x, "--pack", "3"}, 4, "", usage},
      {{"topng", f("a.dis"), xpng, "--plane", "0"}, 4, "", usage},
      {{"diff", f("a.dis")}, 4, "", usage},
  };
  for (const char* command : {"info", "check", "topng", "frompng", "repack", "cover", "diff", "thumbnail"}) {
    cases.push_back({{command, "--help"}, 0, "\nExit statuses: see btreeimg --help.\n", ""});
  }
  for (const auto& c : cases) {
    const ToolResult run = tool(c.args, dir);
    SCOPED_TRACE(::testing::PrintToString(c.args));
    EXPECT_EQ(run.status, c.status) << run.err;
    // The table of exit statuses is the top-level help's alone.
    const bool topHelp = !c.args.empty() && (c.args[0] == "--help" || c.args[0] == "--help-all");
    EXPECT_EQ(run.out.find("3  an output") != std::string::npos, topHelp);
    EXPECT_THAT(run.out, HasSubstr(c.out));
    EXPECT_THAT(run.err, c.err.empty() ? ::testing::Matcher<std::string>(::testing::IsEmpty()) : HasSubstr(c.err));
  }
  // No failed command leaves an output, or a file on the way to one, behind.
  EXPECT_TRUE(std::filesystem::is_empty(f("out")));
  EXPECT_FALSE(std::filesystem::exists(f("no")));
}

TEST(CommandLine, InfoDescribesTheLayoutAndTheColourMapInTextAndJson) {
  testfiles::TempDir dir;
  ToolResult run = tool({"info", sample("design.dis")}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr(": version 3, 3 planes\n"));
  EXPECT_THAT(run.out, HasSubstr("  plane 2: 256 x 192, packed (1), block at 50464, region of "));
  EXPECT_THAT(run.out, HasSubstr("  colour map: 10 of 256 entries set"));
  EXPECT_THAT(run.out, HasSubstr("      2  #a3202c  "));

  // The JSON form, exactly: texts are escaped, and a file that cannot be
  // opened has its error in place of the layout.
  const std::string odd = dir.file("odd \"name\"\t.dis");
  makeImage(odd, 2, 70000, 1, 1, [](int, int, int) { return std::uint8_t{4}; });
  run = tool({"info", "--json", odd, dir.file("missing.dis")}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr(dir.file("missing.dis") + ": cannot be opened"));
  EXPECT_EQ(run.out, R"([
  {
    "file": ")" + dir.path().string() + R"(/odd \"name\"\u0009.dis",
    "version": 4,
    "planeCount": 1,
    "planes": [
      {
        "plane": 1,
        "located": true,
        "width": 70000,
        "height": 1,
        "encoding": 2,
        "encodingName": "whole-plane packed",
        "blockPosition": 0,
        "regionStart": 1312,
        "regionSize": 558,
        "regionRoom": 558,
        "coloursUsed": 1
      }
    ],
    "colourMap": {
      "entriesSet": 0,
      "distinctColours": 1,
      "greyRamp": false,
      "entries": [
        {
          "index": 4,
          "rgb": "#000000",
          "pixels": 70000
        }
      ]
    },
    "pixelsNotCounted": null,
    "problems": []
  },
  {
    "file": ")" + dir.file("missing.dis") + R"(",
    "error": "cannot be opened: file not found ()" + std::strerror(ENOENT) + R"*()"
  }
]
)*");
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
