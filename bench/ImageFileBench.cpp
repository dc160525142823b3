// Whole image files: opening, creating and writing. (Colour coverage has its
// own program, CoverageBench.cpp.)
//
//  - BM_BtreeImgOpen opens (and destroys) a 256 MiB raw image from the page
//    cache; anchor BM_ReadFile allocates a buffer, reads the file into it and
//    frees it. The counter rss_per_file is the growth of resident memory
//    while the image is open, over the file's size.
//  - BM_BtreeImgCreate creates a 4096 x 4096 x 4-plane raw image, writes it
//    line by line and closes it; anchor BM_MemcpyWriteFile copies the same
//    bytes into one buffer and writes the file in one write, saved the way
//    the library saves (temporary file, flush, rename, folder flush).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchData.h"
#include "FlushedWrite.h"
#include "ImageFiles.h"
#include "image/BtreeImg.h"
#include "support/TestFiles.h"

namespace {

using bench::kPlaneBytes;
using bench::kSide;

constexpr std::size_t kBlock = 1312;

testfiles::TempDir& scratch() {
  static testfiles::TempDir dir;
  return dir;
}

const std::vector<unsigned char>& photo() {
  static const std::vector<unsigned char> plane =
      bench::makePlane(bench::Kind::kPhoto);
  return plane;
}

// ---- Opening a 256 MiB image ------------------------------------------------

constexpr int kBigSide = 8192;  // 4 planes of 8192 x 8192: 256 MiB of lines
constexpr short kBigPlanes = 4;

const std::string& bigImage() {
  static const std::string path = [] {
    std::string p = scratch().file("big.dis");
    bench::writeImage(p, 0, kBigSide, kBigSide, kBigPlanes, photo());
    return p;
  }();
  return path;
}

std::size_t fileSize(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) throw std::runtime_error("cannot open " + path);
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fclose(f);
  return static_cast<std::size_t>(size);
}

// Anchor: a buffer of the file's size, the file read into it, freed.
void BM_ReadFile(benchmark::State& state) {
  const std::string& path = bigImage();
  for (auto _ : state) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    const off_t size = ::lseek(fd, 0, SEEK_END);
    ::lseek(fd, 0, SEEK_SET);
    auto* buffer = static_cast<unsigned char*>(std::malloc(size));
    for (off_t done = 0; done < size;) {
      const ssize_t got = ::read(fd, buffer + done, size - done);
      if (got <= 0) break;
      done += got;
    }
    ::close(fd);
    benchmark::DoNotOptimize(buffer);
    std::free(buffer);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(fileSize(path)));
}
BENCHMARK(BM_ReadFile)->Unit(benchmark::kMillisecond);

void BM_BtreeImgOpen(benchmark::State& state) {
  const std::string& path = bigImage();
  const std::size_t size = fileSize(path);
  double growth = 0;
  for (auto _ : state) {
    const std::size_t before = bench::residentBytes();
    auto* image = new BtreeImg(path.c_str());
    benchmark::DoNotOptimize(image);
    state.PauseTiming();
    growth = static_cast<double>(bench::residentBytes() - before);
    state.ResumeTiming();
    delete image;
  }
  state.counters["rss_per_file"] = growth / static_cast<double>(size);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(size));
}
BENCHMARK(BM_BtreeImgOpen)->Unit(benchmark::kMillisecond);

// ---- Creating a 4-plane raw image -----------------------------------------

constexpr short kCreatePlanes = 4;
constexpr std::size_t kCreateBytes =
    kCreatePlanes * (kBlock + kPlaneBytes);

// Anchor: the same bytes (four blocks, four planes) copied into one buffer
// and written in one write.
void BM_MemcpyWriteFile(benchmark::State& state) {
  const std::vector<unsigned char>& lines = photo();
  const std::string path = scratch().file("anchor.dis");
  const unsigned char block[kBlock] = {};
  // Run-time lengths, as the library's copies have (see BM_MemcpyLines).
  std::size_t lineLength = kSide;
  benchmark::DoNotOptimize(lineLength);
  for (auto _ : state) {
    auto* buffer = static_cast<unsigned char*>(std::malloc(kCreateBytes));
    unsigned char* out = buffer;
    for (int p = 0; p < kCreatePlanes; ++p) {
      std::memcpy(out, block, kBlock);
      out += kBlock;
      for (int y = 0; y < kSide; ++y) {
        std::memcpy(out, lines.data() + std::size_t{kSide} * y, lineLength);
        out += kSide;
      }
    }
    if (!bench::flushedWrite(path, buffer, kCreateBytes)) state.SkipWithError("write failed");
    std::free(buffer);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(kCreateBytes));
}
BENCHMARK(BM_MemcpyWriteFile)->Unit(benchmark::kMillisecond);

void BM_BtreeImgCreate(benchmark::State& state) {
  const std::vector<unsigned char>& lines = photo();
  const std::string path = scratch().file("created.dis");
  for (auto _ : state) {
    BtreeImg image(path.c_str(), 0, kSide, kSide, kCreatePlanes);
    for (short p = 1; p <= kCreatePlanes; ++p) {
      for (int y = 0; y < kSide; ++y) {
        image.wLinea(reinterpret_cast<char*>(const_cast<unsigned char*>(
                         lines.data() + std::size_t{kSide} * y)),
                     y, p);
      }
    }
    image.closeImg();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(kCreateBytes));
}
BENCHMARK(BM_BtreeImgCreate)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
