// The command line: help, version, exit statuses, info's two outputs, and
// the shipped sample.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "ToolTestSupport.h"

namespace tooltest {
namespace {

using ::testing::HasSubstr;

// Exit statuses 0-4 with the file named; the status table only in top help.
TEST(CommandLine, EachOutcomeHasItsExitStatusAndNamesTheFile) {
  testfiles::TempDir dir;
  auto f = [&dir](const std::string& name) { return dir.file(name); };
  std::filesystem::create_directory(f("out"));  // where failed commands would write
  const std::string x = f("out/x.dis");
  makeImage(f("d0.dis"), 0, 40, 6, 1, runs(3));
  makeImage(f("d1.dis"), 1, 40, 6, 1, runs(3));
  makeImage(f("taller.dis"), 0, 40, 7, 1, runs(3));
  testfiles::writeText(f("text.dis"), "not an image\n");
  const std::string cut = cutSample(dir, 3000);  // damaged, yet usable
  testfiles::writeFile(f("thin.dis"), firstBlock(2, 0, 0, 5));
  ASSERT_TRUE(writePng(f("small.png"), palettePng(3, 3, 4, runs(4))));
  ASSERT_TRUE(writePng(f("large.png"), palettePng(4, 3, 4, runs(4))));
  // Packed noise does not fit before plane 2's block.
  ASSERT_TRUE(writePng(f("noise.png"), palettePng(40, 30, 256, noise(2))));
  ASSERT_TRUE(writePng(f("flat.png"), palettePng(40, 30, 256, runs(4))));
  testfiles::writeText(f("rules.txt"), "COLCOPER 5\nCOLTEST seven\nCOLSOST 9\n");
  const std::string usage = "Run with --help or --help-all for more information.";
  // The arguments, the exit status, texts that stdout and stderr contain.
  std::vector<std::tuple<std::vector<std::string>, int, std::string, std::string>> cases = {
      {{"--help"}, 0, "3  an output could not be written", ""},
      {{"--version"}, 0, "btreeimg ", ""},
      {{"--help-all"}, 0, "\n  btreeimg diff A B [--json] [--lenient] [--max-pixels MAX-PIXELS]\n                      Compares two images", ""},
      {{"frompng", "--help"}, 0, "Usage: btreeimg frompng [OPTIONS] IN.png... OUT\n", ""},
      {{"check", f("d1.dis")}, 0, f("d1.dis") + ": ok\n", ""},
      // Damage found: 1, unless a file cannot be used at all.
      {{"check", f("d1.dis"), cut}, 1, cut + ": plane 2: header block at 50464 lies outside the file", ""},
      {{"check", cut, f("missing.dis"), f("d1.dis")}, 2, "", f("missing.dis") + ": cannot be opened"},
      // diff: 0 for equal pixels and colour maps, 1 for any difference.
      {{"diff", f("d1.dis"), f("d0.dis")}, 0, f("d1.dis") + " and " + f("d0.dis") + ": equal\n", ""},
      {{"diff", f("d0.dis"), f("taller.dis")}, 1, "plane 1: dimensions differ: 40 x 6 in the first image, 40 x 7 in the second\n", ""},
      {{"diff", f("thin.dis"), f("thin.dis")}, 0, "plane 1: 0 x 5, equal\n", ""},
      // Inputs that cannot be used: 2.
      {{"diff", f("d0.dis"), f("text.dis")}, 2, "", f("text.dis") + ": file is 13 bytes, shorter"},
      {{"topng", f("d0.dis"), f("out/x.png"), "--plane", "2"}, 2, "", f("d0.dis") + ": has no plane 2 (it has 1)"},
      // By default each plane packed while that fits, else raw.
      {{"frompng", f("flat.png"), f("noise.png"), f("chosen.dis")}, 0,
       f("chosen.dis") + ": 2 planes of 40 x 30, encodings packed, raw, version 2\n", ""},
      {{"frompng", f("small.png"), f("large.png"), x}, 2, "", f("large.png") + ": is 4 x 3"},
      {{"frompng", f("d0.dis"), x}, 2, "", f("d0.dis") + ": is not a PNG file"},
      {{"cover", f("d0.dis"), f("rules.txt"), x}, 2, "", f("rules.txt") + ": rule 1: "},
      // Outputs that cannot be written: 3.
      {{"topng", f("d0.dis"), f("no/such/dir/a.png")}, 3, "", f("no/such/dir/a.png")},
      {{"frompng", f("noise.png"), f("noise.png"), x, "--pack", "1"}, 3, "",
       x + ": plane 1, line 13: the packed line does not fit before the next plane's header block\n"
           "btreeimg: without --pack, a plane whose code does not fit is written raw\n"},
      // A command line not understood: 4.
      {{}, 4, "", usage},
      {{"paint"}, 4, "", "btreeimg: unknown command 'paint'; the commands are info, check, topng, "
                         "frompng, repack, cover, diff, thumbnail\n" + usage},
      {{"frompng", f("small.png")}, 4, "", "frompng takes 1 to 5 PNG files (one per plane), then the "
                                           "image file to write; 1 file was given\n" + usage},
      {{"frompng", f("small.png"), "-"}, 4, "", "an image file cannot be written to the standard output ('-')"},
      {{"topng", f("d0.dis"), f("out/x.png"), "--plane", "0"}, 4, "",
       "btreeimg: --plane: Value 0 not in range 1 to 5\n" + usage},
      {{"frompng", f("missing.png"), x}, 2, "", f("missing.png") + ": cannot be opened: file not found ("},
  };
  for (const char* command : {"info", "check", "topng", "frompng", "repack", "cover", "diff", "thumbnail"}) {
    cases.push_back({{command, "--help"}, 0, "\nExit statuses: see btreeimg --help.\n", ""});
  }
  for (const auto& [args, status, out, err] : cases) {
    const Result run = tool(args, dir);
    SCOPED_TRACE(::testing::PrintToString(args));
    EXPECT_EQ(run.status, status) << run.err;
    const bool topHelp = !args.empty() && (args[0] == "--help" || args[0] == "--help-all");
    EXPECT_EQ(run.out.find("3  an output") != std::string::npos, topHelp);
    EXPECT_THAT(run.out, HasSubstr(out));
    EXPECT_THAT(run.err, err.empty() ? ::testing::Matcher<std::string>(::testing::IsEmpty()) : HasSubstr(err));
  }
  // No failed command leaves an output behind.
  EXPECT_TRUE(std::filesystem::is_empty(f("out")));
  EXPECT_FALSE(std::filesystem::exists(f("no")));
}

TEST(CommandLine, InfoDescribesTheLayoutAndTheColourMapInTextAndJson) {
  testfiles::TempDir dir;
  Result run = tool({"info", sample("design.dis")}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr(": version 3, 3 planes\n"));
  EXPECT_THAT(run.out, HasSubstr("  plane 2: 256 x 192, packed (1), block at 50464, region of "));
  EXPECT_THAT(run.out, HasSubstr("  colour map: 10 of 256 entries set"));
  EXPECT_THAT(run.out, HasSubstr("      2  #a3202c  "));

  // JSON: texts escaped, an error in place of a missing file's layout.
  const std::string odd = dir.file("odd \"name\"\t.dis");
  makeImage(odd, 2, 70000, 1, 1, [](int, int, int) { return std::uint8_t{4}; });
  run = tool({"info", "--json", odd, dir.file("missing.dis")}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr(dir.file("missing.dis") + ": cannot be opened"));
  EXPECT_EQ(run.out.substr(0, 18), "[\n  {\n    \"file\": ");
  EXPECT_EQ(flatJson(run.out), R"([{"file": ")" + dir.path().string() + R"(/odd \"name\"\u0009.dis",)"
            R"("version": 4,"planeCount": 1,"planes": [{"plane": 1,"located": true,"width": 70000,)"
            R"("height": 1,"encoding": 2,"encodingName": "whole-plane packed","blockPosition": 0,)"
            R"("regionStart": 1312,"regionSize": 558,"regionRoom": 558,"coloursUsed": 1}],)"
            R"("colourMap": {"entriesSet": 0,"distinctColours": 1,"greyRamp": false,)"
            R"("entries": [{"index": 4,"rgb": "#000000","pixels": 70000}]},)"
            R"("pixelsNotCounted": null,"problems": []},{"file": ")" + dir.file("missing.dis") +
            R"(","error": "cannot be opened: file not found ()" + std::strerror(ENOENT) + ")\"}]");
}

TEST(Sample, TheShippedImageIsWhatTheGeneratorWrites) {
  testfiles::TempDir dir;
  const Result run = runProgram(BTREEIMG_MAKE_SAMPLE, {dir.file("design.dis")}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(testfiles::readFile(dir.file("design.dis")) == testfiles::readFile(sample("design.dis")))
      << "samples/design.dis is stale: rebuild it with the target regenerate-sample";
}

}  // namespace
}  // namespace tooltest
