#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "image/BtreeImg.h"
#include "image/ImageFiles.h"
#include "support/TestFiles.h"

namespace {

using testfiles::Bytes;
using testfiles::readFile;
using testfiles::TempDir;
using testfiles::writeText;
namespace fs = std::filesystem;

using imgtest::Lines;

// Creates a one-plane image holding `lines` (all of one width).
void makeImage(const std::string& path, const Lines& lines, int pack = 0) {
  imgtest::createImage(path, pack, {lines});
}

// Every line of plane 1 of the image file at `path`.
Lines readImage(const std::string& path) {
  BtreeImg image(path.c_str());
  Lines lines;
  for (unsigned y = 0; y < image.dimy(1); ++y)
    lines.push_back(imgtest::readLine(image, y, 1));
  return lines;
}

int cover(const std::string& image, const std::string& rules,
          const std::string& output) {
  BtreeImg source(image.c_str());
  return source.CoperturaU8(rules.c_str(), output.c_str());
}

// Each test starts with a.dis = {{5, 1}, {7, 7}} and the rule 5 over 7 -> 9.
class Coverage : public ::testing::Test {
 protected:
  void SetUp() override {
    makeImage(file("a.dis"), {{5, 1}, {7, 7}});
    rules("COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
  }
  std::string file(const char* name) { return dir_.file(name); }
  void rules(const char* text) { writeText(file("rules.txt"), text); }

  TempDir dir_;
};

// One rule set over a one-plane image in each encoding: the output keeps
// the source's header and encoding, and a run that changes nothing leaves no
// output file (an older one is removed).
TEST_F(Coverage, RulesActOnTheWorkingLineAgainstTheSourcesNextLine) {
  const struct {
    Lines lines;
    const char* rules;
    Lines expected;  // empty: no output file
  } cases[] = {
      // 5 over 7 becomes 9, then 3; the last line is tested against the
      // first, where no cover colour lies.
      {{{5, 5, 1}, {7, 2, 7}},
       "COLCOPER 5\nCOLTEST 7\nCOLSOST 9\nCOLCOPER 9\nCOLTEST 7\nCOLSOST 3\n",
       {{3, 5, 1}, {7, 2, 7}}},
      // The test colour is looked up in the source, not in rewritten lines.
      {{{1, 1}, {1, 1}, {2, 2}}, "COLCOPER 1\nCOLTEST 2\nCOLSOST 2\n",
       {{1, 1}, {2, 2}, {2, 2}}},
      // Colours compare as signed bytes and substitute the low byte.
      {{{200, 200}, {7, 8}}, "COLCOPER 200\nCOLTEST 7\nCOLSOST 1\n", {}},
      {{{200, 200}, {7, 8}}, "COLCOPER -56\nCOLTEST 7\nCOLSOST 300\n",
       {{44, 200}, {7, 8}}},
      // The last line against the first, a single line against itself.
      {{{4, 1}, {0, 0}, {4, 0}}, "COLCOPER 4\nCOLTEST 4\nCOLSOST 6\n",
       {{4, 1}, {0, 0}, {6, 0}}},
      {{{4, 3, 4}}, "COLCOPER 4\nCOLTEST 4\nCOLSOST 6\n", {{6, 3, 6}}},
      {{{1, 2}, {3, 4}}, "COLCOPER 9\nCOLTEST 9\nCOLSOST 9\n", {}},
  };
  for (int pack = 0; pack <= 2; ++pack) {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << "pack " << pack << ": " << c.rules);
      makeImage(file("a.dis"), c.lines, pack);
      rules(c.rules);
      writeText(file("out.dis"), "an older output");
      ASSERT_EQ(cover(file("a.dis"), file("rules.txt"), file("out.dis")), 1);
      ASSERT_EQ(fs::exists(file("out.dis")), !c.expected.empty());
      if (c.expected.empty()) continue;
      EXPECT_EQ(readImage(file("out.dis")), c.expected);
      BtreeImg out(file("out.dis").c_str());
      EXPECT_EQ(out.isPacked(1), pack);
      EXPECT_EQ(out.Version(), 2);
    }
  }
}

TEST_F(Coverage, ImageWithoutLinesRunsAndLeavesNoOutput) {
  Bytes header(imgtest::kBlock);  // version 2, 8 x 0, one plane
  header[0] = 2, header[10] = 8, header[1000] = 1;
  testfiles::writeFile(file("empty.dis"), header);
  rules("COLCOPER 1\nCOLTEST 1\nCOLSOST 2\n");
  EXPECT_EQ(cover(file("empty.dis"), file("rules.txt"), file("out.dis")), 1);
  EXPECT_FALSE(fs::exists(file("out.dis")));
}

TEST_F(Coverage, SameFileRunReplacesTheImageThroughItsTemporaryName) {
  const Bytes before = readFile(file("a.dis"));
  // A relative name for the absolute one the image was opened with.
  testfiles::ScopedChdir inside(dir_.path());
  {
    BtreeImg source(file("a.dis").c_str());
    rules("COLCOPER 6\nCOLTEST 7\nCOLSOST 9\n");  // changes nothing
    ASSERT_EQ(source.CoperturaU8(file("rules.txt").c_str(), "./a.dis"), 1);
    EXPECT_EQ(readFile(file("a.dis")), before);
    rules("COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
    ASSERT_EQ(source.CoperturaU8(file("rules.txt").c_str(), "./a.dis"), 1);
  }
  EXPECT_EQ(readImage(file("a.dis")), (Lines{{9, 1}, {7, 7}}));
  EXPECT_FALSE(fs::exists(file("a.~~T")));
}

TEST_F(Coverage, SameFileThroughALinkAndOtherLetterCaseElsewhere) {
  fs::create_symlink(file("a.dis"), file("link.dis"));
  ASSERT_EQ(cover(file("a.dis"), file("rules.txt"), file("link.dis")), 1);
  EXPECT_TRUE(fs::is_symlink(file("link.dis")));
  EXPECT_EQ(readImage(file("a.dis")), (Lines{{9, 1}, {7, 7}}));
  // On a case-sensitive file system another letter case is another file.
  makeImage(file("b.dis"), {{5, 1}, {7, 7}});
  const Bytes before = readFile(file("b.dis"));
  ASSERT_EQ(cover(file("b.dis"), file("rules.txt"), file("B.DIS")), 1);
  EXPECT_EQ(readFile(file("b.dis")), before);
  EXPECT_EQ(readImage(file("B.DIS")), (Lines{{9, 1}, {7, 7}}));
}

TEST_F(Coverage, UnwritableOutputReturnsZeroAndKeepsTheImageAndNoFile) {
  makeImage(file("A.Dis"), {{5, 1}, {7, 7}});
  const Bytes before = readFile(file("A.Dis"));
  // The temporary name replaces the final ".dis" in any case; a folder
  // standing there makes the result impossible to write.
  fs::create_directory(file("A.~~T"));
  EXPECT_EQ(cover(file("A.Dis"), file("rules.txt"), file("A.Dis")), 0);
  EXPECT_EQ(readFile(file("A.Dis")), before);
  EXPECT_TRUE(fs::is_directory(file("A.~~T")));
  EXPECT_FALSE(fs::exists(file("A.~~T.~tmp")));
  EXPECT_EQ(cover(file("a.dis"), file("rules.txt"), file("no/such/out.dis")),
            0);
  EXPECT_FALSE(fs::exists(file("no")));
}

TEST_F(Coverage, IncompleteOrMalformedRulesStopBeforeAnythingIsWritten) {
  const char* broken[] = {
      "COLTEST 7\nCOLSOST 9\n",   // no cover colours
      "COLCOPER 5\nCOLSOST 9\n",  // no test colours
      "COLCOPER 5\nCOLCOPER 6\nCOLTEST 7\nCOLSOST 9\nCOLSOST 9\n",  // short
      "COLCOPER five\nCOLTEST 7\nCOLSOST 9\n",  // not a number
      "COLCOPER 5\nCOLTEST 7\nCOLSOST x9\n",
      "COLCOPER\n",  // key without value
  };
  for (const char* text : broken) {
    rules(text);
    EXPECT_EQ(cover(file("a.dis"), file("rules.txt"), file("out.dis")), 0)
        << text;
    EXPECT_FALSE(fs::exists(file("out.dis"))) << text;
  }
  EXPECT_EQ(cover(file("a.dis"), file("missing.txt"), file("out.dis")), 0);
}

TEST(TestColor, AppliesOneRuleAndOnlySetsTheFlag) {
  TempDir dir;
  makeImage(dir.file("a.dis"), {{0}});
  BtreeImg image(dir.file("a.dis").c_str());
  char line[] = {5, 5, 5, -56}, next[] = {7, 6, 7, 7};
  int changed = 0;
  CString cover("5 and more text"), empty, negative("-56");
  image.testColor(line, next, 3, cover, 7, 265, &changed);
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(std::vector<char>(line, line + 4),
            (std::vector<char>{9, 5, 9, -56}));
  EXPECT_STREQ(cover, "5 and more text");
  changed = 0;
  image.testColor(line, next, 4, empty, 7, 1, &changed);
  image.testColor(line, next, 0, negative, 7, 1, &changed);
  EXPECT_EQ(changed, 0);
  image.testColor(line, next, 4, negative, 7, 1, &changed);
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(line[3], 1);
}

}  // namespace
