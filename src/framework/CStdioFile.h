// Buffered file with line operations. In text mode (the default; typeBinary
// turns it off) a CR LF pair on disk reads as one line feed and every line
// feed written becomes CR LF, so files written on either platform read the
// same. Failures throw CFileException*, as in CFile; written data may stay
// buffered until Flush() or Close(), which then report a failed write. The
// destructor writes what is still pending and drops a failure to do so.
#ifndef BTREEIMG_FRAMEWORK_CSTDIOFILE_H_
#define BTREEIMG_FRAMEWORK_CSTDIOFILE_H_

#include <string>
#include <vector>

#include "framework/CFile.h"

class AFX_EXT_CLASS CStdioFile : public CFile {
 public:
  CStdioFile();
  // Opens `fileName`; throws CFileException* when it cannot.
  CStdioFile(const char* fileName, UINT openFlags);
  // Closes the file, writing what it buffered; a failure is dropped.
  ~CStdioFile() override;

  BOOL Open(const char* fileName, UINT openFlags,
            CFileException* error = nullptr) override;

  // Reads at most `maxChars` - 1 characters into `buffer`, stopping after a
  // line feed, which is kept; always terminates the text. Returns `buffer`,
  // or null when nothing was left to read.
  char* ReadString(char* buffer, UINT maxChars);
  // Reads one whole line without its line feed. FALSE at the end of the file.
  BOOL ReadString(CString& line);
  // Writes `text` (line feeds translated in text mode).
  void WriteString(const char* text);

  UINT Read(void* buffer, UINT count) override;
  void Write(const void* buffer, UINT count) override;
  ULONGLONG Seek(LONGLONG offset, UINT from) override;
  ULONGLONG GetLength() const override;
  ULONGLONG GetPosition() const override;
  void Flush() override;
  void Close() override;
  void Abort() override;

 private:
  friend class btreeimg::FileReplacement;

  // Next decoded character, or -1 at the end of the file.
  int get();
  bool refill();
  void flushOutput();
  void dropInput();

  bool text_ = true;
  std::vector<char> in_;
  std::size_t inPos_ = 0;
  std::size_t inEnd_ = 0;
  std::string out_;
};

#endif  // BTREEIMG_FRAMEWORK_CSTDIOFILE_H_
