#include "framework/ReplaceFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "framework/CFile.h"
#include "framework/ThrowHelpers.h"

namespace btreeimg::detail {

CString temporaryNameFor(const char* target) {
  return CString(target) + ".~tmp";
}

FileReplacement::FileReplacement(const char* target)
    : FileReplacement(target, temporaryNameFor(target)) {}

FileReplacement::FileReplacement(const char* target, const char* temporary)
    : target_(target), temp_(temporary) {
  // Created fresh (a stale temporary from an interrupted run is replaced);
  // the permissions follow the process's umask as for any new file.
  int fd;
  do {
    fd = ::open(temp_, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) throwOsError(errno, temp_);
  ::close(fd);
}

FileReplacement::~FileReplacement() {
  if (!committed_) std::remove(temp_);
}

void FileReplacement::commit() {
  if (std::rename(temp_, target_) != 0) throwOsError(errno, target_);
  committed_ = true;
}

void replaceFileContent(const char* path, const unsigned char* data,
                        unsigned long long size) {
  FileReplacement replacement(path);
  CFile file;
  CFileException error;
  if (!file.Open(replacement.tempPath(),
                 CFile::modeCreate | CFile::modeWrite | CFile::typeBinary,
                 &error)) {
    throwFileError(error.m_cause, replacement.tempPath(), error.m_lOsError);
  }
  constexpr unsigned long long kChunk = 1ull << 30;
  for (unsigned long long at = 0; at < size; at += kChunk) {
    file.Write(data + at, static_cast<UINT>(std::min(kChunk, size - at)));
  }
  file.Close();
  replacement.commit();
}

}  // namespace btreeimg::detail
