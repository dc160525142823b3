// libpng reports errors by longjmp. Every libpng call below sits in a small
// function of its own that creates no object with a destructor after its
// setjmp, so that a jump never skips one; the C++ objects involved belong to
// the callers.
#include "PngFile.h"

#include <fcntl.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "Progress.h"
#include "Failure.h"
#include "InputFiles.h"
#include "framework/Exceptions.h"
#include "framework/FileReplacement.h"

namespace tool {

namespace {

// Where libpng's error handler leaves its text.
struct ErrorText {
  char text[256] = "";
};

void onError(png_structp png, png_const_charp text) {
  auto* error = static_cast<ErrorText*>(png_get_error_ptr(png));
  std::snprintf(error->text, sizeof error->text, "%s", text);
  png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

// What the header of a PNG says, after the transforms are set.
struct Head {
  int colourType = 0;
  int bitDepth = 0;
  int passes = 1;
  png_uint_32 width = 0, height = 0;
  std::size_t codedBytes = 0;    // a row as the file codes it, before filtering
  std::size_t decodedBytes = 0;  // a decoded row
  int channels = 1;              // decoded samples a pixel: 1, 2 (grey, alpha) or 4 (RGBA)
  int sampleBytes = 1;           // bytes a decoded sample: 1, or 2 for 16 bits
  png_colorp colours = nullptr;  // the palette, owned by libpng
  int colourCount = 0;
  png_bytep paletteAlpha = nullptr;  // the palette's alpha (tRNS), owned by libpng
  int paletteAlphaCount = 0;         // entries past it are opaque
  const char* refusal = nullptr;  // a PNG read fine but not importable
};

// What libpng may make of a PNG's chunks. The rows are decoded a row at a
// time, and the only chunks besides the image data that a conversion needs
// are the header, the palette (768 bytes at most) and its transparency
// (256): every other chunk (text, colour profiles, suggested palettes, ...)
// is passed over unread, so that a chunk that states gigabytes costs
// nothing, and no chunk may make libpng allocate more than a MiB. Widths
// and heights up to PNG's own limit are accepted; the commands hold them to
// their pixel limit.
void limitChunks(png_structp png) {
  constexpr png_uint_32 kPngMost = 0x7fffffff;
  png_set_user_limits(png, kPngMost, kPngMost);
  png_set_chunk_malloc_max(png, png_alloc_size_t{1} << 20);
  png_set_chunk_cache_max(png, 16);
  png_set_keep_unknown_chunks(png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
}

// Reads the header and sets the transforms that give the decoded rows:
// bytes of indices or grey levels, grey and alpha (8 or 16 bits a sample,
// for grey with transparency), or RGBA (8 or 16 bits a sample). Every form
// that can hold transparency keeps it, so that PngReader sees it. Returns
// false on a libpng error or a refusal.
bool readHead(png_structp png, png_infop info, std::FILE* file, Head& head) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  limitChunks(png);
  png_read_info(png, info);
  const int type = png_get_color_type(png, info);
  const int depth = png_get_bit_depth(png, info);
  const bool keyed = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  head.codedBytes = png_get_rowbytes(png, info);
  if (type == PNG_COLOR_TYPE_PALETTE) {
    if (png_get_PLTE(png, info, &head.colours, &head.colourCount) == 0 ||
        head.colourCount < 1) {
      head.refusal = "is a palette PNG without a palette";
      return false;
    }
    if (keyed) png_get_tRNS(png, info, &head.paletteAlpha, &head.paletteAlphaCount, nullptr);
    if (depth < 8) png_set_packing(png);
  } else if ((type & PNG_COLOR_MASK_COLOR) != 0) {
    // RGB keeps every bit; a tRNS colour becomes an alpha channel, and
    // opaque RGB gets one, so that every row is RGBA.
    if (keyed) {
      png_set_tRNS_to_alpha(png);
    } else if ((type & PNG_COLOR_MASK_ALPHA) == 0) {
      png_set_filler(png, 0xffff, PNG_FILLER_AFTER);
    }
    head.channels = 4;
    head.sampleBytes = depth / 8;
  } else if ((type & PNG_COLOR_MASK_ALPHA) != 0 || keyed) {
    // Grey with transparency: a tRNS level becomes an alpha channel, and
    // 16 bits stay 16, so that alpha 65280 is not taken for opaque.
    if (depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (keyed) png_set_tRNS_to_alpha(png);
    head.channels = 2;
    head.sampleBytes = depth == 16 ? 2 : 1;
  } else {
    if (depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (depth == 16) png_set_strip_16(png);
  }
  head.passes = png_set_interlace_handling(png);
  png_read_update_info(png, info);
  head.colourType = type;
  head.bitDepth = depth;
  head.width = png_get_image_width(png, info);
  head.height = png_get_image_height(png, info);
  head.decodedBytes = png_get_rowbytes(png, info);
  return true;
}

bool readOneRow(png_structp png, png_bytep row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_row(png, row, nullptr);
  return true;
}

// Decodes an interlaced PNG from its first row up to the end of the band
// [first, first + count): rows of the band go to `band` (`stride` bytes
// apart), every other row to `scratch`. Stops in the last pass behind the
// band, leaving the rest of the file unread.
bool readBand(png_structp png, int passes, png_uint_32 height, png_uint_32 first,
              png_uint_32 count, png_bytep band, std::size_t stride, png_bytep scratch) {
  if (setjmp(png_jmpbuf(png))) return false;
  for (int pass = 0; pass < passes; ++pass) {
    const png_uint_32 end = pass + 1 == passes ? first + count : height;
    for (png_uint_32 y = 0; y < end; ++y) {
      const bool inBand = y >= first && y < first + count;
      png_read_row(png, inBand ? band + std::size_t{y - first} * stride : scratch, nullptr);
    }
  }
  return true;
}

bool writeHead(png_structp png, png_infop info, std::FILE* file, png_uint_32 width,
               png_uint_32 height, const png_color* colours, int count) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  // PNG allows 2^31 - 1 pixels a side; libpng's default is lower.
  png_set_user_limits(png, 0x7fffffff, 0x7fffffff);
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_PALETTE, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_PLTE(png, info, colours, count);
  png_write_info(png, info);
  return true;
}

bool writeOneRow(png_structp png, png_const_bytep row) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_write_row(png, row);
  return true;
}

bool writeEnd(png_structp png, png_infop info) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_write_end(png, info);
  return true;
}

}  // namespace

// ---- PngReader --------------------------------------------------------------

struct PngReader::Decoder {
  std::FILE* file = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  ErrorText error;
  Head head;
  bool fresh = true;  // no row read yet
  ~Decoder() {
    png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
    if (file) std::fclose(file);
  }
};

PngReader::PngReader(const std::string& path, std::size_t bandBytes)
    : path_(path), bandBytes_(bandBytes) {
  openFile();
  open();
  const Head& head = decoder_->head;
  width_ = head.width;
  height_ = head.height;
  interlaced_ = head.passes > 1;
  if (head.colourType == PNG_COLOR_TYPE_PALETTE) {
    kind_ = kPalette;
    for (int i = 0; i < head.colourCount; ++i) {
      const png_color& c = head.colours[i];
      palette_.push_back({c.red, c.green, c.blue});
    }
    paletteAlpha_.assign(head.paletteAlpha, head.paletteAlpha + head.paletteAlphaCount);
  } else if ((head.colourType & PNG_COLOR_MASK_COLOR) != 0) {
    kind_ = kRgb;
  }
  rowBytes_ = std::size_t{width_} * (kind_ == kRgb ? 4 : 1);
  const std::size_t decoded =
      std::size_t{width_} * static_cast<std::size_t>(head.channels * head.sampleBytes);
  if (head.decodedBytes != decoded) {
    fail(kBadInput, path_ + ": has a pixel format the tool cannot read");
  }
  requireData();
}

void PngReader::requireData() const {
  // Deflate expands its input at most 1032-fold (a 258-byte match in two
  // bits), so a file holds at most 1032 times its size of filtered rows,
  // which take a filter byte and the coded row each (interlaced rows more).
  // A header stating more is refused before anything is made of that size.
  constexpr std::uint64_t kMostExpansion = 1032;
  struct stat info {};
  if (decoder_ == nullptr || ::fstat(::fileno(decoder_->file), &info) != 0) return;
  const auto size = static_cast<std::uint64_t>(info.st_size);
  const std::uint64_t row = std::uint64_t{decoder_->head.codedBytes} + 1;
  if (size > UINT64_MAX / kMostExpansion || height_ <= kMostExpansion * size / row) return;
  fail(kBadInput, path_ + ": states " + std::to_string(width_) + " x " + std::to_string(height_) +
                      " pixels, which its " + counted(size, "byte", "bytes") +
                      " cannot hold (PNG data expands at most 1032-fold); it is damaged or cut short");
}

PngReader::~PngReader() {
  decoder_.reset();
  if (fd_ >= 0) ::close(fd_);
}

void PngReader::openFile() {
  fd_ = openInput(path_);  // a FIFO's reader would wait for a writer
  if (fd_ < 0) {
    const CFileException error(CFileException::OsErrorToException(errno), errno);
    fail(kBadInput, path_ + ": cannot be opened: " + btreeimg::describe(&error, false).GetString());
  }
}

void PngReader::open() {
  const bool again = decoder_ != nullptr;
  Head before;
  if (again) before = decoder_->head;
  decoder_.reset();
  auto decoder = std::make_unique<Decoder>();
  // Every decoding reads the file opened at first, from its start: a file
  // put in its place meanwhile is never read.
  const int descriptor = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (descriptor >= 0 && ::lseek(descriptor, 0, SEEK_SET) == 0) {
    decoder->file = ::fdopen(descriptor, "rb");
  }
  if (decoder->file == nullptr) {
    if (descriptor >= 0) ::close(descriptor);
    fail(kBadInput, path_ + ": cannot be read: " + std::strerror(errno));
  }
  unsigned char signature[8] = {};
  if (std::fread(signature, 1, 8, decoder->file) != 8 || png_sig_cmp(signature, 0, 8) != 0) {
    fail(kBadInput, path_ + ": is not a PNG file");
  }
  std::rewind(decoder->file);
  decoder->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &decoder->error, onError,
                                        onWarning);
  decoder->info = decoder->png ? png_create_info_struct(decoder->png) : nullptr;
  if (decoder->info == nullptr) fail(kBadInput, path_ + ": out of memory");
  decoder_ = std::move(decoder);
  if (!readHead(decoder_->png, decoder_->info, decoder_->file, decoder_->head)) {
    if (decoder_->head.refusal) fail(kBadInput, path_ + ": " + decoder_->head.refusal);
    failRead();
  }
  const Head& now = decoder_->head;
  if (again && (now.width != before.width || now.height != before.height ||
                now.colourType != before.colourType || now.bitDepth != before.bitDepth ||
                now.passes != before.passes || now.decodedBytes != before.decodedBytes)) {
    fail(kBadInput, path_ + ": changed while it was read");
  }
}

void PngReader::failRead() {
  fail(kBadInput, path_ + ": " +
                      (decoder_->error.text[0] ? decoder_->error.text : "cannot be read"));
}

void PngReader::decodeBand(std::uint32_t first) {
  if (!decoder_->fresh) open();  // decoding starts again from the first row
  decoder_->fresh = false;
  const std::size_t stride = decoder_->head.decodedBytes;
  const std::size_t fit = std::max<std::size_t>(1, bandBytes_ / std::max<std::size_t>(1, stride));
  bandRows_ = static_cast<std::uint32_t>(std::min<std::size_t>(fit, height_ - first));
  bandFirst_ = first;
  band_.resize(std::size_t{bandRows_} * stride);
  std::vector<std::uint8_t> scratch(stride);
  if (!readBand(decoder_->png, decoder_->head.passes, height_, first, bandRows_,
                band_.data(), stride, scratch.data())) {
    failRead();
  }
}

void PngReader::readRow(std::uint8_t* row) {
  const Head& head = decoder_->head;
  // Rows whose decoded form is not the one delivered (grey with alpha,
  // 16-bit RGB) are decoded into a row of their own first.
  const bool converted = head.decodedBytes != rowBytes_;
  const std::uint8_t* decoded = row;
  if (interlaced_) {
    if (nextRow_ < bandFirst_ || nextRow_ - bandFirst_ >= bandRows_) decodeBand(nextRow_);
    decoded = band_.data() + std::size_t{nextRow_ - bandFirst_} * decoder_->head.decodedBytes;
  } else {
    if (converted) band_.resize(head.decodedBytes);  // one decoded row
    decoder_->fresh = false;
    if (!readOneRow(decoder_->png, converted ? band_.data() : row)) failRead();
    if (converted) decoded = band_.data();
  }
  deliver(decoded, row);
  if (++nextRow_ == height_) {
    // Done: the band and libpng's state go now, not when the reader does
    // (frompng keeps every input's reader until the image is written).
    std::vector<std::uint8_t>().swap(band_);
    decoder_.reset();
  }
}

void PngReader::deliver(const std::uint8_t* decoded, std::uint8_t* row) {
  const Head& head = decoder_->head;
  const std::size_t stride = static_cast<std::size_t>(head.channels * head.sampleBytes);
  const bool wide = head.sampleBytes == 2;
  const unsigned opaque = wide ? 0xffff : 0xff;
  // Sample `c` of a pixel at `p`, in the PNG's own depth (big-endian).
  auto sample = [wide](const std::uint8_t* p, int c) -> unsigned {
    return wide ? unsigned{p[2 * c]} << 8 | p[2 * c + 1] : p[c];
  };
  for (std::uint32_t x = 0; x < width_; ++x) {
    const std::uint8_t* pixel = decoded + std::size_t{x} * stride;
    switch (head.channels) {
      case 1:  // an index, or a grey level without transparency
        if (kind_ == kPalette && pixel[0] < paletteAlpha_.size() && paletteAlpha_[pixel[0]] != 0xff) {
          refuseTranslucent(x, paletteAlpha_[pixel[0]], 0xff);
        }
        row[x] = pixel[0];
        break;
      case 2:  // grey and alpha: the level's high byte, as grey is read without alpha
        if (sample(pixel, 1) != opaque) refuseTranslucent(x, sample(pixel, 1), opaque);
        row[x] = pixel[0];
        break;
      default:  // RGBA: each colour sample kept exactly, or refused
        if (sample(pixel, 3) != opaque) refuseTranslucent(x, sample(pixel, 3), opaque);
        for (int c = 0; c < 3; ++c) {
          if (wide && pixel[2 * c] != pixel[2 * c + 1]) {
            fail(kBadInput, path_ + ": the pixel at line " + std::to_string(nextRow_) +
                                ", column " + std::to_string(x) +
                                " has a 16-bit colour that an 8-bit colour map cannot hold "
                                "exactly; reduce the image to 8 bits a sample first");
          }
          row[4 * std::size_t{x} + static_cast<std::size_t>(c)] = pixel[wide ? 2 * c : c];
        }
        row[4 * std::size_t{x} + 3] = 0xff;
        break;
    }
  }
}

void PngReader::refuseTranslucent(std::uint32_t x, unsigned alpha, unsigned opaque) const {
  fail(kBadInput, path_ + ": the pixel at line " + std::to_string(nextRow_) + ", column " +
                      std::to_string(x) + " is not fully opaque (alpha " + std::to_string(alpha) +
                      " of " + std::to_string(opaque) +
                      "); an image file holds no transparency: flatten the picture onto a "
                      "background first");
}

// ---- PngWriter --------------------------------------------------------------

struct PngWriter::Encoder {
  std::unique_ptr<btreeimg::FileReplacement> replacement;
  std::FILE* file = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  ErrorText error;
  ~Encoder() {
    png_destroy_write_struct(&png, info ? &info : nullptr);
    if (file) std::fclose(file);
  }
};

PngWriter::PngWriter(const std::string& path, std::uint32_t width, std::uint32_t height,
                     const std::vector<Rgb>& palette)
    : path_(path == "-" ? "standard output" : path), encoder_(std::make_unique<Encoder>()) {
  int target = STDOUT_FILENO;
  if (path == "-") {
    if (::isatty(STDOUT_FILENO)) {
      fail(kCannotWrite, "standard output is a terminal; a PNG is not written to one: "
                         "redirect it to a file or a program, or name a file");
    }
  } else {
    // The PNG replaces `path` the way the library replaces its own files: a
    // private temporary file, flushed and renamed over it when complete.
    try {
      encoder_->replacement = std::make_unique<btreeimg::FileReplacement>(path.c_str());
    } catch (CException* e) {
      fail(kCannotWrite, path + ": cannot be created: " + takeCause(e));
    }
    target = encoder_->replacement->descriptor();
  }
  const int descriptor = ::fcntl(target, F_DUPFD_CLOEXEC, 0);
  encoder_->file = descriptor < 0 ? nullptr : ::fdopen(descriptor, "wb");
  if (encoder_->file == nullptr) {
    if (descriptor >= 0) ::close(descriptor);
    fail(kCannotWrite, path_ + ": cannot be created: " + std::strerror(errno));
  }
  encoder_->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &encoder_->error, onError,
                                          onWarning);
  encoder_->info = encoder_->png ? png_create_info_struct(encoder_->png) : nullptr;
  if (encoder_->info == nullptr) failWrite("out of memory");
  std::vector<png_color> colours;
  for (const Rgb& c : palette) colours.push_back({c[0], c[1], c[2]});
  if (!writeHead(encoder_->png, encoder_->info, encoder_->file, width, height,
                 colours.data(), static_cast<int>(colours.size()))) {
    failWrite(encoder_->error.text);
  }
}

PngWriter::~PngWriter() = default;

void PngWriter::failWrite(const std::string& what) {
  fail(kCannotWrite, path_ + ": cannot be written" + (what.empty() ? "" : ": " + what));
}

void PngWriter::writeRow(const std::uint8_t* row) {
  if (!writeOneRow(encoder_->png, row)) failWrite(encoder_->error.text);
}

void PngWriter::finish() {
  if (!writeEnd(encoder_->png, encoder_->info)) failWrite(encoder_->error.text);
  png_destroy_write_struct(&encoder_->png, &encoder_->info);
  const int closed = std::fclose(encoder_->file);
  encoder_->file = nullptr;
  if (closed != 0) failWrite(std::strerror(errno));
  if (encoder_->replacement == nullptr) return;  // the standard output
  try {
    encoder_->replacement->commit();
  } catch (CException* e) {
    failWrite(takeCause(e));
  }
}

void writePng(const std::string& path, const IndexedImage& image,
              const std::vector<Rgb>& palette, Progress* progress, std::uint64_t doneBefore) {
  PngWriter writer(path, image.width, image.height, palette);
  for (std::uint32_t y = 0; y < image.height; ++y) {
    writer.writeRow(image.pixels.data() + std::size_t{y} * image.width);
    if (progress) progress->update(doneBefore + y + 1);
  }
  writer.finish();
}

}  // namespace tool
