// Replacing a file without ever leaving it half written: the new content goes
// to a temporary file beside the target, which is renamed over the target only
// once it is complete. Internal: not installed.
#ifndef BTREEIMG_FRAMEWORK_REPLACEFILE_H_
#define BTREEIMG_FRAMEWORK_REPLACEFILE_H_

#include "framework/CString.h"

namespace btreeimg::detail {

// The temporary name used for `target`: the same path with ".~tmp" appended,
// so it lies in the same folder (and file system) as the target.
CString temporaryNameFor(const char* target);

// A replacement under way. The caller writes the new content to tempPath()
// (which the constructor has created empty), then calls commit(). When the
// object goes away without a successful commit, the temporary file is
// removed and the target is left as it was.
class FileReplacement {
 public:
  // Creates the empty temporary file. Throws CFileException* naming the
  // temporary file when it cannot be created.
  explicit FileReplacement(const char* target);
  // Uses `temporary` instead of the default temporary name.
  FileReplacement(const char* target, const char* temporary);
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;
  ~FileReplacement();

  const CString& tempPath() const { return temp_; }
  const CString& target() const { return target_; }
  // Renames the temporary file over the target. Throws CFileException* on
  // failure (the temporary file is then removed by the destructor).
  void commit();

 private:
  CString target_;
  CString temp_;
  bool committed_ = false;
};

// Writes `size` bytes at `data` as the whole new content of `path`, through a
// FileReplacement. Throws CFileException* on failure; `path` is then as it
// was.
void replaceFileContent(const char* path, const unsigned char* data,
                        unsigned long long size);

}  // namespace btreeimg::detail

#endif  // BTREEIMG_FRAMEWORK_REPLACEFILE_H_
