#include "framework/ByteOrder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

using namespace btreeimg::detail;

namespace {

TEST(ByteOrder, LittleEndianAtAnyAddressAndOnlyTheSignedLoadSignExtends) {
  const unsigned char bytes[] = {0x78, 0x56, 0x34, 0x12,
                                 0xFF, 0xFF, 0x00, 0x80};
  EXPECT_EQ(loadU32(bytes), 0x12345678u);
  EXPECT_EQ(loadU32(bytes + 4), 0x8000FFFFu);
  EXPECT_EQ(loadU16(bytes + 3), 0xFF12u);  // deliberately unaligned
  EXPECT_EQ(loadI16(bytes + 4), -1);
  EXPECT_EQ(loadI16(bytes + 6), INT16_MIN);
  // Stores at any address write only their own bytes.
  unsigned char block[8];
  std::memset(block, 0xAA, sizeof block);
  storeU32(block + 1, 0x12345678u);
  storeU16(block + 5, 0xBEEF);
  const unsigned char expected[] = {0xAA, 0x78, 0x56, 0x34,
                                    0x12, 0xEF, 0xBE, 0xAA};
  EXPECT_EQ(std::memcmp(block, expected, sizeof block), 0);
}

}  // namespace
