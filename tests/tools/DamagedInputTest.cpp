// Damaged images and planes over --max-pixels: every reading command refuses
// them with status 2 in the inspection's words unless --lenient; info
// describes them.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <iterator>
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

// A file cut inside plane 1 and a 16385 x 16384 plane (over 2^28): refused by
// every command, leaving no output; --lenient warns; info and thumbnail work.
TEST(DamagedInput, EveryCommandRefusesItOrAPlaneOverThePixelLimitAtOnceUnlessLenient) {
  testfiles::TempDir dir;
  auto f = [&dir](const std::string& name) { return dir.file(name); };
  std::filesystem::create_directory(f("out"));
  const std::string file = cutSample(dir, 3000), summary = summaryOf(file);
  ASSERT_THAT(summary, HasSubstr(" (and 2 more problems)"));
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
      const bool plane1 = input == file && args[0] == "thumbnail";
      EXPECT_THAT(run.err, StartsWith(plane1 ? "btreeimg: " + file + ": " + summaryOf(file, 1) + "\n" : refusal));
      EXPECT_EQ(run.out, "");
    }
  }
  EXPECT_TRUE(std::filesystem::is_empty(f("out")));

  Result run = tool({"topng", "--lenient", file, f("x.png")}, dir);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "btreeimg: " + file + ": warning: " + summary + "; going on with what the library reads\n");
  EXPECT_EQ(readPng(f("x.png")).width, 3 * 256u);
  EXPECT_THAT(tool({"cover", "--lenient", file, sample("rules.txt"), f("y.dis")}, dir).err,
              HasSubstr("--lenient"));  // cover has no lenient mode

  run = tool({"info", big}, dir);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("\n  pixels not counted: the image states 16385 x 16384 pixels, more "
                                 "than the limit of 268435456 (--max-pixels N raises it)\n"));
  EXPECT_THAT(run.out, Not(HasSubstr(" used")));
  EXPECT_THAT(tool({"info", "--max-pixels", "0", "--json", big}, dir).out, HasSubstr("\"pixels\": 268451840\n"));
  ASSERT_EQ(tool({"thumbnail", "-s", "64", big, f("t.png")}, dir).status, 0);
  EXPECT_EQ(readPng(f("t.png")).pixels, std::vector<std::uint8_t>(64 * 64, 7));
}

// The sample's planes are 256 x 192, 49152 pixels; a 64 x 48 thumbnail reads
// 48 lines of 256. Empty lines cost too; frompng makes nothing over the limit.
TEST(PixelLimit,
     MaxPixelsIsTheMostAPlaneOrAThumbnailMayCostAndEmptyLinesCostToo) {
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

  const std::string lines = dir.file("lines.dis");
  testfiles::writeFile(lines, firstBlock(4, 0, 0, 0xffffffffu));
  EXPECT_EQ(tool({"diff", lines, lines}, dir).err,
            limitRefusal(lines,
                         "the image states 0 x 4294967295 pixels, more than "
                         "the limit of 268435456"));
  ASSERT_TRUE(writePng(dir.file("small.png"), palettePng(3, 3, 4, runs(4))));
  EXPECT_EQ(tool({"frompng", "--max-pixels", "8", dir.file("small.png"), dir.file("s.dis")}, dir).err,
            limitRefusal(dir.file("small.png"), "states 3 x 3 pixels, more than the limit of 8"));
  EXPECT_FALSE(std::filesystem::exists(dir.file("s.dis")));
}

// Inputs stating far more than they hold are refused at once or read within
// what they hold: 2 x 2^27 raw in 1337 bytes, a PNG text chunk of 2^31 - 1.
TEST(DamagedInput, CraftedFilesCostNoMoreThanTheyHold) {
  testfiles::TempDir dir;
  const std::string tall = dir.file("tall.dis");
  testfiles::Bytes bytes = firstBlock(4, 0, 2, 1u << 27);
  bytes.resize(1337, 5);
  testfiles::writeFile(tall, bytes);
  Result run = tool({"topng", "--lenient", tall, dir.file("t.png")}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr(": the image states 2 x 134217728 pixels, more than its 1337 bytes can hold"));
  EXPECT_EQ(tool({"thumbnail", "--lenient", tall, dir.file("t.png")}, dir).status, 0);  // 256 lines read

  testfiles::Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  const unsigned char ihdr[] = {0, 0, 0, 13, 'I', 'H', 'D', 'R', 0, 0, 0, 1, 0, 0, 0, 1, 8, 0, 0, 0, 0};
  png.insert(png.end(), std::begin(ihdr), std::end(ihdr));
  const uLong crc = crc32(0, png.data() + 12, 17);
  for (int i = 0; i < 4; ++i) png.push_back(static_cast<unsigned char>(crc >> (24 - 8 * i)));
  png.insert(png.end(), {0x7f, 0xff, 0xff, 0xff, 't', 'E', 'X', 't'});
  testfiles::writeFile(dir.file("text.png"), png);
  run = tool({"frompng", dir.file("text.png"), dir.file("x.dis")}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, StartsWith("btreeimg: " + dir.file("text.png") + ": "));

  // Wider than libpng writes by default, as wide as a PNG may be: written.
  testfiles::writeFile(dir.file("long.dis"), flatPlane(1000001, 1));
  EXPECT_EQ(tool({"topng", dir.file("long.dis"), dir.file("long.png")}, dir).err, "");
}

// One byte short (plane 3 damaged): commands reading only a sound plane read
// it; those reading plane 3 (cover keeps every plane) refuse in its words.
TEST(DamagedInput, ASoundPlaneOfAFileDamagedElsewhereIsRead) {
  testfiles::TempDir dir;
  auto f = [&dir](const std::string& name) { return dir.file(name); };
  const std::string cut = cutSample(dir, testfiles::readFile(sample("design.dis")).size() - 1);
  ImageCheck check;
  check.InspectFile(cut.c_str());
  ASSERT_EQ(tool({"topng", "--plane", "1", sample("design.dis"), f("sound.png")}, dir).status, 0);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"topng", "--plane", "1", cut, f("1.png")},
        {"thumbnail", cut, f("t.png")},
        {"cover", "--plane-1-only", cut, sample("rules.txt"), f("c.dis")}}) {
    const Result run = tool(args, dir);
    EXPECT_EQ(run.status, 0) << args[0] << run.err;
    EXPECT_EQ(run.err, "");
  }
  EXPECT_EQ(readPng(f("1.png")).pixels, readPng(f("sound.png")).pixels);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"topng", "--plane", "3", cut, f("3.png")},
        {"cover", cut, sample("rules.txt"), f("c3.dis")}}) {
    const Result run = tool(args, dir);
    EXPECT_EQ(run.status, 2) << args[0];
    EXPECT_THAT(run.err, StartsWith("btreeimg: " + cut + ": " + std::string(check.PlaneSummary(3)) + "\n"));
  }
  EXPECT_EQ(tool({"check", cut}, dir).status, 1);
}

// Cut at 3000 every plane is lost; one byte short only plane 3 is.
TEST(DamagedInput, InfoCountsThePixelsOfThePlanesFoundIntactOnly) {
  testfiles::TempDir dir;
  std::string cut = cutSample(dir, 3000);
  Result run = tool({"info", cut}, dir);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("  plane 2: header block at 50464 outside the file\n"));
  EXPECT_THAT(run.out, HasSubstr("  plane 3: header block not found: the block leading to it is not in the file\n"));
  EXPECT_THAT(run.out, Not(HasSubstr(" pixels\n")));
  EXPECT_THAT(run.out, HasSubstr("  pixels not counted: planes 1, 2 and 3 damaged or not found\n"));
  EXPECT_THAT(run.out, HasSubstr("  damaged: " + summaryOf(cut) + "; btreeimg check lists every problem\n"));

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
