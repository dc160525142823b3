// An image file read line by line, on demand.
#include "image/ImageReader.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "framework/ByteOrder.h"
#include "framework/Exceptions.h"
#include "framework/ReadFully.h"
#include "framework/ThrowHelpers.h"
#include "image/HeaderLayout.h"
#include "image/LineFaults.h"
#include "planestore/RunPairs.h"

namespace block = btreeimg::detail::block;
using btreeimg::detail::expandRuns;
using btreeimg::detail::loadU32;
using btreeimg::detail::throwFileError;
using btreeimg::detail::throwInvalidArgument;

namespace btreeimg {

namespace {

// Bytes a reader of a file reads at a time for small reads.
constexpr ULONGLONG kWindow = ULONGLONG{1} << 19;

// At most this many places in a whole-plane stream are noted; a plane of
// more lines notes every k-th line's place and decodes up to k - 1 lines
// more to reach a line.
constexpr std::size_t kMostMarks = std::size_t{1} << 20;

}  // namespace

// What the reader keeps of one plane once it has been read.
struct ImageReader::PlaneState {
  // Packed: the line offset table, read on the first line asked for.
  std::vector<std::uint32_t> table;
  bool tableRead = false;
  // Whole-plane packed: where every `step`-th stored row (rows are kept
  // bottom-up) starts in the stream: the pair's offset and how many bytes of
  // its run come before the row. Noted on the first line asked for.
  struct Mark {
    ULONGLONG pair;
    unsigned int into;
  };
  std::vector<Mark> marks;
  ULONGLONG step = 1;
  bool indexed = false;
  bool sound = true;  // false when the stream does not decode to the plane
};

ImageReader::ImageReader(const char* path, int policy) : name_(path) {
  descriptor_ = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (descriptor_ < 0) btreeimg::detail::throwOsError(errno, path);
  open(policy);
}

ImageReader::ImageReader(int descriptor, int policy) {
  descriptor_ = ::fcntl(descriptor, F_DUPFD_CLOEXEC, 0);
  if (descriptor_ < 0) btreeimg::detail::throwOsError(errno, "");
  open(policy);
}

ImageReader::ImageReader(const void* data, ULONGLONG size, int policy)
    : data_(static_cast<const unsigned char*>(data)), size_(data ? size : 0) {
  open(policy);
}

ImageReader::~ImageReader() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

void ImageReader::open(int policy) {
  policy_ = policy;
  try {
    if (descriptor_ >= 0) {
      // A descriptor open for writing only, or only as a path, reads
      // nothing (the system's EBADF, not a damaged file).
      const int flags = ::fcntl(descriptor_, F_GETFL);
      if (flags < 0 || (flags & O_ACCMODE) == O_WRONLY || (flags & O_PATH) != 0) {
        btreeimg::detail::throwOsError(flags < 0 ? errno : EBADF, name_);
      }
      struct stat info {};
      if (::fstat(descriptor_, &info) != 0) {
        btreeimg::detail::throwOsError(errno, name_);
      }
      if (!S_ISREG(info.st_mode)) {
        throwFileError(CFileException::accessDenied, name_, -1,
                       "not a regular file");
      }
      size_ = static_cast<ULONGLONG>(info.st_size);
      check_.InspectDescriptor(descriptor_, true);
    } else {
      check_.Inspect(data_, size_, true);
    }
    // Strict: a damaged file is refused when no plane of it is sound; a
    // damaged plane of one that has a sound plane is refused when read.
    const int verdict = check_.GetVerdict();
    bool anySound = false;
    for (int p = 1; p <= check_.PlaneCount(); ++p) anySound = anySound || check_.PlaneSound(p);
    if (verdict == ImageCheck::unusable ||
        (verdict == ImageCheck::damaged && policy_ == strict && !anySound)) {
      refuse(check_.Summary(), CFileException::invalidFile);
    }
    const ImageCheck::PlaneLayout& first = check_.Plane(1);
    width_ = first.dimx;
    height_ = first.dimy;
    unsigned char head[block::kMapAt + block::kMapSize] = {};
    read(0, head, sizeof head);
    std::memcpy(map_, head + block::kMapAt, sizeof map_);
    for (int p = 0; p < check_.PlaneCount(); ++p) {
      planes_.push_back(std::make_unique<PlaneState>());
    }
  } catch (...) {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = -1;
    throw;
  }
}

void ImageReader::refuse(const CString& problem, int cause) {
  throwFileError(cause, name_, -1, problem);
}

void ImageReader::refuseLine(int plane, const std::string& fault) {
  char prefix[32];
  std::snprintf(prefix, sizeof prefix, "plane %d: ", plane);
  refuse((prefix + fault).c_str(), CFileException::invalidFile);
}

int ImageReader::encoding(int plane) const {
  return check_.Plane(plane).pack;
}

void ImageReader::colourMap(unsigned char* map) const {
  std::memcpy(map, map_, sizeof map_);
}

void ImageReader::firstBlock(unsigned char* out) {
  if (read(0, out, block::kSize) != block::kSize) {
    refuse("the first header block is no longer there", CFileException::endOfFile);
  }
}

ULONGLONG ImageReader::planeCost() const {
  return std::max({ULONGLONG{width_} * height_, ULONGLONG{height_},
                   ULONGLONG{width_}});
}

CString ImageReader::limitProblem(ULONGLONG limit) const {
  if (planeCost() <= limit) return CString();
  char text[200];
  std::snprintf(text, sizeof text,
                "the image states %u x %u pixels, more than the limit of %llu",
                width_, height_, static_cast<unsigned long long>(limit));
  return CString(text);
}

CString ImageReader::capacityProblem() const {
  const ULONGLONG most =
      size_ > ~ULONGLONG{0} / kMostPixelsPerByte ? ~ULONGLONG{0} : size_ * kMostPixelsPerByte;
  if (planeCost() <= most) return CString();
  char text[240];
  std::snprintf(text, sizeof text,
                "the image states %u x %u pixels, more than its %llu bytes can "
                "hold (at most %llu pixels a byte)",
                width_, height_, static_cast<unsigned long long>(size_),
                static_cast<unsigned long long>(kMostPixelsPerByte));
  return CString(text);
}

ImageReader::PlaneState& ImageReader::plane(int number) {
  if (number < 1 || number > static_cast<int>(planes_.size())) {
    throwInvalidArgument("plane outside the image");
  }
  return *planes_[static_cast<std::size_t>(number - 1)];
}

ULONGLONG ImageReader::read(ULONGLONG at, unsigned char* out, ULONGLONG n) {
  ULONGLONG got = 0;
  const unsigned char* bytes = view(at, n, &got);
  if (got != 0 && bytes != out) std::memcpy(out, bytes, static_cast<std::size_t>(got));
  return got;
}

const unsigned char* ImageReader::view(ULONGLONG at, ULONGLONG n,
                                       ULONGLONG* got) {
  if (descriptor_ < 0) {
    *got = at >= size_ ? 0 : std::min(n, size_ - at);
    return data_ + std::min(at, size_);
  }
  if (at >= size_ && policy_ == lenient) {
    // Past the end the file had at open: nothing to read there, and a
    // lenient read of a plane the file lacks asks for it line after line.
    static const unsigned char kNothing[1] = {};
    *got = 0;
    return kNothing;
  }
  // Reads from a file go through a window of kWindow bytes, so that lines
  // read in order cost one pread a window, not one each. Larger reads go
  // straight to a buffer of their own.
  if (n > kWindow) {
    scratch_.resize(static_cast<std::size_t>(n));
    *got = btreeimg::detail::readFully(descriptor_, scratch_.data(), n, at);
    return scratch_.data();
  }
  if (at < windowStart_ || at + n > windowStart_ + windowLength_) {
    // A read just before the window is part of a walk backwards (the lines
    // of a whole-plane stream, stored bottom-up, read top to bottom): the
    // new window then ends where the request ends. Otherwise it starts
    // where the request starts.
    const bool backwards = at < windowStart_ && at + n + kWindow > windowStart_;
    windowStart_ = backwards && at + n > kWindow ? at + n - kWindow : backwards ? 0 : at;
    window_.resize(kWindow);
    windowLength_ =
        btreeimg::detail::readFully(descriptor_, window_.data(), kWindow, windowStart_);
  }
  const ULONGLONG offset = at - windowStart_;
  *got = windowLength_ > offset ? std::min(n, windowLength_ - offset) : 0;
  return window_.data() + offset;
}

void ImageReader::requireSoundPlane(int number) {
  if (policy_ == strict && !check_.PlaneSound(number)) {
    refuse(check_.PlaneSummary(number), CFileException::invalidFile);
  }
}

std::size_t ImageReader::readLine(int number, unsigned int line,
                                  unsigned char* out) {
  PlaneState& state = plane(number);
  if (line >= height_) throwInvalidArgument("line outside the plane");
  requireSoundPlane(number);
  const ImageCheck::PlaneLayout& layout = check_.Plane(number);
  // Every way below fills a prefix of the line; the rest is cleared once,
  // behind it, so that a line read whole is never written twice.
  std::size_t filled = 0;
  if (layout.located) {  // lenient: a plane the file does not hold gives 0
    switch (layout.pack) {
      case 0: {
        // Bytes beyond the end the file had when it was opened were never
        // written: they read as zeros. Bytes it held then and holds no
        // longer were cut while it was open.
        const ULONGLONG at = layout.regionStart + ULONGLONG{line} * width_;
        const ULONGLONG held = at < size_ ? std::min<ULONGLONG>(width_, size_ - at) : 0;
        filled = static_cast<std::size_t>(read(at, out, held));
        if (filled < held && policy_ == strict) {
          std::memset(out + filled, 0, width_ - filled);
          char text[160];
          std::snprintf(text, sizeof text,
                        "plane %d: line %u: the file ended early (was it cut "
                        "short while open?)",
                        number, line);
          refuse(text, CFileException::endOfFile);
        }
        break;
      }
      case 1:
        filled = readPacked(state, number, line, out);
        break;
      case 2:
        filled = readWhole(state, number, line, out);
        break;
      default:
        break;  // lenient: an encoding no reader knows
    }
  }
  std::memset(out + filled, 0, width_ - filled);
  return filled;
}

ULONGLONG ImageReader::readLines(int number, unsigned int first,
                                 unsigned int count, unsigned char* out) {
  plane(number);
  if (first > height_ || count > height_ - first) {
    throwInvalidArgument("lines outside the plane");
  }
  requireSoundPlane(number);
  const ImageCheck::PlaneLayout& layout = check_.Plane(number);
  // A whole-plane stream is judged whole, even when no line of it is read
  // (a plane of no lines).
  if (layout.located && layout.pack == 2 && policy_ == strict) {
    requireSoundStream(plane(number), number);
  }
  const ULONGLONG bytes = ULONGLONG{count} * width_;
  if (layout.located && layout.pack == 0 && count > 1) {
    // Raw lines lie one after another: one read straight into `out`.
    // As readLine: what lies beyond the file's end at open reads as zeros.
    const ULONGLONG at = layout.regionStart + ULONGLONG{first} * width_;
    const ULONGLONG held = at < size_ ? std::min(bytes, size_ - at) : 0;
    const ULONGLONG got =
        descriptor_ >= 0
            ? btreeimg::detail::readFully(descriptor_, out, held, at)
            : read(at, out, held);
    if (got < bytes) {
      if (got == held) {
        std::memset(out + got, 0, static_cast<std::size_t>(bytes - got));
        return got;
      }
      if (policy_ == strict) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "plane %d: line %llu: the file ended early (was it cut "
                      "short while open?)",
                      number, static_cast<unsigned long long>(first + got / std::max(width_, 1u)));
        refuse(text, CFileException::endOfFile);
      }
      std::memset(out + got, 0, static_cast<std::size_t>(bytes - got));
    }
    return got;
  }
  ULONGLONG filled = 0;
  for (unsigned int y = 0; y < count; ++y) {
    filled += readLine(number, first + y, out + std::size_t{y} * width_);
  }
  return filled;
}

std::size_t ImageReader::readPacked(PlaneState& state, int number,
                                    unsigned int line, unsigned char* out) {
  const ImageCheck::PlaneLayout& layout = check_.Plane(number);
  const ULONGLONG entries = ULONGLONG{height_} + 1;
  if (!state.tableRead) {
    // A sound table lies inside the file (the inspection at open saw to
    // it); of a damaged one read leniently, only the entries the file
    // holds are kept, the others reading as nothing.
    const ULONGLONG held =
        layout.regionStart < size_ ? (size_ - layout.regionStart) / 4 : 0;
    const ULONGLONG kept = std::min(entries, held);
    state.table.assign(static_cast<std::size_t>(kept), 0);
    std::vector<unsigned char> bytes(static_cast<std::size_t>(4 * kept));
    const ULONGLONG got = read(layout.regionStart, bytes.data(), bytes.size());
    if ((got < bytes.size() || kept < entries) && policy_ == strict) {
      refuse("the file ended early (was it cut short while open?)",
             CFileException::endOfFile);
    }
    for (std::size_t i = 0; i < got / 4; ++i) {
      state.table[i] = loadU32(bytes.data() + 4 * i);
    }
    state.tableRead = true;
  }
  if (ULONGLONG{line} + 1 >= state.table.size()) return 0;
  const std::uint32_t begin = state.table[line];
  const std::uint32_t end = state.table[line + 1];
  // A line never written: its end entry is still 0 (a written line's code
  // ends above 0). It reads as zeros.
  if (end == 0) return 0;
  const ULONGLONG codeStart = layout.regionStart + 4 * entries;
  const ULONGLONG codeRoom = layout.regionRoom > 4 * entries
                                 ? layout.regionRoom - 4 * entries
                                 : 0;
  if (end < begin || end > codeRoom) {
    if (policy_ == strict) {
      refuseLine(number, btreeimg::detail::packedEntriesFault(line, begin, end, codeRoom));
    }
    if (end <= begin) return 0;
  }
  const ULONGLONG length = std::min<ULONGLONG>(end, codeRoom) -
                           std::min<ULONGLONG>(begin, codeRoom);
  ULONGLONG got = 0;
  const unsigned char* code = view(codeStart + begin, length, &got);
  if (got < length && policy_ == strict) {
    refuse("the file ended early (was it cut short while open?)",
           CFileException::endOfFile);
  }
  const std::size_t filled = expandRuns(code, code + got, out, width_);
  // A sound line decodes to exactly its length from whole pairs, none of
  // count 0; the inspection's words only for one that does not.
  if (policy_ == strict && !btreeimg::detail::soundLineCode(code, got, width_)) {
    const std::string fault =
        btreeimg::detail::packedCodeFault(line, code, got, width_);
    if (!fault.empty()) refuseLine(number, fault);
  }
  return filled;
}

void ImageReader::indexStream(PlaneState& state, int number) {
  // One walk over the stream's pairs, in pieces, noting where every
  // `step`-th stored row starts. Rows are stored bottom-up: stored row r is
  // line height - 1 - r.
  const ImageCheck::PlaneLayout& layout = check_.Plane(number);
  unsigned char head[8] = {};
  if (read(layout.regionStart, head, sizeof head) < sizeof head &&
      policy_ == strict) {
    refuse("the file ended early (was it cut short while open?)",
           CFileException::endOfFile);
  }
  const ULONGLONG packed = loadU32(head + 4);
  const ULONGLONG rows = width_ == 0 ? 0 : height_;
  state.step = std::max<ULONGLONG>(1, (rows + kMostMarks - 1) / kMostMarks);
  state.marks.assign(static_cast<std::size_t>((rows + state.step - 1) / state.step),
                     PlaneState::Mark{packed, 0});
  const ULONGLONG stride = ULONGLONG{width_} * state.step;
  ULONGLONG decoded = 0;  // bytes of the plane the pairs walked cover
  std::size_t next = 0;   // the next mark to note
  std::vector<unsigned char> piece(std::size_t{1} << 20);
  bool zeroCounts = false;
  for (ULONGLONG done = 0; done < packed;) {
    const ULONGLONG n = std::min<ULONGLONG>(piece.size(), packed - done);
    const ULONGLONG got = read(layout.regionStart + 8 + done, piece.data(), n);
    if (got < n && policy_ == strict) {
      refuse("the file ended early (was it cut short while open?)",
             CFileException::endOfFile);
    }
    for (ULONGLONG i = 0; i + 1 < got; i += 2) {
      const unsigned count = piece[i];
      zeroCounts |= count == 0;
      // Marks that fall inside this pair's run.
      while (next < state.marks.size() && next * stride < decoded + count) {
        state.marks[next] = {done + i, static_cast<unsigned>(next * stride - decoded)};
        ++next;
      }
      decoded += count;
    }
    if (got < n) break;
    done += n;
  }
  state.sound = decoded == ULONGLONG{width_} * height_ && !zeroCounts &&
                packed % 2 == 0;
  state.indexed = true;
}

void ImageReader::requireSoundStream(PlaneState& state, int number) {
  if (!state.indexed) indexStream(state, number);
  if (!state.sound && policy_ == strict) {
    // The inspection's own words for what is wrong with the stream.
    ImageCheck full;
    if (descriptor_ >= 0) {
      full.InspectDescriptor(descriptor_);
    } else {
      full.Inspect(data_, size_);
    }
    refuse(full.PlaneSound(number) ? CString("the file changed while it was read")
                                   : full.PlaneSummary(number),
           CFileException::invalidFile);
  }
}

std::size_t ImageReader::readWhole(PlaneState& state, int number,
                                   unsigned int line, unsigned char* out) {
  requireSoundStream(state, number);
  if (width_ == 0) return 0;
  const ImageCheck::PlaneLayout& layout = check_.Plane(number);
  const ULONGLONG row = ULONGLONG{height_} - 1 - line;
  const PlaneState::Mark mark = state.marks[static_cast<std::size_t>(row / state.step)];
  ULONGLONG skip = (row % state.step) * width_ + mark.into;  // bytes to pass
  std::size_t filled = 0;
  ULONGLONG at = mark.pair;
  const ULONGLONG packed = layout.regionSize > 8 ? layout.regionSize - 8 : 0;
  while (filled < width_ && at < packed) {
    // Every pair of a sound stream covers at least one byte: this many
    // bytes of pairs reach the line's end.
    const ULONGLONG need = 2 * (skip + (width_ - filled)) + 2;
    const ULONGLONG n = std::min({need, packed - at, ULONGLONG{1} << 20});
    ULONGLONG got = 0;
    const unsigned char* pairs = view(layout.regionStart + 8 + at, n, &got);
    // The stream lay inside the file at open (the inspection saw to it): a
    // short read is a file cut while open.
    if (got < n && policy_ == strict) {
      refuse("the file ended early (was it cut short while open?)",
             CFileException::endOfFile);
    }
    if (got < 2) break;
    const ULONGLONG whole = got & ~ULONGLONG{1};
    ULONGLONG i = 0;
    // The pairs before the line, then the part of the first pair in it.
    for (; i < whole && skip >= pairs[i]; i += 2) skip -= pairs[i];
    if (i < whole && skip > 0) {
      const std::size_t n2 = static_cast<std::size_t>(
          std::min<ULONGLONG>(pairs[i] - skip, width_ - filled));
      std::memset(out + filled, pairs[i + 1], n2);
      filled += n2;
      skip = 0;
      i += 2;
    }
    // The rest in one go; a pair that runs past the line is cut there.
    if (i < whole && filled < width_) {
      filled += expandRuns(pairs + i, pairs + whole, out + filled, width_ - filled);
    }
    at += whole;
  }
  return filled;
}

}  // namespace btreeimg
