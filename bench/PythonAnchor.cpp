// The C++ side of bench/python_bench.py: the create-write-close of an image
// from planes in memory, done straight through BtreeImg, called through
// ctypes from the same Python process that times btreeimg.write.
#include <cstddef>

#include "framework/Exceptions.h"
#include "image/BtreeImg.h"

// Writes `count` planes of `height` lines of `width` bytes (plane k's line y
// at planes[k] + y * width) as the new image `path` in encoding `pack`, with
// a grey-ramp colour map. Returns 1 when written, 0 on any failure.
extern "C" __attribute__((visibility("default"))) int
btreeimg_bench_create_write_close(const char* path,
                                  const unsigned char* const* planes,
                                  int count, int width, int height, int pack) {
  try {
    BtreeImg image(path, pack, width, height, static_cast<short>(count));
    unsigned char map[768];
    for (int i = 0; i < 768; ++i) map[i] = static_cast<unsigned char>(i / 3);
    image.writeMap(map);
    for (int p = 0; p < count; ++p) {
      for (int y = 0; y < height; ++y) {
        auto* line = const_cast<unsigned char*>(planes[p]) +
                     static_cast<std::size_t>(y) * width;
        if (image.wLinea(reinterpret_cast<char*>(line), y,
                         static_cast<short>(p + 1)) != 1) {
          image.discard();
          return 0;
        }
      }
    }
    image.closeImg();
    return 1;
  } catch (CException* e) {
    e->Delete();
    return 0;
  }
}
