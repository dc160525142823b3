// Binary file on disk, addressed by a byte position. Open() reports failure
// by its result; every other failing operation throws CFileException*
// naming the file and the cause. The destructor closes the file and never
// throws.
#ifndef BTREEIMG_FRAMEWORK_CFILE_H_
#define BTREEIMG_FRAMEWORK_CFILE_H_

#include "framework/CObject.h"
#include "framework/CString.h"
#include "framework/Exceptions.h"
#include "framework/Export.h"
#include "framework/Types.h"

namespace btreeimg {
class FileReplacement;
}

class AFX_EXT_CLASS CFile : public CObject {
 public:
  // Flags of Open() and the opening constructor, combined with |: the access
  // mode, sharing, inheritance, creation and text or binary mode.
  enum OpenFlags {
    modeRead = 0x0000,
    modeWrite = 0x0001,
    modeReadWrite = 0x0002,
    shareCompat = 0x0000,
    shareExclusive = 0x0010,
    shareDenyWrite = 0x0020,
    shareDenyRead = 0x0030,
    shareDenyNone = 0x0040,
    modeNoInherit = 0x0080,
    modeCreate = 0x1000,
    modeNoTruncate = 0x2000,
    typeText = 0x4000,
    typeBinary = 0x8000
  };
  // Where Seek() counts its offset from.
  enum SeekPosition { begin = 0, current = 1, end = 2 };
  // The commands of GetBufferPtr().
  enum BufferCommand { bufferRead, bufferWrite, bufferCommit, bufferCheck };
  // What GetBufferPtr(bufferCheck) reports a file to support.
  enum BufferFlags { bufferDirect = 0x01, bufferBlocking = 0x02 };

  CFile();
  // Opens `fileName`; throws CFileException* when it cannot.
  CFile(const char* fileName, UINT openFlags);
  CFile(const CFile&) = delete;
  CFile& operator=(const CFile&) = delete;
  // Closes the file, ignoring errors.
  ~CFile() override;

  // Opens `fileName` with `openFlags` (modeCreate creates or truncates, unless
  // modeNoTruncate; a directory is refused). Returns FALSE on failure and, when
  // `error` is given, fills it with the cause; throws nothing.
  virtual BOOL Open(const char* fileName, UINT openFlags,
                    CFileException* error = nullptr);
  // Reads up to `count` bytes; returns how many were read (0 at the end).
  virtual UINT Read(void* buffer, UINT count);
  // Writes all `count` bytes or throws.
  virtual void Write(const void* buffer, UINT count);
  // Moves the position; returns the new position. A negative result is a
  // badSeek error.
  virtual ULONGLONG Seek(LONGLONG offset, UINT from);
  // Moves to the end; returns the file's length.
  ULONGLONG SeekToEnd() { return Seek(0, end); }
  // Moves to the start.
  void SeekToBegin() { Seek(0, begin); }
  // The file's length in bytes.
  virtual ULONGLONG GetLength() const;
  // Truncates or extends the file to `newLength` bytes.
  virtual void SetLength(ULONGLONG newLength);
  // The current position.
  virtual ULONGLONG GetPosition() const;
  // Writes what is buffered; a file on disk buffers nothing.
  virtual void Flush();
  // Closes; throws when pending data cannot be written.
  virtual void Close();
  // Closes and ignores every error.
  virtual void Abort();
  // Direct access to a file's bytes; only memory files offer it (see
  // CMemFile). Here it returns 0.
  virtual UINT GetBufferPtr(UINT command, UINT count = 0,
                            void** bufferStart = nullptr,
                            void** bufferMax = nullptr);

  // TRUE while a file is open.
  BOOL IsOpen() const { return fd_ >= 0; }
  // The path the file was opened with.
  CString GetFilePath() const { return path_; }

  // Renames (replacing an existing target) or removes a file; throw
  // CFileException* on failure.
  static void Rename(const char* oldName, const char* newName);
  static void Remove(const char* fileName);

 protected:
  // Opens a file object on its temporary file's descriptor.
  friend class btreeimg::FileReplacement;

  // Throws the exception for errno `osError` on this file.
  [[noreturn]] void throwError(int osError) const;

  // The open descriptor, -1 when closed.
  int fd_ = -1;
  // The path given to Open(), named in exceptions.
  CString path_;
};

#endif  // BTREEIMG_FRAMEWORK_CFILE_H_
