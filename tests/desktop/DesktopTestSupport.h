// Support for the desktop tests: the build folder's loader cache and MIME
// database put in place for GdkPixbuf (in this process and the programs it
// starts), and programs run with what a sanitizer build needs.
#ifndef BTREEIMG_TESTS_DESKTOP_DESKTOPTESTSUPPORT_H_
#define BTREEIMG_TESTS_DESKTOP_DESKTOPTESTSUPPORT_H_

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "support/FrontEnds.h"
#include "support/TestFiles.h"

namespace desktoptest {

using namespace frontend;  // NOLINT: the helpers every test here uses

inline std::string sample(const char* name) { return std::string(BTREEIMG_SAMPLES) + "/" + name; }

// Points GdkPixbuf at the loader cache built beside the tests (naming only
// this project's loader; PNG is built into GdkPixbuf) and puts the MIME
// database holding the file type in front of the system's. Call before
// GdkPixbuf's first use; the programs the tests start inherit it.
inline void useBuiltDesktop() {
  ::setenv("GDK_PIXBUF_MODULE_FILE", BTREEIMG_LOADER_CACHE, 1);
  const char* system = std::getenv("XDG_DATA_DIRS");
  static const std::string dirs = std::string(BTREEIMG_MIME_SHARE) + ":" +
                                  (system != nullptr && *system ? system : "/usr/local/share:/usr/share");
  ::setenv("XDG_DATA_DIRS", dirs.c_str(), 1);
}

// Runs a program that may load the module: in a sanitizer build with the
// sanitizer's runtime, which the instrumented module needs, and no leak
// check.
inline Result runOther(std::vector<std::string> args, const testfiles::TempDir& dir) {
  if (std::strlen(BTREEIMG_SANITIZER_PRELOAD) > 0) {
    args.insert(args.begin(), {std::string("LD_PRELOAD=") + BTREEIMG_SANITIZER_PRELOAD,
                               "ASAN_OPTIONS=detect_leaks=0"});
  }
  return runProgram("env", args, dir);
}

}  // namespace desktoptest

#endif  // BTREEIMG_TESTS_DESKTOP_DESKTOPTESTSUPPORT_H_
