#include "planestore/BtreePacked.h"

// Placeholder until the packed encoding lands.
BtreePacked::BtreePacked(CMemFile* memFile, long regionOffset, int lineSize,
                         int nLines)
    : regionOffset(regionOffset) {
  this->memFile = memFile;
  this->lineSize = lineSize;
  this->nLines = nLines;
  this->dataOffset = regionOffset + 4L * (nLines + 1L);
}
BtreePacked::~BtreePacked() = default;
int BtreePacked::lineAt(int, unsigned char*) { return 0; }
int BtreePacked::writeAt(int, unsigned char*) { return 0; }
int BtreePacked::writeAllDati(CStringArray&) { return 0; }
void BtreePacked::SetSize(int lineSize) { this->lineSize = lineSize; }
void BtreePacked::SetData(long dataOffset) { this->dataOffset = dataOffset; }
