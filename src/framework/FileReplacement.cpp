#include "framework/FileReplacement.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "framework/CFile.h"
#include "framework/CStdioFile.h"
#include "framework/ThrowHelpers.h"

namespace btreeimg {

namespace {

using detail::throwFileError;
using detail::throwOsError;

// Links followed before a chain counts as a loop, as the kernel's own limit.
constexpr int kMaxLinks = 40;
// Random names tried before giving up on creating the temporary file.
constexpr int kMaxNameTries = 100;

CString defaultStem(const CString& target) { return target + ".~tmp"; }

// The folder part of `path` ("." for a bare name), and `name` taken relative
// to that folder.
CString folderOf(const CString& path) {
  const char* text = path;
  const char* slash = std::strrchr(text, '/');
  if (slash == nullptr) return ".";
  if (slash == text) return "/";
  return CString(text, static_cast<int>(slash - text));
}

// Follows `path` while it names a symbolic link; the result names a file
// that is not a link, or nothing yet. Throws on a loop or an unreadable link.
CString resolveLinks(const CString& path) {
  CString current = path;
  for (int hop = 0; hop <= kMaxLinks; ++hop) {
    struct stat info;
    if (::lstat(current, &info) != 0) {
      if (errno == ENOENT) return current;  // a new file, or a dangling link
      throwOsError(errno, path);
    }
    if (!S_ISLNK(info.st_mode)) return current;
    char link[4096];
    const ssize_t length = ::readlink(current, link, sizeof link);
    if (length < 0) throwOsError(errno, path);
    if (static_cast<std::size_t>(length) == sizeof link) throwOsError(ENAMETOOLONG, path);
    const CString to(link, static_cast<int>(length));
    current = to[0] == '/' ? to : folderOf(current) + "/" + to;
  }
  throwOsError(ELOOP, path);
}

// Six random letters and digits.
CString randomSuffix() {
  static constexpr char kAlphabet[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char bytes[6];
  if (::getrandom(bytes, sizeof bytes, GRND_NONBLOCK) != sizeof bytes) {
    std::random_device device;
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(device());
  }
  char text[sizeof bytes];
  for (std::size_t i = 0; i < sizeof bytes; ++i) text[i] = kAlphabet[bytes[i] % 62];
  return CString(text, static_cast<int>(sizeof text));
}

// fsync, where a file system that cannot flush this kind of file (some
// answer EINVAL for a folder) counts as flushed.
int flushToDisk(int fd, bool folder) {
  int result;
  do {
    result = ::fsync(fd);
  } while (result != 0 && errno == EINTR);
  if (result != 0 && folder && (errno == EINVAL || errno == ENOTSUP)) return 0;
  return result;
}

}  // namespace

FileReplacement::FileReplacement(const char* target, TemporaryStem stem) {
  if (target == nullptr || *target == '\0') throwOsError(ENOENT, "");
  target_ = resolveLinks(target);
  struct stat info;
  if (::stat(target_, &info) == 0) {
    exists_ = true;
    mode_ = info.st_mode & 07777;
    owner_ = info.st_uid;
    group_ = info.st_gid;
  }
  const CString base = (stem != nullptr ? stem : defaultStem)(target_);
  // Created exclusively: an existing name, a planted link among them, is
  // never opened; another random name is tried instead.
  for (int attempt = 0; attempt < kMaxNameTries; ++attempt) {
    const CString name = base + "-" + randomSuffix();
    int fd;
    do {
      fd = ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                  exists_ ? 0600 : 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd >= 0) {
      fd_ = fd;
      temporary_ = name;
      prepareMode();
      return;
    }
    if (errno != EEXIST) throwOsError(errno, target);
  }
  throwOsError(EEXIST, target);
}

// A new file keeps the mode the creation gave it (0666 less the umask, or
// what the folder's default permissions say), but only from commit() on:
// until then the temporary file is private.
void FileReplacement::prepareMode() {
  if (exists_) return;
  struct stat info;
  if (::fstat(fd_, &info) == 0) {
    mode_ = info.st_mode & 07777;
    owner_ = info.st_uid;
    group_ = info.st_gid;
  } else {
    mode_ = 0644;
  }
  (void)::fchmod(fd_, 0600);
}

FileReplacement::~FileReplacement() {
  if (!committed_) removeTemporary();
}

void FileReplacement::removeTemporary() {
  if (fd_ < 0) return;
  // Only the file this object created goes: if its name now leads elsewhere,
  // the name is left alone.
  struct stat mine, named;
  if (::fstat(fd_, &mine) == 0 && ::lstat(temporary_, &named) == 0 &&
      mine.st_dev == named.st_dev && mine.st_ino == named.st_ino) {
    ::unlink(temporary_);
  }
  ::close(fd_);
  fd_ = -1;
}

void FileReplacement::abandon() {
  if (!committed_) removeTemporary();
}

void FileReplacement::write(const void* data, std::size_t size) {
  if (fd_ < 0) throwFileError(CFileException::genericException, target_);
  const auto* bytes = static_cast<const char*>(data);
  while (size > 0) {
    const ssize_t put = ::write(fd_, bytes, size);
    if (put < 0) {
      if (errno == EINTR) continue;
      throwOsError(errno, target_);
    }
    if (put == 0) throwFileError(CFileException::diskFull, target_);
    bytes += put;
    size -= static_cast<std::size_t>(put);
  }
}

BOOL FileReplacement::open(CFile& file, UINT openFlags) {
  file.Abort();
  if (fd_ < 0) return FALSE;
  const int copy = ::fcntl(fd_, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return FALSE;
  file.fd_ = copy;
  file.path_ = temporary_;
  if (auto* stdio = dynamic_cast<CStdioFile*>(&file)) {
    stdio->text_ = !(openFlags & CFile::typeBinary);
  }
  return TRUE;
}

void FileReplacement::commit() {
  if (fd_ < 0 || committed_) throwFileError(CFileException::genericException, target_);
  // Step 1: the replaced file's owner, group and permission bits. Where the
  // owner or group cannot be kept, the bits that would grant more to the new
  // owner's group (or set-id bits) are dropped rather than widened.
  unsigned mode = mode_;
  if (exists_) {
    struct stat info;
    if (::fstat(fd_, &info) == 0 && (info.st_uid != owner_ || info.st_gid != group_)) {
      if (::fchown(fd_, owner_, group_) != 0 && ::fchown(fd_, static_cast<uid_t>(-1), group_) != 0) {
        mode &= ~(07000u | 0070u);
      } else if (::fstat(fd_, &info) != 0 || info.st_uid != owner_) {
        mode &= ~07000u;
      }
    }
  }
  if (::fchmod(fd_, mode) != 0) throwOsError(errno, target_);

  // Step 2: the content on the disk before its name changes. On a failure
  // the destructor removes the temporary file.
  if (flushToDisk(fd_, false) != 0) throwOsError(errno, target_);

  // Step 3: the rename, the one step that switches old content for new.
  if (::rename(temporary_, target_) != 0) throwOsError(errno, target_);
  committed_ = true;
  const int fd = fd_;
  fd_ = -1;
  ::close(fd);  // flushed above: nothing is left for close to report

  // Step 4: the folder, so that the rename itself survives a power cut.
  const CString folder = folderOf(target_);
  int dir;
  do {
    dir = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } while (dir < 0 && errno == EINTR);
  if (dir < 0) throwOsError(errno, folder);
  const int result = flushToDisk(dir, true);
  const int error = errno;
  ::close(dir);
  if (result != 0) throwOsError(error, folder);
}

}  // namespace btreeimg
