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

class Coverage : public ::testing::Test {
 protected:
  std::string file(const char* name) { return dir_.file(name); }
  void rules(const char* text) { writeText(file("rules.txt"), text); }

  TempDir dir_;
};

TEST_F(Coverage, ChainedRulesActOnTheWorkingLineInTurn) {
  makeImage(file("a.dis"), {{5, 5, 1}, {7, 2, 7}});
  rules("COLCOPER 5\nCOLTEST 7\nCOLSOST 9\nCOLCOPER 9\nCOLTEST 7\nCOLSOST 3\n");
  ASSERT_EQ(cover(file("a.dis"), file("rules.txt"), file("out.dis")), 1);
  // Line 0 against line 1: 5 over 7 becomes 9, then 3. Line 1 against
  // line 0 (the last line's following line is the first): no cover colour.
  EXPECT_EQ(readImage(file("out.dis")), (Lines{{3, 5, 1}, {7, 2, 7}}));
}

TEST_F(Coverage, TestColourIsLookedUpInTheSourceNotInRewrittenLines) {
  makeImage(file("a.dis"), {{1, 1}, {1, 1}, {2, 2}});
  rules("COLCOPER 1\nCOLTEST 2\nCOLSOST 2\n");
  ASSERT_EQ(cover(file("a.dis"), file("rules.txt"), file("out.dis")), 1);
  // Line 1 changes (below it is 2); line 0 does not, although line 1 is 2
  // in the result.
  EXPECT_EQ(readImage(file("out.dis")), (Lines{{1, 1}, {2, 2}, {2, 2}}));
}

TEST_F(Coverage, ColoursCompareAsSignedBytesAndSubstituteTheLowByte) {
  makeImage(file("a.dis"), {{200, 200}, {7, 8}});
  rules("COLCOPER 200\nCOLTEST 7\nCOLSOST 1\n");
  ASSERT_EQ(cover(file("a.dis"), file("rules.txt"), file("out.dis")), 1);
  EXPECT_FALSE(fs::exists(file("out.dis"))) << "200 never matches a pixel";

  rules("COLCOPER -56\nCOLTEST 7\nCOLSOST 300\n");
  ASSERT_EQ(cover(file("a.dis"), file("rules.txt"), file("out.dis")), 1);
  EXPECT_EQ(readImage(file("out.dis")), (Lines{{44, 200}, {7, 8}}));
}

TEST_F(Coverage, LastLineIsTestedAgainstTheFirstAndOneLineAgainstItself) {
  rules("COLCOPER 4\nCOLTEST 4\nCOLSOST 6\n");
  makeImage(file("a.dis"), {{4, 1}, {0, 0}, {4, 0}});
  ASSERT_EQ(cover(file("a.dis"), file("rules.txt"), file("out.dis")), 1);
  EXPECT_EQ(readImage(file("out.dis")), (Lines{{4, 1}, {0, 0}, {6, 0}}));

  makeImage(file("c.dis"), {{4, 3, 4}});
  ASSERT_EQ(cover(file("c.dis"), file("rules.txt"), file("out.dis")), 1);
  EXPECT_EQ(readImage(file("out.dis")), (Lines{{6, 3, 6}}));
}

TEST_F(Coverage, OutputKeepsTheSourceHeaderAndEncoding) {
  for (int pack = 0; pack <= 2; ++pack) {
    makeImage(file("a.dis"), {{1, 1, 1, 1}, {2, 2, 2, 2}, {1, 2, 1, 2}}, pack);
    rules("COLCOPER 1\nCOLTEST 2\nCOLSOST 5\n");
    ASSERT_EQ(cover(file("a.dis"), file("rules.txt"), file("out.dis")), 1);
    BtreeImg out(file("out.dis").c_str());
    EXPECT_EQ(out.isPacked(1), pack);
    EXPECT_EQ(out.Version(), 2);
    EXPECT_EQ(readImage(file("out.dis")),
              (Lines{{5, 5, 5, 5}, {2, 2, 2, 2}, {1, 2, 1, 2}}))
        << "pack " << pack;
  }
}

TEST_F(Coverage, RunThatChangesNothingLeavesNoOutputFile) {
  makeImage(file("a.dis"), {{1, 2}, {3, 4}});
  rules("COLCOPER 9\nCOLTEST 9\nCOLSOST 9\n");
  writeText(file("out.dis"), "an older output");
  EXPECT_EQ(cover(file("a.dis"), file("rules.txt"), file("out.dis")), 1);
  EXPECT_FALSE(fs::exists(file("out.dis")));
}

TEST_F(Coverage, ImageWithoutLinesRunsAndLeavesNoOutput) {
  unsigned char header[1312] = {};
  header[0] = 2;     // version 2
  header[10] = 8;    // dimx 8, dimy 0
  header[1000] = 1;  // one plane
  {
    BtreeImg empty(file("empty.dis").c_str(), header, 1, -1);
    empty.closeImg();
  }
  rules("COLCOPER 1\nCOLTEST 1\nCOLSOST 2\n");
  EXPECT_EQ(cover(file("empty.dis"), file("rules.txt"), file("out.dis")), 1);
  EXPECT_FALSE(fs::exists(file("out.dis")));
}

TEST_F(Coverage, SameFileRunReplacesTheImageThroughItsTemporaryName) {
  makeImage(file("a.dis"), {{5, 1}, {7, 7}});
  rules("COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
  // A relative name for the absolute one the image was opened with.
  testfiles::ScopedChdir inside(dir_.path());
  BtreeImg source(file("a.dis").c_str());
  ASSERT_EQ(source.CoperturaU8(file("rules.txt").c_str(), "./a.dis"), 1);
  EXPECT_EQ(readImage(file("a.dis")), (Lines{{9, 1}, {7, 7}}));
  EXPECT_FALSE(fs::exists(file("a.~~T")));
}

TEST_F(Coverage, SameFileThroughALinkAndOtherLetterCaseElsewhere) {
  makeImage(file("a.dis"), {{5, 1}, {7, 7}});
  rules("COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
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

TEST_F(Coverage, SameFileRunThatChangesNothingLeavesTheImageAlone) {
  makeImage(file("a.dis"), {{5, 1}, {7, 7}});
  const Bytes before = readFile(file("a.dis"));
  rules("COLCOPER 6\nCOLTEST 7\nCOLSOST 9\n");
  ASSERT_EQ(cover(file("a.dis"), file("rules.txt"), file("a.dis")), 1);
  EXPECT_EQ(readFile(file("a.dis")), before);
  EXPECT_FALSE(fs::exists(file("a.~~T")));
}

TEST_F(Coverage, UnwritableSameFileOutputReturnsZeroAndKeepsTheImage) {
  makeImage(file("A.Dis"), {{5, 1}, {7, 7}});
  const Bytes before = readFile(file("A.Dis"));
  rules("COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
  // The temporary name replaces the final ".dis" in any case; a folder
  // standing there makes the result impossible to write.
  fs::create_directory(file("A.~~T"));
  EXPECT_EQ(cover(file("A.Dis"), file("rules.txt"), file("A.Dis")), 0);
  EXPECT_EQ(readFile(file("A.Dis")), before);
  EXPECT_TRUE(fs::is_directory(file("A.~~T")));
  EXPECT_FALSE(fs::exists(file("A.~~T.~tmp")));
}

TEST_F(Coverage, UnwritableOtherOutputReturnsZeroAndLeavesNoFile) {
  makeImage(file("a.dis"), {{5, 1}, {7, 7}});
  rules("COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
  EXPECT_EQ(cover(file("a.dis"), file("rules.txt"), file("no/such/out.dis")),
            0);
  EXPECT_FALSE(fs::exists(file("no")));
}

TEST_F(Coverage, IncompleteOrMalformedRulesStopBeforeAnythingIsWritten) {
  makeImage(file("a.dis"), {{5, 1}, {7, 7}});
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
  char line[] = {5, 5, 5, -56};
  char next[] = {7, 6, 7, 7};
  int changed = 0;
  CString cover("5 and more text");
  image.testColor(line, next, 3, cover, 7, 265, &changed);
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(std::vector<char>(line, line + 4),
            (std::vector<char>{9, 5, 9, -56}));
  EXPECT_STREQ(cover, "5 and more text");

  CString empty;
  changed = 0;
  image.testColor(line, next, 4, empty, 7, 1, &changed);
  CString negative("-56");
  image.testColor(line, next, 0, negative, 7, 1, &changed);
  EXPECT_EQ(changed, 0);
  image.testColor(line, next, 4, negative, 7, 1, &changed);
  EXPECT_EQ(changed, 1);
  EXPECT_EQ(line[3], 1);
}

}  // namespace
