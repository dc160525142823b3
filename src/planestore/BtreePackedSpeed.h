// Whole-plane packed storage: the plane is one stream of run pairs covering
// all its lines, decoded once into memory when the object is constructed.
//
// Region layout, at the region offset (integers little-endian):
//   0  u32  unpackedSize: bytes of the decoded plane
//   4  u32  packedSize: bytes of run pairs that follow
//   8  ...  run pairs (count 1..255, value)
// The decoded plane holds the lines bottom-up: line i is the lineLength bytes
// at (lineCount - 1 - i) * lineLength. Runs may cross line ends.
#ifndef BTREEIMG_PLANESTORE_BTREEPACKEDSPEED_H_
#define BTREEIMG_PLANESTORE_BTREEPACKEDSPEED_H_

#include "planestore/BtreeMod.h"

class AFX_EXT_CLASS BtreePackedSpeed : public BtreeMod {
 public:
  // Reads and decodes the region at `regionOffset` of `memFile` (not owned).
  BtreePackedSpeed(CMemFile* memFile, long regionOffset, int lineLength,
                   int lineCount);
  BtreePackedSpeed(const BtreePackedSpeed& other);
  BtreePackedSpeed& operator=(const BtreePackedSpeed& other);
  ~BtreePackedSpeed() override;

  int lineAt(int line, unsigned char* buffer) override;
  int writeAt(int line, unsigned char* buffer) override;
  int writeAllDati(CStringArray& lines) override;
  void SetSize(int lineSize) override;
  void SetData(long dataOffset) override;
  int commit() override;

 protected:
  long regionOffset;
  unsigned int unpackedSize;
  unsigned int packedSize;
  unsigned char* planeBuffer;
  int lineLength;
  int lineCount;
};

#endif  // BTREEIMG_PLANESTORE_BTREEPACKEDSPEED_H_
