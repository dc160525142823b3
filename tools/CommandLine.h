// What the tool's commands share on the command line: how a command is
// added, and the options several of them take.
#ifndef BTREEIMG_TOOLS_COMMANDLINE_H_
#define BTREEIMG_TOOLS_COMMANDLINE_H_

#include <CLI/CLI.hpp>

#include <cstdint>

#include "image/ImageReader.h"

namespace tool {

// The pixel limit of the commands unless --max-pixels says otherwise: the
// library's limit for readers of files from anywhere.
constexpr std::uint64_t kPixelLimit = btreeimg::ImageReader::kDefaultPixelLimit;

// Adds the command `name` to `app`, its help ending with where the exit
// statuses are listed.
CLI::App* addCommand(CLI::App& app, const char* name, const char* description);

// --lenient: read a damaged image as the library reads it.
void addLenient(CLI::App* command, bool& lenient);

// --max-pixels N: the limit on the pixels of a plane read.
void addMaxPixels(CLI::App* command, std::uint64_t& maxPixels);

}  // namespace tool

#endif  // BTREEIMG_TOOLS_COMMANDLINE_H_
