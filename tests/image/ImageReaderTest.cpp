// Reading images line by line on demand: every version, encoding and source
// reads what BtreeImg reads; damaged files are refused or read leniently;
// a file cut short while open fails the read, never the process.
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

// Opens `bytes` with BtreeImg and with a strict ImageReader and requires,
// for every line the reader serves, the bytes BtreeImg reads.
void expectSameWhereServed(const Bytes& bytes) {
  DiskImage file{bytes};
  const std::string path = file.save();
  std::unique_ptr<BtreeImg> image;
  std::unique_ptr<ImageReader> reader;
  catchPtr<CException>([&] { image = std::make_unique<BtreeImg>(path.c_str()); });
  catchPtr<CException>([&] { reader = std::make_unique<ImageReader>(path.c_str()); });
  if (reader == nullptr) return;
  // The reader serves the sound planes of a file damaged elsewhere, which
  // BtreeImg may refuse whole (a plane longer than the file could hold).
  if (image == nullptr) {
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

// The words of the CFileException `f` throws, which must be of `cause`; ""
// when it throws none.
template <class F>
std::string refusal(F&& f, int cause = CFileException::invalidFile) {
  const auto refused = catchPtr<CFileException>(std::forward<F>(f));
  if (refused == nullptr) return "";
  EXPECT_EQ(refused->m_cause, cause);
  char text[300];
  refused->GetErrorMessage(text, sizeof text);
  return text;
}

// Whether `text` holds `part`, which is not empty.
bool holds(const std::string& text, const CString& part) {
  return !part.IsEmpty() && text.find(part.GetString()) != std::string::npos;
}

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
  EXPECT_EQ(::lseek(fd, 0, SEEK_CUR), 0);  // the caller's descriptor untouched
  ::close(fd);
  ImageReader reader(file.bytes.data(), file.bytes.size());
  expectSameLines(reader, path);
  // Several lines at once, back to back.
  const Lines plane2 = patternPlane(2, 9, 23);
  Bytes lines(3 * 23);
  EXPECT_EQ(reader.readLines(2, 5, 3, lines.data()), lines.size());
  EXPECT_EQ(lines, concat(concat(plane2[5], plane2[6]), plane2[7]));
  EXPECT_TRUE(invalidArg([&] { reader.readLines(2, 7, 3, lines.data()); }));
}

INSTANTIATE_TEST_SUITE_P(VersionsAndEncodings, ReaderMatrix,
                         ::testing::Combine(::testing::Values(2, 3, 4),
                                            ::testing::Values(0, 1, 2)));

// Version 2 states where plane 1's lines start in the first entry of its
// table: the library never writes anything but 0 there.
TEST(ImageReader, ReadsAVersion2PlaneThatStartsBehindAGap) {
  DiskImage file{buildPatternImage(2, 0, 1, 6, 3).bytes};
  file.bytes.insert(file.bytes.begin() + kBlock, 10, 0xAA);
  put32(file.bytes, 1002, 10);
  const std::string path = file.save();
  ImageReader reader(path.c_str());
  expectSameLines(reader, path);
}

// More lines than the reader notes places for in a whole-plane stream: it
// notes every other line's and decodes from there. The stream's runs of three
// bytes cross lines of four, so that lines start and end inside runs; its
// values do not repeat where a piece of the stream read at once ends.
TEST(ImageReader, ReachesEveryLineOfAVeryTallWholePlane) {
  const unsigned dimy = (1u << 20) + 3;
  // Byte k of the stream, which holds the last line first.
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

TEST(ImageReader, RefusesDamagedFilesInTheInspectionsWordsOrReadsThemLeniently) {
  const BuiltImage built = buildPatternImage(3, 1, 3, 16, 6);
  DiskImage file{built.bytes};
  Bytes& bytes = file.bytes;
  // Line 4 of plane 1 codes to one byte less than the line; line 0 of plane
  // 2 starts (5, a)(5, b), made (0, a)(10, b): the right length, an empty pair.
  const std::size_t code = kBlock + 4 * 7 + get32(bytes, kBlock + 4 * 4);
  bytes[code] = static_cast<unsigned char>(bytes[code] - 1);
  const std::size_t code2 = built.blocks[1] + kBlock + 4 * 7;
  bytes[code2] = 0;
  bytes[code2 + 2] = 10;
  const std::string path = file.save();
  ImageCheck check;
  check.Inspect(bytes.data(), bytes.size());
  ASSERT_EQ(check.GetVerdict(), ImageCheck::damaged);

  ImageReader strict(path.c_str());  // the layout is sound: opens
  Bytes line(16);
  EXPECT_EQ(strict.readLine(1, 3, line.data()), 16u);
  EXPECT_PRED2(holds, refusal([&] { strict.readLine(1, 4, line.data()); }),
               check.Problems().GetAt(0));
  EXPECT_PRED2(holds, refusal([&] { strict.readLine(2, 0, line.data()); }),
               check.Problems().GetAt(1));

  ImageReader lenient(path.c_str(), ImageReader::lenient);
  EXPECT_EQ(lenient.readLine(1, 4, line.data()), 15u);  // its first run one shorter
  EXPECT_EQ(line, concat(slice(patternPlane(1, 6, 16)[4], 1, 15), {0}));

  // Plane 3 of an encoding no reader knows: the file opens, its sound
  // planes are read, plane 3 is refused in the inspection's words for it;
  // read leniently it is zeros.
  Bytes unknown = built.bytes;
  put16(unknown, built.blocks[2] + 4, 7);
  ImageReader sound(unknown.data(), unknown.size());
  EXPECT_EQ(sound.readLine(2, 5, line.data()), 16u);
  EXPECT_PRED2(holds, refusal([&] { sound.readLine(3, 0, line.data()); }),
               "plane 3: encoding 7 is not 0 (raw), 1 (packed) or 2 (whole-plane packed)");
  ImageReader zeros(unknown.data(), unknown.size(), ImageReader::lenient);
  EXPECT_EQ(zeros.readLine(3, 5, line.data()), 0u);
  EXPECT_EQ(line, Bytes(16, 0));

  // Cut short, if only into the last line's code: a layout problem of plane
  // 3, refused when plane 3 is read unless lenient.
  bytes.resize(bytes.size() - 2);
  const std::string cut = file.save("cut.img");
  check.Inspect(bytes.data(), bytes.size(), true);
  ImageReader cutStrict(cut.c_str());
  EXPECT_PRED2(holds, refusal([&] { cutStrict.readLine(3, 0, line.data()); }),
               check.PlaneSummary(3));
  EXPECT_EQ(check.PlaneSummary(3), check.Summary());
  ImageReader cutLenient(cut.c_str(), ImageReader::lenient);
  cutLenient.readLine(3, 5, line.data());  // what the file holds, zeros after

  // A line offset table not starting at 0: a layout problem too.
  Bytes shifted = buildPatternImage(3, 1, 1, 16, 6).bytes;
  put32(shifted, kBlock, 2);
  EXPECT_NE(refusal([&] { ImageReader r(shifted.data(), shifted.size()); }), "");

  // Not an image at all: refused however it is read.
  const Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  EXPECT_TRUE(throwsPtr<CFileException>(
      [&] { ImageReader r(png.data(), png.size(), ImageReader::lenient); }));
}

// The layout of a whole-plane stream is checked at open, its pairs on the
// first read: a strict reader refuses them then, in the inspection's words; a
// lenient one reads what they give, never bytes behind the stream.
TEST(ImageReader, RefusesWholePlaneStreamsThatDoNotDecodeToThePlaneWhenRead) {
  BuiltImage built = buildPatternImage(3, 2, 3, 10, 4);
  DiskImage file{built.bytes};
  Bytes& bytes = file.bytes;
  // Plane 1's stream starts with line 3's runs (5, a)(5, b), made (0, a)(10, b):
  // the right length, an empty pair. Plane 2's states two bytes fewer than it
  // holds, leaving its last pair (line 0's second run) behind the stream.
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

  // A plane of no lines is judged whole all the same: its stream of one
  // pair decodes to 4 bytes, not 0.
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

// A stream whose pairs cover the plane and one byte more is refused when
// read strictly; a damaged packed line of a plane that is not the last is
// read leniently only up to its region's end, never from the next plane's
// header block (whose first pair, 06 00, would give six bytes).
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

// Bytes already read ahead (half a MiB at a time) are kept: the cut shows
// from the next bytes read on, here plane 1's far lines (a whole-plane
// stream, already walked, holds them first) and plane 2's. A lenient reader
// reads what is left, and zeros behind the cut.
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

// What a header states beyond the file costs no more than the file: a plane
// of no lines costs its width (the line buffer a reader of it needs), one of
// empty lines reads as nothing; a damaged plane read leniently whole is
// bounded by what the file can hold, its lines past the end cost no read
// each, and of a packed plane's table only the entries the file holds are kept.
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

  // 1 x 2^28 in 1336 bytes: within the pixel limit, far beyond the file.
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
  // 2^26 lines of a packed plane over a few bytes: refused strictly; read
  // leniently its entries point past the code.
  Bytes packed = buildImage(4, {{1, patternPlane(1, 2, 4)}}).bytes;
  put32(packed, 14, 1u << 26);
  EXPECT_TRUE(throwsPtr<CFileException>([&] { ImageReader r(packed.data(), packed.size()); }));
  ImageReader table(packed.data(), packed.size(), ImageReader::lenient);
  Bytes line(4);
  EXPECT_EQ(table.readLine(1, 1, line.data()), 0u);
  EXPECT_EQ(table.readLine(1, (1u << 26) - 1, line.data()), 0u);
  EXPECT_EQ(line, Bytes(4, 0));
  // A sound file holds what it states.
  const Bytes sound = buildPatternImage(4, 2, 1, 4000, 3).bytes;
  EXPECT_EQ(ImageReader(sound.data(), sound.size()).capacityProblem(), CString());
}

// A created image saved before all its lines were written, as such files
// are found: a raw last plane ending at a line's start, packed lines whose
// end entries are still 0. Every reader reads those lines as zeros, and the
// check calls the file sound with a note; a cut inside a line stays damaged.
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

// The reader reads the same bytes as BtreeImg for every line it serves,
// whatever damage or cut the file has.
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

TEST(ImageReader, RefusesWhatIsNotARegularFileAndUnknownPlanesAndLines) {
  TempDir dir;
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  // Refused at once by every way in, never waited on.
  const int denied = CFileException::accessDenied;
  EXPECT_NE(refusal([&] { ImageReader r(fifo.c_str()); }, denied), "");
  EXPECT_NE(refusal([&] { BtreeImg image(fifo.c_str()); }, denied), "");
  ImageCheck check;
  const int fd = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  EXPECT_EQ(check.InspectDescriptor(fd), ImageCheck::unusable);
  ::close(fd);
  EXPECT_EQ(check.Summary(), CString("cannot be read: not a regular file"));
  // A descriptor that reads nothing (open for writing only, or only as a
  // path) is the system's EBADF, not a file cut short.
  DiskImage disk{buildPatternImage(2, 0, 1, 4, 2).bytes};
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

  const Bytes bytes = buildPatternImage(2, 0, 1, 4, 2).bytes;
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
