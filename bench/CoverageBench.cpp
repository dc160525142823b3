// Colour coverage of 4096 x 4096 planes with rule files of 1, 8, 32 and 64
// rules, beside two anchors. The planes (argument "plane"):
//  0: "design", six colours in runs of 10 to 500 pixels;
//  1: "short runs", the same six colours in runs of 1 to 32 pixels;
//  2: "noise", uniform random bytes.
// The anchors:
//  - BM_MemcpyPlane copies the plane;
//  - BM_MemcpyReplaceFile copies the plane into the bytes of a one-plane
//    image and saves them the way the library saves a file (a temporary
//    file created exclusively beside the target, written, flushed, renamed
//    over the target, the folder flushed): the floor of a coverage run,
//    which reads the plane and saves its result.
// BM_BtreeImgCoverage/plane:P/rules:N runs CoperturaU8 with N rules from the
// image file into another file; every rule list changes pixels, so every run
// saves its result. The rules' cover and test colours are colours of the plane,
// and some rules take the substitutes of earlier ones as cover colours.
// BM_CoverageRulesPlane/plane:P/rules:N (no goal) rewrites the plane in memory,
// line by line, with the same rules: the rule engine alone.
// BM_CoverageRulesMethod/method:M/plane:P/rules:N (no goal) does the same
// with each method forced (0 table, 1 compare16, 2 runs16, 3 compare32,
// 4 runs32, 5 classes32, 6 classes64): every vector width, whatever kAuto would
// pick on this processor.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "BenchData.h"
#include "FlushedWrite.h"
#include "ImageFiles.h"
#include "image/BtreeImg.h"
#include "image/CoverageRules.h"
#include "support/TestFiles.h"

namespace {

using bench::kPlaneBytes;
using bench::kSide;

constexpr std::size_t kBlock = 1312;

testfiles::TempDir& scratch() {
  static testfiles::TempDir dir;
  return dir;
}

// Six colours in runs of `shortest` to `longest` pixels.
std::vector<unsigned char> runsOf(std::uint32_t shortest,
                                  std::uint32_t longest) {
  bench::Rng rng(0x5C0127);
  static const unsigned char kPalette[] = {0, 255, 17, 96, 160, 214};
  std::vector<unsigned char> plane(kPlaneBytes);
  unsigned colour = 0;
  for (std::size_t x = 0; x < plane.size();) {
    colour = (colour + 1 + rng.below(5)) % 6;  // never the same twice
    const std::size_t run = std::min<std::size_t>(
        shortest + rng.below(longest - shortest + 1), plane.size() - x);
    std::fill_n(plane.begin() + static_cast<std::ptrdiff_t>(x), run,
                kPalette[colour]);
    x += run;
  }
  return plane;
}

const std::vector<unsigned char>& plane(std::int64_t which) {
  static const std::vector<unsigned char> planes[3] = {
      bench::makePlane(bench::Kind::kDesign), runsOf(1, 32),
      bench::makePlane(bench::Kind::kNoise)};
  return planes[which];
}

const std::vector<unsigned char>& design() { return plane(0); }

const std::string& imageFile(std::int64_t which) {
  static const std::string paths[3] = {scratch().file("design.dis"),
                                       scratch().file("short.dis"),
                                       scratch().file("noise.dis")};
  static bool written[3] = {};
  if (!written[which]) {
    bench::writeImage(paths[which], 0, kSide, kSide, 1, plane(which));
    written[which] = true;
  }
  return paths[which];
}

// `count` rules (cover, test, substitute). The first eight chain (17 above
// 96 becomes 50, which then becomes 6 above 0, ...); the others take cover
// and test colours from the plane's six and mostly substitute another of
// them, so that later rules act on what earlier ones wrote. The first rule
// always changes pixels.
std::vector<std::array<int, 3>> rules(int count) {
  static const int kFirst[8][3] = {{17, 96, 50}, {0, 17, 1},   {-1, 0, 2},
                                   {96, -42, 3}, {-96, 17, 4}, {-42, -1, 5},
                                   {50, 0, 6},   {1, 96, 7}};
  static const int kColours[6] = {0, -1, 17, 96, -96, -42};  // signed bytes
  bench::Rng rng(0xC0105);
  std::vector<std::array<int, 3>> out;
  for (int i = 0; i < count; ++i) {
    if (i < 8) {
      out.push_back({kFirst[i][0], kFirst[i][1], kFirst[i][2]});
      continue;
    }
    const int cover = kColours[rng.below(6)];
    const int test = kColours[rng.below(6)];
    const int subst = rng.below(3) == 0 ? static_cast<int>(rng.below(8)) + 1
                                        : kColours[rng.below(6)];
    out.push_back({cover, test, subst});
  }
  return out;
}

std::string ruleFile(int count) {
  const std::string path = scratch().file("rules" + std::to_string(count));
  std::FILE* f = std::fopen(path.c_str(), "wb");
  for (const auto& [cover, test, subst] : rules(count)) {
    std::fprintf(f, "COLCOPER %d\r\nCOLTEST %d\r\nCOLSOST %d\r\n", cover, test,
                 subst);
  }
  std::fclose(f);
  return path;
}

// Anchor: the plane copied into another plane buffer.
void BM_MemcpyPlane(benchmark::State& state) {
  const std::vector<unsigned char>& source = design();
  std::vector<unsigned char> copy(kPlaneBytes);
  for (auto _ : state) {
    std::memcpy(copy.data(), source.data(), kPlaneBytes);
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(kPlaneBytes));
}
BENCHMARK(BM_MemcpyPlane)->Unit(benchmark::kMillisecond);

// Anchor: the floor of a coverage run. The plane copied into the bytes of a
// one-plane image, which are saved as the library saves a file.
void BM_MemcpyReplaceFile(benchmark::State& state) {
  const std::vector<unsigned char>& source = design();
  std::vector<unsigned char> image(kBlock + kPlaneBytes);
  const std::string path = scratch().file("anchor.dis");
  for (auto _ : state) {
    std::memcpy(image.data() + kBlock, source.data(), kPlaneBytes);
    benchmark::ClobberMemory();
    if (!bench::flushedWrite(path, image.data(), image.size())) {
      state.SkipWithError("write failed");
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(kPlaneBytes));
}
BENCHMARK(BM_MemcpyReplaceFile)->Unit(benchmark::kMillisecond);

void BM_BtreeImgCoverage(benchmark::State& state) {
  BtreeImg image(imageFile(state.range(0)).c_str());
  const CString ruleName(ruleFile(static_cast<int>(state.range(1))).c_str());
  const CString output(scratch().file("covered.dis").c_str());
  for (auto _ : state) {
    if (image.CoperturaU8(ruleName, output) != 1) {
      state.SkipWithError("coverage failed");
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(kPlaneBytes));
}
BENCHMARK(BM_BtreeImgCoverage)
    ->ArgNames({"plane", "rules"})
    ->ArgsProduct({{0}, {1, 8, 32, 64}})
    ->ArgsProduct({{1, 2}, {1, 32}})
    ->Unit(benchmark::kMillisecond);

// Reference (no goal): the rule engine alone. Each line copied into a
// working line and rewritten against the next line of the plane (the last
// against the first), as a coverage run does, without the files.
void BM_CoverageRulesPlane(benchmark::State& state) {
  const std::vector<unsigned char>& source = plane(state.range(0));
  std::vector<btreeimg::detail::ColourRule> list;
  for (const auto& [cover, test, subst] :
       rules(static_cast<int>(state.range(1)))) {
    list.push_back({cover, test, subst});
  }
  const btreeimg::detail::CoverageRules compiled(list);
  std::vector<unsigned char> out(kPlaneBytes);
  std::size_t lineLength = kSide;  // run-time lengths, as the library's copies
  benchmark::DoNotOptimize(lineLength);
  for (auto _ : state) {
    int changed = 0;
    for (std::size_t y = 0; y < static_cast<std::size_t>(kSide); ++y) {
      unsigned char* line = out.data() + y * kSide;
      std::memcpy(line, source.data() + y * kSide, lineLength);
      const std::size_t below = (y + 1) % static_cast<std::size_t>(kSide);
      compiled.apply(line, source.data() + below * kSide, lineLength, &changed);
    }
    benchmark::DoNotOptimize(changed);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(kPlaneBytes));
}
BENCHMARK(BM_CoverageRulesPlane)
    ->ArgNames({"plane", "rules"})
    ->ArgsProduct({{0}, {1, 8, 32, 64}})
    ->ArgsProduct({{1, 2}, {1, 32}})
    ->Unit(benchmark::kMillisecond);

// Reference (no goal): the engine with one method forced, over the same
// plane and rules.
void BM_CoverageRulesMethod(benchmark::State& state) {
  using Method = btreeimg::detail::CoverageRules::Method;
  static const Method kMethods[] = {Method::kTable,    Method::kCompare16,
                                    Method::kRuns16,   Method::kCompare32,
                                    Method::kRuns32,   Method::kClasses32,
                                    Method::kClasses64};
  const Method method = kMethods[state.range(0)];
  const std::vector<unsigned char>& source = plane(state.range(1));
  std::vector<btreeimg::detail::ColourRule> list;
  for (const auto& [cover, test, subst] :
       rules(static_cast<int>(state.range(2)))) {
    list.push_back({cover, test, subst});
  }
  const btreeimg::detail::CoverageRules compiled(list);
  std::vector<unsigned char> out(kPlaneBytes);
  std::size_t lineLength = kSide;
  benchmark::DoNotOptimize(lineLength);
  for (auto _ : state) {
    int changed = 0;
    for (std::size_t y = 0; y < static_cast<std::size_t>(kSide); ++y) {
      unsigned char* line = out.data() + y * kSide;
      std::memcpy(line, source.data() + y * kSide, lineLength);
      const std::size_t below = (y + 1) % static_cast<std::size_t>(kSide);
      compiled.apply(line, source.data() + below * kSide, lineLength, &changed,
                     method);
    }
    benchmark::DoNotOptimize(changed);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(kPlaneBytes));
}
BENCHMARK(BM_CoverageRulesMethod)
    ->ArgNames({"method", "plane", "rules"})
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6}, {0, 1, 2}, {32}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
