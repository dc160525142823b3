#include "planestore/BtreePackedSpeed.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "framework/ByteOrder.h"
#include "framework/ThrowHelpers.h"
#include "planestore/RunPairs.h"

using btreeimg::detail::codedSize;
using btreeimg::detail::encodeRuns;
using btreeimg::detail::expandRuns;
using btreeimg::detail::loadU32;
using btreeimg::detail::maxCodedSize;
using btreeimg::detail::storeU32;
using btreeimg::detail::throwMemoryError;

namespace {

constexpr LONGLONG kHeaderBytes = 8;  // unpackedSize, packedSize
constexpr ULONGLONG kMaxField = std::numeric_limits<std::uint32_t>::max();

// A block of `bytes` bytes (null for none), freed with free(). Its bytes are
// not set: every caller fills it whole.
unsigned char* allocatePlane(std::size_t bytes) {
  if (bytes == 0) return nullptr;
  auto* block = static_cast<unsigned char*>(std::malloc(bytes));
  if (block == nullptr) throwMemoryError();
  return block;
}

// Copies source[0 .. n-1] to destination, from the last byte down to the
// first. The decoded plane holds line 0 last, so a caller reading lines 0,
// 1, 2, ... walks down through it; copying each line downwards too makes the
// whole walk one descending stream, which the processor prefetches as well
// as an ascending one. (Copied upwards, every line would be a jump back
// against the stream, and reading the plane would take about half as long
// again.)
void copyDescending(unsigned char* destination, const unsigned char* source,
                    std::size_t n) {
#if defined(__SSE2__)
  while (n >= 64) {
    n -= 64;
    const auto* from = reinterpret_cast<const __m128i*>(source + n);
    auto* to = reinterpret_cast<__m128i*>(destination + n);
    const __m128i d = _mm_loadu_si128(from + 3);
    const __m128i c = _mm_loadu_si128(from + 2);
    const __m128i b = _mm_loadu_si128(from + 1);
    const __m128i a = _mm_loadu_si128(from);
    _mm_storeu_si128(to + 3, d);
    _mm_storeu_si128(to + 2, c);
    _mm_storeu_si128(to + 1, b);
    _mm_storeu_si128(to, a);
  }
#endif
  std::memcpy(destination, source, n);
}

}  // namespace

BtreePackedSpeed::BtreePackedSpeed(CMemFile* memFile, long regionOffset,
                                   int lineLength, int lineCount)
    : regionOffset(regionOffset),
      unpackedSize(0),
      packedSize(0),
      planeBuffer(nullptr),
      lineLength(lineLength),
      lineCount(lineCount) {
  this->memFile = memFile;
  this->lineSize = lineLength;
  this->nLines = lineCount;
  this->dataOffset = regionOffset + static_cast<long>(kHeaderBytes);
  decodeRegion();
}

BtreePackedSpeed::BtreePackedSpeed(const BtreePackedSpeed& other)
    : BtreeMod(other),
      regionOffset(other.regionOffset),
      unpackedSize(other.unpackedSize),
      packedSize(other.packedSize),
      planeBuffer(nullptr),
      lineLength(other.lineLength),
      lineCount(other.lineCount) {
  planeBuffer = allocatePlane(planeBytes());
  if (planeBuffer) std::memcpy(planeBuffer, other.planeBuffer, planeBytes());
}

BtreePackedSpeed& BtreePackedSpeed::operator=(const BtreePackedSpeed& other) {
  if (this == &other) return *this;
  // Allocate first: a failure leaves this object as it was.
  const std::size_t bytes = other.planeBytes();
  unsigned char* plane = allocatePlane(bytes);
  if (plane) std::memcpy(plane, other.planeBuffer, bytes);
  std::free(planeBuffer);
  BtreeMod::operator=(other);
  regionOffset = other.regionOffset;
  unpackedSize = other.unpackedSize;
  packedSize = other.packedSize;
  planeBuffer = plane;
  lineLength = other.lineLength;
  lineCount = other.lineCount;
  return *this;
}

BtreePackedSpeed::~BtreePackedSpeed() {
  std::free(planeBuffer);
  planeBuffer = nullptr;
}

std::size_t BtreePackedSpeed::planeBytes() const {
  if (lineLength <= 0 || lineCount <= 0) return 0;
  return static_cast<std::size_t>(lineLength) *
         static_cast<std::size_t>(lineCount);
}

std::size_t BtreePackedSpeed::lineStart(int line) const {
  return static_cast<std::size_t>(lineCount - 1 - line) *
         static_cast<std::size_t>(lineLength);
}

void BtreePackedSpeed::decodeRegion() {
  if (lineLength > 0 && lineCount > 0 &&
      static_cast<ULONGLONG>(lineLength) * static_cast<ULONGLONG>(lineCount) >
          std::numeric_limits<std::size_t>::max()) {
    throwMemoryError();
  }
  // Step 1: the two sizes. Bytes beyond the end of the memory file read as
  // 0, so a region that does not exist yet holds an empty stream.
  memFile->Seek(regionOffset, CFile::begin);
  void* at = nullptr;
  const UINT got = memFile->GetBufferPtr(CFile::bufferRead,
                                         static_cast<UINT>(kHeaderBytes), &at);
  unsigned char header[kHeaderBytes] = {};
  if (got != 0) std::memcpy(header, at, got);
  unpackedSize = loadU32(header);
  packedSize = loadU32(header + 4);
  // Step 2: the pairs, in place in the memory file and cut at its end.
  memFile->Seek(regionOffset + kHeaderBytes, CFile::begin);
  const UINT available =
      memFile->GetBufferPtr(CFile::bufferRead, packedSize, &at);
  // Step 3: the plane, zero-filled, sized by the dimensions and not by what
  // unpackedSize claims; pairs beyond it are ignored.
  const std::size_t bytes = planeBytes();
  // The bytes the pairs do not reach are zero: the plane is decoded into
  // an uninitialised block and only the rest is cleared (clearing it all
  // first would write the whole plane twice).
  planeBuffer = allocatePlane(bytes);
  if (bytes == 0) return;
  std::size_t decoded = 0;
  if (available != 0) {
    const auto* code = static_cast<const unsigned char*>(at);
    decoded = expandRuns(code, code + available, planeBuffer, bytes);
  }
  std::memset(planeBuffer + decoded, 0, bytes - decoded);
}

int BtreePackedSpeed::LineBytes() { return lineLength > 0 ? lineLength : 0; }

bool BtreePackedSpeed::mayLeaveBytes(int) { return false; }

int BtreePackedSpeed::lineAt(int line, unsigned char* buffer) {
  if (line < 0 || line >= lineCount) return 0;
  if (planeBuffer == nullptr) return 1;
  copyDescending(buffer, planeBuffer + lineStart(line),
                 static_cast<std::size_t>(lineLength));
  return 1;
}

int BtreePackedSpeed::writeAt(int line, unsigned char* buffer) {
  if (line < 0 || line >= lineCount) return 0;
  if (planeBuffer == nullptr) return 1;
  std::memcpy(planeBuffer + lineStart(line), buffer,
              static_cast<std::size_t>(lineLength));
  return 1;
}

int BtreePackedSpeed::writeAllDati(CStringArray& lines) {
  if (lines.GetSize() < lineCount) {
    // Names the first missing index, as the bounds-tested access would.
    lines.GetAt(lines.GetSize());
  }
  if (planeBuffer == nullptr) return 1;
  const auto width = static_cast<std::size_t>(lineLength);
  for (int i = 0; i < lineCount; ++i) {
    const CString& text = lines.GetAt(i);
    const std::size_t n =
        std::min(width, static_cast<std::size_t>(text.GetLength()));
    unsigned char* target = planeBuffer + lineStart(i);
    std::memcpy(target, text.GetString(), n);
    std::memset(target + n, 0, width - n);
  }
  return 1;
}

void BtreePackedSpeed::SetSize(int lineSize) { this->lineSize = lineSize; }

void BtreePackedSpeed::SetData(long dataOffset) {
  this->dataOffset = dataOffset;
}

int BtreePackedSpeed::commit() {
  // Step 1: the code, in one pass, into a scratch block of the most it can
  // take (only the pages the code reaches are ever touched); or its size
  // alone, the pairs then being coded a second time straight into the
  // memory file. The second way is taken when the plane's first bytes code
  // to more than 1.5 bytes a byte (noise), whose size the coder counts
  // quickly while a scratch block would be twice the plane, and when no
  // scratch block can be had.
  const std::size_t bytes = planeBytes();
  if (bytes > kMaxField) return 0;
  std::unique_ptr<unsigned char[]> scratch;
  constexpr std::size_t kSample = 64 * 1024;
  const std::size_t sample = std::min(bytes, kSample);
  if (bytes != 0 && 2 * codedSize(planeBuffer, sample) <= 3 * sample) {
    scratch.reset(new (std::nothrow) unsigned char[maxCodedSize(bytes)]);
  }
  const std::size_t code =
      bytes == 0 ? 0
      : scratch  ? encodeRuns(planeBuffer, bytes, scratch.get())
                 : codedSize(planeBuffer, bytes);
  // Step 2: whether the sizes fit their fields and the region.
  const ULONGLONG total = kHeaderBytes + static_cast<ULONGLONG>(code);
  if (total > std::numeric_limits<UINT>::max()) return 0;
  const LONGLONG end = regionOffset + static_cast<LONGLONG>(total);
  if (end > 0 && static_cast<ULONGLONG>(end) > regionEnd) return 0;
  // Step 3: the sizes and the pairs into the memory file.
  memFile->Seek(regionOffset, CFile::begin);
  void* at = nullptr;
  memFile->GetBufferPtr(CFile::bufferWrite, static_cast<UINT>(total), &at);
  auto* region = static_cast<unsigned char*>(at);
  storeU32(region, static_cast<std::uint32_t>(bytes));
  storeU32(region + 4, static_cast<std::uint32_t>(code));
  if (code != 0 && scratch) {
    std::memcpy(region + kHeaderBytes, scratch.get(), code);
  } else if (code != 0) {
    encodeRuns(planeBuffer, bytes, region + kHeaderBytes);
  }
  unpackedSize = static_cast<unsigned int>(bytes);
  packedSize = static_cast<unsigned int>(code);
  return 1;
}
