#include "planestore/Mem.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytesOf(Mem& mem) {
  const auto* p = static_cast<const unsigned char*>(mem.pointer());
  return Bytes(p, p + mem.size());
}

// The sanitizer build checks that no copy touches a byte past a block. The
// original shared one block between a copy and its source.
TEST(Mem, CopiesAreClampedToTheBlockAndCopiedMemsOwnTheirBlocks) {
  Mem mem(4), empty;
  Bytes bytes = {1, 2, 3, 4, 5, 6};
  mem.copyFrom(bytes.data(), 6);
  Mem copy(mem), assigned(1);
  assigned = mem;
  Mem& self = assigned;
  assigned = self;
  mem.setCapacity(3);
  mem.setCapacity(5);
  Bytes out(7, 0xEE);
  mem.copyTo(out.data(), 7);
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 3), (Bytes{1, 2, 3}));
  EXPECT_EQ(Bytes(out.begin() + 5, out.end()), Bytes(2, 0xEE));
  empty.copyFrom(bytes.data(), 1);
  empty.copyTo(out.data(), 1);
  empty.fill(0);
  EXPECT_EQ(out[0], 1);
  copy.fill(9);
  mem.fill(0);
  EXPECT_EQ(bytesOf(copy), Bytes(4, 9));
  EXPECT_EQ(bytesOf(assigned), (Bytes{1, 2, 3, 4}));
}

}  // namespace
