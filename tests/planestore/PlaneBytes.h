// Helpers shared by the plane storage and image tests: byte strings,
// little-endian table entries and the run-pair code written out by hand (as
// references, never through the library), line reads through a guard area,
// and memory files of an exact size for hostile region bytes.
#ifndef BTREEIMG_TESTS_PLANESTORE_PLANEBYTES_H_
#define BTREEIMG_TESTS_PLANESTORE_PLANEBYTES_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <utility>
#include <vector>

#include "framework/CMemFile.h"
#include "planestore/BtreeMod.h"
#include "support/TestFiles.h"

namespace planetest {

using Bytes = std::vector<unsigned char>;
using Writes = std::vector<std::pair<int, Bytes>>;  // (line, bytes)

constexpr long kRegion = 1312;  // right behind a plane's header block
constexpr unsigned char kGuardByte = 0xEE;

// Little-endian 32-bit values, one after another.
inline Bytes le32(std::initializer_list<std::uint32_t> values) {
  Bytes bytes(4 * values.size());
  for (std::size_t i = 0; i < values.size(); ++i)
    testfiles::put32(bytes, 4 * i, values.begin()[i]);
  return bytes;
}

inline Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// The pairs (count 1..255, value) of `in`: each run of equal bytes, split
// every 255 bytes.
inline Bytes runPairs(const Bytes& in) {
  Bytes out;
  for (std::size_t j = 0, count; j < in.size(); j += count) {
    for (count = 1;
         j + count < in.size() && in[j + count] == in[j] && count < 255;)
      ++count;
    out.insert(out.end(), {static_cast<unsigned char>(count), in[j]});
  }
  return out;
}

// Bytes [from, from + n) of a memory file (fewer when it ends sooner).
inline Bytes fileBytes(CMemFile& file, ULONGLONG from, std::size_t n) {
  file.Seek(static_cast<LONGLONG>(from), CFile::begin);
  Bytes bytes(n);
  bytes.resize(file.Read(bytes.data(), static_cast<UINT>(n)));
  return bytes;
}

inline Bytes wholeFile(CMemFile& file) {
  return fileBytes(file, 0, static_cast<std::size_t>(file.GetLength()));
}

// Reads line `line` into `width` bytes preset to `fill`, followed by a guard
// area that must stay untouched; returns the `width` bytes.
inline Bytes readLine(BtreeMod& plane, int line, std::size_t width,
                      unsigned char fill = kGuardByte, int* status = nullptr) {
  Bytes buffer = concat(Bytes(width, fill), Bytes(32, kGuardByte));
  const int result = plane.lineAt(line, buffer.data());
  if (status) *status = result;
  EXPECT_EQ(Bytes(buffer.begin() + width, buffer.end()), Bytes(32, kGuardByte))
      << "lineAt wrote past the line";
  buffer.resize(width);
  return buffer;
}

inline int writeLine(BtreeMod& plane, int line, Bytes bytes) {
  return plane.writeAt(line, bytes.data());
}

// A fixed-size memory file of kRegion zero bytes followed by `region`, in a
// heap block of exactly that size so that the sanitizers see any access
// past it.
struct ExactImage {
  explicit ExactImage(const Bytes& region)
      : bytes(new unsigned char[kRegion + region.size()]()) {
    std::copy(region.begin(), region.end(), bytes.get() + kRegion);
    file.Attach(bytes.get(), static_cast<UINT>(kRegion + region.size()));
  }
  std::unique_ptr<unsigned char[]> bytes;
  CMemFile file;
};

// The `count` lines of `width` bytes that a `Plane` over hostile `region`
// bytes (in an ExactImage) reads into buffers preset to `fill`, back to
// back; every read reports success.
template <class Plane>
Bytes decodedPlane(const Bytes& region, int width, int count,
                   unsigned char fill = kGuardByte) {
  ExactImage image(region);
  Plane plane(&image.file, kRegion, width, count);
  Bytes lines;
  for (int y = 0; y < count; ++y) {
    int status = 0;
    lines = concat(lines, readLine(plane, y, width, fill, &status));
    EXPECT_EQ(status, 1) << "line " << y;
  }
  return lines;
}

}  // namespace planetest

#endif  // BTREEIMG_TESTS_PLANESTORE_PLANEBYTES_H_
