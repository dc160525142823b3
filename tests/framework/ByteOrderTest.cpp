#include "framework/ByteOrder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

using namespace btreeimg::detail;

namespace {

TEST(ByteOrder, LoadsAreLittleEndian) {
  const unsigned char bytes[] = {0x78, 0x56, 0x34, 0x12};
  EXPECT_EQ(loadU32(bytes), 0x12345678u);
  EXPECT_EQ(loadU16(bytes), 0x5678u);
  EXPECT_EQ(loadU16(bytes + 2), 0x1234u);
}

TEST(ByteOrder, HighBytesDoNotSignExtend) {
  const unsigned char ones[] = {0xFF, 0xFF, 0xFF, 0xFF};
  EXPECT_EQ(loadU32(ones), 0xFFFFFFFFu);
  EXPECT_EQ(loadU16(ones), 0xFFFFu);
  const unsigned char topBit[] = {0x00, 0x00, 0x00, 0x80};
  EXPECT_EQ(loadU32(topBit), 0x80000000u);
}

TEST(ByteOrder, SignedSixteenBitLoadsNegativeValues) {
  const unsigned char minusOne[] = {0xFF, 0xFF};
  const unsigned char minimum[] = {0x00, 0x80};
  const unsigned char five[] = {0x05, 0x00};
  EXPECT_EQ(loadI16(minusOne), -1);
  EXPECT_EQ(loadI16(minimum), INT16_MIN);
  EXPECT_EQ(loadI16(five), 5);
}

TEST(ByteOrder, StoresAtAnyAddressWriteOnlyTheirOwnBytes) {
  unsigned char block[8] = {0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA, 0xAA};
  storeU32(block + 1, 0x12345678u);  // deliberately unaligned
  const unsigned char expected32[] = {0xAA, 0x78, 0x56, 0x34, 0x12, 0xAA, 0xAA, 0xAA};
  EXPECT_EQ(0, std::memcmp(block, expected32, 8));
  EXPECT_EQ(loadU32(block + 1), 0x12345678u);

  storeU16(block + 5, 0xBEEF);
  EXPECT_EQ(block[5], 0xEF);
  EXPECT_EQ(block[6], 0xBE);
  EXPECT_EQ(block[7], 0xAA);
  EXPECT_EQ(loadU16(block + 5), 0xBEEFu);
  storeU16(block + 5, static_cast<std::uint16_t>(-2));
  EXPECT_EQ(loadI16(block + 5), -2);
}

}  // namespace
