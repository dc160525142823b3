#include "ImageWriting.h"

#include "Failure.h"
#include "image/ImageWriter.h"

namespace tool {

void requireNamedOutput(const std::string& output) {
  if (output == "-") {
    fail(kUsage, "an image file cannot be written to the standard output ('-'); name a file "
                 "(./- for a file called '-')");
  }
}

void writeImageLine(btreeimg::ImageWriter& writer, const std::string& output, int plane,
                    std::uint32_t line, const std::uint8_t* row, const char* hint) {
  try {
    writer.writeLine(plane, line, row);
  } catch (CException* e) {
    throw Failure{kCannotWrite, output + ": " + takeCause(e), hint};
  }
}

}  // namespace tool
