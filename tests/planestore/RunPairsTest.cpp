#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <cstddef>
#include <vector>

#include "planestore/RunPairs.h"

namespace {

using Bytes = std::vector<unsigned char>;
using btreeimg::detail::codedSize;
using btreeimg::detail::encodeRuns;
using btreeimg::detail::expandRuns;
using btreeimg::detail::maxCodedSize;

constexpr std::size_t kGuard = 48;
constexpr unsigned char kGuardByte = 0xEE;

// The code as the format defines it, one byte at a time.
Bytes referenceEncode(const Bytes& in) {
  Bytes out;
  std::size_t j = 0;
  while (j < in.size()) {
    const unsigned char value = in[j];
    std::size_t count = 1;
    while (j + count < in.size() && in[j + count] == value && count < 255) {
      ++count;
    }
    out.push_back(static_cast<unsigned char>(count));
    out.push_back(value);
    j += count;
  }
  return out;
}

// Encodes into a buffer with a guard area behind the returned length and
// checks that the guard stays untouched.
Bytes encode(const Bytes& in) {
  Bytes out(maxCodedSize(in.size()) + kGuard, kGuardByte);
  const std::size_t n = encodeRuns(in.data(), in.size(), out.data());
  EXPECT_EQ(n, codedSize(in.data(), in.size()));
  for (std::size_t i = n; i < out.size(); ++i) {
    if (out[i] != kGuardByte) {
      ADD_FAILURE() << "encoder wrote byte " << i << " past its code of " << n;
      break;
    }
  }
  out.resize(n);
  return out;
}

// Expands `code` into `outSize` bytes preset to kGuardByte, followed by a
// guard area; returns the count written and leaves the bytes in `out`.
std::size_t expand(const Bytes& code, std::size_t outSize, Bytes& out) {
  out.assign(outSize + kGuard, kGuardByte);
  // An exact-size copy of the input, so that the sanitizers see an over-read.
  const std::vector<unsigned char> input(code);
  const std::size_t n = expandRuns(input.data(), input.data() + input.size(),
                                   out.data(), outSize);
  for (std::size_t i = outSize; i < out.size(); ++i) {
    if (out[i] != kGuardByte) {
      ADD_FAILURE() << "decoder wrote byte " << i << " past " << outSize;
      break;
    }
  }
  return n;
}

Bytes repeat(std::size_t n, unsigned char v) { return Bytes(n, v); }

}  // namespace

TEST(RunPairs, CodesTheWorkedExampleLines) {
  EXPECT_EQ(encode({5, 5, 5, 7, 7, 0, 0, 0}), (Bytes{3, 5, 2, 7, 3, 0}));
  EXPECT_EQ(encode(repeat(8, 9)), (Bytes{8, 9}));
}

TEST(RunPairs, SplitsLongRunsAt255FullRunsFirst) {
  EXPECT_EQ(encode(repeat(255, 0x41)), (Bytes{0xFF, 0x41}));
  EXPECT_EQ(encode(repeat(256, 0x41)), (Bytes{0xFF, 0x41, 0x01, 0x41}));
  EXPECT_EQ(encode(repeat(300, 0x41)), (Bytes{0xFF, 0x41, 0x2D, 0x41}));
  EXPECT_EQ(encode(repeat(510, 0)), (Bytes{0xFF, 0, 0xFF, 0}));
}

TEST(RunPairs, CodesBytesThatAllDifferAsCountOnePairs) {
  for (std::size_t n : {1u, 15u, 16u, 17u, 33u, 100u}) {
    Bytes line(n);
    for (std::size_t i = 0; i < n; ++i) line[i] = static_cast<unsigned char>(i);
    const Bytes code = encode(line);
    ASSERT_EQ(code.size(), 2 * n);
    for (std::size_t i = 0; i < n; ++i) {
      EXPECT_EQ(code[2 * i], 1);
      EXPECT_EQ(code[2 * i + 1], line[i]);
    }
  }
}

TEST(RunPairs, RunStopsAtTheEndOfTheCodedBytes) {
  // The bytes after the stretch hold the same value as its last byte.
  const Bytes memory = {1, 2, 2, 2, 2, 2, 2, 2};
  Bytes out(8, kGuardByte);
  const std::size_t n = encodeRuns(memory.data(), 4, out.data());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + n), (Bytes{1, 1, 3, 2}));
}

TEST(RunPairs, EmptyInputCodesToNothing) {
  EXPECT_TRUE(encode({}).empty());
  Bytes out;
  EXPECT_EQ(expand({}, 8, out), 0u);
  EXPECT_EQ(out[0], kGuardByte);
}

TEST(RunPairs, ExpandsTheWorkedExample) {
  Bytes out;
  ASSERT_EQ(expand({3, 5, 2, 7, 3, 0}, 8, out), 8u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 8),
            (Bytes{5, 5, 5, 7, 7, 0, 0, 0}));
}

TEST(RunPairs, NeverWritesPastTheLineBuffer) {
  Bytes out;
  // One run longer than the output, and many short runs past its end.
  EXPECT_EQ(expand({200, 3}, 10, out), 10u);
  EXPECT_EQ(out[9], 3);
  Bytes many;
  for (int i = 0; i < 64; ++i) many.insert(many.end(), {1, 7, 5, 9, 20, 4});
  EXPECT_EQ(expand(many, 37, out), 37u);
  EXPECT_EQ(expand(many, 0, out), 0u);
}

TEST(RunPairs, LeavesTheRestOfTheOutputWhenTheCodeRunsOut) {
  Bytes out;
  EXPECT_EQ(expand({2, 4, 3, 6}, 20, out), 5u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 5), (Bytes{4, 4, 6, 6, 6}));
  EXPECT_EQ(out[5], kGuardByte);
  EXPECT_EQ(out[19], kGuardByte);
}

TEST(RunPairs, SkipsCountZeroPairsAndALoneLastByte) {
  Bytes out;
  EXPECT_EQ(expand({0, 9, 2, 4, 0, 0, 1, 5, 3}, 20, out), 3u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), (Bytes{4, 4, 5}));
  EXPECT_EQ(out[3], kGuardByte);
  // A long stream of count-0 pairs ends.
  EXPECT_EQ(expand(Bytes(100000, 0), 20, out), 0u);
}

TEST(RunPairs, CountOneStretchesBrokenByLongerRunsExpandInOrder) {
  // Long stretches of count-1 pairs with an occasional longer run: the bulk
  // path must hand over to the run at the right pair.
  Bytes line;
  for (int i = 0; i < 1000; ++i) {
    line.push_back(static_cast<unsigned char>(i * 7 + 1));
    if (i % 37 == 36) line.insert(line.end(), 5, 0x55);
  }
  Bytes out;
  ASSERT_EQ(expand(encode(line), line.size(), out), line.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + line.size()), line);
  // Cut the output inside a count-1 stretch.
  ASSERT_EQ(expand(encode(line), 101, out), 101u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 101),
            Bytes(line.begin(), line.begin() + 101));
}

RC_GTEST_PROP(RunPairs, EncoderAgreesWithTheDefinition, (const Bytes& line)) {
  RC_ASSERT(encode(line) == referenceEncode(line));
}

RC_GTEST_PROP(
    RunPairs, RunsOfAnyLengthAgreeWithTheDefinition,
    (const std::vector<std::pair<unsigned char, unsigned short>>& runs)) {
  Bytes line;
  for (const auto& [value, length] : runs) {
    line.insert(line.end(), length % 700, value);
  }
  RC_ASSERT(encode(line) == referenceEncode(line));
}

RC_GTEST_PROP(RunPairs, ExpandingTheCodeGivesTheBytesBack,
              (const Bytes& line)) {
  Bytes out;
  RC_ASSERT(expand(encode(line), line.size(), out) == line.size());
  RC_ASSERT(Bytes(out.begin(), out.begin() + line.size()) == line);
}

RC_GTEST_PROP(RunPairs, AnyCodeExpandsAsTheClippedRunsSay,
              (const Bytes& code)) {
  const auto outSize = *rc::gen::inRange<std::size_t>(0, 600);
  Bytes expected;
  for (std::size_t i = 0; i + 1 < code.size(); i += 2) {
    expected.insert(expected.end(), code[i], code[i + 1]);
  }
  if (expected.size() > outSize) expected.resize(outSize);
  Bytes out;
  RC_ASSERT(expand(code, outSize, out) == expected.size());
  RC_ASSERT(Bytes(out.begin(), out.begin() + expected.size()) == expected);
  RC_ASSERT(std::all_of(out.begin() + expected.size(), out.end(),
                        [](unsigned char b) { return b == kGuardByte; }));
}

RC_GTEST_PROP(RunPairs, CodesMixingEveryRunShapeExpandAsTheRunsSay, ()) {
  // Counts around the decoder's chunk sizes, count-1 stretches long enough
  // for the bulk paths, and count-0 pairs that cover nothing: no byte stored
  // past the runs may survive, wherever the code or the output ends.
  const auto counts = rc::gen::element<unsigned char>(
      0, 1, 1, 1, 2, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100, 128, 129, 255);
  const auto pairs =
      *rc::gen::container<std::vector<std::pair<unsigned char, unsigned char>>>(
          rc::gen::pair(counts, rc::gen::arbitrary<unsigned char>()));
  Bytes code;
  Bytes expected;
  for (const auto& [count, value] : pairs) {
    code.push_back(count);
    code.push_back(value);
    expected.insert(expected.end(), count, value);
  }
  const auto outSize = *rc::gen::inRange<std::size_t>(0, expected.size() + 40);
  if (expected.size() > outSize) expected.resize(outSize);
  Bytes out;
  RC_ASSERT(expand(code, outSize, out) == expected.size());
  RC_ASSERT(Bytes(out.begin(), out.begin() + expected.size()) == expected);
  RC_ASSERT(std::all_of(out.begin() + expected.size(), out.end(),
                        [](unsigned char b) { return b == kGuardByte; }));
}

TEST(RunPairs, ShortRunFollowedByEmptyPairsLeavesTheRestUntouched) {
  // A short run whose chunk would reach past it, then count-0 pairs only.
  Bytes code = {3, 7};
  for (int i = 0; i < 40; ++i) code.insert(code.end(), {0, 9});
  Bytes out;
  EXPECT_EQ(expand(code, 100, out), 3u);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 4), (Bytes{7, 7, 7, kGuardByte}));
  // Count-1 pairs mixed with count-0 pairs in one block of sixteen.
  code.clear();
  for (int i = 0; i < 10; ++i) code.insert(code.end(), {1, 5});
  for (int i = 0; i < 10; ++i) code.insert(code.end(), {0, 6});
  EXPECT_EQ(expand(code, 100, out), 10u);
  EXPECT_EQ(out[10], kGuardByte);
}

TEST(RunPairs, NoiseWithRareRepeatsRoundTrips) {
  // Pseudo-random bytes exercise both bulk paths over long stretches.
  Bytes line(100003);
  unsigned state = 12345;
  for (auto& b : line) {
    state = state * 1103515245u + 12345u;
    b = static_cast<unsigned char>(state >> 16);
  }
  const Bytes code = encode(line);
  EXPECT_EQ(code, referenceEncode(line));
  Bytes out;
  ASSERT_EQ(expand(code, line.size(), out), line.size());
  EXPECT_TRUE(std::equal(line.begin(), line.end(), out.begin()));
}
