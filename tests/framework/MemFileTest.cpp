#include "framework/CMemFile.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <limits>
#include <numeric>
#include <vector>

#include "framework/Exceptions.h"
#include "support/ThrownPtr.h"

using testfiles::catchPtr;
using testfiles::throwsPtr;

namespace {

using Bytes = std::vector<unsigned char>;

// The whole file, read from the start (leaving the position at its end).
Bytes contents(CMemFile& file) {
  Bytes out(static_cast<std::size_t>(file.GetLength()) + 16, 0xEE);
  file.Seek(0, CFile::begin);
  out.resize(file.Read(out.data(), static_cast<UINT>(out.size())));
  return out;
}

Bytes sequence(std::size_t n, unsigned char first = 1) {
  Bytes out(n);
  std::iota(out.begin(), out.end(), first);
  return out;
}

TEST(MemFile, ReadsDeliverWhatExistsWritesPastTheEndZeroFillAndSeeksStayAtZero) {
  CMemFile file(16);
  file.Write(sequence(10).data(), 10);
  file.Seek(-3, CFile::end);
  Bytes buffer(5, 0xEE);
  EXPECT_EQ(file.Read(buffer.data(), 5), 3u);
  EXPECT_EQ(buffer, (Bytes{8, 9, 10, 0xEE, 0xEE}));
  EXPECT_EQ(file.Seek(40, CFile::begin), 40u);  // does not lengthen
  EXPECT_EQ(file.GetLength(), 10u);
  file.Write(buffer.data(), 1);
  Bytes expected = sequence(10);
  expected.resize(40, 0);
  expected.push_back(8);
  EXPECT_EQ(contents(file), expected);
  file.SetLength(2);  // cuts, and zero-extends
  file.SetLength(4);
  EXPECT_EQ(contents(file), (Bytes{1, 2, 0, 0}));
  // A negative seek is a bad seek and leaves the position.
  file.Seek(2, CFile::begin);
  for (const auto& seek : {std::pair<LONGLONG, UINT>{-3, CFile::current},
                           {std::numeric_limits<LONGLONG>::min(), CFile::end}}) {
    auto error =
        catchPtr<CFileException>([&] { file.Seek(seek.first, seek.second); });
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->m_cause, CFileException::badSeek);
    EXPECT_EQ(file.GetPosition(), 2u);
  }
}

// The buffers live on the stack: freeing or reallocating one would be
// caught by the sanitizer build.
TEST(MemFile, AnAttachedBufferIsAFixedSizeFileOrWithAGrowthStepLeftForABlockDetachHandsOver) {
  unsigned char buffer[8] = {10, 11, 12, 13, 14, 15, 16, 17};
  CMemFile fixed;
  fixed.Attach(buffer, sizeof buffer);
  const unsigned char abc[] = {0xA, 0xB, 0xC};
  fixed.Seek(6, CFile::begin);
  fixed.Write(abc, 2);  // straight into the caller's bytes
  // A write that would cross the end throws and writes nothing at all.
  fixed.Seek(6, CFile::begin);
  EXPECT_TRUE(throwsPtr<CMemoryException>([&] { fixed.Write(abc, 3); }));
  EXPECT_EQ(Bytes(buffer, buffer + 8), (Bytes{10, 11, 12, 13, 14, 15, 0xA, 0xB}));
  EXPECT_EQ(fixed.Detach(), buffer);  // the caller's buffer comes back
  CMemFile growing;
  growing.Attach(buffer, 4, 16);
  EXPECT_EQ(growing.GetLength(), 0u);
  growing.Write(sequence(3).data(), 3);
  EXPECT_EQ(buffer[0], 1);  // first storage is the caller's buffer
  growing.Write(sequence(20, 4).data(), 20);  // moves to a block of its own
  BYTE* block = growing.Detach();
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(Bytes(block, block + 23), sequence(23));
  std::free(block);  // the new owner releases it with free
  growing.Write(sequence(2).data(), 2);  // into a new block of its own
  EXPECT_EQ(contents(growing), sequence(2));
}

}  // namespace
