// The tool's commands, one file each. add<Command>() adds the command to the
// command line with its arguments and options; when the user names it,
// `run` is set to what carries it out. A command returns its exit status
// (Failure.h) or ends with a tool::Failure, which main() turns into a
// message and a status.
//
// The commands that read an image refuse one that ImageCheck finds unusable
// or damaged, in the words of ImageCheck::Summary. Those with --lenient
// read a damaged one anyway, as the library reads it, after a warning.
// Those with --max-pixels refuse to read a plane that costs more pixels
// (btreeimg::ImageReader::planeCost; 0: no limit), so that a small file
// stating a huge plane cannot make them spend gigabytes or hours.
#ifndef BTREEIMG_TOOLS_COMMANDS_H_
#define BTREEIMG_TOOLS_COMMANDS_H_

#include <functional>

namespace CLI {
class App;
}

namespace tool {

// What carries out the command the user named.
using Runner = std::function<int()>;

// info FILE... [--json]: the files' layout and colour map; the pixels of
// every plane found intact counted, unless a plane costs more than the
// pixel limit.
void addInfo(CLI::App& app, Runner& run);

// check FILE...: structural verification, one line per problem.
void addCheck(CLI::App& app, Runner& run);

// topng FILE OUT.png [--plane N]: a plane (none named: all side by side) as
// a palette PNG through the image's colour map. OUT "-" is the standard
// output.
void addToPng(CLI::App& app, Runner& run);

// frompng IN.png... OUT [--pack P]: one plane per PNG (palette, grey, or
// RGB of at most 256 colours); by default each plane's encoding chosen
// (btreeimg::ImageWriter::kChooseEncoding).
void addFromPng(CLI::App& app, Runner& run);

// repack FILE OUT --pack P: every plane re-encoded.
void addRepack(CLI::App& app, Runner& run);

// cover FILE RULES OUT: colour coverage of plane 1.
void addCover(CLI::App& app, Runner& run);

// diff A B [--json]: the two images' pixels and colour maps compared; 0
// when equal, kDiffer when not.
void addDiff(CLI::App& app, Runner& run);

// thumbnail FILE OUT.png [-s SIZE]: plane 1 fitted into SIZE x SIZE as a
// palette PNG, reading only the sampled lines (held to the pixel limit as a
// plane is: the lines read times their length). OUT "-" is the standard
// output.
void addThumbnail(CLI::App& app, Runner& run);

// The encoding's name: "raw", "packed", "whole-plane packed" or "undefined".
const char* encodingName(int pack);

}  // namespace tool

#endif  // BTREEIMG_TOOLS_COMMANDS_H_
