// Test-local helpers for the image tests: image files built byte by byte
// from the little-endian layout (never through the library), a file on disk
// to damage, and readers of an image's lines.
#ifndef BTREEIMG_TESTS_IMAGE_IMAGEFILES_H_
#define BTREEIMG_TESTS_IMAGE_IMAGEFILES_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "framework/Exceptions.h"
#include "image/BtreeImg.h"
#include "support/TestFiles.h"

namespace imgtest {

using Bytes = std::vector<unsigned char>;
using Lines = std::vector<Bytes>;
constexpr std::size_t kBlock = 1312;

inline void put16(Bytes& b, std::size_t at, unsigned v) {
  for (int i = 0; i < 2; ++i)
    b.at(at + i) = static_cast<unsigned char>(v >> (8 * i));
}
inline void put32(Bytes& b, std::size_t at, unsigned v) {
  for (int i = 0; i < 4; ++i)
    b.at(at + i) = static_cast<unsigned char>(v >> (8 * i));
}
inline unsigned get16(const Bytes& b, std::size_t at) {
  return b.at(at) | b.at(at + 1) << 8;
}
inline unsigned get32(const Bytes& b, std::size_t at) {
  return get16(b, at) | get16(b, at + 2) << 16;
}
inline Bytes slice(const Bytes& b, std::size_t from, std::size_t n) {
  return Bytes(b.begin() + static_cast<std::ptrdiff_t>(from),
               b.begin() + static_cast<std::ptrdiff_t>(from + n));
}
inline char* chars(Bytes& b) { return reinterpret_cast<char*>(b.data()); }

// Equal byte strings, or the first offset where they differ.
inline ::testing::AssertionResult sameBytes(const Bytes& actual,
                                            const Bytes& expected) {
  const auto diff = std::mismatch(actual.begin(), actual.end(),
                                  expected.begin(), expected.end());
  if (diff.first == actual.end() && diff.second == expected.end()) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure()
         << "lengths " << actual.size() << " and " << expected.size()
         << ", first difference at offset " << (diff.first - actual.begin());
}

// ---- Plane regions, coded by hand ------------------------------------------

// Run pairs (count 1..255, value) of n bytes.
inline Bytes runPairs(const unsigned char* p, std::size_t n) {
  Bytes out;
  for (std::size_t j = 0, count; j < n; j += count) {
    for (count = 1; j + count < n && p[j + count] == p[j] && count < 255;)
      ++count;
    out.insert(out.end(), {static_cast<unsigned char>(count), p[j]});
  }
  return out;
}

inline Bytes rawRegion(const Lines& lines) {
  Bytes out;
  for (const Bytes& l : lines) out.insert(out.end(), l.begin(), l.end());
  return out;
}

// pack 1: a table of lines + 1 u32 offsets, then each line's pairs.
// pack 2: unpackedSize, packedSize, then the pairs of the plane stored
// bottom-up (the last line first). Any other value: raw.
inline Bytes region(int pack, const Lines& lines) {
  if (pack == 2) {
    const Bytes plane = rawRegion(Lines(lines.rbegin(), lines.rend()));
    const Bytes pairs = runPairs(plane.data(), plane.size());
    Bytes out(8);
    put32(out, 0, static_cast<unsigned>(plane.size()));
    put32(out, 4, static_cast<unsigned>(pairs.size()));
    out.insert(out.end(), pairs.begin(), pairs.end());
    return out;
  }
  if (pack != 1) return rawRegion(lines);
  Bytes table(4 * (lines.size() + 1)), code;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    put32(table, 4 * i, static_cast<unsigned>(code.size()));
    const Bytes pairs = runPairs(lines[i].data(), lines[i].size());
    code.insert(code.end(), pairs.begin(), pairs.end());
  }
  put32(table, 4 * lines.size(), static_cast<unsigned>(code.size()));
  table.insert(table.end(), code.begin(), code.end());
  return table;
}

// A line with runs of three equal bytes, its own for every plane and line.
inline Bytes patternLine(int plane, unsigned line, std::size_t dimx) {
  Bytes l(dimx);
  for (std::size_t x = 0; x < dimx; ++x) {
    l[x] = static_cast<unsigned char>(plane * 61 + line * 7 + x / 3);
  }
  return l;
}
inline Lines patternPlane(int plane, unsigned dimy, std::size_t dimx) {
  Lines lines;
  for (unsigned y = 0; y < dimy; ++y)
    lines.push_back(patternLine(plane, y, dimx));
  return lines;
}

// Colour-map entry i of a built file: (i, 255 - i, i ^ 0x5A).
inline unsigned char mapByte(int index, int component) {
  const int values[] = {index, 255 - index, index ^ 0x5A};
  return static_cast<unsigned char>(values[component]);
}

// ---- Whole image files
// -------------------------------------------------------

struct PlaneSpec {
  int pack;     // the block's pack field; the region is coded in it
  Lines lines;  // the plane's dimensions are those of its lines
};

struct BuiltImage {
  Bytes bytes;
  std::vector<std::size_t> blocks;  // block position of plane p at [p - 1]
};

// An image file of `version` (any other value than 3 and 4 is laid out as
// version 2) with the planes back to back, each block followed by its
// region; the first block carries the colour map (unless `withMap` is false)
// and the plane count.
inline BuiltImage buildImage(int version, const std::vector<PlaneSpec>& planes,
                             bool withMap = true) {
  BuiltImage built;
  std::vector<Bytes> regions;
  std::size_t at = 0;
  for (const PlaneSpec& plane : planes) {
    built.blocks.push_back(at);
    regions.push_back(region(plane.pack, plane.lines));
    at += kBlock + regions.back().size();
  }
  Bytes& out = built.bytes;
  out.assign(at, 0);
  const bool chained = version == 3 || version == 4;
  for (std::size_t i = 0; i < planes.size(); ++i) {
    const std::size_t b = built.blocks[i];
    const auto dimy = static_cast<unsigned>(planes[i].lines.size());
    const auto dimx =
        dimy ? static_cast<unsigned>(planes[i].lines[0].size()) : 0;
    if (i == 0 || chained) {
      put16(out, b + 4, static_cast<unsigned>(planes[i].pack));
      if (version == 4) {
        put32(out, b + 10, dimx);
        put32(out, b + 14, dimy);
      } else {
        put16(out, b + 10, dimx);
        put16(out, b + 12, dimy);
      }
    } else {
      put16(out, b + 0, dimx);
      put16(out, b + 2, dimy);
      put16(out, b + 4, static_cast<unsigned>(planes[i].pack));
    }
    if (chained && i + 1 < planes.size()) {
      put32(out, b + 1002, static_cast<unsigned>(built.blocks[i + 1]));
    }
    if (!chained) put32(out, 1002 + 4 * i, static_cast<unsigned>(b));
    std::copy(regions[i].begin(), regions[i].end(),
              out.begin() + static_cast<std::ptrdiff_t>(b + kBlock));
  }
  put16(out, 0, static_cast<unsigned>(version));
  put16(out, 1000, static_cast<unsigned>(planes.size()));
  for (int e = 0; withMap && e < 256; ++e) {
    for (int c = 0; c < 3; ++c) out[20 + 3 * e + c] = mapByte(e, c);
  }
  return built;
}

// `planes` planes of `dimy` pattern lines of `dimx` bytes, all in `pack`.
inline BuiltImage buildPatternImage(int version, int pack, int planes,
                                    std::size_t dimx, unsigned dimy) {
  std::vector<PlaneSpec> specs;
  for (int p = 1; p <= planes; ++p)
    specs.push_back({pack, patternPlane(p, dimy, dimx)});
  return buildImage(version, specs);
}

// An image file kept in memory and written to a fresh temporary directory
// on request. setByte damages the copy; truncateTo cuts the copy and the
// file last saved.
class DiskImage {
 public:
  explicit DiskImage(Bytes bytes) : bytes_(std::move(bytes)) {}
  void setByte(std::size_t offset, unsigned char value) {
    bytes_.at(offset) = value;
  }
  void truncateTo(std::size_t size) {
    bytes_.resize(std::min(size, bytes_.size()));
    if (!saved_.empty()) std::filesystem::resize_file(saved_, bytes_.size());
  }
  Bytes& bytes() { return bytes_; }
  std::string save(const std::string& name = "image.img") {
    saved_ = dir_.file(name);
    testfiles::writeFile(saved_, bytes_);
    return saved_;
  }
  std::string file(const std::string& name) const { return dir_.file(name); }

 private:
  testfiles::TempDir dir_;
  Bytes bytes_;
  std::string saved_;
};

// ---- Reading images
// ----------------------------------------------------------------

// Runs f; true when it threw a framework exception (released).
template <class F>
bool throwsFrameworkException(F&& f) {
  try {
    f();
  } catch (CException* e) {
    e->Delete();
    return true;
  }
  return false;
}

// The planes an opened image holds: its count clamped to 1..5 in versions
// 2 to 4, one plane in any other version.
inline int heldPlanes(BtreeImg& img) {
  const int v = img.Version();
  return v < 2 || v > 4 ? 1 : std::clamp<int>(img.nPiani(), 1, 5);
}

// A line through the copying at(), into exactly dimx(plane) bytes of `fill`.
inline Bytes readLine(BtreeImg& img, unsigned line, short plane,
                      unsigned char fill = 0xEE) {
  Bytes out(img.dimx(plane), fill);
  img.at(line, plane, out.data());
  return out;
}

// A line through the buffer form of at(): dimx(plane) bytes of the buffer.
inline Bytes bufferLine(BtreeImg& img, unsigned line, short plane) {
  Mem* m = img.at(line, plane);
  const auto* p = static_cast<const unsigned char*>(m->pointer());
  return Bytes(p, p + std::min<std::size_t>(img.dimx(plane), m->size()));
}

// Every line of every plane equals `planes`, through both forms of at()
// and, for line 0, through line().
inline void expectLines(BtreeImg& img, const std::vector<Lines>& planes) {
  for (std::size_t p = 1; p <= planes.size(); ++p) {
    const auto plane = static_cast<short>(p);
    for (unsigned y = 0; y < planes[p - 1].size(); ++y) {
      ASSERT_EQ(readLine(img, y, plane), planes[p - 1][y])
          << "plane " << p << " line " << y;
      ASSERT_EQ(bufferLine(img, y, plane), planes[p - 1][y])
          << "plane " << p << " line " << y;
    }
    const auto* first =
        static_cast<const unsigned char*>(img.line(plane)->pointer());
    EXPECT_EQ(Bytes(first, first + planes[p - 1][0].size()), planes[p - 1][0]);
  }
}

}  // namespace imgtest

#endif  // BTREEIMG_TESTS_IMAGE_IMAGEFILES_H_
