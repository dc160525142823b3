// Line reads of a 4096 x 4096 plane through BtreeImg::at, raw and whole-plane
// packed, beside their anchor: memcpy of the same lines into one line
// buffer. Each benchmark reads every line of the plane once per iteration.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchData.h"
#include "ImageFiles.h"
#include "image/BtreeImg.h"
#include "support/TestFiles.h"

namespace {

using bench::kPlaneBytes;
using bench::kSide;

struct Files {
  testfiles::TempDir dir;
  std::vector<unsigned char> plane = bench::makePlane(bench::Kind::kPhoto);
  std::string raw = dir.file("raw.dis");
  std::string speed = dir.file("speed.dis");
  Files() {
    bench::writeImage(raw, 0, kSide, kSide, 1, plane);
    bench::writeImage(speed, 2, kSide, kSide, 1, plane);
  }
};

Files& files() {
  static Files f;
  return f;
}

void setBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(kPlaneBytes));
}

// The destination of the anchor and of the reads into a caller's buffer.
std::vector<unsigned char>& lineBuffer() {
  static std::vector<unsigned char> line(kSide);
  return line;
}

// Anchor: every line of the plane copied into one line buffer with the C
// library's memcpy, from where an opened image holds it: a block of the
// file's size from malloc, the lines 1312 bytes (the header block) in. The
// C library picks its copy loop by the addresses' alignment, which this
// keeps the same for both. (The line length is hidden from the compiler,
// which would otherwise expand a copy of a known 4096 bytes inline: the
// library's copies have run-time lengths and call memcpy.)
void BM_MemcpyLines(benchmark::State& state) {
  constexpr std::size_t kBlock = 1312;
  const std::vector<unsigned char>& plane = files().plane;
  std::unique_ptr<unsigned char, decltype(&std::free)> file(
      static_cast<unsigned char*>(std::malloc(kBlock + kPlaneBytes)),
      &std::free);
  std::memcpy(file.get() + kBlock, plane.data(), kPlaneBytes);
  const unsigned char* lines = file.get() + kBlock;
  std::vector<unsigned char>& line = lineBuffer();
  std::size_t length = kSide;
  benchmark::DoNotOptimize(length);
  for (auto _ : state) {
    for (int y = 0; y < kSide; ++y) {
      std::memcpy(line.data(), lines + std::size_t{kSide} * y, length);
      benchmark::DoNotOptimize(line.data());
      benchmark::ClobberMemory();
    }
  }
  setBytes(state);
}
BENCHMARK(BM_MemcpyLines);

// Reference (no goal): the same copies from a plane kept bottom-up, line 0
// last, as a whole-plane packed plane keeps its decoded lines: reading lines
// 0, 1, 2, ... then walks down through memory, 4 KiB at a time.
void BM_MemcpyLinesBottomUp(benchmark::State& state) {
  const std::vector<unsigned char>& plane = files().plane;
  std::vector<unsigned char> bottomUp(kPlaneBytes);
  for (int y = 0; y < kSide; ++y) {
    std::memcpy(bottomUp.data() + std::size_t{kSide} * (kSide - 1 - y),
                plane.data() + std::size_t{kSide} * y, kSide);
  }
  std::vector<unsigned char>& line = lineBuffer();
  std::size_t length = kSide;
  benchmark::DoNotOptimize(length);
  for (auto _ : state) {
    for (int y = 0; y < kSide; ++y) {
      std::memcpy(line.data(),
                  bottomUp.data() + std::size_t{kSide} * (kSide - 1 - y),
                  length);
      benchmark::DoNotOptimize(line.data());
      benchmark::ClobberMemory();
    }
  }
  setBytes(state);
}
BENCHMARK(BM_MemcpyLinesBottomUp);

// at(line, plane, destination): into the caller's buffer.
void readInto(benchmark::State& state, const std::string& path) {
  BtreeImg image(path.c_str());
  std::vector<unsigned char>& line = lineBuffer();
  for (auto _ : state) {
    for (int y = 0; y < kSide; ++y) {
      image.at(static_cast<unsigned>(y), 1, line.data());
      benchmark::DoNotOptimize(line.data());
      benchmark::ClobberMemory();
    }
  }
  setBytes(state);
}

// at(line, plane): the plane's own line buffer.
void readBufferForm(benchmark::State& state, const std::string& path) {
  BtreeImg image(path.c_str());
  for (auto _ : state) {
    for (int y = 0; y < kSide; ++y) {
      Mem* buffer = image.at(static_cast<unsigned>(y), 1);
      benchmark::DoNotOptimize(buffer->pointer());
      benchmark::ClobberMemory();
    }
  }
  setBytes(state);
}

void BM_BtreeImgAtRaw(benchmark::State& state) {
  readInto(state, files().raw);
}
BENCHMARK(BM_BtreeImgAtRaw);

void BM_BtreeImgAtRawBuffer(benchmark::State& state) {
  readBufferForm(state, files().raw);
}
BENCHMARK(BM_BtreeImgAtRawBuffer);

void BM_BtreeImgAtPackedSpeed(benchmark::State& state) {
  readInto(state, files().speed);
}
BENCHMARK(BM_BtreeImgAtPackedSpeed);

void BM_BtreeImgAtPackedSpeedBuffer(benchmark::State& state) {
  readBufferForm(state, files().speed);
}
BENCHMARK(BM_BtreeImgAtPackedSpeedBuffer);

}  // namespace

BENCHMARK_MAIN();
