// cover: runs the colour coverage and says whether anything changed.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "ToolTestSupport.h"
#include "image/ImageReader.h"

namespace tooltest {
namespace {

TEST(CoverCommand, WritesTheResultEvenOverTheSourceOrLeavesTheOutputWhenNothingChanges) {
  testfiles::TempDir dir;
  const std::string image = dir.file("stripes.dis"), rules = dir.file("rules.txt"), out = dir.file("out.dis");
  // Two packed planes of four lines, alternately all 5 and all 7.
  makeImage(image, 1, 60, 4, 2, [](int, int, int y) { return static_cast<std::uint8_t>(y % 2 ? 7 : 5); });
  testfiles::writeText(rules, "COLCOPER 7\nCOLTEST 7\nCOLSOST 1\n");
  testfiles::writeText(out, "keep me");
  Result run = tool({"cover", image, rules, out}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, image + ": 1 rule changed nothing; " + out + " not written\n");
  EXPECT_EQ(testfiles::readText(out), "keep me");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}),
            3);  // the image, the rules, the untouched output

  // By default every plane is kept, plane 1 covered; --plane-1-only keeps
  // plane 1 alone.
  testfiles::writeText(rules, "COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
  run = tool({"cover", image, rules, out}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, image + ": 1 rule changed 120 pixels of plane 1; written to " + out +
                         " (the other planes as they were)\n");
  run = tool({"cover", image, rules, image, "--plane-1-only"}, dir);  // over its own source
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, image + ": 1 rule changed 120 pixels of plane 1; written to " + image +
                         " (plane 1 only)\n");
  for (const auto& [written, planes] : {std::pair{out, 2}, std::pair{image, 1}}) {
    btreeimg::ImageReader result(written.c_str());
    EXPECT_EQ(result.planes(), planes);
    std::vector<unsigned char> line(60);
    for (unsigned y = 0; y < 4; ++y) {
      result.readLine(1, y, line.data());
      EXPECT_EQ(line[0], y % 2 ? 7 : 9) << y;  // 5 over 7 became 9
      if (planes == 1) continue;
      result.readLine(2, y, line.data());
      EXPECT_EQ(line, std::vector<unsigned char>(60, y % 2 ? 7 : 5)) << y;
    }
  }
}

// Under a file-size limit the output cannot be written: the status says so,
// and neither the output nor a temporary file is left behind.
TEST(CoverCommand, AFileSizeLimitFailsTheSaveNotTheProcess) {
  testfiles::TempDir dir;
  const std::string image = dir.file("big.dis"), rules = dir.file("rules.txt"),
                    out = dir.file("out.dis");
  makeImage(image, 0, 100, 100, 2, [](int, int, int y) { return static_cast<std::uint8_t>(y % 2 ? 7 : 5); });
  testfiles::writeText(rules, "COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"cover", image, rules, out},
        std::vector<std::string>{"repack", image, out, "--pack", "0"}}) {
    const Result run = runProgram(BTREEIMG_TOOL, args, dir, "sh -c 'ulimit -f 16 && exec \"$0\" \"$@\"'");
    EXPECT_EQ(run.status, 3) << args[0] << ": " << run.err;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2) << args[0];
  }
}

}  // namespace
}  // namespace tooltest
