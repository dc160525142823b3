#include "planestore/RunPairs.h"

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <cstddef>
#include <memory>
#include <vector>

#include "PlaneBytes.h"
#include "support/RunPairs.h"

using namespace planetest;
using btreeimg::detail::encodeRuns;

namespace {

// What a code expands to, cut to `outSize` bytes, as the format defines it.
Bytes referenceExpand(const Bytes& code, std::size_t outSize) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < code.size(); i += 2)
    out.insert(out.end(), code[i], code[i + 1]);
  out.resize(std::min(out.size(), outSize));
  return out;
}

// Encodes into a buffer whose guard area behind the code must stay untouched.
Bytes encode(const Bytes& in) {
  Bytes out(btreeimg::detail::maxCodedSize(in.size()) + 48, kGuardByte);
  const std::size_t n = encodeRuns(in.data(), in.size(), out.data());
  EXPECT_EQ(n, btreeimg::detail::codedSize(in.data(), in.size()));
  EXPECT_EQ(Bytes(out.begin() + n, out.end()),
            Bytes(out.size() - n, kGuardByte));
  out.resize(n);
  return out;
}

// Expands an exact-size copy of `code` (so that the sanitizers see an
// over-read) into `outSize` bytes and a guard area, all preset to kGuardByte:
// every byte behind the count returned must stay so. Returns the bytes
// written.
Bytes expand(const Bytes& code, std::size_t outSize) {
  Bytes out(outSize + 48, kGuardByte);
  const std::unique_ptr<unsigned char[]> in(new unsigned char[code.size()]);
  std::copy(code.begin(), code.end(), in.get());
  std::size_t n = btreeimg::detail::expandRuns(in.get(), in.get() + code.size(),
                                               out.data(), outSize);
  EXPECT_LE(n, outSize);
  n = std::min(n, outSize);
  EXPECT_EQ(Bytes(out.begin() + n, out.end()),
            Bytes(out.size() - n, kGuardByte));
  out.resize(n);
  return out;
}

}  // namespace

TEST(RunPairs, RunsStopAtTheEndOfTheCodedBytes) {
  // The bytes after the coded four hold the same value as the last one.
  const Bytes memory = {1, 2, 2, 2, 2, 2, 2, 2};
  Bytes out(8, kGuardByte);
  out.resize(encodeRuns(memory.data(), 4, out.data()));
  EXPECT_EQ(out, (Bytes{1, 1, 3, 2}));
}

// Every call checks that nothing behind the bytes reported was written.
TEST(RunPairs, ExpandsMalformedCodesWithinTheOutputAndTheCode) {
  EXPECT_EQ(expand({}, 8), Bytes());
  EXPECT_EQ(expand({200, 3}, 10), Bytes(10, 3));  // a run past the output
  EXPECT_EQ(expand(repeated({1, 7, 5, 9, 20, 4}, 64), 12),
            (Bytes{7, 9, 9, 9, 9, 9, 4, 4, 4, 4, 4, 4}));
  EXPECT_EQ(expand(repeated({1, 7, 5, 9}, 64), 0), Bytes());
  EXPECT_EQ(expand({2, 4, 3, 6}, 20), (Bytes{4, 4, 6, 6, 6}));  // code ends
  // Count-0 pairs add nothing; a lone last byte is no pair.
  EXPECT_EQ(expand({0, 9, 2, 4, 0, 0, 1, 5, 3}, 20), (Bytes{4, 4, 5}));
  EXPECT_EQ(expand(Bytes(100000, 0), 20), Bytes());
  // Short runs and sixteen count-1 pairs are stored in wide chunks: a chunk
  // must not leave bytes behind the runs it covers.
  EXPECT_EQ(expand(concat({3, 7}, repeated({0, 9}, 40)), 100), Bytes(3, 7));
  EXPECT_EQ(expand(concat(repeated({1, 5}, 10), repeated({0, 6}, 10)), 100),
            Bytes(10, 5));
}

RC_GTEST_PROP(
    RunPairs, AnyLineCodesAsDefinedAndExpandsBack,
    (const std::vector<std::pair<unsigned char, unsigned short>>& runs)) {
  Bytes line;  // runs of any length, mostly single bytes
  for (const auto& [value, length] : runs)
    line.insert(line.end(), length % 3 == 0 ? length % 700 : 1, value);
  const Bytes code = encode(line);
  RC_ASSERT(code == testfiles::runPairs(line));
  RC_ASSERT(expand(code, line.size()) == line);
}

// Codes are built from stretches of one shape each, as the decoder's wide
// paths meet them: noise (count 1), noise with a count 2 now and then,
// gradients (counts 1 to 16), long runs, and counts around the chunk sizes
// (count-0 pairs that cover nothing included); sometimes a lone last byte
// follows. The expansion is cut at any output size, mostly the whole one.
RC_GTEST_PROP(RunPairs, AnyCodeExpandsAsTheClippedRunsSay, ()) {
  using G = rc::Gen<unsigned char>;
  const std::vector<G> shapes = {
      rc::gen::just<unsigned char>(1),
      rc::gen::element<unsigned char>(1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2),
      rc::gen::inRange<unsigned char>(1, 17),
      rc::gen::inRange<unsigned char>(17, 255),
      rc::gen::element<unsigned char>(0, 1, 1, 1, 2, 15, 16, 17, 31, 32, 33, 63,
                                      64, 65, 100, 128, 129, 255),
      rc::gen::arbitrary<unsigned char>()};
  Bytes code;
  for (int s = *rc::gen::inRange(1, 6); s > 0; --s) {
    const G& counts = shapes[*rc::gen::inRange<std::size_t>(0, shapes.size())];
    for (int i = *rc::gen::inRange(1, 90); i > 0; --i)
      code.insert(code.end(), {*counts, *rc::gen::arbitrary<unsigned char>()});
  }
  if (*rc::gen::arbitrary<bool>()) code.push_back(0x2A);
  const std::size_t full = referenceExpand(code, ~std::size_t{0}).size();
  const std::size_t outSize = *rc::gen::arbitrary<bool>()
                                  ? full
                                  : *rc::gen::inRange<std::size_t>(0, full + 40);
  RC_ASSERT(expand(code, outSize) == referenceExpand(code, outSize));
}
