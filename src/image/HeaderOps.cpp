// The header blocks of an image: where each plane's block lies, its fields,
// and the header operations that copy them between the header copies and the
// memory file.
#include <cstdio>
#include <cstring>

#include "framework/ByteOrder.h"
#include "framework/Exceptions.h"
#include "framework/ThrowHelpers.h"
#include "image/BtreeImg.h"
#include "image/HeaderLayout.h"

namespace block = btreeimg::detail::block;
using btreeimg::detail::loadI16;
using btreeimg::detail::loadU16;
using btreeimg::detail::loadU32;
using btreeimg::detail::storeU16;
using btreeimg::detail::storeU32;

namespace {

// The message buffer of header operations, one per thread: a thread reads
// the message of its own last failure, as with errno, and threads working on
// different images never write the same bytes.
thread_local char tModuleMessage[256];

// Runs one memory-file step of a header operation. A file error of the memory
// file leaves `message` in the calling thread's buffer and is thrown on as a
// CFileException* carrying that text. A memory exception (a write beyond a
// memory file that cannot grow) passes through untouched.
template <typename Step>
void guarded(const char* message, const CString& fileName, Step&& step) {
  try {
    step();
  } catch (CFileException* e) {
    const int cause = e->m_cause;
    e->Delete();
    std::snprintf(tModuleMessage, sizeof tModuleMessage, "%s", message);
    btreeimg::detail::throwFileError(cause, fileName, -1, message);
  }
}

}  // namespace

const char* BtreeImg::moduleMessage() { return tModuleMessage; }

// ---- Header copies and fields -------------------------------------------

int BtreeImg::version() { return loadU16(header2[0] + block::kVersionAt); }

unsigned char* BtreeImg::area(int index) {
  switch (version()) {
    case 4:
      return header4[index];
    case 3:
      return header3[index];
    default:
      return header2[index];
  }
}

unsigned int BtreeImg::lineCount() {
  switch (version()) {
    case 4:
      return loadU32(header4[0] + block::kDimY4At);
    case 3:
      return loadU16(header3[0] + block::kDimYAt);
    default:
      return loadU16(header2[0] + block::kDimYAt);
  }
}

ULONGLONG BtreeImg::blockPosition(int plane) {
  if (plane <= 1) return 0;
  const int v = version();
  if (v == 3 || v == 4) return loadU32(area(plane - 2) + block::kOffsetAt);
  return loadU32(header2[0] + block::kOffsetAt + 4 * (plane - 1));
}

void BtreeImg::recordBlockPosition(int plane, unsigned int position) {
  const int v = version();
  if (v == 3 || v == 4) {
    storeU32(area(plane - 2) + block::kOffsetAt, position);
  } else {
    storeU32(header2[0] + block::kOffsetAt + 4 * (plane - 1), position);
  }
}

unsigned char* BtreeImg::offsetSlot(int plane) {
  const int v = version();
  if (v == 3 || v == 4) return area(plane - 1) + block::kOffsetAt;
  return header2[0] + block::kOffsetAt + 4 * (plane - 1);
}

void BtreeImg::storeDimX(int plane, unsigned int value) {
  switch (version()) {
    case 4:
      storeU32(header4[plane - 1] + block::kDimXAt, value);
      break;
    case 3:
      storeU16(header3[plane - 1] + block::kDimXAt,
               static_cast<std::uint16_t>(value));
      break;
    default:
      storeU16(header2[plane - 1] +
                   (plane == 1 ? block::kDimXAt : block::kFurtherDimXAt),
               static_cast<std::uint16_t>(value));
  }
}

void BtreeImg::storeDimY(int plane, unsigned int value) {
  switch (version()) {
    case 4:
      storeU32(header4[plane - 1] + block::kDimY4At, value);
      break;
    case 3:
      storeU16(header3[plane - 1] + block::kDimYAt,
               static_cast<std::uint16_t>(value));
      break;
    default:
      storeU16(header2[plane - 1] +
                   (plane == 1 ? block::kDimYAt : block::kFurtherDimYAt),
               static_cast<std::uint16_t>(value));
  }
}

int BtreeImg::checkPlane(short plane) {
  if (plane < 1 || plane > planeCount_) {
    btreeimg::detail::throwInvalidArgument("plane number out of range");
  }
  return plane;
}

// ---- Header operations ---------------------------------------------------

short BtreeImg::Version() {
  return static_cast<short>(loadU16(header2[0] + block::kVersionAt));
}

int BtreeImg::dimHeader(short plane) {
  checkPlane(plane);
  return static_cast<int>(block::kSize);
}

unsigned char BtreeImg::GetRgbHeader(short index, short component, short) {
  if (index < 0 || index > 255 || component < 0 || component > 2) {
    btreeimg::detail::throwInvalidArgument("colour map entry out of range");
  }
  return area(0)[block::kMapAt + 3 * index + component];
}

ULONGLONG BtreeImg::GetPosition() { return memFile.GetPosition(); }

void BtreeImg::readHeader(void* header, short plane) {
  const int p = checkPlane(plane);
  std::memcpy(header, area(p - 1), block::kSize);
}

void BtreeImg::writeHeader(const void* header, short plane) {
  const int p = checkPlane(plane);
  unsigned char copy[block::kSize];  // `header` may be one of our own copies
  std::memcpy(copy, header, block::kSize);
  const ULONGLONG position = blockPosition(p);
  guarded("Errore seek start file", fileName,
          [&] { memFile.Seek(static_cast<LONGLONG>(position), CFile::begin); });
  std::memcpy(area(p - 1), copy, block::kSize);
  guarded("Errore write header file", fileName,
          [&] { memFile.Write(copy, block::kSize); });
  refreshRegionEnds();
}

void BtreeImg::readMap(void* map) {
  guarded("Errore seek map file", fileName,
          [&] { memFile.Seek(block::kMapAt, CFile::begin); });
  guarded("Errore read map file", fileName,
          [&] { memFile.Read(map, block::kMapSize); });
}

void BtreeImg::writeMap(const void* map) {
  guarded("Errore seek map file", fileName,
          [&] { memFile.Seek(block::kMapAt, CFile::begin); });
  guarded("Errore write map file", fileName,
          [&] { memFile.Write(map, block::kMapSize); });
}

void BtreeImg::writePack(short plane) {
  const int p = checkPlane(plane);
  const ULONGLONG remembered = memFile.GetPosition();
  memFile.Seek(static_cast<LONGLONG>(blockPosition(p) + block::kPackAt),
               CFile::begin);
  memFile.Write(area(p - 1) + block::kPackAt, 2);
  memFile.Seek(static_cast<LONGLONG>(remembered), CFile::begin);
}

void BtreeImg::writeDimensioni(short plane) {
  const int p = checkPlane(plane);
  const int v = version();
  const bool wide = v == 4;
  const bool furtherV2 = v != 3 && v != 4 && p >= 2;
  const std::size_t dimxAt = furtherV2 ? block::kFurtherDimXAt : block::kDimXAt;
  const std::size_t dimyAt = wide        ? block::kDimY4At
                             : furtherV2 ? block::kFurtherDimYAt
                                         : block::kDimYAt;
  const UINT width = wide ? 4 : 2;
  const unsigned char* fields = area(p - 1);
  const ULONGLONG base = blockPosition(p);
  const ULONGLONG remembered = memFile.GetPosition();
  guarded("Errore seek dimX file", fileName, [&] {
    memFile.Seek(static_cast<LONGLONG>(base + dimxAt), CFile::begin);
  });
  guarded("Errore write dimx file", fileName,
          [&] { memFile.Write(fields + dimxAt, width); });
  guarded("Errore seek dimY file", fileName, [&] {
    memFile.Seek(static_cast<LONGLONG>(base + dimyAt), CFile::begin);
  });
  guarded("Errore write dimy file", fileName,
          [&] { memFile.Write(fields + dimyAt, width); });
  memFile.Seek(static_cast<LONGLONG>(remembered), CFile::begin);
}

void BtreeImg::writeParametri(short plane) {
  writePack(plane);
  writeDimensioni(plane);
}

void BtreeImg::writeOffsetPiano(short plane, unsigned long offset) {
  if (plane == 0) return;
  const int p = checkPlane(plane);
  storeU32(offsetSlot(p), static_cast<std::uint32_t>(offset));
  if (piani[p - 1]) piani[p - 1]->SetData(static_cast<long>(offset));
  refreshRegionEnds();
}

void BtreeImg::writeFileOffsetPiano(short plane, unsigned long offset) {
  if (plane == 0) return;
  const int p = checkPlane(plane);
  storeU32(offsetSlot(p), static_cast<std::uint32_t>(offset));
  ULONGLONG remembered = 0;
  guarded("Errore seek start file", fileName, [&] {
    remembered = memFile.GetPosition();
    memFile.Seek(0, CFile::begin);
  });
  guarded("Errore write header file", fileName,
          [&] { memFile.Write(area(0), block::kSize); });
  guarded("Errore seek start file", fileName, [&] {
    memFile.Seek(static_cast<LONGLONG>(remembered), CFile::begin);
  });
  refreshRegionEnds();
}
