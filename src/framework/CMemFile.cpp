#include "framework/CMemFile.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "framework/ThrowHelpers.h"

using btreeimg::detail::throwFileError;
using btreeimg::detail::throwMemoryError;

CMemFile::CMemFile(UINT nGrowBytes) : growBytes_(nGrowBytes) {}

CMemFile::CMemFile(BYTE* buffer, UINT size, UINT nGrowBytes)
    : growBytes_(nGrowBytes) {
  Attach(buffer, size, nGrowBytes);
}

CMemFile::~CMemFile() { Close(); }

void CMemFile::Attach(BYTE* buffer, UINT size, UINT nGrowBytes) {
  Close();
  buffer_ = buffer;
  capacity_ = buffer ? size : 0;
  length_ = nGrowBytes == 0 ? capacity_ : 0;
  position_ = 0;
  growBytes_ = nGrowBytes;
  owned_ = false;
}

BYTE* CMemFile::Detach() {
  BYTE* block = buffer_;
  buffer_ = nullptr;
  capacity_ = length_ = position_ = 0;
  owned_ = true;
  return block;
}

void CMemFile::Close() {
  if (owned_) std::free(buffer_);
  buffer_ = nullptr;
  capacity_ = length_ = position_ = 0;
  owned_ = true;
  growBytes_ = 0;
}

void CMemFile::growTo(std::size_t newLength) { growTo(newLength, newLength); }

void CMemFile::growTo(std::size_t newLength, std::size_t zeroUpTo) {
  if (newLength <= length_) return;
  if (newLength > capacity_) {
    if (growBytes_ == 0) throwMemoryError();
    // Geometric growth, rounded up to the growth step.
    std::size_t wanted = std::max(newLength, capacity_ + capacity_ / 2);
    const std::size_t step = growBytes_;
    if (wanted > std::numeric_limits<std::size_t>::max() - step) {
      throwMemoryError();
    }
    wanted = (wanted + step - 1) / step * step;
    BYTE* block = nullptr;
    if (owned_) {
      block = static_cast<BYTE*>(std::realloc(buffer_, wanted));
    } else {
      block = static_cast<BYTE*>(std::malloc(wanted));
      if (block && length_) std::memcpy(block, buffer_, length_);
    }
    if (block == nullptr) throwMemoryError();
    buffer_ = block;
    capacity_ = wanted;
    owned_ = true;
  }
  if (zeroUpTo > length_) std::memset(buffer_ + length_, 0, zeroUpTo - length_);
  length_ = newLength;
}

UINT CMemFile::Read(void* buffer, UINT count) {
  if (position_ >= length_ || count == 0) return 0;
  const std::size_t n = std::min<std::size_t>(count, length_ - position_);
  std::memcpy(buffer, buffer_ + position_, n);
  position_ += n;
  return static_cast<UINT>(n);
}

void CMemFile::Write(const void* buffer, UINT count) {
  if (count == 0) return;
  const std::size_t end = position_ + count;
  if (end < position_) throwMemoryError();
  // The bytes written need no zeros first: only a gap between the old end
  // and the position is zero-filled.
  if (end > length_) growTo(end, position_);
  std::memcpy(buffer_ + position_, buffer, count);
  position_ = end;
}

ULONGLONG CMemFile::Seek(LONGLONG offset, UINT from) {
  LONGLONG base = 0;
  if (from == current) base = static_cast<LONGLONG>(position_);
  if (from == end) base = static_cast<LONGLONG>(length_);
  if ((offset < 0 && base + offset < 0) ||
      (offset > 0 && base > std::numeric_limits<LONGLONG>::max() - offset)) {
    throwFileError(CFileException::badSeek, path_);
  }
  position_ = static_cast<std::size_t>(base + offset);
  return position_;
}

void CMemFile::SetLength(ULONGLONG newLength) {
  if (newLength > std::numeric_limits<std::size_t>::max()) throwMemoryError();
  const auto n = static_cast<std::size_t>(newLength);
  if (n > length_) {
    growTo(n);
  } else {
    length_ = n;
  }
  position_ = std::min(position_, length_);
}

UINT CMemFile::GetBufferPtr(UINT command, UINT count, void** bufferStart,
                            void** bufferMax) {
  std::size_t n = 0;
  switch (command) {
    case bufferCheck:
      return bufferDirect;
    case bufferRead:
      n = position_ < length_ ? std::min<std::size_t>(count, length_ - position_)
                              : 0;
      break;
    case bufferWrite:
      growTo(position_ + count);
      n = count;
      break;
    default:
      return 0;
  }
  BYTE* start = buffer_ ? buffer_ + std::min(position_, length_) : nullptr;
  if (bufferStart) *bufferStart = start;
  if (bufferMax) *bufferMax = start ? start + n : nullptr;
  position_ += n;
  return static_cast<UINT>(n);
}
