// The tool's PNG reader on its own: interlaced PNGs read in bands of any
// size give the rows of the same picture not interlaced, and a damaged PNG
// is refused naming the file.
#include "PngFile.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ToolSupport.h"
#include "ToolTestSupport.h"

namespace tooltest {
namespace {

std::vector<std::vector<std::uint8_t>> readRows(const std::string& path, std::size_t bandBytes) {
  tool::PngReader reader(path, bandBytes);
  std::vector<std::vector<std::uint8_t>> rows(reader.height(),
                                              std::vector<std::uint8_t>(reader.rowBytes()));
  for (auto& row : rows) reader.readRow(row.data());
  return rows;
}

TEST(PngReader, InterlacedRowsInBandsOfAnySizeAreThoseOfThePlainPicture) {
  testfiles::TempDir dir;
  // 13 x 11: every pass of the interlacing has pixels, some passes only a
  // few columns or rows.
  RawPng pngs[] = {
      {13, 11, PNG_COLOR_TYPE_GRAY, 8, false, {}, {}, {}},
      {13, 11, PNG_COLOR_TYPE_PALETTE, 8, false, {}, {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}, {}},
      {13, 11, PNG_COLOR_TYPE_RGB_ALPHA, 16, false, {}, {}, {}},
  };
  for (RawPng& png : pngs) {
    const std::size_t samples = 13 * 11 * std::size_t(channelsOf(png.colourType));
    for (std::size_t i = 0; i < samples; ++i) {
      const auto value = static_cast<std::uint16_t>(png.palette.empty() ? i * 7 % 256 : i % 3);
      png.samples.push_back(png.bitDepth == 16 ? static_cast<std::uint16_t>(value * 257) : value);
    }
    SCOPED_TRACE("colour type " + std::to_string(png.colourType));
    ASSERT_TRUE(writeRawPng(dir.file("plain.png"), png));
    png.interlaced = true;
    ASSERT_TRUE(writeRawPng(dir.file("interlaced.png"), png));
    const auto plain = readRows(dir.file("plain.png"), tool::PngReader::kBandBytes);
    ASSERT_EQ(plain.size(), 11u);
    // Bands of one row, of three rows, of all rows.
    const std::size_t rowBytes = plain[0].size();
    for (const std::size_t band : {std::size_t{1}, 3 * rowBytes, 11 * rowBytes}) {
      EXPECT_TRUE(readRows(dir.file("interlaced.png"), band) == plain) << "band " << band;
    }
  }
}

TEST(PngReader, ADamagedPngFailsTheRowThatCannotBeDecodedNamingTheFile) {
  testfiles::TempDir dir;
  RawPng png{64, 64, PNG_COLOR_TYPE_GRAY, 8, false, std::vector<std::uint16_t>(64 * 64), {}, {}};
  for (std::size_t i = 0; i < png.samples.size(); ++i) png.samples[i] = static_cast<std::uint16_t>(i * 31 % 256);
  for (const bool interlaced : {false, true}) {
    png.interlaced = interlaced;
    ASSERT_TRUE(writeRawPng(dir.file("in.png"), png));
    testfiles::Bytes bytes = testfiles::readFile(dir.file("in.png"));
    bytes.resize(bytes.size() / 2);
    testfiles::writeFile(dir.file("cut.png"), bytes);
    try {
      readRows(dir.file("cut.png"), 64 * 16);
      ADD_FAILURE() << "a PNG cut in half was read";
    } catch (const tool::Failure& failure) {
      EXPECT_EQ(failure.status, tool::kBadInput);
      EXPECT_THAT(failure.message, ::testing::StartsWith(dir.file("cut.png") + ": "));
    }
  }
}

}  // namespace
}  // namespace tooltest
