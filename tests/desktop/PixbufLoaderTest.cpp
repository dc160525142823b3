// The loader module as GdkPixbuf's users meet it: picked by content, whole
// files and pieces, full size or sampled, errors for damage and the pixel
// limit; and GdkPixbuf's thumbnailer going through it.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "support/FrontEnds.h"
#include "support/TestFiles.h"

namespace frontend {
namespace {

using ::testing::EndsWith;
using ::testing::HasSubstr;

// GdkPixbuf pointed at the built loader cache and MIME type before its first
// use; the programs the tests start inherit both.
[[maybe_unused]] const int kBuiltDesktop = [] {
  ::setenv("GDK_PIXBUF_MODULE_FILE", BTREEIMG_LOADER_CACHE, 1);
  const char* system = std::getenv("XDG_DATA_DIRS");
  const std::string dirs = std::string(BTREEIMG_MIME_SHARE) + ":" +
                           (system != nullptr && *system ? system : "/usr/local/share:/usr/share");
  return ::setenv("XDG_DATA_DIRS", dirs.c_str(), 1);
}();

// What a load gave: a picture's colours (rows top to bottom), or the error.
struct Outcome {
  bool loaded = false;
  std::uint32_t width = 0, height = 0;
  std::vector<Rgb> pixels;
  std::string error;
  int code = -1;  // the GdkPixbufError code
  std::string size() const { return std::to_string(width) + " x " + std::to_string(height); }
};

Outcome outcomeOf(GdkPixbuf* pixbuf, GError* error) {
  Outcome outcome;
  if (pixbuf != nullptr) {
    outcome.loaded = true;
    outcome.width = static_cast<std::uint32_t>(gdk_pixbuf_get_width(pixbuf));
    outcome.height = static_cast<std::uint32_t>(gdk_pixbuf_get_height(pixbuf));
    const guint8* pixels = gdk_pixbuf_read_pixels(pixbuf);
    for (std::uint32_t y = 0; y < outcome.height; ++y) {
      for (std::uint32_t x = 0; x < outcome.width; ++x) {
        const guint8* p = pixels + std::size_t{y} * gdk_pixbuf_get_rowstride(pixbuf) + std::size_t{x} * gdk_pixbuf_get_n_channels(pixbuf);
        outcome.pixels.push_back({p[0], p[1], p[2]});
      }
    }
    g_object_unref(pixbuf);
  }
  if (error != nullptr) {
    outcome.error = error->message;
    outcome.code = error->domain == GDK_PIXBUF_ERROR ? error->code : -1;
    g_error_free(error);
  }
  return outcome;
}

// gdk_pixbuf_new_from_file(_at_size), `box` x `box` when given.
Outcome loadWhole(const std::string& path, int box = 0) {
  GError* error = nullptr;
  GdkPixbuf* pixbuf = box > 0 ? gdk_pixbuf_new_from_file_at_size(path.c_str(), box, box, &error)
                              : gdk_pixbuf_new_from_file(path.c_str(), &error);
  return outcomeOf(pixbuf, error);
}

// The incremental interface in pieces of `piece`, `width` x `height` asked
// for when given; negative: 0 x 0 once the size is known (no picture).
Outcome loadInPieces(const std::string& path, std::size_t piece, int width = 0, int height = 0) {
  GError* error = nullptr;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("btreeimg", &error);
  if (loader == nullptr) return outcomeOf(nullptr, error);
  if (width > 0) gdk_pixbuf_loader_set_size(loader, width, height);
  if (width < 0) {
    const auto noPicture = +[](GdkPixbufLoader* self, int, int, gpointer) { gdk_pixbuf_loader_set_size(self, 0, 0); };
    g_signal_connect(loader, "size-prepared", G_CALLBACK(noPicture), nullptr);
  }
  const testfiles::Bytes bytes = testfiles::readFile(path);
  bool fine = true;
  for (std::size_t at = 0; fine && at < bytes.size(); at += piece) {
    fine = gdk_pixbuf_loader_write(loader, bytes.data() + at, std::min(piece, bytes.size() - at), &error);
  }
  fine = gdk_pixbuf_loader_close(loader, fine ? &error : nullptr) && fine;
  GdkPixbuf* pixbuf = fine ? gdk_pixbuf_loader_get_pixbuf(loader) : nullptr;
  if (pixbuf != nullptr) g_object_ref(pixbuf);
  g_object_unref(loader);
  return outcomeOf(pixbuf, error);
}

// Runs a program that may load the module, with the sanitizer's runtime if any.
Result runOther(std::vector<std::string> args, const testfiles::TempDir& dir) {
  args.insert(args.begin(), {std::string("LD_PRELOAD=") + BTREEIMG_SANITIZER_PRELOAD, "ASAN_OPTIONS=detect_leaks=0"});
  return runProgram("env", args, dir);
}

// Pixels in runs of three, their own on every plane and line.
std::uint8_t pattern(int plane, int x, int y) { return static_cast<std::uint8_t>(x / 3 + 5 * y + 60 * plane); }

// Plane 1 through the colour map, whole or in pieces, at full size or sampled
// (each pixel the source pixel at the centre of its box); rows at GdkPixbuf's
// padded stride. The file has no .dis name: the module is picked by content.
TEST(PixbufLoader,
     ShowsPlaneOneThroughTheColourMapWholeOrInPiecesAtFullSizeOrSampled) {
  testfiles::TempDir dir;
  const std::string path = dir.file("picture"), narrow = dir.file("narrow");
  makeImage(path, 1, 300, 99, 2, pattern, /*coloured=*/true);
  makeImage(narrow, 0, 7, 5, 1, pattern,
            /*coloured=*/true);  // rows of 21 bytes
  for (const Outcome& load :
       {loadWhole(path), loadInPieces(path, 999), loadWhole(path, 100),
        loadInPieces(path, 4096, 100, 33), loadWhole(narrow),
        loadInPieces(narrow, 100)}) {
    ASSERT_TRUE(load.loaded) << load.error;
    const std::uint32_t step = load.width == 100 ? 3 : 1,
                        full = load.width == 7 ? 5 : 99;
    ASSERT_EQ(load.height, full / step);
    for (std::uint32_t y = 0; y < load.height; ++y) {
      for (std::uint32_t x = 0; x < load.width; ++x) {
        ASSERT_EQ(load.pixels.at(y * load.width + x),
                  colourOf(pattern(1, static_cast<int>(step * x + step / 2), static_cast<int>(step * y + step / 2))))
            << x << ", " << y;
      }
    }
  }
  EXPECT_EQ(loadInPieces(path, 4096, 40, 300).size(),
            "40 x 300");  // no scaling by the host
}

// A host that sets the size it learns to 0 x 0 wants no picture: no error.
TEST(PixbufLoader, AHostAskingForNoPictureGetsNoneWithoutAnError) {
  const Outcome none = loadInPieces(sample("design.dis"), 4096, -1, -1);
  EXPECT_FALSE(none.loaded);
  EXPECT_EQ(none.error, "");
}

// Damage in plane 1 or a picture of no pixels: an error and no picture;
// damage in plane 3 only: plane 1 shown. The thumbnailer fails plainly.
TEST(PixbufLoader, DamagedFilesAndFilesWithoutPixelsGiveAnErrorAndNoPicture) {
  testfiles::TempDir dir;
  const std::string cut = cutSample(dir, 3000);
  testfiles::writeFile(dir.file("flat.dis"), firstBlock(2, 0, 5, 0));
  const std::string short3 = cutSample(dir, testfiles::readFile(sample("design.dis")).size() - 1);
  const Outcome whole = loadWhole(sample("design.dis"));
  for (const Outcome& load : {loadWhole(short3), loadInPieces(short3, 700)}) {
    EXPECT_TRUE(load.loaded) << load.error;
    EXPECT_EQ(load.pixels, whole.pixels);
  }
  const std::pair<std::string, std::string> cases[] = {
      {cut, "The image file is damaged: " + summaryOf(cut, 1)},
      {cutSample(dir, 1311),
       "Not a usable image file: file is 1311 bytes, shorter than one "
       "1312-byte header block"},
      {dir.file("flat.dis"),
       "The image states a size of 5 x 0 pixels, which cannot be shown"},
  };
  for (const auto& [path, error] : cases) {
    SCOPED_TRACE(path);
    for (const Outcome& load : {loadWhole(path), loadInPieces(path, 700)}) {
      EXPECT_FALSE(load.loaded);
      EXPECT_THAT(load.error, EndsWith(error));
      EXPECT_TRUE(load.code == GDK_PIXBUF_ERROR_CORRUPT_IMAGE || load.code == GDK_PIXBUF_ERROR_UNKNOWN_TYPE);
    }
  }
  const Result run = runOther({BTREEIMG_PIXBUF_THUMBNAILER, "-s", "128", cut, dir.file("u.png")}, dir);
  EXPECT_TRUE(run.status > 0 && run.status < 128) << run.status << run.err;
  EXPECT_NE(run.err.find("damaged"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("u.png")));
}

// The pixel limit (BTREEIMG_MAX_PIXELS, "0": none) holds the picture and
// what sampling it reads: the 256 x 192 sample at 100 x 75 reads 19200.
TEST(PixbufLoader, APictureOverThePixelLimitIsRefusedAsSoonAsItsSizeIsKnown) {
  const std::string tooLarge = "The image is too large: ";
  const std::string raise = " (the environment variable BTREEIMG_MAX_PIXELS raises it)";
  const auto loads = [&](const char* limit, int width, int height) {
    ::setenv("BTREEIMG_MAX_PIXELS", limit, 1);
    const std::string design = sample("design.dis");
    const Outcome outcome = width == 0 ? loadWhole(design) : loadInPieces(design, 4096, width, height);
    ::unsetenv("BTREEIMG_MAX_PIXELS");
    EXPECT_EQ(outcome.code, outcome.loaded ? -1 : GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY);
    const std::size_t at = outcome.error.rfind(tooLarge);  // after the host's own words
    return outcome.loaded ? std::string("loaded") : outcome.error.substr(at == std::string::npos ? 0 : at);
  };
  EXPECT_EQ(loads("49151", 0, 0), tooLarge + "the image states 256 x 192 pixels, more than the limit of 49151" + raise);
  EXPECT_EQ(loads("49151", 100, 75), "loaded");
  EXPECT_EQ(loads("19199", 100, 75), tooLarge + "a 100 x 75 picture reads 75 lines of 256 pixels, 19200 in all, more than the limit of 19199" + raise);
  EXPECT_EQ(loads("0", 0, 0), "loaded");
  // By default the library's limit, 2^28, checked once the first block is in.
  testfiles::TempDir dir;
  testfiles::writeFile(dir.file("big.dis"), flatPlane(16385, 16384));
  EXPECT_THAT(loadInPieces(dir.file("big.dis"), 1312).error,
              EndsWith("the image states 16385 x 16384 pixels, more than the "
                       "limit of 268435456" +
                       raise));
}

// The loader reads what it gathered in memory, never a name under /proc: a
// thumbnail is made in a mount namespace without /proc too.
TEST(Thumbnailer, SamplesTheImageAlsoWithoutTheProcFileSystem) {
  testfiles::TempDir dir;
  const std::vector<std::string> thumbnail = {BTREEIMG_PIXBUF_THUMBNAILER, "-s", "64", sample("design.dis"),
                                              dir.file("t.png")};
  const Result run = runOther(thumbnail, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(loadWhole(dir.file("t.png")).size(), "64 x 48");
  if (std::strlen(BTREEIMG_SANITIZER_PRELOAD) > 0) GTEST_SKIP() << "the sanitizer's runtime reads /proc itself";
  std::vector<std::string> unshare = {"unshare", "-m", "--propagation", "private", "sh", "-c", "umount -l /proc"};
  if (const Result probe = runOther(unshare, dir); probe.status != 0) {
    GTEST_SKIP() << "no mount namespace here: " << probe.err;
  }
  unshare.back() += " && test ! -e /proc/self && exec \"$0\" \"$@\"";
  unshare.insert(unshare.end(), thumbnail.begin(), thumbnail.end());
  std::filesystem::remove(dir.file("t.png"));
  const Result bare = runOther(unshare, dir);
  EXPECT_EQ(bare.status, 0) << bare.err;
  EXPECT_EQ(loadWhole(dir.file("t.png")).size(), "64 x 48");
}

}  // namespace
}  // namespace frontend
