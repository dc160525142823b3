#include "framework/CFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "framework/ThrowHelpers.h"

using btreeimg::detail::throwFileError;
using btreeimg::detail::throwOsError;

CFile::CFile() = default;

CFile::CFile(const char* fileName, UINT openFlags) {
  CFileException error;
  if (!Open(fileName, openFlags, &error)) {
    throwFileError(error.m_cause, fileName, error.m_lOsError);
  }
}

CFile::~CFile() {
  if (fd_ >= 0) ::close(fd_);
}

namespace {

int toPosixFlags(UINT flags) {
  int out = O_CLOEXEC;
  switch (flags & 0x3) {
    case CFile::modeWrite:
      out |= O_WRONLY;
      break;
    case CFile::modeReadWrite:
      out |= O_RDWR;
      break;
    default:
      out |= O_RDONLY;
  }
  if (flags & CFile::modeCreate) {
    out |= O_CREAT;
    if (!(flags & CFile::modeNoTruncate)) out |= O_TRUNC;
  }
  return out;
}

}  // namespace

BOOL CFile::Open(const char* fileName, UINT openFlags, CFileException* error) {
  if (fd_ >= 0) Abort();
  const char* name = fileName ? fileName : "";
  if (error) error->Clear();
  auto fail = [&](int osError) {
    if (error) {
      error->m_cause = CFileException::OsErrorToException(osError);
      error->m_lOsError = osError;
      error->m_strFileName = name;
    }
    return FALSE;
  };
  if (*name == '\0') return fail(ENOENT);
  int fd;
  do {
    fd = ::open(name, toPosixFlags(openFlags), 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return fail(errno);
  struct stat info;
  int osError = 0;
  if (::fstat(fd, &info) != 0) {
    osError = errno;
  } else if (S_ISDIR(info.st_mode)) {
    osError = EISDIR;
  }
  if (osError != 0) {
    ::close(fd);
    return fail(osError);
  }
  fd_ = fd;
  path_ = name;
  return TRUE;
}

void CFile::throwError(int osError) const { throwOsError(osError, path_); }

UINT CFile::Read(void* buffer, UINT count) {
  if (fd_ < 0) throwFileError(CFileException::genericException, path_);
  UINT done = 0;
  while (done < count) {
    const ssize_t got =
        ::read(fd_, static_cast<char*>(buffer) + done, count - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      throwError(errno);
    }
    if (got == 0) break;
    done += static_cast<UINT>(got);
  }
  return done;
}

void CFile::Write(const void* buffer, UINT count) {
  if (fd_ < 0) throwFileError(CFileException::genericException, path_);
  UINT done = 0;
  while (done < count) {
    const ssize_t put =
        ::write(fd_, static_cast<const char*>(buffer) + done, count - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      throwError(errno);
    }
    if (put == 0) throwFileError(CFileException::diskFull, path_);
    done += static_cast<UINT>(put);
  }
}

ULONGLONG CFile::Seek(LONGLONG offset, UINT from) {
  if (fd_ < 0) throwFileError(CFileException::genericException, path_);
  const int whence = from == current ? SEEK_CUR : from == end ? SEEK_END : SEEK_SET;
  const off_t at = ::lseek(fd_, static_cast<off_t>(offset), whence);
  if (at < 0) throwFileError(CFileException::badSeek, path_, errno);
  return static_cast<ULONGLONG>(at);
}

ULONGLONG CFile::GetLength() const {
  struct stat info;
  if (fd_ < 0 || ::fstat(fd_, &info) != 0) throwError(fd_ < 0 ? EBADF : errno);
  return static_cast<ULONGLONG>(info.st_size);
}

void CFile::SetLength(ULONGLONG newLength) {
  if (fd_ < 0 || ::ftruncate(fd_, static_cast<off_t>(newLength)) != 0) {
    throwError(fd_ < 0 ? EBADF : errno);
  }
}

ULONGLONG CFile::GetPosition() const {
  const off_t at = fd_ < 0 ? -1 : ::lseek(fd_, 0, SEEK_CUR);
  if (at < 0) throwError(fd_ < 0 ? EBADF : errno);
  return static_cast<ULONGLONG>(at);
}

void CFile::Flush() {}

void CFile::Close() {
  if (fd_ < 0) return;
  const int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR) throwError(errno);
}

void CFile::Abort() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

UINT CFile::GetBufferPtr(UINT, UINT, void** bufferStart, void** bufferMax) {
  if (bufferStart) *bufferStart = nullptr;
  if (bufferMax) *bufferMax = nullptr;
  return 0;
}

void CFile::Rename(const char* oldName, const char* newName) {
  if (std::rename(oldName, newName) != 0) throwOsError(errno, oldName);
}

void CFile::Remove(const char* fileName) {
  if (std::remove(fileName) != 0) throwOsError(errno, fileName);
}
