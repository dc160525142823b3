// The packed line decoder on arbitrary regions, and the encoder's round trip.
// Input: 2 bytes line length (1..4096), 1 byte line count (1..64), then the
// plane region (line offset table and run pairs).
#include <cstring>
#include <vector>

#include "FuzzSupport.h"
#include "planestore/BtreePacked.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 3) return 0;
  const int lineSize = static_cast<int>(fuzz::loadLE(data, size, 0, 2) % 4096) + 1;
  const int lines = data[2] % 64 + 1;
  std::vector<unsigned char> region(data + 3, data + size);

  // Decoding never writes past the line nor reads outside the memory file.
  fuzz::tolerate([&] {
    CMemFile file;
    file.Attach(region.empty() ? nullptr : region.data(),
                static_cast<UINT>(region.size()), 0);
    BtreePacked plane(&file, 0, lineSize, lines);
    std::vector<unsigned char> line(lineSize + 64, 0x5A);
    for (int y = -1; y <= lines; ++y) {
      plane.lineAt(y, line.data());
      for (std::size_t g = lineSize; g < line.size(); ++g) {
        if (line[g] != 0x5A) __builtin_trap();
      }
    }
  });

  // Any bytes written as lines in order read back unchanged.
  fuzz::tolerate([&] {
    CMemFile file(1024);
    BtreePacked plane(&file, 0, lineSize, lines);
    std::vector<std::vector<unsigned char>> written;
    for (int y = 0; y < lines; ++y) {
      std::vector<unsigned char> line(lineSize);
      for (int x = 0; x < lineSize; ++x) {
        const std::size_t at = static_cast<std::size_t>(y) * lineSize + x;
        line[x] = region.empty() ? 0 : region[at % region.size()];
      }
      if (plane.writeAt(y, line.data()) != 1) __builtin_trap();
      written.push_back(line);
    }
    std::vector<unsigned char> back(lineSize);
    for (int y = 0; y < lines; ++y) {
      plane.lineAt(y, back.data());
      if (back != written[y]) __builtin_trap();
    }
  });
  return 0;
}
