// The command-line tool's topng and diff, called in this process (the
// tool's own sources are compiled in), on a 4096 x 4096 image of four raw
// planes (design, photo, noise, design) read from the page cache.
//
//  - BM_ToolToPng runs `btreeimg topng` of all four planes side by side
//    (16384 x 4096) into a PNG; anchor BM_LibpngWriteRows has libpng write
//    the same rows, with the same palette, at the same (default)
//    compression from memory, and saves the PNG the way the tool does
//    (temporary file, flush, rename, folder flush).
//  - BM_ToolDiff compares the four planes of two equal images from the page
//    cache, opened as `btreeimg diff` opens them (tool::InputImage: an
//    ImageReader each), as it compares them (compareImages: blocks of 64
//    lines read with ImageReader::readLines, one pread each, into two
//    buffers, then memcmp); anchor BM_MemcmpPlanes compares the same 64 MiB held in two
//    buffers with one memcmp per plane.
//  - References, no goal: BM_CopyLinesMemcmp copies each line of both
//    buffers into a line buffer before comparing them (the floor of reading
//    lines through a copy); BM_PreadLinesMemcmp reads 1 or 64 lines of
//    both files at a time with a plain pread and compares them (the floor of
//    reading lines from the files); BM_ToolDiffCommand is the whole
//    command (both files opened, inspected and compared), BM_ReadFilesMemcmp
//    reads both files into buffers and compares them.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <vector>

#include "BenchData.h"
#include "CommandLine.h"
#include "Commands.h"
#include "FlushedWrite.h"
#include "ImageDiff.h"
#include "ImageReading.h"
#include "Failure.h"
#include "image/BtreeImg.h"
#include "support/TestFiles.h"

namespace {

using bench::kPlaneBytes;
using bench::kSide;

constexpr short kPlanes = 4;
constexpr bench::Kind kKinds[kPlanes] = {bench::Kind::kDesign, bench::Kind::kPhoto,
                                         bench::Kind::kNoise, bench::Kind::kDesign};

testfiles::TempDir& scratch() {
  static testfiles::TempDir dir;
  return dir;
}

// The four planes one after the other.
const std::vector<unsigned char>& planes() {
  static const std::vector<unsigned char> all = [] {
    std::vector<unsigned char> bytes;
    for (const bench::Kind kind : kKinds) {
      const std::vector<unsigned char> plane = bench::makePlane(kind);
      bytes.insert(bytes.end(), plane.begin(), plane.end());
    }
    return bytes;
  }();
  return all;
}

// Writes the four planes as a raw image.
std::string writeImage(const char* name) {
  const std::string path = scratch().file(name);
  BtreeImg image(path.c_str(), 0, kSide, kSide, kPlanes);
  for (short p = 1; p <= kPlanes; ++p) {
    for (int y = 0; y < kSide; ++y) {
      const std::size_t at = (p - 1) * kPlaneBytes + static_cast<std::size_t>(y) * kSide;
      image.wLinea(reinterpret_cast<char*>(const_cast<unsigned char*>(planes().data() + at)), y,
                   p);
    }
  }
  image.closeImg();
  return path;
}

const std::string& imageA() {
  static const std::string path = writeImage("a.dis");
  return path;
}

const std::string& imageB() {
  static const std::string path = writeImage("b.dis");
  return path;
}

// Runs the tool's command `args` (its name first) as the tool runs it, from
// its command line; returns its exit status.
int runTool(std::vector<std::string> args) {
  CLI::App app;
  tool::Runner run;
  tool::addToPng(app, run);
  tool::addDiff(app, run);
  std::reverse(args.begin(), args.end());  // CLI11 takes the words last first
  app.parse(args);
  return run();
}

// ---- topng ----------------------------------------------------------------

void BM_ToolToPng(benchmark::State& state) {
  const std::string& image = imageA();
  const std::string out = scratch().file("tool.png");
  for (auto _ : state) {
    if (runTool({"topng", image, out}) != tool::kOk) throw std::runtime_error("topng failed");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPlanes * kPlaneBytes));
}
BENCHMARK(BM_ToolToPng)->Unit(benchmark::kMillisecond);

void appendBytes(png_structp png, png_bytep data, png_size_t length) {
  auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + length);
}

void flushNothing(png_structp) {}

// libpng writes the side-by-side rows of the four planes into `out`.
bool writePngRows(std::vector<unsigned char>& out, const std::vector<png_color>& palette,
                  std::vector<unsigned char>& row) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_set_write_fn(png, &out, appendBytes, flushNothing);
  png_set_IHDR(png, info, kSide * kPlanes, kSide, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
  png_write_info(png, info);
  for (int y = 0; y < kSide; ++y) {
    for (int p = 0; p < kPlanes; ++p) {
      std::memcpy(row.data() + std::size_t{kSide} * p,
                  planes().data() + p * kPlaneBytes + static_cast<std::size_t>(y) * kSide, kSide);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return true;
}

void BM_LibpngWriteRows(benchmark::State& state) {
  // The tool's palette here: the image's colour map (all black) up to the
  // highest pixel, 255.
  const std::vector<png_color> palette(256, png_color{0, 0, 0});
  const std::string out = scratch().file("anchor.png");
  std::vector<unsigned char> row(std::size_t{kSide} * kPlanes);
  planes();
  for (auto _ : state) {
    std::vector<unsigned char> bytes;
    if (!writePngRows(bytes, palette, row) || !bench::flushedWrite(out, bytes.data(), bytes.size())) {
      throw std::runtime_error("libpng failed");
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPlanes * kPlaneBytes));
}
BENCHMARK(BM_LibpngWriteRows)->Unit(benchmark::kMillisecond);

// ---- diff -----------------------------------------------------------------

void BM_ToolDiff(benchmark::State& state) {
  tool::InputImage a(imageA(), tool::Damaged::kRefuse);
  tool::InputImage b(imageB(), tool::Damaged::kRefuse);
  for (auto _ : state) {
    const tool::ImageDiff diff = tool::compareImages(a, b, nullptr);
    if (!diff.equal()) throw std::runtime_error("the images differ");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPlanes * kPlaneBytes));
}
BENCHMARK(BM_ToolDiff)->Unit(benchmark::kMillisecond);

void BM_MemcmpPlanes(benchmark::State& state) {
  const std::vector<unsigned char> a = planes(), b = planes();
  for (auto _ : state) {
    for (int p = 0; p < kPlanes; ++p) {
      const int order = std::memcmp(a.data() + p * kPlaneBytes, b.data() + p * kPlaneBytes,
                                    kPlaneBytes);
      benchmark::DoNotOptimize(order);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPlanes * kPlaneBytes));
}
BENCHMARK(BM_MemcmpPlanes)->Unit(benchmark::kMillisecond);

// What reading lines through a copy costs: each line of both images copied
// into a line buffer, then the two buffers compared, as BtreeImg::at makes
// the diff do.
void BM_CopyLinesMemcmp(benchmark::State& state) {
  const std::vector<unsigned char> a = planes(), b = planes();
  std::vector<unsigned char> lineA(kSide), lineB(kSide);
  for (auto _ : state) {
    for (std::size_t at = 0; at < a.size(); at += kSide) {
      std::memcpy(lineA.data(), a.data() + at, kSide);
      std::memcpy(lineB.data(), b.data() + at, kSide);
      const int order = std::memcmp(lineA.data(), lineB.data(), kSide);
      benchmark::DoNotOptimize(order);
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPlanes * kPlaneBytes));
}
BENCHMARK(BM_CopyLinesMemcmp)->Unit(benchmark::kMillisecond);

// What reading lines from the files costs: `lines` lines of both images at
// a time read with one pread each into two buffers, then the two buffers
// compared (1: a line at a time; 64: the 256 KiB blocks the tool reads).
void BM_PreadLinesMemcmp(benchmark::State& state) {
  const auto lines = static_cast<std::size_t>(state.range(0));
  const int a = ::open(imageA().c_str(), O_RDONLY | O_CLOEXEC);
  const int b = ::open(imageB().c_str(), O_RDONLY | O_CLOEXEC);
  const std::size_t bytes = lines * kSide;
  std::vector<unsigned char> blockA(bytes), blockB(bytes);
  for (auto _ : state) {
    for (std::size_t p = 0; p < kPlanes; ++p) {
      // A raw plane's lines follow its header block, planes one after the
      // other.
      const off_t start = static_cast<off_t>(1312 * (p + 1) + p * kPlaneBytes);
      for (off_t at = start; at < start + static_cast<off_t>(kPlaneBytes);
           at += static_cast<off_t>(bytes)) {
        if (::pread(a, blockA.data(), bytes, at) != static_cast<ssize_t>(bytes) ||
            ::pread(b, blockB.data(), bytes, at) != static_cast<ssize_t>(bytes)) {
          throw std::runtime_error("cannot read the images");
        }
        const int order = std::memcmp(blockA.data(), blockB.data(), bytes);
        benchmark::DoNotOptimize(order);
      }
    }
  }
  ::close(a);
  ::close(b);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPlanes * kPlaneBytes));
}
BENCHMARK(BM_PreadLinesMemcmp)->ArgName("lines")->Arg(1)->Arg(64)->Unit(benchmark::kMillisecond);

// Swallows the command's report.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
};

void BM_ToolDiffCommand(benchmark::State& state) {
  const std::string& a = imageA();
  const std::string& b = imageB();
  NullBuffer null;
  std::streambuf* saved = std::cout.rdbuf(&null);
  for (auto _ : state) {
    if (runTool({"diff", a, b}) != tool::kOk) throw std::runtime_error("the images differ");
  }
  std::cout.rdbuf(saved);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPlanes * kPlaneBytes));
}
BENCHMARK(BM_ToolDiffCommand)->Unit(benchmark::kMillisecond);

std::vector<unsigned char> readFile(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) throw std::runtime_error("cannot open " + path);
  std::fseek(file, 0, SEEK_END);
  std::vector<unsigned char> bytes(static_cast<std::size_t>(std::ftell(file)));
  std::rewind(file);
  const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  if (got != bytes.size()) throw std::runtime_error("cannot read " + path);
  return bytes;
}

void BM_ReadFilesMemcmp(benchmark::State& state) {
  const std::string& a = imageA();
  const std::string& b = imageB();
  for (auto _ : state) {
    const std::vector<unsigned char> first = readFile(a), second = readFile(b);
    const bool same = first.size() == second.size() &&
                      std::memcmp(first.data(), second.data(), first.size()) == 0;
    if (!same) throw std::runtime_error("the images differ");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kPlanes * kPlaneBytes));
}
BENCHMARK(BM_ReadFilesMemcmp)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
