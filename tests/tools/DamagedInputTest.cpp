// One verdict on a damaged image: every command that reads one refuses it
// with status 2 in the words of the inspection's first problem (and how many
// more there are), unless given --lenient; `info` says only what it
// established. A plane that costs more pixels than --max-pixels (the
// library's default limit unless given) is refused the same way, at once;
// info describes it and a thumbnail samples it. The files that state more
// than they hold are a header block and a few bytes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <utility>
#include <string>
#include <vector>

#include "ToolTestSupport.h"

namespace tooltest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// What a command says of `file` when a plane costs more than the limit.
std::string limitRefusal(const std::string& file, const std::string& problem) {
  return "btreeimg: " + file + ": " + problem + "\nbtreeimg: --max-pixels N raises the limit (0: no limit)\n";
}

TEST(DamagedInput, EveryCommandRefusesItOrAPlaneOverThePixelLimitAtOnceUnlessLenient) {
  testfiles::TempDir dir;
  auto f = [&dir](const std::string& name) { return dir.file(name); };
  std::filesystem::create_directory(f("out"));
  // Cut inside plane 1's lines: plane 2's block and plane 3 are lost too.
  const std::string file = cutSample(dir, 3000), summary = summaryOf(file);
  ASSERT_THAT(summary, HasSubstr(" (and 2 more problems)"));
  // 16385 x 16384 pixels, 2^28 + 16384, in a 2 MiB file.
  const std::string big = f("big.dis");
  testfiles::writeFile(big, flatPlane(16385, 16384));
  const std::pair<std::string, std::string> refusals[] = {
      {file, "btreeimg: " + file + ": " + summary + "\n"},
      {big, limitRefusal(big, "the image states 16385 x 16384 pixels, more than the limit of 268435456")}};
  for (const auto& [input, refusal] : refusals) {
    std::vector<std::vector<std::string>> commands = {
        {"topng", input, f("out/x.png")},
        {"diff", sample("design.dis"), input},
        {"repack", input, f("out/x.dis"), "--pack", "1"},
        {"cover", input, sample("rules.txt"), f("out/x.dis")},
    };
    if (input == file) commands.push_back({"thumbnail", file, f("out/x.png")});
    for (const auto& args : commands) {
      SCOPED_TRACE(::testing::PrintToString(args));
      const Result run = tool(args, dir);
      EXPECT_EQ(run.status, 2);
      EXPECT_THAT(run.err, StartsWith(refusal));
      EXPECT_EQ(run.out, "");
    }
  }
  EXPECT_TRUE(std::filesystem::is_empty(f("out")));

  // --lenient: a warning, then what the library reads.
  Result run = tool({"topng", "--lenient", file, f("x.png")}, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "btreeimg: " + file + ": warning: " + summary + "; going on with what the library reads\n");
  EXPECT_EQ(readPng(f("x.png")).width, 3 * 256u);
  EXPECT_THAT(tool({"cover", "--lenient", file, sample("rules.txt"), f("y.dis")}, dir).err,
              HasSubstr("--lenient"));  // cover has no lenient mode

  // info describes the plane over the limit and says why it counted no
  // pixel; a thumbnail reads 64 lines of it, well within the limit.
  run = tool({"info", big}, dir);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("\n  pixels not counted: the image states 16385 x 16384 pixels, more "
                                 "than the limit of 268435456 (--max-pixels N raises it)\n"));
  EXPECT_THAT(run.out, Not(HasSubstr(" used")));
  EXPECT_THAT(tool({"info", "--max-pixels", "0", "--json", big}, dir).out, HasSubstr("\"pixels\": 268451840\n"));
  ASSERT_EQ(tool({"thumbnail", "-s", "64", big, f("t.png")}, dir).status, 0);
  EXPECT_EQ(readPng(f("t.png")).pixels, std::vector<std::uint8_t>(64 * 64, 7));
}

TEST(PixelLimit, MaxPixelsIsTheMostAPlaneOrAThumbnailMayCostAndEmptyLinesCostToo) {
  // The sample's planes are 256 x 192: 49152 pixels each. A 64 x 48
  // thumbnail of it reads 48 lines of 256 pixels.
  testfiles::TempDir dir;
  const std::string design = sample("design.dis");
  EXPECT_EQ(tool({"topng", "--max-pixels", "49152", design, dir.file("a.png")}, dir).status, 0);
  EXPECT_EQ(tool({"topng", "--max-pixels", "49151", design, dir.file("b.png")}, dir).err,
            limitRefusal(design, "the image states 256 x 192 pixels, more than the limit of 49151"));
  EXPECT_EQ(tool({"thumbnail", "-s", "64", "--max-pixels", "12288", design, dir.file("c.png")}, dir).status, 0);
  EXPECT_EQ(tool({"thumbnail", "-s", "64", "--max-pixels", "12287", design, dir.file("d.png")}, dir).err,
            limitRefusal(design, "a 64 x 48 thumbnail reads 48 lines of 256 pixels, 12288 "
                                 "in all, more than the limit of 12287"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("b.png")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("d.png")));

  // Lines cost even when they are empty: 0 x (2^32 - 1) is sound, but four
  // billion lines.
  const std::string lines = dir.file("lines.dis");
  testfiles::writeFile(lines, firstBlock(4, 0, 0, 0xffffffffu));
  EXPECT_EQ(tool({"diff", lines, lines}, dir).err,
            limitRefusal(lines, "the image states 0 x 4294967295 pixels, more than the limit of 268435456"));
}

TEST(DamagedInput, InfoCountsThePixelsOfThePlanesFoundIntactOnly) {
  testfiles::TempDir dir;
  // Cut at 3000: plane 1's lines run past the end, plane 2's block lies
  // outside the file, and plane 3's position is unknown.
  std::string cut = cutSample(dir, 3000);
  Result run = tool({"info", cut}, dir);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("  plane 2: header block at 50464 outside the file\n"));
  EXPECT_THAT(run.out, HasSubstr("  plane 3: header block not found: the block leading to it is not in the file\n"));
  EXPECT_THAT(run.out, Not(HasSubstr(" pixels\n")));
  EXPECT_THAT(run.out, HasSubstr("  pixels not counted: planes 1, 2 and 3 damaged or not found\n"));
  EXPECT_THAT(run.out, HasSubstr("  damaged: " + summaryOf(cut) + "; btreeimg check lists every problem\n"));

  // One byte short: only plane 3 is damaged; the counts are planes 1 and 2's.
  cut = cutSample(dir, testfiles::readFile(sample("design.dis")).size() - 1);
  run = tool({"info", cut}, dir);
  EXPECT_THAT(run.out, HasSubstr("  pixels counted in planes 1 and 2 only: plane 3 damaged or not found\n"));
  std::uint64_t pixels = 0;  // the colour map's lines: entry, colour, pixels
  const std::regex entry("  #[0-9a-f]{6} +([0-9]+)");
  for (std::sregex_iterator m(run.out.begin(), run.out.end(), entry), end; m != end; ++m) pixels += std::stoull((*m)[1]);
  EXPECT_EQ(pixels, 2u * 256 * 192);
  run = tool({"info", "--json", cut}, dir);  // plane 3's count alone is null
  EXPECT_EQ(run.out.find("\"coloursUsed\": null"), run.out.rfind("\"coloursUsed\": null"));
  EXPECT_NE(run.out.find("\"coloursUsed\": null"), std::string::npos);
}

}  // namespace
}  // namespace tooltest
