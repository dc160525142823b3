#include "planestore/Mem.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytesOf(Mem& mem) {
  const auto* p = static_cast<const unsigned char*>(mem.pointer());
  return Bytes(p, p + mem.size());
}

Mem holding(Bytes bytes) {
  Mem mem(static_cast<unsigned int>(bytes.size()));
  mem.copyFrom(bytes.data(), mem.size());
  return mem;
}

// The sanitizer build checks that no copy touches a byte past a block.
TEST(Mem, CopiesInAndOutAreClampedToTheBlockSize) {
  Mem mem = holding({1, 2, 3, 4});
  Bytes out(6, 0xEE);
  mem.copyTo(out.data(), 6);
  EXPECT_EQ(out, (Bytes{1, 2, 3, 4, 0xEE, 0xEE}));
  mem.copyFrom(Bytes(32, 0x42).data(), 32);
  EXPECT_EQ(bytesOf(mem), Bytes(4, 0x42));
  Mem empty;
  empty.fill(1);
  empty.copyTo(out.data(), 1);
  empty.copyFrom(out.data(), 1);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(empty.size(), 0u);
}

TEST(Mem, SetCapacityKeepsTheCommonPrefix) {
  Mem mem = holding({1, 2, 3, 4, 5, 6, 7, 8});
  mem.setCapacity(4);
  EXPECT_EQ(bytesOf(mem), (Bytes{1, 2, 3, 4}));
  mem.setCapacity(6);
  Bytes grown = bytesOf(mem);
  EXPECT_EQ(grown.size(), 6u);
  grown.resize(4);
  EXPECT_EQ(grown, (Bytes{1, 2, 3, 4}));
}

// The original shared one block between a copy and its source.
TEST(Mem, CopiesOwnTheirOwnBlocks) {
  Mem original = holding({1, 2, 3, 4});
  Mem copy(original);
  Mem assigned(1);
  assigned = original;
  Mem& self = assigned;
  assigned = self;
  copy.fill(9);
  original.fill(0);
  EXPECT_EQ(bytesOf(copy), Bytes(4, 9));
  EXPECT_EQ(bytesOf(assigned), (Bytes{1, 2, 3, 4}));
}

}  // namespace
