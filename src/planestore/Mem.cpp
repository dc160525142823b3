#include "planestore/Mem.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "framework/ThrowHelpers.h"

using btreeimg::detail::throwMemoryError;

namespace {

// A block of at least one byte, so that the pointer is never null.
void* allocate(unsigned int size) {
  void* block = std::malloc(size ? size : 1);
  if (block == nullptr) throwMemoryError();
  return block;
}

}  // namespace

Mem::Mem(unsigned int size) : size_(size), data_(allocate(size)) {}

Mem::Mem(const Mem& other) : size_(other.size_), data_(allocate(other.size_)) {
  std::memcpy(data_, other.data_, size_);
}

Mem& Mem::operator=(const Mem& other) {
  if (this != &other) {
    void* block = allocate(other.size_);
    std::memcpy(block, other.data_, other.size_);
    std::free(data_);
    data_ = block;
    size_ = other.size_;
  }
  return *this;
}

Mem::~Mem() { std::free(data_); }

void Mem::setCapacity(unsigned int size) {
  void* block = std::realloc(data_, size ? size : 1);
  if (block == nullptr) throwMemoryError();
  data_ = block;
  size_ = size;
}

void Mem::copyTo(void* destination, unsigned int count) {
  const unsigned int n = std::min(count, size_);
  if (n) std::memcpy(destination, data_, n);
}

void Mem::copyFrom(void* source, unsigned int count) {
  const unsigned int n = std::min(count, size_);
  if (n) std::memcpy(data_, source, n);
}

void Mem::fill(unsigned char value) {
  if (size_) std::memset(data_, value, size_);
}
