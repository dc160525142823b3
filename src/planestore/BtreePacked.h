// Packed plane storage: each line is coded on its own as run pairs (a count
// from 1 to 255, then the byte value), behind a line offset table, so that
// any single line can be read without decoding the others.
//
// Region layout, at regionOffset (integers little-endian):
//   4 * (nLines + 1) bytes   line offset table, u32 entries
//   entry[nLines] bytes      the run pairs of line 0, line 1, ... back to back
// Entry i is where line i's pairs begin, counted from dataOffset (the first
// byte behind the table); entry i + 1 is where they end. Entry 0 is 0. A
// line's pairs decode to exactly the line: runs are split at 255 and never
// continue past the line's last byte.
//
// Example, 2 lines of 8 bytes, 05 05 05 07 07 00 00 00 and eight 09s:
//   00 00 00 00 | 06 00 00 00 | 08 00 00 00 | 03 05 02 07 03 00 | 08 09
//
// Lines are written in order from 0: writing line i rewrites the code from
// line i's start and sets only entry[i + 1]; writing line 0 clears the whole
// table, so later lines read as nothing until they are written again.
//
// Reading never trusts the region: a line whose entries lie outside the
// memory file, whose end lies below its start, or whose pairs expand past
// the line length decodes only what fits into the line and leaves the rest
// of the caller's buffer as it was.
//
// Copies share the memory file and the region with the original.
#ifndef BTREEIMG_PLANESTORE_BTREEPACKED_H_
#define BTREEIMG_PLANESTORE_BTREEPACKED_H_

#include <cstdint>
#include <vector>

#include "planestore/BtreeMod.h"

class AFX_EXT_CLASS BtreePacked : public BtreeMod {
 public:
  // `memFile` (not owned), the region's offset, the line length and count.
  // Sets dataOffset = regionOffset + 4 * (nLines + 1). Reads nothing.
  BtreePacked(CMemFile* memFile, long regionOffset, int lineSize, int nLines);
  BtreePacked(const BtreePacked&) = default;
  BtreePacked& operator=(const BtreePacked&) = default;
  // Releases nothing: the memory file is the image's.
  ~BtreePacked() override;

  // Decodes line `line` straight from the memory file into at most lineSize
  // bytes of `buffer`. A line whose two entries are equal (never written
  // since line 0 was) decodes to nothing: `buffer` is left as it was.
  int lineAt(int line, unsigned char* buffer) override;
  // Codes the lineSize bytes at `buffer` as line `line`: the code goes behind
  // the end that line - 1 left in entry[line] (line 0: at the start, after
  // the table is cleared), then entry[line + 1] is set. Returns 0, changing
  // nothing, when `line` is out of range or the code or the table would
  // reach the region's end (SetRegionEnd).
  int writeAt(int line, unsigned char* buffer) override;
  // Stores string i as line i for every line, as writing lines 0, 1, ... in
  // turn would, in one write of the code and one of the table. A string
  // shorter than lineSize is padded with zero bytes, a longer one cut.
  // Throws CInvalidArgException* before writing anything when the array
  // holds fewer strings than the plane has lines; returns 0, writing
  // nothing, when the coded plane would reach the region's end.
  int writeAllDati(CStringArray& lines) override;
  // Sets the line length the encoder codes (and the decoder's limit).
  void SetSize(int lineSize) override;
  // Moves only the start of the code; the table stays at regionOffset and
  // its entries count from the new dataOffset.
  void SetData(long dataOffset) override;

  // Makes the lines never written decode as lines of zero bytes: those
  // behind the last line written whose end entries are still 0 (a written
  // line's code ends above 0). Their code goes behind that line's, so only
  // when no entry points further: every written line keeps its code where
  // it lies, whatever order the lines were written in. A storage never
  // written through gets its whole table. Returns 1 when done or when no
  // line is missing; 0, changing nothing, when the zero lines cannot go
  // there or their code or the table would reach the region's end (the
  // lines never written then read as nothing, as before).
  int complete();

 protected:
  // Where the plane's region (its line offset table) starts.
  long regionOffset;

 private:
  // Reads table entry `index` into *value; false when the memory file does
  // not hold all four bytes.
  bool readEntry(LONGLONG index, std::uint32_t* value);
  // True when a write ending just before `end` stays inside the region.
  bool fitsRegion(LONGLONG end) const;
  // Memory-file offset of table entry `index`.
  LONGLONG entryOffset(LONGLONG index) const;

  // One line's code, reused between writes (lines whose code may exceed
  // 1 MiB are coded straight into the memory file instead).
  std::vector<unsigned char> scratch;
};

#endif  // BTREEIMG_PLANESTORE_BTREEPACKED_H_
