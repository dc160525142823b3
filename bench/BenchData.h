// Shared pieces of the benchmark programs: the deterministic test planes and
// a look at the process's resident memory.
//
// Every plane is generated from a fixed seed by a small generator written
// out here (not std::mt19937 + a distribution, whose output may differ from
// one standard library to the next), so every run on every machine measures
// the same bytes.
#ifndef BTREEIMG_BENCH_BENCHDATA_H_
#define BTREEIMG_BENCH_BENCHDATA_H_

#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace bench {

constexpr int kSide = 4096;  // the test planes are kSide x kSide bytes
constexpr std::size_t kPlaneBytes = std::size_t{kSide} * kSide;

// splitmix64: a tiny, fully specified generator.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n) (n small: the modulo bias is irrelevant here).
  std::uint32_t below(std::uint32_t n) {
    return static_cast<std::uint32_t>(next() % n);
  }

 private:
  std::uint64_t state_;
};

// The three kinds of plane the image store meets.
enum class Kind { kDesign, kPhoto, kNoise };

inline const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::kDesign:
      return "design";
    case Kind::kPhoto:
      return "photo";
    default:
      return "noise";
  }
}

// A kSide x kSide plane, row-major, line y at y * kSide.
//   design: a few colours (6) in horizontal runs of 10 to 500 pixels;
//   photo:  smooth diagonal gradients with mild noise (one pixel in four is
//           nudged by one level);
//   noise:  uniform random bytes.
inline std::vector<unsigned char> makePlane(Kind kind) {
  std::vector<unsigned char> plane(kPlaneBytes);
  switch (kind) {
    case Kind::kDesign: {
      Rng rng(0xD35164);
      static const unsigned char kPalette[] = {0, 255, 17, 96, 160, 214};
      unsigned colour = 0;
      for (std::size_t x = 0; x < plane.size();) {
        colour = (colour + 1 + rng.below(5)) % 6;  // never the same twice
        std::size_t run = 10 + rng.below(491);
        run = std::min(run, plane.size() - x);
        std::fill_n(plane.begin() + static_cast<std::ptrdiff_t>(x), run,
                    kPalette[colour]);
        x += run;
      }
      break;
    }
    case Kind::kPhoto: {
      Rng rng(0xF0701);
      for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
          // Two triangle waves: a slope of one level per ~11 pixels across
          // and a slower one down the plane.
          const int t = (3 * x + 2 * y) / 32 + (x * y) / (kSide * 48);
          int v = t % 512 < 256 ? t % 512 : 511 - t % 512;
          const std::uint32_t r = rng.below(8);
          if (r == 0 && v < 255) ++v;
          if (r == 1 && v > 0) --v;
          plane[static_cast<std::size_t>(y) * kSide + x] =
              static_cast<unsigned char>(v);
        }
      }
      break;
    }
    case Kind::kNoise: {
      Rng rng(0x4015E);
      for (std::size_t i = 0; i < plane.size(); i += 8) {
        const std::uint64_t r = rng.next();
        for (int k = 0; k < 8; ++k) {
          plane[i + k] = static_cast<unsigned char>(r >> (8 * k));
        }
      }
      break;
    }
  }
  return plane;
}

// The process's resident memory in bytes (Linux: /proc/self/statm).
inline std::size_t residentBytes() {
  std::FILE* f = std::fopen("/proc/self/statm", "r");
  if (f == nullptr) return 0;
  unsigned long pages = 0, resident = 0;
  const int got = std::fscanf(f, "%lu %lu", &pages, &resident);
  std::fclose(f);
  if (got != 2) return 0;
  return resident * static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

}  // namespace bench

#endif  // BTREEIMG_BENCH_BENCHDATA_H_
