// Image files for the benchmarks, written through the library itself.
#ifndef BTREEIMG_BENCH_IMAGEFILES_H_
#define BTREEIMG_BENCH_IMAGEFILES_H_

#include <string>
#include <vector>

#include "image/BtreeImg.h"

namespace bench {

// Writes `planes` planes of `dimy` lines of `dimx` bytes in encoding `pack`
// to `path`. Line y of every plane is the `dimx` bytes at
// source[(y * dimx) % source.size()] (source.size() a multiple of dimx).
inline void writeImage(const std::string& path, int pack, int dimx, int dimy,
                       short planes, const std::vector<unsigned char>& source) {
  BtreeImg image(path.c_str(), pack, dimx, dimy, planes);
  std::vector<unsigned char> line(static_cast<std::size_t>(dimx));
  for (short p = 1; p <= planes; ++p) {
    for (int y = 0; y < dimy; ++y) {
      const std::size_t at =
          static_cast<std::size_t>(y) * static_cast<std::size_t>(dimx) %
          source.size();
      line.assign(source.begin() + static_cast<std::ptrdiff_t>(at),
                  source.begin() + static_cast<std::ptrdiff_t>(at) + dimx);
      image.wLinea(reinterpret_cast<char*>(line.data()), y, p);
    }
  }
  image.closeImg();
}

}  // namespace bench

#endif  // BTREEIMG_BENCH_IMAGEFILES_H_
