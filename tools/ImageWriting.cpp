#include "ImageWriting.h"

#include <climits>
#include <cstring>

#include "Commands.h"
#include "ToolSupport.h"
#include "image/BtreeImg.h"

namespace tool {

namespace {
constexpr std::size_t kHeaderSize = 1312;
constexpr std::size_t kMapAt = 20;  // the colour map's place in the first block
}  // namespace

ImageWriter::ImageWriter(const std::string& output, int pack, std::uint32_t width,
                         std::uint32_t height, int planes,
                         const std::vector<Rgb>& map)
    : output_(output), pack_(pack) {
  if (width == 0 || height == 0 || width > INT_MAX || height > INT_MAX) {
    fail(kBadInput, output + ": an image of " + std::to_string(width) + " x " +
                        std::to_string(height) + " cannot be made");
  }
  try {
    image_ = std::make_unique<BtreeImg>(output.c_str(), pack,
                                        static_cast<int>(width),
                                        static_cast<int>(height),
                                        static_cast<short>(planes));
  } catch (CException* e) {
    fail(kBadInput, output + ": " + takeCause(e));
  }
  setColourMap(map);
  version_ = image_->Version();
}

void ImageWriter::setColourMap(const std::vector<Rgb>& map) {
  // The colour map goes into the first block through the header operations,
  // so that the block copy and the file agree.
  unsigned char header[kHeaderSize];
  image_->readHeader(header, 1);
  for (std::size_t i = 0; i < 256; ++i) {
    const Rgb colour = i < map.size() ? map[i] : Rgb{};
    std::memcpy(header + kMapAt + 3 * i, colour.data(), 3);
  }
  image_->writeHeader(header, 1);
}

ImageWriter::~ImageWriter() {
  if (image_) discard();
}

void ImageWriter::discard() {
  image_->discard();  // nothing reaches the output
  image_.reset();
}

void ImageWriter::writeLine(int plane, std::uint32_t y, const std::uint8_t* row) {
  // wLinea takes a writable pointer but only reads the line.
  char* data = reinterpret_cast<char*>(const_cast<std::uint8_t*>(row));
  if (image_->wLinea(data, static_cast<int>(y), static_cast<short>(plane)) != 1) {
    discard();
    fail(kCannotWrite, output_ + ": plane " + std::to_string(plane) + " does not fit "
                           "its place in the file when " + encodingName(pack_) +
                           " (line " + std::to_string(y) + ")");
  }
}

void ImageWriter::commit() {
  try {
    image_->closeImg();
  } catch (CException* e) {
    const std::string cause = takeCause(e);
    discard();
    fail(kCannotWrite, output_ + ": " + cause);
  }
  image_.reset();
}

}  // namespace tool
