#include "planestore/BtreeMod.h"

BtreeMod::BtreeMod()
    : lineSize(0), nLines(0), dataOffset(0), memFile(nullptr) {}

BtreeMod::~BtreeMod() {
  dataOffset = 0;
  memFile = nullptr;
}

void BtreeMod::BtreeUnPacked(CMemFile*, long, int, int) {}
void BtreeMod::BtreePackedSpeed(CMemFile*, long, int, int) {}
void BtreeMod::BtreePacked(CMemFile*, long, int, int) {}

int BtreeMod::lineAt(int, unsigned char*) { return 1; }
bool BtreeMod::mayLeaveBytes(int) { return true; }
int BtreeMod::writeAt(int, unsigned char*) { return 1; }
int BtreeMod::writeAllDati(CStringArray&) { return 1; }
void BtreeMod::SetSize(int) {}
void BtreeMod::SetData(long) {}
int BtreeMod::commit() { return 1; }
int BtreeMod::LineBytes() { return lineSize > 0 ? lineSize : 0; }
