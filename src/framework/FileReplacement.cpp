#include "framework/FileReplacement.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
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
// The temporary name's tail: "-" and six random letters and digits.
constexpr std::size_t kRandomLength = 6;
constexpr std::size_t kSuffixLength = 1 + kRandomLength;

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

// The kernel's rule for symbolic links in shared folders (sticky and
// world-writable, as /tmp), which a link read with readlink escapes: such a
// link is followed only when this user (the effective one) or the folder's
// owner owns it. Anybody may plant a link in such a folder; followed by
// someone else, it would send their save onto a file of the planter's choice.
// `path` is the caller's target, named in the exception.
void requireFollowableLink(const CString& link, const struct stat& linkInfo,
                           const char* path) {
  struct stat folder;
  if (::stat(folderOf(link), &folder) != 0) throwOsError(errno, path);
  const bool shared = (folder.st_mode & S_ISVTX) != 0 && (folder.st_mode & S_IWOTH) != 0;
  if (!shared || linkInfo.st_uid == ::geteuid() || linkInfo.st_uid == folder.st_uid) return;
  throwFileError(CFileException::accessDenied, path, EACCES,
                 "not followed: a symbolic link in a shared sticky folder, owned by "
                 "neither this user nor the folder's owner");
}

// Follows `path` while it names a symbolic link; the result names a file
// that is not a link, or nothing yet. Throws on a loop, an unreadable link or
// a link the kernel's rule for shared folders would not follow.
CString resolveLinks(const CString& path) {
  CString current = path;
  for (int hop = 0; hop <= kMaxLinks; ++hop) {
    struct stat info;
    if (::lstat(current, &info) != 0) {
      if (errno == ENOENT) return current;  // a new file, or a dangling link
      throwOsError(errno, path);
    }
    if (!S_ISLNK(info.st_mode)) return current;
    requireFollowableLink(current, info, path);
    char link[4096];
    const ssize_t length = ::readlink(current, link, sizeof link);
    if (length < 0) throwOsError(errno, path);
    if (static_cast<std::size_t>(length) == sizeof link) throwOsError(ENAMETOOLONG, path);
    const CString to(link, static_cast<int>(length));
    current = to[0] == '/' ? to : folderOf(current) + "/" + to;
  }
  throwOsError(ELOOP, path);
}

// `stem`, shortened where "<stem>-XXXXXX" would pass the folder's limit on
// the length of a name (255 bytes on most file systems), as it does for a
// target's name of 244 bytes and more. The bytes go from the end of the part
// before the last '.' of the stem's name, so that a marker such as ".~tmp"
// stays, and never split a UTF-8 character. The random part is kept whole:
// the name stays unique, and creating it exclusively settles any clash.
CString fittingStem(const CString& stem) {
  const char* text = stem;
  const std::size_t length = static_cast<std::size_t>(stem.GetLength());
  const char* slash = std::strrchr(text, '/');
  const std::size_t nameAt = slash != nullptr ? static_cast<std::size_t>(slash - text) + 1 : 0;
  const long limit = ::pathconf(folderOf(stem), _PC_NAME_MAX);
  const std::size_t longest = limit > 0 ? static_cast<std::size_t>(limit) : NAME_MAX;
  const std::size_t room = longest > kSuffixLength ? longest - kSuffixLength : 0;
  if (length - nameAt <= room) return stem;
  const std::size_t excess = length - nameAt - room;
  // The cut ends at the marker's '.', or at the end of a name without one
  // (or with a marker too long to spare enough bytes before it).
  const char* dot = std::strrchr(text + nameAt, '.');
  std::size_t end = dot != nullptr ? static_cast<std::size_t>(dot - text) : length;
  if (end - nameAt < excess) end = length;
  std::size_t cut = end - excess;
  while (cut > nameAt && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
  return CString(text, static_cast<int>(cut)) + (text + end);
}

// Six random letters and digits.
CString randomSuffix() {
  static constexpr char kAlphabet[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
  unsigned char bytes[kRandomLength];
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
  inspectTarget(target);
  const CString base = fittingStem((stem != nullptr ? stem : defaultStem)(target_));
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
    // A folder that refuses a new file is named, not the file: it is the
    // folder that needs the permission.
    if (errno == EACCES || errno == EPERM || errno == EROFS) {
      throwOsError(errno, folderOf(target_));
    }
    if (errno != EEXIST) throwOsError(errno, target);
  }
  throwOsError(EEXIST, target);
}

// An existing target must be a regular file that this process may write, as
// writing it in place would demand: a rename would replace any file, a
// device node or a file made read-only among them. Its owner, group and
// permission bits are noted for commit(). `name` is the caller's target.
void FileReplacement::inspectTarget(const char* name) {
  struct stat info;
  if (::lstat(target_, &info) != 0) {
    if (errno == ENOENT) return;
    throwOsError(errno, name);
  }
  if (!S_ISREG(info.st_mode)) {
    throwFileError(CFileException::accessDenied, name, -1, "not a regular file");
  }
  if (::faccessat(AT_FDCWD, target_, W_OK, AT_EACCESS) != 0) throwOsError(errno, name);
  exists_ = true;
  mode_ = info.st_mode & 07777;
  owner_ = info.st_uid;
  group_ = info.st_gid;
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
