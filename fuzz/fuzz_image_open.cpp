// Opens an image from arbitrary bytes, reads every line of every plane in
// both forms, and calls every header and dimension operation.
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "image/BtreeImg.h"

namespace {

// Planes larger than this are not read: the cap keeps the harness within its
// memory limit, not the library (which allocates what the header describes).
constexpr unsigned long long kMaxPlaneBytes = 16ull << 20;
constexpr unsigned int kMaxLines = 2048;

bool firstPlaneTooLarge(const std::uint8_t* data, std::size_t size) {
  const unsigned version = fuzz::loadLE(data, size, 0, 2);
  const unsigned long long dimx = fuzz::loadLE(data, size, 10, version == 4 ? 4 : 2);
  const unsigned long long dimy =
      fuzz::loadLE(data, size, version == 4 ? 14 : 12, version == 4 ? 4 : 2);
  return dimx * dimy > kMaxPlaneBytes || dimx > (1u << 20);
}

void readEveryLine(BtreeImg& image, short planes) {
  for (short p = 1; p <= planes; ++p) {
    const unsigned int width = image.dimx(p);
    const unsigned int height = image.dimy(p);
    if (width > (1u << 20)) continue;
    // A guard behind the caller's buffer must survive every read.
    std::vector<unsigned char> line(width + 64, 0xA5);
    const unsigned int lines = height < kMaxLines ? height : kMaxLines;
    for (unsigned int y = 0; y <= lines; ++y) {
      image.at(y, p, line.data());
      for (std::size_t g = width; g < line.size(); ++g) {
        if (line[g] != 0xA5) __builtin_trap();
      }
      Mem* buffer = image.at(y, p);
      if (buffer->size() < width) __builtin_trap();
    }
    image.line(p);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (firstPlaneTooLarge(data, size)) return 0;
  const std::string path = fuzz::pathOf("input.dis");
  fuzz::writeBytes(path, data, size);
  fuzz::tolerate([&] {
    BtreeImg image(path.c_str());
    const short version = image.Version();
    const short declared = image.nPiani();
    const short planes =
        (version >= 2 && version <= 4) ? (declared < 1 ? 1 : declared) : 1;
    unsigned char header[1312];
    unsigned char map[768];
    for (short p = 1; p <= planes; ++p) {
      image.dimHeader(p);
      image.readHeader(header, p);
      image.dimx(p);
      image.dimy(p);
    }
    image.isPacked(1);
    for (short i = 0; i < 256; i += 51) image.GetRgbHeader(i, i % 3, 0);
    fuzz::tolerate([&] { image.readMap(map); });
    image.GetPosition();
    readEveryLine(image, planes);
    image.SetBassoAltoSinistraDestra();
    readEveryLine(image, planes);
    // Header writes: the memory file of an opened image cannot grow, so a
    // write beyond it is refused with an exception.
    for (short p = 1; p <= planes; ++p) {
      fuzz::tolerate([&] { image.writeParametri(p); });
      fuzz::tolerate([&] { image.readHeader(header, p); image.writeHeader(header, p); });
    }
    fuzz::tolerate([&] { image.writeMap(map); });
    fuzz::tolerate([&] { image.writeFileOffsetPiano(1, 0); });
    fuzz::tolerate([&] { image.SetDimX(static_cast<int>(size % 512), 1); });
    fuzz::tolerate([&] { image.SetDimY(static_cast<int>(size % 64), 1); });
    readEveryLine(image, planes);
  });
  return 0;
}
