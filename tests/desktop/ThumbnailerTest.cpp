// GdkPixbuf's thumbnailer, which file managers run for the image formats
// GdkPixbuf knows, going through the loader module: a thumbnail of the
// size asked for (the sampling itself is the loader's, see
// PixbufLoaderTest), a plain failure on a damaged file, and no need of /proc.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "DesktopTestSupport.h"

namespace desktoptest {
namespace {

// The width x height of the PNG at `path`, as GdkPixbuf reads it.
std::string sizeOf(const std::string& path) {
  gint width = 0, height = 0;
  gdk_pixbuf_get_file_info(path.c_str(), &width, &height);
  return std::to_string(width) + " x " + std::to_string(height);
}

TEST(Thumbnailer, SamplesTheImageAndFailsWithoutACrashOnADamagedFile) {
  useBuiltDesktop();
  testfiles::TempDir dir;
  Result run = runOther({BTREEIMG_PIXBUF_THUMBNAILER, "-s", "64", sample("design.dis"), dir.file("t.png")}, dir);
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(sizeOf(dir.file("t.png")), "64 x 48");
  testfiles::Bytes cut = testfiles::readFile(sample("design.dis"));
  cut.resize(20000);
  testfiles::writeFile(dir.file("cut.dis"), cut);
  run = runOther({BTREEIMG_PIXBUF_THUMBNAILER, "-s", "128", dir.file("cut.dis"), dir.file("u.png")}, dir);
  EXPECT_TRUE(run.status > 0 && run.status < 128) << run.status << run.err;
  EXPECT_NE(run.err.find("damaged"), std::string::npos) << run.err;
  EXPECT_FALSE(std::filesystem::exists(dir.file("u.png")));
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
  EXPECT_EQ(sizeOf(dir.file("t.png")), "64 x 48");
}

}  // namespace
}  // namespace desktoptest
