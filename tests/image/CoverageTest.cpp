#include <gtest/gtest.h>

#include <string>

#include "image/ImageCheck.h"
#include "image/ImageFiles.h"

using namespace imgtest;  // NOLINT: the test-local helpers
using testfiles::writeText;

namespace {

// Every line of plane 1 of the image file at `path`.
Lines readImage(const std::string& path) {
  BtreeImg image(path.c_str());
  Lines lines;
  for (unsigned y = 0; y < image.dimy(1); ++y)
    lines.push_back(readLine(image, y, 1));
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
    createImage(file("a.dis"), 0, {{{5, 1}, {7, 7}}});
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
      // Colours compare as signed bytes (200 is -56; COLCOPER 200 matches
      // nothing, so no output) and substitute the low byte.
      {{{200, 200}, {7, 8}}, "COLCOPER 200\nCOLTEST 7\nCOLSOST 1\n", {}},
      {{{200, 200}, {7, 8}}, "COLCOPER -56\nCOLTEST 7\nCOLSOST 300\n",
       {{44, 200}, {7, 8}}},
      // The last line against the first, a single line against itself.
      {{{4, 1}, {0, 0}, {4, 0}}, "COLCOPER 4\nCOLTEST 4\nCOLSOST 6\n",
       {{4, 1}, {0, 0}, {6, 0}}},
      {{{4, 3, 4}}, "COLCOPER 4\nCOLTEST 4\nCOLSOST 6\n", {{6, 3, 6}}},
      // A later rule that changes nothing keeps the earlier change.
      {{{5, 1}, {7, 7}},
       "COLCOPER 5\nCOLTEST 7\nCOLSOST 9\nCOLCOPER 8\nCOLTEST 8\nCOLSOST 1\n",
       {{9, 1}, {7, 7}}},
  };
  for (int pack = 0; pack <= 2; ++pack) {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << "pack " << pack << ": " << c.rules);
      createImage(file("a.dis"), pack, {c.lines});
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
  auto built = buildImage(2, {{0, {Bytes(8)}}});
  put16(built.bytes, 12, 0);  // 8 x 0
  testfiles::writeFile(file("empty.dis"), built.bytes);
  EXPECT_EQ(cover(file("empty.dis"), file("rules.txt"), file("out.dis")), 1);
  EXPECT_FALSE(fs::exists(file("out.dis")));
}

// Regression: the result took the source's first block as it was, plane
// count and plane 2's block position included, and so named planes it does
// not hold.
TEST_F(Coverage, MultiPlaneSourceGivesASoundOnePlaneResult) {
  for (int pack = 0; pack <= 2; ++pack) {
    createImage(file("three.dis"), pack,
                         patternPlanes(3, 12, 40));
    rules("COLCOPER 62\nCOLTEST 69\nCOLSOST 9\n");  // plane 1, line 0, x 5..9
    ASSERT_EQ(cover(file("three.dis"), file("rules.txt"), file("out.dis")), 1);
    ImageCheck check;
    EXPECT_EQ(check.InspectFile(file("out.dis").c_str()), ImageCheck::sound)
        << "pack " << pack;
    EXPECT_EQ(check.PlaneCount(), 1);
    EXPECT_EQ(check.Plane(1).pack, pack);
  }
}

// The output reaches the image's own file through a relative name or a link
// (the link stays); on a case-sensitive file system another letter case is
// another file.
TEST_F(Coverage, SameFileRunsReplaceTheImageThroughItsTemporaryName) {
  const Bytes before = readFile(file("a.dis"));
  testfiles::ScopedChdir inside(dir_.path());
  fs::create_symlink(file("a.dis"), file("link.dis"));
  for (const std::string out : {"./a.dis", "link.dis", "A.DIS"}) {
    SCOPED_TRACE(out);
    createImage(file("a.dis"), 0, {{{5, 1}, {7, 7}}});
    {
      BtreeImg source(file("a.dis").c_str());
      rules("COLCOPER 6\nCOLTEST 7\nCOLSOST 9\n");  // changes nothing
      ASSERT_EQ(source.CoperturaU8(file("rules.txt").c_str(), out.c_str()), 1);
      EXPECT_EQ(readFile(file("a.dis")), before);
      rules("COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
      ASSERT_EQ(source.CoperturaU8(file("rules.txt").c_str(), out.c_str()), 1);
    }
    EXPECT_EQ(readImage(file(out == "A.DIS" ? "A.DIS" : "a.dis")),
              (Lines{{9, 1}, {7, 7}}));
    EXPECT_EQ(readFile(file("a.dis")) == before, out == "A.DIS");
    EXPECT_FALSE(fs::exists(file("a.~~T")));
  }
  EXPECT_TRUE(fs::is_symlink(file("link.dis")));
}

// Rules that are incomplete or malformed, and an output that cannot be
// written, return 0 and leave every file as it was. (The image's own file
// that cannot be replaced is pinned in tests/robustness.)
TEST_F(Coverage, FailuresReturnZeroAndWriteNothing) {
  const char* broken[] = {
      "COLTEST 7\nCOLSOST 9\n",   // no cover colours
      "COLCOPER 5\nCOLSOST 9\n",  // no test colours
      "COLCOPER 5\nCOLCOPER 6\nCOLTEST 7\nCOLSOST 9\nCOLSOST 9\n",  // short
      "COLCOPER five\nCOLTEST 7\nCOLSOST 9\n",  // not a number
      "COLCOPER\n",  // key without value
  };
  for (const char* text : broken) {
    rules(text);
    EXPECT_EQ(cover(file("a.dis"), file("rules.txt"), file("out.dis")), 0)
        << text;
    EXPECT_FALSE(fs::exists(file("out.dis"))) << text;
  }
  EXPECT_EQ(cover(file("a.dis"), file("missing.txt"), file("out.dis")), 0);
  rules("COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
  EXPECT_EQ(cover(file("a.dis"), file("rules.txt"), file("no/such/out.dis")),
            0);
  EXPECT_FALSE(fs::exists(file("no")));
}

}  // namespace
