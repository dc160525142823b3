// Files that state more than they hold: a command reads no plane that costs
// more pixels than --max-pixels (the library's default limit unless given),
// refusing it at once with status 2; info describes it and a thumbnail
// samples it. The files are a header block and a few bytes.
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

TEST(PixelLimit, InfoAndAThumbnailReadAPlaneOverTheLimitAndMaxPixelsIsTheMostAPlaneOrAThumbnailMayCost) {
  // 16385 x 16384 pixels, 2^28 + 16384, in a 2 MiB file. (The commands
  // that refuse it: DamagedInputTest.)
  testfiles::TempDir dir;
  auto f = [&dir](const std::string& name) { return dir.file(name); };
  const std::string big = f("big.dis");
  testfiles::writeFile(big, flatPlane(16385, 16384));
  // info describes the file and says why it counted no pixel.
  Result run = tool({"info", big}, dir);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("\n  pixels not counted: the image states 16385 x 16384 pixels, more "
                                 "than the limit of 268435456 (--max-pixels N raises it)\n"));
  EXPECT_THAT(run.out, ::testing::Not(HasSubstr(" used")));
  run = tool({"info", "--max-pixels", "0", "--json", big}, dir);
  EXPECT_THAT(run.out, HasSubstr("\"pixels\": 268451840\n"));

  // A thumbnail reads 64 lines of it: well within the limit.
  ASSERT_EQ(tool({"thumbnail", "-s", "64", big, f("t.png")}, dir).status, 0);
  EXPECT_EQ(readPng(f("t.png")).pixels, std::vector<std::uint8_t>(64 * 64, 7));

  // The sample's planes are 256 x 192: 49152 pixels each. A 64 x 48
  // thumbnail of it reads 48 lines of 256 pixels.
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

}  // namespace
}  // namespace tooltest
