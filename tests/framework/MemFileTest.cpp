#include "framework/CMemFile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <numeric>
#include <vector>

#include "framework/Exceptions.h"
#include "support/ThrownPtr.h"

using testfiles::catchPtr;
using testfiles::throwsPtr;

namespace {

using Bytes = std::vector<unsigned char>;

// The whole file, read from the start; the position is restored.
Bytes contents(CMemFile& file) {
  const ULONGLONG at = file.GetPosition();
  Bytes out(static_cast<std::size_t>(file.GetLength()) + 16, 0xEE);
  file.Seek(0, CFile::begin);
  out.resize(file.Read(out.data(), static_cast<UINT>(out.size())));
  file.Seek(static_cast<LONGLONG>(at), CFile::begin);
  return out;
}

Bytes sequence(std::size_t n, unsigned char first = 1) {
  Bytes out(n);
  std::iota(out.begin(), out.end(), first);
  return out;
}

TEST(MemFile, LengthIsExactlyWhatWasWrittenWhateverTheGrowthStep) {
  for (UINT step : {1u, 7u, 16u, 1024u}) {
    SCOPED_TRACE(step);
    CMemFile file(step);
    const Bytes data = sequence(1000);
    Bytes expected;
    for (std::size_t at = 0; at < data.size(); at += 13) {
      const std::size_t n = std::min<std::size_t>(13, data.size() - at);
      file.Write(data.data() + at, static_cast<UINT>(n));
      expected.insert(expected.end(), data.begin() + at, data.begin() + at + n);
      ASSERT_EQ(file.GetLength(), expected.size());
      ASSERT_EQ(file.GetPosition(), expected.size());
    }
    EXPECT_EQ(contents(file), expected);
  }
}

TEST(MemFile, SeekPastTheEndDoesNotLengthenButAWriteThereZeroFillsTheGap) {
  CMemFile file(16);
  const Bytes head = {1, 2, 3};
  file.Write(head.data(), 3);
  EXPECT_EQ(file.Seek(40, CFile::begin), 40u);
  EXPECT_EQ(file.GetLength(), 3u);
  unsigned char byte = 0x55;
  EXPECT_EQ(file.Read(&byte, 1), 0u);
  EXPECT_EQ(byte, 0x55);

  file.Write(&byte, 1);
  Bytes expected(41, 0);
  std::copy(head.begin(), head.end(), expected.begin());
  expected[40] = 0x55;
  EXPECT_EQ(file.GetLength(), 41u);
  EXPECT_EQ(contents(file), expected);
}

TEST(MemFile, ReadsDeliverOnlyTheBytesThatExist) {
  CMemFile file;
  const Bytes data = sequence(10);
  file.Write(data.data(), 10);
  file.Seek(-3, CFile::end);
  Bytes buffer(8, 0xEE);
  EXPECT_EQ(file.Read(buffer.data(), 8), 3u);
  EXPECT_EQ(buffer, (Bytes{8, 9, 10, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE}));
  EXPECT_EQ(file.GetPosition(), 10u);
  EXPECT_EQ(file.Read(buffer.data(), 8), 0u);
  file.Seek(4, CFile::current);  // past the end
  EXPECT_EQ(file.Read(buffer.data(), 8), 0u);
  EXPECT_EQ(file.GetPosition(), 14u);
}

TEST(MemFile, NegativeSeekIsABadSeekAndLeavesThePosition) {
  CMemFile file;
  const Bytes data = sequence(10);
  file.Write(data.data(), 10);
  file.Seek(5, CFile::begin);
  for (auto seek : {std::pair<LONGLONG, UINT>{-1, CFile::begin},
                    {-6, CFile::current},
                    {-11, CFile::end}}) {
    auto error =
        catchPtr<CFileException>([&] { file.Seek(seek.first, seek.second); });
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->m_cause, CFileException::badSeek);
    EXPECT_EQ(file.GetPosition(), 5u);
  }
  EXPECT_EQ(file.Seek(-5, CFile::current), 0u);
  EXPECT_EQ(file.Seek(-10, CFile::end), 0u);
  EXPECT_TRUE(throwsPtr<CFileException>(
      [&] { file.Seek(std::numeric_limits<LONGLONG>::min(), CFile::end); }));
}

TEST(MemFile, AttachedBufferWithGrowthZeroIsAFixedSizeFile) {
  unsigned char buffer[8] = {10, 11, 12, 13, 14, 15, 16, 17};
  CMemFile file;
  file.Attach(buffer, sizeof buffer);
  EXPECT_EQ(file.GetLength(), 8u);
  // Writes inside the buffer go straight to the caller's bytes.
  const unsigned char ab[] = {0xA, 0xB};
  file.Seek(6, CFile::begin);
  file.Write(ab, 2);
  EXPECT_EQ(buffer[6], 0xA);
  EXPECT_EQ(buffer[7], 0xB);
  // A write that would cross the end throws and writes nothing at all.
  const unsigned char cde[] = {0xC, 0xD, 0xE};
  file.Seek(6, CFile::begin);
  EXPECT_TRUE(throwsPtr<CMemoryException>([&] { file.Write(cde, 3); }));
  EXPECT_EQ(buffer[6], 0xA);
  EXPECT_EQ(buffer[7], 0xB);
  EXPECT_EQ(file.GetLength(), 8u);
  EXPECT_EQ(file.GetPosition(), 6u);
  file.Seek(100, CFile::begin);
  EXPECT_TRUE(throwsPtr<CMemoryException>([&] { file.Write(cde, 1); }));
  EXPECT_EQ(file.GetLength(), 8u);
  // Reading still works after the failures.
  file.Seek(0, CFile::begin);
  unsigned char first = 0;
  EXPECT_EQ(file.Read(&first, 1), 1u);
  EXPECT_EQ(first, 10);
}

TEST(MemFile, AttachedBufferWithAGrowthStepStartsEmptyAndIsNeverFreed) {
  // The buffer lives on the stack: freeing or reallocating it would be
  // caught by the sanitizer build.
  unsigned char buffer[4] = {9, 9, 9, 9};
  CMemFile file;
  file.Attach(buffer, sizeof buffer, 16);
  EXPECT_EQ(file.GetLength(), 0u);
  const Bytes data = sequence(3);
  file.Write(data.data(), 3);
  EXPECT_EQ(buffer[0], 1);  // first storage is the caller's buffer
  const Bytes more = sequence(20, 100);
  file.Write(more.data(), 20);  // moves to a block of its own
  EXPECT_EQ(file.GetLength(), 23u);
  Bytes expected = data;
  expected.insert(expected.end(), more.begin(), more.end());
  EXPECT_EQ(contents(file), expected);
  file.Close();
}

TEST(MemFile, DetachHandsOverAMallocBlockAndEmptiesTheFile) {
  CMemFile file(8);
  const Bytes data = sequence(20);
  file.Write(data.data(), 20);
  BYTE* block = file.Detach();
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(Bytes(block, block + 20), data);
  EXPECT_EQ(file.GetLength(), 0u);
  EXPECT_EQ(file.GetPosition(), 0u);
  std::free(block);  // the new owner releases it with free
  // The emptied file can be written again with a block of its own.
  file.Write(data.data(), 2);
  EXPECT_EQ(file.GetLength(), 2u);
}

TEST(MemFile, DetachOfAnAttachedBufferReturnsTheCallersBuffer) {
  unsigned char buffer[4] = {1, 2, 3, 4};
  CMemFile file(buffer, sizeof buffer);
  EXPECT_EQ(file.Detach(), buffer);
  EXPECT_EQ(file.GetLength(), 0u);
}

TEST(MemFile, CloseEmptiesTheFileAndLeavesAnAttachedBufferAlone) {
  unsigned char buffer[4] = {1, 2, 3, 4};
  CMemFile attached(buffer, sizeof buffer);
  attached.Close();
  EXPECT_EQ(attached.GetLength(), 0u);
  EXPECT_EQ(buffer[3], 4);
  unsigned char byte = 0;
  EXPECT_EQ(attached.Read(&byte, 1), 0u);
  EXPECT_TRUE(throwsPtr<CMemoryException>([&] { attached.Write(&byte, 1); }));

  CMemFile owned;
  owned.Write(buffer, 4);
  owned.Close();  // frees its own block (checked by the sanitizer build)
  EXPECT_EQ(owned.GetLength(), 0u);
}

TEST(MemFile, SetLengthCutsOrZeroExtends) {
  CMemFile file(4);
  const Bytes data = sequence(6);
  file.Write(data.data(), 6);
  file.SetLength(2);
  EXPECT_EQ(file.GetPosition(), 2u);
  EXPECT_EQ(contents(file), (Bytes{1, 2}));
  file.SetLength(5);
  EXPECT_EQ(contents(file), (Bytes{1, 2, 0, 0, 0}));
}

TEST(MemFile, BufferPointerGivesDirectAccessToTheBytes) {
  CMemFile file(4);
  EXPECT_EQ(file.GetBufferPtr(CFile::bufferCheck), UINT{CFile::bufferDirect});
  void* start = nullptr;
  void* max = nullptr;
  ASSERT_EQ(file.GetBufferPtr(CFile::bufferWrite, 3, &start, &max), 3u);
  std::memcpy(start, "xyz", 3);
  EXPECT_EQ(static_cast<char*>(max) - static_cast<char*>(start), 3);
  EXPECT_EQ(file.GetLength(), 3u);
  file.Seek(1, CFile::begin);
  EXPECT_EQ(file.GetBufferPtr(CFile::bufferRead, 10, &start, &max), 2u);
  EXPECT_EQ(std::memcmp(start, "yz", 2), 0);
  EXPECT_EQ(file.GetPosition(), 3u);
}

}  // namespace
