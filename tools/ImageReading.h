// Reading an opened image's pixels and colour map for the tool's commands.
#ifndef BTREEIMG_TOOLS_IMAGEREADING_H_
#define BTREEIMG_TOOLS_IMAGEREADING_H_

#include <cstdint>
#include <string>
#include <vector>

#include "PngFile.h"
#include "ToolSupport.h"

class BtreeImg;
class ImageCheck;

namespace tool {

class Progress;

// The image's 256-entry colour map.
std::vector<Rgb> colourMap(BtreeImg& image);

// `map` (at most 256 entries; black past its end) as the 768 bytes of a
// colour map: red, green and blue of each entry.
std::vector<unsigned char> colourMapBytes(const std::vector<Rgb>& map);

// A colour as "#rrggbb".
std::string hexColour(const Rgb& colour);

// Plane `plane`'s pixels, read line by line through BtreeImg::at, rows top
// to bottom. This holds the whole plane: for small pictures only (the
// commands that go through every pixel read line by line instead). `progress` (may be null) is advanced by one per line from
// `doneBefore`.
IndexedImage readPlane(BtreeImg& image, int plane, Progress* progress,
                       std::uint64_t doneBefore);

// Whether the planes the inspection found can be held by a file of its
// size: packed code never shrinks a plane by more than 128 times, so a
// damaged header stating more pixels than that is not read (the tool would
// only allocate memory for bytes that do not exist).
bool plausibleSize(const ImageCheck& check, const std::string& path);

// requireUsableImage(), then fails with kBadInput when the stated planes
// are not plausible for the file's size.
void requireReadableImage(const std::string& path, ImageCheck& check, Damaged damaged);

}  // namespace tool

#endif  // BTREEIMG_TOOLS_IMAGEREADING_H_
