// The images the tool's commands read: each opened once, inspected whole,
// and read line by line through btreeimg::ImageReader, which reads the file
// where a line lies (pread) and never holds a plane or the file.
#ifndef BTREEIMG_TOOLS_IMAGEREADING_H_
#define BTREEIMG_TOOLS_IMAGEREADING_H_

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Failure.h"
#include "Pixels.h"
#include "image/ImageCheck.h"
#include "image/ImageReader.h"

namespace tool {

// ImageCheck's whole inspection of the file `path`, read with pread
// (ImageCheck::InspectDescriptor: a file cut short meanwhile is reported as
// such, never a signal). Something other than a regular file ends the
// command; a file that cannot be opened gives the verdict unusable, its
// problem saying why. Returns the verdict.
int inspectImage(const std::string& path, ImageCheck& check);

// What a command does with a file that ImageCheck finds damaged.
enum class Damaged {
  kRefuse,           // refuses it: the command has no lenient mode
  kRefuseOrLenient,  // refuses it, saying that --lenient reads it anyway
  kRead,             // --lenient: warns, and reads what the library reads
  kDescribe,         // reads it without a word: the command reports it
};

// The mode of a command that offers --lenient.
inline Damaged lenientIf(bool lenient) {
  return lenient ? Damaged::kRead : Damaged::kRefuseOrLenient;
}

// The verdict of `check`, the inspection of `path`, applied before a
// command reads the file. An unusable file ends the command with kBadInput,
// and so does a damaged one unless `damaged` is kRead or kDescribe, each
// with the inspection's verdict in one sentence (ImageCheck::Summary), the
// words every front end uses. A damaged file read under kRead gives that
// sentence as a warning. A command that reads one plane only names it in
// `plane` (0: every plane): a damaged file whose plane `plane` is sound is
// then used as it is, and one whose plane is damaged is refused in the
// words of ImageCheck::PlaneSummary.
void requireUsableImage(const std::string& path, const ImageCheck& check, Damaged damaged,
                        int plane = 0);

// What the commands tell a user whose image is over the limit.
constexpr const char* kMaxPixelsHint = "--max-pixels N raises the limit (0: no limit)";

// An input image. The file is opened once; ImageCheck inspects it whole
// through that descriptor (the verdict every front end gives, which the
// tool gives before it writes anything), and an ImageReader reads it
// through the same open file, strictly unless the command reads a damaged
// file on purpose. Every plane has the reader's width() x height(), plane
// 1's dimensions, as the library reads them.
class InputImage {
 public:
  // Opens and inspects `path`. Ends the command with kBadInput, naming the
  // file, when it is no regular file, cannot be opened or is no usable
  // image, and when it is damaged unless `damaged` is kRead (a warning
  // then) or kDescribe. The refusals give ImageCheck::Summary's words. A
  // command that reads plane `plane` alone names it (0: every plane): a
  // damaged file whose plane `plane` is sound is read then, strictly.
  InputImage(const std::string& path, Damaged damaged, int plane = 0);
  InputImage(const InputImage&) = delete;
  InputImage& operator=(const InputImage&) = delete;
  ~InputImage();

  const std::string& path() const { return path_; }
  // The whole inspection: verdict, problems and the planes' layouts.
  const ImageCheck& check() const { return check_; }
  int planes() const { return check_.PlaneCount(); }
  std::uint32_t width() const { return reader_->width(); }
  std::uint32_t height() const { return reader_->height(); }
  int version() const { return check_.Version(); }
  // The 256-entry colour map.
  std::vector<Rgb> colourMap() const;
  // The reader, for code that handles its exceptions itself.
  btreeimg::ImageReader& reader() { return *reader_; }

  // Reads line `line` of `plane` into `out` (width() bytes). A line that
  // cannot be read (the file was cut short or changed since it was
  // inspected) ends the command with kBadInput, naming the file.
  void readLine(int plane, std::uint32_t line, std::uint8_t* out);
  // Reads `count` lines from `first` on into `out` (count x width() bytes,
  // line after line; a raw plane's in one read), failing as readLine does.
  void readLines(int plane, std::uint32_t first, std::uint32_t count, std::uint8_t* out);

  // Ends the command with kBadInput, naming the file and the limit, when
  // reading one whole plane costs more than `limit` pixels
  // (ImageReader::planeCost; 0: no limit), and, for a damaged file read
  // leniently, when the plane states more pixels than the file can hold
  // (ImageReader::capacityProblem), whatever the limit.
  void requireWithinLimit(std::uint64_t limit) const;
  // The same for a cost the caller worked out, in its own words.
  void requireWithinLimit(std::uint64_t cost, std::uint64_t limit,
                          const std::string& what) const;

 private:
  std::string path_;
  ImageCheck check_;
  std::unique_ptr<btreeimg::ImageReader> reader_;
  bool readLeniently_ = false;  // a damaged file, read as the library reads it
};

// `map` (at most 256 entries; black past its end) as the 768 bytes of a
// colour map: red, green and blue of each entry.
std::vector<unsigned char> colourMapBytes(const std::vector<Rgb>& map);

// A colour as "#rrggbb".
std::string hexColour(const Rgb& colour);

}  // namespace tool

#endif  // BTREEIMG_TOOLS_IMAGEREADING_H_
