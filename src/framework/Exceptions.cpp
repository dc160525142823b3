#include "framework/Exceptions.h"

#include <cerrno>
#include <cstring>

#include "framework/ThrowHelpers.h"

CObject::~CObject() = default;

CException::~CException() = default;

void CException::Delete() { delete this; }

BOOL CException::copyMessage(const char* message, char* text, UINT maxLength) {
  if (text == nullptr || maxLength == 0) return FALSE;
  std::strncpy(text, message, maxLength - 1);
  text[maxLength - 1] = '\0';
  return TRUE;
}

BOOL CException::GetErrorMessage(char* text, UINT maxLength, UINT*) const {
  return copyMessage("unknown error", text, maxLength);
}

BOOL CMemoryException::GetErrorMessage(char* text, UINT maxLength,
                                       UINT*) const {
  return copyMessage("out of memory", text, maxLength);
}

CInvalidArgException::CInvalidArgException(const char* what)
    : what_(what) {}

BOOL CInvalidArgException::GetErrorMessage(char* text, UINT maxLength,
                                           UINT*) const {
  CString message("invalid argument");
  if (!what_.IsEmpty()) message += ": " + what_;
  return copyMessage(message, text, maxLength);
}

CFileException::CFileException(int cause, LONG osError, const char* fileName)
    : m_cause(cause), m_lOsError(osError), m_strFileName(fileName) {}

CFileException::CFileException(int cause, LONG osError, const char* fileName,
                               const char* message)
    : m_cause(cause),
      m_lOsError(osError),
      m_strFileName(fileName),
      message_(message) {}

void CFileException::Clear() {
  m_cause = none;
  m_lOsError = -1;
  m_strFileName.Empty();
  message_.Empty();
}

int CFileException::OsErrorToException(LONG osError) {
  switch (osError) {
    case 0:
      return none;
    case ENOENT:
      return fileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return badPath;
    case EMFILE:
    case ENFILE:
      return tooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY:
    case EEXIST:
      return accessDenied;
    case ESPIPE:
    case EINVAL:
      return badSeek;
    case EIO:
      return hardIO;
    case EBUSY:
      return sharingViolation;
    case ENOLCK:
      return lockViolation;
    case ENOSPC:
    case EFBIG:
    case EDQUOT:
      return diskFull;
    default:
      return genericException;
  }
}

void CFileException::ThrowOsError(LONG osError, const char* fileName) {
  throw new CFileException(OsErrorToException(osError), osError, fileName);
}

namespace {

const char* describeCause(int cause) {
  static const char* const kTexts[] = {
      "no error",           "unspecified error",   "file not found",
      "bad path",           "too many open files", "access denied",
      "invalid file",       "cannot remove the current directory",
      "directory full",     "bad seek",            "hardware I/O error",
      "sharing violation",  "lock violation",      "disk full",
      "end of file reached"};
  if (cause < 0 || cause > CFileException::endOfFile) return "unknown error";
  return kTexts[cause];
}

}  // namespace

BOOL CFileException::GetErrorMessage(char* text, UINT maxLength, UINT*) const {
  CString out;
  if (!message_.IsEmpty()) {
    out = message_;
  } else {
    out = describeCause(m_cause);
    if (m_lOsError > 0) {
      out += " (";
      char text[128];  // strerror_r: strerror's buffer is shared by threads
      out += strerror_r(static_cast<int>(m_lOsError), text, sizeof text);
      out += ")";
    }
  }
  if (!m_strFileName.IsEmpty()) out = m_strFileName + ": " + out;
  return copyMessage(out, text, maxLength);
}

namespace btreeimg {

namespace {

// GetErrorMessage into a buffer that grows until the text fits (or 1 MiB).
CString wholeMessage(const CException& e) {
  for (UINT size = 256;; size *= 2) {
    CString text;
    char* buffer = text.GetBuffer(static_cast<int>(size));
    if (!e.GetErrorMessage(buffer, size)) buffer[0] = '\0';
    text.ReleaseBuffer();
    if (static_cast<UINT>(text.GetLength()) + 1 < size || size >= (1u << 20)) {
      return text;
    }
  }
}

}  // namespace

CString describe(const CException* e, bool withFileName) {
  if (e == nullptr) return CString("unknown error");
  const auto* fileError = dynamic_cast<const CFileException*>(e);
  if (!withFileName && fileError != nullptr &&
      !fileError->m_strFileName.IsEmpty()) {
    CFileException nameless(*fileError);
    nameless.m_strFileName.Empty();
    return wholeMessage(nameless);
  }
  return wholeMessage(*e);
}

}  // namespace btreeimg

namespace btreeimg::detail {

void throwFileError(int cause, const char* path, long osError,
                    const char* message) {
  throw new CFileException(cause, osError, path, message);
}

void throwOsError(int osError, const char* path) {
  CFileException::ThrowOsError(osError, path);
}

void throwMemoryError() { throw new CMemoryException(); }

void throwInvalidArgument(const char* what) {
  throw new CInvalidArgException(what);
}

}  // namespace btreeimg::detail
