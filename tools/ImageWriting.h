// Writing a new image for the tool's commands: the image is built in memory
// and replaces the output only when complete (through the library's safe
// replacement), so that a failure leaves no half-written output and an
// existing output unchanged.
#ifndef BTREEIMG_TOOLS_IMAGEWRITING_H_
#define BTREEIMG_TOOLS_IMAGEWRITING_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "PngFile.h"

class BtreeImg;

namespace tool {

class ImageWriter {
 public:
  // A new image of `planes` planes of `width` x `height` in encoding `pack`,
  // with the 256-entry colour map `map`. Fails with kBadInput when the
  // format cannot hold such an image.
  ImageWriter(const std::string& output, int pack, std::uint32_t width,
              std::uint32_t height, int planes, const std::vector<Rgb>& map);
  ImageWriter(const ImageWriter&) = delete;
  ImageWriter& operator=(const ImageWriter&) = delete;
  // Without commit(): the output is left as it was.
  ~ImageWriter();

  // Writes line `y` of `plane` (width bytes). Lines of a plane are written
  // in order from 0. Fails with kCannotWrite when the line does not fit the
  // plane's place in the file.
  void writeLine(int plane, std::uint32_t y, const std::uint8_t* row);
  // Closes the image (encoding whole-plane packed planes), which replaces
  // the output. Fails with kCannotWrite.
  void commit();
  // Replaces the colour map (256 entries; fewer are padded with black).
  void setColourMap(const std::vector<Rgb>& map);
  // The version the library chose for the new image.
  int version() const { return version_; }

 private:
  void discard();

  std::string output_;
  int pack_;
  int version_ = 0;
  std::unique_ptr<BtreeImg> image_;
};

}  // namespace tool

#endif  // BTREEIMG_TOOLS_IMAGEWRITING_H_
