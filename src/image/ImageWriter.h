// Writing a new image file from its lines, for programs that convert
// pictures into images: the image is built in memory and replaces the file
// only when complete (through btreeimg::FileReplacement), so that a failure
// leaves no half-written file and an existing file as it was.
//
// Each plane's header block carries its own encoding, so a writer may choose
// it plane by plane: with kChooseEncoding a plane is packed line by line
// (encoding 1) as long as its code fits in the room a raw plane takes, and is
// turned raw (encoding 0) as soon as it would not. Noisy planes thus never
// make an image impossible to write, and flat ones stay small.
//
// Lines a caller never writes read as zero pixels, except line 0 of plane 1,
// which a new image starts with as all bytes 1 (as BtreeImg's creating
// constructor does). Every file written passes ImageCheck.
//
// Not copyable; used by one thread at a time.
#ifndef BTREEIMG_IMAGE_IMAGEWRITER_H_
#define BTREEIMG_IMAGE_IMAGEWRITER_H_

#include <memory>

#include "framework/Export.h"
#include "framework/Types.h"

class BtreeImg;

namespace btreeimg {

class AFX_EXT_CLASS ImageWriter {
 public:
  // The encoding argument that chooses raw or packed plane by plane.
  static constexpr int kChooseEncoding = -1;

  // A new image of `planes` planes (1..5) of `height` lines of `width` bytes,
  // to replace the file `path` on commit(). `pack` is the encoding of every
  // plane (0 raw, 1 packed, 2 whole-plane packed) or kChooseEncoding. The
  // version is the one the format needs (versionFor()). The colour map starts
  // all black. Throws CInvalidArgException* for dimensions outside
  // 1..2^31-1, a plane count outside 1..5, an unknown encoding, or planes
  // whose positions would not fit the format's 32-bit fields. Nothing is
  // written to the disk before commit().
  ImageWriter(const char* path, int pack, unsigned int width,
              unsigned int height, int planes);
  ImageWriter(const ImageWriter&) = delete;
  ImageWriter& operator=(const ImageWriter&) = delete;
  // Without a successful commit(): nothing is written; a file `path` stays
  // as it was.
  ~ImageWriter();

  // The version a new image of these dimensions and planes gets: 4 when a
  // dimension exceeds 65535, else 3 for more than 2 planes, else 2.
  static int versionFor(unsigned int width, unsigned int height, int planes);

  // The image's version, plane count, line length and line count.
  int version() const;
  int planes() const;
  unsigned int width() const;
  unsigned int height() const;
  // Plane `plane`'s encoding as it stands now (a chosen plane reads 1 until
  // it is turned raw). Throws CInvalidArgException* for an unknown plane.
  int encoding(int plane) const;

  // Sets the 256-entry colour map from 768 bytes (red, green, blue for each
  // entry), in the header block and in the image alike.
  void setColourMap(const unsigned char* map);

  // Writes `width` bytes from `row` as line `line` of `plane`. Lines of a
  // plane that is packed (or chosen) are written once each, in order from
  // line 0 (writing one again would lose those behind it); raw
  // and whole-plane packed planes take them in any order. Throws
  // CInvalidArgException* for an unknown plane, a line out of range or one
  // out of order, and CFileException* (cause invalidFile) when an explicitly
  // packed line does not fit before the next plane's header block.
  void writeLine(int plane, unsigned int line, const unsigned char* row);

  // Completes the image (lines never written become zero lines, whole-plane
  // packed planes are coded) and replaces the file. Throws CFileException*
  // when it cannot be written (nothing is replaced then) or a whole-plane
  // packed plane does not fit before the next plane's header block. Once
  // committed, further calls do nothing.
  void commit();
  // Drops the image: nothing will be written. Further writes throw.
  void discard();

 private:
  void requirePlane(int plane) const;
  // Turns the chosen plane `plane` raw, keeping the lines written so far.
  void turnRaw(int plane);
  // Where plane `plane`'s line data starts in the image.
  ULONGLONG regionStart(int plane) const;
  // Bounds every chosen plane still packed by the room of a raw plane.
  void limitChosenPlanes();

  std::unique_ptr<BtreeImg> image_;
  int pack_[5];
  unsigned int nextLine_[5];
  unsigned int width_;
  unsigned int height_;
  int planes_;
  bool done_ = false;
};

}  // namespace btreeimg

#endif  // BTREEIMG_IMAGE_IMAGEWRITER_H_
