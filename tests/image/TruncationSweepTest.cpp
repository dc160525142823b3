// Every cut of a valid file (sound only for a raw last plane cut at a line's
// start) and every damaged field byte opens or is refused with a framework
// exception; what opens reads every line (the sanitizer build watches).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "image/ImageCheck.h"
#include "image/ImageFiles.h"

using namespace imgtest;  // NOLINT: the test-local helpers

namespace {

// Opens `path`; if it opens, reads each line (one more, to wrap) of each plane
// both ways in both orders and writes line 0 back (a refusal to grow allowed).
bool exercise(const std::string& path) {
  std::unique_ptr<BtreeImg> opened;
  if (testfiles::catchPtr<CException>(
          [&] { opened = std::make_unique<BtreeImg>(path.c_str()); }))
    return false;
  BtreeImg& img = *opened;
  const int v = img.Version();
  const int planes = v < 2 || v > 4 ? 1 : std::clamp<int>(img.nPiani(), 1, 5);
  for (int pass = 0; pass < 2; ++pass, img.SetBassoAltoSinistraDestra()) {
    for (short p = 1; p <= planes; ++p) {
      for (unsigned y = 0; y <= img.dimy(1) && y < 70; ++y) {
        readLine(img, y, p);
        bufferLine(img, y, p);
      }
      img.line(p);
    }
  }
  for (short p = 1; p <= planes; ++p) {
    testfiles::catchPtr<CMemoryException>(
        [&] { img.wLinea(img.at(0, p)->asCharArray(), 0, p); });
  }
  return true;
}

class Damaged : public ::testing::TestWithParam<std::tuple<int, int>> {};

// Three planes of 5 lines of 6 bytes in each version and encoding.
BuiltImage valid(std::tuple<int, int> versionAndPack) {
  const auto [version, pack] = versionAndPack;
  return buildPatternImage(version, pack, 3, 6, 5);
}

TEST_P(Damaged, TheWholeFileIsSoundAndEveryCutOpensOrIsRefused) {
  const BuiltImage built = valid(GetParam());
  DiskImage disk{built.bytes};
  const std::string path = disk.save();
  ASSERT_TRUE(exercise(path));
  EXPECT_EQ(testfiles::readFile(path), disk.bytes);  // opened: never written
  ImageCheck check;
  ASSERT_EQ(check.Inspect(disk.bytes.data(), disk.bytes.size()),
            ImageCheck::sound);
  const std::size_t lastRegion = built.blocks.back() + kBlock;
  for (std::size_t size = disk.bytes.size(); size-- > 0;) {
    const bool lineStart = std::get<1>(GetParam()) == 0 && size >= lastRegion &&
                           (size - lastRegion) % 6 == 0;
    EXPECT_EQ(check.Inspect(disk.bytes.data(), size) == ImageCheck::sound, lineStart)
        << size;
    std::filesystem::resize_file(path, size);
    exercise(path);
    if (HasFatalFailure()) {
      ADD_FAILURE() << "cut at " << size;
      return;
    }
  }
}

TEST_P(Damaged, EveryDamagedFieldByteOpensOrIsRefused) {
  const BuiltImage built = valid(GetParam());
  std::vector<std::size_t> offsets;
  for (std::size_t b : built.blocks) {
    for (std::size_t i = 0; i < 20; ++i) offsets.push_back(b + i);
    for (std::size_t i = 1000; i < 1022; ++i) offsets.push_back(b + i);
    for (std::size_t i = 0; i < 16; ++i) offsets.push_back(b + kBlock + i);
  }
  DiskImage disk;
  for (std::size_t offset : offsets) {
    for (unsigned char value : {0x00, 0x01, 0x05, 0x7F, 0x80, 0xFF}) {
      disk.bytes = built.bytes;
      disk.bytes.at(offset) = value;
      exercise(disk.save());
      if (HasFatalFailure()) {
        ADD_FAILURE() << "offset " << offset << " value " << int{value};
        return;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(VersionsAndEncodings, Damaged,
                         ::testing::Combine(::testing::Values(2, 3, 4),
                                            ::testing::Values(0, 1, 2)));

}  // namespace
