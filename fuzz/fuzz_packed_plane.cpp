// The whole-plane packed decoder on arbitrary regions, and the round trip
// through commit and a new decoding. Input: 2 bytes line length (1..1024),
// 2 bytes line count (1..256), then the region (unpacked size, packed size,
// run pairs).
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "planestore/BtreePackedSpeed.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 4) return 0;
  const int length = static_cast<int>(fuzz::loadLE(data, size, 0, 2) % 1024) + 1;
  const int lines = static_cast<int>(fuzz::loadLE(data, size, 2, 2) % 256) + 1;
  std::vector<unsigned char> region(data + 4, data + size);

  std::vector<std::vector<unsigned char>> decoded;
  fuzz::tolerate([&] {
    CMemFile file;
    file.Attach(region.empty() ? nullptr : region.data(),
                static_cast<UINT>(region.size()), 0);
    BtreePackedSpeed plane(&file, 0, length, lines);
    std::vector<unsigned char> line(length + 64, 0x3C);
    for (int y = -1; y <= lines; ++y) {
      const int done = plane.lineAt(y, line.data());
      for (std::size_t g = length; g < line.size(); ++g) {
        if (line[g] != 0x3C) __builtin_trap();
      }
      if (done == 1) decoded.emplace_back(line.begin(), line.begin() + length);
    }
  });
  if (decoded.size() != static_cast<std::size_t>(lines)) __builtin_trap();

  // What was decoded, written into a fresh plane and committed, decodes the
  // same again.
  fuzz::tolerate([&] {
    CMemFile file(1024);
    {
      BtreePackedSpeed plane(&file, 0, length, lines);
      for (int y = 0; y < lines; ++y) plane.writeAt(y, decoded[y].data());
      if (plane.commit() != 1) __builtin_trap();
    }
    BtreePackedSpeed again(&file, 0, length, lines);
    std::vector<unsigned char> line(length);
    for (int y = 0; y < lines; ++y) {
      again.lineAt(y, line.data());
      if (line != decoded[y]) __builtin_trap();
    }
  });
  return 0;
}
