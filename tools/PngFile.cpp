// libpng reports errors by longjmp. Each session below keeps every libpng
// call inside one function that creates no object with a destructor after
// its setjmp, so that a jump never skips one; the C++ objects involved are
// made by the caller beforehand.
#include "PngFile.h"

#include <fcntl.h>
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <exception>
#include <memory>

#include "Progress.h"
#include "ToolSupport.h"
#include "framework/Exceptions.h"
#include "framework/FileReplacement.h"

namespace tool {

namespace {

struct Session {
  char error[256] = "";
  const char* refusal = nullptr;  // a PNG read fine but not importable
  Progress* progress = nullptr;   // advanced per row written
  std::uint64_t doneBefore = 0;
};

void onError(png_structp png, png_const_charp text) {
  auto* session = static_cast<Session*>(png_get_error_ptr(png));
  std::snprintf(session->error, sizeof session->error, "%s", text);
  png_longjmp(png, 1);
}

void onWarning(png_structp, png_const_charp) {}

void onRowWritten(png_structp png, png_uint_32 row, int) {
  auto* session = static_cast<Session*>(png_get_error_ptr(png));
  if (session->progress) session->progress->update(session->doneBefore + row);
}

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Reads the header, sets the transforms that give one byte per pixel, and
// sizes `image`. Returns false on a libpng error or a refusal.
bool readHead(png_structp png, png_infop info, std::FILE* file,
              IndexedImage& image, Session& session) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_read_info(png, info);
  const int type = png_get_color_type(png, info);
  const int depth = png_get_bit_depth(png, info);
  if ((type & PNG_COLOR_MASK_COLOR) != 0 && type != PNG_COLOR_TYPE_PALETTE) {
    session.refusal =
        "holds RGB colour; only palette and grey PNGs can be imported";
    return false;
  }
  if (type == PNG_COLOR_TYPE_PALETTE) {
    png_colorp colours = nullptr;
    int count = 0;
    if (png_get_PLTE(png, info, &colours, &count) == 0 || count < 1) {
      session.refusal = "is a palette PNG without a palette";
      return false;
    }
    image.palette.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      image.palette[static_cast<std::size_t>(i)] = {colours[i].red, colours[i].green,
                                                    colours[i].blue};
    }
    if (depth < 8) png_set_packing(png);
  } else {
    if (depth < 8) png_set_expand_gray_1_2_4_to_8(png);
    if (depth == 16) png_set_strip_16(png);
    if ((type & PNG_COLOR_MASK_ALPHA) != 0) png_set_strip_alpha(png);
  }
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  image.width = png_get_image_width(png, info);
  image.height = png_get_image_height(png, info);
  if (png_get_rowbytes(png, info) != image.width) {
    session.refusal = "has a pixel format the tool cannot read";
    return false;
  }
  return true;
}

bool readRows(png_structp png, png_infop info, png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_read_image(png, rows);
  png_read_end(png, info);
  return true;
}

bool writeAll(png_structp png, png_infop info, std::FILE* file,
              const IndexedImage& image, const png_color* colours, int count,
              png_bytepp rows) {
  if (setjmp(png_jmpbuf(png))) return false;
  png_init_io(png, file);
  png_set_write_status_fn(png, onRowWritten);
  png_set_IHDR(png, info, image.width, image.height, 8, PNG_COLOR_TYPE_PALETTE,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_PLTE(png, info, colours, count);
  png_write_info(png, info);
  png_write_image(png, rows);
  png_write_end(png, info);
  return true;
}

std::vector<png_bytep> rowPointers(std::uint8_t* pixels, std::uint32_t width,
                                   std::uint32_t height) {
  std::vector<png_bytep> rows(height);
  for (std::uint32_t y = 0; y < height; ++y) {
    rows[y] = pixels + std::size_t{y} * width;
  }
  return rows;
}

}  // namespace

IndexedImage readPng(const std::string& path) {
  FilePtr file(std::fopen(path.c_str(), "rb"));
  if (!file) fail(kBadInput, path + ": cannot be opened");
  unsigned char signature[8] = {};
  if (std::fread(signature, 1, 8, file.get()) != 8 ||
      png_sig_cmp(signature, 0, 8) != 0) {
    fail(kBadInput, path + ": is not a PNG file");
  }
  std::rewind(file.get());

  Session session;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &session,
                                           onError, onWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    fail(kBadInput, path + ": out of memory");
  }
  IndexedImage image;
  std::string problem;
  try {
    if (readHead(png, info, file.get(), image, session)) {
      image.pixels.resize(std::size_t{image.width} * image.height);
      std::vector<png_bytep> rows =
          rowPointers(image.pixels.data(), image.width, image.height);
      if (!readRows(png, info, rows.data())) problem = session.error;
    } else {
      problem = session.refusal ? session.refusal : session.error;
    }
  } catch (const std::exception&) {
    problem = "is too large to read";
  }
  png_destroy_read_struct(&png, &info, nullptr);
  if (!problem.empty()) fail(kBadInput, path + ": " + problem);
  return image;
}

void writePng(const std::string& path, const IndexedImage& image,
              const std::vector<Rgb>& palette, Progress* progress,
              std::uint64_t doneBefore) {
  std::vector<png_color> colours;
  for (const Rgb& c : palette) colours.push_back({c[0], c[1], c[2]});
  std::vector<std::uint8_t> pixels = image.pixels;  // libpng takes non-const rows
  std::vector<png_bytep> rows = rowPointers(pixels.data(), image.width, image.height);

  // The PNG replaces `path` the way the library replaces its own files: a
  // private temporary file, flushed and renamed over it when complete.
  std::unique_ptr<btreeimg::FileReplacement> replacement;
  try {
    replacement = std::make_unique<btreeimg::FileReplacement>(path.c_str());
  } catch (CException* e) {
    fail(kCannotWrite, path + ": cannot be created: " + takeCause(e));
  }
  const int descriptor = ::fcntl(replacement->descriptor(), F_DUPFD_CLOEXEC, 0);
  FilePtr file(descriptor < 0 ? nullptr : ::fdopen(descriptor, "wb"));
  if (!file) {
    if (descriptor >= 0) ::close(descriptor);
    fail(kCannotWrite, path + ": cannot be created");
  }
  Session session;
  session.progress = progress;
  session.doneBefore = doneBefore;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &session,
                                            onError, onWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool written = info != nullptr &&
                 writeAll(png, info, file.get(), image, colours.data(),
                          static_cast<int>(colours.size()), rows.data());
  png_destroy_write_struct(&png, &info);
  written = std::fclose(file.release()) == 0 && written;
  if (!written) {
    fail(kCannotWrite, path + ": cannot be written" +
                           (session.error[0] ? std::string(": ") + session.error
                                             : std::string()));
  }
  try {
    replacement->commit();
  } catch (CException* e) {
    fail(kCannotWrite, path + ": cannot be written: " + takeCause(e));
  }
}

}  // namespace tool
