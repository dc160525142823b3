#include "planestore/BtreePacked.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "framework/ByteOrder.h"
#include "planestore/RunPairs.h"

using btreeimg::detail::codedSize;
using btreeimg::detail::encodeRuns;
using btreeimg::detail::expandRuns;
using btreeimg::detail::kMaxRun;
using btreeimg::detail::loadU32;
using btreeimg::detail::maxCodedSize;
using btreeimg::detail::storeU32;

namespace {

constexpr LONGLONG kEntryBytes = 4;
constexpr ULONGLONG kMaxEntry = std::numeric_limits<std::uint32_t>::max();

// Lines whose code may take more than this are measured first and coded
// straight into the memory file, so that no buffer of twice their length is
// allocated (a damaged header can claim lines of gigabytes).
constexpr std::size_t kMaxScratch = std::size_t{1} << 20;

// Codes string `text` as a line of `width` bytes (cut when longer, padded
// with zero bytes when shorter) into `out`, or only measures the code when
// `out` is null. Returns the code's length. The padding is coded as runs of
// zeros that also take in the string's own trailing zeros, which gives the
// very code of the padded line without building it.
std::size_t codeString(const CString& text, std::size_t width,
                       unsigned char* out) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.GetString());
  const std::size_t length =
      std::min(width, static_cast<std::size_t>(text.GetLength()));
  std::size_t zerosFrom = length;
  if (length < width) {
    while (zerosFrom > 0 && bytes[zerosFrom - 1] == 0) --zerosFrom;
  }
  std::size_t n =
      out ? encodeRuns(bytes, zerosFrom, out) : codedSize(bytes, zerosFrom);
  for (std::size_t zeros = width - zerosFrom; zeros > 0;) {
    const std::size_t run = std::min(zeros, kMaxRun);
    if (out) {
      out[n] = static_cast<unsigned char>(run);
      out[n + 1] = 0;
    }
    n += 2;
    zeros -= run;
  }
  return n;
}

}  // namespace

BtreePacked::BtreePacked(CMemFile* memFile, long regionOffset, int lineSize,
                         int nLines)
    : regionOffset(regionOffset) {
  this->memFile = memFile;
  this->lineSize = lineSize;
  this->nLines = nLines;
  this->dataOffset = regionOffset + 4L * (nLines + 1L);
}

BtreePacked::~BtreePacked() = default;

LONGLONG BtreePacked::entryOffset(LONGLONG index) const {
  return static_cast<LONGLONG>(regionOffset) + kEntryBytes * index;
}

bool BtreePacked::fitsRegion(LONGLONG end) const {
  return end <= 0 || static_cast<ULONGLONG>(end) <= regionEnd;
}

bool BtreePacked::readEntry(LONGLONG index, std::uint32_t* value) {
  *value = 0;
  memFile->Seek(entryOffset(index), CFile::begin);
  void* at = nullptr;
  if (memFile->GetBufferPtr(CFile::bufferRead, 4, &at) < 4) return false;
  *value = loadU32(static_cast<const unsigned char*>(at));
  return true;
}

int BtreePacked::lineAt(int line, unsigned char* buffer) {
  if (line < 0 || line >= nLines) return 0;
  if (lineSize <= 0) return 1;
  // Step 1: both entries of the line, read in place; a table cut off by the
  // end of the memory file holds no line.
  memFile->Seek(entryOffset(line), CFile::begin);
  void* at = nullptr;
  if (memFile->GetBufferPtr(CFile::bufferRead, 8, &at) < 8) return 1;
  const auto* entries = static_cast<const unsigned char*>(at);
  const std::uint32_t start = loadU32(entries);
  const std::uint32_t end = loadU32(entries + 4);
  if (end <= start) return 1;
  // Step 2: the code, in place and cut at the end of the memory file,
  // expanded into at most lineSize bytes of the caller's buffer.
  memFile->Seek(static_cast<LONGLONG>(dataOffset) + start, CFile::begin);
  const UINT available =
      memFile->GetBufferPtr(CFile::bufferRead, end - start, &at);
  if (available == 0) return 1;
  const auto* code = static_cast<const unsigned char*>(at);
  expandRuns(code, code + available, buffer,
             static_cast<std::size_t>(lineSize));
  return 1;
}

int BtreePacked::writeAt(int line, unsigned char* buffer) {
  if (line < 0 || line >= nLines) return 0;
  // Step 1: code the line into the scratch buffer; a very long line is only
  // measured here and coded straight into the memory file in step 3.
  const std::size_t width =
      lineSize > 0 ? static_cast<std::size_t>(lineSize) : 0;
  const bool buffered = maxCodedSize(width) <= kMaxScratch;
  std::size_t codeLength = 0;
  if (buffered) {
    if (scratch.size() < maxCodedSize(width))
      scratch.resize(maxCodedSize(width));
    codeLength = encodeRuns(buffer, width, scratch.data());
  } else {
    codeLength = codedSize(buffer, width);
  }
  // Step 2: where it goes (line 0 at the start, any other line where the
  // previous one ended) and whether code and table stay inside the region.
  std::uint32_t start = 0;
  if (line > 0) readEntry(line, &start);  // a missing entry counts as 0
  if (start + static_cast<ULONGLONG>(codeLength) > kMaxEntry) return 0;
  const auto end = static_cast<std::uint32_t>(start + codeLength);
  const LONGLONG tableBytes = kEntryBytes * (nLines + LONGLONG{1});
  if (line == 0 && static_cast<ULONGLONG>(tableBytes) > kMaxEntry) return 0;
  const LONGLONG codeAt = static_cast<LONGLONG>(dataOffset) + start;
  const LONGLONG tableEnd =
      line == 0 ? entryOffset(nLines + LONGLONG{1}) : entryOffset(line + 2);
  if (!fitsRegion(codeAt + static_cast<LONGLONG>(codeLength)) ||
      !fitsRegion(tableEnd)) {
    return 0;
  }
  // Step 3: the code in one write, then the table: cleared with the new
  // end for line 0, otherwise only entry[line + 1].
  if (codeLength != 0) {
    memFile->Seek(codeAt, CFile::begin);
    if (buffered) {
      memFile->Write(scratch.data(), static_cast<UINT>(codeLength));
    } else {
      void* at = nullptr;
      memFile->GetBufferPtr(CFile::bufferWrite, static_cast<UINT>(codeLength),
                            &at);
      encodeRuns(buffer, width, static_cast<unsigned char*>(at));
    }
  }
  if (line == 0) {
    memFile->Seek(regionOffset, CFile::begin);
    void* at = nullptr;
    memFile->GetBufferPtr(CFile::bufferWrite, static_cast<UINT>(tableBytes),
                          &at);
    auto* table = static_cast<unsigned char*>(at);
    std::memset(table, 0, static_cast<std::size_t>(tableBytes));
    storeU32(table + kEntryBytes, end);
  } else {
    unsigned char entry[kEntryBytes];
    storeU32(entry, end);
    memFile->Seek(entryOffset(line + LONGLONG{1}), CFile::begin);
    memFile->Write(entry, sizeof entry);
  }
  return 1;
}

int BtreePacked::writeAllDati(CStringArray& lines) {
  if (lines.GetSize() < nLines) {
    // Names the first missing index, as the bounds-tested access would.
    lines.GetAt(lines.GetSize());
  }
  if (nLines <= 0) return 1;
  const std::size_t width =
      lineSize > 0 ? static_cast<std::size_t>(lineSize) : 0;
  const LONGLONG tableBytes = kEntryBytes * (nLines + LONGLONG{1});
  if (static_cast<ULONGLONG>(tableBytes) > kMaxEntry) return 0;
  // Pass 1: the table, from the length of each line's code.
  std::vector<unsigned char> table(static_cast<std::size_t>(tableBytes));
  ULONGLONG total = 0;
  for (int i = 0; i < nLines; ++i) {
    storeU32(table.data() + kEntryBytes * i, static_cast<std::uint32_t>(total));
    total += codeString(lines.GetAt(i), width, nullptr);
    if (total > kMaxEntry) return 0;
  }
  storeU32(table.data() + kEntryBytes * nLines,
           static_cast<std::uint32_t>(total));
  if (!fitsRegion(entryOffset(nLines + LONGLONG{1})) ||
      !fitsRegion(static_cast<LONGLONG>(dataOffset) +
                  static_cast<LONGLONG>(total))) {
    return 0;
  }
  // Pass 2: every line coded straight into the memory file, then the table.
  if (total != 0) {
    memFile->Seek(dataOffset, CFile::begin);
    void* at = nullptr;
    memFile->GetBufferPtr(CFile::bufferWrite, static_cast<UINT>(total), &at);
    auto* code = static_cast<unsigned char*>(at);
    for (int i = 0; i < nLines; ++i) {
      codeString(lines.GetAt(i), width,
                 code + loadU32(table.data() + kEntryBytes * i));
    }
  }
  memFile->Seek(regionOffset, CFile::begin);
  memFile->Write(table.data(), static_cast<UINT>(tableBytes));
  return 1;
}

int BtreePacked::complete() {
  if (nLines <= 0) return 1;
  // Step 1: the table as it stands (entries the memory file does not hold
  // yet read as 0). A line whose end entry is still 0 was never written:
  // every written line codes to at least one pair, so its end lies above 0.
  // Only the lines never written behind the last one written are made, and
  // only when no code that an entry points at lies behind where they go:
  // every written line keeps its code where it lies, whatever the order it
  // was written in.
  std::vector<std::uint32_t> table(static_cast<std::size_t>(nLines) + 1);
  for (int i = 0; i <= nLines; ++i) readEntry(i, &table[static_cast<std::size_t>(i)]);
  int from = nLines;
  while (from > 0 && table[static_cast<std::size_t>(from)] == 0) --from;
  if (from == nLines) return 1;
  const std::uint32_t start = table[static_cast<std::size_t>(from)];
  for (int i = 0; i < from; ++i) {
    if (table[static_cast<std::size_t>(i)] > start) return 0;
  }
  // Step 2: one zero line's code, repeated for every line from `from` on.
  const std::size_t width =
      lineSize > 0 ? static_cast<std::size_t>(lineSize) : 0;
  const std::size_t pairs = (width + kMaxRun - 1) / kMaxRun;
  const ULONGLONG lineCode = 2 * ULONGLONG{pairs};
  const ULONGLONG total =
      start + lineCode * static_cast<ULONGLONG>(nLines - from);
  const LONGLONG tableBytes = kEntryBytes * (nLines + LONGLONG{1});
  if (total > kMaxEntry || static_cast<ULONGLONG>(tableBytes) > kMaxEntry ||
      !fitsRegion(entryOffset(nLines + LONGLONG{1})) ||
      !fitsRegion(static_cast<LONGLONG>(dataOffset + total))) {
    return 0;
  }
  if (total > start) {
    memFile->Seek(static_cast<LONGLONG>(dataOffset + start), CFile::begin);
    void* at = nullptr;
    memFile->GetBufferPtr(CFile::bufferWrite, static_cast<UINT>(total - start),
                          &at);
    auto* code = static_cast<unsigned char*>(at);
    for (int i = from; i < nLines; ++i) {
      for (std::size_t zeros = width; zeros > 0;) {
        const std::size_t run = std::min(zeros, kMaxRun);
        *code++ = static_cast<unsigned char>(run);
        *code++ = 0;
        zeros -= run;
      }
    }
  }
  // Step 3: the entries from `from` on (entry `from` keeps its value; a
  // table not yet in the memory file is written whole, entry 0 being 0).
  std::vector<unsigned char> entries(
      kEntryBytes * static_cast<std::size_t>(nLines + 1 - from));
  for (int i = from; i <= nLines; ++i) {
    storeU32(entries.data() + kEntryBytes * (i - from),
             static_cast<std::uint32_t>(start + lineCode * static_cast<ULONGLONG>(i - from)));
  }
  memFile->Seek(entryOffset(from), CFile::begin);
  memFile->Write(entries.data(), static_cast<UINT>(entries.size()));
  return 1;
}

void BtreePacked::SetSize(int lineSize) { this->lineSize = lineSize; }

void BtreePacked::SetData(long dataOffset) { this->dataOffset = dataOffset; }
