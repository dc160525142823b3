// The tool's PNG reader on its own: interlaced PNGs in bands of any size,
// damaged PNGs and headers stating more than the file holds.
#include "PngFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "Failure.h"
#include "ToolTestSupport.h"

namespace tooltest {
namespace {

std::vector<std::vector<std::uint8_t>> readRows(const std::string& path, std::size_t bandBytes) {
  tool::PngReader reader(path, bandBytes);
  std::vector<std::vector<std::uint8_t>> rows(reader.height(), std::vector<std::uint8_t>(reader.rowBytes()));
  for (auto& row : rows) reader.readRow(row.data());
  return rows;
}

// The message of the failure (status 2) reading `path` ends in; "" if read.
std::string refusalOf(const std::string& path, std::size_t bandBytes = tool::PngReader::kBandBytes) {
  try {
    readRows(path, bandBytes);
  } catch (const tool::Failure& failure) {
    EXPECT_EQ(failure.status, tool::kBadInput);
    return failure.message;
  }
  return "";
}

// 13 x 11: every interlacing pass has pixels. Bands of 1, 3 and all rows; a
// cut file fails naming it.
TEST(PngReader, InterlacedRowsInBandsOfAnySizeAreThoseOfThePlainPicture) {
  testfiles::TempDir dir;
  Png pngs[] = {
      picture(13, 11, PNG_COLOR_TYPE_GRAY, 8,
              [](std::uint32_t i, int) { return i * 7 % 256; }),
      palettePng(13, 11, 3, runs(3)),
      picture(13, 11, PNG_COLOR_TYPE_RGB_ALPHA, 16,
              [](std::uint32_t i, int c) {
                return c == 3 ? 65535 : (4 * i + c) * 7 % 256 * 257;
              }),
  };
  for (Png& png : pngs) {
    SCOPED_TRACE("colour type " + std::to_string(png.colourType));
    ASSERT_TRUE(writePng(dir.file("plain.png"), png));
    png.interlaced = true;
    ASSERT_TRUE(writePng(dir.file("interlaced.png"), png));
    const auto plain = readRows(dir.file("plain.png"), tool::PngReader::kBandBytes);
    ASSERT_EQ(plain.size(), 11u);
    const std::size_t rowBytes = plain[0].size();
    for (const std::size_t band : {std::size_t{1}, 3 * rowBytes, 11 * rowBytes}) {
      EXPECT_TRUE(readRows(dir.file("interlaced.png"), band) == plain) << "band " << band;
    }
    for (const char* name : {"plain.png", "interlaced.png"}) {
      testfiles::Bytes bytes = testfiles::readFile(dir.file(name));
      bytes.resize(bytes.size() / 2);
      testfiles::writeFile(dir.file("cut.png"), bytes);
      EXPECT_THAT(refusalOf(dir.file("cut.png"), 3 * rowBytes), ::testing::StartsWith(dir.file("cut.png") + ": "));
    }
  }
}

// Each band re-decodes the file opened first, not one renamed over it; one
// rewritten in place fails the read.
TEST(PngReader, InterlacedBandsAreReadFromTheFileOpenedFirst) {
  testfiles::TempDir dir;
  auto grey = [](std::uint32_t height, int step) {
    Png png = picture(13, height, PNG_COLOR_TYPE_GRAY, 8,
                      [step](std::uint32_t i, int) { return i * step % 256; });
    png.interlaced = true;
    return png;
  };
  const std::string path = dir.file("in.png"), other = dir.file("other.png");
  ASSERT_TRUE(writePng(path, grey(11, 7)));
  const auto rows = readRows(path, 13);
  ASSERT_TRUE(writePng(other, grey(12, 5)));
  {
    tool::PngReader reader(path, 13);  // bands of one row
    std::vector<std::uint8_t> row(13);
    reader.readRow(row.data());
    std::filesystem::rename(other, path);
    for (std::size_t y = 1; y < rows.size(); ++y) {
      reader.readRow(row.data());
      EXPECT_EQ(row, rows[y]) << y;
    }
  }
  tool::PngReader reader(path, 13);
  std::vector<std::uint8_t> row(13);
  reader.readRow(row.data());
  ASSERT_TRUE(writePng(path, grey(11, 7)));  // the same file, rewritten
  try {
    reader.readRow(row.data());
    ADD_FAILURE() << "read a file changed under it";
  } catch (const tool::Failure& failure) {
    EXPECT_EQ(failure.message, path + ": changed while it was read");
  }
}

// A 1 x 1 PNG made to state 60000 x 60000 fails at once; a flat 3000 x 3000
// compressed as far as it goes is read.
TEST(PngReader, AHeaderStatingMoreThanItsDataCanHoldFailsAtOnce) {
  testfiles::TempDir dir;
  ASSERT_TRUE(writePng(dir.file("tiny.png"), picture(1, 1, PNG_COLOR_TYPE_GRAY, 8, [](std::uint32_t, int) { return 7; })));
  testfiles::Bytes bytes = testfiles::readFile(dir.file("tiny.png"));
  for (const std::size_t at : {18u, 22u}) {  // IHDR's width and height, big-endian
    bytes.at(at) = 0xea;
    bytes.at(at + 1) = 0x60;
  }
  const uLong crc = crc32(0, bytes.data() + 12, 17);  // the chunk's type and data
  for (int i = 0; i < 4; ++i) bytes.at(29 + static_cast<std::size_t>(i)) = static_cast<unsigned char>(crc >> (24 - 8 * i));
  testfiles::writeFile(dir.file("huge.png"), bytes);
  EXPECT_EQ(refusalOf(dir.file("huge.png")),
            dir.file("huge.png") + ": states 60000 x 60000 pixels, which its " +
                std::to_string(bytes.size()) +
                " bytes cannot hold (PNG data expands "
                "at most 1032-fold); it is damaged or cut short");
  const Png flat = picture(3000, 3000, PNG_COLOR_TYPE_GRAY, 8, [](std::uint32_t, int) { return 0; });
  ASSERT_TRUE(writePng(dir.file("flat.png"), flat, 9));
  EXPECT_EQ(refusalOf(dir.file("flat.png")), "");
}

}  // namespace
}  // namespace tooltest
