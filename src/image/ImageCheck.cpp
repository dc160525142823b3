// Structural verification of an image file's bytes.
#include "image/ImageCheck.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "framework/ByteOrder.h"
#include "framework/CFile.h"
#include "framework/Exceptions.h"
#include "framework/ReadFully.h"
#include "framework/ThrowHelpers.h"
#include "image/HeaderLayout.h"
#include "image/LineFaults.h"

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

namespace btreeimg::detail {

std::string packedEntriesFault(ULONGLONG line, std::uint32_t begin,
                               std::uint32_t end, ULONGLONG codeRoom) {
  char text[160] = "";
  if (end < begin) {
    std::snprintf(text, sizeof text,
                  "line offset table decreases at entry %llu (%u after %u)",
                  ull{line + 1}, end, begin);
  } else if (end > codeRoom) {
    std::snprintf(text, sizeof text,
                  "line %llu: its code ends at %u, behind the region's %llu "
                  "bytes of code",
                  ull{line}, end, ull{codeRoom});
  }
  return text;
}

std::string packedCodeFault(ULONGLONG line, const unsigned char* code,
                            ULONGLONG length, unsigned int width) {
  const RunWalk walk = walkRuns(code, length);
  char text[160] = "";
  if (walk.decoded != width) {
    std::snprintf(text, sizeof text, "line %llu decodes to %llu bytes, not %u",
                  ull{line}, walk.decoded, width);
  } else if (walk.loneByte) {
    std::snprintf(text, sizeof text,
                  "line %llu: its code of %llu bytes ends in half a run pair",
                  ull{line}, ull{length});
  } else if (walk.zeroCounts != 0) {
    std::snprintf(text, sizeof text,
                  "line %llu: its code holds %llu run pair(s) of count 0",
                  ull{line}, walk.zeroCounts);
  }
  return text;
}

}  // namespace btreeimg::detail

// Where an inspection reads the file's bytes: a block of memory, or an open
// descriptor read with pread (its position is neither used nor moved). Each
// view lives in its own slot until that slot is viewed again.
class ImageCheck::Source {
 public:
  Source(const unsigned char* data, int descriptor, ULONGLONG size)
      : data_(data), descriptor_(descriptor), size_(size) {}
  ULONGLONG size() const { return size_; }
  // The `n` bytes at `at`, which lie inside the file; null when they can no
  // longer be read (the file was cut short meanwhile).
  const unsigned char* view(int slot, ULONGLONG at, ULONGLONG n) {
    if (at > size_ || n > size_ - at) return nullptr;
    if (data_ != nullptr || n == 0) return data_ ? data_ + at : empty_;
    std::vector<unsigned char>& buffer = scratch_[slot];
    buffer.resize(static_cast<std::size_t>(n));
    return btreeimg::detail::readFully(descriptor_, buffer.data(), n, at) == n
               ? buffer.data()
               : nullptr;
  }

 private:
  const unsigned char* data_;
  int descriptor_;
  ULONGLONG size_;
  std::vector<unsigned char> scratch_[2];
  unsigned char empty_[1] = {};
};

ImageCheck::ImageCheck() { reset(); }

void ImageCheck::reset() {
  verdict_ = unusable;
  cutShort_ = false;
  version_ = 0;
  planeCount_ = 0;
  dimx1_ = 0;
  dimy1_ = 0;
  for (PlaneLayout& plane : planes_) plane = PlaneLayout{};
  problems_.RemoveAll();
  problemPlanes_.clear();
  problemWeights_.clear();
  notes_.RemoveAll();
}

const ImageCheck::PlaneLayout& ImageCheck::Plane(int plane) const {
  if (plane < 1 || plane > planeCount_) {
    btreeimg::detail::throwInvalidArgument("plane outside the inspected image");
  }
  return planes_[plane - 1];
}

CString ImageCheck::Summary() const {
  if (problems_.GetSize() == 0) {
    return verdict_ == sound ? CString() : CString("not an image file");
  }
  return summaryOf(~0u);
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
  problemPlanes_.push_back(plane > 0 ? 1u << (plane - 1) : 0u);
  problemWeights_.push_back(1);
  if (verdict_ == sound) verdict_ = damaged;
}

void ImageCheck::alsoConcerns(int plane) {
  if (!problemPlanes_.empty() && problemPlanes_.back() != 0) {
    problemPlanes_.back() |= 1u << (plane - 1);
  }
}

bool ImageCheck::PlaneSound(int plane) const {
  // Asked for every line a reader serves: no text is made here.
  if (verdict_ == unusable || plane < 1 || plane > planeCount_) return false;
  const unsigned bit = 1u << (plane - 1);
  for (const unsigned concerns : problemPlanes_) {
    if (concerns == 0 || (concerns & bit) != 0) return false;
  }
  return true;
}

CString ImageCheck::PlaneSummary(int plane) const {
  if (verdict_ == unusable || plane < 1 || plane > planeCount_) return Summary();
  return summaryOf(1u << (plane - 1));
}

CString ImageCheck::summaryOf(unsigned planes) const {
  CString text;
  ull count = 0;
  for (int i = 0; i < problems_.GetSize(); ++i) {
    const unsigned concerns = problemPlanes_[static_cast<std::size_t>(i)];
    if (concerns != 0 && (concerns & planes) == 0) continue;
    if (count == 0) text = problems_.GetAt(i);
    count += problemWeights_[static_cast<std::size_t>(i)];
  }
  if (count > 1) {
    char more[64];
    std::snprintf(more, sizeof more, " (and %llu more problem%s)", count - 1,
                  count == 2 ? "" : "s");
    text += more;
  }
  return text;
}

void ImageCheck::note(int plane, const char* text) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "plane %d: ", plane);
  notes_.Add(CString(prefix) + text);
}

namespace {

// The lines [first, last] in words: "line 4" or "lines 2-4".
std::string lineRange(ull first, ull last) {
  char text[64];
  if (first == last) {
    std::snprintf(text, sizeof text, "line %llu", first);
  } else {
    std::snprintf(text, sizeof text, "lines %llu-%llu", first, last);
  }
  return text;
}

// The note on lines never written, from their ranges: "lines 2-4 were
// never written; they read as zeros" (the first few ranges named).
std::string neverWritten(const std::vector<std::pair<ull, ull>>& ranges) {
  constexpr std::size_t kNamed = 8;
  std::string text;
  ull lines = 0;
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    lines += ranges[i].second - ranges[i].first + 1;
    if (i < kNamed) {
      if (i != 0) text += ", ";
      text += lineRange(ranges[i].first, ranges[i].second);
    }
  }
  if (ranges.size() > kNamed) {
    text += " and " + std::to_string(ranges.size() - kNamed) + " more ranges";
  }
  text += lines == 1 ? " was never written; it reads as zeros"
                     : " were never written; they read as zeros";
  return text;
}

}  // namespace

// ---- Reading a file ---------------------------------------------------------

int ImageCheck::InspectFile(const char* path) {
  reset();
  // Opened without waiting for a writer, so that a FIFO is refused (by the
  // inspection of the descriptor) instead of blocking.
  int descriptor = -1;
  do {
    descriptor = ::open(path ? path : "", O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  } while (descriptor < 0 && errno == EINTR);
  struct stat info {};
  if (descriptor >= 0 && ::fstat(descriptor, &info) == 0 && S_ISDIR(info.st_mode)) {
    ::close(descriptor);
    descriptor = -1;
    errno = EISDIR;
  }
  if (descriptor < 0) {
    const CFileException error(CFileException::OsErrorToException(errno), errno);
    report(0, "cannot be opened: %s", static_cast<const char*>(btreeimg::describe(&error)));
    return verdict_;
  }
  InspectDescriptor(descriptor, false);
  ::close(descriptor);
  return verdict_;
}

// ---- The inspection -----------------------------------------------------------

int ImageCheck::Inspect(const unsigned char* data, ULONGLONG size,
                        bool layoutOnly) {
  static const unsigned char kEmpty[1] = {};
  Source source(data ? data : kEmpty, -1, data ? size : 0);
  return inspect(source, layoutOnly);
}

int ImageCheck::InspectDescriptor(int descriptor, bool layoutOnly) {
  reset();
  struct stat info {};
  if (::fstat(descriptor, &info) != 0) {
    report(0, "cannot be read: %s", std::strerror(errno));
    return verdict_;
  }
  if (!S_ISREG(info.st_mode)) {
    report(0, "cannot be read: not a regular file");
    return verdict_;
  }
  // A descriptor open for writing only, or only as a path, reads nothing:
  // that is no file cut short.
  const int flags = ::fcntl(descriptor, F_GETFL);
  if (flags < 0 || (flags & O_ACCMODE) == O_WRONLY || (flags & O_PATH) != 0) {
    report(0, "cannot be read: %s", std::strerror(flags < 0 ? errno : EBADF));
    return verdict_;
  }
  Source source(nullptr, descriptor, static_cast<ULONGLONG>(info.st_size));
  return inspect(source, layoutOnly);
}

int ImageCheck::inspect(Source& source, bool layoutOnly) {
  reset();
  source_ = &source;
  layoutOnly_ = layoutOnly;
  if (readHeaders()) {
    locatePlanes();
    checkBlocks();
    for (int p = 1; p <= planeCount_; ++p) {
      if (planes_[p - 1].located) checkRegion(p);
    }
    checkRegionOverlaps();
  }
  source_ = nullptr;
  return verdict_;
}

// Bytes of the file for the inspection in progress; a file cut short while
// it is inspected is reported once and reads as nothing from then on.
const unsigned char* ImageCheck::view(int slot, ULONGLONG at, ULONGLONG n) {
  const unsigned char* bytes = source_->view(slot, at, n);
  if (bytes == nullptr && !cutShort_) {
    cutShort_ = true;
    report(0, "cannot be read: the file was cut short while it was read");
  }
  return bytes;
}

bool ImageCheck::readHeaders() {
  const ULONGLONG size = source_->size();
  if (size > UINT32_MAX) {
    report(0, "file is %llu bytes, larger than 4 GiB", ull{size});
    return false;
  }
  if (size < block::kSize) {
    report(0, "file is %llu bytes, shorter than one %zu-byte header block",
           ull{size}, block::kSize);
    return false;
  }
  const unsigned char* data = view(0, 0, block::kSize);
  if (data == nullptr) return false;
  std::memcpy(first_, data, block::kSize);
  data = first_;
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

void ImageCheck::locatePlanes() {
  const unsigned char* data = first_;
  const ULONGLONG size = source_->size();
  // Plane 1's block is the first block; its region starts behind it, in
  // version 2 behind the table's entry 0 (0 in every file written).
  PlaneLayout& first = planes_[0];
  first.located = true;
  first.pack = loadU16(data + block::kPackAt);
  first.dimx = dimx1_;
  first.dimy = dimy1_;
  first.regionStart =
      (version_ == 2 ? loadU32(data + block::kOffsetAt) : 0) + ULONGLONG{block::kSize};
  nextBlock_[0] = loadU32(data + block::kOffsetAt);

  for (int p = 2; p <= planeCount_; ++p) {
    PlaneLayout& plane = planes_[p - 1];
    // Version 2 keeps every block position in the first block's table;
    // versions 3 and 4 chain them, each block naming the next one's.
    if (version_ == 2) {
      plane.blockPosition = loadU32(data + block::kOffsetAt + 4 * (p - 1));
    } else if (planes_[p - 2].located) {
      plane.blockPosition = nextBlock_[p - 2];
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
    const unsigned char* fields = view(0, plane.blockPosition, block::kSize);
    if (fields == nullptr) continue;
    plane.located = true;
    nextBlock_[p - 1] = loadU32(fields + block::kOffsetAt);
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
        alsoConcerns(q);
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

void ImageCheck::checkRegion(int p) {
  const ULONGLONG size = source_->size();
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
      if (plane.regionSize > plane.regionRoom && blocker == 0 &&
          plane.regionRoom % dimx1_ == 0) {
        // Saved before its last lines were written: the file ends at a
        // line's start, and the lines behind read as zeros.
        const ull written = plane.regionRoom / dimx1_;
        note(p, neverWritten({{written, ull{dimy1_} - 1}}).c_str());
      } else if (plane.regionSize > plane.regionRoom) {
        report(p, "raw region of %llu bytes at %llu %s", ull{plane.regionSize},
               ull{plane.regionStart}, limitText);
      }
      break;
    case 1:
      checkPacked(p, limitText);
      break;
    case 2:
      checkWholePlane(p, limitText);
      break;
    default:
      break;  // reported with the block; nothing reads such a plane
  }
}

void ImageCheck::checkRegionOverlaps() {
  // Only the part of each region that lies before its limit: what runs
  // past it was reported with the region.
  auto end = [](const PlaneLayout& plane) {
    return plane.regionStart + std::min(plane.regionSize, plane.regionRoom);
  };
  for (int p = 2; p <= planeCount_; ++p) {
    const PlaneLayout& plane = planes_[p - 1];
    if (!plane.located || end(plane) == plane.regionStart) continue;
    for (int q = 1; q < p; ++q) {
      const PlaneLayout& other = planes_[q - 1];
      if (!other.located || end(other) == other.regionStart) continue;
      if (plane.regionStart < end(other) && other.regionStart < end(plane)) {
        report(p, "region of %llu bytes at %llu overlaps plane %d's region of "
               "%llu bytes at %llu",
               ull{end(plane) - plane.regionStart}, ull{plane.regionStart}, q,
               ull{end(other) - other.regionStart}, ull{other.regionStart});
        alsoConcerns(q);
      }
    }
  }
}

void ImageCheck::checkPacked(int p, const char* limitText) {
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
  const ULONGLONG codeRoom = plane.regionRoom - tableBytes;
  const ULONGLONG codeStart = plane.regionStart + tableBytes;
  // Only the table's ends for the layout; the whole table for the lines.
  const unsigned char* table = nullptr;
  std::uint32_t first = 0;
  std::uint32_t last = 0;
  if (layoutOnly_) {
    const unsigned char* head = view(0, plane.regionStart, 4);
    const unsigned char* tail =
        head ? view(1, plane.regionStart + 4 * lines, 4) : nullptr;
    if (tail == nullptr) return;
    first = loadU32(head);
    last = loadU32(tail);
  } else {
    table = view(0, plane.regionStart, tableBytes);
    if (table == nullptr) return;
    first = loadU32(table);
    last = loadU32(table + 4 * lines);
  }
  plane.regionSize += last;
  if (first != 0) {
    report(p, "line offset table entry 0 is %u, not 0", first);
  }
  if (last > codeRoom) {
    report(p, "line code of %u bytes at %llu %s", last, ull{codeStart},
           limitText);
  }
  if (layoutOnly_) return;

  // Step 2: every line's entries, then its pairs. A line is decoded only
  // when its code lies behind all code decoded so far, so the walk reads
  // each byte at most once however the entries are damaged.
  LineReports reports;
  ull decodedUpTo = 0;
  std::vector<std::pair<ull, ull>> unwritten;
  for (ULONGLONG i = 0; i < lines; ++i) {
    const std::uint32_t begin = loadU32(table + 4 * i);
    const std::uint32_t end = loadU32(table + 4 * (i + 1));
    if (end == 0 && dimx1_ != 0) {
      // Never written: a written line's code ends above 0.
      if (!unwritten.empty() && unwritten.back().second + 1 == i) {
        unwritten.back().second = i;
      } else {
        unwritten.emplace_back(i, i);
      }
      continue;
    }
    const std::string entries =
        btreeimg::detail::packedEntriesFault(i, begin, end, codeRoom);
    if (!entries.empty()) {
      // Code past the region's end was reported for the whole table.
      if ((end < begin || last <= codeRoom) && reports.nameNext()) {
        report(p, "%s", entries.c_str());
      }
      continue;
    }
    if (begin < decodedUpTo) continue;  // overlaps a line already decoded
    decodedUpTo = end;
    const unsigned char* code = view(1, codeStart + begin, end - begin);
    if (code == nullptr) return;
    const std::string fault =
        btreeimg::detail::packedCodeFault(i, code, end - begin, dimx1_);
    if (!fault.empty() && reports.nameNext()) report(p, "%s", fault.c_str());
  }
  if (reports.unnamed() != 0) {
    report(p, "%llu more damaged lines", reports.unnamed());
    problemWeights_.back() += reports.unnamed() - 1;  // that text counts them all
  }
  if (!unwritten.empty()) note(p, neverWritten(unwritten).c_str());
}

void ImageCheck::checkWholePlane(int p, const char* limitText) {
  // Step 1: the head, decoded and coded sizes.
  PlaneLayout& plane = planes_[p - 1];
  plane.regionSize = 8;
  if (plane.regionRoom < 8) {
    report(p, "whole-plane stream head of 8 bytes at %llu %s",
           ull{plane.regionStart}, limitText);
    return;
  }
  const unsigned char* head = view(0, plane.regionStart, 8);
  if (head == nullptr) return;
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

  // Step 2: the pairs must cover the plane exactly. They are walked in
  // pieces, so that a descriptor's stream is never held whole.
  if (layoutOnly_) return;
  RunWalk walk;
  constexpr ULONGLONG kPiece = ULONGLONG{1} << 20;  // even: pairs stay whole
  for (ULONGLONG done = 0; done < packed;) {
    const ULONGLONG n = std::min<ULONGLONG>(kPiece, packed - done);
    const unsigned char* pairs = view(1, plane.regionStart + 8 + done, n);
    if (pairs == nullptr) return;
    const RunWalk piece = walkRuns(pairs, n);
    walk.decoded += piece.decoded;
    walk.zeroCounts += piece.zeroCounts;
    walk.loneByte = piece.loneByte;
    done += n;
  }
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
