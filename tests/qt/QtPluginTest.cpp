// The Qt image plugin through QImageReader and QImageWriter. The sampling,
// verdicts and limit arithmetic are the library's: one case each here.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "image/ImageReader.h"
#include "support/FrontEnds.h"
#include "support/TestFiles.h"

namespace frontend {
namespace {

QString q(const std::string& text) { return QString::fromStdString(text); }

// The picture's pixels as colours, row by row.
std::vector<QRgb> coloursOf(const QImage& image) {
  std::vector<QRgb> colours;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) colours.push_back(image.pixel(x, y));
  }
  return colours;
}

// Pixels in runs of three, their own on every plane and line.
std::uint8_t pattern(int plane, int x, int y) { return static_cast<std::uint8_t>(x / 3 + 5 * y + 60 * plane); }

// A read of `path` with the options given: the image, or the error and
// "Problem".
struct Read {
  QImage image;
  std::string error;
};
Read readImage(const std::string& path, QSize scaled = {}, QRect clip = {}, int plane = 0) {
  QImageReader reader(q(path));
  if (scaled.isValid()) reader.setScaledSize(scaled);
  if (!clip.isNull()) reader.setClipRect(clip);
  if (plane > 0) reader.jumpToImage(plane - 1);
  Read read;
  read.image = reader.read();
  if (read.image.isNull()) read.error = (reader.errorString() + ": " + reader.text("Problem")).toStdString();
  return read;
}

TEST(QtPlugin, ReadsEachPlaneAsIndexed8WithTheColourMapAsTheToolsPngShowsIt) {
  testfiles::TempDir dir;
  // No .dis name: the plugin is picked by the bytes.
  testfiles::writeFile(dir.file("design"), testfiles::readFile(sample("design.dis")));
  QImageReader reader(q(dir.file("design")));
  ASSERT_TRUE(reader.canRead()) << reader.errorString().toStdString();
  EXPECT_EQ(reader.format(), "dis");
  EXPECT_EQ(reader.size(), QSize(256, 192));
  EXPECT_EQ(reader.imageFormat(), QImage::Format_Indexed8);
  ASSERT_EQ(reader.imageCount(), 3);
  EXPECT_FALSE(reader.jumpToImage(3));
  for (int plane : {1, 3}) {
    SCOPED_TRACE(plane);
    const std::string png = dir.file("p" + std::to_string(plane) + ".png");
    const Result run = runProgram(BTREEIMG_TOOL, {"topng", "--plane", std::to_string(plane), sample("design.dis"), png}, dir);
    ASSERT_EQ(run.status, 0) << run.err;
    ASSERT_TRUE(reader.jumpToImage(plane - 1));
    const QImage image = reader.read();
    ASSERT_EQ(image.format(), QImage::Format_Indexed8) << reader.errorString().toStdString();
    EXPECT_EQ(coloursOf(image), coloursOf(QImage(q(png))));
  }
}

// 300 x 99 at 100 x 33: each pixel the source pixel at the centre of its
// 3 x 3 box; a clip is cut at the image's edge; the limit holds what is read.
TEST(QtPlugin, ScaledAndClippedPicturesAreSampledAndHeldToThePixelLimit) {
  testfiles::TempDir dir;
  const std::string path = dir.file("picture.dis");
  makeImage(path, 1, 300, 99, 2, pattern, /*coloured=*/true);
  const std::pair<QSize, QRect> cases[] = {{QSize(100, 33), {}},
                                           {{}, QRect(290, 90, 50, 50)}};
  for (const auto& [scaled, clip] : cases) {
    const Read read = readImage(path, scaled, clip, 2);
    ASSERT_EQ(read.image.format(), QImage::Format_Indexed8) << read.error;
    const int step = clip.isNull() ? 3 : 1, x0 = clip.isNull() ? 0 : 290,
              y0 = clip.isNull() ? 0 : 90;
    ASSERT_EQ(read.image.size(), clip.isNull() ? scaled : QSize(10, 9));
    for (int y = 0; y < read.image.height(); ++y) {
      for (int x = 0; x < read.image.width(); ++x) {
        const Rgb c = colourOf(
            pattern(2, x0 + step * x + step / 2, y0 + step * y + step / 2));
        ASSERT_EQ(read.image.pixel(x, y), qRgb(c[0], c[1], c[2]))
            << x << ", " << y;
      }
    }
  }
  EXPECT_THAT(readImage(path, {}, QRect(300, 0, 5, 5)).error,
              testing::HasSubstr("lies outside"));
  const auto limited = [](const char* limit) {
    ::setenv("BTREEIMG_MAX_PIXELS", limit, 1);
    const Read read = readImage(sample("design.dis"), QSize(64, 48));
    ::unsetenv("BTREEIMG_MAX_PIXELS");
    return read.image.isNull() ? read.error : "read";
  };
  EXPECT_EQ(limited("12288"), "read");
  EXPECT_EQ(limited("12287"),
            "Unable to read image data: The image is too large: a 64 x 48 picture reads 48 lines of 256 pixels, "
            "12288 in all, more than the limit of 12287 (the environment variable BTREEIMG_MAX_PIXELS raises it)");
}

// Damage a small picture would not read still refuses the file, from a
// path or from memory; Qt's allocation limit holds too.
TEST(QtPlugin, DamagedFilesFailWithTheInspectionsVerdict) {
  testfiles::TempDir dir;
  // 20 packed lines of 10 pixels, one run pair each; the last count cut to 9.
  makeImage(dir.file("lines.dis"), 1, 10, 20, 1, [](int, int, int y) { return static_cast<std::uint8_t>(y); });
  testfiles::Bytes lines = testfiles::readFile(dir.file("lines.dis"));
  lines.at(1312 + 4 * 21 + 2 * 19) = 9;
  testfiles::writeFile(dir.file("lines.dis"), lines);
  EXPECT_EQ(readImage(dir.file("lines.dis"), QSize(1, 1)).error,
            "Unable to read image data: The image file is damaged: plane 1: "
            "line 19 decodes to 9 bytes, not 10");
  const std::string cut = cutSample(dir, 3000);
  const testfiles::Bytes bytes = testfiles::readFile(cut);
  QBuffer buffer;
  buffer.setData(reinterpret_cast<const char*>(bytes.data()), static_cast<int>(bytes.size()));
  buffer.open(QIODevice::ReadOnly);
  QImageReader fromMemory(&buffer, "dis");
  EXPECT_TRUE(fromMemory.read().isNull());
  EXPECT_EQ(fromMemory.text("Problem").toStdString(), "The image file is damaged: " + summaryOf(cut));
  EXPECT_FALSE(
      QImageReader(q(cutSample(dir, 1311))).canRead());  // not an image

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
  testfiles::writeFile(dir.file("big.dis"), flatPlane(2048, 1024));
  const int old = QImageReader::allocationLimit();
  QImageReader::setAllocationLimit(1);
  EXPECT_THAT(readImage(dir.file("big.dis")).error, testing::HasSubstr("Qt's allocation limit"));
  EXPECT_EQ(readImage(dir.file("big.dis"), QSize(128, 64)).image.size(), QSize(128, 64));
  QImageReader::setAllocationLimit(old);
#endif
}

// One-plane files from indexed and grey images, to a path (replaced), a
// buffer or a QSaveFile; other formats are refused and nothing written.
TEST(QtPlugin, WritesIndexedAndGreyImagesAsOnePlaneFilesThroughTheImageWriter) {
  testfiles::TempDir dir;
  QImage indexed(40, 30, QImage::Format_Indexed8);
  indexed.setColorTable({qRgb(1, 2, 3), qRgb(200, 100, 50), qRgb(9, 8, 7)});
  QImage grey(40, 30, QImage::Format_Grayscale8);
  for (int y = 0; y < 30; ++y) {
    for (int x = 0; x < 40; ++x) {
      indexed.setPixel(x, y, static_cast<unsigned>((x / 4 + y) % 3));
      grey.scanLine(y)[x] = static_cast<uchar>(noise(1)(1, x, y));
    }
  }
  testfiles::writeText(dir.file("grey.dis"), "an older file");
  struct Case {
    const QImage& image;
    std::string path;
  };
  for (const Case& c : {Case{indexed, dir.file("indexed.dis")}, Case{grey, dir.file("grey.dis")}}) {
    SCOPED_TRACE(c.path);
    QImageWriter writer(q(c.path));
    ASSERT_TRUE(writer.write(c.image)) << writer.errorString().toStdString();
    btreeimg::ImageReader file(c.path.c_str());
    EXPECT_EQ(file.planes(), 1);
    EXPECT_EQ(coloursOf(readImage(c.path).image), coloursOf(c.image));
    unsigned char map[768];
    file.colourMap(map);
    EXPECT_EQ(map[3 * 255], c.image.format() == QImage::Format_Grayscale8 ? 255 : 0);
  }

  QBuffer buffer;
  buffer.open(QIODevice::WriteOnly);
  ASSERT_TRUE(QImageWriter(&buffer, "dis").write(indexed));
  buffer.close();
  buffer.open(QIODevice::ReadOnly);
  EXPECT_EQ(coloursOf(QImageReader(&buffer).read()), coloursOf(indexed));
  QSaveFile saved(q(dir.file("saved.dis")));
  ASSERT_TRUE(saved.open(QIODevice::WriteOnly));
  ASSERT_TRUE(QImageWriter(&saved, "dis").write(grey));
  ASSERT_TRUE(saved.commit());
  EXPECT_EQ(testfiles::readFile(dir.file("saved.dis")), testfiles::readFile(dir.file("grey.dis")));

  QImageWriter rgb(q(dir.file("rgb.dis")));
  EXPECT_FALSE(rgb.write(indexed.convertToFormat(QImage::Format_RGB32)));
  EXPECT_EQ(testfiles::readFile(dir.file("rgb.dis")).size(), 0u);
}

}  // namespace
}  // namespace frontend

// Qt 5's offscreen platform leaves its screen objects behind at exit.
extern "C" __attribute__((used)) const char* __lsan_default_suppressions();
extern "C" __attribute__((used)) const char* __lsan_default_suppressions() {
  return "leak:libQt5Gui.so\nleak:libQt5Core.so\n";
}

int main(int argc, char** argv) {
  // Qt's platform for a test without a display, unless one is chosen.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication application(argc, argv);
  // The plugin as built (or as installed, named by BTREEIMG_QT_PLUGINS) first.
  const QString plugins = qEnvironmentVariable("BTREEIMG_QT_PLUGINS");
  QCoreApplication::addLibraryPath(plugins.isEmpty() ? QStringLiteral(BTREEIMG_QT_PLUGINS) : plugins);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
