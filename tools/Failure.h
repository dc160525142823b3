// How a command of the btreeimg tool ends: its exit status, and the error
// that carries a failure up to main(), which prints it.
#ifndef BTREEIMG_TOOLS_FAILURE_H_
#define BTREEIMG_TOOLS_FAILURE_H_

#include <cstdint>
#include <string>

#include "framework/Exceptions.h"

namespace tool {

// The tool's exit statuses. They are listed in --help and in docs/tool.md.
enum ExitStatus {
  kOk = 0,           // done; for check: no problem found
  kProblems = 1,     // check: structural problems found
  kDiffer = 1,       // diff: the images differ
  kBadInput = 2,     // an input cannot be used: unreadable, not an image,
                     // a PNG the tool cannot import, a bad rule file, a
                     // plane the image does not have
  kCannotWrite = 3,  // an output could not be written
  kUsage = 4,        // the command line was not understood
};

// Ends the current command: `status` is the exit status, `message` the text
// printed on stderr after "btreeimg: ", and `hint`, when set, a second line
// saying what the user can do about it.
struct Failure {
  int status;
  std::string message;
  std::string hint = {};
};

[[noreturn]] void fail(int status, const std::string& message);

// "1 colour", "2 colours": `count` and the word that goes with it.
std::string counted(std::uint64_t count, const char* one, const char* many);

// The text of a framework exception (which names the file when it concerns
// one), as btreeimg::describe gives it. Releases the exception.
std::string takeMessage(CException* e);

// The same without the file name a file exception carries, for a message
// that names the file itself.
std::string takeCause(CException* e);

// Prints "btreeimg: <text>" on stderr.
void warn(const std::string& text);

// Runs `step` and returns its result; a framework exception it throws ends
// the command with `status`, the message naming `file` and the cause.
template <typename Step>
auto guarded(int status, const std::string& file, Step&& step) -> decltype(step()) {
  try {
    return step();
  } catch (CException* e) {
    fail(status, file + ": " + takeCause(e));
  }
}

}  // namespace tool

#endif  // BTREEIMG_TOOLS_FAILURE_H_
