#include "planestore/Mem.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytesOf(Mem& mem) {
  const auto* p = static_cast<const unsigned char*>(mem.pointer());
  return Bytes(p, p + mem.size());
}

// A Mem of `n` bytes holding 1, 2, 3, ...
Mem counting(unsigned int n) {
  Mem mem(n);
  Bytes values(n);
  std::iota(values.begin(), values.end(), 1);
  mem.copyFrom(values.data(), n);
  return mem;
}

TEST(Mem, CopyToIsClampedToTheBlockSize) {
  Mem mem = counting(4);
  Bytes out(10, 0xEE);
  mem.copyTo(out.data(), 10);
  EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  Bytes two(4, 0xEE);
  mem.copyTo(two.data(), 2);
  EXPECT_EQ(two, (Bytes{1, 2, 0xEE, 0xEE}));
}

TEST(Mem, CopyFromIsClampedToTheBlockSize) {
  Mem mem(8);
  mem.fill(0xEE);
  unsigned char source[] = {7, 8};
  mem.copyFrom(source, 2);
  EXPECT_EQ(bytesOf(mem), (Bytes{7, 8, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  // A longer source fills the block and stops there (the sanitizer build
  // checks that nothing past the 8 bytes is written).
  Bytes longSource(32, 0x42);
  mem.copyFrom(longSource.data(), 32);
  EXPECT_EQ(bytesOf(mem), Bytes(8, 0x42));
}

TEST(Mem, FillCoversTheWholeBlock) {
  Mem mem(1312);
  mem.fill(0);
  EXPECT_EQ(bytesOf(mem), Bytes(1312, 0));
  mem.fill(0xFF);
  EXPECT_EQ(bytesOf(mem), Bytes(1312, 0xFF));
}

TEST(Mem, SetCapacityKeepsTheCommonPrefix) {
  Mem mem = counting(8);
  mem.setCapacity(4);
  EXPECT_EQ(mem.size(), 4u);
  EXPECT_EQ(bytesOf(mem), (Bytes{1, 2, 3, 4}));
  mem.setCapacity(8);
  EXPECT_EQ(mem.size(), 8u);
  const Bytes grown = bytesOf(mem);
  EXPECT_EQ(Bytes(grown.begin(), grown.begin() + 4), (Bytes{1, 2, 3, 4}));
  mem.fill(5);  // the grown bytes are usable
  EXPECT_EQ(bytesOf(mem), Bytes(8, 5));
  mem.setCapacity(0);
  EXPECT_EQ(mem.size(), 0u);
  mem.setCapacity(3);
  mem.fill(1);
  EXPECT_EQ(bytesOf(mem), Bytes(3, 1));
}

TEST(Mem, EmptyMemTouchesNoByte) {
  Mem mem;
  EXPECT_EQ(mem.size(), 0u);
  EXPECT_NE(mem.pointer(), nullptr);
  unsigned char byte = 0xEE;
  mem.fill(1);
  mem.copyTo(&byte, 1);
  EXPECT_EQ(byte, 0xEE);
  mem.copyFrom(&byte, 1);
  EXPECT_EQ(mem.size(), 0u);
}

TEST(Mem, CopiesOwnTheirOwnBlocks) {
  Mem original = counting(4);
  Mem copy(original);
  EXPECT_NE(copy.pointer(), original.pointer());
  copy.fill(9);
  EXPECT_EQ(bytesOf(original), (Bytes{1, 2, 3, 4}));

  Mem assigned(1);
  assigned = original;
  EXPECT_EQ(assigned.size(), 4u);
  EXPECT_EQ(bytesOf(assigned), (Bytes{1, 2, 3, 4}));
  original.fill(0);
  EXPECT_EQ(bytesOf(assigned), (Bytes{1, 2, 3, 4}));

  Mem& self = assigned;
  assigned = self;
  EXPECT_EQ(bytesOf(assigned), (Bytes{1, 2, 3, 4}));
}

TEST(Mem, TypedAccessorsShareOneAddress) {
  Mem mem(16);
  EXPECT_EQ(static_cast<void*>(mem.asCharArray()), mem.pointer());
  EXPECT_EQ(static_cast<void*>(mem.asIntArray()), mem.pointer());
  EXPECT_EQ(static_cast<void*>(mem.asLongArray()), mem.pointer());
  mem.asCharArray()[0] = 'A';
  unsigned char first = 0;
  mem.copyTo(&first, 1);
  EXPECT_EQ(first, 'A');
}

}  // namespace
