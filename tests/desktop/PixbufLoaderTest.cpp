// The loader module as GdkPixbuf's users meet it: picked for the file type,
// loading whole files and pieces, at full size and at a size asked for, and
// refusing damaged files with an error.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "DesktopTestSupport.h"
#include "image/ImageCheck.h"

namespace desktoptest {
namespace {

using ::testing::HasSubstr;

// What a load gave: a picture, or GdkPixbuf's error.
struct Outcome {
  bool loaded = false;
  Picture picture;
  std::string error;
  int code = -1;  // the GdkPixbufError code
};

Outcome outcomeOf(GdkPixbuf* pixbuf, GError* error) {
  Outcome outcome;
  if (pixbuf != nullptr) {
    outcome.loaded = true;
    outcome.picture = pictureOf(pixbuf);
    g_object_unref(pixbuf);
  }
  if (error != nullptr) {
    outcome.error = error->message;
    outcome.code = error->domain == GDK_PIXBUF_ERROR ? error->code : -1;
    g_error_free(error);
  }
  return outcome;
}

// gdk_pixbuf_new_from_file: the whole-file load, the module picked by the
// file's content and name.
Outcome loadWhole(const std::string& path) {
  useBuiltDesktop();
  GError* error = nullptr;
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.c_str(), &error);
  return outcomeOf(pixbuf, error);
}

// The incremental interface, the bytes handed over in pieces of `piece`;
// `width` x `height` asked for when given.
Outcome loadInPieces(const std::string& path, std::size_t piece, int width = 0, int height = 0) {
  useBuiltDesktop();
  GError* error = nullptr;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("btreeimg", &error);
  if (loader == nullptr) return outcomeOf(nullptr, error);
  if (width > 0) gdk_pixbuf_loader_set_size(loader, width, height);
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

// Plane 1 as `btreeimg topng` renders it, in RGB.
Picture rendered(const std::string& image, const testfiles::TempDir& dir) {
  const tooltest::ToolResult run =
      tooltest::tool({"topng", "--plane", "1", image, dir.file("rendered.png")}, dir);
  EXPECT_EQ(run.status, 0) << run.err;
  Picture picture;
  EXPECT_TRUE(readRgbPng(dir.file("rendered.png"), picture));
  return picture;
}

TEST(PixbufLoader, IsPickedForTheFileTypeByNameAndByContent) {
  // The size is known from the first header block alone; a copy without
  // the .dis name is recognised by its content.
  useBuiltDesktop();
  testfiles::TempDir dir;
  testfiles::writeFile(dir.file("design"), testfiles::readFile(tooltest::sample("design.dis")));
  for (const std::string& path : {tooltest::sample("design.dis"), dir.file("design")}) {
    gint width = 0, height = 0;
    GdkPixbufFormat* format = gdk_pixbuf_get_file_info(path.c_str(), &width, &height);
    ASSERT_NE(format, nullptr) << path;
    gchar* name = gdk_pixbuf_format_get_name(format);
    gchar** types = gdk_pixbuf_format_get_mime_types(format);
    gchar** extensions = gdk_pixbuf_format_get_extensions(format);
    EXPECT_STREQ(name, "btreeimg");
    EXPECT_EQ(std::vector<std::string>(types, types + g_strv_length(types)),
              std::vector<std::string>{"image/x-btreeimg"});
    EXPECT_EQ(std::vector<std::string>(extensions, extensions + g_strv_length(extensions)),
              std::vector<std::string>{"dis"});
    g_free(name);
    g_strfreev(types);
    g_strfreev(extensions);
    EXPECT_EQ(width, 256);
    EXPECT_EQ(height, 192);
    EXPECT_TRUE(loadWhole(path).loaded) << path;
  }
}

TEST(PixbufLoader, EveryVersionAndEncodingLoadsAsTopngRendersIt) {
  testfiles::TempDir dir;
  struct Shape {
    int width, height;
    short planes;
    int version;
  };
  const Shape shapes[] = {{301, 47, 1, 2}, {64, 30, 2, 2}, {97, 41, 3, 3}, {40, 20, 5, 3},
                          {70001, 3, 1, 4}, {70000, 2, 2, 4}};
  for (const Shape& shape : shapes) {
    for (const int pack : {0, 1, 2}) {
      SCOPED_TRACE("version " + std::to_string(shape.version) + ", " + std::to_string(shape.planes) +
                   " planes, pack " + std::to_string(pack));
      // One-plane images are noise, the hardest case for the packed codes;
      // a plane followed by another has runs, so that its code fits.
      const std::string image = dir.file("a.dis");
      ASSERT_EQ(makeColouredImage(image, pack, shape.width, shape.height, shape.planes,
                                  shape.planes == 1 ? tooltest::noise(3) : tooltest::runs(200)),
                shape.version);
      const Picture expected = rendered(image, dir);
      ASSERT_EQ(expected.width, static_cast<std::uint32_t>(shape.width));
      const Outcome whole = loadWhole(image);
      ASSERT_TRUE(whole.loaded) << whole.error;
      EXPECT_TRUE(whole.picture == expected);
      // Pieces that cut the header block and the lines anywhere.
      const Outcome pieces = loadInPieces(image, 999);
      ASSERT_TRUE(pieces.loaded) << pieces.error;
      EXPECT_TRUE(pieces.picture == expected);
    }
  }
}

TEST(PixbufLoader, ASizeAskedForIsSampledAsTheThumbnailCommandSamplesIt) {
  testfiles::TempDir dir;
  const std::string design = tooltest::sample("design.dis");
  ASSERT_EQ(tooltest::tool({"thumbnail", "-s", "100", design, dir.file("t.png")}, dir).status, 0);
  Picture thumbnail;
  ASSERT_TRUE(readRgbPng(dir.file("t.png"), thumbnail));
  ASSERT_EQ(thumbnail.width, 100u);
  ASSERT_EQ(thumbnail.height, 75u);

  useBuiltDesktop();
  GError* error = nullptr;
  const Outcome atSize = outcomeOf(gdk_pixbuf_new_from_file_at_size(design.c_str(), 100, 100, &error), error);
  ASSERT_TRUE(atSize.loaded) << atSize.error;
  EXPECT_TRUE(atSize.picture == thumbnail);

  const Outcome pieces = loadInPieces(design, 4096, 100, 75);
  ASSERT_TRUE(pieces.loaded) << pieces.error;
  EXPECT_TRUE(pieces.picture == thumbnail);

  // Any size asked for is what the host gets, without its own scaling.
  const Outcome stretched = loadInPieces(design, 4096, 40, 300);
  ASSERT_TRUE(stretched.loaded) << stretched.error;
  EXPECT_EQ(stretched.picture.width, 40u);
  EXPECT_EQ(stretched.picture.height, 300u);
}

// The warnings and criticals GLib logs from the first call on (GdkPixbuf
// logs one where a loader misbehaves); each is also printed as usual.
std::vector<std::string>& loggedTroubles() {
  static std::vector<std::string> troubles;
  static std::once_flag installed;
  std::call_once(installed, [] {
    g_log_set_writer_func(
        [](GLogLevelFlags level, const GLogField* fields, gsize count, gpointer) {
          if ((level & (G_LOG_LEVEL_WARNING | G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_ERROR)) != 0) {
            std::string text = "?";
            for (gsize i = 0; i < count; ++i) {
              if (std::string(fields[i].key) == "MESSAGE") text = static_cast<const char*>(fields[i].value);
            }
            troubles.push_back(text);
          }
          return g_log_writer_default(level, fields, count, nullptr);
        },
        nullptr, nullptr);
  });
  return troubles;
}

TEST(PixbufLoader, AHostAskingForNoPictureGetsNoneWithoutAnErrorOrAWarning) {
  // A host that learns the size and then sets it to 0 x 0, as GdkPixbuf's
  // file information does, wants no picture: the load closes cleanly.
  useBuiltDesktop();
  std::vector<std::string>& troubles = loggedTroubles();
  troubles.clear();
  GError* error = nullptr;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("btreeimg", &error);
  ASSERT_NE(loader, nullptr);
  int announced = 0;
  g_signal_connect(loader, "size-prepared",
                   G_CALLBACK(+[](GdkPixbufLoader* self, int width, int, gpointer seen) {
                     *static_cast<int*>(seen) = width;
                     gdk_pixbuf_loader_set_size(self, 0, 0);
                   }),
                   &announced);
  const testfiles::Bytes bytes = testfiles::readFile(tooltest::sample("design.dis"));
  EXPECT_TRUE(gdk_pixbuf_loader_write(loader, bytes.data(), bytes.size(), &error));
  EXPECT_TRUE(gdk_pixbuf_loader_close(loader, &error));
  EXPECT_EQ(error, nullptr) << error->message;
  EXPECT_EQ(announced, 256);
  EXPECT_EQ(gdk_pixbuf_loader_get_pixbuf(loader), nullptr);
  g_object_unref(loader);
  EXPECT_TRUE(troubles.empty()) << troubles.front();
}

TEST(PixbufLoader, CutAndDamagedFilesGiveAnErrorAndNoPicture) {
  testfiles::TempDir dir;
  const testfiles::Bytes design = testfiles::readFile(tooltest::sample("design.dis"));
  struct Case {
    std::string name;
    testfiles::Bytes bytes;
    std::string error;  // a text the incremental load's error contains
  };
  std::vector<Case> cases;
  auto cut = [&](std::size_t size, const std::string& error) {
    cases.push_back({"cut at " + std::to_string(size),
                     testfiles::Bytes(design.begin(), design.begin() + static_cast<long>(size)), error});
  };
  auto damage = [&](const std::string& name, std::size_t at, unsigned char value, const std::string& error) {
    Case c{name, design, error};
    c.bytes.at(at) = value;
    cases.push_back(c);
  };
  cut(0, "shorter than one 1312-byte header block");
  cut(1311, "shorter than one 1312-byte header block");
  cut(1312, "damaged: plane ");
  cut(3000, "damaged: plane 2: header block at 50464 lies outside the file (3000 bytes) (and 2 more problems)");
  cut(design.size() - 1, "damaged: plane 3:");
  damage("unknown version", 0, 7, "unknown version 7");
  damage("too many planes", 1000, 9, "plane count 9 is above 5");
  damage("unknown encoding", 4, 9, "encoding 9");
  damage("line table entry", 1312 + 4 * 5 + 1, 0x7f, "damaged: plane 1: line");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.file("damaged.dis");
    testfiles::writeFile(path, c.bytes);
    const Outcome pieces = loadInPieces(path, 700);
    EXPECT_FALSE(pieces.loaded);
    EXPECT_THAT(pieces.error, HasSubstr(c.error));
    // In the words of every front end: the inspection's one-sentence verdict.
    ImageCheck check;
    check.InspectFile(path.c_str());
    EXPECT_THAT(pieces.error, ::testing::EndsWith(": " + std::string(check.Summary())));
    EXPECT_TRUE(pieces.code == GDK_PIXBUF_ERROR_CORRUPT_IMAGE || pieces.code == GDK_PIXBUF_ERROR_UNKNOWN_TYPE)
        << pieces.code;
    // Through the file's name: refused by the loader or, when the content
    // no longer looks like an image, by GdkPixbuf itself.
    const Outcome whole = loadWhole(path);
    EXPECT_FALSE(whole.loaded);
    EXPECT_NE(whole.error, "");
  }
}

// BTREEIMG_MAX_PIXELS set to `value` while the object lives (null: unset).
class PixelLimit {
 public:
  explicit PixelLimit(const char* value) {
    if (value != nullptr) ::setenv("BTREEIMG_MAX_PIXELS", value, 1);
  }
  ~PixelLimit() { ::unsetenv("BTREEIMG_MAX_PIXELS"); }
};

TEST(PixbufLoader, APictureOverThePixelLimitIsRefusedAsSoonAsItsSizeIsKnown) {
  // The sample is 256 x 192, 49152 pixels; at 100 x 75 it is sampled from
  // 75 lines of 256 pixels, 19200.
  const std::string design = tooltest::sample("design.dis");
  const std::string raise = " (the environment variable BTREEIMG_MAX_PIXELS raises it)";
  {
    const PixelLimit limit("49151");
    for (const Outcome& refused : {loadWhole(design), loadInPieces(design, 999)}) {
      EXPECT_FALSE(refused.loaded);
      EXPECT_THAT(refused.error, ::testing::EndsWith("The image is too large: the image states 256 x "
                                                     "192 pixels, more than the limit of 49151" + raise));
      EXPECT_EQ(refused.code, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY);
    }
    EXPECT_TRUE(loadInPieces(design, 4096, 100, 75).loaded);
    EXPECT_EQ(loadInPieces(design, 4096, 256, 300).error,
              "The image is too large: the picture asked for has 256 x 300 pixels, more than the "
              "limit of 49151" + raise);
  }
  {
    const PixelLimit limit("19199");
    EXPECT_EQ(loadInPieces(design, 4096, 100, 75).error,
              "The image is too large: a 100 x 75 picture reads 75 lines of 256 pixels, 19200 in "
              "all, more than the limit of 19199" + raise);
  }
  for (const char* enough : {"49152", "0"}) {  // 0: no limit
    const PixelLimit limit(enough);
    EXPECT_TRUE(loadWhole(design).loaded) << enough;
    // Stretched to 300 lines, it still reads each of its 192 lines once.
    EXPECT_TRUE(loadInPieces(design, 4096, 40, 300).loaded) << enough;
  }

  // By default the library's limit, 2^28: a plane of 16385 x 16384 stated
  // in the first block is refused with its first bytes, and sampled at a
  // small size.
  const PixelLimit unset(nullptr);
  testfiles::TempDir dir;
  const std::string big = dir.file("big.dis");
  testfiles::writeFile(big, tooltest::flatPlane(16385, 16384));
  useBuiltDesktop();
  GError* error = nullptr;
  GdkPixbufLoader* loader = gdk_pixbuf_loader_new_with_type("btreeimg", &error);
  ASSERT_NE(loader, nullptr);
  const testfiles::Bytes bytes = testfiles::readFile(big);
  EXPECT_FALSE(gdk_pixbuf_loader_write(loader, bytes.data(), 2000, &error));
  ASSERT_NE(error, nullptr);
  EXPECT_THAT(error->message, HasSubstr("the image states 16385 x 16384 pixels, more than the limit "
                                        "of 268435456"));
  g_clear_error(&error);
  gdk_pixbuf_loader_close(loader, nullptr);
  g_object_unref(loader);
  const Outcome small = loadInPieces(big, 1 << 20, 128, 128);
  ASSERT_TRUE(small.loaded) << small.error;
  EXPECT_EQ(small.picture.width, 128u);
}

}  // namespace
}  // namespace desktoptest
