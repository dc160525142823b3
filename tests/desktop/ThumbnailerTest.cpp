// GdkPixbuf's thumbnailer, which file managers run for the image formats
// GdkPixbuf knows, going through the loader module: a sampled thumbnail, a
// plain failure on a damaged file, and no need of /proc.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "DesktopTestSupport.h"

namespace desktoptest {
namespace {

// The thumbnailer's PNG, read by GdkPixbuf.
Picture thumbnail(const std::string& path) {
  GError* error = nullptr;
  GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file(path.c_str(), &error);
  EXPECT_NE(pixbuf, nullptr) << error->message;
  if (pixbuf == nullptr) return {};
  const Picture picture = pictureOf(pixbuf);
  g_object_unref(pixbuf);
  return picture;
}

TEST(Thumbnailer, SamplesPlaneOneThroughTheColourMap) {
  // 300 x 99 at 100: 100 x 33, each pixel the source pixel at the centre of
  // its 3 x 3 box.
  useBuiltDesktop();
  testfiles::TempDir dir;
  const auto pixel = [](int, int x, int y) { return static_cast<std::uint8_t>(x / 3 + 5 * y); };
  makeImage(dir.file("a.dis"), 1, 300, 99, 1, pixel, /*coloured=*/true);
  const Result run = runOther({BTREEIMG_PIXBUF_THUMBNAILER, "-s", "100", dir.file("a.dis"), dir.file("t.png")}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  const Picture picture = thumbnail(dir.file("t.png"));
  ASSERT_EQ(picture.width, 100u);
  ASSERT_EQ(picture.height, 33u);
  for (const std::uint32_t at : {0u, 17u, 32u}) {
    EXPECT_EQ(picture.at(3 * at, at), colourOf(pixel(1, 9 * static_cast<int>(at) + 1, 3 * static_cast<int>(at) + 1)));
  }
}

TEST(Thumbnailer, FailsWithoutACrashOnADamagedFile) {
  useBuiltDesktop();
  testfiles::TempDir dir;
  testfiles::Bytes cut = testfiles::readFile(sample("design.dis"));
  cut.resize(20000);
  testfiles::writeFile(dir.file("cut.dis"), cut);
  const Result run = runOther({BTREEIMG_PIXBUF_THUMBNAILER, "-s", "128", dir.file("cut.dis"), dir.file("t.png")}, dir);
  EXPECT_TRUE(run.status > 0 && run.status < 128) << run.status << run.err;
  EXPECT_NE(run.err.find("damaged"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("t.png")));
}

TEST(Thumbnailer, NeedsNoProcFileSystem) {
  // The loader reads what it gathered in memory, never through a name under
  // /proc: a thumbnail is made in a mount namespace without /proc.
  if (std::strlen(BTREEIMG_SANITIZER_PRELOAD) > 0) {
    GTEST_SKIP() << "the sanitizer's runtime reads /proc itself";
  }
  useBuiltDesktop();
  testfiles::TempDir dir;
  const std::vector<std::string> unshare = {"unshare", "-m", "--propagation", "private", "sh", "-c"};
  std::vector<std::string> probe = unshare, args = unshare;
  probe.push_back("umount -l /proc");
  if (const Result run = runOther(probe, dir); run.status != 0) GTEST_SKIP() << "no mount namespace here: " << run.err;
  args.insert(args.end(), {"umount -l /proc && test ! -e /proc/self && exec \"$0\" \"$@\"", BTREEIMG_PIXBUF_THUMBNAILER,
                           "-s", "64", sample("design.dis"), dir.file("t.png")});
  const Result run = runOther(args, dir);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(thumbnail(dir.file("t.png")).width, 64u);
}

}  // namespace
}  // namespace desktoptest
