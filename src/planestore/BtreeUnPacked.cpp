#include "planestore/BtreeUnPacked.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "framework/ThrowHelpers.h"

BtreeUnPacked::BtreeUnPacked(CMemFile* memFile, long regionOffset,
                             int lineSize, int nLines) {
  this->memFile = memFile;
  this->dataOffset = regionOffset;
  this->lineSize = lineSize;
  this->nLines = nLines;
}

BtreeUnPacked::~BtreeUnPacked() = default;

LONGLONG BtreeUnPacked::lineOffset(int line) const {
  return static_cast<LONGLONG>(dataOffset) +
         static_cast<LONGLONG>(line) * std::max(lineSize, 0);
}

bool BtreeUnPacked::mayLeaveBytes(int line) {
  const ULONGLONG end = static_cast<ULONGLONG>(dataOffset) +
                        (static_cast<ULONGLONG>(line) + 1) * static_cast<ULONGLONG>(LineBytes());
  return end > memFile->GetLength();
}

int BtreeUnPacked::lineAt(int line, unsigned char* buffer) {
  if (line < 0 || line >= nLines) return 0;
  if (lineSize <= 0) return 1;
  memFile->Seek(lineOffset(line), CFile::begin);
  memFile->Read(buffer, static_cast<UINT>(lineSize));
  return 1;
}

int BtreeUnPacked::writeAt(int line, unsigned char* buffer) {
  if (line < 0 || line >= nLines) return 0;
  if (lineSize <= 0) return 1;
  const LONGLONG end = lineOffset(line) + lineSize;
  if (static_cast<ULONGLONG>(end) > regionEnd) return 0;
  memFile->Seek(lineOffset(line), CFile::begin);
  memFile->Write(buffer, static_cast<UINT>(lineSize));
  return 1;
}

int BtreeUnPacked::writeAllDati(CStringArray& lines) {
  if (lines.GetSize() < nLines) {
    // Names the first missing index, as the bounds-tested access would.
    lines.GetAt(lines.GetSize());
  }
  if (nLines <= 0 || lineSize <= 0) return 1;
  if (static_cast<ULONGLONG>(lineOffset(nLines)) > regionEnd) return 0;
  const auto width = static_cast<std::size_t>(lineSize);
  std::vector<unsigned char> block(width * static_cast<std::size_t>(nLines));
  for (int i = 0; i < nLines; ++i) {
    const CString& text = lines.GetAt(i);
    const std::size_t n =
        std::min(width, static_cast<std::size_t>(text.GetLength()));
    std::memcpy(block.data() + width * i, text.GetString(), n);
  }
  memFile->Seek(dataOffset, CFile::begin);
  // One write of the whole block; a region larger than 4 GiB goes in pieces.
  constexpr std::size_t kChunk = std::size_t{1} << 30;
  for (std::size_t at = 0; at < block.size(); at += kChunk) {
    memFile->Write(block.data() + at,
                   static_cast<UINT>(std::min(kChunk, block.size() - at)));
  }
  return 1;
}

void BtreeUnPacked::SetSize(int lineSize) { this->lineSize = lineSize; }

void BtreeUnPacked::SetData(long dataOffset) { this->dataOffset = dataOffset; }
