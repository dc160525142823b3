// The image files as Qt's image readers and writers see them: one handler
// per QImageReader or QImageWriter, on the device Qt hands it.
//
// Reading. Each plane is one image (imageCount() is the plane count,
// jumpToImage() picks one); read() gives it as QImage::Format_Indexed8 with
// the file's colour map as its colour table. size() and imageCount() read
// the header blocks only. A regular file is read where it lies, through its
// descriptor; any other device is read to its end into memory. Before the
// first picture, ImageCheck inspects the file whole, and only a sound file
// is shown; the picture is then sampled through the library's sampling at
// the scaled size and clip rectangle asked for, so that a small picture of a
// huge image reads only the lines it shows. The library's pixel limit
// (sampling::pixelLimitFromEnvironment) applies, and under Qt 6 Qt's own
// allocation limit as well.
//
// Qt gives a handler no say in QImageReader::errorString() (a failed read is
// "Unable to read image data"); the reason a read fails goes to Qt's log
// under the category "btreeimg.imageformat", and is the reader's text
// "Problem" (QImageReader::text), in the words every front end uses.
//
// Writing. Format_Indexed8 (its colour table as the map) and
// Format_Grayscale8 (a grey ramp as the map) images, and one-bit images as
// Indexed8, are written as one-plane files through btreeimg::ImageWriter,
// each plane packed while its code fits in the room of a raw one. A file
// device is replaced through the library's safe save; any other device
// (and a file in a folder the save cannot write) is given the bytes of an
// image written to a private temporary folder first.
#ifndef BTREEIMG_DESKTOP_QT_IMAGEHANDLER_H_
#define BTREEIMG_DESKTOP_QT_IMAGEHANDLER_H_

#include <QImageIOHandler>
#include <QRect>
#include <QSize>

#include <memory>
#include <string>
#include <vector>

namespace btreeimg {
class ImageReader;
}

namespace btreeimg::qt {

class ImageHandler : public QImageIOHandler {
 public:
  ImageHandler();
  ~ImageHandler() override;

  // Whether `device`'s next bytes start a usable image file (its first
  // header block); the device's position does not move.
  static bool canRead(QIODevice* device);

  bool canRead() const override;
  bool read(QImage* image) override;
  bool write(const QImage& image) override;

  QVariant option(ImageOption option) const override;
  void setOption(ImageOption option, const QVariant& value) override;
  bool supportsOption(ImageOption option) const override;

  int imageCount() const override;
  int currentImageNumber() const override;
  bool jumpToImage(int imageNumber) override;
  bool jumpToNextImage() override;

 private:
  // Opens the reader on the device once; false (problem_ set) when the
  // device holds no usable image.
  bool open() const;
  // Inspects the whole file once; false (problem_ set) unless it is sound.
  bool inspect() const;
  // Makes the picture of the current plane as the options ask.
  bool render(QImage* image);
  // Notes why the handler fails, and logs it.
  void fail(const std::string& problem) const;

  mutable std::unique_ptr<btreeimg::ImageReader> reader_;
  mutable std::vector<unsigned char> bytes_;  // a device that is no file
  mutable int descriptor_ = -1;               // a regular file's
  mutable bool opened_ = false;
  mutable bool inspected_ = false;
  mutable bool sound_ = false;  // what the inspection found
  mutable std::string problem_;
  int plane_ = 1;
  QSize scaledSize_;
  QRect clipRect_;
};

}  // namespace btreeimg::qt

#endif  // BTREEIMG_DESKTOP_QT_IMAGEHANDLER_H_
