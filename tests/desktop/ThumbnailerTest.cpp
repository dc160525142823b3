// GdkPixbuf's thumbnailer, which file managers run for the image formats
// GdkPixbuf knows, going through the loader module: the same pixels as the
// tool's thumbnail command, and a plain failure on a damaged file.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "DesktopTestSupport.h"

namespace desktoptest {
namespace {

TEST(Thumbnailer, GivesThePixelsOfTheThumbnailCommand) {
  useBuiltDesktop();
  testfiles::TempDir dir;
  makeColouredImage(dir.file("wide.dis"), 1, 1000, 301, 2, tooltest::runs(150));
  makeColouredImage(dir.file("tall.dis"), 2, 333, 1000, 1, tooltest::noise(5));
  struct Case {
    std::string image, size;
    std::uint32_t width, height;
  };
  const Case cases[] = {{tooltest::sample("design.dis"), "128", 128, 96},
                        {dir.file("wide.dis"), "128", 128, 39},
                        {dir.file("tall.dis"), "100", 33, 100}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.image + " at " + c.size);
    const std::string ours = dir.file("ours.png"), theirs = dir.file("theirs.png");
    std::filesystem::remove(theirs);
    const tooltest::ToolResult run = runOther({BTREEIMG_PIXBUF_THUMBNAILER, "-s", c.size, c.image, theirs}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    const tooltest::ToolResult tool = tooltest::tool({"thumbnail", "-s", c.size, c.image, ours}, dir);
    ASSERT_EQ(tool.status, 0) << tool.err;
    Picture expected, got;
    ASSERT_TRUE(readRgbPng(ours, expected));
    ASSERT_TRUE(readRgbPng(theirs, got));
    EXPECT_EQ(got.width, c.width);
    EXPECT_EQ(got.height, c.height);
    EXPECT_TRUE(got == expected);
  }
}

TEST(Thumbnailer, FailsWithoutACrashOnACutOrDamagedFile) {
  useBuiltDesktop();
  testfiles::TempDir dir;
  const testfiles::Bytes design = testfiles::readFile(tooltest::sample("design.dis"));
  testfiles::Bytes cut(design.begin(), design.begin() + 20000);
  testfiles::Bytes damaged = design;
  damaged.at(1312 + 4 * 5 + 1) = 0x7f;  // a line offset table entry far too large
  testfiles::writeFile(dir.file("cut.dis"), cut);
  testfiles::writeFile(dir.file("damaged.dis"), damaged);
  for (const char* name : {"cut.dis", "damaged.dis"}) {
    SCOPED_TRACE(name);
    const tooltest::ToolResult run = runOther({BTREEIMG_PIXBUF_THUMBNAILER, "-s", "128", dir.file(name), dir.file("t.png")}, dir);
    EXPECT_TRUE(run.status > 0 && run.status < 128) << run.status << run.err;
    EXPECT_NE(run.err.find("damaged"), std::string::npos) << run.err;
    EXPECT_FALSE(std::filesystem::exists(dir.file("t.png")));
  }
}

TEST(Thumbnailer, NeedsNoProcFileSystem) {
  // The loader reads what it gathered in memory, never through a name under
  // /proc: a thumbnail is made in a mount namespace without /proc.
  if (std::strlen(BTREEIMG_SANITIZER_PRELOAD) > 0) {
    GTEST_SKIP() << "the sanitizer's runtime reads /proc itself";
  }
  useBuiltDesktop();
  testfiles::TempDir dir;
  const tooltest::ToolResult probe =
      runOther({"unshare", "-m", "--propagation", "private", "sh", "-c", "umount -l /proc"}, dir);
  if (probe.status != 0) GTEST_SKIP() << "no mount namespace here: " << probe.err;
  const tooltest::ToolResult run =
      runOther({"unshare", "-m", "--propagation", "private", "sh", "-c",
                "umount -l /proc && test ! -e /proc/self && exec \"$0\" \"$@\"",
                BTREEIMG_PIXBUF_THUMBNAILER, "-s", "64", tooltest::sample("design.dis"), dir.file("t.png")},
               dir);
  EXPECT_EQ(run.status, 0) << run.err;
  Picture thumbnail;
  ASSERT_TRUE(readRgbPng(dir.file("t.png"), thumbnail));
  EXPECT_EQ(thumbnail.width, 64u);
  EXPECT_EQ(thumbnail.height, 48u);
}

}  // namespace
}  // namespace desktoptest
