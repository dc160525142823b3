// The decoder's wide paths meet codes of particular shapes: long stretches
// of count-1 pairs (noise), count-1 pairs broken by one or more of count 2,
// stretches of counts from 1 to 16 (gradients), long runs, count-0 pairs
// anywhere. Codes built from such stretches, cut at any output size, must
// expand exactly as the runs say and leave every byte behind the count
// returned as it was.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <memory>
#include <vector>

#include "PlaneBytes.h"
#include "planestore/RunPairs.h"

using planetest::Bytes;
using planetest::kGuardByte;

namespace {

Bytes referenceExpand(const Bytes& code, std::size_t outSize) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < code.size(); i += 2)
    out.insert(out.end(), code[i], code[i + 1]);
  out.resize(std::min(out.size(), outSize));
  return out;
}

// Expands an exact-size copy of `code` into `outSize` bytes followed by a
// guard area; returns the bytes reported, after checking the rest.
Bytes expandChecked(const Bytes& code, std::size_t outSize) {
  Bytes out(outSize + 300, kGuardByte);
  const std::unique_ptr<unsigned char[]> in(new unsigned char[code.size() + 1]);
  std::copy(code.begin(), code.end(), in.get());
  const std::size_t n = btreeimg::detail::expandRuns(
      in.get(), in.get() + code.size(), out.data(), outSize);
  EXPECT_LE(n, outSize);
  EXPECT_EQ(Bytes(out.begin() + static_cast<std::ptrdiff_t>(n), out.end()),
            Bytes(out.size() - n, kGuardByte));
  out.resize(std::min(n, outSize));
  return out;
}

// A stretch of `pairs` pairs of one shape.
Bytes stretch(int shape, int pairs) {
  Bytes code;
  for (int i = 0; i < pairs; ++i) {
    unsigned char count = 1;
    switch (shape) {
      case 0:  // noise: count 1
        break;
      case 1:  // noise with a count 2 now and then
        count = *rc::gen::inRange(0, 12) == 0 ? 2 : 1;
        break;
      case 2:  // a gradient: counts 1 to 16
        count = *rc::gen::inRange<unsigned char>(1, 17);
        break;
      case 3:  // line art: long runs
        count = *rc::gen::inRange<int>(17, 256);
        break;
      default:  // anything, count 0 included
        count = *rc::gen::element<unsigned char>(0, 0, 1, 2, 3, 16, 17, 64, 65,
                                                 255);
    }
    code.insert(code.end(), {count, *rc::gen::arbitrary<unsigned char>()});
  }
  return code;
}

}  // namespace

RC_GTEST_PROP(RunPairsShapes, StretchesOfEveryShapeExpandAsTheRunsSay, ()) {
  Bytes code;
  const int stretches = *rc::gen::inRange(1, 6);
  for (int s = 0; s < stretches; ++s) {
    const Bytes part =
        stretch(*rc::gen::inRange(0, 5), *rc::gen::inRange(1, 90));
    code.insert(code.end(), part.begin(), part.end());
  }
  if (*rc::gen::arbitrary<bool>()) code.push_back(0x5A);  // a lone last byte
  const std::size_t full = referenceExpand(code, ~std::size_t{0}).size();
  // Mostly the whole expansion (a complete line), sometimes cut anywhere.
  const std::size_t outSize =
      *rc::gen::arbitrary<bool>()
          ? full
          : *rc::gen::inRange<std::size_t>(0, full + 40);
  RC_ASSERT(expandChecked(code, outSize) == referenceExpand(code, outSize));
}

TEST(RunPairsShapes, ACountTwoAtEachPlaceOfSixteenSinglesExpandsExactly) {
  for (int k = 0; k < 16; ++k) {
    Bytes code;
    for (int i = 0; i < 48; ++i) {
      code.insert(code.end(), {static_cast<unsigned char>(i == k ? 2 : 1),
                               static_cast<unsigned char>(i)});
    }
    for (std::size_t outSize :
         {std::size_t{16}, std::size_t{17}, std::size_t{20}, std::size_t{49}}) {
      EXPECT_EQ(expandChecked(code, outSize), referenceExpand(code, outSize))
          << "count 2 at " << k << ", " << outSize << " bytes";
    }
  }
}
