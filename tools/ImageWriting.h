// The image files the tool's commands write: always to a named file, line by
// line through btreeimg::ImageWriter.
#ifndef BTREEIMG_TOOLS_IMAGEWRITING_H_
#define BTREEIMG_TOOLS_IMAGEWRITING_H_

#include <cstdint>
#include <string>

namespace btreeimg {
class ImageWriter;
}

namespace tool {

// Ends the command with kUsage when the image file to write is "-": image
// files are written to a named file only (the standard output is for PNGs).
void requireNamedOutput(const std::string& output);

// writer.writeLine(plane, line, row); a line that does not fit ends the
// command with kCannotWrite, naming `output`, and `hint` as the hint.
void writeImageLine(btreeimg::ImageWriter& writer, const std::string& output, int plane,
                    std::uint32_t line, const std::uint8_t* row, const char* hint);

}  // namespace tool

#endif  // BTREEIMG_TOOLS_IMAGEWRITING_H_
