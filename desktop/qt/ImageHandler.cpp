#include "ImageHandler.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QImage>
#include <QLoggingCategory>
#include <QTemporaryDir>
#include <QVariant>

#include <climits>
#include <cstdint>
#include <cstring>
#include <new>

#include "framework/Exceptions.h"
#include "image/ImageCheck.h"
#include "image/ImageReader.h"
#include "image/ImageWriter.h"
#include "image/PlaneSampling.h"

Q_LOGGING_CATEGORY(btreeimgImageFormat, "btreeimg.imageformat")

namespace btreeimg::qt {

namespace {

namespace sampling = btreeimg::sampling;

// Every plane's header block has this size; the first one states the
// picture's size.
constexpr qint64 kHeaderBlock = 1312;
// The library refuses larger files; reading a device stops there.
constexpr std::uint64_t kLargestFile = std::uint64_t{1} << 32;

// The text of a framework exception, without a file name (Qt's log names
// the file). Releases the exception.
std::string takeMessage(CException* e) {
  const std::string text = btreeimg::describe(e, false).GetString();
  e->Delete();
  return text;
}

// The inspection's verdict in the words every front end uses.
std::string verdictOf(const ImageCheck& check) {
  const bool unusable = check.GetVerdict() == ImageCheck::unusable;
  return std::string(unusable ? "Not a usable image file: " : "The image file is damaged: ") +
         static_cast<const char*>(check.Summary());
}

std::string sizeText(std::uint64_t width, std::uint64_t height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

// The device's file name for Qt's log, or "the image".
QString nameOf(QIODevice* device) {
  const auto* file = qobject_cast<QFile*>(device);
  return file != nullptr && !file->fileName().isEmpty() ? file->fileName() : QStringLiteral("the image");
}

// The local file a file device stands for, when the library's safe save may
// replace it: a plain file (no QSaveFile, which commits its own copy, no
// resource), open and still empty, as QImageWriter leaves it.
QString replaceableFile(QIODevice* device) {
  auto* file = qobject_cast<QFile*>(device);
  if (file == nullptr || file->handle() < 0 || file->fileName().startsWith(QLatin1Char(':')) ||
      file->pos() != 0 || file->size() != 0) {
    return {};
  }
  return file->fileName();
}

// Writes `image` (Indexed8 or Grayscale8) as a one-plane file `path`.
void writeImage(const QImage& image, const QString& path) {
  const auto width = static_cast<unsigned>(image.width());
  const auto height = static_cast<unsigned>(image.height());
  btreeimg::ImageWriter writer(QFile::encodeName(path).constData(),
                               btreeimg::ImageWriter::kChooseEncoding, width, height, 1);
  unsigned char map[768] = {};
  const QVector<QRgb> table = image.colorTable();
  for (int i = 0; i < 256; ++i) {
    const QRgb colour = image.format() == QImage::Format_Grayscale8 ? qRgb(i, i, i)
                        : i < table.size()                          ? table[i]
                                                                    : qRgb(0, 0, 0);
    map[3 * i] = static_cast<unsigned char>(qRed(colour));
    map[3 * i + 1] = static_cast<unsigned char>(qGreen(colour));
    map[3 * i + 2] = static_cast<unsigned char>(qBlue(colour));
  }
  writer.setColourMap(map);
  for (unsigned y = 0; y < height; ++y) {
    writer.writeLine(1, y, image.constScanLine(static_cast<int>(y)));
  }
  writer.commit();
}

// Copies the file `path` to `device`; false when the device takes less.
bool copyTo(const QString& path, QIODevice* device) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  char buffer[1 << 16];
  for (qint64 got; (got = file.read(buffer, sizeof buffer)) > 0;) {
    if (device->write(buffer, got) != got) return false;
  }
  return file.atEnd();
}

}  // namespace

ImageHandler::ImageHandler() = default;

ImageHandler::~ImageHandler() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

bool ImageHandler::canRead(QIODevice* device) {
  if (device == nullptr) return false;
  const QByteArray head = device->peek(kHeaderBlock);
  if (head.size() != kHeaderBlock) return false;
  try {
    btreeimg::ImageReader first(head.constData(), head.size(), btreeimg::ImageReader::lenient);
    return true;
  } catch (CException* e) {
    e->Delete();
  } catch (...) {
  }
  return false;
}

bool ImageHandler::canRead() const {
  if (opened_) return reader_ != nullptr;
  if (!canRead(device())) return false;
  setFormat("dis");
  return true;
}

void ImageHandler::fail(const std::string& problem) const {
  problem_ = problem;
  qCWarning(btreeimgImageFormat, "%s: %s", qUtf8Printable(nameOf(device())), problem.c_str());
}

bool ImageHandler::open() const {
  if (opened_) return reader_ != nullptr;
  opened_ = true;
  QIODevice* source = device();
  if (source == nullptr) {
    fail("No device to read the image from");
    return false;
  }
  const auto* file = qobject_cast<QFile*>(source);
  struct stat info {};
  try {
    if (file != nullptr && file->handle() >= 0 && source->pos() == 0 &&
        ::fstat(file->handle(), &info) == 0 && S_ISREG(info.st_mode)) {
      // A descriptor of the handler's own: the device may be closed first.
      descriptor_ = ::fcntl(file->handle(), F_DUPFD_CLOEXEC, 0);
      if (descriptor_ < 0) throw std::bad_alloc();
      reader_ = std::make_unique<btreeimg::ImageReader>(descriptor_);
    } else {
      char buffer[1 << 16];
      for (qint64 got; (got = source->read(buffer, sizeof buffer)) > 0;) {
        if (bytes_.size() + static_cast<std::uint64_t>(got) > kLargestFile) {
          fail("The image file is larger than 4 GiB");
          return false;
        }
        bytes_.insert(bytes_.end(), buffer, buffer + got);
      }
      reader_ = std::make_unique<btreeimg::ImageReader>(bytes_.data(), bytes_.size());
    }
  } catch (CException* e) {
    const std::string message = takeMessage(e);
    if (inspect()) fail("The image cannot be read: " + message);  // else the verdict
    return false;
  } catch (const std::bad_alloc&) {
    fail("Not enough memory to open the image");
    return false;
  }
  const std::uint32_t width = reader_->width(), height = reader_->height();
  if (width == 0 || height == 0 || width > INT_MAX || height > INT_MAX) {
    fail("The image states a size of " + sizeText(width, height) + " pixels, which cannot be shown");
    reader_.reset();
    return false;
  }
  return true;
}

bool ImageHandler::inspect() const {
  if (inspected_) return sound_;
  inspected_ = true;
  ImageCheck check;
  if (descriptor_ >= 0) {
    check.InspectDescriptor(descriptor_);
  } else {
    check.Inspect(bytes_.data(), bytes_.size());
  }
  sound_ = check.GetVerdict() == ImageCheck::sound;
  if (!sound_) fail(verdictOf(check));
  return sound_;
}

bool ImageHandler::read(QImage* image) {
  if (!open() || !inspect()) return false;
  try {
    return render(image);
  } catch (CException* e) {
    fail("The image cannot be read: " + takeMessage(e));
  } catch (const std::bad_alloc&) {
    fail("Not enough memory to read the image");
  }
  return false;
}

bool ImageHandler::render(QImage* image) {
  const QRect whole(0, 0, static_cast<int>(reader_->width()), static_cast<int>(reader_->height()));
  const QRect clip = clipRect_.isNull() ? whole : clipRect_.intersected(whole);
  if (clip.isEmpty()) {
    fail("The clip rectangle lies outside the image's " + sizeText(whole.width(), whole.height()) +
         " pixels");
    return false;
  }
  const QSize target = scaledSize_.isValid() && !scaledSize_.isEmpty() ? scaledSize_ : clip.size();
  const sampling::Region region{static_cast<std::uint32_t>(clip.x()), static_cast<std::uint32_t>(clip.y()),
                                static_cast<std::uint32_t>(clip.width()),
                                static_cast<std::uint32_t>(clip.height())};
  const sampling::Size size{static_cast<std::uint32_t>(target.width()),
                            static_cast<std::uint32_t>(target.height())};
  const std::string problem =
      sampling::samplingProblem(*reader_, region, size, sampling::pixelLimitFromEnvironment());
  if (!problem.empty()) {
    fail("The image is too large: " + problem + sampling::kRaiseLimit);
    return false;
  }
  QImage picture;
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
  const bool allocated = QImageIOHandler::allocateImage(target, QImage::Format_Indexed8, &picture);
#else
  picture = QImage(target, QImage::Format_Indexed8);
  const bool allocated = !picture.isNull();
#endif
  if (!allocated) {
    fail("No picture of " + sizeText(size.width, size.height) +
         " pixels can be made (Qt's allocation limit, or not enough memory)");
    return false;
  }
  unsigned char map[768];
  reader_->colourMap(map);
  QVector<QRgb> table(256);
  for (int i = 0; i < 256; ++i) table[i] = qRgb(map[3 * i], map[3 * i + 1], map[3 * i + 2]);
  picture.setColorTable(table);
  sampling::sampleRows(*reader_, plane_, region, size, [&](std::uint32_t y, const unsigned char* row) {
    std::memcpy(picture.scanLine(static_cast<int>(y)), row, size.width);
  });
  *image = picture;
  return true;
}

bool ImageHandler::write(const QImage& image) {
  QImage lines = image;
  if (lines.format() == QImage::Format_Mono || lines.format() == QImage::Format_MonoLSB) {
    lines = lines.convertToFormat(QImage::Format_Indexed8);
  }
  if (lines.format() != QImage::Format_Indexed8 && lines.format() != QImage::Format_Grayscale8) {
    qCWarning(btreeimgImageFormat,
              "%s: only 8-bit indexed and grey images are written "
              "(QImage::convertToFormat(QImage::Format_Indexed8) makes one)",
              qUtf8Printable(nameOf(device())));
    return false;
  }
  std::string failure;
  try {
    // The file itself, replaced by the library's safe save.
    const QString path = replaceableFile(device());
    if (!path.isEmpty()) {
      try {
        writeImage(lines, path);
        return true;
      } catch (CException* e) {
        failure = takeMessage(e);  // the device may still take the bytes
      }
    }
    QTemporaryDir folder;
    if (!folder.isValid()) throw std::bad_alloc();
    const QString copy = folder.filePath(QStringLiteral("image.dis"));
    writeImage(lines, copy);
    if (copyTo(copy, device())) return true;
    failure = device()->errorString().toStdString();
  } catch (CException* e) {
    failure = takeMessage(e);
  } catch (const std::bad_alloc&) {
    failure = "not enough memory";
  }
  qCWarning(btreeimgImageFormat, "%s: the image cannot be written: %s",
            qUtf8Printable(nameOf(device())), failure.c_str());
  return false;
}

QVariant ImageHandler::option(ImageOption option) const {
  switch (option) {
    case Size:
      return open() ? QSize(static_cast<int>(reader_->width()), static_cast<int>(reader_->height()))
                    : QSize();
    case ImageFormat:
      return open() ? QImage::Format_Indexed8 : QImage::Format_Invalid;
    case ScaledSize:
      return scaledSize_;
    case ClipRect:
      return clipRect_;
    case Description:
      // A sound file has no text; the reason it cannot be shown as "Problem".
      if (open()) inspect();
      return problem_.empty() ? QString() : QStringLiteral("Problem: ") + QString::fromStdString(problem_);
    default:
      return {};
  }
}

void ImageHandler::setOption(ImageOption option, const QVariant& value) {
  if (option == ScaledSize) scaledSize_ = value.toSize();
  if (option == ClipRect) clipRect_ = value.toRect();
}

bool ImageHandler::supportsOption(ImageOption option) const {
  return option == Size || option == ImageFormat || option == ScaledSize || option == ClipRect ||
         option == Description;
}

int ImageHandler::imageCount() const { return open() ? reader_->planes() : 0; }

int ImageHandler::currentImageNumber() const { return plane_ - 1; }

bool ImageHandler::jumpToImage(int imageNumber) {
  if (imageNumber < 0 || imageNumber >= imageCount()) return false;
  plane_ = imageNumber + 1;
  return true;
}

bool ImageHandler::jumpToNextImage() { return jumpToImage(plane_); }

}  // namespace btreeimg::qt
