// Colour coverage of image files: rule file problems, what rules do to images
// of each encoding, and where the result goes (rules alone: CoverageRulesTest).
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "image/Coverage.h"
#include "image/CoverageRuleFile.h"
#include "image/ImageCheck.h"
#include "image/ImageFiles.h"

using namespace imgtest;  // NOLINT: the test-local helpers
using testfiles::writeText;

namespace {

int cover(const std::string& image, const std::string& rules, const std::string& output) {
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

// An unusable rule file: no rules, a problem in words (errno where refused),
// 0 from both ways of covering, and nothing written.
TEST_F(Coverage, AnUnusableRuleFileSaysWhyAndNothingIsWritten) {
  ASSERT_EQ(::mkfifo(file("fifo").c_str(), 0600), 0);
  const struct {
    const char* name;  // in the test's folder
    const char* text;  // written to it, unless null
    std::string problem;
    int osError;
  } cases[] = {
      {"rules.txt", "COLTEST 7\nCOLSOST 9\n", "no COLCOPER (cover colour) values", 0},
      {"rules.txt", "COLCOPER 5\nCOLSOST 9\n", "1 COLCOPER value but 0 COLTEST values", 0},
      {"rules.txt", "COLCOPER 5\nCOLCOPER 6\nCOLTEST 7\nCOLTEST 7\nCOLSOST 9\n",
       "2 COLCOPER values but 1 COLSOST value", 0},
      {"rules.txt", "COLCOPER 5\nCOLCOPER 6\nCOLTEST 7\nCOLTEST 7\nCOLSOST 9\nCOLSOST x9\n",
       "rule 2: the COLSOST value \"x9\" is not a number", 0},
      {"rules.txt", "COLCOPER five\nCOLTEST 7\nCOLSOST 9\n",
       "rule 1: the COLCOPER value \"five\" is not a number", 0},
      {"rules.txt", "COLCOPER\n", "a line lacks its key or its value", 0},
      {"missing.txt", nullptr,
       std::string("cannot be opened: file not found (") + std::strerror(ENOENT) + ")", ENOENT},
      {".", nullptr,
       std::string("cannot be opened: access denied (") + std::strerror(EISDIR) + ")", EISDIR},
      {"fifo", nullptr, "cannot be read: not a regular file", 0},  // never waited on
  };
  BtreeImg source(file("a.dis").c_str());
  const std::string out = file("out.dis");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.problem);
    if (c.text != nullptr) rules(c.text);
    const std::string path = file(c.name);
    const btreeimg::CoverageRuleFile ruleFile(path.c_str());
    EXPECT_STREQ(ruleFile.problem(), c.problem.c_str());
    EXPECT_EQ(ruleFile.osError(), c.osError);
    EXPECT_TRUE(ruleFile.rules().empty());
    EXPECT_EQ(source.CoperturaU8(path.c_str(), out.c_str()), 0);
    bool changed = true;
    CString problem;
    EXPECT_EQ(btreeimg::coverImage(source, path.c_str(), out.c_str(), &changed, &problem), 0);
    EXPECT_EQ(std::string(problem), path + ": " + c.problem);
    EXPECT_FALSE(changed);
    EXPECT_FALSE(fs::exists(out));
  }
}

// Values read as "%d", held at int's limits; extra COLTEST/COLSOST values.
TEST_F(Coverage, AUsableRuleFileHasARuleForEachCoverValue) {
  rules("@ a comment\nCOLCOPER 5 grey\nCOLTEST -1\nCOLSOST 300\nCOLCOPER 99999999999\n"
        "COLTEST 7\nCOLTEST 8\nCOLSOST -99999999999\nCOLSOST 2\nCOLSOST 3\n");
  const btreeimg::CoverageRuleFile good(file("rules.txt").c_str());
  EXPECT_TRUE(good.usable()) << good.problem();
  ASSERT_EQ(good.rules().size(), 2u);
  const auto& [acts, cover, test, subst] = good.rules()[0];
  EXPECT_TRUE(acts);
  EXPECT_EQ(std::vector<int>({cover, test, subst, good.rules()[1].cover, good.rules()[1].test,
                              good.rules()[1].subst}),
            std::vector<int>({5, -1, 300, INT_MAX, 7, INT_MIN}));
  EXPECT_EQ(good.osError(), 0);
}

// Rules over a one-plane image in each encoding: the output keeps the header
// and encoding; a run that changes nothing removes an older output.
TEST_F(Coverage, RulesActOnTheWorkingLineAgainstTheSourcesNextLine) {
  const struct {
    Lines lines;
    const char* rules;
    Lines expected;     // empty: no output file
    ULONGLONG changed;  // pixels
  } cases[] = {
      // 5 over 7 becomes 9, then 3; the last line is tested against the
      // first, where no cover colour lies.
      {{{5, 5, 1}, {7, 2, 7}},
       "COLCOPER 5\nCOLTEST 7\nCOLSOST 9\nCOLCOPER 9\nCOLTEST 7\nCOLSOST 3\n",
       {{3, 5, 1}, {7, 2, 7}},
       1},
      // The test colour is looked up in the source, not in rewritten lines.
      {{{1, 1}, {1, 1}, {2, 2}}, "COLCOPER 1\nCOLTEST 2\nCOLSOST 2\n", {{1, 1}, {2, 2}, {2, 2}}, 2},
      // Colours compare as signed bytes: 200 is -56, COLCOPER 200 matches
      // nothing, so no output.
      {{{200, 200}, {7, 8}}, "COLCOPER 200\nCOLTEST 7\nCOLSOST 1\n", {}, 0},
      // The last line against the first, a single line against itself.
      {{{4, 1}, {0, 0}, {4, 0}}, "COLCOPER 4\nCOLTEST 4\nCOLSOST 6\n", {{4, 1}, {0, 0}, {6, 0}}, 1},
      {{{4, 3, 4}}, "COLCOPER 4\nCOLTEST 4\nCOLSOST 6\n", {{6, 3, 6}}, 2},
  };
  for (int pack = 0; pack <= 2; ++pack) {
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << "pack " << pack << ": " << c.rules);
      createImage(file("a.dis"), pack, {c.lines});
      rules(c.rules);
      writeText(file("out.dis"), "an older output");
      ASSERT_EQ(cover(file("a.dis"), file("rules.txt"), file("out.dis")), 1);
      ASSERT_EQ(fs::exists(file("out.dis")), !c.expected.empty());
      // coverImage through the image or a reader: the same bytes and count;
      // an existing output is left alone when nothing changed.
      const char* const outputs[] = {"kept.dis", "read.dis"};
      for (const char* name : outputs) writeText(file(name), "an older output");
      BtreeImg source(file("a.dis").c_str());
      bool changed = c.expected.empty();
      ASSERT_EQ(btreeimg::coverImage(source, file("rules.txt").c_str(), file("kept.dis").c_str(),
                                     &changed), 1);
      EXPECT_EQ(changed, !c.expected.empty());
      btreeimg::ImageReader reader(file("a.dis").c_str());
      const ULONGLONG count = btreeimg::coverImage(
          reader, btreeimg::CoverageRuleFile(file("rules.txt").c_str()), file("read.dis").c_str());
      EXPECT_EQ(count, c.changed);
      const std::string result =
          c.expected.empty() ? "an older output" : testfiles::readText(file("out.dis"));
      for (const char* name : outputs) EXPECT_EQ(testfiles::readText(file(name)), result);
      if (c.expected.empty()) continue;
      BtreeImg out(file("out.dis").c_str());
      expectLines(out, {c.expected});
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

// The result is one sound plane: a multi-plane source's block names no
// further planes, and plane 1 behind a gap (version 2) moves behind the block.
TEST_F(Coverage, MultiPlaneSourceGivesASoundOnePlaneResult) {
  for (int pack = 0; pack <= 2; ++pack) {
    createImage(file("three.dis"), pack, patternPlanes(3, 12, 40));
    rules("COLCOPER 62\nCOLTEST 69\nCOLSOST 9\n");  // plane 1, line 0, x 5..9
    ASSERT_EQ(cover(file("three.dis"), file("rules.txt"), file("out.dis")), 1);
    ImageCheck check;
    EXPECT_EQ(check.InspectFile(file("out.dis").c_str()), ImageCheck::sound) << "pack " << pack;
    EXPECT_EQ(check.PlaneCount(), 1);
    EXPECT_EQ(check.Plane(1).pack, pack);
  }
  Bytes gap = buildImage(2, {{0, {{5, 1}, {7, 7}}}}).bytes;
  gap.insert(gap.begin() + kBlock, 16, 0xAA);
  put32(gap, 1002, 16);
  testfiles::writeFile(file("gap.dis"), gap);
  rules("COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
  ASSERT_EQ(cover(file("gap.dis"), file("rules.txt"), file("out.dis")), 1);
  EXPECT_EQ(ImageCheck().InspectFile(file("out.dis").c_str()), ImageCheck::sound);
  BtreeImg covered(file("out.dis").c_str());
  expectLines(covered, {{{9, 1}, {7, 7}}});
}

// Both ways agree: a pixel replaced by its own value writes nothing; an output
// that is a hard link of the image gets the result, the image stays.
TEST_F(Coverage, TheImageAndTheReaderWaysAgree) {
  const Bytes before = readFile(file("a.dis"));
  const auto both = [&](const std::string& out) {
    bool changed = true;
    CString problem;
    BtreeImg source(file("a.dis").c_str());
    EXPECT_EQ(btreeimg::coverImage(source, file("rules.txt").c_str(), out.c_str(), &changed,
                                   &problem), 1) << problem;
    btreeimg::ImageReader reader(file("a.dis").c_str());
    const ULONGLONG pixels =
        btreeimg::coverImage(reader, btreeimg::CoverageRuleFile(file("rules.txt").c_str()),
                             (out + ".r").c_str());
    EXPECT_EQ(changed, pixels != 0);
    return changed;
  };
  rules("COLCOPER 5\nCOLTEST 7\nCOLSOST 5\n");
  EXPECT_FALSE(both(file("out.dis")));
  EXPECT_FALSE(fs::exists(file("out.dis")));
  rules("COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
  fs::create_hard_link(file("a.dis"), file("link.dis"));
  fs::create_hard_link(file("a.dis"), file("link.dis.r"));
  EXPECT_TRUE(both(file("link.dis")));
  EXPECT_EQ(readFile(file("a.dis")), before);
  for (const char* out : {"link.dis", "link.dis.r"}) {
    BtreeImg covered(file(out).c_str());
    expectLines(covered, {{{9, 1}, {7, 7}}});
  }
}

// The output reaches the image's own file through a relative name or a link
// (which stays); another letter case is another file.
TEST_F(Coverage, SameFileRunsReplaceTheImageThroughItsTemporaryName) {
  const Bytes before = readFile(file("a.dis"));
  testfiles::ScopedChdir inside(dir_.path());
  fs::create_symlink(file("a.dis"), file("link.dis"));
  for (const std::string out : {"./a.dis", "link.dis", "A.DIS"}) {
    SCOPED_TRACE(out);
    createImage(file("a.dis"), 0, {{{5, 1}, {7, 7}}});
    rules("COLCOPER 6\nCOLTEST 7\nCOLSOST 9\n");  // changes nothing: the image stays
    ASSERT_EQ(cover(file("a.dis"), file("rules.txt"), out), 1);
    EXPECT_EQ(readFile(file("a.dis")), before);
    rules("COLCOPER 5\nCOLTEST 7\nCOLSOST 9\n");
    ASSERT_EQ(cover(file("a.dis"), file("rules.txt"), out), 1);
    BtreeImg covered(file(out == "A.DIS" ? "A.DIS" : "a.dis").c_str());
    expectLines(covered, {{{9, 1}, {7, 7}}});
    EXPECT_EQ(readFile(file("a.dis")) == before, out == "A.DIS");
    EXPECT_FALSE(fs::exists(file("a.~~T")));
  }
  EXPECT_TRUE(fs::is_symlink(file("link.dis")));
}

// An output that cannot be written is named in the problem, never half made.
TEST_F(Coverage, CoverImageNamesAnOutputItCannotWrite) {
  BtreeImg source(file("a.dis").c_str());
  CString problem("stale");
  ASSERT_EQ(btreeimg::coverImage(source, file("rules.txt").c_str(), file("out.dis").c_str(),
                                 nullptr, &problem), 1);
  EXPECT_TRUE(problem.IsEmpty());
  const std::string unwritable = file("no/such/out.dis");
  EXPECT_EQ(source.CoperturaU8(file("rules.txt").c_str(), unwritable.c_str()), 0);
  EXPECT_EQ(btreeimg::coverImage(source, file("rules.txt").c_str(), unwritable.c_str(), nullptr,
                                 &problem), 0);
  EXPECT_NE(std::string(problem).find(unwritable), std::string::npos) << problem;
  EXPECT_FALSE(fs::exists(file("no")));

  // Through a reader, failures are exceptions.
  btreeimg::ImageReader reader(file("a.dis").c_str());
  const btreeimg::CoverageRuleFile rulesNow(file("rules.txt").c_str());
  EXPECT_TRUE(testfiles::throwsPtr<CFileException>(
      [&] { btreeimg::coverImage(reader, rulesNow, unwritable.c_str()); }));
  rules("COLTEST 7\nCOLSOST 9\n");
  const btreeimg::CoverageRuleFile unusable(file("rules.txt").c_str());
  EXPECT_TRUE(testfiles::throwsPtr<CInvalidArgException>(
      [&] { btreeimg::coverImage(reader, unusable, file("out.dis").c_str()); }));
}

}  // namespace
