// Whole-plane packed storage: the plane is one stream of run pairs covering
// all its lines, decoded once into memory when the object is constructed.
// Every line is then read (and written) by a plain copy, without touching
// the memory file; commit() codes the plane back into the memory file.
//
// Region layout, at the region offset (integers little-endian):
//   0  u32  unpackedSize: bytes of the decoded plane
//   4  u32  packedSize: bytes of run pairs that follow
//   8  ...  run pairs (count 1..255, value)
// The decoded plane holds the lines bottom-up: line i is the lineLength bytes
// at (lineCount - 1 - i) * lineLength. Runs may cross line ends.
//
// Example, 2 lines of 3 bytes, line 0 = 01 01 01 and line 1 = 02 02 02:
//   06 00 00 00 | 04 00 00 00 | 03 02 03 01
//
// The decoded plane is always lineLength * lineCount bytes, whatever
// unpackedSize claims: pairs beyond the plane are ignored, a stream cut off
// by the end of the memory file (packedSize reaching past it) gives what
// exists, and bytes the stream does not cover are 0. A region that does not
// exist yet (at or beyond the end of the memory file) therefore reads as a
// plane of zero bytes.
//
// The decoded plane is a snapshot: changes others make to the region after
// construction are not seen. Copies are deep: each copy owns its own plane
// and commits it to the same region of the same memory file.
#ifndef BTREEIMG_PLANESTORE_BTREEPACKEDSPEED_H_
#define BTREEIMG_PLANESTORE_BTREEPACKEDSPEED_H_

#include <cstddef>

#include "planestore/BtreeMod.h"

class AFX_EXT_CLASS BtreePackedSpeed : public BtreeMod {
 public:
  // Reads and decodes the region at `regionOffset` of `memFile` (not owned),
  // straight from the memory file. Also sets the base members: lineSize =
  // lineLength, nLines = lineCount, dataOffset = the first pair's offset.
  // Throws CMemoryException* when the plane cannot be allocated.
  BtreePackedSpeed(CMemFile* memFile, long regionOffset, int lineLength,
                   int lineCount);
  // Deep copies: the copy has a plane of its own.
  BtreePackedSpeed(const BtreePackedSpeed& other);
  BtreePackedSpeed& operator=(const BtreePackedSpeed& other);
  // Frees the decoded plane.
  ~BtreePackedSpeed() override;

  // Copies line `line` (lineLength bytes) from the decoded plane.
  int lineAt(int line, unsigned char* buffer) override;
  // Never: every line of the decoded plane is delivered whole.
  bool mayLeaveBytes(int line) override;
  // Copies lineLength bytes from `buffer` into the decoded plane as line
  // `line`; lineAt sees it at once, the memory file after commit().
  int writeAt(int line, unsigned char* buffer) override;
  // Copies string i into line i for every line: a string shorter than
  // lineLength is padded with zero bytes, a longer one cut. Throws
  // CInvalidArgException* before changing anything when the array holds
  // fewer strings than the plane has lines.
  int writeAllDati(CStringArray& lines) override;
  // lineLength: what lineAt and writeAt transfer, whatever SetSize says.
  int LineBytes() override;
  // Set the base members only; reading and writing do not use them.
  void SetSize(int lineSize) override;
  void SetData(long dataOffset) override;
  // Codes the decoded plane into the region: unpackedSize, packedSize, then
  // the pairs of the whole plane (lines bottom-up), coded straight into the
  // memory file. Returns 1 when done; 0, writing nothing, when the region
  // would reach the region's end (SetRegionEnd) or a size would not fit its
  // 32-bit field.
  int commit() override;

 protected:
  // Where the plane's region starts in the memory file.
  long regionOffset;
  // The region's unpacked and packed sizes, as last read or committed.
  unsigned int unpackedSize;
  unsigned int packedSize;
  // The decoded plane, lineLength * lineCount bytes (owned).
  unsigned char* planeBuffer;
  // The decoded plane's line length and line count.
  int lineLength;
  int lineCount;

 private:
  // Bytes of the decoded plane: lineLength * lineCount, 0 for a plane with
  // no lines or empty lines.
  std::size_t planeBytes() const;
  // Offset of line `line`'s first byte in the decoded plane.
  std::size_t lineStart(int line) const;
  // Reads the region and decodes it into a new planeBuffer.
  void decodeRegion();
};

#endif  // BTREEIMG_PLANESTORE_BTREEPACKEDSPEED_H_
