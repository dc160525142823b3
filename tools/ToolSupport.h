// Shared pieces of the btreeimg command-line tool: exit statuses, the error
// that ends a command, and small helpers around the library's images.
#ifndef BTREEIMG_TOOLS_TOOLSUPPORT_H_
#define BTREEIMG_TOOLS_TOOLSUPPORT_H_

#include <string>

class CException;
class ImageCheck;

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
// printed on stderr after "btreeimg: ".
struct Failure {
  int status;
  std::string message;
};

[[noreturn]] void fail(int status, const std::string& message);

// The text of a framework exception (which names the file when it concerns
// one). Releases the exception.
std::string takeMessage(CException* e);

// The same without the file name a file exception carries, for a message
// that names the file itself.
std::string takeCause(CException* e);

// Prints "btreeimg: <text>" on stderr.
void warn(const std::string& text);

// ImageCheck's inspection of the file `path`, made on a read-only mapping of
// the file (the page cache's own pages: nothing is copied, and only the
// bytes the inspection looks at are read), or through
// ImageCheck::InspectFile when the file cannot be mapped. A file that
// another process cuts short while it is inspected ends the tool with a
// message and kBadInput. Returns the verdict.
int inspectImage(const std::string& path, ImageCheck& check);

// Runs the structural inspection on `path` before a command reads it with
// BtreeImg: an unusable file ends the command with kBadInput, a damaged one
// gives one warning (the command goes on with what the library reads).
void requireUsableImage(const std::string& path, ImageCheck& check);

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
