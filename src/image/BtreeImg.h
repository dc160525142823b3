// A multi-plane 8-bit raster image: up to five planes of byte-per-pixel
// lines, each behind a 1312-byte header block, in one little-endian file.
//
// While the object lives, the whole file is held in a memory file; every line
// and header operation works on that copy. The disk file is read once, by the
// opening constructor, and written once, by closeImg() (or the destructor),
// and only for an image that this object created: an opened image is never
// written back.
//
// Planes are numbered from 1. Every operation that takes a plane number
// throws CInvalidArgException* for a plane outside 1 .. the number of planes
// the image holds, except where stated. Line numbers count from 0 and wrap
// modulo the first plane's line count.
//
// Ownership: the image owns its storage objects, line buffers and file
// buffer. The Mem returned by at() and line() belongs to the image; the next
// read of the same plane overwrites it.
//
// Not thread-safe: an image is used by one thread at a time. Different images
// may be used on different threads at once; the message buffer of header
// operations (moduleMessage()) is kept per thread.
#ifndef BTREEIMG_IMAGE_BTREEIMG_H_
#define BTREEIMG_IMAGE_BTREEIMG_H_

#include "framework/CMemFile.h"
#include "framework/CString.h"
#include "framework/CStringArray.h"
#include "framework/FileReplacement.h"
#include "framework/Export.h"
#include "framework/Types.h"
#include "planestore/BtreeMod.h"
#include "planestore/Mem.h"

namespace btreeimg {
class ImageWriter;
namespace detail {
class CoverageRun;
}
}

class AFX_EXT_CLASS BtreeImg {
 public:
  // ---- Lifecycle -------------------------------------------------------

  // Opens the image file `name` and reads it whole. Throws CFileException*
  // when the file cannot be opened or read (cause and file name set), and
  // with cause invalidFile when its plane count is above 5, it is larger
  // than 4 GiB, or a plane's line (or whole-plane packed plane) is longer
  // than any encoding could code in the file's length.
  explicit BtreeImg(const char* name);
  // Creates a new image of `nPiani` planes (1..5) of `dimy` lines of `dimx`
  // bytes, every plane in encoding `pack` (0 raw, 1 packed, 2 whole-plane
  // packed). Version 4 when a dimension exceeds 65535, else version 3 for more
  // than 2 planes, else version 2. Line 0 of plane 1 is all bytes 1, line 0 of
  // the other planes all bytes 0. Nothing reaches the disk before closeImg().
  // Throws CInvalidArgException* for dimensions of 0 or below, a plane count
  // outside 1..5, a pack outside 0..2, or planes whose block positions would
  // not fit the format's 32-bit fields.
  BtreeImg(const char* name, int pack, int dimx, int dimy, short nPiani);
  // Creates a new image from the 1312-byte first block `header` (its version,
  // dimensions, colour map and encoding), with `nPiani` planes (1..5) and
  // encoding `pack`, or the header's own when `pack` is -1. Dimensions of 0
  // are accepted. Further planes are laid out back to back behind plane 1.
  // The block's plane count becomes `nPiani`, and in version 2 its table's
  // entry 0 becomes 0 (plane 1 lies right behind the block).
  // Throws CInvalidArgException* for a header of a version other than 2, 3
  // or 4, or (with `pack` -1) of an encoding other than 0, 1 or 2: the image
  // saved would be one no reader could use.
  BtreeImg(const char* name, const void* header, short nPiani, short pack);
  BtreeImg(const BtreeImg&) = delete;
  BtreeImg& operator=(const BtreeImg&) = delete;
  // closeImg(), swallowing a failure, then frees everything owned.
  ~BtreeImg();

  // For a created image not yet saved: completes every plane (lines never
  // written are saved as lines of zero bytes: a raw plane is filled to its
  // end; a packed plane's table gets zero lines for the lines never written
  // behind the last one written, where they fit behind the code; lines left
  // without code read as zeros in every reader), encodes any whole-plane
  // packed planes, and replaces the file `name` with the image through
  // btreeimg::replaceImageFile (inspected in memory, then a private
  // temporary file beside it, flushed, given the old file's mode, renamed
  // over it; a symbolic link `name` keeps pointing at the file that gets
  // the image). Then, for every image, releases the memory file. A second
  // call does nothing. Throws CFileException* when the file cannot be
  // created, fully written or flushed, a whole-plane packed plane's code
  // does not fit before the next plane's header block, or the image would
  // be one the library's check calls damaged: nothing is replaced, the
  // image keeps its content and stays marked for saving, so the call may be
  // retried.
  void closeImg();
  // For a created image not yet saved: drops the unsaved content, so that
  // neither closeImg() nor the destructor writes the file `name`; a file of
  // that name stays as it is. The image's planes can still be read until
  // closeImg(). Does nothing for an opened or already saved image.
  void discard();

  // ---- Header operations -----------------------------------------------

  // The version field of the first block.
  short Version();
  // 1312, the size of every header block.
  int dimHeader(short plane);
  // Component `component` (0..2) of colour-map entry `index` (0..255), from
  // the header copy (not from the memory file). The third argument is unused.
  // Throws CInvalidArgException* outside those ranges.
  unsigned char GetRgbHeader(short index, short component, short unused);
  // The memory file's current position.
  ULONGLONG GetPosition();
  // Copies plane `plane`'s header block into the caller's 1312 bytes.
  void readHeader(void* header, short plane);
  // Stores the caller's 1312 bytes as plane `plane`'s header block, in the
  // header copies and in the memory file at the plane's block position.
  void writeHeader(const void* header, short plane);
  // Reads / writes the 768-byte colour map of the memory file's first block
  // (the header copies are not touched). Leave the position at 788.
  void readMap(void* map);
  void writeMap(const void* map);
  // Write plane `plane`'s pack field, its dimensions, or both, from the header
  // copy into the memory file; the position is left where it was.
  void writePack(short plane);
  void writeDimensioni(short plane);
  void writeParametri(short plane);
  // Sets plane `plane`'s offset slot (version 2: its entry in the first
  // block's table; versions 3 and 4: the offsetPiano field of its own block)
  // to the low 32 bits of `offset`, and the start of its storage's line data
  // to `offset`. Does nothing for plane 0.
  void writeOffsetPiano(short plane, unsigned long offset);
  // Sets the same slot, then rewrites the first block in the memory file
  // (storage untouched, position kept). Does nothing for plane 0.
  void writeFileOffsetPiano(short plane, unsigned long offset);

  // ---- Line and plane access ---------------------------------------------

  // Reads line `line` of `plane` into the plane's line buffer and returns it.
  // The line number wraps modulo the first plane's line count and is counted
  // from the other end after SetBassoAltoSinistraDestra(). A line never
  // written (a packed line without code, a raw line the file does not
  // reach) reads as zero bytes. When the storage refuses (or the image has
  // no lines) the buffer keeps its contents.
  Mem* at(unsigned int line, short plane);
  // at(0, plane).
  Mem* line(short plane);
  // The same, into `destination` (at least dimx(plane) bytes). Returns 1.
  int at(unsigned int line, short plane, unsigned char* destination);
  // Writes the line at `data` (the plane's line length in bytes) as line
  // `line` modulo the line count, never reversed. Returns the storage's
  // status: 1 done, 0 refused (out of range, no storage, no room, no lines).
  // A packed plane is written in line order from line 0.
  int wLinea(char* data, int line, short plane);
  // Writes the whole plane, string i as line i. Returns the storage's status.
  int wPiano(CStringArray& lines, short plane);
  // Plane `plane`'s line length (dimx) and line count (dimy).
  unsigned int dimx(short plane);
  unsigned int dimy(short plane);
  // The plane count in the first block, as stored.
  short nPiani();
  // The pack field of the first block, whatever the argument.
  int isPacked(short plane);
  // Set the plane's pack flag (1 or 0) in its header copy only: the storage
  // and the bytes stored stay as they are.
  void SetPacked(short plane);
  void SetUnPacked(short plane);
  // Changes the plane's line length in its header copy and its storage, and
  // resizes its line buffer. Throws CInvalidArgException* for a negative value.
  void SetDimX(int dimx, short plane);
  // Changes the plane's line count in its header copy, lays the planes behind
  // it out again as raw planes of the new size, moves the plane's line data to
  // right behind its block and writes its block. Throws CInvalidArgException*
  // for a negative value or a layout that would not fit 32-bit positions.
  void SetDimY(int dimy, short plane);
  // Counts line numbers of reads from the other end from now on.
  void SetBassoAltoSinistraDestra();

  // ---- Colour coverage ---------------------------------------------------

  // Rewrites plane 1 by the colour rules in `ruleFile` (keys "COLCOPER",
  // "COLTEST", "COLSOST") into the single-plane image `outputName`, or in
  // place of this image's own file when `outputName` is that file. Returns 1
  // when the run was carried out, 0 when it could not start or its output
  // could not be written. A run that changed nothing leaves no output file.
  int CoperturaU8(CString ruleFile, CString outputName);
  // Applies one rule to the first `n` pixels of `line`: each pixel equal to the
  // cover colour (read from `cover` as a decimal integer) whose pixel below in
  // `next` equals `test` (both as signed 8-bit values) becomes the low 8 bits
  // of `subst`, and *changed becomes 1. An empty `cover` changes nothing.
  void testColor(char* line, char* next, int n, CString& cover, int test,
                 int subst, int* changed);

  // The message buffer of header operations: the text of the calling
  // thread's last memory-file error of a header operation, empty until one
  // happened on this thread. Each thread has its own buffer (as with errno);
  // the pointer stays valid while the thread lives.
  static const char* moduleMessage();

 private:
  // Builds new images plane by plane, choosing each plane's encoding.
  friend class btreeimg::ImageWriter;
  // Runs colour coverage for CoperturaU8 and btreeimg::coverImage.
  friend class btreeimg::detail::CoverageRun;

  void Reset();

  // Setup shared by the constructors.
  void openFromDisk();
  void createPlanes(int pack, int dimx, int dimy, int nPiani);
  void createFromHeader(const void* header, int nPiani, int pack);
  // A new storage object for `pack`; null for an unknown encoding.
  BtreeMod* makeStorage(int pack, ULONGLONG regionStart, int dimx, int dimy);
  // The plane's line buffer, made on first use: its own dimx bytes, or more
  // when its storage transfers more.
  Mem* lineBuffer(int plane);
  unsigned int lineBufferSize(int plane);
  // The line length stored in the plane's own block.
  unsigned int ownDimX(int plane);
  // Frees storage objects, line buffers, the memory file and the file buffer.
  void releaseAll();
  // The saving step of closeImg(), with `stem` naming the temporary file
  // (null: the default name).
  void save(btreeimg::FileReplacement::TemporaryStem stem);
  // Completes every plane before a save (lines never written become zero
  // lines where they fit, whole-plane packed planes are coded). Throws
  // CFileException* when a whole-plane packed plane does not fit before the
  // next plane's header block.
  void completePlanes();
  void writeBlockAt(ULONGLONG position, const unsigned char* block);
  void writeFirstLine(int plane, unsigned char value);
  void refreshRegionEnds();

  // Header copies and fields.
  unsigned char* area(int index);
  int version();
  unsigned int lineCount();
  ULONGLONG blockPosition(int plane);
  void recordBlockPosition(int plane, unsigned int position);
  unsigned char* offsetSlot(int plane);
  void storeDimX(int plane, unsigned int value);
  void storeDimY(int plane, unsigned int value);

  // Plane checks: throw CInvalidArgException* outside 1..planeCount_.
  int checkPlane(short plane);
  // The storage's line `stored` into `out`, lines never written (a packed
  // line without code, a raw line beyond the end of the file) as zeros.
  int readStored(BtreeMod* storage, unsigned int stored, unsigned char* out);
  // Storage line number for a read of `line`.
  unsigned int storageLine(unsigned int line, bool reversible);

  unsigned char* fileBuffer;
  int saveOnClose;
  CString fileName;
  CMemFile memFile;
  BtreeMod* piani[5];
  Mem* linee[5];
  unsigned int lineaCorrente[5];
  unsigned char header2[5][1312];
  unsigned char header4[5][1312];
  unsigned char header3[5][1312];
  int orientamento;
  // Number of planes the image holds (1..5); nPiani() answers the header.
  int planeCount_;
};

#endif  // BTREEIMG_IMAGE_BTREEIMG_H_
