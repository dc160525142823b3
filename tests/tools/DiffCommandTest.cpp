// diff: what it reports of two images that differ, as text and as JSON.
// (Its exit statuses are in CommandLineTest's table.)
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "ToolTestSupport.h"

namespace tooltest {
namespace {

TEST(DiffCommand, ReportsEachPlaneAndEachDifferingColourMapEntryInTextAndJson) {
  testfiles::TempDir dir;
  auto f = [&dir](const std::string& name) { return dir.file(name); };
  // First: two planes. Second: plane 1 with two pixels changed, plane 2 the
  // same, a third plane, and colour-map entry 2 changed.
  const Png one = palettePng(6, 3, 4, runs(4)), two = palettePng(6, 3, 4, noise(3));
  Png changed = one;
  for (const std::size_t at : {2 * 6 + 0, 1 * 6 + 4}) changed.samples[at] = (changed.samples[at] + 1) % 4;
  changed.palette[2] = {9, 9, 9};
  ASSERT_TRUE(writePng(f("one.png"), one));
  ASSERT_TRUE(writePng(f("two.png"), two));
  ASSERT_TRUE(writePng(f("changed.png"), changed));
  ASSERT_EQ(tool({"frompng", f("one.png"), f("two.png"), f("a.dis")}, dir).status, 0);
  ASSERT_EQ(tool({"frompng", f("changed.png"), f("two.png"), f("one.png"), f("b.dis")}, dir).status, 0);

  Result run = tool({"diff", f("a.dis"), f("b.dis")}, dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out,
            "plane 1: 6 x 3, 2 pixels differ, the first at line 1, column 4\n"
            "plane 2: 6 x 3, equal\n"
            "plane 3: only in the second image (6 x 3)\n"
            "colour map: 1 entry differs\n"
            "  2: #020011 in the first image, #090909 in the second\n" +
                f("a.dis") + " and " + f("b.dis") + ": differ\n");

  run = tool({"diff", "--json", f("a.dis"), f("b.dis")}, dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out.substr(0, 14), "{\n  \"first\": \"");
  const std::string size = R"({"width": 6,"height": 3})";
  EXPECT_EQ(flatJson(run.out), R"({"first": ")" + f("a.dis") + R"(","second": ")" + f("b.dis") +
                      R"(","equal": false,"planes": [)"
                      R"({"plane": 1,"first": )" + size + R"(,"second": )" + size +
                      R"(,"dimensionsDiffer": false,"differingPixels": 2,"firstDifference": {"line": 1,"column": 4}},)"
                      R"({"plane": 2,"first": )" + size + R"(,"second": )" + size +
                      R"(,"dimensionsDiffer": false,"differingPixels": 0,"firstDifference": null},)"
                      R"({"plane": 3,"first": null,"second": )" + size +
                      R"(,"dimensionsDiffer": true,"differingPixels": null,"firstDifference": null}],)"
                      R"("colourMap": {"differingEntries": [{"index": 2,"first": "#020011","second": "#090909"}]}})");
}

TEST(DiffCommand, CountsDifferencesInEveryBlockOfLinesItReads) {
  // Lines of 4096 pixels are compared 64 at a time: differences at the end
  // of a block, in a later one, and in the last, shorter one.
  testfiles::TempDir dir;
  const auto base = [](int, int x, int y) { return static_cast<std::uint8_t>((x / 9 + y) % 5); };
  const auto changed = [&base](int plane, int x, int y) {
    const bool differs = (y == 63 && x == 4095) || (y == 130 && x == 7) || (y == 199 && x < 3);
    return static_cast<std::uint8_t>(base(plane, x, y) + (differs ? 1 : 0));
  };
  makeImage(dir.file("a.dis"), 0, 4096, 200, 1, base);
  makeImage(dir.file("b.dis"), 1, 4096, 200, 1, changed);
  makeImage(dir.file("c.dis"), 1, 4096, 200, 1, [&](int p, int x, int y) { return y < 64 ? base(p, x, y) : changed(p, x, y); });
  Result run = tool({"diff", dir.file("a.dis"), dir.file("b.dis")}, dir);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "plane 1: 4096 x 200, 5 pixels differ, the first at line 63, column 4095");
  run = tool({"diff", dir.file("a.dis"), dir.file("c.dis")}, dir);  // the first in a later block
  EXPECT_EQ(run.out.substr(0, run.out.find('\n')), "plane 1: 4096 x 200, 4 pixels differ, the first at line 130, column 7");
}

}  // namespace
}  // namespace tooltest
