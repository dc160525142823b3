// check: clean files pass, each kind of damage is found and named.
#include "ToolRun.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "ToolImages.h"

namespace tooltest {
namespace {

using ::testing::HasSubstr;
using ::testing::IsEmpty;
using testfiles::Bytes;

void put32(Bytes& b, std::size_t at, unsigned v) {
  for (std::size_t i = 0; i < 4; ++i) b.at(at + i) = static_cast<unsigned char>(v >> (8 * i));
}

// Line y: ten bytes of the value y.
std::uint8_t lineNumber(int, int, int y) { return static_cast<std::uint8_t>(y); }

class CheckCommand : public ::testing::Test {
 protected:
  testfiles::TempDir dir;

  // An image of `pack` made by the library, then damaged by `damage`.
  std::string damaged(const char* name, int pack, short planes,
                      const std::function<void(Bytes&)>& damage) {
    const std::string path = dir.file(name);
    makeImage(path, pack, 10, 4, planes, lineNumber);
    Bytes bytes = testfiles::readFile(path);
    damage(bytes);
    testfiles::writeFile(path, bytes);
    return path;
  }
};

TEST_F(CheckCommand, TheShippedSampleIsSound) {
  const ToolResult run = tool({"check", sample("design.dis")}, dir);
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_EQ(run.out, sample("design.dis") + ": ok\n");
}

TEST_F(CheckCommand, FindsEachKindOfDamage) {
  // Images of 10 x 4: a raw plane is 40 bytes; a packed plane's table (5
  // entries) is at 1312 and line y's pair (10, y) at 1332 + 2y; a whole-plane
  // stream's head is at 1312 and its pairs (lines 3 to 0) at 1320.
  const struct {
    const char* name;
    int pack;
    short planes;
    std::function<void(Bytes&)> damage;
    const char* problem;
  } cases[] = {
      {"chain.dis", 0, 3, [](Bytes& b) { put32(b, 1002, 1u << 30); },
       "plane 2: header block at 1073741824 lies outside the file (4056 bytes)"},
      {"cut.dis", 0, 1, [](Bytes& b) { b.resize(b.size() - 3); },
       "plane 1: raw region of 40 bytes at 1312 runs past the end of the file (1349 bytes)"},
      {"pack.dis", 0, 2, [](Bytes& b) { b.at(1352 + 4) = 9; },
       "plane 2: encoding 9 is not 0 (raw), 1 (packed) or 2 (whole-plane packed)"},
      {"table.dis", 1, 1, [](Bytes& b) { put32(b, 1312 + 12, 3); },
       "plane 1: line offset table decreases at entry 3 (3 after 4)"},
      {"line.dis", 1, 1, [](Bytes& b) { b.at(1336) = 12; },
       "plane 1: line 2 decodes to 12 bytes, not 10"},
      {"stream.dis", 2, 1, [](Bytes& b) { b.at(1320) = 4; },
       "plane 1: whole-plane stream decodes to 34 bytes, the plane has 40"},
      {"head.dis", 2, 1, [](Bytes& b) { put32(b, 1312, 30); },
       "plane 1: whole-plane stream states 30 decoded bytes, the plane has 40"},
  };
  for (const auto& c : cases) {
    const std::string path = damaged(c.name, c.pack, c.planes, c.damage);
    const ToolResult run = tool({"check", path}, dir);
    EXPECT_EQ(run.status, 1) << c.name << ": " << run.out << run.err;
    EXPECT_THAT(run.out, HasSubstr(path + ": " + c.problem + "\n"));
    EXPECT_THAT(run.err, IsEmpty());
  }
}

TEST_F(CheckCommand, AFileThatIsNoImageIsUnusable) {
  testfiles::writeText(dir.file("text.dis"), "not an image\n");
  const ToolResult run = tool({"check", dir.file("text.dis"), dir.file("missing.dis")}, dir);
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.out, IsEmpty());
  EXPECT_THAT(run.err, HasSubstr(dir.file("text.dis") + ": file is 13 bytes, shorter"));
  EXPECT_THAT(run.err, HasSubstr(dir.file("missing.dis") + ": cannot be opened"));
}

TEST_F(CheckCommand, TheWorstFileDecidesTheExitStatus) {
  const std::string good = dir.file("good.dis");
  makeImage(good, 1, 10, 4, 1, lineNumber);
  const std::string bad = damaged("bad.dis", 1, 1, [](Bytes& b) { b.at(1336) = 12; });
  ToolResult run = tool({"check", good, bad}, dir);
  EXPECT_EQ(run.status, 1);
  EXPECT_THAT(run.out, HasSubstr(good + ": ok\n"));
  run = tool({"check", bad, dir.file("missing.dis"), good}, dir);
  EXPECT_EQ(run.status, 2);
}

}  // namespace
}  // namespace tooltest
