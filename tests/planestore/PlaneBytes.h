// Helpers shared by the plane storage tests: byte strings, little-endian
// table entries, line reads through a guard area, and memory files of an
// exact size for hostile region bytes.
#ifndef BTREEIMG_TESTS_PLANESTORE_PLANEBYTES_H_
#define BTREEIMG_TESTS_PLANESTORE_PLANEBYTES_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

#include "framework/ByteOrder.h"
#include "framework/CMemFile.h"
#include "planestore/BtreeMod.h"

namespace planetest {

using Bytes = std::vector<unsigned char>;

constexpr long kRegion = 1312;  // right behind a plane's header block
constexpr unsigned char kGuardByte = 0xEE;

// Little-endian 32-bit values, one after another.
inline Bytes le32(std::initializer_list<std::uint32_t> values) {
  Bytes bytes(4 * values.size());
  for (std::size_t i = 0; i < values.size(); ++i)
    btreeimg::detail::storeU32(&bytes[4 * i], values.begin()[i]);
  return bytes;
}

inline Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
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

}  // namespace planetest

#endif  // BTREEIMG_TESTS_PLANESTORE_PLANEBYTES_H_
