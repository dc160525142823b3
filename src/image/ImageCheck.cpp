// Structural verification of an image file's bytes.
#include "image/ImageCheck.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <new>
#include <vector>

#include "framework/ByteOrder.h"
#include "framework/CFile.h"
#include "framework/Exceptions.h"
#include "framework/ThrowHelpers.h"
#include "image/HeaderLayout.h"

namespace block = btreeimg::detail::block;
using btreeimg::detail::loadI16;
using btreeimg::detail::loadU16;
using btreeimg::detail::loadU32;

namespace {

using ull = unsigned long long;

// Damaged lines of one plane named one by one; the rest are only counted.
constexpr unsigned kLineReports = 8;

// What a walk over run pairs found: the bytes they decode to, pairs of count
// 0 (which decode to nothing) and whether a lone byte is left at the end.
struct RunWalk {
  ull decoded = 0;
  ull zeroCounts = 0;
  bool loneByte = false;
};

// Walks the run pairs in [in, in + length) without expanding them.
RunWalk walkRuns(const unsigned char* in, ull length) {
  RunWalk walk;
  const unsigned char* end = in + (length & ~1ull);
  for (; in != end; in += 2) {
    walk.decoded += in[0];
    if (in[0] == 0) ++walk.zeroCounts;
  }
  walk.loneByte = (length & 1) != 0;
  return walk;
}

// Counts the damaged lines of one plane and says whether the next one is
// still to be named.
class LineReports {
 public:
  bool nameNext() { return ++count_ <= kLineReports; }
  ull unnamed() const { return count_ > kLineReports ? count_ - kLineReports : 0; }

 private:
  ull count_ = 0;
};

}  // namespace

ImageCheck::ImageCheck() { reset(); }

void ImageCheck::reset() {
  verdict_ = unusable;
  version_ = 0;
  planeCount_ = 0;
  dimx1_ = 0;
  dimy1_ = 0;
  for (PlaneLayout& plane : planes_) plane = PlaneLayout{};
  problems_.RemoveAll();
}

const ImageCheck::PlaneLayout& ImageCheck::Plane(int plane) const {
  if (plane < 1 || plane > planeCount_) {
    btreeimg::detail::throwInvalidArgument("plane outside the inspected image");
  }
  return planes_[plane - 1];
}

CString ImageCheck::Summary() const {
  const int count = problems_.GetSize();
  if (count == 0) return verdict_ == sound ? CString() : CString("not an image file");
  CString text = problems_.GetAt(0);
  if (count > 1) {
    char more[64];
    std::snprintf(more, sizeof more, " (and %d more problem%s)", count - 1,
                  count == 2 ? "" : "s");
    text += more;
  }
  return text;
}

void ImageCheck::report(int plane, const char* format, ...) {
  char text[320];
  int used = 0;
  if (plane > 0) used = std::snprintf(text, sizeof text, "plane %d: ", plane);
  va_list args;
  va_start(args, format);
  std::vsnprintf(text + used, sizeof text - static_cast<std::size_t>(used),
                 format, args);
  va_end(args);
  problems_.Add(text);
  if (verdict_ == sound) verdict_ = damaged;
}

// ---- Reading a file ---------------------------------------------------------

int ImageCheck::InspectFile(const char* path) {
  reset();
  CFile file;
  CFileException error;
  if (!file.Open(path, CFile::modeRead | CFile::typeBinary, &error)) {
    char cause[200];
    error.m_strFileName.Empty();
    error.GetErrorMessage(cause, sizeof cause);
    report(0, "cannot be opened: %s", cause);
    return verdict_;
  }
  std::vector<unsigned char> bytes;
  try {
    const ULONGLONG length = file.GetLength();
    if (length > UINT32_MAX) {
      report(0, "file is %llu bytes, larger than 4 GiB", ull{length});
      return verdict_;
    }
    bytes.resize(static_cast<std::size_t>(length));
    if (length != 0 &&
        file.Read(bytes.data(), static_cast<UINT>(length)) != length) {
      report(0, "cannot be read: the file ended early");
      return verdict_;
    }
  } catch (CException* e) {
    char cause[200];
    if (auto* fileError = dynamic_cast<CFileException*>(e)) {
      fileError->m_strFileName.Empty();
    }
    e->GetErrorMessage(cause, sizeof cause);
    e->Delete();
    report(0, "cannot be read: %s", cause);
    return verdict_;
  } catch (const std::bad_alloc&) {
    report(0, "cannot be read: not enough memory");
    return verdict_;
  }
  return Inspect(bytes.data(), bytes.size());
}

// ---- The inspection -----------------------------------------------------------

int ImageCheck::Inspect(const unsigned char* data, ULONGLONG size) {
  reset();
  if (data == nullptr) size = 0;
  if (!readHeaders(data, size)) return verdict_;
  locatePlanes(data, size);
  checkBlocks();
  for (int p = 1; p <= planeCount_; ++p) {
    if (planes_[p - 1].located) checkRegion(p, data, size);
  }
  return verdict_;
}

bool ImageCheck::readHeaders(const unsigned char* data, ULONGLONG size) {
  if (size > UINT32_MAX) {
    report(0, "file is %llu bytes, larger than 4 GiB", ull{size});
    return false;
  }
  if (size < block::kSize) {
    report(0, "file is %llu bytes, shorter than one %zu-byte header block",
           ull{size}, block::kSize);
    return false;
  }
  version_ = loadU16(data + block::kVersionAt);
  if (version_ < 2 || version_ > 4) {
    report(0, "unknown version %d (2, 3 or 4 expected)", version_);
    return false;
  }
  const int count = loadI16(data + block::kPlaneCountAt);
  if (count > block::kMaxPlanes) {
    report(0, "plane count %d is above %d", count, block::kMaxPlanes);
    return false;
  }
  verdict_ = sound;
  planeCount_ = count;
  if (count < 1) {
    report(0, "plane count %d is below 1; read as one plane", count);
    planeCount_ = 1;
  }
  const bool wide = version_ == 4;
  dimx1_ = wide ? loadU32(data + block::kDimXAt) : loadU16(data + block::kDimXAt);
  dimy1_ = wide ? loadU32(data + block::kDimY4At) : loadU16(data + block::kDimYAt);
  return true;
}

void ImageCheck::locatePlanes(const unsigned char* data, ULONGLONG size) {
  // Plane 1's block is the first block; its region starts behind it, in
  // version 2 behind the table's entry 0 (0 in every file written).
  PlaneLayout& first = planes_[0];
  first.located = true;
  first.pack = loadU16(data + block::kPackAt);
  first.dimx = dimx1_;
  first.dimy = dimy1_;
  first.regionStart =
      (version_ == 2 ? loadU32(data + block::kOffsetAt) : 0) + ULONGLONG{block::kSize};

  for (int p = 2; p <= planeCount_; ++p) {
    PlaneLayout& plane = planes_[p - 1];
    // Version 2 keeps every block position in the first block's table;
    // versions 3 and 4 chain them, each block naming the next one's.
    if (version_ == 2) {
      plane.blockPosition = loadU32(data + block::kOffsetAt + 4 * (p - 1));
    } else if (planes_[p - 2].located) {
      plane.blockPosition =
          loadU32(data + planes_[p - 2].blockPosition + block::kOffsetAt);
    } else {
      report(p, "cannot be located: plane %d's header block is not in the file",
             p - 1);
      continue;
    }
    if (plane.blockPosition + block::kSize > size) {
      report(p, "header block at %llu lies outside the file (%llu bytes)",
             ull{plane.blockPosition}, ull{size});
      continue;
    }
    const unsigned char* fields = data + plane.blockPosition;
    plane.located = true;
    plane.pack = loadU16(fields + block::kPackAt);
    if (version_ == 2) {
      plane.dimx = loadU16(fields + block::kFurtherDimXAt);
      plane.dimy = loadU16(fields + block::kFurtherDimYAt);
    } else if (version_ == 3) {
      plane.dimx = loadU16(fields + block::kDimXAt);
      plane.dimy = loadU16(fields + block::kDimYAt);
    } else {
      plane.dimx = loadU32(fields + block::kDimXAt);
      plane.dimy = loadU32(fields + block::kDimY4At);
    }
    plane.regionStart = plane.blockPosition + block::kSize;
  }
}

void ImageCheck::checkBlocks() {
  for (int p = 1; p <= planeCount_; ++p) {
    const PlaneLayout& plane = planes_[p - 1];
    if (!plane.located) continue;
    for (int q = 1; q < p; ++q) {
      const PlaneLayout& other = planes_[q - 1];
      const ULONGLONG a = plane.blockPosition;
      const ULONGLONG b = other.blockPosition;
      if (other.located && (a > b ? a - b : b - a) < block::kSize) {
        report(p, "header block at %llu overlaps plane %d's header block at %llu",
               ull{a}, q, ull{b});
      }
    }
    if (p > 1 && (plane.dimx != dimx1_ || plane.dimy != dimy1_)) {
      report(p, "its block states %u x %u, plane 1's %u x %u; the plane is "
             "read with plane 1's dimensions",
             plane.dimx, plane.dimy, dimx1_, dimy1_);
    }
    if (plane.pack < 0 || plane.pack > 2) {
      report(p, "encoding %d is not 0 (raw), 1 (packed) or 2 (whole-plane "
             "packed)", plane.pack);
    }
  }
}

ULONGLONG ImageCheck::regionLimit(int plane, ULONGLONG size, int* blocker) const {
  const ULONGLONG start = planes_[plane - 1].regionStart;
  ULONGLONG limit = size;
  *blocker = 0;
  for (int q = 1; q <= planeCount_; ++q) {
    const PlaneLayout& other = planes_[q - 1];
    if (q == plane || !other.located) continue;
    if (other.blockPosition + block::kSize > start && other.blockPosition < limit) {
      limit = other.blockPosition;
      *blocker = q;
    }
  }
  return limit;
}

void ImageCheck::checkRegion(int p, const unsigned char* data, ULONGLONG size) {
  PlaneLayout& plane = planes_[p - 1];
  int blocker = 0;
  const ULONGLONG limit = regionLimit(p, size, &blocker);
  plane.regionRoom = limit > plane.regionStart ? limit - plane.regionStart : 0;
  char limitText[96];
  if (blocker == 0) {
    std::snprintf(limitText, sizeof limitText,
                  "runs past the end of the file (%llu bytes)", ull{size});
  } else {
    std::snprintf(limitText, sizeof limitText,
                  "runs into plane %d's header block at %llu", blocker,
                  ull{planes_[blocker - 1].blockPosition});
  }
  switch (plane.pack) {
    case 0:
      plane.regionSize = ULONGLONG{dimx1_} * dimy1_;
      if (plane.regionSize > plane.regionRoom) {
        report(p, "raw region of %llu bytes at %llu %s", ull{plane.regionSize},
               ull{plane.regionStart}, limitText);
      }
      break;
    case 1:
      checkPacked(p, data, limitText);
      break;
    case 2:
      checkWholePlane(p, data, limitText);
      break;
    default:
      break;  // reported with the block; nothing reads such a plane
  }
}

void ImageCheck::checkPacked(int p, const unsigned char* data,
                             const char* limitText) {
  // Step 1: the line offset table, dimy + 1 entries, must fit the region.
  PlaneLayout& plane = planes_[p - 1];
  const ULONGLONG lines = dimy1_;
  const ULONGLONG tableBytes = 4 * (lines + 1);
  plane.regionSize = tableBytes;
  if (tableBytes > plane.regionRoom) {
    report(p, "line offset table of %llu bytes at %llu %s", ull{tableBytes},
           ull{plane.regionStart}, limitText);
    return;
  }
  const unsigned char* table = data + plane.regionStart;
  const unsigned char* code = table + tableBytes;
  const ULONGLONG codeRoom = plane.regionRoom - tableBytes;
  const std::uint32_t last = loadU32(table + 4 * lines);
  plane.regionSize += last;
  if (loadU32(table) != 0) {
    report(p, "line offset table entry 0 is %u, not 0", loadU32(table));
  }
  if (last > codeRoom) {
    report(p, "line code of %u bytes at %llu %s", last,
           ull{plane.regionStart + tableBytes}, limitText);
  }

  // Step 2: every line's entries, then its pairs. A line is decoded only
  // when its code lies behind all code decoded so far, so the walk reads
  // each byte at most once however the entries are damaged.
  LineReports reports;
  ull decodedUpTo = 0;
  for (ULONGLONG i = 0; i < lines; ++i) {
    const std::uint32_t begin = loadU32(table + 4 * i);
    const std::uint32_t end = loadU32(table + 4 * (i + 1));
    if (end < begin) {
      if (reports.nameNext()) {
        report(p, "line offset table decreases at entry %llu (%u after %u)",
               ull{i + 1}, end, begin);
      }
      continue;
    }
    if (end > codeRoom) {
      if (last <= codeRoom && reports.nameNext()) {
        report(p, "line %llu: its code ends at %u, behind the region's %llu "
               "bytes of code", ull{i}, end, ull{codeRoom});
      }
      continue;
    }
    if (begin < decodedUpTo) continue;  // overlaps a line already decoded
    decodedUpTo = end;
    const RunWalk walk = walkRuns(code + begin, end - begin);
    if (walk.decoded == dimx1_ && walk.zeroCounts == 0 && !walk.loneByte) {
      continue;
    }
    if (!reports.nameNext()) continue;
    if (walk.decoded != dimx1_) {
      report(p, "line %llu decodes to %llu bytes, not %u", ull{i}, walk.decoded,
             dimx1_);
    } else if (walk.loneByte) {
      report(p, "line %llu: its code of %u bytes ends in half a run pair",
             ull{i}, end - begin);
    } else {
      report(p, "line %llu: its code holds %llu run pair(s) of count 0", ull{i},
             walk.zeroCounts);
    }
  }
  if (reports.unnamed() != 0) {
    report(p, "%llu more damaged lines", reports.unnamed());
  }
}

void ImageCheck::checkWholePlane(int p, const unsigned char* data,
                                 const char* limitText) {
  // Step 1: the head, decoded and coded sizes.
  PlaneLayout& plane = planes_[p - 1];
  plane.regionSize = 8;
  if (plane.regionRoom < 8) {
    report(p, "whole-plane stream head of 8 bytes at %llu %s",
           ull{plane.regionStart}, limitText);
    return;
  }
  const unsigned char* head = data + plane.regionStart;
  const std::uint32_t unpacked = loadU32(head);
  const std::uint32_t packed = loadU32(head + 4);
  const ull planeBytes = ull{dimx1_} * dimy1_;
  plane.regionSize += packed;
  if (unpacked != planeBytes) {
    report(p, "whole-plane stream states %u decoded bytes, the plane has %llu",
           unpacked, planeBytes);
  }
  if (packed > plane.regionRoom - 8) {
    report(p, "whole-plane stream of %u bytes at %llu %s", packed,
           ull{plane.regionStart + 8}, limitText);
    return;
  }

  // Step 2: the pairs must cover the plane exactly.
  const RunWalk walk = walkRuns(head + 8, packed);
  if (walk.decoded != planeBytes) {
    report(p, "whole-plane stream decodes to %llu bytes, the plane has %llu",
           walk.decoded, planeBytes);
  }
  if (walk.loneByte) {
    report(p, "whole-plane stream of %u bytes ends in half a run pair", packed);
  }
  if (walk.zeroCounts != 0) {
    report(p, "whole-plane stream holds %llu run pair(s) of count 0",
           walk.zeroCounts);
  }
}
