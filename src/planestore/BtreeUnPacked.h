// Raw plane storage: the region holds nLines lines of lineSize bytes each,
// back to back, with nothing between them. Line i occupies the bytes from
// dataOffset + i * lineSize to dataOffset + (i + 1) * lineSize - 1.
// Lines may be written in any order; each write changes only its own line.
#ifndef BTREEIMG_PLANESTORE_BTREEUNPACKED_H_
#define BTREEIMG_PLANESTORE_BTREEUNPACKED_H_

#include "planestore/BtreeMod.h"

class AFX_EXT_CLASS BtreeUnPacked : public BtreeMod {
 public:
  // `memFile` (not owned), the region's offset in it, the line length and
  // the line count. Reads nothing.
  BtreeUnPacked(CMemFile* memFile, long regionOffset, int lineSize,
                int nLines);
  BtreeUnPacked(const BtreeUnPacked&) = default;
  BtreeUnPacked& operator=(const BtreeUnPacked&) = default;
  // Releases nothing: the memory file is the image's.
  ~BtreeUnPacked() override;

  // One seek and one copy. Bytes of the line that lie beyond the end of the
  // memory file are not delivered: that part of `buffer` keeps its contents.
  int lineAt(int line, unsigned char* buffer) override;
  // Only a line reaching beyond the end of the memory file.
  bool mayLeaveBytes(int line) override;
  // One seek and one write of the line length's bytes.
  int writeAt(int line, unsigned char* buffer) override;
  // Line width is the line length: a shorter string is padded with zero
  // bytes, a longer one is cut.
  int writeAllDati(CStringArray& lines) override;

  void SetSize(int lineSize) override;
  void SetData(long dataOffset) override;

 private:
  // Offset of line `line`'s first byte.
  LONGLONG lineOffset(int line) const;
};

#endif  // BTREEIMG_PLANESTORE_BTREEUNPACKED_H_
