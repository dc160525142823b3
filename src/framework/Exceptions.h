// The framework's exceptions. They are thrown as heap pointers and caught by
// pointer; the catcher releases each one with Delete():
//
//   try { ... } catch (CFileException* e) { ...; e->Delete(); }
#ifndef BTREEIMG_FRAMEWORK_EXCEPTIONS_H_
#define BTREEIMG_FRAMEWORK_EXCEPTIONS_H_

#include "framework/CObject.h"
#include "framework/CString.h"
#include "framework/Export.h"
#include "framework/Types.h"

// The base of the framework's exceptions: a description of the failure,
// and Delete() for the catcher.
class AFX_EXT_CLASS CException : public CObject {
 public:
  CException() = default;
  ~CException() override;
  // Copies a readable description, cut to fit and always terminated, into
  // `text` (`maxLength` bytes). Returns FALSE when there is no room at all.
  virtual BOOL GetErrorMessage(char* text, UINT maxLength,
                               UINT* helpContext = nullptr) const;
  // Releases an exception that was thrown as `new`.
  void Delete();

 protected:
  // Copies `message` into `text` as GetErrorMessage() does.
  static BOOL copyMessage(const char* message, char* text, UINT maxLength);
};

// Thrown when memory runs out; its message is "out of memory".
class AFX_EXT_CLASS CMemoryException : public CException {
 public:
  BOOL GetErrorMessage(char* text, UINT maxLength,
                       UINT* helpContext = nullptr) const override;
};

// Thrown for an argument outside what an operation accepts (a plane or an
// index out of range, an impossible dimension); the text says which.
class AFX_EXT_CLASS CInvalidArgException : public CException {
 public:
  CInvalidArgException() = default;
  // An exception that names `what` in its message.
  explicit CInvalidArgException(const char* what);
  // "invalid argument", followed by ": " and the text given, if any.
  BOOL GetErrorMessage(char* text, UINT maxLength,
                       UINT* helpContext = nullptr) const override;

 private:
  CString what_;
};

// Thrown when a file operation fails. m_cause says why (one of the causes
// below), m_lOsError holds the operating system's error number (-1 when
// there is none) and m_strFileName the file's name.
class AFX_EXT_CLASS CFileException : public CException {
 public:
  // The causes.
  enum {
    none,
    genericException,
    fileNotFound,
    badPath,
    tooManyOpenFiles,
    accessDenied,
    invalidFile,
    removeCurrentDir,
    directoryFull,
    badSeek,
    hardIO,
    sharingViolation,
    lockViolation,
    diskFull,
    endOfFile
  };

  // An exception of `cause` for errno `osError` on `fileName` (null: none).
  explicit CFileException(int cause = none, LONG osError = -1,
                          const char* fileName = nullptr);
  // `message`, when given, is the text GetErrorMessage reports in place of
  // the description of the cause.
  CFileException(int cause, LONG osError, const char* fileName,
                 const char* message);

  // Resets to `none` with no file, error or message.
  void Clear();
  // Maps an errno value to a cause.
  static int OsErrorToException(LONG osError);
  // Throws a new CFileException for errno `osError` on `fileName`.
  [[noreturn]] static void ThrowOsError(LONG osError,
                                        const char* fileName = nullptr);
  // The cause's description (or the message given) with the file's name.
  BOOL GetErrorMessage(char* text, UINT maxLength,
                       UINT* helpContext = nullptr) const override;

  // Why the operation failed: one of the causes above.
  int m_cause;
  // The operating system's error number, -1 when there is none.
  LONG m_lOsError;
  // The name of the file concerned; may be empty.
  CString m_strFileName;

 private:
  CString message_;
};

namespace btreeimg {

// The text of `e`, as its GetErrorMessage gives it but whole (never cut to
// a buffer): "<file>: <cause>" for a CFileException that names a file.
// With `withFileName` false, a CFileException's text leaves the file name
// out ("file not found (No such file or directory)"), for a caller that
// names the file in its own words; other exceptions' texts name no file.
// Does not delete `e`: the caller still owns it (and calls e->Delete(), or
// throws it on). A null `e` gives "unknown error".
AFX_EXT_API CString describe(const CException* e, bool withFileName = true);

}  // namespace btreeimg

#endif  // BTREEIMG_FRAMEWORK_EXCEPTIONS_H_
