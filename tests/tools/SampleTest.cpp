// The shipped sample is what the generator writes, and shows what it claims.
#include "ToolRun.h"

#include <gtest/gtest.h>

namespace tooltest {
namespace {

TEST(Sample, TheShippedImageIsWhatTheGeneratorWrites) {
  testfiles::TempDir dir;
  const ToolResult run = runProgram(BTREEIMG_MAKE_SAMPLE, {dir.file("design.dis")}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(testfiles::readFile(dir.file("design.dis")) ==
              testfiles::readFile(sample("design.dis")))
      << "samples/design.dis is stale: rebuild it with the target regenerate-sample";
}

}  // namespace
}  // namespace tooltest
