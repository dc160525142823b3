// Every saved image is sound, lines never written saved as zeros; and the
// writer that chooses each plane's encoding.
#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <set>
#include <string>

#include "image/ImageCheck.h"
#include "image/ImageFiles.h"
#include "image/ImageSave.h"
#include "image/ImageWriter.h"

namespace imgtest {
namespace {

using btreeimg::ImageWriter;

// A line of runs of a few values: packed code of about the raw size.
rc::Gen<Bytes> lineOf(std::size_t dimx) {
  return rc::gen::map(
      rc::gen::container<std::vector<unsigned char>>(dimx,
                                                     rc::gen::inRange<unsigned char>(0, 4)),
      [](Bytes line) {
        for (std::size_t x = 1; x < line.size(); ++x)
          if (line[x] == 3) line[x] = line[x - 1];  // runs
        return line;
      });
}

struct Written {
  unsigned dimx, dimy;
  int planes;
  std::vector<std::vector<std::pair<unsigned, Bytes>>> lines;  // per plane
};

// Any lines in any order; for packed planes a prefix in order.
Written linesToWrite(int pack, unsigned dimx, unsigned dimy, int planes) {
  Written w{dimx, dimy, planes, {}};
  for (int p = 0; p < planes; ++p) {
    std::vector<std::pair<unsigned, Bytes>> lines;
    if (*rc::gen::arbitrary<bool>()) {
      std::vector<unsigned> order;
      if (pack == 1) {
        const unsigned n = *rc::gen::inRange(0u, dimy + 1);
        for (unsigned y = 0; y < n; ++y) order.push_back(y);
      } else {
        order = *rc::gen::container<std::vector<unsigned>>(
            rc::gen::inRange(0u, dimy));
      }
      for (unsigned y : order) lines.emplace_back(y, *lineOf(dimx));
    }
    w.lines.push_back(lines);
  }
  return w;
}

// The lines written last, zeros elsewhere, plane 1's line 0 all ones until
// written (unless a packed plane 1 had no room for it).
std::vector<Lines> expected(const Written& w, const std::vector<std::set<unsigned>>& refused,
                            bool firstLine = true) {
  std::vector<Lines> planes;
  for (int p = 0; p < w.planes; ++p) {
    Lines lines(w.dimy, Bytes(w.dimx, 0));
    if (p == 0 && firstLine) lines[0] = Bytes(w.dimx, 1);
    for (const auto& [y, line] : w.lines[p])
      if (!refused[p].count(y)) lines[y] = line;
    planes.push_back(lines);
  }
  return planes;
}

void expectSoundWith(const std::string& path, const std::vector<Lines>& planes) {
  const Bytes bytes = readFile(path);
  ImageCheck check;
  RC_ASSERT(check.Inspect(bytes.data(), bytes.size()) == int{ImageCheck::sound});
  BtreeImg image(path.c_str());
  RC_ASSERT(image.nPiani() == static_cast<short>(planes.size()));
  for (std::size_t p = 0; p < planes.size(); ++p)
    for (unsigned y = 0; y < planes[p].size(); ++y)
      RC_ASSERT(readLine(image, y, static_cast<short>(p + 1)) == planes[p][y]);
}

// Saved by BtreeImg per encoding or by the writer choosing (pack -1, lines
// noisy now and then so planes turn raw); 255 fills a zero line's runs.
RC_GTEST_PROP(SavedImage, IsSoundWithLinesNeverWrittenAsZeros, ()) {
  const int version = *rc::gen::element(2, 3, 4);
  const int pack = *rc::gen::inRange(ImageWriter::kChooseEncoding, 3);
  const bool choosing = pack == ImageWriter::kChooseEncoding;
  const int planes = version == 3 ? *rc::gen::inRange(3, 6)
                     : version == 2 ? *rc::gen::inRange(1, 3)
                                    : *rc::gen::inRange(1, 4);
  const unsigned dimx =
      version == 4 ? 65536u : *rc::gen::oneOf(rc::gen::inRange(1u, 40u), rc::gen::just(255u));
  const unsigned dimy = version == 4 ? *rc::gen::inRange(1u, 3u)
                                     : *rc::gen::inRange(1u, 12u);
  Written w = linesToWrite(choosing ? 1 : pack, dimx, dimy, planes);
  if (choosing && *rc::gen::arbitrary<bool>()) {
    for (auto& plane : w.lines)
      for (auto& [y, line] : plane)
        for (std::size_t x = 0; x < line.size(); ++x)
          line[x] = static_cast<unsigned char>(x * 7 + y);
  }
  TempDir dir;
  const std::string path = dir.file("saved.img");
  std::vector<std::set<unsigned>> refused(planes);
  bool firstLine = true;
  if (choosing) {  // never refuses a line
    ImageWriter writer(path.c_str(), pack, dimx, dimy, planes);
    for (int p = 0; p < planes; ++p)
      for (const auto& [y, line] : w.lines[p]) writer.writeLine(p + 1, y, line.data());
    writer.commit();
  } else {
    BtreeImg image(path.c_str(), pack, static_cast<int>(dimx),
                   static_cast<int>(dimy), static_cast<short>(planes));
    RC_ASSERT(image.Version() == version);
    firstLine = readLine(image, 0, 1) == Bytes(dimx, 1);
    for (int p = 0; p < planes; ++p) {
      for (auto [y, line] : w.lines[p]) {
        // A packed line without room is refused, and so are those behind.
        if (!refused[p].empty() ||
            image.wLinea(chars(line), static_cast<int>(y), static_cast<short>(p + 1)) == 0) {
          refused[p].insert(y);
        } else {
          refused[p].erase(y);
        }
      }
    }
    try {
      image.closeImg();
    } catch (CFileException* e) {
      e->Delete();
      // Only packed code without room may stop a save: nothing is written.
      RC_ASSERT(pack != 0);
      RC_ASSERT(!fs::exists(path));
      image.discard();
      return;
    }
  }
  expectSoundWith(path, expected(w, refused, firstLine));
}

// 16 different bytes: 32 bytes of code, more than a 16 x 4 plane holds
// besides its 20-byte offset table.
Bytes noisy(unsigned y) {
  Bytes line(16);
  for (unsigned x = 0; x < 16; ++x) line[x] = static_cast<unsigned char>(x * 17 + y);
  return line;
}

// Only the last plane may grow: a packed line without room is refused, a
// whole-plane save that does not fit writes nothing, and zero lines that do
// not fit are left out (read as zeros).
TEST(SavedImage, PackedPlanesThatOutgrowTheirRoomAreRefused) {
  TempDir dir;
  Lines lines = {noisy(0), noisy(1), noisy(2), noisy(3)};
  const std::string path = dir.file("full.img");
  {
    BtreeImg img(path.c_str(), 1, 16, 4, 2);
    EXPECT_EQ(img.wLinea(chars(lines[0]), 0, 1), 1);
    EXPECT_EQ(img.wLinea(chars(lines[1]), 1, 1), 0);
    EXPECT_EQ(writePlane(img, lines, 1), 0);
    EXPECT_EQ(writePlane(img, lines, 2), 1);
  }
  BtreeImg full(path.c_str());
  expectLines(full, {{lines[0]}, lines});
  EXPECT_EQ(full.isPacked(2), 1);
  const std::string tight = dir.file("tight.img"), whole = dir.file("whole.img");
  {
    BtreeImg img(tight.c_str(), 1, 16, 4, 2);
    Bytes runs(16);  // 12 bytes of code: with line 0's, all 44 bytes of room
    for (unsigned x = 0; x < 16; ++x) runs[x] = static_cast<unsigned char>(x / 3);
    ASSERT_EQ(img.wLinea(chars(lines[0]), 0, 1), 1);
    ASSERT_EQ(img.wLinea(chars(runs), 1, 1), 1);
    img.closeImg();
    const Bytes saved = readFile(tight);
    EXPECT_EQ(ImageCheck().Inspect(saved.data(), saved.size()), ImageCheck::sound);
    EXPECT_EQ(get32(saved, kBlock + 12), 0u);  // line 2's end: never written
    BtreeImg back(tight.c_str());
    expectLines(back, {{lines[0], runs, Bytes(16), Bytes(16)}});
  }
  {
    BtreeImg img(whole.c_str(), 2, 16, 4, 2);
    for (int y = 0; y < 4; ++y) EXPECT_EQ(img.wLinea(chars(lines[y]), y, 1), 1);  // in memory
    EXPECT_TRUE(throwsPtr<CFileException>([&] { img.closeImg(); }));
  }  // the destructor tries again and swallows the failure
  for (const std::string& name : {whole, whole + ".~tmp"}) EXPECT_FALSE(fs::exists(name));
}

// A packed line written again keeps those behind; zero lines without room
// (6 x 4, two planes) still save; a damaged save keeps the old file.
TEST(SavedImage, NothingWrittenIsLostAndNothingDamagedIsSaved) {
  TempDir dir;
  const std::string again = dir.file("again.img"), tight = dir.file("tight.img"),
                    kept = dir.file("kept.img");
  Lines lines = patternPlane(1, 6, 6);
  {
    BtreeImg img(again.c_str(), 1, 6, 6, 1);
    for (int y = 0; y < 4; ++y) ASSERT_EQ(img.wLinea(chars(lines[y]), y, 1), 1);
    for (unsigned char& b : lines[1]) b = static_cast<unsigned char>(b + 100);
    ASSERT_EQ(img.wLinea(chars(lines[1]), 1, 1), 1);
  }
  BtreeImg back(again.c_str());
  expectLines(back, {{lines[0], lines[1], lines[2], lines[3], Bytes(6), Bytes(6)}});
  { BtreeImg img(tight.c_str(), 1, 6, 4, 2); }
  BtreeImg small(tight.c_str());
  expectLines(small, {{Bytes(6, 1), Bytes(6), Bytes(6), Bytes(6)}, Lines(4, Bytes(6))});

  testfiles::writeFile(kept, Bytes{1, 2, 3});
  BtreeImg img(kept.c_str(), 0, 6, 4, 2);
  img.writeFileOffsetPiano(2, 5);
  const auto refused = catchPtr<CFileException>([&] { img.closeImg(); });
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(refused->m_cause, CFileException::invalidFile);
  EXPECT_EQ(readFile(kept), (Bytes{1, 2, 3}));
  img.discard();
  const Bytes garbage(kBlock, 0x55);
  EXPECT_TRUE(throwsPtr<CFileException>(
      [&] { btreeimg::replaceImageFile(kept.c_str(), garbage.data(), garbage.size()); }));
  EXPECT_EQ(readFile(kept), (Bytes{1, 2, 3}));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.file("")), fs::directory_iterator()), 3);
  // Plane counts are checked in full before they are narrowed.
  EXPECT_TRUE(invalidArg([&] { ImageWriter w(dir.file("w.img").c_str(), 0, 4, 4, 65537); }));
}

TEST(ImageWriter, ChoosesEachPlanesEncodingAndKeepsAnExplicitOne) {
  TempDir dir;
  const Lines flat(4, Bytes(16, 9)), lines = {noisy(0), noisy(1), noisy(2), noisy(3)};
  const std::string path = dir.file("mixed.img");
  {
    ImageWriter writer(path.c_str(), ImageWriter::kChooseEncoding, 16, 4, 3);
    for (unsigned y = 0; y < 4; ++y) {
      writer.writeLine(1, y, flat[y].data());
      writer.writeLine(2, y, lines[y].data());
      writer.writeLine(3, y, lines[y].data());  // the last plane too
    }
    EXPECT_EQ(writer.encoding(1), 1);
    EXPECT_EQ(writer.encoding(2), 0);
    EXPECT_EQ(writer.encoding(3), 0);
    writer.commit();
  }
  EXPECT_EQ(fs::file_size(path), 3 * (kBlock + 64));  // no plane grew
  BtreeImg image(path.c_str());
  expectLines(image, {flat, lines, lines});
  EXPECT_EQ(image.isPacked(1), 1);  // saved as chosen

  // Asked for packed planes, the writer refuses what does not fit.
  ImageWriter packed(dir.file("packed.img").c_str(), 1, 16, 4, 2);
  packed.writeLine(1, 0, lines[0].data());
  const auto refused = catchPtr<CFileException>([&] { packed.writeLine(1, 1, lines[1].data()); });
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(refused->m_cause, CFileException::invalidFile);
  EXPECT_TRUE(invalidArg([&] { packed.writeLine(1, 2, flat[2].data()); }));  // out of order
  EXPECT_TRUE(invalidArg([&] { packed.writeLine(1, 0, flat[0].data()); }));  // again: would lose line 1
  EXPECT_TRUE(invalidArg([&] { packed.writeLine(3, 0, flat[0].data()); }));

  // 6 x 4: packed (28 bytes) outgrows raw (24), so raw from the start.
  ImageWriter narrow(dir.file("six.img").c_str(), ImageWriter::kChooseEncoding, 6, 4, 1);
  EXPECT_EQ(narrow.encoding(1), 0);
  narrow.writeLine(1, 3, flat[3].data());
  narrow.commit();
  BtreeImg six(dir.file("six.img").c_str());
  EXPECT_EQ(readLine(six, 0, 1), Bytes(6, 1));
}

// A plane turned raw (midway, or at commit for its zero lines) keeps its
// lines; lines never written read as zeros, not as old packed code.
TEST(ImageWriter, APlaneTurnedRawKeepsItsLinesAndZerosTheRest) {
  TempDir dir;
  const Bytes flat(16, 9), line = noisy(0), zeros(16, 0);
  {
    ImageWriter writer(dir.file("midway.img").c_str(), ImageWriter::kChooseEncoding, 16, 4, 1);
    writer.writeLine(1, 0, flat.data());
    writer.writeLine(1, 1, line.data());
    EXPECT_EQ(writer.encoding(1), 1);
    writer.writeLine(1, 2, line.data());  // 66 bytes of code: no room
    EXPECT_EQ(writer.encoding(1), 0);
    writer.commit();
  }
  {
    ImageWriter writer(dir.file("commit.img").c_str(), ImageWriter::kChooseEncoding, 16, 3, 1);
    writer.writeLine(1, 0, line.data());  // 32 bytes of code: all the room
    EXPECT_EQ(writer.encoding(1), 1);
    writer.commit();
  }
  BtreeImg midway(dir.file("midway.img").c_str()), atCommit(dir.file("commit.img").c_str());
  expectLines(midway, {{flat, line, line, zeros}});
  expectLines(atCommit, {{line, zeros, zeros}});
}

TEST(ImageWriter, KeepsTheColourMapInTheHeaderAndTheFileAndWritesOnlyOnCommit) {
  TempDir dir;
  const std::string path = dir.file("map.img");
  Bytes map(768);
  for (std::size_t i = 0; i < map.size(); ++i) map[i] = static_cast<unsigned char>(i * 5);
  {
    ImageWriter dropped(path.c_str(), 0, 3, 2, 1);
    dropped.setColourMap(map.data());
  }
  EXPECT_FALSE(fs::exists(path));
  ImageWriter writer(path.c_str(), 2, 3, 2, 1);
  writer.setColourMap(map.data());
  writer.commit();
  writer.commit();  // once
  EXPECT_TRUE(invalidArg([&] { writer.writeLine(1, 0, map.data()); }));
  BtreeImg image(path.c_str());
  Bytes read(768);
  image.readMap(read.data());
  EXPECT_EQ(read, map);
  EXPECT_EQ(image.GetRgbHeader(255, 2, 0), static_cast<unsigned char>(767 * 5));
}

}  // namespace
}  // namespace imgtest
