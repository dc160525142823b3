// Writes the seed corpora of the fuzz targets, made with the library itself:
//   make_seeds <corpus root>
// Each target's seeds go to <corpus root>/<target>/.
#include <sys/stat.h>

#include <cstdio>
#include <string>
#include <vector>

#include "framework/Framework.h"
#include "image/BtreeImg.h"
#include "planestore/BtreePacked.h"
#include "planestore/BtreePackedSpeed.h"

namespace {

std::string root;

std::string folder(const char* target) {
  const std::string path = root + "/" + target;
  ::mkdir(path.c_str(), 0777);
  return path;
}

void writeSeed(const char* target, const std::string& name,
               const std::vector<unsigned char>& bytes) {
  const std::string path = folder(target) + "/" + name;
  std::FILE* out = std::fopen(path.c_str(), "wb");
  if (out == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), out);
  std::fclose(out);
}

void writeText(const char* target, const std::string& name, const std::string& text) {
  writeSeed(target, name, std::vector<unsigned char>(text.begin(), text.end()));
}

std::vector<unsigned char> readAll(const std::string& path) {
  std::vector<unsigned char> bytes;
  if (std::FILE* in = std::fopen(path.c_str(), "rb")) {
    for (int c; (c = std::fgetc(in)) != EOF;) bytes.push_back(static_cast<unsigned char>(c));
    std::fclose(in);
  }
  return bytes;
}

// A line of a design in runs of a few colours.
std::vector<char> designLine(int width, int y) {
  std::vector<char> line(width);
  for (int x = 0; x < width; ++x) line[x] = static_cast<char>(((x + 3 * y) / 7) % 4 * 60);
  return line;
}

void imageSeeds() {
  struct Shape { int dimx, dimy; short planes; };
  const Shape shapes[] = {{32, 8, 1}, {24, 6, 2}, {16, 5, 3}, {70000, 1, 1}};
  for (const Shape& shape : shapes) {
    for (int pack = 0; pack <= 2; ++pack) {
      const std::string path = root + "/scratch.dis";
      {
        BtreeImg image(path.c_str(), pack, shape.dimx, shape.dimy, shape.planes);
        for (short p = 1; p <= shape.planes; ++p) {
          for (int y = 0; y < shape.dimy; ++y) {
            std::vector<char> line = designLine(shape.dimx, y + p);
            image.wLinea(line.data(), y, p);
          }
        }
        image.closeImg();
      }
      for (const char* target : {"image_open", "reader_differential"}) {
        writeSeed(target,
                  std::to_string(shape.dimx) + "x" + std::to_string(shape.dimy) + "x" +
                      std::to_string(shape.planes) + "-pack" + std::to_string(pack),
                  readAll(path));
      }
      std::remove(path.c_str());
    }
  }
}

template <typename Plane>
std::vector<unsigned char> planeRegion(int length, int lines, bool commit) {
  CMemFile file(1024);
  {
    Plane plane(&file, 0, length, lines);
    for (int y = 0; y < lines; ++y) {
      std::vector<char> line = designLine(length, y);
      plane.writeAt(y, reinterpret_cast<unsigned char*>(line.data()));
    }
    if (commit) plane.commit();
  }
  std::vector<unsigned char> region(file.GetLength());
  file.Seek(0, CFile::begin);
  file.Read(region.data(), static_cast<UINT>(region.size()));
  return region;
}

void planeSeeds() {
  for (int length : {8, 40, 300}) {
    const int lines = 6;
    std::vector<unsigned char> packed = {static_cast<unsigned char>(length - 1),
                                         static_cast<unsigned char>((length - 1) >> 8),
                                         static_cast<unsigned char>(lines - 1)};
    const auto region = planeRegion<BtreePacked>(length, lines, false);
    packed.insert(packed.end(), region.begin(), region.end());
    writeSeed("packed_line", "lines-" + std::to_string(length), packed);

    std::vector<unsigned char> whole = {static_cast<unsigned char>(length - 1),
                                        static_cast<unsigned char>((length - 1) >> 8),
                                        static_cast<unsigned char>(lines - 1), 0};
    const auto stream = planeRegion<BtreePackedSpeed>(length, lines, true);
    whole.insert(whole.end(), stream.begin(), stream.end());
    writeSeed("packed_plane", "plane-" + std::to_string(length), whole);
  }
}

void put(std::vector<unsigned char>& bytes, std::size_t at, unsigned value, int width) {
  if (bytes.size() < at + width) bytes.resize(at + width, 0);
  for (int i = 0; i < width; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

// A first header block of one plane: version, encoding, dimensions.
std::vector<unsigned char> firstBlock(int version, int pack, unsigned dimx, unsigned dimy) {
  std::vector<unsigned char> block(1312, 0);
  put(block, 0, static_cast<unsigned>(version), 2);
  put(block, 4, static_cast<unsigned>(pack), 2);
  if (version == 4) {
    put(block, 10, dimx, 4);
    put(block, 14, dimy, 4);
  } else {
    put(block, 10, dimx, 2);
    put(block, 12, dimy, 2);
  }
  put(block, 1000, 1, 2);
  return block;
}

// Headers that state far more than the file holds, or planes that share
// their bytes: each once made a reader spend gigabytes, minutes, or read
// outside its buffers.
void craftedSeeds() {
  // A plane of no lines, 2^31 pixels wide.
  writeSeed("image_open", "crafted-no-lines", firstBlock(4, 0, 0x80000000u, 0));
  // 1 x 2^28 raw in 1336 bytes.
  std::vector<unsigned char> tall = firstBlock(4, 0, 1, 1u << 28);
  tall.resize(1336, 5);
  writeSeed("image_open", "crafted-tall", tall);
  // A packed plane whose line table lies outside the file.
  writeSeed("image_open", "crafted-no-table", firstBlock(4, 1, 4, 1u << 26));
  // Version 2, two raw planes of 32 x 32: plane 1's region moved by the
  // table's entry 0 onto plane 2's.
  std::vector<unsigned char> overlap = firstBlock(2, 0, 32, 32);
  put(overlap, 1000, 2, 2);
  put(overlap, 1002, 1412, 4);
  put(overlap, 1006, 1312, 4);
  put(overlap, 1312, 32 | 32u << 16, 4);
  overlap.resize(2 * 1312, 0);  // plane 2's block: raw
  overlap.resize(2 * 1312 + 100 + 1024 + 100, 9);
  writeSeed("image_open", "crafted-overlap", overlap);
  // A whole-plane stream of no lines that decodes to 4 bytes.
  std::vector<unsigned char> empty = firstBlock(4, 2, 4, 0);
  put(empty, 1312, 0, 4);
  put(empty, 1316, 2, 4);
  empty.push_back(4);
  empty.push_back(7);
  writeSeed("image_open", "crafted-empty-stream", empty);
  // Three raw planes of 4 x 2, plane 3 of an encoding no reader knows.
  std::vector<unsigned char> unknown = firstBlock(3, 0, 4, 2);
  put(unknown, 1000, 3, 2);
  for (unsigned p = 0; p < 3; ++p) {
    const std::size_t at = p * (1312 + 8);
    if (p > 0) {
      put(unknown, at + 10, 4, 2);
      put(unknown, at + 12, 2, 2);
      put(unknown, at + 4, p == 2 ? 7 : 0, 2);
    }
    put(unknown, at + 1002, static_cast<unsigned>(at + 1312 + 8), 4);
    unknown.resize(at + 1312 + 8, static_cast<unsigned char>(p));
  }
  writeSeed("image_open", "crafted-unknown-encoding", unknown);
  // Rule and list files with many lines of few keys, and of many keys.
  std::string rules, keys;
  for (int i = 0; i < 400; ++i) {
    rules += "COLCOPER " + std::to_string(i % 200) + "\r\nCOLTEST " + std::to_string(i % 7) +
             "\r\nCOLSOST " + std::to_string(i % 13) + "\r\n";
    keys += "KEY" + std::to_string(i % 150) + " value " + std::to_string(i) + "\n";
  }
  writeText("coverage", "crafted-many-rules", rules);
  writeText("askeydat", "crafted-many-keys", keys);
}

void textSeeds() {
  writeText("keytostr", "blank-form", " @ colours\nRED   bright red\nBLUE dark blue\nGREEN\n");
  writeText("keytostr", "separator-form",
            "=@ menu titles\r\nTITLE=Main menu\r\nSUB TITLE=Second level = two\r\n"
            "NOSEPARATOR\r\nit's=x\r\nKEY=\r\n=abc=d\r\n");
  writeText("askeydat", "fruit",
            "@ fruit and vegetables\n#kitchen list\nFRUIT apple\nVEG carrot\nFRUIT pear\n");
  writeText("askeydat", "rules", "COLCOPER 5\r\nCOLTEST 7\r\nCOLSOST 9\r\n");
  writeText("env", "settings",
            "VD6ICN ..\\ICON\r\nVD6DEB 0\r\nvd6deb 1\r\n@ comment\r\n\r\nVD6RUNEXE C:\\a b\\c.exe\r\n");
  writeText("coverage", "one-rule", "COLCOPER 0\nCOLTEST 60\nCOLSOST 9\n");
  writeText("coverage", "chained",
            "COLCOPER 0\nCOLTEST 60\nCOLSOST 120\nCOLCOPER 120\nCOLTEST 60\nCOLSOST -56\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds <corpus root>\n");
    return 2;
  }
  root = argv[1];
  ::mkdir(root.c_str(), 0777);
  try {
    imageSeeds();
    planeSeeds();
    textSeeds();
    craftedSeeds();
  } catch (CException* e) {
    char text[256];
    e->GetErrorMessage(text, sizeof text);
    e->Delete();
    std::fprintf(stderr, "make_seeds: %s\n", text);
    return 1;
  }
  return 0;
}
