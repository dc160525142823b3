// Packed plane storage: each line is coded on its own as run pairs (a count
// from 1 to 255, then the byte value), behind a line offset table.
//
// Region layout, at regionOffset (integers little-endian):
//   4 * (nLines + 1) bytes   line offset table, u32 entries
//   entry[nLines] bytes      the run pairs of line 0, line 1, ... back to back
// Entry i is where line i's pairs begin, counted from dataOffset (the first
// byte behind the table); entry i + 1 is where they end. Entry 0 is 0.
//
// Lines are written in order from 0: writing line i sets entry[i + 1] and
// rewrites the code from line i's start; writing line 0 clears the table.
#ifndef BTREEIMG_PLANESTORE_BTREEPACKED_H_
#define BTREEIMG_PLANESTORE_BTREEPACKED_H_

#include "planestore/BtreeMod.h"

class AFX_EXT_CLASS BtreePacked : public BtreeMod {
 public:
  // `memFile` (not owned), the region's offset, the line length and count.
  // Sets dataOffset = regionOffset + 4 * (nLines + 1). Reads nothing.
  BtreePacked(CMemFile* memFile, long regionOffset, int lineSize, int nLines);
  BtreePacked(const BtreePacked&) = default;
  BtreePacked& operator=(const BtreePacked&) = default;
  ~BtreePacked() override;

  int lineAt(int line, unsigned char* buffer) override;
  int writeAt(int line, unsigned char* buffer) override;
  int writeAllDati(CStringArray& lines) override;
  // Sets the line length the encoder codes.
  void SetSize(int lineSize) override;
  // Moves only the start of the code; the table stays at regionOffset.
  void SetData(long dataOffset) override;

 protected:
  long regionOffset;
};

#endif  // BTREEIMG_PLANESTORE_BTREEPACKED_H_
