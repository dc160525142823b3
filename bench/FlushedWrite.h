// The anchors' way of writing a file, step for step what the library does
// when it saves one: a temporary file created exclusively beside the target,
// the bytes written, the file flushed to the disk, renamed over the target,
// and the folder flushed. Header-only, for the benchmark programs.
#ifndef BTREEIMG_BENCH_FLUSHEDWRITE_H_
#define BTREEIMG_BENCH_FLUSHEDWRITE_H_

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

namespace bench {

// Returns false when a step failed.
inline bool flushedWrite(const std::string& path, const void* data, std::size_t size) {
  const std::string temporary = path + ".~tmp-anchor";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  bool ok = ::write(fd, data, size) == static_cast<ssize_t>(size);
  ok = ::fchmod(fd, 0644) == 0 && ok;
  ok = ::fsync(fd) == 0 && ok;
  ok = ::close(fd) == 0 && ok;
  ok = std::rename(temporary.c_str(), path.c_str()) == 0 && ok;
  const std::size_t slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  ok = dir >= 0 && ::fsync(dir) == 0 && ok;
  if (dir >= 0) ::close(dir);
  return ok;
}

}  // namespace bench

#endif  // BTREEIMG_BENCH_FLUSHEDWRITE_H_
