// Stores the lines of one plane inside an image's memory file, in one of
// three encodings: BtreeUnPacked (raw), BtreePacked (run pairs with a line
// offset table) and BtreePackedSpeed (the whole plane as one run-pair stream,
// decoded into memory at construction).
//
// A storage object never owns or closes the memory file: the image that
// created it owns the file and must outlive it. Line numbers count from 0.
// Owners destroy storage objects through this class's virtual destructor.
#ifndef BTREEIMG_PLANESTORE_BTREEMOD_H_
#define BTREEIMG_PLANESTORE_BTREEMOD_H_

#include "framework/CMemFile.h"
#include "framework/CStringArray.h"
#include "framework/Export.h"
#include "framework/Types.h"

class AFX_EXT_CLASS BtreeMod {
 public:
  // No end: the region may grow to the end of the memory file and beyond.
  static constexpr ULONGLONG kNoRegionEnd = ~ULONGLONG{0};

  BtreeMod();
  BtreeMod(const BtreeMod&) = default;
  BtreeMod& operator=(const BtreeMod&) = default;
  virtual ~BtreeMod();

  // Do-nothing operations named after the three encodings, kept for hosts
  // built against the original interface. Nothing calls them.
  virtual void BtreeUnPacked(CMemFile* memFile, long regionOffset, int lineSize,
                             int nLines);
  virtual void BtreePackedSpeed(CMemFile* memFile, long regionOffset,
                                int lineSize, int nLines);
  virtual void BtreePacked(CMemFile* memFile, long regionOffset, int lineSize,
                           int nLines);

  // Decodes line `line` into `buffer`.
  // REQUIRES: buffer holds at least the plane's line length in bytes.
  // Returns 1 when done, and 0 with nothing transferred when `line` lies
  // outside 0 .. nLines-1. The base version transfers nothing and returns 1.
  virtual int lineAt(int line, unsigned char* buffer);
  // Whether lineAt(line, ...) may leave bytes of the caller's buffer as they
  // were: a line never written, or one cut by the end of the memory file.
  // A caller wanting such bytes as zeros clears the buffer first. Base: true.
  virtual bool mayLeaveBytes(int line);
  // Stores the line length's bytes at `buffer` as line `line`. Returns 1 when
  // done; 0, changing nothing, when `line` is out of range or the line's code
  // would cross the region's end (SetRegionEnd). Base: nothing, 1.
  virtual int writeAt(int line, unsigned char* buffer);
  // Stores a whole plane, string i as line i. Throws CInvalidArgException*
  // when the array holds fewer strings than the plane has lines. Returns 1
  // when done, 0 when the plane would cross the region's end. Base: 1.
  virtual int writeAllDati(CStringArray& lines);
  // Sets the line length the encoding codes with.
  virtual void SetSize(int lineSize);
  // Moves the start of the line data to `dataOffset`.
  virtual void SetData(long dataOffset);

  // Encodes whatever the storage keeps outside the memory file into it, so
  // that the file can be written to disk. Only the whole-plane packed
  // encoding keeps its plane in memory; the others have nothing to do.
  // Returns 1 when done, 0 when the encoded region would cross the region's
  // end (nothing is written then).
  virtual int commit();

  // How many bytes lineAt writes into the caller's buffer and writeAt reads
  // from it: the line length the storage transfers.
  virtual int LineBytes();

  // Sets the absolute memory-file offset that this plane's bytes must not
  // reach (the next plane's header block); kNoRegionEnd for none.
  void SetRegionEnd(ULONGLONG regionEnd) { this->regionEnd = regionEnd; }
  // The offset set by SetRegionEnd(), kNoRegionEnd for none.
  ULONGLONG RegionEnd() const { return regionEnd; }

  // The line length, line count and start of the line data the storage
  // works with.
  int LineSize() const { return lineSize; }
  int LineCount() const { return nLines; }
  long DataOffset() const { return dataOffset; }

 protected:
  // The line length the encoding codes with.
  int lineSize;
  // The number of lines.
  int nLines;
  // Where the line data start in the memory file.
  long dataOffset;
  // The image's memory file (not owned).
  CMemFile* memFile;
  // The offset the plane's bytes must not reach (SetRegionEnd()).
  ULONGLONG regionEnd = kNoRegionEnd;
};

#endif  // BTREEIMG_PLANESTORE_BTREEMOD_H_
