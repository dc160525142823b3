// One verdict on a damaged image: every command that reads one refuses it as
// `check` finds it, in the words of its first problem (and how many more
// there are), unless given --lenient; `info` says only what it established.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ToolTestSupport.h"

namespace tooltest {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

// The sample cut short at a few places, and with a line offset table entry
// far too large.
std::vector<std::pair<std::string, testfiles::Bytes>> damagedSamples() {
  const testfiles::Bytes design = testfiles::readFile(sample("design.dis"));
  std::vector<std::pair<std::string, testfiles::Bytes>> damaged;
  for (const std::size_t size : {std::size_t{1000}, std::size_t{1312}, std::size_t{3000},
                                 std::size_t{20000}, design.size() - 1}) {
    damaged.emplace_back("cut" + std::to_string(size),
                         testfiles::Bytes(design.begin(), design.begin() + static_cast<long>(size)));
  }
  damaged.emplace_back("table", design);
  damaged.back().second.at(1312 + 4 * 5 + 1) = 0x7f;
  return damaged;
}

// The verdict in one sentence, from `check`'s listing of `file`'s problems
// (on stdout for a damaged file, after "btreeimg: " on stderr for an
// unusable one).
std::string summaryFromCheck(const std::string& file, const testfiles::TempDir& dir) {
  const ToolResult run = tool({"check", file}, dir);
  EXPECT_TRUE(run.status == 1 || run.status == 2) << run.status;
  std::istringstream listing(run.status == 1 ? run.out : run.err);
  const std::string prefix = (run.status == 1 ? "" : "btreeimg: ") + file + ": ";
  std::vector<std::string> problems;
  for (std::string line; std::getline(listing, line);) {
    EXPECT_THAT(line, StartsWith(prefix));
    problems.push_back(line.substr(prefix.size()));
  }
  if (problems.empty()) return "";
  const std::size_t more = problems.size() - 1;
  return problems[0] + (more == 0 ? ""
                                  : " (and " + std::to_string(more) + " more problem" +
                                        (more == 1 ? ")" : "s)"));
}

TEST(DamagedInput, EveryCommandRefusesItWithTheFirstProblemCheckFinds) {
  testfiles::TempDir dir;
  auto f = [&dir](const std::string& name) { return dir.file(name); };
  std::filesystem::create_directory(f("out"));
  const std::string design = sample("design.dis");
  for (const auto& [name, bytes] : damagedSamples()) {
    SCOPED_TRACE(name);
    const std::string file = f(name + ".dis");
    testfiles::writeFile(file, bytes);
    const std::string summary = summaryFromCheck(file, dir);
    ASSERT_NE(summary, "");
    const std::vector<std::vector<std::string>> commands = {
        {"topng", file, f("out/x.png")},
        {"thumbnail", file, f("out/x.png")},
        {"diff", design, file},
        {"repack", file, f("out/x.dis"), "--pack", "1"},
        {"cover", file, sample("rules.txt"), f("out/x.dis")},
    };
    for (const auto& args : commands) {
      SCOPED_TRACE(args[0]);
      const ToolResult run = tool(args, dir);
      EXPECT_EQ(run.status, 2);
      EXPECT_THAT(run.err, StartsWith("btreeimg: " + file + ": " + summary + "\n"));
      EXPECT_EQ(run.out, "");
    }
  }
  EXPECT_TRUE(std::filesystem::is_empty(f("out")));
}

TEST(DamagedInput, LenientCommandsReadWhatTheLibraryReadsAfterAWarning) {
  testfiles::TempDir dir;
  auto f = [&dir](const std::string& name) { return dir.file(name); };
  const std::string file = f("cut.dis");
  testfiles::writeFile(file, damagedSamples()[3].second);  // cut at 20000
  const std::string warning =
      "btreeimg: " + file + ": warning: " + summaryFromCheck(file, dir) + "; going on with what the library reads\n";
  const std::pair<std::vector<std::string>, int> commands[] = {
      {{"topng", "--lenient", file, f("x.png")}, 0},
      {{"thumbnail", "--lenient", file, f("t.png")}, 0},
      {{"diff", "--lenient", sample("design.dis"), file}, 1},
      {{"repack", "--lenient", file, f("x.dis"), "--pack", "0"}, 0},
  };
  for (const auto& [args, status] : commands) {
    SCOPED_TRACE(args[0]);
    const ToolResult run = tool(args, dir);
    EXPECT_EQ(run.status, status) << run.err;
    EXPECT_EQ(run.err, warning);
  }
  // The repacked copy is sound: what the library read, planes completed.
  EXPECT_EQ(tool({"check", f("x.dis")}, dir).out, f("x.dis") + ": ok\n");
  EXPECT_THAT(tool({"cover", "--lenient", file, sample("rules.txt"), f("y.dis")}, dir).err,
              HasSubstr("--lenient"));  // cover has no lenient mode
}

TEST(DamagedInput, InfoCountsThePixelsOfThePlanesFoundIntactOnly) {
  testfiles::TempDir dir;
  const auto damaged = damagedSamples();
  // Cut at 3000: plane 1's lines run past the end, plane 2's block lies
  // outside the file, and plane 3's position is unknown.
  const std::string cut = dir.file("cut.dis");
  testfiles::writeFile(cut, damaged[2].second);
  ToolResult run = tool({"info", cut}, dir);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, HasSubstr("  plane 2: header block at 50464 outside the file\n"));
  EXPECT_THAT(run.out, HasSubstr("  plane 3: header block not found: the block leading to it is not in the file\n"));
  EXPECT_THAT(run.out, Not(HasSubstr("used")));
  EXPECT_THAT(run.out, Not(HasSubstr(" pixels\n")));
  EXPECT_THAT(run.out, HasSubstr("  pixels not counted: planes 1, 2 and 3 damaged or not found\n"));
  EXPECT_THAT(run.out, HasSubstr("  damaged: " + summaryFromCheck(cut, dir) + "; btreeimg check lists every problem\n"));

  // One byte short: only plane 3 is damaged; the counts are planes 1 and 2's.
  testfiles::writeFile(cut, damaged[4].second);
  run = tool({"info", cut}, dir);
  EXPECT_THAT(run.out, HasSubstr("  pixels counted in planes 1 and 2 only: plane 3 damaged or not found\n"));
  std::istringstream lines(run.out);
  std::uint64_t pixels = 0;
  for (std::string line; std::getline(lines, line);) {
    const std::size_t at = line.find("  #");
    if (at != std::string::npos) pixels += std::stoull(line.substr(at + 10));
  }
  EXPECT_EQ(pixels, 2u * 256 * 192);
  run = tool({"info", "--json", cut}, dir);
  EXPECT_THAT(run.out, HasSubstr("\"coloursUsed\": null"));
  EXPECT_EQ(run.out.find("\"coloursUsed\": null"), run.out.rfind("\"coloursUsed\": null"));  // plane 3's alone
}

}  // namespace
}  // namespace tooltest
