#include "InputFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "Failure.h"

namespace tool {

void requireRegularFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0 || S_ISREG(info.st_mode)) return;
  const char* kind = S_ISDIR(info.st_mode)    ? "a folder"
                     : S_ISFIFO(info.st_mode) ? "a FIFO"
                     : S_ISSOCK(info.st_mode) ? "a socket"
                     : S_ISCHR(info.st_mode)  ? "a character device"
                     : S_ISBLK(info.st_mode)  ? "a block device"
                                              : "not a file";
  fail(kBadInput, path + ": is " + kind + ", not a regular file");
}

int openInput(const std::string& path) {
  requireRegularFile(path);
  // Not blocking: should the path have become a FIFO since, the open does
  // not wait for a writer, and the file's type is checked again below.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  struct stat info {};
  if (fd >= 0 && ::fstat(fd, &info) == 0 && !S_ISREG(info.st_mode)) {
    ::close(fd);
    requireRegularFile(path);
    fail(kBadInput, path + ": is not a regular file");
  }
  return fd;
}

}  // namespace tool
