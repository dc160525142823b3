// make-sample OUT: writes the sample image shipped in samples/design.dis, a
// small woven design of three planes in the packed encoding:
//   plane 1  the design: a navy border with a gold stripe at top and bottom,
//            and a half-drop repeat of red lozenges with gold outlines and
//            green centres on a cream ground;
//   plane 2  the binding map: which weave each area of the design uses
//            (ground, figure, border);
//   plane 3  the weft colour of each pick: stripes eight lines high.
// All three are read through one colour map. The output is the same, byte
// for byte, on every run.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "framework/Framework.h"
#include "image/BtreeImg.h"

namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;
constexpr int kBorder = 12;       // lines of border at top and bottom
constexpr int kCellWidth = 64;    // the repeat of the lozenges
constexpr int kCellHeight = 56;

enum Colour : unsigned char {
  kCream = 1, kRed = 2, kGold = 3, kNavy = 4, kGreen = 5, kWhite = 6,
  kBrown = 7, kGroundWeave = 8, kFigureWeave = 9, kBorderWeave = 10,
};

constexpr unsigned char kMap[][3] = {
    {0x00, 0x00, 0x00},  // 0 unused
    {0xef, 0xe4, 0xc8},  // 1 cream ground
    {0xa3, 0x20, 0x2c},  // 2 madder red
    {0xd4, 0xa0, 0x17},  // 3 gold
    {0x1f, 0x2f, 0x5a},  // 4 navy
    {0x2e, 0x6b, 0x3a},  // 5 forest green
    {0xff, 0xff, 0xff},  // 6 white
    {0x4a, 0x30, 0x20},  // 7 dark brown
    {0xd8, 0xd8, 0xd0},  // 8 ground weave: light grey
    {0x80, 0x80, 0x78},  // 9 figure weave: mid grey
    {0x38, 0x40, 0x48},  // 10 border weave: slate
};

unsigned char designAt(int x, int y) {
  if (y < kBorder || y >= kHeight - kBorder) {
    const int inBand = y < kBorder ? y : y - (kHeight - kBorder);
    return inBand >= 4 && inBand < 8 ? kGold : kNavy;
  }
  // A half-drop repeat: every other column of cells is shifted down by half
  // a cell.
  const int column = x / kCellWidth;
  const int shifted = y - kBorder + (column % 2 ? kCellHeight / 2 : 0);
  const int dx = std::abs(x % kCellWidth - kCellWidth / 2);
  const int dy = std::abs(shifted % kCellHeight - kCellHeight / 2);
  const int distance = dx * 24 + dy * 28;  // 672 on the lozenge's edge
  if (dx + dy <= 5) return kGreen;
  if (distance <= 520) return kRed;
  if (distance <= 672) return kGold;
  return kCream;
}

unsigned char bindingAt(int x, int y) {
  switch (designAt(x, y)) {
    case kCream: return kGroundWeave;
    case kNavy: return kBorderWeave;
    default: return kFigureWeave;
  }
}

unsigned char weftAt(int, int y) {
  static constexpr unsigned char kStripes[] = {kCream, kRed, kCream, kGold,
                                               kCream, kNavy, kGreen, kNavy};
  return kStripes[(y / 8) % 8];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make-sample OUT.dis\n");
    return 4;
  }
  try {
    BtreeImg image(argv[1], 1, kWidth, kHeight, 3);
    unsigned char header[1312];
    image.readHeader(header, 1);
    std::memcpy(header + 20, kMap, sizeof kMap);  // the colour map at 20
    image.writeHeader(header, 1);

    unsigned char (*const planes[])(int, int) = {designAt, bindingAt, weftAt};
    std::vector<char> line(kWidth);
    for (short p = 1; p <= 3; ++p) {
      for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
          line[static_cast<std::size_t>(x)] = static_cast<char>(planes[p - 1](x, y));
        }
        if (image.wLinea(line.data(), y, p) != 1) {
          std::fprintf(stderr, "make-sample: plane %d line %d does not fit\n", p, y);
          return 3;
        }
      }
    }
    image.closeImg();
  } catch (CException* e) {
    char text[256];
    e->GetErrorMessage(text, sizeof text);
    e->Delete();
    std::fprintf(stderr, "make-sample: %s\n", text);
    return 3;
  }
  return 0;
}
