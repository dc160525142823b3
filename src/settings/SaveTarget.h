// A check shared by the settings savers, which replace their file through a
// temporary file and a rename. Internal: not installed.
#ifndef BTREEIMG_SETTINGS_SAVETARGET_H_
#define BTREEIMG_SETTINGS_SAVETARGET_H_

#include <unistd.h>

namespace btreeimg::detail {

// True when `path` names an existing file that this process may not write.
// A rename would replace even such a file, so a save checks first and fails
// as opening the file for writing would have failed.
inline bool refusesWrites(const char* path) {
  return ::access(path, F_OK) == 0 && ::access(path, W_OK) != 0;
}

}  // namespace btreeimg::detail

#endif  // BTREEIMG_SETTINGS_SAVETARGET_H_
