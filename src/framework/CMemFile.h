// A file held in memory: a byte block with a length and a position.
//
// - A read delivers only the bytes between the position and the end.
// - A seek may go past the end without lengthening the file; a negative
//   position is a badSeek CFileException*.
// - A write past the end lengthens the file when the growth step is not 0
//   (the bytes between the old end and the write are zero); with a growth
//   step of 0 the file cannot grow and such a write throws
//   CMemoryException* without writing anything.
// - The growth step is the granularity of the block's capacity, which grows
//   geometrically; the file's length is always exactly what was written.
//
// Ownership: a block the memory file allocated is its own and is freed on
// Close() or destruction. An attached block stays the caller's (it is never
// freed or reallocated here). Detach() hands the current block (allocated
// with malloc when the memory file allocated it) to the caller.
#ifndef BTREEIMG_FRAMEWORK_CMEMFILE_H_
#define BTREEIMG_FRAMEWORK_CMEMFILE_H_

#include <cstddef>

#include "framework/CFile.h"

class AFX_EXT_CLASS CMemFile : public CFile {
 public:
  // An empty memory file that grows in steps of `nGrowBytes` bytes.
  explicit CMemFile(UINT nGrowBytes = 1024);
  // Wraps `buffer` as with Attach().
  CMemFile(BYTE* buffer, UINT size, UINT nGrowBytes = 0);
  // Empties the file, as Close() does.
  ~CMemFile() override;

  // Wraps the caller's `buffer` of `size` bytes, position 0. With a growth
  // step of 0 the file is the `size` bytes and cannot grow; otherwise the
  // file starts empty and `buffer` is its first storage (growing past it
  // moves the content to a block of the memory file's own).
  void Attach(BYTE* buffer, UINT size, UINT nGrowBytes = 0);
  // Returns the block (null when there is none) and leaves the memory file
  // empty. The caller owns the block and releases it with free() when the
  // memory file had allocated it.
  BYTE* Detach();

  UINT Read(void* buffer, UINT count) override;
  void Write(const void* buffer, UINT count) override;
  ULONGLONG Seek(LONGLONG offset, UINT from) override;
  ULONGLONG GetLength() const override { return length_; }
  void SetLength(ULONGLONG newLength) override;
  ULONGLONG GetPosition() const override { return position_; }
  void Flush() override {}
  // Empties the file and frees an owned block. Afterwards the file cannot
  // grow: reads return nothing and writes throw CMemoryException*.
  void Close() override;
  void Abort() override { Close(); }
  // bufferCheck returns bufferDirect. bufferRead sets [*start, *max) to the
  // up to `count` bytes at the position, advances the position past them and
  // returns their number. bufferWrite makes room for `count` bytes at the
  // position (growing as a write would), returns the writable range and
  // advances the position. bufferCommit does nothing. The pointers stay valid
  // until the next operation that may grow or close the file.
  UINT GetBufferPtr(UINT command, UINT count = 0, void** bufferStart = nullptr,
                    void** bufferMax = nullptr) override;

 private:
  // Makes the file at least `newLength` bytes long (zero-filling) or throws.
  void growTo(std::size_t newLength);
  // The same, zero-filling only the new bytes below `zeroUpTo` (the caller
  // writes the others at once).
  void growTo(std::size_t newLength, std::size_t zeroUpTo);

  BYTE* buffer_ = nullptr;
  std::size_t capacity_ = 0;
  std::size_t length_ = 0;
  std::size_t position_ = 0;
  UINT growBytes_;
  bool owned_ = true;
};

#endif  // BTREEIMG_FRAMEWORK_CMEMFILE_H_
