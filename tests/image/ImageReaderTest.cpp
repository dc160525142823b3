// ImageReader: every version, encoding and source reads what BtreeImg reads;
// damage is refused or read leniently, never beyond the file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>
#include <rapidcheck/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

#include "image/ImageCheck.h"
#include "image/ImageFiles.h"
#include "image/ImageReader.h"

namespace imgtest {
namespace {

using btreeimg::ImageReader;

// Every line of every plane through `reader`, as BtreeImg reads them.
void expectSameLines(ImageReader& reader, const std::string& path) {
  BtreeImg image(path.c_str());
  ASSERT_EQ(reader.planes(), image.nPiani());
  ASSERT_EQ(reader.width(), image.dimx(1));
  ASSERT_EQ(reader.height(), image.dimy(1));
  for (int p = 1; p <= reader.planes(); ++p) {
    for (unsigned y = 0; y < reader.height(); ++y) {
      Bytes line(reader.width(), 0xEE);
      EXPECT_EQ(reader.readLine(p, y, line.data()), reader.width());
      EXPECT_EQ(line, readLine(image, y, static_cast<short>(p), 0)) << p << ":" << y;
    }
  }
}

// For every line a strict reader of `bytes` serves, what BtreeImg reads.
void expectSameWhereServed(const Bytes& bytes) {
  DiskImage file{bytes};
  const std::string path = file.save();
  std::unique_ptr<BtreeImg> image;
  std::unique_ptr<ImageReader> reader;
  catchPtr<CException>([&] { image = std::make_unique<BtreeImg>(path.c_str()); });
  catchPtr<CException>([&] { reader = std::make_unique<ImageReader>(path.c_str()); });
  if (reader == nullptr) return;
  if (image ==
      nullptr) {  // BtreeImg may refuse a file the reader serves in part
    RC_ASSERT(ImageCheck().Inspect(bytes.data(), bytes.size()) != ImageCheck::sound);
    return;
  }
  for (int p = 1; p <= reader->planes(); ++p) {
    for (unsigned y = 0; y < reader->height(); ++y) {
      Bytes line(reader->width());
      if (catchPtr<CFileException>([&] { reader->readLine(p, y, line.data()); })) continue;
      RC_ASSERT(line == readLine(*image, y, static_cast<short>(p), 0));
    }
  }
}

// The words of the CFileException (of `cause`) `f` throws; "" if none.
template <class F>
std::string refusal(F&& f, int cause = CFileException::invalidFile) {
  const auto refused = catchPtr<CFileException>(std::forward<F>(f));
  if (refused == nullptr) return "";
  EXPECT_EQ(refused->m_cause, cause);
  char text[300];
  refused->GetErrorMessage(text, sizeof text);
  return text;
}

bool holds(const std::string& text, const CString& part) {
  return !part.IsEmpty() && text.find(part.GetString()) != std::string::npos;
}

// From a path, a descriptor (left where it was) and memory; several lines at
// once.
class ReaderMatrix : public ::testing::TestWithParam<std::tuple<int, int>> {};

TEST_P(ReaderMatrix, ReadsWhatTheImageReadsFromEverySource) {
  const auto [version, pack] = GetParam();
  DiskImage file{buildPatternImage(version, pack, version == 3 ? 3 : 2, 23, 9).bytes};
  const std::string path = file.save();
  {
    ImageReader reader(path.c_str());
    EXPECT_EQ(reader.version(), version);
    EXPECT_EQ(reader.encoding(2), pack);
    Bytes map(768);
    reader.colourMap(map.data());
    EXPECT_EQ(map[3 * 200 + 1], mapByte(200, 1));
    expectSameLines(reader, path);
  }
  const int fd = ::open(path.c_str(), O_RDONLY);
  {
    ImageReader reader(fd);
    expectSameLines(reader, path);
  }
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 0);
  ::close(fd);
  ImageReader reader(file.bytes.data(), file.bytes.size());
  expectSameLines(reader, path);
  const Lines plane2 = patternPlane(2, 9, 23);
  Bytes lines(3 * 23);
  EXPECT_EQ(reader.readLines(2, 5, 3, lines.data()), lines.size());
  EXPECT_EQ(lines, concat(concat(plane2[5], plane2[6]), plane2[7]));
  EXPECT_TRUE(invalidArg([&] { reader.readLines(2, 7, 3, lines.data()); }));
}

INSTANTIATE_TEST_SUITE_P(VersionsAndEncodings, ReaderMatrix,
                         ::testing::Combine(::testing::Values(2, 3, 4),
                                            ::testing::Values(0, 1, 2)));

// Version 2 states where plane 1's lines start (the library writes only 0).
TEST(ImageReader, ReadsAVersion2PlaneThatStartsBehindAGap) {
  DiskImage file{buildPatternImage(2, 0, 1, 6, 3).bytes};
  file.bytes.insert(file.bytes.begin() + kBlock, 10, 0xAA);
  put32(file.bytes, 1002, 10);
  const std::string path = file.save();
  ImageReader reader(path.c_str());
  expectSameLines(reader, path);
}

// Over 2^20 lines of a whole-plane stream: every other line's place noted;
// runs of three cross lines of four and the pieces read at once.
TEST(ImageReader, ReachesEveryLineOfAVeryTallWholePlane) {
  const unsigned dimy = (1u << 20) + 3;
  const auto value = [](unsigned k) { return static_cast<unsigned char>(k / 3 * 7 + k / 3000); };
  Lines lines(dimy);
  for (unsigned y = 0; y < dimy; ++y)
    for (unsigned k = 4 * (dimy - 1 - y); lines[y].size() < 4; ++k) lines[y].push_back(value(k));
  const Bytes file = buildImage(4, {{2, lines}}).bytes;
  EXPECT_EQ(ImageCheck().Inspect(file.data(), file.size()), ImageCheck::sound);
  ImageReader reader(file.data(), file.size());
  EXPECT_EQ(reader.planeCost(), 4 * dimy);
  Bytes line(4);
  for (unsigned y : {0u, 1u, 2u, 3u, 1000001u, dimy - 5, dimy - 2, dimy - 1}) {
    reader.readLine(1, y, line.data());
    EXPECT_EQ(line, lines[y]) << y;
  }
}

// Damaged lines, an unknown encoding, a cut, a shifted table, no image: refused
// strictly in the inspection's words, read leniently.
TEST(ImageReader, RefusesDamagedFilesInTheInspectionsWordsOrReadsThemLeniently) {
  const BuiltImage built = buildPatternImage(3, 1, 3, 16, 6);
  DiskImage file{built.bytes};
  Bytes& bytes = file.bytes;
  // Plane 1 line 4 a byte short; plane 2 line 0's (5, a)(5, b) made (0, a)(10,
  // b).
  const std::size_t code = kBlock + 4 * 7 + get32(bytes, kBlock + 4 * 4);
  bytes[code] = static_cast<unsigned char>(bytes[code] - 1);
  const std::size_t code2 = built.blocks[1] + kBlock + 4 * 7;
  bytes[code2] = 0;
  bytes[code2 + 2] = 10;
  const std::string path = file.save();
  ImageCheck check;
  check.Inspect(bytes.data(), bytes.size());
  ASSERT_EQ(check.GetVerdict(), ImageCheck::damaged);

  ImageReader strict(path.c_str());
  Bytes line(16);
  EXPECT_EQ(strict.readLine(1, 3, line.data()), 16u);
  EXPECT_PRED2(holds, refusal([&] { strict.readLine(1, 4, line.data()); }),
               check.Problems().GetAt(0));
  EXPECT_PRED2(holds, refusal([&] { strict.readLine(2, 0, line.data()); }),
               check.Problems().GetAt(1));

  ImageReader lenient(path.c_str(), ImageReader::lenient);
  EXPECT_EQ(lenient.readLine(1, 4, line.data()), 15u);  // its first run one shorter
  EXPECT_EQ(line, concat(slice(patternPlane(1, 6, 16)[4], 1, 15), {0}));

  // Plane 3 of encoding 7: refused in the inspection's words, leniently zeros.
  Bytes unknown = built.bytes;
  put16(unknown, built.blocks[2] + 4, 7);
  ImageReader sound(unknown.data(), unknown.size());
  EXPECT_EQ(sound.readLine(2, 5, line.data()), 16u);
  EXPECT_PRED2(holds, refusal([&] { sound.readLine(3, 0, line.data()); }),
               "plane 3: encoding 7 is not 0 (raw), 1 (packed) or 2 (whole-plane packed)");
  ImageReader zeros(unknown.data(), unknown.size(), ImageReader::lenient);
  EXPECT_EQ(zeros.readLine(3, 5, line.data()), 0u);
  EXPECT_EQ(line, Bytes(16, 0));

  // Cut into the last line: plane 3's layout problem.
  bytes.resize(bytes.size() - 2);
  const std::string cut = file.save("cut.img");
  check.Inspect(bytes.data(), bytes.size(), true);
  ImageReader cutStrict(cut.c_str());
  EXPECT_PRED2(holds, refusal([&] { cutStrict.readLine(3, 0, line.data()); }),
               check.PlaneSummary(3));
  EXPECT_EQ(check.PlaneSummary(3), check.Summary());
  ImageReader cutLenient(cut.c_str(), ImageReader::lenient);
  cutLenient.readLine(3, 5, line.data());  // what the file holds, zeros after

  Bytes shifted = buildPatternImage(3, 1, 1, 16, 6).bytes;
  put32(shifted, kBlock, 2);
  EXPECT_NE(refusal([&] { ImageReader r(shifted.data(), shifted.size()); }), "");

  const Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  EXPECT_TRUE(throwsPtr<CFileException>(
      [&] { ImageReader r(png.data(), png.size(), ImageReader::lenient); }));
}

// A whole-plane stream's pairs are checked on the first read: refused
// strictly, read leniently up to the stream's end.
TEST(ImageReader, RefusesWholePlaneStreamsThatDoNotDecodeToThePlaneWhenRead) {
  BuiltImage built = buildPatternImage(3, 2, 3, 10, 4);
  DiskImage file{built.bytes};
  Bytes& bytes = file.bytes;
  // Plane 1: line 3's (5, a)(5, b) made (0, a)(10, b); plane 2's stream two
  // bytes short.
  bytes[kBlock + 8] = 0;
  bytes[kBlock + 10] = 10;
  const std::size_t head2 = built.blocks[1] + kBlock;
  put32(bytes, head2 + 4, get32(bytes, head2 + 4) - 2);
  const std::string path = file.save();
  ImageCheck check;
  ASSERT_EQ(check.Inspect(bytes.data(), bytes.size()), ImageCheck::damaged);

  ImageReader strict(path.c_str());
  Bytes line(10);
  for (int plane : {1, 2}) {
    EXPECT_PRED2(holds, refusal([&] { strict.readLine(plane, 0, line.data()); }),
                 check.PlaneSummary(plane));
  }
  EXPECT_EQ(strict.readLine(3, 0, line.data()), 10u);

  // No lines, but a stream of 4 bytes: refused all the same.
  Bytes empty = buildPatternImage(4, 2, 1, 4, 0).bytes;
  put32(empty, kBlock + 4, 2);
  empty.insert(empty.end(), {4, 7});
  ImageReader noLines(empty.data(), empty.size());
  EXPECT_NE(refusal([&] { noLines.readLines(1, 0, 0, line.data()); }), "");

  ImageReader lenient(path.c_str(), ImageReader::lenient);
  EXPECT_EQ(lenient.readLine(1, 3, line.data()), 10u);
  EXPECT_EQ(line, Bytes(10, patternPlane(1, 4, 10)[3][5]));
  EXPECT_EQ(lenient.readLine(2, 0, line.data()), 5u);  // nothing behind the stream
}

// A stream one byte too long is refused; a packed line is read only up to its
// region's end, never from the next plane's block (whose 06 00 gives 6 bytes).
TEST(ImageReader, ReadsNoCodeBeyondThePlaneOrItsRegion) {
  BuiltImage whole = buildPatternImage(2, 2, 1, 6, 5);
  whole.bytes.insert(whole.bytes.end(), {1, 7});
  put32(whole.bytes, kBlock + 4, get32(whole.bytes, kBlock + 4) + 2);
  ImageCheck check;
  ASSERT_EQ(check.Inspect(whole.bytes.data(), whole.bytes.size()), ImageCheck::damaged);
  ImageReader strict(whole.bytes.data(), whole.bytes.size());
  Bytes line(6);
  EXPECT_PRED2(holds, refusal([&] { strict.readLine(1, 4, line.data()); }), check.Summary());

  BuiltImage packed = buildPatternImage(2, 1, 2, 6, 5);
  const unsigned end = get32(packed.bytes, kBlock + 20);
  ASSERT_EQ(kBlock + 24 + end, packed.blocks[1]);  // the code ends at plane 2's block
  put32(packed.bytes, kBlock + 16, end);           // line 4: only what lies behind
  put32(packed.bytes, kBlock + 20, end + 2);
  ImageReader lenient(packed.bytes.data(), packed.bytes.size(), ImageReader::lenient);
  EXPECT_EQ(lenient.readLine(1, 4, line.data()), 0u);
  EXPECT_EQ(line, Bytes(6));
}

// Read-ahead (half a MiB) is kept; the cut shows in the lines read next. A
// lenient reader reads what is left, then zeros.
TEST(ImageReader, AFileCutShortWhileOpenFailsTheReadNotTheProcess) {
  for (int pack : {0, 1, 2}) {
    SCOPED_TRACE(pack);
    DiskImage file{buildPatternImage(2, pack, 2, 1024, 2048).bytes};
    const std::string path = file.save();
    ImageReader reader(path.c_str());
    ImageReader lenient(path.c_str(), ImageReader::lenient);
    Bytes all(1024 * 2048, 0xEE);
    EXPECT_EQ(reader.readLine(1, 0, all.data()), 1024u);
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(kBlock + 100)), 0);
    for (int plane : {1, 2}) {
      EXPECT_NE(refusal([&] { reader.readLines(plane, 0, 2048, all.data()); },
                        CFileException::endOfFile),
                "") << plane;
    }
    if (pack != 0) continue;
    std::fill(all.begin(), all.end(), 0xEE);
    EXPECT_EQ(lenient.readLines(1, 0, 2048, all.data()), 100u);
    EXPECT_EQ(slice(all, 0, 100), slice(patternPlane(1, 1, 1024)[0], 0, 100));
    EXPECT_EQ(std::count(all.begin() + 100, all.end(), 0), 1024 * 2048 - 100);
  }
}

// What a header states beyond the file costs no more than the file: no lines
// cost the width, empty lines read nothing, lenient reads stay in the file.
TEST(ImageReader, BoundsWhatAHeaderStatesBeyondTheFile) {
  Bytes wide = buildPatternImage(4, 0, 1, 0, 0).bytes;
  put32(wide, 10, 0x80000000u);
  ImageReader noLines(wide.data(), wide.size());
  EXPECT_EQ(noLines.planeCost(), 0x80000000u);
  EXPECT_EQ(noLines.limitProblem(ImageReader::kDefaultPixelLimit),
            CString("the image states 2147483648 x 0 pixels, more than the limit of 268435456"));
  for (int pack : {0, 1, 2}) {
    const Bytes bytes = buildPatternImage(4, pack, 1, 0, 3).bytes;
    ImageReader empty(bytes.data(), bytes.size());
    unsigned char untouched = 0xEE;
    EXPECT_EQ(empty.readLine(1, 2, &untouched), 0u) << pack;
    EXPECT_EQ(untouched, 0xEE);
  }

  DiskImage tall{buildPatternImage(4, 0, 1, 1, 24).bytes};
  put32(tall.bytes, 14, 1u << 28);
  const std::string path = tall.save();
  ImageReader lenient(path.c_str(), ImageReader::lenient);
  EXPECT_EQ(lenient.limitProblem(ImageReader::kDefaultPixelLimit), CString());
  EXPECT_EQ(lenient.capacityProblem(),
            CString("the image states 1 x 268435456 pixels, more than its 1336 bytes "
                    "can hold (at most 128 pixels a byte)"));
  unsigned char pixel = 0xEE;
  EXPECT_EQ(lenient.readLine(1, 23, &pixel), 1u);
  for (unsigned y = 24; y < 100000; ++y) lenient.readLine(1, y, &pixel);
  EXPECT_EQ(lenient.readLine(1, (1u << 28) - 1, &pixel), 0u);
  EXPECT_EQ(pixel, 0);
  // 2^26 packed lines over a few bytes.
  Bytes packed = buildImage(4, {{1, patternPlane(1, 2, 4)}}).bytes;
  put32(packed, 14, 1u << 26);
  EXPECT_TRUE(throwsPtr<CFileException>([&] { ImageReader r(packed.data(), packed.size()); }));
  ImageReader table(packed.data(), packed.size(), ImageReader::lenient);
  Bytes line(4);
  EXPECT_EQ(table.readLine(1, 1, line.data()), 0u);
  EXPECT_EQ(table.readLine(1, (1u << 26) - 1, line.data()), 0u);
  EXPECT_EQ(line, Bytes(4, 0));
  const Bytes sound = buildPatternImage(4, 2, 1, 4000, 3).bytes;
  EXPECT_EQ(ImageReader(sound.data(), sound.size()).capacityProblem(), CString());
}

// Saved before all lines were written (raw cut at a line's start, packed end
// entries 0): sound with a note, zeros to every reader; a cut mid-line is
// damage.
TEST(ImageReader, LinesNeverWrittenReadAsZerosEverywhere) {
  const Lines lines = patternPlane(1, 5, 6);
  Bytes raw = buildImage(2, {{0, lines}}).bytes;
  raw.resize(kBlock + 2 * 6);
  Bytes packed = buildImage(2, {{1, lines}}).bytes;
  const unsigned twoLines = get32(packed, kBlock + 8);
  for (unsigned entry : {3u, 4u, 5u}) put32(packed, kBlock + 4 * entry, 0);
  packed.resize(kBlock + 24 + twoLines);
  const Lines expected = {lines[0], lines[1], Bytes(6), Bytes(6), Bytes(6)};
  for (const Bytes& bytes : {raw, packed}) {
    ImageCheck check;
    ASSERT_EQ(check.Inspect(bytes.data(), bytes.size()), ImageCheck::sound) << check.Summary();
    ASSERT_EQ(check.Notes().GetSize(), 1);
    EXPECT_EQ(check.Notes().GetAt(0),
              CString("plane 1: lines 2-4 were never written; they read as zeros"));
    DiskImage file{bytes};
    const std::string path = file.save();
    ImageReader reader(path.c_str());
    Bytes all(5 * 6, 0xEE);
    EXPECT_EQ(reader.readLines(1, 0, 5, all.data()), 12u);
    BtreeImg image(path.c_str());
    for (unsigned y = 0; y < 5; ++y) {
      EXPECT_EQ(slice(all, 6 * y, 6), expected[y]) << y;
      EXPECT_EQ(readLine(image, y, 1), expected[y]) << y;
      EXPECT_EQ(bufferLine(image, 4 - y, 1), expected[4 - y]) << y;
    }
  }
  raw.resize(raw.size() - 1);
  EXPECT_EQ(ImageCheck().Inspect(raw.data(), raw.size()), ImageCheck::damaged);
}

// Whatever the damage or cut, every line served is what BtreeImg reads.
RC_GTEST_PROP(ImageReaderProperty, ServesWhatBtreeImgReads, ()) {
  const int version = *rc::gen::element(2, 3, 4);
  const int pack = *rc::gen::inRange(0, 3);
  const int planes = *rc::gen::inRange(1, 4);
  const unsigned dimx = *rc::gen::inRange(1u, 12u);
  const unsigned dimy = *rc::gen::inRange(1u, 8u);
  Bytes bytes = buildPatternImage(version, pack, planes, dimx, dimy).bytes;
  const auto damage = *rc::gen::container<std::vector<std::pair<unsigned, unsigned char>>>(
      rc::gen::pair(rc::gen::arbitrary<unsigned>(), rc::gen::arbitrary<unsigned char>()));
  for (const auto& [at, value] : damage) bytes[kBlock + at % (bytes.size() - kBlock)] = value;
  bytes.resize(*rc::gen::inRange<std::size_t>(kBlock, bytes.size() + 1));
  expectSameWhereServed(bytes);
}

// A fifo or an unreadable descriptor is refused at once; planes and lines
// outside the image are invalid arguments.
TEST(ImageReader, RefusesWhatIsNotARegularFileAndUnknownPlanesAndLines) {
  TempDir dir;
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int denied = CFileException::accessDenied;
  EXPECT_NE(refusal([&] { ImageReader r(fifo.c_str()); }, denied), "");
  EXPECT_NE(refusal([&] { BtreeImg image(fifo.c_str()); }, denied), "");
  ImageCheck check;
  const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  EXPECT_EQ(check.InspectDescriptor(fd), ImageCheck::unusable);
  ::close(fd);
  EXPECT_EQ(check.Summary(), CString("cannot be read: not a regular file"));
  const Bytes bytes = buildPatternImage(2, 0, 1, 4, 2).bytes;
  DiskImage disk{bytes};
  const std::string image = disk.save();
  for (const int flags : {O_WRONLY, O_PATH}) {
    const int unreadable = ::open(image.c_str(), flags);
    const auto refused = catchPtr<CFileException>([&] { ImageReader r(unreadable); });
    ASSERT_NE(refused, nullptr) << flags;
    EXPECT_EQ(refused->m_lOsError, EBADF);
    EXPECT_EQ(check.InspectDescriptor(unreadable), ImageCheck::unusable);
    EXPECT_EQ(check.Summary(), CString("cannot be read: ") + std::strerror(EBADF));
    ::close(unreadable);
  }
  ImageReader reader(bytes.data(), bytes.size());
  Bytes line(4);
  EXPECT_EQ(reader.planeCost(), 8u);
  EXPECT_EQ(reader.limitProblem(8), CString());
  EXPECT_EQ(reader.limitProblem(7),
            CString("the image states 4 x 2 pixels, more than the limit of 7"));
  EXPECT_TRUE(invalidArg([&] { reader.readLine(2, 0, line.data()); }));
  EXPECT_TRUE(invalidArg([&] { reader.readLine(0, 0, line.data()); }));
  EXPECT_TRUE(invalidArg([&] { reader.readLine(1, 2, line.data()); }));
}

}  // namespace
}  // namespace imgtest
