// Test-local helpers for the image tests: image files built byte by byte
// from the little-endian layout (never through the library), images created
// through the library, and readers of an image's lines.
#ifndef BTREEIMG_TESTS_IMAGE_IMAGEFILES_H_
#define BTREEIMG_TESTS_IMAGE_IMAGEFILES_H_

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "framework/CString.h"
#include "framework/CStringArray.h"
#include "framework/Exceptions.h"
#include "image/BtreeImg.h"
#include "planestore/PlaneBytes.h"
#include "support/TestFiles.h"
#include "support/ThrownPtr.h"

namespace imgtest {

using planetest::concat;
using planetest::runPairs;
using testfiles::Bytes;
using testfiles::catchPtr;
using testfiles::readFile;
using testfiles::TempDir;
using testfiles::throwsPtr;
namespace fs = std::filesystem;
using Lines = std::vector<Bytes>;
constexpr std::size_t kBlock = 1312;

using testfiles::put16;
using testfiles::put32;
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

// ---- Plane regions and whole files, coded by hand ---------------------------

// pack 1: a table of lines + 1 u32 offsets, then each line's pairs.
// pack 2: unpacked size, packed size, then the pairs of the plane stored
// bottom-up (the last line first). Any other value: raw, the lines back to
// back.
inline Bytes region(int pack, const Lines& lines) {
  Bytes table(pack == 1 ? 4 * (lines.size() + 1) : 0), code;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const Bytes& line = lines[pack == 2 ? lines.size() - 1 - i : i];
    const Bytes lineCode = pack == 1 ? runPairs(line) : line;
    code.insert(code.end(), lineCode.begin(), lineCode.end());
    if (pack == 1)
      put32(table, 4 * (i + 1), static_cast<unsigned>(code.size()));
  }
  if (pack != 2) return concat(table, code);
  const Bytes pairs = runPairs(code);
  Bytes head(8);
  put32(head, 0, static_cast<unsigned>(code.size()));
  put32(head, 4, static_cast<unsigned>(pairs.size()));
  return concat(head, pairs);
}

// Lines in runs of five equal bytes, their own for every plane and line.
inline Lines patternPlane(int plane, unsigned dimy, std::size_t dimx) {
  Lines lines(dimy, Bytes(dimx));
  for (unsigned y = 0; y < dimy; ++y)
    for (std::size_t x = 0; x < dimx; ++x)
      lines[y][x] = static_cast<unsigned char>(plane * 61 + y * 7 + x / 5);
  return lines;
}
inline std::vector<Lines> patternPlanes(int n, unsigned dimy,
                                        std::size_t dimx) {
  std::vector<Lines> planes;
  for (int p = 1; p <= n; ++p) planes.push_back(patternPlane(p, dimy, dimx));
  return planes;
}

// Colour-map entry i of a built file: (i, 255 - i, i ^ 0x5A).
inline unsigned char mapByte(int index, int component) {
  const int values[] = {index, 255 - index, index ^ 0x5A};
  return static_cast<unsigned char>(values[component]);
}

struct PlaneContent {
  int pack;     // the block's pack field; the region is coded in it
  Lines lines;  // the plane's dimensions are those of its lines
};
struct BuiltImage {
  Bytes bytes;
  std::vector<std::size_t> blocks;  // block position of plane p at [p - 1]
};

// An image file of `version` (other values than 3 and 4 are laid out as
// version 2) with the planes back to back, each block followed by its
// region; the first block carries the plane count and, unless `withMap` is
// false, a colour map.
inline BuiltImage buildImage(int version, const std::vector<PlaneContent>& planes,
                             bool withMap = true) {
  BuiltImage built;
  Bytes& out = built.bytes;
  const bool chained = version == 3 || version == 4;
  for (std::size_t i = 0; i < planes.size(); ++i) {
    const auto b = static_cast<unsigned>(out.size());
    const Lines& lines = planes[i].lines;
    const auto dimy = static_cast<unsigned>(lines.size());
    const auto dimx = dimy ? static_cast<unsigned>(lines[0].size()) : 0;
    built.blocks.push_back(b);
    out.resize(b + kBlock);
    if (chained && i > 0) put32(out, built.blocks[i - 1] + 1002, b);
    if (!chained) put32(out, 1002 + 4 * i, b);
    put16(out, b + 4, static_cast<unsigned>(planes[i].pack));
    if (version == 4) {
      put32(out, b + 10, dimx);
      put32(out, b + 14, dimy);
    } else if (i == 0 || chained) {
      put16(out, b + 10, dimx);
      put16(out, b + 12, dimy);
    } else {  // further version-2 blocks state their own dimensions first
      put16(out, b + 0, dimx);
      put16(out, b + 2, dimy);
    }
    out = concat(std::move(out), region(planes[i].pack, lines));
  }
  put16(out, 0, static_cast<unsigned>(version));
  put16(out, 1000, static_cast<unsigned>(planes.size()));
  for (int e = 0; withMap && e < 256; ++e)
    for (int c = 0; c < 3; ++c) out[20 + 3 * e + c] = mapByte(e, c);
  return built;
}

// `planes` planes of `dimy` pattern lines of `dimx` bytes, all in `pack`.
inline BuiltImage buildPatternImage(int version, int pack, int planes,
                                    std::size_t dimx, unsigned dimy,
                                    bool withMap = true) {
  std::vector<PlaneContent> contents;
  for (Lines& lines : patternPlanes(planes, dimy, dimx))
    contents.push_back({pack, lines});
  return buildImage(version, contents, withMap);
}

// An image file's bytes, written on request into a fresh directory.
struct DiskImage {
  Bytes bytes;
  testfiles::TempDir dir{};
  std::string save(const std::string& name = "image.img") {
    testfiles::writeFile(dir.file(name), bytes);
    return dir.file(name);
  }
};

// True when f throws the framework's invalid-argument exception (released).
template <class F>
bool invalidArg(F&& f) {
  return testfiles::throwsPtr<CInvalidArgException>(std::forward<F>(f));
}

// ---- Images through the library ---------------------------------------------

// Creates `path` in `pack` with plane 1's dimensions, writes every line of
// `planes` (each must be accepted) and closes it.
inline void createImage(const std::string& path, int pack,
                        const std::vector<Lines>& planes) {
  const Lines& first = planes.at(0);
  BtreeImg img(path.c_str(), pack, static_cast<int>(first.at(0).size()),
               static_cast<int>(first.size()),
               static_cast<short>(planes.size()));
  for (std::size_t p = 0; p < planes.size(); ++p) {
    for (std::size_t y = 0; y < planes[p].size(); ++y) {
      Bytes l = planes[p][y];
      EXPECT_EQ(
          img.wLinea(chars(l), static_cast<int>(y), static_cast<short>(p + 1)),
          1);
    }
  }
  img.closeImg();
}
inline Bytes createdBytes(int pack, const std::vector<Lines>& planes) {
  testfiles::TempDir dir;
  createImage(dir.file("made.img"), pack, planes);
  return testfiles::readFile(dir.file("made.img"));
}

// wPiano with `lines` as its strings.
inline int writePlane(BtreeImg& img, const Lines& lines, short plane) {
  CStringArray all;
  for (const Bytes& l : lines)
    all.Add(CString(reinterpret_cast<const char*>(l.data()),
                    static_cast<int>(l.size())));
  return img.wPiano(all, plane);
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
      ASSERT_EQ(readLine(img, y, plane), planes[p - 1][y]) << p << " " << y;
      ASSERT_EQ(bufferLine(img, y, plane), planes[p - 1][y]) << p << " " << y;
    }
    const auto* first =
        static_cast<const unsigned char*>(img.line(plane)->pointer());
    EXPECT_EQ(Bytes(first, first + planes[p - 1][0].size()), planes[p - 1][0]);
  }
}

}  // namespace imgtest

#endif  // BTREEIMG_TESTS_IMAGE_IMAGEFILES_H_
