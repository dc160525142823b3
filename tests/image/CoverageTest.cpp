#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "image/Coverage.h"
#include "image/CoverageRuleFile.h"
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
// written: CoperturaU8 returns 0, coverImage 0 with the problem in words
// naming the file, and every file stays as it was. (The image's own file
// that cannot be replaced is pinned in tests/robustness.)
TEST_F(Coverage, FailuresWriteNothingAndCoverImageSaysWhy) {
  const struct {
    const char* text;
    const char* problem;
  } broken[] = {
      {"COLTEST 7\nCOLSOST 9\n", "no COLCOPER (cover colour) values"},
      {"COLCOPER 5\nCOLSOST 9\n", "1 COLCOPER value but 0 COLTEST values"},
      {"COLCOPER 5\nCOLCOPER 6\nCOLTEST 7\nCOLSOST 9\nCOLSOST 9\n",
       "2 COLCOPER values but 1 COLTEST value"},
      {"COLCOPER 5\nCOLCOPER 6\nCOLTEST 7\nCOLTEST 7\nCOLSOST 9\n",
       "2 COLCOPER values but 1 COLSOST value"},
      {"COLCOPER 5\nCOLCOPER 6\nCOLTEST 7\nCOLTEST 7\nCOLSOST 9\nCOLSOST x9\n",
       "rule 2: the COLSOST value \"x9\" is not a number"},
      {"COLCOPER five\nCOLTEST 7\nCOLSOST 9\n",
       "rule 1: the COLCOPER value \"five\" is not a number"},
      {"COLCOPER\n", "a line lacks its key or its value"},
  };
  const std::string rulePath = file("rules.txt");
  BtreeImg source(file("a.dis").c_str());
  for (const auto& c : broken) {
    SCOPED_TRACE(c.text);
    rules(c.text);
    EXPECT_STREQ(btreeimg::coverageRulesProblem(rulePath.c_str()), c.problem);
    EXPECT_EQ(source.CoperturaU8(rulePath.c_str(), file("out.dis").c_str()), 0);
    bool changed = true;
    CString problem;
    EXPECT_EQ(btreeimg::coverImage(source, rulePath.c_str(), file("out.dis").c_str(), &changed,
                                   &problem), 0);
    EXPECT_EQ(std::string(problem), rulePath + ": " + c.problem);
    EXPECT_FALSE(changed);
    EXPECT_FALSE(fs::exists(file("out.dis")));
  }
  EXPECT_EQ(source.CoperturaU8(file("missing.txt").c_str(), file("out.dis").c_str()), 0);
  rules("COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
  EXPECT_EQ(source.CoperturaU8(rulePath.c_str(), file("no/such/out.dis").c_str()), 0);
  CString problem;
  EXPECT_EQ(btreeimg::coverImage(source, rulePath.c_str(), file("no/such/out.dis").c_str(),
                                 nullptr, &problem), 0);
  EXPECT_NE(std::string(problem).find(file("no/such/out.dis")), std::string::npos) << problem;
  EXPECT_FALSE(fs::exists(file("no")));
}

// The loader reads values as the coverage does, and refuses a file it cannot
// open or read without waiting on it, saying why and with errno.
TEST_F(Coverage, RuleFileGivesTheRulesOrWhyItCannotBeRead) {
  rules("@ a comment\nCOLCOPER 5 grey\nCOLTEST -1\nCOLSOST 300\nCOLCOPER 99999999999\n"
        "COLTEST 7\nCOLTEST 8\nCOLSOST 1\nCOLSOST 2\nCOLSOST 3\n");
  const btreeimg::CoverageRuleFile good(file("rules.txt").c_str());
  ASSERT_TRUE(good.usable()) << good.problem();
  ASSERT_EQ(good.rules().size(), 2u);
  EXPECT_TRUE(good.rules()[0].acts);
  EXPECT_EQ(good.rules()[0].cover, 5);
  EXPECT_EQ(good.rules()[0].test, -1);
  EXPECT_EQ(good.rules()[0].subst, 300);
  EXPECT_EQ(good.rules()[1].cover, 2147483647);  // held at the limit
  EXPECT_EQ(good.rules()[1].test, 7);
  EXPECT_EQ(good.rules()[1].subst, 1);
  EXPECT_EQ(good.osError(), 0);

  const std::string notFound =
      std::string("cannot be opened: file not found (") + std::strerror(ENOENT) + ")";
  const btreeimg::CoverageRuleFile missing(file("missing.txt").c_str());
  EXPECT_STREQ(missing.problem(), notFound.c_str());
  EXPECT_EQ(missing.osError(), ENOENT);
  EXPECT_TRUE(missing.rules().empty());
  const btreeimg::CoverageRuleFile folder(dir_.path().c_str());
  EXPECT_EQ(folder.osError(), EISDIR);
  ASSERT_EQ(::mkfifo(file("fifo").c_str(), 0600), 0);
  EXPECT_STREQ(btreeimg::coverageRulesProblem(file("fifo").c_str()),
               "cannot be read: not a regular file");
  BtreeImg source(file("a.dis").c_str());
  EXPECT_EQ(source.CoperturaU8(file("fifo").c_str(), file("out.dis").c_str()), 0);
}

// coverImage writes what CoperturaU8 writes, but a run that changes nothing
// leaves an existing output as it was.
TEST_F(Coverage, CoverImageKeepsAnExistingOutputWhenNothingChanged) {
  BtreeImg source(file("a.dis").c_str());
  ASSERT_EQ(source.CoperturaU8(file("rules.txt").c_str(), file("expected.dis").c_str()), 1);
  writeText(file("out.dis"), "an older output");
  bool changed = false;
  CString problem("stale");
  ASSERT_EQ(btreeimg::coverImage(source, file("rules.txt").c_str(), file("out.dis").c_str(),
                                 &changed, &problem), 1);
  EXPECT_TRUE(changed);
  EXPECT_TRUE(problem.IsEmpty());
  EXPECT_EQ(readFile(file("out.dis")), readFile(file("expected.dis")));

  rules("COLCOPER 6\nCOLTEST 7\nCOLSOST 9\n");  // changes nothing
  writeText(file("out.dis"), "an older output");
  ::chmod(file("out.dis").c_str(), 0640);
  const btreeimg::CoverageRuleFile none(file("rules.txt").c_str());
  ASSERT_EQ(btreeimg::coverImage(source, none, file("out.dis").c_str(), &changed), 1);
  EXPECT_FALSE(changed);
  EXPECT_EQ(testfiles::readText(file("out.dis")), "an older output");
  EXPECT_EQ(fs::status(file("out.dis")).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ASSERT_EQ(btreeimg::coverImage(source, none, file("new.dis").c_str()), 1);
  EXPECT_FALSE(fs::exists(file("new.dis")));

  // The image's own file, replaced through its temporary name.
  rules("COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
  ASSERT_EQ(btreeimg::coverImage(source, file("rules.txt").c_str(), file("a.dis").c_str(),
                                 &changed), 1);
  EXPECT_TRUE(changed);
  EXPECT_EQ(readFile(file("a.dis")), readFile(file("expected.dis")));
  EXPECT_FALSE(fs::exists(file("a.~~T")));
}

}  // namespace
