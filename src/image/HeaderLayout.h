// Layout of the 1312-byte header block that stands in front of every plane of
// an image file. Integers are little-endian. Internal: not installed.
//
// First block (plane 1, at file position 0):
//   0     u16   version: 2, 3 or 4
//   4     u16   pack: 0 raw, 1 packed, 2 whole-plane packed
//   10    u16 (v2, v3) / u32 (v4)   dimx, bytes per line
//   12    u16 (v2, v3)              dimy, number of lines
//   14    u32 (v4)                  dimy
//   20    768   colour map, 256 entries x 3 bytes
//   1000  i16   number of planes, 1 to 5
//   1002  v2: 5 x u32, block position of plane k+1 in entry k
//         v3, v4: u32, block position of plane 2 (0 for one plane)
// Further block, version 2: dimx u16 at 0, dimy u16 at 2, pack u16 at 4.
// Further block, versions 3 and 4: pack, dimx, dimy as in the first block
// and at 1002 the block position of the next plane (0 in the last).
// Every other byte is reserved and zero.
#ifndef BTREEIMG_IMAGE_HEADERLAYOUT_H_
#define BTREEIMG_IMAGE_HEADERLAYOUT_H_

#include <cstddef>

namespace btreeimg::detail::block {

constexpr std::size_t kSize = 1312;
constexpr std::size_t kVersionAt = 0;      // u16
constexpr std::size_t kPackAt = 4;         // u16
constexpr std::size_t kDimXAt = 10;        // u16 (v2, v3), u32 (v4)
constexpr std::size_t kDimYAt = 12;        // u16 (v2, v3)
constexpr std::size_t kDimY4At = 14;       // u32 (v4)
constexpr std::size_t kMapAt = 20;         // 256 x 3 bytes
constexpr std::size_t kMapSize = 768;
constexpr std::size_t kPlaneCountAt = 1000;  // i16
constexpr std::size_t kOffsetAt = 1002;      // u32 (v2: table of 5)
constexpr std::size_t kFurtherDimXAt = 0;    // u16, version-2 further block
constexpr std::size_t kFurtherDimYAt = 2;    // u16, version-2 further block

constexpr int kMaxPlanes = 5;

}  // namespace btreeimg::detail::block

#endif  // BTREEIMG_IMAGE_HEADERLAYOUT_H_
