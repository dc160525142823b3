// The tool's commands. Each returns the exit status (ToolSupport.h) or ends
// with a tool::Failure; main() turns that into a message and a status.
#ifndef BTREEIMG_TOOLS_COMMANDS_H_
#define BTREEIMG_TOOLS_COMMANDS_H_

#include <string>
#include <vector>

namespace tool {

// info FILE... [--json]: the files' layout and colour map.
int runInfo(const std::vector<std::string>& files, bool json);

// check FILE...: structural verification, one line per problem.
int runCheck(const std::vector<std::string>& files);

// topng FILE OUT.png [--plane N]: a plane (0: all side by side) as a palette
// PNG through the image's colour map.
int runToPng(const std::string& file, const std::string& output, int plane);

// frompng IN.png... OUT [--pack P]: one plane per PNG (palette, grey, or
// RGB of at most 256 colours).
int runFromPng(const std::vector<std::string>& inputs, const std::string& output,
               int pack);

// repack FILE OUT --pack P: every plane re-encoded.
int runRepack(const std::string& file, const std::string& output, int pack);

// cover FILE RULES OUT: colour coverage of plane 1.
int runCover(const std::string& file, const std::string& rules,
             const std::string& output);

// diff A B [--json]: the two images' pixels and colour maps compared; 0
// when equal, kDiffer when not.
int runDiff(const std::string& first, const std::string& second, bool json);

// thumbnail FILE OUT.png [-s SIZE]: plane 1 fitted into SIZE x SIZE as a
// palette PNG, reading only the sampled lines.
int runThumbnail(const std::string& file, const std::string& output, int size);

// The encoding's name: "raw", "packed", "whole-plane packed" or "undefined".
const char* encodingName(int pack);

}  // namespace tool

#endif  // BTREEIMG_TOOLS_COMMANDS_H_
