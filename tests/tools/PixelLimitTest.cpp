// Files that state more than they hold: a command reads no plane that costs
// more pixels than --max-pixels (the library's default limit unless given),
// refusing it at once with status 2, and never makes a plane of the size a
// damaged block states. The files are a header block and a few bytes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "ToolTestSupport.h"

namespace tooltest {
namespace {

using ::testing::HasSubstr;

std::string limitRefusal(const std::string& file, const std::string& problem) {
  return "btreeimg: " + file + ": " + problem +
         "\nbtreeimg: --max-pixels N raises the limit (0: no limit)\n";
}

TEST(PixelLimit, APlaneOverTheLimitIsRefusedAtOnceByEveryCommandThatReadsIt) {
  // 16385 x 16384 pixels, 2^28 + 16384, in a 2 MiB file.
  testfiles::TempDir dir;
  auto f = [&dir](const std::string& name) { return dir.file(name); };
  std::filesystem::create_directory(f("out"));
  const std::string big = f("big.dis");
  testfiles::writeFile(big, flatPlane(16385, 16384));
  ASSERT_EQ(tool({"check", big}, dir).out, big + ": ok\n");
  const std::string refusal =
      limitRefusal(big, "the image states 16385 x 16384 pixels, more than the limit of 268435456");
  const std::vector<std::vector<std::string>> commands = {
      {"topng", big, f("out/x.png")},
      {"diff", big, big},
      {"diff", sample("design.dis"), big},
      {"repack", big, f("out/x.dis"), "--pack", "0"},
      {"cover", big, sample("rules.txt"), f("out/x.dis")},
  };
  for (const auto& args : commands) {
    SCOPED_TRACE(::testing::PrintToString(args));
    const ToolResult run = tool(args, dir);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, refusal);
    EXPECT_EQ(run.out, "");
  }
  EXPECT_TRUE(std::filesystem::is_empty(f("out")));

  // info describes the file and says why it counted no pixel.
  ToolResult run = tool({"info", big}, dir);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("  plane 1: 16385 x 16384, whole-plane packed (2), block at 0"));
  EXPECT_THAT(run.out, HasSubstr("\n  pixels not counted: the image states 16385 x 16384 pixels, more "
                                 "than the limit of 268435456 (--max-pixels N raises it)\n"));
  EXPECT_THAT(run.out, ::testing::Not(HasSubstr(" used")));
  run = tool({"info", "--max-pixels", "0", "--json", big}, dir);
  EXPECT_THAT(run.out, HasSubstr("\"pixels\": 268451840\n"));
  EXPECT_THAT(run.out, HasSubstr("\"pixelsNotCounted\": null"));

  // A thumbnail reads 64 lines of it: well within the limit.
  run = tool({"thumbnail", "-s", "64", big, f("t.png")}, dir);
  EXPECT_EQ(run.status, 0) << run.err;
  Png thumb;
  ASSERT_TRUE(readPng(f("t.png"), thumb));
  EXPECT_EQ(thumb.width, 64u);
  EXPECT_EQ(thumb.samples, std::vector<std::uint8_t>(64 * 64, 7));
}

TEST(PixelLimit, MaxPixelsIsTheMostAPlaneOrAThumbnailMayCost) {
  // The sample's planes are 256 x 192: 49152 pixels each. A 64 x 48
  // thumbnail of it reads 48 lines of 256 pixels.
  testfiles::TempDir dir;
  const std::string design = sample("design.dis");
  EXPECT_EQ(tool({"topng", "--max-pixels", "49152", design, dir.file("a.png")}, dir).status, 0);
  EXPECT_EQ(tool({"topng", "--max-pixels", "49151", design, dir.file("b.png")}, dir).err,
            limitRefusal(design, "the image states 256 x 192 pixels, more than the limit of 49151"));
  EXPECT_EQ(tool({"diff", "--max-pixels", "49152", design, design}, dir).status, 0);
  EXPECT_EQ(tool({"diff", "--max-pixels", "49151", design, design}, dir).status, 2);
  EXPECT_THAT(tool({"info", "--max-pixels", "49151", design}, dir).out,
              HasSubstr("pixels not counted: the image states 256 x 192 pixels"));
  EXPECT_EQ(tool({"thumbnail", "-s", "64", "--max-pixels", "12288", design, dir.file("c.png")}, dir).status,
            0);
  const ToolResult run =
      tool({"thumbnail", "-s", "64", "--max-pixels", "12287", design, dir.file("d.png")}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, limitRefusal(design, "a 64 x 48 thumbnail reads 48 lines of 256 pixels, 12288 "
                                          "in all, more than the limit of 12287"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("b.png")));
  EXPECT_FALSE(std::filesystem::exists(dir.file("d.png")));
}

TEST(PixelLimit, LinesCostEvenWhenTheyAreEmpty) {
  // Version 4, raw, 0 x (2^32 - 1): sound, no pixels, four billion lines.
  testfiles::TempDir dir;
  const std::string lines = dir.file("lines.dis");
  testfiles::writeFile(lines, firstBlock(4, 0, 0, 0xffffffffu));
  ToolResult run = tool({"diff", lines, lines}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, limitRefusal(lines, "the image states 0 x 4294967295 pixels, more than the "
                                         "limit of 268435456"));
  run = tool({"info", lines}, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_THAT(run.out, HasSubstr("  pixels not counted: the image states 0 x 4294967295 pixels"));
  EXPECT_EQ(tool({"repack", lines, dir.file("x.dis"), "--pack", "1"}, dir).status, 2);
  EXPECT_FALSE(std::filesystem::exists(dir.file("x.dis")));
}

TEST(PixelLimit, APlaneWhoseBlockStatesAnotherSizeIsReadAtPlaneOnesSize) {
  // Version 2: plane 1 of 64 x 4, plane 2's own block stating 65535 x
  // 65535. Read leniently, plane 2 has plane 1's size, as the library
  // reads it: a PNG of 128 x 4, not of four billion pixels.
  testfiles::TempDir dir;
  testfiles::Bytes file = firstBlock(2, 0, 64, 4);
  put16(file, 1000, 2);
  put32(file, 1006, 1312 + 256);  // plane 2's block
  file.resize(1312 + 256 + 1312 + 256, 3);
  std::fill(file.begin() + 1312 + 256, file.begin() + 1312 + 256 + 1312, 0);
  put16(file, 1312 + 256, 65535);
  put16(file, 1312 + 256 + 2, 65535);
  const std::string path = dir.file("p2.dis");
  testfiles::writeFile(path, file);
  EXPECT_THAT(tool({"check", path}, dir).out, HasSubstr("plane 2: its block states 65535 x 65535"));
  const ToolResult run = tool({"topng", "--lenient", path, dir.file("x.png")}, dir);
  EXPECT_EQ(run.status, 0) << run.err;
  Png png;
  ASSERT_TRUE(readPng(dir.file("x.png"), png));
  EXPECT_EQ(png.width, 128u);
  EXPECT_EQ(png.height, 4u);
  EXPECT_EQ(png.samples, std::vector<std::uint8_t>(128 * 4, 3));
}

}  // namespace
}  // namespace tooltest
