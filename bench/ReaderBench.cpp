// btreeimg::ImageReader beside BtreeImg and the plain copies under them.
// Every figure is taken twice, as CPU time and as wall-clock time: on this
// kind of virtual machine fresh memory is slow to map, which shows in the
// wall clock only.
//
//  - Opening: open + read line 0 of plane 1 of a 512 MiB raw image beside
//    the same of a 16 MiB one (both 16384 bytes wide), through ImageReader
//    (which reads the header blocks only) and through BtreeImg (which reads
//    the whole file).
//  - Raw lines: every line of a 4096 x 4096 raw plane through readLine, from
//    the file (pread) and from memory, beside memcpy of the same lines.
//  - pread or a mapping: the same line loop as plain pread calls, as pread
//    of blocks of lines copied out line by line (reading ahead), as copies
//    out of a read-only mapping made once, and as a mapping made, read and
//    unmapped each time (what a reader that mapped its file at open would
//    pay per open). Only this benchmark maps: the library never does.
//  - Packed lines (encoding 1), per plane kind: readLine beside BtreeImg::at
//    on the image opened in memory (BtreePacked::lineAt).
//  - Whole-plane packed lines (encoding 2), per plane kind, read in order:
//    readLine beside BtreeImg::at once open, and both with the opening.
//
// The files live in a scratch folder under the temporary folder, removed at
// the end. Recommended run (about a minute):
//   bench_reader --benchmark_repetitions=5
//       --benchmark_enable_random_interleaving=true
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "BenchData.h"
#include "ImageFiles.h"
#include "image/BtreeImg.h"
#include "image/ImageReader.h"
#include "support/TestFiles.h"

namespace {

using bench::kPlaneBytes;
using bench::kSide;
using btreeimg::ImageReader;

constexpr double kMinTime = 0.1;  // seconds per repetition

testfiles::TempDir& scratch() {
  static testfiles::TempDir dir;
  return dir;
}

const std::vector<unsigned char>& plane(bench::Kind kind) {
  static std::vector<unsigned char> planes[3];
  std::vector<unsigned char>& p = planes[static_cast<int>(kind)];
  if (p.empty()) p = bench::makePlane(kind);
  return p;
}

bench::Kind kindOf(const benchmark::State& state) {
  return static_cast<bench::Kind>(state.range(0));
}

void kinds(benchmark::internal::Benchmark* b) {
  b->ArgName("kind")->Arg(0)->Arg(1)->Arg(2)->MinTime(kMinTime);
}

// A one-plane 4096 x 4096 image of `kind` in encoding `pack`, written once.
const std::string& imagePath(int pack, bench::Kind kind) {
  static std::string paths[3][3];
  std::string& path = paths[pack][static_cast<int>(kind)];
  if (path.empty()) {
    char name[32];
    std::snprintf(name, sizeof name, "p%d-%s.dis", pack, bench::kindName(kind));
    path = scratch().file(name);
    bench::writeImage(path, pack, kSide, kSide, 1, plane(kind));
  }
  return path;
}

std::vector<unsigned char>& lineBuffer() {
  static std::vector<unsigned char> line(kSide);
  return line;
}

void setBytes(benchmark::State& state) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(kPlaneBytes));
}

// ---- Opening: 512 MiB beside 16 MiB ------------------------------------------

constexpr int kWide = 16384;  // both images' line length

// Raw images of photo lines, two planes each (so that opening reads as many
// header blocks): `mib` 16 (16384 x 512) or 512 (16384 x 16384).
const std::string& rawImage(std::int64_t mib) {
  static std::string small, large;
  std::string& path = mib == 512 ? large : small;
  if (path.empty()) {
    path = scratch().file(mib == 512 ? "large.dis" : "small.dis");
    if (mib == 512) {
      bench::writeImage(path, 0, kWide, kWide, 2, plane(bench::Kind::kPhoto));
    } else {
      bench::writeImage(path, 0, kWide, 512, 2, plane(bench::Kind::kPhoto));
    }
  }
  return path;
}

void BM_ImageReaderOpenFirstLine(benchmark::State& state) {
  const std::string& path = rawImage(state.range(0));
  std::vector<unsigned char> line(kWide);
  for (auto _ : state) {
    ImageReader reader(path.c_str());
    reader.readLine(1, 0, line.data());
    benchmark::DoNotOptimize(line.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_ImageReaderOpenFirstLine)
    ->ArgName("mib")->Arg(16)->Arg(512)->MinTime(kMinTime);

void BM_BtreeImgOpenFirstLine(benchmark::State& state) {
  const std::string& path = rawImage(state.range(0));
  std::vector<unsigned char> line(kWide);
  for (auto _ : state) {
    BtreeImg image(path.c_str());
    image.at(0, 1, line.data());
    benchmark::DoNotOptimize(line.data());
    benchmark::ClobberMemory();
  }
}
BENCHMARK(BM_BtreeImgOpenFirstLine)
    ->ArgName("mib")->Arg(16)->Arg(512)->MinTime(kMinTime)
    ->Unit(benchmark::kMillisecond);

// ---- Raw lines ---------------------------------------------------------------

// Anchor: every line copied into one line buffer with the C library's
// memcpy, from where an opened image holds it (a malloc block, the lines
// 1312 bytes in), as in bench_lineread; the length is hidden from the
// compiler, which would otherwise expand the copy inline.
void BM_MemcpyLines(benchmark::State& state) {
  constexpr std::size_t kBlock = 1312;
  const std::vector<unsigned char>& source = plane(bench::Kind::kPhoto);
  std::unique_ptr<unsigned char, decltype(&std::free)> file(
      static_cast<unsigned char*>(std::malloc(kBlock + kPlaneBytes)),
      &std::free);
  std::memcpy(file.get() + kBlock, source.data(), kPlaneBytes);
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
BENCHMARK(BM_MemcpyLines)->MinTime(kMinTime);

void readAll(benchmark::State& state, ImageReader& reader) {
  std::vector<unsigned char>& line = lineBuffer();
  for (auto _ : state) {
    for (unsigned y = 0; y < static_cast<unsigned>(kSide); ++y) {
      reader.readLine(1, y, line.data());
      benchmark::DoNotOptimize(line.data());
      benchmark::ClobberMemory();
    }
  }
  setBytes(state);
}

void BM_ImageReaderLinesRaw(benchmark::State& state) {
  ImageReader reader(imagePath(0, bench::Kind::kPhoto).c_str());
  readAll(state, reader);
}
BENCHMARK(BM_ImageReaderLinesRaw)->MinTime(kMinTime);

std::vector<unsigned char> fileBytes(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  std::vector<unsigned char> bytes(static_cast<std::size_t>(::lseek(fd, 0, SEEK_END)));
  const ssize_t got = ::pread(fd, bytes.data(), bytes.size(), 0);
  ::close(fd);
  if (got != static_cast<ssize_t>(bytes.size())) {
    throw std::runtime_error("cannot read " + path);
  }
  return bytes;
}

void BM_ImageReaderLinesRawMemory(benchmark::State& state) {
  const std::vector<unsigned char> bytes = fileBytes(imagePath(0, bench::Kind::kPhoto));
  ImageReader reader(bytes.data(), bytes.size());
  readAll(state, reader);
}
BENCHMARK(BM_ImageReaderLinesRawMemory)->MinTime(kMinTime);

// ---- pread or a mapping ----------------------------------------------------------

constexpr off_t kLinesAt = 1312;  // a one-plane raw image's lines

void BM_PreadLines(benchmark::State& state) {
  const int fd = ::open(imagePath(0, bench::Kind::kPhoto).c_str(), O_RDONLY);
  std::vector<unsigned char>& line = lineBuffer();
  std::size_t length = kSide;
  benchmark::DoNotOptimize(length);
  for (auto _ : state) {
    for (int y = 0; y < kSide; ++y) {
      if (::pread(fd, line.data(), length, kLinesAt + off_t{kSide} * y) !=
          static_cast<ssize_t>(length)) {
        state.SkipWithError("short read");
      }
      benchmark::DoNotOptimize(line.data());
      benchmark::ClobberMemory();
    }
  }
  ::close(fd);
  setBytes(state);
}
BENCHMARK(BM_PreadLines)->MinTime(kMinTime);

// Reference: pread of `lines` lines at a time into a block buffer, each line
// then copied out of it (what a reader reading ahead would pay).
void BM_PreadBlocks(benchmark::State& state) {
  const int fd = ::open(imagePath(0, bench::Kind::kPhoto).c_str(), O_RDONLY);
  const auto lines = static_cast<int>(state.range(0));
  std::vector<unsigned char> block(std::size_t{kSide} * lines);
  std::vector<unsigned char>& line = lineBuffer();
  std::size_t length = kSide;
  benchmark::DoNotOptimize(length);
  for (auto _ : state) {
    for (int y = 0; y < kSide; y += lines) {
      if (::pread(fd, block.data(), block.size(), kLinesAt + off_t{kSide} * y) !=
          static_cast<ssize_t>(block.size())) {
        state.SkipWithError("short read");
      }
      for (int i = 0; i < lines; ++i) {
        std::memcpy(line.data(), block.data() + std::size_t{kSide} * i, length);
        benchmark::DoNotOptimize(line.data());
        benchmark::ClobberMemory();
      }
    }
  }
  ::close(fd);
  setBytes(state);
}
BENCHMARK(BM_PreadBlocks)
    ->ArgName("lines")->Arg(16)->Arg(64)->Arg(256)->MinTime(kMinTime);

// The file mapped read-only; every line copied out of the mapping.
void copyMappedLines(const unsigned char* map, std::size_t length) {
  std::vector<unsigned char>& line = lineBuffer();
  for (int y = 0; y < kSide; ++y) {
    std::memcpy(line.data(), map + kLinesAt + std::size_t{kSide} * y, length);
    benchmark::DoNotOptimize(line.data());
    benchmark::ClobberMemory();
  }
}

std::size_t mappedSize() { return kLinesAt + kPlaneBytes; }

void BM_MappedLines(benchmark::State& state) {
  const int fd = ::open(imagePath(0, bench::Kind::kPhoto).c_str(), O_RDONLY);
  void* map = ::mmap(nullptr, mappedSize(), PROT_READ, MAP_SHARED, fd, 0);
  ::close(fd);
  if (map == MAP_FAILED) {
    state.SkipWithError("mmap failed");
    return;
  }
  std::size_t length = kSide;
  benchmark::DoNotOptimize(length);
  for (auto _ : state) {
    copyMappedLines(static_cast<const unsigned char*>(map), length);
  }
  ::munmap(map, mappedSize());
  setBytes(state);
}
BENCHMARK(BM_MappedLines)->MinTime(kMinTime);

// populate:1 maps with MAP_POPULATE (every page entered at once).
void BM_MapLinesUnmap(benchmark::State& state) {
  const int fd = ::open(imagePath(0, bench::Kind::kPhoto).c_str(), O_RDONLY);
  const int flags = MAP_SHARED | (state.range(0) != 0 ? MAP_POPULATE : 0);
  std::size_t length = kSide;
  benchmark::DoNotOptimize(length);
  for (auto _ : state) {
    void* map = ::mmap(nullptr, mappedSize(), PROT_READ, flags, fd, 0);
    if (map == MAP_FAILED) {
      state.SkipWithError("mmap failed");
      break;
    }
    copyMappedLines(static_cast<const unsigned char*>(map), length);
    ::munmap(map, mappedSize());
  }
  ::close(fd);
  setBytes(state);
}
BENCHMARK(BM_MapLinesUnmap)
    ->ArgName("populate")->Arg(0)->Arg(1)->MinTime(kMinTime);

// ---- Packed lines (encoding 1) -----------------------------------------------------

void BM_BtreeImgAtPacked(benchmark::State& state) {
  BtreeImg image(imagePath(1, kindOf(state)).c_str());
  std::vector<unsigned char>& line = lineBuffer();
  for (auto _ : state) {
    for (unsigned y = 0; y < static_cast<unsigned>(kSide); ++y) {
      image.at(y, 1, line.data());
      benchmark::DoNotOptimize(line.data());
      benchmark::ClobberMemory();
    }
  }
  setBytes(state);
}
BENCHMARK(BM_BtreeImgAtPacked)->Apply(kinds);

void BM_ImageReaderLinesPacked(benchmark::State& state) {
  ImageReader reader(imagePath(1, kindOf(state)).c_str());
  readAll(state, reader);
}
BENCHMARK(BM_ImageReaderLinesPacked)->Apply(kinds);

// References: from memory (no pread), and lenient (no check of each line's
// code before it is expanded).
void BM_ImageReaderLinesPackedMemory(benchmark::State& state) {
  const std::vector<unsigned char> bytes = fileBytes(imagePath(1, kindOf(state)));
  ImageReader reader(bytes.data(), bytes.size());
  readAll(state, reader);
}
BENCHMARK(BM_ImageReaderLinesPackedMemory)->Apply(kinds);

void BM_ImageReaderLinesPackedLenient(benchmark::State& state) {
  ImageReader reader(imagePath(1, kindOf(state)).c_str(), ImageReader::lenient);
  readAll(state, reader);
}
BENCHMARK(BM_ImageReaderLinesPackedLenient)->Apply(kinds);

// ---- Whole-plane packed lines (encoding 2), in order --------------------------------

void BM_BtreeImgAtPackedSpeed(benchmark::State& state) {
  BtreeImg image(imagePath(2, kindOf(state)).c_str());
  std::vector<unsigned char>& line = lineBuffer();
  for (auto _ : state) {
    for (unsigned y = 0; y < static_cast<unsigned>(kSide); ++y) {
      image.at(y, 1, line.data());
      benchmark::DoNotOptimize(line.data());
      benchmark::ClobberMemory();
    }
  }
  setBytes(state);
}
BENCHMARK(BM_BtreeImgAtPackedSpeed)->Apply(kinds);

// The stream's places are noted on the first read, before the timing.
void BM_ImageReaderLinesPackedSpeed(benchmark::State& state) {
  ImageReader reader(imagePath(2, kindOf(state)).c_str());
  reader.readLine(1, 0, lineBuffer().data());
  readAll(state, reader);
}
BENCHMARK(BM_ImageReaderLinesPackedSpeed)->Apply(kinds);

// With the opening: BtreeImg reads the file and decodes the plane, the
// reader inspects the layout and walks the stream once on the first read.
void BM_BtreeImgOpenLinesPackedSpeed(benchmark::State& state) {
  const std::string& path = imagePath(2, kindOf(state));
  std::vector<unsigned char>& line = lineBuffer();
  for (auto _ : state) {
    BtreeImg image(path.c_str());
    for (unsigned y = 0; y < static_cast<unsigned>(kSide); ++y) {
      image.at(y, 1, line.data());
      benchmark::DoNotOptimize(line.data());
      benchmark::ClobberMemory();
    }
  }
  setBytes(state);
}
BENCHMARK(BM_BtreeImgOpenLinesPackedSpeed)->Apply(kinds);

void BM_ImageReaderOpenLinesPackedSpeed(benchmark::State& state) {
  const std::string& path = imagePath(2, kindOf(state));
  std::vector<unsigned char>& line = lineBuffer();
  for (auto _ : state) {
    ImageReader reader(path.c_str());
    for (unsigned y = 0; y < static_cast<unsigned>(kSide); ++y) {
      reader.readLine(1, y, line.data());
      benchmark::DoNotOptimize(line.data());
      benchmark::ClobberMemory();
    }
  }
  setBytes(state);
}
BENCHMARK(BM_ImageReaderOpenLinesPackedSpeed)->Apply(kinds);

}  // namespace

BENCHMARK_MAIN();
