// Shared pieces of the btreeimg command-line tool: exit statuses, the error
// that ends a command, and small helpers around the library's images.
#ifndef BTREEIMG_TOOLS_TOOLSUPPORT_H_
#define BTREEIMG_TOOLS_TOOLSUPPORT_H_

#include <cstdint>
#include <string>

#include "framework/Exceptions.h"

class ImageCheck;
namespace btreeimg {
class ImageWriter;
}

namespace tool {

// The tool's exit statuses. They are listed in --help and in the README.
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
// one). Releases the exception.
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

// ImageCheck's whole inspection of the file `path`, read with pread
// (ImageCheck::InspectDescriptor: a file cut short meanwhile is reported as
// such, never a signal). Something other than a regular file ends the
// command; a file that cannot be opened gives the verdict unusable, its
// problem saying why. Returns the verdict.
int inspectImage(const std::string& path, ImageCheck& check);

// What a command does with a file that ImageCheck finds damaged.
enum class Damaged {
  kRefuse,           // refuses it: the command has no lenient mode
  kRefuseOrLenient,  // refuses it, saying that --lenient reads it anyway
  kRead,             // --lenient: warns, and reads what the library reads
  kDescribe,         // reads it without a word: the command reports it
};

// The mode of a command that offers --lenient.
inline Damaged lenientIf(bool lenient) {
  return lenient ? Damaged::kRead : Damaged::kRefuseOrLenient;
}

// The verdict of `check`, the inspection of `path`, applied before a
// command reads the file. An unusable file ends the command with kBadInput,
// and so does a damaged one unless `damaged` is kRead or kDescribe, each
// with the inspection's verdict in one sentence (ImageCheck::Summary), the
// words every front end uses. A damaged file read under kRead gives that
// sentence as a warning.
void requireUsableImage(const std::string& path, const ImageCheck& check, Damaged damaged);

// Ends the command with kUsage when the image file to write is "-": image
// files are written to a named file only (the standard output is for PNGs).
void requireNamedOutput(const std::string& output);

// writer.writeLine(plane, line, row); a line that does not fit ends the
// command with kCannotWrite, naming `output`, and `hint` as the hint.
void writeImageLine(btreeimg::ImageWriter& writer, const std::string& output, int plane,
                    std::uint32_t line, const std::uint8_t* row, const char* hint);

// A folder of this process's own beside `path` (mode 0700, named
// "<folder>/.<name>.<tag>-XXXXXX"), for files a command makes on the way to
// its output; removed with its contents when the object goes away.
class PrivateFolder {
 public:
  PrivateFolder(const std::string& path, const char* tag);
  PrivateFolder(const PrivateFolder&) = delete;
  PrivateFolder& operator=(const PrivateFolder&) = delete;
  ~PrivateFolder();
  // The path of `name` inside the folder.
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Replaces `output` with the bytes of the file `from`, through the library's
// safe replacement. Fails with kCannotWrite.
void copyInto(const std::string& from, const std::string& output);

}  // namespace tool

#endif  // BTREEIMG_TOOLS_TOOLSUPPORT_H_
