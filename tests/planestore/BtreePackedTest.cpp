#include "planestore/BtreePacked.h"

#include <gtest/gtest.h>

#include <vector>

#include "PlaneBytes.h"
#include "framework/Exceptions.h"
#include "support/ThrownPtr.h"

using namespace planetest;

namespace {

const Bytes kLine0 = {5, 5, 5, 7, 7, 0, 0, 0};
const Bytes kLine1 = Bytes(8, 9);
const Bytes kExampleRegion = {0, 0, 0, 0, 6, 0, 0, 0, 8, 0, 0, 0,  //
                              3, 5, 2, 7, 3, 0, 8, 9};

// Writes `writes` in order into a packed plane at the start of a growing
// memory file, which must then hold `file`; a new object over it must read
// the `reads` (into buffers preset to 0x33).
void expectCoded(int width, int count, const Writes& writes, const Bytes& file,
                 const Writes& reads) {
  CMemFile memFile;
  BtreePacked plane(&memFile, 0, width, count);
  for (const auto& [line, bytes] : writes)
    ASSERT_EQ(writeLine(plane, line, bytes), 1);
  EXPECT_EQ(wholeFile(memFile), file);
  BtreePacked reopened(&memFile, 0, width, count);
  for (const auto& [line, bytes] : reads)
    EXPECT_EQ(readLine(reopened, line, bytes.size(), 0x33), bytes);
}

// Writing line 0 clears the offset table. Rewriting line 1 moves only
// entry[2]: entry[3] still says where the old line 2 ended, and line 2
// reads nothing until it is rewritten.
TEST(PackedPlaneLayout, RewritesKeepOnlyTheTableEntriesTheyMove) {
  expectCoded(8, 2, {{0, kLine0}, {1, kLine1}, {0, Bytes(8, 1)}},
              concat(le32({0, 2, 0}), {8, 1, 2, 7, 3, 0, 8, 9}),
              {{0, Bytes(8, 1)}, {1, Bytes(8, 0x33)}});
  expectCoded(4, 3,
              {{0, Bytes(4, 1)}, {1, Bytes(4, 2)}, {2, Bytes(4, 3)},
               {1, {4, 5, 6, 6}}},
              concat(le32({0, 2, 8, 6}), {4, 1, 1, 4, 1, 5, 2, 6}),
              {{0, Bytes(4, 1)}, {1, {4, 5, 6, 6}}, {2, Bytes(4, 0x33)}});
}

TEST(PackedPlane, WritesThatWouldCrossTheRegionEndAreRefused) {
  CMemFile file;  // growing, as for an image being created
  BtreePacked plane(&file, kRegion, 8, 2);
  plane.SetRegionEnd(kRegion + 11);  // not even room for the table
  EXPECT_EQ(writeLine(plane, 0, Bytes(8, 0)), 0);
  EXPECT_EQ(file.GetLength(), 0u);
  plane.SetRegionEnd(kRegion + 19);  // one byte short of the example
  ASSERT_EQ(writeLine(plane, 0, kLine0), 1);
  EXPECT_EQ(writeLine(plane, 1, kLine1), 0);
  EXPECT_EQ(fileBytes(file, kRegion, 64), (concat(le32({0, 6, 0}), {3, 5, 2, 7, 3, 0})));
  plane.SetRegionEnd(kRegion + 20);  // ending exactly there is allowed
  EXPECT_EQ(writeLine(plane, 1, kLine1), 1);
  EXPECT_EQ(fileBytes(file, kRegion, 64), kExampleRegion);
}

// A line is coded first and stored with one write.
TEST(PackedPlaneFixedFile,
     LineRunningPastAFixedFileThrowsWithoutTouchingTheTable) {
  ExactImage image(concat(le32({0, 2, 2}), {8, 9, 0xEE}));
  const Bytes before = wholeFile(image.file);
  BtreePacked plane(&image.file, kRegion, 8, 2);
  EXPECT_TRUE(testfiles::throwsPtr<CMemoryException>(
      [&] { writeLine(plane, 1, kLine0); }));
  EXPECT_EQ(wholeFile(image.file), before);
}

// The line offset table is never trusted: a line decodes only what fits into
// it and the file, and leaves the rest of the buffer as it was (preset to
// 0x33).
TEST(MalformedPackedPlane, DecodesOnlyWhatFitsTheLineAndTheFile) {
  const struct {
    const char* what;
    Bytes region, line0;  // line 1 reads nothing
  } cases[] = {
      {"pairs expanding past the line",
       concat(le32({0, 6, 6}), {200, 1, 200, 2, 1, 3}), Bytes(8, 1)},
      {"end below start", concat(le32({0, 4, 2}), {8, 1, 8, 2}), Bytes(8, 1)},
      // Line 0 claims 0xFFFFFFF0 bytes of code; three pairs exist, and the
      // last byte of the file is half a pair.
      {"code past the file end",
       concat(le32({0, 0xFFFFFFF0u, 0xFFFFFFF8u}), {2, 1, 3, 2, 1, 3, 4}),
       {1, 1, 2, 2, 2, 3, 0x33, 0x33}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(decodedPlane<BtreePacked>(c.region, 8, 2, 0x33),
              concat(c.line0, Bytes(8, 0x33)))
        << c.what;
  }
}

}  // namespace
