// Line reads of a 4096 x 4096 plane through BtreeImg::at, raw and whole-plane
// packed, beside their anchor: memcpy of the same lines into one line
// buffer. Each benchmark reads every line of the plane once per iteration.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "BenchData.h"
#include "ImageFiles.h"
#include "image/BtreeImg.h"

namespace {

using bench::kPlaneBytes;
using bench::kSide;

struct Files {
  bench::ScratchDir dir;
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

// Anchor: every line of the plane copied into one line buffer.
void BM_MemcpyLines(benchmark::State& state) {
  const std::vector<unsigned char>& plane = files().plane;
  std::vector<unsigned char> line(kSide);
  for (auto _ : state) {
    for (int y = 0; y < kSide; ++y) {
      std::memcpy(line.data(), plane.data() + std::size_t{kSide} * y, kSide);
      benchmark::DoNotOptimize(line.data());
      benchmark::ClobberMemory();
    }
  }
  setBytes(state);
}
BENCHMARK(BM_MemcpyLines);

// at(line, plane, destination): into the caller's buffer.
void readInto(benchmark::State& state, const std::string& path) {
  BtreeImg image(path.c_str());
  std::vector<unsigned char> line(kSide);
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
