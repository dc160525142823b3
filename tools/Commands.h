// The tool's commands. Each returns the exit status (ToolSupport.h) or ends
// with a tool::Failure; main() turns that into a message and a status.
//
// The commands that read an image refuse one that ImageCheck finds unusable
// or damaged, in the words of ImageCheck::Summary. Those given `lenient`
// read a damaged one anyway, as the library reads it, after a warning.
// Those given `maxPixels` refuse to read a plane that costs more pixels
// (btreeimg::ImageReader::planeCost; 0: no limit), so that a small file
// stating a huge plane cannot make them spend gigabytes or hours.
#ifndef BTREEIMG_TOOLS_COMMANDS_H_
#define BTREEIMG_TOOLS_COMMANDS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "image/ImageReader.h"

namespace tool {

// The pixel limit of the commands unless --max-pixels says otherwise: the
// library's limit for readers of files from anywhere.
constexpr std::uint64_t kPixelLimit = btreeimg::ImageReader::kDefaultPixelLimit;

// info FILE... [--json]: the files' layout and colour map; the pixels of
// every plane found intact counted, unless a plane costs more than
// `maxPixels`.
int runInfo(const std::vector<std::string>& files, bool json,
            std::uint64_t maxPixels = kPixelLimit);

// check FILE...: structural verification, one line per problem.
int runCheck(const std::vector<std::string>& files);

// topng FILE OUT.png [--plane N]: a plane (0: all side by side) as a palette
// PNG through the image's colour map. OUT "-" is the standard output.
int runToPng(const std::string& file, const std::string& output, int plane,
             bool lenient = false, std::uint64_t maxPixels = kPixelLimit);

// frompng IN.png... OUT [--pack P]: one plane per PNG (palette, grey, or
// RGB of at most 256 colours). `pack` is an encoding, or
// btreeimg::ImageWriter::kChooseEncoding to choose each plane's.
int runFromPng(const std::vector<std::string>& inputs, const std::string& output,
               int pack);

// repack FILE OUT --pack P: every plane re-encoded.
int runRepack(const std::string& file, const std::string& output, int pack,
              bool lenient = false, std::uint64_t maxPixels = kPixelLimit);

// cover FILE RULES OUT: colour coverage of plane 1.
int runCover(const std::string& file, const std::string& rules,
             const std::string& output, std::uint64_t maxPixels = kPixelLimit);

// diff A B [--json]: the two images' pixels and colour maps compared; 0
// when equal, kDiffer when not.
int runDiff(const std::string& first, const std::string& second, bool json,
            bool lenient = false, std::uint64_t maxPixels = kPixelLimit);

// thumbnail FILE OUT.png [-s SIZE]: plane 1 fitted into SIZE x SIZE as a
// palette PNG, reading only the sampled lines (held to `maxPixels` as a
// plane is: the lines read times their length). OUT "-" is the standard
// output.
int runThumbnail(const std::string& file, const std::string& output, int size,
                 bool lenient = false, std::uint64_t maxPixels = kPixelLimit);

// The encoding's name: "raw", "packed", "whole-plane packed" or "undefined".
const char* encodingName(int pack);

}  // namespace tool

#endif  // BTREEIMG_TOOLS_COMMANDS_H_
