#include "framework/CStdioFile.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "framework/ThrowHelpers.h"

using btreeimg::detail::throwFileError;

namespace {
constexpr std::size_t kBufferSize = 64 * 1024;
}  // namespace

CStdioFile::CStdioFile() = default;

CStdioFile::CStdioFile(const char* fileName, UINT openFlags) {
  CFileException error;
  if (!Open(fileName, openFlags, &error)) {
    throwFileError(error.m_cause, fileName, error.m_lOsError);
  }
}

CStdioFile::~CStdioFile() {
  // Closing on destruction keeps what was written, as Close() does; a failure
  // to write it cannot be reported from here and is dropped.
  try {
    flushOutput();
  } catch (CException* e) {
    e->Delete();
  }
  Abort();
}

BOOL CStdioFile::Open(const char* fileName, UINT openFlags,
                      CFileException* error) {
  if (!CFile::Open(fileName, openFlags, error)) return FALSE;
  text_ = !(openFlags & typeBinary);
  dropInput();
  out_.clear();
  return TRUE;
}

bool CStdioFile::refill() {
  if (!out_.empty()) flushOutput();
  if (in_.size() < kBufferSize) in_.resize(kBufferSize);
  // Keep one byte of look-ahead room: a CR at the end of the buffer needs
  // the next byte to decide whether it starts a CR LF pair.
  std::size_t keep = inEnd_ - inPos_;
  std::memmove(in_.data(), in_.data() + inPos_, keep);
  inPos_ = 0;
  inEnd_ = keep;
  const UINT got = CFile::Read(in_.data() + keep,
                               static_cast<UINT>(in_.size() - keep));
  inEnd_ += got;
  return got > 0;
}

int CStdioFile::get() {
  if (inPos_ == inEnd_ && !refill()) return -1;
  const char c = in_[inPos_++];
  if (text_ && c == '\r') {
    if (inPos_ == inEnd_) refill();
    if (inPos_ < inEnd_ && in_[inPos_] == '\n') {
      ++inPos_;
      return '\n';
    }
  }
  return static_cast<unsigned char>(c);
}

char* CStdioFile::ReadString(char* buffer, UINT maxChars) {
  if (buffer == nullptr || maxChars == 0) return nullptr;
  UINT n = 0;
  while (n + 1 < maxChars) {
    // Fast path: copy plain bytes straight from the buffer.
    if (inPos_ < inEnd_) {
      const char c = in_[inPos_];
      if (c != '\r' && c != '\n') {
        buffer[n++] = c;
        ++inPos_;
        continue;
      }
    }
    const int c = get();
    if (c < 0) break;
    buffer[n++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  buffer[n] = '\0';
  return n == 0 ? nullptr : buffer;
}

BOOL CStdioFile::ReadString(CString& line) {
  std::string text;
  int c = get();
  if (c < 0) {
    line.Empty();
    return FALSE;
  }
  for (; c >= 0 && c != '\n'; c = get()) text.push_back(static_cast<char>(c));
  line = CString(text.data(), static_cast<int>(text.size()));
  return TRUE;
}

void CStdioFile::WriteString(const char* text) {
  if (text == nullptr) throwFileError(CFileException::genericException, path_);
  Write(text, static_cast<UINT>(std::strlen(text)));
}

UINT CStdioFile::Read(void* buffer, UINT count) {
  char* out = static_cast<char*>(buffer);
  UINT n = 0;
  for (int c; n < count && (c = get()) >= 0;) out[n++] = static_cast<char>(c);
  return n;
}

void CStdioFile::Write(const void* buffer, UINT count) {
  if (fd_ < 0) throwFileError(CFileException::genericException, path_);
  dropInput();
  const char* in = static_cast<const char*>(buffer);
  if (!text_) {
    out_.append(in, count);
  } else {
    for (UINT i = 0; i < count; ++i) {
      if (in[i] == '\n') out_.push_back('\r');
      out_.push_back(in[i]);
    }
  }
  if (out_.size() >= kBufferSize) flushOutput();
}

void CStdioFile::flushOutput() {
  if (out_.empty()) return;
  std::string pending;
  pending.swap(out_);
  CFile::Write(pending.data(), static_cast<UINT>(pending.size()));
}

void CStdioFile::dropInput() {
  // Give unread buffered bytes back to the file position.
  if (inEnd_ > inPos_ && fd_ >= 0) {
    ::lseek(fd_, -static_cast<off_t>(inEnd_ - inPos_), SEEK_CUR);
  }
  inPos_ = inEnd_ = 0;
}

ULONGLONG CStdioFile::Seek(LONGLONG offset, UINT from) {
  flushOutput();
  dropInput();
  return CFile::Seek(offset, from);
}

ULONGLONG CStdioFile::GetLength() const {
  const_cast<CStdioFile*>(this)->flushOutput();
  return CFile::GetLength();
}

ULONGLONG CStdioFile::GetPosition() const {
  return CFile::GetPosition() - (inEnd_ - inPos_) + out_.size();
}

void CStdioFile::Flush() { flushOutput(); }

void CStdioFile::Close() {
  if (fd_ < 0) return;
  try {
    flushOutput();
  } catch (CException*) {
    out_.clear();
    CFile::Abort();
    throw;
  }
  inPos_ = inEnd_ = 0;
  CFile::Close();
}

void CStdioFile::Abort() {
  out_.clear();
  inPos_ = inEnd_ = 0;
  CFile::Abort();
}
