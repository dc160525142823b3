// A new image file built from its lines, each plane in its own encoding.
#include "image/ImageWriter.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

#include "framework/ByteOrder.h"
#include "framework/Exceptions.h"
#include "framework/ThrowHelpers.h"
#include "image/BtreeImg.h"
#include "image/HeaderLayout.h"
#include "planestore/BtreePacked.h"
#include "planestore/BtreeUnPacked.h"

namespace block = btreeimg::detail::block;
using btreeimg::detail::storeU16;
using btreeimg::detail::throwFileError;
using btreeimg::detail::throwInvalidArgument;

namespace btreeimg {

int ImageWriter::versionFor(unsigned int width, unsigned int height,
                            int planes) {
  if (width > 65535 || height > 65535) return 4;
  return planes > 2 ? 3 : 2;
}

ImageWriter::ImageWriter(const char* path, int pack, unsigned int width,
                         unsigned int height, int planes)
    : pack_{}, nextLine_{}, width_(width), height_(height), planes_(planes) {
  if (pack < kChooseEncoding || pack > 2) {
    throwInvalidArgument("encoding other than 0, 1, 2 or chosen per plane");
  }
  if (width == 0 || height == 0 || width > INT_MAX || height > INT_MAX) {
    throwInvalidArgument("image dimensions outside 1..2147483647");
  }
  // Checked in full before it is narrowed to the creating constructor's
  // short: 65537 planes must not pass as 1.
  if (planes < 1 || planes > block::kMaxPlanes) {
    throwInvalidArgument("plane count outside 1..5");
  }
  // The library's creating constructor checks the plane count and the
  // positions; a chosen encoding starts packed.
  image_ = std::make_unique<BtreeImg>(path, pack == kChooseEncoding ? 1 : pack,
                                      static_cast<int>(width),
                                      static_cast<int>(height),
                                      static_cast<short>(planes));
  for (int p = 1; p <= planes; ++p) pack_[p - 1] = pack;
  if (pack != kChooseEncoding) return;
  limitChosenPlanes();
  // The table and the shortest code of every line take more than a raw
  // plane's room in narrow planes, which are therefore raw from the start.
  const ULONGLONG shortest =
      4 * (ULONGLONG{height} + 1) + 2 * ULONGLONG{height} * ((width + 254) / 255);
  if (shortest > ULONGLONG{width} * height) {
    for (int p = 1; p <= planes; ++p) turnRaw(p);
  }
}

ULONGLONG ImageWriter::regionStart(int plane) const {
  return image_->blockPosition(plane) + block::kSize;
}

void ImageWriter::limitChosenPlanes() {
  // A chosen plane stays packed only while its code fits the room of the
  // raw plane, also when it is the last plane (whose room has no end).
  for (int p = 1; p <= planes_; ++p) {
    if (pack_[p - 1] != kChooseEncoding) continue;
    BtreeMod* storage = image_->piani[p - 1];
    const ULONGLONG rawEnd = regionStart(p) + ULONGLONG{width_} * height_;
    storage->SetRegionEnd(std::min(storage->RegionEnd(), rawEnd));
  }
}

ImageWriter::~ImageWriter() {
  if (!done_ && image_ != nullptr) image_->discard();
}

int ImageWriter::version() const { return image_->Version(); }
int ImageWriter::planes() const { return planes_; }
unsigned int ImageWriter::width() const { return width_; }
unsigned int ImageWriter::height() const { return height_; }

void ImageWriter::requirePlane(int plane) const {
  if (plane < 1 || plane > planes_) throwInvalidArgument("no such plane");
}

int ImageWriter::encoding(int plane) const {
  requirePlane(plane);
  return pack_[plane - 1] == kChooseEncoding ? 1 : pack_[plane - 1];
}

void ImageWriter::setColourMap(const unsigned char* map) {
  if (done_) throwInvalidArgument("image already written or dropped");
  // The first block's copies of every layout, then the block in the image.
  for (unsigned char* first :
       {image_->header2[0], image_->header3[0], image_->header4[0]}) {
    std::memcpy(first + block::kMapAt, map, block::kMapSize);
  }
  image_->writeMap(map);
}

void ImageWriter::writeLine(int plane, unsigned int line,
                            const unsigned char* row) {
  requirePlane(plane);
  if (done_) throwInvalidArgument("image already written or dropped");
  if (line >= height_) throwInvalidArgument("line outside the plane");
  const int pack = pack_[plane - 1];
  const bool inOrder = pack == 1 || pack == kChooseEncoding;
  // Writing an earlier line again would drop every line behind it.
  if (inOrder && line != nextLine_[plane - 1]) {
    throwInvalidArgument("lines of a packed plane are written once, in order");
  }
  char* data = reinterpret_cast<char*>(const_cast<unsigned char*>(row));
  const short p = static_cast<short>(plane);
  if (image_->wLinea(data, static_cast<int>(line), p) == 0) {
    if (pack != kChooseEncoding) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "plane %d, line %u: the packed line does not fit before "
                    "the next plane's header block",
                    plane, line);
      throwFileError(CFileException::invalidFile, image_->fileName, -1, text);
    }
    nextLine_[plane - 1] = line;
    turnRaw(plane);
    image_->wLinea(data, static_cast<int>(line), p);
  }
  if (inOrder) nextLine_[plane - 1] = line + 1;
}

void ImageWriter::turnRaw(int plane) {
  BtreeImg& image = *image_;
  const short p = static_cast<short>(plane);
  // Step 1: the lines written so far, decoded; line 0 as the new image
  // started it when the caller has written none.
  const unsigned int kept = std::max(nextLine_[plane - 1], 1u);
  std::vector<unsigned char> lines(std::size_t{kept} * width_);
  if (nextLine_[plane - 1] == 0) {
    std::fill(lines.begin(), lines.end(), plane == 1 ? 1 : 0);
  } else {
    for (unsigned int y = 0; y < kept; ++y) {
      image.at(y, p, lines.data() + std::size_t{y} * width_);
    }
  }
  // Step 2: the region cleared of packed code, a raw storage in place of
  // the packed one, the plane's block saying so.
  const auto region = static_cast<long>(regionStart(plane));
  const ULONGLONG fileEnd = image.memFile.GetLength();
  const ULONGLONG rawEnd = static_cast<ULONGLONG>(region) +
                           ULONGLONG{width_} * height_;
  if (fileEnd > static_cast<ULONGLONG>(region)) {
    const ULONGLONG clear = std::min(fileEnd, rawEnd) - region;
    std::vector<unsigned char> zeros(
        static_cast<std::size_t>(std::min<ULONGLONG>(clear, 1u << 20)));
    image.memFile.Seek(region, CFile::begin);
    for (ULONGLONG left = clear; left > 0;) {
      const auto n = static_cast<UINT>(std::min<ULONGLONG>(left, zeros.size()));
      image.memFile.Write(zeros.data(), n);
      left -= n;
    }
  }
  delete image.piani[plane - 1];
  image.piani[plane - 1] = nullptr;
  image.piani[plane - 1] = new BtreeUnPacked(
      &image.memFile, region, static_cast<int>(width_), static_cast<int>(height_));
  pack_[plane - 1] = 0;
  image.refreshRegionEnds();
  limitChosenPlanes();
  storeU16(image.area(plane - 1) + block::kPackAt, 0);
  if (plane == 1) storeU16(image.header2[0] + block::kPackAt, 0);
  image.writePack(p);
  // Step 3: the lines back, raw.
  for (unsigned int y = 0; y < kept; ++y) {
    image.wLinea(reinterpret_cast<char*>(lines.data() + std::size_t{y} * width_),
                 static_cast<int>(y), p);
  }
}

void ImageWriter::commit() {
  if (done_) return;
  // Lines never written are saved as zero lines; a chosen plane whose zero
  // lines would not fit behind its code is turned raw, which always fits.
  for (int p = 1; p <= planes_; ++p) {
    if (pack_[p - 1] != kChooseEncoding) continue;
    auto* packed = dynamic_cast<BtreePacked*>(image_->piani[p - 1]);
    if (packed != nullptr && packed->complete() == 0) turnRaw(p);
  }
  image_->closeImg();
  done_ = true;
}

void ImageWriter::discard() {
  if (done_) return;
  image_->discard();
  done_ = true;
}

}  // namespace btreeimg
