// The files the tool's commands read: only regular files, whose reading
// cannot block forever or never end.
#ifndef BTREEIMG_TOOLS_INPUTFILES_H_
#define BTREEIMG_TOOLS_INPUTFILES_H_

#include <string>

namespace tool {

// Ends the command with kBadInput when `path` names something other than a
// regular file (a FIFO, a device, a folder, a socket), whose reading could
// block forever or never end. A path that does not exist passes: opening it
// then says so.
void requireRegularFile(const std::string& path);

// Opens `path` read-only for an image command: something other than a
// regular file ends the command (requireRegularFile), checked again on the
// open file so that a path turned into a FIFO meanwhile is not waited on.
// Returns the descriptor (close-on-exec), or -1 with errno set when the
// file cannot be opened.
int openInput(const std::string& path);

}  // namespace tool

#endif  // BTREEIMG_TOOLS_INPUTFILES_H_
