// The image's lifecycle: opening a file, creating an image, closing it.
#include "image/BtreeImg.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "framework/ByteOrder.h"
#include "framework/CFile.h"
#include "framework/Exceptions.h"
#include "framework/ThrowHelpers.h"
#include "image/HeaderLayout.h"
#include "image/ImageSave.h"
#include "planestore/BtreePacked.h"
#include "planestore/BtreePackedSpeed.h"
#include "planestore/BtreeUnPacked.h"

namespace block = btreeimg::detail::block;
using btreeimg::detail::loadI16;
using btreeimg::detail::loadU16;
using btreeimg::detail::loadU32;
using btreeimg::detail::storeU16;
using btreeimg::detail::storeU32;
using btreeimg::detail::throwFileError;
using btreeimg::detail::throwInvalidArgument;

namespace {

// Storage objects take int dimensions; a stored 32-bit dimension beyond that
// range is held at INT_MAX (no file can hold such a plane anyway).
int asInt(unsigned int value) {
  return static_cast<int>(std::min<unsigned int>(value, INT_MAX));
}

// Size in the file of one plane laid out raw: its block and dimx x dimy bytes.
ULONGLONG rawPlaneSpan(ULONGLONG dimx, ULONGLONG dimy) {
  return dimx * dimy + block::kSize;
}

}  // namespace

void BtreeImg::Reset() {
  std::memset(header2, 0, sizeof header2);
  std::memset(header4, 0, sizeof header4);
  std::memset(header3, 0, sizeof header3);
  for (int i = 0; i < block::kMaxPlanes; ++i) {
    piani[i] = nullptr;
    linee[i] = nullptr;
    lineaCorrente[i] = static_cast<unsigned int>(-1);
  }
  orientamento = 1;
}

// ---- Opening --------------------------------------------------------------

BtreeImg::BtreeImg(const char* name)
    : fileBuffer(nullptr), saveOnClose(0), fileName(name), memFile(1024),
      planeCount_(1) {
  Reset();
  try {
    openFromDisk();
  } catch (...) {
    releaseAll();
    throw;
  }
}

void BtreeImg::openFromDisk() {
  // Step 1: the whole file into one buffer, wrapped by a fixed-size memory
  // file.
  // A FIFO or a device would be waited on, or read without end: only
  // regular files hold images.
  struct stat info {};
  if (::stat(fileName, &info) == 0 && !S_ISREG(info.st_mode) &&
      !S_ISDIR(info.st_mode)) {
    throwFileError(CFileException::accessDenied, fileName, -1,
                   "not a regular file");
  }
  CFile file;
  CFileException error;
  if (!file.Open(fileName, CFile::modeRead | CFile::typeBinary, &error)) {
    throwFileError(error.m_cause, fileName, error.m_lOsError);
  }
  const ULONGLONG length = file.GetLength();
  if (length > UINT_MAX) {
    throwFileError(CFileException::invalidFile, fileName, -1,
                   "image file larger than 4 GiB");
  }
  fileBuffer = static_cast<unsigned char*>(
      std::malloc(static_cast<std::size_t>(length ? length : 1)));
  if (fileBuffer == nullptr) btreeimg::detail::throwMemoryError();
  if (file.Read(fileBuffer, static_cast<UINT>(length)) != length) {
    throwFileError(CFileException::endOfFile, fileName);
  }
  file.Close();
  memFile.Attach(fileBuffer, static_cast<UINT>(length), 0);

  // Step 2: the first block. A short file leaves the rest of it zero.
  memFile.Read(header2[0], block::kSize);
  const int v = version();
  if (v == 3) std::memcpy(header3[0], header2[0], block::kSize);
  if (v == 4) std::memcpy(header4[0], header2[0], block::kSize);
  if (v == 2 || v == 3 || v == 4) {
    const int count = loadI16(header2[0] + block::kPlaneCountAt);
    if (count > block::kMaxPlanes) {
      throwFileError(CFileException::invalidFile, fileName, -1,
                     "image file with more than 5 planes");
    }
    planeCount_ = std::max(count, 1);
  }

  // Step 3: the further planes' blocks, found through the table (version 2)
  // or the chain (versions 3 and 4). A block beyond the end reads as zeros.
  for (int p = 2; p <= planeCount_; ++p) {
    memFile.Seek(static_cast<LONGLONG>(blockPosition(p)), CFile::begin);
    memFile.Read(area(p - 1), block::kSize);
  }

  // Step 4: a storage object per plane, every one with plane 1's dimensions.
  // Plane 1 of version 4 is raw for any encoding other than 1 and 2.
  const unsigned int dimx1 = dimx(1);
  const unsigned int dimy1 = dimy(1);
  // A run pair of two bytes stands for at most 255 bytes, so no encoding
  // lets this file hold a line, or a whole plane, longer than `most` bytes.
  // Larger dimensions are refused rather than allocated.
  const ULONGLONG most = (length / 2 + 1) * 255;
  for (int p = 1; p <= planeCount_; ++p) {
    int pack = loadU16(area(p - 1) + block::kPackAt);
    if (p == 1 && v == 4 && pack != 1 && pack != 2) pack = 0;
    if (dimx1 > most || ownDimX(p) > most ||
        (pack == 2 && ULONGLONG{dimx1} * dimy1 > most)) {
      throwFileError(CFileException::invalidFile, fileName, -1,
                     "plane dimensions beyond what the image file can hold");
    }
    const ULONGLONG regionStart =
        p == 1 && v != 3 && v != 4
            ? loadU32(header2[0] + block::kOffsetAt) + ULONGLONG{block::kSize}
            : blockPosition(p) + block::kSize;
    piani[p - 1] = makeStorage(pack, regionStart, asInt(dimx1), asInt(dimy1));
  }
  refreshRegionEnds();
}

// ---- Creating -------------------------------------------------------------

BtreeImg::BtreeImg(const char* name, int pack, int dimx, int dimy,
                   short nPiani)
    : fileBuffer(nullptr), saveOnClose(1), fileName(name), memFile(1024),
      planeCount_(1) {
  if (dimx <= 0 || dimy <= 0) throwInvalidArgument("image dimensions below 1");
  if (nPiani < 1 || nPiani > block::kMaxPlanes) {
    throwInvalidArgument("plane count outside 1..5");
  }
  if (pack < 0 || pack > 2) throwInvalidArgument("pack flag outside 0..2");
  if ((nPiani - 1) * rawPlaneSpan(dimx, dimy) > UINT32_MAX) {
    throwInvalidArgument("planes too large for the file's 32-bit positions");
  }
  Reset();
  try {
    createPlanes(pack, dimx, dimy, nPiani);
  } catch (...) {
    releaseAll();
    throw;
  }
}

void BtreeImg::createPlanes(int pack, int dimx, int dimy, int nPiani) {
  // Step 1: the first block's fields, by version.
  storeU16(header4[0] + block::kPackAt, static_cast<std::uint16_t>(pack));
  storeU16(header2[0] + block::kPackAt, static_cast<std::uint16_t>(pack));
  if (dimx > 65535 || dimy > 65535) {
    storeU32(header4[0] + block::kDimXAt, static_cast<std::uint32_t>(dimx));
    storeU32(header4[0] + block::kDimY4At, static_cast<std::uint32_t>(dimy));
    storeU16(header2[0] + block::kVersionAt, 4);
    storeU16(header4[0] + block::kVersionAt, 4);
  } else {
    const std::uint16_t v = nPiani > 2 ? 3 : 2;
    for (unsigned char* first : {header2[0], header3[0]}) {
      if (first == header3[0] && v != 3) continue;
      storeU16(first + block::kDimXAt, static_cast<std::uint16_t>(dimx));
      storeU16(first + block::kDimYAt, static_cast<std::uint16_t>(dimy));
    }
    if (v == 3) {
      storeU16(header3[0] + block::kPackAt, static_cast<std::uint16_t>(pack));
    }
    for (unsigned char* first : {header3[0], header4[0], header2[0]}) {
      storeU16(first + block::kVersionAt, v);
    }
  }
  for (unsigned char* first : {header3[0], header4[0], header2[0]}) {
    storeU16(first + block::kPlaneCountAt, static_cast<std::uint16_t>(nPiani));
  }
  planeCount_ = nPiani;

  // Step 2: every plane's block position, recorded before any block is
  // written so that each block goes to the memory file with its link.
  const ULONGLONG span = rawPlaneSpan(dimx, dimy);
  for (int p = 2; p <= nPiani; ++p) {
    recordBlockPosition(p, static_cast<unsigned int>((p - 1) * span));
    storeDimX(p, static_cast<unsigned int>(dimx));
    storeDimY(p, static_cast<unsigned int>(dimy));
    storeU16(area(p - 1) + block::kPackAt, static_cast<std::uint16_t>(pack));
  }
  for (int p = 1; p <= nPiani; ++p) {
    piani[p - 1] = makeStorage(pack, blockPosition(p) + block::kSize, dimx, dimy);
  }
  refreshRegionEnds();

  // Step 3: plane 1's block and its line 0 (all bytes 1), then each further
  // plane's block and its line 0 (all bytes 0).
  const unsigned char zeros[block::kSize] = {};
  writeBlockAt(0, zeros);
  writePack(1);
  writeDimensioni(1);
  writeFirstLine(1, 1);
  for (int p = 2; p <= nPiani; ++p) {
    writeBlockAt(blockPosition(p), area(p - 1));
    writeFirstLine(p, 0);
  }
  writeHeader(area(0), 1);
}

BtreeImg::BtreeImg(const char* name, const void* header, short nPiani,
                   short pack)
    : fileBuffer(nullptr), saveOnClose(1), fileName(name), memFile(1024),
      planeCount_(1) {
  if (header == nullptr) throwInvalidArgument("null header block");
  if (nPiani < 1 || nPiani > block::kMaxPlanes) {
    throwInvalidArgument("plane count outside 1..5");
  }
  if (pack < -1 || pack > 2) throwInvalidArgument("pack flag outside -1..2");
  Reset();
  try {
    createFromHeader(header, nPiani, pack);
  } catch (...) {
    releaseAll();
    throw;
  }
}

void BtreeImg::createFromHeader(const void* header, int nPiani, int pack) {
  // Step 1: the caller's block into the copy of its own version.
  const unsigned char* source = static_cast<const unsigned char*>(header);
  const int v = loadU16(source + block::kVersionAt);
  if (v != 2 && v != 3 && v != 4) {
    throwInvalidArgument("header block of a version other than 2, 3 or 4");
  }
  const int ownPack = loadU16(source + block::kPackAt);
  if (pack == -1 && (ownPack < 0 || ownPack > 2)) {
    throwInvalidArgument("header block with an encoding other than 0, 1 or 2");
  }
  unsigned char* first = v == 4 ? header4[0] : v == 3 ? header3[0] : header2[0];
  std::memcpy(first, source, block::kSize);
  // The block describes the image made from it: its plane count, and (in
  // version 2) plane 1 right behind it, where this image holds it. A block
  // taken from a file of more planes, or of a plane 1 further on, would
  // otherwise save a file whose block leads readers astray.
  storeU16(first + block::kPlaneCountAt, static_cast<std::uint16_t>(nPiani));
  if (v == 2) storeU32(first + block::kOffsetAt, 0);
  const unsigned int dimx1 = v == 4 ? loadU32(first + block::kDimXAt)
                                    : loadU16(first + block::kDimXAt);
  const unsigned int dimy1 = v == 4 ? loadU32(first + block::kDimY4At)
                                    : loadU16(first + block::kDimYAt);
  const ULONGLONG span = rawPlaneSpan(dimx1, dimy1);
  if ((nPiani - 1) * span > UINT32_MAX) {
    throwInvalidArgument("planes too large for the file's 32-bit positions");
  }

  // Step 2: a new encoding replaces the header's; the positions of further
  // planes recorded in the block are then void.
  int effective = loadU16(first + block::kPackAt);
  if (pack != -1 && pack != effective) {
    effective = pack;
    storeU16(first + block::kPackAt, static_cast<std::uint16_t>(pack));
    if (v == 3 || v == 4) {
      storeU32(first + block::kOffsetAt, 0);
    } else {
      for (int p = 2; p <= nPiani; ++p) {
        storeU32(first + block::kOffsetAt + 4 * (p - 1), 0);
      }
    }
  }
  planeCount_ = 1;
  piani[0] = makeStorage(effective, block::kSize, asInt(dimx1), asInt(dimy1));

  // Step 3: the block at position 0. The first block mirrors into header2[0]
  // here, which makes the copy's version the image's.
  writeHeader(first, 1);

  // Step 4: further planes go back to back behind plane 1, as in a created
  // image, each with plane 1's dimensions and encoding.
  planeCount_ = nPiani;
  for (int p = 2; p <= nPiani; ++p) {
    recordBlockPosition(p, static_cast<unsigned int>((p - 1) * span));
    storeDimX(p, dimx1);
    storeDimY(p, dimy1);
    storeU16(area(p - 1) + block::kPackAt,
             static_cast<std::uint16_t>(effective));
    piani[p - 1] = makeStorage(effective, blockPosition(p) + block::kSize,
                               asInt(dimx1), asInt(dimy1));
  }
  refreshRegionEnds();
  for (int p = 2; p <= nPiani; ++p) writeBlockAt(blockPosition(p), area(p - 1));
  if (nPiani > 1) writeHeader(area(0), 1);
}

// ---- Shared setup ---------------------------------------------------------

BtreeMod* BtreeImg::makeStorage(int pack, ULONGLONG regionStart, int dimx,
                                int dimy) {
  const long region = static_cast<long>(regionStart);
  switch (pack) {
    case 0:
      return new BtreeUnPacked(&memFile, region, dimx, dimy);
    case 1:
      return new BtreePacked(&memFile, region, dimx, dimy);
    case 2:
      return new BtreePackedSpeed(&memFile, region, dimx, dimy);
    default:
      return nullptr;  // an encoding the format does not define
  }
}

unsigned int BtreeImg::ownDimX(int plane) {
  const int v = version();
  const unsigned char* fields = area(plane - 1);
  if (v == 4) return loadU32(fields + block::kDimXAt);
  if (v == 3 || plane == 1) return loadU16(fields + block::kDimXAt);
  return loadU16(fields + block::kFurtherDimXAt);
}

unsigned int BtreeImg::lineBufferSize(int plane) {
  BtreeMod* storage = piani[plane - 1];
  const unsigned int transfer =
      storage ? static_cast<unsigned int>(storage->LineBytes()) : 0;
  // Versions 3 and 4 give every plane plane 1's line length.
  return std::max({ownDimX(plane), dimx(static_cast<short>(plane)), transfer});
}

Mem* BtreeImg::lineBuffer(int plane) {
  // Made on first use, so that opening a file costs no line buffers. A line
  // read from a damaged plane may fill less than the buffer, and the caller
  // may write the buffer back: its bytes start as zeros, never as garbage.
  if (linee[plane - 1] == nullptr) {
    Mem* buffer = new Mem(lineBufferSize(plane));
    buffer->fill(0);
    linee[plane - 1] = buffer;
  }
  return linee[plane - 1];
}

void BtreeImg::writeBlockAt(ULONGLONG position, const unsigned char* fields) {
  memFile.Seek(static_cast<LONGLONG>(position), CFile::begin);
  memFile.Write(fields, block::kSize);
}

void BtreeImg::writeFirstLine(int plane, unsigned char value) {
  Mem scratch(dimx(static_cast<short>(plane)));
  scratch.fill(value);
  lineaCorrente[plane - 1] = static_cast<unsigned int>(-1);
  wLinea(scratch.asCharArray(), 0, static_cast<short>(plane));
}

void BtreeImg::refreshRegionEnds() {
  // A plane's bytes may reach up to the nearest block of another plane that
  // lies behind its region's start; the last plane has no end.
  ULONGLONG positions[block::kMaxPlanes];
  for (int p = 1; p <= planeCount_; ++p) positions[p - 1] = blockPosition(p);
  for (int p = 1; p <= planeCount_; ++p) {
    BtreeMod* storage = piani[p - 1];
    if (storage == nullptr) continue;
    const ULONGLONG start = positions[p - 1] + block::kSize;
    ULONGLONG end = BtreeMod::kNoRegionEnd;
    for (int q = 1; q <= planeCount_; ++q) {
      if (q != p && positions[q - 1] >= start) end = std::min(end, positions[q - 1]);
    }
    storage->SetRegionEnd(end);
  }
}

// ---- Closing --------------------------------------------------------------

void BtreeImg::closeImg() {
  if (saveOnClose == 1) save(nullptr);
  memFile.Close();
}

void BtreeImg::completePlanes() {
  // Lines never written read as zero pixels: a raw plane's region is filled
  // to its end with zeros, a packed plane's table is completed with zero
  // lines where they fit, and a whole-plane packed plane codes its whole
  // plane anyway.
  for (int p = 1; p <= planeCount_; ++p) {
    BtreeMod* storage = piani[p - 1];
    if (storage == nullptr) continue;
    int done = 1;
    if (auto* packed = dynamic_cast<BtreePacked*>(storage)) {
      // Zero lines that do not fit (or cannot go behind lines written out
      // of order) are left out: those lines read as zeros anyway, and the
      // plane is saved as written.
      packed->complete();
    } else if (dynamic_cast<BtreeUnPacked*>(storage) != nullptr) {
      const ULONGLONG end =
          static_cast<ULONGLONG>(storage->DataOffset()) +
          ULONGLONG(std::max(storage->LineSize(), 0)) *
              ULONGLONG(std::max(storage->LineCount(), 0));
      if (end > memFile.GetLength()) memFile.SetLength(end);
    } else {
      done = storage->commit();
    }
    if (done == 0) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "plane %d does not fit before the next plane's header "
                    "block", p);
      throwFileError(CFileException::invalidFile, fileName, -1, text);
    }
  }
}

void BtreeImg::save(btreeimg::FileReplacement::TemporaryStem stem) {
  completePlanes();
  const ULONGLONG length = memFile.GetLength();
  if (length > UINT_MAX) {
    throwFileError(CFileException::invalidFile, fileName, -1,
                   "image larger than 4 GiB");
  }
  memFile.Seek(0, CFile::begin);
  void* start = nullptr;
  memFile.GetBufferPtr(CFile::bufferRead, static_cast<UINT>(length), &start);
  btreeimg::replaceImageFile(fileName, start, static_cast<std::size_t>(length),
                             stem);
  saveOnClose = 0;
  // The memory file's buffer becomes the file buffer, so that the planes stay
  // readable until the memory file is closed.
  unsigned char* taken = memFile.Detach();
  std::free(fileBuffer);
  fileBuffer = taken;
}

void BtreeImg::discard() { saveOnClose = 0; }

void BtreeImg::releaseAll() {
  for (int i = 0; i < block::kMaxPlanes; ++i) {
    delete piani[i];
    piani[i] = nullptr;
    delete linee[i];
    linee[i] = nullptr;
  }
  memFile.Close();
  std::free(fileBuffer);
  fileBuffer = nullptr;
}

BtreeImg::~BtreeImg() {
  try {
    closeImg();
  } catch (CException* e) {
    e->Delete();
  } catch (...) {
  }
  releaseAll();
}
