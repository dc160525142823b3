#include "planestore/BtreePackedSpeed.h"

// Placeholder until the whole-plane packed encoding lands.
BtreePackedSpeed::BtreePackedSpeed(CMemFile* memFile, long regionOffset,
                                   int lineLength, int lineCount)
    : regionOffset(regionOffset),
      unpackedSize(0),
      packedSize(0),
      planeBuffer(nullptr),
      lineLength(lineLength),
      lineCount(lineCount) {
  this->memFile = memFile;
}
BtreePackedSpeed::BtreePackedSpeed(const BtreePackedSpeed& other) = default;
BtreePackedSpeed& BtreePackedSpeed::operator=(const BtreePackedSpeed&) {
  return *this;
}
BtreePackedSpeed::~BtreePackedSpeed() = default;
int BtreePackedSpeed::lineAt(int, unsigned char*) { return 0; }
int BtreePackedSpeed::writeAt(int, unsigned char*) { return 0; }
int BtreePackedSpeed::writeAllDati(CStringArray&) { return 0; }
void BtreePackedSpeed::SetSize(int lineSize) { this->lineSize = lineSize; }
void BtreePackedSpeed::SetData(long dataOffset) { this->dataOffset = dataOffset; }
int BtreePackedSpeed::commit() { return 1; }
