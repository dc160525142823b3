// Structural verification of an image file, done on the file's bytes alone:
// no BtreeImg is opened and nothing is decoded into an image.
//
// An inspection locates every plane the way BtreeImg does when it opens the
// file (the first block at 0, further blocks through the version-2 table or
// the version-3/4 chain), then verifies that
//   - every plane's header block lies inside the file and overlaps no other
//     block, and its encoding is one the format defines;
//   - every plane's region lies inside the file, ends before the next
//     header block behind it, and overlaps no other plane's region;
//   - a packed plane's line offset table starts at 0, never decreases, and
//     every line's run pairs decode to exactly one line;
//   - a whole-plane packed stream states the plane's size and its run pairs
//     decode to exactly that many bytes.
// Every plane is read with plane 1's line length and line count, as BtreeImg
// reads it; a plane whose own block states other dimensions is a problem.
//
// Lines never written are no problem: a created image that was saved before
// all its lines were written ends its last raw plane early, exactly at a
// line's start, or leaves the end entries of its packed lines at 0. Such
// lines read as zeros in every reader; the inspection names them in a note
// (Notes()), and a region cut inside a line stays a problem.
//
// Each problem is reported as one line of text in English, starting with the
// plane it concerns ("plane 2: ..."), or with no prefix for the whole file.
// A problem of one plane leaves the others sound: a reader may read a sound
// plane of a damaged file (PlaneSound), and refuses a damaged one in the
// words of PlaneSummary. Overlapping blocks or regions damage both planes.
// Only the first few damaged lines of a plane are named one by one; a last
// text then counts the rest.
//
// Inspection never reads outside the bytes it is given, never allocates more
// than the file's own size, and never ends the process.
#ifndef BTREEIMG_IMAGE_IMAGECHECK_H_
#define BTREEIMG_IMAGE_IMAGECHECK_H_

#include <vector>

#include "framework/CStringArray.h"
#include "framework/Export.h"
#include "framework/Types.h"

class AFX_EXT_CLASS ImageCheck {
 public:
  // The outcome of an inspection; also the result of Inspect().
  enum Verdict {
    sound = 0,     // no problem found
    damaged = 1,   // an image, with the problems listed by Problems()
    unusable = 2,  // not an image this library can read: unreadable file,
                   // shorter than a header block, unknown version, more
                   // than 5 planes, larger than 4 GiB
  };

  // Where one plane lies in the file and what its own block states.
  struct PlaneLayout {
    int pack;                 // the block's encoding field (0, 1, 2 defined)
    unsigned int dimx;        // the block's own line length ...
    unsigned int dimy;        // ... and line count
    ULONGLONG blockPosition;  // first byte of its header block
    ULONGLONG regionStart;    // first byte of its line data
    ULONGLONG regionSize;     // bytes its encoding states it occupies:
                              // dimx x dimy raw; the line offset table and
                              // its last entry packed; the 8-byte head and
                              // the stream's stated length whole-plane; 0
                              // for an undefined encoding. Only the fixed
                              // part when the file does not hold the table
                              // or the head.
    ULONGLONG regionRoom;     // bytes from regionStart to the next header
                              // block behind it, or to the end of the file
    bool located;             // false when its block lies outside the file;
                              // the other fields but blockPosition are 0 then
  };

  // An inspection that has found nothing yet: verdict unusable, no planes.
  ImageCheck();

  // Inspects the image file `path`, read whole. A file that cannot be opened
  // or read gives the verdict unusable with one problem naming the file and
  // the cause. Returns the verdict.
  int InspectFile(const char* path);
  // Inspects the `size` bytes at `data` as an image file (null `data` with
  // `size` 0 is an empty file). Forgets an earlier inspection first.
  // Returns the verdict. With `layoutOnly`, the inspection verifies what the
  // header blocks, the ends of each line offset table and each whole-plane
  // stream's head state, without walking the code of the lines: its cost
  // no longer grows with the planes' size.
  int Inspect(const unsigned char* data, ULONGLONG size,
              bool layoutOnly = false);
  // Inspects the regular file open at `descriptor`, read with pread (its
  // position is neither used nor moved), holding no more of it at a time
  // than one header block, one line offset table or one line's code. A
  // descriptor that is not a regular file, or a file cut short while it is
  // inspected, gives the verdict unusable with a problem saying so.
  int InspectDescriptor(int descriptor, bool layoutOnly = false);

  // The verdict of the last inspection.
  int GetVerdict() const { return verdict_; }
  // The version field of the first block (0 when the file has none).
  int Version() const { return version_; }
  // The number of planes located, 1 to 5; 0 when the file is unusable.
  int PlaneCount() const { return planeCount_; }
  // Plane `plane`'s layout, planes counted from 1. Throws
  // CInvalidArgException* outside 1 .. PlaneCount().
  const PlaneLayout& Plane(int plane) const;
  // One text per problem, in the order found. Empty when the verdict is
  // sound. Valid until the next inspection.
  const CStringArray& Problems() const { return problems_; }
  // Remarks that are no problem, one text each, starting with the plane
  // they concern ("plane 1: lines 2-4 were never written; they read as
  // zeros"). Valid until the next inspection.
  const CStringArray& Notes() const { return notes_; }
  // The verdict in one sentence, as every reader of these files words it:
  // the first problem, then how many more there are ("...; and 3 more
  // problems"), counting every damaged line, also those only counted by a
  // last text. "not an image file" for an unusable file that named no
  // problem; empty when the verdict is sound.
  CString Summary() const;
  // Whether plane `plane` (counted from 1) may be read as sound: the file is
  // usable, and no problem concerns the whole file or that plane. False
  // outside 1 .. PlaneCount().
  bool PlaneSound(int plane) const;
  // Why plane `plane` may not be read, worded as Summary() words the file:
  // the first problem that concerns the whole file or that plane, then how
  // many more of those there are. Summary() itself for an unusable file or
  // a plane outside 1 .. PlaneCount(); empty when PlaneSound(plane).
  CString PlaneSummary(int plane) const;

 private:
  static constexpr int kMaxPlanes = 5;
  class Source;

  void reset();
  void report(int plane, const char* format, ...)
#if defined(__GNUC__) || defined(__clang__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;
  void note(int plane, const char* text);
  // The verdict of the problems that concern the whole file or any plane
  // of `planes` (plane p as bit p - 1), worded as Summary() words it.
  CString summaryOf(unsigned planes) const;
  int inspect(Source& source, bool layoutOnly);
  const unsigned char* view(int slot, ULONGLONG at, ULONGLONG n);
  bool readHeaders();
  void locatePlanes();
  void checkBlocks();
  void checkRegion(int plane);
  void checkPacked(int plane, const char* limit);
  void checkWholePlane(int plane, const char* limit);
  void checkRegionOverlaps();
  // Marks the last problem reported as concerning plane `plane` as well.
  void alsoConcerns(int plane);
  // Where plane `plane`'s region must end: the nearest other header block
  // that reaches behind the region's start, or the end of the file. Sets
  // *blocker to that block's plane, or 0 for the end of the file.
  ULONGLONG regionLimit(int plane, ULONGLONG size, int* blocker) const;

  int verdict_;
  int version_;
  int planeCount_;
  unsigned int dimx1_;
  unsigned int dimy1_;
  PlaneLayout planes_[kMaxPlanes];
  CStringArray problems_;
  // For each problem, the planes it concerns, plane p as bit p - 1; 0 for
  // the whole file.
  std::vector<unsigned> problemPlanes_;
  // For each problem, how many problems it stands for: 1, or the count of
  // damaged lines a last text counts.
  std::vector<ULONGLONG> problemWeights_;
  CStringArray notes_;
  // During an inspection: where the bytes come from, and what was read.
  Source* source_ = nullptr;
  bool layoutOnly_ = false;
  bool cutShort_ = false;
  unsigned char first_[1312] = {};
  ULONGLONG nextBlock_[kMaxPlanes] = {};
};

#endif  // BTREEIMG_IMAGE_IMAGECHECK_H_
