// Reading and writing the PNG files the tool exchanges with images, one row
// at a time, so that neither side ever holds a whole picture.
#ifndef BTREEIMG_TOOLS_PNGFILE_H_
#define BTREEIMG_TOOLS_PNGFILE_H_

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Pixels.h"

namespace tool {

class Progress;

// A PNG opened for reading, its rows delivered top to bottom. What a row
// holds depends on the PNG's kind:
//   kPalette: one byte per pixel, the index into palette() as stored;
//   kGrey:    one byte per pixel, the grey level's high byte;
//   kRgb:     four bytes per pixel, red, green, blue and alpha (always 255).
//             A 16-bit PNG is delivered in 8 bits only where that keeps
//             every sample exactly (a 16-bit sample s is kept when
//             s = 257 x (s >> 8)); any other sample fails the read.
// Image files hold no transparency: a pixel that is not fully opaque, in
// any kind (an alpha channel below its maximum, 65535 at 16 bits; the tRNS
// colour or grey level; a palette entry whose tRNS alpha is below 255),
// fails the read, the message naming the pixel and its alpha.
// An interlaced PNG is decoded in bands of rows of at most `bandBytes` (at
// least one row); one larger than a band is decoded again from the start
// for each band, so the reader never holds more than a band of rows. The
// file is opened once and every decoding reads that open file: replacing
// it meanwhile changes nothing, and rewriting it in place so that its
// header changes fails the read.
class PngReader {
 public:
  enum Kind { kPalette, kGrey, kRgb };
  static constexpr std::size_t kBandBytes = std::size_t{32} << 20;

  // Opens `path` and reads its header. Fails with kBadInput, the message
  // naming the file, for a file that cannot be opened or is not a regular
  // file, is no PNG, is damaged, holds a pixel format the tool cannot read,
  // or states more pixels than its size can hold (so that nothing is made
  // of the stated size before a row is read).
  explicit PngReader(const std::string& path, std::size_t bandBytes = kBandBytes);
  PngReader(const PngReader&) = delete;
  PngReader& operator=(const PngReader&) = delete;
  ~PngReader();

  const std::string& path() const { return path_; }
  std::uint32_t width() const { return width_; }
  std::uint32_t height() const { return height_; }
  Kind kind() const { return kind_; }
  // kPalette: the PNG's palette (1 to 256 entries); otherwise empty.
  const std::vector<Rgb>& palette() const { return palette_; }
  // Bytes in a row: width() for kPalette and kGrey, 4 x width() for kRgb.
  std::size_t rowBytes() const { return rowBytes_; }

  // Reads the next row into `row` (rowBytes() bytes). After the last row
  // the file is closed and the rows' memory released.
  // REQUIRES: fewer than height() rows read so far.
  // Fails with kBadInput, naming the file, when the PNG is damaged or the
  // row holds a pixel that cannot be imported.
  void readRow(std::uint8_t* row);

 private:
  struct Decoder;
  // Opens the file, once: every decoding reads it through fd_.
  void openFile();
  // Starts decoding from the first row; refuses a header that differs
  // from the one read first (the file was rewritten in place).
  void open();
  void requireData() const;
  // Turns a decoded row into the row delivered, refusing what cannot be
  // imported. `decoded` may be `row` itself.
  void deliver(const std::uint8_t* decoded, std::uint8_t* row);
  [[noreturn]] void refuseTranslucent(std::uint32_t x, unsigned alpha, unsigned opaque) const;
  void decodeBand(std::uint32_t first);
  [[noreturn]] void failRead();

  std::string path_;
  std::uint32_t width_ = 0, height_ = 0;
  Kind kind_ = kGrey;
  std::vector<Rgb> palette_;
  std::vector<std::uint8_t> paletteAlpha_;  // tRNS: the first entries' alpha
  std::size_t rowBytes_ = 0;
  std::uint32_t nextRow_ = 0;
  std::size_t bandBytes_;
  int fd_ = -1;
  std::unique_ptr<Decoder> decoder_;
  // Interlaced PNGs: the rows [bandFirst_, bandFirst_ + bandRows_) decoded.
  bool interlaced_ = false;
  std::vector<std::uint8_t> band_;
  std::uint32_t bandFirst_ = 0, bandRows_ = 0;
};

// An 8-bit palette PNG written row by row. The rows go to a private
// temporary file through the library's safe replacement (never to `path`
// itself); finish() replaces `path` with the complete PNG. A writer
// destroyed without finish() leaves `path` as it was. The path "-" is the
// standard output, written as the rows come (a failure leaves what was
// written); it is refused when it is a terminal.
class PngWriter {
 public:
  // A PNG of `width` x `height` with `palette` (1 to 256 entries), written
  // at libpng's default compression. Fails with kCannotWrite, naming the
  // file, when the temporary file cannot be created or libpng refuses the
  // header.
  PngWriter(const std::string& path, std::uint32_t width, std::uint32_t height,
            const std::vector<Rgb>& palette);
  PngWriter(const PngWriter&) = delete;
  PngWriter& operator=(const PngWriter&) = delete;
  ~PngWriter();

  // Writes the next row (width bytes of palette indices).
  // REQUIRES: fewer than height rows written so far.
  // Fails with kCannotWrite, naming the file.
  void writeRow(const std::uint8_t* row);
  // Ends the PNG and replaces `path` with it.
  // REQUIRES: every row written. Fails with kCannotWrite, naming the file.
  void finish();

 private:
  struct Encoder;
  [[noreturn]] void failWrite(const std::string& what);

  std::string path_;
  std::unique_ptr<Encoder> encoder_;
};

// Writes `image` through a PngWriter. `progress` (may be null) is advanced
// by one per row from `doneBefore`. Fails with kCannotWrite.
void writePng(const std::string& path, const IndexedImage& image,
              const std::vector<Rgb>& palette, Progress* progress = nullptr,
              std::uint64_t doneBefore = 0);

}  // namespace tool

#endif  // BTREEIMG_TOOLS_PNGFILE_H_
