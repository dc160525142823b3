// An owned, sized block of raw bytes: a plane's line buffer, a scratch line.
// It knows nothing of lines or planes. Copies in and out are clamped to the
// block's own size. The bytes are not initialised on construction or growth.
#ifndef BTREEIMG_PLANESTORE_MEM_H_
#define BTREEIMG_PLANESTORE_MEM_H_

#include "framework/Export.h"

class AFX_EXT_CLASS Mem {
 public:
  // A block of `size` bytes. Throws CMemoryException* when it cannot be
  // allocated.
  explicit Mem(unsigned int size = 0);
  // Copies are deep: each Mem owns its own block.
  Mem(const Mem& other);
  Mem& operator=(const Mem& other);
  // Frees the block.
  ~Mem();

  // Resizes to `size` bytes; the first min(old, new) bytes keep their values.
  // Throws CMemoryException* (and keeps the old block and size) on failure.
  void setCapacity(unsigned int size);
  // Copies min(count, size()) bytes from the block's start to `destination`.
  void copyTo(void* destination, unsigned int count);
  // Copies min(count, size()) bytes from `source` to the block's start.
  void copyFrom(void* source, unsigned int count);
  // Sets every byte of the block to `value`.
  void fill(unsigned char value);

  // The block's size in bytes.
  unsigned int size() { return size_; }
  // The block's address, under several types; none checks the size. Valid
  // until the next setCapacity or the Mem's destruction.
  void* pointer() { return data_; }
  char* asCharArray() { return static_cast<char*>(data_); }
  int* asIntArray() { return static_cast<int*>(data_); }
  long* asLongArray() { return static_cast<long*>(data_); }

 private:
  unsigned int size_;
  void* data_;
};

#endif  // BTREEIMG_PLANESTORE_MEM_H_
