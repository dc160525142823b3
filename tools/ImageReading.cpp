#include "ImageReading.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "InputFiles.h"
#include "framework/Exceptions.h"

namespace tool {

int inspectImage(const std::string& path, ImageCheck& check) {
  const int fd = openInput(path);
  if (fd < 0) return check.InspectFile(path.c_str());  // which says why
  const int verdict = check.InspectDescriptor(fd);
  ::close(fd);
  return verdict;
}

void requireUsableImage(const std::string& path, const ImageCheck& check, Damaged damaged,
                        int plane) {
  const int verdict = check.GetVerdict();
  if (verdict == ImageCheck::sound) return;
  if (plane != 0 && check.PlaneSound(plane)) return;
  const std::string summary =
      static_cast<const char*>(plane != 0 ? check.PlaneSummary(plane) : check.Summary());
  if (verdict == ImageCheck::unusable) fail(kBadInput, path + ": " + summary);
  if (damaged == Damaged::kDescribe) return;
  if (damaged == Damaged::kRead) {
    warn(path + ": warning: " + summary + "; going on with what the library reads");
    return;
  }
  throw Failure{kBadInput, path + ": " + summary,
                damaged == Damaged::kRefuseOrLenient
                    ? "'btreeimg check' lists every problem; --lenient reads what the library can"
                    : "'btreeimg check' lists every problem"};
}


InputImage::InputImage(const std::string& path, Damaged damaged, int plane) : path_(path) {
  const int fd = openInput(path);
  if (fd < 0) {
    check_.InspectFile(path.c_str());  // which says why it cannot be opened
    fail(kBadInput, path + ": " + static_cast<const char*>(check_.Summary()));
  }
  check_.InspectDescriptor(fd);
  try {
    requireUsableImage(path, check_, damaged, plane);
    // A file found sound, or a sound plane of a damaged one, is read
    // strictly all the same: should it change meanwhile, what no longer
    // holds is refused, not read.
    const bool lenient = check_.GetVerdict() != ImageCheck::sound &&
                         !(plane != 0 && check_.PlaneSound(plane));
    readLeniently_ = lenient;
    reader_ = std::make_unique<btreeimg::ImageReader>(
        fd, lenient ? btreeimg::ImageReader::lenient : btreeimg::ImageReader::strict);
  } catch (CException* e) {
    ::close(fd);
    fail(kBadInput, path + ": " + takeCause(e));
  } catch (...) {
    ::close(fd);
    throw;
  }
  ::close(fd);  // the reader reads through a descriptor of its own
}

InputImage::~InputImage() = default;

std::vector<Rgb> InputImage::colourMap() const {
  unsigned char bytes[768];
  reader_->colourMap(bytes);
  std::vector<Rgb> map(256);
  for (std::size_t i = 0; i < 256; ++i) std::copy_n(bytes + 3 * i, 3, map[i].begin());
  return map;
}

void InputImage::readLine(int plane, std::uint32_t line, std::uint8_t* out) {
  try {
    reader_->readLine(plane, line, out);
  } catch (CException* e) {
    fail(kBadInput, path_ + ": " + takeCause(e));
  }
}

void InputImage::readLines(int plane, std::uint32_t first, std::uint32_t count,
                           std::uint8_t* out) {
  try {
    reader_->readLines(plane, first, count, out);
  } catch (CException* e) {
    fail(kBadInput, path_ + ": " + takeCause(e));
  }
}

void InputImage::requireWithinLimit(std::uint64_t limit) const {
  // A damaged plane read leniently whole is bounded by what the file holds:
  // what it lacks would read as zeros, as many as the header states.
  if (readLeniently_) {
    const CString held = reader_->capacityProblem();
    if (!held.IsEmpty()) {
      throw Failure{kBadInput, path_ + ": " + static_cast<const char*>(held) +
                                   "; it is damaged: 'btreeimg check' lists its problems"};
    }
  }
  if (limit == 0) return;
  const CString problem = reader_->limitProblem(limit);
  if (!problem.IsEmpty()) {
    throw Failure{kBadInput, path_ + ": " + static_cast<const char*>(problem), kMaxPixelsHint};
  }
}

void InputImage::requireWithinLimit(std::uint64_t cost, std::uint64_t limit,
                                    const std::string& what) const {
  if (limit != 0 && cost > limit) {
    throw Failure{kBadInput,
                  path_ + ": " + what + ", more than the limit of " + std::to_string(limit),
                  kMaxPixelsHint};
  }
}

std::vector<unsigned char> colourMapBytes(const std::vector<Rgb>& map) {
  std::vector<unsigned char> bytes(768, 0);
  for (std::size_t i = 0; i < map.size() && i < 256; ++i) {
    std::copy(map[i].begin(), map[i].end(), bytes.begin() + static_cast<std::ptrdiff_t>(3 * i));
  }
  return bytes;
}

std::string hexColour(const Rgb& colour) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", colour[0], colour[1], colour[2]);
  return text;
}

}  // namespace tool
