// The tool streams rows: its peak resident memory stays under a fixed
// bound, however large the image, beyond the image files the library holds
// (cover's input, which BtreeImg opens; the outputs the library writes).
// Measured on a 32 MiB image (four 4096 x 2048 planes), where a command that
// held a plane or a picture would need 8 to 64 MiB more, and on a 0.5 MiB
// whole-plane packed plane of 8192 x 8192 (64 MiB once decoded).
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "ToolTestSupport.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(memory_sanitizer)
#define BTREEIMG_TEST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define BTREEIMG_TEST_SANITIZED 1
#endif

namespace tooltest {
namespace {

// The tool's own memory beyond the files: its code and libraries (about
// 5 MiB), libpng's and zlib's state and a few lines. (An interlaced PNG adds
// at most one band, PngReader::kBandBytes, see PngReaderTest.)
constexpr std::uintmax_t kBound = std::uintmax_t{12} << 20;

constexpr const char* kTime = "/usr/bin/time";  // Debian's package "time"

// Runs the tool with `args` under GNU time, which reports the peak resident
// memory of its child (the kernel's figure for a child of this test process
// would start from this process's own peak, which fork copies). Returns the
// peak in bytes, 0 when the tool failed.
std::uintmax_t peakOf(const std::vector<std::string>& args, const testfiles::TempDir& dir) {
  const std::string report = dir.file(".peak");
  std::vector<std::string> words = {"-f", "%M", "-o", report, BTREEIMG_TOOL};
  words.insert(words.end(), args.begin(), args.end());
  if (runProgram(kTime, words, dir).status != 0) return 0;
  return std::stoull(testfiles::readText(report)) * 1024;  // KiB
}

TEST(MemoryBound, EveryCommandStaysWithinAFixedBoundBeyondTheFilesItHoldsOpen) {
#ifdef BTREEIMG_TEST_SANITIZED
  GTEST_SKIP() << "resident memory is not the tool's own under a sanitizer";
#endif
  if (std::getenv("BTREEIMG_TOOL_WRAPPER") != nullptr) {
    GTEST_SKIP() << "the tool runs under a wrapper";
  }
  ASSERT_TRUE(std::filesystem::exists(kTime)) << kTime << " is missing: scripts/install-deps installs it";
  testfiles::TempDir dir;
  auto f = [&dir](const std::string& name) { return dir.file(name); };
  makeImage(f("big.dis"), 0, 4096, 2048, 4, runs(5));
  for (const char* p : {"1", "2", "3", "4"}) {
    ASSERT_EQ(tool({"topng", f("big.dis"), f(std::string("p") + p + ".png"), "--plane", p}, dir).status, 0);
  }
  testfiles::writeText(f("rules.txt"), "COLCOPER 1\nCOLTEST 1\nCOLSOST 9\n");
  testfiles::writeFile(f("flat.dis"), flatPlane(8192, 8192));
  testfiles::writeFile(f("wide.dis"), flatPlane((1u << 28) + 1, 1));

  // Each command, and the image files whose size the library holds at its
  // peak.
  const std::pair<std::vector<std::string>, std::vector<std::string>> cases[] = {
      {{"topng", f("big.dis"), f("all.png")}, {}},
      {{"frompng", f("p1.png"), f("p2.png"), f("p3.png"), f("p4.png"), f("from.dis")}, {f("from.dis")}},
      {{"repack", f("big.dis"), f("packed.dis"), "--pack", "1"}, {f("packed.dis")}},
      {{"cover", f("big.dis"), f("rules.txt"), f("covered.dis")}, {f("big.dis"), f("covered.dis")}},
      {{"diff", f("big.dis"), f("packed.dis")}, {}},
      {{"info", f("big.dis")}, {}},
      {{"topng", f("flat.dis"), f("flat.png")}, {}},
      {{"diff", f("flat.dis"), f("flat.dis")}, {}},
      {{"info", f("flat.dis")}, {}},
      {{"thumbnail", f("flat.dis"), f("thumb.png")}, {}},
      // One line of 2^28 + 1 pixels: over the pixel limit, so not counted,
      // and no line of that length made.
      {{"info", f("wide.dis")}, {}},
  };
  for (const auto& [args, files] : cases) {
    SCOPED_TRACE(args[0]);
    const std::uintmax_t peak = peakOf(args, dir);
    ASSERT_NE(peak, 0u);
    std::uintmax_t held = 0;
    for (const std::string& file : files) held += std::filesystem::file_size(file);
    EXPECT_LE(peak, held + kBound) << "peak " << (peak >> 20) << " MiB, files " << (held >> 20) << " MiB";
  }
  // What was streamed arrived whole.
  EXPECT_EQ(tool({"diff", f("big.dis"), f("from.dis")}, dir).status, 0);
  EXPECT_EQ(tool({"diff", f("big.dis"), f("covered.dis")}, dir).status, 1);
}

}  // namespace
}  // namespace tooltest
