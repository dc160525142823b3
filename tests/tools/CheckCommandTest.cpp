// check: each kind of damage is found and named.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ToolTestSupport.h"

namespace tooltest {
namespace {

using testfiles::Bytes;

void put32(Bytes& b, std::size_t at, unsigned v) {
  for (std::size_t i = 0; i < 4; ++i) b.at(at + i) = static_cast<unsigned char>(v >> (8 * i));
}

TEST(CheckCommand, FindsAndNamesEachKindOfDamage) {
  // Images of 10 x 4 whose line y holds the value y: a raw plane is 40
  // bytes; a packed plane's table (5 entries) is at 1312 and line y's pair
  // (10, y) at 1332 + 2y; a whole-plane stream's head is at 1312 and its
  // pairs (lines 3 to 0) at 1320.
  const struct {
    int pack;
    short planes;
    std::function<void(Bytes&)> damage;
    const char* problem;
  } cases[] = {
      {0, 3, [](Bytes& b) { put32(b, 1002, 1u << 30); },
       "plane 2: header block at 1073741824 lies outside the file (4056 bytes)"},
      {0, 1, [](Bytes& b) { b.resize(b.size() - 3); },
       "plane 1: raw region of 40 bytes at 1312 runs past the end of the file (1349 bytes)"},
      {0, 2, [](Bytes& b) { b.at(1352 + 4) = 9; },
       "plane 2: encoding 9 is not 0 (raw), 1 (packed) or 2 (whole-plane packed)"},
      {1, 1, [](Bytes& b) { put32(b, 1312 + 12, 3); },
       "plane 1: line offset table decreases at entry 3 (3 after 4)"},
      {1, 1, [](Bytes& b) { b.at(1336) = 12; }, "plane 1: line 2 decodes to 12 bytes, not 10"},
      {2, 1, [](Bytes& b) { b.at(1320) = 4; },
       "plane 1: whole-plane stream decodes to 34 bytes, the plane has 40"},
      {2, 1, [](Bytes& b) { put32(b, 1312, 30); },
       "plane 1: whole-plane stream states 30 decoded bytes, the plane has 40"},
  };
  testfiles::TempDir dir;
  int n = 0;
  for (const auto& c : cases) {
    const std::string path = dir.file("damaged" + std::to_string(++n) + ".dis");
    makeImage(path, c.pack, 10, 4, c.planes, [](int, int, int y) { return static_cast<std::uint8_t>(y); });
    Bytes bytes = testfiles::readFile(path);
    c.damage(bytes);
    testfiles::writeFile(path, bytes);
    const ToolResult run = tool({"check", path}, dir);
    EXPECT_EQ(run.status, 1) << c.problem << ": " << run.out << run.err;
    EXPECT_THAT(run.out, ::testing::HasSubstr(path + ": " + c.problem + "\n"));
    EXPECT_EQ(run.err, "");
  }
}

}  // namespace
}  // namespace tooltest
