// Damaged image files: every cut of a valid file, and single damaged bytes
// in the fields that place and size the planes. Each one opens or is refused
// with a framework exception, and an image that opens reads every line of
// every plane it holds (the sanitizer build watches the reads).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "framework/Exceptions.h"
#include "image/BtreeImg.h"
#include "image/ImageFiles.h"

using imgtest::Bytes;
using imgtest::DiskImage;
using imgtest::kBlock;

namespace {

// Opens `path`. When it opens, reads every line of every plane it holds (one
// more than the line count, to wrap) through both forms of at() and the
// reversed order, then writes line 0 of each plane back. Returns whether
// the file opened; only the constructor may refuse it.
bool exercise(const std::string& path) {
  std::unique_ptr<BtreeImg> opened;
  try {
    opened = std::make_unique<BtreeImg>(path.c_str());
  } catch (CException* e) {
    e->Delete();
    return false;
  }
  BtreeImg& img = *opened;
  const int planes = imgtest::heldPlanes(img);
  const unsigned lines = img.dimy(1);
  for (int pass = 0; pass < 2; ++pass) {
    for (short p = 1; p <= planes; ++p) {
      for (unsigned y = 0; y <= lines && y < 70; ++y) {
        imgtest::readLine(img, y, p);
        imgtest::bufferLine(img, y, p);
      }
      img.line(p);
    }
    img.SetBassoAltoSinistraDestra();
  }
  for (short p = 1; p <= planes; ++p) {
    // The fixed-size memory file refuses to grow with the memory exception.
    imgtest::throwsFrameworkException(
        [&] { img.wLinea(img.at(0, p)->asCharArray(), 0, p); });
  }
  return true;
}

class Damaged : public ::testing::TestWithParam<std::tuple<int, int>> {
 protected:
  // Three planes of 5 lines of 6 bytes in the version and encoding of the
  // parameter.
  imgtest::BuiltImage valid() const {
    const auto [version, pack] = GetParam();
    return imgtest::buildPatternImage(version, pack, 3, 6, 5);
  }
};

TEST_P(Damaged, EveryCutOpensOrIsRefused) {
  const imgtest::BuiltImage built = valid();
  DiskImage disk(built.bytes);
  const std::string path = disk.save();
  ASSERT_TRUE(exercise(path));
  for (std::size_t size = built.bytes.size(); size-- > 0;) {
    disk.truncateTo(size);
    exercise(path);
    if (HasFatalFailure()) {
      ADD_FAILURE() << "cut at " << size;
      return;
    }
  }
}

TEST_P(Damaged, EveryDamagedFieldByteOpensOrIsRefused) {
  const imgtest::BuiltImage built = valid();
  std::vector<std::size_t> offsets;
  for (std::size_t b : built.blocks) {
    for (std::size_t i = 0; i < 20; ++i) offsets.push_back(b + i);
    for (std::size_t i = 1000; i < 1022; ++i) offsets.push_back(b + i);
    for (std::size_t i = 0; i < 16; ++i) offsets.push_back(b + kBlock + i);
  }
  DiskImage disk(built.bytes);
  for (std::size_t offset : offsets) {
    for (unsigned char value : {0x00, 0x01, 0x05, 0x7F, 0x80, 0xFF}) {
      disk.bytes() = built.bytes;
      disk.setByte(offset, value);
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
