// Colour coverage of a small image with an arbitrary rule file.
#include <vector>

#include "FuzzSupport.h"
#include "image/BtreeImg.h"

namespace {

// A 24 x 9 image in a few colours, made once per process.
const std::string& sourceImage() {
  static const std::string path = [] {
    const std::string name = fuzz::pathOf("source.dis");
    BtreeImg image(name.c_str(), 0, 24, 9, 1);
    std::vector<char> line(24);
    for (int y = 0; y < 9; ++y) {
      for (int x = 0; x < 24; ++x) line[x] = static_cast<char>((x / 3 + y) % 5 * 50);
      image.wLinea(line.data(), y, 1);
    }
    image.closeImg();
    return name;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string& source = sourceImage();
  const std::string rules = fuzz::pathOf("rules.txt");
  const std::string output = fuzz::pathOf("output.dis");
  fuzz::writeBytes(rules, data, size);
  fuzz::tolerate([&] {
    BtreeImg image(source.c_str());
    image.CoperturaU8(rules.c_str(), output.c_str());
  });
  std::remove(output.c_str());
  return 0;
}
