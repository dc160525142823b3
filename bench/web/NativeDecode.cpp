// The native side of the browser module's decode benchmark (bench/web/run.mjs).
//
//   native_decode make DIR        writes DIR/<kind>.dis for the kinds design,
//                                 photo and noise: one 4096 x 4096 plane
//                                 each, packed line by line (pack 1)
//   native_decode time FILE REPS  decodes every line of plane 1 of FILE
//                                 REPS times into one plane buffer, as the
//                                 module's indices() does, and prints the
//                                 time of each run in milliseconds
//   native_decode touch REPS      maps 16 MiB of new memory and writes it,
//                                 REPS times, and prints the time of each
//                                 (what a new plane-sized array costs the
//                                 machine before anything is decoded into it)
//
// The planes come from bench/BenchData.h, the library's own benchmark data.
#include <sys/mman.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "../BenchData.h"
#include "framework/Framework.h"
#include "image/BtreeImg.h"

namespace {

int make(const std::string& folder) {
  for (const bench::Kind kind : {bench::Kind::kDesign, bench::Kind::kPhoto, bench::Kind::kNoise}) {
    const std::vector<unsigned char> plane = bench::makePlane(kind);
    const std::string name = folder + "/" + bench::kindName(kind) + ".dis";
    BtreeImg image(name.c_str(), 1, bench::kSide, bench::kSide, 1);
    for (int y = 0; y < bench::kSide; ++y) {
      auto* line = reinterpret_cast<char*>(const_cast<unsigned char*>(plane.data())) +
                   static_cast<std::size_t>(y) * bench::kSide;
      if (image.wLinea(line, y, 1) != 1) {
        std::fprintf(stderr, "%s: line %d refused\n", name.c_str(), y);
        return 1;
      }
    }
    image.closeImg();
  }
  return 0;
}

int time(const std::string& file, int repetitions) {
  BtreeImg image(file.c_str());
  const unsigned width = image.dimx(1), height = image.dimy(1);
  std::vector<unsigned char> plane(static_cast<std::size_t>(width) * height);
  unsigned checksum = 0;
  for (int r = 0; r < repetitions; ++r) {
    const auto start = std::chrono::steady_clock::now();
    for (unsigned y = 0; y < height; ++y) image.at(y, 1, plane.data() + std::size_t{y} * width);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    checksum += plane[plane.size() / 2];
    std::printf("%.4f\n", took.count());
  }
  return checksum == 0xFFFFFFFF;  // keeps the decode from being optimised away
}

int touch(int repetitions) {
  constexpr std::size_t kBytes = std::size_t{16} << 20;
  for (int r = 0; r < repetitions; ++r) {
    const auto start = std::chrono::steady_clock::now();
    void* memory = ::mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED) return 1;
    std::memset(memory, r + 1, kBytes);
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    ::munmap(memory, kBytes);
    std::printf("%.4f\n", took.count());
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    if (argc == 3 && std::string(argv[1]) == "make") return make(argv[2]);
    if (argc == 4 && std::string(argv[1]) == "time") return time(argv[2], std::atoi(argv[3]));
    if (argc == 3 && std::string(argv[1]) == "touch") return touch(std::atoi(argv[2]));
  } catch (CException* e) {
    char text[256];
    e->GetErrorMessage(text, sizeof text);
    e->Delete();
    std::fprintf(stderr, "native_decode: %s\n", text);
    return 2;
  }
  std::fprintf(stderr, "usage: native_decode make DIR | time FILE REPS | touch REPS\n");
  return 4;
}
