// Line and plane access: line numbers turned into storage line numbers, and
// the plane's dimensions, pack flags and line order.
#include <algorithm>
#include <cstring>

#include "framework/ByteOrder.h"
#include "framework/ThrowHelpers.h"
#include "image/BtreeImg.h"
#include "image/HeaderLayout.h"

namespace block = btreeimg::detail::block;
using btreeimg::detail::loadI16;
using btreeimg::detail::loadU16;
using btreeimg::detail::loadU32;
using btreeimg::detail::storeU16;
using btreeimg::detail::throwInvalidArgument;

unsigned int BtreeImg::storageLine(unsigned int line, bool reversible) {
  // REQUIRES: lineCount() > 0. Unsigned 32-bit arithmetic throughout, so a
  // reversed line number past the end wraps like any other.
  const unsigned int n = lineCount();
  const unsigned int index =
      reversible && orientamento == 2 ? n - line - 1 : line;
  return index == 0 ? 0 : index % n;
}

int BtreeImg::readStored(BtreeMod* storage, unsigned int stored,
                         unsigned char* out) {
  // Lines never written read as zero bytes: the code of a packed line never
  // written decodes to nothing, and a raw line may lie beyond the end of a
  // file saved only up to its last line written.
  const int bytes = storage->LineBytes();
  if (bytes > 0 && storage->mayLeaveBytes(static_cast<int>(stored))) {
    std::memset(out, 0, static_cast<std::size_t>(bytes));
  }
  return storage->lineAt(static_cast<int>(stored), out);
}

Mem* BtreeImg::at(unsigned int line, short plane) {
  const int p = checkPlane(plane);
  Mem* buffer = lineBuffer(p);
  if (lineCount() == 0) return buffer;
  const unsigned int stored = storageLine(line, true);
  lineaCorrente[p - 1] = stored;
  if (BtreeMod* storage = piani[p - 1]) {
    readStored(storage, stored, static_cast<unsigned char*>(buffer->pointer()));
  }
  return buffer;
}

Mem* BtreeImg::line(short plane) { return at(0, plane); }

int BtreeImg::at(unsigned int line, short plane, unsigned char* destination) {
  const int p = checkPlane(plane);
  if (lineCount() == 0) return 1;
  const unsigned int stored = storageLine(line, true);
  lineaCorrente[p - 1] = stored;
  BtreeMod* storage = piani[p - 1];
  if (storage == nullptr) return 1;
  // The caller's buffer holds dimx(plane) bytes. A storage that transfers
  // more (a version-2 plane narrower than plane 1) goes through the line
  // buffer, and only the plane's own length reaches the caller.
  const unsigned int wanted = dimx(plane);
  if (static_cast<unsigned int>(storage->LineBytes()) <= wanted) {
    readStored(storage, stored, destination);
  } else {
    Mem* buffer = lineBuffer(p);
    if (readStored(storage, stored,
                   static_cast<unsigned char*>(buffer->pointer())) == 1 &&
        wanted != 0) {  // a plane of empty lines may pass no buffer at all
      std::memcpy(destination, buffer->pointer(), wanted);
    }
  }
  return 1;
}

int BtreeImg::wLinea(char* data, int line, short plane) {
  const int p = checkPlane(plane);
  const unsigned int n = lineCount();
  if (n == 0) return 0;
  const unsigned int stored = static_cast<unsigned int>(line) % n;
  lineaCorrente[p - 1] = stored;
  BtreeMod* storage = piani[p - 1];
  if (storage == nullptr) return 0;
  return storage->writeAt(static_cast<int>(stored),
                          reinterpret_cast<unsigned char*>(data));
}

int BtreeImg::wPiano(CStringArray& lines, short plane) {
  const int p = checkPlane(plane);
  BtreeMod* storage = piani[p - 1];
  return storage ? storage->writeAllDati(lines) : 0;
}

unsigned int BtreeImg::dimx(short plane) {
  const int p = checkPlane(plane);
  switch (version()) {
    case 4:
      return loadU32(header4[0] + block::kDimXAt);
    case 3:
      return loadU16(header3[0] + block::kDimXAt);
    default:
      return p == 1 ? loadU16(header2[0] + block::kDimXAt)
                    : loadU16(header2[p - 1] + block::kFurtherDimXAt);
  }
}

unsigned int BtreeImg::dimy(short plane) {
  const int p = checkPlane(plane);
  switch (version()) {
    case 4:
      return loadU32(header4[0] + block::kDimY4At);
    case 3:
      return loadU16(header3[0] + block::kDimYAt);
    default:
      return p == 1 ? loadU16(header2[0] + block::kDimYAt)
                    : loadU16(header2[p - 1] + block::kFurtherDimYAt);
  }
}

short BtreeImg::nPiani() { return loadI16(header2[0] + block::kPlaneCountAt); }

int BtreeImg::isPacked(short) { return loadU16(header2[0] + block::kPackAt); }

void BtreeImg::SetPacked(short plane) {
  const int p = checkPlane(plane);
  storeU16(area(p - 1) + block::kPackAt, 1);
}

void BtreeImg::SetUnPacked(short plane) {
  const int p = checkPlane(plane);
  storeU16(area(p - 1) + block::kPackAt, 0);
}

void BtreeImg::SetDimX(int newDimX, short plane) {
  const int p = checkPlane(plane);
  if (newDimX < 0) throwInvalidArgument("negative line length");
  storeDimX(p, static_cast<unsigned int>(newDimX));
  if (piani[p - 1]) piani[p - 1]->SetSize(newDimX);
  // A line buffer always holds the plane's line length and whatever its
  // storage transfers; plane 1's length is every plane's in versions 3 and 4.
  // The buffer objects stay the same, so a Mem* the caller holds stays valid.
  for (int q = 1; q <= planeCount_; ++q) {
    Mem* buffer = linee[q - 1];
    const unsigned int wanted = lineBufferSize(q);
    if (buffer != nullptr && buffer->size() < wanted) {
      const unsigned int kept = buffer->size();
      buffer->setCapacity(wanted);
      std::memset(buffer->asCharArray() + kept, 0, wanted - kept);
    }
  }
}

void BtreeImg::SetDimY(int newDimY, short plane) {
  const int p = checkPlane(plane);
  if (newDimY < 0) throwInvalidArgument("negative line count");
  const ULONGLONG span = ULONGLONG{dimx(1)} * static_cast<ULONGLONG>(newDimY) +
                         block::kSize;
  if ((planeCount_ - 1) * span > UINT32_MAX) {
    throwInvalidArgument("planes too large for the file's 32-bit positions");
  }
  storeDimY(p, static_cast<unsigned int>(newDimY));
  // The planes behind this one, laid out again back to back as raw planes.
  for (int k = p + 1; k <= planeCount_; ++k) {
    recordBlockPosition(k, static_cast<unsigned int>((k - 1) * span));
  }
  if (piani[p - 1]) {
    piani[p - 1]->SetData(static_cast<long>(blockPosition(p) + block::kSize));
  }
  writeHeader(area(p - 1), plane);
}

void BtreeImg::SetBassoAltoSinistraDestra() { orientamento = 2; }
